// The native build's kernel objects for the Rumble parameter block: one mapping and one mutex
// kept in memory, with the ownership rules of the real named objects (a waiting thread owns the
// mutex until it releases it; a mutex whose owner died is handed over as abandoned; a named object
// lives while a handle to it is open). Tests steer it through these calls.
#pragma once
#include <cstdint>

enum class MemoryRumbleStep { CreateMapping, MapView, CreateMutex };

// Forgets every object and handle; no thread may be using the port.
void MemoryRumbleReset();
// Makes the next call of that step fail.
void MemoryRumbleFailNext(MemoryRumbleStep step);
// Creates the named mutex as another process would, keeping one handle open for it.
void MemoryRumbleOtherProcessCreatesMutex();
// Another process that held the mutex ends: the next wait reports the mutex as abandoned.
void MemoryRumbleOwnerDies();
// Another process made the mapping first, at `size` bytes: views of it have only that many.
void MemoryRumbleOtherProcessCreatesMapping(uint32_t size);
// Another process takes the mutex and keeps it (a client stopped in a debugger) until it lets go:
// waits in the meantime time out.
void MemoryRumbleOtherProcessHolds();
void MemoryRumbleOtherProcessLetsGo();
uint32_t MemoryRumbleOpenHandles();
// Releases or closes of a handle by a thread other than the one that opened it.
uint32_t MemoryRumbleCrossThreadUses();
// Waits that had to queue behind another thread of this process.
uint32_t MemoryRumbleQueuedWaits();
int MemoryRumbleViewMapped();
// The mapping's bytes, whether or not a view is mapped.
uint8_t* MemoryRumbleBytes();

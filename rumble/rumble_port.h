// The kernel objects behind the Rumble parameter block: the named mapping and the named mutex.
// The Windows layer uses the real objects; the native build keeps both in memory.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/tool_state.h"

enum class RumbleWaitResult { Signalled, Abandoned, TimedOut, Failed };

// Creates (or takes over) the named paging-file mapping of `size` bytes; null on failure.
KernelHandle RumblePortCreateMapping(uint32_t size);
// Maps the whole mapping with all access; null on failure. `usable` receives how many bytes from
// the view's start can be read and written: a mapping that another process made first keeps its
// own size, which may be smaller than the block.
uint8_t* RumblePortMapView(KernelHandle mapping, size_t* usable);
void RumblePortUnmapView(uint8_t* view);
// Creates the named mutex owned by the caller; `existed` tells whether the name was taken before.
KernelHandle RumblePortCreateMutex(int* existed);
// Opens the named mutex for waiting; null when it does not exist.
KernelHandle RumblePortOpenMutex();
// Waits at most `timeoutMs` for the mutex.
RumbleWaitResult RumblePortWait(KernelHandle mutex, uint32_t timeoutMs);
void RumblePortRelease(KernelHandle mutex);
void RumblePortClose(KernelHandle handle);

// The Rumble port over process memory, for the native tests; the Windows build uses the real
// named objects (rumble_win.cpp).
#include "rumble/rumble_port_native.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "rumble/rumble_block.h"
#include "rumble/rumble_port.h"

namespace {

enum class Kind { None, Mapping, Mutex };

struct Handle {
    Kind kind = Kind::None;
    std::thread::id opener;
};

constexpr int kHandles = 64;

// Fixed storage: a lock and a sweep allocate nothing.
struct Objects {
    std::mutex lock;
    std::condition_variable freed;
    Handle handles[kHandles];
    uint8_t bytes[kRumbleBlockSize] = {};
    int viewMapped = 0;
    int owned = 0;
    std::thread::id owner;
    uint32_t recursion = 0;
    int abandoned = 0;
    int otherProcessHolds = 0;
    uint32_t mappingSize = kRumbleBlockSize;
    int otherProcessHandle = 0;
    int failMapping = 0, failView = 0, failMutex = 0;
    uint32_t crossThread = 0;
    uint32_t queued = 0;
};

Objects& Memory() {
    static Objects objects;
    return objects;
}

int CountOf(const Objects& m, Kind kind) {
    int n = 0;
    for (const Handle& h : m.handles)
        n += h.kind == kind;
    return n;
}

Handle* NewHandle(Objects& m, Kind kind) {
    for (Handle& h : m.handles) {
        if (h.kind == Kind::None) {
            h.kind = kind;
            h.opener = std::this_thread::get_id();
            return &h;
        }
    }
    return nullptr;
}

Handle* Find(Objects& m, KernelHandle handle) {
    for (Handle& h : m.handles) {
        if (&h == handle && h.kind != Kind::None)
            return &h;
    }
    return nullptr;
}

int MutexExists(const Objects& m) {
    return m.otherProcessHandle || CountOf(m, Kind::Mutex) != 0;
}

} // namespace

void MemoryRumbleReset() {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    for (Handle& h : m.handles)
        h = Handle();
    std::memset(m.bytes, 0, sizeof m.bytes);
    m.viewMapped = m.owned = m.abandoned = m.otherProcessHolds = m.otherProcessHandle = 0;
    m.mappingSize = kRumbleBlockSize;
    m.owner = std::thread::id();
    m.recursion = 0;
    m.failMapping = m.failView = m.failMutex = 0;
    m.crossThread = m.queued = 0;
}

void MemoryRumbleFailNext(MemoryRumbleStep step) {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    if (step == MemoryRumbleStep::CreateMapping)
        m.failMapping = 1;
    else if (step == MemoryRumbleStep::MapView)
        m.failView = 1;
    else
        m.failMutex = 1;
}

void MemoryRumbleOtherProcessCreatesMutex() {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    m.otherProcessHandle = 1;
}

void MemoryRumbleOwnerDies() {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    m.abandoned = 1;
}

void MemoryRumbleOtherProcessCreatesMapping(uint32_t size) {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    m.mappingSize = size < kRumbleBlockSize ? size : kRumbleBlockSize;
}

void MemoryRumbleOtherProcessHolds() {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    m.otherProcessHolds = 1;
}

void MemoryRumbleOtherProcessLetsGo() {
    Objects& m = Memory();
    {
        std::lock_guard<std::mutex> hold(m.lock);
        m.otherProcessHolds = 0;
    }
    m.freed.notify_all();
}

uint32_t MemoryRumbleOpenHandles() {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    return static_cast<uint32_t>(CountOf(m, Kind::Mapping) + CountOf(m, Kind::Mutex));
}

uint32_t MemoryRumbleCrossThreadUses() {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    return m.crossThread;
}

uint32_t MemoryRumbleQueuedWaits() {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    return m.queued;
}

int MemoryRumbleViewMapped() {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    return m.viewMapped;
}

uint8_t* MemoryRumbleBytes() {
    return Memory().bytes;
}

KernelHandle RumblePortCreateMapping(uint32_t size) {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    if (m.failMapping || size != kRumbleBlockSize) {
        m.failMapping = 0;
        return nullptr;
    }
    return NewHandle(m, Kind::Mapping);
}

uint8_t* RumblePortMapView(KernelHandle mapping, size_t* usable) {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    *usable = 0;
    Handle* h = Find(m, mapping);
    if (m.failView || h == nullptr || h->kind != Kind::Mapping) {
        m.failView = 0;
        return nullptr;
    }
    m.viewMapped = 1;
    *usable = m.mappingSize;
    return m.bytes;
}

void RumblePortUnmapView(uint8_t* view) {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    if (view == m.bytes)
        m.viewMapped = 0;
}

KernelHandle RumblePortCreateMutex(int* existed) {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    if (m.failMutex) {
        m.failMutex = 0;
        return nullptr;
    }
    *existed = MutexExists(m);
    Handle* h = NewHandle(m, Kind::Mutex);
    if (h != nullptr && !*existed && !m.owned) {
        m.owned = 1;
        m.owner = std::this_thread::get_id();
        m.recursion = 1;
    }
    return h;
}

KernelHandle RumblePortOpenMutex() {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    return MutexExists(m) ? NewHandle(m, Kind::Mutex) : nullptr;
}

RumbleWaitResult RumblePortWait(KernelHandle mutex, uint32_t timeoutMs) {
    Objects& m = Memory();
    std::unique_lock<std::mutex> hold(m.lock);
    Handle* h = Find(m, mutex);
    if (h == nullptr || h->kind != Kind::Mutex)
        return RumbleWaitResult::Failed;
    const std::thread::id me = std::this_thread::get_id();
    if (m.owned && m.owner != me)
        ++m.queued;
    if (!m.freed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                          [&] { return !m.otherProcessHolds && (!m.owned || m.owner == me); }))
        return RumbleWaitResult::TimedOut;
    if (m.owned) {
        ++m.recursion;
    } else {
        m.owned = 1;
        m.owner = me;
        m.recursion = 1;
    }
    if (m.abandoned) {
        m.abandoned = 0;
        return RumbleWaitResult::Abandoned;
    }
    return RumbleWaitResult::Signalled;
}

void RumblePortRelease(KernelHandle mutex) {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    Handle* h = Find(m, mutex);
    if (h == nullptr || h->kind != Kind::Mutex)
        return;
    const std::thread::id me = std::this_thread::get_id();
    if (h->opener != me)
        ++m.crossThread;
    // Like ReleaseMutex: only the owning thread can release.
    if (!m.owned || m.owner != me)
        return;
    if (--m.recursion == 0) {
        m.owned = 0;
        m.owner = std::thread::id();
        m.freed.notify_all();
    }
}

void RumblePortClose(KernelHandle handle) {
    Objects& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    Handle* h = Find(m, handle);
    if (h == nullptr)
        return;
    if (h->opener != std::this_thread::get_id())
        ++m.crossThread;
    *h = Handle();
}

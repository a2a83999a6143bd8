// A manual-reset event that portable thread code can wait on, so the same code runs under TSan.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

struct ManualResetEvent {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
};

inline void EventSet(ManualResetEvent* e) {
    {
        std::lock_guard<std::mutex> hold(e->mutex);
        e->signalled = true;
    }
    e->changed.notify_all();
}

inline void EventReset(ManualResetEvent* e) {
    std::lock_guard<std::mutex> hold(e->mutex);
    e->signalled = false;
}

// Returns 1 when the event was set within the time, else 0.
inline int EventWait(ManualResetEvent* e, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(e->mutex);
    return e->changed.wait_for(hold, timeout, [e] { return e->signalled; }) ? 1 : 0;
}

inline void EventWaitForever(ManualResetEvent* e) {
    std::unique_lock<std::mutex> hold(e->mutex);
    e->changed.wait(hold, [e] { return e->signalled; });
}

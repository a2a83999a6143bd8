// Finding the controller driver's HID devices and placing them in the Device slots.
#pragma once
#include <chrono>
#include <cstdint>

#include "core/tool_state.h"

// Walks the present HID interfaces and fills each empty transport slot with the first device
// whose answer carries that transport's tag. 1 when this call placed at least one device.
// A device already open in a slot is left alone (it may be in the middle of a debug query).
int DiscoverDevices(ToolState* state);
// Closes every open slot and sets both counts to 0. Always 1.
int CloseDevices(ToolState* state);
// CloseDevices for the window thread: a slot whose lock a device call still holds at `deadline`
// is closed by the Monitor thread once the call returns (RunDeferredNotices). 1 when every slot
// was closed here.
int CloseDevicesBy(ToolState* state, std::chrono::steady_clock::time_point deadline);

// The platform's notice for the removal watch `watch` (the notification handle a slot registered).
// A query-remove closes the handle and keeps the watch; the removal's outcome releases it, and a
// vetoed removal asks for the device to be opened again. Waits at most `waitMs` for the slot's
// lock; past that the notice is left to the Monitor thread. Returns a NoticeOutcome.
enum NoticeOutcome : int {
    kNoticeUnknown = 0, // no slot knows the watch
    kNoticeTaken = 1,
    kNoticeReopen = 2, // a vetoed removal: the device is to be looked for again
};
int TakeRemovalNotice(ToolState* state, RemovalNotice kind, void* watch, uint32_t waitMs);
// The Monitor thread's share: runs, in order, the notices and closes that could not wait for a
// device call. kNoticeReopen when one of them asks for a rediscovery.
int RunDeferredNotices(ToolState* state);
// Releases the watches kept for query-removes still waiting for their outcome (shut-down).
void ReleasePendingWatches(ToolState* state);

// Stops the slot's removal notice and closes its handle; the caller holds the slot's lock.
void ReleaseSlotHandle(DeviceSlot* slot);
// Takes the slot's lock if it comes free by `deadline`, trying once a millisecond, so that the
// window thread can give up on a lock a stuck device call holds (std::timed_mutex would do the
// same, but its timed lock is invisible to ThreadSanitizer). 1 when the lock is now held.
int LockSlotBy(DeviceSlot* slot, std::chrono::steady_clock::time_point deadline);

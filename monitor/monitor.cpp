#include "monitor/monitor.h"

#include <chrono>

#include "core/bytes.h"
#include "driver/discovery.h"
#include "driver/control_report.h"
#include "driver/driver_link.h"
#include "monitor/battery_log.h"
#include "monitor/tray_icon.h"
#include "monitor/tray_tip.h"

namespace {

uint32_t DriverStatusOf(const DeviceSlot& slot) {
    return ReadU32LE(slot.driverInfo + kDriverInfoAtDriverStatus);
}

void SendFrame(ToolState* state) {
    state->animationTicks = 0;
    if (!state->enableTrayIcon)
        return;
    // Most frames at rest show the picture already up; sending it again makes the shell redraw
    // for nothing, once a second, for as long as the tool runs.
    const int32_t picture = TrayIconIndex(state->iconValue.load());
    if (picture == state->trayPictureShown.load())
        return;
    ModifyTrayIcon(state);
    state->trayPictureShown = picture;
}

} // namespace

int SetIconMode(ToolState* state, int mode) {
    if (!state->enableTrayIcon)
        return 0;
    if (state->enableAnimationIcon) {
        if (mode == state->iconMode)
            return 0;
        switch (mode) {
        case kIconModeCycle:
            state->iconMode = kIconModeCycle;
            state->iconValue = kIconBase;
            break;
        case kIconModePsWait:
            if (state->enableNotifyPSButton) {
                state->iconMode = kIconModePsWait;
                state->iconValue = kIconPsFirst;
            } else {
                state->iconMode = kIconModeCycle;
                state->iconValue = kIconBase;
            }
            break;
        case kIconModeLowBattery:
            if (state->enableNotifyLowBattery) {
                state->iconMode = kIconModeLowBattery;
                state->iconValue = kIconLowBattery;
            } else {
                state->iconMode = kIconModeCycle;
                state->iconValue = kIconBase;
            }
            break;
        default: return 0;
        }
        SendFrame(state);
        return 1;
    }
    // Static icon: the picture added at start stays; only the code is kept in step.
    if (mode == state->iconMode)
        return 0;
    if (state->enableNotifyPSButton && state->iconMode == kIconModePsWait) {
        state->iconValue = kIconPsFirst;
        return 1;
    }
    if (state->enableNotifyLowBattery && state->iconMode == kIconModeLowBattery) {
        state->iconValue = kIconLowBattery;
        return 1;
    }
    if (state->iconValue.load() != kIconBase) {
        state->iconValue = kIconBase;
        return 1;
    }
    return 0;
}

void AnimationStep(ToolState* state) {
    if (!state->enableTrayIcon || !state->enableAnimationIcon)
        return;
    if (state->animationTicks < state->iconAnimationSpeed) {
        ++state->animationTicks;
        return;
    }
    switch (state->iconMode) {
    case kIconModeCycle: {
        const uint32_t present = state->statusBits & 0xFFFFFF;
        uint32_t c = (state->iconValue.load() & 0x7FFFFF) << 1;
        if ((c & present) == 0) {
            for (;;) {
                c <<= 1;
                if (c & 0x1000000) {
                    c = kIconBase;
                    break;
                }
                if (c & present)
                    break;
            }
        }
        state->iconValue = c;
        break;
    }
    case kIconModePsWait:
        state->iconValue = state->iconValue.load() == kIconPsFirst ? kIconPsSecond : kIconPsFirst;
        break;
    case kIconModeLowBattery: state->iconValue = kIconLowBattery; break;
    default: break;
    }
    SendFrame(state);
}

namespace {

// A removal notice or a close that came while a read held the slot: the device goes now, before
// the other slot's read, not a pass later.
void RunNoticesAfterRead(ToolState* state) {
    if (RunDeferredNotices(state) == kNoticeReopen)
        state->deviceWork |= kDeviceWorkDiscover;
}

} // namespace

void PollPass(ToolState* state) {
    const int usbAnswered = ReadDriverInfo(&state->usbDevices[0]);
    RunNoticesAfterRead(state);
    const int bthAnswered = ReadDriverInfo(&state->bthDevices[0]);
    RunNoticesAfterRead(state);
    DecidePass(state, usbAnswered, bthAnswered);
}

namespace {

// Keeps what the state tooltip tells beyond the flags: who waits, and the battery Bluetooth had
// when it went.
void WatchForTip(ToolState* state, int usbWaiting, int bthWaiting, int bthRead, uint8_t battery) {
    TrayTipWatch& w = state->trayTipWatch;
    w.usbWaiting = usbWaiting;
    w.bthWaiting = bthWaiting;
    if (bthRead) {
        w.battery = battery;
        w.bthSeen = 1;
        w.bthGone = 0;
    } else if (!state->bthConnected && w.bthSeen) {
        uint32_t hour = 0, minute = 0, second = 0;
        GetLocalClock(&hour, &minute, &second);
        w.lastSeenMinute = (hour % 24) * 60 + minute % 60;
        w.bthSeen = 0;
        w.bthGone = 1;
    }
}

void DecideLinks(ToolState* state, int usbAnswered, int bthAnswered) {
    if (!usbAnswered && !bthAnswered) {
        state->usbConnected = 0;
        state->bthConnected = 0;
        state->rumbleActive = 0;
        state->statusBits = kIconBase;
        SetIconMode(state, kIconModeCycle);
        WatchForTip(state, 0, 0, 0, 0);
        return;
    }
    int usbWaiting = 0, bthWaiting = 0, lowBattery = 0, bthRead = 0;
    uint8_t battery = 0;
    const int usbUp = state->usbDeviceCount.load() != 0;
    const int bthUp = state->bthDeviceCount.load() != 0;
    if (usbUp) {
        state->usbConnected = 1;
        state->statusBits |= kIconUsb;
        std::lock_guard<std::mutex> hold(state->usbDevices[0].recordLock);
        usbWaiting = DriverStatusOf(state->usbDevices[0]) == 0;
    } else {
        state->usbConnected = 0;
        state->statusBits &= ~kIconUsb;
    }
    if (bthUp) {
        state->bthConnected = 1;
        state->statusBits |= kIconBluetooth;
        uint32_t status;
        {
            std::lock_guard<std::mutex> hold(state->bthDevices[0].recordLock);
            status = DriverStatusOf(state->bthDevices[0]);
            battery = state->bthDevices[0].driverInfo[kDriverInfoAtBatteryStatus];
        }
        if (status == 4) {
            bthWaiting = 1;
        } else {
            bthRead = 1;
            lowBattery = battery <= 2;
            if (state->debugMode && state->batteryLogEnabled)
                WriteBatteryLogLine(state);
        }
    } else {
        state->bthConnected = 0;
        state->statusBits &= ~kIconBluetooth;
    }
    int waiting = 0;
    if (usbUp && bthUp)
        waiting = usbWaiting && bthWaiting;
    else if (usbUp)
        waiting = usbWaiting;
    else if (bthUp)
        waiting = bthWaiting;
    if (SweepRumbleSlots(state) && state->rumbleSlotMask != 0) {
        state->rumbleActive = 1;
        state->statusBits |= kIconRumble;
    } else {
        state->rumbleActive = 0;
        state->statusBits &= ~kIconRumble;
    }
    if (lowBattery && state->enableNotifyLowBattery)
        SetIconMode(state, kIconModeLowBattery);
    else
        SetIconMode(state, waiting ? kIconModePsWait : kIconModeCycle);
    WatchForTip(state, usbWaiting, bthWaiting, bthRead, battery);
}

} // namespace

void DecidePass(ToolState* state, int usbAnswered, int bthAnswered) {
    const int before[2] = {state->usbConnected.load(), state->bthConnected.load()};
    DecideLinks(state, usbAnswered, bthAnswered);
    const int after[2] = {state->usbConnected.load(), state->bthConnected.load()};
    for (int transport = 0; transport < 2; ++transport)
        if (before[transport] != after[transport])
            TellConnectionChange(state, transport, after[transport]);
    RefreshTrayTip(state);
}

void PauseCheck(ToolState* state) {
    if (!state->pauseRequested)
        return;
    // A second resume notice (Windows sends an automatic one and, with user input, another)
    // leaves the event set; cleared first, the wait below really sleeps instead of spinning.
    EventReset(&state->resumeEvent);
    state->monitorPaused = 1;
    // The flag, not the event, decides: a resume notice that left the event set cannot let a later
    // suspend pass by, and a close releases the thread.
    while (state->pauseRequested && state->running) {
        EventWait(&state->resumeEvent, std::chrono::milliseconds(100));
        // Woken while the pause still stands: a stale set, not the resume; sleep again.
        if (state->pauseRequested && state->running)
            EventReset(&state->resumeEvent);
    }
    EventReset(&state->resumeEvent);
    state->monitorPaused = 0;
}

int MonitorIdle(const ToolState* state) {
    return state->usbDeviceCount.load() == 0 && state->bthDeviceCount.load() == 0 &&
                   state->rumbleSlotMask == 0
               ? 1
               : 0;
}

uint32_t PassWaitMs(int idle, uint32_t interval) {
    // Every wake-up costs processor time for as long as the tool runs, which matters most when
    // there is nothing to watch; what can change that comes with a wake.
    return idle && interval < kIdlePassMs ? kIdlePassMs : interval;
}

void WakeMonitor(ToolState* state) {
    EventSet(&state->wakeEvent);
}

void RequestDeviceWork(ToolState* state, uint32_t work) {
    state->deviceWork |= work;
    WakeMonitor(state);
}

void RunDeviceWork(ToolState* state) {
    RunNoticesAfterRead(state);
    const uint32_t work = state->deviceWork.exchange(0);
    if (work & kDeviceWorkRediscover)
        CloseDevices(state);
    if (work != 0)
        DiscoverDevices(state);
}

void MonitorThreadMain(ToolState* state) {
    state->monitorExited = 0;
    DiscoverDevices(state);
    SetIconMode(state, kIconModeCycle);
    auto retryAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPassedOverRetryMs);
    while (state->running) {
        // A wake that comes during the pass is not lost: the wait below then returns at once.
        EventReset(&state->wakeEvent);
        const auto now = std::chrono::steady_clock::now();
        if (state->discoveryPassedOver.load() && now >= retryAt &&
            (state->usbDeviceCount.load() == 0 || state->bthDeviceCount.load() == 0)) {
            state->deviceWork |= kDeviceWorkDiscover;
            retryAt = now + std::chrono::milliseconds(kPassedOverRetryMs);
        }
        RunDeviceWork(state);
        PollPass(state);
        ++state->monitorPasses;
        PauseCheck(state);
        AnimationStep(state);
        if (!state->running)
            break;
        // Woken early for work the window thread left, which should not wait a pass.
        EventWait(&state->wakeEvent,
                  std::chrono::milliseconds(PassWaitMs(MonitorIdle(state), state->threadInterval)));
    }
    state->monitorExited = 1;
}

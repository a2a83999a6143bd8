// The hidden main window: its procedure carries out what app/dispatch.cpp decides for each
// command, and answers the system's notices (devices, power, session end, taskbar restart).
#include "app/dispatch.h"
#include "app/settings.h"
#include "app/app_win.h"
#include "dialogs/dialogs_win.h"
#include "monitor/tray_win.h"
#include "core/ui_port.h"

#include "driver/discovery.h"
#include "driver/driver_reset.h"
#include "driver/driver_win.h"
#include "monitor/monitor.h"
#include "profiles/profile_record.h"
#include "resources/resource.h"
#include "rumble/rumble_block.h"
#include "rumble/rumble_win.h"

#include <dbt.h>

#include <chrono>
#include <cstddef>

namespace {

ToolState* StateOf(HWND window) {
    return reinterpret_cast<ToolState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Sleeps 1 ms at a time until the Monitor thread sets `flag` to `want`. Returns early when there
// is no Monitor thread or it has ended, and after `limitMs` when one is given (0 = no limit).
void WaitForMonitor(ToolState* state, SharedI32* flag, int32_t want, DWORD limitMs) {
    const ULONGLONG start = GetTickCount64();
    while (flag->load() != want) {
        HANDLE thread = static_cast<HANDLE>(state->monitorThread);
        if (thread == nullptr || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0)
            return;
        if (limitMs != 0 && GetTickCount64() - start >= limitMs)
            return;
        Sleep(1);
    }
}

LRESULT MsgCreate(HWND window, LPARAM lParam) {
    auto* state = static_cast<ToolState*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    state->mainWindow = window;
    // Explorer runs without elevation; UIPI would keep its restart notice from an elevated tool
    // (Driver Reset needs one), and the icon would not come back.
    if (state->taskbarCreatedMessage != 0)
        ChangeWindowMessageFilterEx(window, state->taskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
    // The same for an installer, which runs without elevation, asking an elevated copy to exit.
    if (state->exitMessage != 0)
        ChangeWindowMessageFilterEx(window, state->exitMessage, MSGFLT_ALLOW, nullptr);
    // The pictures for the monitor this window is on, which may differ from the system's.
    LoadTrayIcons(state);
    if (state->enableTrayIcon && !AddTrayIcon(state)) {
        // A log-on start can come before the taskbar exists: keep trying for a while.
        state->trayAddRetries = 0;
        SetTimer(window, kTrayRetryTimer, 1000, nullptr);
    } else if (state->enableTrayIcon) {
        // Wine's stand-alone tray may only have come with this icon; its pictures differ.
        LoadTrayIcons(state);
    }
    return 0;
}

// Bounds the stop handshake: a Monitor thread caught in a device call that never returns (a stuck
// driver) must not keep the tool, or a log-off, waiting. A sound thread stops within one pass and
// one interval (at most 1000 ms). Shut-down then leaves the devices to the process's end.
constexpr DWORD kMonitorStopMs = 1500;

void StopMonitor(ToolState* state) {
    state->running = 0;
    // A parked Monitor thread would never see the cleared flag, an idle one not for a second.
    EventSet(&state->resumeEvent);
    WakeMonitor(state);
    WaitForMonitor(state, &state->monitorExited, 1, kMonitorStopMs);
    // A worker caught in a device call is left to the process's end, as the Monitor thread is.
    StopDeviceWorkers(state, GetTickCount64() + 300);
    KillTimer(static_cast<HWND>(state->mainWindow), kDeviceBusyTimer);
}

LRESULT MsgClose(ToolState* state, HWND window) {
    StopApplicationProfiles(state);
    StopMonitor(state);
    if (state->enableTrayIcon)
        DeleteTrayIcon(state);
    DestroyWindow(window);
    return 0;
}

// Log-off, restart and update reboots end the process soon after this message, without any
// Exit: the settings are saved as Exit saves them, then the tool stops as on Exit.
LRESULT MsgEndSession(ToolState* state, HWND window, WPARAM ending) {
    if (!ending || state->sessionEnded)
        return 0;
    state->sessionEnded = 1;
    SaveToolSettings(state);
    StopMonitor(state);
    // The icon and the window go once the system has its answer: removing the icon waits on the
    // taskbar, which is slow while a session ends, and an ending session takes the icon anyway.
    PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
}

// Closing and discovering wait for the devices, and a stuck one would keep every message here
// waiting: the Monitor thread does it before its next pass.
void CloseAndRediscover(ToolState* state) {
    RequestDeviceWork(state, kDeviceWorkRediscover);
}

LRESULT MsgTimer(ToolState* state, HWND window, WPARAM id) {
    if (id == kTrayReloadTimer) {
        KillTimer(window, kTrayReloadTimer);
        LoadTrayIcons(state); // sets the timer again while still refused
        return 0;
    }
    if (id == kDeviceChangeTimer) {
        KillTimer(window, kDeviceChangeTimer);
        // While parked for a sleep the devices stay closed; the resume looks for them.
        if (!state->pauseRequested)
            CloseAndRediscover(state);
        return 0;
    }
    if (id == kDeviceBusyTimer) {
        if (!ExpireDeviceCommands(state, CommandClock::now()))
            KillTimer(window, kDeviceBusyTimer);
        return 0;
    }
    if (id == kAppSwitchTimer) {
        ApplicationSwitchTimer(state);
        return 0;
    }
    if (id == kAppForegroundTimer) {
        ApplicationForegroundTimer(state);
        return 0;
    }
    if (id != kTrayRetryTimer)
        return 0;
    ++state->trayAddRetries;
    const int added = ReAddTrayIcon(state);
    if (added)
        LoadTrayIcons(state);
    if (added || state->trayAddRetries >= 120)
        KillTimer(window, kTrayRetryTimer);
    return 0;
}

// A driver reset closes the slot either way; only a failure is reported and rediscovered at once,
// a success waits for the device-change notice of the restarted device.
void FinishDriverReset(ToolState* state, int transport, ResetOutcome outcome) {
    const ResetAftermath after = AftermathOf(outcome);
    if (after.lowerCount) {
        SharedU32* count = transport == kBthTransport ? &state->bthDeviceCount : &state->usbDeviceCount;
        uint32_t n = count->load();
        while (n > 0 && !count->compare_exchange_weak(n, n - 1)) {
        }
    }
    // Found again while the box waits for the user, so the icon does not say "no controller"
    // all the while.
    if (after.rediscover)
        CloseAndRediscover(state);
    for (uint32_t id : after.messages)
        if (id != 0)
            ShowErrorMessage(nullptr, id);
}

// A device worker's answer to a command of the menu or of a dialog that closed at once (auto
// fire): the boxes the command would have shown, now that its answer is in.
LRESULT MsgDeviceOutcome(ToolState* state, WPARAM ticket) {
    DeviceCommandOutcome outcome;
    if (!TakeDeviceOutcome(state, static_cast<uint32_t>(ticket), &outcome))
        return 0;
    const int transport = (ticket & 1u) ? kBthTransport : kUsbTransport;
    if (outcome.kind == DeviceCommandKind::ApplyProfile && outcome.end == DeviceCommandEnd::Done &&
        outcome.result == 1)
        NoteAppliedProfile(state, transport, static_cast<uint32_t>(ticket), outcome.profileIndex);
    // A switch the user did not ask for shows no box over the game in front.
    else if (outcome.kind == DeviceCommandKind::ApplyProfile &&
             ForgetUndeliveredSwitch(state, transport, static_cast<uint32_t>(ticket)))
        return 0;
    // A command from the command line is answered there, never with a box.
    if (AnswerRemoteOutcome(static_cast<uint32_t>(ticket), outcome))
        return 0;
    if (outcome.kind == DeviceCommandKind::DriverReset) {
        FinishDriverReset(state, transport,
                          outcome.end == DeviceCommandEnd::Busy ? ResetOutcome::Busy
                                                                : static_cast<ResetOutcome>(outcome.result));
        return 0;
    }
    if (outcome.end == DeviceCommandEnd::Busy) {
        ShowErrorMessage(nullptr, IDS_DRIVER_BUSY);
        return 0;
    }
    // A profile's result is not shown; the link commands' and the auto-fire buttons' are.
    if (outcome.kind != DeviceCommandKind::ApplyProfile && outcome.result != 1)
        ShowErrorMessage(nullptr, IDS_DRIVER_CONTROL_FAILED);
    return 0;
}

void QueueMenuCommand(ToolState* state, HWND window, int transport, DeviceCommandKind kind,
                      uint32_t profileIndex) {
    DeviceCommand command;
    command.kind = kind;
    command.profileIndex = profileIndex;
    QueueDeviceCommand(state, transport, command, window);
}

// Parks the Monitor thread and closes the devices, so nothing polls a device that sleeps.
// Bounded as a whole: a Monitor thread stuck in a device call must not hold up the system's
// suspend. The device it holds is closed by that thread as soon as the call returns.
void ParkForSuspend(ToolState* state, DWORD limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    state->pauseRequested = 1;
    WakeMonitor(state);
    WaitForMonitor(state, &state->monitorPaused, 1, limitMs);
    CloseDevicesBy(state, deadline);
}

// No handle opened before the sleep survives it: the devices may have been re-plugged or
// restarted while the system slept, so they are closed before they are looked for again.
void ResumeFromSuspend(ToolState* state) {
    CloseAndRediscover(state);
    if (!state->pauseRequested)
        return;
    state->pauseRequested = 0;
    EventSet(&state->resumeEvent);
    // Let the thread leave its park, so that the next suspend waits for a new one.
    WaitForMonitor(state, &state->monitorPaused, 0, 1000);
}

LRESULT MsgPowerBroadcast(ToolState* state, WPARAM notice) {
    switch (notice) {
    case PBT_APMQUERYSUSPEND: ParkForSuspend(state, 5000); break;
    // Since Vista the system sends no query: this is the only notice before the sleep, and it
    // allows about two seconds.
    case PBT_APMSUSPEND: ParkForSuspend(state, 1500); break;
    case PBT_APMQUERYSUSPENDFAILED:
    case PBT_APMRESUMESUSPEND:
    case PBT_APMRESUMEAUTOMATIC: ResumeFromSuspend(state); break;
    case PBT_APMRESUMECRITICAL: CloseAndRediscover(state); break;
    default: break;
    }
    return TRUE;
}

// The notification handle a DEV_BROADCAST_HANDLE names: the system fills dbch_hdevnotify with
// what RegisterDeviceNotificationW returned, which stays valid after the device handle is closed,
// so a notice is matched by it, never by a handle value that may since have been reused.
void* NoticeWatch(LPARAM lParam) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    // The custom-event tail is not needed: only the two handles must be there.
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_HANDLE ||
        header->dbch_size < offsetof(DEV_BROADCAST_HANDLE, dbch_hdevnotify) + sizeof(HDEVNOTIFY))
        return nullptr;
    return reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam)->dbch_hdevnotify;
}

// Bounds the answer to a removal notice: an answer that does not come in time counts as a veto.
// A healthy exchange holds a slot for milliseconds; past this the Monitor thread lets go of the
// device when its call returns.
constexpr uint32_t kNoticeLockMs = 500;

RemovalNotice NoticeKind(WPARAM event) {
    switch (event) {
    case DBT_DEVICEQUERYREMOVE: return RemovalNotice::QueryRemove;
    case DBT_DEVICEQUERYREMOVEFAILED: return RemovalNotice::QueryRemoveFailed;
    case DBT_DEVICEREMOVEPENDING: return RemovalNotice::RemovePending;
    case DBT_DEVICEREMOVECOMPLETE: return RemovalNotice::RemoveComplete;
    default: return RemovalNotice::None;
    }
}

LRESULT MsgDeviceChange(ToolState* state, HWND window, WPARAM event, LPARAM lParam) {
    if (event == DBT_DEVNODES_CHANGED) {
        // Each notice restarts the timer: the rediscovery runs once the burst is over.
        SetTimer(window, kDeviceChangeTimer, kDeviceChangeQuietMs, nullptr);
        return 0;
    }
    const RemovalNotice kind = NoticeKind(event);
    if (kind == RemovalNotice::None)
        return 0;
    // A query-remove lets go of the handle, so it never vetoes a driver update or a disable; the
    // notice stays registered for the outcome. A vetoed removal opens the device again.
    if (TakeRemovalNotice(state, kind, NoticeWatch(lParam), kNoticeLockMs) == kNoticeReopen)
        RequestDeviceWork(state, kDeviceWorkDiscover);
    return TRUE;
}

LRESULT MsgTrayCallback(ToolState* state, WPARAM wParam, LPARAM lParam) {
    const TrayMenuRequest request =
        TrayMenuRequestFor(state, kTrayIconId, wParam, static_cast<uint64_t>(lParam));
    if (request.open != TrayMenuOpen::None)
        ShowTrayMenu(state, request);
    return 0;
}

LRESULT MsgCommand(ToolState* state, HWND window, WPARAM wParam) {
    const CommandDecision decision = DecideCommand(state, wParam);
    switch (decision.action) {
    // Every exchange with a device goes to that transport's worker; its answer comes back as
    // kDeviceOutcomeMessage.
    case CommandAction::ApplyUsbProfile:
        QueueMenuCommand(state, window, kUsbTransport, DeviceCommandKind::ApplyProfile,
                         decision.profileIndex);
        break;
    case CommandAction::ApplyBthProfile:
        QueueMenuCommand(state, window, kBthTransport, DeviceCommandKind::ApplyProfile,
                         decision.profileIndex);
        break;
    case CommandAction::UsbDriverReset:
        QueueMenuCommand(state, window, kUsbTransport, DeviceCommandKind::DriverReset, 0);
        break;
    case CommandAction::BthDriverReset:
        QueueMenuCommand(state, window, kBthTransport, DeviceCommandKind::DriverReset, 0);
        break;
    case CommandAction::BthDisconnect:
        QueueMenuCommand(state, window, kBthTransport, DeviceCommandKind::Disconnect, 0);
        break;
    case CommandAction::BthReconnect:
        QueueMenuCommand(state, window, kBthTransport, DeviceCommandKind::Reconnect, 0);
        break;
    case CommandAction::OpenToolSetting:
        OpenModelessDialog(state, &state->toolSettingPlace.open, IDD_TOOL_SETTING, ToolSettingDlgProc);
        break;
    case CommandAction::OpenVersion:
        OpenModelessDialog(state, &state->versionPlace.open, IDD_VERSION, VersionDlgProc);
        break;
    case CommandAction::OpenUsbInformation:
        OpenModelessDialog(state, &state->usbInformationPlace.open, IDD_USB_INFORMATION,
                           UsbInformationDlgProc);
        break;
    case CommandAction::OpenBthInformation:
        OpenModelessDialog(state, &state->bthInformationPlace.open, IDD_BTH_INFORMATION,
                           BthInformationDlgProc);
        break;
    case CommandAction::OpenUsbAutoFire:
        OpenModelessDialog(state, &state->usbAutoFirePlace.open, IDD_AUTO_FIRE, UsbAutoFireDlgProc);
        break;
    case CommandAction::OpenBthAutoFire:
        OpenModelessDialog(state, &state->bthAutoFirePlace.open, IDD_AUTO_FIRE, BthAutoFireDlgProc);
        break;
    case CommandAction::OpenRumbleSetting:
        OpenModelessDialog(state, &state->rumblePlace.open, IDD_RUMBLE_SETTING, RumbleSettingDlgProc);
        break;
    case CommandAction::ToggleRumblePermission: ToggleRumblePermission(state); break;
    case CommandAction::OpenFfInformation:
        OpenModelessDialog(state, &state->ffDriverPlace.open, IDD_FF_INFORMATION, FfInformationDlgProc);
        break;
    case CommandAction::MigrateRumbleSettings: RunRumbleMigrationCommand(state); break;
    case CommandAction::OpenApplicationProfiles:
        OpenModelessDialog(state, &state->applicationProfilesPlace.open, IDD_APP_PROFILES,
                           ApplicationProfilesDlgProc);
        break;
    case CommandAction::OpenRumbleViewer:
        LoadCommonControls();
        DialogBoxParamW(static_cast<HINSTANCE>(state->instance), MAKEINTRESOURCEW(IDD_RUMBLE_VIEWER), window,
                        RumbleViewerDlgProc, reinterpret_cast<LPARAM>(state));
        break;
    case CommandAction::Exit:
        SaveToolSettings(state);
        PostMessageW(window, WM_CLOSE, 0, 0);
        break;
    default: break; // CommandAction::None: unknown, or not allowed in this state
    }
    return 0;
}

} // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE)
        return MsgCreate(window, lParam);
    ToolState* state = StateOf(window);
    if (state == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_CLOSE: return MsgClose(state, window);
    // Saved already here too: a session that ends may not wait for the end-session message.
    case WM_QUERYENDSESSION: SaveToolSettings(state); return TRUE;
    case WM_ENDSESSION: return MsgEndSession(state, window, wParam);
    case WM_COMMAND: return MsgCommand(state, window, wParam);
    case WM_POWERBROADCAST: return MsgPowerBroadcast(state, wParam);
    case WM_DEVICECHANGE: return MsgDeviceChange(state, window, wParam, lParam);
    case WM_TIMER: return MsgTimer(state, window, wParam);
    case kDeviceOutcomeMessage: return MsgDeviceOutcome(state, wParam);
    case WM_COPYDATA: return MsgRemoteRequest(state, window, wParam, lParam);
    case kTrayCallbackMessage: return MsgTrayCallback(state, wParam, lParam);
    case kConnectionMessage:
        ApplicationConnectionChanged(state, static_cast<int>(wParam), lParam != 0);
        return 0;
    case kAppProgramEndedMessage: ApplicationProgramEnded(state, static_cast<uint32_t>(wParam)); return 0;
    case kAppRulesChangedMessage: ReloadApplicationProfiles(state); return 0;
    // The scaling changed: the tray wants pictures of another size.
    case WM_DPICHANGED:
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE: LoadTrayIcons(state); return DefWindowProcW(window, message, wParam, lParam);
    default:
        if (message == state->exitMessage && message != 0)
            return MsgCommand(state, window, IDM_EXIT);
        // Explorer restarted, often after a change of scaling: the notification area has forgotten
        // the icon.
        if (message == state->taskbarCreatedMessage && message != 0 && state->enableTrayIcon) {
            LoadTrayIcons(state);
            // Again once shown: Wine's stand-alone tray comes back with the icon.
            if (ReAddTrayIcon(state)) {
                LoadTrayIcons(state);
            } else {
                // A taskbar that has just started may not answer in time: keep trying.
                state->trayAddRetries = 0;
                SetTimer(window, kTrayRetryTimer, 1000, nullptr);
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

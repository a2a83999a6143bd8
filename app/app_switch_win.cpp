// Application profiles on the Win32 side: the foreground watched through a WinEvent hook, the
// program in front found by its image, the end of the program whose rule is in force, and the
// switches carried out through the device workers. All of it runs on the window thread.
#include "app/app_win.h"
#include "dialogs/dialogs_win.h"
#include "driver/device_commands.h"
#include "driver/driver_win.h"
#include "monitor/tray_tip.h"
#include "monitor/tray_win.h"
#include "profiles/application_rules.h"

#include <new>

struct ApplicationProfiles {
    ApplicationRules rules;
    ResolvedRules resolved;
    ApplicationSwitch decisions;
    HWINEVENTHOOK hook;
    HWND front;
    // The last program of another process in front: its rule (-1 none) and process.
    int32_t frontRule;
    uint32_t frontProcess;
    // The process whose end hands over to the rule for when no listed program is in front.
    uint32_t watchedProcess;
    HANDLE watchedHandle;
    HANDLE watchedWait;
    // Tickets of the switches a rule asked for, with the rule, so their outcome is not taken for
    // a choice by hand.
    uint32_t ruleTickets[2 * kDeviceCommandEntries];
    int32_t ruleOf[2 * kDeviceCommandEntries];
    uint32_t nextTicketSlot;
};

namespace {

// A WinEvent callback carries no context, and the tool has one state.
ToolState* hookedState = nullptr;

HWND MainWindowOf(ToolState* state) {
    return static_cast<HWND>(state->mainWindow);
}

int SwitchingOn(const ApplicationProfiles* a) {
    return a->rules.enabled && a->rules.count > 0;
}

void StopWatchingProgram(ApplicationProfiles* a) {
    // Not waited for: the callback only posts a message, and it names no handle.
    if (a->watchedWait != nullptr)
        UnregisterWait(a->watchedWait);
    if (a->watchedHandle != nullptr)
        CloseHandle(a->watchedHandle);
    a->watchedWait = a->watchedHandle = nullptr;
    a->watchedProcess = 0;
}

VOID CALLBACK ProgramEnded(PVOID context, BOOLEAN) {
    if (ToolState* state = hookedState)
        PostMessageW(MainWindowOf(state), kAppProgramEndedMessage,
                     static_cast<WPARAM>(reinterpret_cast<ULONG_PTR>(context)), 0);
}

// The program whose rule is in force is watched until it ends; a program that cannot be opened
// is never seen to end, and its rule holds until another listed program comes to the front.
void WatchProgramInForce(ApplicationProfiles* a) {
    const uint32_t process = ApplicationRuleInForce(&a->decisions) >= 0 ? a->decisions.inForceProcess : 0;
    if (process == a->watchedProcess)
        return;
    StopWatchingProgram(a);
    if (process == 0)
        return;
    a->watchedProcess = process;
    a->watchedHandle = OpenProcess(SYNCHRONIZE, FALSE, process);
    if (a->watchedHandle == nullptr)
        return;
    if (!RegisterWaitForSingleObject(&a->watchedWait, a->watchedHandle, ProgramEnded,
                                     reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(process)), INFINITE,
                                     WT_EXECUTEONLYONCE))
        a->watchedWait = nullptr;
}

void RememberRuleTicket(ApplicationProfiles* a, uint32_t ticket, int32_t rule) {
    const uint32_t slot = a->nextTicketSlot++ % (2 * kDeviceCommandEntries);
    a->ruleTickets[slot] = ticket;
    a->ruleOf[slot] = rule;
}

// The rule that asked for `ticket`'s switch, or kChosenByHand; the ticket is forgotten.
int32_t TakeRuleTicket(ApplicationProfiles* a, uint32_t ticket) {
    for (uint32_t i = 0; i < 2 * kDeviceCommandEntries; ++i)
        if (ticket != 0 && a->ruleTickets[i] == ticket) {
            a->ruleTickets[i] = 0;
            return a->ruleOf[i];
        }
    return kChosenByHand;
}

void Deliver(ToolState* state, ApplicationProfiles* a, SwitchEvent e) {
    if (!SwitchingOn(a))
        return;
    e.nowMs = GetTickCount64();
    SwitchAction actions[2];
    uint64_t wakeAt = 0;
    const int n = StepApplicationSwitch(&a->decisions, &a->rules, &a->resolved, e, actions, &wakeAt);
    for (int i = 0; i < n; ++i) {
        DeviceCommand command;
        command.kind = DeviceCommandKind::ApplyProfile;
        command.profileIndex = actions[i].profileIndex;
        const uint32_t ticket = QueueDeviceCommand(state, actions[i].transport, command, MainWindowOf(state));
        RememberRuleTicket(a, ticket, actions[i].rule);
    }
    if (wakeAt != 0) {
        const uint64_t now = GetTickCount64();
        const uint64_t delay = wakeAt > now ? wakeAt - now : 1;
        SetTimer(MainWindowOf(state), kAppSwitchTimer, static_cast<UINT>(delay < 60000 ? delay : 60000),
                 nullptr);
    } else {
        KillTimer(MainWindowOf(state), kAppSwitchTimer);
    }
    WatchProgramInForce(a);
}

// The rule of the program that owns `window`, -1 for none; 0 when the window is the tool's own
// (its menu and dialogs), which changes nothing. A process that cannot be opened is unknown.
int FrontProgram(ToolState* state, ApplicationProfiles* a, HWND window, int32_t* rule, uint32_t* process) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    if (id == 0 || id == GetCurrentProcessId())
        return 0;
    *process = id;
    *rule = -1;
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (handle == nullptr)
        return 1;
    wchar_t path[kRulePathChars];
    DWORD size = kRulePathChars;
    if (QueryFullProcessImageNameW(handle, 0, path, &size) && size < kRulePathChars) {
        path[size] = 0;
        *rule = MatchApplicationRule(&a->rules, reinterpret_cast<const Utf16*>(path));
        // The shell's taskbar and desktop come forward on the way to the tray menu.
        if (!SameRuleName(RuleFileName(reinterpret_cast<const Utf16*>(path)), u"explorer.exe"))
            CopyUtf16(state->lastFrontProgram, kFrontProgramChars, reinterpret_cast<const Utf16*>(path));
    }
    CloseHandle(handle);
    return 1;
}

void TakeFrontWindow(ToolState* state, HWND window) {
    ApplicationProfiles* a = state->applicationProfiles;
    if (a == nullptr || window == nullptr)
        return;
    a->front = window;
    int32_t rule = -1;
    uint32_t process = 0;
    if (!FrontProgram(state, a, window, &rule, &process))
        return;
    a->frontRule = rule;
    a->frontProcess = process;
    SwitchEvent e = {SwitchEventKind::Foreground, 0, rule, process, 0, 0};
    Deliver(state, a, e);
}

void CALLBACK ForegroundChanged(HWINEVENTHOOK, DWORD event, HWND window, LONG, LONG, DWORD, DWORD) {
    if (event == EVENT_SYSTEM_FOREGROUND && hookedState != nullptr)
        TakeFrontWindow(hookedState, window);
}

// Rules, their profiles and the hook from the registry, as the dialog left them. What was
// decided before is dropped; the profiles last applied stay known, so none is sent twice.
void TakeRules(ToolState* state, ApplicationProfiles* a) {
    LoadApplicationRules(&a->rules);
    ResolveApplicationRules(&a->rules, state, &a->resolved);
    a->decisions = ApplicationSwitch{};
    StopWatchingProgram(a);
    KillTimer(MainWindowOf(state), kAppSwitchTimer);
    // Watched with no rule too, but only to know the program in front before the menu opened,
    // which the dialog can list: a click on the notification area brings the taskbar forward.
    if (a->hook == nullptr)
        a->hook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
                                  ForegroundChanged, 0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    // Wine calls an out-of-context hook only for events its own process raises: there alone the
    // foreground is looked at a few times a second instead.
    if (state->underWine)
        SetTimer(MainWindowOf(state), kAppForegroundTimer, 250, nullptr);
    if (!SwitchingOn(a))
        return;
    for (int t = 0; t < 2; ++t) {
        const uint32_t applied = state->appliedProfile[t].load();
        if (applied != 0) {
            SwitchEvent e = {SwitchEventKind::HandChoice, 0, -1, 0, t, applied - 1};
            Deliver(state, a, e);
        }
    }
    // A listed program already in front gets its profiles after the same second.
    TakeFrontWindow(state, GetForegroundWindow());
}

} // namespace

void StartApplicationProfiles(ToolState* state) {
    auto* a = new (std::nothrow) ApplicationProfiles{};
    if (a == nullptr)
        return;
    a->frontRule = -1;
    state->applicationProfiles = a;
    hookedState = state;
    TakeRules(state, a);
}

void StopApplicationProfiles(ToolState* state) {
    ApplicationProfiles* a = state->applicationProfiles;
    if (a == nullptr)
        return;
    KillTimer(MainWindowOf(state), kAppForegroundTimer);
    if (a->hook != nullptr)
        UnhookWinEvent(a->hook);
    StopWatchingProgram(a);
    KillTimer(MainWindowOf(state), kAppSwitchTimer);
    hookedState = nullptr;
    state->applicationProfiles = nullptr;
    delete a;
}

void ReloadApplicationProfiles(ToolState* state) {
    if (ApplicationProfiles* a = state->applicationProfiles)
        TakeRules(state, a);
}

void ApplicationSwitchTimer(ToolState* state) {
    ApplicationProfiles* a = state->applicationProfiles;
    KillTimer(MainWindowOf(state), kAppSwitchTimer);
    if (a == nullptr)
        return;
    SwitchEvent e = {SwitchEventKind::DwellElapsed, 0, a->frontRule, a->frontProcess, 0, 0};
    Deliver(state, a, e);
}

void ApplicationForegroundTimer(ToolState* state) {
    ApplicationProfiles* a = state->applicationProfiles;
    HWND front = GetForegroundWindow();
    if (a != nullptr && front != a->front)
        TakeFrontWindow(state, front);
}

void ApplicationProgramEnded(ToolState* state, uint32_t process) {
    ApplicationProfiles* a = state->applicationProfiles;
    if (a == nullptr || process == 0)
        return;
    if (a->frontProcess == process) {
        a->frontRule = -1;
        a->frontProcess = 0;
    }
    if (a->watchedProcess == process)
        StopWatchingProgram(a);
    SwitchEvent e = {SwitchEventKind::ProgramEnded, 0, -1, process, 0, 0};
    Deliver(state, a, e);
}

void ApplicationConnectionChanged(ToolState* state, int transport, int up) {
    ApplicationProfiles* a = state->applicationProfiles;
    if (a == nullptr || transport < 0 || transport > 1)
        return;
    SwitchEvent e = {
        up ? SwitchEventKind::DeviceArrived : SwitchEventKind::DeviceGone, 0, -1, 0, transport, 0};
    Deliver(state, a, e);
}

int ForgetUndeliveredSwitch(ToolState* state, int transport, uint32_t ticket) {
    ApplicationProfiles* a = state->applicationProfiles;
    if (a == nullptr || TakeRuleTicket(a, ticket) == kChosenByHand)
        return 0;
    SwitchEvent e = {SwitchEventKind::DeviceGone, 0, -1, 0, transport, 0};
    Deliver(state, a, e);
    return 1;
}

void NoteAppliedProfile(ToolState* state, int transport, uint32_t ticket, uint32_t profileIndex) {
    ApplicationProfiles* a = state->applicationProfiles;
    const int32_t chooser = a != nullptr ? TakeRuleTicket(a, ticket) : kChosenByHand;
    {
        std::lock_guard<std::mutex> hold(state->appliedLock);
        state->appliedChooser[transport] = chooser >= 0 ? 1 : chooser == kRuleFallback ? 2 : 0;
        state->appliedRule[transport][0] = 0;
        if (chooser >= 0 && a != nullptr && static_cast<uint32_t>(chooser) < a->rules.count) {
            // The program's file name: the last part of a full path.
            CopyUtf16Whole(state->appliedRule[transport], kAppliedRuleChars,
                           RuleFileName(a->rules.rules[chooser].program));
        }
    }
    state->appliedProfile[transport] = profileIndex + 1;
    if (a != nullptr && chooser == kChosenByHand) {
        SwitchEvent e = {SwitchEventKind::HandChoice, 0, -1, 0, transport, profileIndex};
        Deliver(state, a, e);
    }
}

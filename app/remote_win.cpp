// The command line for the running copy on Windows: the second copy hands its command over with
// WM_COPYDATA and prints the answer; the running copy checks the record, carries the command out
// through the device workers, and answers the sender's window. Only programs at the running
// copy's integrity level can reach it: its window opens no message to lower ones.
#include <chrono>

#include "app/app_win.h"
#include "app/dispatch.h"
#include "app/remote_command.h"
#include "driver/device_commands.h"
#include "driver/driver_win.h"
#include "profiles/profile_library.h"
#include "resources/resource.h"

namespace {

// The sender waits this long for the running copy to take the record, and then for the device's
// answer: beyond the busy bound of a command, so that a busy device is told as busy.
constexpr UINT kHandOverMs = 3000;
constexpr DWORD kAnswerWaitMs = kDeviceBusyMs + 3000;
// A sender that does not take its answer in this time loses it; the window goes on.
constexpr UINT kAnswerSendMs = 500;
constexpr int kPendingRemote = 4;
const wchar_t kAnswerClass[] = L"PadwardenRemoteAnswer";

// ---- the copy that sends

struct AnswerBox {
    uint32_t requestId = 0;
    int answered = 0;
    RemoteReply reply;
};
AnswerBox answerBox;

LRESULT CALLBACK AnswerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    RemoteReply reply;
    if (data == nullptr || data->dwData != kRemoteReplyTag ||
        !DecodeRemoteReply(data->lpData, data->cbData, &reply) || reply.requestId != answerBox.requestId ||
        reply.code == kRemoteAccepted)
        return FALSE;
    answerBox.reply = reply;
    answerBox.answered = 1;
    return TRUE;
}

// The console the second copy was started from, or the output it was given.
void Print(const Utf16* text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS))
            return;
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE)
            return;
    }
    const int units = static_cast<int>(Utf16Length(text, kRemoteTextUnits + 1024));
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, W(text), static_cast<DWORD>(units), &written, nullptr);
        return;
    }
    char bytes[(kRemoteTextUnits + 1024) * 3];
    const int size = WideCharToMultiByte(CP_UTF8, 0, W(text), units, bytes, sizeof bytes, nullptr, nullptr);
    if (size > 0)
        WriteFile(out, bytes, static_cast<DWORD>(size), &written, nullptr);
}

int PrintAndEnd(const Utf16* text, int code) {
    Print(text);
    const size_t length = Utf16Length(text, kRemoteTextUnits);
    if (length == 0 || text[length - 1] != u'\n')
        Print(u"\r\n");
    return code;
}

int SendToRunningCopy(const RemoteSwitch& command) {
    HWND target = FindRunningCopy();
    if (target == nullptr)
        return PrintAndEnd(u"No running copy of Padwarden was found.", kRemoteNoCopy);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW type = {};
    type.lpfnWndProc = AnswerWindowProc;
    type.hInstance = instance;
    type.lpszClassName = kAnswerClass;
    RegisterClassW(&type);
    HWND answer =
        CreateWindowExW(0, kAnswerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (answer == nullptr)
        return PrintAndEnd(u"The answer window could not be created.", kRemoteFailed);
    answerBox.requestId = (GetCurrentProcessId() << 8) ^ GetTickCount();
    RemoteRequest request;
    EncodeRemoteRequest(command, answerBox.requestId, reinterpret_cast<uint64_t>(answer), &request);
    COPYDATASTRUCT data = {static_cast<ULONG_PTR>(kRemoteRequestTag), sizeof request, &request};
    DWORD_PTR taken = 0;
    // The running copy may answer at once, inside this call: sent messages reach the answer
    // window while the call waits.
    const LRESULT sent =
        SendMessageTimeoutW(target, WM_COPYDATA, reinterpret_cast<WPARAM>(answer),
                            reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kHandOverMs, &taken);
    if (!answerBox.answered) {
        if (sent == 0) {
            DestroyWindow(answer);
            return PrintAndEnd(u"The running copy did not answer in time.", kRemoteBusy);
        }
        if (taken != kRemoteAccepted) {
            DestroyWindow(answer);
            return PrintAndEnd(u"The running copy does not take this command.", kRemoteNoCopy);
        }
        const DWORD until = GetTickCount() + kAnswerWaitMs;
        MSG message;
        while (!answerBox.answered) {
            const DWORD now = GetTickCount();
            if (static_cast<int32_t>(until - now) <= 0)
                break;
            if (MsgWaitForMultipleObjects(0, nullptr, FALSE, until - now, QS_ALLINPUT) == WAIT_FAILED)
                break;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
    }
    DestroyWindow(answer);
    if (!answerBox.answered)
        return PrintAndEnd(u"The controller driver did not answer in time.", kRemoteBusy);
    return PrintAndEnd(answerBox.reply.text, static_cast<int>(answerBox.reply.code));
}

// ---- the running copy

struct PendingRemote {
    uint32_t ticket = 0;
    HWND sender = nullptr;
    uint32_t requestId = 0;
};
// Window thread only.
PendingRemote pendingRemote[kPendingRemote];

void Answer(HWND sender, uint32_t requestId, uint32_t code, const Utf16* text) {
    RemoteReply reply;
    EncodeRemoteReply(requestId, code, text, &reply);
    COPYDATASTRUCT data = {static_cast<ULONG_PTR>(kRemoteReplyTag), sizeof reply, &reply};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(sender, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                        SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerSendMs, &ignored);
}

// The menu's own command for the request, so that the command line can do exactly what the menu
// offers now and nothing else; 0 with the answer given when there is none.
uint32_t CommandFor(ToolState* state, const RemoteRequest& request, uint32_t* code, const Utf16** text) {
    *code = kRemoteFailed;
    switch (static_cast<RemoteVerb>(request.verb)) {
    case RemoteVerb::Disconnect:
        *text = u"The Bluetooth link cannot be dropped now: no controller is connected by Bluetooth.";
        return IDM_BTH_DISCONNECT;
    case RemoteVerb::Reconnect:
        *text = u"The Bluetooth link cannot be restored now: no controller is connected by Bluetooth.";
        return IDM_BTH_RECONNECT;
    case RemoteVerb::Profile: {
        const int32_t index = FindProfileByName(state, request.name);
        if (index < 0 || static_cast<uint32_t>(index) >= kProfileIdsPerTransport) {
            *code = kRemoteUnknown;
            *text = u"No profile has that title or file name.";
            return 0;
        }
        if (!ProfileAccepted(state, static_cast<uint32_t>(index))) {
            *code = kRemoteUnknown;
            *text = u"That profile's file was rejected.";
            return 0;
        }
        *text = u"The profile cannot be applied now: no controller is connected on that transport.";
        return ProfileCommandId(static_cast<int>(request.transport), static_cast<uint32_t>(index));
    }
    default: *text = u"Unknown command."; return 0;
    }
}

} // namespace

int RunRemoteSwitch() {
    RemoteSwitch command;
    switch (RemoteSwitchOf(reinterpret_cast<const Utf16*>(GetCommandLineW()), &command)) {
    case RemoteParse::None: return -1;
    case RemoteParse::Malformed:
        Print(u"Unknown switch or a switch without what it needs.\r\n");
        return PrintAndEnd(kRemoteHelpText, kRemoteUnknown);
    case RemoteParse::Command: break;
    }
    if (command.verb == RemoteVerb::Help)
        return PrintAndEnd(kRemoteHelpText, kRemoteDone);
    return SendToRunningCopy(command);
}

LRESULT MsgRemoteRequest(ToolState* state, HWND window, WPARAM wParam, LPARAM lParam) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    RemoteRequest request;
    HWND sender = reinterpret_cast<HWND>(wParam);
    if (data == nullptr || data->dwData != kRemoteRequestTag ||
        !DecodeRemoteRequest(data->lpData, data->cbData, &request) ||
        request.replyWindow != reinterpret_cast<uint64_t>(sender) || !IsWindow(sender))
        return FALSE;
    if (static_cast<RemoteVerb>(request.verb) == RemoteVerb::Status) {
        Utf16 text[kRemoteTextUnits];
        FormatRemoteStatus(state, text, kRemoteTextUnits);
        Answer(sender, request.requestId, kRemoteDone, text);
        return kRemoteAccepted;
    }
    uint32_t code = kRemoteFailed;
    const Utf16* text = u"";
    const uint32_t id = CommandFor(state, request, &code, &text);
    const CommandDecision decision =
        id != 0 ? DecideCommand(state, id) : CommandDecision{CommandAction::None, 0};
    DeviceCommand command;
    int transport = kBthTransport;
    switch (decision.action) {
    case CommandAction::ApplyUsbProfile: transport = kUsbTransport; [[fallthrough]];
    case CommandAction::ApplyBthProfile:
        command.kind = DeviceCommandKind::ApplyProfile;
        command.profileIndex = decision.profileIndex;
        break;
    case CommandAction::BthDisconnect: command.kind = DeviceCommandKind::Disconnect; break;
    case CommandAction::BthReconnect: command.kind = DeviceCommandKind::Reconnect; break;
    default: Answer(sender, request.requestId, code, text); return kRemoteAccepted;
    }
    PendingRemote* free = nullptr;
    for (PendingRemote& p : pendingRemote)
        if (p.ticket == 0) {
            free = &p;
            break;
        }
    command.replyWindow = window;
    command.replyMessage = kDeviceOutcomeMessage;
    const uint32_t ticket =
        free != nullptr ? SubmitDeviceCommand(state, transport, command, CommandClock::now()) : 0;
    if (ticket == 0) {
        Answer(sender, request.requestId, kRemoteBusy,
               u"The controller driver is busy. Try again in a moment.");
        return kRemoteAccepted;
    }
    SetTimer(window, kDeviceBusyTimer, kDeviceBusyCheckMs, nullptr);
    *free = PendingRemote{ticket, sender, request.requestId};
    return kRemoteAccepted;
}

int AnswerRemoteOutcome(uint32_t ticket, const DeviceCommandOutcome& outcome) {
    for (PendingRemote& p : pendingRemote) {
        if (p.ticket != ticket || ticket == 0)
            continue;
        const PendingRemote taken = p;
        p = PendingRemote{};
        if (!IsWindow(taken.sender))
            return 1; // the sender stopped waiting
        if (outcome.end == DeviceCommandEnd::Busy)
            Answer(taken.sender, taken.requestId, kRemoteBusy,
                   u"The controller driver is busy and did not answer, so the command was not sent.");
        else if (outcome.result == 1)
            Answer(taken.sender, taken.requestId, kRemoteDone, u"Done.");
        else
            Answer(taken.sender, taken.requestId, kRemoteFailed,
                   u"The controller driver refused the command.");
        return 1;
    }
    return 0;
}

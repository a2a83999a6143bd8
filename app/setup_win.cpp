// The installer's switches on Windows: finding the running copy, asking it to exit through its
// own Exit, and starting a copy after setup, for the rules of app/command_line.cpp.
#include "app/command_line.h"
#include "app/app_win.h"
#include "core/scope_win.h"
#include "resources/resource.h"

namespace {

// Beside the settings, not among them: the settings key holds only what Exit writes.
const wchar_t kToolKey[] = L"Software\\Corvane\\Padwarden";
const wchar_t kRestartValue[] = L"RestartAfterSetup";

// Exit waits for the Monitor thread (at most 1.5 s) and saves the settings; a few seconds more
// cover a slow disk. An installer must not hang on a copy that will not end.
constexpr DWORD kExitWaitMs = 10000;

// 1 when a running copy was found and has ended through its own Exit command.
int EndRunningCopy() {
    HWND window = FindRunningCopy();
    const UINT exitMessage = RegisterWindowMessageW(W(kExitMessageName));
    if (window == nullptr || exitMessage == 0)
        return 0;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    OwnedHandle process(processId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr);
    // The copy does what its menu's Exit does, so the settings are saved as the user would save them.
    if (!PostMessageW(window, exitMessage, 0, 0))
        return 0;
    int ended = 0;
    if (process.handle != nullptr) {
        ended = WaitForSingleObject(process.handle, kExitWaitMs) == WAIT_OBJECT_0 ? 1 : 0;
    } else {
        // An elevated copy may refuse us a handle to its process: its window going is the sign.
        for (DWORD waited = 0; waited < kExitWaitMs && IsWindow(window); waited += 50)
            Sleep(50);
        ended = IsWindow(window) ? 0 : 1;
    }
    return ended;
}

void WriteRestartNote(int ranBefore) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kToolKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (ranBefore) {
        const DWORD one = 1;
        RegSetValueExW(key, kRestartValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    } else {
        // A note left by a setup that failed half-way must not start the tool after the next one.
        RegDeleteValueW(key, kRestartValue);
    }
    RegCloseKey(key);
}

// Reads and clears the note: 1 when the setup before this one ended a running copy.
int TakeRestartNote() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kToolKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    const int noted = RegQueryValueExW(key, kRestartValue, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                       &size) == ERROR_SUCCESS &&
                      type == REG_DWORD && size == sizeof value && value != 0;
    RegDeleteValueW(key, kRestartValue);
    RegCloseKey(key);
    return noted ? 1 : 0;
}

// Task Manager keeps a log-on entry's enabled or disabled state beside the Run value, under the
// same name. An upgrade leaves it, so a disabled start stays disabled; only a removal drops it.
void ForgetStartupApproval() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run", 0,
                      KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"Padwarden");
    RegCloseKey(key);
}

} // namespace

HWND FindRunningCopy() {
    wchar_t className[256];
    wchar_t caption[256];
    LoadText(IDS_CLASS_NAME, className, 256);
    LoadText(IDS_CAPTION, caption, 256);
    return FindWindowW(className, caption);
}

int RunSetupSwitch() {
    static_assert(sizeof(wchar_t) == sizeof(Utf16), "UTF-16 wide characters");
    switch (SetupSwitchOf(reinterpret_cast<const Utf16*>(GetCommandLineW()))) {
    case SetupSwitch::None: return 1;
    case SetupSwitch::Exit: EndRunningCopy(); return 0;
    case SetupSwitch::ExitForSetup: WriteRestartNote(EndRunningCopy()); return 0;
    case SetupSwitch::StartAfterSetup: return TakeRestartNote();
    case SetupSwitch::ExitForRemoval:
        EndRunningCopy();
        ForgetStartupApproval();
        return 0;
    }
    return 0;
}

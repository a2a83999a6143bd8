// Copying the rumble rows from the driver's old machine-wide key to the force-feedback driver's
// per-user key.
#include "app/shell_win.h"
#include "resources/resource.h"
#include "rumble/rumble_block.h"
#include "rumble/rumble_win.h"

namespace {

const wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\services\\dualshock3\\Rumble";
const wchar_t kDestinationKey[] = L"Software\\Corvane\\Shakewell";

} // namespace

int CopyRumbleRows(HKEY sourceRoot, const wchar_t* source, HKEY destinationRoot, const wchar_t* destination) {
    HKEY from = nullptr;
    if (RegOpenKeyExW(sourceRoot, source, 0, KEY_ALL_ACCESS, &from) != ERROR_SUCCESS)
        return 0;
    HKEY to = nullptr;
    if (RegCreateKeyExW(destinationRoot, destination, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &to, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(from);
        return 0;
    }
    int ranToEnd = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[64] = {};
        BYTE row[kSlotRowSize] = {};
        DWORD nameUnits = 64;
        DWORD rowBytes = sizeof row;
        const LSTATUS status = RegEnumValueW(from, index, name, &nameUnits, nullptr, nullptr, row, &rowBytes);
        if (status == ERROR_NO_MORE_ITEMS) {
            ranToEnd = 1;
            break;
        }
        // A name or row too large for the buffers: skip it rather than write stale bytes.
        if (status == ERROR_MORE_DATA)
            continue;
        // Any other error would repeat for every index that follows.
        if (status != ERROR_SUCCESS)
            break;
        if (rowBytes != kSlotRowSize)
            continue;
        RegSetValueExW(to, name, 0, REG_BINARY, row, kSlotRowSize);
    }
    RegCloseKey(to);
    RegCloseKey(from);
    return ranToEnd;
}

int MigrateRumbleSettings() {
    return CopyRumbleRows(HKEY_LOCAL_MACHINE, kSourceKey, HKEY_CURRENT_USER, kDestinationKey);
}

void RunRumbleMigrationCommand(ToolState* state) {
    if (!state->isAdmin)
        return;
    HWND owner = static_cast<HWND>(state->mainWindow);
    wchar_t text[256];
    LoadText(IDS_ASK_MIGRATION, text, 256);
    if (MessageBoxW(owner, text, W(state->caption), MB_OKCANCEL | MB_SETFOREGROUND) != IDOK)
        return;
    const int done = MigrateRumbleSettings();
    LoadText(done ? IDS_DONE : IDS_MIGRATION_FAILED, text, 256);
    MessageBoxW(owner, text, W(state->caption), MB_OK | MB_SETFOREGROUND);
}

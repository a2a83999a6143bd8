// Copying the rumble rows from the driver's old machine-wide key to the force-feedback driver's
// per-user key.
#include "core/shell_win.h"
#include "resources/resource.h"
#include "rumble/rumble_block.h"
#include "rumble/rumble_text.h"
#include "rumble/rumble_win.h"

namespace {

const wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\services\\dualshock3\\Rumble";
const wchar_t kDestinationKey[] = L"Software\\Corvane\\Shakewell";

} // namespace

int CopyRumbleRows(HKEY from, HKEY to, uint32_t* notWritten) {
    for (DWORD index = 0;; ++index) {
        wchar_t name[64] = {};
        BYTE row[kSlotRowSize] = {};
        DWORD nameUnits = 64;
        DWORD rowBytes = sizeof row;
        const LSTATUS status = RegEnumValueW(from, index, name, &nameUnits, nullptr, nullptr, row, &rowBytes);
        if (status == ERROR_NO_MORE_ITEMS)
            return 1;
        // A name or row too large for the buffers: skip it rather than write stale bytes.
        if (status == ERROR_MORE_DATA)
            continue;
        // Any other error would repeat for every index that follows.
        if (status != ERROR_SUCCESS)
            return 0;
        if (rowBytes != kSlotRowSize)
            continue;
        if (RegSetValueExW(to, name, 0, REG_BINARY, row, kSlotRowSize) != ERROR_SUCCESS)
            ++*notWritten;
    }
}

int MigrateRumbleSettings(uint32_t* notWritten) {
    *notWritten = 0;
    // Reading is all the copy does with the source; asking for full access fails wherever the key
    // grants this account no more than reading.
    HKEY from = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_READ, &from) != ERROR_SUCCESS)
        return 0;
    HKEY to = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kDestinationKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &to, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(from);
        return 0;
    }
    const int ranToEnd = CopyRumbleRows(from, to, notWritten);
    RegCloseKey(to);
    RegCloseKey(from);
    return ranToEnd;
}

void RunRumbleMigrationCommand(ToolState* state) {
    if (!state->isAdmin)
        return;
    HWND owner = static_cast<HWND>(state->mainWindow);
    wchar_t text[256];
    LoadText(IDS_ASK_MIGRATION, text, 256);
    if (MessageBoxW(owner, text, W(state->caption), MB_OKCANCEL | MB_SETFOREGROUND) != IDOK)
        return;
    uint32_t notWritten = 0;
    const int ranToEnd = MigrateRumbleSettings(&notWritten);
    wchar_t done[256], failed[256], count[256];
    LoadText(IDS_DONE, done, 256);
    LoadText(IDS_MIGRATION_FAILED, failed, 256);
    LoadText(IDS_MIGRATION_NOT_WRITTEN, count, 256);
    Utf16 result[kMigrationResultUnits];
    FormatMigrationResult(result, kMigrationResultUnits, ranToEnd, notWritten,
                          reinterpret_cast<const Utf16*>(done), reinterpret_cast<const Utf16*>(failed),
                          reinterpret_cast<const Utf16*>(count));
    MessageBoxW(owner, W(result), W(state->caption), MB_OK | MB_SETFOREGROUND);
}

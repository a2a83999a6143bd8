// The Win32 layer's own choices, run against Wine's real menus, strings, windows and handles:
// what a profile sub-menu offers for refused files, and how the main window answers the
// platform's device notices.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "app/shell_win.h"

#include <dbt.h>
#include "driver/device_port.h"
#include "monitor/monitor.h"
#include "profiles/profile_library.h"
#include "profiles/profile_record.h"
#include "resources/resource.h"

namespace {

std::wstring ItemText(HMENU menu, UINT position) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

TEST(ProfileMenu, RefusedFilesAreGreyedNamedAndKeepTheirIds) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    static ProfileRecord records[3] = {};
    uint8_t accepted[3] = {1, 0, 0};
    CopyUtf16(records[0].Title, kProfileTitleChars, u"Racing");
    CopyUtf16(records[0].FileName, kProfileFileNameChars, u"racing.ini");
    CopyUtf16(records[1].FileName, kProfileFileNameChars, u"Padtuner.ini");
    state.profiles = records;
    state.profileAccepted = accepted;
    state.profileCount = 3;

    for (int transport = 0; transport < 2; ++transport) {
        HMENU menu = BuildProfileMenu(&state, transport);
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(GetMenuItemCount(menu), 3);
        const UINT first = transport == 0 ? 0x8000 : 0x8100;
        for (UINT i = 0; i < 3; ++i) {
            EXPECT_EQ(GetMenuItemID(menu, static_cast<int>(i)), first + i);
            const UINT menuState = GetMenuState(menu, i, MF_BYPOSITION);
            EXPECT_EQ((menuState & MF_GRAYED) != 0, accepted[i] == 0) << i;
        }
        EXPECT_EQ(ItemText(menu, 0), L"Racing");
        EXPECT_EQ(ItemText(menu, 1), L"Padtuner.ini");
        EXPECT_EQ(ItemText(menu, 2), L"(unreadable)");
        DestroyMenu(menu);
    }
    state.profiles = nullptr;
    state.profileAccepted = nullptr;
    state.profileCount = 0;
}

// Each tray icon carries its own image for each small-icon size from 100 to 200 percent
// scaling, so the loader never stretches a 16-pixel picture.
TEST(TrayIcons, EachSmallIconSizeHasItsOwnImage) {
    HMODULE module = GetModuleHandleW(nullptr);
    for (int icon = IDI_TRAY_BASE; icon < IDI_TRAY_BASE + kTrayIconCount; ++icon) {
        HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(icon), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
        ASSERT_NE(group, nullptr) << icon;
        auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
        ASSERT_NE(directory, nullptr);
        for (int size : {16, 20, 24, 32}) {
            const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, 0);
            HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3)); // RT_ICON
            ASSERT_NE(image, nullptr) << icon << " " << size;
            const auto* header =
                static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image)));
            ASSERT_NE(header, nullptr);
            EXPECT_EQ(header->biWidth, size) << icon;
            EXPECT_EQ(header->biHeight, 2 * size) << icon; // picture and mask
        }
    }
}

// The tool's main window procedure with the Tool state given at creation, and no tray icon;
// message-only, so it needs no display.
HWND CreateToolWindow(ToolState* state) {
    static ATOM atom = 0;
    if (atom == 0) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = MainWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"PADWARDEN-TEST";
        atom = RegisterClassExW(&wc);
    }
    state->enableTrayIcon = 0;
    return CreateWindowExW(0, L"PADWARDEN-TEST", L"", WS_POPUP, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), state);
}

void DestroyToolWindow(HWND window) {
    DestroyWindow(window);
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

// The record Windows sends to a window that registered `device` with RegisterDeviceNotificationW:
// the device handle and the notification handle the registration returned, no custom event.
DEV_BROADCAST_HANDLE HandleNotice(HANDLE device, void* watch) {
    DEV_BROADCAST_HANDLE notice = {};
    notice.dbch_size = sizeof notice;
    notice.dbch_devicetype = DBT_DEVTYP_HANDLE;
    notice.dbch_handle = device;
    notice.dbch_hdevnotify = static_cast<HDEVNOTIFY>(watch);
    return notice;
}

LRESULT SendNotice(HWND window, WPARAM event, const void* record) {
    return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
}

TEST(MainWindow, QueryRemoveOfAnOpenDeviceLetsGoOfItsHandle) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    HWND window = CreateToolWindow(&state);
    ASSERT_NE(window, nullptr);
    wchar_t folder[MAX_PATH];
    wchar_t file[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    ASSERT_NE(GetTempFileNameW(folder, L"pdw", 0, file), 0u);
    // Real handles stand for the devices', each watched through the real registration call.
    auto open = [&file] {
        return CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    };
    HANDLE device = open();
    HANDLE other = open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    void* watch = WatchDeviceRemoval(window, device);
    void* otherWatch = WatchDeviceRemoval(window, other);
    ASSERT_NE(watch, nullptr);
    ASSERT_NE(otherWatch, nullptr);
    DeviceSlot& slot = state.bthDevices[0];
    slot.handle = device;
    slot.removalWatch = watch;
    slot.recordOpen = 1;
    state.bthDeviceCount = 1;

    // Another registration's notice, even one naming this very handle, is not this slot's.
    DEV_BROADCAST_HANDLE notice = HandleNotice(device, otherWatch);
    EXPECT_EQ(SendNotice(window, DBT_DEVICEQUERYREMOVE, &notice), TRUE);
    EXPECT_EQ(slot.handle, device);
    EXPECT_EQ(state.bthDeviceCount.load(), 1u);
    // Nor is a record cut before the notification handle.
    notice = HandleNotice(device, watch);
    notice.dbch_size = offsetof(DEV_BROADCAST_HANDLE, dbch_hdevnotify);
    EXPECT_EQ(SendNotice(window, DBT_DEVICEQUERYREMOVE, &notice), TRUE);
    EXPECT_EQ(slot.handle, device);
    // A notice of another kind of device carries no handle and closes nothing.
    DEV_BROADCAST_HDR volume = {};
    volume.dbch_size = sizeof volume;
    volume.dbch_devicetype = DBT_DEVTYP_VOLUME;
    SendNotice(window, DBT_DEVICEQUERYREMOVE, &volume);
    EXPECT_EQ(slot.handle, device);

    notice = HandleNotice(device, watch);
    EXPECT_EQ(SendNotice(window, DBT_DEVICEQUERYREMOVE, &notice), TRUE) << "the removal is granted";
    EXPECT_EQ(slot.handle, nullptr);
    EXPECT_EQ(state.bthDeviceCount.load(), 0u);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(device, &flags)) << "the handle is really closed";
    EXPECT_TRUE(GetHandleInformation(other, &flags));
    EXPECT_EQ(slot.pendingWatch.load(), watch) << "registered until the outcome";

    // Vetoed elsewhere: the same record, handle value and all, now says the device stays.
    EXPECT_EQ(SendNotice(window, DBT_DEVICEQUERYREMOVEFAILED, &notice), TRUE);
    EXPECT_EQ(slot.pendingWatch.load(), nullptr);
    EXPECT_NE(state.deviceWork.load() & kDeviceWorkDiscover, 0u) << "the device is opened again";

    // Granted and done: the outcome releases the notice.
    state.deviceWork = 0;
    HANDLE again = open();
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    void* againWatch = WatchDeviceRemoval(window, again);
    slot.handle = again;
    slot.removalWatch = againWatch;
    state.bthDeviceCount = 1;
    notice = HandleNotice(again, againWatch);
    EXPECT_EQ(SendNotice(window, DBT_DEVICEQUERYREMOVE, &notice), TRUE);
    EXPECT_EQ(slot.handle, nullptr);
    EXPECT_EQ(SendNotice(window, DBT_DEVICEREMOVECOMPLETE, &notice), TRUE);
    EXPECT_EQ(slot.pendingWatch.load(), nullptr);
    EXPECT_EQ(state.deviceWork.load(), 0u) << "a removed device is not looked for";

    UnwatchDeviceRemoval(otherWatch);
    CloseHandle(other);
    DeleteFileW(file);
    DestroyToolWindow(window);
}

} // namespace

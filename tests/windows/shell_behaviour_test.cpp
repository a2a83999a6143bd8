// The Win32 layer's own choices, run against Wine's real menus, strings, windows and handles:
// what a profile sub-menu offers for refused files, and how the main window answers the
// platform's device notices.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>

#include "app/app_win.h"
#include "monitor/tray_win.h"

#include <dbt.h>
#include "driver/device_port.h"
#include "monitor/menu_model.h"
#include "monitor/monitor.h"
#include "monitor/tray_icon.h"
#include "profiles/profile_library.h"
#include "profiles/profile_record.h"
#include "resources/resource.h"
#include "tests/windows/string_table.h"

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

// Each tray icon carries its own image for each size the tool picks, from 100 to 300 percent
// scaling, so the loader never stretches a 16-pixel picture.
TEST(TrayIcons, EachSmallIconSizeHasItsOwnImage) {
    HMODULE module = GetModuleHandleW(nullptr);
    for (int icon = IDI_TRAY_BASE; icon < IDI_TRAY_BASE + kTrayIconCount; ++icon) {
        HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(icon), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
        ASSERT_NE(group, nullptr) << icon;
        auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
        ASSERT_NE(directory, nullptr);
        for (int size : kTrayPictureSizes) {
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

namespace {

LRESULT CALLBACK QuitOnDestroyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND VisibleBox(const wchar_t* text) {
    HWND box = nullptr;
    while ((box = FindWindowExW(nullptr, box, L"#32770", L"Error")) != nullptr) {
        wchar_t shown[256] = {};
        GetDlgItemTextW(box, 0xFFFF, shown, 256);
        if (IsWindowVisible(box) && std::wstring(shown) == text)
            return box;
    }
    return nullptr;
}

} // namespace

// A Monitor thread that cannot start is reported in a box that stays until the user closes it,
// although the main window (whose end posts the quit message) goes down with it. A box needs a
// desktop: where the suite runs without one, the end-to-end tier runs this test on its display.
TEST(StartUpFailure, TheThreadBoxWaitsForTheUser) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = QuitOnDestroyProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PadwardenThreadFailureTest";
    RegisterClassW(&wc);
    static ToolState state;
    InitializeToolStateDefaults(&state);
    state.enableTrayIcon = 0;
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    if (window == nullptr)
        GTEST_SKIP() << "no desktop to show a box on";
    state.mainWindow = window;
    wchar_t text[256];
    LoadText(IDS_CANNOT_CREATE_THREAD, text, 256);
    int stayed = 0;
    std::thread user([&] {
        HWND box = nullptr;
        for (int i = 0; i < 500 && box == nullptr; ++i, Sleep(10))
            box = VisibleBox(text);
        if (box == nullptr)
            return;
        Sleep(500); // read by the user, not closed by itself
        stayed = IsWindow(box) && IsWindowVisible(box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    FailMonitorThreadStart(&state);
    user.join();
    EXPECT_EQ(stayed, 1) << "the box closed by itself";
    EXPECT_FALSE(IsWindow(window)) << "the window is taken down after the box";
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// A run whose Monitor thread is caught in a device call ends without releasing the
// single-instance mutex: the process's end abandons it. A normal run releases it.
TEST(StartUpFailure, AStuckMonitorKeepsTheInstanceMutexUntilTheProcessEnds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const wchar_t* name = L"Padwarden test instance mutex";
    for (int stuck = 0; stuck < 2; ++stuck) {
        HANDLE observer = CreateMutexW(nullptr, FALSE, name);
        ASSERT_NE(observer, nullptr);
        EXPECT_EXIT(
            {
                static ToolState state;
                InitializeToolStateDefaults(&state);
                HANDLE single = CreateMutexW(nullptr, FALSE, name);
                WaitForSingleObject(single, INFINITE);
                // A thread that never returns, as one waiting on a driver that never answers.
                state.monitorThread =
                    stuck ? CreateThread(
                                nullptr, 0, [](LPVOID) -> DWORD { return Sleep(INFINITE), 0; }, nullptr, 0,
                                nullptr)
                          : nullptr;
                EndRun(&state, single);
                ExitProcess(7);
            },
            ::testing::ExitedWithCode(stuck ? 0 : 7), "");
        const DWORD wait = WaitForSingleObject(observer, 5000);
        EXPECT_EQ(wait, stuck ? static_cast<DWORD>(WAIT_ABANDONED) : static_cast<DWORD>(WAIT_OBJECT_0))
            << (stuck ? "released before the process ended" : "a normal run releases it");
        ReleaseMutex(observer);
        CloseHandle(observer);
    }
}

namespace {

struct TemplateFont {
    DWORD style = 0;
    std::wstring face;
    BYTE charset = 0;
};

// The style and font of a dialog template of one language, read from the extended template.
TemplateFont FontOf(int dialog, WORD language) {
    TemplateFont font;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found =
        FindResourceExW(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(dialog), language); // RT_DIALOG
    if (found == nullptr)
        return font;
    const auto* p = static_cast<const WORD*>(LockResource(LoadResource(module, found)));
    if (p == nullptr || p[0] != 1 || p[1] != 0xFFFF)
        return font;
    font.style = *reinterpret_cast<const DWORD*>(p + 6);
    p += 13; // version, signature, help id, extended style, style, item count, x, y, cx, cy
    for (int field = 0; field < 2; ++field) { // menu, class: none, an ordinal or a string
        if (*p == 0xFFFF)
            p += 2;
        else
            p += wcslen(reinterpret_cast<const wchar_t*>(p)) + 1;
    }
    p += wcslen(reinterpret_cast<const wchar_t*>(p)) + 1; // the title
    if ((font.style & DS_SETFONT) == 0)
        return font;
    font.charset = reinterpret_cast<const BYTE*>(p + 2)[1];
    font.face = reinterpret_cast<const wchar_t*>(p + 3);
    return font;
}

} // namespace

// Another copy finds the running one by the window class and the single-instance mutex, which
// come from the string tables: they must be the same in both languages, unit for unit, or an
// English copy misses a Japanese one and runs beside it.
TEST(StringTables, TheNamesThatFindTheRunningCopyAreNotTranslated) {
    const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const LANGID japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
    for (UINT id : {IDS_CLASS_NAME, IDS_MUTEX_NAME}) {
        EXPECT_FALSE(TableString(id, english).empty()) << id;
        EXPECT_EQ(TableString(id, english), TableString(id, japanese)) << id;
    }
}

// The popups found by position hold what the tray code expects there, in every menu resource:
// a renumbered or reordered menu fails here, not as a wrong item greyed at run time.
TEST(MenuResources, ThePopupsStandWhereTheTrayLooksForThem) {
    const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const LANGID japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
    const auto holds = [](HMENU menu, UINT id) {
        for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i)
            if (GetMenuItemID(menu, i) == id)
                return true;
        return false;
    };
    const struct {
        int menu;
        LANGID language;
    } menus[] = {{IDM_TRAY, english}, {IDM_TRAY, japanese}, {IDM_TRAY_DEBUG, japanese}};
    for (const auto& m : menus) {
        SCOPED_TRACE(m.menu * 100000 + m.language);
        HRSRC found = FindResourceExW(nullptr, RT_MENU, MAKEINTRESOURCEW(m.menu), m.language);
        ASSERT_NE(found, nullptr);
        HMENU loaded = LoadMenuIndirectW(LockResource(LoadResource(nullptr, found)));
        ASSERT_NE(loaded, nullptr);
        HMENU popup = GetSubMenu(loaded, 0);
        ASSERT_NE(popup, nullptr);
        HMENU usb = GetSubMenu(popup, kMenuPosUsb);
        HMENU bth = GetSubMenu(popup, kMenuPosBluetooth);
        HMENU rumble = GetSubMenu(popup, kMenuPosRumble);
        HMENU registry = GetSubMenu(popup, kMenuPosRegistry);
        ASSERT_TRUE(usb != nullptr && bth != nullptr && rumble != nullptr && registry != nullptr);
        EXPECT_TRUE(holds(usb, IDM_USB_AUTO_FIRE) && holds(usb, IDM_USB_DRIVER_RESET));
        HMENU usbProfile = GetSubMenu(usb, kUsbPosProfile);
        EXPECT_TRUE(usbProfile != nullptr && holds(usbProfile, IDM_PROFILE_PLACEHOLDER));
        EXPECT_TRUE(holds(bth, IDM_BTH_PROFILE) && holds(bth, IDM_BTH_DRIVER_RESET));
        EXPECT_TRUE(holds(rumble, IDM_RUMBLE_PERMISSION));
        EXPECT_TRUE(holds(registry, IDM_MOVE_FF_SETTING));
        DestroyMenu(loaded);
    }
}

// English dialogs ask for the system's UI font; Japanese ones keep their own font and charset;
// the block viewer uses a fixed-pitch face that scales, in each language.
TEST(DialogFonts, EachLanguageGetsTheFontItsUsersExpect) {
    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const WORD japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
    for (int dialog :
         {IDD_TOOL_SETTING, IDD_VERSION, IDD_USB_INFORMATION, IDD_BTH_INFORMATION, IDD_RUMBLE_SETTING,
          IDD_FF_INFORMATION, IDD_AUTO_FIRE, IDD_DEBUG_INFORMATION, IDD_APP_PROFILES}) {
        const TemplateFont en = FontOf(dialog, english);
        EXPECT_EQ(en.style & DS_SHELLFONT, static_cast<DWORD>(DS_SHELLFONT)) << dialog;
        EXPECT_EQ(en.face, L"MS Shell Dlg 2") << dialog;
        const TemplateFont ja = FontOf(dialog, japanese);
        EXPECT_TRUE(ja.face == L"MS UI Gothic" || ja.face == L"MS Shell Dlg") << dialog << ": left as it was";
    }
    const TemplateFont viewerEn = FontOf(IDD_RUMBLE_VIEWER, english);
    const TemplateFont viewerJa = FontOf(IDD_RUMBLE_VIEWER, japanese);
    EXPECT_EQ(viewerEn.face, L"Consolas");
    EXPECT_EQ(viewerJa.face, L"MS Gothic");
    EXPECT_EQ(viewerJa.charset, 0x80);
}

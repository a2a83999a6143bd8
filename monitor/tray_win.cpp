// The tray icon and its menu on Windows: the pictures at the taskbar's scaling, the calls to the
// notification area, and the menu that monitor/menu_model.cpp describes.
#include <new>

#include "monitor/tray_win.h"
#include "monitor/command_availability.h"
#include "monitor/menu_model.h"
#include "monitor/tray_icon.h"
#include "monitor/tray_tip.h"
#include "profiles/profile_library.h"
#include "profiles/profile_record.h"
#include "core/scope_win.h"
#include "core/system_dlls_win.h"
#include "resources/resource.h"

#include <shellapi.h>

namespace {

static_assert(sizeof(NOTIFYICONDATAW) <= sizeof(NotifyIconStorage), "room for the notification record");

NOTIFYICONDATAW* Record(ToolState* state) {
    return reinterpret_cast<NOTIFYICONDATAW*>(state->notifyIcon.bytes);
}

// Shell_NotifyIconW waits for the taskbar's answer, up to four seconds while it is busy (at log-on,
// or hung). So each call is made with a copy of the record taken under trayLock and the lock free:
// neither thread waits for the other's call. Pictures that such a copy may still name are kept
// (trayRetiredIcons) until no call is under way. BeginTrayCall runs under the lock.
void BeginTrayCall(ToolState* state, NOTIFYICONDATAW* copy) {
    *copy = *Record(state);
    ++state->trayCallsUnderWay;
}

void DestroyIcons(IconHandle* icons) {
    for (int i = 0; i < kTrayIconCount; ++i)
        if (icons[i] != nullptr)
            DestroyIcon(static_cast<HICON>(icons[i]));
}

// Returns the set of pictures loaded now (trayPictureSet).
uint32_t EndTrayCall(ToolState* state) {
    IconHandle retired[kTrayIconCount] = {};
    uint32_t set;
    {
        std::lock_guard<std::mutex> hold(state->trayLock);
        if (--state->trayCallsUnderWay == 0) {
            for (int i = 0; i < kTrayIconCount; ++i) {
                retired[i] = state->trayRetiredIcons[i];
                state->trayRetiredIcons[i] = nullptr;
            }
        }
        set = state->trayPictureSet;
    }
    DestroyIcons(retired);
    return set;
}

// Version 4 brings the keyboard's own events and the point to open the menu at. A shell that
// refuses it keeps sending the old messages, which the callback reads as well.
void SetTrayVersion(NOTIFYICONDATAW copy) {
    copy.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &copy);
}

void SetItemState(HMENU menu, int position, UINT stateBits) {
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    info.fState = stateBits;
    SetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info);
}

// Replaces the sub-menu at `position` (null removes it) and destroys the one it held.
void ReplaceSubMenu(HMENU menu, int position, HMENU subMenu) {
    HMENU old = GetSubMenu(menu, position);
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_SUBMENU;
    info.hSubMenu = subMenu;
    if (SetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info) && old != nullptr && old != subMenu)
        DestroyMenu(old);
}

// Where the item with command id `id` stands in `menu`; -1 when it is not there.
int PositionOfCommand(HMENU menu, UINT id) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i)
        if (GetMenuItemID(menu, i) == id)
            return i;
    return -1;
}

// Greys and ticks every item that carries a command id as CommandAvailabilityOf says, in `menu`
// and its sub-menus; the popups, which carry none, are set from the menu model after this.
void ApplyCommandStates(const ToolState* state, HMENU menu) {
    for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
        HMENU sub = GetSubMenu(menu, i);
        if (sub != nullptr) {
            ApplyCommandStates(state, sub);
            continue;
        }
        const UINT id = GetMenuItemID(menu, i);
        if (id == 0 || id == static_cast<UINT>(-1)) // a separator
            continue;
        const CommandAvailability a = CommandAvailabilityOf(state, id);
        SetItemState(menu, i, (a.enabled ? 0u : MFS_GRAYED) | (a.checked ? MFS_CHECKED : 0u));
    }
}

// The transport's popup at `position`. Its "Profile" item is found by `profileId`, or, when that is
// 0, is the popup at kUsbPosProfile: the USB one is a popup in the resources, the Bluetooth one a
// plain item that becomes one here, as the menus have always been written.
void AdjustTransport(ToolState* state, HMENU popup, int position, const TransportMenuModel& model,
                     int transport, UINT profileId) {
    if (!model.enabled) {
        SetItemState(popup, position, MFS_GRAYED);
        return;
    }
    SetItemState(popup, position, 0);
    HMENU sub = GetSubMenu(popup, position);
    if (sub == nullptr)
        return;
    const int profilePosition = profileId != 0 ? PositionOfCommand(sub, profileId) : kUsbPosProfile;
    if (profilePosition >= 0 && model.profileEnabled) {
        HMENU profiles = BuildProfileMenu(state, transport);
        if (profiles != nullptr)
            ReplaceSubMenu(sub, profilePosition, profiles);
        SetItemState(sub, profilePosition, 0);
    } else if (profilePosition >= 0) {
        ReplaceSubMenu(sub, profilePosition, nullptr);
        SetItemState(sub, profilePosition, MFS_GRAYED);
    }
}

} // namespace

namespace {

// The scaling of the monitor the notification area is on. Our own window is hidden and 1 x 1, so
// its monitor says nothing about the tray's, and it does not reliably hear WM_DPICHANGED.
UINT TaskbarDpi() {
    const SystemCalls& calls = SystemDlls();
    auto dpiForWindow = calls.GetDpiForWindow;
    HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (taskbar != nullptr && dpiForWindow != nullptr) {
        const UINT dpi = dpiForWindow(taskbar);
        if (dpi != 0)
            return dpi;
    }
    auto dpiForSystem = calls.GetDpiForSystem;
    if (dpiForSystem != nullptr)
        return dpiForSystem();
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The tray's small-icon size at that scaling (Windows 10 and later), else the system's.
int TraySlot(UINT dpi) {
    auto metricsForDpi = SystemDlls().GetSystemMetricsForDpi;
    const int size = metricsForDpi != nullptr ? metricsForDpi(SM_CXSMICON, dpi) : 0;
    if (size > 0)
        return size;
    const int system = GetSystemMetrics(SM_CXSMICON);
    return system > 0 ? system : TraySlotSize(dpi);
}

// Wine's stand-alone tray (no system tray on the X desktop) paints a changed picture over the
// last one: its icon windows have no background brush, so every pixel left transparent keeps the
// frame before (Windows repaints the tray behind an icon itself). Asking that tray to repaint does
// not help for sure: it paints in its own order, now and then the icon before the background.
// So there each picture is handed over opaque, on the tray's own background colour. A tray docked
// in the X desktop's system tray draws with alpha and keeps the transparent pictures.
HWND WineStandaloneTray(const ToolState* state) {
    if (!state->underWine)
        return nullptr;
    HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    return tray != nullptr && IsWindowVisible(tray) ? tray : nullptr;
}

COLORREF TrayBackground(HWND tray) {
    const ULONG_PTR brush = GetClassLongPtrW(tray, GCLP_HBRBACKGROUND);
    // A class brush that small is a system colour index plus one, as window classes give it.
    if (brush != 0 && brush <= COLOR_MENUBAR + 1)
        return GetSysColor(static_cast<int>(brush - 1));
    LOGBRUSH info = {};
    if (brush != 0 && GetObjectW(reinterpret_cast<HBRUSH>(brush), sizeof info, &info) == sizeof info)
        return info.lbColor;
    return GetSysColor(COLOR_WINDOW);
}

// The picture drawn on `background`, with no transparent pixel left; null when it cannot be made.
HICON OpaqueIcon(HICON icon, int size, COLORREF background) {
    ScreenDc screen;
    if (screen.dc == nullptr)
        return nullptr;
    MemoryDc dc(screen.dc);
    GdiObject colour(CreateCompatibleBitmap(screen.dc, size, size));
    GdiObject mask(CreateBitmap(size, size, 1, 1, nullptr));
    GdiObject fill(CreateSolidBrush(background));
    if (dc.dc == nullptr || colour.object == nullptr || mask.object == nullptr || fill.object == nullptr)
        return nullptr;
    {
        SelectedObject onMask(dc.dc, mask.object);
        PatBlt(dc.dc, 0, 0, size, size, BLACKNESS); // an AND mask of zeros: every pixel opaque
    }
    {
        SelectedObject onColour(dc.dc, colour.object);
        RECT all = {0, 0, size, size};
        FillRect(dc.dc, &all, static_cast<HBRUSH>(fill.object));
        if (!DrawIconEx(dc.dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL))
            return nullptr;
    }
    // Both bitmaps are out of the DC again, as CreateIconIndirect wants them.
    ICONINFO info = {TRUE, 0, 0, static_cast<HBITMAP>(mask.object), static_cast<HBITMAP>(colour.object)};
    return CreateIconIndirect(&info);
}

} // namespace

int LoadTrayIcons(ToolState* state) {
    const int size = TrayPictureSize(TraySlot(TaskbarDpi()));
    // Settings and display notices come often and mostly change nothing the tray shows.
    HWND wineTray = WineStandaloneTray(state);
    const int32_t opaque = wineTray != nullptr ? 1 : 0;
    if (size == state->trayPictureSize && opaque == state->trayPicturesOpaque &&
        state->trayIcons[0] != nullptr)
        return 1;
    IconHandle fresh[kTrayIconCount] = {};
    for (int i = 0; i < kTrayIconCount; ++i) {
        // Asked for a size the icon holds, the loader takes that picture as it is, unstretched.
        fresh[i] = LoadImageW(static_cast<HINSTANCE>(state->instance), MAKEINTRESOURCEW(IDI_TRAY_BASE + i),
                              IMAGE_ICON, size, size, 0);
        if (fresh[i] == nullptr) {
            for (int k = 0; k < i; ++k)
                DestroyIcon(static_cast<HICON>(fresh[k]));
            return 0;
        }
    }
    if (wineTray != nullptr) {
        const COLORREF background = TrayBackground(wineTray);
        for (IconHandle& icon : fresh) {
            HICON flattened = OpaqueIcon(static_cast<HICON>(icon), size, background);
            if (flattened != nullptr) {
                DestroyIcon(static_cast<HICON>(icon));
                icon = flattened;
            }
        }
    }
    IconHandle old[kTrayIconCount] = {};
    NOTIFYICONDATAW copy;
    int send = 0;
    int busy = 0;
    {
        std::lock_guard<std::mutex> hold(state->trayLock);
        // While the set before last may still be named by a call under way, the new one waits for
        // a later notice: no more than one old set is kept.
        for (IconHandle icon : state->trayRetiredIcons)
            busy |= icon != nullptr;
        if (!busy) {
            for (int i = 0; i < kTrayIconCount; ++i) {
                old[i] = state->trayIcons[i];
                state->trayIcons[i] = fresh[i];
                if (state->trayCallsUnderWay != 0) {
                    state->trayRetiredIcons[i] = old[i];
                    old[i] = nullptr;
                }
            }
            ++state->trayPictureSet;
            state->trayPictureSize = size;
            state->trayPicturesOpaque = opaque;
            if (state->trayIconShown) {
                SelectTrayIcon(state);
                BeginTrayCall(state, &copy);
                send = 1;
            }
        }
    }
    DestroyIcons(busy ? fresh : old);
    // A refused set is not lost: the window tries again shortly, when the call has ended.
    if (busy && state->mainWindow != nullptr)
        SetTimer(static_cast<HWND>(state->mainWindow), kTrayReloadTimer, 250, nullptr);
    if (send) {
        Shell_NotifyIconW(NIM_MODIFY, &copy);
        EndTrayCall(state);
    }
    return busy ? 0 : 1;
}

int AddTrayIcon(ToolState* state) {
    if (!state->enableTrayIcon)
        return 0;
    NOTIFYICONDATAW copy;
    {
        std::lock_guard<std::mutex> hold(state->trayLock);
        state->statusBits = 1;
        state->animationTicks = 0;
        state->iconMode = kIconModeNone;
        state->iconValue = 1;
        NOTIFYICONDATAW* nid = new (state->notifyIcon.bytes) NOTIFYICONDATAW{};
        nid->cbSize = sizeof(NOTIFYICONDATAW);
        nid->hWnd = static_cast<HWND>(state->mainWindow);
        nid->uID = kTrayIconId;
        // Under version 4 the tooltip shows only when asked for.
        nid->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
        nid->uCallbackMessage = kTrayCallbackMessage;
        nid->hIcon = static_cast<HICON>(state->trayIcons[0]);
        lstrcpynW(nid->szTip, W(state->caption), 128);
        BeginTrayCall(state, &copy);
    }
    const BOOL added = Shell_NotifyIconW(NIM_ADD, &copy);
    if (added)
        SetTrayVersion(copy);
    EndTrayCall(state);
    {
        std::lock_guard<std::mutex> hold(state->trayLock);
        state->trayIconShown = added ? 1 : 0;
        state->trayAddFailed = added ? 0 : 1;
    }
    state->trayPictureShown = 0;
    return added ? 1 : 0;
}

int ReAddTrayIcon(ToolState* state) {
    if (!state->enableTrayIcon)
        return 0;
    NOTIFYICONDATAW copy;
    int modify;
    {
        std::lock_guard<std::mutex> hold(state->trayLock);
        modify = state->trayAddFailed;
        BeginTrayCall(state, &copy);
    }
    // An add that got no answer in time may have taken effect all the same, and then every later
    // add fails: after a failed add a modify looks first. One call a try, as each may take the
    // taskbar's whole timeout.
    const BOOL up = Shell_NotifyIconW(modify ? NIM_MODIFY : NIM_ADD, &copy);
    if (up)
        SetTrayVersion(copy);
    EndTrayCall(state);
    {
        std::lock_guard<std::mutex> hold(state->trayLock);
        if (up)
            state->trayIconShown = 1;
        // A failed modify says the icon is not there: the next try adds it.
        state->trayAddFailed = !up && !modify ? 1 : 0;
    }
    return up ? 1 : 0;
}

void SelectTrayIcon(ToolState* state) {
    Record(state)->hIcon = static_cast<HICON>(state->trayIcons[TrayIconIndex(state->iconValue.load())]);
}

void ModifyTrayIcon(ToolState* state) {
    if (!state->enableTrayIcon)
        return;
    // Pictures loaded while this call waited may have gone up before it, and this older copy would
    // then leave an old picture showing: it is sent again, naming the new set.
    for (int attempt = 0; attempt < 2; ++attempt) {
        NOTIFYICONDATAW copy;
        uint32_t set;
        {
            std::lock_guard<std::mutex> hold(state->trayLock);
            SelectTrayIcon(state);
            BeginTrayCall(state, &copy);
            set = state->trayPictureSet;
        }
        Shell_NotifyIconW(NIM_MODIFY, &copy);
        if (EndTrayCall(state) == set)
            return;
    }
}

void LoadTrayTipTexts(TrayTipTexts* texts) {
    struct Line {
        UINT id;
        Utf16* out;
    };
    const Line lines[] = {
        {IDS_TIP_USB_CONNECTED, texts->usbConnected},
        {IDS_TIP_USB_WAITING, texts->usbWaiting},
        {IDS_TIP_USB_NONE, texts->usbNone},
        {IDS_TIP_BTH_CONNECTED, texts->bthConnected},
        {IDS_TIP_BTH_LEVEL, texts->bthLevel},
        {IDS_TIP_BTH_CHARGING, texts->bthCharging},
        {IDS_TIP_BTH_FULL, texts->bthFull},
        {IDS_TIP_BTH_WAITING, texts->bthWaiting},
        {IDS_TIP_BTH_NONE, texts->bthNone},
        {IDS_TIP_BTH_LAST_LEVEL, texts->bthLastLevel},
        {IDS_TIP_BTH_LAST_SEEN, texts->bthLastSeen},
        {IDS_TIP_FF_NONE, texts->ffNone},
        {IDS_TIP_FF_ONE, texts->ffOne},
        {IDS_TIP_FF_MANY, texts->ffMany},
        {IDS_TIP_NO_LISTED, texts->noListed},
    };
    for (const Line& line : lines)
        LoadText(line.id, W(line.out), static_cast<int>(kTrayTipTextUnits));
}

void TellConnectionChange(ToolState* state, int transport, int up) {
    if (state->mainWindow != nullptr)
        PostMessageW(static_cast<HWND>(state->mainWindow), kConnectionMessage, static_cast<WPARAM>(transport),
                     up ? 1 : 0);
}

void SendTrayTip(ToolState* state, const Utf16* tip) {
    NOTIFYICONDATAW copy;
    {
        std::lock_guard<std::mutex> hold(state->trayLock);
        lstrcpynW(Record(state)->szTip, W(tip), static_cast<int>(kTrayTipUnits));
        if (!state->trayIconShown)
            return; // the next add carries it
        BeginTrayCall(state, &copy);
    }
    Shell_NotifyIconW(NIM_MODIFY, &copy);
    EndTrayCall(state);
}

void DeleteTrayIcon(ToolState* state) {
    NOTIFYICONDATAW copy;
    {
        std::lock_guard<std::mutex> hold(state->trayLock);
        BeginTrayCall(state, &copy);
        state->trayIconShown = 0;
    }
    Shell_NotifyIconW(NIM_DELETE, &copy);
    EndTrayCall(state);
}

HMENU BuildProfileMenu(ToolState* state, int transport) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return nullptr;
    const uint32_t count = state->profiles != nullptr ? ProfileMenuCount(state->profileCount) : 0;
    for (uint32_t i = 0; i < count; ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_STATE;
        info.fType = MFT_STRING;
        info.wID = ProfileCommandId(transport, i);
        // A refused file keeps its place, greyed, so the other profiles keep their ids. The tick
        // marks the profile last applied on this transport, by hand or by an application rule.
        info.fState = CommandAvailabilityOf(state, info.wID).enabled ? 0 : MFS_GRAYED;
        if (state->appliedProfile[transport ? 1 : 0].load() == i + 1)
            info.fState |= MFS_CHECKED;
        Utf16 title[kProfileTitleChars];
        if (!ProfileMenuText(state, i, title, kProfileTitleChars))
            LoadText(IDS_PROFILE_UNREADABLE, W(title), kProfileTitleChars);
        info.dwTypeData = W(title);
        InsertMenuItemW(menu, i, TRUE, &info);
    }
    return menu;
}

int ShowTrayMenu(ToolState* state, const TrayMenuRequest& request) {
    const TrayMenuModel model = ComputeTrayMenuModel(state);
    HMENU loaded = LoadMenuW(static_cast<HINSTANCE>(state->instance), MAKEINTRESOURCEW(model.menuId));
    if (loaded == nullptr)
        return 0;
    HMENU popup = GetSubMenu(loaded, 0);
    int tracked = 0;
    if (popup != nullptr) {
        ApplyCommandStates(state, popup);
        AdjustTransport(state, popup, kMenuPosUsb, model.usb, 0, 0);
        AdjustTransport(state, popup, kMenuPosBluetooth, model.bth, 1, IDM_BTH_PROFILE);
        SetItemState(popup, kMenuPosRumble, model.rumbleEnabled ? 0 : MFS_GRAYED);
        SetItemState(popup, kMenuPosRegistry, model.registryEnabled ? 0 : MFS_GRAYED);
        if (model.resetShield)
            MarkConsentItems(popup);

        // The point the shell names: the click, or the icon itself for the keyboard, on whichever
        // monitor the taskbar is; the cursor may be elsewhere.
        POINT at = {request.x, request.y};
        if (!request.anchored)
            GetCursorPos(&at);
        HWND owner = static_cast<HWND>(state->mainWindow);
        // The window must be in the foreground or the menu will not close when the user clicks away.
        SetForegroundWindow(owner);
        const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
        state->trayMenuOpen = 1;
        tracked =
            TrackPopupMenu(popup, TPM_BOTTOMALIGN | align | TPM_LEFTBUTTON, at.x, at.y, 0, owner, nullptr)
                ? 1
                : 0;
        state->trayMenuOpen = 0;
        PostMessageW(owner, WM_NULL, 0, 0);
        // A keyboard user came from the notification area and goes back there.
        if (request.open == TrayMenuOpen::ByKeyboard) {
            NOTIFYICONDATAW copy;
            {
                std::lock_guard<std::mutex> hold(state->trayLock);
                BeginTrayCall(state, &copy);
            }
            Shell_NotifyIconW(NIM_SETFOCUS, &copy);
            EndTrayCall(state);
        }
    }
    DestroyMenu(loaded);
    return tracked;
}

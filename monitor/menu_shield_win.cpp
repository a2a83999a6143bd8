// The shield that marks the menu items whose command asks for consent (the driver reset of an
// administrator running without elevation), drawn from the system's own stock icon.
#include "monitor/tray_win.h"

#include <shellapi.h>

#include "resources/resource.h"

namespace {

// A menu keeps only a pointer to the bitmap: it lives for the run, made once.
HBITMAP ShieldBitmap() {
    static HBITMAP bitmap = [] {
        SHSTOCKICONINFO info = {};
        info.cbSize = sizeof info;
        if (FAILED(SHGetStockIconInfo(SIID_SHIELD, SHGSI_ICON | SHGSI_SMALLICON, &info)) ||
            info.hIcon == nullptr)
            return static_cast<HBITMAP>(nullptr);
        const int cx = GetSystemMetrics(SM_CXSMICON);
        const int cy = GetSystemMetrics(SM_CYSMICON);
        // A top-down 32-bit DIB keeps the icon's alpha, which the menu draws blended.
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = cx;
        bi.bmiHeader.biHeight = -cy;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HDC screen = GetDC(nullptr);
        HBITMAP made = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HDC dc = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        if (made != nullptr && dc != nullptr) {
            HGDIOBJ old = SelectObject(dc, made);
            DrawIconEx(dc, 0, 0, info.hIcon, cx, cy, 0, nullptr, DI_NORMAL);
            SelectObject(dc, old);
        }
        if (dc != nullptr)
            DeleteDC(dc);
        DestroyIcon(info.hIcon);
        return made;
    }();
    return bitmap;
}

} // namespace

void MarkConsentItems(HMENU menu) {
    HBITMAP shield = ShieldBitmap();
    if (shield == nullptr)
        return;
    for (UINT id : {static_cast<UINT>(IDM_USB_DRIVER_RESET), static_cast<UINT>(IDM_BTH_DRIVER_RESET)}) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_BITMAP;
        info.hbmpItem = shield;
        SetMenuItemInfoW(menu, id, FALSE, &info);
    }
}

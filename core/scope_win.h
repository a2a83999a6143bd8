// Scope guards for Win32 handles and GDI objects, in the spirit of std::lock_guard: each undoes
// one step when its scope ends. Plain structs; nothing throws, and a null member does nothing.
#pragma once
#include <windows.h>

// The screen's device context, released.
struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ScreenDc() = default;
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    ~ScreenDc() {
        if (dc != nullptr)
            ReleaseDC(nullptr, dc);
    }
};

// A memory device context like `like`, deleted.
struct MemoryDc {
    HDC dc;
    explicit MemoryDc(HDC like) : dc(CreateCompatibleDC(like)) {}
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    ~MemoryDc() {
        if (dc != nullptr)
            DeleteDC(dc);
    }
};

// An object selected into a device context, and the one it replaced put back.
struct SelectedObject {
    HDC dc;
    HGDIOBJ before;
    SelectedObject(HDC into, HGDIOBJ object)
        : dc(into), before(into != nullptr && object != nullptr ? SelectObject(into, object) : nullptr) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (before != nullptr)
            SelectObject(dc, before);
    }
};

// A bitmap, brush or other GDI object, deleted. Put it out of every DC before the scope ends.
struct GdiObject {
    HGDIOBJ object;
    explicit GdiObject(HGDIOBJ made) : object(made) {}
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    ~GdiObject() {
        if (object != nullptr)
            DeleteObject(object);
    }
};

// A kernel handle, closed.
struct OwnedHandle {
    HANDLE handle;
    explicit OwnedHandle(HANDLE opened) : handle(opened) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

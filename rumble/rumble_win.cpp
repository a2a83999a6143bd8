// The real named objects behind the Rumble parameter block.
#include <windows.h>

#include "rumble/rumble_port.h"

namespace {

const wchar_t kMappingName[] = L"DUALSHOCK3 RUMBLE PARAMETERS";
const wchar_t kMutexName[] = L"DUALSHOCK3 Rumble Parameters Mutex Object";

} // namespace

KernelHandle RumblePortCreateMapping(uint32_t size) {
    return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, kMappingName);
}

uint8_t* RumblePortMapView(KernelHandle mapping, size_t* usable) {
    *usable = 0;
    auto* view =
        static_cast<uint8_t*>(MapViewOfFile(static_cast<HANDLE>(mapping), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view == nullptr)
        return nullptr;
    // The committed run from the view's start: a mapping made first by another process has its
    // own size, and one made with SEC_RESERVE may have no committed page at all.
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(view, &region, sizeof region) == sizeof region && region.State == MEM_COMMIT)
        *usable = region.RegionSize;
    return view;
}

void RumblePortUnmapView(uint8_t* view) {
    UnmapViewOfFile(view);
}

KernelHandle RumblePortCreateMutex(int* existed) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
    *existed = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    return mutex;
}

KernelHandle RumblePortOpenMutex() {
    return OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
}

RumbleWaitResult RumblePortWait(KernelHandle mutex, uint32_t timeoutMs) {
    switch (WaitForSingleObject(static_cast<HANDLE>(mutex), timeoutMs)) {
    case WAIT_OBJECT_0: return RumbleWaitResult::Signalled;
    case WAIT_ABANDONED: return RumbleWaitResult::Abandoned;
    case WAIT_TIMEOUT: return RumbleWaitResult::TimedOut;
    default: return RumbleWaitResult::Failed;
    }
}

void RumblePortRelease(KernelHandle mutex) {
    ReleaseMutex(static_cast<HANDLE>(mutex));
}

void RumblePortClose(KernelHandle handle) {
    CloseHandle(static_cast<HANDLE>(handle));
}

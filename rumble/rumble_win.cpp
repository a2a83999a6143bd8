// The real named objects behind the Rumble parameter block.
#include <windows.h>

#include <sddl.h>

#include "rumble/rumble_port.h"
#include "rumble/rumble_win.h"

namespace {

const wchar_t kMappingName[] = L"DUALSHOCK3 RUMBLE PARAMETERS";
const wchar_t kMutexName[] = L"DUALSHOCK3 Rumble Parameters Mutex Object";

// The tool is often run elevated (driver reset, the migration), and an elevated token's default
// access list names only SYSTEM and Administrators: every non-elevated game would be refused.
// INTERACTIVE (IU) is in the token of every program the logged-on user starts, elevated or not and
// whoever elevated the tool, and the plain name keeps the objects inside this session. It gets the
// objects' full rights, as the default list gave the user: many clients open them with
// FILE_MAP_ALL_ACCESS or MUTEX_ALL_ACCESS, and an open asking one right more than granted fails.
// No entry for app containers: they look a plain name up in their own namespace and never reach
// these objects. The low mandatory label lets low-integrity clients write.
const wchar_t kMappingSecurity[] = L"D:P(A;;0xF001F;;;SY)(A;;0xF001F;;;BA)(A;;0xF001F;;;IU)S:(ML;;NW;;;LW)";
const wchar_t kMutexSecurity[] = L"D:P(A;;0x1F0001;;;SY)(A;;0x1F0001;;;BA)(A;;0x1F0001;;;IU)S:(ML;;NW;;;LW)";

} // namespace

int BuildRumbleSecurity(RumbleObject object, PSECURITY_DESCRIPTOR* descriptor) {
    *descriptor = nullptr;
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(
               object == RumbleObject::Mapping ? kMappingSecurity : kMutexSecurity, SDDL_REVISION_1,
               descriptor, nullptr)
               ? 1
               : 0;
}

KernelHandle RumblePortCreateMapping(uint32_t size) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    BuildRumbleSecurity(RumbleObject::Mapping, &descriptor);
    // Without a descriptor (no memory for it) the default one still serves a tool that is not elevated.
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, descriptor != nullptr ? &attributes : nullptr,
                                        PAGE_READWRITE, 0, size, kMappingName);
    LocalFree(descriptor);
    return mapping;
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
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    BuildRumbleSecurity(RumbleObject::Mutex, &descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE mutex = CreateMutexW(descriptor != nullptr ? &attributes : nullptr, TRUE, kMutexName);
    *existed = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    LocalFree(descriptor);
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

// The device port of padwarden-sim.exe: every call is one round trip to ds3sim.exe over its named
// pipe (sim_pipe.h). Each call opens its own connection, so there is nothing to reconnect when the
// simulator restarts, and the Monitor thread and the main thread never wait on each other's
// exchange. With no simulator every call fails at once (0, End, null); a busy or silent one is
// given bounded time.
#include <windows.h>

#include <cstring>
#include <mutex>

#include "driver/device_port.h"
#include "sim/sim_pipe.h"

namespace {

constexpr DWORD kBusyWaitMs = 2000;
// Longer than the simulator's slowest fault (10 s), so a slow answer is still an answer.
constexpr DWORD kAnswerWaitMs = 15000;

const wchar_t* PipeName() {
    static std::once_flag once;
    static wchar_t name[300] = L"\\\\.\\pipe\\padwarden-ds3sim";
    std::call_once(once, [] {
        wchar_t value[256];
        DWORD n = GetEnvironmentVariableW(L"PADWARDEN_DS3SIM_PIPE", value, 256);
        if (n == 0 || n >= 256)
            return;
        const wchar_t prefix[] = L"\\\\.\\pipe\\";
        if (wcsncmp(value, prefix, 9) == 0)
            name[0] = 0;
        else
            wcscpy_s(name, prefix);
        wcscat_s(name, value);
    });
    return name;
}

// Finishes one overlapped transfer within `timeout`; on expiry the transfer is cancelled.
int FinishIo(HANDLE pipe, OVERLAPPED* o, BOOL started, DWORD* done) {
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return 0;
    if (WaitForSingleObject(o->hEvent, kAnswerWaitMs) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, o, done, TRUE);
        return 0;
    }
    return GetOverlappedResult(pipe, o, done, FALSE);
}

HANDLE ConnectToSimulator() {
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE pipe = CreateFileW(PipeName(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        if (GetLastError() != ERROR_PIPE_BUSY || GetTickCount() - start > kBusyWaitMs)
            return INVALID_HANDLE_VALUE;
        WaitNamedPipeW(PipeName(), 100);
    }
}

// One request, one answer; 0 when the simulator is absent, too slow or answers a bad frame.
int Call(const SimPipeMessage& request, SimPipeMessage* answer) {
    static thread_local uint8_t frame[kSimPipeMaxFrame];
    uint32_t size = EncodeSimMessage(request, frame, sizeof frame);
    if (size == 0)
        return 0;
    HANDLE pipe = ConnectToSimulator();
    if (pipe == INVALID_HANDLE_VALUE)
        return 0;
    DWORD mode = PIPE_READMODE_MESSAGE;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    int ok = event != nullptr && SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    DWORD done = 0;
    if (ok) {
        OVERLAPPED o = {};
        o.hEvent = event;
        ok = FinishIo(pipe, &o, WriteFile(pipe, frame, size, nullptr, &o), &done) && done == size;
    }
    if (ok) {
        ResetEvent(event);
        OVERLAPPED o = {};
        o.hEvent = event;
        ok = FinishIo(pipe, &o, ReadFile(pipe, frame, sizeof frame, nullptr, &o), &done) &&
             DecodeSimMessage(frame, done, answer);
    }
    if (event != nullptr)
        CloseHandle(event);
    CloseHandle(pipe);
    return ok;
}

SimPipeMessage& Scratch(int which) {
    static thread_local SimPipeMessage messages[2];
    messages[which] = SimPipeMessage();
    return messages[which];
}

SimPipeMessage& NewRequest(SimPipeOp op, uint32_t a = 0, uint32_t b = 0) {
    SimPipeMessage& m = Scratch(0);
    m.code = static_cast<uint32_t>(op);
    m.a = a;
    m.b = b;
    return m;
}

uint32_t HandleNumber(DeviceHandle device) {
    uintptr_t value = reinterpret_cast<uintptr_t>(device);
    return value <= 0xFFFFFFFFu ? static_cast<uint32_t>(value) : 0;
}

// Copies the answer's text with a terminator when it fits `capacity` units.
int CopyText(const SimPipeMessage& answer, Utf16* out, size_t capacity) {
    std::u16string text = GetSimText(answer);
    if (out == nullptr || text.size() + 1 > capacity)
        return 0;
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = text[i];
    out[text.size()] = 0;
    return 1;
}

// Enumeration answers: a text that does not fit the caller's buffer is skipped, as on Windows.
EnumResult EnumText(SimPipeOp op, uint32_t list, uint32_t index, Utf16* out, size_t capacity) {
    SimPipeMessage& answer = Scratch(1);
    if (!Call(NewRequest(op, list, index), &answer))
        return EnumResult::End;
    EnumResult r = EnumResultFromWire(answer.code);
    if (r == EnumResult::Found && !CopyText(answer, out, capacity))
        return EnumResult::Skip;
    return r;
}

uint32_t OpenList(SimPipeOp op) {
    SimPipeMessage& answer = Scratch(1);
    return Call(NewRequest(op), &answer) && answer.code ? answer.a : 0;
}

int Simple(SimPipeOp op, uint32_t a, uint32_t b = 0) {
    SimPipeMessage& answer = Scratch(1);
    return Call(NewRequest(op, a, b), &answer) && answer.code == 1;
}

int Transfer(SimPipeOp op, DeviceHandle device, uint8_t* buffer, uint32_t length) {
    if (buffer == nullptr || length > kSimPipeMaxPayload)
        return 0;
    SimPipeMessage& request = NewRequest(op, HandleNumber(device));
    request.length = length;
    std::memcpy(request.payload, buffer, length);
    SimPipeMessage& answer = Scratch(1);
    if (!Call(request, &answer) || answer.code != 1)
        return 0;
    if (op == SimPipeOp::GetFeature) {
        if (answer.length != length)
            return 0;
        std::memcpy(buffer, answer.payload, length);
    }
    return 1;
}

} // namespace

struct HidDeviceList {
    uint32_t id;
};

struct PresentDeviceList {
    uint32_t id;
};

HidDeviceList* OpenHidDeviceList() {
    uint32_t id = OpenList(SimPipeOp::OpenHidList);
    return id != 0 ? new HidDeviceList{id} : nullptr;
}

EnumResult EnumHidInterface(HidDeviceList* list, uint32_t index, Utf16* path, size_t capacity) {
    return list != nullptr ? EnumText(SimPipeOp::EnumHidInterface, list->id, index, path, capacity)
                           : EnumResult::End;
}

int GetHidInterfaceElement(HidDeviceList* list, uint32_t index, uint32_t* element) {
    SimPipeMessage& answer = Scratch(1);
    if (list == nullptr || element == nullptr ||
        !Call(NewRequest(SimPipeOp::GetHidElement, list->id, index), &answer) || answer.code != 1)
        return 0;
    *element = answer.a;
    return 1;
}

int GetHidParentInstanceId(HidDeviceList* list, uint32_t element, Utf16* id, size_t capacity) {
    SimPipeMessage& answer = Scratch(1);
    if (list == nullptr || !Call(NewRequest(SimPipeOp::GetHidParent, list->id, element), &answer) ||
        answer.code != 1)
        return 0;
    return CopyText(answer, id, capacity);
}

void CloseHidDeviceList(HidDeviceList* list) {
    if (list == nullptr)
        return;
    Simple(SimPipeOp::CloseHidList, list->id);
    delete list;
}

DeviceHandle OpenHidDevice(const Utf16* path) {
    if (path == nullptr)
        return nullptr;
    SimPipeMessage& request = NewRequest(SimPipeOp::OpenDevice);
    if (!PutSimText(&request, path, Utf16Length(path, kSimPipeMaxPayload / 2 + 1)))
        return nullptr;
    SimPipeMessage& answer = Scratch(1);
    if (!Call(request, &answer) || answer.code != 1)
        return nullptr;
    return reinterpret_cast<DeviceHandle>(static_cast<uintptr_t>(answer.a));
}

int GetHidUsage(DeviceHandle device, uint16_t* usagePage, uint16_t* usage) {
    SimPipeMessage& answer = Scratch(1);
    if (usagePage == nullptr || usage == nullptr ||
        !Call(NewRequest(SimPipeOp::GetUsage, HandleNumber(device)), &answer) || answer.code != 1)
        return 0;
    *usagePage = static_cast<uint16_t>(answer.a);
    *usage = static_cast<uint16_t>(answer.b);
    return 1;
}

int GetFeatureReport(DeviceHandle device, uint8_t* buffer, uint32_t length) {
    return Transfer(SimPipeOp::GetFeature, device, buffer, length);
}

int SetFeatureReport(DeviceHandle device, uint8_t* buffer, uint32_t length) {
    return Transfer(SimPipeOp::SetFeature, device, buffer, length);
}

void CloseHidDevice(DeviceHandle device) {
    if (device != nullptr)
        Simple(SimPipeOp::CloseDevice, HandleNumber(device));
}

PresentDeviceList* OpenPresentDeviceList(int withInterfaces) {
    SimPipeMessage& answer = Scratch(1);
    const uint32_t id =
        Call(NewRequest(SimPipeOp::OpenPresentList, withInterfaces ? 1u : 0u), &answer) && answer.code
            ? answer.a
            : 0;
    return id != 0 ? new PresentDeviceList{id} : nullptr;
}

EnumResult GetPresentDeviceInstanceId(PresentDeviceList* list, uint32_t index, Utf16* id, size_t capacity) {
    return list != nullptr ? EnumText(SimPipeOp::GetPresentId, list->id, index, id, capacity)
                           : EnumResult::End;
}

int RestartPresentDevice(PresentDeviceList* list, uint32_t index) {
    SimPipeMessage& answer = Scratch(1);
    if (list == nullptr || !Call(NewRequest(SimPipeOp::RestartPresent, list->id, index), &answer))
        return 0;
    return answer.code == 1 || answer.code == static_cast<uint32_t>(kRestartPending)
               ? static_cast<int>(answer.code)
               : 0;
}

int ClosePresentDeviceList(PresentDeviceList* list) {
    if (list == nullptr)
        return 0;
    int ok = Simple(SimPipeOp::ClosePresentList, list->id);
    delete list;
    return ok;
}

// The simulator's handle numbers are no system handles: ds3sim keeps the registration and sends
// the notices the system would, naming the handle and the id it gives back here.
void* WatchDeviceRemoval(void* window, DeviceHandle device) {
    const uint64_t hwnd = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window));
    if (hwnd == 0 || HandleNumber(device) == 0)
        return nullptr;
    SimPipeMessage& request =
        NewRequest(SimPipeOp::WatchDevice, HandleNumber(device), static_cast<uint32_t>(hwnd & 0xFFFFFFFFu));
    WriteU32LE(request.payload, static_cast<uint32_t>(hwnd >> 32));
    request.length = 4;
    SimPipeMessage& answer = Scratch(1);
    if (!Call(request, &answer) || answer.code != 1 || answer.a == 0)
        return nullptr;
    return reinterpret_cast<void*>(static_cast<uintptr_t>(answer.a));
}

void UnwatchDeviceRemoval(void* watch) {
    const uintptr_t notify = reinterpret_cast<uintptr_t>(watch);
    if (notify != 0 && notify <= 0xFFFFFFFFu)
        Simple(SimPipeOp::UnwatchDevice, static_cast<uint32_t>(notify));
}

// The simulator's devices belong to one simulated build at a time: no other session shares them.
int AcquireDriverSessionGuard(uint32_t) {
    return 0;
}

void ReleaseDriverSessionGuard() {}

void TraceDebugText(const Utf16* text) {
    if (text == nullptr)
        return;
    OutputDebugStringW(reinterpret_cast<const wchar_t*>(text));
    // Also into the simulator's log, so that end-to-end tests see what the tool traced.
    SimPipeMessage& request = NewRequest(SimPipeOp::Trace);
    SimPipeMessage& answer = Scratch(1);
    if (PutSimText(&request, text, Utf16Length(text, kSimPipeMaxPayload / 2)))
        Call(request, &answer);
}

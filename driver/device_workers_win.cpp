// The device workers' threads, the post that brings their answers back, and the consent-prompted
// launch of the elevated copy for a driver reset (the portable half is device_commands.cpp).
#include "driver/driver_win.h"

#include <objbase.h>
#include <shellapi.h>

#include "core/ui_port.h"
#include "resources/resource.h"

namespace {

struct WorkerStart {
    ToolState* state;
    int transport;
};
WorkerStart workerStarts[2];

DWORD WINAPI DeviceWorkerEntry(LPVOID parameter) {
    const auto* start = static_cast<const WorkerStart*>(parameter);
    // ShellExecuteExW may hand the launch to shell extensions, which want an apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    DeviceWorkerMain(start->state, start->transport);
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}

} // namespace

int StartDeviceWorkers(ToolState* state) {
    for (int transport : {kUsbTransport, kBthTransport}) {
        workerStarts[transport] = {state, transport};
        HANDLE thread = CreateThread(nullptr, 0, DeviceWorkerEntry, &workerStarts[transport], 0, nullptr);
        if (thread == nullptr)
            return 0;
        state->deviceQueues[transport].thread = thread;
    }
    return 1;
}

int StopDeviceWorkers(ToolState* state, ULONGLONG deadline) {
    int ended = 1;
    for (int transport : {kUsbTransport, kBthTransport})
        StopDeviceWorker(state, transport);
    for (int transport : {kUsbTransport, kBthTransport}) {
        HANDLE thread = static_cast<HANDLE>(state->deviceQueues[transport].thread);
        if (thread == nullptr)
            continue;
        const ULONGLONG now = GetTickCount64();
        const DWORD wait = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(thread, wait) != WAIT_OBJECT_0) {
            ended = 0;
            continue;
        }
        CloseHandle(thread);
        state->deviceQueues[transport].thread = nullptr;
    }
    return ended;
}

uint32_t QueueDeviceCommand(ToolState* state, int transport, DeviceCommand command, HWND reply) {
    command.replyWindow = reply;
    command.replyMessage = kDeviceOutcomeMessage;
    const uint32_t ticket = SubmitDeviceCommand(state, transport, command, CommandClock::now());
    if (ticket == 0) {
        ShowErrorMessage(reply, IDS_DRIVER_BUSY);
        return 0;
    }
    SetTimer(static_cast<HWND>(state->mainWindow), kDeviceBusyTimer, kDeviceBusyCheckMs, nullptr);
    return ticket;
}

int PostDeviceOutcome(WindowHandle window, uint32_t message, uint32_t ticket) {
    if (window == nullptr || !IsWindow(static_cast<HWND>(window)))
        return 0;
    return PostMessageW(static_cast<HWND>(window), message, ticket, 0) ? 1 : 0;
}

int RunElevatedReset(ToolState* state, const Utf16* parentInstanceId, uint32_t* exitCode) {
    // The id travels in quotes; one that holds a quote could end them and add arguments.
    const size_t length = Utf16Length(parentInstanceId, kInstanceIdChars);
    if (length == 0 || length >= kInstanceIdChars)
        return 0;
    for (size_t i = 0; i < length; ++i)
        if (parentInstanceId[i] == u'"' || parentInstanceId[i] < 0x20)
            return 0;
    wchar_t program[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH)
        return 0;
    wchar_t parameters[kInstanceIdChars + 32];
    wsprintfW(parameters, L"%s \"%s\"", kDriverResetSwitch, W(parentInstanceId));
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = static_cast<HWND>(state->mainWindow);
    info.lpVerb = L"runas";
    info.lpFile = program;
    info.lpParameters = parameters;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info))
        return GetLastError() == ERROR_CANCELLED ? kLaunchCancelled : 0;
    if (info.hProcess == nullptr)
        return 0;
    // A restart can take a while, but not for ever; a copy caught in the class installer past
    // this is given up on, and the tool looks for the device again.
    const ULONGLONG deadline = GetTickCount64() + 120000;
    DWORD waited = WAIT_TIMEOUT;
    while (waited == WAIT_TIMEOUT && GetTickCount64() < deadline &&
           !state->deviceQueues[kBthTransport].stop.load() && !state->deviceQueues[kUsbTransport].stop.load())
        waited = WaitForSingleObject(info.hProcess, 100);
    DWORD code = 1;
    const int ended = waited == WAIT_OBJECT_0 && GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    if (!ended)
        return 0;
    *exitCode = code;
    return 1;
}

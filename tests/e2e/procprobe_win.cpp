// Reads another process's handle count and private bytes from outside, as Task Manager would:
//   procprobe PID      prints "handles=N private=BYTES working=BYTES"; exit code 1 when the
//                      figures cannot be read.
//   procprobe PID names  prints the object name of each of the process's named file handles,
//                      one a line (an open HID device shows as its device object).
//   procprobe PID modules  prints the full path of each module the process has loaded, one a line.
// Handles are counted in the system handle table, which Wine serves as Windows does; Wine leaves
// the per-process counters (GetProcessHandleCount, PrivateUsage) at zero, so a private figure of
// 0 means "not provided" and the caller reads it elsewhere.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct HandleEntry {
    ULONG_PTR object;
    ULONG_PTR uniqueProcessId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR numberOfHandles;
    ULONG_PTR reserved;
    HandleEntry handles[1];
};

constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

using QuerySystemInformation = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);

// The system handle table's entries of process `pid`; 0 when the table cannot be read.
int ProcessHandles(DWORD pid, std::vector<HandleEntry>* out) {
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr)
        return 0;
    std::vector<unsigned char> buffer(1u << 20);
    for (int tries = 0; tries < 8; ++tries) {
        ULONG needed = 0;
        const NTSTATUS status = query(kSystemExtendedHandleInformation, buffer.data(),
                                      static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0)
            return 0;
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        const size_t room = (buffer.size() - offsetof(HandleTable, handles)) / sizeof(HandleEntry);
        const size_t n = table->numberOfHandles < room ? table->numberOfHandles : room;
        for (size_t i = 0; i < n; ++i)
            if (table->handles[i].uniqueProcessId == pid)
                out->push_back(table->handles[i]);
        return 1;
    }
    return 0;
}

using QueryObject = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kObjectTypeInformation = 2;

// The name of an object of type `wantedType` behind a handle of `process`, read from a duplicate.
std::wstring ObjectName(QueryObject query, HANDLE process, ULONG_PTR value, const wchar_t* wantedType) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return std::wstring();
    std::vector<unsigned char> info(4096);
    std::wstring name;
    // The type first: asking a pipe waiting in another process for its name can block.
    if (query(copy, kObjectTypeInformation, info.data(), static_cast<ULONG>(info.size()), nullptr) == 0) {
        const auto* type = reinterpret_cast<const UNICODE_STRING*>(info.data());
        std::wstring typeName(type->Buffer, type->Length / sizeof(wchar_t));
        if (typeName == wantedType &&
            query(copy, kObjectNameInformation, info.data(), static_cast<ULONG>(info.size()), nullptr) == 0) {
            const auto* text = reinterpret_cast<const UNICODE_STRING*>(info.data());
            if (text->Buffer != nullptr)
                name.assign(text->Buffer, text->Length / sizeof(wchar_t));
        }
    }
    CloseHandle(copy);
    return name;
}

int PrintFileNames(DWORD pid) {
    std::vector<HandleEntry> entries;
    auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    HANDLE process = OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid);
    if (query == nullptr || process == nullptr || !ProcessHandles(pid, &entries)) {
        std::printf("cannot read the handles\n");
        return 1;
    }
    for (const HandleEntry& e : entries) {
        std::wstring name = ObjectName(query, process, e.handleValue, L"File");
        if (!name.empty())
            std::printf("%ls\n", name.c_str());
    }
    CloseHandle(process);
    return 0;
}

int PrintModules(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    std::vector<HMODULE> modules(1024);
    DWORD needed = 0;
    if (process == nullptr ||
        !EnumProcessModules(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                            &needed)) {
        std::printf("cannot read the modules\n");
        return 1;
    }
    modules.resize(std::min<size_t>(modules.size(), needed / sizeof(HMODULE)));
    for (HMODULE module : modules) {
        wchar_t path[MAX_PATH] = {};
        if (GetModuleFileNameExW(process, module, path, MAX_PATH) != 0)
            std::printf("%ls\n", path);
    }
    CloseHandle(process);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool names = argc == 3 && std::wcscmp(argv[2], L"names") == 0;
    const bool modules = argc == 3 && std::wcscmp(argv[2], L"modules") == 0;
    if (argc != 2 && !names && !modules) {
        std::fputs("usage: procprobe PID [names|modules]\n", stdout);
        return 2;
    }
    const DWORD pid = static_cast<DWORD>(wcstoul(argv[1], nullptr, 0));
    if (names)
        return PrintFileNames(pid);
    if (modules)
        return PrintModules(pid);
    std::vector<HandleEntry> entries;
    if (!ProcessHandles(pid, &entries)) {
        std::printf("cannot read the handle table\n");
        return 1;
    }
    const unsigned long handles = static_cast<unsigned long>(entries.size());
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process != nullptr) {
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
        CloseHandle(process);
    }
    std::printf("handles=%lu private=%llu working=%llu\n", handles,
                static_cast<unsigned long long>(memory.PrivateUsage),
                static_cast<unsigned long long>(memory.WorkingSetSize));
    return 0;
}

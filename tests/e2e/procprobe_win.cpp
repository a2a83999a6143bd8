// Reads another process's handle count and private bytes from outside, as Task Manager would:
//   procprobe PID      prints "handles=N private=BYTES working=BYTES"; exit code 1 when the
//                      figures cannot be read.
// Handles are counted in the system handle table, which Wine serves as Windows does; Wine leaves
// the per-process counters (GetProcessHandleCount, PrivateUsage) at zero, so a private figure of
// 0 means "not provided" and the caller reads it elsewhere.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
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

int CountHandles(DWORD pid, unsigned long* count) {
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
        unsigned long mine = 0;
        for (size_t i = 0; i < n; ++i)
            if (table->handles[i].uniqueProcessId == pid)
                ++mine;
        *count = mine;
        return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: procprobe PID\n", stdout);
        return 2;
    }
    const DWORD pid = static_cast<DWORD>(wcstoul(argv[1], nullptr, 0));
    unsigned long handles = 0;
    if (!CountHandles(pid, &handles)) {
        std::printf("cannot read the handle table\n");
        return 1;
    }
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

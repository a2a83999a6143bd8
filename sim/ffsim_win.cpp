// ffsim.exe: simulated force-feedback clients. It opens the Rumble parameter block and its mutex
// by name, as the force-feedback driver does, claims slots, takes the parameters, answers the
// tool's requests and heartbeats, and plays the faults that the tests ask for. One process can
// hold several clients.
//
//   ffsim.exe [--script FILE] [--control FILE] [--log FILE]
//
// --script runs FILE's commands at start; --control polls FILE every 50 ms and runs each complete
// line appended to it after start. One command per line ('#' starts a comment):
//   claim NAME [MAJOR MINOR TYPE BUILD]   claims the lowest free slot (NAME is one UTF-8 word)
//   ack SLOT on|off                       resume or stop acknowledging
//   hold MS                               holds the mutex for MS milliseconds
//   die-holding                           ends the process while holding the mutex
//   clear-magic SLOT                      clears the slot's magic, its bit stays set
//   long-name SLOT                        fills all 64 units of ClientName, no terminator
//   release SLOT                          gives the slot back
//   squat BYTES                           creates the block's mapping first, at BYTES bytes, and
//                                         keeps it (another program that took the name)
//   note TEXT | sleep MS | quit
// Every change it sees goes to the log, one line each: "CLAIM", "ROW", "ENABLE", "ACK" (a request
// after a parameter change), "HEARTBEAT" (a request without one), "LOST" (the tool took the slot).
#include <windows.h>

#include <cstdio>
#include <shellapi.h>
#include <string>
#include <vector>

#include "sim/ff_client.h"

namespace {

constexpr DWORD kTickMs = 50;
constexpr DWORD kOpenWaitMs = 15000;
const wchar_t kMappingName[] = L"DUALSHOCK3 RUMBLE PARAMETERS";

struct Simulator {
    HANDLE mapping = nullptr;
    HANDLE mutex = nullptr;
    HANDLE squat = nullptr;
    uint8_t* block = nullptr;
    FfClients clients;
    FILE* log = nullptr;
    int quit = 0;
    std::wstring controlPath;
    uint64_t controlOffset = 0;
    std::string pending;
};

Simulator sim;

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
    if (sim.log != nullptr) {
        std::fputs((line + "\n").c_str(), sim.log);
        std::fflush(sim.log);
    }
}

// Opens the tool's block; the tool may start after us, so keep trying for a while. It asks for
// what a client uses: a read-write view, and waiting on and releasing the mutex.
int OpenBlock() {
    const ULONGLONG start = GetTickCount64();
    while (sim.block == nullptr) {
        if (sim.mapping == nullptr)
            sim.mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kMappingName);
        if (sim.mutex == nullptr)
            sim.mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE,
                                   L"DUALSHOCK3 Rumble Parameters Mutex Object");
        if (sim.mapping != nullptr && sim.mutex != nullptr)
            sim.block =
                static_cast<uint8_t*>(MapViewOfFile(sim.mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
        if (sim.block != nullptr)
            return 1;
        if (GetTickCount64() - start > kOpenWaitMs)
            return 0;
        Sleep(100);
    }
    return 1;
}

// An abandoned mutex is ours all the same.
void Lock() {
    WaitForSingleObject(sim.mutex, INFINITE);
}

void Unlock() {
    ReleaseMutex(sim.mutex);
}

void Step() {
    if (sim.block == nullptr)
        return;
    std::vector<std::string> lines;
    Lock();
    FfStep(sim.block, &sim.clients, &lines);
    Unlock();
    for (const std::string& line : lines)
        Say(line);
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        size_t start = i;
        while (i < line.size() && !(line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

int Number(const std::vector<std::string>& w, size_t i, uint32_t max, uint32_t* out) {
    if (i >= w.size() || w[i].empty() || w[i].size() > 10)
        return 0;
    uint64_t v = 0;
    for (char c : w[i]) {
        if (c < '0' || c > '9')
            return 0;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > max)
        return 0;
    *out = static_cast<uint32_t>(v);
    return 1;
}

std::wstring Wide(const std::string& text) {
    wchar_t out[128] = {};
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out, 127);
    return out;
}

// Runs a command on one of our slots under the mutex.
void SlotCommand(const std::vector<std::string>& w, int (*action)(uint8_t*, FfClients*, uint32_t)) {
    uint32_t slot = 0;
    if (!Number(w, 1, kFfSlotCount - 1, &slot) || sim.block == nullptr) {
        Say("error: " + w[0] + " needs a slot this process holds");
        return;
    }
    Lock();
    const int done = action(sim.block, &sim.clients, slot);
    Unlock();
    Say(done ? w[0] + " slot=" + std::to_string(slot)
             : "error: slot " + std::to_string(slot) + " is not ours");
}

void Claim(const std::vector<std::string>& w) {
    uint32_t v[4] = {1, 0, 0, 3};
    if (w.size() < 2 || (w.size() > 2 && !(Number(w, 2, 255, &v[0]) && Number(w, 3, 255, &v[1]) &&
                                           Number(w, 4, 255, &v[2]) && Number(w, 5, 65535, &v[3])))) {
        Say("error: claim NAME [MAJOR MINOR TYPE BUILD]");
        return;
    }
    if (!OpenBlock()) {
        Say("error: no rumble block to open");
        return;
    }
    const std::wstring name = Wide(w[1]);
    Lock();
    const int slot = FfClaim(sim.block, &sim.clients, reinterpret_cast<const Utf16*>(name.c_str()),
                             static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]),
                             static_cast<uint8_t>(v[2]), static_cast<uint16_t>(v[3]));
    Unlock();
    if (slot < 0) {
        Say("error: claim refused: all 32 rumble slots are in use");
        return;
    }
    Say("CLAIM slot=" + std::to_string(slot) + " name=" + w[1] + " version=" + std::to_string(v[0]) + "." +
        std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]));
}

void RunLine(const std::string& line) {
    const std::vector<std::string> w = Words(line);
    if (w.empty() || w[0][0] == '#')
        return;
    const std::string& c = w[0];
    uint32_t n = 0;
    if (c == "claim") {
        Claim(w);
    } else if (c == "ack" && w.size() == 3 && (w[2] == "on" || w[2] == "off") && Number(w, 1, 31, &n)) {
        Say(FfSetAcking(&sim.clients, n, w[2] == "on") ? "ACKING slot=" + std::to_string(n) + " " + w[2]
                                                       : "error: slot " + std::to_string(n) + " is not ours");
    } else if (c == "hold" && Number(w, 1, 600000, &n) && OpenBlock()) {
        Lock();
        Say("HOLD " + std::to_string(n));
        Sleep(n);
        Unlock();
        Say("HOLD released");
    } else if (c == "die-holding" && OpenBlock()) {
        Lock();
        Say("DIE holding the mutex");
        if (sim.log != nullptr)
            std::fclose(sim.log);
        ExitProcess(3);
    } else if (c == "clear-magic") {
        SlotCommand(w, [](uint8_t* b, FfClients* cl, uint32_t s) { return FfClearMagic(b, cl, s); });
    } else if (c == "long-name") {
        SlotCommand(
            w, [](uint8_t* b, FfClients* cl, uint32_t s) { return FfWriteUnterminatedName(b, cl, s, u'W'); });
    } else if (c == "release") {
        SlotCommand(w, [](uint8_t* b, FfClients* cl, uint32_t s) { return FfRelease(b, cl, s); });
    } else if (c == "squat" && Number(w, 1, 1 << 20, &n) && n > 0 && sim.squat == nullptr) {
        sim.squat = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, n, kMappingName);
        if (sim.squat != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(sim.squat);
            sim.squat = nullptr;
        }
        Say(sim.squat != nullptr ? "SQUAT " + std::to_string(n) : "error: the mapping exists already");
    } else if (c == "sleep" && Number(w, 1, 600000, &n)) {
        Sleep(n);
    } else if (c == "note") {
        Say("NOTE " + line.substr(line.find("note") + 4));
    } else if (c == "quit") {
        sim.quit = 1;
    } else {
        Say("error: unknown command [" + line + "]");
    }
}

void RunText(std::string* text) {
    size_t start = 0;
    for (size_t end; !sim.quit && (end = text->find('\n', start)) != std::string::npos; start = end + 1)
        RunLine(text->substr(start, end - start));
    text->erase(0, start);
}

int ReadFrom(const std::wstring& path, uint64_t* offset, std::string* out) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || static_cast<uint64_t>(size.QuadPart) < *offset)
        *offset = 0;
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(*offset);
    char chunk[4096];
    DWORD got = 0;
    const int ok =
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, chunk, sizeof chunk, &got, nullptr);
    CloseHandle(file);
    if (!ok)
        return 0;
    out->append(chunk, got);
    *offset += got;
    return 1;
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return 2;
    std::wstring script, logPath;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (i + 1 >= argc) {
            Say("usage: ffsim [--script FILE] [--control FILE] [--log FILE]");
            return 2;
        }
        if (arg == L"--script")
            script = argv[++i];
        else if (arg == L"--control")
            sim.controlPath = argv[++i];
        else if (arg == L"--log")
            logPath = argv[++i];
        else {
            Say("usage: ffsim [--script FILE] [--control FILE] [--log FILE]");
            return 2;
        }
    }
    LocalFree(argv);
    if (!logPath.empty() && _wfopen_s(&sim.log, logPath.c_str(), L"ab") != 0) {
        sim.log = nullptr;
        Say("error: cannot open the log");
    }
    if (!sim.controlPath.empty()) {
        std::string earlier;
        while (ReadFrom(sim.controlPath, &sim.controlOffset, &earlier) && !earlier.empty())
            earlier.clear();
    }
    Say("ffsim ready");
    if (!script.empty()) {
        uint64_t offset = 0;
        std::string text;
        size_t before = 0;
        do
            before = text.size();
        while (ReadFrom(script, &offset, &text) && text.size() - before == 4096);
        text.push_back('\n');
        RunText(&text);
    }
    while (!sim.quit) {
        Step();
        if (!sim.controlPath.empty() && ReadFrom(sim.controlPath, &sim.controlOffset, &sim.pending))
            RunText(&sim.pending);
        if (!sim.quit)
            Sleep(kTickMs);
    }
    Step();
    if (sim.log != nullptr)
        std::fclose(sim.log);
    return 0;
}

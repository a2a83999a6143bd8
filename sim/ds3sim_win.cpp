// ds3sim.exe: serves the simulated controller driver to padwarden-sim.exe over a named pipe
// (sim_pipe.h) and, like Windows, broadcasts WM_DEVICECHANGE / DBT_DEVNODES_CHANGED whenever its
// set of present devices changes.
//
//   ds3sim.exe [--hid] [--script FILE] [--control FILE] [--stdin] [--log FILE] [--pipe NAME]
//              [--restart-delay MS]
//
// --hid puts every present simulated device behind the system's HID stack: a root-enumerated
// device node served by the relay minidriver (hid_relay/, installed into the prefix from the INF
// beside this program on first use), which passes each feature request back here. Programs then
// find the devices through the device installer and the HID services, and the system, not this
// program, announces their arrival and removal. The nodes follow the simulator's device set
// (add, unplug, plug, remove, restart) and are all removed when it quits; nodes an earlier run
// left behind are removed at start. What the HID stack decides itself cannot be simulated here:
// the usage read (noCaps), the parent lookup (noParent), the list faults and the node restart
// (failRestart, needRestart) keep their effect on the pipe clients only.
//
// Over the pipe this program also plays the plug-and-play manager for the handles a client watches
// (its device port's WatchDeviceRemoval registers them here): a device that goes gets
// DBT_DEVICEREMOVECOMPLETE, and the command "query-remove N [veto]" does what Windows does on a
// disable, an uninstall or a driver update: DBT_DEVICEQUERYREMOVE to each watch of device N, sent
// and given kNoticeAnswerMs; a denial, a late answer or "veto" (another program's) fails the
// removal with DBT_DEVICEQUERYREMOVEFAILED, otherwise the device goes and DBT_DEVICEREMOVECOMPLETE
// follows. Each record is a DEV_BROADCAST_HANDLE naming the handle and the notification id the
// registration returned, as Windows names them. Behind the HID stack the system sends its own.
//
// --script runs FILE's commands before serving; --control polls FILE every 100 ms and runs each
// complete line appended to it after start (what it held before is left alone, so a restarted
// simulator does not replay an old run; a file that appears later is read from its start); --stdin runs
// commands as they arrive on standard input. Without --script and
// --stdin it starts with one USB and one Bluetooth device. The log file is also taken from the
// environment variable PADWARDEN_SIM_LOG; the pipe name from PADWARDEN_DS3SIM_PIPE (the same
// variable the client reads). --help lists the options and the commands. Replies and errors go to
// standard output, one line each; "ds3sim ready" is printed once the pipe accepts clients.
#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <shellapi.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/hid_nodes_win.h"
#include "sim/hid_relay/relay_wire.h"
#include "sim/sim_driver.h"
#include "sim/sim_pipe_server.h"

namespace {

constexpr int kPipeInstances = 4;
constexpr DWORD kTickMs = 50;
constexpr int kControlTicks = 2;
constexpr uint32_t kDefaultRestartDelayMs = 300;
constexpr DWORD kMaxScriptBytes = 1 << 20;
constexpr UINT kDevNodesChanged = 0x0007; // DBT_DEVNODES_CHANGED
constexpr int kNodeReadyMs = 10000;

// Longer than any sound answer; a window that keeps the manager waiting this long has vetoed.
constexpr DWORD kNoticeAnswerMs = 5000;

std::atomic<int> quitRequested{0};
std::mutex outputLock;
int hidMode = 0;
// Watches already told that their device is gone: each hears it once.
std::set<uint32_t> toldGone;

void Say(const std::string& text) {
    std::lock_guard<std::mutex> hold(outputLock);
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Narrow(const wchar_t* text) {
    return SimUtf16ToUtf8(reinterpret_cast<const Utf16*>(text), 32768);
}

const char* NoticeName(UINT event) {
    switch (event) {
    case DBT_DEVICEQUERYREMOVE: return "QUERYREMOVE";
    case DBT_DEVICEQUERYREMOVEFAILED: return "QUERYREMOVEFAILED";
    case DBT_DEVICEREMOVECOMPLETE: return "REMOVECOMPLETE";
    default: return "?";
    }
}

// One notice to the window that registered `w`, sent from this process as the system's come from
// its own: user32 copies a WM_DEVICECHANGE record into the receiver by dbch_size (the codes with
// bit 0x8000 carry one), so the window reads its own copy. 1 when it granted in time.
int SendHandleNotice(const SimWatch& w, UINT event) {
    DEV_BROADCAST_HANDLE record = {};
    record.dbch_size = sizeof record;
    record.dbch_devicetype = DBT_DEVTYP_HANDLE;
    record.dbch_handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(w.handle));
    record.dbch_hdevnotify = reinterpret_cast<HDEVNOTIFY>(static_cast<uintptr_t>(w.notify));
    DWORD_PTR result = 0;
    const ULONGLONG start = GetTickCount64();
    const BOOL answered =
        SendMessageTimeoutW(reinterpret_cast<HWND>(static_cast<uintptr_t>(w.window)), WM_DEVICECHANGE, event,
                            reinterpret_cast<LPARAM>(&record), SMTO_NORMAL, kNoticeAnswerMs, &result);
    const int granted = answered && result != BROADCAST_QUERY_DENY;
    SimLogNote("NOTICE " + std::string(NoticeName(event)) + " dev=" + std::to_string(w.deviceId) +
               " notify=" + std::to_string(w.notify) + " answer=" +
               (!answered ? "none"
                : granted ? "granted"
                          : "denied") +
               " ms=" + std::to_string(GetTickCount64() - start));
    return granted;
}

std::vector<SimWatch> WatchesOf(uint32_t dev) {
    std::vector<SimWatch> found;
    for (const SimWatch& w : SimWatches())
        if (w.deviceId == dev)
            found.push_back(w);
    return found;
}

// Only registrations still there hear of the outcome: a window that let its notice go is told nothing.
void TellStillWatching(const std::vector<SimWatch>& watches, UINT event) {
    for (const SimWatch& w : watches) {
        if (!SimWatchAlive(w.notify))
            continue;
        SendHandleNotice(w, event);
        if (event == DBT_DEVICEREMOVECOMPLETE)
            toldGone.insert(w.notify);
    }
}

void QueryRemove(uint32_t dev, int vetoElsewhere) {
    SimLogNote("QUERYREMOVE dev=" + std::to_string(dev));
    std::vector<SimWatch> asked;
    int vetoed = 0;
    for (const SimWatch& w : WatchesOf(dev)) {
        asked.push_back(w);
        if (!SendHandleNotice(w, DBT_DEVICEQUERYREMOVE)) {
            vetoed = 1;
            break;
        }
    }
    if (vetoed || vetoElsewhere) {
        TellStillWatching(asked, DBT_DEVICEQUERYREMOVEFAILED);
        SimLogNote("QUERYREMOVE dev=" + std::to_string(dev) + " vetoed");
        return;
    }
    SimSetPresent(dev, 0);
    TellStillWatching(WatchesOf(dev), DBT_DEVICEREMOVECOMPLETE);
    SimLogNote("QUERYREMOVE dev=" + std::to_string(dev) + " removed");
}

// A device that went without being asked (pulled out, restarted): its watches hear it once.
void TellGone() {
    const std::vector<uint32_t> present = SimPresentDevices();
    const std::vector<SimWatch> watches = SimWatches();
    std::set<uint32_t> live;
    std::vector<SimWatch> gone;
    for (const SimWatch& w : watches) {
        live.insert(w.notify);
        if (toldGone.count(w.notify) == 0 &&
            std::find(present.begin(), present.end(), w.deviceId) == present.end())
            gone.push_back(w);
    }
    // A registration let go is never named again: the set holds only live ones.
    for (auto it = toldGone.begin(); it != toldGone.end();)
        it = live.count(*it) != 0 ? std::next(it) : toldGone.erase(it);
    TellStillWatching(gone, DBT_DEVICEREMOVECOMPLETE);
}

// This program's own commands, which need the system; 0 when `line` is none of them.
int RunSystemCommand(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb != "query-remove")
        return 0;
    unsigned long dev = 0;
    std::string extra;
    words >> dev >> extra;
    if (dev == 0 || dev > 0xFFFFFFFFul || (!extra.empty() && extra != "veto"))
        Say("error: usage: query-remove N [veto] [" + line + "]");
    else if (hidMode)
        Say("error: behind the HID stack the system sends the notices [" + line + "]");
    else
        QueryRemove(static_cast<uint32_t>(dev), extra == "veto");
    return 1;
}

void RunLine(const std::string& line) {
    if (RunSystemCommand(line))
        return;
    std::string reply;
    switch (SimRunCommand(line.c_str(), &reply)) {
    case SimCommandResult::Quit: quitRequested = 1; break;
    case SimCommandResult::Failed: Say("error: " + reply + " [" + line + "]"); break;
    case SimCommandResult::Done:
        if (!reply.empty())
            Say(reply);
        break;
    }
}

// Runs the complete lines at the front of `pending` and keeps an unfinished last line.
void RunCompleteLines(std::string* pending) {
    size_t start = 0;
    for (size_t end; !quitRequested && (end = pending->find('\n', start)) != std::string::npos;
         start = end + 1)
        RunLine(pending->substr(start, end - start));
    pending->erase(0, start);
}

// Reads what lies in `path` from `*offset` on (at most `limit` bytes); 0 when it cannot be opened.
int ReadFrom(const std::wstring& path, uint64_t* offset, DWORD limit, std::string* out) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) < *offset)
        *offset = 0; // the file was replaced: start over
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(*offset);
    std::vector<char> chunk(limit);
    DWORD got = 0;
    int ok =
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, chunk.data(), limit, &got, nullptr);
    CloseHandle(file);
    if (!ok)
        return 0;
    out->append(chunk.data(), got);
    *offset += got;
    return 1;
}

struct ControlFile {
    std::wstring path;
    uint64_t offset = 0;
    std::string pending;
};

void PollControlFile(ControlFile* control) {
    if (control->path.empty())
        return;
    if (ReadFrom(control->path, &control->offset, 64 * 1024, &control->pending))
        RunCompleteLines(&control->pending);
}

void ReadStandardInput() {
    char line[2048];
    while (!quitRequested && std::fgets(line, sizeof line, stdin) != nullptr)
        RunLine(line);
}

HANDLE CreatePipeInstance(const std::wstring& name) {
    return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                            kSimPipeMaxFrame, kSimPipeMaxFrame, 0, nullptr);
}

// Answers requests on one connection until the client closes it or sends a bad frame.
void ServeConnection(HANDLE pipe) {
    static thread_local uint8_t frame[kSimPipeMaxFrame + 1];
    static thread_local SimPipeMessage request;
    static thread_local SimPipeMessage answer;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(pipe, frame, sizeof frame, &got, nullptr))
            return;
        if (!DecodeSimMessage(frame, got, &request)) {
            SimLogNote("PIPE bad frame size=" + std::to_string(got));
            return;
        }
        ServeSimRequest(request, &answer);
        uint32_t size = EncodeSimMessage(answer, frame, sizeof frame);
        DWORD put = 0;
        if (size == 0 || !WriteFile(pipe, frame, size, &put, nullptr) || put != size)
            return;
    }
}

void ServePipe(std::wstring name, HANDLE pipe) {
    while (!quitRequested) {
        if (pipe == INVALID_HANDLE_VALUE) {
            Sleep(100);
            pipe = CreatePipeInstance(name);
            continue;
        }
        if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED)
            ServeConnection(pipe);
        DisconnectNamedPipe(pipe);
    }
}

void BroadcastDeviceChange() {
    SimLogNote("BROADCAST WM_DEVICECHANGE DBT_DEVNODES_CHANGED");
    // Posted, not sent: a receiver busy with a pipe call into this process must not stall us.
    PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, kDevNodesChanged, 0);
}

std::wstring FullPipeName(const std::wstring& name) {
    if (name.rfind(L"\\\\.\\pipe\\", 0) == 0)
        return name;
    return L"\\\\.\\pipe\\" + name;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024];
    DWORD n = GetEnvironmentVariableW(name, value, 1024);
    return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

const char kUsage[] =
    "usage: ds3sim [--hid] [--script FILE] [--control FILE] [--stdin] [--log FILE] [--pipe NAME] "
    "[--restart-delay MS] [--help]";

int Usage() {
    Say(kUsage);
    return 2;
}

int Help() {
    std::string text =
        std::string(kUsage) +
        "\n"
        "  --hid            each device behind the system's HID stack (the relay minidriver)\n"
        "  --script FILE    run FILE's commands before serving\n"
        "  --control FILE   run each line appended to FILE after start\n"
        "  --stdin          run commands as they arrive on standard input\n"
        "  --log FILE       the request log (also PADWARDEN_SIM_LOG)\n"
        "  --pipe NAME      the pipe served (also PADWARDEN_DS3SIM_PIPE)\n"
        "  --restart-delay MS  how long a device restart takes\n"
        "Without --script and --stdin it starts with one USB and one Bluetooth device.\n" +
        SimScriptHelp() +
        "  query-remove N [veto]   ask the watches of device N whether it may go (pipe clients)\n"
        "What the tool makes of the values (device 1 is USB, 2 Bluetooth, as started):\n"
        "  battery V   0..5 the level (the icon shows low battery at 2 or less, once the notice is\n"
        "              on in the tool's settings: it is off by default); 0xEF full; 16 or more charging\n"
        "  status V    USB: 0 waiting for the PS button (the icon blinks it), 1 running.\n"
        "              Bluetooth: 4 waiting for the PS button; 18 running; 0 initializing, 1 reading\n"
        "              the device, 2/3 setting up and starting the link, 5 reading its name, 10 role\n"
        "              change, 11 HID set-up, 12/13 running (1)/(2), 14/16 waking from sleep,\n"
        "              15 disconnected by a stop negotiation, 17 disconnected by the user\n"
        "  mode V      0 normal, 1 advanced; error V   0 no error, any other shows as ---\n"
        "  link-quality, power, hci, lmp, manufacturer, adapter, remote: shown as they are in the\n"
        "              tool's Bluetooth driver information\n"
        "Icon states: unplug 2 (USB only), unplug 1 (Bluetooth only), set 1 status 0 and set 2\n"
        "status 4 (the PS-button wait), set 2 battery 1 (low battery, with the notice on), a\n"
        "force-feedback client (ffsim.exe) for the rumble wave.\n";
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return 0;
}

std::wstring BesideThisProgram(const wchar_t* file) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return file;
    std::wstring dir(path, n);
    size_t slash = dir.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash + 1)) + file;
}

// The relay's device nodes, kept equal to the simulator's present devices.
struct RelayNodes {
    std::wstring inf;
    std::vector<uint32_t> installed;
};

void SyncRelayNodes(RelayNodes* nodes) {
    std::vector<uint32_t> present = SimPresentDevices();
    for (size_t i = 0; i < nodes->installed.size();) {
        uint32_t n = nodes->installed[i];
        if (std::find(present.begin(), present.end(), n) != present.end()) {
            ++i;
            continue;
        }
        SimLogNote(RemoveRelayNode(n) ? "NODE remove dev=" + std::to_string(n)
                                      : "NODE remove dev=" + std::to_string(n) + " failed");
        nodes->installed.erase(nodes->installed.begin() + static_cast<std::ptrdiff_t>(i));
    }
    std::vector<uint32_t> added;
    for (uint32_t n : present) {
        if (std::find(nodes->installed.begin(), nodes->installed.end(), n) != nodes->installed.end())
            continue;
        std::string error;
        if (InstallRelayNode(nodes->inf, n, &error)) {
            nodes->installed.push_back(n);
            added.push_back(n);
        } else {
            // The next change of the device set tries again.
            SimLogNote("NODE add dev=" + std::to_string(n) + " failed " + error);
            Say("error: cannot install the relay node of device " + std::to_string(n) + ": " + error);
        }
    }
    // A node counts as added once programs can find it, so that "added" means "discoverable".
    for (int waited = 0; !added.empty(); waited += 50) {
        for (size_t i = 0; i < added.size();) {
            if (RelayNodeReady(added[i])) {
                SimLogNote("NODE add dev=" + std::to_string(added[i]));
                added.erase(added.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        if (waited >= kNodeReadyMs) {
            for (uint32_t n : added) {
                SimLogNote("NODE add dev=" + std::to_string(n) + " failed no-interface");
                Say("error: the relay node of device " + std::to_string(n) + " shows no HID interface");
            }
            break;
        }
        if (!added.empty())
            Sleep(50);
    }
}

void RemoveRelayNodes(RelayNodes* nodes) {
    for (uint32_t n : nodes->installed)
        SimLogNote(RemoveRelayNode(n) ? "NODE remove dev=" + std::to_string(n)
                                      : "NODE remove dev=" + std::to_string(n) + " failed");
    nodes->installed.clear();
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return 2;
    std::wstring script;
    std::wstring log = Environment(L"PADWARDEN_SIM_LOG");
    std::wstring pipeName = Environment(L"PADWARDEN_DS3SIM_PIPE");
    ControlFile control;
    int useStdin = 0;
    int hid = 0;
    uint32_t restartDelay = kDefaultRestartDelayMs;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        int hasValue = i + 1 < argc;
        if (arg == L"--stdin")
            useStdin = 1;
        else if (arg == L"--hid")
            hid = hidMode = 1;
        else if (arg == L"--script" && hasValue)
            script = argv[++i];
        else if (arg == L"--control" && hasValue)
            control.path = argv[++i];
        else if (arg == L"--log" && hasValue)
            log = argv[++i];
        else if (arg == L"--pipe" && hasValue)
            pipeName = argv[++i];
        else if (arg == L"--help" || arg == L"-h" || arg == L"/?")
            return Help();
        else if (arg == L"--restart-delay" && hasValue)
            restartDelay = static_cast<uint32_t>(wcstoul(argv[++i], nullptr, 10));
        else
            return Usage();
    }
    LocalFree(argv);
    pipeName = FullPipeName(pipeName.empty() ? std::wstring(L"padwarden-ds3sim") : pipeName);

    SimReset();
    // Handle numbers of an earlier run must not name a device of this one.
    SimSetIdBase((GetCurrentProcessId() & 0x7FFF) << 16);
    SimSetRestartDelay(restartDelay > 60000 ? 60000 : restartDelay);
    if (!log.empty() && !SimSetLogFile(Narrow(log.c_str()).c_str()))
        Say("error: cannot open log " + Narrow(log.c_str()));

    if (!script.empty()) {
        uint64_t offset = 0;
        std::string text;
        if (!ReadFrom(script, &offset, kMaxScriptBytes, &text)) {
            Say("error: cannot read script " + Narrow(script.c_str()));
            return 1;
        }
        text.push_back('\n');
        RunCompleteLines(&text);
    } else if (!useStdin) {
        SimAddDevice(SimKind::DriverUsb);
        SimAddDevice(SimKind::DriverBluetooth);
    }
    if (quitRequested) {
        SimSetLogFile(nullptr);
        return 0;
    }
    if (!control.path.empty()) {
        std::string earlier;
        while (ReadFrom(control.path, &control.offset, kMaxScriptBytes, &earlier) &&
               earlier.size() == kMaxScriptBytes)
            earlier.clear();
    }

    std::vector<HANDLE> instances;
    for (int i = 0; i < kPipeInstances; ++i)
        instances.push_back(CreatePipeInstance(pipeName));
    if (instances[0] == INVALID_HANDLE_VALUE) {
        Say("error: cannot create pipe " + Narrow(pipeName.c_str()));
        return 1;
    }
    if (hid) {
        const std::wstring relayPipe = FullPipeName(L"" RELAY_PIPE_NAME);
        for (int i = 0; i < kPipeInstances; ++i)
            instances.push_back(CreatePipeInstance(relayPipe));
        if (instances[kPipeInstances] == INVALID_HANDLE_VALUE) {
            Say("error: cannot create pipe " + Narrow(relayPipe.c_str()));
            return 1;
        }
    }
    for (size_t i = 0; i < instances.size(); ++i)
        std::thread(ServePipe, i < kPipeInstances ? pipeName : FullPipeName(L"" RELAY_PIPE_NAME),
                    instances[i])
            .detach();
    RelayNodes nodes;
    if (hid) {
        nodes.inf = BesideThisProgram(L"pwds3relay.inf");
        for (uint32_t n : ListRelayNodes())
            SimLogNote(RemoveRelayNode(n) ? "NODE leftover removed dev=" + std::to_string(n)
                                          : "NODE leftover dev=" + std::to_string(n) + " failed");
        SyncRelayNodes(&nodes);
    }
    if (useStdin)
        std::thread(ReadStandardInput).detach();

    SimLogNote("READY pipe=" + Narrow(pipeName.c_str()));
    Say("ds3sim ready pipe=" + Narrow(pipeName.c_str()));

    uint32_t seen = SimDeviceSetVersion();
    for (int tick = 0; !quitRequested; ++tick) {
        Sleep(kTickMs);
        SimPump();
        uint32_t now = SimDeviceSetVersion();
        if (now != seen) {
            seen = now;
            // Behind the HID stack the system announces the change itself.
            if (hid) {
                SyncRelayNodes(&nodes);
            } else {
                TellGone();
                BroadcastDeviceChange();
            }
        }
        if (tick % kControlTicks == 0)
            PollControlFile(&control);
    }
    RemoveRelayNodes(&nodes);
    SimLogNote("QUIT");
    SimSetLogFile(nullptr);
    Say("ds3sim quit");
    ExitProcess(0);
}

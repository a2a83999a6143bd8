// Writes the fuzzers' seed corpora from the native suite's fixtures: every profile file of the
// profile corpus, and driver answers made by the simulated driver in each of its states.
//   make_seeds OUTDIR     (one folder per fuzz target)
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/control_report.h"
#include "driver/device_port.h"
#include "rumble/rumble_block.h"
#include "sim/ff_client.h"
#include "sim/sim_driver.h"
#include "tests/native/profile_corpus.h"

namespace {

void Write(const std::filesystem::path& path, const std::string& bytes) {
    FILE* f = std::fopen(path.string().c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// The simulated driver's normal answer for device `id`, read through its device port.
std::string Answer(uint32_t id) {
    SimDevice d;
    if (!SimGetDevice(id, &d))
        return {};
    std::u16string path(d.path.begin(), d.path.end());
    DeviceHandle h = OpenHidDevice(path.c_str());
    uint8_t report[kReportSize];
    PrepareReadBuffer(report);
    const int ok = h != nullptr && GetFeatureReport(h, report, kReportSize);
    if (h != nullptr)
        CloseHidDevice(h);
    return ok ? std::string(reinterpret_cast<char*>(report), kReportSize) : std::string();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    for (const char* sub :
         {"profile_file", "driver_answer", "sim_script", "debug_text", "rumble_block", "rumble_values"})
        std::filesystem::create_directories(out / sub);

    for (const corpus::File& f : corpus::ProfileFiles())
        if (f.written)
            Write(out / "profile_file" / f.name, f.bytes);
    Write(out / "profile_file" / "reader.ini", corpus::ReaderFile());

    // The first byte of a driver-answer input chooses the transports that are up (bits 0, 1), a
    // failed read (bit 2), debug mode (3), the battery log (4) and the low-battery notice (5).
    const std::vector<std::pair<std::string, std::vector<std::string>>> states = {
        {"usb", {"add usb"}},
        {"bth", {"add bth"}},
        {"bth-waiting", {"add bth", "set 1 status 4"}},
        {"bth-low-battery", {"add bth", "set 1 battery 1"}},
        {"bth-charging", {"add bth", "set 1 battery 0xEE"}},
        {"usb-debug", {"add usb", "set 1 debug 1"}},
        {"bth-debug", {"add bth", "set 1 debug 1"}},
        {"bth-full",
         {"add bth", "set 1 version 2 0 0 20", "set 1 power -4 4", "set 1 autofire 0x1FFFF",
          "set 1 adapter 00:11:22:33:44:55", "set 1 remote 66:77:88:99:aa:bb"}},
    };
    for (const auto& [name, lines] : states) {
        SimReset();
        std::string script;
        for (const std::string& line : lines) {
            SimRunCommand(line.c_str(), nullptr);
            script += line + "\n";
        }
        const std::string answer = Answer(1);
        const char picks[] = {0x03, 0x3B, 0x3A, 0x01};
        for (char pick : picks)
            if (!answer.empty())
                Write(out / "driver_answer" / (name + "-" + std::to_string(int(pick))), pick + answer);
        Write(out / "sim_script" / (name + ".txt"), script);
        // Debug-text inputs: the first byte picks the transport (bit 0) and the view (bits 1..3);
        // the record carries the tag that the view expects.
        if (answer.size() > 9) {
            const bool bth = name.rfind("bth", 0) == 0;
            const char* tags[] = {nullptr, "INFO", "BTSP", "DRAW"};
            for (int type = 0; type < 4; ++type) {
                std::string record = answer;
                if (tags[type] != nullptr)
                    record.replace(5, 4, tags[type]);
                const char pick = static_cast<char>((type << 1) | (bth ? 1 : 0));
                Write(out / "debug_text" / (name + "-view" + std::to_string(type)), pick + record);
            }
        }
    }
    Write(
        out / "sim_script" / "faults.txt",
        "add usb\nadd bth\nadd foreign-joystick\nadd non-joystick\nfault 1 refuse-read\nfault 2 fail-write\n"
        "fault 2 stuck-debug\nfault 1 slow 1\nfault 3 no-parent\nfault 1 none\nunplug 2\nplug 2\nrestart 1\n"
        "restart-delay 0\nlist-fault hid\nlist-fault none\nset 2 raw 10 1 2 3\nset 2 raw-drift 1\n"
        "set 2 link disconnected\nset 1 tag DS3D\nset 1 usage 1 4\nset 1 path \\\\?\\hid#x\nshow 1\n"
        "note hello\nclear-log\nremove 1\n# comment\nquit\n");
    SimReset();

    // Rumble blocks as the simulated force-feedback clients leave them; the first byte is the
    // sweep count / 5.
    auto block = [&](const std::string& name, uint8_t sweeps, auto&& edit) {
        std::vector<uint8_t> bytes(kRumbleBlockSize, 0);
        WriteRumbleHeader(bytes.data(), 1);
        FfClients clients;
        edit(bytes.data(), &clients);
        std::vector<std::string> lines;
        FfStep(bytes.data(), &clients, &lines);
        Write(out / "rumble_block" / name,
              std::string(1, static_cast<char>(sweeps)) + std::string(bytes.begin(), bytes.end()));
    };
    block("fresh", 1, [](uint8_t*, FfClients*) {});
    block("one-client", 121, [](uint8_t* b, FfClients* c) { FfClaim(b, c, u"FFSim", 1, 0, 0, 3); });
    block("full", 2, [](uint8_t* b, FfClients* c) {
        for (int i = 0; i < 32; ++i)
            FfClaim(b, c, u"Client", 1, 2, 3, static_cast<uint16_t>(i));
    });
    block("odd-slots", 125, [](uint8_t* b, FfClients* c) {
        FfClaim(b, c, u"A", 1, 0, 0, 1);
        FfClaim(b, c, u"B", 1, 0, 0, 2);
        FfClaim(b, c, u"C", 1, 0, 0, 3);
        FfWriteUnterminatedName(b, c, 0, u'N');
        FfClearMagic(b, c, 1);
        FfSetAcking(c, 2, 0);
    });
    // Edit-control texts: five UTF-16LE texts separated by NUL units.
    const std::vector<std::vector<std::u16string>> texts = {
        {u"1.5", u"20", u"10", u"10", u"50"},
        {u"0.29", u"1.15", u"150", u"-1", u"abc"},
        {u"1e12", u"-1e12", u"inf", u"nan", u"1e400"},
        {u"12345678901234567890123456789012345678901234567890", u"21474836.47", u"-21474836.48", u"  12.5x",
         u""},
        {u"42949672.95", u"42949672.95", u"42949672.95", u"42949672.95", u"42949672.95"},
    };
    int n = 0;
    for (const auto& row : texts) {
        std::string bytes;
        for (const std::u16string& t : row) {
            for (char16_t c : t + u'\0') {
                bytes.push_back(static_cast<char>(c & 0xFF));
                bytes.push_back(static_cast<char>(c >> 8));
            }
        }
        Write(out / "rumble_values" / ("texts-" + std::to_string(n++)), bytes);
    }
    return 0;
}

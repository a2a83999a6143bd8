// The simulator's script lines come from test scripts and its control pipe: any text, one line at
// a time, against a fresh simulated driver.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/sim_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SimReset();
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    int lines = 0;
    while (start <= text.size() && lines++ < 64) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        // Sleeps stall the run and a log file would land wherever the input says: both are the
        // test runner's to use, not the input's.
        const size_t verb = line.find_first_not_of(" \t\r");
        const bool skipped = verb != std::string::npos &&
                             (line.compare(verb, 5, "sleep") == 0 || line.compare(verb, 3, "log") == 0);
        std::string reply;
        if (!skipped)
            SimRunCommand(line.c_str(), &reply);
        start = end + 1;
    }
    SimPump();
    return 0;
}

// Shared by the driver link suites: a fresh simulator and Tool state per test, and the
// simulator's request log condensed to what the tool sent and got.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/tool_state.h"
#include "sim/sim_driver.h"

class SimulatedDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        SimReset();
        state = std::make_unique<ToolState>();
        InitializeToolStateDefaults(state.get());
    }

    std::unique_ptr<ToolState> state;
};

inline std::string Field(const std::string& line, const std::string& key) {
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return "";
    at += key.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
}

inline int HasWord(const std::string& line, const char* word) {
    return line.find(std::string(" ") + word) != std::string::npos;
}

// One entry per GET or SET on device `dev`: "SET EnterDebugMode ok", "GET DBGB DRAW", "GET failed".
inline std::vector<std::string> Exchanges(uint32_t dev) {
    std::vector<std::string> out;
    for (const std::string& line : SimLogLines()) {
        if (Field(line, "dev") != std::to_string(dev))
            continue;
        if (line.rfind("SET ", 0) == 0) {
            std::string result = HasWord(line, "ok")         ? "ok"
                                 : HasWord(line, "rejected") ? "rejected"
                                                             : "failed";
            out.push_back("SET " + Field(line, "cmd") + " " + result);
        } else if (line.rfind("GET ", 0) == 0) {
            if (HasWord(line, "failed")) {
                out.push_back("GET failed");
            } else {
                std::string record = Field(line, "record");
                out.push_back("GET " + Field(line, "tag") + (record.empty() ? "" : " " + record));
            }
        }
    }
    return out;
}

// Log lines that start with `prefix` and name device `dev` (0: any device).
inline int CountLog(const std::string& prefix, uint32_t dev = 0) {
    int n = 0;
    for (const std::string& line : SimLogLines())
        if (line.rfind(prefix, 0) == 0 && (dev == 0 || Field(line, "dev") == std::to_string(dev)))
            ++n;
    return n;
}

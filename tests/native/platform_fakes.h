// What the native tests put in place of the tray and the battery-log file.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct FakeTray {
    std::mutex lock;
    std::vector<uint32_t> sentValues;     // iconValue of every modify call
    std::vector<std::u16string> sentTips; // every tooltip sent
};
FakeTray& TheFakeTray();

struct FakeLogFile {
    std::mutex lock;
    std::string written;
    uint32_t hour = 9, minute = 5, second = 3;
};
FakeLogFile& TheFakeLogFile();

#include "tests/native/ui_port_fake.h"

#include <mutex>

#include "core/ui_port.h"
#include "driver/device_commands.h"

namespace {
std::mutex shownLock;
std::vector<uint32_t>& Shown() {
    static std::vector<uint32_t> shown;
    return shown;
}
} // namespace

void ShowErrorMessage(WindowHandle, uint32_t stringId) {
    std::lock_guard<std::mutex> hold(shownLock);
    Shown().push_back(stringId);
}

std::vector<uint32_t> ShownErrors() {
    std::lock_guard<std::mutex> hold(shownLock);
    return Shown();
}

void ClearShownErrors() {
    std::lock_guard<std::mutex> hold(shownLock);
    Shown().clear();
}

namespace {
std::vector<FakePost>& Posts() {
    static std::vector<FakePost> posts;
    return posts;
}
int launchResult = 0;
uint32_t launchCode = 1;
std::vector<std::u16string>& Launches() {
    static std::vector<std::u16string> launches;
    return launches;
}
} // namespace

int PostDeviceOutcome(WindowHandle window, uint32_t message, uint32_t ticket) {
    std::lock_guard<std::mutex> hold(shownLock);
    if (window == nullptr)
        return 0;
    Posts().push_back({window, message, ticket});
    return 1;
}

std::vector<FakePost> PostedOutcomes() {
    std::lock_guard<std::mutex> hold(shownLock);
    return Posts();
}

void ClearPostedOutcomes() {
    std::lock_guard<std::mutex> hold(shownLock);
    Posts().clear();
}

void SetElevatedLaunch(int result, uint32_t exitCode) {
    std::lock_guard<std::mutex> hold(shownLock);
    launchResult = result;
    launchCode = exitCode;
    Launches().clear();
}

std::vector<std::u16string> ElevatedLaunches() {
    std::lock_guard<std::mutex> hold(shownLock);
    return Launches();
}

int RunElevatedReset(ToolState*, const Utf16* parentInstanceId, uint32_t* exitCode) {
    std::lock_guard<std::mutex> hold(shownLock);
    Launches().emplace_back(reinterpret_cast<const char16_t*>(parentInstanceId));
    if (launchResult == 1)
        *exitCode = launchCode;
    return launchResult;
}

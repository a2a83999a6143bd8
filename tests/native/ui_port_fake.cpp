#include "tests/native/ui_port_fake.h"

#include <mutex>

#include "core/ui_port.h"

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

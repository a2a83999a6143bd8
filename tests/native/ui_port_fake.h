// The native suite's ShowErrorMessage: it records the string ids instead of showing a box.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Ids shown since the last ClearShownErrors, in order.
std::vector<uint32_t> ShownErrors();
void ClearShownErrors();

// The device workers' posts, in order, and the elevated copy the tests put in place.
struct FakePost {
    void* window;
    uint32_t message;
    uint32_t ticket;
};
std::vector<FakePost> PostedOutcomes();
void ClearPostedOutcomes();
// What the next elevated launch answers (1 ran, kLaunchCancelled, 0 not started) and its exit
// code; the ids it was started with.
void SetElevatedLaunch(int result, uint32_t exitCode);
std::vector<std::u16string> ElevatedLaunches();

// Inside the simulator: the request log, which the simulated system writes and the public log
// calls read.
#pragma once
#include <mutex>
#include <string>

// The simulator's one lock. The device table shares it with the log, so that the lines of one
// call (GONE, BACK, RESTART of a restart) stay together and in the order of the changes they tell.
std::mutex& SimLock();
// Both with SimLock() held.
void SimLogLocked(const std::string& line);
void SimForgetLogLocked(); // the lines and the traces; a log file stays open

// printf into a string, cut at 511 characters.
std::string SimFormat(const char* format, ...);

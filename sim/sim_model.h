// Inside the simulator: the controller model, what the driver answers and how a request changes
// one device. It works on a SimDevice alone and never on the device table, so the in-process port,
// the pipe server and the relay all serve the same driver. The caller keeps other threads off the
// device (the simulated system holds SimLock()).
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "sim/sim_driver.h"

// Device `id` of `kind` with the defaults of its kind.
void SimInitDevice(SimDevice& d, SimKind kind, uint32_t id);
// What a driver restart forgets: the session, not the configuration.
void SimForgetSession(SimDevice& d);
int SimIsDriverDevice(const SimDevice& d);

// A feature read or write that reached `d`, answered as the driver does: 1 when it succeeds.
// `line` gets the request's log line, which names the device as `who`.
int SimModelGetFeature(SimDevice& d, const std::string& who, uint8_t* buffer, uint32_t length,
                       std::string* line);
int SimModelSetFeature(SimDevice& d, const std::string& who, const uint8_t* buffer, uint32_t length,
                       std::string* line);
// The log lines of a read or write that reached no device, failing for `reason`.
std::string SimGetFailedLine(const std::string& who, const char* reason);
std::string SimSetFailedLine(const std::string& who, const uint8_t* buffer, uint32_t length,
                             const char* reason);

// Holds a request back as the device's faults say before it is answered: by the slow fault, or,
// for a wedged driver (hang), until the fault is cleared or the device goes. `find` is called
// with SimLock() held and gives the device, or null when there is none.
void SimDelayAnswer(const std::function<const SimDevice*()>& find);

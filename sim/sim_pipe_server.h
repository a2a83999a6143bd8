// The server half of the pipe protocol (sim_pipe.h): one request against this process's
// simulated driver, one answer.
#pragma once
#include "sim/sim_pipe.h"

// Always fills `answer`; an unknown operation or a malformed request answers code 0.
void ServeSimRequest(const SimPipeMessage& request, SimPipeMessage* answer);

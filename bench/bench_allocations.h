// Heap allocations made so far through the benchmark's counting operator new.
#pragma once
#include <cstdint>

uint64_t BenchAllocations();

#include <benchmark/benchmark.h>

// The one entry point of corvane_bench; every bench/*.cpp only registers.
BENCHMARK_MAIN();

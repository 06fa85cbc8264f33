// SPDX-License-Identifier: MIT
// The end of every benchmark program's main, once its benchmarks are registered.
#pragma once

#include <benchmark/benchmark.h>

inline int runRegisteredBenchmarks(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

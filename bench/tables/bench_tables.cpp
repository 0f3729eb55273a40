// Build time of the IEC 60601-2-47 patterns: the hour-long pattern 4
// (3.6 million samples, 28.8 MB) and the one-minute pattern 1. Each iteration
// builds a fresh array and frees it, as a caller of getArray does.
#include "synth/Patterns.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

void BuildPattern(benchmark::State& state, IEC247_PATTERN pattern, int samples)
{
    getECG227Array();  // the template is built once per process; keep it out of the timing
    for (auto _ : state) {
        double* array = getArray(pattern);
        if (array == nullptr) {
            state.SkipWithError("getArray failed to allocate");
            break;
        }
        benchmark::DoNotOptimize(array[samples - 1]);
        std::free(array);
    }
    state.SetItemsProcessed(state.iterations() * samples);
}

void BM_BuildHourPattern4(benchmark::State& state)
{
    BuildPattern(state, IEC247_RR_1500MS_HOUR, 3600000);
}

void BM_BuildPattern1(benchmark::State& state)
{
    BuildPattern(state, IEC247_RR_800MS, 60000);
}

}  // namespace

BENCHMARK(BM_BuildHourPattern4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildPattern1)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

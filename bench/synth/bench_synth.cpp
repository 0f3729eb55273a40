// Cost of one streamed sample: the signal channel (_GetMainFunctionVoltage),
// the DC channel with pacing (_GetPacingV5) and the clock advance, as the
// streaming loop computes them, for every output function and for the
// heaviest combination of options. The budget is 25 us per sample (40000
// samples per second); the counter "allocs" counts operator new calls made
// while timing and must stay 0.
#include "synth/FunctionGenerator.h"
#include "synth/Pacing.h"
#include "synth/Respiration.h"
#include "synth/WorkingValues.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<long> g_nAllocations{0};
}

__attribute__((noinline)) void* operator new(std::size_t size)
{
    g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
__attribute__((noinline)) void operator delete(void* p) noexcept
{
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using namespace hsim;

// A loaded ECG file for codes 14 and 18: 10 s at 500 samples per second.
std::vector<double> g_File;
SynthState S;

void SelectDefaults()
{
    S = SynthState{};
    g_File.assign(5000, 0.0);
    for (size_t i = 0; i < g_File.size(); ++i) {
        g_File[i] = static_cast<double>(i % 700);
    }
    S.file.ECGFile = g_File.data();
    S.file.ECGFileSize = static_cast<int>(g_File.size());
    S.file.ECGFileFreq = 500.0;
}

// Derives the working values, as an applied change does.
void Apply()
{
    _PrepareStandardPattern(S);
    _DeriveWorkingValues(S);
    _DeriveVoltageRange(S);
}

// Streams samples while timing; the clock is wrapped back into [from, to)
// so that long runs stay on the interesting part of the waveform.
void StreamLoop(benchmark::State& state, double from, double to)
{
    const double dt = static_cast<double>(static_cast<Quad>(1) / static_cast<Quad>(S.out.nSampleRate));
    S.clock.fOutputTime = from;
    _RestartBeatScheduler(S);
    const long allocationsBefore = g_nAllocations.load();
    for (auto _ : state) {
        const double t = _FoldTime(S.clock.fOutputTime, S.clock.fTimePeriod);
        double pace = 0.0;
        double v = _GetMainFunctionVoltage(S, t);
        const double dc = _GetPacingV5(S, pace);
        v = v + pace;
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(dc);
        S.clock.fOutputTime += dt;
        if (S.clock.fOutputTime >= to) {
            S.clock.fOutputTime = from;
        }
    }
    state.counters["allocs"] = static_cast<double>(g_nAllocations.load() - allocationsBefore);
}

void BM_OutputFunction(benchmark::State& state)
{
    const int code = static_cast<int>(state.range(0));
    SelectDefaults();
    S.out.MainOutput = code;
    Apply();
    if (code == 15) {
        StreamLoop(state, 20.0, 1200.0);
    } else {
        StreamLoop(state, 0.0, 600.0);
    }
}
BENCHMARK(BM_OutputFunction)->DenseRange(0, 18)->ArgName("code");

// Custom beat with every option that costs per sample: respiration
// modulation of baseline, amplitude and rate (with the beat scheduler and
// an apnea), mains noise, baseline drift, and pacing with a second pulse and
// overshoot.
void BM_HeaviestCombination(benchmark::State& state)
{
    SelectDefaults();
    S.out.MainOutput = 8;
    S.out.F = 1.2;
    S.ecg.CusST = 0.1;
    S.test.MainNoise = static_cast<int>(state.range(0));  // 1: 50 Hz sine, 3: random
    S.test.AAMIDriftTest = true;
    S.pacing.PA = 2.0;
    S.pacing.PacingPulse = 1;
    S.pacing.PacingOvershootTC = 10;
    S.pacing.POA = 1.0;
    Apply();
    SetRespirationModel(S, 15, 2, 10, 20, 30, 10);
    StreamLoop(state, 0.0, 600.0);
}
BENCHMARK(BM_HeaviestCombination)->Arg(1)->Arg(3)->ArgName("noise");

} // namespace

BENCHMARK_MAIN();

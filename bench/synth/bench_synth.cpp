// Cost of one streamed sample: the signal channel (_GetMainFunctionVoltage),
// the DC channel with pacing (_GetPacingV5) and the clock advance, as the
// streaming loop computes them, for every output function and for the
// heaviest combination of options. The budget is 25 us per sample (40000
// samples per second); the counter "allocs" counts operator new calls made
// while timing and must stay 0.
#include "hsim.h"
#include "link/Port.h"
#include "synth/ChangeScheduler.h"
#include "synth/FunctionGenerator.h"
#include "synth/Pacing.h"
#include "synth/Parameters.h"
#include "synth/Respiration.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

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

// A loaded ECG file for codes 14 and 18: 10 s at 500 samples per second.
std::vector<double> g_File;

void SelectDefaults()
{
    g_nSampleRate = 40000;
    g_Amplitude = 1.0;
    g_F = 1.0;
    g_fOutputTime = 0.0;
    g_bECGGoing = false;
    g_PA = 0.0;
    g_MainNoise = 0;
    g_AAMIDriftTest = false;
    g_DynamicRangeTest = false;
    _ResetRespireModulation();
    g_nSpecialWaveform = 0;
    g_nANE20000ChannelNumber = 0;
    g_File.assign(5000, 0.0);
    for (size_t i = 0; i < g_File.size(); ++i) {
        g_File[i] = static_cast<double>(i % 700);
    }
    ECGFile = g_File.data();
    ECGFileSize = static_cast<int>(g_File.size());
    ECGFileFreq = 500.0;
}

// Streams samples while timing; the clock is wrapped back into [from, to)
// so that long runs stay on the interesting part of the waveform.
void StreamLoop(benchmark::State& state, double from, double to)
{
    const double dt = static_cast<double>(static_cast<Quad>(1) / static_cast<Quad>(g_nSampleRate));
    g_fOutputTime = from;
    _RestartBeatScheduler();
    const long allocationsBefore = g_nAllocations.load();
    for (auto _ : state) {
        const double t = _FoldTime(g_fOutputTime, g_fTimePeriod);
        double pace = 0.0;
        double v = _GetMainFunctionVoltage(t);
        const double dc = _GetPacingV5(pace);
        v = v + pace;
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(dc);
        g_fOutputTime += dt;
        if (g_fOutputTime >= to) {
            g_fOutputTime = from;
        }
    }
    state.counters["allocs"] = static_cast<double>(g_nAllocations.load() - allocationsBefore);
}

void BM_OutputFunction(benchmark::State& state)
{
    const int code = static_cast<int>(state.range(0));
    SelectDefaults();
    g_MainOutput = code;
    _Change();
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
    g_MainOutput = 8;
    g_F = 1.2;
    g_CusST = 0.1;
    g_MainNoise = static_cast<int>(state.range(0));  // 1: 50 Hz sine, 3: random
    g_AAMIDriftTest = true;
    g_PA = 2.0;
    g_PacingPulse = 1;
    g_PacingOvershootTC = 10;
    g_POA = 1.0;
    _Change();
    const int fd = open("/dev/null", O_RDWR);
    g_hDevice.store(fd);  // the parameter operation wants an open device
    SetRespireAlgorithmParam(15, 2, 10, 20, 30, 10);
    g_hDevice.store(-1);
    close(fd);
    StreamLoop(state, 0.0, 600.0);
}
BENCHMARK(BM_HeaviestCombination)->Arg(1)->Arg(3)->ArgName("noise");

} // namespace

BENCHMARK_MAIN();

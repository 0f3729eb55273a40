// Figures of the device link against the emulator: connect time, unplug and
// replug latency, one control block command, and the CPU the library's
// threads use while connected and idle. Each is repeated at least ten times;
// the report gives median and maximum.
#include "Emulator.h"
#include "hsim.h"
#include "hsim_ext.h"
#include "ThreadCpu.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Scene {
    std::string dir;
    std::unique_ptr<hsimemu::Emulator> emulator;

    explicit Scene(int port = 3)
    {
        char pattern[] = "/tmp/hsim-bench-XXXXXX";
        dir = mkdtemp(pattern);
        std::string format = dir + "/ttyACM%d";
        std::string locks = dir + "/lock";
        HSIMSetDeviceLocation(format.c_str(), locks.c_str());
        hsimemu::Options options;
        options.directory = dir;
        options.port = port;
        emulator = std::make_unique<hsimemu::Emulator>(options);
        emulator->start();
    }
    ~Scene()
    {
        HSIMFree();
        emulator.reset();
        HSIMSetDeviceLocation(nullptr, nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

std::mutex s_Mutex;
std::condition_variable s_Changed;
std::vector<std::pair<bool, Clock::time_point>> s_Calls;

void OnConnection(bool connected)
{
    std::lock_guard<std::mutex> guard(s_Mutex);
    s_Calls.emplace_back(connected, Clock::now());
    s_Changed.notify_all();
}

Clock::time_point WaitForCall(size_t index)
{
    std::unique_lock<std::mutex> lock(s_Mutex);
    s_Changed.wait_for(lock, std::chrono::seconds(20), [&] { return s_Calls.size() > index; });
    return s_Calls.size() > index ? s_Calls[index].second : Clock::now();
}

double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

void BM_ConnectByScanToPort3(benchmark::State& state)
{
    for (auto _ : state) {
        Scene scene;
        auto start = Clock::now();
        bool ok = HSIMConnect(-1, 10000);
        state.SetIterationTime(Seconds(start, Clock::now()));
        if (!ok)
            state.SkipWithError("no connection");
    }
}

void BM_UnplugToCallbackFalse(benchmark::State& state)
{
    for (auto _ : state) {
        Scene scene;
        {
            std::lock_guard<std::mutex> guard(s_Mutex);
            s_Calls.clear();
        }
        HSIMInit(OnConnection);
        WaitForCall(0);
        auto unplugged = Clock::now();
        scene.emulator->unplug();
        state.SetIterationTime(Seconds(unplugged, WaitForCall(1)));
    }
}

void BM_ReplugToCallbackTrue(benchmark::State& state)
{
    for (auto _ : state) {
        Scene scene;
        {
            std::lock_guard<std::mutex> guard(s_Mutex);
            s_Calls.clear();
        }
        HSIMInit(OnConnection);
        WaitForCall(0);
        scene.emulator->unplug();
        WaitForCall(1);
        auto replugged = Clock::now();
        scene.emulator->replug();
        state.SetIterationTime(Seconds(replugged, WaitForCall(2)));
    }
}

void BM_ControlBlockCommandRoundTrip(benchmark::State& state)
{
    Scene scene;
    HSIMConnect(3, 10000);
    for (auto _ : state) {
        auto start = Clock::now();
        bool ok = SetInputImpedanceMode(0, 1);
        state.SetIterationTime(Seconds(start, Clock::now()));
        if (!ok)
            state.SkipWithError("command failed");
    }
}

// CPU seconds of the threads named "hsim-*" (the library's), plus the
// children the presence test runs.
double LibraryCpuSeconds()
{
    double total = ThreadCpuSeconds("hsim-");
    rusage children;
    getrusage(RUSAGE_CHILDREN, &children);
    total += children.ru_utime.tv_sec + children.ru_utime.tv_usec / 1e6 + children.ru_stime.tv_sec +
             children.ru_stime.tv_usec / 1e6;
    return total;
}

void BM_IdleCpuOver60s(benchmark::State& state)
{
    Scene scene;
    HSIMConnect(3, 10000);
    for (auto _ : state) {
        double before = LibraryCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(60));
        double used = LibraryCpuSeconds() - before;
        state.SetIterationTime(used);
        state.counters["cpu_percent"] = used / 60.0 * 100.0;
    }
}

double Maximum(const std::vector<double>& v)
{
    double m = v.empty() ? 0.0 : v[0];
    for (double x : v)
        m = x > m ? x : m;
    return m;
}

}  // namespace

BENCHMARK(BM_ConnectByScanToPort3)->UseManualTime()->Iterations(1)->Repetitions(10)
    ->ComputeStatistics("max", Maximum)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly();
BENCHMARK(BM_UnplugToCallbackFalse)->UseManualTime()->Iterations(1)->Repetitions(10)
    ->ComputeStatistics("max", Maximum)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly();
BENCHMARK(BM_ReplugToCallbackTrue)->UseManualTime()->Iterations(1)->Repetitions(10)
    ->ComputeStatistics("max", Maximum)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly();
BENCHMARK(BM_ControlBlockCommandRoundTrip)->UseManualTime()->Iterations(1)->Repetitions(30)
    ->ComputeStatistics("max", Maximum)->Unit(benchmark::kMicrosecond)->ReportAggregatesOnly();
BENCHMARK(BM_IdleCpuOver60s)->UseManualTime()->Iterations(1)->Repetitions(10)
    ->ComputeStatistics("max", Maximum)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly();

BENCHMARK_MAIN();

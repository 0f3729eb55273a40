// The stream end to end against the emulator, for minutes:
//  1. as fast as the host answers: seconds of signal per second of wall time;
//  2. in real time while four threads call setters and getters without
//     pause: the device's underruns, the request-to-answer latency, the CPU
//     the poll thread uses, and how long a framed setter takes.
// usage: stream_soak [--fast-seconds N] [--seconds N]
#include "Emulator.h"
#include "hsim.h"
#include "hsim_ext.h"
#include "ThreadCpu.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Bench {
    std::string dir;
    std::unique_ptr<hsimemu::Emulator> emulator;

    explicit Bench(hsimemu::Pacing pacing)
    {
        char pattern[] = "/tmp/hsim-soak-XXXXXX";
        dir = mkdtemp(pattern);
        const std::string format = dir + "/ttyACM%d";
        const std::string locks = dir + "/lock";
        HSIMSetDeviceLocation(format.c_str(), locks.c_str());
        hsimemu::Options options;
        options.directory = dir;
        options.port = 3;
        options.pacing = pacing;
        options.realtime = pacing == hsimemu::Pacing::RealTime;
        emulator = std::make_unique<hsimemu::Emulator>(options);
        if (!emulator->start() || !HSIMConnect(3, 10000)) {
            fprintf(stderr, "no connection to the emulator\n");
            exit(1);
        }
    }
    ~Bench()
    {
        HSIMFree();
        emulator.reset();
        std::filesystem::remove_all(dir);
    }
};

// The heaviest setting: custom beat with pacing, overshoot, noise and drift.
void SelectHeaviest()
{
    HSIMSetFrequency(1.2);
    HSIMSetPacingAmplitude(2.0);
    HSIMSetPacingPulseMode(1);
    HSIMSetOvershootTimeConstant(10);
    HSIMSetOvershootAmplitude(1.0);
    SetECG2_27_Noise(1, 0.2);
    SetECG2_27_AAMIDriftTest(true);
    HSIMSetOutputFunction(OUTPUT_ECG_CUSTOM);
}

void PrintHealth(const char* title)
{
    HSIM_STREAM_HEALTH h;
    HSIMGetStreamHealth(&h);
    printf("%s: transfers %llu, answers %llu, failed writes %llu, late (> %.1f ms) %llu, window waits %llu "
           "(time-outs %llu)\n  request->answer p50 %.3f ms, p99 %.3f ms, max %.3f ms; longest computation "
           "%.3f ms; real-time scheduling %s\n",
           title, h.transfersSent, h.requestsAnswered, h.writeFailures, h.lateThresholdMs, h.lateAnswers, h.windowWaits,
           h.windowTimeouts, h.latencyP50Ms, h.latencyP99Ms, h.latencyMaxMs, h.computeMaxMs, h.realtime ? "yes" : "no");
}

void AsFastAsHost(double signalSeconds)
{
    Bench bench(hsimemu::Pacing::AsFastAsHost);
    SelectHeaviest();
    const uint64_t wanted = uint64_t(signalSeconds * 40000);
    const auto start = Clock::now();
    const uint64_t first = bench.emulator->streamStats().samples;
    while (bench.emulator->streamStats().samples - first < wanted)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const double wall = SecondsSince(start);
    const double played = double(bench.emulator->streamStats().samples - first) / 40000;
    HSIMSetOutputFunction(0);
    printf("as fast as the host answers: %.1f s of signal in %.3f s, %.0f x real time\n", played, wall, played / wall);
    PrintHealth("  stream health");
}

void RealTimeWithSetters(double seconds)
{
    Bench bench(hsimemu::Pacing::RealTime);
    SelectHeaviest();
    HSIMResetStreamHealth();
    const hsimemu::StreamStats before = bench.emulator->streamStats();
    const double cpuBefore = ThreadCpuSeconds("hsim-poll");
    std::atomic<bool> stop{false};
    std::vector<std::vector<double>> durations(4);
    auto worker = [&](int id) {
        durations[id].reserve(1 << 20);
        for (int i = 0; !stop.load(); ++i) {
            const auto t = Clock::now();
            switch (id) {
            case 0: HSIMSetAmplitude(i % 2 ? 1.0 : 1.5); break;
            case 1: HSIMSetQRSDuration(i % 2 ? 90.0 : 110.0); break;
            case 2: HSIMSetPWave(i % 2 ? 0.15 : 0.2); break;
            default: HSIMSetTWave(i % 2 ? 0.25 : 0.2); break;
            }
            durations[id].push_back(SecondsSince(t) * 1000.0);
            (void)HSIMGetAmplitude();
            (void)HSIMGetQRSDuration();
        }
    };
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int id = 0; id < 4; ++id)
        threads.emplace_back(worker, id);
    while (SecondsSince(start) < seconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    for (auto& t : threads)
        t.join();
    const double wall = SecondsSince(start);
    const double cpu = ThreadCpuSeconds("hsim-poll") - cpuBefore;
    const hsimemu::StreamStats after = bench.emulator->streamStats();
    HSIMSetOutputFunction(0);
    std::vector<double> all;
    for (auto& d : durations)
        all.insert(all.end(), d.begin(), d.end());
    std::sort(all.begin(), all.end());
    printf("real time for %.0f s with four threads calling setters and getters:\n", wall);
    printf("  device: %llu samples played, %llu underruns, %llu sequence errors\n",
           (unsigned long long)(after.samples - before.samples), (unsigned long long)(after.underruns - before.underruns),
           (unsigned long long)(after.sequenceErrors - before.sequenceErrors));
    PrintHealth("  stream health");
    const hsimemu::LatencyStats lat = bench.emulator->streamLatency();
    printf("  device side: request->data p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", lat.p50Ms, lat.p99Ms, lat.maxMs);
    printf("  poll thread CPU: %.2f %% of one core\n", 100.0 * cpu / wall);
    if (!all.empty())
        printf("  framed setter while streaming: %zu calls, median %.3f ms, p99 %.3f ms, max %.3f ms\n", all.size(),
               all[all.size() / 2], all[all.size() * 99 / 100], all.back());
}

}  // namespace

int main(int argc, char** argv)
{
    double fastSeconds = 60.0;
    double seconds = 600.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--fast-seconds") == 0)
            fastSeconds = atof(argv[i + 1]);
        else if (strcmp(argv[i], "--seconds") == 0)
            seconds = atof(argv[i + 1]);
    }
    if (fastSeconds > 0)
        AsFastAsHost(fastSeconds);
    if (seconds > 0)
        RealTimeWithSetters(seconds);
    return 0;
}

// Several simulators streaming from one process in real time, each with a
// thread of its own calling setters and getters without pause: per
// simulator, the device's underruns, the library's late answers, the longest
// setter and the CPU its poll thread uses.
// usage: simulators_soak [--simulators N] [--seconds S]
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

struct Simulator {
    int port = 0;
    std::unique_ptr<hsimemu::Emulator> emulator;
    HSIM_SIMULATOR* handle = nullptr;
    double setterMaxMs = 0.0;
    unsigned long long setterCalls = 0;
    double cpuBefore = 0.0;
};

// The heaviest setting: custom beat with pacing and overshoot, by name.
bool SelectHeaviest(HSIM_SIMULATOR* s)
{
    const struct { const char* name; double value; } settings[] = {
        {"frequency", 1.2}, {"pacing-amplitude", 2.0}, {"pacing-mode", 1},
        {"overshoot-time-constant", 10}, {"overshoot-amplitude", 1.0}, {"drift", 1}};
    for (const auto& setting : settings)
        if (HSIMSimSetParameter(s, setting.name, setting.value) != 0)
            return false;
    return HSIMSimSetOutputFunction(s, OUTPUT_ECG_CUSTOM) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    int count = 4;
    double seconds = 600.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--simulators") == 0)
            count = std::clamp(atoi(argv[i + 1]), 1, 16);
        else if (strcmp(argv[i], "--seconds") == 0)
            seconds = atof(argv[i + 1]);
    }
    char pattern[] = "/tmp/hsim-simulators-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    HSIMSetDeviceLocation((dir + "/ttyACM%d").c_str(), (dir + "/lock").c_str());
    std::vector<Simulator> simulators(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Simulator& s = simulators[size_t(i)];
        s.port = 3 + i;
        hsimemu::Options options;
        options.directory = dir;
        options.port = s.port;
        options.identity.number1 = uint16_t(100 + i);
        options.pacing = hsimemu::Pacing::RealTime;
        options.realtime = true;
        s.emulator = std::make_unique<hsimemu::Emulator>(options);
        if (!s.emulator->start() || (s.handle = HSIMOpen(s.port, 10000)) == nullptr || !SelectHeaviest(s.handle)) {
            fprintf(stderr, "simulator on port %d did not start\n", s.port);
            return 1;
        }
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (Simulator& s : simulators) {
        s.emulator->clearStreamStats();
        HSIM_STREAM_HEALTH h;
        HSIMSimGetStreamHealth(s.handle, &h);
        HSIMUse(s.handle);
        HSIMResetStreamHealth();
        HSIMUse(nullptr);
        s.cpuBefore = ThreadCpuSeconds("hsim-poll-" + std::to_string(s.port));
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (Simulator& s : simulators) {
        threads.emplace_back([&s, &stop] {
            for (unsigned long long i = 0; !stop.load(); ++i) {
                const auto t = Clock::now();
                HSIMSimSetParameter(s.handle, (i % 2) ? "amplitude" : "qrs-duration",
                                    (i % 2) ? (i % 4 == 1 ? 1.0 : 1.5) : (i % 4 == 0 ? 90.0 : 110.0));
                s.setterMaxMs = std::max(s.setterMaxMs, SecondsSince(t) * 1000.0);
                ++s.setterCalls;
                double value = 0.0;
                HSIMSimGetParameter(s.handle, "amplitude", &value);
            }
        });
    }
    while (SecondsSince(start) < seconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    for (auto& t : threads)
        t.join();
    const double wall = SecondsSince(start);
    printf("%d simulators in one process, real time for %.0f s, a thread per simulator calling setters:\n", count,
           wall);
    printf("  port  samples    underruns  late answers  p99 ms  max ms  setter calls  setter max ms  poll CPU %%\n");
    for (Simulator& s : simulators) {
        const hsimemu::StreamStats stats = s.emulator->streamStats();
        HSIM_STREAM_HEALTH h;
        HSIMSimGetStreamHealth(s.handle, &h);
        const double cpu = ThreadCpuSeconds("hsim-poll-" + std::to_string(s.port)) - s.cpuBefore;
        printf("  %4d  %9llu  %9llu  %12llu  %6.2f  %6.2f  %12llu  %13.3f  %10.2f\n", s.port,
               (unsigned long long)stats.samples, (unsigned long long)stats.underruns,
               (unsigned long long)h.lateAnswers, h.latencyP99Ms, h.latencyMaxMs, s.setterCalls, s.setterMaxMs,
               100.0 * cpu / wall);
    }
    for (Simulator& s : simulators)
        HSIMClose(s.handle);
    for (Simulator& s : simulators)
        s.emulator.reset();
    std::filesystem::remove_all(dir);
    return 0;
}

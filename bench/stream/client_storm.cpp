// The stream under a client whose threads call the library without pause,
// against the emulator running as a process of its own (hsim-emu --realtime,
// playing in real time as hardware does): the standard beat with pacing
// streams while N threads call getters, setters or both. It reports the
// library's stream health (late answers, the longest answer and computation),
// the device's side (underruns, answers later than 5 ms) and how long each
// setter took, waits for its turn and the command window included.
//
// usage: client_storm [--calls none|getters|setters|both] [--threads N]
//                     [--seconds S] [--load N] [--emulator PATH]
#include "ChildProcesses.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPort = 3;

double MsSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Getters of settings and identity, as a display polling them would call.
void CallGetters()
{
    MODEL_INFORMATION info;
    (void)HSIMGetAmplitude();
    (void)HSIMGetFrequency();
    (void)HSIMGetQRSDuration();
    (void)HSIMGetPacingAmplitude();
    (void)HSIMGetPacingRate();
    (void)HSIMGetOutputFunction();
    (void)HSIMGetDCOffset();
    (void)HSIMIsPlaying();
    (void)HSIMGetDeviceInformation(&info);
}

// Setters of every kind: a change at the cycle boundary (amplitude, rate), one
// from the next sample (QRS), device exchanges in the window (DC offset,
// input impedance). Each call's time is kept.
void CallSetter(int i, std::vector<double>& waits)
{
    const auto start = Clock::now();
    switch (i % 5) {
    case 0: HSIMSetAmplitude(i % 2 ? 1.0 : 1.5); break;
    case 1: HSIMSetQRSDuration(i % 2 ? 90.0 : 110.0); break;
    case 2: HSIMSetFrequency(i % 2 ? 1.2 : 1.25); break;
    case 3: HSIMSetDCOffset(i % 4, 0); break;
    default: HSIMSetInputImpedanceMode(i % 4, 0); break;
    }
    waits.push_back(MsSince(start));
}

std::string DefaultEmulator()
{
#ifdef HSIM_EMU_DEFAULT
    return HSIM_EMU_DEFAULT;
#else
    return "hsim-emu";
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    std::string calls = "both";
    int threads = 4;
    double seconds = 60;
    int load = 0;
    std::string program = getenv("HSIM_EMULATOR") ? getenv("HSIM_EMULATOR") : DefaultEmulator();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--calls")
            calls = argv[i + 1];
        else if (option == "--threads")
            threads = atoi(argv[i + 1]);
        else if (option == "--seconds")
            seconds = atof(argv[i + 1]);
        else if (option == "--load")
            load = atoi(argv[i + 1]);
        else if (option == "--emulator")
            program = argv[i + 1];
        else {
            fprintf(stderr, "usage: client_storm [--calls none|getters|setters|both] [--threads N] [--seconds S]"
                            " [--load N] [--emulator PATH]\n");
            return 2;
        }
    }
    if (calls == "none")
        threads = 0;
    char pattern[] = "/tmp/hsim-storm-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    soak::EmulatorProcess emulator;
    soak::Load spinners;
    std::string error;
    if (!emulator.Start(program, dir, kPort, error, {"--realtime"})) {
        fprintf(stderr, "client_storm: %s\n", error.c_str());
        return 3;
    }
    HSIMSetDeviceLocation((dir + "/ttyACM%d").c_str(), (dir + "/lock").c_str());
    if (!HSIMConnect(kPort, 10000)) {
        fprintf(stderr, "client_storm: no connection to the emulator\n");
        return 3;
    }
    HSIMSetFrequency(1.2);
    HSIMSetPacingAmplitude(2.0);
    HSIMSetOutputFunction(OUTPUT_ECG_STANDARD);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (load > 0)
        spinners.Start(load);
    auto before = emulator.Status();
    HSIMResetStreamHealth();
    std::atomic<bool> stop{false};
    std::vector<std::vector<double>> waits(size_t(std::max(threads, 1)));
    std::vector<std::thread> workers;
    for (int id = 0; id < threads; ++id) {
        workers.emplace_back([&, id] {
            waits[size_t(id)].reserve(1 << 20);
            for (int i = id; !stop.load(); ++i) {
                if (calls == "getters" || (calls == "both" && i % 2))
                    CallGetters();
                else
                    CallSetter(i / (calls == "both" ? 2 : 1), waits[size_t(id)]);
            }
        });
    }
    const auto start = Clock::now();
    while (MsSince(start) < seconds * 1000)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    for (auto& w : workers)
        w.join();
    HSIM_STREAM_HEALTH h{};
    HSIMGetStreamHealth(&h);
    auto after = emulator.Status();
    spinners.Stop();
    HSIMSetOutputFunction(0);
    HSIMFree();
    emulator.Stop();
    std::filesystem::remove_all(dir);

    std::vector<double> all;
    for (auto& w : waits)
        all.insert(all.end(), w.begin(), w.end());
    std::sort(all.begin(), all.end());
    printf("%d threads calling %s for %.0f s%s, real-time scheduling %s\n", threads, calls.c_str(),
           MsSince(start) / 1000, load > 0 ? (", " + std::to_string(load) + " spinning processes").c_str() : "",
           h.realtime ? "yes" : "no");
    printf("  library: %llu transfers, late answers (> %.0f ms) %llu, answer max %.2f ms (p99 %.2f), "
           "compute max %.2f ms, window waits %llu (time-outs %llu)\n",
           h.transfersSent, h.lateThresholdMs, h.lateAnswers, h.latencyMaxMs, h.latencyP99Ms, h.computeMaxMs,
           h.windowWaits, h.windowTimeouts);
    printf("  device: underruns %.0f, answers later than 5 ms %.0f, sequence errors %.0f\n",
           after["underruns"] - before["underruns"], after["over 5 ms"] - before["over 5 ms"],
           after["sequence errors"] - before["sequence errors"]);
    if (!all.empty())
        printf("  setters: %zu calls, wait median %.2f ms, p99 %.2f ms, max %.2f ms\n", all.size(),
               all[all.size() / 2], all[all.size() * 99 / 100], all.back());
    return 0;
}

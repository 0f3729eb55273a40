// Unplug and replug, cycle after cycle, against the emulator running as a
// process of its own (hsim-emu, driven through its standard input), as a
// test engineer would pull the cable:
//   connect -> stream the standard beat (or stay idle) for a random 0.5-2 s
//   -> unplug -> time until the connection callback hears false
//   -> replug -> time until it hears true.
// Optionally with busy processes spinning on the CPU at ordinary priority,
// as a build and its tests would. A plain program: it measures the wall-clock
// latency of whole cycles.
//
// usage: unplug_soak [--cycles N] [--idle] [--load N] [--seed N]
//                    [--emulator PATH] [--verbose]
// Exit status: 0 every loss and every replug reported within 10 s, 1 at
// least one was not, 2 bad command line, 3 the emulator or the first
// connection could not be had, 130 interrupted.
#include "hsim.h"
#include "hsim_ext.h"
#include "ChildProcesses.h"
#include "ThreadCpu.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPort = 3;
constexpr double kGoalSeconds = 3.0;      // every loss reported within this
constexpr double kMissSeconds = 10.0;     // a cycle that takes longer failed
constexpr double kGiveUpSeconds = 30.0;   // then the link is taken as wedged
constexpr int kSampleMs = 20;             // waits look at the clock this often

std::atomic<bool> s_Interrupted{false};

void OnSignal(int)
{
    s_Interrupted.store(true);
}

double SecondsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Sleeps, in short steps, until the time or an interruption.
void SleepUntil(Clock::time_point until)
{
    while (!s_Interrupted.load() && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(kSampleMs)));
}

// ------------------------------------------------- the connection callback

std::mutex s_CallsMutex;
std::condition_variable s_CallsChanged;
std::vector<std::pair<bool, Clock::time_point>> s_Calls;  // what the callback heard, when

void OnConnection(bool connected)
{
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> guard(s_CallsMutex);
        s_Calls.emplace_back(connected, now);
    }
    s_CallsChanged.notify_all();
}

size_t CallCount()
{
    std::lock_guard<std::mutex> guard(s_CallsMutex);
    return s_Calls.size();
}

// The time of the first call from index from on that told wanted, waiting
// until the deadline. While it waits, sample() is called every few ms.
template <class Sample>
std::optional<Clock::time_point> WaitForCall(size_t from, bool wanted, Clock::time_point deadline, Sample sample)
{
    std::unique_lock<std::mutex> guard(s_CallsMutex);
    for (;;) {
        for (size_t i = from; i < s_Calls.size(); ++i)
            if (s_Calls[i].first == wanted)
                return s_Calls[i].second;
        if (s_Interrupted.load() || Clock::now() >= deadline)
            return std::nullopt;
        s_CallsChanged.wait_for(guard, std::chrono::milliseconds(kSampleMs));
        guard.unlock();
        sample();
        guard.lock();
    }
}

std::optional<Clock::time_point> WaitForCall(size_t from, bool wanted, Clock::time_point deadline)
{
    return WaitForCall(from, wanted, deadline, [] {});
}

// ---------------------------------------------------------------- figures

struct Cycle {
    double streamedSeconds = 0;
    unsigned long long transfers = 0;  // sent in this connection before the unplug
    bool startRefused = false;
    bool realtime = false;             // the poll thread had real-time scheduling
    double unplugAckMs = 0;            // until the emulator said "unplugged"
    std::optional<double> loss;        // unplug -> callback false, seconds
    double pollCpuSeconds = 0;         // the poll thread's CPU from the unplug on
    double replugAckMs = 0;
    std::optional<double> replug;      // replug -> callback true, seconds
};

// Median (mean of the middle two for an even count) and nearest-rank
// percentiles of a sorted list.
double Median(const std::vector<double>& sorted)
{
    const size_t n = sorted.size();
    return n == 0 ? 0 : n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

double Percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    size_t rank = size_t(std::ceil(p / 100.0 * double(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

void PrintCycle(size_t index, const Cycle& c, bool idle)
{
    printf("cycle %3zu: ", index + 1);
    if (idle)
        printf("idle %.2f s", c.streamedSeconds);
    else
        printf("streamed %.2f s (%llu transfers%s)", c.streamedSeconds, c.transfers,
               c.startRefused ? ", START REFUSED" : "");
    printf(", unplug ack %.0f ms, loss ", c.unplugAckMs);
    if (c.loss)
        printf("%.3f s%s", *c.loss, *c.loss > kMissSeconds ? " (LATE)" : *c.loss > kGoalSeconds ? " (over 3 s)" : "");
    else
        printf("NOT REPORTED");
    printf(" (poll thread CPU %.2f s), replug ack %.0f ms, taken up ", c.pollCpuSeconds, c.replugAckMs);
    if (c.replug)
        printf("%.3f s%s\n", *c.replug, *c.replug > kMissSeconds ? " (LATE)" : "");
    else
        printf("NOT REPORTED\n");
    fflush(stdout);
}

struct Options {
    int cycles = 100;
    bool idle = false;
    int load = 0;
    bool verbose = false;
    unsigned long seed = 0;
    bool seedGiven = false;
    std::string emulator;
};

void Usage(FILE* out)
{
    fprintf(out,
            "usage: unplug_soak [--cycles N] [--idle] [--load N] [--seed N] [--emulator PATH] [--verbose]\n"
            "Unplugs and replugs the emulator (a process of its own) N times (default 100) and\n"
            "times how long the library takes to report each loss and each replug through the\n"
            "connection callback. Each cycle streams the standard ECG beat in real time for a\n"
            "random 0.5-2 s before the unplug (--idle: nothing streams).\n"
            "  --load N      N processes spin on the CPU at ordinary priority during the run\n"
            "  --seed N      seed of the random stream times (printed when not given)\n"
            "  --emulator P  the hsim-emu program (default: $HSIM_EMULATOR, else the one built\n"
            "                with this program)\n"
            "  --verbose     one line per cycle\n"
            "Exit status: 0 all reported within 10 s, 1 some were not, 2 bad command line,\n"
            "3 no emulator or no first connection, 130 interrupted.\n");
}

bool ParseCount(const char* text, int min, int max, int& value)
{
    char* end = nullptr;
    errno = 0;
    const long v = text ? strtol(text, &end, 10) : 0;
    if (!text || *text == '\0' || *end != '\0' || errno != 0 || v < min || v > max)
        return false;
    value = int(v);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o, bool& help)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        int n = 0;
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--idle") {
            o.idle = true;
        } else if (a == "--verbose" || a == "-v") {
            o.verbose = true;
        } else if (a == "--cycles" && ParseCount(value, 1, 1000000, o.cycles)) {
            ++i;
        } else if (a == "--load" && ParseCount(value, 0, 256, o.load)) {
            ++i;
        } else if (a == "--seed" && ParseCount(value, 0, INT_MAX, n)) {
            o.seed = unsigned(n);
            o.seedGiven = true;
            ++i;
        } else if (a == "--emulator" && value) {
            o.emulator = value;
            ++i;
        } else {
            fprintf(stderr, "unplug_soak: bad or incomplete argument '%s'\n", a.c_str());
            return false;
        }
    }
    return true;
}

std::string DefaultEmulator()
{
    if (const char* env = getenv("HSIM_EMULATOR"); env && *env)
        return env;
#ifdef HSIM_EMU_DEFAULT
    return HSIM_EMU_DEFAULT;
#else
    return "hsim-emu";
#endif
}

// Everything the run sets up, torn down in reverse whatever way the run ends.
// Should the library hang on the way out, a watchdog ends the process after
// removing the children, so nothing of the run is left behind.
struct Run {
    std::string dir;
    soak::EmulatorProcess emulator{&s_Interrupted};
    soak::Load load;
    bool libraryStarted = false;

    ~Run()
    {
        load.Stop();
        std::mutex m;
        std::condition_variable done;
        bool finished = false;
        const pid_t emulatorPid = emulator.pid();
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> guard(m);
            if (!done.wait_for(guard, std::chrono::seconds(15), [&] { return finished; })) {
                fprintf(stderr, "unplug_soak: the library did not stop within 15 s; giving up\n");
                if (emulatorPid > 0)
                    kill(emulatorPid, SIGKILL);
                std::error_code ignored;
                std::filesystem::remove_all(dir, ignored);
                _exit(3);
            }
        });
        if (libraryStarted)
            HSIMFree();
        HSIMSetDeviceLocation(nullptr, nullptr);
        emulator.Stop();
        {
            std::lock_guard<std::mutex> guard(m);
            finished = true;
        }
        done.notify_all();
        watchdog.join();
        if (!dir.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }
};

// One cycle from a connected device to a connected device again; false when
// the link is wedged (a report did not come within kGiveUpSeconds), so the
// run cannot go on.
bool RunCycle(Run& run, const Options& o, std::mt19937& random, Cycle& c)
{
    std::uniform_real_distribution<double> streamTime(0.5, 2.0);
    c.streamedSeconds = streamTime(random);
    if (!o.idle)
        c.startRefused = HSIMSetOutputFunction(OUTPUT_ECG_STANDARD) != 0;
    SleepUntil(Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(c.streamedSeconds)));
    HSIM_STREAM_HEALTH health{};
    HSIMGetStreamHealth(&health);
    c.transfers = health.transfersSent;
    c.realtime = health.realtime != 0;

    std::string answer;
    size_t mark = CallCount();
    double pollCpu0 = ThreadCpuSeconds("hsim-poll");
    double pollCpuMax = pollCpu0;
    const Clock::time_point unplugged = Clock::now();
    if (!run.emulator.Command("unplug", "unplugged", answer)) {
        fprintf(stderr, "unplug_soak: unplug: %s\n", answer.c_str());
        return false;
    }
    c.unplugAckMs = SecondsBetween(unplugged, Clock::now()) * 1000;
    // The poll thread ends during the wind-down, taking its figures with it:
    // the highest sample is its CPU time up to at most one sample before.
    auto samplePoll = [&] { pollCpuMax = std::max(pollCpuMax, ThreadCpuSeconds("hsim-poll")); };
    const auto giveUp = [](Clock::time_point from) {
        return from + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kGiveUpSeconds));
    };
    if (auto at = WaitForCall(mark, false, giveUp(unplugged), samplePoll))
        c.loss = SecondsBetween(unplugged, *at);
    c.pollCpuSeconds = pollCpuMax - pollCpu0;
    if (!c.loss)
        return false;

    mark = CallCount();
    const Clock::time_point replugged = Clock::now();
    if (!run.emulator.Command("replug", "plugged", answer)) {
        fprintf(stderr, "unplug_soak: replug: %s\n", answer.c_str());
        return false;
    }
    c.replugAckMs = SecondsBetween(replugged, Clock::now()) * 1000;
    if (auto at = WaitForCall(mark, true, giveUp(replugged)))
        c.replug = SecondsBetween(replugged, *at);
    return c.replug.has_value();
}

void PrintSummary(const Options& o, const std::vector<Cycle>& cycles, bool realtime)
{
    std::vector<double> loss, replug, unplugAck, pollShare;
    size_t over3 = 0, lossMissed = 0, replugMissed = 0, refused = 0, notStreaming = 0;
    for (const Cycle& c : cycles) {
        unplugAck.push_back(c.unplugAckMs);
        if (c.startRefused)
            ++refused;
        if (!o.idle && c.transfers == 0)
            ++notStreaming;
        if (c.loss) {
            loss.push_back(*c.loss);
            pollShare.push_back(c.pollCpuSeconds / *c.loss);
        }
        if (!c.loss || *c.loss > kGoalSeconds)
            ++over3;
        if (!c.loss || *c.loss > kMissSeconds)
            ++lossMissed;
        if (c.loss && (!c.replug || *c.replug > kMissSeconds))
            ++replugMissed;
        if (c.replug)
            replug.push_back(*c.replug);
    }
    for (auto* v : {&loss, &replug, &unplugAck, &pollShare})
        std::sort(v->begin(), v->end());
    printf("%zu cycles, %s, %d busy process%s\n", cycles.size(),
           o.idle ? "idle (nothing streams)" : "streaming the standard beat in real time", o.load,
           o.load == 1 ? "" : "es");
    if (!o.idle)
        printf("  start refused in %zu, nothing streamed before the unplug in %zu; real-time poll thread: %s\n",
               refused, notStreaming, realtime ? "yes" : "no");
    if (!loss.empty())
        printf("  loss reported (unplug -> callback false): median %.3f s, p95 %.3f s, max %.3f s, min %.3f s\n",
               Median(loss), Percentile(loss, 95), loss.back(), loss.front());
    printf("  over 3 s: %zu; not reported within 10 s: %zu\n", over3, lossMissed);
    if (!replug.empty())
        printf("  replug taken up (replug -> callback true): median %.3f s, max %.3f s; not within 10 s: %zu\n",
               Median(replug), replug.back(), replugMissed);
    printf("  emulator's unplug acknowledged: median %.1f ms, max %.1f ms\n", Median(unplugAck), unplugAck.back());
    if (!pollShare.empty())
        printf("  poll thread CPU from the unplug to the report: median %.0f %%, max %.0f %% of the interval\n",
               100 * Median(pollShare), 100 * pollShare.back());
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    bool help = false;
    if (!ParseOptions(argc, argv, o, help)) {
        Usage(stderr);
        return 2;
    }
    if (help) {
        Usage(stdout);
        return 0;
    }
    if (o.emulator.empty())
        o.emulator = DefaultEmulator();
    if (!o.seedGiven)
        o.seed = unsigned(std::random_device{}());
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    int status = 0;
    std::vector<Cycle> cycles;
    bool realtime = false;
    {
        Run run;
        char pattern[] = "/tmp/hsim-unplug-XXXXXX";
        if (!mkdtemp(pattern)) {
            perror("unplug_soak: mkdtemp");
            return 3;
        }
        run.dir = pattern;
        std::string error;
        if (!run.emulator.Start(o.emulator, run.dir, kPort, error, {"--realtime"})) {
            fprintf(stderr, "unplug_soak: cannot start the emulator: %s\n", error.c_str());
            return 3;
        }
        printf("emulator %s (pid %d) at %s; seed %lu\n", o.emulator.c_str(), int(run.emulator.pid()),
               run.emulator.node().c_str(), o.seed);
        fflush(stdout);
        if (!run.load.Start(o.load)) {
            fprintf(stderr, "unplug_soak: cannot start the load: %s\n", strerror(errno));
            return 3;
        }
        const std::string format = run.dir + "/ttyACM%d";
        const std::string locks = run.dir;
        if (HSIMSetDeviceLocation(format.c_str(), locks.c_str()) != 0) {
            fprintf(stderr, "unplug_soak: the device location was refused\n");
            return 3;
        }
        run.libraryStarted = HSIMInit(OnConnection);
        if (!run.libraryStarted ||
            !WaitForCall(0, true, Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(kMissSeconds)))) {
            fprintf(stderr, "unplug_soak: no first connection within 10 s\n");
            return 3;
        }

        std::mt19937 random(o.seed);
        for (int i = 0; i < o.cycles && !s_Interrupted.load(); ++i) {
            Cycle c;
            const bool goOn = RunCycle(run, o, random, c);
            realtime = realtime || c.realtime;
            if (s_Interrupted.load() && (!c.loss || !c.replug))
                break;  // a cycle cut short says nothing
            cycles.push_back(c);
            if (o.verbose)
                PrintCycle(cycles.size() - 1, c, o.idle);
            if (!goOn) {
                fprintf(stderr, "unplug_soak: cycle %d: no report within %.0f s; the run stops\n", i + 1,
                        kGiveUpSeconds);
                break;
            }
        }
    }
    if (!cycles.empty())
        PrintSummary(o, cycles, realtime);
    for (const Cycle& c : cycles)
        if (!c.loss || *c.loss > kMissSeconds || !c.replug || *c.replug > kMissSeconds)
            status = 1;
    if (s_Interrupted.load())
        status = 130;
    return status;
}

// Figures of the ECG data loaders and of the block uploads:
//  1. LoadECGBin of a 20 000 000-sample binary file, as a ratio to one read()
//     of the same file into a buffer allocated beforehand (both with the file
//     in the page cache);
//  2. the peak memory of that load (and of the text load), each measured in
//     a child process of its own;
//  3. the multi-channel text loader's throughput on a 20 000 000-row file
//     (one channel, and the second channel of a two-channel file);
//  4. the text file loaded again and again while output streams in real time
//     to the emulator: the device's underruns and the stream's latency;
//  5. the upload of one 2000-sample period (HSIMOutputSignal) and a save to
//     standalone mode with a ROM that confirms at the first status query.
// The data files are written to a private directory under /tmp and removed
// at the end.
// usage: bench_files [--runs N] [--stream-seconds S] [--control-seconds S]
//                    [--skip-two-channel] [--only 1,2,3,4,5]
#include "Emulator.h"
#include "hsim.hpp"
#include "hsim_ext.h"
#include "ThreadCpu.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kSamples = 20000000;
constexpr int kRate = 500;
constexpr double kMB = 1e6;

double SecondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The private directory of the data files; removed at exit by the process
// that made it (a forked child leaves with _exit and never removes it).
std::string g_Dir;
pid_t g_Owner = 0;

void RemoveDir()
{
    if (!g_Dir.empty() && getpid() == g_Owner) {
        std::error_code ignored;
        std::filesystem::remove_all(g_Dir, ignored);
    }
}

[[noreturn]] void Fail(const char* what, long long got)
{
    fprintf(stderr, "FAILED: %s (got %lld)\n", what, got);
    fflush(stdout);
    exit(1);
}

std::wstring Wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

size_t FileSize(const std::string& path)
{
    return static_cast<size_t>(std::filesystem::file_size(path));
}

// Reads the whole file once so that its pages are in the page cache.
void Warm(const std::string& path)
{
    std::vector<char> buffer(1 << 20);
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        Fail("cannot open a data file", 0);
    while (fread(buffer.data(), 1, buffer.size(), f) > 0) {
    }
    fclose(f);
}

// A deterministic noise source (xorshift64*), uniform in [-1, 1).
struct Noise {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    double next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        const uint64_t r = state * 0x2545F4914F6CDD1Dull;
        return static_cast<double>(r >> 11) / static_cast<double>(1ull << 52) - 1.0;
    }
};

// A signal of some millivolts: a 1.1 Hz wave with a slow drift and noise, at
// 500 samples per second; now and then beyond the loaders' 2.5 mV limit.
double SignalMv(int32_t i, Noise& noise)
{
    const double t = i / static_cast<double>(kRate);
    return 1.9 * std::sin(2 * M_PI * 1.1 * t) + 0.7 * std::sin(2 * M_PI * 0.07 * t) + 0.05 * noise.next();
}

class Writer {
public:
    explicit Writer(const std::string& path) : m_File(fopen(path.c_str(), "wb")), m_Buffer(1 << 22)
    {
        if (m_File == nullptr)
            Fail("cannot create a data file", 0);
    }
    ~Writer()
    {
        flush();
        if (fclose(m_File) != 0)
            Fail("cannot write a data file", 0);
    }
    char* room(size_t n)
    {
        if (m_Used + n > m_Buffer.size())
            flush();
        return m_Buffer.data() + m_Used;
    }
    void advance(size_t n) { m_Used += n; }
    void put(const char* text, size_t n) { memcpy(room(n), text, n), advance(n); }
    void put(const std::string& s) { put(s.data(), s.size()); }
    void flush()
    {
        if (m_Used > 0 && fwrite(m_Buffer.data(), 1, m_Used, m_File) != m_Used)
            Fail("cannot write a data file", 0);
        m_Used = 0;
    }

private:
    FILE* m_File;
    std::vector<char> m_Buffer;
    size_t m_Used = 0;
};

void WriteBinary(const std::string& path, int32_t count)
{
    Writer out(path);
    const unsigned char header[6] = {kRate >> 8, kRate & 0xFF, static_cast<unsigned char>(count >> 24),
                                     static_cast<unsigned char>(count >> 16), static_cast<unsigned char>(count >> 8),
                                     static_cast<unsigned char>(count)};
    out.put(reinterpret_cast<const char*>(header), sizeof header);
    Noise noise;
    for (int32_t i = 0; i < count; ++i) {
        const auto uv = static_cast<int16_t>(std::lround(SignalMv(i, noise) * 1000.0));
        char* p = out.room(2);
        p[0] = static_cast<char>(static_cast<uint16_t>(uv) >> 8);
        p[1] = static_cast<char>(uv & 0xFF);
        out.advance(2);
    }
}

// The multi-channel text format: rate, count, channel count, names, then one
// row a sample with the channels' values ("%.3f") between commas.
void WriteText(const std::string& path, int32_t count, int channels)
{
    Writer out(path);
    out.put(std::to_string(kRate) + "\n" + std::to_string(count) + "\n" + std::to_string(channels) + "\n");
    out.put(channels == 1 ? "Lead II\n" : "Lead II,Lead V1\n");
    Noise noise;
    for (int32_t i = 0; i < count; ++i) {
        char* p = out.room(64);
        char* q = p;
        for (int c = 0; c < channels; ++c) {
            const double v = c == 0 ? SignalMv(i, noise) : -0.4 * SignalMv(i, noise);
            q = std::to_chars(q, p + 60, v, std::chars_format::fixed, 3).ptr;
            *q++ = c + 1 < channels ? ',' : '\n';
        }
        out.advance(static_cast<size_t>(q - p));
    }
}

// A file with a few samples: loaded between measurements so that the large
// array of the previous load is not what the next one releases.
std::string g_TinyBin;

void LoadTiny()
{
    const std::wstring w = Wide(g_TinyBin);
    if (LoadECGBin(w.c_str()) != 10)
        Fail("LoadECGBin of the 10-sample file", 0);
}

int LoadText(const std::string& path, int channel)
{
    std::vector<char> p(path.begin(), path.end());
    p.push_back('\0');
    return LoadECGtxt(p.data(), channel);
}

// ---------------------------------------------------------------- 1. binary

double TimeOneRead(const std::string& path, char* buffer, size_t size)
{
    const auto t = Clock::now();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd >= 0 ? read(fd, buffer, size) : -1;
    if (fd >= 0)
        close(fd);
    const double s = SecondsSince(t);
    if (got != static_cast<ssize_t>(size))
        Fail("one read() of the binary file", got);
    return s;
}

void BinaryLoad(const std::string& path, int runs)
{
    const size_t size = FileSize(path);
    Warm(path);
    const std::wstring wpath = Wide(path);

    // The reference: the file in one read() into a buffer that exists (and is
    // touched) before the clock starts.
    std::unique_ptr<char[]> buffer(new char[size]);
    memset(buffer.get(), 1, size);
    std::vector<double> reads, freshReads, loads, touches;
    for (int r = 0; r < runs; ++r)
        reads.push_back(TimeOneRead(path, buffer.get(), size));
    // The same into a buffer allocated but never touched: the read takes the
    // page faults of the fresh pages.
    for (int r = 0; r < runs; ++r) {
        char* fresh = static_cast<char*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (fresh == MAP_FAILED)
            Fail("mmap", 0);
        freshReads.push_back(TimeOneRead(path, fresh, size));
        munmap(fresh, size);
    }
    // What any loader pays for its result: a fresh array of the samples,
    // allocated and written once.
    for (int r = 0; r < runs; ++r) {
        const auto t = Clock::now();
        std::unique_ptr<double[]> a(new double[kSamples]);
        for (int32_t i = 0; i < kSamples; ++i)
            a[i] = i;
        touches.push_back(SecondsSince(t));
        if (a[kSamples - 1] != kSamples - 1)
            Fail("array write", 0);
    }
    for (int r = 0; r < runs; ++r) {
        LoadTiny();
        const auto t = Clock::now();
        const int n = LoadECGBin(wpath.c_str());
        loads.push_back(SecondsSince(t));
        if (n != kSamples)
            Fail("LoadECGBin of the 20 000 000-sample file", n);
    }
    LoadTiny();
    const double read = Median(reads), load = Median(loads);
    printf("1. LoadECGBin, %d samples (%.1f MB file, %.1f MB of samples), warm page cache, median of %d:\n", kSamples,
           size / kMB, kSamples * 8.0 / kMB, runs);
    printf("   one read() into a touched buffer     %8.2f ms  (%.0f MB/s)\n", read * 1e3, size / kMB / read);
    printf("   one read() into an untouched buffer  %8.2f ms\n", Median(freshReads) * 1e3);
    printf("   new double[n] written once           %8.2f ms  (the result's page faults and stores)\n",
           Median(touches) * 1e3);
    printf("   LoadECGBin                           %8.2f ms  (min %.2f, max %.2f)\n", load * 1e3,
           *std::min_element(loads.begin(), loads.end()) * 1e3, *std::max_element(loads.begin(), loads.end()) * 1e3);
    printf("   ratio LoadECGBin / read()            %8.2f x   goal <= 1.5 x  %s\n", load / read,
           load / read <= 1.5 ? "met" : "NOT MET");
    printf("   ratio LoadECGBin / new double[n]     %8.2f x   (the array alone is %.1f x the read)\n",
           load / Median(touches), Median(touches) / read);
}

// ---------------------------------------------------------------- 2. memory

long StatusKb(const char* field)
{
    FILE* f = fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    const size_t n = strlen(field);
    while (f != nullptr && fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, field, n) == 0 && line[n] == ':')
            kb = atol(line + n + 1);
    if (f != nullptr)
        fclose(f);
    return kb;
}

// Runs load() in a child process; the rise of its peak resident set over the
// resident set before the load, in kB (the peak is reset first through
// clear_refs, so it does not carry the parent's history).
long PeakRiseKb(const std::function<int()>& load, int expected)
{
    int fds[2];
    if (pipe(fds) != 0)
        Fail("pipe", 0);
    const pid_t child = fork();
    if (child < 0)
        Fail("fork", 0);
    if (child == 0) {
        close(fds[0]);
        long result[2] = {-1, -1};
        const int fd = open("/proc/self/clear_refs", O_WRONLY);
        const bool reset = fd >= 0 && write(fd, "5", 1) == 1;
        if (fd >= 0)
            close(fd);
        const long before = StatusKb("VmRSS");
        const long hwmBefore = StatusKb("VmHWM");
        const int n = load();
        const long hwm = StatusKb("VmHWM");
        if (n == expected && before >= 0 && hwm >= 0)
            result[0] = hwm - (reset ? before : std::max(before, hwmBefore));
        result[1] = n;
        if (write(fds[1], result, sizeof result) != sizeof result)
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    long result[2] = {-1, -1};
    const ssize_t got = read(fds[0], result, sizeof result);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != sizeof result || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || result[1] != expected)
        Fail("load in the child process", result[1]);
    if (result[0] < 0)
        Fail("no /proc/self/status figures", result[0]);
    return result[0];
}

void PeakMemory(const std::string& binPath, const std::string& textPath, int runs)
{
    const std::wstring wpath = Wide(binPath);
    const double array = kSamples * 8.0 / kMB;
    const double goal = array * 1.1;
    auto measure = [&](const std::function<int()>& load) {
        std::vector<double> rises;
        for (int r = 0; r < std::max(1, runs / 2); ++r)
            rises.push_back(PeakRiseKb(load, kSamples) * 1024.0 / kMB);
        return Median(rises);
    };
    printf("2. Peak memory of a load (rise of VmHWM in a fresh child process; the array is %.0f MB, goal <= %.0f MB):\n",
           array, goal);
    LoadTiny();
    const double bin = measure([&] { return LoadECGBin(wpath.c_str()); });
    printf("   LoadECGBin, nothing large loaded         %8.1f MB  %s\n", bin, bin <= goal ? "met" : "NOT MET");
    const double text = measure([&] { return LoadText(textPath, 0); });
    printf("   LoadECGtxt, nothing large loaded         %8.1f MB  %s\n", text, text <= goal ? "met" : "NOT MET");
    // A load replaces data already loaded: the old array is released only
    // after the new one is in, so both are alive for a moment.
    if (LoadECGBin(wpath.c_str()) != kSamples)
        Fail("LoadECGBin of the 20 000 000-sample file", 0);
    const double again = measure([&] { return LoadECGBin(wpath.c_str()); });
    printf("   LoadECGBin over a loaded 20 M-sample set %8.1f MB  (the old array is counted before the load; "
           "for information)\n",
           again);
    LoadTiny();
}

// ---------------------------------------------------------------- 3. text

double TextThroughput(const std::string& path, int channel, int runs, const char* title)
{
    const size_t size = FileSize(path);
    Warm(path);
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        LoadTiny();
        const auto t = Clock::now();
        const int n = LoadText(path, channel);
        times.push_back(SecondsSince(t));
        if (n != kSamples)
            Fail("LoadECGtxt of the 20 000 000-row file", n);
    }
    LoadTiny();
    const double s = Median(times);
    const double mbs = size / kMB / s;
    printf("   %-36s %.1f MB: median %8.1f ms (min %.1f, max %.1f) = %6.1f MB/s  goal >= 250 MB/s  %s\n", title,
           size / kMB, s * 1e3, *std::min_element(times.begin(), times.end()) * 1e3,
           *std::max_element(times.begin(), times.end()) * 1e3, mbs, mbs >= 250 ? "met" : "NOT MET");
    return mbs;
}

// ------------------------------------------------------ 4. and 5. emulator

struct EmulatedDevice {
    std::string dir;
    std::unique_ptr<hsimemu::Emulator> emulator;

    explicit EmulatedDevice(const hsimemu::Options& base)
    {
        char pattern[] = "/tmp/hsim-files-emu-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            Fail("mkdtemp", 0);
        dir = pattern;
        const std::string format = dir + "/ttyACM%d";
        const std::string locks = dir + "/lock";
        if (HSIMSetDeviceLocation(format.c_str(), locks.c_str()) != 0)
            Fail("HSIMSetDeviceLocation", 0);
        hsimemu::Options options = base;
        options.directory = dir;
        options.port = 3;
        emulator = std::make_unique<hsimemu::Emulator>(options);
        if (!emulator->start() || !HSIMConnect(3, 10000))
            Fail("no connection to the emulator", 0);
    }
    ~EmulatedDevice()
    {
        HSIMFree();
        emulator.reset();
        std::filesystem::remove_all(dir);
    }
};

struct StreamFigures {
    double wall = 0;
    uint64_t samples = 0, underruns = 0, sequenceErrors = 0;
    HSIM_STREAM_HEALTH health{};
    hsimemu::LatencyStats device{};
};

// Streams for the given time while background() runs on another thread
// (until told to stop).
StreamFigures Stream(EmulatedDevice& device, double seconds, const std::function<void(std::atomic<bool>&)>& background)
{
    HSIMResetStreamHealth();
    device.emulator->clearStreamStats();
    const hsimemu::StreamStats before = device.emulator->streamStats();
    std::atomic<bool> stop{false};
    const auto start = Clock::now();
    std::thread worker([&] { background(stop); });
    while (SecondsSince(start) < seconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    worker.join();
    StreamFigures f;
    f.wall = SecondsSince(start);
    const hsimemu::StreamStats after = device.emulator->streamStats();
    f.samples = after.samples - before.samples;
    f.underruns = after.underruns - before.underruns;
    f.sequenceErrors = after.sequenceErrors - before.sequenceErrors;
    HSIMGetStreamHealth(&f.health);
    f.device = device.emulator->streamLatency();
    return f;
}

void PrintStream(const char* title, const StreamFigures& f)
{
    const HSIM_STREAM_HEALTH& h = f.health;
    printf("   %s, %.1f s:\n", title, f.wall);
    printf("     device: %llu samples played (%.0f per s), %llu underruns (goal 0) %s, %llu sequence errors\n",
           (unsigned long long)f.samples, f.samples / f.wall, (unsigned long long)f.underruns,
           f.underruns == 0 ? "met" : "NOT MET", (unsigned long long)f.sequenceErrors);
    printf("     stream health: %llu answers, %llu late (> %.1f ms), %llu failed writes; request->answer p50 %.3f ms, "
           "p99 %.3f ms, max %.3f ms; longest computation %.3f ms; real-time scheduling %s\n",
           h.requestsAnswered, h.lateAnswers, h.lateThresholdMs, h.writeFailures, h.latencyP50Ms, h.latencyP99Ms,
           h.latencyMaxMs, h.computeMaxMs, h.realtime ? "yes" : "no");
    printf("     device side: request->data p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", f.device.p50Ms, f.device.p99Ms,
           f.device.maxMs);
}

void LoadWhileStreaming(const std::string& textPath, double controlSeconds, double seconds)
{
    Warm(textPath);
    hsimemu::Options options;
    options.pacing = hsimemu::Pacing::RealTime;
    options.realtime = true;
    EmulatedDevice device(options);
    if (HSIMSetOutputFunction(OUTPUT_ECG_STANDARD) != 0)
        Fail("HSIMSetOutputFunction(OUTPUT_ECG_STANDARD)", 0);
    // Let the stream settle before counting.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    printf("4. Output streaming in real time (OUTPUT_ECG_STANDARD) to the emulator:\n");
    if (controlSeconds > 0) {
        const StreamFigures idle = Stream(device, controlSeconds, [](std::atomic<bool>&) {});
        PrintStream("without loading (for comparison)", idle);
    }
    int loads = 0;
    double loadSeconds = 0;
    const double cpuBefore = ThreadCpuSeconds("hsim-");
    const StreamFigures busy = Stream(device, seconds, [&](std::atomic<bool>& stop) {
        while (!stop.load()) {
            const auto t = Clock::now();
            const int n = LoadText(textPath, 0);
            loadSeconds += SecondsSince(t);
            if (n != kSamples)
                Fail("LoadECGtxt while streaming", n);
            ++loads;
        }
    });
    const double libraryCpu = ThreadCpuSeconds("hsim-") - cpuBefore;
    if (HSIMSetOutputFunction(0) != 0)
        Fail("HSIMSetOutputFunction(0)", 0);
    LoadTiny();
    char title[160];
    snprintf(title, sizeof title, "while another thread loads the 20 M-row text file again and again (%d loads, %.0f ms each)",
             loads, loads > 0 ? loadSeconds / loads * 1e3 : 0.0);
    PrintStream(title, busy);
    printf("     library threads' CPU meanwhile: %.1f %% of one core\n", 100.0 * libraryCpu / busy.wall);
}

bool Varies(const std::vector<hsimemu::Sample>& samples)
{
    for (const hsimemu::Sample& s : samples)
        if (s.ac != samples.front().ac)
            return true;
    return false;
}

void Uploads(int runs)
{
    hsimemu::Options options;
    options.romConfirmPolls = 1;
    EmulatedDevice device(options);
    if (HSIMSetFrequency(1.0) != 0)
        Fail("HSIMSetFrequency(1.0)", 0);
    std::vector<double> uploads, saves;
    for (int r = 0; r < runs; ++r) {
        const auto t = Clock::now();
        const int result = HSIMOutputSignal(OUTPUT_ECG_STANDARD);
        uploads.push_back(SecondsSince(t));
        if (result != 0)
            Fail("HSIMOutputSignal(7) should return 0", result);
        const std::vector<hsimemu::Sample> played = device.emulator->blockPlayout(2000);
        if (!device.emulator->blockOutputOn() || played.size() != 2000 || !Varies(played))
            Fail("the emulator plays no uploaded ECG period", static_cast<long long>(played.size()));
    }
    if (HSIMOutputSignal(0) != 0)
        Fail("HSIMOutputSignal(0)", 0);
    for (int r = 0; r < runs; ++r) {
        const auto t = Clock::now();
        const int result = HSIMSaveToStandaloneMode(OUTPUT_ECG_STANDARD);
        saves.push_back(SecondsSince(t));
        if (result != 1)
            Fail("HSIMSaveToStandaloneMode(7) should return 1", result);
        const std::vector<hsimemu::Sample> standalone = device.emulator->standalonePlayout(2000);
        if (standalone.size() != 2000 || !Varies(standalone))
            Fail("the emulator's ROM slot holds no ECG period", static_cast<long long>(standalone.size()));
    }
    const std::optional<hsimemu::RomSlot> slot = device.emulator->romSlot(1);
    printf("5. Block upload and standalone save, 2000-sample period (HSIMSetFrequency(1.0)), ROM confirming at the "
           "first query, median of %d:\n",
           runs);
    printf("   HSIMOutputSignal(7)          returned 0   %8.2f ms  (min %.2f, max %.2f); %zu samples uploaded\n",
           Median(uploads) * 1e3, *std::min_element(uploads.begin(), uploads.end()) * 1e3,
           *std::max_element(uploads.begin(), uploads.end()) * 1e3, device.emulator->uploadedSamples().size());
    printf("   HSIMSaveToStandaloneMode(7)  returned 1   %8.2f ms  (min %.2f, max %.2f); %zu samples in ROM slot 1\n",
           Median(saves) * 1e3, *std::min_element(saves.begin(), saves.end()) * 1e3,
           *std::max_element(saves.begin(), saves.end()) * 1e3, slot ? slot->samples.size() : size_t(0));
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 7;
    double streamSeconds = 15;
    double controlSeconds = 5;
    bool twoChannel = true;
    std::string only = "12345";
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (strcmp(argv[i], "--runs") == 0 && hasValue)
            runs = std::max(1, atoi(argv[++i]));
        else if (strcmp(argv[i], "--stream-seconds") == 0 && hasValue)
            streamSeconds = atof(argv[++i]);
        else if (strcmp(argv[i], "--control-seconds") == 0 && hasValue)
            controlSeconds = atof(argv[++i]);
        else if (strcmp(argv[i], "--skip-two-channel") == 0)
            twoChannel = false;
        else if (strcmp(argv[i], "--only") == 0 && hasValue)
            only = argv[++i];
        else {
            fprintf(stderr, "usage: %s [--runs N] [--stream-seconds S] [--control-seconds S] [--skip-two-channel] "
                            "[--only 1,2,3,4,5]\n", argv[0]);
            return 2;
        }
    }
    auto wanted = [&](char part) { return only.find(part) != std::string::npos; };

    char pattern[] = "/tmp/hsim-bench-files-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        Fail("mkdtemp", 0);
    g_Dir = pattern;
    g_Owner = getpid();
    atexit(RemoveDir);
    const std::string bin = g_Dir + "/ecg20M.bin";
    const std::string text1 = g_Dir + "/ecg20M-1ch.txt";
    const std::string text2 = g_Dir + "/ecg20M-2ch.txt";
    g_TinyBin = g_Dir + "/tiny.bin";
    WriteBinary(g_TinyBin, 10);

    printf("bench_files: %u hardware threads; figures are wall time on this machine, which other work may share\n",
           std::thread::hardware_concurrency());
    const auto made = Clock::now();
    if (wanted('1') || wanted('2'))
        WriteBinary(bin, kSamples);
    if (wanted('2') || wanted('3') || wanted('4'))
        WriteText(text1, kSamples, 1);
    if (wanted('3') && twoChannel)
        WriteText(text2, kSamples, 2);
    printf("(data files written in %.1f s)\n", SecondsSince(made));
    fflush(stdout);

    if (wanted('1'))
        BinaryLoad(bin, runs);
    fflush(stdout);
    if (wanted('2'))
        PeakMemory(bin, text1, runs);
    fflush(stdout);
    if (wanted('3')) {
        printf("3. LoadECGtxt throughput on one core, %d rows, warm page cache, median of %d:\n", kSamples,
               std::max(1, runs / 2 + 1));
        TextThroughput(text1, 0, std::max(1, runs / 2 + 1), "one channel, channel 0");
        if (twoChannel) {
            TextThroughput(text2, 1, std::max(1, runs / 2 + 1), "two channels, channel 1");
            std::filesystem::remove(text2);
        }
    }
    fflush(stdout);
    if (wanted('4'))
        LoadWhileStreaming(text1, controlSeconds, streamSeconds);
    fflush(stdout);
    if (wanted('5'))
        Uploads(runs);
    return 0;
}

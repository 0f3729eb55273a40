// Output streamed end to end: what the emulated device receives and plays,
// checked against the waveform formulas and the rules of the scheduler.
#include "Fixture.h"
#include "hsim.hpp"

#include "output/Engine.h"
#include "protocol/Exchange.h"
#include "runtime/Sync.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

using namespace hsimtest;

namespace {

constexpr double kTwoPi = 6.2831853;
constexpr double kDt = 1.0 / 40000;

// The words of a sample of a sine of peak a mV at f Hz, k samples into the run.
int SineWord(double a, double f, int k)
{
    return int(std::sin((std::fmod(k * kDt, 1.0 / f) * kTwoPi) * f) * a * 6400.0);
}

// What the callbacks were told, in order.
struct Calls {
    std::vector<std::pair<double, double>> graph, pacing;
    std::vector<double> frequencies;
    std::vector<int> functions;
};
struct Told : Calls {
    std::mutex mutex;
};
Told s_Told;

// A callback that records its arguments in one of the lists.
template <auto List, class... Args>
void Tell(Args... args)
{
    std::lock_guard<std::mutex> guard(s_Told.mutex);
    (s_Told.*List).emplace_back(args...);
}
constexpr auto OnGraph = Tell<&Calls::graph, double, double>;
constexpr auto OnPacing = Tell<&Calls::pacing, double, double>;
constexpr auto OnFrequency = Tell<&Calls::frequencies, double>;
constexpr auto OnFunction = Tell<&Calls::functions, int>;

class StreamedOutput : public EmulatorTest {
protected:
    void SetUp() override
    {
        EmulatorTest::SetUp();
        std::lock_guard<std::mutex> guard(s_Told.mutex);
        static_cast<Calls&>(s_Told) = Calls{};
    }
    void TearDown() override
    {
        HSIMSetOutputFunction(0);
        HSIMRegisterSignalOutputCallback(nullptr);
        HSIMRegisterPacingOutputCallback(nullptr);
        HSIMRegisterFrequencyCallback(nullptr);
        HSIMRegisterOutputFunctionCallback(nullptr);
        RegisterBaselineResetCB(nullptr);
        EmulatorTest::TearDown();
    }
    // Played samples once at least n are in.
    std::vector<hsimemu::Sample> played(size_t n)
    {
        EXPECT_TRUE(WaitUntil([&] { return emulator_->streamStats().samples >= n; }, 20000));
        return emulator_->playedSamples();
    }
    static bool ScanEnded()
    {
        std::lock_guard<std::mutex> guard(s_Told.mutex);
        return !s_Told.frequencies.empty() && s_Told.frequencies.back() == -1.0;
    }
};

TEST_F(StreamedOutput, PacketsAreNumberedAndTheNumbersWrap)
{
    hsimemu::Emulator& emulator = connect();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);
    // The sequence numbers wrap after 65535: 1311 transfers run past it.
    // Then real time, so the log of the last 4096 messages keeps the first.
    ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().transfers >= 1320; }, 20000));
    emulator.setPacing(hsimemu::Pacing::RealTime);
    const auto transfers = emulator.received("stream");
    ASSERT_GE(transfers.size(), 1320u);
    for (int p = 0; p < 50; ++p) {
        EXPECT_EQ(transfers[0].bytes[64 * p + 6] * 256 + transfers[0].bytes[64 * p + 7], p);
        EXPECT_EQ(transfers[1].bytes[64 * p + 6] * 256 + transfers[1].bytes[64 * p + 7], 50 + p);
    }
    // Transfer 1310 holds 65500 .. 65535, then 0 .. 13.
    EXPECT_EQ(transfers[1310].bytes[64 * 35 + 6] * 256 + transfers[1310].bytes[64 * 35 + 7], 65535);
    EXPECT_EQ(transfers[1310].bytes[64 * 36 + 6] * 256 + transfers[1310].bytes[64 * 36 + 7], 0);
    EXPECT_EQ(emulator.streamStats().sequenceErrors, 0u);
}

TEST_F(StreamedOutput, DeferredChangeLandsOnTheCycleBoundaryAndStopZeroesTheClock)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    ASSERT_EQ(HSIMSetAmplitude(2.0), 0);
    ASSERT_EQ(HSIMSetFrequency(10.0), 0);
    emulator.clearPlayed();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_EQ(HSIMSetAmplitude(4.0), 0);
    const auto v = played(40000);
    // A sine of peak 1 mV on AC (0 mV on DC) up to the last 0.4 ms of a
    // 100 ms cycle, of peak 2 mV from there on.
    size_t change = 0;
    while (change < v.size() && std::abs(v[change].ac - SineWord(1.0, 10.0, int(change))) <= 1)
        ++change;
    ASSERT_LT(change, v.size());
    EXPECT_GE(change % 4000, 3985u) << change;
    EXPECT_LE(change % 4000, 3988u) << change;
    for (size_t k = change; k < change + 8000 && k < v.size(); ++k)
        ASSERT_NEAR(v[k].ac, SineWord(2.0, 10.0, int(k)), 1) << k;
    EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](const hsimemu::Sample& x) { return x.dc == 0x8000; }));

    ASSERT_EQ(HSIMSetOutputFunction(0), 0);
    EXPECT_FALSE(HSIMIsPlaying());
    {
        ContextGuard lock(hsim::ContextLock());
        EXPECT_EQ(hsim::CurrentEngine().synth.clock.fOutputTime, 0.0);
    }
    EXPECT_TRUE(WaitUntil([&] { return !emulator.streamStats().outputOn; }, 5000));
    // Called with the lock held (as from a callback), it does not pause.
    ContextGuard lock(hsim::ContextLock());
    const auto start = Clock::now();
    EXPECT_EQ(HSIMSetOutputFunction(0), 0);
    EXPECT_LT(MillisecondsSince(start), 50);
}

// A new rate while the output plays: the running cycle plays to its end and
// the new one starts at its beginning, so the signal has no step and the
// ECG's RR intervals are of the old rate, then of the new, never another.
TEST_F(StreamedOutput, ANewRateStartsItsCycleAtTheEndOfTheRunningOne)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    const struct {
        int function;
        double from, to;  // Hz
    } rows[] = {{OUTPUT_ECG_STANDARD, 80 / 60.0, 2.0}, {OUTPUT_ECG_STANDARD, 2.0, 0.75}, {OUTPUT_SINE, 10, 25},
                {OUTPUT_SINE, 25, 7}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.function << ": " << row.from << " to " << row.to << " Hz");
        ASSERT_EQ(HSIMSetOutputFunction(0), 0);
        ASSERT_TRUE(WaitUntil([&] { return !emulator.streamStats().outputOn; }, 5000));
        ASSERT_EQ(HSIMSetAmplitude(2.0), 0);
        ASSERT_EQ(HSIMSetFrequency(row.from), 0);
        emulator.clearPlayed();
        emulator.clearStreamStats();
        ASSERT_EQ(HSIMSetOutputFunction(row.function), 0);
        // Part-way into a cycle.
        std::this_thread::sleep_for(std::chrono::milliseconds(1130));
        ASSERT_EQ(HSIMSetFrequency(row.to), 0);
        const auto v = played(size_t(40000 * (1.13 + 2 / row.from + 3 / row.to)));
        // The largest step from one word to the next is the steady signal's:
        // the steepest ramp of the beat, or the sine's at its fastest; a
        // change lands in the running cycle's last 0.4 ms, whose samples the
        // sine plays at the new cycle's phase, a step of at most the sine's
        // slope over 0.4 ms (the beat is flat there). Before, a new rate
        // stepped the signal by up to its whole swing.
        const double fastest = std::max(row.from, row.to);
        const double steepest = row.function == OUTPUT_SINE ? 2.0 / 2 * 2 * M_PI * fastest * (1 / 40000.0 + 0.0004)
                                                             : 2.0 / 0.05 / 40000;  // 2 mV over 50 ms
        int step = 0;
        for (size_t k = 1; k < v.size(); ++k)
            step = std::max(step, std::abs(v[k].ac - v[k - 1].ac));
        EXPECT_LE(step, int(std::ceil(steepest * 6400)) + 1);
        if (row.function != OUTPUT_ECG_STANDARD)
            continue;
        std::vector<double> peaks;  // the R crests: the highest sample of each beat (a crest may fall between two)
        const int top = std::max_element(v.begin(), v.end(), [](auto& a, auto& b) { return a.ac < b.ac; })->ac;
        for (size_t k = 1; k + 1 < v.size(); ++k)
            if (v[k].ac > top * 0.9 && v[k].ac > v[k - 1].ac && v[k].ac >= v[k + 1].ac)
                peaks.push_back(double(k) / 40000);
        ASSERT_GE(peaks.size(), 4u);
        bool changed = false;
        for (size_t k = 1; k < peaks.size(); ++k) {
            const double rr = peaks[k] - peaks[k - 1];
            const double expected = changed ? 1 / row.to : 1 / row.from;
            if (!changed && std::fabs(rr - 1 / row.to) < 0.001 && std::fabs(rr - 1 / row.from) > 0.001)
                changed = true;
            else
                EXPECT_NEAR(rr, expected, 0.0005) << "beat " << k;
        }
        EXPECT_TRUE(changed);
    }
}

// Rendering without a device gives the words the device then receives; the
// graph sees every tenth sample and each pacing pulse as a rectangle.
TEST_F(StreamedOutput, RenderMatchesWhatIsPlayedAndCallbacksFollowTheSamples)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    ASSERT_EQ(HSIMSetFrequency(1.3), 0);
    ASSERT_EQ(HSIMSetPacingAmplitude(2.0), 0);
    ASSERT_EQ(SetECG2_27_Noise(3, 0.5), 0);
    ASSERT_EQ(SetECG2_27_AAMIDriftTest(true), 0);
    HSIMRegisterSignalOutputCallback(OnGraph);
    HSIMRegisterPacingOutputCallback(OnPacing);
    {
        ContextGuard lock(hsim::ContextLock());
        hsim::CurrentEngine().synth.out.MainOutput = OUTPUT_ECG_CUSTOM;  // selected, not started
        // As a run stopped within 10 ms of a pulse leaves it: a start paces afresh.
        hsim::CurrentEngine().synth.pulse.MainPulseLatch = true;
    }
    constexpr int kCount = 80000;
    std::vector<short> ac(kCount);
    std::vector<unsigned short> dc(kCount);
    ASSERT_EQ(HSIMRenderOutput(kCount, nullptr, nullptr, ac.data(), dc.data()), kCount);
    EXPECT_FALSE(HSIMIsPlaying()) << "rendering starts nothing";
    emulator.clearPlayed();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_CUSTOM), 0);
    const auto v = played(kCount);
    ASSERT_EQ(HSIMSetOutputFunction(0), 0);
    EXPECT_NE(v[350].ac, 0) << "the first transfer is clamped with the output range of its own settings";
    int pulses = 0;
    for (int k = 0; k < kCount; ++k) {
        ASSERT_EQ(v[k].ac, ac[k]) << k;
        ASSERT_EQ(v[k].dc, dc[k]) << k;
        pulses += k > 0 && dc[k] != dc[k - 1] && dc[k - 1] == 0x8000;
    }
    EXPECT_EQ(pulses, 3) << "2 s at 1.3 beats per second";

    std::lock_guard<std::mutex> guard(s_Told.mutex);
    ASSERT_GE(s_Told.graph.size(), 100u);
    for (size_t i = 0; i < 100; ++i)
        EXPECT_NEAR(s_Told.graph[i].first, i * 10 * kDt, 1e-9) << i;
    ASSERT_GE(s_Told.pacing.size(), 8u);
    ASSERT_EQ(s_Told.pacing.size() % 4, 0u);
    for (size_t p = 0; p < s_Told.pacing.size(); p += 4) {
        const double t = s_Told.pacing[p].first;
        const std::vector<std::pair<double, double>> rectangle{{t, 0.0}, {t, 2.0}, {t + 0.002, 2.0}, {t + 0.002, 0.0}};
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(s_Told.pacing[p + c].first, rectangle[c].first, 1e-12);
            EXPECT_EQ(s_Told.pacing[p + c].second, rectangle[c].second);
        }
    }
}

// An immediate change (the T wave) shows within the running beat; the
// deferred one would wait for the next.
TEST_F(StreamedOutput, ImmediateChangeShowsInTheRunningCycle)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    {
        ContextGuard lock(hsim::ContextLock());
        hsim::CurrentEngine().synth.out.MainOutput = OUTPUT_ECG_CUSTOM;
    }
    std::vector<short> before(40000);
    ASSERT_EQ(HSIMRenderOutput(40000, nullptr, nullptr, before.data(), nullptr), 40000);
    emulator.clearPlayed();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_CUSTOM), 0);
    ASSERT_EQ(HSIMSetTWave(1.0), 0);  // T of 1 s beats from 0.33 s on
    const auto v = played(40000);
    size_t change = 0;
    while (change < 40000 && v[change].ac == before[change])
        ++change;
    EXPECT_LT(change, 40000u) << "within the first beat";
    // From the next sample after the setter: the first changed sample lies
    // in the T wave, which starts 0.33 s into the beat.
    EXPECT_GE(change, 13200u);
}

// Scans end by themselves at their stop frequency, upward and downward, after
// their duration: the device receives one transfer per 17.5 ms of it.
TEST_F(StreamedOutput, ScansRunTheirDurationAndEnd)
{
    hsimemu::Emulator& emulator = connect();
    HSIMRegisterFrequencyCallback(OnFrequency);
    HSIMRegisterOutputFunctionCallback(OnFunction);
    for (auto [start, stop] : {std::pair{100.0, 120.0}, {120.0, 100.0}}) {
        SCOPED_TRACE(start);
        const uint64_t before = emulator.streamStats().transfers;
        ASSERT_EQ(HSIMSetFrequencyScan(true, 10, start, stop), 0);
        ASSERT_TRUE(WaitUntil(ScanEnded, 30000));
        EXPECT_TRUE(WaitUntil([] { return !HSIMIsPlaying(); }, 2000));
        EXPECT_NEAR(double(emulator.streamStats().transfers - before), 10.0 / 0.0175, 3.0);
        std::lock_guard<std::mutex> guard(s_Told.mutex);
        const double last = s_Told.frequencies[s_Told.frequencies.size() - 2];
        EXPECT_NEAR(last, stop, 0.05);
        EXPECT_EQ(s_Told.functions, (std::vector<int>{1, 0}));
        s_Told.frequencies.clear();
        s_Told.functions.clear();
    }
    // The heart-rate scan: 0.05 to 0.5 beats per second in 30 s.
    const uint64_t before = emulator.streamStats().transfers;
    ASSERT_EQ(SetFreqScanECG(true), 0);
    ASSERT_TRUE(WaitUntil(ScanEnded, 60000));
    EXPECT_NEAR(double(emulator.streamStats().transfers - before), 30.0 / 0.0175, 3.0);
    EXPECT_EQ(s_Told.functions, (std::vector<int>{7, 0}));
}

// The baseline-reset test plays a 1000 mV sine at the level's frequency on
// the DC channel, and gives the settings back when it is switched off.
TEST_F(StreamedOutput, BaselineResetPlaysTheOverloadOnTheDcChannel)
{
    hsimemu::Emulator& emulator = connect();
    RegisterBaselineResetCB(OnFunction);
    ASSERT_EQ(HSIMSetAmplitude(1.5), 0);
    ASSERT_EQ(HSIMSetFrequency(1.2), 0);
    emulator.clearPlayed();
    ASSERT_EQ(SetBaselineResetTest(2), 0);
    EXPECT_TRUE(HSIMIsPlaying());
    EXPECT_EQ(GetBaselineResetTest(), 2);
    const auto v = played(4000);
    for (int k = 0; k < 4000; ++k) {
        ASSERT_EQ(v[k].ac, 0) << k;
        // DC word of 500 sin(2 pi 60 t) mV, 65535 steps over 2000 mV.
        const double mv = std::sin((std::fmod(k * kDt, 1.0 / 60) * kTwoPi) * 60.0) * 500.0;
        ASSERT_NEAR(v[k].dc, int((mv + 1000.0) / 2000.0 * 65535.0 + 0.5), 1) << k;
    }
    EXPECT_EQ(HSIMSetAmplitude(1.0), -3);
    EXPECT_EQ(HSIMSetFrequency(1.0), -4);
    ASSERT_EQ(SetBaselineResetTest(0), 0);
    EXPECT_EQ(HSIMGetAmplitude(), 1.5);
    EXPECT_EQ(HSIMGetFrequency(), 1.2);
    std::lock_guard<std::mutex> guard(s_Told.mutex);
    EXPECT_EQ(s_Told.functions, (std::vector<int>{2, 0})) << "the levels told";
}

// The index of the first sample whose output clock lies past a cycle of
// `seconds`: the clock adds 25 us per sample, in double.
int FirstSamplePast(double seconds)
{
    double t = 0.0;
    int k = 0;
    for (; !(t > seconds); ++k)
        t += kDt;
    return k;
}

// An output that ends by itself (a file or pattern that does not loop, a
// scan at its stop frequency): the transfer in which it ends goes out whole,
// with 0 mV past the end; the application hears the end marker as the last
// point, nothing is recorded after the end; the device plays what it holds,
// gets one transfer at 0 mV and only then the relays off.
TEST_F(StreamedOutput, OutputThatEndsByItselfIsPlayedToItsEndThenStopped)
{
    hsimemu::Emulator& emulator = connect();
    const std::string path = dir_ + "/rising.txt";
    std::vector<double> mv;  // 1000 per second: 0.1 s rising to 0.99 mV
    {
        std::ofstream file(path);
        file << "1000\n100\n1\nECG\n";
        for (int i = 0; i < 100; ++i) {
            char text[16];
            snprintf(text, sizeof text, "0.%03d", 10 * i);
            file << text << "\n";
            mv.push_back(std::stod(text));
        }
    }
    ASSERT_EQ(LoadECGtxt(const_cast<char*>(path.c_str()), 0), 100);
    struct Case {
        const char* name;
        std::function<int()> start;
        int endSample;          // -1: a scan, which ends with a whole transfer
        std::function<int(int)> word;  // the AC word of sample k before the end
    };
    const Case cases[] = {
        {"file", [] { HSIMEnableLoop(false); return HSIMSetOutputFunction(OUTPUT_ECG_FILE); },
         FirstSamplePast(0.1), [&](int k) { return int(mv[std::min(k / 40, 99)] * 6400.0); }},
        {"pattern", [] { SetStandardWaveformLoop(false); return HSIMSetOutputFunction(OUTPUT_ANE20000); },
         FirstSamplePast(1.0), nullptr},
        {"scan", [] { return HSIMSetFrequencyScan(true, 10, 100.0, 200.0); }, -1, nullptr},
    };
    const int kRecord = 500000;
    std::vector<double> ac(kRecord), dc(kRecord);
    HSIMRegisterSignalOutputCallback(OnGraph);
    HSIMRegisterFrequencyCallback(OnFrequency);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> guard(s_Told.mutex);
            static_cast<Calls&>(s_Told) = Calls{};
        }
        emulator.clearPlayed();
        emulator.clearReceived();
        emulator.clearStreamStats();
        DisableRecordRaw();
        ASSERT_TRUE(EnableRecordRaw(ac.data(), dc.data(), kRecord));
        ASSERT_EQ(c.start(), 0);
        ASSERT_TRUE(WaitUntil([] { return !HSIMIsPlaying(); }, 20000));
        ASSERT_TRUE(WaitUntil([&] { return !emulator.streamStats().outputOn; }, 5000));
        SleepMs(50);
        const auto stats = emulator.streamStats();
        const auto log = emulator.received();
        // The stream's transfers, then one at 0 mV, then the relays off.
        std::vector<size_t> transfers;
        for (size_t i = 0; i < log.size(); ++i)
            if (log[i].kind == "stream")
                transfers.push_back(i);
        ASSERT_GE(transfers.size(), 2u);
        const auto& last = log[transfers.back()].bytes;
        EXPECT_EQ(last[6] * 256 + last[7], 0xFF00) << "the last transfer holds 0 mV";
        EXPECT_EQ(stats.stopTransfers, 1u);
        bool relaysOff = false;
        for (size_t i = transfers.back() + 1; i < log.size(); ++i)
            relaysOff = relaysOff || (log[i].kind == "control-write" && log[i].bytes[2] == 8);
        EXPECT_TRUE(relaysOff) << "the relays go off after the transfer at 0 mV";
        const size_t data = transfers.size() - 1;
        EXPECT_EQ(stats.samples, (data + 1) * 700) << "every sample sent was played";
        EXPECT_EQ(stats.underruns, 0u);
        if (c.endSample < 0) {
            EXPECT_TRUE(ScanEnded());
            EXPECT_EQ(HSIMGetOutputFunction(), 0);
            continue;
        }
        EXPECT_EQ(data, size_t((c.endSample + 699) / 700)) << "the transfer of the end is the last";
        const auto v = emulator.playedSamples();
        for (size_t k = 0; k < v.size(); ++k) {
            if (int(k) >= c.endSample) {
                ASSERT_EQ(v[k].ac, 0) << k;
            } else if (c.word) {
                // The clock, a sum of 25 us steps, may reach a file sample's
                // time one step late.
                const bool late = k % 40 == 0 && k > 0 && v[k].ac == c.word(int(k) - 1);
                ASSERT_TRUE(late || v[k].ac == c.word(int(k))) << k;
            }
        }
        {
            ContextGuard lock(hsim::ContextLock());
            EXPECT_EQ(hsim::CurrentEngine().record.RecordIndex, c.endSample) << "nothing recorded past the end";
        }
        std::lock_guard<std::mutex> guard(s_Told.mutex);
        const auto& graph = s_Told.graph;
        ASSERT_GE(graph.size(), 2u);
        EXPECT_EQ(graph.back(), std::make_pair(-1.0, 0.0)) << "the end marker comes last";
        EXPECT_EQ(int(graph.size()) - 1, (c.endSample + 9) / 10) << "a point for every tenth sample before the end";
        for (size_t i = 1; i + 1 < graph.size(); ++i)
            ASSERT_GT(graph[i].first, graph[i - 1].first) << i;
    }
    DisableRecordRaw();
    HSIMEnableLoop(true);
    SetStandardWaveformLoop(true);
}

// Raw data with a DC channel play both: the signal on AC, the second channel
// on DC. A file loaded afterwards has no DC channel (the raw one is released
// with the rest): 0 mV on DC. No device needed.
TEST_F(StreamedOutput, FileWithADcChannelRendersBothChannels)
{
    double ac[4] = {1.0, 2.0, 3.0, 4.0};
    double dc[4] = {-500.0, 0.0, 250.0, 1000.0};
    const std::string path = dir_ + "/ac.txt";
    std::ofstream(path) << "100\n4\n1\nECG\n1\n2\n2.5\n-1\n";
    for (bool raw : {true, false}) {
        RAW_DATA_INFORMATION data{100.0, 4, ac, dc};
        ASSERT_EQ(raw ? HSIMLoadRawData(&data) : LoadECGtxt(const_cast<char*>(path.c_str()), 0), 4);
        {
            ContextGuard lock(hsim::ContextLock());
            hsim::CurrentEngine().synth.out.MainOutput = OUTPUT_ECG_FILE_WITH_DC;
        }
        std::vector<short> acWords(1600);
        std::vector<unsigned short> dcWords(1600);
        ASSERT_EQ(HSIMRenderOutput(1600, nullptr, nullptr, acWords.data(), dcWords.data()), 1600);
        const double fromFile[4] = {1.0, 2.0, 2.5, -1.0};
        for (int i = 0; i < 4; ++i) {
            const int k = 400 * i + 200;  // the middle of sample i
            EXPECT_EQ(acWords[k], int((raw ? ac[i] : fromFile[i]) * 6400.0)) << i;
            const double mv = raw ? dc[i] : 0.0;
            EXPECT_EQ(dcWords[k], int((mv + 1000.0) / 2000.0 * 65535.0 + 0.5)) << i << " " << raw;
        }
    }
    EXPECT_EQ(HSIMRenderOutput(-1, nullptr, nullptr, nullptr, nullptr), -2);
    EXPECT_EQ(HSIMGetStreamHealth(nullptr), -2);
}

}  // namespace

// Applying changes: the working values derived from the settings, and when
// a requested change takes effect (at once when idle or stopping, in the
// last 0.4 ms of the running cycle while streaming).
#include "output/Transfer.h"
#include "protocol/Commands.h"
#include "SynthTestSupport.h"

#include "synth/Patterns.h"

#include <chrono>
#include <cstdlib>
#include <vector>

namespace {

using namespace synthtest;

class ChangeSchedulerTest : public SynthTest {};

std::vector<double> g_Told;  // frequencies reported to the frequency callback

TEST_F(ChangeSchedulerTest, AmplitudeAndVoltageRange)
{
    // Code, amplitude setting, dynamic-range overlay (0 = off), pacing
    // amplitude and variable-DC mode; then A, the amplitude stored back and
    // the output range of the beats. A is half the setting, for the beats
    // the setting clamped to +-5 mV; with the overlay, carrier plus overlay
    // stay within 5 mV and the amplitude played is stored rounded to 0.01 mV.
    // The range is the "on" one (7 mV here) with a positive pacing amplitude
    // or the variable-DC mode, else the "off" one (3 mV). Stopping (code 0)
    // derives no working values (A stays) but still sets the range.
    S.work.RangeV4Ch2Off = 3.0;
    S.work.RangeV4Ch2On = 7.0;
    const struct { int code; double amplitude, overlay, pa; bool variableDc; double a, stored, range; } rows[] = {
        {1, 3.0, 0, 0, false, 1.5, 3.0, 3}, {8, 3.0, 0, -2, false, 3.0, 3.0, 3}, {7, 5.5, 0, 2, false, 5.0, 5.5, 7},
        {8, -9, 0, 0, true, -5.0, -9.0, 7}, {3, -9, 0, 0, false, -4.5, -9.0, 3}, {0, 4.0, 0, 0, false, -4.5, 4.0, 3},
        {3, 9.5, 1.0, 0, false, 4.5, 9.0, 3},   {2, 3.0, 1.0, 0, false, 1.5, 3.0, 3},
        {2, 10.0, 0.333, 0, false, 4.8335, 9.67, 3}};
    for (const auto& r : rows) {
        S.out.Amplitude = r.amplitude;
        S.test.DynamicRangeTest = r.overlay > 0;
        S.test.ADynamicRange = r.overlay;
        S.pacing.PA = r.pa;
        S.dc.bVariableDC = r.variableDc;
        Apply(r.code);
        EXPECT_NEAR(S.work.A, r.a, 1e-12) << r.code << " " << r.amplitude << " " << r.overlay;
        EXPECT_TRUE(S.out.Amplitude == r.stored && S.work.fVoltageRange == r.range) << r.code << " " << r.amplitude;
    }
}

TEST_F(ChangeSchedulerTest, FrequencyCapCycleLengthAndRawDcByFunction)
{
    S.hooks.SyncFreqCB = [](double hz) { g_Told.push_back(hz); };
    std::vector<double> file(2000, 0.0);
    S.file.ECGFile = file.data();
    // Code, F, pattern index, file length and rate; then F after the change
    // (reported when capped) and the cycle length. Raw data drive the DC
    // channel only while code 18 plays.
    const struct { int code; double f; int index, size; double rate, capped, period; } rows[] = {
        {1, 800, 0, 0, 0, 500, 1.0 / 500}, {4, 800, 0, 0, 0, 5, 0.2},          {5, 800, 0, 0, 0, 5, 0.2},
        {6, 800, 0, 0, 0, 5, 0.2},         {7, 800, 0, 0, 0, 6, 1.0 / 6},      {8, 800, 0, 0, 0, 6, 1.0 / 6},
        {15, 800, 0, 0, 0, 500, 1.0 / 500}, {7, 6, 0, 0, 0, 6, 1.0 / 6},       {10, 2, 0, 0, 0, 2, 1.0},
        {17, 2, 0, 0, 0, 2, 1.0},          {16, 2, 0, 0, 0, 2, 60.0},
        {9, 2, 0, 0, 0, 2, 43081.0 / 720}, {9, 2, 3, 0, 0, 2, 34511.0 / 720},  // the record's length at 720/s
        {9, 2, 12, 0, 0, 2, 0.5},          {9, 2, -1, 0, 0, 2, 0.5},           // no such record: 1 / F
        {14, 2, 0, 0, 0, 2, 0.5},          {14, 2, 0, 2000, 500, 2, 4.0},      {18, 2, 0, 2000, 500, 2, 4.0},
        {18, 2, 0, 2000, 0, 2, 0.5},       {1, 2, 0, 2000, 500, 2, 0.5}};
    for (const auto& r : rows) {
        g_Told.clear();
        S.out.F = r.f;
        S.pattern.nSpecialWaveform = r.index;
        S.file.ECGFileSize = r.size;
        S.file.ECGFileFreq = r.rate;
        S.dc.bRawVariableDC = true;
        Apply(r.code);
        SCOPED_TRACE(testing::Message() << "code " << r.code << ", " << r.f << " Hz, index " << r.index);
        EXPECT_TRUE(S.out.F == r.capped && S.dc.bRawVariableDC == (r.code == 18)) << S.out.F;
        EXPECT_EQ(g_Told, r.f > r.capped ? std::vector<double>{r.capped} : std::vector<double>{});
        EXPECT_NEAR(S.clock.fTimePeriod, r.period, 1e-12);
    }
    Apply(13);  // biphasic: a fixed 1 s cycle with 50 ms pulse width
    EXPECT_TRUE(S.clock.fTimePeriod == 1.0 && S.out.PulseWidth == 50.0);
}

TEST_F(ChangeSchedulerTest, RequestedChangeWaitsForTheEndOfTheCycleWhileStreaming)
{
    // A runs at 1 mV; a change to A = 2 mV is requested, then the setting
    // is raised to A = 4 mV before the boundary check after a sample of
    // phase t: A tells which change was applied when.
    const struct { double f; bool streaming; int code; double t; bool atOnce; double a; bool pending; } rows[] = {
        // Idle: at once, and the boundary has nothing to do; stopping is never deferred.
        {1.0, false, 1, 0.99999, true, 2.0, false}, {1.0, true, 0, 0.99999, true, 1.0, false},
        // Streaming: pending mid-cycle and 0.5 ms before the end, applied in
        // the last 0.4 ms, and after the next sample for cycles over 6.7 s.
        {1.0, true, 1, 0.5, false, 1.0, true},      {1.0, true, 1, 0.9995, false, 1.0, true},
        {1.0, true, 1, 0.9997, false, 4.0, false},  {0.1, true, 1, 3.0, false, 4.0, false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.f << " Hz, code " << r.code << ", t " << r.t);
        ResetSynthState();
        S.out.F = r.f;
        S.out.Amplitude = 2.0;
        Apply(1);
        SetStreaming(r.streaming);
        S.work.fVoltageRange = 0.0;
        S.out.MainOutput = r.code;
        S.out.Amplitude = 4.0;
        _ChangeRequested();
        EXPECT_TRUE((S.work.fVoltageRange != 0.0) == r.atOnce && CurrentEngine().scheduler.ChangeOnNextCycle == !r.atOnce);
        S.out.Amplitude = 8.0;
        _CheckIfChangeRequired(CurrentEngine(), r.t);
        EXPECT_TRUE(S.work.A == r.a && CurrentEngine().scheduler.ChangeOnNextCycle == r.pending) << S.work.A;
    }
    // A start absorbs a change left pending by the previous run.
    SetStreaming(false);
    CurrentEngine().scheduler.ChangeOnNextCycle = true;
    Apply(1);
    EXPECT_FALSE(CurrentEngine().scheduler.ChangeOnNextCycle);
}

TEST_F(ChangeSchedulerTest, NestedChangeIsAppliedAfterTheOuterOne)
{
    // A change from inside a change (here from the frequency callback, after
    // the amplitude has been derived) is applied when the outer one is done.
    S.hooks.SyncFreqCB = [](double) {
        S.out.Amplitude = 8.0;
        _Change();
    };
    S.out.F = 900.0;
    S.out.Amplitude = 2.0;
    Apply(1);
    EXPECT_TRUE(S.work.A == 4.0 && S.clock.fTimePeriod == 1.0 / 500) << S.work.A;
    S.hooks.SyncFreqCB = nullptr;
    S.out.Amplitude = 3.0;
    Apply(1);  // and the guard is released afterwards
    EXPECT_EQ(S.work.A, 1.5);
}

// A deferred change is applied on the poll thread, inside a transfer: the
// hour-long pattern it needs (millions of samples) is built before, on the
// thread that asks for the change.
TEST_F(ChangeSchedulerTest, DeferredChangeBuildsItsPatternOnTheCallersThread)
{
    using Clock = std::chrono::steady_clock;
    Apply(3);
    SetStreaming(true);  // streaming: the change waits for the end of the cycle
    S.pattern.nSpecialWaveform = IEC247_RR_1500MS_HOUR;
    S.out.MainOutput = 16;
    _ChangeRequested();
    EXPECT_TRUE(CurrentEngine().scheduler.ChangeOnNextCycle);
    auto start = Clock::now();
    std::free(getArray(IEC247_RR_1500MS_HOUR));
    const auto build = Clock::now() - start;
    start = Clock::now();
    EXPECT_NE(getIEC47RawArray(IEC247_RR_1500MS_HOUR), nullptr);
    EXPECT_LT(Clock::now() - start, build / 10) << "the pattern was not built yet";
}

// With 20 s of apnea a minute, the apnea holds while the seconds of the
// minute are 41..59; the state follows even when the device cannot be told.
TEST_F(ChangeSchedulerTest, ApneaFollowsTheSecondsOfTheMinute)
{
    for (auto [apneaTime, seconds, apnea] : {std::tuple{20, 40, false}, {20, 41, true}, {20, 59, true},
                                             {20, 60, false}, {20, 101, true}, {0, 59, false}, {60, 1, true}}) {
        CurrentRespiration().nRespirationApneaTime = apneaTime;
        CurrentRespiration().bRespirationApneaEnabled = !apnea;
        EnableApneaByTime(seconds);
        EXPECT_EQ(CurrentRespiration().bRespirationApneaEnabled, apnea) << apneaTime << " " << seconds;
    }
}

} // namespace

// Applying changes: the working values derived from the settings, and when
// a requested change takes effect (at once when idle or stopping, in the
// last 0.4 ms of the running cycle while streaming).
#include "SynthTestSupport.h"

#include "synth/tables/StandardTables.h"

#include <vector>

namespace {

using namespace synthtest;

class ChangeSchedulerTest : public SynthTest {};

std::vector<double> g_Told;  // frequencies reported to the frequency callback
void RecordFrequency(double hz)
{
    g_Told.push_back(hz);
}

TEST_F(ChangeSchedulerTest, AmplitudeIsHalvedExceptForTheBeats)
{
    S.out.Amplitude = 3.0;
    Apply(1);
    EXPECT_EQ(S.work.A, 1.5);
    Apply(8);
    EXPECT_EQ(S.work.A, 3.0);
    S.out.Amplitude = 5.5;
    Apply(7);
    EXPECT_EQ(S.work.A, 5.0);
    S.out.Amplitude = -9.0;
    Apply(8);
    EXPECT_EQ(S.work.A, -5.0);
    Apply(3);
    EXPECT_EQ(S.work.A, -4.5);  // the clamp belongs to the beats only
}

TEST_F(ChangeSchedulerTest, FrequencyIsCappedPerFunctionAndReported)
{
    S.hooks.SyncFreqCB = RecordFrequency;
    g_Told.clear();
    const struct {
        int code;
        double cap;
    } caps[] = {{1, 500.0}, {4, 5.0}, {5, 5.0}, {6, 5.0}, {7, 6.0}, {8, 6.0}, {15, 500.0}};
    for (const auto& c : caps) {
        S.out.F = 800.0;
        Apply(c.code);
        EXPECT_EQ(S.out.F, c.cap) << c.code;
        EXPECT_EQ(S.clock.fTimePeriod, 1 / c.cap) << c.code;
    }
    ASSERT_EQ(g_Told.size(), 7u);
    EXPECT_EQ(g_Told[1], 5.0);
    EXPECT_EQ(g_Told[4], 6.0);

    g_Told.clear();
    S.out.F = 6.0;  // at the cap: nothing to report
    Apply(7);
    EXPECT_TRUE(g_Told.empty());
}

TEST_F(ChangeSchedulerTest, CycleLengthByFunction)
{
    S.out.F = 2.0;
    Apply(10);
    EXPECT_EQ(S.clock.fTimePeriod, 1.0);
    Apply(17);
    EXPECT_EQ(S.clock.fTimePeriod, 1.0);
    Apply(16);
    EXPECT_EQ(S.clock.fTimePeriod, 60.0);
    S.pattern.nSpecialWaveform = 3;
    Apply(9);
    EXPECT_NEAR(S.clock.fTimePeriod, 34511.0 / 720, 1e-9);  // 47.93 s
    S.pattern.nSpecialWaveform = 12;  // not an IEC 60601-2-27 pattern: 1 / S.out.F
    Apply(9);
    EXPECT_EQ(S.clock.fTimePeriod, 0.5);

    // ECG files: their own length; without a file 1 / S.out.F.
    Apply(14);
    EXPECT_EQ(S.clock.fTimePeriod, 0.5);
    std::vector<double> file(2000, 0.0);
    S.file.ECGFile = file.data();
    S.file.ECGFileSize = 2000;
    S.file.ECGFileFreq = 500.0;
    Apply(14);
    EXPECT_EQ(S.clock.fTimePeriod, 4.0);
    Apply(18);
    EXPECT_EQ(S.clock.fTimePeriod, 4.0);
    S.file.ECGFileFreq = 0.0;
    Apply(18);
    EXPECT_EQ(S.clock.fTimePeriod, 0.5);
}

TEST_F(ChangeSchedulerTest, BiphasicForcesItsTimingAndPulseWidthIsInSeconds)
{
    S.out.PulseWidth = 250.0;
    Apply(4);
    EXPECT_EQ(S.work.PW, 0.25);
    S.out.F = 3.0;
    Apply(13);
    EXPECT_EQ(S.out.F, 1.0);
    EXPECT_EQ(S.out.PulseWidth, 50.0);
    EXPECT_EQ(S.work.PW, 0.05);
    EXPECT_EQ(S.clock.fTimePeriod, 1.0);
}

TEST_F(ChangeSchedulerTest, DynamicRangeTestLimitsTheAmplitude)
{
    S.test.DynamicRangeTest = true;
    S.out.Amplitude = 9.5;
    S.test.ADynamicRange = 1.0;
    Apply(3);
    EXPECT_EQ(S.work.A, 4.5);
    EXPECT_EQ(S.out.Amplitude, 9.0);

    S.out.Amplitude = 3.0;  // 1.5 + 0.5 fits
    Apply(2);
    EXPECT_EQ(S.work.A, 1.5);
    EXPECT_EQ(S.out.Amplitude, 3.0);

    S.out.Amplitude = 10.0;  // stored back rounded to 0.01 mV
    S.test.ADynamicRange = 0.333;
    Apply(2);
    EXPECT_NEAR(S.work.A, 4.8335, 1e-12);
    EXPECT_EQ(S.out.Amplitude, 9.67);
}

TEST_F(ChangeSchedulerTest, NoiseAmplitudeRawDcAndCode15Reset)
{
    S.test.MainsNoiseAmp = 0.3;
    Apply(7);
    EXPECT_NEAR(S.work.MainsNoiseAmplitude, 0.15, 1e-15);

    S.dc.bRawVariableDC = true;
    Apply(18);
    EXPECT_TRUE(S.dc.bRawVariableDC);
    Apply(14);
    EXPECT_FALSE(S.dc.bRawVariableDC);

    S.range.InputDynamicRangeDC = 12.0;
    S.range.InputDynamicRangeAC = 3.0;
    Apply(1);
    EXPECT_EQ(S.range.InputDynamicRangeDC, 12.0);
    Apply(15);
    EXPECT_EQ(S.range.InputDynamicRangeDC, -300.0);
    EXPECT_EQ(S.range.InputDynamicRangeAC, 0.0);
}

TEST_F(ChangeSchedulerTest, VoltageRangeWidensWithPacingOrVariableDc)
{
    S.work.RangeV4Ch2Off = 3.0;
    S.work.RangeV4Ch2On = 7.0;
    S.dc.bVariableDC = false;
    Apply(7);
    EXPECT_EQ(S.work.fVoltageRange, 3.0);
    S.pacing.PA = -2.0;  // only a positive pacing amplitude widens it
    Apply(7);
    EXPECT_EQ(S.work.fVoltageRange, 3.0);
    S.pacing.PA = 2.0;
    Apply(7);
    EXPECT_EQ(S.work.fVoltageRange, 7.0);
    S.pacing.PA = 0.0;
    S.dc.bVariableDC = true;
    Apply(7);
    EXPECT_EQ(S.work.fVoltageRange, 7.0);

    // Stopping derives no working values but still sets the range.
    S.dc.bVariableDC = false;
    S.work.A = 0.123;
    Apply(0);
    EXPECT_EQ(S.work.fVoltageRange, 3.0);
    EXPECT_EQ(S.work.A, 0.123);
}

TEST_F(ChangeSchedulerTest, RequestedChangeWaitsForTheEndOfTheCycleWhileStreaming)
{
    S.out.Amplitude = 2.0;
    Apply(1);
    ASSERT_EQ(S.work.A, 1.0);

    // Idle: at once.
    S.out.Amplitude = 4.0;
    _ChangeRequested();
    EXPECT_EQ(S.work.A, 2.0);
    EXPECT_FALSE(g_Engine.scheduler.ChangeOnNextCycle);

    // Streaming: pending until the last 0.4 ms of the 1 s cycle.
    g_bECGGoing = true;
    S.out.Amplitude = 6.0;
    _ChangeRequested();
    EXPECT_TRUE(g_Engine.scheduler.ChangeOnNextCycle);
    EXPECT_EQ(S.work.A, 2.0);
    _CheckIfChangeRequired(0.5);
    _CheckIfChangeRequired(0.9995);
    EXPECT_EQ(S.work.A, 2.0);
    EXPECT_TRUE(g_Engine.scheduler.ChangeOnNextCycle);
    _CheckIfChangeRequired(0.9997);
    EXPECT_EQ(S.work.A, 3.0);
    EXPECT_FALSE(g_Engine.scheduler.ChangeOnNextCycle);

    // Nothing pending: the boundary changes nothing.
    S.out.Amplitude = 8.0;
    _CheckIfChangeRequired(0.99999);
    EXPECT_EQ(S.work.A, 3.0);
}

TEST_F(ChangeSchedulerTest, SlowCyclesApplyAfterTheNextSample)
{
    S.out.F = 0.1;
    Apply(1);
    g_bECGGoing = true;
    S.out.Amplitude = 4.0;
    _ChangeRequested();
    EXPECT_TRUE(g_Engine.scheduler.ChangeOnNextCycle);
    _CheckIfChangeRequired(3.0);  // 7 s before the end of the 10 s cycle
    EXPECT_EQ(S.work.A, 2.0);
    EXPECT_FALSE(g_Engine.scheduler.ChangeOnNextCycle);
}

TEST_F(ChangeSchedulerTest, StopAndStartApplyAtOnce)
{
    Apply(1);
    g_bECGGoing = true;
    S.work.fVoltageRange = 0.0;
    S.out.MainOutput = 0;  // stopping is never deferred
    _ChangeRequested();
    EXPECT_FALSE(g_Engine.scheduler.ChangeOnNextCycle);
    EXPECT_EQ(S.work.fVoltageRange, 5.0);

    // A start absorbs a change left pending by the previous run.
    g_bECGGoing = false;
    g_Engine.scheduler.ChangeOnNextCycle = true;
    S.out.Amplitude = 4.0;
    Apply(1);
    EXPECT_FALSE(g_Engine.scheduler.ChangeOnNextCycle);
    EXPECT_EQ(S.work.A, 2.0);
}

// A nested _Change from inside a change (here from the frequency callback,
// after the amplitude has been derived) does nothing.
void NestedChange(double)
{
    S.out.Amplitude = 8.0;
    _Change();
}

TEST_F(ChangeSchedulerTest, NestedChangeIsIgnored)
{
    S.hooks.SyncFreqCB = NestedChange;
    S.out.F = 900.0;
    S.out.Amplitude = 2.0;
    Apply(1);
    EXPECT_EQ(S.out.F, 500.0);
    EXPECT_EQ(S.work.A, 1.0);  // the nested change would have made it 4
    EXPECT_EQ(S.clock.fTimePeriod, 1.0 / 500);  // the outer change completed
    S.hooks.SyncFreqCB = nullptr;
    Apply(1);  // and the guard is released afterwards
    EXPECT_EQ(S.work.A, 4.0);
}

} // namespace

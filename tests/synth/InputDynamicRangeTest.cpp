// Input dynamic range test (code 15): the signal channel ramps at 1 mV/s and
// the DC channel climbs a staircase of 0.5 mV per half second, so that their
// sum is one continuous ramp from -300 mV at 20 s to +300 mV at 620 s and
// back to -300 mV at 1220 s.
#include "SynthTestSupport.h"

#include <cmath>
#include <vector>

namespace {

using namespace synthtest;

class InputDynamicRangeTest : public SynthTest {};

struct Callback {
    static inline std::vector<std::pair<double, int>> calls;  // (clock, mV)
    static void Record(int mv) { calls.emplace_back(S.clock.fOutputTime, mv); }
};

TEST_F(InputDynamicRangeTest, WholeRunStepsOncePerHalfSecondAndTheSumIsARamp)
{
    Callback::calls.clear();
    S.hooks.SyncDCOffsetCB = Callback::Record;
    Apply(15);
    ASSERT_EQ(S.range.InputDynamicRangeDC, -300.0);

    const double dt = SampleStep();
    int upSteps = 0, downSteps = 0, badSteps = 0, badStepTimes = 0;
    int badJumps = 0, badRamp = 0, badOutside = 0;
    double firstBadJump = 0.0, firstBadJumpSize = 0.0;
    double lastStepClock = 0.0;
    int badSpacing = 0;
    Sample prev = StreamSample();
    StreamUntil(1221.0, [&](const Sample& s) {
        const double sum = s.v + s.dc;
        const double prevSum = prev.v + prev.dc;
        // Continuity: one ramp step (25 nV) per sample; a few where the
        // ramp starts, turns and stops between the sample grid and the
        // half-second marks (20, 620, 1220 s).
        if (std::fabs(sum - prevSum) > 4 * dt + 1e-9) {
            if (badJumps++ == 0) {
                firstBadJump = s.clock;
                firstBadJumpSize = sum - prevSum;
            }
        }
        if (s.clock < 20.0 || s.clock >= 1220.0) {
            badOutside += (s.v != 0.0 || s.dc != -300.0);
        } else if (s.clock <= 620.0) {
            badRamp += (std::fabs(sum - (-300.0 + (s.clock - 20.0))) > 1e-4);
        } else {
            badRamp += (std::fabs(sum - (300.0 - (s.clock - 620.0))) > 1e-4);
        }
        if (s.dc != prev.dc) {
            const double step = s.dc - prev.dc;
            if (step == 0.5) {
                ++upSteps;
                badStepTimes += (downSteps != 0);  // all rises come first
            } else if (step == -0.5) {
                ++downSteps;
            } else {
                ++badSteps;
            }
            // On a half-second mark, within a sample or two.
            badStepTimes += (std::fabs(s.clock - std::round(s.clock * 2) / 2) > 1e-4);
            if (upSteps + downSteps > 1) {
                badSpacing += (std::fabs(s.clock - lastStepClock - 0.5) > 1e-4);
            }
            lastStepClock = s.clock;
        }
        prev = s;
    });

    EXPECT_EQ(upSteps, 1200);    // 20.5 s .. 620 s
    EXPECT_EQ(downSteps, 1200);  // 620.5 s .. 1220 s
    EXPECT_EQ(badSteps, 0);
    EXPECT_EQ(badStepTimes, 0);
    EXPECT_EQ(badSpacing, 0);
    EXPECT_EQ(badJumps, 0) << "first at " << firstBadJump << " s: " << firstBadJumpSize << " mV";
    EXPECT_EQ(badRamp, 0);
    EXPECT_EQ(badOutside, 0);

    // The DC-offset callback: -300 on the first 12 samples, the new level
    // (whole millivolts) at each step, -300 again after the end.
    int atStart = 0, atSteps = 0, atEnd = 0;
    for (const auto& [clock, mv] : Callback::calls) {
        if (clock < 20.0) {
            ++atStart;
            EXPECT_EQ(mv, -300);
        } else if (clock < 1220.0) {
            ++atSteps;
        } else {
            ++atEnd;
            EXPECT_EQ(mv, -300);
        }
    }
    EXPECT_GE(atStart, 12);  // the first 0.3 ms: 12 samples, 13 if the clock rounds low
    EXPECT_LE(atStart, 13);
    EXPECT_EQ(atSteps, 2400);
    EXPECT_GE(atEnd, 11);
    EXPECT_LE(atEnd, 13);
    const size_t first = static_cast<size_t>(atStart);
    ASSERT_GT(Callback::calls.size(), first + 1200);
    EXPECT_EQ(Callback::calls[first].second, -299);  // -299.5 truncated toward zero
    EXPECT_EQ(Callback::calls[first + 1].second, -299);
    EXPECT_EQ(Callback::calls[first + 2].second, -298);
    EXPECT_EQ(Callback::calls[first + 1199].second, 300);
    EXPECT_EQ(Callback::calls[first + 1200].second, 299);
}

TEST_F(InputDynamicRangeTest, SignalChannelIsZeroOutsideTheTest)
{
    Apply(15);
    S.range.InputDynamicRangeAC = 7.0;
    S.clock.fOutputTime = 10.0;
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 0.0);
    S.clock.fOutputTime = 1300.0;
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 0.0);
    EXPECT_EQ(S.range.InputDynamicRangeAC, 7.0);  // left alone
    S.clock.fOutputTime = 100.2;
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.0), 7.0 + 1.0 / kRate, 1e-15);  // one step up
}

TEST_F(InputDynamicRangeTest, RepeatedSampleOnAMarkStepsOnce)
{
    Apply(15);
    S.clock.fOutputTime = 30.0;
    double pace = 0.0;
    EXPECT_EQ(_GetPacingV5(S, pace), -300.0);  // the step shows from the next sample
    EXPECT_EQ(S.range.InputDynamicRangeDC, -299.5);
    EXPECT_EQ(_GetPacingV5(S, pace), -299.5);
    S.clock.fOutputTime = 30.000025;  // same mark run
    EXPECT_EQ(_GetPacingV5(S, pace), -299.5);
    S.clock.fOutputTime = 30.2;
    EXPECT_EQ(_GetPacingV5(S, pace), -299.5);
    S.clock.fOutputTime = 30.5;
    _GetPacingV5(S, pace);
    EXPECT_EQ(S.range.InputDynamicRangeDC, -299.0);
    EXPECT_EQ(pace, 0.0);
}

} // namespace

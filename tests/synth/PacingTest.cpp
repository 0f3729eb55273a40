// Pacemaker pulses: when they start relative to the beat, how long they
// last, the overshoot on both channels, and the DC channel with pacing off.
// At 40000 samples per second a 2 ms pulse is 80 samples; a start time is
// checked to within one sample (25 us).
#include "SynthTestSupport.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace synthtest;

constexpr double kOneSample = 1.0 / kRate + 1e-9;

struct Pulse {
    double start;  // clock of the first pulse sample
    int length;    // samples
};

class PacingTest : public SynthTest {
protected:
    // Streams until `until` and collects the pulses seen on the DC channel
    // (pacing on: the DC channel is 0 between pulses).
    std::vector<Pulse> StreamPulses(double until)
    {
        std::vector<Pulse> pulses;
        bool inPulse = false;
        StreamUntil(until, [&](const Sample& s) {
            if (s.dc != 0.0) {
                if (!inPulse) {
                    pulses.push_back({s.clock, 0});
                }
                pulses.back().length += 1;
            }
            inPulse = (s.dc != 0.0);
            maxAbsPace = std::max(maxAbsPace, std::fabs(s.pace));
        });
        return pulses;
    }

    void ExpectStarts(const std::vector<Pulse>& pulses, std::vector<double> starts)
    {
        ASSERT_EQ(pulses.size(), starts.size());
        for (size_t i = 0; i < starts.size(); ++i) {
            EXPECT_NEAR(pulses[i].start, starts[i], kOneSample) << i;
        }
    }

    double maxAbsPace = 0.0;
};

TEST_F(PacingTest, SetUpFollowsTheSettings)
{
    Apply(7);
    EXPECT_EQ(S.pulse.PulsesRequired, 0);
    EXPECT_EQ(S.pulse.PacDelayTP, 0.0);

    S.pacing.PA = -3.0;
    S.pacing.PacingPulse = 2;
    S.pacing.PacingOvershootTC = 25;
    Apply(7);
    EXPECT_EQ(S.pulse.PulsesRequired, 2);
    EXPECT_EQ(S.pulse.PacDelayTP, 0.01);
    EXPECT_EQ(S.pulse.OTC, 0.025);
    EXPECT_EQ(S.pulse.ppc, 1000);
    EXPECT_TRUE(S.pulse.PacingHighRange);
    EXPECT_EQ(S.pulse.pp, 1.0);

    S.pacing.PA = 2.9;
    S.pacing.PacingPulse = 0;
    S.pacing.pacingSynchronized = false;
    S.pacing.PacingRate = 45;
    Apply(7);
    EXPECT_EQ(S.pulse.PulsesRequired, 1);
    EXPECT_FALSE(S.pulse.PacingHighRange);
    EXPECT_NEAR(S.pulse.pp, 60.0 / 45, 1e-15);  // not the integer quotient
}

TEST_F(PacingTest, FreeRunningPulsesLeadTheStandardBeat)
{
    S.pacing.PA = 2.0;
    S.pacing.pacingSynchronized = false;  // 60 per minute, free running
    Apply(7);
    const std::vector<Pulse> pulses = StreamPulses(3.5);
    // 30 ms ahead of the QRS onset at 0.01 s into each 1 s beat.
    ExpectStarts(pulses, {0.98, 1.98, 2.98});
    for (const Pulse& p : pulses) {
        EXPECT_EQ(p.length, 80);
    }
    EXPECT_TRUE(S.pulse.PacingIndicationNeeded);
    EXPECT_EQ(maxAbsPace, 0.0);  // no overshoot configured
}

TEST_F(PacingTest, PulseIsFlatWithoutOvershootAndMarksItsLastSample)
{
    S.pacing.PA = 2.0;
    S.pacing.PacingDuration = 0.1;  // 4 samples
    Apply(7);
    S.clock.fOutputTime = 0.979;
    std::vector<double> dc;
    std::vector<bool> last;
    StreamUntil(0.9815, [&](const Sample& s) {
        if (s.dc != 0.0) {
            dc.push_back(s.dc);
            last.push_back(S.pulse.PacingShortPulseNeeded);
        }
    });
    ASSERT_EQ(dc.size(), 4u);
    EXPECT_EQ(dc, std::vector<double>(4, 2.0));
    EXPECT_EQ(last, (std::vector<bool>{false, false, false, true}));
}

TEST_F(PacingTest, SynchronizedPulseLeadsTheCustomQrsOnset)
{
    S.pacing.PA = 1.0;
    Apply(8);  // QRS onset at 0.16 s
    const std::vector<Pulse> pulses = StreamPulses(2.5);
    ASSERT_EQ(pulses.size(), 3u);
    // Before the first pulse the shifted clock is still negative, and the
    // phase, folded toward zero, is that negative value itself: the
    // detector's 105 us window then opens just before the mark instead of
    // just after it.
    EXPECT_GE(pulses[0].start, 0.13 - 0.000105 - kOneSample);
    EXPECT_LE(pulses[0].start, 0.13 + kOneSample);
    EXPECT_NEAR(pulses[1].start, 1.13, kOneSample);
    EXPECT_NEAR(pulses[2].start, 2.13, kOneSample);
    for (const Pulse& p : pulses) {
        EXPECT_EQ(p.length, 80);
    }
}

TEST_F(PacingTest, SecondPulseRunsAheadOfTheMainPulse)
{
    S.pacing.PA = 1.0;
    S.pacing.PacingPulse = 1;
    Apply(7);
    ExpectStarts(StreamPulses(2.0), {0.83, 0.98, 1.83, 1.98});

    ResetSynthState();
    S.pacing.PA = 1.0;
    S.pacing.PacingPulse = 2;
    Apply(7);
    ExpectStarts(StreamPulses(1.5), {0.73, 0.98});
}

TEST_F(PacingTest, PacingPeriodFollowsTheBeatOnlyWithinTenToThreeHundredSixtyPerMinute)
{
    S.pacing.PA = 1.0;
    S.out.F = 2.0;  // 0.5 s beats, synchronized: a pulse every beat
    Apply(7);
    EXPECT_EQ(S.pulse.pp, 0.5);
    ExpectStarts(StreamPulses(1.6), {0.48, 0.98, 1.48});

    ResetSynthState();
    S.pacing.PA = 1.0;
    S.out.F = 0.1;  // 10 s beats: synchronized pacing falls back to 60 per minute
    Apply(7);
    EXPECT_EQ(S.pulse.pp, 1.0);
    ExpectStarts(StreamPulses(2.5), {0.98, 1.98});

    ResetSynthState();
    S.pacing.PA = 1.0;
    S.out.F = 2.0;
    S.pacing.pacingSynchronized = false;
    S.pacing.PacingRate = 30;
    Apply(7);
    ExpectStarts(StreamPulses(4.5), {1.98, 3.98});
}

TEST_F(PacingTest, OvershootOpposesThePulse)
{
    for (double pa : {-5.0, 5.0}) {
        SCOPED_TRACE(pa);
        ResetSynthState();
        S.pacing.PA = pa;
        S.pacing.PacingOvershootTC = 10;  // 10 ms: 400 samples
        S.pacing.POA = 1.0;
        Apply(7);
        const double sign = (pa > 0) ? -1.0 : 1.0;
        S.clock.fOutputTime = 0.9799;
        std::vector<Sample> samples;
        StreamUntil(0.9925, [&](const Sample& s) { samples.push_back(s); });
        size_t first = 0;
        while (first < samples.size() && samples[first].dc == 0.0) {
            ++first;
        }
        ASSERT_LT(first + 481, samples.size());
        // During the pulse the overshoot builds up from 0 toward 63 %.
        EXPECT_EQ(samples[first].dc, pa);
        EXPECT_NEAR(samples[first + 1].dc, pa + sign * (1 - std::exp(-2.0 / 80)), 1e-12);
        EXPECT_NEAR(samples[first + 79].dc, pa + sign * (1 - std::exp(-1.0)), 1e-12);
        for (size_t i = first; i < first + 80; ++i) {
            EXPECT_EQ(samples[i].pace, 0.0);
        }
        // After it the full overshoot decays on the signal channel.
        EXPECT_EQ(samples[first + 80].dc, 0.0);
        EXPECT_EQ(samples[first + 80].pace, sign * 1.0);
        EXPECT_NEAR(samples[first + 480].pace, sign * std::exp(-1.0), 1e-12);
        EXPECT_GT(std::fabs(samples[first + 200].pace), std::fabs(samples[first + 480].pace));
    }
}

TEST_F(PacingTest, AnAppliedChangeCutsTheOvershootTail)
{
    S.pacing.PA = 5.0;
    S.pacing.PacingOvershootTC = 10;
    S.pacing.POA = 2.0;
    Apply(7);
    StreamUntil(0.985, [](const Sample&) {});
    EXPECT_LT(StreamSample().pace, -1.0);
    Apply(7);
    EXPECT_EQ(StreamSample().pace, 0.0);
}

TEST_F(PacingTest, DcChannelWithPacingOff)
{
    Apply(7);
    S.dc.DCSetting = 250;
    double pace = 0.75;
    EXPECT_EQ(_GetPacingV5(S, pace), 250.0);
    EXPECT_EQ(pace, 0.75);  // left alone
    S.test.BaseLineOverload = 2;
    EXPECT_EQ(_GetPacingV5(S, pace), -500.0);

    // With pacing on, code 15 carries the pulses instead of its staircase.
    ResetSynthState();
    S.pacing.PA = 3.0;
    Apply(15);
    S.clock.fOutputTime = 100.0;
    EXPECT_EQ(_GetPacingV5(S, pace), 0.0);
    ExpectStarts(StreamPulses(101.0), {100.98});
}

} // namespace

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

class PacingTest : public SynthTest {};

TEST_F(PacingTest, PulsesLeadTheQrsOnsetAtThePacingPeriod)
{
    // The pulse starts 30 ms ahead of the QRS onset (10 ms into the beat,
    // 0.16 s in the custom beat), once per beat while the beat rate is
    // within 10..360 per minute and pacing is synchronized, else at the
    // pacing rate; a second pulse runs 0.15 s or 0.25 s ahead of it. Without
    // overshoot a pulse is flat at the pacing amplitude, and its last sample
    // is marked.
    const struct {
        int code; double f; bool synchronized; unsigned rate; int second; double ms, from, until;
        std::vector<double> starts; double tol = kOneSample;
    } rows[] = {
        {7, 1.0, false, 60, 0, 2.0, 0, 3.5, {0.98, 1.98, 2.98}}, {7, 1.0, true, 60, 1, 2.0, 0, 1.9, {0.83, 0.98, 1.83}},
        {7, 1.0, false, 45, 0, 2.0, 0.0, 3.0, {4.0 / 3 - 0.02, 8.0 / 3 - 0.02}},  // 60 / 45 s, not whole seconds
        {7, 1.0, true, 60, 2, 0.1, 0.0, 1.5, {0.73, 0.98}}, {7, 2.0, true, 60, 0, 2.0, 0.0, 1.6, {0.48, 0.98, 1.48}},
        {7, 0.1, true, 60, 0, 2.0, 0.0, 2.5, {0.98, 1.98}},        // 10 s beats: 60 per minute
        {7, 2.0, false, 30, 0, 2.0, 0.0, 4.5, {1.98, 3.98}},       {8, 1.0, true, 60, 0, 2.0, 0.5, 2.5, {1.13, 2.13}},
        {15, 1.0, true, 60, 0, 2.0, 100.0, 101.0, {100.98}},  // code 15 plays pulses, not its staircase
        // Before the first pulse the shifted clock is negative and the phase,
        // folded toward zero, is that value itself: the 105 us window opens
        // just before the mark.
        {8, 1.0, true, 60, 0, 2.0, 0.0, 0.5, {0.13 - 0.000105 / 2}, 0.000105 / 2 + kOneSample}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "code " << r.code << ", " << r.f << " Hz, rate " << r.rate << ", second "
                                        << r.second << ", from " << r.from);
        ResetSynthState();
        S.pacing.PA = 2.0;
        S.out.F = r.f;
        S.pacing.pacingSynchronized = r.synchronized;
        S.pacing.PacingRate = r.rate;
        S.pacing.PacingPulse = r.second;
        S.pacing.PacingDuration = r.ms;
        Apply(r.code);
        S.clock.fOutputTime = r.from;
        const int n = std::lround(r.ms * 40);  // samples of a pulse
        std::vector<double> starts;
        int k = 0;  // samples of the pulse so far
        StreamUntil(r.until, [&](const Sample& s) {
            EXPECT_TRUE(s.pace == 0.0 && (s.dc != 0.0 ? k < n : k == 0 || k == n)) << k << " at " << s.clock;
            k = (s.dc != 0.0) ? k + 1 : 0;
            if (k == 1) {
                starts.push_back(s.clock);
                EXPECT_TRUE(S.pulse.PacingIndicationNeeded);
                S.pulse.PacingIndicationNeeded = false;  // as the streaming loop does
            }
            EXPECT_TRUE(k == 0 || (s.dc == 2.0 && S.pulse.PacingShortPulseNeeded == (k == n))) << s.clock;
        });
        ASSERT_EQ(starts.size(), r.starts.size());
        for (size_t i = 0; i < starts.size(); ++i) {
            EXPECT_NEAR(starts[i], r.starts[i], r.tol) << i;
        }
    }
}

TEST_F(PacingTest, OvershootOpposesThePulseAndAChangeCutsItsTail)
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
        std::vector<Sample> v;
        StreamUntil(0.9925, [&](const Sample& s) { v.push_back(s); });
        const size_t p = std::find_if(v.begin(), v.end(), [](const Sample& s) { return s.dc != 0.0; }) - v.begin();
        ASSERT_LT(p + 481, v.size());
        // During the pulse the overshoot builds up from 0 toward 63 % on the DC channel.
        EXPECT_EQ(v[p].dc, pa);
        EXPECT_NEAR(v[p + 1].dc, pa + sign * (1 - std::exp(-2.0 / 80)), 1e-12);
        EXPECT_NEAR(v[p + 79].dc, pa + sign * (1 - std::exp(-1.0)), 1e-12);
        EXPECT_TRUE(std::all_of(&v[p], &v[p + 80], [](const Sample& s) { return s.pace == 0.0; }));
        // After it the full overshoot decays on the signal channel.
        EXPECT_TRUE(v[p + 80].dc == 0.0 && v[p + 80].pace == sign);
        EXPECT_NEAR(v[p + 480].pace, sign * std::exp(-1.0), 1e-12);
        ASSERT_NE(v.back().pace, 0.0);
        Apply(7);  // an applied change ends the tail
        EXPECT_EQ(StreamSample().pace, 0.0);
    }
}

TEST_F(PacingTest, DcChannelWithPacingOff)
{
    Apply(7);
    S.dc.DCSetting = 250;
    double pace = 0.75;
    EXPECT_TRUE(_GetPacingV5(S, pace) == 250.0 && pace == 0.75);  // the overshoot left alone
    S.test.BaseLineOverload = 2;
    EXPECT_EQ(_GetPacingV5(S, pace), -500.0);
}

} // namespace

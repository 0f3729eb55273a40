// Input dynamic range test (code 15): the signal channel ramps at 1 mV/s and
// the DC channel climbs a staircase of 0.5 mV per half second, so that their
// sum is one continuous ramp from -300 mV at 20 s to +300 mV at 620 s and
// back to -300 mV at 1220 s. The run is checked in one-second windows around
// its start, its first step, steps on the way up and down, the turn and the
// end; the state before a window is set to where the run has brought it.
#include "SynthTestSupport.h"

#include <cmath>
#include <vector>

namespace {

using namespace synthtest;

class InputDynamicRangeTest : public SynthTest {};

// DC-offset callback: the levels reported from 20 s to 1220 s, and the
// -300 mV reports outside that.
std::vector<int> g_Levels;
int g_At300 = 0;

// The sum of both channels at the clock: -300 mV outside 20..1220 s,
// -300 + (clock - 20) up to 620 s, 300 - (clock - 620) after.
double ExpectedSum(double c)
{
    return (c < 20.0 || c >= 1220.0) ? -300.0 : (c <= 620.0 ? c - 320.0 : 920.0 - c);
}

TEST_F(InputDynamicRangeTest, ChannelsSumToOneRampStepping0_5MillivoltsOnHalfSeconds)
{
    S.hooks.SyncDCOffsetCB = [](int mv) {
        if ((S.clock.fOutputTime < 20.0 || S.clock.fOutputTime >= 1220.0) && mv == -300) {
            ++g_At300;
        } else {
            g_Levels.push_back(mv);
        }
    };
    Apply(15);
    ASSERT_EQ(S.range.InputDynamicRangeDC, -300.0);
    // Window start, staircase level and ramp there (steps so far: 560 by
    // 300 s, 1199 by 619.5 s, 560 down by 900 s, 1199 down by 1219.5 s),
    // the steps up and down in the window, the levels the callback reports
    // at them (whole mV toward zero), and how many -300 mV reports the 0.3 ms
    // after the start and after the end give.
    const struct { double from, dc, ac; int up, down; std::vector<int> levels; int minAt300, maxAt300; } windows[] = {
        {0.0, -300.0, 0.0, 0, 0, {}, 12, 13},
        {19.75, -300.0, 0.0, 1, 0, {-299}, 0, 0},  // the mark run around 20 s steps nothing
        {300.25, -20.0, 0.25, 2, 0, {-19, -19}, 0, 0},
        {619.75, 299.5, 0.25, 1, 1, {300, 299}, 0, 0},
        {900.25, 20.0, -0.25, 0, 2, {19, 19}, 0, 0},
        {1219.75, -299.5, -0.25, 0, 1, {-300}, 11, 13}};
    for (const auto& w : windows) {
        SCOPED_TRACE(testing::Message() << "window from " << w.from << " s");
        S.clock.fOutputTime = w.from;
        S.range.InputDynamicRangeDC = w.dc;
        S.range.InputDynamicRangeAC = w.ac;
        g_Levels.clear();
        g_At300 = 0;
        int up = 0, down = 0, bad = 0;
        Sample prev = StreamSample();
        StreamUntil(w.from + 1.0, [&](const Sample& s) {
            // One ramp step (25 nV) per sample; a few more where the ramp
            // starts, turns and stops between the sample grid and the marks.
            bad += std::fabs(s.v + s.dc - (prev.v + prev.dc)) > 4.0 / kRate + 1e-9;
            bad += std::fabs(s.v + s.dc - ExpectedSum(s.clock)) > 1e-4;
            bad += (s.clock < 20.0 || s.clock >= 1220.0) && (s.v != 0.0 || s.dc != -300.0);
            if (s.dc != prev.dc) {  // a step: on a half-second mark, up until 620 s, then down
                bad += std::fabs(s.clock - std::round(s.clock * 2) / 2) > 1e-4;
                up += (s.dc - prev.dc == 0.5 && s.clock <= 620.0001);
                down += (s.dc - prev.dc == -0.5 && s.clock > 620.0001);
            }
            prev = s;
        });
        EXPECT_EQ(bad, 0);
        EXPECT_TRUE(up == w.up && down == w.down) << up << " up, " << down << " down";
        EXPECT_EQ(g_Levels, w.levels);
        EXPECT_TRUE(g_At300 >= w.minAt300 && g_At300 <= w.maxAt300) << g_At300;
    }
}

TEST_F(InputDynamicRangeTest, SignalChannelRampsFrom20To1220SecondsOnly)
{
    Apply(15);
    // Clock, then the signal channel from a ramp at 7 mV: one step of
    // 1 / 40000 mV up to 620 s, down after it, none outside 20..1220 s.
    const double up = 7.0 + 1.0 / kRate, down = 7.0 - 1.0 / kRate;
    const struct { double clock, v; } rows[] = {
        {19.99999, 0.0}, {20.0, up}, {620.0, up}, {620.00001, down}, {1219.99999, down}, {1220.0, 0.0}};
    for (const auto& r : rows) {
        S.range.InputDynamicRangeAC = 7.0;
        S.clock.fOutputTime = r.clock;
        EXPECT_NEAR(V(0.0), r.v, 1e-12) << r.clock;
    }
    EXPECT_EQ(S.range.InputDynamicRangeAC, 7.0);  // left alone outside
}

} // namespace

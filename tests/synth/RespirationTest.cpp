// Respiration modulation: the respiration factor over a breath and a minute
// with apnea, the parameter operation, and its three effects on the ECG
// beats (baseline, amplitude, beat-to-beat rate). Reference breath: 15 per
// minute with ratio 2, so 4 s per breath, 4/3 s inhale, 8/3 s exhale.
#include "protocol/Exchange.h"
#include "transport/PortContext.h"
#include "SynthTestSupport.h"

#include "hsim.h"
#include "runtime/Sync.h"
#include "transport/Port.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace synthtest;

class RespirationTest : public SynthTest {};

TEST_F(RespirationTest, BaselineAndAmplitudeFollowTheBreathAndTheMinute)
{
    // The respiration factor r is a positive half-sine over the inhale, a
    // negative one over the exhale, repeating every 4 s, and 0 in the apnea
    // that closes every minute (a negative apnea is none). It moves the flat
    // stretch of the beat by the baseline depth and swells the R crest
    // (0.875 mV) by the amplitude depth. The depths are set in percent of
    // the amplitude at the moment of the call, 0.5 mV (a later amplitude
    // does not rescale them): baseline 200 % is 1 mV, amplitude 100 % 0.5 mV.
    Apply(7);
    const auto exhale = [](double y) { return -std::sin(M_PI * y / (8.0 / 3)); };  // y s into the exhale
    const double r = exhale(2.05375 - 4.0 / 3);
    const struct { int apnea, baseline, amplitude; double clock, t, v, tol; } rows[] = {
        {0, 200, 0, 0.0, 0.5, 0.0, 0},        {0, 200, 0, 0.667, 0.5, 1.0, 1e-5},
        {0, 200, 0, 1.0, 0.5, std::sin(M_PI * 0.75), 1e-7},             {0, 200, 0, 4.0 / 3, 0.5, 0.0, 1e-7},
        {0, 200, 0, 2.0, 0.5, exhale(2.0 / 3), 1e-7},                   {0, 200, 0, 2.667, 0.5, -1.0, 1e-5},
        {0, 200, 0, 4.667, 0.5, 1.0, 1e-5},   {0, 200, 0, 40.667, 0.5, 1.0, 1e-5}, {0, 200, 0, 6.667, 0.5, -1.0, 1e-5},
        {20, 200, 0, 39.9, 0.5, exhale(3.9 - 4.0 / 3), 1e-7},  // the last breath before the apnea still exhales
        {20, 200, 0, 40.0, 0.5, 0.0, 0},      {20, 200, 0, 50.0, 0.5, 0.0, 0},    {20, 200, 0, 59.99, 0.5, 0.0, 0},
        {20, 200, 0, 60.667, 0.5, 1.0, 1e-5}, {20, 200, 0, 100.667, 0.5, 0.0, 0}, {-5, 200, 0, 44.667, 0.5, 1.0, 1e-5},
        {0, 200, 0, 2.05375, 0.05375, 0.875 + r, 1e-7},  // the baseline moves the crest too
        {0, 0, 100, 0.667, 0.05375, 0.875 * 1.5, 1e-5},  {0, 0, 100, 2.05375, 0.05375, 0.875 * (1 + 0.5 * r), 1e-7}};
    for (const auto& row : rows) {
        S.out.Amplitude = 0.5;
        ASSERT_TRUE(SetRespirationModel(S, 15, 2, row.apnea, row.baseline, row.amplitude, 0));
        S.out.Amplitude = 1.0;
        S.clock.fOutputTime = row.clock;
        EXPECT_NEAR(V(row.t), row.v, row.tol) << row.apnea << " " << row.baseline << " " << row.clock;
    }
}

TEST_F(RespirationTest, ParameterOperationRefusesWhatHasNoBreath)
{
    ASSERT_TRUE(SetRespirationModel(S, 15, 2, 0, 10, 20, 30));
    for (const auto& [breaths, ratio] : {std::pair{0, 2}, {-15, 2}, {15, 0}, {15, -1}}) {
        EXPECT_FALSE(SetRespirationModel(S, breaths, ratio, 0, 50, 50, 50)) << breaths << " " << ratio;
        EXPECT_TRUE(S.resp.OneRespireS == 4.0 && S.resp.BaselineModV == 0.1 && S.resp.FreqModHz == 0.3);
    }
    // The largest ratio does not overflow: nearly the whole breath exhales.
    ASSERT_TRUE(SetRespirationModel(S, 60, 2147483647, 0, 0, 0, 0));
    EXPECT_TRUE(std::fabs(S.resp.ExhaleS - 1.0) < 1e-9 && S.resp.InhaleS > 0.0) << S.resp.ExhaleS;
}

// Lengths of the beats that start between from and until on the output clock.
std::vector<double> BeatLengths(double from, double until)
{
    S.clock.fOutputTime = from;
    _RestartBeatScheduler(S);
    std::vector<double> lengths;
    double start = from;
    StreamUntil(until, [&](const Sample& s) {
        EXPECT_GE(s.clock - S.resp.FreqModPreEndT, 0.0);  // the beat time is never negative
        if (S.resp.FreqModPreEndT != start) {
            lengths.push_back(S.resp.FreqModPreEndT - start);
            start = S.resp.FreqModPreEndT;
        }
    });
    return lengths;
}

TEST_F(RespirationTest, BeatsFollowTheBreathButNotTheApnea)
{
    Apply(7);
    ASSERT_TRUE(SetRespirationModel(S, 15, 2, 0, 0, 0, 10));  // rate 1 Hz +- 0.1 Hz
    std::vector<double> lengths = BeatLengths(0.0, 20.0);
    ASSERT_GT(lengths.size(), 17u);
    EXPECT_NEAR(lengths[0], 1.0, 1e-12);  // the first beat keeps the period
    const auto [shortest, longest] = std::minmax_element(lengths.begin(), lengths.end());
    // Within 1 / (1 +- 0.1) s, and well into the faster and the slower half.
    EXPECT_TRUE(*shortest >= 1 / 1.1 - 1e-9 && *shortest < 0.96 && *longest <= 1 / 0.9 + 1e-9 && *longest > 1.08)
        << *shortest << ".." << *longest;
    ASSERT_TRUE(SetRespirationModel(S, 15, 2, 20, 0, 0, 10));
    lengths = BeatLengths(40.0, 60.0);  // the apnea: the plain rate
    ASSERT_GE(lengths.size(), 18u);
    for (double length : lengths) {
        EXPECT_NEAR(length, 1.0, 1e-9);
    }
    // The beat is drawn at the scheduler's beat time, not at the phase: the
    // R crest lies 0.05375 s after the beat start (a call starts a beat);
    // after a restart of output (the clock back at 0 while the scheduler
    // holds beat times near 100 s) the beat restarts with the clock. Without
    // the rate swing the beat time is the phase.
    S.clock.fOutputTime = 100.0;
    ASSERT_TRUE(SetRespirationModel(S, 15, 2, 0, 0, 0, 10));
    for (const auto& [clock, t, v] : {std::tuple{100.05375, 0.9, 0.875}, {0.0, 0.0, 0.0}, {0.05375, 0.5, 0.875}}) {
        S.clock.fOutputTime = clock;
        EXPECT_NEAR(V(t), v, 1e-9) << clock;
    }
    ASSERT_TRUE(SetRespirationModel(S, 15, 2, 0, 0, 0, 0));
    S.clock.fOutputTime = 100.5;
    EXPECT_NEAR(V(0.05375), 0.875, 1e-12);
}

TEST_F(RespirationTest, ParameterOperationWaitsForTheGlobalLock)
{
    // It wants an open device; any descriptor stands in for the port.
    std::atomic<long>& device = hsim::CurrentPort().hDevice;
    device.store(open("/dev/null", O_RDWR));
    ASSERT_GE(device.load(), 0);
    std::thread setter;
    {
        ContextGuard lock(hsim::ContextLock());
        setter = std::thread([] { EXPECT_EQ(SetRespireAlgorithmParam(20, 3, 0, 10, 10, 5), 1); });
        // Whatever the scheduling, it cannot change the model while the lock
        // is held: a transfer never sees half-written parameters.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(S.resp.OneRespireS, 0.0);
    }
    setter.join();
    EXPECT_TRUE(S.resp.OneRespireS == 3.0 && S.resp.InhaleS == 0.75 && S.resp.BaselineModV == 0.1);
    close(device.exchange(-1));
}

} // namespace

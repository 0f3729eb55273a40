// Respiration modulation: the respiration factor over a breath and a minute
// with apnea, the parameter operation, and its three effects on the ECG
// beats (baseline, amplitude, beat-to-beat rate). Reference breath: 15 per
// minute with ratio 2, so 4 s per breath, 4/3 s inhale, 8/3 s exhale.
#include "SynthTestSupport.h"

#include "hsim.h"
#include "runtime/Sync.h"
#include "transport/Port.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

using namespace synthtest;

class RespirationTest : public SynthTest {
protected:
    void SetUp() override
    {
        SynthTest::SetUp();
        // The parameter operation wants an open device; any descriptor
        // stands in for the port (nothing is sent).
        m_fd = open("/dev/null", O_RDWR);
        ASSERT_GE(m_fd, 0);
        g_hDevice.store(m_fd);
    }
    void TearDown() override
    {
        g_hDevice.store(-1);
        close(m_fd);
        SynthTest::TearDown();
    }

    int m_fd = -1;
};

TEST_F(RespirationTest, BreathShape)
{
    ASSERT_EQ(Respire(15, 2, 0, 0, 0, 0), 1);
    EXPECT_NEAR(S.resp.OneRespireS, 4.0, 1e-12);
    EXPECT_NEAR(S.resp.InhaleS, 4.0 / 3, 1e-12);
    EXPECT_NEAR(S.resp.ExhaleS, 8.0 / 3, 1e-12);

    EXPECT_EQ(_solveRespireVoltage(S, 0.0), 0.0);
    EXPECT_NEAR(_solveRespireVoltage(S, 0.667), 1.0, 1e-5);   // height of inspiration
    EXPECT_NEAR(_solveRespireVoltage(S, 4.0 / 3), 0.0, 1e-7);
    EXPECT_NEAR(_solveRespireVoltage(S, 2.667), -1.0, 1e-5);  // depth of expiration
    EXPECT_NEAR(_solveRespireVoltage(S, 1.0), std::sin(M_PI * 0.75), 1e-7);
    EXPECT_NEAR(_solveRespireVoltage(S, 2.0), -std::sin(M_PI * 0.25), 1e-7);
    EXPECT_EQ(_solveRespireVoltage(S, 4.5), 0.0);  // past the breath

    // On the output clock the breath repeats every 4 s.
    for (double clock : {0.667, 4.667, 40.667}) {
        S.clock.fOutputTime = clock;
        EXPECT_NEAR(_solveRespireV(S), 1.0, 1e-5) << clock;
    }
    S.clock.fOutputTime = 6.667;
    EXPECT_NEAR(_solveRespireV(S), -1.0, 1e-5);
}

TEST_F(RespirationTest, ApneaClosesEveryMinute)
{
    ASSERT_EQ(Respire(15, 2, 20, 0, 0, 0), 1);
    EXPECT_EQ(S.resp.OneApneaS, 20.0);
    int nonZero = 0;
    for (double clock = 40.0; clock < 60.0; clock += 0.01) {
        S.clock.fOutputTime = clock;
        nonZero += (_solveRespireV(S) != 0.0);
    }
    EXPECT_EQ(nonZero, 0);
    S.clock.fOutputTime = 39.9;  // the last breath before the apnea is still exhaling
    EXPECT_NEAR(_solveRespireV(S), -std::sin(M_PI * (3.9 - 4.0 / 3) / (8.0 / 3)), 1e-7);
    S.clock.fOutputTime = 60.667;  // breathing restarts with an inhale at the minute
    EXPECT_NEAR(_solveRespireV(S), 1.0, 1e-5);
    S.clock.fOutputTime = 100.667;
    EXPECT_NEAR(_solveRespireV(S), 0.0, 1e-12);

    // A negative apnea means none.
    ASSERT_EQ(Respire(15, 2, -5, 0, 0, 0), 1);
    EXPECT_EQ(S.resp.OneApneaS, 0.0);
    S.clock.fOutputTime = 44.667;
    EXPECT_NEAR(_solveRespireV(S), 1.0, 1e-5);
}

TEST_F(RespirationTest, ParameterOperationRefusesWhatHasNoBreath)
{
    ASSERT_EQ(Respire(15, 2, 0, 10, 20, 30), 1);
    const double breath = S.resp.OneRespireS;
    const double baseline = S.resp.BaselineModV;
    const double rate = S.resp.FreqModHz;
    EXPECT_NEAR(baseline, 0.1, 1e-15);
    EXPECT_NEAR(S.resp.AmpModV, 0.2, 1e-15);
    EXPECT_NEAR(rate, 0.3, 1e-15);

    EXPECT_EQ(Respire(0, 2, 0, 50, 50, 50), 0);
    EXPECT_EQ(Respire(-15, 2, 0, 50, 50, 50), 0);
    EXPECT_EQ(Respire(15, 0, 0, 50, 50, 50), 0);
    EXPECT_EQ(Respire(15, -1, 0, 50, 50, 50), 0);
    EXPECT_EQ(S.resp.OneRespireS, breath);
    EXPECT_EQ(S.resp.BaselineModV, baseline);
    EXPECT_EQ(S.resp.FreqModHz, rate);

    // The largest ratio does not overflow: nearly the whole breath exhales.
    ASSERT_EQ(Respire(60, 2147483647, 0, 0, 0, 0), 1);
    EXPECT_NEAR(S.resp.ExhaleS, 1.0, 1e-9);
    EXPECT_GT(S.resp.InhaleS, 0.0);

    // frequencyPercent 0 switches the beat scheduler off; the depths are
    // relative to the amplitude and rate of the moment of the call.
    S.out.Amplitude = 2.0;
    ASSERT_EQ(Respire(15, 2, 0, 10, 0, 0), 1);
    EXPECT_EQ(S.resp.FreqModHz, 0.0);
    EXPECT_NEAR(S.resp.BaselineModV, 0.2, 1e-15);

    _ResetRespireModulation(S);
    EXPECT_EQ(S.resp.BaselineModV, 0.0);
    EXPECT_EQ(S.resp.AmpModV, 0.0);
    EXPECT_EQ(S.resp.FreqModHz, 0.0);
}

TEST_F(RespirationTest, BaselineSwingsWithTheBreath)
{
    S.ecg.CusT = 0.0;
    Apply(7);
    ASSERT_EQ(Respire(15, 2, 0, 20, 0, 0), 1);  // +-0.2 mV at 1 mV
    double lo = 0.0, hi = 0.0;
    StreamUntil(8.0, [&](const Sample& s) {
        if (s.t > 0.2) {  // after the QRS the beat itself is flat
            lo = std::min(lo, s.v);
            hi = std::max(hi, s.v);
        }
    });
    EXPECT_NEAR(hi, 0.2, 1e-6);
    EXPECT_NEAR(lo, -0.2, 1e-6);
}

TEST_F(RespirationTest, AmplitudeSwellsWithTheBreath)
{
    Apply(7);
    ASSERT_EQ(Respire(15, 2, 0, 0, 50, 0), 1);  // +-0.5 mV on a 1 mV R wave
    // R crest of the third beat: clock 2.05375, 0.72 s into the exhale.
    S.clock.fOutputTime = 2.05375;
    const double r = -std::sin(M_PI * (2.05375 - 4.0 / 3) / (8.0 / 3));
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05375), 0.875 * (1 + 0.5 * r), 1e-7);
    // Near the height of inspiration the crest grows by half.
    S.clock.fOutputTime = 0.667;
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05375), 0.875 * 1.5, 1e-5);
}

TEST_F(RespirationTest, BeatLengthsFollowTheBreath)
{
    Apply(7);
    ASSERT_EQ(Respire(15, 2, 0, 0, 0, 10), 1);  // rate 1 Hz +- 0.1 Hz
    EXPECT_NEAR(S.resp.FreqModHz, 0.1, 1e-15);
    std::vector<double> starts{S.resp.FreqModPreEndT};
    double minTau = 0.0;
    StreamUntil(60.0, [&](const Sample& s) {
        if (S.resp.FreqModPreEndT != starts.back()) {
            starts.push_back(S.resp.FreqModPreEndT);
        }
        minTau = std::min(minTau, s.clock - S.resp.FreqModPreEndT);
    });
    ASSERT_GT(starts.size(), 55u);
    EXPECT_NEAR(starts[1] - starts[0], 1.0, 1e-12);  // the first beat keeps the period
    double shortest = 10.0, longest = 0.0;
    for (size_t i = 1; i < starts.size(); ++i) {
        const double len = starts[i] - starts[i - 1];
        shortest = std::min(shortest, len);
        longest = std::max(longest, len);
    }
    EXPECT_GE(shortest, 1 / 1.1 - 1e-9);
    EXPECT_LE(longest, 1 / 0.9 + 1e-9);
    EXPECT_LT(shortest, 0.96);  // well into the faster half
    EXPECT_GT(longest, 1.08);   // and into the slower one
    EXPECT_GE(minTau, 0.0);
}

TEST_F(RespirationTest, ApneaBeatsUseThePlainRate)
{
    Apply(7);
    ASSERT_EQ(Respire(15, 2, 20, 0, 0, 10), 1);
    std::vector<double> starts{S.resp.FreqModPreEndT};
    StreamUntil(62.0, [&](const Sample&) {
        if (S.resp.FreqModPreEndT != starts.back()) {
            starts.push_back(S.resp.FreqModPreEndT);
        }
    });
    int apneaBeats = 0;
    for (size_t i = 1; i + 1 < starts.size(); ++i) {
        if (starts[i] >= 40.0 && starts[i] < 60.0) {
            ++apneaBeats;
            EXPECT_NEAR(starts[i + 1] - starts[i], 1.0, 1e-9) << starts[i];
        }
    }
    EXPECT_GE(apneaBeats, 18);
}

TEST_F(RespirationTest, BeatTimeIsTheBeatSchedulersAndNeverNegative)
{
    S.ecg.CusT = 0.0;
    Apply(7);
    S.clock.fOutputTime = 100.0;
    ASSERT_EQ(Respire(15, 2, 0, 0, 0, 10), 1);
    EXPECT_EQ(S.resp.FreqModPreEndT, 100.0);
    EXPECT_EQ(S.resp.FreqModEndT, 101.0);
    // The beat is drawn at the scheduler's beat time, not at the phase: the
    // R crest lies 0.05375 s after the beat start whatever the phase says.
    S.clock.fOutputTime = 100.05375;
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.9), 0.875, 1e-9);

    // Output restarted: the clock is back at 0 while the scheduler still
    // holds beat times near 100 s. The beat restarts with the clock.
    S.clock.fOutputTime = 0.0;
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 0.0);
    EXPECT_EQ(S.resp.FreqModPreEndT, 0.0);
    EXPECT_EQ(S.resp.FreqModEndT, 1.0);
    S.clock.fOutputTime = 0.05375;
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05375), 0.875, 1e-9);

    S.clock.fOutputTime = 7.0;
    _RestartBeatScheduler(S);
    EXPECT_EQ(S.resp.FreqModPreEndT, 7.0);
    EXPECT_EQ(S.resp.FreqModEndT, 8.0);

    // Without frequency modulation the beat time is the phase.
    ASSERT_EQ(Respire(15, 2, 0, 0, 0, 0), 1);
    S.clock.fOutputTime = 100.5;
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05375), 0.875, 1e-12);
}

TEST_F(RespirationTest, TransferNeverSeesHalfWrittenParameters)
{
    Apply(7);
    ASSERT_EQ(Respire(15, 2, 0, 20, 20, 10), 1);
    std::atomic<bool> done{false};
    std::thread setter([&] {
        for (int i = 0; !done.load(); ++i) {
            if (i % 2 == 0) {
                SetRespireAlgorithmParam(20, 3, 0, 10, 10, 5);
            } else {
                SetRespireAlgorithmParam(15, 2, 0, 20, 20, 10);
            }
        }
    });
    // Transfers of 700 samples under the lock, as the poll thread makes
    // them: within one the breath and its parts belong to one call.
    int mixed = 0;
    for (int transfer = 0; transfer < 300; ++transfer) {
        CAutoCriticalSection lock(g_CriticalSection);
        const double breath = S.resp.OneRespireS;
        const double depth = S.resp.BaselineModV;
        for (int i = 0; i < 700; ++i) {
            StreamSample();
            mixed += (S.resp.OneRespireS != breath || S.resp.BaselineModV != depth);
        }
        const bool first = (breath == 4.0 && S.resp.InhaleS == 4.0 / 3 && depth == 0.2);
        const bool second = (breath == 3.0 && S.resp.InhaleS == 0.75 && depth == 0.1);
        mixed += !(first || second);
    }
    done = true;
    setter.join();
    EXPECT_EQ(mixed, 0);
}

} // namespace

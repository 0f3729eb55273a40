// Respiration modulation: the respiration factor over a breath and a minute
// with apnea, the parameter operation, and its three effects on the ECG
// beats (baseline, amplitude, beat-to-beat rate). Reference breath: 15 per
// minute with ratio 2, so 4 s per breath, 4/3 s inhale, 8/3 s exhale.
#include "SynthTestSupport.h"

#include "link/Globals.h"
#include "link/Port.h"

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
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 0, 0, 0), 1);
    EXPECT_NEAR(s_OneRespireS, 4.0, 1e-12);
    EXPECT_NEAR(s_InhaleS, 4.0 / 3, 1e-12);
    EXPECT_NEAR(s_ExhaleS, 8.0 / 3, 1e-12);

    EXPECT_EQ(_solveRespireVoltage(0.0), 0.0);
    EXPECT_NEAR(_solveRespireVoltage(0.667), 1.0, 1e-5);   // height of inspiration
    EXPECT_NEAR(_solveRespireVoltage(4.0 / 3), 0.0, 1e-7);
    EXPECT_NEAR(_solveRespireVoltage(2.667), -1.0, 1e-5);  // depth of expiration
    EXPECT_NEAR(_solveRespireVoltage(1.0), std::sin(M_PI * 0.75), 1e-7);
    EXPECT_NEAR(_solveRespireVoltage(2.0), -std::sin(M_PI * 0.25), 1e-7);
    EXPECT_EQ(_solveRespireVoltage(4.5), 0.0);  // past the breath

    // On the output clock the breath repeats every 4 s.
    for (double clock : {0.667, 4.667, 40.667}) {
        g_fOutputTime = clock;
        EXPECT_NEAR(_solveRespireV(), 1.0, 1e-5) << clock;
    }
    g_fOutputTime = 6.667;
    EXPECT_NEAR(_solveRespireV(), -1.0, 1e-5);
}

TEST_F(RespirationTest, ApneaClosesEveryMinute)
{
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 20, 0, 0, 0), 1);
    EXPECT_EQ(s_OneApneaS, 20.0);
    int nonZero = 0;
    for (double clock = 40.0; clock < 60.0; clock += 0.01) {
        g_fOutputTime = clock;
        nonZero += (_solveRespireV() != 0.0);
    }
    EXPECT_EQ(nonZero, 0);
    g_fOutputTime = 39.9;  // the last breath before the apnea is still exhaling
    EXPECT_NEAR(_solveRespireV(), -std::sin(M_PI * (3.9 - 4.0 / 3) / (8.0 / 3)), 1e-7);
    g_fOutputTime = 60.667;  // breathing restarts with an inhale at the minute
    EXPECT_NEAR(_solveRespireV(), 1.0, 1e-5);
    g_fOutputTime = 100.667;
    EXPECT_NEAR(_solveRespireV(), 0.0, 1e-12);

    // A negative apnea means none.
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, -5, 0, 0, 0), 1);
    EXPECT_EQ(s_OneApneaS, 0.0);
    g_fOutputTime = 44.667;
    EXPECT_NEAR(_solveRespireV(), 1.0, 1e-5);
}

TEST_F(RespirationTest, ParameterOperationRefusesWhatHasNoBreath)
{
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 10, 20, 30), 1);
    const double breath = s_OneRespireS;
    const double baseline = s_BaselineModV;
    const double rate = s_FreqModHz;
    EXPECT_NEAR(baseline, 0.1, 1e-15);
    EXPECT_NEAR(s_AmpModV, 0.2, 1e-15);
    EXPECT_NEAR(rate, 0.3, 1e-15);

    EXPECT_EQ(SetRespireAlgorithmParam(0, 2, 0, 50, 50, 50), 0);
    EXPECT_EQ(SetRespireAlgorithmParam(-15, 2, 0, 50, 50, 50), 0);
    EXPECT_EQ(SetRespireAlgorithmParam(15, 0, 0, 50, 50, 50), 0);
    EXPECT_EQ(SetRespireAlgorithmParam(15, -1, 0, 50, 50, 50), 0);
    g_hDevice.store(-1);  // no device open
    EXPECT_EQ(SetRespireAlgorithmParam(15, 2, 0, 50, 50, 50), 0);
    EXPECT_EQ(s_OneRespireS, breath);
    EXPECT_EQ(s_BaselineModV, baseline);
    EXPECT_EQ(s_FreqModHz, rate);
    g_hDevice.store(m_fd);

    // The largest ratio does not overflow: nearly the whole breath exhales.
    ASSERT_EQ(SetRespireAlgorithmParam(60, 2147483647, 0, 0, 0, 0), 1);
    EXPECT_NEAR(s_ExhaleS, 1.0, 1e-9);
    EXPECT_GT(s_InhaleS, 0.0);

    // frequencyPercent 0 switches the beat scheduler off; the depths are
    // relative to the amplitude and rate of the moment of the call.
    g_Amplitude = 2.0;
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 10, 0, 0), 1);
    EXPECT_EQ(s_FreqModHz, 0.0);
    EXPECT_NEAR(s_BaselineModV, 0.2, 1e-15);

    _ResetRespireModulation();
    EXPECT_EQ(s_BaselineModV, 0.0);
    EXPECT_EQ(s_AmpModV, 0.0);
    EXPECT_EQ(s_FreqModHz, 0.0);
}

TEST_F(RespirationTest, BaselineSwingsWithTheBreath)
{
    g_CusT = 0.0;
    Apply(7);
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 20, 0, 0), 1);  // +-0.2 mV at 1 mV
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
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 0, 50, 0), 1);  // +-0.5 mV on a 1 mV R wave
    // R crest of the third beat: clock 2.05375, 0.72 s into the exhale.
    g_fOutputTime = 2.05375;
    const double r = -std::sin(M_PI * (2.05375 - 4.0 / 3) / (8.0 / 3));
    EXPECT_NEAR(_GetMainFunctionVoltage(0.05375), 0.875 * (1 + 0.5 * r), 1e-7);
    // Near the height of inspiration the crest grows by half.
    g_fOutputTime = 0.667;
    EXPECT_NEAR(_GetMainFunctionVoltage(0.05375), 0.875 * 1.5, 1e-5);
}

TEST_F(RespirationTest, BeatLengthsFollowTheBreath)
{
    Apply(7);
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 0, 0, 10), 1);  // rate 1 Hz +- 0.1 Hz
    EXPECT_NEAR(s_FreqModHz, 0.1, 1e-15);
    std::vector<double> starts{s_FreqModPreEndT};
    double minTau = 0.0;
    StreamUntil(60.0, [&](const Sample& s) {
        if (s_FreqModPreEndT != starts.back()) {
            starts.push_back(s_FreqModPreEndT);
        }
        minTau = std::min(minTau, s.clock - s_FreqModPreEndT);
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
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 20, 0, 0, 10), 1);
    std::vector<double> starts{s_FreqModPreEndT};
    StreamUntil(62.0, [&](const Sample&) {
        if (s_FreqModPreEndT != starts.back()) {
            starts.push_back(s_FreqModPreEndT);
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
    g_CusT = 0.0;
    Apply(7);
    g_fOutputTime = 100.0;
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 0, 0, 10), 1);
    EXPECT_EQ(s_FreqModPreEndT, 100.0);
    EXPECT_EQ(s_FreqModEndT, 101.0);
    // The beat is drawn at the scheduler's beat time, not at the phase: the
    // R crest lies 0.05375 s after the beat start whatever the phase says.
    g_fOutputTime = 100.05375;
    EXPECT_NEAR(_GetMainFunctionVoltage(0.9), 0.875, 1e-9);

    // Output restarted: the clock is back at 0 while the scheduler still
    // holds beat times near 100 s. The beat restarts with the clock.
    g_fOutputTime = 0.0;
    EXPECT_EQ(_GetMainFunctionVoltage(0.0), 0.0);
    EXPECT_EQ(s_FreqModPreEndT, 0.0);
    EXPECT_EQ(s_FreqModEndT, 1.0);
    g_fOutputTime = 0.05375;
    EXPECT_NEAR(_GetMainFunctionVoltage(0.05375), 0.875, 1e-9);

    g_fOutputTime = 7.0;
    _RestartBeatScheduler();
    EXPECT_EQ(s_FreqModPreEndT, 7.0);
    EXPECT_EQ(s_FreqModEndT, 8.0);

    // Without frequency modulation the beat time is the phase.
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 0, 0, 0), 1);
    g_fOutputTime = 100.5;
    EXPECT_NEAR(_GetMainFunctionVoltage(0.05375), 0.875, 1e-12);
}

TEST_F(RespirationTest, TransferNeverSeesHalfWrittenParameters)
{
    Apply(7);
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 20, 20, 10), 1);
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
        const double breath = s_OneRespireS;
        const double depth = s_BaselineModV;
        for (int i = 0; i < 700; ++i) {
            StreamSample();
            mixed += (s_OneRespireS != breath || s_BaselineModV != depth);
        }
        const bool first = (breath == 4.0 && s_InhaleS == 4.0 / 3 && depth == 0.2);
        const bool second = (breath == 3.0 && s_InhaleS == 0.75 && depth == 0.1);
        mixed += !(first || second);
    }
    done = true;
    setter.join();
    EXPECT_EQ(mixed, 0);
}

} // namespace

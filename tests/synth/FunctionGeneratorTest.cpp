// Function generator: the periodic test waveforms over whole cycles, the
// file playback, the codes without a waveform, and the overlays with their
// clamps. Expected values come from the waveform definitions (peaks, zero
// crossings, slopes, time constants).
#include "SynthTestSupport.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace {

using namespace synthtest;

class FunctionGeneratorTest : public SynthTest {
protected:
    // Streams `cycles` whole cycles from clock 0 and returns the signal
    // channel.
    std::vector<double> StreamCycles(int cycles)
    {
        std::vector<double> v;
        const int n = static_cast<int>(std::lround(cycles * S.clock.fTimePeriod * kRate));
        S.clock.fOutputTime = 0.0;
        for (int i = 0; i < n; ++i) {
            v.push_back(StreamSample().v);
        }
        return v;
    }
};

TEST_F(FunctionGeneratorTest, SineCyclesArePeakedAndAntisymmetric)
{
    S.out.Amplitude = 2.0;  // 2 mV peak to peak: +-1 mV
    S.out.F = 50.0;         // 800 samples per cycle
    Apply(1);
    const std::vector<double> v = StreamCycles(3);
    ASSERT_EQ(v.size(), 2400u);
    EXPECT_EQ(v[0], 0.0);
    EXPECT_NEAR(v[200], 1.0, 1e-9);   // quarter cycle
    EXPECT_NEAR(v[600], -1.0, 1e-9);  // three quarters
    for (size_t i = 0; i + 400 < v.size(); ++i) {
        ASSERT_NEAR(v[i + 400], -v[i], 1e-6) << i;
        ASSERT_LE(std::fabs(v[i]), 1.0) << i;
    }
    // Every cycle repeats the first.
    for (size_t i = 0; i + 800 < v.size(); ++i) {
        ASSERT_NEAR(v[i + 800], v[i], 1e-6) << i;
    }
}

TEST_F(FunctionGeneratorTest, TriangleCyclesAreSymmetricWithConstantSlope)
{
    S.out.Amplitude = 2.0;  // +-1 mV
    S.out.F = 10.0;         // 4000 samples per cycle, slope 40 mV/s
    Apply(2);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 0.0);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.025), 1.0, 1e-12);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05), 0.0, 1e-12);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.075), -1.0, 1e-12);

    const std::vector<double> v = StreamCycles(2);
    ASSERT_EQ(v.size(), 8000u);
    for (size_t i = 1; i < v.size(); ++i) {
        // 40 mV/s over 25 us: every step is 1 uV up or down, also across
        // the turning points and the cycle boundary.
        ASSERT_NEAR(std::fabs(v[i] - v[i - 1]), 0.001, 1e-9) << i;
        ASSERT_LE(std::fabs(v[i]), 1.0 + 1e-12) << i;
    }
    for (size_t i = 0; i <= 1000; ++i) {
        ASSERT_NEAR(v[2000 - i], v[i], 1e-9) << i;    // mirror about the crest
        ASSERT_NEAR(v[2000 + i], -v[i], 1e-9) << i;   // second half inverted
    }
}

TEST_F(FunctionGeneratorTest, SquareHalvesAndDynamicRangeOverlay)
{
    S.out.Amplitude = 2.0;
    S.out.F = 10.0;
    Apply(3);
    const std::vector<double> v = StreamCycles(1);
    for (size_t i = 0; i < v.size(); ++i) {
        if (i < 1999) {
            ASSERT_EQ(v[i], 1.0) << i;
        } else if (i > 2001) {
            ASSERT_EQ(v[i], -1.0) << i;
        } else {
            ASSERT_EQ(std::fabs(v[i]), 1.0) << i;
        }
    }

    // The 40 Hz overlay of 1 mV peak to peak runs on the output clock: at
    // clock 1/160 s it is at its +0.5 mV crest whatever the phase.
    S.test.DynamicRangeTest = true;
    Apply(3);
    S.clock.fOutputTime = 1.0 / 160;
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.0), 1.5, 1e-6);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.07), -0.5, 1e-6);
    Apply(2);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.0), 0.5, 1e-6);
    // The sine carries no overlay.
    Apply(1);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 0.0);
}

TEST_F(FunctionGeneratorTest, DynamicRangeOverlayIsClippedToFiveMillivolts)
{
    S.test.DynamicRangeTest = true;
    S.out.F = 10.0;
    Apply(3);
    S.work.A = 4.8;  // carrier plus the 0.5 mV overlay would reach 5.3 mV
    const std::vector<double> v = StreamCycles(1);
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    EXPECT_EQ(*hi, 5.0);
    EXPECT_EQ(*lo, -5.0);
    EXPECT_GT(std::count(v.begin(), v.end(), 5.0), 100);
    EXPECT_GT(std::count(v.begin(), v.end(), -5.0), 100);
}

TEST_F(FunctionGeneratorTest, RectangularPulse)
{
    S.out.Amplitude = 2.0;  // pulse height 2 mV
    Apply(4);           // 100 ms in a 1 s cycle
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 2.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0999), 2.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.1001), 0.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.9), 0.0);

    // A pulse at least as wide as the cycle fills it.
    S.out.F = 5.0;
    S.out.PulseWidth = 300.0;
    Apply(4);
    const std::vector<double> v = StreamCycles(2);
    EXPECT_EQ(std::count(v.begin(), v.end(), 2.0), static_cast<long>(v.size()));
}

TEST_F(FunctionGeneratorTest, TriangularPulseStartsAfterThePacingDelay)
{
    S.out.Amplitude = 2.0;  // peak 2 mV at half the 100 ms width
    Apply(5);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 0.0);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.025), 1.0, 1e-12);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05), 2.0, 1e-12);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.075), 1.0, 1e-12);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.1001), 0.0);

    S.pacing.PA = 1.0;  // with a pacing amplitude the pulse starts 10 ms later
    Apply(5);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.005), 0.0);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.035), 1.0, 1e-12);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.06), 2.0, 1e-12);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.085), 1.0, 1e-12);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.1101), 0.0);
}

TEST_F(FunctionGeneratorTest, ExponentialDecays)
{
    S.out.Amplitude = 2.0;
    Apply(6);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 2.0);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05), 2.0 / M_E, 1e-12);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.1), 2.0 / (M_E * M_E), 1e-12);

    Apply(13);  // biphasic: +-S.work.A edges, 50 ms decay, 1 s cycle forced
    EXPECT_EQ(S.out.F, 1.0);
    EXPECT_EQ(S.out.PulseWidth, 50.0);
    EXPECT_EQ(S.clock.fTimePeriod, 1.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 1.0);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05), 1.0 / M_E, 1e-12);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.5), -1.0);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.55), -1.0 / M_E, 1e-12);
}

TEST_F(FunctionGeneratorTest, CodesWithoutWaveformGiveZero)
{
    for (int code : {0, 11, 12, 19, 42, -3}) {
        SCOPED_TRACE(code);
        Apply(code);
        S.clock.fTimePeriod = 1.0;
        const std::vector<double> v = StreamCycles(1);
        EXPECT_EQ(std::count(v.begin(), v.end(), 0.0), static_cast<long>(v.size()));
    }
}

TEST_F(FunctionGeneratorTest, EcgFilePlayback)
{
    Apply(14);  // no file loaded
    std::vector<double> v = StreamCycles(1);
    EXPECT_EQ(std::count(v.begin(), v.end(), 0.0), static_cast<long>(v.size()));

    double file[] = {1000.0, 2000.0, -500.0, 250.0};  // microvolts, 4 per second
    S.file.ECGFile = file;
    S.file.ECGFileSize = 4;
    S.file.ECGFileFreq = 4.0;
    for (int code : {14, 18}) {
        SCOPED_TRACE(code);
        S.file.ECGFileUnitMV = false;
        Apply(code);
        EXPECT_EQ(S.clock.fTimePeriod, 1.0);
        EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 1.0);
        EXPECT_EQ(_GetMainFunctionVoltage(S, 0.3), 2.0);
        EXPECT_EQ(_GetMainFunctionVoltage(S, 0.6), -0.5);
        EXPECT_EQ(_GetMainFunctionVoltage(S, 0.99), 0.25);
        // A phase at the very end of the cycle reads the last sample.
        EXPECT_EQ(_GetMainFunctionVoltage(S, 1.0), 0.25);
        S.file.ECGFileUnitMV = true;
        EXPECT_EQ(_GetMainFunctionVoltage(S, 0.3), 2000.0);
    }

    S.file.ECGFileSize = 0;  // an empty file plays nothing
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.3), 0.0);
}

TEST_F(FunctionGeneratorTest, MainsNoiseOnTheEcg)
{
    S.out.Amplitude = 0.0;  // flat beat: only the overlay remains
    S.ecg.CusT = 0.0;
    S.test.MainNoise = 1;
    Apply(7);  // noise amplitude 0.1 mV peak to peak: +-0.05 mV
    S.clock.fOutputTime = 0.005;  // crest of 50 Hz
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.5), 0.05, 1e-9);
    S.clock.fOutputTime = 1.0 / 240;  // crest of 60 Hz, 75 degrees of 50 Hz
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.5), 0.05 * std::sin(5 * M_PI / 12), 1e-9);
    for (int mode : {2, 7}) {
        S.test.MainNoise = mode;
        EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.5), 0.05, 1e-9) << mode;
    }

    S.test.MainNoise = 3;  // uniform in [-1, 1] times 0.05 mV
    std::vector<double> v = StreamCycles(1);
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    EXPECT_GE(*lo, -0.05);
    EXPECT_LE(*hi, 0.05);
    EXPECT_LT(*lo, -0.045);
    EXPECT_GT(*hi, 0.045);
    double sum = 0.0;
    for (double x : v) {
        sum += x;
    }
    EXPECT_LT(std::fabs(sum / v.size()), 0.002);
    EXPECT_GT(std::set<double>(v.begin(), v.end()).size(), v.size() / 2);

    // The sine carries no mains noise.
    S.test.MainNoise = 1;
    Apply(1);
    S.clock.fOutputTime = 0.005;
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 0.0);
}

TEST_F(FunctionGeneratorTest, BaselineDriftIsATriangleOnTheClock)
{
    S.out.Amplitude = 0.0;
    S.ecg.CusT = 0.0;
    S.test.AAMIDriftTest = true;  // 4 mV peak to peak over 10 s
    Apply(8);
    const struct {
        double clock, v;
    } points[] = {{1.0, 0.8}, {2.5, 2.0}, {5.0, 0.0}, {7.5, -2.0}, {9.0, -0.8}, {12.5, 2.0}};
    for (const auto& p : points) {
        S.clock.fOutputTime = p.clock;
        EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.7), p.v, 1e-9) << p.clock;
    }

    S.work.RangeV4Ch2On = 1.5;  // the ECG clamp applies after the drift
    Apply(8);
    S.clock.fOutputTime = 2.5;
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.7), 1.5);
    S.clock.fOutputTime = 7.5;
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.7), -1.5);
}

TEST_F(FunctionGeneratorTest, FoldTimeUsesThirtyTwoBitTruncation)
{
    EXPECT_NEAR(_FoldTime(2.75, 1.0), 0.75, 1e-15);
    EXPECT_NEAR(_FoldTime(-0.25, 1.0), -0.25, 1e-15);  // toward zero, not down
    EXPECT_EQ(_Trunc32(-1.9), -1);
    EXPECT_EQ(_Trunc32(3e9), INT32_MAX);    // saturates instead of wrapping
    EXPECT_EQ(_Trunc32(-3e9), INT32_MIN);
    EXPECT_EQ(_Trunc32(std::nan("")), 0);
}

} // namespace

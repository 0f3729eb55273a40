// Function generator: the test waveforms at their landmarks and over whole
// streamed cycles, the file playback, the codes without a waveform, and the
// overlays with their clamps. Expected values come from the waveform
// definitions (peaks, zero crossings, slopes, time constants).
#include "SynthTestSupport.h"

#include "hsim.h"
#include "synth/tables/StandardTables.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <vector>

namespace {

using namespace synthtest;

class FunctionGeneratorTest : public SynthTest {};

// Streams whole cycles from clock 0 and returns the signal channel.
std::vector<double> StreamCycles(int cycles)
{
    std::vector<double> v;
    StreamUntil(cycles * S.clock.fTimePeriod - 0.5 / kRate, [&](const Sample& s) { v.push_back(s.v); });
    return v;
}

TEST_F(FunctionGeneratorTest, WaveformsAtTheirLandmarks)
{
    // Amplitude setting 2 mV: +-1 mV for sine, triangle, square and the
    // biphasic edges, 2 mV for the pulses and the exponential. Pulses are
    // 100 ms wide; a pacing amplitude delays the triangular pulse by 10 ms.
    // Codes without a waveform play 0 V.
    //
    // The ECG beats have R amplitude a = 2 mV at 60 per minute, QRS 100 ms.
    // Standard beat (7): lead-in to 10 ms, R crest 0.875 a at 53.75 ms, S
    // trough -0.125 a at 103.75 ms, back to 0 at 110 ms, ST segment to
    // 180 ms, T arc of 0.2 mV peak at 270 ms to 360 ms. Custom beat (8): P
    // 0.2 mV over 0..0.1 s, QRS onset at PR = 0.16 s (R crest 0.20375 s, S
    // trough 0.25375 s, ramp to the ST level until 0.26 s), no ST deviation;
    // ST 70/250 and T 180/250 of the 0.25 s left of the 350 ms QT: ST to
    // 0.33 s, T of 0.2 mV peak over 0.33..0.51 s.
    const double t45 = 0.2 * std::sin(M_PI / 4);
    const struct { int code; double f, pa, t, v; } rows[] = {
        {1, 50, 0, 0.0, 0.0},    {1, 50, 0, 0.005, 1.0},   {1, 50, 0, 0.01, 0.0},     {1, 50, 0, 0.015, -1.0},
        {2, 10, 0, 0.0, 0.0},    {2, 10, 0, 0.0125, 0.5},  {2, 10, 0, 0.025, 1.0},    {2, 10, 0, 0.05, 0.0},
        {2, 10, 0, 0.075, -1.0}, {2, 10, 0, 0.0875, -0.5}, {3, 10, 0, 0.0, 1.0},      {3, 10, 0, 0.0499, 1.0},
        {3, 10, 0, 0.0501, -1.0}, {3, 10, 0, 0.0999, -1.0}, {4, 1, 0, 0.0, 2.0},      {4, 1, 0, 0.0999, 2.0},
        {4, 1, 0, 0.1001, 0.0},  {4, 1, 0, 0.9, 0.0},      {5, 1, 0, 0.0, 0.0},       {5, 1, 0, 0.025, 1.0},
        {5, 1, 0, 0.05, 2.0},    {5, 1, 0, 0.075, 1.0},    {5, 1, 0, 0.1001, 0.0},    {5, 1, 1, 0.005, 0.0},
        {5, 1, 1, 0.035, 1.0},   {5, 1, 1, 0.06, 2.0},     {5, 1, 1, 0.085, 1.0},     {5, 1, 1, 0.1101, 0.0},
        {6, 1, 0, 0.0, 2.0},     {6, 1, 0, 0.05, 2 / M_E}, {6, 1, 0, 0.1, 2 / (M_E * M_E)},
        {13, 1, 0, 0.0, 1.0},    {13, 1, 0, 0.05, 1 / M_E}, {13, 1, 0, 0.5, -1.0},    {13, 1, 0, 0.55, -1 / M_E},
        {0, 1, 0, 0.3, 0.0},     {11, 1, 0, 0.3, 0.0},     {12, 1, 0, 0.3, 0.0},      {19, 1, 0, 0.3, 0.0},
        {-3, 1, 0, 0.3, 0.0},
        {7, 1, 0, 0.0, 0.0},      {7, 1, 0, 0.009, 0.0},     {7, 1, 0, 0.03, 0.8},      {7, 1, 0, 0.05375, 1.75},
        {7, 1, 0, 0.07875, 0.75}, {7, 1, 0, 0.10375, -0.25}, {7, 1, 0, 0.106875, -0.125}, {7, 1, 0, 0.15, 0.0},
        {7, 1, 0, 0.225, t45},    {7, 1, 0, 0.27, 0.2},      {7, 1, 0, 0.5, 0.0},       {7, 1, 0, 0.99, 0.0},
        {8, 1, 0, 0.0, 0.0},      {8, 1, 0, 0.025, t45},     {8, 1, 0, 0.05, 0.2},      {8, 1, 0, 0.13, 0.0},
        {8, 1, 0, 0.181875, 0.875}, {8, 1, 0, 0.20375, 1.75}, {8, 1, 0, 0.25375, -0.25}, {8, 1, 0, 0.256875, -0.125},
        {8, 1, 0, 0.3, 0.0},      {8, 1, 0, 0.375, t45},     {8, 1, 0, 0.42, 0.2},      {8, 1, 0, 0.6, 0.0}};
    for (const auto& r : rows) {
        S.out.Amplitude = 2.0;
        S.out.F = r.f;
        S.pacing.PA = r.pa;
        Apply(r.code);
        EXPECT_NEAR(V(r.t), r.v, 1e-8) << "code " << r.code << " PA " << r.pa << " t " << r.t;
    }
}

TEST_F(FunctionGeneratorTest, PatternAndFileEntryAtThePhase)
{
    // Code, pattern or lead, phase, the entry expected (tables and files in
    // uV, the 2-47 patterns in mV): the entry at the phase, the last valid
    // one at the very end of a cycle, and 0 V for a selection outside the
    // family (one pattern index is shared by families of 10, 16 and 5
    // patterns). The ECG file holds 4 samples a second.
    double file[] = {1000.0, 2000.0, -500.0, 250.0};
    S.file.ECGFile = file;
    S.file.ECGFileSize = 4;
    S.file.ECGFileFreq = 4.0;
    const double* rr800 = getIEC47RawArray(IEC247_RR_800MS);
    const double* hour = getIEC47RawArray(IEC247_RR_1500MS_HOUR);
    ASSERT_TRUE(rr800 != nullptr && hour != nullptr);
    const int p3 = 3 * kIEC227Stride;  // pattern 3: 34511 samples at 720 per second
    const struct { int code, index; double t, entry; } rows[] = {
        {10, 12, 0.0, IEC251W[12000] / 1000.0},       {10, 12, 0.2345, IEC251W[12234] / 1000.0},
        {10, 12, 1.0, IEC251W[12999] / 1000.0},       {10, 12, -0.001, IEC251W[12000] / 1000.0},
        {9, 3, 10.0, IEC227W[p3 + 7200] / 1000.0},    {9, 3, 34511.0 / 720, IEC227W[p3 + 34510] / 1000.0},
        {9, 9, 1.0, IEC227W[9 * kIEC227Stride + 720] / 1000.0}, {16, 1, 12.3456, rr800[12345]},
        // The hour-long pattern streams its first minute.
        {16, 1, 60.0, rr800[59999]},                  {16, 4, 59.9995, hour[59999]},
        {17, 8, 0.5, ANE20000[8500] / 1000.0},        {17, 8, 1.0, ANE20000[8999] / 1000.0},
        {9, 10, 0.5, 0.0}, {9, 12, 0.5, 0.0}, {9, -1, 0.5, 0.0}, {9, 1000000, 0.5, 0.0}, {10, 16, 0.5, 0.0},
        {10, -1, 0.5, 0.0}, {16, 5, 0.5, 0.0}, {16, -1, 0.5, 0.0}, {16, 12, 0.5, 0.0}, {17, 9, 0.5, 0.0},
        {17, -1, 0.5, 0.0}, {17, 100, 0.5, 0.0},
        {14, 0, 0.0, 1.0}, {14, 0, 0.3, 2.0}, {14, 0, 0.6, -0.5}, {14, 0, 0.99, 0.25}, {14, 0, 1.0, 0.25},
        {18, 0, 0.3, 2.0}, {18, 0, 1.0, 0.25}};
    for (const auto& r : rows) {
        S.pattern.nSpecialWaveform = r.index;
        S.pattern.nANE20000ChannelNumber = r.index;
        Apply(r.code);
        EXPECT_EQ(V(r.t), r.entry) << "code " << r.code << " index " << r.index << " t " << r.t;
    }
    // The index is checked when it is read: a selection changed without an
    // applied change is caught as well.
    S.pattern.nSpecialWaveform = 3;
    Apply(9);
    S.pattern.nSpecialWaveform = 11;
    EXPECT_EQ(V(10.0), 0.0);
    Apply(14);
    S.file.ECGFileUnitMV = true;  // a file in millivolts
    EXPECT_EQ(V(0.3), 2000.0);
    S.file.ECGFileSize = 0;  // an empty file plays nothing
    EXPECT_EQ(V(0.3), 0.0);
}

TEST_F(FunctionGeneratorTest, StreamedTriangleStepsOneMicrovoltAcrossTurnsAndCycles)
{
    // +-1 mV at 10 Hz: 40 mV/s, so every 25 us sample steps 1 uV up or down,
    // also across the turning points and the cycle boundary, and the
    // second half of a cycle is the first inverted.
    S.out.Amplitude = 2.0;
    S.out.F = 10.0;
    Apply(2);
    const std::vector<double> v = StreamCycles(2);
    ASSERT_EQ(v.size(), 8000u);
    for (size_t i = 1; i < v.size(); ++i) {
        ASSERT_NEAR(std::fabs(v[i] - v[i - 1]), 0.001, 1e-9) << i;
        ASSERT_NEAR(v[i], -v[(i + 2000) % 8000], 1e-9) << i;
    }
}

TEST_F(FunctionGeneratorTest, OverlaysRunOnTheOutputClockAndAreClipped)
{
    // The dynamic-range overlay (codes 2 and 3: 40 Hz, 1 mV peak to peak, the
    // sum clipped to +-5 mV) crests at clock 1/160 s and dips at 3/160 s.
    // Mains noise on the beats (0.1 mV peak to peak): 50 Hz in mode 1,
    // cresting at 5 ms, 60 Hz in the others but 3, cresting at 1/240 s.
    // Baseline drift on the beats: a 10 s triangle of 4 mV peak to peak,
    // 0.8 mV/s, then the clamp to the output range. Beats are flat at t.
    const double c1 = 1.0 / 160, c3 = 3.0 / 160, c60 = 1.0 / 240, sin75 = std::sin(5 * M_PI / 12);
    const struct { int code; bool dynamicRange; double a; int mains; bool drift; double range, clock, t, v; } rows[] = {
        {3, true, 1.0, 0, false, 5, c1, 0.0, 1.5},       {3, true, 1.0, 0, false, 5, c1, 0.7, -0.5},
        {2, true, 1.0, 0, false, 5, c1, 0.0, 0.5},       {1, true, 1.0, 1, false, 5, c1, 0.0, 0.0},  // none on the sine
        {3, true, 4.8, 0, false, 5, c1, 0.0, 5.0},       {3, true, 4.8, 0, false, 5, c3, 0.7, -5.0},
        {7, false, 0, 1, false, 5, 0.005, 0.5, 0.05},    {7, false, 0, 1, false, 5, c60, 0.5, 0.05 * sin75},
        {7, false, 0, 2, false, 5, c60, 0.5, 0.05},      {7, false, 0, 7, false, 5, c60, 0.5, 0.05},
        {17, false, 0, 1, false, 5, 0.005, 0.5, 0.05},   // the ANE20000 leads carry it too
        {8, false, 0, 0, true, 5, 1.0, 0.7, 0.8},        {8, false, 0, 0, true, 5, 2.5, 0.7, 2.0},
        {8, false, 0, 0, true, 5, 5.0, 0.7, 0.0},        {8, false, 0, 0, true, 5, 7.5, 0.7, -2.0},
        {8, false, 0, 0, true, 5, 9.0, 0.7, -0.8},       {8, false, 0, 0, true, 5, 12.5, 0.7, 2.0},
        {8, false, 0, 0, true, 1.5, 2.5, 0.7, 1.5},      {8, false, 0, 0, true, 1.5, 7.5, 0.7, -1.5}};
    for (const auto& r : rows) {
        S.test.DynamicRangeTest = r.dynamicRange;
        S.test.MainNoise = r.mains;
        S.test.AAMIDriftTest = r.drift;
        S.work.RangeV4Ch2On = r.range;
        S.pattern.nANE20000ChannelNumber = 100;  // no lead: 0 V under the overlay
        Apply(r.code);
        S.work.A = r.a;
        S.clock.fOutputTime = r.clock;
        EXPECT_NEAR(V(r.t), r.v, 1e-6) << "code " << r.code << " clock " << r.clock << " t " << r.t;
    }
}

TEST_F(FunctionGeneratorTest, RandomMainsNoiseIsUniformWithinItsAmplitude)
{
    S.test.MainNoise = 3;  // uniform in [-1, 1] times 0.05 mV
    S.out.Amplitude = 0.0;
    S.ecg.CusT = 0.0;  // a flat beat: only the noise remains
    Apply(7);
    const std::vector<double> v = StreamCycles(1);
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    EXPECT_TRUE(*lo >= -0.05 && *lo < -0.045 && *hi <= 0.05 && *hi > 0.045) << *lo << ".." << *hi;
    EXPECT_LT(std::fabs(std::accumulate(v.begin(), v.end(), 0.0) / v.size()), 0.002);
    EXPECT_GT(std::set<double>(v.begin(), v.end()).size(), v.size() / 2);
}

} // namespace

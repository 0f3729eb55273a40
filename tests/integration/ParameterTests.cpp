// The waveform parameter and test-mode functions: ranges at and beyond their
// bounds, refusals that store nothing, the couplings between settings, the
// baseline-reset test, the two scans and the reset to the defaults. Output
// stays idle or is stopped before the end; no test reads streamed samples.
#include "protocol/Exchange.h"
#include "Fixture.h"

#include "output/Engine.h"
#include "runtime/Sync.h"

#include <algorithm>
#include <cmath>

using namespace hsimtest;

namespace {

#define CALL(expr) [] { return expr; }

template <class Read>
double Engine(Read read)
{
    ContextGuard lock(hsim::ContextLock());
    return read(hsim::CurrentEngine().synth);
}

double Synchronized()
{
    return Engine([](auto& s) { return s.pacing.pacingSynchronized; });
}

// A setter called with a function selected directly, without starting it.
int WithFunction(int code, const std::function<int()>& set)
{
    Engine([&](auto& s) { return s.out.MainOutput = code; });
    const int result = set();
    return Engine([](auto& s) { return s.out.MainOutput = 0; }), result;
}

std::vector<int> s_Told;  // callback arguments, written with the lock held
void Tell(int value) { s_Told.push_back(value); }
std::vector<int> Told() { ContextGuard lock(hsim::ContextLock()); return s_Told; }

struct Reading { const char* what; std::function<double()> get; double value; };
// The settings HSIMReset restores, with the values the library starts with.
const std::vector<Reading> kDefaults = {
    {"function", HSIMGetOutputFunction, 0}, {"amplitude", HSIMGetAmplitude, 1.0},
    {"frequency", HSIMGetFrequency, 1.0}, {"pulse width", HSIMGetPulseWidth, 100.0},
    {"DC offset", HSIMGetDCOffset, 0}, {"pacing mode", HSIMGetPacingPulseMode, 0},
    {"pacing amplitude", HSIMGetPacingAmplitude, 0.0}, {"pacing width", HSIMGetPacingDuration, 2.0},
    {"pacing rate", HSIMGetPacingRate, 60}, {"synchronised", Synchronized, 1},
    {"overshoot TC", HSIMGetOvershootTimeConstant, 0}, {"QRS", HSIMGetQRSDuration, 100.0},
    {"T wave", HSIMGetTWave, 0.2}, {"P width", HSIMGetPDuration, 100.0}, {"PR", HSIMGetPRInterval, 160.0},
    {"QT", HSIMGetQTInterval, 350.0}, {"P wave", HSIMGetPWave, 0.2}, {"ST deviation", HSIMGetSTDeviation, 0.0},
    {"noise mode", GetECG2_27_NoiseFreq, 0}, {"noise amplitude", GetECG2_27_NoiseAmp, 0.1},
    {"drift", GetECG2_27_AAMIDriftTest, 0}, {"drift amplitude", GetECG2_27_AAMIDriftTestAmp, 4.0},
    {"drift frequency", GetECG2_27_AAMIDriftTestFreq, 0.1}, {"range test", HSIMGetDynamicRangeTest, 0},
    {"range amplitude", GetDynamicRangeTestAmp, 1.0}, {"range frequency", GetDynamicRangeTestFreq, 40.0},
    {"sine scan", HSIMGetFrequencyScan, 0}, {"scan start", GetFreqScanSineStartFreq, 0.67},
    {"scan stop", GetFreqScanSineStopFreq, 150.0}, {"scan seconds", GetFreqScanSineDuration, 30},
};

void ExpectDefaults(const char* when)
{
    for (const Reading& r : kDefaults)
        EXPECT_NEAR(r.get(), r.value, 1e-12) << r.what << " " << when;
}

// One change of every setting HSIMReset restores, plus two it keeps.
const std::vector<std::function<int()>> kChanges = {
    CALL(HSIMSetAmplitude(2.5)), CALL(HSIMSetFrequency(2.0)), CALL(HSIMSetPulseWidth(50.0)),
    CALL(HSIMSetDCOffset(0, 100)), CALL(HSIMSetPacingPulseMode(1)), CALL(HSIMSetPacingAmplitude(5.0)),
    CALL(HSIMSetPacingDuration(1.0)), CALL(HSIMSetPacingRate(100)), CALL(HSIMSetOvershootTimeConstant(10)),
    CALL(HSIMSetQRSDuration(50.0)), CALL(HSIMSetTWave(1.0)), CALL(HSIMSetPDuration(80.0)),
    CALL(HSIMSetPRInterval(100.0)), CALL(HSIMSetQTInterval(500.0)), CALL(HSIMSetPWave(0.5)),
    CALL(HSIMSetSTDeviation(1.0)), CALL(SetECG2_27_Noise(1, 1.0)), CALL(SetECG2_27_AAMIDriftTest(true)),
    CALL(SetECG2_27_AAMIDriftTestAmp(6.0)), CALL(SetECG2_27_AAMIDriftTestFreq(1.0)),
    CALL(HSIMSetDynamicRangeTest(false, true, 5.0, 20.0)), CALL(HSIMSetFrequencyScan(false, 60, 1.0, 100.0)),
    CALL(HSIMSetSTSegment(200.0)), CALL(HSIMSetOvershootAmplitude(2.0)),
};

}  // namespace

// Each bound is accepted; a step beyond either bound and NaN are refused with
// -2 and leave the value last accepted.
TEST_F(EmulatorTest, RangesHoldAtTheirBoundsAndARefusalKeepsTheValue)
{
    connect();
    struct Range { const char* what; int (*set)(double); double (*get)(); double low, high, step; };
    const Range ranges[] = {
        {"amplitude", HSIMSetAmplitude, HSIMGetAmplitude, -10.0, 10.0, 0.01},
        {"frequency", HSIMSetFrequency, HSIMGetFrequency, 0.017, 500.0, 0.001},
        {"pulse width", HSIMSetPulseWidth, HSIMGetPulseWidth, 1.0, 300.0, 0.01},
        {"pacing amplitude", HSIMSetPacingAmplitude, HSIMGetPacingAmplitude, -700.0, 700.0, 0.01},
        {"pacing width", HSIMSetPacingDuration, HSIMGetPacingDuration, 0.1, 3.0, 0.01},
        {"QRS", HSIMSetQRSDuration, HSIMGetQRSDuration, 5.0, 200.0, 0.01},
        {"T wave", HSIMSetTWave, HSIMGetTWave, 0.0, 5.0, 0.01},
        {"P width", HSIMSetPDuration, HSIMGetPDuration, 50.0, 100.0, 0.01},
        {"PR", HSIMSetPRInterval, HSIMGetPRInterval, 0.0, 200.0, 0.01},
        {"QT", HSIMSetQTInterval, HSIMGetQTInterval, 100.0, 900.0, 0.01},
        {"P wave", HSIMSetPWave, HSIMGetPWave, 0.0, 2.0, 0.01},
        {"ST deviation", HSIMSetSTDeviation, HSIMGetSTDeviation, -2.0, 2.0, 0.01},
        {"ST weight", HSIMSetSTSegment, HSIMGetSTSegment, 100.0, 900.0, 0.01},
        {"T weight", HSIMSetTDuration, HSIMGetTDuration, 100.0, 900.0, 0.01},
        {"noise", [](double mv) { return SetECG2_27_Noise(1, mv); }, GetECG2_27_NoiseAmp, 0.01, 5.0, 0.001},
        {"drift amplitude", SetECG2_27_AAMIDriftTestAmp, GetECG2_27_AAMIDriftTestAmp, 1.0, 8.0, 0.01},
        {"drift frequency", SetECG2_27_AAMIDriftTestFreq, GetECG2_27_AAMIDriftTestFreq, 0.05, 2.0, 0.01},
    };
    for (const Range& r : ranges) {
        for (auto [value, code, held] : {std::tuple{r.low, 0, r.low}, {r.high, 0, r.high},
                                         {r.high + r.step, -2, r.high}, {r.low - r.step, -2, r.high},
                                         {NAN, -2, r.high}}) {
            EXPECT_EQ(r.set(value), code) << r.what << " " << value;
            EXPECT_NEAR(r.get(), held, 1e-12) << r.what << " " << value;
        }
    }
}

// Rules beyond the ranges, in order.
TEST_F(EmulatorTest, SettersFollowTheirRulesAndCouplings)
{
    connect();
    struct Case { const char* what; std::function<int()> set; int code; std::function<double()> get; double expected; };
    const Case cases[] = {
        {"pulse at 5 Hz", CALL(WithFunction(4, CALL(HSIMSetFrequency(5.0)))), 0, HSIMGetFrequency, 5.0},
        {"pulse at 5.1 Hz", CALL(WithFunction(4, CALL(HSIMSetFrequency(5.1)))), -2, HSIMGetFrequency, 5.0},
        {"rate 9", CALL(HSIMSetPacingRate(9)), -2, HSIMGetPacingRate, 60},
        {"rate -1", CALL(HSIMSetPacingRate(unsigned(-1))), -2, Synchronized, 1},
        {"rate 10", CALL(HSIMSetPacingRate(10)), 0, HSIMGetPacingRate, 10},
        {"rate 360", CALL(HSIMSetPacingRate(360)), 0, Synchronized, 0},
        {"frequency 0.1", CALL(HSIMSetFrequency(0.1)), 0, HSIMGetFrequency, 0.1},
        {"synchronised at 6/min", CALL(HSIMSetPacingRateSynchronized()), -2, Synchronized, 0},
        {"frequency 1", CALL(HSIMSetFrequency(1.0)), 0, HSIMGetFrequency, 1.0},
        {"synchronised at 60/min", CALL(HSIMSetPacingRateSynchronized()), 0, Synchronized, 1},
        {"overshoot -3", CALL(HSIMSetOvershootAmplitude(-3.0)), 0, HSIMGetOvershootAmplitude, 3.0},
        {"PR 40 narrows P", CALL(HSIMSetPRInterval(40.0)), 0, HSIMGetPDuration, 40.0},
        {"PR 120 widens P", CALL(HSIMSetPRInterval(120.0)), 0, HSIMGetPDuration, 50.0},
        {"noise mode 7", CALL(SetECG2_27_Noise(7, 1.0)), 0, GetECG2_27_NoiseFreq, 7},
        {"external respiration", CALL(EnableExternalRespireModule(true)), 0,
         [] { return Engine([](auto& s) { return s.test.ExternalRespireModule; }); }, 1},
        {"range test on", CALL(HSIMSetDynamicRangeTest(true, false, 10.0, 60.0)), 0, HSIMGetOutputFunction, 3},
        {"range 10.5 mV", CALL(HSIMSetDynamicRangeTest(true, false, 10.5, 60.0)), -2, GetDynamicRangeTestAmp, 10},
        {"range 0.5 Hz", CALL(HSIMSetDynamicRangeTest(true, false, 5.0, 0.5)), -3, GetDynamicRangeTestFreq, 60},
        {"range test off", CALL(HSIMSetDynamicRangeTest(false, true, 1.0, 40.0)), 0, HSIMGetOutputFunction, 0},
        {"drift 0.05 Hz", CALL(SetECG2_27_AAMIDriftTestFreq(0.05)), 0, GetECG2_27_AAMIDriftTestFreq, 0.05},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.set(), c.code) << c.what;
        EXPECT_NEAR(c.get(), c.expected, 1e-12) << c.what;
    }
    // The drift at 0.05 Hz and 4 mV: a 20 s triangle rising 0.4 mV/s; at
    // 8 mV twice as steep.
    const hsim::TestModes& t = hsim::CurrentEngine().synth.test;
    ContextGuard lock(hsim::ContextLock());
    for (auto [value, expected] : {std::pair{t.AAMIDriftTestWaveLen, 20.0}, {t.AAMIDriftTestWaveLenQuad, 5.0},
                                   {t.AAMIDriftTestWaveLenQuad3, 15.0}, {t.AAMIDriftTestSlope, 0.4}})
        EXPECT_NEAR(value, expected, 1e-12);
    ASSERT_EQ(SetECG2_27_AAMIDriftTestAmp(8.0), 0);
    EXPECT_NEAR(t.AAMIDriftTestSlope, 0.8, 1e-12);
}

TEST_F(EmulatorTest, WithoutADeviceSettersRefuseAndGettersReadTheDefaults)
{
    ExpectDefaults("before");
    for (const auto& change : kChanges)
        EXPECT_EQ(change(), -1);
    EXPECT_EQ(SetBaselineResetTest(1), -1);
    EXPECT_EQ(SetFreqScanECG(true), -1);
    EXPECT_EQ(HSIMSetFrequencyScan(true, 30, 1.0, 10.0), -1);
    ExpectDefaults("after refused calls");
    EXPECT_EQ(GetBaselineResetTest(), 0);
    EXPECT_EQ(EnableExternalRespireModule(true), 1);
}

TEST_F(EmulatorTest, ScansCheckEverythingBeforeTheyStartAndStopOutput)
{
    connect();
    HSIMRegisterOutputFunctionCallback(Tell);
    EXPECT_EQ(HSIMSetFrequencyScan(true, 9, 1.0, 100.0), -4);
    EXPECT_EQ(HSIMSetFrequencyScan(true, 30, 0.66, 100.0), -2);
    EXPECT_EQ(HSIMSetFrequencyScan(true, 30, 1.0, 500.1), -3);
    EXPECT_EQ(HSIMGetOutputFunction(), 0);
    EXPECT_FALSE(HSIMIsPlaying());
    EXPECT_EQ(GetFreqScanSineStartFreq(), 0.67) << "a refused call stores nothing";
    // Downward from 100 to 1 Hz in 30 s: -99 / 30 / 40000 Hz per sample.
    ASSERT_EQ(HSIMSetFrequencyScan(true, 30, 100.0, 1.0), 0);
    EXPECT_EQ(HSIMGetOutputFunction(), 1);
    EXPECT_TRUE(HSIMGetFrequencyScan());
    EXPECT_NEAR(Engine([](auto& s) { return s.scan.Fd; }), -8.25e-5, 1e-15);
    EXPECT_EQ(HSIMSetFrequency(2.0), -3) << "the scan owns the frequency";
    ASSERT_EQ(HSIMSetFrequencyScan(false, 30, 100.0, 1.0), 0);
    EXPECT_EQ(HSIMGetOutputFunction(), 0);
    // The ECG scan: 0.05 to 0.5 beats per second in 30 s at 40000 samples per second.
    ASSERT_EQ(SetFreqScanECG(true), 0);
    EXPECT_NEAR(Engine([](auto& s) { return s.scan.Fd; }), 3.75e-7, 1e-18);
    EXPECT_TRUE(GetFreqScanECG());
    ASSERT_EQ(SetFreqScanECG(false), 0);
    EXPECT_TRUE(WaitUntil([] { return !HSIMIsPlaying(); }, 5000));
    EXPECT_EQ(Told(), (std::vector<int>{1, 0, 7, 0})) << "the functions the scans selected";
    HSIMSetOutputFunction(0);
}

TEST_F(EmulatorTest, ResetRestoresTheDefaultsAndPacingTurnsOnVariableDc)
{
    connect();
    for (const auto& change : kChanges)
        ASSERT_EQ(change(), 0);
    HSIMReset();
    ExpectDefaults("after the reset");
    EXPECT_FALSE(HSIMGetDCOffsetVariableMode());
    EXPECT_EQ(HSIMGetSTSegment(), 200.0);
    EXPECT_EQ(HSIMGetOvershootAmplitude(), 2.0);
    // The reset left every channel out of variable-DC mode; pacing puts them back.
    auto variable = [] {
        return Engine([](auto& s) { return std::count(s.dc.bTestVariableDC, s.dc.bTestVariableDC + 4, true); });
    };
    ASSERT_EQ(HSIMSetPacingAmplitude(0.0), 0);
    EXPECT_EQ(variable(), 0) << "no pacing leaves the modes";
    ASSERT_EQ(HSIMSetPacingAmplitude(2.0), 0);
    EXPECT_EQ(variable(), 4);
}

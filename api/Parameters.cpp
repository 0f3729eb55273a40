// Exported waveform parameters: amplitude, frequency and pulse width, the
// pacemaker pulses, the custom beat's timing and waves, the dynamic-range
// overlay, the sine frequency scan, the callbacks and the reset to defaults.
// Each setter checks its arguments before it stores anything; the change it
// then requests applies at once (the beat's shape) or, while output streams,
// at the next cycle boundary.
#include "api/Setter.h"
#include "hsim.h"
#include "hsim_ext.h"
#include "output/ChangeScheduler.h"
#include "output/Output.h"
#include "output/TestModes.h"

#include <cmath>

using namespace hsim;

namespace {

constexpr double kPulseMaxHz = 5.0;  // the two pulse functions stop here
constexpr int kChannels = 4;
constexpr double kMinPWidthMs = 50.0;  // the narrowest P wave HSIMSetPDuration accepts

SynthState& Synth()
{
    return CurrentEngine().synth;
}

int Code(bool accepted, int refusal)
{
    return accepted ? 0 : refusal;
}

}  // namespace

// ------------------------------------------------------------- waveform

extern "C" int HSIMSetAmplitude(double mv)
{
    SynthState& s = Synth();
    return FramedSetter(
        [&] {
            if (!InRange(mv, -10.0, 10.0))
                return -2;
            return Code(s.test.BaseLineOverload == 0, -3);
        },
        [&] {
            s.out.Amplitude = mv;
            _ChangeRequested();
        });
}

extern "C" double HSIMGetAmplitude(void)
{
    return CurrentSettings().out.Amplitude;
}

extern "C" int HSIMSetFrequency(double hz)
{
    SynthState& s = Synth();
    return FramedSetter(
        [&] {
            const bool pulse =
                s.out.MainOutput == OUTPUT_RECTANGULAR_PULSE || s.out.MainOutput == OUTPUT_TRIANGULAR_PULSE;
            if (!InRange(hz, 0.017, 500.0) || (pulse && hz > kPulseMaxHz))
                return -2;
            if (s.scan.FreqScanOn)
                return -3;
            return Code(s.test.BaseLineOverload == 0, -4);
        },
        [&] {
            s.out.F = hz;
            _ChangeRequested();
        });
}

extern "C" double HSIMGetFrequency(void)
{
    return CurrentSettings().out.F;
}

extern "C" int HSIMSetPulseWidth(double ms)
{
    return SetInRange(Synth().out.PulseWidth, ms, 1.0, 300.0, _ChangeRequested);
}

extern "C" double HSIMGetPulseWidth(void)
{
    return CurrentSettings().out.PulseWidth;
}

// --------------------------------------------------------------- pacing

extern "C" int HSIMSetPacingPulseMode(int mode)
{
    return FramedSetter([] { return 0; },
                        [&] {
                            Synth().pacing.PacingPulse = mode;
                            _ChangeRequested();
                        });
}

extern "C" int HSIMGetPacingPulseMode(void)
{
    return CurrentSettings().pacing.PacingPulse;
}

// Pulses ride on the DC channel, so a pacing amplitude puts every channel in
// variable-DC mode. The amplitude stands even if a channel's write fails.
extern "C" int HSIMSetPacingAmplitude(double mv)
{
    return FramedSetter([&] { return Code(InRange(mv, -700.0, 700.0), -2); },
                        [&] {
                            Synth().pacing.PA = mv;
                            if (mv != 0.0) {
                                for (int channel = 0; channel < kChannels; ++channel)
                                    SetChannelDcVariableMode(channel, true);
                            }
                            _ChangeRequested();
                        });
}

extern "C" double HSIMGetPacingAmplitude(void)
{
    return CurrentSettings().pacing.PA;
}

extern "C" int HSIMSetPacingDuration(double ms)
{
    return SetInRange(Synth().pacing.PacingDuration, ms, 0.1, 3.0, _ChangeRequested);
}

extern "C" double HSIMGetPacingDuration(void)
{
    return CurrentSettings().pacing.PacingDuration;
}

// A fixed rate: the pulses no longer follow the beats.
extern "C" int HSIMSetPacingRate(unsigned int perMinute)
{
    return FramedSetter([&] { return Code(perMinute >= 10 && perMinute <= 360, -2); },
                        [&] {
                            Synth().pacing.PacingRate = perMinute;
                            Synth().pacing.pacingSynchronized = false;
                            _ChangeRequested();
                        });
}

extern "C" int HSIMGetPacingRate(void)
{
    return static_cast<int>(CurrentSettings().pacing.PacingRate);
}

extern "C" bool HSIMGetPacingRateSynchronized(void)
{
    return CurrentSettings().pacing.pacingSynchronized;
}

// One pulse per beat; refused (-2) when the beat rate is outside 10..360 per
// minute. Applies with the next change.
extern "C" int HSIMSetPacingRateSynchronized(void)
{
    return FramedSetter([] { return Code(InRange(Synth().out.F * 60.0, 10.0, 360.0), -2); },
                        [] { Synth().pacing.pacingSynchronized = true; });
}

extern "C" int HSIMSetOvershootTimeConstant(unsigned int ms)
{
    return FramedSetter([&] { return Code(ms <= 100, -2); },
                        [&] {
                            Synth().pacing.PacingOvershootTC = ms;
                            _ChangeRequested();
                        });
}

extern "C" int HSIMGetOvershootTimeConstant(void)
{
    return static_cast<int>(CurrentSettings().pacing.PacingOvershootTC);
}

// The overshoot's sign follows the pulse; only its magnitude is kept.
extern "C" int HSIMSetOvershootAmplitude(double mv)
{
    return SetInRange(Synth().pacing.POA, std::fabs(mv), 0.0, 5.0, _ChangeRequested);
}

extern "C" double HSIMGetOvershootAmplitude(void)
{
    return CurrentSettings().pacing.POA;
}

// ------------------------------------------------------------ custom beat

extern "C" int HSIMSetQRSDuration(double ms)
{
    return SetInRange(Synth().ecg.QRSDuration, ms, 5.0, 200.0, _Change);
}

extern "C" double HSIMGetQRSDuration(void)
{
    return CurrentSettings().ecg.QRSDuration;
}

extern "C" int HSIMSetTWave(double mv)
{
    return SetInRange(Synth().ecg.CusT, mv, 0.0, 5.0, _Change);
}

extern "C" double HSIMGetTWave(void)
{
    return CurrentSettings().ecg.CusT;
}

extern "C" int HSIMSetPDuration(double ms)
{
    return SetInRange(Synth().ecg.PDuration, ms, kMinPWidthMs, 100.0, _Change);
}

extern "C" double HSIMGetPDuration(void)
{
    return CurrentSettings().ecg.PDuration;
}

// The P wave fits into the PR interval: an interval below 50 ms narrows it
// to the interval; a longer one widens a narrowed P wave back to 50 ms.
extern "C" int HSIMSetPRInterval(double ms)
{
    return FramedSetter([&] { return Code(InRange(ms, 0.0, 200.0), -2); },
                        [&] {
                            EcgSettings& ecg = Synth().ecg;
                            ecg.PRInterval = ms;
                            if (ms < kMinPWidthMs)
                                ecg.PDuration = ms;
                            else if (ecg.PDuration < kMinPWidthMs)
                                ecg.PDuration = kMinPWidthMs;
                            _Change();
                        });
}

extern "C" double HSIMGetPRInterval(void)
{
    return CurrentSettings().ecg.PRInterval;
}

extern "C" int HSIMSetQTInterval(double ms)
{
    return SetInRange(Synth().ecg.QTInterval, ms, 100.0, 900.0, _Change);
}

extern "C" double HSIMGetQTInterval(void)
{
    return CurrentSettings().ecg.QTInterval;
}

extern "C" int HSIMSetPWave(double mv)
{
    return SetInRange(Synth().ecg.CusP, mv, 0.0, 2.0, _Change);
}

extern "C" double HSIMGetPWave(void)
{
    return CurrentSettings().ecg.CusP;
}

extern "C" int HSIMSetSTDeviation(double mv)
{
    return SetInRange(Synth().ecg.CusST, mv, -2.0, 2.0, _Change);
}

extern "C" double HSIMGetSTDeviation(void)
{
    return CurrentSettings().ecg.CusST;
}

extern "C" int HSIMSetSTSegment(double ms)
{
    return SetInRange(Synth().ecg.STSegment, ms, 100.0, 900.0, _ChangeRequested);
}

extern "C" double HSIMGetSTSegment(void)
{
    return CurrentSettings().ecg.STSegment;
}

extern "C" int HSIMSetTDuration(double ms)
{
    return SetInRange(Synth().ecg.TDuration, ms, 100.0, 900.0, _ChangeRequested);
}

extern "C" double HSIMGetTDuration(void)
{
    return CurrentSettings().ecg.TDuration;
}

// ------------------------------------------------------------- test modes

// The overlay plays as a triangle or a square; switching it off stops the
// output.
extern "C" int HSIMSetDynamicRangeTest(bool enable, bool triangle, double amplitudeMv, double frequencyHz)
{
    return FramedSetter(
        [&] {
            if (!InRange(amplitudeMv, 0.0, 10.0))
                return -2;
            return Code(InRange(frequencyHz, 1.0, 60.0), -3);
        },
        [&] {
            SynthState& s = Synth();
            s.out.MainOutput = !enable ? OUTPUT_OFF : triangle ? OUTPUT_TRIANGLE : OUTPUT_SQUARE;
            s.test.DynamicRangeTest = enable;
            s.test.ADynamicRange = amplitudeMv;
            s.test.FDynamicRange = frequencyHz;
            _ChangeRequested();
        });
}

extern "C" bool HSIMGetDynamicRangeTest(void)
{
    return CurrentSettings().test.DynamicRangeTest;
}

// Every argument is checked before anything changes, so a refused call
// leaves the output as it was. A stop below the start scans downward.
// Switching off stops the output (if any) and starts nothing.
extern "C" int HSIMSetFrequencyScan(bool enable, int seconds, double startHz, double stopHz)
{
    return FramedSetter(
        [&] {
            if (!InRange(startHz, 0.67, 500.0))
                return -2;
            if (!InRange(stopHz, 0.67, 500.0))
                return -3;
            return Code(seconds >= 10 && seconds <= 180, -4);
        },
        [&] {
            FrequencyScan& scan = Synth().scan;
            scan.Fstart = startHz;
            scan.Ffinal = stopHz;
            scan.Fduration = seconds;
            if (enable)
                StartFrequencyScan(ScanKind::Sine);
            else if (Synth().out.MainOutput != OUTPUT_OFF)
                EndFrequencyScan();
        });
}

extern "C" bool HSIMGetFrequencyScan(void)
{
    return CurrentSettings().scan.FreqScan1;
}

extern "C" bool HSIMIsPlaying(void)
{
    return IsStreaming();
}

// -------------------------------------------------------------- callbacks

extern "C" void HSIMRegisterSignalOutputCallback(HSIM_GRAPH_CALLBACK callback)
{
    LockedWrite(CurrentEngine().callbacks.GraphCB, callback);
}

extern "C" void HSIMRegisterPacingOutputCallback(HSIM_GRAPH_CALLBACK callback)
{
    LockedWrite(CurrentEngine().callbacks.PacingGraphCB, callback);
}

extern "C" void HSIMRegisterOutputFunctionCallback(HSIM_FUNCTION_CALLBACK callback)
{
    LockedWrite(CurrentEngine().callbacks.SyncMainFuncCB, callback);
}

extern "C" void HSIMRegisterFrequencyCallback(HSIM_FREQUENCY_CALLBACK callback)
{
    LockedWrite(CurrentEngine().callbacks.SyncFreqCB, callback);
}

// ------------------------------------------------------------------ reset

// Back to the defaults, one exported setter at a time (each in its own frame;
// refusals are ignored). Not reset: leads, signal ground, the ST and T
// weights, the overshoot amplitude, the pattern selections, the
// baseline-reset level, respiration, loaded data and callbacks.
extern "C" void HSIMReset(void)
{
    ::ResetHwStatus();
    if (HSIMGetOutputFunction() != OUTPUT_OFF)
        HSIMSetOutputFunction(OUTPUT_OFF);
    if (HSIMGetAmplitude() != 1.0)
        HSIMSetAmplitude(1.0);
    if (HSIMGetFrequency() != 1.0)
        HSIMSetFrequency(1.0);
    if (HSIMGetDCOffset() != 0) {
        for (int channel = 0; channel < kChannels; ++channel)
            HSIMSetDCOffset(channel, 0);
    }
    if (HSIMGetDCOffsetVariableMode()) {
        for (int channel = 0; channel < kChannels; ++channel)
            HSIMSetDCOffsetVariableMode(channel, false);
    }
    if (GetDCOffsetCommonMode())
        SetDCOffsetCommonMode(false);
    if (HSIMGetPulseWidth() != 100.0)
        HSIMSetPulseWidth(100.0);
    for (int channel = 0; channel < kChannels; ++channel)
        HSIMSetInputImpedanceMode(channel, 0);
    if (HSIMGetPacingPulseMode() != 0)
        HSIMSetPacingPulseMode(0);
    if (HSIMGetQRSDuration() != 100.0)
        HSIMSetQRSDuration(100.0);
    if (HSIMGetTWave() != 0.2)
        HSIMSetTWave(0.2);
    if (HSIMGetPacingAmplitude() != 0.0)
        HSIMSetPacingAmplitude(0.0);
    if (HSIMGetPacingDuration() != 2.0)
        HSIMSetPacingDuration(2.0);
    if (HSIMGetPacingRate() != 60)
        HSIMSetPacingRate(60);
    HSIMSetPacingRateSynchronized();
    if (HSIMGetOvershootTimeConstant() != 0)
        HSIMSetOvershootTimeConstant(0);
    if (GetECG2_27_NoiseAmp() != 0.1 || GetECG2_27_NoiseFreq() != 0)
        SetECG2_27_Noise(0, 0.1);
    if (GetECG2_27_AAMIDriftTest() || GetECG2_27_AAMIDriftTestAmp() != 4.0 || GetECG2_27_AAMIDriftTestFreq() != 0.1) {
        SetECG2_27_AAMIDriftTest(false);
        SetECG2_27_AAMIDriftTestAmp(4.0);
        SetECG2_27_AAMIDriftTestFreq(0.1);
    }
    if (HSIMGetDynamicRangeTest() || GetDynamicRangeTestAmp() != 1.0 || GetDynamicRangeTestFreq() != 40.0)
        HSIMSetDynamicRangeTest(false, true, 1.0, 40.0);
    if (HSIMGetFrequencyScan() || GetFreqScanSineStartFreq() != 0.67 || GetFreqScanSineStopFreq() != 150.0 ||
        GetFreqScanSineDuration() != 30)
        HSIMSetFrequencyScan(false, 30, 0.67, 150.0);
    if (HSIMGetPDuration() != 100.0)
        HSIMSetPDuration(100.0);
    if (HSIMGetPRInterval() != 160.0)
        HSIMSetPRInterval(160.0);
    if (HSIMGetQTInterval() != 350.0)
        HSIMSetQTInterval(350.0);
    if (HSIMGetPWave() != 0.2)
        HSIMSetPWave(0.2);
    if (HSIMGetSTDeviation() != 0.0)
        HSIMSetSTDeviation(0.0);
    SetAllOutputState(0);
    SetStandardWaveformLoop(true);
    LockedWrite(Synth().dc.bRawVariableDC, false);
}

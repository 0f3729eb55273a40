// Exported waveform parameters: amplitude, frequency and pulse width, the
// pacemaker pulses, the custom beat's timing and waves, the dynamic-range
// overlay, the sine frequency scan, the callbacks and the reset to defaults.
// The single-valued ones are entries of the parameter table
// (api/ParameterTable.cpp), which holds their ranges, couplings and how a
// change applies. Each setter checks its arguments before it stores
// anything.
#include "api/ParameterTable.h"
#include "api/Setter.h"
#include "hsim.h"
#include "hsim_ext.h"
#include "output/ChangeScheduler.h"
#include "output/Output.h"
#include "output/TestModes.h"

#include <cmath>

using namespace hsim;

namespace {

constexpr int kChannels = 4;

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
    return SetParameter(Parameter::Amplitude, mv);
}

extern "C" double HSIMGetAmplitude(void)
{
    return GetParameter(Parameter::Amplitude);
}

extern "C" int HSIMSetFrequency(double hz)
{
    return SetParameter(Parameter::Frequency, hz);
}

extern "C" double HSIMGetFrequency(void)
{
    return GetParameter(Parameter::Frequency);
}

extern "C" int HSIMSetPulseWidth(double ms)
{
    return SetParameter(Parameter::PulseWidth, ms);
}

extern "C" double HSIMGetPulseWidth(void)
{
    return GetParameter(Parameter::PulseWidth);
}

// --------------------------------------------------------------- pacing

extern "C" int HSIMSetPacingPulseMode(int mode)
{
    return SetParameter(Parameter::PacingMode, mode);
}

extern "C" int HSIMGetPacingPulseMode(void)
{
    return static_cast<int>(GetParameter(Parameter::PacingMode));
}

extern "C" int HSIMSetPacingAmplitude(double mv)
{
    return SetParameter(Parameter::PacingAmplitude, mv);
}

extern "C" double HSIMGetPacingAmplitude(void)
{
    return GetParameter(Parameter::PacingAmplitude);
}

extern "C" int HSIMSetPacingDuration(double ms)
{
    return SetParameter(Parameter::PacingWidth, ms);
}

extern "C" double HSIMGetPacingDuration(void)
{
    return GetParameter(Parameter::PacingWidth);
}

extern "C" int HSIMSetPacingRate(unsigned int perMinute)
{
    return SetParameter(Parameter::PacingRate, perMinute);
}

extern "C" int HSIMGetPacingRate(void)
{
    return static_cast<int>(GetParameter(Parameter::PacingRate));
}

extern "C" bool HSIMGetPacingRateSynchronized(void)
{
    return GetParameter(Parameter::PacingSynchronized) != 0;
}

extern "C" int HSIMSetPacingRateSynchronized(void)
{
    return SetParameter(Parameter::PacingSynchronized, 1);
}

extern "C" int HSIMSetOvershootTimeConstant(unsigned int ms)
{
    return SetParameter(Parameter::OvershootTimeConstant, ms);
}

extern "C" int HSIMGetOvershootTimeConstant(void)
{
    return static_cast<int>(GetParameter(Parameter::OvershootTimeConstant));
}

extern "C" int HSIMSetOvershootAmplitude(double mv)
{
    return SetParameter(Parameter::OvershootAmplitude, mv);
}

extern "C" double HSIMGetOvershootAmplitude(void)
{
    return GetParameter(Parameter::OvershootAmplitude);
}

// ------------------------------------------------------------ custom beat

extern "C" int HSIMSetQRSDuration(double ms)
{
    return SetParameter(Parameter::QrsDuration, ms);
}

extern "C" double HSIMGetQRSDuration(void)
{
    return GetParameter(Parameter::QrsDuration);
}

extern "C" int HSIMSetTWave(double mv)
{
    return SetParameter(Parameter::TWave, mv);
}

extern "C" double HSIMGetTWave(void)
{
    return GetParameter(Parameter::TWave);
}

extern "C" int HSIMSetPDuration(double ms)
{
    return SetParameter(Parameter::PDuration, ms);
}

extern "C" double HSIMGetPDuration(void)
{
    return GetParameter(Parameter::PDuration);
}

extern "C" int HSIMSetPRInterval(double ms)
{
    return SetParameter(Parameter::PrInterval, ms);
}

extern "C" double HSIMGetPRInterval(void)
{
    return GetParameter(Parameter::PrInterval);
}

extern "C" int HSIMSetQTInterval(double ms)
{
    return SetParameter(Parameter::QtInterval, ms);
}

extern "C" double HSIMGetQTInterval(void)
{
    return GetParameter(Parameter::QtInterval);
}

extern "C" int HSIMSetPWave(double mv)
{
    return SetParameter(Parameter::PWave, mv);
}

extern "C" double HSIMGetPWave(void)
{
    return GetParameter(Parameter::PWave);
}

extern "C" int HSIMSetSTDeviation(double mv)
{
    return SetParameter(Parameter::StDeviation, mv);
}

extern "C" double HSIMGetSTDeviation(void)
{
    return GetParameter(Parameter::StDeviation);
}

extern "C" int HSIMSetSTSegment(double ms)
{
    return SetParameter(Parameter::StSegment, ms);
}

extern "C" double HSIMGetSTSegment(void)
{
    return GetParameter(Parameter::StSegment);
}

extern "C" int HSIMSetTDuration(double ms)
{
    return SetParameter(Parameter::TDuration, ms);
}

extern "C" double HSIMGetTDuration(void)
{
    return GetParameter(Parameter::TDuration);
}

// ------------------------------------------------------------- test modes

// The overlay plays as a triangle or a square; switching it off stops the
// output.
extern "C" int HSIMSetDynamicRangeTest(bool enable, bool triangle, double amplitudeMv, double frequencyHz)
{
    return FramedSetter(
        [&] {
            if (!Accepts(Parameter::DynamicRangeAmplitude, amplitudeMv))
                return -2;
            return Code(Accepts(Parameter::DynamicRangeFrequency, frequencyHz), -3);
        },
        [&] {
            SynthState& s = Synth();
            s.test.ADynamicRange = amplitudeMv;
            s.test.FDynamicRange = frequencyHz;
            RowOf(Parameter::DynamicRange).store(CurrentEngine(), !enable ? 0 : triangle ? 1 : 2);
            _ChangeRequested();
        });
}

extern "C" bool HSIMGetDynamicRangeTest(void)
{
    return GetParameter(Parameter::DynamicRange) != 0;
}

// Every argument is checked before anything changes, so a refused call
// leaves the output as it was. A stop below the start scans downward.
// Switching off stops the output (if any) and starts nothing.
extern "C" int HSIMSetFrequencyScan(bool enable, int seconds, double startHz, double stopHz)
{
    return FramedSetter(
        [&] {
            if (!Accepts(Parameter::ScanStart, startHz))
                return -2;
            if (!Accepts(Parameter::ScanStop, stopHz))
                return -3;
            return Code(Accepts(Parameter::ScanDuration, seconds), -4);
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

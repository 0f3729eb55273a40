// Shared helpers of the synthesis tests: a known starting state and a
// sample loop that drives the per-sample functions the way the streaming
// loop does.
#pragma once

#include "synth/ChangeScheduler.h"
#include "synth/EcgBeat.h"
#include "synth/FunctionGenerator.h"
#include "synth/Pacing.h"
#include "synth/Parameters.h"
#include "synth/Respiration.h"
#include "synth/WorkingValues.h"

#include <gtest/gtest.h>

namespace synthtest {

constexpr int kRate = 40000;
// One sample period as the streaming loop forms it.
inline double SampleStep()
{
    return static_cast<double>(static_cast<Quad>(1) / static_cast<Quad>(g_nSampleRate));
}

// One streamed sample.
struct Sample {
    double clock;  // output clock of the sample
    double t;      // phase within the cycle
    double v;      // signal channel from the function generator, mV
    double pace;   // pacing overshoot added to the signal channel, mV
    double dc;     // DC channel, mV
};

// Computes one sample as the streaming loop does (phase, signal channel,
// DC channel with the overshoot, clock advance).
inline Sample StreamSample()
{
    Sample s;
    s.clock = g_fOutputTime;
    s.t = _FoldTime(g_fOutputTime, g_fTimePeriod);
    s.pace = 0.0;
    s.v = _GetMainFunctionVoltage(s.t);
    s.dc = _GetPacingV5(s.pace);
    g_fOutputTime += SampleStep();
    return s;
}

// Streams samples until the clock reaches `until` (s), calling fn(sample)
// for each one.
template <typename Fn>
void StreamUntil(double until, Fn fn)
{
    while (g_fOutputTime < until) {
        fn(StreamSample());
    }
}

// Puts the parameters and the engine state back to the values the library
// starts with, so every test begins alike also when the cases share one
// process.
inline void ResetSynthState()
{
    g_MainOutput = 0;
    g_nSampleRate = kRate;
    g_bECGGoing = false;
    g_Amplitude = 1.0;
    g_F = 1.0;
    g_PulseWidth = 100.0;
    g_fOutputTime = 0.0;
    g_fOutputTimeGraph = 0.0;
    g_fTimePeriod = 0.0;
    g_fVoltageRange = 0.0;
    g_RangeV4Ch2Off = 5.0;
    g_RangeV4Ch2On = 5.0;
    g_DCSetting = 0;
    g_bVariableDC = true;
    g_bRawVariableDC = false;
    g_PacingPulse = 0;
    g_PA = 0.0;
    g_PacingDuration = 2.0;
    g_PacingRate = 60;
    g_pacingSynchronized = true;
    g_PacingOvershootTC = 0;
    g_POA = 0.0;
    g_Pacing_leading = 0.03;
    g_QRSDuration = 100.0;
    g_PDuration = 100.0;
    g_PRInterval = 160.0;
    g_QTInterval = 350.0;
    g_STSegment = 70.0;
    g_TDuration = 180.0;
    g_CusP = 0.2;
    g_CusT = 0.2;
    g_CusST = 0.0;
    g_DynamicRangeTest = false;
    g_ADynamicRange = 1.0;
    g_FDynamicRange = 40.0;
    g_BaseLineOverload = 0;
    g_MainNoise = 0;
    g_MainsNoiseAmp = 0.1;
    g_AAMIDriftTest = false;
    g_AAMIDriftTestAmp = 4.0;
    g_AAMIDriftTestWaveLen = 10.0;
    g_AAMIDriftTestWaveLenQuad = 2.5;
    g_AAMIDriftTestWaveLenQuad3 = 7.5;
    g_AAMIDriftTestSlope = 0.8;
    g_nSpecialWaveform = 0;
    g_nANE20000ChannelNumber = 0;
    ECGFile = nullptr;
    ECGFileSize = 0;
    ECGFileFreq = 0.0;
    ECGFileUnitMV = false;
    g_SyncFreqCB = nullptr;
    g_SyncDCOffsetCB = nullptr;

    // The pacing trigger latches persist across _Change; one pacing sample
    // 0.5 s into a 1 s pacing period (phase past 10 ms for every trigger)
    // releases them.
    s_PulsesRequired = 1;
    s_OTC = 0.0;
    s_pp = 1.0;
    s_ppc = 1000;
    g_fOutputTime = 0.5;
    double pace = 0.0;
    for (int mode : {1, 2}) {
        g_PacingPulse = mode;
        _GetPacingV5(pace);
    }
    g_PacingPulse = 0;
    g_fOutputTime = 0.0;

    s_ChangeOnNextCycle = false;
    s_PulsesRequired = 0;
    s_PacingIndicationNeeded = false;
    s_InputDynamicRangeAC = 0.0;
    s_InputDynamicRangeDC = 0.0;
    s_OneRespireS = 0.0;
    s_InhaleS = 0.0;
    s_ExhaleS = 0.0;
    s_OneApneaS = 0.0;
    s_FreqModPreEndT = 0.0;
    s_FreqModEndT = 0.0;
    _ResetRespireModulation();
}

// Selects an output function and applies it as an idle _Change would.
inline void Apply(int code)
{
    g_MainOutput = code;
    _Change();
}

class SynthTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSynthState(); }
    void TearDown() override { ResetSynthState(); }
};

} // namespace synthtest

// Shared helpers of the synthesis tests: a known starting state and a
// sample loop that drives the per-sample functions the way the streaming
// loop does.
#pragma once

#include "output/ChangeScheduler.h"
#include "output/Engine.h"
#include "protocol/Exchange.h"
#include "synth/EcgBeat.h"
#include "synth/FunctionGenerator.h"
#include "synth/Pacing.h"
#include "synth/Respiration.h"
#include "synth/WorkingValues.h"

#include <gtest/gtest.h>

namespace synthtest {

using namespace hsim;

// The live engine's synthesis state, which the change scheduler works on.
inline SynthState& S = g_Engine.synth;

constexpr int kRate = 40000;
// One sample period as the streaming loop forms it.
inline double SampleStep()
{
    return static_cast<double>(static_cast<Quad>(1) / static_cast<Quad>(S.out.nSampleRate));
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
    s.clock = S.clock.fOutputTime;
    s.t = _FoldTime(S.clock.fOutputTime, S.clock.fTimePeriod);
    s.pace = 0.0;
    s.v = _GetMainFunctionVoltage(S, s.t);
    s.dc = _GetPacingV5(S, s.pace);
    S.clock.fOutputTime += SampleStep();
    return s;
}

// Streams samples until the clock reaches `until` (s), calling fn(sample)
// for each one.
template <typename Fn>
void StreamUntil(double until, Fn fn)
{
    while (S.clock.fOutputTime < until) {
        fn(StreamSample());
    }
}

// Puts the engine back to the state the library starts with.
inline void ResetSynthState()
{
    g_Engine = InitialEngine();
    g_bECGGoing = false;
}

// The respiration parameters, as the exported operation sets them: 1 when set.
inline int Respire(int breathsPerMinute, int ratio, int apneaSeconds, int baselinePercent, int amplitudePercent,
                   int frequencyPercent)
{
    return SetRespirationModel(S, breathsPerMinute, ratio, apneaSeconds, baselinePercent, amplitudePercent,
                               frequencyPercent)
               ? 1
               : 0;
}

// Selects an output function and applies it as an idle _Change would.
inline void Apply(int code)
{
    S.out.MainOutput = code;
    _Change();
}

class SynthTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSynthState(); }
    void TearDown() override { ResetSynthState(); }
};

} // namespace synthtest

// Shared helpers of the synthesis tests: a fresh engine per test, a sample
// loop that drives the per-sample functions the way the streaming loop does.
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
inline SynthState& S = CurrentEngine().synth;

constexpr int kRate = 40000;

// One streamed sample: output clock and phase (s), signal channel from the
// function generator, pacing overshoot added to it, and DC channel (mV).
struct Sample {
    double clock, t, v, pace, dc;
};

// Computes one sample as the streaming loop does (phase, signal channel,
// DC channel with the overshoot, clock advance by 1 / rate in quadruple
// precision).
inline Sample StreamSample()
{
    Sample s{S.clock.fOutputTime, _FoldTime(S.clock.fOutputTime, S.clock.fTimePeriod), 0.0, 0.0, 0.0};
    s.v = _GetMainFunctionVoltage(S, s.t);
    s.dc = _GetPacingV5(S, s.pace);
    S.clock.fOutputTime += static_cast<double>(static_cast<Quad>(1) / static_cast<Quad>(S.out.nSampleRate));
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

// Selects an output function and applies it as an idle _Change would.
inline void Apply(int code)
{
    S.out.MainOutput = code;
    _Change();
}

// The signal channel at phase t.
inline double V(double t) { return _GetMainFunctionVoltage(S, t); }

inline void ResetSynthState()
{
    CurrentEngine() = InitialEngine();
    SetStreaming(false);
}

class SynthTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSynthState(); }
};

} // namespace synthtest

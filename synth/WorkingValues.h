// The working values that the generators read per sample, derived from the
// user-facing settings when a change is applied. Each step is a function of
// its own so that the change scheduler, the block renderer and the tests can
// call the pieces they need; _DeriveWorkingValues runs them in the order
// listed here.
#pragma once

#include "synth/State.h"

namespace hsim {

// Every step below in order, for the selected (non-zero) function: what a
// change applies.
void _DeriveWorkingValues(SynthState& s);

// Raw data drive the DC channel only for code 18.
void _ResetRawVariableDC(SynthState& s);
// Code 13 plays a fixed 1 s biphasic cycle with 50 ms pulse width.
void _ForceBiphasicSettings(SynthState& s);
// A: half the peak-to-peak amplitude; for the ECG beats (7, 8) the R
// amplitude itself, clamped to +-5 mV.
void _DeriveAmplitude(SynthState& s);
// Highest frequency the code allows, Hz.
double _MaxFrequency(int code);
// Caps s.out.F to _MaxFrequency(s.out.MainOutput), telling s.hooks.SyncFreqCB when it does.
void _CapFrequency(SynthState& s);
// s.clock.fTimePeriod = 1 / s.out.F.
void _DeriveTimePeriod(SynthState& s);
// s.work.MainsNoiseAmplitude = half the peak-to-peak setting.
void _DeriveMainsNoiseAmplitude(SynthState& s);
// Cycle length of the pattern and file codes (9, 10, 14, 16, 17, 18).
void _ApplyCycleLengthByCode(SynthState& s);
// With the dynamic-range overlay on, lowers s.work.A so that carrier plus overlay
// stay inside +-5 mV, and stores the played amplitude back in s.out.Amplitude.
void _LimitDynamicRangeAmplitude(SynthState& s);
// s.work.PW = s.out.PulseWidth in seconds.
void _DerivePulseWidth(SynthState& s);
// Code 15 starts its staircase at -300 mV with an empty ramp.
void _ResetInputDynamicRangeTest(SynthState& s);
// s.work.fVoltageRange: the output limit of the ECG beats, wider while pacing or
// the variable-DC mode is on.
void _DeriveVoltageRange(SynthState& s);

// Builds the IEC 60601-2-47 pattern that code 16 plays (for the one-hour
// pattern about 25 ms and 28.8 MB), so that no streamed sample has to. Not a
// step of _DeriveWorkingValues: a deferred change is applied on the poll
// thread, so the pattern is prepared on the caller's thread when the change
// is asked for.
void _PrepareStandardPattern(const SynthState& s);

}  // namespace hsim

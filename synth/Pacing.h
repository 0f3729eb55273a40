// Pacemaker pulses and the DC channel. Pulses are played on the DC channel
// (the second DAC channel of every sample); the overshoot of opposite
// polarity that builds up during a pulse and decays after it is added to the
// signal channel. With pacing off the DC channel carries the DC offset
// setting, the baseline-reset level or the staircase of the input dynamic
// range test. The schedule is prepared by _SetUpPacing when a change is
// applied.
#pragma once

#include "synth/State.h"

namespace hsim {

// Prepares the pacing schedule from the pacing settings and the cycle length.
void _SetUpPacing(SynthState& s);

// Trigger detector: starts a pulse (ppc = 0, indication, latch set) on the
// first sample within 105 us after a multiple of the pacing period on the
// clock shifted by offset; the latch holds off a second start until the phase is 10 ms on.
void _CheckIfPacingPulseNeeded(SynthState& s, double offset, bool& latch);

// DC-channel voltage in mV of this sample; adds the signal-channel overshoot
// to pace, which the caller zeroes before the call.
double _GetPacingV5(SynthState& s, double& pace);

}  // namespace hsim

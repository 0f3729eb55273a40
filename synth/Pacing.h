// Pacemaker pulses and the DC channel. Pulses are played on the DC channel
// (the second DAC channel of every sample); the overshoot of opposite
// polarity that builds up during a pulse and decays after it is added to the
// signal channel. With pacing off the DC channel carries the DC offset
// setting, the baseline-reset level or the staircase of the input dynamic
// range test. The schedule is prepared by _SetUpPacing, a step of _Change.
// Everything here runs with g_CriticalSection held.
#pragma once

extern int s_PulsesRequired;            // 0 = pacing off; 1, or 2 with a second pulse
extern double s_pp;                     // pacing period, s
extern double s_OTC;                    // overshoot time constant, s
extern int s_ppc;                       // samples since the last trigger
extern bool s_PacingPulseRaised;        // a pulse has played since the last _Change
extern double s_PacDelayTP;             // delay of the code-5 pulse, s
extern bool s_PacingIndicationNeeded;   // a pulse started; cleared by the streaming loop
extern bool s_PacingHighRange;          // |g_PA| >= 3 mV at the last _Change
extern bool s_PacingShortPulseNeeded;   // set on the last sample of a pulse
extern double s_InputDynamicRangeDC;    // DC level of the input dynamic range test, mV

// Prepares the pacing schedule from the pacing settings and g_fTimePeriod.
void _SetUpPacing();

// Trigger detector: starts a pulse (s_ppc = 0, indication, latch set) on the
// first sample within 105 us after a multiple of s_pp on the clock shifted
// by offset; the latch holds off a second start until the phase is 10 ms on.
void _CheckIfPacingPulseNeeded(double offset, bool& latch);

// DC-channel voltage in mV of this sample; adds the signal-channel overshoot
// to pace, which the caller zeroes before the call.
double _GetPacingV5(double& pace);

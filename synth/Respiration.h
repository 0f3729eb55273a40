// Respiration modulation of the ECG beats (codes 7 and 8): breathing moves
// the baseline, swells and shrinks the R amplitude, and speeds the heart up
// and slows it down (respiratory sinus arrhythmia). The respiration factor r
// is +1 at the height of inspiration, -1 at the depth of expiration and 0
// during the apnea at the end of every minute. The impedance respiration of
// the hardware is separate.
#pragma once

#include "synth/State.h"

namespace hsim {

// Sets the model from the respiration parameters: breaths per minute, the
// exhale-to-inhale ratio, the apnea closing every minute (s), and the
// baseline, amplitude and rate swings in percent of the amplitude and rate
// of this moment. False, changing nothing, when there is no breath (a rate
// or ratio of 0 or below).
bool SetRespirationModel(SynthState& s, int breathsPerMinute, int ratio, int apneaSeconds,
                         int baselinePercent, int amplitudePercent, int frequencyPercent);
inline bool SetRespirationModel(SynthState& s, const RespirationValues& v)
{
    return SetRespirationModel(s, v.breathsPerMinute, v.ratio, v.apneaSeconds, v.baselinePercent,
                               v.amplitudePercent, v.frequencyPercent);
}

// Respiration factor at x seconds into a breath: a positive half-sine over
// the inhale, a negative one over the exhale, 0 after the breath.
double _solveRespireVoltage(SynthState& s, double x);

// Respiration factor at output-clock time t, with the apnea: breathing
// restarts with an inhale at every whole minute while an apnea is set.
double _RespireFactorAt(SynthState& s, double t);

// Respiration factor at the output clock.
double _solveRespireV(SynthState& s);

// Beat scheduler step, once per sample while the rate swing is not 0: when the
// current beat is over, the next one starts where it was due to end and
// lasts one period of the rate modulated by the respiration factor at that
// instant. Returns the beat time, s.clock.fOutputTime - s.resp.FreqModPreEndT (>= 0).
double _AdvanceBeatScheduler(SynthState& s);

// Starts a new beat at the present output clock, one period long. Called
// when output starts (the clock restarts from 0).
void _RestartBeatScheduler(SynthState& s);

// Clears the three modulation depths (baseline, amplitude, rate) and the
// percentages they were made from.
void _ResetRespireModulation(SynthState& s);

}  // namespace hsim

#include "synth/Pacing.h"

#include "synth/FunctionGenerator.h"

#include <climits>
#include <cmath>
#include <cstdint>

namespace hsim {

// The staircase of the input dynamic range test steps on the first sample of
// each half-second mark. A mark is a run of consecutive samples (those within
// 50 us of it), followed on every sample of code 15 through
// InputDynamicRange::StaircaseMark; so the run around 20 s, which begins
// before 20 s, steps nothing and the sum of the channels leaves -300 mV there
// without a jump.

void _SetUpPacing(SynthState& s)
{
    s.pulse.PulsesRequired = 0;
    s.pulse.PacDelayTP = 0;
    if (s.pacing.PA != 0) {
        s.pulse.PulsesRequired = (s.pacing.PacingPulse != 0) ? 2 : 1;
        s.pulse.OTC = s.pacing.PacingOvershootTC / 1000.0;
        s.pulse.ppc = 1000;
        s.pulse.PacingPulseRaised = false;
        // A beat rate outside 10..360 per minute cannot be paced beat by
        // beat: the pulses then run free at the pacing rate.
        if (s.clock.fTimePeriod > 6.0 || s.clock.fTimePeriod < 0.16666666666666666) {
            s.pulse.pp = 60.0 / s.pacing.PacingRate;
        } else if (s.pacing.pacingSynchronized) {
            s.pulse.pp = s.clock.fTimePeriod;
        } else {
            s.pulse.pp = 60.0 / s.pacing.PacingRate;
        }
        s.pulse.PacDelayTP = 0.01;
        s.pulse.PacingHighRange = (std::fabs(s.pacing.PA) >= 3.0);
        s.pulse.PulseSamples = _Trunc32(s.out.nSampleRate * (s.pacing.PacingDuration / 1000) + 0.5);
        s.pulse.OvershootSign = (s.pacing.PA > 0) ? -1.0 : 1.0;
        s.pulse.OvershootMagnitude = std::fabs(s.pacing.POA);
        s.pulse.DecaySamples = s.out.nSampleRate * s.pulse.OTC;
    }
}

void _CheckIfPacingPulseNeeded(SynthState& s, double offset, bool& latch)
{
    const double t = offset + s.clock.fOutputTime - s.clock.fCycleStart;
    const double phase = t - _Trunc32(t / s.pulse.pp + 0.000001) * s.pulse.pp;
    if (latch) {
        if (phase > 0.01) {
            latch = false;
        }
    } else if (std::fabs(phase) < 0.000105) {
        s.pulse.ppc = 0;
        s.pulse.PacingIndicationNeeded = true;
        ++s.pulse.PulsesStarted;
        latch = true;
    }
}

// DC channel of the input dynamic range test: -300 mV for the first 20 s,
// then a staircase of 0.5 mV per half second up to +300 mV at 620 s and
// back down to -300 mV at 1220 s. At every step the signal-channel ramp
// restarts from 0, so the sum of both channels is a continuous 1 mV/s ramp.
static double InputDynamicRangeStaircase(SynthState& s)
{
    const int32_t ticks = _Trunc32(s.clock.fOutputTime * 10000.0 + 0.5);
    const int mark = (ticks % 5000 == 0) ? ticks / 5000 : -1;
    const bool firstOfRun = (mark >= 0 && mark != s.range.StaircaseMark);
    s.range.StaircaseMark = mark;

    double dc;
    if (s.clock.fOutputTime < 20.0) {
        if (s.clock.fOutputTime < 0.0003 && s.hooks.SyncDCOffsetCB != nullptr) {
            s.hooks.SyncDCOffsetCB(-300);
        }
        dc = -300.0;
    } else if (s.clock.fOutputTime >= 1220.0) {
        if (s.clock.fOutputTime < 1220.0003 && s.hooks.SyncDCOffsetCB != nullptr) {
            s.hooks.SyncDCOffsetCB(-300);
        }
        dc = -300.0;
    } else {
        // This sample plays the level reached so far: its signal channel has
        // already taken the ramp's last increment. The new level and the
        // ramp restarted from 0 both show from the next sample, so the sum
        // of the channels carries no half-millivolt spike at the step.
        dc = s.range.InputDynamicRangeDC;
        if (firstOfRun) {
            const double step = (s.clock.fOutputTime <= 620.0) ? 0.5 : -0.5;
            s.range.InputDynamicRangeDC += step;
            s.range.InputDynamicRangeAC = 0;
            if (s.hooks.SyncDCOffsetCB != nullptr) {
                s.hooks.SyncDCOffsetCB(_Trunc32(s.range.InputDynamicRangeDC));
            }
        }
    }
    return dc;
}

double _GetPacingV5(SynthState& s, double& pace)
{
    double dc = 0.0;
    if (s.pulse.PulsesRequired >= 1) {
        s.pulse.PacingShortPulseNeeded = false;

        // The pulse leads the QRS onset: at s.beat.Cus_t2 in the custom beat, at
        // the 10 ms lead-in of every other function.
        const double offset = (s.out.MainOutput == OUTPUT_ECG_CUSTOM) ? s.pacing.Pacing_leading - s.beat.Cus_t2
                                                                      : s.pacing.Pacing_leading - 0.01;
        _CheckIfPacingPulseNeeded(s, offset, s.pulse.MainPulseLatch);
        if (s.pacing.PacingPulse == 1) {
            _CheckIfPacingPulseNeeded(s, offset + 0.15, s.pulse.Mode1PulseLatch);
        } else if (s.pacing.PacingPulse == 2) {
            _CheckIfPacingPulseNeeded(s, offset + 0.25, s.pulse.Mode2PulseLatch);
        }

        const int n = s.pulse.PulseSamples;
        const double sign = s.pulse.OvershootSign;
        const int64_t remaining = static_cast<int64_t>(n) - s.pulse.ppc;  // pulse samples still to play
        if (remaining > 0) {
            // Inside the pulse: the overshoot builds up toward 63 % of its
            // amplitude, starting from 0 on the first pulse sample.
            s.pulse.PacingPulseRaised = true;
            if (remaining == 1) {
                s.pulse.PacingShortPulseNeeded = true;
            }
            s.pulse.ppc += 1;
            double b = 0;
            if (s.pulse.OTC != 0 && s.pulse.ppc > 1) {
                b = sign * s.pulse.OvershootMagnitude * (1 - std::exp(-static_cast<double>(s.pulse.ppc) / n));
            }
            dc = s.pacing.PA + b;
        } else if (s.pulse.OTC != 0 && s.pulse.PacingPulseRaised) {
            // After the pulse: the full overshoot decays on the signal
            // channel with the time constant s.pulse.OTC.
            const double e = std::exp(static_cast<double>(remaining) / s.pulse.DecaySamples);
            if (s.pulse.ppc < INT_MAX) {
                s.pulse.ppc += 1;
            }
            pace = pace + sign * s.pulse.OvershootMagnitude * e;
        }
    } else if (s.test.BaseLineOverload != 0) {
        dc = -500.0;
    } else if (s.out.MainOutput == OUTPUT_INPUT_DYNAMIC_RANGE) {
        dc = InputDynamicRangeStaircase(s);
    } else {
        dc = static_cast<double>(s.dc.DCSetting);
    }
    return dc;
}

}  // namespace hsim

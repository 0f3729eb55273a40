#include "synth/Pacing.h"

#include "synth/EcgBeat.h"
#include "synth/FunctionGenerator.h"
#include "synth/Parameters.h"

#include <climits>
#include <cmath>
#include <cstdint>

int s_PulsesRequired = 0;
double s_pp = 0.0;
double s_OTC = 0.0;
int s_ppc = 0;
bool s_PacingPulseRaised = false;
double s_PacDelayTP = 0.0;
bool s_PacingIndicationNeeded = false;
bool s_PacingHighRange = true;
bool s_PacingShortPulseNeeded = false;
double s_InputDynamicRangeDC = 0.0;

// One latch per trigger: main pulse, and the second pulse 0.15 s or 0.25 s
// ahead of it. They persist across calls and across _Change.
static bool s_bMainPulseLatch = false;
static bool s_bMode1PulseLatch = false;
static bool s_bMode2PulseLatch = false;

// The half-second mark (in units of 0.5 s of the output clock) that the
// previous staircase sample lay on, -1 when it lay on none. A mark is a run
// of consecutive samples (those within 50 us of it); the staircase steps on
// the first sample of a run. Runs are followed on every sample of code 15,
// so the run around 20 s, which begins before 20 s, steps nothing and the
// sum of the channels leaves -300 mV there without a jump.
static int s_nStaircaseMark = -1;

void _SetUpPacing()
{
    s_PulsesRequired = 0;
    s_PacDelayTP = 0;
    if (g_PA != 0) {
        s_PulsesRequired = (g_PacingPulse != 0) ? 2 : 1;
        s_OTC = g_PacingOvershootTC / 1000.0;
        s_ppc = 1000;
        s_PacingPulseRaised = false;
        // A beat rate outside 10..360 per minute cannot be paced beat by
        // beat: the pulses then run free at the pacing rate.
        if (g_fTimePeriod > 6.0 || g_fTimePeriod < 0.16666666666666666) {
            s_pp = 60.0 / g_PacingRate;
        } else if (g_pacingSynchronized) {
            s_pp = g_fTimePeriod;
        } else {
            s_pp = 60.0 / g_PacingRate;
        }
        s_PacDelayTP = 0.01;
        s_PacingHighRange = (std::fabs(g_PA) >= 3.0);
    }
}

void _CheckIfPacingPulseNeeded(double offset, bool& latch)
{
    const double t = offset + g_fOutputTime;
    const double phase = t - _Trunc32(t / s_pp + 0.000001) * s_pp;
    if (latch) {
        if (phase > 0.01) {
            latch = false;
        }
    } else if (std::fabs(phase) < 0.000105) {
        s_ppc = 0;
        s_PacingIndicationNeeded = true;
        latch = true;
    }
}

// DC channel of the input dynamic range test: -300 mV for the first 20 s,
// then a staircase of 0.5 mV per half second up to +300 mV at 620 s and
// back down to -300 mV at 1220 s. At every step the signal-channel ramp
// restarts from 0, so the sum of both channels is a continuous 1 mV/s ramp.
static double InputDynamicRangeStaircase()
{
    const int32_t ticks = _Trunc32(g_fOutputTime * 10000.0 + 0.5);
    const int mark = (ticks % 5000 == 0) ? ticks / 5000 : -1;
    const bool firstOfRun = (mark >= 0 && mark != s_nStaircaseMark);
    s_nStaircaseMark = mark;

    double dc;
    if (g_fOutputTime < 20.0) {
        if (g_fOutputTime < 0.0003 && g_SyncDCOffsetCB != nullptr) {
            g_SyncDCOffsetCB(-300);
        }
        dc = -300.0;
    } else if (g_fOutputTime >= 1220.0) {
        if (g_fOutputTime < 1220.0003 && g_SyncDCOffsetCB != nullptr) {
            g_SyncDCOffsetCB(-300);
        }
        dc = -300.0;
    } else {
        // This sample plays the level reached so far: its signal channel has
        // already taken the ramp's last increment. The new level and the
        // ramp restarted from 0 both show from the next sample, so the sum
        // of the channels carries no half-millivolt spike at the step.
        dc = s_InputDynamicRangeDC;
        if (firstOfRun) {
            const double step = (g_fOutputTime <= 620.0) ? 0.5 : -0.5;
            s_InputDynamicRangeDC += step;
            s_InputDynamicRangeAC = 0;
            if (g_SyncDCOffsetCB != nullptr) {
                g_SyncDCOffsetCB(_Trunc32(s_InputDynamicRangeDC));
            }
        }
    }
    return dc;
}

double _GetPacingV5(double& pace)
{
    double dc = 0.0;
    if (s_PulsesRequired >= 1) {
        s_PacingShortPulseNeeded = false;

        // The pulse leads the QRS onset: at s_Cus_t2 in the custom beat, at
        // the 10 ms lead-in of every other function.
        const double offset =
            (g_MainOutput == 8) ? g_Pacing_leading - s_Cus_t2 : g_Pacing_leading - 0.01;
        _CheckIfPacingPulseNeeded(offset, s_bMainPulseLatch);
        if (g_PacingPulse == 1) {
            _CheckIfPacingPulseNeeded(offset + 0.15, s_bMode1PulseLatch);
        } else if (g_PacingPulse == 2) {
            _CheckIfPacingPulseNeeded(offset + 0.25, s_bMode2PulseLatch);
        }

        const int n = _Trunc32(g_nSampleRate * (g_PacingDuration / 1000) + 0.5);
        const double sign = (g_PA > 0) ? -1.0 : 1.0;  // the overshoot opposes the pulse
        const int64_t remaining = static_cast<int64_t>(n) - s_ppc;  // pulse samples still to play
        if (remaining > 0) {
            // Inside the pulse: the overshoot builds up toward 63 % of its
            // amplitude, starting from 0 on the first pulse sample.
            s_PacingPulseRaised = true;
            if (remaining == 1) {
                s_PacingShortPulseNeeded = true;
            }
            s_ppc += 1;
            double b = 0;
            if (s_OTC != 0 && s_ppc > 1) {
                b = sign * std::fabs(g_POA) * (1 - std::exp(-static_cast<double>(s_ppc) / n));
            }
            dc = g_PA + b;
        } else if (s_OTC != 0 && s_PacingPulseRaised) {
            // After the pulse: the full overshoot decays on the signal
            // channel with the time constant s_OTC.
            const double e = std::exp(static_cast<double>(remaining) / (g_nSampleRate * s_OTC));
            if (s_ppc < INT_MAX) {
                s_ppc += 1;
            }
            pace = pace + sign * std::fabs(g_POA) * e;
        }
    } else if (g_BaseLineOverload != 0) {
        dc = -500.0;
    } else if (g_MainOutput == 15) {
        dc = InputDynamicRangeStaircase();
    } else {
        dc = static_cast<double>(g_DCSetting);
    }
    return dc;
}

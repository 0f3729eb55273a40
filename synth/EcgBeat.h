// The two synthetic ECG beats, built of straight ramps and sine arcs: the
// standard beat (code 7: QRS width and T amplitude adjustable) and the custom
// beat (code 8: P wave, PR, QRS, QT, ST segment, ST deviation and T wave).
// _CheckECGTime turns the interval settings into breakpoint times once per
// applied change; the shapes are evaluated per sample by the function
// generator with the beat time tau (s since the beat began) and the working
// amplitude a (mV). The shapes are inline: they run 40000 times a second.
#pragma once

#include "synth/State.h"

#include <cmath>

namespace hsim {

// Recomputes all breakpoints from the frequency, the intervals and the
// working amplitude.
void _CheckECGTime(SynthState& s);

// Standard beat at beat time tau with R amplitude a. The QRS follows a fixed
// 10 ms lead-in: 7/16 of its width rising to 0.875 a, 8/16 falling to the S
// trough at -0.125 a, 1/16 recovering to 0; then the ST segment and a T wave
// that is an arc of a 0.36 s sine period.
inline double _StandardBeatVoltage(const SynthState& s, double tau, double a)
{
    double v;
    if (tau < 0.01) {
        v = 0.0;
    } else if (tau < s.beat.t1) {
        v = a * ((tau - 0.01) * 0.875 / (s.beat.t1 - 0.01));
    } else if (tau < s.beat.t2) {
        v = a * (-(tau - s.beat.t1) / (s.beat.t2 - s.beat.t1) + 0.875);
    } else if (tau < s.beat.t3) {
        v = a * ((tau - s.beat.t2) * 0.125 / (s.beat.t3 - s.beat.t2) - 0.125);
    } else if (tau < s.beat.t4) {
        v = 0.0;
    } else if (tau < s.beat.t5) {
        v = std::sin((tau - s.beat.t4) * 6.2831853 / 0.36) * s.ecg.CusT;
    } else {
        v = 0.0;
    }
    return v;
}

// Custom beat at beat time tau with R amplitude a: P half-sine from tau = 0,
// the PR gap, the QRS (as in the standard beat but without lead-in), a ramp
// from the S trough to the ST level, the ST level, and the T half-sine. While
// an ST deviation is set, the T wave rides on the ST level until 90 ms before
// its end and then continues as the plain arc.
inline double _CustomBeatVoltage(const SynthState& s, double tau, double a)
{
    double v;
    if (tau < s.beat.Cus_t1) {
        v = std::sin(tau * 6.2831853 / (s.ecg.PDuration * 0.002)) * s.ecg.CusP;
    } else if (tau < s.beat.Cus_t2) {
        v = 0.0;
    } else if (tau < s.beat.Cus_t3) {
        v = a * ((tau - s.beat.Cus_t2) * 0.875 / (s.beat.Cus_t3 - s.beat.Cus_t2));
    } else if (tau < s.beat.Cus_t4) {
        v = a * (-(tau - s.beat.Cus_t3) / (s.beat.Cus_t4 - s.beat.Cus_t3) + 0.875);
    } else if (tau < s.beat.Cus_t5) {
        v = ((a / 8 + s.ecg.CusST) * (tau - s.beat.Cus_t4)) / (s.beat.Cus_t5 - s.beat.Cus_t4) - a / 8;
    } else if (tau < s.beat.Cus_t6) {
        v = s.ecg.CusST;
    } else if (tau < s.beat.Cus_t7) {
        const double w = s.beat.Cus_t7 - s.beat.Cus_t6;
        const double arc = std::sin((tau - s.beat.Cus_t6) * 6.2831853 / (2 * w));
        if (s.ecg.CusST == 0 || tau >= s.beat.Cus_t7 - 0.09) {
            v = arc * s.ecg.CusT;
        } else {
            v = (s.ecg.CusT - s.ecg.CusST) * arc + s.ecg.CusST;
        }
    } else {
        v = 0.0;
    }
    return v;
}

}  // namespace hsim

// The two synthetic ECG beats, built of straight ramps and sine arcs: the
// standard beat (code 7: QRS width and T amplitude adjustable) and the custom
// beat (code 8: P wave, PR, QRS, QT, ST segment, ST deviation and T wave).
// _CheckECGTime turns the interval settings into breakpoint times once per
// applied change; the shapes are evaluated per sample by the function
// generator with the beat time tau (s since the beat began) and the working
// amplitude a (mV). The shapes are inline: they run 40000 times a second.
#pragma once

#include "synth/Parameters.h"

#include <cmath>

// Standard beat breakpoints, s from the start of the beat.
extern double s_t1;  // R crest
extern double s_t2;  // S trough
extern double s_t3;  // end of QRS
extern double s_t4;  // start of T
extern double s_t5;  // end of T

// Custom beat breakpoints, s from the start of the beat.
extern double s_Cus_t1;  // end of P
extern double s_Cus_t2;  // QRS onset
extern double s_Cus_t3;  // R crest
extern double s_Cus_t4;  // S trough
extern double s_Cus_t5;  // end of the S-to-ST ramp
extern double s_Cus_t6;  // start of T
extern double s_Cus_t7;  // end of T
extern double s_Cus_v125; // -s_A / 7, published with the breakpoints

// Recomputes all breakpoints from g_F, the intervals and s_A. Caller holds
// g_CriticalSection.
void _CheckECGTime();

// Standard beat at beat time tau with R amplitude a. The QRS follows a fixed
// 10 ms lead-in: 7/16 of its width rising to 0.875 a, 8/16 falling to the S
// trough at -0.125 a, 1/16 recovering to 0; then the ST segment and a T wave
// that is an arc of a 0.36 s sine period.
inline double _StandardBeatVoltage(double tau, double a)
{
    double v;
    if (tau < 0.01) {
        v = 0.0;
    } else if (tau < s_t1) {
        v = a * ((tau - 0.01) * 0.875 / (s_t1 - 0.01));
    } else if (tau < s_t2) {
        v = a * (-(tau - s_t1) / (s_t2 - s_t1) + 0.875);
    } else if (tau < s_t3) {
        v = a * ((tau - s_t2) * 0.125 / (s_t3 - s_t2) - 0.125);
    } else if (tau < s_t4) {
        v = 0.0;
    } else if (tau < s_t5) {
        v = std::sin((tau - s_t4) * 6.2831853 / 0.36) * g_CusT;
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
inline double _CustomBeatVoltage(double tau, double a)
{
    double v;
    if (tau < s_Cus_t1) {
        v = std::sin(tau * 6.2831853 / (g_PDuration * 0.002)) * g_CusP;
    } else if (tau < s_Cus_t2) {
        v = 0.0;
    } else if (tau < s_Cus_t3) {
        v = a * ((tau - s_Cus_t2) * 0.875 / (s_Cus_t3 - s_Cus_t2));
    } else if (tau < s_Cus_t4) {
        v = a * (-(tau - s_Cus_t3) / (s_Cus_t4 - s_Cus_t3) + 0.875);
    } else if (tau < s_Cus_t5) {
        v = ((a / 8 + g_CusST) * (tau - s_Cus_t4)) / (s_Cus_t5 - s_Cus_t4) - a / 8;
    } else if (tau < s_Cus_t6) {
        v = g_CusST;
    } else if (tau < s_Cus_t7) {
        const double w = s_Cus_t7 - s_Cus_t6;
        const double s = std::sin((tau - s_Cus_t6) * 6.2831853 / (2 * w));
        if (g_CusST == 0 || tau >= s_Cus_t7 - 0.09) {
            v = s * g_CusT;
        } else {
            v = (g_CusT - g_CusST) * s + g_CusST;
        }
    } else {
        v = 0.0;
    }
    return v;
}

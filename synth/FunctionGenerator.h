// The signal channel of the simulator: the voltage of the selected output
// function at one instant of the running cycle, with the test overlays
// (dynamic range, mains noise, baseline drift) and the clamps that belong to
// them. Also the time-folding rule that every per-sample caller uses.
#pragma once

#include <cfloat>
#include <cstdint>

// 128-bit IEEE floating point (quadruple precision): the clock step and the
// ramp of the input dynamic range test are added in it. GCC gives it as
// __float128 on x86-64; on 64-bit Arm long double is IEEE quad.
#if defined(__aarch64__) && LDBL_MANT_DIG == 113
typedef long double Quad;
#elif defined(__x86_64__) || defined(__i386__)
typedef __float128 Quad;
#else
#error "no 128-bit IEEE floating-point type known for this target"
#endif

// Truncation toward zero to a 32-bit signed integer. Values beyond the range
// saturate and NaN gives 0 (the behaviour of the 64-bit Arm conversion), so
// the conversion is defined for every input.
inline int32_t _Trunc32(double x)
{
    int32_t result;
    if (x != x) {
        result = 0;
    } else if (x >= 2147483647.0) {
        result = INT32_MAX;
    } else if (x <= -2147483648.0) {
        result = INT32_MIN;
    } else {
        result = static_cast<int32_t>(x);
    }
    return result;
}

// x folded into one period: x - trunc32(x / period) * period.
inline double _FoldTime(double x, double period)
{
    return x - _Trunc32(x / period) * period;
}

// Ramp of the input dynamic range test (code 15), mV. Reset to 0 by _Change
// when code 15 is applied and by the DC staircase at every half-second mark.
extern double s_InputDynamicRangeAC;

// Signal-channel voltage in mV at phase t (0 <= t < g_fTimePeriod) of the
// current cycle. Expects _Change to have derived the working values. Caller
// holds g_CriticalSection; not reentrant (beat scheduler, rand(), ramp).
double _GetMainFunctionVoltage(double t);

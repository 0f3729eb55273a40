// The signal channel of the simulator: the voltage of the selected output
// function at one instant of the running cycle, with the test overlays
// (dynamic range, mains noise, baseline drift) and the clamps that belong to
// them. Also the time-folding rule that every per-sample caller uses.
#pragma once

#include "synth/State.h"

#include <cstdint>

namespace hsim {

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

// Signal-channel voltage in mV at phase t (0 <= t < the cycle length) of the
// current cycle. Expects the working values derived (a change applied).
// Advances the state's per-sample generators (beat scheduler, ramp).
double _GetMainFunctionVoltage(SynthState& s, double t);

}  // namespace hsim

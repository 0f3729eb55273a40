// The parameters of the output, described once: name, unit, kind, range,
// initial value and how a change applies. The exported setters and getters of
// these parameters are thin entries over the table, and the generic access by
// name (hsim_ext.h) and the tools' options come from it.
#pragma once

#include "output/Engine.h"

namespace hsim {

enum class ParameterKind { Number, Integer, Bool };
// How an accepted value takes effect: at the next cycle boundary while output
// streams (deferred), at once (immediate), or by the row's own store (none).
enum class ParameterApply { Deferred, Immediate, None };
// The setter's frame: the device frame with the command window, or the lock
// and the device check alone (the test-mode setters).
enum class ParameterFrame { Device, Lock };

struct ParameterRow {
    const char* name;  // lower case, words joined by '-'
    const char* unit;  // "mV", "Hz", "ms", "/min" or "" (none)
    ParameterKind kind;
    double minimum;  // the range the setter accepts, both ends included
    double maximum;
    double initial;  // the value the library starts with
    ParameterApply apply;
    ParameterFrame frame;
    // The refusal after the range check (0: none), for couplings with other
    // settings, in the order the setter checks them; null when none.
    int (*couple)(const SynthState& s, double value);
    // Stores an accepted value with what it brings along.
    void (*store)(Engine& e, double value);
    // The value as the getter reads it.
    double (*read)(const Settings& s);
};

// The rows, in the order of this enumeration.
enum class Parameter {
    Amplitude,
    Frequency,
    PulseWidth,
    PacingMode,
    PacingAmplitude,
    PacingWidth,
    PacingRate,
    OvershootTimeConstant,
    OvershootAmplitude,
    QrsDuration,
    TWave,
    PDuration,
    PrInterval,
    QtInterval,
    PWave,
    StDeviation,
    StSegment,
    TDuration,
    Drift,
    DriftAmplitude,
    DriftFrequency,
    Count,
};

constexpr int kParameterCount = static_cast<int>(Parameter::Count);

const ParameterRow& RowOf(Parameter p);
// The row's index by name, -1 when there is none.
int FindParameter(const char* name);

// The setter of a row: the frame (-1 when it does not open), the range (-2,
// also for a non-integral value of an integer or bool row), the couplings,
// then the store and the change. 0 when stored.
int SetParameter(Parameter p, double value);
// The getter of a row: the value as last published (or live, with the lock).
double GetParameter(Parameter p);

}  // namespace hsim

// The parameters of the output, described once: name, unit, kind, range,
// initial value and how a change applies. The exported setters and getters of
// these parameters are thin entries over the table, and the generic access by
// name (hsim_ext.h) and the tools' options come from it.
#pragma once

#include "output/Engine.h"

namespace hsim {

enum class ParameterKind { Number, Integer, Bool, Choice };
// How an accepted value takes effect: at the next cycle boundary while output
// streams (deferred), at once (immediate), or by the row's own store (none).
enum class ParameterApply { Deferred, Immediate, None };
// The setter's frame: the device frame with the command window, the lock and
// the device check alone (the test-mode setters), or the lock alone (settings
// that need no device: the pattern selections and loops).
enum class ParameterFrame { Device, Lock, Unchecked };

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
    // A choice's names, from the minimum up (null: a value that is none).
    const char* const* choices = nullptr;
    // 0, or the number of channels with a value each.
    int channels = 0;
    // A row whose setter talks to the device has a setter and getter of its
    // own (frame, exchange and result), given a value already accepted by
    // the row; the channel is -1 for a row of one value. A null get: the
    // value cannot be read back.
    int (*set)(int channel, double value) = nullptr;
    int (*get)(int channel, double& value) = nullptr;
    // Work done before the frame is opened (outside the lock).
    void (*prepare)(double value) = nullptr;
    // Whether the change of an Immediate or Deferred row is asked of the
    // change scheduler; false when the store makes it take effect itself.
    bool scheduled = true;
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
    PacingSynchronized,
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
    Noise,
    NoiseAmplitude,
    BaselineReset,
    DynamicRange,
    DynamicRangeAmplitude,
    DynamicRangeFrequency,
    Scan,
    ScanStart,
    ScanStop,
    ScanDuration,
    Pattern227,
    Pattern251,
    Pattern247,
    AneLead,
    PatternLoop,
    FileLoop,
    RespirationRate,
    RespirationRatio,
    RespirationApnea,
    RespirationBaseline,
    RespirationAmplitude,
    RespirationFrequency,
    OutputFunction,
    DcOffset,
    DcVariable,
    DcCommonMode,
    Impedance,
    SignalGround,
    Lead,
    Count,
};

constexpr int kParameterCount = static_cast<int>(Parameter::Count);

const ParameterRow& RowOf(Parameter p);
// The value is within the row's range, whole for the kinds that are, and
// named for a choice.
bool Accepts(Parameter p, double value);
// Setting the row selects, starts or stops the output.
bool SelectsOutput(Parameter p);
// The row's index by name, -1 when there is none.
int FindParameter(const char* name);

// The setter of a row: the frame (-1 when it does not open), the range (-2,
// also for a non-integral value of an integer or bool row), the couplings,
// then the store and the change. 0 when stored.
int SetParameter(Parameter p, double value);
// The same for one channel of a row with channels (-1: every channel, 0
// first, up to the first refusal), or -1 for a row of one value; -2 for a
// channel that is none.
int SetChannelParameter(Parameter p, int channel, double value);
// The getter of a row: the value as last published (or live, with the lock).
double GetParameter(Parameter p);
// The value of a row (channel -1) or of one channel of a row with channels:
// 0, -2 for a channel that is none, kParameterUnreadable for a row that
// cannot be read, or the getter's failure for a row read from the device.
constexpr int kParameterUnreadable = -3;
int GetChannelParameter(Parameter p, int channel, double& value);

// Builds the pattern that function code will play with pattern index, so
// that a change applied under the lock finds it built.
void PreparePattern(int code, int index);

}  // namespace hsim

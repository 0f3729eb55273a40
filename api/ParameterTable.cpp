#include "api/ParameterTable.h"

#include "api/Setter.h"
#include "hsim_ext.h"
#include "output/ChangeScheduler.h"
#include "output/Output.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace hsim {

namespace {

constexpr double kPulseMaxHz = 5.0;    // the two pulse functions stop here
constexpr double kMinPWidthMs = 50.0;  // the narrowest P wave
constexpr int kChannels = 4;

using K = ParameterKind;
using A = ParameterApply;
using F = ParameterFrame;

// The amplitude and the frequency are the baseline-reset test's while it runs.
int AmplitudeCoupling(const SynthState& s, double)
{
    return s.test.BaseLineOverload == 0 ? 0 : -3;
}

int FrequencyCoupling(const SynthState& s, double hz)
{
    const bool pulse = s.out.MainOutput == OUTPUT_RECTANGULAR_PULSE || s.out.MainOutput == OUTPUT_TRIANGULAR_PULSE;
    if (pulse && hz > kPulseMaxHz)
        return -2;
    if (s.scan.FreqScanOn)
        return -3;
    return s.test.BaseLineOverload == 0 ? 0 : -4;
}

// Pulses ride on the DC channel, so a pacing amplitude puts every channel in
// variable-DC mode. The amplitude stands even if a channel's write fails.
void StorePacingAmplitude(Engine& e, double mv)
{
    e.synth.pacing.PA = mv;
    if (mv != 0.0) {
        for (int channel = 0; channel < kChannels; ++channel)
            SetChannelDcVariableMode(channel, true);
    }
}

// A fixed rate: the pulses no longer follow the beats.
void StorePacingRate(Engine& e, double perMinute)
{
    e.synth.pacing.PacingRate = static_cast<unsigned int>(perMinute);
    e.synth.pacing.pacingSynchronized = false;
}

// The P wave fits into the PR interval: an interval below 50 ms narrows it
// to the interval; a longer one widens a narrowed P wave back to 50 ms.
void StorePrInterval(Engine& e, double ms)
{
    EcgSettings& ecg = e.synth.ecg;
    ecg.PRInterval = ms;
    if (ms < kMinPWidthMs)
        ecg.PDuration = ms;
    else if (ecg.PDuration < kMinPWidthMs)
        ecg.PDuration = kMinPWidthMs;
}

// Amplitude and frequency of the drift apply when the drift is on; while it
// is off they are only kept.
void ChangeIfDrifting(const Engine& e)
{
    if (e.synth.test.AAMIDriftTest)
        _ChangeRequested();
}

void StoreDriftAmplitude(Engine& e, double mv)
{
    TestModes& t = e.synth.test;
    t.AAMIDriftTestAmp = mv;
    t.AAMIDriftTestSlope = 2.0 * mv / t.AAMIDriftTestWaveLen;
    ChangeIfDrifting(e);
}

// L = 1 / f, its quarter and three quarters, and the slope that makes the
// drift a triangle of the set peak-to-peak amplitude.
void StoreDriftFrequency(Engine& e, double hz)
{
    TestModes& t = e.synth.test;
    t.AAMIDriftTestWaveLen = 1.0 / hz;
    t.AAMIDriftTestWaveLenQuad = 0.25 / hz;
    t.AAMIDriftTestWaveLenQuad3 = 0.75 / hz;
    t.AAMIDriftTestSlope = 2.0 * t.AAMIDriftTestAmp / t.AAMIDriftTestWaveLen;
    ChangeIfDrifting(e);
}

constexpr double kIntMin = INT_MIN;
constexpr double kIntMax = INT_MAX;

// A field of the settings, stored and read as it is.
#define HSIM_FIELD(group, field)                                                 \
    nullptr, [](Engine& e, double v) { e.synth.group.field = decltype(e.synth.group.field)(v); }, \
        [](const Settings& s) { return double(s.group.field); }

const ParameterRow kRows[kParameterCount] = {
    {"amplitude", "mV", K::Number, -10.0, 10.0, 1.0, A::Deferred, F::Device, AmplitudeCoupling,
     [](Engine& e, double v) { e.synth.out.Amplitude = v; }, [](const Settings& s) { return s.out.Amplitude; }},
    {"frequency", "Hz", K::Number, 0.017, 500.0, 1.0, A::Deferred, F::Device, FrequencyCoupling,
     [](Engine& e, double v) { e.synth.out.F = v; }, [](const Settings& s) { return s.out.F; }},
    {"pulse-width", "ms", K::Number, 1.0, 300.0, 100.0, A::Deferred, F::Device, HSIM_FIELD(out, PulseWidth)},
    // Any integer: the modes' meaning is the pacing generator's.
    {"pacing-mode", "", K::Integer, kIntMin, kIntMax, 0, A::Deferred, F::Device, HSIM_FIELD(pacing, PacingPulse)},
    {"pacing-amplitude", "mV", K::Number, -700.0, 700.0, 0.0, A::Deferred, F::Device, nullptr, StorePacingAmplitude,
     [](const Settings& s) { return s.pacing.PA; }},
    {"pacing-width", "ms", K::Number, 0.1, 3.0, 2.0, A::Deferred, F::Device, HSIM_FIELD(pacing, PacingDuration)},
    {"pacing-rate", "/min", K::Integer, 10, 360, 60, A::Deferred, F::Device, nullptr, StorePacingRate,
     [](const Settings& s) { return double(s.pacing.PacingRate); }},
    {"overshoot-time-constant", "ms", K::Integer, 0, 100, 0, A::Deferred, F::Device,
     HSIM_FIELD(pacing, PacingOvershootTC)},
    // The overshoot's sign follows the pulse; only its magnitude is kept.
    {"overshoot-amplitude", "mV", K::Number, -5.0, 5.0, 0.0, A::Deferred, F::Device, nullptr,
     [](Engine& e, double v) { e.synth.pacing.POA = std::fabs(v); }, [](const Settings& s) { return s.pacing.POA; }},
    {"qrs-duration", "ms", K::Number, 5.0, 200.0, 100.0, A::Immediate, F::Device, HSIM_FIELD(ecg, QRSDuration)},
    {"t-wave", "mV", K::Number, 0.0, 5.0, 0.2, A::Immediate, F::Device, HSIM_FIELD(ecg, CusT)},
    {"p-duration", "ms", K::Number, kMinPWidthMs, 100.0, 100.0, A::Immediate, F::Device, HSIM_FIELD(ecg, PDuration)},
    {"pr-interval", "ms", K::Number, 0.0, 200.0, 160.0, A::Immediate, F::Device, nullptr, StorePrInterval,
     [](const Settings& s) { return s.ecg.PRInterval; }},
    {"qt-interval", "ms", K::Number, 100.0, 900.0, 350.0, A::Immediate, F::Device, HSIM_FIELD(ecg, QTInterval)},
    {"p-wave", "mV", K::Number, 0.0, 2.0, 0.2, A::Immediate, F::Device, HSIM_FIELD(ecg, CusP)},
    {"st-deviation", "mV", K::Number, -2.0, 2.0, 0.0, A::Immediate, F::Device, HSIM_FIELD(ecg, CusST)},
    // The ST segment and T wave are weights of the QT remainder; the library
    // starts with 70 and 180, below the range a setter accepts.
    {"st-segment", "ms", K::Number, 100.0, 900.0, 70.0, A::Deferred, F::Device, HSIM_FIELD(ecg, STSegment)},
    {"t-duration", "ms", K::Number, 100.0, 900.0, 180.0, A::Deferred, F::Device, HSIM_FIELD(ecg, TDuration)},
    {"drift", "", K::Bool, 0, 1, 0, A::Deferred, F::Lock, HSIM_FIELD(test, AAMIDriftTest)},
    {"drift-amplitude", "mV", K::Number, 1.0, 8.0, 4.0, A::None, F::Lock, nullptr, StoreDriftAmplitude,
     [](const Settings& s) { return s.test.AAMIDriftTestAmp; }},
    {"drift-frequency", "Hz", K::Number, 0.05, 2.0, 0.1, A::None, F::Lock, nullptr, StoreDriftFrequency,
     [](const Settings& s) { return 1.0 / s.test.AAMIDriftTestWaveLen; }},
};

#undef HSIM_FIELD

static_assert(static_cast<int>(ParameterKind::Number) == HSIM_PARAMETER_NUMBER &&
              static_cast<int>(ParameterKind::Integer) == HSIM_PARAMETER_INTEGER &&
              static_cast<int>(ParameterKind::Bool) == HSIM_PARAMETER_BOOL);
static_assert(static_cast<int>(ParameterApply::Deferred) == HSIM_APPLY_DEFERRED &&
              static_cast<int>(ParameterApply::Immediate) == HSIM_APPLY_IMMEDIATE &&
              static_cast<int>(ParameterApply::None) == HSIM_APPLY_STORED);

bool Accepted(const ParameterRow& row, double value)
{
    if (!InRange(value, row.minimum, row.maximum))
        return false;
    return row.kind == ParameterKind::Number || value == std::trunc(value);
}

template <class Frame>
int Set(const ParameterRow& row, double value)
{
    Engine& e = CurrentEngine();
    return FramedSetter<Frame>(
        [&] {
            if (!Accepted(row, value))
                return kSetterBadArgument;
            return row.couple != nullptr ? row.couple(e.synth, value) : 0;
        },
        [&] {
            row.store(e, value);
            if (row.apply == ParameterApply::Deferred)
                _ChangeRequested();
            else if (row.apply == ParameterApply::Immediate)
                _Change();
        });
}

}  // namespace

const ParameterRow& RowOf(Parameter p)
{
    return kRows[static_cast<int>(p)];
}

int FindParameter(const char* name)
{
    for (int i = 0; name != nullptr && i < kParameterCount; ++i) {
        if (strcmp(kRows[i].name, name) == 0)
            return i;
    }
    return -1;
}

int SetParameter(Parameter p, double value)
{
    const ParameterRow& row = RowOf(p);
    return row.frame == ParameterFrame::Device ? Set<DeviceFrame>(row, value) : Set<DeviceLock>(row, value);
}

double GetParameter(Parameter p)
{
    return RowOf(p).read(CurrentSettings());
}

}  // namespace hsim

extern "C" int HSIMGetParameterCount(void)
{
    return hsim::kParameterCount;
}

extern "C" int HSIMGetParameterInfo(int index, HSIM_PARAMETER_INFO* info)
{
    if (info == nullptr || index < 0 || index >= hsim::kParameterCount)
        return kSetterBadArgument;
    const hsim::ParameterRow& row = hsim::RowOf(static_cast<hsim::Parameter>(index));
    info->name = row.name;
    info->unit = row.unit;
    info->kind = static_cast<int>(row.kind);
    info->apply = static_cast<int>(row.apply);
    info->minimum = row.minimum;
    info->maximum = row.maximum;
    info->initial = row.initial;
    return 0;
}

extern "C" int HSIMSetParameter(const char* name, double value)
{
    const int index = hsim::FindParameter(name);
    if (index < 0)
        return HSIM_ERROR_UNKNOWN_PARAMETER;
    return hsim::SetParameter(static_cast<hsim::Parameter>(index), value);
}

extern "C" int HSIMGetParameter(const char* name, double* value)
{
    const int index = hsim::FindParameter(name);
    if (index < 0)
        return HSIM_ERROR_UNKNOWN_PARAMETER;
    if (value == nullptr)
        return kSetterBadArgument;
    *value = hsim::GetParameter(static_cast<hsim::Parameter>(index));
    return 0;
}

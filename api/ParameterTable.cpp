#include "api/ParameterTable.h"

#include "api/Setter.h"
#include "hsim.h"
#include "hsim_ext.h"
#include "output/ChangeScheduler.h"
#include "output/Output.h"
#include "output/TestModes.h"
#include "synth/Respiration.h"
#include "synth/WorkingValues.h"
#include "synth/tables/StandardTables.h"

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

// One pulse per beat needs a beat rate the pulses can follow.
int SynchronizedCoupling(const SynthState& s, double on)
{
    return on == 0 || InRange(s.out.F * 60.0, 10.0, 360.0) ? 0 : -2;
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

// The settings of a test mode apply while the mode runs; while it is off
// they are only kept.
void ChangeWhile(bool running)
{
    if (running)
        _ChangeRequested();
}

void StoreDriftAmplitude(Engine& e, double mv)
{
    TestModes& t = e.synth.test;
    t.AAMIDriftTestAmp = mv;
    t.AAMIDriftTestSlope = 2.0 * mv / t.AAMIDriftTestWaveLen;
    ChangeWhile(e.synth.test.AAMIDriftTest);
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
    ChangeWhile(e.synth.test.AAMIDriftTest);
}


// The dynamic-range test plays its overlay as a triangle (1) or a square (2);
// 0 switches it off, which stops the output.
void StoreDynamicRange(Engine& e, double shape)
{
    SynthState& s = e.synth;
    s.out.MainOutput = shape == 0 ? OUTPUT_OFF : shape == 1 ? OUTPUT_TRIANGLE : OUTPUT_SQUARE;
    s.test.DynamicRangeTest = shape != 0;
}

double ReadDynamicRange(const Settings& s)
{
    return !s.test.DynamicRangeTest ? 0 : s.out.MainOutput == OUTPUT_TRIANGLE ? 1 : 2;
}

void StoreDynamicRangeAmplitude(Engine& e, double mv)
{
    e.synth.test.ADynamicRange = mv;
    ChangeWhile(e.synth.test.DynamicRangeTest);
}

void StoreDynamicRangeFrequency(Engine& e, double hz)
{
    e.synth.test.FDynamicRange = hz;
    ChangeWhile(e.synth.test.DynamicRangeTest);
}

// 1 starts the sine scan with the kept start, stop and duration, 2 the ECG
// scan; 0 ends a running scan, which stops the output.
void StoreScan(Engine& e, double kind)
{
    if (kind == 1)
        StartFrequencyScan(ScanKind::Sine);
    else if (kind == 2)
        StartFrequencyScan(ScanKind::Ecg);
    else if (e.synth.scan.FreqScanOn)
        EndFrequencyScan();
}

double ReadScan(const Settings& s)
{
    return !s.scan.FreqScanOn ? 0 : s.scan.FreqScan3 ? 2 : 1;
}

// The respiration model is made again from its values whenever one changes,
// with the amplitude and rate of this moment; before a breath rate is set
// the values are only kept.
template <int RespirationValues::*field>
void StoreRespiration(Engine& e, double value)
{
    RespirationValues values = e.synth.resp.made;
    values.*field = static_cast<int>(value);
    if (!SetRespirationModel(e.synth, values))
        e.synth.resp.made = values;
}

#define HSIM_RESPIRATION(field)                                                                            \
    nullptr, StoreRespiration<&RespirationValues::field>,                                                \
        [](const Settings& s) { return double(s.respiration.field); }, nullptr, 0, nullptr, nullptr, nullptr, \
        false

// The pattern a selection will play is built before the lock is taken.
void PrepareSelectedPattern(double index)
{
    PreparePattern(CurrentSettings().out.MainOutput, static_cast<int>(index));
}

// The rows whose setters talk to the device go through the exported setters,
// which hold the frame, the exchange and the result codes.
int SetOutputFunctionRow(int, double code)
{
    return HSIMSetOutputFunction(static_cast<int>(code));
}

int SetDcOffsetRow(int channel, double mv)
{
    return HSIMSetDCOffset(channel, static_cast<int>(mv));
}

int GetDcOffsetRow(int, double& mv)
{
    mv = CurrentSettings().dc.DCSetting;  // one offset for every channel
    return 0;
}

int SetDcVariableRow(int channel, double on)
{
    return HSIMSetDCOffsetVariableMode(channel, on != 0);
}

int GetDcVariableRow(int channel, double& on)
{
    on = CurrentSettings().dc.bTestVariableDC[channel];
    return 0;
}

int SetDcCommonModeRow(int, double on)
{
    return SetDCOffsetCommonMode(on != 0);
}

int SetImpedanceRow(int channel, double mode)
{
    return HSIMSetInputImpedanceMode(channel, static_cast<int>(mode));
}

// A channel's value as the device reports it through an exported getter; a
// negative result is the getter's failure.
template <int (*getter)(int)>
int DeviceReadRow(int channel, double& value)
{
    const int result = getter(channel);
    if (result < 0)
        return result;
    value = result;
    return 0;
}

// Whether reading the row is an exchange with the device.
bool AsksDevice(const ParameterRow& row)
{
    return row.get == DeviceReadRow<HSIMGetInputImpedanceMode> || row.get == DeviceReadRow<HSIMGetSignalGroundToGNDGround>;
}

int SetSignalGroundRow(int channel, double on)
{
    return HSIMSetSignalGroundToGNDGround(channel, on != 0);
}

int SetLeadRow(int channel, double lead)
{
    return HSIMSetOutputLead(channel, static_cast<OutputLead>(static_cast<int>(lead)));
}

// The names hsimctl, the bindings and panels show for the choices.
constexpr const char* kFunctionNames[] = {
    "off",      "sine",     "triangle", "square",   "rect-pulse", "tri-pulse",     "exponential",
    "ecg",      "ecg-custom", "iec-2-27", "iec-2-51", nullptr,     nullptr,         "biphasic",
    "file",     "dynamic-range", "iec-2-47", "ane20000", "file-dc"};
static_assert(std::size(kFunctionNames) == OUTPUT_ECG_FILE_WITH_DC + 1);
constexpr const char* kNoiseNames[] = {"off", "50hz", "60hz", "random"};
constexpr const char* kBaselineResetNames[] = {"off", "50hz", "60hz", "80hz", "100hz"};
constexpr const char* kDynamicRangeNames[] = {"off", "triangle", "square"};
constexpr const char* kScanNames[] = {"off", "sine", "ecg"};
constexpr const char* kLeadNames[] = {"primary", "secondary"};
// The IEC 60601-2-27 test ECGs by the names of the published records they
// hold, and the IEC 60601-2-47 patterns.
constexpr const char* kIEC227Names[] = {"aami3a", "aami3b",   "aami3c",   "aami3d", "aami4a",
                                        "aami4a_d", "aami4a_h", "aami4b", "aami4b_d", "aami4b_h"};
constexpr const char* kIEC247Names[] = {"pulse-train", "rr-800ms", "rr-1000ms", "rr-3000ms", "rr-1500ms-hour"};
static_assert(std::size(kIEC227Names) == kIEC227Patterns && std::size(kIEC247Names) == kIEC247Patterns);

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
    // Synchronised: one pulse per beat (a beat rate of 10..360 per minute),
    // from the next change; a pacing rate set makes the pulses free-running.
    {"pacing-synchronized", "", K::Bool, 0, 1, 1, A::None, F::Device, SynchronizedCoupling,
     [](Engine& e, double v) { e.synth.pacing.pacingSynchronized = v != 0; },
     [](const Settings& s) { return double(s.pacing.pacingSynchronized); }},
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
    // Mains noise of 50 or 60 Hz, or random noise, on the ECG.
    {"noise", "", K::Choice, 0, 3, 0, A::Deferred, F::Lock, HSIM_FIELD(test, MainNoise), kNoiseNames},
    {"noise-amplitude", "mV", K::Number, 0.01, 5.0, 0.1, A::Deferred, F::Lock, HSIM_FIELD(test, MainsNoiseAmp)},
    // A 1000 mV sine on the DC channel, at once.
    {"baseline-reset", "", K::Choice, 0, 4, 0, A::None, F::Lock, nullptr,
     [](Engine&, double v) { SetBaselineResetLevel(static_cast<int>(v)); },
     [](const Settings& s) { return double(s.test.BaseLineOverload); }, kBaselineResetNames},
    {"dynamic-range", "", K::Choice, 0, 2, 0, A::Deferred, F::Device, nullptr, StoreDynamicRange, ReadDynamicRange,
     kDynamicRangeNames},
    {"dynamic-range-amplitude", "mV", K::Number, 0.0, 10.0, 1.0, A::None, F::Device, nullptr,
     StoreDynamicRangeAmplitude, [](const Settings& s) { return s.test.ADynamicRange; }},
    {"dynamic-range-frequency", "Hz", K::Number, 1.0, 60.0, 40.0, A::None, F::Device, nullptr,
     StoreDynamicRangeFrequency, [](const Settings& s) { return s.test.FDynamicRange; }},
    {"scan", "", K::Choice, 0, 2, 0, A::None, F::Device, nullptr, StoreScan, ReadScan, kScanNames},
    // The sine scan's start, stop and duration apply when it starts (the ECG
    // scan sets start and stop of its own).
    {"scan-start", "Hz", K::Number, 0.67, 500.0, 0.67, A::None, F::Device, HSIM_FIELD(scan, Fstart)},
    {"scan-stop", "Hz", K::Number, 0.67, 500.0, 150.0, A::None, F::Device, HSIM_FIELD(scan, Ffinal)},
    {"scan-duration", "s", K::Integer, 10, 180, 30, A::None, F::Device, HSIM_FIELD(scan, Fduration)},
    // One index serves the three pattern families, each with its own range.
    {"pattern-227", "", K::Choice, 0, kIEC227Patterns - 1, 0, A::Immediate, F::Unchecked,
     HSIM_FIELD(pattern, nSpecialWaveform), kIEC227Names, 0, nullptr, nullptr, PrepareSelectedPattern},
    {"pattern-251", "", K::Integer, 0, kIEC251Patterns - 1, 0, A::Immediate, F::Unchecked,
     HSIM_FIELD(pattern, nSpecialWaveform), nullptr, 0, nullptr, nullptr, PrepareSelectedPattern},
    {"pattern-247", "", K::Choice, 0, kIEC247Patterns - 1, 0, A::Immediate, F::Unchecked,
     HSIM_FIELD(pattern, nSpecialWaveform), kIEC247Names, 0, nullptr, nullptr, PrepareSelectedPattern},
    {"ane-lead", "", K::Integer, 0, kANE20000Leads - 1, 0, A::Immediate, F::Unchecked,
     HSIM_FIELD(pattern, nANE20000ChannelNumber)},
    {"pattern-loop", "", K::Bool, 0, 1, 1, A::None, F::Unchecked, HSIM_FIELD(pattern, loopPlay)},
    {"file-loop", "", K::Bool, 0, 1, 1, A::None, F::Unchecked, HSIM_FIELD(pattern, loopFile)},
    // Breathing on the ECG beats: the model's values, its swings in percent of
    // the amplitude and rate of the moment it is made. It takes effect from
    // the next sample.
    {"respiration-rate", "/min", K::Integer, 1, 200, 0, A::Immediate, F::Lock, HSIM_RESPIRATION(breathsPerMinute)},
    {"respiration-ratio", "", K::Integer, 1, 100, 1, A::Immediate, F::Lock, HSIM_RESPIRATION(ratio)},
    {"respiration-apnea", "s", K::Integer, 0, 60, 0, A::Immediate, F::Lock, HSIM_RESPIRATION(apneaSeconds)},
    {"respiration-baseline", "%", K::Integer, 0, 1000, 0, A::Immediate, F::Lock, HSIM_RESPIRATION(baselinePercent)},
    {"respiration-amplitude", "%", K::Integer, 0, 1000, 0, A::Immediate, F::Lock, HSIM_RESPIRATION(amplitudePercent)},
    {"respiration-frequency", "%", K::Integer, 0, 1000, 0, A::Immediate, F::Lock, HSIM_RESPIRATION(frequencyPercent)},
    // Selecting a function starts or stops the output.
    {"output-function", "", K::Choice, 0, OUTPUT_ECG_FILE_WITH_DC, 0, A::Immediate, F::Device, nullptr, nullptr,
     [](const Settings& s) { return double(s.out.MainOutput); }, kFunctionNames, 0, SetOutputFunctionRow},
    // The front end, channel by channel. The DC offset is one value that each
    // channel's write takes.
    {"dc-offset", "mV", K::Integer, -1000, 1000, 0, A::Immediate, F::Device, nullptr, nullptr, nullptr, nullptr,
     kChannels, SetDcOffsetRow, GetDcOffsetRow},
    {"dc-variable", "", K::Bool, 0, 1, 1, A::Immediate, F::Device, nullptr, nullptr, nullptr, nullptr, kChannels,
     SetDcVariableRow, GetDcVariableRow},
    {"dc-common-mode", "", K::Bool, 0, 1, 0, A::Immediate, F::Device, nullptr, nullptr,
     [](const Settings& s) { return double(s.dc.bCommonMode); }, nullptr, 0, SetDcCommonModeRow},
    {"impedance", "", K::Integer, 0, 3, 0, A::Immediate, F::Device, nullptr, nullptr, nullptr, nullptr, kChannels,
     SetImpedanceRow, DeviceReadRow<HSIMGetInputImpedanceMode>},
    {"signal-ground", "", K::Bool, 0, 1, 1, A::Immediate, F::Device, nullptr, nullptr, nullptr, nullptr, kChannels,
     SetSignalGroundRow, DeviceReadRow<HSIMGetSignalGroundToGNDGround>},
    // The device cannot report its leads.
    {"lead", "", K::Choice, 0, 1, 0, A::Immediate, F::Device, nullptr, nullptr, nullptr, kLeadNames, kChannels,
     SetLeadRow},
};

#undef HSIM_FIELD
#undef HSIM_RESPIRATION

static_assert(static_cast<int>(ParameterKind::Number) == HSIM_PARAMETER_NUMBER &&
              static_cast<int>(ParameterKind::Integer) == HSIM_PARAMETER_INTEGER &&
              static_cast<int>(ParameterKind::Bool) == HSIM_PARAMETER_BOOL &&
              static_cast<int>(ParameterKind::Choice) == HSIM_PARAMETER_CHOICE);
static_assert(static_cast<int>(ParameterApply::Deferred) == HSIM_APPLY_DEFERRED &&
              static_cast<int>(ParameterApply::Immediate) == HSIM_APPLY_IMMEDIATE &&
              static_cast<int>(ParameterApply::None) == HSIM_APPLY_STORED);

bool Accepted(const ParameterRow& row, double value)
{
    if (!InRange(value, row.minimum, row.maximum))
        return false;
    if (row.kind == ParameterKind::Number)
        return true;
    if (value != std::trunc(value))
        return false;
    return row.kind != ParameterKind::Choice || row.choices[static_cast<int>(value - row.minimum)] != nullptr;
}

// The frame of the settings that need no device: the lock alone.
class LockAlone {
public:
    LockAlone() : m_Lock(ContextLock()) {}
    bool open() const { return true; }

private:
    ContextGuard m_Lock;
};

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
            if (!row.scheduled)
                return;
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

bool SelectsOutput(Parameter p)
{
    return p == Parameter::OutputFunction || p == Parameter::BaselineReset || p == Parameter::DynamicRange ||
           p == Parameter::Scan;
}

bool Accepts(Parameter p, double value)
{
    return Accepted(RowOf(p), value);
}

int SetParameter(Parameter p, double value)
{
    return SetChannelParameter(p, -1, value);
}

int SetChannelParameter(Parameter p, int channel, double value)
{
    const ParameterRow& row = RowOf(p);
    if (channel < -1 || channel >= row.channels)
        return kSetterBadArgument;
    if (row.channels > 0 && channel == -1) {
        for (int c = 0; c < row.channels; ++c) {
            if (const int result = SetChannelParameter(p, c, value))
                return result;
        }
        return kSetterOk;
    }
    if (row.set != nullptr)
        return Accepted(row, value) ? row.set(channel, value) : kSetterBadArgument;
    if (row.prepare != nullptr && Accepted(row, value))
        row.prepare(value);
    switch (row.frame) {
    case ParameterFrame::Device: return Set<DeviceFrame>(row, value);
    case ParameterFrame::Lock: return Set<DeviceLock>(row, value);
    case ParameterFrame::Unchecked: return Set<LockAlone>(row, value);
    }
    return kSetterBadArgument;
}

double GetParameter(Parameter p)
{
    return RowOf(p).read(CurrentSettings());
}

int GetChannelParameter(Parameter p, int channel, double& value)
{
    const ParameterRow& row = RowOf(p);
    if (channel < -1 || channel >= row.channels || (row.channels > 0 && channel == -1))
        return kSetterBadArgument;
    if (row.get != nullptr)
        return row.get(channel, value);
    if (row.read == nullptr)
        return kParameterUnreadable;
    value = row.read(CurrentSettings());
    return kSetterOk;
}

void PreparePattern(int code, int index)
{
    SynthState s;
    s.out.MainOutput = code;
    s.pattern.nSpecialWaveform = index;
    _PrepareStandardPattern(s);
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
    info->channels = row.channels;
    info->flags = (row.get != nullptr || row.read != nullptr ? HSIM_PARAMETER_READABLE : 0) |
                  (hsim::SelectsOutput(static_cast<hsim::Parameter>(index)) ? HSIM_PARAMETER_SELECTS_OUTPUT : 0) |
                  (hsim::AsksDevice(row) ? HSIM_PARAMETER_ASKS_DEVICE : 0);
    info->choices = row.choices;
    return 0;
}

extern "C" int HSIMSetChannelParameter(const char* name, int channel, double value)
{
    const int index = hsim::FindParameter(name);
    if (index < 0)
        return HSIM_ERROR_UNKNOWN_PARAMETER;
    return hsim::SetChannelParameter(static_cast<hsim::Parameter>(index), channel, value);
}

extern "C" int HSIMGetChannelParameter(const char* name, int channel, double* value)
{
    const int index = hsim::FindParameter(name);
    if (index < 0)
        return HSIM_ERROR_UNKNOWN_PARAMETER;
    if (value == nullptr)
        return kSetterBadArgument;
    return hsim::GetChannelParameter(static_cast<hsim::Parameter>(index), channel, *value);
}

extern "C" int HSIMSetParameter(const char* name, double value)
{
    return HSIMSetChannelParameter(name, -1, value);
}

extern "C" int HSIMGetParameter(const char* name, double* value)
{
    return HSIMGetChannelParameter(name, -1, value);
}

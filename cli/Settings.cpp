#include "Settings.h"

#include "hsim.h"
#include "hsim_ext.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace hsimctl {
namespace {

using Action = std::function<int()>;
using Function = std::optional<int>;
using Reader = std::function<Action(std::string_view, Function, std::string&)>;

constexpr int kChannels = 4;

bool IsEcg(Function f) { return f == OUTPUT_ECG_STANDARD || f == OUTPUT_ECG_CUSTOM; }
// The pulses and the exponential play at most 5 Hz.
bool IsSlow(Function f)
{
    return f == OUTPUT_RECTANGULAR_PULSE || f == OUTPUT_TRIANGULAR_PULSE || f == OUTPUT_EXPONENTIAL;
}
// Functions whose period comes from a table, a file or a test of their own:
// a rate set with them is not what they play.
bool HasOwnRate(Function f)
{
    return f == OUTPUT_IEC_2_27 || f == OUTPUT_IEC_2_51 || f == OUTPUT_BIPHASIC_EXPONENTIAL ||
           f == OUTPUT_ECG_FILE || f == OUTPUT_INPUT_DYNAMIC_RANGE || f == OUTPUT_IEC_2_47 ||
           f == OUTPUT_ANE20000 || f == OUTPUT_ECG_FILE_WITH_DC;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

std::string Text(std::string_view view) { return std::string(view); }

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// The accepted range as the user reads it: "-10..10 mV".
std::string RangeText(double low, double high, const char* unit)
{
    return Number(low) + ".." + Number(high) + (*unit ? std::string(" ") + unit : std::string());
}

struct Range {
    double low, high;
};

bool Quantity(std::string_view text, Dimension dimension, double& value, std::string& why)
{
    if (const auto parsed = ParseQuantity(text, dimension)) {
        value = *parsed;
        return true;
    }
    why = "'" + Text(text) + "' is not a " +
          (dimension == Dimension::Number ? std::string("number")
                                          : std::string("value in ") + BaseUnit(dimension) +
                                                " or a unit of the same kind");
    return false;
}

bool Within(std::string_view text, double value, Range range, const char* unit, std::string& why)
{
    if (value >= range.low && value <= range.high)
        return true;
    why = "'" + Text(text) + "' is outside the accepted range " + RangeText(range.low, range.high, unit);
    return false;
}

// A value of a dimension within a range (in the dimension's base unit).
bool Checked(std::string_view text, Dimension dimension, Range range, double& value, std::string& why)
{
    return Quantity(text, dimension, value, why) && Within(text, value, range, BaseUnit(dimension), why);
}

bool WholeNumber(std::string_view text, Dimension dimension, Range range, int& value, std::string& why)
{
    double v = 0;
    if (!Quantity(text, dimension, v, why))
        return false;
    if (std::fabs(v - std::round(v)) > 1e-9) {
        why = "'" + Text(text) + "' is not a whole number" +
              (dimension == Dimension::Number ? "" : std::string(" of ") + BaseUnit(dimension));
        return false;
    }
    if (!Within(text, v, range, BaseUnit(dimension), why))
        return false;
    value = int(std::lround(v));
    return true;
}

template <class Int>
Reader WholeScalar(Dimension dimension, Range range, int (*setter)(Int))
{
    return [=](std::string_view text, Function, std::string& why) -> Action {
        int v = 0;
        if (!WholeNumber(text, dimension, range, v, why))
            return nullptr;
        return [=] { return setter(Int(v)); };
    };
}

// The library's description of a parameter by name (the library's own names,
// "qrs-duration"); the program cannot run without the ones it names.
HSIM_PARAMETER_INFO TableInfo(const char* name)
{
    for (int i = 0, n = HSIMGetParameterCount(); i < n; ++i) {
        HSIM_PARAMETER_INFO info;
        if (HSIMGetParameterInfo(i, &info) == 0 && std::strcmp(info.name, name) == 0)
            return info;
    }
    std::fprintf(stderr, "hsimctl: the library has no parameter '%s'\n", name);
    std::abort();
}

Range TableRange(const char* name)
{
    const HSIM_PARAMETER_INFO info = TableInfo(name);
    return {info.minimum, info.maximum};
}

Dimension DimensionOfUnit(const char* unit)
{
    for (Dimension d : {Dimension::Voltage, Dimension::Frequency, Dimension::Rate, Dimension::Time,
                        Dimension::Duration})
        if (std::strcmp(BaseUnit(d), unit) == 0)
            return d;
    return Dimension::Number;
}

// Whole numbers over the whole range of an int: any mode the library takes.
bool AnyInteger(const HSIM_PARAMETER_INFO& info)
{
    return info.minimum <= INT_MIN && info.maximum >= INT_MAX;
}

// The name of a choice's value; null when it is none.
const char* ChoiceName(const HSIM_PARAMETER_INFO& info, double value)
{
    if (info.choices == nullptr || !(value >= info.minimum && value <= info.maximum))
        return nullptr;
    return info.choices[int(value - info.minimum)];
}

// The names of a choice (from its second value on when `first` is false).
std::string ChoiceList(const HSIM_PARAMETER_INFO& info, bool numbered = false, bool first = true)
{
    std::string list;
    for (double v = info.minimum + (first ? 0 : 1); v <= info.maximum; ++v)
        if (const char* name = ChoiceName(info, v))
            list += (list.empty() ? "" : ", ") + std::string(name) +
                    (numbered ? " (" + std::to_string(int(v)) + ")" : std::string());
    return list;
}

// A choice by its name (in any case) or by the number of a named value.
std::optional<int> Choice(const HSIM_PARAMETER_INFO& info, std::string_view text)
{
    for (double v = info.minimum; v <= info.maximum; ++v) {
        const char* name = ChoiceName(info, v);
        if (name && text.size() == std::strlen(name) &&
            std::equal(text.begin(), text.end(), name, [](char a, char b) { return std::tolower(a) == b; }))
            return int(v);
    }
    int number = 0;
    std::string why;
    if (WholeNumber(text, Dimension::Number, {info.minimum, info.maximum}, number, why) && ChoiceName(info, number))
        return number;
    return std::nullopt;
}

const HSIM_PARAMETER_INFO& Functions()
{
    static const HSIM_PARAMETER_INFO info = TableInfo("output-function");
    return info;
}

// The range as help texts and refusals give it.
std::string TableRangeText(const HSIM_PARAMETER_INFO& info)
{
    if (info.kind == HSIM_PARAMETER_BOOL)
        return "on or off";
    if (info.kind == HSIM_PARAMETER_CHOICE)
        return ChoiceList(info);
    if (AnyInteger(info))
        return "any whole number";
    return RangeText(info.minimum, info.maximum, info.unit);
}

// A value of a table parameter, read in its unit and range (on/off for a
// bool, whole numbers for an integer, a name for a choice).
bool TableValue(const HSIM_PARAMETER_INFO& info, std::string_view text, double& v, std::string& why)
{
    const Dimension dimension = DimensionOfUnit(info.unit);
    if (info.kind == HSIM_PARAMETER_BOOL) {
        const auto on = ParseSwitch(text);
        if (!on)
            why = "'" + Text(text) + "' is not on or off";
        v = on.value_or(false) ? 1 : 0;
        return bool(on);
    }
    if (info.kind == HSIM_PARAMETER_CHOICE) {
        const auto choice = Choice(info, text);
        if (!choice)
            why = "'" + Text(text) + "' is not one of: " + ChoiceList(info);
        v = choice.value_or(0);
        return bool(choice);
    }
    if (info.kind == HSIM_PARAMETER_INTEGER) {
        int whole = 0;
        if (!WholeNumber(text, dimension, {info.minimum, info.maximum}, whole, why))
            return false;
        v = whole;
        return true;
    }
    return Checked(text, dimension, {info.minimum, info.maximum}, v, why);
}

// A table parameter set by its name; one of each channel takes
// "CHANNEL:VALUE" for one channel or "VALUE" for all of them.
Reader TableScalar(const HSIM_PARAMETER_INFO& info)
{
    const std::string name = info.name;
    return [=](std::string_view text, Function, std::string& why) -> Action {
        int channel = -1;
        const auto parts = Split(text, ':');
        if (info.channels > 0 && parts.size() == 2) {
            if (!WholeNumber(parts[0], Dimension::Number, {0, double(info.channels - 1)}, channel, why))
                return nullptr;
            text = parts[1];
        } else if (info.channels > 0 && parts.size() > 2) {
            why = "'" + Text(text) + "': expected CHANNEL:VALUE with a channel 0.." +
                  std::to_string(info.channels - 1) + ", or VALUE";
            return nullptr;
        }
        double v = 0;
        if (!TableValue(info, text, v, why))
            return nullptr;
        return [=] { return HSIMSetChannelParameter(name.c_str(), channel, v); };
    };
}

// The option names hsimctl gives the library's parameters, where they differ
// or say more; every other parameter of the library is an option of its own
// name. The range in the help is the library's.
struct TableOption {
    const char* option;
    const char* parameter;
    const char* valueHint;
    const char* help;
    const char* note;  // after the range
};
constexpr TableOption kTableOptions[] = {
    {"pulse-width", "pulse-width", "100ms", "width of the pulse functions", ""},
    {"qrs", "qrs-duration", "100ms", "QRS duration of the beat", ""},
    {"t-wave", "t-wave", "0.3mV", "T wave amplitude", ""},
    {"p-wave", "p-wave", "0.15mV", "P wave amplitude", ""},
    {"p-width", "p-duration", "80ms", "P wave width", ""},
    {"pr", "pr-interval", "160ms", "PR interval", ""},
    {"qt", "qt-interval", "400ms", "QT interval", ""},
    {"st", "st-deviation", "0mV", "ST deviation", ""},
    {"st-weight", "st-segment", "100ms", "ST segment weight", ""},
    {"t-weight", "t-duration", "100ms", "T wave weight", ""},
    {"pacing", "pacing-amplitude", "2mV", "pacing pulse amplitude", " (0 = off)"},
    {"pacing-width", "pacing-width", "1ms", "pacing pulse width", ""},
    {"pacing-mode", "pacing-mode", "0", "pacing pulse mode", ""},
    {"overshoot", "overshoot-amplitude", "0.5mV", "pacing overshoot amplitude", " (played as its magnitude)"},
    {"overshoot-tau", "overshoot-time-constant", "10ms", "pacing overshoot time constant", ""},
    {"drift-rate", "drift-frequency", "0.1Hz", "baseline drift frequency", ""},
    {"pattern-227", "pattern-227", "0", "IEC 60601-2-27 test pattern", ""},
    {"pattern-251", "pattern-251", "0", "IEC 60601-2-51 calibration pattern", ""},
    {"pattern-247", "pattern-247", "0", "IEC 60601-2-47 pattern", ""},
    {"ane-lead", "ane-lead", "0", "lead of the ANE20000 test ECG", ""},
    {"baseline-reset", "baseline-reset", "50hz", "baseline-reset test, a 1000 mV sine on DC", ""},
    {"dc-offset", "dc-offset", "0:300mV", "fixed DC offset of a channel (CH:VALUE) or all", ""},
    {"dc-variable", "dc-variable", "0:off", "variable DC (pacing pulses, files) of a channel (CH:VALUE) or all", ""},
    {"lead", "lead", "0:secondary", "output lead of a channel (CH:VALUE) or all", ""},
    {"impedance", "impedance", "0:1", "input impedance mode of a channel (CH:VALUE) or all", ""},
    {"signal-ground", "signal-ground", "0:on", "signal ground to GND of a channel (CH:VALUE) or all", ""},
    {"dc-common-mode", "dc-common-mode", "on", "DC offset common mode", ""},
};
// Parameters that hand-written options below cover with more than one value
// or with the output function's own range.
struct ComposedOption {
    const char* parameter;
    const char* option;
};
constexpr ComposedOption kComposedParameters[] = {
    {"amplitude", "amplitude"},
    {"frequency", "rate"},
    {"pacing-rate", "pacing-rate"},
    {"pacing-synchronized", "pacing-rate"},
    {"drift", "drift"},
    {"drift-amplitude", "drift"},
    {"noise", "noise"},
    {"noise-amplitude", "noise"},
    {"dynamic-range", "dynamic-range"},
    {"dynamic-range-amplitude", "dynamic-range"},
    {"dynamic-range-frequency", "dynamic-range"},
    {"scan", "scan"},
    {"scan-start", "scan"},
    {"scan-stop", "scan"},
    {"scan-duration", "scan"},
    {"pattern-loop", "loop"},
    {"file-loop", "loop"},
    {"respiration-rate", "respiration"},
    {"respiration-ratio", "respiration"},
    {"respiration-apnea", "respiration"},
    {"respiration-baseline", "respiration"},
    {"respiration-amplitude", "respiration"},
    {"respiration-frequency", "respiration"},
    {"output-function", "function"}};

bool SelectsOutput(const HSIM_PARAMETER_INFO& info)
{
    return (info.flags & HSIM_PARAMETER_SELECTS_OUTPUT) != 0;
}

Parameter TableParameter(const TableOption& o)
{
    const HSIM_PARAMETER_INFO info = TableInfo(o.parameter);
    const char* before = info.kind == HSIM_PARAMETER_CHOICE ? ": " : ", ";
    return {o.option, o.valueHint, std::string(o.help) + before + TableRangeText(info) + o.note, SelectsOutput(info),
            TableScalar(info)};
}

// Options for the library's parameters that hsimctl names no other way.
void AddOtherTableParameters(std::vector<Parameter>& p)
{
    for (int i = 0, n = HSIMGetParameterCount(); i < n; ++i) {
        HSIM_PARAMETER_INFO info;
        if (HSIMGetParameterInfo(i, &info) != 0)
            continue;
        const auto named = [&](const char* name) { return std::strcmp(name, info.name) == 0; };
        if (std::any_of(std::begin(kTableOptions), std::end(kTableOptions),
                        [&](const TableOption& o) { return named(o.parameter); }) ||
            std::any_of(std::begin(kComposedParameters), std::end(kComposedParameters),
                        [&](const ComposedOption& c) { return named(c.parameter); }))
            continue;
        const char* choice = ChoiceName(info, info.initial);
        const std::string hint = (info.channels > 0 ? "0:" : "") +
                                 (info.kind == HSIM_PARAMETER_BOOL ? std::string("on")
                                  : choice                         ? std::string(choice)
                                                                   : Number(info.initial) + info.unit);
        p.push_back({info.name, hint, std::string(info.name) + ", " + TableRangeText(info), SelectsOutput(info),
                     TableScalar(info)});
    }
}

// The amplitude: peak to peak for the test functions (from 0 mV for the
// pulses), QRS from S to R for the beats, which play at most 5 mV whatever is
// set.
Action ReadAmplitude(std::string_view text, Function function, std::string& why)
{
    double mv = 0;
    const Range range = IsEcg(function) ? Range{-5, 5} : TableRange("amplitude");
    if (!Quantity(text, Dimension::Voltage, mv, why))
        return nullptr;
    if (!Within(text, mv, range, "mV", why)) {
        if (IsEcg(function))
            why += " (the beat plays at most 5 mV)";
        return nullptr;
    }
    return [=] { return HSIMSetAmplitude(mv); };
}

// The rate: what the function plays, in beats per minute for the ECG and in
// hertz for the others when no unit is given.
Action ReadRate(std::string_view text, Function function, std::string& why)
{
    const bool known = function && *function != OUTPUT_OFF;
    if (known && HasOwnRate(function)) {
        why = std::string("does not apply to ") + FunctionName(*function) +
              (*function == OUTPUT_BIPHASIC_EXPONENTIAL ? ", which plays at 1 Hz" : ", which plays at its own rate");
        return nullptr;
    }
    if (!known && !HasUnit(text)) {
        why = "'" + Text(text) + "' needs a unit (bpm or Hz) when no output function is selected with it";
        return nullptr;
    }
    double hz = 0;
    if (!HasUnit(text) && IsEcg(function)) {
        double bpm = 0;
        if (!Quantity(text, Dimension::Rate, bpm, why))
            return nullptr;
        hz = bpm / 60;
    } else if (!Quantity(text, Dimension::Frequency, hz, why)) {
        return nullptr;
    }
    const Range table = TableRange("frequency");
    const Range range{table.low, IsEcg(function) ? 6.0 : IsSlow(function) ? 5.0 : table.high};
    // Compared in hertz, within a rounding of the unit's conversion.
    if (!(hz >= range.low * (1 - 1e-12) && hz <= range.high * (1 + 1e-12))) {
        why = "'" + Text(text) + "' is outside what " + (known ? FunctionName(*function) : "the output") +
              " plays: " +
              (IsEcg(function) ? RangeText(range.low * 60, range.high * 60, "bpm") + " (" +
                                     RangeText(range.low, range.high, "Hz") + ")"
                               : RangeText(range.low, range.high, "Hz"));
        return nullptr;
    }
    hz = std::clamp(hz, range.low, range.high);
    return [=] { return HSIMSetFrequency(hz); };
}

std::vector<Parameter> MakeParameters()
{
    using D = Dimension;
    std::vector<Parameter> p = {
        {"amplitude", "1mV",
         "signal amplitude, " + TableRangeText(TableInfo("amplitude")) + ": peak to peak for the sine, triangle, square and biphasic (1mV "
         "plays -0.5..+0.5 mV); the height from 0 mV for the pulses and the exponential (1mV plays 0..1 mV); "
         "for the ECG beats the QRS from S to R, -5..5 mV (R peak at 0.875, S at -0.125 of it)",
         false, ReadAmplitude},
        {"rate", "75bpm",
         "heart rate or frequency: ECG 1.02..360 bpm (a plain number is bpm), pulses and exponential "
         "0.017..5 Hz, other functions " + TableRangeText(TableInfo("frequency")) +
             " (a plain number is Hz); units bpm, /min, Hz",
         false, ReadRate},
        {"pacing-rate", "70ppm", "pacing rate, " + TableRangeText(TableInfo("pacing-rate")) + ", or 'sync' (one pulse per beat)", false,
         [](std::string_view text, Function function, std::string& why) -> Action {
             if (text == "sync")
                 return [] { return HSIMSetParameter("pacing-synchronized", 1); };
             return TableScalar(TableInfo("pacing-rate"))(text, function, why);
         }},
        {"noise", "50Hz:0.1mV",
         "mains or random noise KIND:AMPLITUDE (" + TableRangeText(TableInfo("noise-amplitude")) +
             " p-p) with a KIND of " + ChoiceList(TableInfo("noise"), false, false) + "; or off",
         false,
         [](std::string_view text, Function, std::string& why) -> Action {
             if (ParseSwitch(text) == false)
                 return [] { return HSIMSetParameter("noise", 0); };
             const auto parts = Split(text, ':');
             // "50" and "60" name the mains frequencies too.
             const std::string kind = parts.size() == 2 && (parts[0] == "50" || parts[0] == "60")
                                          ? Text(parts[0]) + "hz"
                                          : Text(parts[0]);
             const auto mode = parts.size() == 2 ? Choice(TableInfo("noise"), kind) : std::nullopt;
             double mv = 0;
             if (!mode || *mode == 0) {
                 why = "'" + Text(text) + "': expected KIND:AMPLITUDE with a kind of " +
                       ChoiceList(TableInfo("noise")) + " other than off, or off";
                 return nullptr;
             }
             if (!TableValue(TableInfo("noise-amplitude"), parts[1], mv, why))
                 return nullptr;
             return [=] { return SetECG2_27_Noise(*mode, mv); };
         }},
        {"drift", "4mV", "baseline drift (triangle), " + TableRangeText(TableInfo("drift-amplitude")) + " p-p, or off", false,
         [](std::string_view text, Function, std::string& why) -> Action {
             if (ParseSwitch(text) == false)
                 return [] { return SetECG2_27_AAMIDriftTest(false); };
             double mv = 0;
             if (!Checked(text, D::Voltage, TableRange("drift-amplitude"), mv, why))
                 return nullptr;
             return [=] {
                 const int result = SetECG2_27_AAMIDriftTestAmp(mv);
                 return result ? result : SetECG2_27_AAMIDriftTest(true);
             };
         }},
        {"loop", "on", "loop patterns and loaded files (on/off)", false,
         [](std::string_view text, Function function, std::string& why) -> Action {
             const Action patterns = TableScalar(TableInfo("pattern-loop"))(text, function, why);
             const Action files = TableScalar(TableInfo("file-loop"))(text, function, why);
             if (!patterns || !files)
                 return nullptr;
             return [=] {
                 const int result = patterns();
                 return result ? result : files();
             };
         }},
        {"respiration", "15:1:0:100:100:100",
         "respiration BREATHS:RATIO:APNEA:BASELINE:AMPLITUDE:FREQUENCY: breaths " +
             TableRangeText(TableInfo("respiration-rate")) + ", exhale/inhale ratio " +
             TableRangeText(TableInfo("respiration-ratio")) + ", apnea closing each minute " +
             TableRangeText(TableInfo("respiration-apnea")) + ", baseline, amplitude and rate swings in " +
             TableRangeText(TableInfo("respiration-baseline")) + " of the amplitude and rate",
         false,
         [](std::string_view text, Function, std::string& why) -> Action {
             static const char* const kRows[] = {"respiration-rate",     "respiration-ratio",
                                                 "respiration-apnea",    "respiration-baseline",
                                                 "respiration-amplitude", "respiration-frequency"};
             const auto parts = Split(text, ':');
             if (parts.size() != std::size(kRows)) {
                 why = "'" + Text(text) + "': expected 6 values separated by ':'";
                 return nullptr;
             }
             double v[std::size(kRows)];
             for (size_t i = 0; i < std::size(kRows); ++i)
                 if (!TableValue(TableInfo(kRows[i]), parts[i], v[i], why))
                     return nullptr;
             return [=] {
                 return SetRespireAlgorithmParam(int(v[0]), int(v[1]), int(v[2]), int(v[3]), int(v[4]),
                                                 int(v[5])) == 1
                            ? 0
                            : -1;
             };
         }},
        // Test modes: they select or start the output themselves.
        {"dynamic-range", "triangle:2mV:10Hz",
         "input dynamic-range test: triangle|square:AMPLITUDE (" +
             TableRangeText(TableInfo("dynamic-range-amplitude")) + "):FREQUENCY (" +
             TableRangeText(TableInfo("dynamic-range-frequency")) + "), or off",
         true,
         [](std::string_view text, Function, std::string& why) -> Action {
             if (ParseSwitch(text) == false)
                 return [] { return HSIMSetParameter("dynamic-range", 0); };
             const auto parts = Split(text, ':');
             const auto shape = parts.size() == 3 ? Choice(TableInfo("dynamic-range"), parts[0]) : std::nullopt;
             double v[2];
             if (!shape || *shape == 0) {
                 why = "'" + Text(text) + "': expected triangle|square:AMPLITUDE:FREQUENCY";
                 return nullptr;
             }
             if (!TableValue(TableInfo("dynamic-range-amplitude"), parts[1], v[0], why) ||
                 !TableValue(TableInfo("dynamic-range-frequency"), parts[2], v[1], why))
                 return nullptr;
             const bool triangle = std::string_view(ChoiceName(TableInfo("dynamic-range"), *shape)) == "triangle";
             return [=] { return HSIMSetDynamicRangeTest(true, triangle, v[0], v[1]); };
         }},
        {"scan", "0.67Hz:40Hz:60s",
         "frequency scan of a sine START:STOP (" + TableRangeText(TableInfo("scan-start")) + "):DURATION (" +
             TableRangeText(TableInfo("scan-duration")) + "), 'ecg' (0.05..0.5 beats/s in 30 s), or off",
         true,
         [](std::string_view text, Function, std::string& why) -> Action {
             if (text == "ecg")
                 return [] { return SetFreqScanECG(true); };
             if (ParseSwitch(text) == false)
                 return [] { return HSIMSetParameter("scan", 0); };
             const auto parts = Split(text, ':');
             double v[3];
             if (parts.size() != 3) {
                 why = "'" + Text(text) + "': expected START:STOP:DURATION or ecg";
                 return nullptr;
             }
             if (!TableValue(TableInfo("scan-start"), parts[0], v[0], why) ||
                 !TableValue(TableInfo("scan-stop"), parts[1], v[1], why) ||
                 !TableValue(TableInfo("scan-duration"), parts[2], v[2], why))
                 return nullptr;
             return [=] { return HSIMSetFrequencyScan(true, int(v[2]), v[0], v[1]); };
         }},
    };
    // The library's parameters after the amplitude and the rate.
    std::vector<Parameter> table;
    for (const TableOption& o : kTableOptions)
        table.push_back(TableParameter(o));
    AddOtherTableParameters(table);
    p.insert(p.begin() + 2, table.begin(), table.end());
    return p;
}

}  // namespace

bool ReadTableValue(const HSIM_PARAMETER_INFO& info, std::string_view text, double& value, std::string& why)
{
    return TableValue(info, text, value, why);
}

std::string TableRangeOf(const HSIM_PARAMETER_INFO& info) { return TableRangeText(info); }

const std::vector<Parameter>& Parameters()
{
    static const std::vector<Parameter> parameters = MakeParameters();
    return parameters;
}

const char* OptionFor(const char* libraryName)
{
    for (const TableOption& o : kTableOptions)
        if (std::strcmp(o.parameter, libraryName) == 0)
            return o.option;
    for (const ComposedOption& c : kComposedParameters)
        if (std::strcmp(c.parameter, libraryName) == 0)
            return c.option;
    return libraryName;
}

const Parameter* FindParameter(std::string_view name)
{
    for (const Parameter& p : Parameters())
        if (name == p.name)
            return &p;
    return nullptr;
}

std::optional<int> ParseFunction(std::string_view text)
{
    if (const auto named = Choice(Functions(), text))
        return named;
    // The numbers without a name are the library's reserved codes.
    int number = -1;
    std::string why;
    if (WholeNumber(text, Dimension::Number, {Functions().minimum, Functions().maximum}, number, why))
        return number;
    return std::nullopt;
}

std::string ChoiceName(const char* parameter, int value)
{
    const char* name = ChoiceName(TableInfo(parameter), value);
    return name ? name : std::to_string(value);
}

const char* FunctionName(int function)
{
    const char* name = ChoiceName(Functions(), function);
    return name ? name : "reserved";
}

std::string FunctionList()
{
    return ChoiceList(Functions(), true);
}

Dimension RateDefault(std::optional<int> function)
{
    return IsEcg(function) ? Dimension::Rate : Dimension::Frequency;
}

bool Settings::Add(std::string_view name, std::string_view value, std::string& why)
{
    if (name == "function")
        return SetFunction(value, why);
    const Parameter* parameter = FindParameter(name);
    if (!parameter) {
        why = "unknown setting '" + Text(name) + "'";
        return false;
    }
    // Read now when the function that plays it is known; otherwise a value
    // it refuses may still be right for the function given later, and
    // Resolve decides.
    const Function function = m_Function ? m_Function : m_Context;
    std::string reason;
    Action apply = parameter->read(value, function, reason);
    if (!apply && function && *function != OUTPUT_OFF) {
        why = Text(name) + ": " + reason;
        return false;
    }
    m_Entries.push_back({parameter, Text(value), std::move(apply)});
    return true;
}

bool Settings::SetFunction(std::string_view text, std::string& why)
{
    const auto function = ParseFunction(text);
    if (!function) {
        why = "unknown output function '" + Text(text) + "' (one of: " + FunctionList() + ")";
        return false;
    }
    m_Function = function;
    return true;
}

bool Settings::Resolve(std::optional<int> current, std::string& why)
{
    m_Context = current;
    const Function function = m_Function ? m_Function : current;
    for (Entry& entry : m_Entries) {
        std::string reason;
        entry.apply = entry.parameter->read(entry.value, function, reason);
        if (!entry.apply) {
            why = std::string(entry.parameter->name) + ": " + reason;
            return false;
        }
    }
    return true;
}

namespace {

// Why this thread's last call to the device failed, as the library keeps
// it: "write failed: Input/output error (0 of 64 bytes)"; empty when it
// does not say.
std::string LastCause()
{
    HSIM_STATUS s;
    const char* what = nullptr;
    switch (HSIMGetLastStatus(&s)) {
    case HSIM_CAUSE_NO_DEVICE: what = "no device"; break;
    case HSIM_CAUSE_BUSY: what = "no command window within 3000 ms"; break;
    case HSIM_CAUSE_WRITE_FAILED: what = "write failed"; break;
    case HSIM_CAUSE_READ_FAILED: what = "read failed"; break;
    case HSIM_CAUSE_SHORT_READ: what = "short read"; break;
    case HSIM_CAUSE_REFUSED: what = "refused by the device"; break;
    default: return "";
    }
    std::string text = what;
    if (s.osError != 0)
        text += std::string(": ") + std::strerror(s.osError);
    if (s.bytesExpected > 0)
        text += " (" + std::to_string(s.bytesDone) + " of " + std::to_string(s.bytesExpected) + " bytes)";
    return text;
}

}  // namespace

bool Settings::ApplyWhere(bool afterFunction, std::string& why) const
{
    for (const Entry& entry : m_Entries) {
        if (entry.parameter->afterFunction != afterFunction)
            continue;
        if (!entry.apply) {
            why = std::string(entry.parameter->name) + " " + entry.value + " was not checked for a function";
            return false;
        }
        if (const int result = entry.apply()) {
            m_ValueRefused = result <= -2;
            std::string detail = result == -1 || result == HSIM_ERROR_IO ? LastCause() : "";
            if (detail.empty() && result == -1)
                detail = "the device is gone or gave no command window in time";
            if (result <= -2 && result > HSIM_ERROR_IO)
                detail = "not accepted with the settings in force";
            why = std::string("the library refused ") + entry.parameter->name + " " + entry.value + " (code " +
                  std::to_string(result) + (detail.empty() ? "" : ": " + detail) + ")";
            return false;
        }
    }
    return true;
}

bool Settings::ApplyParameters(std::string& why) const { return ApplyWhere(false, why); }

bool Settings::Apply(std::string& why) const
{
    if (!ApplyWhere(false, why))
        return false;
    if (m_Function) {
        if (const int result = HSIMSetOutputFunction(*m_Function)) {
            m_ValueRefused = false;
            why = std::string("the library refused the output function ") + FunctionName(*m_Function) +
                  " (code " + std::to_string(result) + ")";
            return false;
        }
    }
    return ApplyWhere(true, why);
}

std::string Settings::Describe() const
{
    std::string text = m_Function ? FunctionName(*m_Function) : "";
    for (const Entry& entry : m_Entries)
        text += (text.empty() ? "" : ", ") + std::string(entry.parameter->name) + " " + entry.value;
    return text;
}

void AddParameterOptions(CLI::App& command, Settings& settings)
{
    for (const Parameter& p : Parameters()) {
        const std::string name = p.name;
        command
            .add_option_function<std::vector<std::string>>(
                "--" + name,
                [&settings, name](const std::vector<std::string>& values) {
                    for (const std::string& value : values) {
                        std::string why;
                        if (!settings.Add(name, value, why))
                            throw CLI::ValidationError("--" + why);
                    }
                },
                p.help)
            ->type_name(p.valueHint)
            ->group("Parameters");
    }
}

}  // namespace hsimctl

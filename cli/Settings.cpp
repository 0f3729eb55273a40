#include "Settings.h"

#include "hsim.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <string>

namespace hsimctl {
namespace {

using Action = std::function<int()>;
using Reader = std::function<Action(std::string_view, std::string&)>;

constexpr int kChannels = 4;

struct NamedFunction {
    const char* name;
    int number;
};
constexpr NamedFunction kFunctions[] = {
    {"off", OUTPUT_OFF},
    {"sine", OUTPUT_SINE},
    {"triangle", OUTPUT_TRIANGLE},
    {"square", OUTPUT_SQUARE},
    {"rect-pulse", OUTPUT_RECTANGULAR_PULSE},
    {"tri-pulse", OUTPUT_TRIANGULAR_PULSE},
    {"exponential", OUTPUT_EXPONENTIAL},
    {"ecg", OUTPUT_ECG_STANDARD},
    {"ecg-custom", OUTPUT_ECG_CUSTOM},
    {"iec-2-27", OUTPUT_IEC_2_27},
    {"iec-2-51", OUTPUT_IEC_2_51},
    {"biphasic", OUTPUT_BIPHASIC_EXPONENTIAL},
    {"file", OUTPUT_ECG_FILE},
    {"dynamic-range", OUTPUT_INPUT_DYNAMIC_RANGE},
    {"iec-2-47", OUTPUT_IEC_2_47},
    {"ane20000", OUTPUT_ANE20000},
    {"file-dc", OUTPUT_ECG_FILE_WITH_DC},
};

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

bool WholeNumber(std::string_view text, Dimension dimension, int& value, std::string& why)
{
    double v = 0;
    if (!Quantity(text, dimension, v, why))
        return false;
    if (std::fabs(v - std::round(v)) > 1e-9 || std::fabs(v) > 1e9) {
        why = "'" + Text(text) + "' is not a whole number" +
              (dimension == Dimension::Number ? "" : std::string(" of ") + BaseUnit(dimension));
        return false;
    }
    value = int(std::lround(v));
    return true;
}

// One value of a dimension for a setter taking it.
Reader Scalar(Dimension dimension, int (*setter)(double))
{
    return [=](std::string_view text, std::string& why) -> Action {
        double v = 0;
        if (!Quantity(text, dimension, v, why))
            return nullptr;
        return [=] { return setter(v); };
    };
}

template <class Int>
Reader WholeScalar(Dimension dimension, int (*setter)(Int))
{
    return [=](std::string_view text, std::string& why) -> Action {
        int v = 0;
        if (!WholeNumber(text, dimension, v, why))
            return nullptr;
        if (std::is_unsigned_v<Int> && v < 0) {
            why = "'" + Text(text) + "' is negative";
            return nullptr;
        }
        return [=] { return setter(Int(v)); };
    };
}

Reader Switch(void (*setter)(bool))
{
    return [=](std::string_view text, std::string& why) -> Action {
        const auto on = ParseSwitch(text);
        if (!on) {
            why = "'" + Text(text) + "' is not on or off";
            return nullptr;
        }
        return [=] { setter(*on); return 0; };
    };
}

// "CH:VALUE" for one channel (0..3) or "VALUE" for every channel.
Reader PerChannel(std::function<bool(std::string_view, int&, std::string&)> value,
                  std::function<int(int, int)> setter)
{
    return [=](std::string_view text, std::string& why) -> Action {
        const auto parts = Split(text, ':');
        int channel = -1;
        if (parts.size() > 2 ||
            (parts.size() == 2 && (!WholeNumber(parts[0], Dimension::Number, channel, why) ||
                                   channel < 0 || channel >= kChannels))) {
            why = "'" + Text(text) + "': expected CHANNEL:VALUE with a channel 0..3, or VALUE";
            return nullptr;
        }
        int v = 0;
        if (!value(parts.back(), v, why))
            return nullptr;
        return [=] {
            for (int ch = 0; ch < kChannels; ++ch)
                if (channel < 0 || ch == channel)
                    if (const int result = setter(ch, v))
                        return result;
            return 0;
        };
    };
}

bool ChannelNumber(std::string_view text, int& v, std::string& why)
{
    return WholeNumber(text, Dimension::Number, v, why);
}
bool ChannelMillivolts(std::string_view text, int& v, std::string& why)
{
    return WholeNumber(text, Dimension::Voltage, v, why);
}
bool ChannelSwitch(std::string_view text, int& v, std::string& why)
{
    const auto on = ParseSwitch(text);
    if (!on)
        why = "'" + Text(text) + "' is not on or off";
    v = on.value_or(false);
    return bool(on);
}
bool ChannelLead(std::string_view text, int& v, std::string& why)
{
    if (text == "primary" || text == "0")
        v = OUTPUT_LEAD_PRIMARY;
    else if (text == "secondary" || text == "1")
        v = OUTPUT_LEAD_SECONDARY;
    else {
        why = "'" + Text(text) + "' is not primary or secondary";
        return false;
    }
    return true;
}

// Several values separated by ':', each of its dimension.
bool Fields(std::string_view text, std::initializer_list<Dimension> dimensions, double* values,
            std::string& why)
{
    const auto parts = Split(text, ':');
    if (parts.size() != dimensions.size()) {
        why = "'" + Text(text) + "': expected " + std::to_string(dimensions.size()) +
              " values separated by ':'";
        return false;
    }
    size_t i = 0;
    for (const Dimension d : dimensions) {
        if (!Quantity(parts[i], d, values[i], why))
            return false;
        ++i;
    }
    return true;
}

std::vector<Parameter> MakeParameters()
{
    using D = Dimension;
    std::vector<Parameter> p = {
        {"amplitude", "1mV", "signal amplitude, -10..10 mV", false, Scalar(D::Voltage, HSIMSetAmplitude)},
        {"rate", "75bpm", "frequency or heart rate, 0.017..500 Hz (bpm, Hz)", false,
         Scalar(D::Frequency, HSIMSetFrequency)},
        {"pulse-width", "100ms", "width of the pulse functions, 1..300 ms", false,
         Scalar(D::Time, HSIMSetPulseWidth)},
        {"qrs", "100ms", "QRS duration of the beat, 5..200 ms", false, Scalar(D::Time, HSIMSetQRSDuration)},
        {"t-wave", "0.3mV", "T wave amplitude, 0..5 mV", false, Scalar(D::Voltage, HSIMSetTWave)},
        {"p-wave", "0.15mV", "P wave amplitude, 0..2 mV", false, Scalar(D::Voltage, HSIMSetPWave)},
        {"p-width", "80ms", "P wave width, 50..100 ms", false, Scalar(D::Time, HSIMSetPDuration)},
        {"pr", "160ms", "PR interval, 0..200 ms", false, Scalar(D::Time, HSIMSetPRInterval)},
        {"qt", "400ms", "QT interval, 100..900 ms", false, Scalar(D::Time, HSIMSetQTInterval)},
        {"st", "0mV", "ST deviation, -2..2 mV", false, Scalar(D::Voltage, HSIMSetSTDeviation)},
        {"st-weight", "100ms", "ST segment weight, 100..900 ms", false, Scalar(D::Time, HSIMSetSTSegment)},
        {"t-weight", "100ms", "T wave weight, 100..900 ms", false, Scalar(D::Time, HSIMSetTDuration)},
        {"pacing", "2mV", "pacing pulse amplitude, -700..700 mV (0 = off)", false,
         Scalar(D::Voltage, HSIMSetPacingAmplitude)},
        {"pacing-width", "1ms", "pacing pulse width, 0.1..3 ms", false, Scalar(D::Time, HSIMSetPacingDuration)},
        {"pacing-rate", "70ppm", "pacing rate, 10..360 per minute, or 'sync' (one pulse per beat)", false,
         [](std::string_view text, std::string& why) -> Action {
             if (text == "sync")
                 return [] { return HSIMSetPacingRateSynchronized(); };
             return WholeScalar<unsigned>(D::Rate, HSIMSetPacingRate)(text, why);
         }},
        {"pacing-mode", "0", "pacing pulse mode", false, WholeScalar<int>(D::Number, HSIMSetPacingPulseMode)},
        {"overshoot", "0.5mV", "pacing overshoot amplitude, |mV| <= 5", false,
         Scalar(D::Voltage, HSIMSetOvershootAmplitude)},
        {"overshoot-tau", "10ms", "pacing overshoot time constant, 0..100 ms", false,
         WholeScalar<unsigned>(D::Time, HSIMSetOvershootTimeConstant)},
        {"noise", "50Hz:0.1mV", "mains or random noise: 50Hz|60Hz|random:AMPLITUDE (0.01..5 mV p-p), or off", false,
         [](std::string_view text, std::string& why) -> Action {
             if (text == "off")
                 return [] { return SetECG2_27_Noise(0, 0.0); };
             const auto parts = Split(text, ':');
             int mode = -1;
             if (parts.size() == 2) {
                 if (parts[0] == "50Hz" || parts[0] == "50hz" || parts[0] == "50")
                     mode = 1;
                 else if (parts[0] == "60Hz" || parts[0] == "60hz" || parts[0] == "60")
                     mode = 2;
                 else if (parts[0] == "random")
                     mode = 3;
             }
             double mv = 0;
             if (mode < 0) {
                 why = "'" + Text(text) + "': expected 50Hz:AMPLITUDE, 60Hz:AMPLITUDE, random:AMPLITUDE or off";
                 return nullptr;
             }
             if (!Quantity(parts[1], D::Voltage, mv, why))
                 return nullptr;
             return [=] { return SetECG2_27_Noise(mode, mv); };
         }},
        {"drift", "4mV", "baseline drift (triangle), 1..8 mV p-p, or off", false,
         [](std::string_view text, std::string& why) -> Action {
             if (ParseSwitch(text) == false)
                 return [] { return SetECG2_27_AAMIDriftTest(false); };
             double mv = 0;
             if (!Quantity(text, D::Voltage, mv, why))
                 return nullptr;
             return [=] {
                 const int result = SetECG2_27_AAMIDriftTestAmp(mv);
                 return result ? result : SetECG2_27_AAMIDriftTest(true);
             };
         }},
        {"drift-rate", "0.1Hz", "baseline drift frequency, 0.05..2 Hz", false,
         Scalar(D::Frequency, SetECG2_27_AAMIDriftTestFreq)},
        {"pattern-227", "0", "IEC 60601-2-27 test pattern", false, WholeScalar<int>(D::Number, SetSpecialWave227)},
        {"pattern-251", "0", "IEC 60601-2-51 calibration pattern", false,
         WholeScalar<int>(D::Number, SetSpecialWave251)},
        {"pattern-247", "0", "IEC 60601-2-47 pattern", false, WholeScalar<int>(D::Number, SetSpecialWave247)},
        {"ane-lead", "0", "lead of the ANE20000 test ECG", false, WholeScalar<int>(D::Number, SetANE20000Lead)},
        {"loop", "on", "loop patterns and loaded files (on/off)", false, Switch(HSIMEnableLoop)},
        {"respiration", "15:1:0:100:100:100",
         "respiration: BREATHS/MIN:RATIO:APNEA_S:BASELINE%:AMPLITUDE%:FREQUENCY%", false,
         [](std::string_view text, std::string& why) -> Action {
             double v[6];
             if (!Fields(text, {D::Number, D::Number, D::Number, D::Number, D::Number, D::Number}, v, why))
                 return nullptr;
             return [=] {
                 return SetRespireAlgorithmParam(int(v[0]), int(v[1]), int(v[2]), int(v[3]), int(v[4]),
                                                 int(v[5]));
             };
         }},
        {"dc-offset", "0:300mV", "fixed DC offset of a channel (or all), mV", false,
         PerChannel(ChannelMillivolts, HSIMSetDCOffset)},
        {"lead", "0:secondary", "output lead of a channel (or all): primary|secondary", false,
         PerChannel(ChannelLead, [](int ch, int lead) { return HSIMSetOutputLead(ch, OutputLead(lead)); })},
        {"impedance", "0:1", "input impedance mode of a channel (or all), 0..3", false,
         PerChannel(ChannelNumber, HSIMSetInputImpedanceMode)},
        {"signal-ground", "0:on", "signal ground to GND of a channel (or all)", false,
         PerChannel(ChannelSwitch, [](int ch, int on) { return HSIMSetSignalGroundToGNDGround(ch, on != 0); })},
        // Test modes: they select or start the output themselves.
        {"dynamic-range", "triangle:2mV:10Hz", "input dynamic-range test: triangle|square:AMPLITUDE:FREQUENCY", true,
         [](std::string_view text, std::string& why) -> Action {
             const auto parts = Split(text, ':');
             double v[2];
             if (parts.size() != 3 || (parts[0] != "triangle" && parts[0] != "square")) {
                 why = "'" + Text(text) + "': expected triangle|square:AMPLITUDE:FREQUENCY";
                 return nullptr;
             }
             if (!Quantity(parts[1], D::Voltage, v[0], why) || !Quantity(parts[2], D::Frequency, v[1], why))
                 return nullptr;
             const bool triangle = parts[0] == "triangle";
             return [=] { return HSIMSetDynamicRangeTest(true, triangle, v[0], v[1]); };
         }},
        {"scan", "0.67Hz:40Hz:60s", "frequency scan of a sine START:STOP:DURATION, or 'ecg' (0.05..0.5 beats/s in 30 s)",
         true,
         [](std::string_view text, std::string& why) -> Action {
             if (text == "ecg")
                 return [] { return SetFreqScanECG(true); };
             double v[3];
             if (!Fields(text, {D::Frequency, D::Frequency, D::Duration}, v, why))
                 return nullptr;
             if (std::fabs(v[2] - std::round(v[2])) > 1e-9) {
                 why = "the scan's duration is a whole number of seconds";
                 return nullptr;
             }
             return [=] { return HSIMSetFrequencyScan(true, int(std::lround(v[2])), v[0], v[1]); };
         }},
        {"baseline-reset", "1", "baseline-reset test level 0..4 (50, 60, 80, 100 Hz sine of 1000 mV on DC)", true,
         WholeScalar<int>(D::Number, SetBaselineResetTest)},
    };
    return p;
}

}  // namespace

const std::vector<Parameter>& Parameters()
{
    static const std::vector<Parameter> parameters = MakeParameters();
    return parameters;
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
    for (const NamedFunction& f : kFunctions)
        if (text == f.name)
            return f.number;
    int number = -1;
    std::string why;
    if (WholeNumber(text, Dimension::Number, number, why) && number >= 0 && number <= 18)
        return number;
    return std::nullopt;
}

const char* FunctionName(int function)
{
    for (const NamedFunction& f : kFunctions)
        if (f.number == function)
            return f.name;
    return "reserved";
}

std::string FunctionList()
{
    std::string list;
    for (const NamedFunction& f : kFunctions)
        list += std::string(list.empty() ? "" : ", ") + f.name + " (" + std::to_string(f.number) + ")";
    return list;
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
    std::string reason;
    Action apply = parameter->read(value, reason);
    if (!apply) {
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

bool Settings::ApplyWhere(bool afterFunction, std::string& why) const
{
    for (const Entry& entry : m_Entries) {
        if (entry.parameter->afterFunction != afterFunction)
            continue;
        if (const int result = entry.apply()) {
            why = std::string("the library refused ") + entry.parameter->name + " " + entry.value + " (code " +
                  std::to_string(result) + (result == -1 ? ": no device or the device is busy" : "") +
                  (result <= -2 && result > -100 ? ": value out of range or not allowed now" : "") + ")";
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
                            throw CLI::ValidationError("--" + name, why);
                    }
                },
                p.help)
            ->type_name(p.valueHint)
            ->group("Parameters");
    }
}

}  // namespace hsimctl

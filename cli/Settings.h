// The settings hsimctl can make: the output function and every parameter of
// the library by a readable name and unit. The same names serve as command
// options ("--amplitude 1mV") and as keys of a scenario's "set" step.
// Values are checked when they are read, before any device is touched,
// against the range the output function that plays them can play (a rate of
// 600 bpm is refused for the ECG, which plays at most 360 bpm); the library
// checks them again when they are applied.
#pragma once

#include "Units.h"
#include "hsim_ext.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace hsimctl {

struct Parameter {
    const char* name;       // option name and scenario key
    std::string valueHint;  // e.g. "1mV", "CH:MODE"
    std::string help;
    // Applied after the output function is selected (test modes that select
    // or start the output themselves).
    bool afterFunction;
    // Reads the value for the output function that will play it (nothing
    // when that is not known): the library call that applies it, or a
    // message that gives the accepted range.
    std::function<std::function<int()>(std::string_view value, std::optional<int> function, std::string& why)>
        read;
};

const std::vector<Parameter>& Parameters();
const Parameter* FindParameter(std::string_view name);
// The option (and scenario key) that sets a parameter of the library, by the
// library's name for it ("qrs-duration" -> "qrs"); its own name when hsimctl
// gives it no other.
const char* OptionFor(const char* libraryName);

// The library's name for a value of one of its choice parameters ("noise",
// 3 -> "random"); the number when the value has no name.
std::string ChoiceName(const char* parameter, int value);

// A value of a parameter of the library's table read from text in its unit
// and range ("1.5mV", "on", a choice's name); false with a message.
bool ReadTableValue(const HSIM_PARAMETER_INFO& info, std::string_view text, double& value, std::string& why);
// The accepted values as refusals give them: "-10 mV to 10 mV", "on or off",
// a choice's names.
std::string TableRangeOf(const HSIM_PARAMETER_INFO& info);

// Output functions by name ("ecg", "sine", ...) or number (0..18).
std::optional<int> ParseFunction(std::string_view text);
const char* FunctionName(int function);
// "name (number)" of every function, for help texts.
std::string FunctionList();

// What a rate without a unit means for a function: beats per minute for the
// ECG functions, hertz for the others.
Dimension RateDefault(std::optional<int> function);

// A set of settings in the order given.
class Settings {
public:
    // `current`: the output function selected before these settings apply,
    // when known.
    explicit Settings(std::optional<int> current = std::nullopt) : m_Context(current) {}
    // false with a message when the name or the value is refused. A value is
    // read for the function known so far; Resolve reads it again once the
    // function is known for certain.
    bool Add(std::string_view name, std::string_view value, std::string& why);
    bool SetFunction(std::string_view text, std::string& why);
    // Reads every value again for the function that will play them: this
    // set's own, else `current` (the one selected before, nothing when not
    // known). false with a message when one is refused.
    bool Resolve(std::optional<int> current, std::string& why);
    std::optional<int> function() const { return m_Function; }
    bool empty() const { return !m_Function && m_Entries.empty(); }

    // Applies them: the parameters, then the function, then the test modes.
    // false with a message naming the setting and the library's code when
    // one is refused; the ones before it stay applied.
    bool Apply(std::string& why) const;
    // Applies the parameters only (no function, no test mode).
    bool ApplyParameters(std::string& why) const;
    // After a failed Apply: whether the library refused a value (a caller's
    // mistake, such as a coupling of two settings) rather than failed to
    // reach the device.
    bool ValueRefused() const { return m_ValueRefused; }
    // "ecg, amplitude 1mV, rate 75bpm" for titles and reports.
    std::string Describe() const;

private:
    struct Entry {
        const Parameter* parameter;
        std::string value;  // as given
        std::function<int()> apply;
    };
    bool ApplyWhere(bool afterFunction, std::string& why) const;
    std::optional<int> m_Context;  // the function selected before these settings
    mutable bool m_ValueRefused = false;

    std::optional<int> m_Function;
    std::vector<Entry> m_Entries;
};

// Adds an option for every parameter to a command; the values given land in
// settings when the command line is parsed (each checked as it is read).
void AddParameterOptions(CLI::App& command, Settings& settings);

}  // namespace hsimctl

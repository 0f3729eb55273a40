// The settings hsimctl can make: the output function and every parameter of
// the library by a readable name and unit. The same names serve as command
// options ("--amplitude 1mV") and as keys of a scenario's "set" step.
// Values are checked when they are read, before any device is touched; the
// library checks them again when they are applied.
#pragma once

#include "Units.h"

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
    const char* name;        // option name and scenario key
    const char* valueHint;   // e.g. "1mV", "CH:MODE"
    const char* help;
    // Applied after the output function is selected (test modes that select
    // or start the output themselves).
    bool afterFunction;
    // Reads the value: the library call that applies it, or a message.
    std::function<std::function<int()>(std::string_view value, std::string& why)> read;
};

const std::vector<Parameter>& Parameters();
const Parameter* FindParameter(std::string_view name);

// Output functions by name ("ecg", "sine", ...) or number (0..18).
std::optional<int> ParseFunction(std::string_view text);
const char* FunctionName(int function);
// "name (number)" of every function, for help texts.
std::string FunctionList();

// A set of settings in the order given.
class Settings {
public:
    // false with a message when the name or the value is refused.
    bool Add(std::string_view name, std::string_view value, std::string& why);
    bool SetFunction(std::string_view text, std::string& why);
    std::optional<int> function() const { return m_Function; }
    bool empty() const { return !m_Function && m_Entries.empty(); }

    // Applies them: the parameters, then the function, then the test modes.
    // false with a message naming the setting and the library's code when
    // one is refused; the ones before it stay applied.
    bool Apply(std::string& why) const;
    // Applies the parameters only (no function, no test mode).
    bool ApplyParameters(std::string& why) const;
    // "ecg, amplitude 1mV, rate 75bpm" for titles and reports.
    std::string Describe() const;

private:
    struct Entry {
        const Parameter* parameter;
        std::string value;  // as given
        std::function<int()> apply;
    };
    bool ApplyWhere(bool afterFunction, std::string& why) const;

    std::optional<int> m_Function;
    std::vector<Entry> m_Entries;
};

// Adds an option for every parameter to a command; the values given land in
// settings when the command line is parsed (each checked as it is read).
void AddParameterOptions(CLI::App& command, Settings& settings);

}  // namespace hsimctl

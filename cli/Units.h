// Quantities with units on the command line and in scenario files: "1mV",
// "500uV", "75bpm", "1.25Hz", "100ms", "10s", "2min". Each kind of quantity
// has one base unit that the library's setters take.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hsimctl {

enum class Dimension {
    Voltage,    // mV
    Frequency,  // Hz (bpm, ppm and /min are per minute)
    Rate,       // per minute (bpm, ppm, /min; Hz times 60)
    Time,       // ms
    Duration,   // s
    Number      // no unit
};

// The base unit's name ("mV", "Hz", "/min", "ms", "s", "").
const char* BaseUnit(Dimension dimension);

// The value in the base unit, or nothing when the text is not a finite number
// followed by a unit of that dimension (a bare number is in the base unit).
std::optional<double> ParseQuantity(std::string_view text, Dimension dimension);

// Whether the text carries a unit after its number ("75bpm", not "75").
bool HasUnit(std::string_view text);

// "on"/"off", "true"/"false", "yes"/"no", "1"/"0".
std::optional<bool> ParseSwitch(std::string_view text);

// A value with its base unit, shortest form ("1.5mV", "75/min", "100ms").
std::string FormatQuantity(double value, Dimension dimension);

}  // namespace hsimctl

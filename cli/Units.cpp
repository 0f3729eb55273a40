#include "Units.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace hsimctl {
namespace {

struct Unit {
    const char* name;
    Dimension dimension;
    double factor;  // base units per unit
};

// Matched without regard to case, except the SI prefixes m and M (no unit
// here is mega, so "M" never appears).
constexpr Unit kUnits[] = {
    {"uV", Dimension::Voltage, 1e-3},   {"µV", Dimension::Voltage, 1e-3},
    {"mV", Dimension::Voltage, 1.0},    {"V", Dimension::Voltage, 1e3},
    {"Hz", Dimension::Frequency, 1.0},  {"bpm", Dimension::Frequency, 1.0 / 60},
    {"ppm", Dimension::Frequency, 1.0 / 60}, {"/min", Dimension::Frequency, 1.0 / 60},
    {"Hz", Dimension::Rate, 60.0},      {"bpm", Dimension::Rate, 1.0},
    {"ppm", Dimension::Rate, 1.0},      {"/min", Dimension::Rate, 1.0},
    {"us", Dimension::Time, 1e-3},      {"µs", Dimension::Time, 1e-3},
    {"ms", Dimension::Time, 1.0},       {"s", Dimension::Time, 1e3},
    {"ms", Dimension::Duration, 1e-3},  {"s", Dimension::Duration, 1.0},
    {"min", Dimension::Duration, 60.0}, {"h", Dimension::Duration, 3600.0},
};

bool SameUnit(std::string_view text, const char* name)
{
    const std::string_view unit(name);
    if (text.size() != unit.size())
        return false;
    for (size_t i = 0; i < unit.size(); ++i) {
        const char a = text[i], b = unit[i];
        if (a == b)
            continue;
        // "mV" and "MV" differ; otherwise letters match in either case.
        if (b == 'm' || b == 'M' || std::tolower(static_cast<unsigned char>(a)) !=
                                         std::tolower(static_cast<unsigned char>(b)))
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

}  // namespace

const char* BaseUnit(Dimension dimension)
{
    switch (dimension) {
    case Dimension::Voltage: return "mV";
    case Dimension::Frequency: return "Hz";
    case Dimension::Rate: return "/min";
    case Dimension::Time: return "ms";
    case Dimension::Duration: return "s";
    case Dimension::Number: return "";
    }
    return "";
}

namespace {

// A finite number and the text after it (its unit, trimmed).
struct NumberAndUnit {
    double value;
    std::string_view unit;
};
std::optional<NumberAndUnit> SplitQuantity(std::string_view text)
{
    text = Trim(text);
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    double value = 0;
    const auto [rest, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || !std::isfinite(value))
        return std::nullopt;
    return NumberAndUnit{value, Trim(std::string_view(rest, size_t(end - rest)))};
}

}  // namespace

std::optional<double> ParseQuantity(std::string_view text, Dimension dimension)
{
    const auto quantity = SplitQuantity(text);
    if (!quantity)
        return std::nullopt;
    if (quantity->unit.empty())
        return quantity->value;
    for (const Unit& u : kUnits)
        if (u.dimension == dimension && SameUnit(quantity->unit, u.name))
            return quantity->value * u.factor;
    return std::nullopt;
}

bool HasUnit(std::string_view text)
{
    const auto quantity = SplitQuantity(text);
    return quantity && !quantity->unit.empty();
}

std::optional<bool> ParseSwitch(std::string_view text)
{
    text = Trim(text);
    for (const char* on : {"on", "true", "yes", "1"})
        if (SameUnit(text, on))
            return true;
    for (const char* off : {"off", "false", "no", "0"})
        if (SameUnit(text, off))
            return false;
    return std::nullopt;
}

std::string FormatQuantity(double value, Dimension dimension)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g%s", value, BaseUnit(dimension));
    return text;
}

}  // namespace hsimctl

// Every row of the parameter table against its setter, getter and range, by
// name: both ends accepted and read back, one step past either end and NaN
// refused with nothing changed, a fraction refused for whole-number kinds.
#include "Fixture.h"
#include "hsim_ext.h"

#include <cmath>
#include <limits>
#include <map>
#include <string>

namespace {

using hsimtest::EmulatorTest;

double Read(const char* name)
{
    double value = 0.0;
    EXPECT_EQ(HSIMGetParameter(name, &value), 0) << name;
    return value;
}

// What the getter gives back for an accepted value: the overshoot keeps only
// its magnitude (its sign follows the pulse).
double ReadBackOf(const std::string& name, double value)
{
    return name == "overshoot-amplitude" ? std::fabs(value) : value;
}

// The ranges the setters are documented with.
const std::map<std::string, std::pair<double, double>> kDocumentedRanges = {
    {"amplitude", {-10, 10}},         {"frequency", {0.017, 500}},     {"pulse-width", {1, 300}},
    {"pacing-amplitude", {-700, 700}}, {"pacing-width", {0.1, 3}},      {"pacing-rate", {10, 360}},
    {"overshoot-time-constant", {0, 100}}, {"overshoot-amplitude", {-5, 5}}, {"qrs-duration", {5, 200}},
    {"t-wave", {0, 5}},               {"p-duration", {50, 100}},       {"pr-interval", {0, 200}},
    {"qt-interval", {100, 900}},      {"p-wave", {0, 2}},              {"st-deviation", {-2, 2}},
    {"st-segment", {100, 900}},       {"t-duration", {100, 900}},      {"drift", {0, 1}},
    {"drift-amplitude", {1, 8}},      {"drift-frequency", {0.05, 2}},
    {"pacing-mode", {std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}}};

TEST_F(EmulatorTest, EveryParameterKeepsToItsRange)
{
    connect();
    const int count = HSIMGetParameterCount();
    ASSERT_EQ(count, static_cast<int>(kDocumentedRanges.size()));
    for (int i = 0; i < count; ++i) {
        HSIM_PARAMETER_INFO info;
        ASSERT_EQ(HSIMGetParameterInfo(i, &info), 0);
        const std::string name = info.name;
        SCOPED_TRACE(name);
        ASSERT_EQ(kDocumentedRanges.count(name), 1u);
        EXPECT_EQ(info.minimum, kDocumentedRanges.at(name).first);
        EXPECT_EQ(info.maximum, kDocumentedRanges.at(name).second);
        const bool whole = info.kind != HSIM_PARAMETER_NUMBER;
        const double before = Read(info.name);
        for (double end : {info.minimum, info.maximum}) {
            EXPECT_EQ(HSIMSetParameter(info.name, end), 0) << end;
            EXPECT_DOUBLE_EQ(Read(info.name), ReadBackOf(name, end));
        }
        const double kept = Read(info.name);
        const double below = whole ? info.minimum - 1 : std::nextafter(info.minimum, -INFINITY);
        const double above = whole ? info.maximum + 1 : std::nextafter(info.maximum, INFINITY);
        for (double refused : {below, above, std::numeric_limits<double>::quiet_NaN()}) {
            EXPECT_EQ(HSIMSetParameter(info.name, refused), -2) << refused;
            EXPECT_EQ(Read(info.name), kept);
        }
        if (whole && info.maximum - info.minimum >= 1) {
            EXPECT_EQ(HSIMSetParameter(info.name, info.minimum + 0.5), -2);
        }
        // Back where it was for the rows after it.
        if (std::isfinite(before) && before >= info.minimum && before <= info.maximum) {
            EXPECT_EQ(HSIMSetParameter(info.name, before), 0);
        }
    }
}

TEST_F(EmulatorTest, ParameterAccessRefusesWhatIsNoParameter)
{
    HSIM_PARAMETER_INFO info;
    double value = 0.0;
    EXPECT_EQ(HSIMGetParameterInfo(-1, &info), -2);
    EXPECT_EQ(HSIMGetParameterInfo(HSIMGetParameterCount(), &info), -2);
    EXPECT_EQ(HSIMGetParameterInfo(0, nullptr), -2);
    EXPECT_EQ(HSIMSetParameter("no-such-thing", 1.0), HSIM_ERROR_UNKNOWN_PARAMETER);
    EXPECT_EQ(HSIMSetParameter(nullptr, 1.0), HSIM_ERROR_UNKNOWN_PARAMETER);
    EXPECT_EQ(HSIMGetParameter("Amplitude", &value), HSIM_ERROR_UNKNOWN_PARAMETER);
    EXPECT_EQ(HSIMGetParameter("amplitude", nullptr), -2);
    // Without a device a setter by name refuses as the setter does.
    EXPECT_EQ(HSIMSetParameter("amplitude", 2.0), -1);
    EXPECT_EQ(HSIMSetAmplitude(2.0), -1);
}

}  // namespace

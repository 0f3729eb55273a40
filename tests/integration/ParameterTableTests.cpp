// Every row of the parameter table against its setter, getter and range, by
// name: both ends accepted and read back (on the first and last channel of a
// parameter of each channel), one step past either end and NaN refused with
// nothing changed, a fraction refused for whole-number kinds, a value a
// choice does not name refused.
#include "Fixture.h"
#include "hsim_ext.h"

#include <cmath>
#include <limits>
#include <chrono>
#include <map>
#include <set>
#include <thread>
#include <vector>
#include <string>

namespace {

using hsimtest::EmulatorTest;

double Read(const char* name, int channel)
{
    double value = 0.0;
    EXPECT_EQ(HSIMGetChannelParameter(name, channel, &value), 0) << name;
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
    {"pacing-mode", {std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}},
    {"noise", {0, 3}},                {"noise-amplitude", {0.01, 5}},  {"baseline-reset", {0, 4}},
    {"dynamic-range", {0, 2}},        {"dynamic-range-amplitude", {0, 10}}, {"dynamic-range-frequency", {1, 60}},
    {"scan", {0, 2}},                 {"scan-start", {0.67, 500}},     {"scan-stop", {0.67, 500}},
    {"scan-duration", {10, 180}},     {"pattern-227", {0, 9}},         {"pattern-251", {0, 15}},
    {"pattern-247", {0, 4}},          {"ane-lead", {0, 8}},            {"pattern-loop", {0, 1}},
    {"file-loop", {0, 1}},            {"output-function", {0, 18}},    {"dc-offset", {-1000, 1000}},
    {"dc-variable", {0, 1}},          {"dc-common-mode", {0, 1}},      {"impedance", {0, 3}},
    {"signal-ground", {0, 1}},        {"lead", {0, 1}},                {"respiration-rate", {1, 200}},
    {"respiration-ratio", {1, 100}},  {"respiration-apnea", {0, 60}},  {"respiration-baseline", {0, 1000}},
    {"respiration-amplitude", {0, 1000}}, {"respiration-frequency", {0, 1000}}, {"pacing-synchronized", {0, 1}}};

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
        const bool readable = (info.flags & HSIM_PARAMETER_READABLE) != 0;
        for (int channel : info.channels > 0 ? std::vector<int>{0, info.channels - 1} : std::vector<int>{-1}) {
            SCOPED_TRACE(channel);
            const char* n = info.name;
            if (!readable) {
                double value = 0;
                EXPECT_EQ(HSIMGetChannelParameter(n, channel, &value), -3);
            }
            const double before = readable ? Read(n, channel) : info.initial;
            for (double end : {info.minimum, info.maximum}) {
                EXPECT_EQ(HSIMSetChannelParameter(n, channel, end), 0) << end;
                if (readable) {
                    EXPECT_DOUBLE_EQ(Read(n, channel), ReadBackOf(name, end));
                }
            }
            const double kept = readable ? Read(n, channel) : 0;
            const double below = whole ? info.minimum - 1 : std::nextafter(info.minimum, -INFINITY);
            const double above = whole ? info.maximum + 1 : std::nextafter(info.maximum, INFINITY);
            std::vector<double> refused{below, above, std::numeric_limits<double>::quiet_NaN()};
            if (whole && info.maximum - info.minimum >= 1)
                refused.push_back(info.minimum + 0.5);
            for (int v = 0; info.kind == HSIM_PARAMETER_CHOICE && v <= info.maximum - info.minimum; ++v)
                if (info.choices[v] == nullptr)
                    refused.push_back(info.minimum + v);
            for (double value : refused) {
                EXPECT_EQ(HSIMSetChannelParameter(n, channel, value), -2) << value;
                if (readable) {
                    EXPECT_EQ(Read(n, channel), kept);
                }
            }
            // Back where it was for the rows after it.
            if (std::isfinite(before) && before >= info.minimum && before <= info.maximum) {
                EXPECT_EQ(HSIMSetChannelParameter(n, channel, before), 0);
            }
        }
        // A channel that is none.
        EXPECT_EQ(HSIMSetChannelParameter(info.name, info.channels, info.initial), -2);
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
    // A parameter of each channel is read per channel; one of one value has
    // no channel.
    EXPECT_EQ(HSIMGetParameter("dc-variable", &value), -2);
    EXPECT_EQ(HSIMGetChannelParameter("dc-variable", 4, &value), -2);
    EXPECT_EQ(HSIMGetChannelParameter("amplitude", 0, &value), -2);
    EXPECT_EQ(HSIMSetChannelParameter("amplitude", 0, 1.0), -2);
    // Without a device a setter by name refuses as the setter does.
    EXPECT_EQ(HSIMSetParameter("amplitude", 2.0), -1);
    EXPECT_EQ(HSIMSetAmplitude(2.0), -1);
}

// The respiration values set one by one make the model that one call with
// all six makes (the same samples), and switching respiration off clears the
// swings read back.
TEST_F(EmulatorTest, RespirationByNameMakesTheModelOfTheCall)
{
    connect();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_STANDARD), 0);
    const int n = 4 * 40000;  // one breath at 15 per minute
    std::vector<double> before(n), byName(n), byCall(n);
    ASSERT_EQ(HSIMRenderOutput(n, before.data(), nullptr, nullptr, nullptr), n);
    EXPECT_EQ(HSIMSetParameter("respiration-baseline", 20), 0);  // kept until a breath rate is set
    ASSERT_EQ(HSIMRenderOutput(n, byName.data(), nullptr, nullptr, nullptr), n);
    EXPECT_EQ(byName, before);
    EXPECT_EQ(HSIMSetParameter("respiration-rate", 15), 0);
    EXPECT_EQ(HSIMSetParameter("respiration-ratio", 2), 0);
    ASSERT_EQ(HSIMRenderOutput(n, byName.data(), nullptr, nullptr, nullptr), n);
    EXPECT_NE(byName, before);
    ASSERT_EQ(SetRespireAlgorithmParam(15, 2, 0, 20, 0, 0), 1);
    ASSERT_EQ(HSIMRenderOutput(n, byCall.data(), nullptr, nullptr, nullptr), n);
    EXPECT_EQ(byName, byCall);
    EXPECT_EQ(Read("respiration-rate", -1), 15);
    EXPECT_EQ(Read("respiration-baseline", -1), 20);
    EnableRespiration(false);
    EXPECT_EQ(Read("respiration-baseline", -1), 0);
    EXPECT_EQ(Read("respiration-rate", -1), 15);
}



// A row flagged as asking the device is read by an exchange with it; every
// other readable row is read from what the library holds, without a word to
// the device (a front panel reads those every second).
TEST_F(EmulatorTest, OnlyRowsThatAskTheDeviceExchangeWhenRead)
{
    hsimemu::Emulator& emulator = connect();
    // What the link sends by itself, idle.
    emulator.clearReceived();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::set<std::string> idle;
    for (const auto& message : emulator.received())
        idle.insert(message.kind);
    for (int i = 0; i < HSIMGetParameterCount(); ++i) {
        HSIM_PARAMETER_INFO info;
        ASSERT_EQ(HSIMGetParameterInfo(i, &info), 0);
        if (!(info.flags & HSIM_PARAMETER_READABLE))
            continue;
        emulator.clearReceived();
        double value = 0;
        EXPECT_EQ(HSIMGetChannelParameter(info.name, info.channels > 0 ? 0 : -1, &value), 0) << info.name;
        size_t asked = 0;
        for (const auto& message : emulator.received())
            asked += idle.count(message.kind) == 0;
        EXPECT_EQ(asked > 0, (info.flags & HSIM_PARAMETER_ASKS_DEVICE) != 0) << info.name << ": " << asked;
    }
}

}  // namespace

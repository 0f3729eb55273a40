// The parts of a test procedure that judge: the stimulus measured from its
// samples, and a reading of the device under test against its limits.
#include "Judging.h"
#include "Stimulus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using hsimctl::MeasureRequest;
using hsimctl::Signal;

constexpr double kRate = 40000;

// Beats built here, not by the library: a QRS of straight ramps (up 7/16 of
// its width, down 8/16 to a trough of -1/7 of the R height, back 1/16), then
// after 70 ms a T wave as a half sine of 180 ms; a pacing pulse 20 ms before
// each QRS on the DC channel.
struct Beats {
    double bpm, qrsMv, qrsMs, tMv, paceMv, paceMs;
};

std::pair<Signal, Signal> Make(const Beats& b, double seconds)
{
    Signal ecg{"AC", kRate, std::vector<double>(size_t(seconds * kRate)), ""};
    Signal dc{"DC", kRate, std::vector<double>(ecg.mv.size()), ""};
    const double period = 60.0 / b.bpm, q = b.qrsMs / 1000;
    const double r = b.qrsMv * 7 / 8, s = -b.qrsMv / 8;  // R to S trough is the QRS amplitude
    for (size_t i = 0; i < ecg.mv.size(); ++i) {
        const double t = std::fmod(double(i) / kRate, period) - 0.05;  // QRS onset 50 ms into the beat
        double v = 0;
        if (t >= 0 && t < q * 7 / 16)
            v = r * t / (q * 7 / 16);
        else if (t >= q * 7 / 16 && t < q * 15 / 16)
            v = r + (s - r) * (t - q * 7 / 16) / (q / 2);
        else if (t >= q * 15 / 16 && t < q)
            v = s * (1 - (t - q * 15 / 16) / (q / 16));
        else if (t >= q + 0.07 && t < q + 0.25)
            v = b.tMv * std::sin(std::numbers::pi * (t - q - 0.07) / 0.18);
        ecg.mv[i] = v;
        if (b.paceMv != 0 && t >= -0.02 && t < -0.02 + b.paceMs / 1000)
            dc.mv[i] = b.paceMv;
    }
    return {ecg, dc};
}

TEST(Stimulus, FiguresOfBeatsMadeByHand)
{
    const Beats rows[] = {
        {30, 1.0, 100, 0.2, 0, 0},   {60, 1.0, 100, 0.2, 2, 2},   {120, 0.5, 70, 0.1, 4, 0.5},
        {200, 2.0, 40, 0.2, -3, 1},  {60, 1.0, 120, 1.5, 0, 0},   // a T wave taller than the QRS
        {45, 0.15, 10, 0.0, 700, 0.1},     {300, 1.0, 100, 0.0, 0, 0},  // no T wave at 300 per minute
        {80, 0.5, 120, 0.2, 0, 0},  // a low, wide QRS beside a T wave 40 % as steep
    };
    for (const Beats& b : rows) {
        SCOPED_TRACE(testing::Message() << b.bpm << " bpm, QRS " << b.qrsMv << " mV " << b.qrsMs << " ms, T "
                                        << b.tMv << " mV, pacing " << b.paceMv << " mV " << b.paceMs << " ms");
        const auto [ecg, dc] = Make(b, 8);
        const auto f = hsimctl::MeasureStimulus(ecg, &dc);
        ASSERT_TRUE(f.rateBpm && f.qrsAmplitudeMv && f.qrsWidthMs);
        EXPECT_NEAR(*f.rateBpm, b.bpm, b.bpm * 0.005);
        EXPECT_NEAR(*f.qrsAmplitudeMv, b.qrsMv, b.qrsMv * 0.01);
        EXPECT_NEAR(*f.qrsWidthMs, b.qrsMs, 0.5);
        if (b.paceMv == 0) {
            EXPECT_FALSE(f.pacingAmplitudeMv);
            EXPECT_EQ(f.pulses, 0u);
        } else {
            ASSERT_TRUE(f.pacingAmplitudeMv && f.pacingWidthMs);
            EXPECT_NEAR(*f.pacingAmplitudeMv, b.paceMv, 1e-9);
            EXPECT_NEAR(*f.pacingWidthMs, b.paceMs, 1.5 * 1000 / kRate);
            EXPECT_GE(f.pulses, size_t(b.bpm / 60 * 8) - 1);
        }
    }
    // A flat line has no beats and no pulses.
    const auto f = hsimctl::MeasureStimulus(Signal{"AC", kRate, std::vector<double>(80000), ""}, nullptr);
    EXPECT_FALSE(f.rateBpm || f.qrsAmplitudeMv || f.pacingAmplitudeMv);
}

// Every way a reading can come, or fail to come, and its verdict: never a
// pass without a number inside known limits.
TEST(Judging, VerdictsOfReadings)
{
    MeasureRequest fixed{"hr", "heart rate", "bpm", "", 57.0, 63.0, false, "src"};
    MeasureRequest asked{"hr", "heart rate", "bpm", "", std::nullopt, std::nullopt, true, ""};
    const struct {
        const char* why;
        const MeasureRequest& request;
        std::string reader, answers;
        const char* verdict;
        const char* reason;  // part of it
    } rows[] = {
        {"in range", fixed, "echo 60", "", "pass", ""},
        {"with its unit", fixed, "echo '62.5 bpm'", "", "pass", ""},
        {"both ends are in", fixed, "echo 63", "", "pass", ""},
        {"wrong reading", fixed, "echo 90", "", "fail", ""},
        {"just outside", fixed, "echo 56.99", "", "fail", ""},
        {"reader fails", fixed, "echo 60; exit 3", "", "not judged", "exit code 3"},
        {"reader prints nonsense", fixed, "echo sixty", "", "not judged", "not a number"},
        {"reader prints a number and more", fixed, "echo 60,5", "", "not judged", "not a number"},
        {"reader prints nothing", fixed, "true", "", "not judged", "not a number"},
        {"reader killed", fixed, "kill -9 $$", "", "not judged", "signal 9"},
        {"answered", fixed, "", "{p: {hr: 58}}", "pass", ""},
        {"answered wrong", fixed, "", "{p: {hr: 64}}", "fail", ""},
        {"no answer", fixed, "", "{p: {other: 60}}", "not judged", "no reading"},
        {"answer not a number", fixed, "", "{p: {hr: lots}}", "not judged", "not a number"},
        {"limits answered", asked, "", "{p: {hr: {value: 60, from: 55, to: 65}}}", "pass", ""},
        {"limits answered, outside", asked, "", "{p: {hr: {value: 70, from: 55, to: 65}}}", "fail", ""},
        {"no limits", asked, "", "{p: {hr: 60}}", "not judged", "no accepted range"},
        {"limits upside down", asked, "", "{p: {hr: {value: 60, from: 65, to: 55}}}", "not judged", "no accepted range"},
    };
    for (const auto& row : rows) {
        hsimctl::JudgingOptions options;
        options.procedure = "p";
        options.reader = row.reader;
        if (!row.answers.empty())
            options.answers = YAML::Load(row.answers);
        const auto reading = hsimctl::TakeReading(row.request, options);
        EXPECT_EQ(reading["verdict"], row.verdict) << row.why << ": " << reading.dump();
        EXPECT_NE(reading["reason"].get<std::string>().find(row.reason), std::string::npos)
            << row.why << ": " << reading["reason"];
        EXPECT_EQ(reading["source"], row.answers.empty() ? "command" : "answers") << row.why;
    }
}

}  // namespace

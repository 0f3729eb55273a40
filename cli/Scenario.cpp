// Scenarios: a YAML list of steps run against one connection, with a JSON
// report of every step's settings, timing and stream health.
//
//   name: Heart-rate display
//   report: heart-rate.json          # optional; -o overrides
//   steps:
//     - set: {function: ecg, amplitude: 1mV, rate: 30bpm}
//     - play: 10s                    # the output must keep streaming
//     - check: {late: 0, failed-writes: 0, p99: 5ms, underruns: 0, playing: true}
//     - wait: 2s
//     - scan: {from: 0.67Hz, to: 40Hz, seconds: 20}   # or: scan: ecg
//     - load: {file: beat.txt, channel: 0, play: true, loop: false}
//     - record: {seconds: 2, output: played.csv}
//     - stop
// Every step may carry a "name". Relative paths are read from the scenario
// file's folder. The whole file is checked before the device
// is touched; the first step that fails ends the run (the rest are reported
// as skipped) and hsimctl exits with 4.
#include "Commands.h"

#include "Emulator.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <nlohmann/json.hpp>
#include <yaml-cpp/yaml.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace hsimctl {
namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

struct Step {
    std::string kind;
    std::string name;
    YAML::Node body;
    Json definition;
    int line = 0;
    // Read when the file is checked:
    Settings settings;
    double seconds = 0;
};

struct ScenarioError {
    std::string message;
};

[[noreturn]] void Fail(const Step& step, const std::string& message)
{
    throw ScenarioError{"line " + std::to_string(step.line) + ", step '" + step.kind + "': " + message};
}

Json ToJson(const YAML::Node& node)
{
    switch (node.Type()) {
    case YAML::NodeType::Map: {
        Json object = Json::object();
        for (const auto& item : node)
            object[item.first.as<std::string>()] = ToJson(item.second);
        return object;
    }
    case YAML::NodeType::Sequence: {
        Json array = Json::array();
        for (const auto& item : node)
            array.push_back(ToJson(item));
        return array;
    }
    case YAML::NodeType::Scalar: return node.as<std::string>();
    default: return nullptr;
    }
}

std::string Scalar(const Step& step, const YAML::Node& node, const std::string& what)
{
    if (!node || !node.IsScalar())
        Fail(step, what + " must be a single value");
    return node.as<std::string>();
}

double Duration(const Step& step, const YAML::Node& node, const std::string& what)
{
    const std::string text = Scalar(step, node, what);
    const auto value = ParseQuantity(text, Dimension::Duration);
    if (!value || *value < 0 || *value > 24 * 3600)
        Fail(step, what + " '" + text + "' is not a duration (e.g. 10s, 2min)");
    return *value;
}

const std::vector<std::string> kKinds = {"set", "play", "wait", "stop", "scan", "load", "record", "check"};
const std::vector<std::string> kCheckKeys = {"late", "failed-writes", "p99", "underruns", "playing", "function"};

// Reads and checks one step; its values are kept for the run. `function` is
// the output function the steps before it leave selected (nothing when not
// known); the step's values are checked for what plays them, and it is
// updated to what this step leaves.
Step ReadStep(const YAML::Node& node, std::optional<int>& function)
{
    Step step;
    step.line = node.Mark().line + 1;
    if (node.IsScalar()) {
        step.kind = node.as<std::string>();
    } else if (node.IsMap()) {
        for (const auto& item : node) {
            const std::string key = item.first.as<std::string>();
            if (key == "name") {
                step.name = item.second.as<std::string>();
            } else if (step.kind.empty()) {
                step.kind = key;
                step.body = item.second;
            } else {
                Fail(step, "a step does one thing; '" + key + "' found too");
            }
        }
    }
    if (std::find(kKinds.begin(), kKinds.end(), step.kind) == kKinds.end())
        throw ScenarioError{"line " + std::to_string(step.line) + ": unknown step '" + step.kind +
                            "' (set, play, wait, stop, scan, load, record, check)"};
    if (step.kind == "stop")
        function = OUTPUT_OFF;
    step.definition = ToJson(node);
    std::string why;
    if (step.kind == "set") {
        if (!step.body.IsMap())
            Fail(step, "expects a map of settings, e.g. {function: ecg, rate: 60bpm}");
        step.settings = Settings(function);
        for (const auto& item : step.body)
            if (!step.settings.Add(item.first.as<std::string>(), Scalar(step, item.second, item.first.as<std::string>()), why))
                Fail(step, why);
        if (!step.settings.Resolve(function, why))
            Fail(step, why);
        if (step.settings.function())
            function = step.settings.function();
    } else if (step.kind == "play" || step.kind == "wait") {
        step.seconds = Duration(step, step.body, step.kind);
    } else if (step.kind == "scan") {
        if (step.body.IsScalar() && step.body.as<std::string>() == "ecg") {
            step.settings.Add("scan", "ecg", why);
            function = OUTPUT_ECG_STANDARD;
        } else if (step.body.IsMap()) {
            const std::string value = Scalar(step, step.body["from"], "from") + ":" +
                                      Scalar(step, step.body["to"], "to") + ":" +
                                      Scalar(step, step.body["seconds"], "seconds");
            if (!step.settings.Add("scan", value, why))
                Fail(step, why);
            function = OUTPUT_SINE;
        } else {
            Fail(step, "expects 'ecg' or {from, to, seconds}");
        }
    } else if (step.kind == "load") {
        if (!step.body.IsMap() || !step.body["file"])
            Fail(step, "expects {file: PATH[, channel: N][, play: true][, loop: false]}");
        Scalar(step, step.body["file"], "file");
        if (step.body["channel"] && step.body["channel"].as<int>(-1) < 0)
            Fail(step, "channel must be a number 0 or more");
        for (const char* flag : {"play", "loop"})
            if (step.body[flag] && !ParseSwitch(Scalar(step, step.body[flag], flag)))
                Fail(step, std::string(flag) + " must be true or false");
        if (step.body["play"] && ParseSwitch(step.body["play"].as<std::string>()) == true)
            function = OUTPUT_ECG_FILE;
    } else if (step.kind == "record") {
        if (!step.body.IsMap() || !step.body["output"])
            Fail(step, "expects {seconds: DURATION, output: FILE}");
        step.seconds = Duration(step, step.body["seconds"], "seconds");
        if (!(step.seconds > 0 && step.seconds <= 600))
            Fail(step, "seconds must be within 0..600");
        if (const std::string refused = CheckOutput(Scalar(step, step.body["output"], "output")); !refused.empty())
            Fail(step, refused);
    } else if (step.kind == "check") {
        if (!step.body.IsMap())
            Fail(step, "expects a map of limits, e.g. {late: 0, p99: 5ms, playing: true}");
        for (const auto& item : step.body) {
            const std::string key = item.first.as<std::string>();
            const std::string value = Scalar(step, item.second, key);
            if (std::find(kCheckKeys.begin(), kCheckKeys.end(), key) == kCheckKeys.end())
                Fail(step, "unknown check '" + key + "' (late, failed-writes, p99, underruns, playing, function)");
            const bool valid = key == "playing" ? bool(ParseSwitch(value))
                               : key == "function" ? bool(ParseFunction(value))
                               : key == "p99" ? bool(ParseQuantity(value, Dimension::Time))
                                              : bool(ParseQuantity(value, Dimension::Number));
            if (!valid)
                Fail(step, "'" + value + "' is not a valid value of " + key);
        }
    }
    return step;
}

struct Window {
    HSIM_STREAM_HEALTH health{};
    uint64_t underruns = 0;
};

Window Take(hsimemu::Emulator* emulator)
{
    Window w;
    HSIMGetStreamHealth(&w.health);
    if (emulator)
        w.underruns = emulator->streamStats().underruns;
    return w;
}

Json HealthJson(const Window& from, const Window& to, bool emulated)
{
    Json h;
    h["transfers"] = to.health.transfersSent - from.health.transfersSent;
    h["late_answers"] = to.health.lateAnswers - from.health.lateAnswers;
    h["failed_writes"] = to.health.writeFailures - from.health.writeFailures;
    h["latency_p50_ms"] = to.health.latencyP50Ms;
    h["latency_p99_ms"] = to.health.latencyP99Ms;
    h["latency_max_ms"] = to.health.latencyMaxMs;
    h["compute_max_ms"] = to.health.computeMaxMs;
    h["realtime"] = to.health.realtime == 1;
    if (emulated)
        h["device_underruns"] = to.underruns - from.underruns;
    return h;
}

Json SettingsJson()
{
    Json s;
    s["function"] = FunctionName(HSIMGetOutputFunction());
    s["playing"] = HSIMIsPlaying();
    s["amplitude_mv"] = HSIMGetAmplitude();
    s["rate_hz"] = HSIMGetFrequency();
    s["rate_bpm"] = HSIMGetFrequency() * 60;
    s["pacing_mv"] = HSIMGetPacingAmplitude();
    s["pacing_width_ms"] = HSIMGetPacingDuration();
    s["pacing_rate_ppm"] = HSIMGetPacingRate();
    s["qrs_ms"] = HSIMGetQRSDuration();
    return s;
}

std::string Resolve(const std::filesystem::path& base, const std::string& file)
{
    const std::filesystem::path path(file);
    return path.is_absolute() ? file : (base / path).string();
}

// Runs one step; false with a message when it fails.
bool RunStep(const Step& step, const std::filesystem::path& base, hsimemu::Emulator* emulator,
             Window& checkWindow, std::string& why)
{
    if (step.kind == "set" || step.kind == "scan")
        return step.settings.Apply(why);
    if (step.kind == "stop") {
        HSIMSetOutputFunction(0);
        return true;
    }
    if (step.kind == "wait") {
        if (!WaitFor(step.seconds))
            return why = "interrupted", false;
        return true;
    }
    if (step.kind == "play") {
        if (!HSIMIsPlaying())
            return why = "nothing plays: a 'set' step with a function comes first", false;
        bool ended = false;
        const bool done = WaitFor(step.seconds, [&](double elapsed) {
            ended = !HSIMIsPlaying();
            Status("play " + std::to_string(int(elapsed)) + " of " + std::to_string(int(step.seconds)) + " s");
            return !ended;
        });
        EndStatus();
        if (ended)
            return why = "the output ended before the time was up", false;
        if (!done)
            return why = "interrupted", false;
        return true;
    }
    if (step.kind == "load") {
        const std::string file = Resolve(base, step.body["file"].as<std::string>());
        const int channel = step.body["channel"] ? step.body["channel"].as<int>() : 0;
        if (LoadIntoLibrary(file, channel, why) < 0)
            return false;
        if (step.body["loop"])
            HSIMEnableLoop(*ParseSwitch(step.body["loop"].as<std::string>()));
        if (step.body["play"] && *ParseSwitch(step.body["play"].as<std::string>())) {
            if (const int result = HSIMSetOutputFunction(OUTPUT_ECG_FILE))
                return why = "the library refused to play the file (code " + std::to_string(result) + ")", false;
        }
        return true;
    }
    if (step.kind == "record") {
        if (!HSIMIsPlaying())
            return why = "nothing plays to record", false;
        std::vector<Signal> signals;
        if (!RecordStream(step.seconds, [](std::string&) { return true; }, signals, why))
            return false;
        const std::string output = Resolve(base, step.body["output"].as<std::string>());
        DropQuietDc(output, signals);
        why = WriteSignals(output, signals, "recorded", PlotStyle{});
        return why.empty();
    }
    // check: the figures since the previous check (or the start).
    const Window now = Take(emulator);
    for (const auto& item : step.body) {
        const std::string key = item.first.as<std::string>();
        const std::string value = item.second.as<std::string>();
        std::string failed;
        if (key == "playing") {
            if (HSIMIsPlaying() != *ParseSwitch(value))
                failed = std::string("the output ") + (HSIMIsPlaying() ? "plays" : "does not play");
        } else if (key == "function") {
            if (HSIMGetOutputFunction() != *ParseFunction(value))
                failed = std::string("the output function is ") + FunctionName(HSIMGetOutputFunction());
        } else if (key == "p99") {
            const double limit = *ParseQuantity(value, Dimension::Time);
            if (now.health.latencyP99Ms > limit)
                failed = "latency p99 " + std::to_string(now.health.latencyP99Ms) + " ms";
        } else {
            const double limit = *ParseQuantity(value, Dimension::Number);
            uint64_t seen = 0;
            if (key == "late")
                seen = now.health.lateAnswers - checkWindow.health.lateAnswers;
            else if (key == "failed-writes")
                seen = now.health.writeFailures - checkWindow.health.writeFailures;
            else if (!emulator)
                continue;  // the device's underruns are known only to the emulator
            else
                seen = now.underruns - checkWindow.underruns;
            if (double(seen) > limit)
                failed = std::to_string(seen) + " " + key;
        }
        if (!failed.empty())
            return why = key + " " + value + " not met: " + failed, false;
    }
    HSIMResetStreamHealth();
    checkWindow = Take(emulator);
    return true;
}

}  // namespace

int RunScenario(const ConnectOptions& connect, const std::string& file, const std::string& reportOption)
{
    std::string title, reportFile = reportOption;
    std::vector<Step> steps;
    try {
        const YAML::Node root = YAML::LoadFile(file);
        if (!root.IsMap() || !root["steps"] || !root["steps"].IsSequence())
            throw ScenarioError{"the scenario is a map with a list of 'steps'"};
        title = root["name"] ? root["name"].as<std::string>() : file;
        if (reportFile.empty() && root["report"])
            reportFile = Resolve(std::filesystem::path(file).parent_path(), root["report"].as<std::string>());
        std::optional<int> function = OUTPUT_OFF;  // nothing plays when the run starts
        for (const auto& node : root["steps"])
            steps.push_back(ReadStep(node, function));
    } catch (const YAML::Exception& e) {
        std::fprintf(stderr, "hsimctl: %s: %s\n", file.c_str(), e.what());
        return kExitUsage;
    } catch (const ScenarioError& e) {
        std::fprintf(stderr, "hsimctl: %s: %s\n", file.c_str(), e.message.c_str());
        return kExitUsage;
    }

    std::string why;
    int code = kExitOk;
    auto session = Session::Open(connect, why, code);
    if (!session) {
        std::fprintf(stderr, "hsimctl: %s\n", why.c_str());
        return code;
    }
    hsimemu::Emulator* emulator = session->emulator();
    const std::filesystem::path base = std::filesystem::path(file).parent_path();
    Json report;
    report["scenario"] = title;
    report["file"] = file;
    report["device"] = connect.emulator ? "emulator" : std::string("simulator ") + HSIMGetSerialNumber();
    report["serial_number"] = HSIMGetSerialNumber();
    Json results = Json::array();
    const auto start = Clock::now();
    Window checkWindow = Take(emulator);
    int failedAt = -1;
    bool interrupted = false;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        Json result;
        result["index"] = i + 1;
        result["kind"] = step.kind;
        if (!step.name.empty())
            result["name"] = step.name;
        result["definition"] = step.definition;
        if (failedAt >= 0 || interrupted) {
            result["status"] = "skipped";
            results.push_back(result);
            continue;
        }
        Status("step " + std::to_string(i + 1) + "/" + std::to_string(steps.size()) + ": " + step.kind);
        const auto stepStart = Clock::now();
        const Window before = Take(emulator);
        std::string error;
        const bool ok = RunStep(step, base, emulator, checkWindow, error);
        EndStatus();
        result["started_s"] = std::chrono::duration<double>(stepStart - start).count();
        result["duration_s"] = std::chrono::duration<double>(Clock::now() - stepStart).count();
        result["status"] = ok ? "passed" : "failed";
        if (!ok)
            result["error"] = error;
        result["settings"] = SettingsJson();
        result["stream"] = HealthJson(before, Take(emulator), emulator != nullptr);
        results.push_back(result);
        if (!ok) {
            interrupted = Interrupted();
            if (!interrupted)
                failedAt = int(i);
            std::fprintf(stderr, "hsimctl: step %zu (%s%s%s) failed: %s\n", i + 1, step.kind.c_str(),
                         step.name.empty() ? "" : ", ", step.name.c_str(), error.c_str());
        }
    }
    session->StopOutput();
    report["passed"] = failedAt < 0 && !interrupted;
    report["duration_s"] = std::chrono::duration<double>(Clock::now() - start).count();
    report["steps"] = results;
    session.reset();

    const std::string text = report.dump(2) + "\n";
    if (reportFile.empty() || reportFile == "-") {
        std::fputs(text.c_str(), stdout);
    } else {
        std::ofstream out(reportFile);
        if (!(out << text)) {
            std::fprintf(stderr, "hsimctl: cannot write the report %s\n", reportFile.c_str());
            return kExitFailed;
        }
        std::printf("%s: %s, report in %s\n", title.c_str(), report["passed"].get<bool>() ? "passed" : "FAILED",
                    reportFile.c_str());
    }
    return interrupted ? kExitInterrupted : failedAt >= 0 ? kExitStepFailed : kExitOk;
}

}  // namespace hsimctl

// Scenarios: a YAML list of steps run against one connection, with a JSON
// report of every step's settings, timing and stream health.
//
//   name: Heart-rate display
//   report: heart-rate.json          # optional; -o overrides
//   operator: A. Tester              # optional; --operator overrides
//   dut: Monitor X, serial 1234      # the device under test; --dut overrides
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
//
// The report says when (UTC) and where (host) the scenario ran, with which
// library (version, table provenance) and simulator (identity, serial number,
// hardware information), the scenario file's SHA-256, the operator and the
// device under test; for each step its settings as the library reads them
// back afterwards, the stream figures over the step and the result. A play
// or record step carries a strip of what was played (the first 10 s at 500
// samples/s, each the sample farthest from 0 mV of its 2 ms), which
// `hsimctl report` draws on ECG paper.
#include "Commands.h"

#include "EcgPaper.h"
#include "Emulator.h"
#include "ReadBack.h"
#include "Sha256.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <nlohmann/json.hpp>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sys/utsname.h>
#include <unistd.h>

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

// The stream figures since the session began. A check resets the library's
// figures (its latency percentiles then cover the time since the previous
// check), so the counts up to each reset are carried here and the counters
// never go back: the figures of a step are the difference of two takes.
class StreamTally {
public:
    explicit StreamTally(hsimemu::Emulator* emulator) : m_Emulator(emulator) {}

    Window Take() const
    {
        Window w;
        HSIMGetStreamHealth(&w.health);
        w.health.transfersSent += m_Carried.transfersSent;
        w.health.requestsAnswered += m_Carried.requestsAnswered;
        w.health.writeFailures += m_Carried.writeFailures;
        w.health.lateAnswers += m_Carried.lateAnswers;
        w.health.windowWaits += m_Carried.windowWaits;
        w.health.windowTimeouts += m_Carried.windowTimeouts;
        w.health.latencySamples += m_Carried.latencySamples;
        if (m_Emulator)
            w.underruns = m_Emulator->streamStats().underruns;
        return w;
    }

    // Resets the library's figures, keeping its counts so far. (An answer
    // counted between the read and the reset is lost, never counted twice.)
    void Reset()
    {
        m_Carried = Take().health;
        HSIMResetStreamHealth();
    }

private:
    hsimemu::Emulator* m_Emulator;
    HSIM_STREAM_HEALTH m_Carried{};
};

Json HealthJson(const Window& from, const Window& to, bool emulated)
{
    Json h;
    h["transfers"] = to.health.transfersSent - from.health.transfersSent;
    h["late_answers"] = to.health.lateAnswers - from.health.lateAnswers;
    h["failed_writes"] = to.health.writeFailures - from.health.writeFailures;
    // The latencies cover the time since the previous check (or the start).
    h["latency_p50_ms"] = to.health.latencyP50Ms;
    h["latency_p99_ms"] = to.health.latencyP99Ms;
    h["latency_max_ms"] = to.health.latencyMaxMs;
    h["compute_max_ms"] = to.health.computeMaxMs;
    h["realtime"] = to.health.realtime == 1;
    if (emulated)
        h["device_underruns"] = to.underruns - from.underruns;
    return h;
}

// The settings as the library holds them after the step.
Json SettingsJson()
{
    Json s = Json::object();
    for (const auto& [name, value] : ReadBackSettings())
        s[name] = value;
    s["playing"] = HSIMIsPlaying();
    return s;
}

// A strip of what a step played, for the report: at most kStripSeconds at
// kStripRate samples/s. Each strip sample is the sample farthest from 0 mV
// of its 2 ms, so a pacing pulse of 0.1 ms stays in the strip.
constexpr double kStripRate = 500.0;
constexpr double kStripSeconds = 10.0;

class StripMaker {
public:
    explicit StripMaker(double rate) : m_Per(std::max<size_t>(1, size_t(std::lround(rate / kStripRate)))) {}

    void Add(double signalMv, double dcMv)
    {
        if (Full())
            return;
        if (std::fabs(signalMv) > std::fabs(m_Signal))
            m_Signal = signalMv;
        if (std::fabs(dcMv) > std::fabs(m_Dc))
            m_Dc = dcMv;
        if (++m_Count == m_Per) {
            m_Signals[0].push_back(std::round(m_Signal * 1e4) / 1e4);
            m_Signals[1].push_back(std::round(m_Dc * 1e4) / 1e4);
            m_Signal = m_Dc = 0;
            m_Count = 0;
        }
    }
    void AddPacing(double seconds)
    {
        if (!Full())
            m_Pacing.push_back(std::round(seconds * 1e5) / 1e5);
    }
    bool Full() const { return double(m_Signals[0].size()) >= kStripSeconds * kStripRate; }

    Json ToJson(const std::string& source) const
    {
        if (m_Signals[0].empty())
            return nullptr;
        Json strip;
        strip["source"] = source;
        strip["rate_hz"] = kStripRate;
        Json signals = Json::array();
        signals.push_back({{"name", "ECG signal"}, {"mv", m_Signals[0]}});
        if (std::any_of(m_Signals[1].begin(), m_Signals[1].end(), [](double v) { return v != 0.0; }))
            signals.push_back({{"name", "DC/pacing"}, {"mv", m_Signals[1]}});
        strip["signals"] = signals;
        strip["pacing_s"] = m_Pacing;
        return strip;
    }

private:
    size_t m_Per, m_Count = 0;
    double m_Signal = 0, m_Dc = 0;
    std::vector<double> m_Signals[2];
    std::vector<double> m_Pacing;
};

// Collects a strip from the library's signal tap while a step plays (the tap
// never makes the streaming thread wait). It carries every tenth sample.
class TapStrip {
public:
    TapStrip() : m_Tap(HSIMTapOpen()), m_Strip(4000.0) {}
    ~TapStrip() { HSIMTapClose(m_Tap); }
    TapStrip(const TapStrip&) = delete;
    TapStrip& operator=(const TapStrip&) = delete;

    void Read()
    {
        HSIM_TAP_POINT points[1024];
        for (int n; m_Tap != nullptr && !m_Strip.Full() && (n = HSIMTapRead(m_Tap, points, 1024)) > 0;) {
            for (int i = 0; i < n; ++i) {
                const HSIM_TAP_POINT& p = points[i];
                if (p.kind != HSIM_TAP_SAMPLE)
                    continue;
                if (m_Start < 0)
                    m_Start = p.time;
                if (p.pacingMv != 0.0)
                    m_Strip.AddPacing(p.time - m_Start);
                m_Strip.Add(p.signalMv, p.dcMv);
            }
        }
    }
    Json ToJson() const { return m_Strip.ToJson("signal tap: every tenth sample, 500 samples/s"); }

private:
    HSIM_TAP* m_Tap;
    StripMaker m_Strip;
    double m_Start = -1;
};

std::string Resolve(const std::filesystem::path& base, const std::string& file)
{
    const std::filesystem::path path(file);
    return path.is_absolute() ? file : (base / path).string();
}

// Runs one step; false with a message when it fails. `label` starts its
// progress line; a played or recorded signal goes to `strip`.
bool RunStep(const Step& step, const std::string& label, const std::filesystem::path& base,
             hsimemu::Emulator* emulator, StreamTally& tally, Window& checkWindow, Json& strip, std::string& why)
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
        TapStrip tap;
        const bool done = WaitFor(step.seconds, [&](double elapsed) {
            ended = !HSIMIsPlaying();
            tap.Read();
            Status(label + "play " + std::to_string(int(elapsed)) + " of " + std::to_string(int(step.seconds)) + " s");
            return !ended;
        });
        tap.Read();
        strip = tap.ToJson();
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
        if (!RecordStream(step.seconds, [](std::string&) { return true; }, signals, why, label))
            return false;
        StripMaker maker(signals[0].rate);
        for (size_t k = 0; k < signals[0].mv.size() && !maker.Full(); ++k)
            maker.Add(signals[0].mv[k], signals[1].mv[k]);
        if (const double step = PacingStep(); step > 0)
            for (double t : FindPacingPulses(signals[1].mv, signals[1].rate, step))
                maker.AddPacing(t);
        strip = maker.ToJson("recorded stream, 500 samples/s");
        const std::string output = Resolve(base, step.body["output"].as<std::string>());
        DropQuietDc(output, signals);
        why = WriteSignals(output, signals, "recorded: " + DescribeReadBack(), PlotStyle{});
        return why.empty();
    }
    // check: the figures since the previous check (or the start).
    const Window now = tally.Take();
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
    tally.Reset();
    checkWindow = tally.Take();
    return true;
}

std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "unknown";
    utsname system{};
    if (uname(&system) != 0)
        return name;
    return std::string(name) + " (" + system.sysname + " " + system.release + " " + system.machine + ")";
}

// A step's progress label: "step 3/7 'name': ", the name cut short.
std::string StepLabel(size_t index, size_t count, const Step& step)
{
    std::string label = "step " + std::to_string(index + 1) + "/" + std::to_string(count);
    if (!step.name.empty()) {
        std::string name = step.name;
        if (name.size() > 24) {
            name.resize(21);
            while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80)
                name.pop_back();  // not in the middle of a UTF-8 character
            if (!name.empty() && static_cast<unsigned char>(name.back()) >= 0xC0)
                name.pop_back();
            name += "...";
        }
        label += " '" + name + "'";
    }
    return label + ": ";
}

}  // namespace

int RunScenario(const ConnectOptions& connect, const ScenarioOptions& options)
{
    const std::string& file = options.file;
    std::string title, reportFile = options.report, operatorName = options.operatorName, dut = options.dut;
    std::vector<Step> steps;
    try {
        const YAML::Node root = YAML::LoadFile(file);
        if (!root.IsMap() || !root["steps"] || !root["steps"].IsSequence())
            throw ScenarioError{"the scenario is a map with a list of 'steps'"};
        title = root["name"] ? root["name"].as<std::string>() : file;
        if (reportFile.empty() && root["report"])
            reportFile = Resolve(std::filesystem::path(file).parent_path(), root["report"].as<std::string>());
        if (operatorName.empty() && root["operator"])
            operatorName = root["operator"].as<std::string>();
        if (dut.empty() && root["dut"])
            dut = root["dut"].as<std::string>();
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
    const std::string checksum = Sha256OfFile(file);

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
    report["file_sha256"] = checksum;
    report["date"] = UtcNow();
    report["host"] = HostName();
    report["operator"] = operatorName;
    report["device_under_test"] = dut;
    report["hsim_version"] = LibraryVersion();
    Json tables = Json::object();
    for (const auto& [table, source] : TableProvenance())
        tables[table] = source;
    report["tables"] = tables;
    const DeviceIdentity device = ReadDeviceIdentity();
    report["device"] = connect.emulator ? "emulator" : std::string("simulator ") + device.serialNumber;
    report["simulator"] = {{"kind", connect.emulator ? "built-in emulator" : "simulator"},
                           {"identity", device.identity},
                           {"serial_number", device.serialNumber},
                           {"hardware_information", device.hardware}};
    report["serial_number"] = device.serialNumber;
    Json results = Json::array();
    const auto start = Clock::now();
    StreamTally tally(emulator);
    Window checkWindow = tally.Take();
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
        const std::string label = StepLabel(i, steps.size(), step);
        Status(label + step.kind);
        const auto stepStart = Clock::now();
        const Window before = tally.Take();
        std::string error;
        Json strip;
        const bool ok = RunStep(step, label, base, emulator, tally, checkWindow, strip, error);
        EndStatus();
        result["started_s"] = std::chrono::duration<double>(stepStart - start).count();
        result["duration_s"] = std::chrono::duration<double>(Clock::now() - stepStart).count();
        result["status"] = ok ? "passed" : "failed";
        if (!ok)
            result["error"] = error;
        result["settings"] = SettingsJson();
        result["stream"] = HealthJson(before, tally.Take(), emulator != nullptr);
        if (!strip.is_null())
            result["strip"] = strip;
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

    // Text that is not UTF-8 (a path in another encoding, a serial number of
    // blank flash) is written with U+FFFD in place of the bytes that are not.
    const std::string text = report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
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

// Scenarios: a YAML list of steps run against the run's simulator (and
// others that steps name), with a JSON report of every step's settings,
// timing and stream health.
//
//   name: Heart-rate display
//   report: heart-rate.json          # optional; -o overrides
//   operator: A. Tester              # optional; --operator overrides
//   dut: Monitor X, serial 1234      # the device under test; --dut overrides
//   devices:                         # optional: short names of other simulators
//     monitor-b: HSE01AB-070124      #   by serial number, as `hsimctl info` shows it
//   steps:
//     - set: {function: ecg, amplitude: 1mV, rate: 30bpm}
//     - play: 10s                    # the output must keep streaming
//     - check: {late: 0, failed-writes: 0, p99: 5ms, underruns: 0, playing: true}
//     - wait: 2s
//     - scan: {from: 0.67Hz, to: 40Hz, seconds: 20}   # or: scan: ecg
//     - load: {file: beat.txt, channel: 0, play: true, loop: false}
//     - record: {seconds: 2, output: played.csv}
//     - stop
//     - set: {function: square, rate: 2Hz, amplitude: 1mV}
//       device: monitor-b            # a name of 'devices', or a serial number
// Every step may carry a "name". Relative paths are read from the scenario
// file's folder. The whole file is checked before the device
// is touched; the first step that fails ends the run (the rest are reported
// as skipped) and hsimctl exits with 4.
//
// A step without "device" runs on the run's simulator (--port, --serial or
// --emulator). Every other simulator the steps name is opened once (by its
// serial number) before the first step runs; one that is not found ends the
// run with 3 before any step. A name that is neither in "devices" nor a
// serial number is an error of the file (2). Each simulator keeps its own
// settings, so a step's values are checked against what the earlier steps on
// the same simulator leave; at the end (and on Ctrl-C or SIGTERM) every
// simulator is left at 0 mV and closed. With --emulator the built-in emulator
// publishes as many devices as the steps need, as `hsim-emu --count` does:
// the one on port i has the serial number HSE01AB-07 followed by 0123 + i, so
// HSE01AB-070123 (port 0) is the run's simulator and HSE01AB-070124 (port 1)
// up to HSE01AB-070138 (port 15) are there to be named.
//
// The report says when (UTC) and where (host) the scenario ran, with which
// library (version, table provenance) and simulator (identity, serial number,
// hardware information), the scenario file's SHA-256, the operator and the
// device under test; for each step the simulator it ran on (serial number
// and port, read back from the library), its settings as the library reads
// them back afterwards, the stream figures of that simulator over the step
// and the result. A play
// or record step carries a strip of what was played (the first 10 s at 500
// samples/s, each the sample farthest from 0 mV of its 2 ms), which
// `hsimctl report` draws on ECG paper.
#include "Commands.h"

#include "EcgPaper.h"
#include "Emulator.h"
#include "Judging.h"
#include "Stimulus.h"
#include "ReadBack.h"
#include "Sha256.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <nlohmann/json.hpp>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <map>
#include <set>
#include <regex>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
    std::string deviceName;  // as the step names it
    std::string device;      // its serial number; empty: the run's simulator
    YAML::Node body;
    Json definition;
    int line = 0;
    // Read when the file is checked:
    Settings settings;
    double seconds = 0;
    std::string text;  // pause: what the operator is told
    // verify: the figures the stimulus must have, with their tolerance (a fraction).
    struct Target {
        std::string key;
        double value;
        double tolerance;
    };
    std::vector<Target> targets;
    MeasureRequest measure;
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

// A serial number in the form the library gives it: "H", the two model
// characters, the code bytes in hexadecimal, "-" and two numbers of 2 and 4
// digits (or more).
bool IsSerialNumber(const std::string& text)
{
    static const std::regex form("H..[0-9A-F]{4}-[0-9]{6,8}");
    return std::regex_match(text, form);
}

const std::vector<std::string> kKinds = {"set",   "play",  "wait",   "stop",   "scan",
                                         "load",  "record", "check", "pause", "verify", "measure"};
// The figures a verify step measures: key, dimension, the report's name.
const struct {
    const char* key;
    Dimension dimension;
    const char* report;
} kVerifyKeys[] = {{"rate", Dimension::Rate, "rate_bpm"},
                   {"qrs-amplitude", Dimension::Voltage, "qrs_amplitude_mv"},
                   {"qrs-width", Dimension::Time, "qrs_width_ms"},
                   {"pacing-amplitude", Dimension::Voltage, "pacing_amplitude_mv"},
                   {"pacing-width", Dimension::Time, "pacing_width_ms"}};

// "5%" as 0.05; nothing for anything else.
std::optional<double> Percent(const std::string& text)
{
    if (text.empty() || text.back() != '%')
        return std::nullopt;
    const auto v = ParseQuantity(text.substr(0, text.size() - 1), Dimension::Number);
    if (!v || *v < 0 || *v > 100)
        return std::nullopt;
    return *v / 100;
}
const std::vector<std::string> kCheckKeys = {"late", "failed-writes", "p99", "underruns", "playing", "function"};

// Reads and checks one step; its values are kept for the run. `names` are
// the scenario's device names. `functions` holds, for each simulator (by
// serial number; empty for the run's, which is `runSerial` when known), the
// output function the steps before it leave selected (nothing when not
// known); the step's values are checked for what plays them, and it is
// updated to what this step leaves.
Step ReadStep(const YAML::Node& node, const std::map<std::string, std::string>& names, const std::string& runSerial,
              std::map<std::string, std::optional<int>>& functions)
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
            } else if (key == "device") {
                step.deviceName = Scalar(step, item.second, "device");
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
                            "' (set, play, wait, stop, scan, load, record, check, pause, verify, measure)"};
    if (!step.deviceName.empty()) {
        if (const auto named = names.find(step.deviceName); named != names.end()) {
            step.device = named->second;
        } else if (IsSerialNumber(step.deviceName)) {
            step.device = step.deviceName;
        } else {
            std::string known;
            for (const auto& [name, serial] : names)
                known += (known.empty() ? "" : ", ") + name;
            Fail(step, "unknown device '" + step.deviceName + "': " +
                           (known.empty() ? std::string("the scenario has no 'devices'") : "'devices' names " + known) +
                           ", and it is not a serial number such as HSE01AB-070123");
        }
    }
    std::optional<int>& function =
        functions.try_emplace(step.device == runSerial ? std::string() : step.device, OUTPUT_OFF).first->second;
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
    } else if (step.kind == "pause") {
        step.text = Scalar(step, step.body, "pause");
    } else if (step.kind == "verify") {
        if (!step.body.IsMap())
            Fail(step, "expects {seconds: 4s, rate: 60bpm, qrs-amplitude: 1mV, ..., tolerance: 5%}");
        step.seconds = step.body["seconds"] ? Duration(step, step.body["seconds"], "seconds") : 4.0;
        if (!(step.seconds >= 1 && step.seconds <= 10))
            Fail(step, "seconds must be within 1..10 s");
        double tolerance = 0.05;
        if (step.body["tolerance"]) {
            const auto t = Percent(Scalar(step, step.body["tolerance"], "tolerance"));
            if (!t)
                Fail(step, "tolerance is a percentage, e.g. 5%");
            tolerance = *t;
        }
        for (const auto& item : step.body) {
            const std::string key = item.first.as<std::string>();
            if (key == "seconds" || key == "tolerance")
                continue;
            const auto known = std::find_if(std::begin(kVerifyKeys), std::end(kVerifyKeys),
                                            [&](const auto& k) { return key == k.key; });
            if (known == std::end(kVerifyKeys))
                Fail(step, "unknown figure '" + key +
                               "' (rate, qrs-amplitude, qrs-width, pacing-amplitude, pacing-width)");
            Step::Target target{key, 0, tolerance};
            const YAML::Node value = item.second.IsMap() ? item.second["value"] : item.second;
            const std::string text = Scalar(step, value, key);
            const auto v = ParseQuantity(text, known->dimension);
            if (!v)
                Fail(step, "'" + text + "' is not a value of " + key);
            target.value = *v;
            if (item.second.IsMap() && item.second["tolerance"]) {
                const auto t = Percent(Scalar(step, item.second["tolerance"], "tolerance"));
                if (!t)
                    Fail(step, "tolerance is a percentage, e.g. 5%");
                target.tolerance = *t;
            }
            step.targets.push_back(target);
        }
        if (step.targets.empty())
            Fail(step, "names no figure to verify");
    } else if (step.kind == "measure") {
        if (!step.body.IsMap())
            Fail(step, "expects {id, quantity, unit, prompt, expect: {from, to}, source} or expect: ask");
        MeasureRequest& m = step.measure;
        m.id = Scalar(step, step.body["id"], "id");
        if (!std::regex_match(m.id, std::regex("[A-Za-z0-9_.-]+")))
            Fail(step, "id '" + m.id + "' is letters, digits, '-', '_' and '.'");
        m.quantity = Scalar(step, step.body["quantity"], "quantity");
        m.unit = step.body["unit"] ? Scalar(step, step.body["unit"], "unit") : "";
        m.prompt = step.body["prompt"] ? Scalar(step, step.body["prompt"], "prompt") : "";
        const YAML::Node expect = step.body["expect"];
        if (expect && expect.IsScalar() && expect.as<std::string>() == "ask") {
            m.askLimits = true;
        } else if (expect && expect.IsMap()) {
            m.from = ParseQuantity(Scalar(step, expect["from"], "expect's from"), Dimension::Number);
            m.to = ParseQuantity(Scalar(step, expect["to"], "expect's to"), Dimension::Number);
            if (!m.from || !m.to || *m.from > *m.to)
                Fail(step, "expect is {from: NUMBER, to: NUMBER} with from <= to, in the measure's unit");
            m.limitsSource = Scalar(step, step.body["source"], "source (the id of the source that gives the limits)");
        } else {
            Fail(step, "expect is {from, to} with its source, or 'ask' where no public source gives the limits");
        }
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
    StreamTally(HSIM_SIMULATOR* simulator, hsimemu::Emulator* emulator) : m_Simulator(simulator), m_Emulator(emulator)
    {
    }

    Window Take() const
    {
        Window w;
        HSIMSimGetStreamHealth(m_Simulator, &w.health);
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
    // The simulator must be the calling thread's.
    void Reset()
    {
        m_Carried = Take().health;
        HSIMResetStreamHealth();
    }

private:
    HSIM_SIMULATOR* m_Simulator;
    hsimemu::Emulator* m_Emulator;
    HSIM_STREAM_HEALTH m_Carried{};
};

// A simulator the steps run on, with its stream figures.
struct Device {
    Device(HSIM_SIMULATOR* simulator, hsimemu::Emulator* emulator)
        : simulator(simulator), emulator(emulator), tally(simulator, emulator), checkWindow(tally.Take())
    {
    }
    HSIM_SIMULATOR* simulator;
    hsimemu::Emulator* emulator;  // its emulated device; null when it is hardware
    StreamTally tally;
    Window checkWindow;  // the figures at the last check (or the start)
};

// The simulators opened for the steps that name one. Each is left at 0 mV
// and closed however the run ends.
class NamedSimulators {
public:
    NamedSimulators() = default;
    NamedSimulators(const NamedSimulators&) = delete;
    NamedSimulators& operator=(const NamedSimulators&) = delete;
    ~NamedSimulators() { Close(); }

    HSIM_SIMULATOR* Open(const std::string& serial, unsigned timeoutMs)
    {
        HSIM_SIMULATOR* simulator = HSIMOpenSerial(serial.c_str(), timeoutMs);
        if (simulator != nullptr)
            m_Opened.push_back(simulator);
        return simulator;
    }
    // Leaves the calling thread without a simulator of these.
    void Close()
    {
        if (m_Opened.empty())
            return;
        HSIMUse(nullptr);
        for (HSIM_SIMULATOR* simulator : m_Opened) {
            HSIMSimSetOutputFunction(simulator, 0);
            HSIMClose(simulator);
        }
        m_Opened.clear();
    }

private:
    std::vector<HSIM_SIMULATOR*> m_Opened;
};

// The serial number the library reads of a simulator ("" for none).
std::string SerialNumberOf(HSIM_SIMULATOR* simulator)
{
    const char* serial = HSIMSimGetSerialNumber(simulator);
    return serial != nullptr ? serial : "";
}

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

// The strip of a recorded stream's first seconds.
StripMaker StripOf(const std::vector<Signal>& signals)
{
    StripMaker maker(signals[0].rate);
    for (size_t k = 0; k < signals[0].mv.size() && !maker.Full(); ++k)
        maker.Add(signals[0].mv[k], signals[1].mv[k]);
    return maker;
}

// Records what plays and measures it against the step's figures; false
// with the figures that differ. On the built-in emulator it measures what the device played, from its
// own words; on hardware, the stream the library sent.
bool Verify(const Step& step, const std::string& label, hsimemu::Emulator* emulator, Json& strip, Json& stimulus,
            std::string& why)
{
    if (!HSIMIsPlaying())
        return why = "nothing plays to verify", false;
    std::vector<Signal> signals;
    if (emulator) {
        bool ended = false;
        emulator->clearPlayed();
        if (!WaitFor(step.seconds + 0.2, [&](double) { return !(ended = !HSIMIsPlaying()); }))
            return why = ended ? "the output ended before the time was up" : "interrupted", false;
        constexpr double kPlayRate = 40000.0;  // the device plays 40000 samples a second
        const auto played = emulator->playedMillivolts(size_t(step.seconds * kPlayRate));
        signals = {Signal{"AC", kPlayRate, {}, kSignalLabel}, Signal{"DC", kPlayRate, {}, kDcLabel}};
        for (const auto& sample : played) {
            signals[0].mv.push_back(sample.acMv);
            signals[1].mv.push_back(sample.dcMv);
        }
    } else if (!RecordStream(step.seconds, [](std::string&) { return true; }, signals, why, label)) {
        return false;
    }
    strip = StripOf(signals).ToJson("verified stream, 500 samples/s");
    const StimulusFigures f = MeasureStimulus(signals[0], &signals[1]);
    const std::optional<double> measured[] = {f.rateBpm, f.qrsAmplitudeMv, f.qrsWidthMs, f.pacingAmplitudeMv,
                                              f.pacingWidthMs};
    Json expected = Json::object();
    stimulus = Json::object();
    for (size_t k = 0; k < std::size(kVerifyKeys); ++k)
        stimulus[kVerifyKeys[k].report] = measured[k] ? Json(std::round(*measured[k] * 1000) / 1000) : Json(nullptr);
    stimulus["measured_from"] = emulator ? "the emulated device's played samples" : "the stream the library sent";
    stimulus["beats"] = f.beats;
    stimulus["pacing_pulses"] = f.pulses;
    std::string differ;
    for (const Step::Target& target : step.targets) {
        size_t k = 0;
        while (target.key != kVerifyKeys[k].key)
            ++k;
        expected[kVerifyKeys[k].report] = {{"value", target.value}, {"tolerance", target.tolerance}};
        const std::string want = FormatQuantity(target.value, kVerifyKeys[k].dimension);
        if (!measured[k])
            differ += (differ.empty() ? "" : "; ") + target.key + " " + want + ": none found";
        else if (std::fabs(*measured[k] - target.value) > target.tolerance * std::fabs(target.value))
            differ += (differ.empty() ? "" : "; ") + target.key + " " + want + ": measured " +
                      FormatQuantity(*measured[k], kVerifyKeys[k].dimension);
    }
    stimulus["expected"] = expected;
    stimulus["ok"] = differ.empty();
    if (!differ.empty())
        return why = "the stimulus is not what the file says: " + differ, false;
    return true;
}

// Runs one step; false with a message when it fails. `label` starts its
// progress line; a played or recorded signal goes to `strip`, a verified
// stimulus's figures to `stimulus`.
bool RunStep(const Step& step, const std::string& label, const std::filesystem::path& base, Device& device,
             Json& strip, Json& stimulus, std::string& why)
{
    if (step.kind == "verify")
        return Verify(step, label, device.emulator, strip, stimulus, why);
    hsimemu::Emulator* emulator = device.emulator;
    StreamTally& tally = device.tally;
    Window& checkWindow = device.checkWindow;
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
        StripMaker maker = StripOf(signals);
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

// A scenario read and checked, before any device is touched.
struct Plan {
    std::string file, title, reportFile, operatorName, dut, checksum;
    // A test procedure's: its standard, requirement, sources and notes.
    std::string standard, requirement, notes;
    Json sources = Json::array();
    std::vector<Step> steps;
    // The serial numbers of the other simulators the steps name, in the
    // order of their first step.
    std::vector<std::string> named;
};

// Reads the scenario file; false with a message when it is not one.
// `runSerial` is the run's simulator's serial number where it is known before
// it is opened, so that steps naming it are checked with the others on it.
bool LoadPlan(const ScenarioOptions& options, const std::string& runSerial, Plan& plan, std::string& why)
{
    const std::string& file = options.file;
    plan.file = file;
    plan.reportFile = options.report;
    plan.operatorName = options.operatorName;
    plan.dut = options.dut;
    try {
        const YAML::Node root = YAML::LoadFile(file);
        if (!root.IsMap() || !root["steps"] || !root["steps"].IsSequence())
            throw ScenarioError{"the scenario is a map with a list of 'steps'"};
        plan.title = root["name"] ? root["name"].as<std::string>() : file;
        if (plan.reportFile.empty() && root["report"])
            plan.reportFile = Resolve(std::filesystem::path(file).parent_path(), root["report"].as<std::string>());
        if (plan.operatorName.empty() && root["operator"])
            plan.operatorName = root["operator"].as<std::string>();
        if (plan.dut.empty() && root["dut"])
            plan.dut = root["dut"].as<std::string>();
        std::map<std::string, std::string> names;
        if (const YAML::Node devices = root["devices"]) {
            if (!devices.IsMap())
                throw ScenarioError{"'devices' is a map of names to serial numbers, e.g. {monitor-b: HSE01AB-070124}"};
            for (const auto& item : devices) {
                const std::string name = item.first.as<std::string>();
                if (!item.second.IsScalar() || !IsSerialNumber(item.second.as<std::string>()))
                    throw ScenarioError{"line " + std::to_string(item.second.Mark().line + 1) + ": device '" + name +
                                        "' is not given a serial number such as HSE01AB-070123"};
                names[name] = item.second.as<std::string>();
            }
        }
        for (const char* key : {"standard", "requirement", "notes"})
            if (root[key] && !root[key].IsScalar())
                throw ScenarioError{std::string("'") + key + "' is a text"};
        plan.standard = root["standard"] ? root["standard"].as<std::string>() : "";
        plan.requirement = root["requirement"] ? root["requirement"].as<std::string>() : "";
        plan.notes = root["notes"] ? root["notes"].as<std::string>() : "";
        if (const YAML::Node sources = root["sources"]) {
            if (!sources.IsSequence())
                throw ScenarioError{"'sources' is a list of {id, cite, url}"};
            for (const auto& source : sources) {
                if (!source.IsMap() || !source["id"] || !source["cite"])
                    throw ScenarioError{"line " + std::to_string(source.Mark().line + 1) +
                                        ": a source has an id and a cite (and a url where it has one)"};
                plan.sources.push_back({{"id", source["id"].as<std::string>()},
                                        {"cite", source["cite"].as<std::string>()},
                                        {"url", source["url"] ? source["url"].as<std::string>() : ""}});
            }
        }
        // Nothing plays on any simulator when the run starts.
        std::map<std::string, std::optional<int>> functions;
        for (const auto& node : root["steps"])
            plan.steps.push_back(ReadStep(node, names, runSerial, functions));
        // A measure's id is its own, and its limits name a source of the file.
        std::set<std::string> ids;
        for (const Step& step : plan.steps) {
            if (step.kind != "measure")
                continue;
            if (!ids.insert(step.measure.id).second)
                Fail(step, "the id '" + step.measure.id + "' is taken by another measure");
            if (!step.measure.askLimits &&
                std::none_of(plan.sources.begin(), plan.sources.end(),
                             [&](const Json& source) { return source["id"] == step.measure.limitsSource; }))
                Fail(step, "source '" + step.measure.limitsSource + "' is not one of the file's 'sources'");
        }
    } catch (const YAML::Exception& e) {
        why = file + ": " + e.what();
        return false;
    } catch (const ScenarioError& e) {
        why = file + ": " + e.message;
        return false;
    }
    for (const Step& step : plan.steps)
        if (!step.device.empty() && std::find(plan.named.begin(), plan.named.end(), step.device) == plan.named.end())
            plan.named.push_back(step.device);
    plan.checksum = Sha256OfFile(file);
    return true;
}

// A file a step reads or writes that lies outside the scenario's folder (an
// absolute path or one through ".."); empty when there is none.
std::string FileOutsideFolder(const Plan& plan)
{
    for (const Step& step : plan.steps) {
        const char* key = step.kind == "load" ? "file" : step.kind == "record" ? "output" : nullptr;
        if (key == nullptr)
            continue;
        const std::filesystem::path path(step.body[key].as<std::string>());
        if (path.is_absolute() || std::find(path.begin(), path.end(), "..") != path.end())
            return "line " + std::to_string(step.line) + ", step '" + step.kind + "': " + path.string() +
                   " lies outside the scenario's folder";
    }
    return "";
}

// Runs the steps on the devices by serial number ("" is the run's, which is
// the calling thread's simulator) and gives the report. `emulated`: the
// devices are the built-in emulator's.
Json Execute(const Plan& plan, const std::map<std::string, Device*>& bySerial, bool emulated,
             const ScenarioObserver& observer, const JudgingOptions& judging, int& failedAt, bool& interrupted)
{
    HSIM_SIMULATOR* const runSimulator = bySerial.at("")->simulator;
    HSIMUse(runSimulator);
    const std::filesystem::path base = std::filesystem::path(plan.file).parent_path();
    Json report;
    report["scenario"] = plan.title;
    report["file"] = plan.file;
    report["file_sha256"] = plan.checksum;
    report["date"] = UtcNow();
    report["host"] = HostName();
    report["operator"] = plan.operatorName;
    report["device_under_test"] = plan.dut;
    report["hsim_version"] = LibraryVersion();
    Json tables = Json::object();
    for (const auto& [table, source] : TableProvenance())
        tables[table] = source;
    report["tables"] = tables;
    const DeviceIdentity device = ReadDeviceIdentity();
    report["device"] = emulated ? "emulator" : std::string("simulator ") + device.serialNumber;
    report["simulator"] = {{"kind", emulated ? "built-in emulator" : "simulator"},
                           {"identity", device.identity},
                           {"serial_number", device.serialNumber},
                           {"hardware_information", device.hardware}};
    report["serial_number"] = device.serialNumber;
    if (observer.planned) {
        std::vector<std::pair<std::string, std::string>> steps;
        for (const Step& step : plan.steps)
            steps.emplace_back(step.kind, step.name);
        observer.planned(steps);
    }
    Json results = Json::array();
    const auto start = Clock::now();
    failedAt = -1;
    interrupted = Interrupted();  // while the simulators were opened
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        const Step& step = plan.steps[i];
        Device& device = *bySerial.at(step.device);
        HSIMUse(device.simulator);
        Json result;
        result["index"] = i + 1;
        result["kind"] = step.kind;
        if (!step.name.empty())
            result["name"] = step.name;
        result["definition"] = step.definition;
        result["device"] = {{"serial_number", SerialNumberOf(device.simulator)},
                            {"port", HSIMSimGetPort(device.simulator)}};
        if (failedAt >= 0 || interrupted) {
            result["status"] = "skipped";
            results.push_back(result);
            if (observer.step)
                observer.step(i, "skipped", "");
            continue;
        }
        if (observer.step)
            observer.step(i, "running", "");
        const std::string label = StepLabel(i, plan.steps.size(), step);
        Status(label + step.kind);
        const auto stepStart = Clock::now();
        const Window before = device.tally.Take();
        std::string error;
        Json strip, stimulus;
        bool ok = true;
        std::string status = "passed";
        if (step.kind == "measure") {
            // The device under test is judged; the run goes on whatever it shows.
            EndStatus();
            result["reading"] = TakeReading(step.measure, judging);
            const std::string verdict = result["reading"]["verdict"];
            status = verdict == "pass" ? "passed" : verdict == "fail" ? "failed" : "not judged";
            if (Interrupted())
                ok = false, error = "interrupted";
        } else if (step.kind == "pause") {
            EndStatus();
            result["note"] = PauseForOperator(step.text, judging);
            if (Interrupted())
                ok = false, error = "interrupted";
        } else {
            ok = RunStep(step, label, base, device, strip, stimulus, error);
        }
        EndStatus();
        result["started_s"] = std::chrono::duration<double>(stepStart - start).count();
        result["duration_s"] = std::chrono::duration<double>(Clock::now() - stepStart).count();
        result["status"] = ok ? status : "failed";
        if (!ok)
            result["error"] = error;
        if (!stimulus.is_null())
            result["stimulus"] = stimulus;
        result["settings"] = SettingsJson();
        result["stream"] = HealthJson(before, device.tally.Take(), device.emulator != nullptr);
        if (!strip.is_null())
            result["strip"] = strip;
        results.push_back(result);
        if (observer.step)
            observer.step(i, result["status"].get<std::string>(), error);
        if (!ok) {
            interrupted = Interrupted();
            if (!interrupted)
                failedAt = int(i);
            std::fprintf(stderr, "hsimctl: step %zu (%s%s%s%s%s) failed: %s\n", i + 1, step.kind.c_str(),
                         step.name.empty() ? "" : ", ", step.name.c_str(), step.device.empty() ? "" : ", on ",
                         step.device.c_str(), error.c_str());
        }
    }
    report["passed"] = failedAt < 0 && !interrupted;
    report["duration_s"] = std::chrono::duration<double>(Clock::now() - start).count();
    report["steps"] = results;
    if (!plan.requirement.empty() || !plan.standard.empty()) {
        report["standard"] = plan.standard;
        report["requirement"] = plan.requirement;
        report["sources"] = plan.sources;
        report["notes"] = plan.notes;
        // Its result: a stimulus that did not play as written judges nothing.
        int pass = 0, fail = 0, open = 0;
        for (const Json& step : results)
            if (step.contains("reading")) {
                const std::string verdict = step["reading"]["verdict"];
                (verdict == "pass" ? pass : verdict == "fail" ? fail : open)++;
            }
        report["counts"] = {{"pass", pass}, {"fail", fail}, {"not_judged", open}};
        report["result"] = failedAt >= 0 || interrupted ? "stimulus fault"
                           : fail > 0                   ? "fail"
                           : open > 0 || pass == 0      ? "not judged"
                                                        : "pass";
        report["passed"] = report["result"] == "pass";
    }
    return report;
}

// The report as text. Text that is not UTF-8 (a path in another encoding, a
// serial number of blank flash) is written with U+FFFD in place of the bytes
// that are not.
std::string ReportText(const Json& report)
{
    return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// Writes the report to its file, or to stdout for none or "-"; false with a
// message when it cannot be written.
bool WriteReport(const Json& report, const std::string& file)
{
    const std::string text = ReportText(report);
    if (file.empty() || file == "-")
        return std::fputs(text.c_str(), stdout) >= 0;
    std::ofstream out(file);
    if (out << text)
        return true;
    std::fprintf(stderr, "hsimctl: cannot write the report %s\n", file.c_str());
    return false;
}

}  // namespace

// The simulators a run drives: the run's (its session) and the others its
// steps name, found by serial number; each left at 0 mV and closed at the end.
class Bench {
public:
    // Opens them; an exit code (kExitOk) with a message.
    int Open(const ConnectOptions& connect, const std::vector<std::string>& named, std::string& why)
    {
        ConnectOptions connection = connect;
        if (connect.emulator) {
            // The emulator publishes the devices up to the last one named.
            for (const std::string& serial : named) {
                int index = 0;
                while (index < kMaxEmulatedDevices && EmulatedSerialNumber(index) != serial)
                    ++index;
                if (index == kMaxEmulatedDevices)
                    return why = "no simulator with serial number " + serial + ": the emulator's are " +
                                 EmulatedSerialNumber(0) + " to " + EmulatedSerialNumber(kMaxEmulatedDevices - 1),
                           kExitNoDevice;
                connection.emulatedDevices = std::max(connection.emulatedDevices, index + 1);
            }
        }
        int code = kExitOk;
        m_Session = Session::Open(connection, why, code);
        if (!m_Session)
            return code;
        HSIM_SIMULATOR* const runSimulator = m_Session->simulator();
        m_Devices.push_back(std::make_unique<Device>(runSimulator, m_Session->emulator()));
        bySerial[""] = m_Devices.front().get();
        bySerial[SerialNumberOf(runSimulator)] = m_Devices.front().get();
        const double timeout = std::max(0.0, std::min(connect.timeoutSeconds, 3600.0));
        for (const std::string& serial : named) {
            if (bySerial.count(serial))
                continue;  // the run's simulator
            HSIM_SIMULATOR* simulator = m_Opened.Open(serial, unsigned(timeout * 1000));
            if (simulator == nullptr)
                return why = "no simulator with serial number " + serial + " found within " +
                             std::to_string(int(timeout * 1000)) + " ms",
                       kExitNoDevice;
            HSIMUse(simulator);
            HSIMResetStreamHealth();
            m_Devices.push_back(
                std::make_unique<Device>(simulator, m_Session->emulatorOnPort(HSIMSimGetPort(simulator))));
            bySerial[serial] = m_Devices.back().get();
        }
        HSIMUse(runSimulator);
        return kExitOk;
    }
    // Every simulator at 0 mV and closed.
    void Close()
    {
        if (!m_Session)
            return;
        m_Opened.Close();
        HSIMUse(m_Session->simulator());
        m_Session->StopOutput();
        m_Session.reset();
    }
    ~Bench() { Close(); }

    std::map<std::string, Device*> bySerial;  // "" is the run's

private:
    std::unique_ptr<Session> m_Session;
    std::vector<std::unique_ptr<Device>> m_Devices;
    NamedSimulators m_Opened;
};

int RunScenario(const ConnectOptions& connect, const ScenarioOptions& options)
{
    const std::string runSerial = connect.serial.empty() && connect.emulator ? EmulatedSerialNumber(0) : connect.serial;
    Plan plan;
    std::string why;
    if (!LoadPlan(options, runSerial, plan, why)) {
        std::fprintf(stderr, "hsimctl: %s\n", why.c_str());
        return kExitUsage;
    }
    Bench bench;
    if (const int code = bench.Open(connect, plan.named, why); code != kExitOk) {
        std::fprintf(stderr, "hsimctl: %s\n", why.c_str());
        return code;
    }
    int failedAt = -1;
    bool interrupted = false;
    const Json report = Execute(plan, bench.bySerial, connect.emulator, {}, JudgingOptions{}, failedAt, interrupted);
    bench.Close();

    if (!WriteReport(report, plan.reportFile))
        return kExitFailed;
    if (!plan.reportFile.empty() && plan.reportFile != "-")
        std::printf("%s: %s, report in %s\n", plan.title.c_str(), report["passed"].get<bool>() ? "passed" : "FAILED",
                    plan.reportFile.c_str());
    return interrupted ? kExitInterrupted : report["passed"].get<bool>() ? kExitOk : kExitStepFailed;
}

int RunScenarioOn(const ScenarioOptions& options, const std::vector<OpenSimulator>& simulators, bool emulated,
                  const ScenarioObserver& observer, std::string& reportText, std::string& why)
{
    if (simulators.empty())
        return why = "no simulator is open", kExitNoDevice;
    Plan plan;
    if (!LoadPlan(options, SerialNumberOf(simulators.front().simulator), plan, why))
        return kExitUsage;
    if (why = FileOutsideFolder(plan); !why.empty())
        return kExitUsage;
    std::vector<std::unique_ptr<Device>> devices;
    std::map<std::string, Device*> bySerial;
    for (const OpenSimulator& open : simulators) {
        devices.push_back(std::make_unique<Device>(open.simulator, open.emulator));
        bySerial[SerialNumberOf(open.simulator)] = devices.back().get();
    }
    bySerial[""] = devices.front().get();
    for (const std::string& serial : plan.named)
        if (!bySerial.count(serial))
            return why = "no simulator with serial number " + serial + " is open here", kExitNoDevice;
    int failedAt = -1;
    bool interrupted = false;
    // Nobody sits at this program's terminal to answer.
    JudgingOptions judging;
    judging.askOperator = false;
    const Json report = Execute(plan, bySerial, emulated, observer, judging, failedAt, interrupted);
    for (const auto& device : devices) {
        HSIMUse(device->simulator);
        HSIMSetOutputFunction(0);
    }
    HSIMUse(nullptr);
    reportText = ReportText(report);
    return interrupted ? kExitInterrupted : report["passed"].get<bool>() ? kExitOk : kExitStepFailed;
}

std::vector<std::filesystem::path> ProcedureFolders()
{
    std::vector<std::filesystem::path> folders;
    if (const char* own = std::getenv("HSIM_PROCEDURES"); own && *own)
        folders.emplace_back(own);
    folders.emplace_back(HSIM_PROCEDURES_SOURCE_DIR);
    folders.emplace_back(HSIM_PROCEDURES_INSTALL_DIR);
    return folders;
}

namespace {

// The shipped procedures of the first folder that has any, by file stem.
std::vector<std::filesystem::path> ShippedProcedures()
{
    for (const auto& folder : ProcedureFolders()) {
        std::error_code error;
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            if (entry.path().extension() == ".yaml" && entry.path().stem() != "dry-run-answers")
                files.push_back(entry.path());
        if (!files.empty()) {
            std::sort(files.begin(), files.end());
            return files;
        }
    }
    return {};
}

// A procedure by its path or by the stem of a shipped one; empty when none.
std::string FindProcedure(const std::string& name)
{
    std::error_code error;
    if (std::filesystem::is_regular_file(name, error))
        return name;
    for (const auto& file : ShippedProcedures())
        if (file.stem() == name)
            return file.string();
    return "";
}

}  // namespace

int ListProcedures()
{
    const auto files = ShippedProcedures();
    if (files.empty()) {
        std::fprintf(stderr, "hsimctl: no procedures found (looked in %s)\n",
                     std::string(HSIM_PROCEDURES_INSTALL_DIR).c_str());
        return kExitFailed;
    }
    for (const auto& file : files) {
        Plan plan;
        std::string why;
        ScenarioOptions options;
        options.file = file.string();
        if (!LoadPlan(options, "", plan, why)) {
            std::printf("%-28s  (cannot be read: %s)\n", file.stem().c_str(), why.c_str());
            continue;
        }
        size_t measures = 0;
        for (const Step& step : plan.steps)
            measures += step.kind == "measure";
        std::printf("%-28s  %s\n%-28s  %s; %zu reading%s\n", file.stem().c_str(), plan.title.c_str(), "",
                    (plan.standard + (plan.requirement.empty() ? "" : ": " + plan.requirement)).c_str(), measures,
                    measures == 1 ? "" : "s");
    }
    return kExitOk;
}

int RunProcedures(const ConnectOptions& connect, const RunOptions& options)
{
    JudgingOptions judging;
    judging.reader = options.reader;
    if (!options.answers.empty()) {
        try {
            judging.answers = YAML::LoadFile(options.answers);
        } catch (const YAML::Exception& e) {
            std::fprintf(stderr, "hsimctl: %s: %s\n", options.answers.c_str(), e.what());
            return kExitUsage;
        }
        if (!judging.answers.IsMap()) {
            std::fprintf(stderr, "hsimctl: %s: the answers are a map {procedure: {measure-id: reading}}\n",
                         options.answers.c_str());
            return kExitUsage;
        }
    }
    // Every file is read and checked before a device is touched.
    const std::string runSerial = connect.serial.empty() && connect.emulator ? EmulatedSerialNumber(0) : connect.serial;
    std::vector<Plan> plans;
    std::vector<std::string> named;
    std::vector<std::string> chosen = options.procedures;
    if (options.all)
        for (const auto& file : ShippedProcedures())
            chosen.push_back(file.string());
    if (chosen.empty()) {
        std::fprintf(stderr, "hsimctl: no procedures to run\n");
        return kExitUsage;
    }
    for (const std::string& name : chosen) {
        ScenarioOptions one;
        one.file = FindProcedure(name);
        one.operatorName = options.operatorName;
        one.dut = options.dut;
        if (one.file.empty()) {
            std::fprintf(stderr, "hsimctl: no procedure '%s' ('hsimctl procedures' lists the shipped ones)\n",
                         name.c_str());
            return kExitUsage;
        }
        Plan plan;
        std::string why;
        if (!LoadPlan(one, runSerial, plan, why)) {
            std::fprintf(stderr, "hsimctl: %s\n", why.c_str());
            return kExitUsage;
        }
        for (const std::string& serial : plan.named)
            if (std::find(named.begin(), named.end(), serial) == named.end())
                named.push_back(serial);
        plans.push_back(std::move(plan));
    }
    std::string why;
    Bench bench;
    if (const int code = bench.Open(connect, named, why); code != kExitOk) {
        std::fprintf(stderr, "hsimctl: %s\n", why.c_str());
        return code;
    }
    Json report, procedures = Json::array(), summary = Json::array();
    bool interrupted = false, allPassed = true;
    for (const Plan& plan : plans) {
        if (Interrupted()) {
            interrupted = true;
            break;
        }
        judging.procedure = std::filesystem::path(plan.file).stem().string();
        std::fprintf(stderr, "== %s (%s)\n", plan.title.c_str(), judging.procedure.c_str());
        int failedAt = -1;
        bool stopped = false;
        Json one = Execute(plan, bench.bySerial, connect.emulator, {}, judging, failedAt, stopped);
        interrupted = interrupted || stopped;
        // The run's header comes from the first procedure; each keeps its own steps.
        if (report.is_null()) {
            report = one;
            for (const char* key : {"scenario", "file", "file_sha256", "steps", "standard", "requirement", "sources",
                                    "notes", "counts", "result", "passed", "duration_s"})
                report.erase(key);
        }
        Json entry = {{"file", one["file"]},       {"file_sha256", one["file_sha256"]},
                      {"name", one["scenario"]},   {"standard", plan.standard},
                      {"requirement", plan.requirement}, {"sources", plan.sources},
                      {"notes", plan.notes},       {"result", one.value("result", "not judged")},
                      {"duration_s", one["duration_s"]}, {"steps", one["steps"]}};
        const Json counts = one.value("counts", Json{{"pass", 0}, {"fail", 0}, {"not_judged", 0}});
        summary.push_back({{"procedure", plan.title},  {"requirement", plan.requirement},
                           {"standard", plan.standard}, {"pass", counts["pass"]},
                           {"fail", counts["fail"]},   {"not_judged", counts["not_judged"]},
                           {"result", entry["result"]}});
        allPassed = allPassed && entry["result"] == "pass";
        std::fprintf(stderr, "   %s\n", entry["result"].get<std::string>().c_str());
        procedures.push_back(entry);
        // Nothing plays between procedures.
        HSIMUse(bench.bySerial.at("")->simulator);
        HSIMSetOutputFunction(0);
    }
    bench.Close();
    report["scenario"] = plans.size() == 1 ? plans.front().title : "Test procedures";
    report["procedures"] = procedures;
    report["summary"] = summary;
    report["dry_run"] = judging.dryRun();
    report["reading_source"] = judging.dryRun() ? "answers file " + options.answers
                               : options.reader.empty() ? "operator"
                                                        : "command: " + options.reader;
    report["passed"] = allPassed && !interrupted;
    report["steps"] = Json::array();  // a run's steps are its procedures'
    if (!WriteReport(report, options.report))
        return kExitFailed;
    if (!options.pdf.empty()) {
        if (options.report.empty() || options.report == "-") {
            std::fprintf(stderr, "hsimctl: --pdf needs the JSON report in a file (-o)\n");
            return kExitUsage;
        }
        if (const int code = RunReport(ReportOptions{options.report, options.pdf}); code != kExitOk)
            return code;
    }
    std::printf("%zu procedure%s: %s\n", procedures.size(), procedures.size() == 1 ? "" : "s",
                report["passed"].get<bool>() ? "all passed" : "NOT all passed");
    for (const Json& row : summary)
        std::printf("  %-40s %s\n", row["requirement"].get<std::string>().c_str(),
                    row["result"].get<std::string>().c_str());
    return interrupted ? kExitInterrupted : allPassed ? kExitOk : kExitStepFailed;
}

}  // namespace hsimctl

#include "Panel.h"

#include "EcgPaper.h"
#include "Emulator.h"
#include "PanelAssets.h"
#include "ReadBack.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace hsimctl {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// The parameters of the library's table.
std::vector<HSIM_PARAMETER_INFO> Table()
{
    std::vector<HSIM_PARAMETER_INFO> rows;
    for (int i = 0, n = HSIMGetParameterCount(); i < n; ++i) {
        HSIM_PARAMETER_INFO info;
        if (HSIMGetParameterInfo(i, &info) == 0)
            rows.push_back(info);
    }
    return rows;
}

const char* KindName(int kind)
{
    switch (kind) {
    case HSIM_PARAMETER_INTEGER: return "integer";
    case HSIM_PARAMETER_BOOL: return "bool";
    case HSIM_PARAMETER_CHOICE: return "choice";
    default: return "number";
    }
}

// Which output functions a group of parameters shapes (empty: all of them).
// A parameter of the table that no group names is shown for every function
// under "More", so that a new row of the library appears without a change
// here.
struct Group {
    const char* name;
    std::vector<const char*> parameters;
    std::vector<int> functions;
};

const std::vector<Group>& Groups()
{
    static const std::vector<int> generators = {OUTPUT_SINE, OUTPUT_TRIANGLE, OUTPUT_SQUARE, OUTPUT_RECTANGULAR_PULSE,
                                                OUTPUT_TRIANGULAR_PULSE, OUTPUT_EXPONENTIAL,
                                                OUTPUT_BIPHASIC_EXPONENTIAL};
    static const std::vector<int> beats = {OUTPUT_ECG_STANDARD, OUTPUT_ECG_CUSTOM};
    static const std::vector<int> patterns = {OUTPUT_IEC_2_27, OUTPUT_IEC_2_51, OUTPUT_IEC_2_47, OUTPUT_ANE20000};
    auto both = [](std::vector<int> a, const std::vector<int>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    static const std::vector<Group> groups = {
        {"Waveform", {"frequency", "amplitude"}, both(generators, beats)},
        {"Pulse", {"pulse-width"}, {OUTPUT_RECTANGULAR_PULSE, OUTPUT_TRIANGULAR_PULSE}},
        {"Beat",
         {"qrs-duration", "p-wave", "p-duration", "pr-interval", "qt-interval", "t-wave", "st-deviation", "st-segment",
          "t-duration"},
         {OUTPUT_ECG_CUSTOM}},
        {"Pacing",
         {"pacing-amplitude", "pacing-width", "pacing-rate", "pacing-synchronized", "pacing-mode",
          "overshoot-amplitude", "overshoot-time-constant"},
         beats},
        {"Respiration",
         {"respiration-rate", "respiration-ratio", "respiration-apnea", "respiration-baseline", "respiration-amplitude",
          "respiration-frequency"},
         beats},
        {"Pattern", {"pattern-227"}, {OUTPUT_IEC_2_27}},
        {"Pattern", {"pattern-251"}, {OUTPUT_IEC_2_51}},
        {"Pattern", {"pattern-247"}, {OUTPUT_IEC_2_47}},
        {"Pattern", {"ane-lead"}, {OUTPUT_ANE20000}},
        {"Pattern", {"pattern-loop"}, patterns},
        {"Record", {"file-loop"}, {OUTPUT_ECG_FILE, OUTPUT_ECG_FILE_WITH_DC}},
        {"Noise and drift", {"noise", "noise-amplitude", "drift", "drift-amplitude", "drift-frequency"}, {}},
        {"Test modes",
         {"baseline-reset", "dynamic-range", "dynamic-range-amplitude", "dynamic-range-frequency", "scan", "scan-start",
          "scan-stop", "scan-duration"},
         {}},
        {"Front end", {"lead", "impedance", "signal-ground", "dc-offset", "dc-variable", "dc-common-mode"}, {}},
    };
    return groups;
}

Json Error(const std::string& reason) { return Json{{"error", reason}}; }

void Send(httplib::Response& res, int status, const Json& body)
{
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
}

void Refuse(httplib::Response& res, int status, const std::string& reason) { Send(res, status, Error(reason)); }

// A token of 128 random bits in hexadecimal.
std::string RandomToken()
{
    std::random_device device;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(device()));
        token += part;
    }
    return token;
}

// Compares in a time that does not depend on where the texts differ.
bool SameSecret(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The host part of a Host header ("127.0.0.1:8080" -> "127.0.0.1",
// "[::1]:8080" -> "::1").
std::string HostPart(const std::string& header)
{
    if (!header.empty() && header[0] == '[') {
        const size_t end = header.find(']');
        return end == std::string::npos ? header : header.substr(1, end - 1);
    }
    return header.substr(0, header.find(':'));
}

// A file name of an upload reduced to its last part; empty when that is not
// a plain name.
std::string UploadName(const std::string& given)
{
    std::string name = given.substr(given.find_last_of("/\\") == std::string::npos ? 0 : given.find_last_of("/\\") + 1);
    if (name.empty() || name == "." || name == ".." || name.size() > 200 ||
        name.find('\0') != std::string::npos)
        return "";
    return name;
}


}  // namespace

bool IsLoopback(const std::string& host)
{
    const std::string h = Lower(host);
    return h == "localhost" || h == "::1" || h.rfind("127.", 0) == 0;
}

bool ParseListen(const std::string& text, std::string& host, int& port, std::string& why)
{
    size_t colon = text.rfind(':');
    if (!text.empty() && text[0] == '[') {
        const size_t end = text.find(']');
        if (end == std::string::npos || end + 1 != colon)
            return why = "'" + text + "' is not HOST:PORT (an IPv6 address goes in brackets: [::1]:8080)", false;
        host = text.substr(1, end - 1);
    } else {
        if (colon == std::string::npos || text.find(':') != colon)
            return why = "'" + text + "' is not HOST:PORT, e.g. 127.0.0.1:8080", false;
        host = text.substr(0, colon);
    }
    const std::string digits = text.substr(colon + 1);
    if (host.empty() || digits.empty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }) ||
        std::stoi(digits) > 65535)
        return why = "'" + text + "' is not HOST:PORT with a port 0..65535", false;
    port = std::stoi(digits);
    return true;
}

struct Panel::Impl {
    // A simulator of the panel with what the panel keeps of it.
    struct Simulator {
        OpenSimulator open;
        std::mutex work;  // one change at a time (an upload and its load, ...)
        // Guarded by Impl::mutex:
        std::string serial, identity, hardware;
        Json record;              // the loaded record, or null
        Json asked = Json::object();  // values of the rows read from the device
    };

    PanelOptions options;
    std::vector<std::unique_ptr<Simulator>> simulators;
    std::vector<HSIM_PARAMETER_INFO> table;
    std::string token;
    fs::path directory;  // uploads, scenario files and reports
    httplib::Server server;
    std::thread listener;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> streams{0};
    std::atomic<unsigned> uploads{0};

    std::mutex mutex;
    // The scenario, guarded by mutex.
    std::thread scenarioThread;
    std::atomic<bool> scenarioCancel{false};
    bool scenarioRunning = false;
    Json scenario = Json{{"state", "idle"}, {"steps", Json::array()}, {"report", false}};
    fs::path reportJson, reportPdf;

    Impl(std::vector<OpenSimulator> open, PanelOptions o) : options(std::move(o)), table(Table())
    {
        for (const OpenSimulator& s : open) {
            simulators.push_back(std::make_unique<Simulator>());
            simulators.back()->open = s;
        }
        token = options.token.empty() ? RandomToken() : options.token;
    }

    const HSIM_PARAMETER_INFO* Row(const std::string& name) const
    {
        for (const HSIM_PARAMETER_INFO& info : table)
            if (name == info.name)
                return &info;
        return nullptr;
    }

    Simulator* SimulatorOf(const httplib::Request& req, httplib::Response& res)
    {
        const std::string text = req.matches.size() > 1 ? std::string(req.matches[1]) : "";
        if (text.size() > 3 || text.empty()) {
            Refuse(res, 404, "no simulator '" + text + "'");
            return nullptr;
        }
        const size_t id = std::stoul(text);
        if (id >= simulators.size()) {
            Refuse(res, 404, "no simulator " + text + " (there are " + std::to_string(simulators.size()) + ")");
            return nullptr;
        }
        return simulators[id].get();
    }

    size_t IdOf(const Simulator* s) const
    {
        for (size_t i = 0; i < simulators.size(); ++i)
            if (simulators[i].get() == s)
                return i;
        return 0;
    }

    // The identity of a connected simulator, read once.
    void ReadIdentity(Simulator& s)
    {
        {
            std::lock_guard lock(mutex);
            if (!s.serial.empty())
                return;
        }
        if (!HSIMSimIsConnected(s.open.simulator))
            return;
        HSIMUse(s.open.simulator);
        const DeviceIdentity id = ReadDeviceIdentity();
        std::lock_guard lock(mutex);
        s.serial = id.serialNumber;
        s.identity = id.identity;
        s.hardware = id.hardware;
    }

    Json Describe(Simulator& s)
    {
        ReadIdentity(s);
        std::lock_guard lock(mutex);
        const char* serial = HSIMSimGetSerialNumber(s.open.simulator);
        return Json{{"id", IdOf(&s)},
                    {"port", HSIMSimGetPort(s.open.simulator)},
                    {"serial", serial ? serial : s.serial.c_str()},
                    {"connected", HSIMSimIsConnected(s.open.simulator)},
                    {"identity", s.identity},
                    {"hardware", s.hardware}};
    }

    // A row's value as the library reads it back: a number, an array for a
    // row with channels, null where it cannot be read.
    Json ReadValue(Simulator& s, const HSIM_PARAMETER_INFO& info)
    {
        if (!(info.flags & HSIM_PARAMETER_READABLE))
            return nullptr;
        auto one = [&](int channel) -> Json {
            double v = 0;
            const int rc = channel < 0 ? HSIMSimGetParameter(s.open.simulator, info.name, &v)
                                       : HSIMSimGetChannelParameter(s.open.simulator, info.name, channel, &v);
            return rc == 0 ? Json(v) : Json(nullptr);
        };
        if (info.channels == 0)
            return one(-1);
        Json values = Json::array();
        for (int c = 0; c < info.channels; ++c)
            values.push_back(one(c));
        return values;
    }

    // The values the library holds; a row that asks the device is read from
    // it when `askDevice`, else given as last read.
    Json Values(Simulator& s, bool askDevice)
    {
        Json values = Json::object();
        for (const HSIM_PARAMETER_INFO& info : table) {
            if (info.flags & HSIM_PARAMETER_ASKS_DEVICE) {
                if (askDevice && HSIMSimIsConnected(s.open.simulator)) {
                    Json v = ReadValue(s, info);
                    std::lock_guard lock(mutex);
                    s.asked[info.name] = v;
                }
                std::lock_guard lock(mutex);
                values[info.name] = s.asked.contains(info.name) ? s.asked[info.name] : Json(nullptr);
            } else {
                values[info.name] = ReadValue(s, info);
            }
        }
        return values;
    }

    Json Health(Simulator& s)
    {
        HSIM_STREAM_HEALTH h{};
        HSIMSimGetStreamHealth(s.open.simulator, &h);
        Json health = {{"late_answers", h.lateAnswers},
                       {"underruns", nullptr},
                       {"latency_p50_ms", h.latencyP50Ms},
                       {"latency_p99_ms", h.latencyP99Ms},
                       {"latency_max_ms", h.latencyMaxMs},
                       {"transfers", h.transfersSent},
                       {"write_failures", h.writeFailures},
                       {"late_threshold_ms", h.lateThresholdMs},
                       {"realtime", h.realtime == 1}};
        if (s.open.emulator)
            health["underruns"] = s.open.emulator->streamStats().underruns;
        return health;
    }

    Json State(Simulator& s, bool askDevice)
    {
        Json state = Describe(s);
        HSIMUse(s.open.simulator);
        // The function and whether it plays as one: read again when a change
        // came between the two reads.
        int function = HSIMSimGetOutputFunction(s.open.simulator);
        bool playing = HSIMIsPlaying();
        for (int i = 0; i < 3 && function != HSIMSimGetOutputFunction(s.open.simulator); ++i) {
            function = HSIMSimGetOutputFunction(s.open.simulator);
            playing = HSIMIsPlaying();
        }
        state["function"] = {{"code", function}, {"name", FunctionName(function)}};
        state["playing"] = playing;
        state["values"] = Values(s, askDevice);
        state["health"] = Health(s);
        std::lock_guard lock(mutex);
        state["record"] = s.record;
        state["busy"] = scenarioRunning ? Json("a scenario is running") : Json(nullptr);
        return state;
    }

    Json ScenarioStatus()
    {
        std::lock_guard lock(mutex);
        return scenario;
    }

    // Refuses a change while a scenario drives the simulators.
    bool Busy(httplib::Response& res)
    {
        std::lock_guard lock(mutex);
        if (scenarioRunning)
            Refuse(res, 409, "a scenario is running; cancel it or wait for its end");
        return scenarioRunning;
    }

    // The JSON body of a change; null with the response made when it is not.
    std::optional<Json> Body(const httplib::Request& req, httplib::Response& res)
    {
        if (req.body.size() > options.maxJsonBytes) {
            Refuse(res, 413, "the request's body is larger than " + std::to_string(options.maxJsonBytes) + " bytes");
            return std::nullopt;
        }
        try {
            Json body = Json::parse(req.body.empty() ? std::string("{}") : req.body);
            if (!body.is_object()) {
                Refuse(res, 400, "the body is a JSON object");
                return std::nullopt;
            }
            return body;
        } catch (const Json::exception& e) {
            Refuse(res, 400, std::string("malformed JSON: ") + e.what());
            return std::nullopt;
        }
    }

    // A device or library refusal as a response.
    void LibraryRefusal(httplib::Response& res, const std::string& what, int rc)
    {
        if (rc == -1)
            return Refuse(res, 503, what + ": no simulator connected, or the device did not give a command window");
        if (rc == HSIM_ERROR_IO)
            return Refuse(res, 502, what + ": the exchange with the device failed");
        Refuse(res, 400, what + ": refused by the library (code " + std::to_string(rc) +
                             "): it does not fit the other settings or a running test mode");
    }

    // Reads a JSON value for a row; false with the reason.
    bool ValueFor(const HSIM_PARAMETER_INFO& info, const Json& given, double& v, std::string& why)
    {
        const std::string range = TableRangeOf(info);
        if (given.is_string())
            return ReadTableValue(info, given.get<std::string>(), v, why) ||
                   (why = std::string(info.name) + ": " + why, false);
        if (given.is_boolean() && info.kind == HSIM_PARAMETER_BOOL) {
            v = given.get<bool>() ? 1 : 0;
            return true;
        }
        if (!given.is_number())
            return why = std::string(info.name) + ": the value is a number or a name, not " + given.dump(), false;
        v = given.get<double>();
        const bool whole = info.kind != HSIM_PARAMETER_NUMBER;
        if (!std::isfinite(v) || v < info.minimum || v > info.maximum || (whole && v != std::floor(v)) ||
            (info.kind == HSIM_PARAMETER_CHOICE && info.choices[int(v - info.minimum)] == nullptr)) {
            char text[64];
            std::snprintf(text, sizeof text, "%.6g", v);
            why = std::string(info.name) + ": " + text + " is outside " + range;
            return false;
        }
        return true;
    }

    void SetParameter(const httplib::Request& req, httplib::Response& res)
    {
        Simulator* s = SimulatorOf(req, res);
        const auto body = s ? Body(req, res) : std::nullopt;
        if (!body)
            return;
        if (!body->contains("name") || !(*body)["name"].is_string())
            return Refuse(res, 400, "the body names the parameter: {\"name\": ..., \"value\": ...}");
        const std::string name = (*body)["name"];
        const HSIM_PARAMETER_INFO* info = Row(name);
        if (info == nullptr)
            return Refuse(res, 404, "unknown parameter '" + name + "'");
        if (!body->contains("value"))
            return Refuse(res, 400, name + ": no value given");
        int channel = -1;
        if (body->contains("channel") && !(*body)["channel"].is_null()) {
            const Json& c = (*body)["channel"];
            if (info->channels == 0)
                return Refuse(res, 400, name + " has one value, not one per channel");
            if (!c.is_number_integer() || c.get<int>() < 0 || c.get<int>() >= info->channels)
                return Refuse(res, 400, name + ": the channel is 0.." + std::to_string(info->channels - 1));
            channel = c.get<int>();
        }
        double v = 0;
        std::string why;
        if (!ValueFor(*info, (*body)["value"], v, why))
            return Refuse(res, 400, why);
        if (Busy(res))
            return;
        std::lock_guard work(s->work);
        HSIMUse(s->open.simulator);
        const int rc = info->channels > 0 ? HSIMSimSetChannelParameter(s->open.simulator, info->name, channel, v)
                                          : HSIMSimSetParameter(s->open.simulator, info->name, v);
        if (rc != 0)
            return LibraryRefusal(res, name, rc);
        Json value = ReadValue(*s, *info);
        if (info->flags & HSIM_PARAMETER_ASKS_DEVICE) {
            std::lock_guard lock(mutex);
            s->asked[info->name] = value;
        }
        Send(res, 200, Json{{"name", name}, {"value", value}});
    }

    void SetFunction(const httplib::Request& req, httplib::Response& res, bool start)
    {
        Simulator* s = SimulatorOf(req, res);
        const auto body = s ? Body(req, res) : std::nullopt;
        if (!body)
            return;
        int function = 0;
        if (start) {
            const Json& given = body->contains("function") ? (*body)["function"] : Json(nullptr);
            std::optional<int> code;
            if (given.is_string())
                code = ParseFunction(given.get<std::string>());
            else if (given.is_number_integer() && given.get<int>() >= 0 && given.get<int>() <= 255)
                code = ParseFunction(std::to_string(given.get<int>()));
            if (!code)
                return Refuse(res, 400, "unknown output function " + given.dump() + " (one of: " + FunctionList() + ")");
            function = *code;
        }
        if (Busy(res))
            return;
        {
            std::lock_guard work(s->work);
            HSIMUse(s->open.simulator);
            if (const int rc = HSIMSimSetOutputFunction(s->open.simulator, function))
                return LibraryRefusal(res, start ? "start" : "stop", rc);
        }
        Send(res, 200, State(*s, false));
    }

    void LoadRecord(const httplib::Request& req, httplib::Response& res)
    {
        Simulator* s = SimulatorOf(req, res);
        if (s == nullptr)
            return;
        if (!req.is_multipart_form_data())
            return Refuse(res, 415, "a record is sent as multipart/form-data with its files in 'file'");
        const auto files = req.files.equal_range("file");
        const size_t count = size_t(std::distance(files.first, files.second));
        if (count == 0)
            return Refuse(res, 400, "no file in the field 'file'");
        if (count > 8)
            return Refuse(res, 400, "at most 8 files make one record");
        int channel = 0;
        if (req.has_file("channel")) {
            const std::string text = req.get_file_value("channel").content;
            if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), ::isdigit))
                return Refuse(res, 400, "the channel is a number from 0");
            channel = std::stoi(text);
        }
        if (Busy(res))
            return;
        // Each upload in a folder of its own.
        const fs::path folder = directory / ("record-" + std::to_string(++uploads));
        std::error_code error;
        fs::create_directory(folder, error);
        std::string main, names;
        for (auto it = files.first; it != files.second; ++it) {
            const std::string name = UploadName(it->second.filename);
            if (name.empty())
                return Refuse(res, 400, "'" + it->second.filename + "' is not a file name");
            std::ofstream out(folder / name, std::ios::binary);
            if (!(out << it->second.content))
                return Refuse(res, 507, "cannot keep the upload " + name);
            names += (names.empty() ? "" : ", ") + name;
            // A WFDB record is read through its header; otherwise one file.
            if (FileExtension(name) == ".hea" || (main.empty() && count == 1))
                main = name;
        }
        if (main.empty())
            return Refuse(res, 400, "several files make a record only with its WFDB header (.hea): " + names);
        std::lock_guard work(s->work);
        HSIMUse(s->open.simulator);
        std::string why;
        const long samples = LoadIntoLibrary((folder / main).string(), channel, why);
        fs::remove_all(folder, error);
        if (samples < 0)
            return Refuse(res, 400, main + ": " + why);
        Json record = {{"name", main}, {"samples", samples}, {"channel", channel}};
        {
            std::lock_guard lock(mutex);
            s->record = record;
        }
        Send(res, 200, record);
    }

    void PlayRecord(const httplib::Request& req, httplib::Response& res)
    {
        Simulator* s = SimulatorOf(req, res);
        const auto body = s ? Body(req, res) : std::nullopt;
        if (!body)
            return;
        const Json loop = body->contains("loop") ? (*body)["loop"] : Json(true);
        if (!loop.is_boolean())
            return Refuse(res, 400, "'loop' is true or false");
        {
            std::lock_guard lock(mutex);
            if (s->record.is_null())
                return Refuse(res, 409, "no record is loaded: load one first");
        }
        if (Busy(res))
            return;
        {
            std::lock_guard work(s->work);
            HSIMUse(s->open.simulator);
            if (const int rc = HSIMSimSetParameter(s->open.simulator, "file-loop", loop.get<bool>() ? 1 : 0))
                return LibraryRefusal(res, "file-loop", rc);
            if (const int rc = HSIMSimSetOutputFunction(s->open.simulator, OUTPUT_ECG_FILE))
                return LibraryRefusal(res, "play", rc);
        }
        Send(res, 200, State(*s, false));
    }

    void StartScenario(const httplib::Request& req, httplib::Response& res)
    {
        if (!req.is_multipart_form_data() || !req.has_file("file"))
            return Refuse(res, 400, "a scenario is sent as multipart/form-data with its YAML in 'file'");
        ScenarioOptions run;
        if (req.has_file("operator"))
            run.operatorName = req.get_file_value("operator").content;
        if (req.has_file("dut"))
            run.dut = req.get_file_value("dut").content;
        // The scenario file with the files its steps load, in a folder of its own.
        const fs::path folder = directory / ("scenario-" + std::to_string(++uploads));
        std::error_code error;
        fs::create_directory(folder, error);
        const auto files = req.files.equal_range("file");
        if (std::distance(files.first, files.second) > 16)
            return Refuse(res, 400, "at most 16 files: the scenario and what its steps load");
        for (auto it = files.first; it != files.second; ++it) {
            const std::string name = UploadName(it->second.filename.empty() ? "scenario.yaml" : it->second.filename);
            if (name.empty())
                return Refuse(res, 400, "'" + it->second.filename + "' is not a file name");
            std::ofstream out(folder / name, std::ios::binary);
            if (!(out << it->second.content))
                return Refuse(res, 507, "cannot keep the upload " + name);
            if (run.file.empty())
                run.file = (folder / name).string();
        }
        std::unique_lock lock(mutex);
        if (scenarioRunning)
            return Refuse(res, 409, "a scenario is running already");
        if (scenarioThread.joinable())
            scenarioThread.join();
        // The file is checked on the scenario's thread before a step runs; a
        // refusal is answered here.
        scenario = Json{{"state", "checking"}, {"name", fs::path(run.file).filename().string()},
                        {"steps", Json::array()}, {"report", false}, {"message", ""}};
        scenarioRunning = true;
        scenarioCancel = false;
        auto checked = std::make_shared<std::promise<std::string>>();
        auto verdict = checked->get_future();
        scenarioThread = std::thread([this, run, checked] { RunScenarioThread(run, checked); });
        lock.unlock();
        const std::string refusal = verdict.get();
        lock.lock();
        if (!refusal.empty())
            return Refuse(res, 400, refusal);
        Send(res, 202, scenario);
    }

    void RunScenarioThread(ScenarioOptions run, std::shared_ptr<std::promise<std::string>> checked)
    {
        SetThreadCancel(&scenarioCancel);
        std::vector<OpenSimulator> open;
        for (const auto& s : simulators)
            open.push_back(s->open);
        bool answered = false;
        ScenarioObserver observer;
        observer.planned = [&](const std::vector<std::pair<std::string, std::string>>& steps) {
            {
                std::lock_guard lock(mutex);
                Json list = Json::array();
                for (size_t i = 0; i < steps.size(); ++i)
                    list.push_back({{"index", i + 1}, {"kind", steps[i].first}, {"name", steps[i].second},
                                    {"status", "pending"}, {"error", ""}});
                scenario["steps"] = list;
                scenario["state"] = "running";
            }
            answered = true;
            checked->set_value("");
        };
        observer.step = [&](size_t index, const std::string& status, const std::string& error) {
            std::lock_guard lock(mutex);
            if (index < scenario["steps"].size()) {
                scenario["steps"][index]["status"] = status;
                scenario["steps"][index]["error"] = error;
            }
        };
        std::string report, why;
        const int code = RunScenarioOn(run, open, options.emulated, observer, report, why);
        SetThreadCancel(nullptr);
        if (!answered) {
            std::lock_guard lock(mutex);
            scenario["state"] = "idle";
            scenarioRunning = false;
            checked->set_value(why.empty() ? "the scenario did not start" : why);
            return;
        }
        // The report and its PDF for download.
        const fs::path json = directory / "report.json", pdf = directory / "report.pdf";
        std::error_code error;
        fs::remove(pdf, error);
        std::ofstream(json) << report;
        ReportOptions draw{json.string(), pdf.string()};
        const bool drawn = RunReport(draw) == kExitOk;
        std::lock_guard lock(mutex);
        reportJson = json;
        reportPdf = drawn ? pdf : fs::path();
        scenario["report"] = true;
        scenario["state"] = code == kExitOk            ? "passed"
                            : code == kExitStepFailed  ? "failed"
                            : code == kExitInterrupted ? "interrupted"
                                                       : "error";
        scenario["message"] = why;
        scenarioRunning = false;
    }

    void Download(const httplib::Request&, httplib::Response& res, bool pdf)
    {
        fs::path path;
        {
            std::lock_guard lock(mutex);
            if (scenarioRunning)
                return Refuse(res, 409, "the scenario is still running");
            path = pdf ? reportPdf : reportJson;
        }
        std::ifstream in(path, std::ios::binary);
        if (path.empty() || !in)
            return Refuse(res, 404, "no report yet: run a scenario first");
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        res.set_header("Content-Disposition", pdf ? "attachment; filename=\"report.pdf\""
                                                  : "attachment; filename=\"report.json\"");
        res.set_content(content, pdf ? "application/pdf" : "application/json");
    }

    // What the emulated device played, for checks of what it received.
    void Played(const httplib::Request& req, httplib::Response& res)
    {
        Simulator* s = SimulatorOf(req, res);
        if (s == nullptr)
            return;
        if (s->open.emulator == nullptr)
            return Refuse(res, 404, "the simulator is not emulated");
        double seconds = 2;
        if (req.has_param("seconds")) {
            char* end = nullptr;
            const std::string text = req.get_param_value("seconds");
            seconds = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || !(seconds > 0 && seconds <= 10))
                return Refuse(res, 400, "seconds is more than 0 and at most 10");
        }
        const auto played = s->open.emulator->playedMillivolts(size_t(seconds * 40000));
        std::string body = "{\"rate\":40000,\"ac_mv\":[";
        char number[32];
        for (size_t i = 0; i < played.size(); ++i) {
            std::snprintf(number, sizeof number, "%s%.5g", i ? "," : "", played[i].acMv);
            body += number;
        }
        body += "]}";
        res.set_content(body, "application/json");
    }

    Json Description()
    {
        Json parameters = Json::array();
        for (const HSIM_PARAMETER_INFO& info : table) {
            Json row = {{"name", info.name},
                        {"unit", info.unit},
                        {"kind", KindName(info.kind)},
                        {"minimum", info.minimum},
                        {"maximum", info.maximum},
                        {"initial", info.initial},
                        {"channels", info.channels},
                        {"readable", (info.flags & HSIM_PARAMETER_READABLE) != 0},
                        {"selects_output", (info.flags & HSIM_PARAMETER_SELECTS_OUTPUT) != 0},
                        {"range", TableRangeOf(info)}};
            if (info.choices) {
                Json choices = Json::array();
                for (double v = info.minimum; v <= info.maximum; ++v)
                    if (const char* name = info.choices[int(v - info.minimum)])
                        choices.push_back({{"value", int(v)}, {"name", name}});
                row["choices"] = choices;
            }
            parameters.push_back(row);
        }
        Json groups = Json::array();
        std::vector<std::string> grouped = {"output-function"};
        for (const Group& g : Groups()) {
            Json names = Json::array();
            for (const char* name : g.parameters)
                if (Row(name)) {
                    names.push_back(name);
                    grouped.push_back(name);
                }
            if (!names.empty())
                groups.push_back({{"name", g.name}, {"parameters", names}, {"functions", g.functions}});
        }
        Json more = Json::array();
        for (const HSIM_PARAMETER_INFO& info : table)
            if (std::find(grouped.begin(), grouped.end(), info.name) == grouped.end())
                more.push_back(info.name);
        if (!more.empty())
            groups.push_back({{"name", "More"}, {"parameters", more}, {"functions", Json::array()}});
        Json functions = Json::array();
        if (const HSIM_PARAMETER_INFO* f = Row("output-function"))
            for (double v = f->minimum; v <= f->maximum; ++v)
                if (const char* name = f->choices[int(v - f->minimum)])
                    functions.push_back({{"code", int(v)}, {"name", name}});
        return Json{{"version", LibraryVersion()},
                    {"emulator", options.emulated},
                    {"functions", functions},
                    {"parameters", parameters},
                    {"groups", groups},
                    {"paper", {{"mm_per_s", 25}, {"mm_per_mv", 10}}},
                    {"trace_rate", options.traceRate}};
    }

    // The security rules, before any route.
    httplib::Server::HandlerResponse Admit(const httplib::Request& req, httplib::Response& res)
    {
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("X-Frame-Options", "DENY");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("Cache-Control", "no-store");
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'; "
                       "form-action 'self'");
        const std::string host = req.get_header_value("Host");
        auto refuse = [&](int status, const std::string& reason) {
            Refuse(res, status, reason);
            return httplib::Server::HandlerResponse::Handled;
        };
        // A page of another site that a DNS name rebound to this address
        // reaches us with its own Host.
        if (!options.requireToken && !IsLoopback(HostPart(host)))
            return refuse(403, "this panel answers only to loopback names (Host '" + host + "')");
        std::string given = req.get_header_value("X-Hsim-Token");
        if (given.empty())
            given = req.get_param_value("token");
        const bool tokenOk = SameSecret(given, token);
        const bool changes = req.method != "GET" && req.method != "HEAD";
        if ((options.requireToken || changes) && !tokenOk)
            return refuse(403, given.empty() ? "the access token is missing" : "the access token is wrong");
        if (changes) {
            // A browser names the page that sends the request: it must be ours.
            const std::string origin = req.get_header_value("Origin");
            if (!origin.empty() && Lower(origin) != Lower("http://" + host))
                return refuse(403, "a request from another origin (" + origin + ") is refused");
            const std::string site = req.get_header_value("Sec-Fetch-Site");
            if (!site.empty() && site != "same-origin" && site != "none")
                return refuse(403, "a request from another site is refused");
            const std::string type = Lower(req.get_header_value("Content-Type"));
            const bool multipart = req.path == "/api/scenario" || req.path.ends_with("/record");
            if (!multipart && type.rfind("application/json", 0) != 0)
                return refuse(415, "the body is JSON (Content-Type: application/json)");
        }
        return httplib::Server::HandlerResponse::Unhandled;
    }

    // One live event stream: the state about once a second and the trace of
    // each playing simulator about 25 times a second, read from each
    // simulator's signal tap on this thread, never on the streaming thread.
    class Stream {
    public:
        explicit Stream(Impl& panel) : m_Panel(panel)
        {
            for (const auto& s : panel.simulators)
                m_Taps.push_back({HSIMSimTapOpen(s->open.simulator)});
            m_Points.resize(4096);
        }
        ~Stream()
        {
            for (Tap& t : m_Taps)
                HSIMTapClose(t.tap);
        }

        // Writes the next events; false when the stream ends.
        bool Next(httplib::DataSink& sink)
        {
            using Clock = std::chrono::steady_clock;
            if (m_First) {
                m_First = false;
                m_NextState = Clock::now();
                if (!Write(sink, "retry: 2000\n\n"))
                    return false;
            }
            const auto period = std::chrono::duration<double>(1.0 / m_Panel.options.traceUpdatesPerSecond);
            std::this_thread::sleep_for(period);
            if (m_Panel.stopping)
                return false;
            if (Clock::now() >= m_NextState) {
                m_NextState += std::chrono::seconds(1);
                Json state = {{"simulators", Json::array()}, {"scenario", m_Panel.ScenarioStatus()}};
                for (const auto& s : m_Panel.simulators)
                    state["simulators"].push_back(m_Panel.State(*s, false));
                if (!Write(sink, "event: state\ndata: " + state.dump(-1, ' ', false, Json::error_handler_t::replace) +
                                     "\n\n"))
                    return false;
            }
            for (size_t i = 0; i < m_Taps.size(); ++i)
                if (!Trace(i, sink))
                    return false;
            return true;
        }

    private:
        // A simulator's tap and the group of points being reduced to one.
        struct Tap {
            HSIM_TAP* tap;
            unsigned long long lost = 0;
            int count = 0;          // points in the group so far
            double best = 0;        // of them, the one farthest from 0 mV
            double groupStart = 0;  // the time of its first
        };

        static bool Write(httplib::DataSink& sink, const std::string& text)
        {
            return sink.is_writable() && sink.write(text.data(), text.size());
        }

        bool Trace(size_t id, httplib::DataSink& sink)
        {
            Tap& t = m_Taps[id];
            if (t.tap == nullptr)
                return true;
            // Each trace point is the tap's point farthest from 0 mV of its
            // group, so that a short pacing pulse stays in the trace.
            const int per = std::max(1, int(std::lround(4000.0 / m_Panel.options.traceRate)));
            Json mv = Json::array(), pacing = Json::array();
            double start = -1;
            bool restart = false;
            auto flush = [&]() {
                if (mv.empty() && pacing.empty())
                    return true;
                const unsigned long long lost = HSIMTapOverruns(t.tap);
                Json event = {{"id", id},     {"t", std::round(start * 1e6) / 1e6},
                              {"rate", 4000.0 / per}, {"mv", mv},
                              {"pacing", pacing},     {"restart", restart},
                              {"lost", lost - t.lost}};
                t.lost = lost;
                mv = Json::array();
                pacing = Json::array();
                start = -1;
                restart = false;
                return Write(sink, "event: trace\ndata: " + event.dump() + "\n\n");
            };
            for (;;) {
                const int n = HSIMTapRead(t.tap, m_Points.data(), int(m_Points.size()));
                for (int k = 0; k < n; ++k) {
                    const HSIM_TAP_POINT& p = m_Points[size_t(k)];
                    if (p.kind != HSIM_TAP_SAMPLE)
                        continue;
                    if (p.flags & HSIM_TAP_FIRST_OF_RUN) {
                        if (!flush())
                            return false;
                        restart = true;
                        t.count = 0;
                    }
                    if (p.pacingMv != 0)
                        pacing.push_back({{"t", p.time}, {"mv", p.pacingMv}, {"ms", p.pacingMs}});
                    if (t.count == 0) {
                        t.best = p.signalMv;
                        t.groupStart = p.time;
                    } else if (std::fabs(p.signalMv) > std::fabs(t.best)) {
                        t.best = p.signalMv;
                    }
                    if (++t.count == per) {
                        if (start < 0)
                            start = t.groupStart;
                        mv.push_back(std::round(t.best * 1e4) / 1e4);
                        t.count = 0;
                    }
                }
                if (n < int(m_Points.size()))
                    break;
            }
            return flush();
        }

        Impl& m_Panel;
        std::vector<Tap> m_Taps;
        std::vector<HSIM_TAP_POINT> m_Points;
        bool m_First = true;
        std::chrono::steady_clock::time_point m_NextState;
    };

    void Events(const httplib::Request&, httplib::Response& res)
    {
        if (++streams > options.maxStreams) {
            --streams;
            return Refuse(res, 503, "too many live streams open (at most " + std::to_string(options.maxStreams) + ")");
        }
        auto stream = std::make_shared<Stream>(*this);
        res.set_header("X-Accel-Buffering", "no");
        res.set_chunked_content_provider(
            "text/event-stream", [stream](size_t, httplib::DataSink& sink) { return stream->Next(sink); },
            [this](bool) { --streams; });
    }

    void Routes()
    {
        using httplib::Request;
        using httplib::Response;
        server.set_pre_routing_handler([this](const Request& req, Response& res) { return Admit(req, res); });
        server.set_error_handler([](const Request& req, Response& res) {
            if (!res.body.empty())
                return;
            const std::string reason = res.status == 404   ? "no such page: " + req.path
                                       : res.status == 413 ? "the request is larger than the server takes"
                                                           : "the request was refused (HTTP " +
                                                                 std::to_string(res.status) + ")";
            Send(res, res.status, Error(reason));
        });
        server.set_exception_handler([](const Request&, Response& res, std::exception_ptr) {
            Refuse(res, 500, "the server failed to answer the request");
        });
        auto asset = [this](const std::string& path, std::string_view content, const char* type, bool page) {
            server.Get(path, [this, content, type, page](const Request&, Response& res) {
                std::string text(content);
                if (page)
                    for (size_t at; (at = text.find("@HSIM_TOKEN@")) != std::string::npos;)
                        text.replace(at, 12, token);
                res.set_content(text, type);
            });
        };
        asset("/", PanelIndex(), "text/html; charset=utf-8", true);
        asset("/index.html", PanelIndex(), "text/html; charset=utf-8", true);
        asset("/panel.js", PanelScript(), "text/javascript; charset=utf-8", false);
        asset("/panel.css", PanelStyle(), "text/css; charset=utf-8", false);
        server.Get("/api/panel", [this](const Request&, Response& res) { Send(res, 200, Description()); });
        server.Get("/api/simulators", [this](const Request&, Response& res) {
            Json list = Json::array();
            for (const auto& s : simulators)
                list.push_back(Describe(*s));
            Send(res, 200, list);
        });
        server.Get(R"(/api/simulators/([0-9]+)/state)", [this](const Request& req, Response& res) {
            if (Simulator* s = SimulatorOf(req, res))
                Send(res, 200, State(*s, true));
        });
        server.Get(R"(/api/simulators/([0-9]+)/emulator/played)",
                   [this](const Request& req, Response& res) { Played(req, res); });
        server.Post(R"(/api/simulators/([0-9]+)/parameter)",
                    [this](const Request& req, Response& res) { SetParameter(req, res); });
        server.Post(R"(/api/simulators/([0-9]+)/start)",
                    [this](const Request& req, Response& res) { SetFunction(req, res, true); });
        server.Post(R"(/api/simulators/([0-9]+)/stop)",
                    [this](const Request& req, Response& res) { SetFunction(req, res, false); });
        server.Post(R"(/api/simulators/([0-9]+)/record)",
                    [this](const Request& req, Response& res) { LoadRecord(req, res); });
        server.Post(R"(/api/simulators/([0-9]+)/play-record)",
                    [this](const Request& req, Response& res) { PlayRecord(req, res); });
        server.Get("/api/scenario", [this](const Request&, Response& res) { Send(res, 200, ScenarioStatus()); });
        server.Post("/api/scenario", [this](const Request& req, Response& res) { StartScenario(req, res); });
        server.Post("/api/scenario/cancel", [this](const Request& req, Response& res) {
            if (!Body(req, res))
                return;
            scenarioCancel = true;
            Send(res, 200, ScenarioStatus());
        });
        server.Get("/api/scenario/report.json",
                   [this](const Request& req, Response& res) { Download(req, res, false); });
        server.Get("/api/scenario/report.pdf", [this](const Request& req, Response& res) { Download(req, res, true); });
        server.Get("/api/events", [this](const Request& req, Response& res) { Events(req, res); });
    }
};

Panel::Panel(std::vector<OpenSimulator> simulators, PanelOptions options)
    : m(std::make_unique<Impl>(std::move(simulators), std::move(options)))
{
}

Panel::~Panel() { Stop(); }

bool Panel::Start(std::string& why)
{
    char pattern[] = "/tmp/hsimctl-serve-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return why = std::string("cannot make a scratch folder: ") + std::strerror(errno), false;
    m->directory = pattern;
    m->Routes();
    m->server.set_payload_max_length(m->options.maxUploadBytes);
    m->server.set_read_timeout(30, 0);
    m->server.set_write_timeout(5, 0);
    // Each event stream holds a thread; the others answer the requests.
    const size_t threads = size_t(m->options.maxStreams) + 8;
    m->server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    if (m->options.port == 0) {
        m->port = m->server.bind_to_any_port(m->options.host);
        if (m->port < 0)
            return why = "cannot listen on " + m->options.host + ": " + std::strerror(errno), false;
    } else if (!m->server.bind_to_port(m->options.host, m->options.port)) {
        return why = "cannot listen on " + m->options.host + ":" + std::to_string(m->options.port) + ": " +
                     std::strerror(errno),
               false;
    } else {
        m->port = m->options.port;
    }
    m->listener = std::thread([this] { m->server.listen_after_bind(); });
    // Answering from the moment Start returns.
    for (int i = 0; i < 500 && !m->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
}

void Panel::Stop()
{
    if (m->stopping.exchange(true))
        return;
    m->scenarioCancel = true;
    {
        std::unique_lock lock(m->mutex);
        if (m->scenarioThread.joinable()) {
            lock.unlock();
            m->scenarioThread.join();
        }
    }
    m->server.stop();
    if (m->listener.joinable())
        m->listener.join();
    if (!m->directory.empty()) {
        std::error_code error;
        fs::remove_all(m->directory, error);
    }
}

int Panel::port() const { return m->port; }

const std::string& Panel::token() const { return m->token; }

std::string Panel::url() const
{
    const std::string& host = m->options.host;
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return "http://" + shown + ":" + std::to_string(m->port) + "/" +
           (m->options.requireToken ? "?token=" + m->token : "");
}

}  // namespace hsimctl

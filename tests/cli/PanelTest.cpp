// The front panel's server alone, as a client of its HTTP interface sees it,
// on the built-in emulator: bad requests refused with a reason and nothing
// changed, the token, origin and Host rules, live streams for two clients
// and one that goes away, and a scenario run from the panel.
#include "Panel.h"
#include "Emulator.h"
#include "WaitUntil.h"

#include "hsim_ext.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <atomic>
#include <cmath>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Json = nlohmann::json;
using hsimctl::Panel;
using hsimctl::PanelOptions;

class PanelServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        hsimctl::ConnectOptions connect;
        connect.emulator = true;
        std::string why;
        int code = 0;
        session_ = hsimctl::Session::Open(connect, why, code);
        ASSERT_TRUE(session_) << why;
    }
    void TearDown() override
    {
        panel_.reset();
        session_.reset();
    }
    void Serve(PanelOptions options = {})
    {
        options.port = 0;
        options.emulated = true;
        options.maxUploadBytes = 1 << 20;
        options.maxStreams = 3;
        panel_ = std::make_unique<Panel>(
            std::vector<hsimctl::OpenSimulator>{{session_->simulator(), session_->emulator()}}, options);
        std::string why;
        ASSERT_TRUE(panel_->Start(why)) << why;
        client_ = std::make_unique<httplib::Client>("127.0.0.1", panel_->port());
        client_->set_read_timeout(20, 0);
    }
    httplib::Headers Headers() const
    {
        return {{"X-Hsim-Token", panel_->token()}, {"Origin", "http://127.0.0.1:" + std::to_string(panel_->port())}};
    }
    httplib::Result Post(const std::string& path, const std::string& body)
    {
        return client_->Post(path.c_str(), Headers(), body, "application/json");
    }
    double Get(const char* name)
    {
        double v = NAN;
        HSIMSimGetParameter(session_->simulator(), name, &v);
        return v;
    }

    std::unique_ptr<hsimctl::Session> session_;
    std::unique_ptr<Panel> panel_;
    std::unique_ptr<httplib::Client> client_;
};

// Each bad request gets a 4xx with a reason, and the simulator keeps every
// setting it had.
TEST_F(PanelServer, BadRequestsAreRefusedWithAReasonAndChangeNothing)
{
    Serve();
    const double frequency = Get("frequency"), amplitude = Get("amplitude"), pattern = Get("pattern-227");
    const std::string parameter = "/api/simulators/0/parameter";
    const struct {
        std::string path, body, type;
        int status;
        std::string reason;
    } rows[] = {
        {parameter, "{\"name\": \"frequency\", \"value\": ", "application/json", 400, "malformed JSON"},
        {parameter, "[1, 2]", "application/json", 400, "JSON object"},
        {parameter, R"({"name": "loudness", "value": 1})", "application/json", 404, "unknown parameter 'loudness'"},
        {parameter, R"({"name": "frequency", "value": 900})", "application/json", 400, "900 is outside 0.017..500"},
        {parameter, R"({"name": "frequency", "value": "2 parsecs"})", "application/json", 400, "frequency"},
        {parameter, R"({"name": "amplitude", "value": -10.5})", "application/json", 400, "outside"},
        {parameter, R"({"name": "pattern-227", "value": 1.5})", "application/json", 400, "outside"},
        {parameter, R"({"name": "noise", "value": 7})", "application/json", 400, "outside"},
        {parameter, R"({"name": "dc-offset", "channel": 4, "value": 0})", "application/json", 400, "channel is 0..3"},
        {parameter, R"({"name": "frequency", "channel": 0, "value": 2})", "application/json", 400, "one value"},
        {parameter, R"({"name": "frequency"})", "application/json", 400, "no value"},
        {parameter, "{\"name\": \"frequency\", \"value\": 2}", "text/plain", 415, "JSON"},
        {parameter, "{\"name\": \"" + std::string(100000, 'x') + "\", \"value\": 1}", "application/json", 413, "larger"},
        {"/api/simulators/7/parameter", R"({"name": "frequency", "value": 2})", "application/json", 404, "no simulator 7"},
        {"/api/simulators/0/start", R"({"function": "waltz"})", "application/json", 400, "unknown output function"},
        {"/api/simulators/0/play-record", "{}", "application/json", 409, "no record is loaded"},
        {"/api/simulators/0/record", std::string(2 << 20, 'x'), "multipart/form-data; boundary=b", 413, "larger"},
    };
    for (const auto& row : rows) {
        const auto res = client_->Post(row.path.c_str(), Headers(), row.body, row.type.c_str());
        ASSERT_TRUE(res) << row.body.substr(0, 60);
        EXPECT_EQ(res->status, row.status) << row.body.substr(0, 60) << ": " << res->body;
        const Json reason = Json::parse(res->body, nullptr, false);
        ASSERT_TRUE(reason.is_object() && reason.contains("error")) << res->body;
        EXPECT_NE(reason["error"].get<std::string>().find(row.reason), std::string::npos)
            << row.body.substr(0, 60) << ": " << reason["error"];
    }
    // An upload that is not a record, and one with a path for a name.
    const httplib::MultipartFormDataItems junk = {{"file", "this is, not\na record of, numbers\n", "beat.csv", "text/csv"}};
    auto res = client_->Post("/api/simulators/0/record", Headers(), junk);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400) << res->body;
    EXPECT_NE(res->body.find("beat.csv"), std::string::npos) << res->body;
    const httplib::MultipartFormDataItems climbing = {{"file", "0\n1\n", "../../escape.csv", "text/csv"},
                                                      {"file", "0\n1\n", "..", "text/csv"}};
    res = client_->Post("/api/simulators/0/record", Headers(), climbing);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400) << res->body;
    // Nothing outside the page's own files is served.
    for (const char* path : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/panel/../Panel.cpp", "/etc/passwd",
                             "/api/../../../etc/passwd"}) {
        res = client_->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_GE(res->status, 400) << path;
        EXPECT_LT(res->status, 500) << path;
        EXPECT_EQ(res->body.find("root:"), std::string::npos) << path;
    }
    EXPECT_EQ(Get("frequency"), frequency);
    EXPECT_EQ(Get("amplitude"), amplitude);
    EXPECT_EQ(Get("pattern-227"), pattern);
    EXPECT_EQ(HSIMSimGetOutputFunction(session_->simulator()), 0);
    EXPECT_FALSE(session_->emulator()->streamStats().outputOn);
}

// A change needs the token and, from a browser, the server's own origin; on
// loopback the Host must be a loopback name; with requireToken every request
// needs the token.
TEST_F(PanelServer, TokenOriginAndHostRules)
{
    Serve();
    const std::string self = "http://127.0.0.1:" + std::to_string(panel_->port());
    const std::string start = R"({"function": "square"})";
    const struct {
        const char* why;
        httplib::Headers headers;
        int status;
    } refused[] = {
        {"no token", {{"Origin", self}}, 403},
        {"wrong token", {{"X-Hsim-Token", std::string(panel_->token().size(), '0')}, {"Origin", self}}, 403},
        {"another origin", {{"X-Hsim-Token", panel_->token()}, {"Origin", "http://evil.example"}}, 403},
        {"another port", {{"X-Hsim-Token", panel_->token()}, {"Origin", "http://127.0.0.1:1"}}, 403},
        {"cross-site fetch", {{"X-Hsim-Token", panel_->token()}, {"Sec-Fetch-Site", "cross-site"}}, 403},
        {"rebound name", {{"X-Hsim-Token", panel_->token()}, {"Host", "evil.example"}}, 403},
    };
    for (const auto& row : refused) {
        const auto res = client_->Post("/api/simulators/0/start", row.headers, start, "application/json");
        ASSERT_TRUE(res) << row.why;
        EXPECT_EQ(res->status, row.status) << row.why << ": " << res->body;
        EXPECT_EQ(HSIMSimGetOutputFunction(session_->simulator()), 0) << row.why;
    }
    // A page of a rebound name cannot read the page (and its token) either.
    auto res = client_->Get("/", {{"Host", "evil.example:80"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403);
    EXPECT_EQ(res->body.find(panel_->token()), std::string::npos);
    // The page carries the token; a script without a browser (no Origin) with it is served.
    res = client_->Get("/");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find(panel_->token()), std::string::npos);
    res = client_->Post("/api/simulators/0/start", {{"X-Hsim-Token", panel_->token()}}, start, "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(HSIMSimGetOutputFunction(session_->simulator()), OUTPUT_SQUARE);

    // Every request needs the token where the panel is open to the network.
    panel_.reset();
    PanelOptions remote;
    remote.requireToken = true;
    Serve(remote);
    for (const char* path : {"/", "/panel.js", "/api/simulators", "/api/events"}) {
        res = client_->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 403) << path;
    }
    res = client_->Get(("/?token=" + panel_->token()).c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(panel_->url().find("token=" + panel_->token()), std::string::npos);
}

// Reads the events of a live stream until `enough` says so.
void ReadEvents(int port, const std::function<bool(const std::string&, const Json&)>& enough)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10, 0);
    std::string buffer;
    client.Get("/api/events", [&](const char* data, size_t size) {
        buffer.append(data, size);
        for (size_t end; (end = buffer.find("\n\n")) != std::string::npos; buffer.erase(0, end + 2)) {
            const std::string block = buffer.substr(0, end);
            const size_t e = block.find("event: "), d = block.find("data: ");
            if (e == std::string::npos || d == std::string::npos)
                continue;
            const std::string kind = block.substr(e + 7, block.find('\n', e) - e - 7);
            if (enough(kind, Json::parse(block.substr(d + 6))))
                return false;
        }
        return true;
    });
}

// Two clients read the live trace at once, each whole and in time order; a
// third that goes away in the middle of its stream frees its place.
TEST_F(PanelServer, TwoLiveClientsAndOneThatLeaves)
{
    Serve();
    // A 1 Hz square of 2 mV peak to peak: the trace holds both levels, +-1 mV.
    ASSERT_EQ(Post("/api/simulators/0/parameter", R"({"name": "frequency", "value": 1})")->status, 200);
    ASSERT_EQ(Post("/api/simulators/0/parameter", R"({"name": "amplitude", "value": 2})")->status, 200);
    ASSERT_EQ(Post("/api/simulators/0/start", R"({"function": "square"})")->status, 200);
    // The third client: a socket that reads a little of its stream and closes.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(panel_->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(write(s, request.data(), request.size()), ssize_t(request.size()));
    char some[256];
    ASSERT_GT(read(s, some, sizeof some), 0);
    close(s);

    struct Seen {
        int states = 0;
        double seconds = 0, low = 0, high = 0, gap = 0;
        double next = -1;
    };
    Seen seen[2];
    auto reader = [&](Seen& mine) {
        ReadEvents(panel_->port(), [&](const std::string& kind, const Json& data) {
            if (kind == "state")
                ++mine.states;
            if (kind == "trace" && !data["restart"].get<bool>()) {
                const double t = data["t"], rate = data["rate"];
                if (mine.next >= 0)
                    mine.gap = std::max(mine.gap, std::fabs(t - mine.next));
                mine.next = t + double(data["mv"].size()) / rate;
                for (double v : data["mv"]) {
                    mine.low = std::min(mine.low, v);
                    mine.high = std::max(mine.high, v);
                }
                mine.seconds += double(data["mv"].size()) / rate;
            }
            return mine.seconds >= 2.5 && mine.states >= 2;
        });
    };
    std::thread first(reader, std::ref(seen[0])), second(reader, std::ref(seen[1]));
    first.join();
    second.join();
    for (const Seen& mine : seen) {
        EXPECT_GE(mine.seconds, 2.5);
        EXPECT_GE(mine.states, 2);
        EXPECT_LT(mine.gap, 0.002) << "the trace has a hole";
        EXPECT_NEAR(mine.high, 1.0, 0.05);
        EXPECT_NEAR(mine.low, -1.0, 0.05);
    }
    // Every place is free again: as many streams as the panel allows open.
    EXPECT_TRUE(WaitUntil([&] {
        int opened = 0;
        for (int i = 0; i < 3; ++i)
            ReadEvents(panel_->port(), [&](const std::string& kind, const Json&) { return kind == "state" && ++opened; });
        return opened == 3;
    }, 10000));
}

// A WFDB record uploaded as its header and signal file loads and plays: a
// 1 Hz square of +-1 mV (gain 1000 per mV) at 500 samples/s.
TEST_F(PanelServer, AnUploadedWfdbRecordPlays)
{
    Serve();
    std::string data;
    for (int i = 0; i < 1000; ++i) {
        const int16_t v = (i / 250) % 2 == 0 ? 1000 : -1000;
        data.append(reinterpret_cast<const char*>(&v), 2);  // little-endian, as format 16 is
    }
    const httplib::MultipartFormDataItems record = {
        {"file", "sq 1 500 1000\nsq.dat 16 1000/mV 16 0 0 0 0 II\n", "sq.hea", "text/plain"},
        {"file", data, "sq.dat", "application/octet-stream"},
        {"channel", "0", "", ""}};
    auto res = client_->Post("/api/simulators/0/record", Headers(), record);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(Json::parse(res->body)["name"], "sq.hea");
    res = Post("/api/simulators/0/play-record", R"({"loop": true})");
    ASSERT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(Json::parse(res->body)["function"]["code"], OUTPUT_ECG_FILE);
    hsimemu::Emulator& emulator = *session_->emulator();
    emulator.clearPlayed();
    ASSERT_TRUE(WaitUntil([&] { return emulator.playedSamples().size() >= 60000; }, 10000));
    double low = 0, high = 0;
    for (const auto& sample : emulator.playedMillivolts()) {
        low = std::min(low, sample.acMv);
        high = std::max(high, sample.acMv);
    }
    EXPECT_NEAR(high, 1.0, 0.05);
    EXPECT_NEAR(low, -1.0, 0.05);
}

// A scenario uploaded to the panel runs its steps, the page follows them,
// and its report is there to download; while it runs, the panel changes
// nothing itself.
TEST_F(PanelServer, ScenarioRunsAndItsReportDownloads)
{
    Serve();
    const std::string yaml = "name: Panel run\nsteps:\n"
                             "  - set: {function: square, rate: 2Hz, amplitude: 1mV}\n"
                             "  - play: 2s\n"
                             "  - check: {failed-writes: 0}\n"
                             "  - stop\n";
    auto res = client_->Post("/api/scenario", Headers(),
                             httplib::MultipartFormDataItems{{"file", yaml, "run.yaml", "application/yaml"},
                                                             {"operator", "A. Tester", "", ""}});
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 202) << res->body;
    res = Post("/api/simulators/0/parameter", R"({"name": "amplitude", "value": 2})");
    EXPECT_EQ(res->status, 409) << res->body;
    Json status;
    ASSERT_TRUE(WaitUntil([&] {
        status = Json::parse(client_->Get("/api/scenario")->body);
        return status["state"] != "running";
    }, 20000));
    EXPECT_EQ(status["state"], "passed") << status.dump();
    ASSERT_EQ(status["steps"].size(), 4u);
    for (const auto& step : status["steps"])
        EXPECT_EQ(step["status"], "passed") << step.dump();
    const Json report = Json::parse(client_->Get("/api/scenario/report.json")->body);
    EXPECT_EQ(report["scenario"], "Panel run");
    EXPECT_EQ(report["operator"], "A. Tester");
    EXPECT_EQ(report["steps"][0]["settings"]["function"], "square");
    res = client_->Get("/api/scenario/report.pdf");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body.rfind("%PDF", 0), 0u);
    EXPECT_FALSE(session_->emulator()->streamStats().outputOn);

    // A reading of the device under test cannot be asked from the panel:
    // not judged, never waited for at the server's terminal, never a pass.
    res = client_->Post("/api/scenario", Headers(),
                        httplib::MultipartFormDataItems{
                            {"file",
                             "requirement: r\nsources: [{id: s, cite: c}]\nsteps:\n  - pause: look\n"
                             "  - measure: {id: m, quantity: heart rate, expect: {from: 1, to: 2}, source: s}\n",
                             "judge.yaml", "application/yaml"}});
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 202) << res->body;
    ASSERT_TRUE(WaitUntil([&] {
        status = Json::parse(client_->Get("/api/scenario")->body);
        return status["state"] != "running";
    }, 10000));
    EXPECT_EQ(status["state"], "failed") << status.dump();
    EXPECT_EQ(status["steps"][1]["status"], "not judged") << status.dump();

    // Files outside the scenario's folder are refused before a step runs.
    for (const char* step : {"load: {file: ../../etc/passwd}", "record: {seconds: 1, output: /tmp/x.csv}"}) {
        res = client_->Post("/api/scenario", Headers(),
                            httplib::MultipartFormDataItems{
                                {"file", std::string("steps:\n  - ") + step + "\n", "bad.yaml", "application/yaml"}});
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << step << ": " << res->body;
        EXPECT_NE(res->body.find("outside the scenario's folder"), std::string::npos) << res->body;
    }
}

}  // namespace

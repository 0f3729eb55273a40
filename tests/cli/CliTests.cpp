// hsimctl end to end: the program run as a user runs it, against an emulator
// that the test holds (so what the device was left with can be looked at
// after the program has ended), or its own built-in emulator.
#include "Commands.h"
#include "Emulator.h"
#include "Settings.h"
#include "Sha256.h"
#include "Units.h"
#include "WaitUntil.h"

#include "hsim_ext.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <csignal>
#include <ctime>
#include <regex>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using hsimctl::Dimension;
using hsimctl::ParseQuantity;

// Every parameter of the library is an option, whatever hsimctl calls it, and
// its help and its refusals give the library's range or choices: nothing in
// hsimctl restates them. (The output function is the "function" setting.)
TEST(Settings, EveryLibraryParameterIsAnOptionWithTheLibrarysRange)
{
    const int count = HSIMGetParameterCount();
    ASSERT_GT(count, 0);
    std::map<std::string, int> rowsOfOption;
    for (int i = 0; i < count; ++i) {
        HSIM_PARAMETER_INFO info;
        ASSERT_EQ(HSIMGetParameterInfo(i, &info), 0);
        ++rowsOfOption[hsimctl::OptionFor(info.name)];
    }
    for (int i = 0; i < count; ++i) {
        HSIM_PARAMETER_INFO info;
        ASSERT_EQ(HSIMGetParameterInfo(i, &info), 0);
        SCOPED_TRACE(info.name);
        const std::string option = hsimctl::OptionFor(info.name);
        const hsimctl::Parameter* p = hsimctl::FindParameter(option);
        const std::string help = option == "function" ? hsimctl::FunctionList() : p ? p->help : "";
        ASSERT_TRUE(option == "function" || p != nullptr);
        if (info.kind == HSIM_PARAMETER_BOOL || info.maximum - info.minimum > 1e9)
            continue;  // on/off, or any whole number: no range to give
        std::string range;
        if (info.kind == HSIM_PARAMETER_CHOICE) {
            for (int v = 0; v <= info.maximum - info.minimum; ++v) {
                if (info.choices[v] != nullptr) {
                    EXPECT_NE(help.find(info.choices[v]), std::string::npos) << help;
                }
            }
            range = info.choices[1];
        } else {
            char text[96];
            std::snprintf(text, sizeof text, "%g..%g%s%s", info.minimum, info.maximum, *info.unit ? " " : "",
                          info.unit);
            range = text;
            EXPECT_NE(help.find(range), std::string::npos) << help;
        }
        if (rowsOfOption[option] > 1 || option == "function")
            continue;  // one option with several values: its own syntax
        // One past the top, in the parameter's own unit; on one channel of a
        // parameter of each channel.
        const double above = info.kind == HSIM_PARAMETER_NUMBER ? info.maximum * 1.001 + 0.001 : info.maximum + 1;
        const std::string value = info.kind == HSIM_PARAMETER_CHOICE ? "none-of-them" : std::to_string(above) + info.unit;
        for (const std::string& given : {value, std::string(info.channels ? "1:" : "") + value}) {
            std::string why;
            EXPECT_FALSE(p->read(given, std::nullopt, why)) << given;
            EXPECT_NE(why.find(range), std::string::npos) << why;
        }
    }
}

TEST(Units, QuantitiesInTheBaseUnit)
{
    const struct {
        const char* text;
        Dimension dimension;
        double expected;  // NAN: refused
    } rows[] = {
        {"1mV", Dimension::Voltage, 1.0},       {"500uV", Dimension::Voltage, 0.5},
        {"0.2 V", Dimension::Voltage, 200.0},   {"-2mv", Dimension::Voltage, -2.0},
        {"75bpm", Dimension::Frequency, 1.25},  {"1.25Hz", Dimension::Frequency, 1.25},
        {"1.25hz", Dimension::Rate, 75.0},      {"70ppm", Dimension::Rate, 70.0},
        {"100ms", Dimension::Time, 100.0},      {"1s", Dimension::Time, 1000.0},
        {"250us", Dimension::Time, 0.25},       {"2min", Dimension::Duration, 120.0},
        {"500ms", Dimension::Duration, 0.5},    {"7", Dimension::Voltage, 7.0},
        {"1MV", Dimension::Voltage, NAN},       {"5parsecs", Dimension::Time, NAN},
        {"1mV", Dimension::Time, NAN},          {"nan", Dimension::Number, NAN},
        {"inf mV", Dimension::Voltage, NAN},    {"", Dimension::Number, NAN},
        {"1Ms", Dimension::Time, NAN},
    };
    for (const auto& row : rows) {
        const auto value = ParseQuantity(row.text, row.dimension);
        if (std::isnan(row.expected))
            EXPECT_FALSE(value) << row.text;
        else
            EXPECT_NEAR(value.value_or(NAN), row.expected, 1e-12) << row.text;
    }
}

// The status line never reaches the terminal's last column, so it never
// wraps into a new line; a character of several bytes takes one column.
TEST(Session, StatusLineFitsTheTerminal)
{
    const struct {
        const char* line;
        size_t columns;
        const char* shown;
    } rows[] = {
        {"playing ecg", 80, "playing ecg"}, {"playing ecg", 8, "playing"},
        {"500 \u00b5V | late 0", 8, "500 \u00b5V "}, {"abc", 4, "abc"}, {"abcd", 4, "abc"}, {"abc", 0, "a"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(hsimctl::FitToWidth(row.line, row.columns), row.shown) << row.line << " in " << row.columns;
}

// A plot leaves out a DC channel that stays at 0 mV; files keep both.
TEST(Signals, PlotsLeaveOutAQuietDcChannel)
{
    const hsimctl::Signal ac{"AC", 1000, {0.5, 1.0}, ""}, quiet{"DC", 1000, {0.0, 0.0}, ""},
        paced{"DC", 1000, {0.0, 2.0}, ""};
    const struct {
        const char* output;
        hsimctl::Signal dc;
        size_t kept;
    } rows[] = {{"a.png", quiet, 1}, {"a.svg", paced, 2}, {"a.csv", quiet, 2}, {"a.txt", quiet, 2}};
    for (const auto& row : rows) {
        std::vector<hsimctl::Signal> signals = {ac, row.dc};
        hsimctl::DropQuietDc(row.output, signals);
        EXPECT_EQ(signals.size(), row.kept) << row.output;
    }
}

// The test vectors of FIPS 180-2, fed whole and in uneven pieces.
TEST(Sha256, PublishedVectors)
{
    const struct {
        std::string message;
        const char* digest;
    } rows[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& row : rows) {
        hsimctl::Sha256 whole;
        whole.Update(row.message);
        EXPECT_EQ(whole.FinishHex(), row.digest) << row.message.size() << " bytes";
        hsimctl::Sha256 pieces;
        for (size_t at = 0, n = 1; at < row.message.size(); at += n, n = n * 7 % 193 + 1)
            pieces.Update(std::string_view(row.message).substr(at, n));
        EXPECT_EQ(pieces.FinishHex(), row.digest) << row.message.size() << " bytes in pieces";
    }
}

class Hsimctl : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hsimctl-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        if (emulator_)
            emulator_->stop();
        std::filesystem::remove_all(dir_);
    }

    // An emulator the test holds, published in the test's directory.
    hsimemu::Emulator& StartEmulator()
    {
        hsimemu::Options options;
        options.directory = dir_;
        options.port = 0;
        emulator_ = std::make_unique<hsimemu::Emulator>(options);
        EXPECT_TRUE(emulator_->start());
        return *emulator_;
    }
    std::vector<std::string> AtTestDevice() const
    {
        return {"--device-format", dir_ + "/ttyACM%d", "--lock-dir", dir_ + "/lock", "--port", "0"};
    }

    pid_t Spawn(std::vector<std::string> args)
    {
        args.insert(args.begin(), HSIMCTL_PATH);
        const std::string out = dir_ + "/stdout", err = dir_ + "/stderr";
        const pid_t pid = fork();
        if (pid == 0) {
            freopen(out.c_str(), "w", stdout);
            freopen(err.c_str(), "w", stderr);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }
    static int Wait(pid_t pid)
    {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }
    int Run(const std::vector<std::string>& args) { return Wait(Spawn(args)); }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(dir_ + "/" + name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::vector<double>> ReadCsv(const std::string& name) const
    {
        std::ifstream in(dir_ + "/" + name);
        std::string line;
        std::getline(in, line);  // names
        std::vector<std::vector<double>> rows;
        while (std::getline(in, line)) {
            std::vector<double> row;
            std::stringstream fields(line);
            for (std::string field; std::getline(fields, field, ',');)
                row.push_back(std::stod(field));
            rows.push_back(row);
        }
        return rows;
    }
    // Output off, every DC offset at 0 mV, the port's lock released.
    void ExpectDeviceLeftAtZero(const std::string& when)
    {
        EXPECT_FALSE(emulator_->streamStats().outputOn) << when;
        const auto block = emulator_->controlBlock();
        for (int offset : {34, 42, 50, 58})
            EXPECT_EQ(block[offset], 0) << when << ": DC offset byte " << offset;
        EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/lock")) << when << ": a lock file is left";
    }

    std::string dir_;
    std::unique_ptr<hsimemu::Emulator> emulator_;
};

// --serial finds the simulator wherever it is: of two, only the one with the
// serial number asked for plays, and the other is left free.
TEST_F(Hsimctl, SerialNumberChoosesTheSimulator)
{
    std::unique_ptr<hsimemu::Emulator> others[2];
    for (int i = 0; i < 2; ++i) {
        hsimemu::Options options;
        options.directory = dir_;
        options.port = 1 + i;
        options.identity.number1 = uint16_t(200 + i);
        others[i] = std::make_unique<hsimemu::Emulator>(options);
        ASSERT_TRUE(others[i]->start());
    }
    // Model characters "SE", codes 01 AB, number2 07, number1 201.
    const std::vector<std::string> args = {"--device-format", dir_ + "/ttyACM%d", "--lock-dir", dir_ + "/lock",
                                           "--serial",        "HSE01AB-070201",   "play",       "sine",
                                           "--for",           "0.5s"};
    EXPECT_EQ(Run(args), 0) << Read("stderr");
    EXPECT_EQ(others[0]->streamStats().transfers, 0u);
    EXPECT_GT(others[1]->streamStats().transfers, 10u);
    EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/lock")) << "every port released";
    // The upload runs on a thread of its own, which drives the same simulator.
    std::vector<std::string> upload(args.begin(), args.begin() + 6);
    upload.insert(upload.end(), {"upload", "sine", "--rate", "10Hz"});
    EXPECT_EQ(Run(upload), 0) << Read("stderr");
    EXPECT_FALSE(others[0]->blockOutputOn());
    EXPECT_TRUE(others[1]->blockOutputOn());
    std::vector<std::string> missing = args;
    missing[5] = "HSE01AB-070999";
    missing.insert(missing.begin(), {"--timeout", "1"});
    EXPECT_EQ(Run(missing), 3);
    EXPECT_NE(Read("stderr").find("HSE01AB-070999"), std::string::npos);
}

// However play ends, the device is left at 0 mV and the port released: Ctrl-C
// ends an open-ended play normally, a signal before the time is up is an
// interruption, and a refused setting is a failure.
TEST_F(Hsimctl, PlayAlwaysLeavesTheDeviceAtZero)
{
    hsimemu::Emulator& emulator = StartEmulator();
    const struct {
        int signal;  // 0: none sent
        std::vector<std::string> command;
        int exitCode;
    } rows[] = {
        {SIGINT, {"play", "ecg", "--pacing", "2mV", "--dc-offset", "1:300mV"}, 0},
        {SIGTERM, {"play", "sine", "--for", "60s", "--dc-offset", "300mV"}, 130},
        // Synchronised pacing needs a beat rate of 10..360 per minute.
        {0, {"play", "ecg", "--dc-offset", "2:300mV", "--rate", "5bpm", "--pacing-rate", "sync"}, 2},
        {0, {"play", "ecg", "--for", "0.3s"}, 0},
    };
    for (const auto& row : rows) {
        const std::string name = row.command[1] + " signal " + std::to_string(row.signal);
        emulator.clearStreamStats();
        std::vector<std::string> args = AtTestDevice();
        args.insert(args.end(), row.command.begin(), row.command.end());
        const pid_t pid = Spawn(args);
        if (row.signal) {
            ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().transfers > 20; }, 10000)) << name;
            kill(pid, row.signal);
        }
        EXPECT_EQ(Wait(pid), row.exitCode) << name << ": " << Read("stderr");
        ExpectDeviceLeftAtZero(name);
        if (row.exitCode == 2) {
            EXPECT_NE(Read("stderr").find("pacing-rate sync"), std::string::npos) << "the refusal names the setting";
        }
    }
}

TEST_F(Hsimctl, ExitCodes)
{
    EXPECT_EQ(Run({"play", "nosuch"}), 2);
    EXPECT_EQ(Run({"play", "ecg", "--rate", "75 furlongs"}), 2);
    EXPECT_EQ(Run({"render", "ecg", "-o", dir_ + "/x.doc"}), 2);
    EXPECT_EQ(Run({"plot", dir_ + "/missing.csv", "-o", dir_ + "/x.png"}), 2);
    std::vector<std::string> absent = AtTestDevice();  // no emulator published
    absent.insert(absent.end(), {"--timeout", "300ms", "info"});
    EXPECT_EQ(Run(absent), 3);
    EXPECT_EQ(Run({"--help"}), 0);
    // A report with a field of the wrong kind is refused, not a crash.
    std::ofstream(dir_ + "/odd.json") << R"({"steps": [{"index": 1, "duration_s": "long"}]})";
    EXPECT_EQ(Run({"report", dir_ + "/odd.json", "-o", dir_ + "/odd.pdf"}), 2);
    // The shipped procedures are listed with their standard and requirement.
    EXPECT_EQ(Run({"procedures"}), 0);
    EXPECT_NE(Read("stdout").find("heart-rate-range"), std::string::npos);
    EXPECT_NE(Read("stdout").find("IEC 60601-2-27"), std::string::npos);
    EXPECT_EQ(Run({"run", "no-such-procedure"}), 2);
    // The panel listens beyond loopback only when told to.
    EXPECT_EQ(Run({"--emulator", "serve", "--listen", "0.0.0.0:0"}), 2);
    EXPECT_NE(Read("stderr").find("--allow-remote"), std::string::npos);
    EXPECT_EQ(Run({"--emulator", "serve", "--listen", "127.0.0.1"}), 2);
}

// The front panel ends on SIGTERM or Ctrl-C with the device at 0 mV, as the
// other commands do, whatever the page had it play.
TEST_F(Hsimctl, ServeLeavesTheDeviceAtZero)
{
    hsimemu::Emulator& emulator = StartEmulator();
    for (int signal : {SIGTERM, SIGINT}) {
        std::vector<std::string> args = AtTestDevice();
        args.insert(args.end(), {"serve", "--listen", "127.0.0.1:0"});
        std::filesystem::remove(dir_ + "/stdout");  // the previous run's address
        const pid_t pid = Spawn(args);
        std::smatch url;
        std::string out;
        ASSERT_TRUE(WaitUntil([&] {
            out = Read("stdout");
            return std::regex_search(out, url, std::regex("serving http://127.0.0.1:([0-9]+)/"));
        }, 10000)) << Read("stderr");
        const int port = std::stoi(url[1].str());
        httplib::Client client("127.0.0.1", port);
        httplib::Result got = client.Get("/");
        ASSERT_TRUE(got) << httplib::to_string(got.error()) << ": " << Read("stderr");
        const std::string page = got->body;
        std::smatch token;
        ASSERT_TRUE(std::regex_search(page, token, std::regex("hsim-token\" content=\"([0-9a-f]+)\"")));
        const auto res = client.Post("/api/simulators/0/start", {{"X-Hsim-Token", token[1]}},
                                     R"({"function": "ecg"})", "application/json");
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << res->body;
        ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().transfers > 20; }, 10000));
        kill(pid, signal);
        EXPECT_EQ(Wait(pid), 0) << Read("stderr");
        ExpectDeviceLeftAtZero("serve, signal " + std::to_string(signal));
    }
}

// A refused value ends the program with 2 before any device is looked for,
// and the message says what is accepted.
TEST_F(Hsimctl, RefusalsNameTheAcceptedRange)
{
    const std::string out = dir_ + "/x.csv";
    std::ofstream(dir_ + "/late.yaml") << "steps:\n  - set: {function: ecg}\n  - play: 2s\n  - set: {qrs: 300ms}\n";
    const struct {
        std::vector<std::string> args;
        const char* says;
    } rows[] = {
        {{"render", "iec-2-27", "--pattern-227", "12", "-o", out}, "aami3a, aami3b"},
        {{"play", "ecg", "--amplitude", "20mV"}, "-5..5 mV"},
        {{"play", "sine", "--amplitude", "11mV"}, "-10..10 mV"},
        {{"render", "ecg", "--qrs", "300ms", "-o", out}, "5..200 ms"},
        {{"render", "ecg", "--seconds", "0", "-o", out}, "more than 0 s"},
        {{"render", "ecg", "--rate", "600bpm", "-o", out}, "1.02..360 bpm"},
        {{"render", "ecg-custom", "--rate", "361", "-o", out}, "1.02..360 bpm"},
        {{"render", "ecg", "--rate", "6.1Hz", "-o", out}, "1.02..360 bpm"},
        {{"render", "rect-pulse", "--rate", "5.1Hz", "-o", out}, "0.017..5 Hz"},
        {{"render", "exponential", "--rate", "6Hz", "-o", out}, "0.017..5 Hz"},
        {{"render", "sine", "--rate", "501", "-o", out}, "0.017..500 Hz"},
        {{"render", "iec-2-27", "--rate", "2Hz", "-o", out}, "does not apply"},
        {{"paly", "ecg"}, "did you mean 'play'"},
        {{"scenario", dir_ + "/late.yaml"}, "5..200 ms"},  // no device: checked first
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Run(row.args), 2) << row.args[0] << " " << row.args[1] << " " << row.args[2];
        EXPECT_NE(Read("stderr").find(row.says), std::string::npos) << Read("stderr");
    }
    EXPECT_EQ(Run({"render", "ecg", "--seconds", "0.1", "-o", out, "--emulator"}), 0)
        << "a connection option after the command: " << Read("stderr");
    // Settings with their own syntax, applied to the device without a refusal.
    EXPECT_EQ(Run({"render", "ecg", "--seconds", "0.1", "-o", out, "--emulator", "--respiration", "15:2:0:20:0:0",
                   "--noise", "off", "--lead", "1:secondary", "--baseline-reset", "off"}),
              0)
        << Read("stderr");
}

// What is played is what was asked for: the interval between beats (or
// periods) in the rendered signal, at the bounds of each function's rate,
// and the peak of a 1 mV amplitude as documented for each function.
// A rate without a unit is bpm for the ECG and Hz for the other functions.
TEST_F(Hsimctl, RenderedRateIsTheRateAsked)
{
    const struct {
        const char* function;
        const char* rate;
        double seconds;
        double periodS;  // expected interval between rising crossings of mid-level
        double peakMv;   // of 1 mV: R at 0.875 of the QRS, half of a peak to peak, a pulse's height
    } rows[] = {
        {"ecg", "360bpm", 1.0, 60.0 / 360, 0.875}, {"ecg", "75", 3.0, 0.8, 0.875},
        {"ecg-custom", "30bpm", 5.0, 2.0, 0.875},  {"sine", "500Hz", 0.05, 1 / 500.0, 0.5},
        {"sine", "75", 0.2, 1 / 75.0, 0.5},        {"rect-pulse", "5Hz", 1.0, 0.2, 1.0},
        {"exponential", "5Hz", 1.0, 0.2, 1.0},
    };
    for (const auto& row : rows) {
        const std::string seconds = std::to_string(row.seconds);
        ASSERT_EQ(Run({"render", row.function, "--rate", row.rate, "--amplitude", "1mV", "--seconds", seconds, "-o",
                       dir_ + "/r.csv"}),
                  0)
            << Read("stderr");
        const auto samples = ReadCsv("r.csv");
        double low = 1e9, high = -1e9;
        for (const auto& s : samples)
            low = std::min(low, s[1]), high = std::max(high, s[1]);
        const double mid = (low + high) / 2;
        std::vector<double> rises;
        for (size_t k = 1; k < samples.size(); ++k)
            if (samples[k - 1][1] < mid && samples[k][1] >= mid)
                rises.push_back(samples[k][0]);
        ASSERT_GE(rises.size(), 2u) << row.function << " " << row.rate;
        const double period = (rises.back() - rises.front()) / double(rises.size() - 1);
        EXPECT_NEAR(period, row.periodS, 1e-4) << row.function << " " << row.rate;
        EXPECT_NEAR(high, row.peakMv, 0.01) << row.function << " " << row.rate;
    }
    // The lowest rate is accepted (one beat in 59 s: not measured here).
    EXPECT_EQ(Run({"render", "ecg", "--rate", "1.02bpm", "--seconds", "0.1", "-o", dir_ + "/r.csv"}), 0);
    EXPECT_EQ(Run({"render", "ecg", "--rate", "1.01bpm", "--seconds", "0.1", "-o", dir_ + "/r.csv"}), 2);
}

// What render writes is what the device receives from a start with the same
// settings, which record captures from the stream.
TEST_F(Hsimctl, RenderEqualsWhatWasRecorded)
{
    const std::vector<std::string> setting = {"ecg", "--rate", "90bpm", "--amplitude", "1.5mV", "--pacing",
                                              "2mV", "--pacing-rate", "sync", "--seconds", "1s"};
    std::vector<std::string> render = {"render"}, record = {"--emulator", "record"};
    render.insert(render.end(), setting.begin(), setting.end());
    record.insert(record.end(), setting.begin(), setting.end());
    render.insert(render.end(), {"-o", dir_ + "/rendered.csv"});
    record.insert(record.end(), {"-o", dir_ + "/recorded.csv"});
    ASSERT_EQ(Run(render), 0) << Read("stderr");
    ASSERT_EQ(Run(record), 0) << Read("stderr");
    const auto rendered = ReadCsv("rendered.csv"), recorded = ReadCsv("recorded.csv");
    ASSERT_EQ(rendered.size(), 40000u);
    ASSERT_EQ(recorded.size(), 40000u);
    double peak = 0, pacing = 0;
    for (size_t k = 0; k < rendered.size(); ++k) {
        ASSERT_NEAR(rendered[k][1], recorded[k][1], 1e-4) << "AC, sample " << k;
        ASSERT_NEAR(rendered[k][2], recorded[k][2], 1e-4) << "DC, sample " << k;
        peak = std::max(peak, rendered[k][1]);
        pacing = std::max(pacing, rendered[k][2]);
    }
    EXPECT_NEAR(pacing, 2.0, 1e-3) << "the pacing pulse on the DC channel";
    EXPECT_GT(peak, 1.0) << "a beat of 1.5 mV within the first second at 90 bpm";
}

// A file in a format the library does not read itself goes through the
// record library into the player: played once, sample for sample, and the
// program ends with the output.
TEST_F(Hsimctl, LoadPlaysACsvFileOnce)
{
    hsimemu::Emulator& emulator = StartEmulator();
    std::ofstream csv(dir_ + "/ramp.csv");
    csv << "time_s,lead II\n";
    auto value = [](int k) { return (k % 20 - 10) / 10.0; };  // -1.0 .. 0.9 mV
    for (int k = 0; k < 200; ++k)
        csv << k / 1000.0 << "," << value(k) << "\n";
    csv.close();
    std::vector<std::string> args = AtTestDevice();
    args.insert(args.end(), {"load", dir_ + "/ramp.csv", "--play", "--no-loop"});
    ASSERT_EQ(Run(args), 0) << Read("stderr");
    EXPECT_NE(Read("stdout").find("lead II"), std::string::npos);
    // The whole file plays (40 played samples per file sample), then 0 mV.
    const auto played = emulator.playedSamples();
    ASSERT_GE(played.size(), 200u * 40);
    for (size_t k = 0; 40 * k + 20 < played.size(); ++k)
        ASSERT_EQ(played[40 * k + 20].ac, k < 200 ? int16_t(value(int(k)) * 6400) : 0) << k;
    ExpectDeviceLeftAtZero("after the file");
}

// A scenario's report: every step with its settings, timing and stream
// figures; the first failing step ends the run and the rest are skipped.
// (The check allows a few late answers: a sanitizer build answers a few ms
// late at times, and the report, not the stream, is under test here.)
TEST_F(Hsimctl, ScenarioReport)
{
    std::ofstream(dir_ + "/check.yaml") << "name: report check\n"
                                           "steps:\n"
                                           "  - name: sixty\n"
                                           "    set: {function: ecg, rate: 60bpm, qrs: 80ms}\n"
                                           "  - play: 1s\n"
                                           "  - check: {late: 5, failed-writes: 0, playing: true, function: ecg}\n"
                                           "  - record: {seconds: 0.5, output: played.csv}\n"
                                           "  - check: {function: sine}\n"
                                           "  - wait: 1s\n";
    EXPECT_EQ(Run({"--emulator", "scenario", dir_ + "/check.yaml", "-o", dir_ + "/report.json"}), 4)
        << Read("stderr");
    const auto report = nlohmann::json::parse(Read("report.json"));
    EXPECT_EQ(report["scenario"], "report check");
    EXPECT_FALSE(report["passed"].get<bool>());
    const auto& steps = report["steps"];
    ASSERT_EQ(steps.size(), 6u);
    const char* statuses[] = {"passed", "passed", "passed", "passed", "failed", "skipped"};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(steps[i]["status"], statuses[i]) << i;
    EXPECT_EQ(steps[0]["name"], "sixty");
    // Read back from the library: the standard beat has no QRS setting of its own.
    EXPECT_EQ(steps[0]["settings"]["function"], "ecg");
    EXPECT_EQ(steps[0]["settings"]["rate"], "60bpm");
    EXPECT_FALSE(steps[0]["settings"].contains("qrs"));
    EXPECT_NEAR(steps[1]["duration_s"].get<double>(), 1.0, 0.5);
    // 1 s of 40000 samples/s is 57 transfers of 700; a loaded machine may lag.
    EXPECT_GE(steps[1]["stream"]["transfers"].get<int>(), 40);
    EXPECT_EQ(steps[1]["stream"]["device_underruns"], 0);
    EXPECT_NE(steps[4]["error"].get<std::string>().find("ecg"), std::string::npos);
    EXPECT_EQ(ReadCsv("played.csv").size(), 20000u);
    EXPECT_LT(steps[3]["duration_s"].get<double>(), 5.0) << "the recording ends when its buffers are full";

    // Stream figures are differences over each step: a passing check resets
    // the library's figures, which must not wrap the step's counters. At
    // 40000 samples/s in transfers of 700 a step of d seconds sends about
    // 57 d transfers.
    for (const auto& step : steps) {
        if (step["status"] == "skipped")
            continue;
        const double transfers = step["stream"]["transfers"].get<double>();
        EXPECT_LE(transfers, 60 * step["duration_s"].get<double>() + 60) << step["index"];
        EXPECT_LE(step["stream"]["late_answers"].get<double>(), transfers + 1) << step["index"];
        EXPECT_LE(step["stream"]["device_underruns"].get<double>(), transfers + 1) << step["index"];
    }
    // Strips of what played at 500 samples/s: the 0.5 s recorded whole; the
    // 1 s play step as far as the tap delivered it by the step's end.
    ASSERT_TRUE(steps[3].contains("strip"));
    EXPECT_EQ(steps[3]["strip"]["rate_hz"], 500.0);
    EXPECT_EQ(steps[3]["strip"]["signals"][0]["mv"].size(), 250u);
    ASSERT_TRUE(steps[1].contains("strip"));
    EXPECT_NEAR(double(steps[1]["strip"]["signals"][0]["mv"].size()), 500, 60);
    // The standard beat at 60 bpm reaches about 1 mV (its amplitude) once in 1 s.
    const auto& mv = steps[1]["strip"]["signals"][0]["mv"];
    EXPECT_NEAR(*std::max_element(mv.begin(), mv.end()), 1.0, 0.3);

    std::ofstream(dir_ + "/bad.yaml") << "steps:\n  - set: {function: ecg}\n  - dance: 3s\n";
    EXPECT_EQ(Run({"--emulator", "scenario", dir_ + "/bad.yaml"}), 2);
    EXPECT_NE(Read("stderr").find("line 3"), std::string::npos) << Read("stderr");
}

// Steps name the simulator they run on: each of two plays exactly the
// square of its own step (AC words of 6400 per mV, 40000 samples/s), and the
// report names each step's simulator as the library read it.
TEST_F(Hsimctl, ScenarioStepsOnTwoSimulators)
{
    hsimemu::Emulator& first = StartEmulator();  // port 0, HSE01AB-070123
    hsimemu::Options options;
    options.directory = dir_;
    options.port = 1;
    options.identity.number1 = 200;
    hsimemu::Emulator second(options);
    ASSERT_TRUE(second.start());
    std::ofstream(dir_ + "/two.yaml") << "devices: {monitor-b: HSE01AB-070200}\n"
                                         "steps:\n"
                                         "  - set: {function: square, rate: 20Hz, amplitude: 1mV}\n"
                                         "  - set: {function: square, rate: 50Hz, amplitude: 3mV}\n"
                                         "    device: monitor-b\n"
                                         "  - play: 1s\n"
                                         "  - play: 0.2s\n"
                                         "    device: HSE01AB-070200\n";
    std::vector<std::string> args = AtTestDevice();
    args.insert(args.end(), {"scenario", dir_ + "/two.yaml", "-o", dir_ + "/two.json"});
    ASSERT_EQ(Run(args), 0) << Read("stderr");
    const struct {
        hsimemu::Emulator* emulator;
        int level;   // half the amplitude, in AC words
        int period;  // samples
    } rows[] = {{&first, 3200, 2000}, {&second, 9600, 800}};
    for (const auto& row : rows) {
        const auto played = row.emulator->playedSamples();
        int low = 0, high = 0;
        std::vector<size_t> rises;
        for (size_t k = 1; k < played.size(); ++k) {
            low = std::min<int>(low, played[k].ac), high = std::max<int>(high, played[k].ac);
            if (played[k - 1].ac < 0 && played[k].ac > 0)
                rises.push_back(k);
        }
        EXPECT_NEAR(high, row.level, 1) << row.period;
        EXPECT_NEAR(low, -row.level, 1) << row.period;
        ASSERT_GE(rises.size(), 10u) << row.period;
        for (size_t i = 1; i < rises.size(); ++i)
            EXPECT_NEAR(double(rises[i] - rises[i - 1]), row.period, 1) << row.period << ", rise " << i;
        EXPECT_FALSE(row.emulator->streamStats().outputOn) << row.period;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/lock")) << "every port released";
    const auto report = nlohmann::json::parse(Read("two.json"));
    EXPECT_EQ(report["simulator"]["serial_number"], "HSE01AB-070123");
    const std::pair<const char*, int> devices[] = {
        {"HSE01AB-070123", 0}, {"HSE01AB-070200", 1}, {"HSE01AB-070123", 0}, {"HSE01AB-070200", 1}};
    ASSERT_EQ(report["steps"].size(), std::size(devices));
    for (size_t i = 0; i < std::size(devices); ++i) {
        EXPECT_EQ(report["steps"][i]["device"]["serial_number"], devices[i].first) << i;
        EXPECT_EQ(report["steps"][i]["device"]["port"], devices[i].second) << i;
    }
}

// A device name the scenario does not know is refused before any simulator
// is touched; a serial number not found ends the run before any step; the
// built-in emulator publishes the devices a scenario names.
TEST_F(Hsimctl, ScenarioDevicesAreFoundFirst)
{
    hsimemu::Emulator& emulator = StartEmulator();
    std::ofstream(dir_ + "/unknown.yaml") << "devices: {monitor-b: HSE01AB-070200}\n"
                                             "steps:\n  - set: {function: sine}\n  - stop:\n    device: monitor-c\n";
    std::ofstream(dir_ + "/absent.yaml") << "steps:\n  - set: {function: sine}\n  - stop:\n"
                                            "    device: HSE01AB-070999\n";
    std::vector<std::string> args = AtTestDevice();
    args.insert(args.end(), {"--timeout", "1", "scenario", dir_ + "/unknown.yaml"});
    EXPECT_EQ(Run(args), 2);
    EXPECT_NE(Read("stderr").find("monitor-c"), std::string::npos) << Read("stderr");
    EXPECT_TRUE(emulator.received().empty()) << "the device was not touched";
    args.back() = dir_ + "/absent.yaml";
    EXPECT_EQ(Run(args), 3);
    EXPECT_NE(Read("stderr").find("HSE01AB-070999"), std::string::npos) << Read("stderr");
    EXPECT_EQ(emulator.streamStats().transfers, 0u) << "no step ran";

    std::ofstream(dir_ + "/emulated.yaml") << "steps:\n  - set: {function: sine}\n    device: HSE01AB-070125\n";
    ASSERT_EQ(Run({"--emulator", "scenario", dir_ + "/emulated.yaml", "-o", dir_ + "/e.json"}), 0) << Read("stderr");
    const auto step = nlohmann::json::parse(Read("e.json"))["steps"][0];
    EXPECT_EQ(step["device"]["serial_number"], "HSE01AB-070125");
    EXPECT_EQ(step["device"]["port"], 2);
}

// What a report must say to serve as a test record: when and where, with
// which library and simulator, the scenario's checksum, the operator (the
// command line over the scenario) and the device under test. A scenario
// path that is not UTF-8 is reported, not fatal.
TEST_F(Hsimctl, ScenarioReportIsATestRecord)
{
    const std::string text = "name: record\noperator: From File\ndut: Monitor 7\nsteps:\n"
                             "  - set: {function: sine, rate: 10Hz, amplitude: 2mV}\n  - play: 0.3s\n";
    const std::string latin1 = dir_ + "/sc\xE9nario.yaml";
    std::ofstream(latin1) << text;
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(Run({"--emulator", "scenario", latin1, "--operator", "Ann Tester", "-o", dir_ + "/r.json"}), 0)
        << Read("stderr");
    const auto report = nlohmann::json::parse(Read("r.json"));
    EXPECT_NE(report["file"].get<std::string>().find("sc\xEF\xBF\xBDnario.yaml"), std::string::npos)
        << "the byte that is not UTF-8 becomes U+FFFD";
    hsimctl::Sha256 hash;
    hash.Update(text);
    EXPECT_EQ(report["file_sha256"], hash.FinishHex());
    EXPECT_EQ(report["operator"], "Ann Tester");
    EXPECT_EQ(report["device_under_test"], "Monitor 7");
    const std::string date = report["date"];
    ASSERT_TRUE(std::regex_match(date, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"))) << date;
    std::tm utc{};
    strptime(date.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    EXPECT_NEAR(double(timegm(&utc)), double(before), 30.0) << "UTC, not local time";
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(report["host"].get<std::string>().rfind(host, 0), 0u) << report["host"];
    EXPECT_EQ(report["hsim_version"].get<std::string>().rfind("libhsim ", 0), 0u);
    EXPECT_EQ(report["tables"].size(), 3u);
    // The built-in emulator's identity: code bytes 0x01 0xAB, numbers 123 and 7.
    EXPECT_EQ(report["simulator"]["serial_number"], "HSE01AB-070123");
    EXPECT_NE(report["simulator"]["identity"].get<std::string>().find("0x01 0xAB"), std::string::npos);
    EXPECT_EQ(report["simulator"]["hardware_information"].get<std::string>().size() > 0, true);

    // The report on A4 pages: 595.28 x 841.89 pt each (210 x 297 mm at 72 pt
    // per 25.4 mm); the strip of the play step needs a page of its own.
    ASSERT_EQ(Run({"report", dir_ + "/r.json", "-o", dir_ + "/r.pdf"}), 0) << Read("stderr");
    const std::string pdf = Read("r.pdf");
    size_t pages = 0;
    for (size_t at = 0; (at = pdf.find("/MediaBox [", at)) != std::string::npos; ++at, ++pages) {
        double x0, y0, w, h;
        ASSERT_EQ(std::sscanf(pdf.c_str() + at, "/MediaBox [ %lf %lf %lf %lf", &x0, &y0, &w, &h), 4);
        EXPECT_NEAR(w, 595.28, 0.01);
        EXPECT_NEAR(h, 841.89, 0.01);
    }
    EXPECT_EQ(pages, 2u);
    EXPECT_EQ(Run({"report", dir_ + "/sc\xE9nario.yaml", "-o", dir_ + "/x.pdf"}), 2) << "not a JSON report";
}

// A run of test procedures prints as a test record: the requirements with
// their counts and results on the first page, the run's result (the worst of
// its procedures'), then each procedure on pages of its own with its
// readings, limits and verdicts, the stimulus as measured and its strip.
TEST_F(Hsimctl, ProceduresReportIsATestRecord)
{
    using Json = nlohmann::json;
    auto measure = [](int index, const char* status, Json reading) {
        return Json{{"index", index}, {"kind", "measure"}, {"status", status}, {"reading", reading}};
    };
    Json strip = {{"source", "signal tap"}, {"rate_hz", 500}, {"signals", {{{"name", "ECG"}, {"mv", Json::array()}}}}};
    for (int i = 0; i < 1000; ++i)  // 1 mV beats at 60 bpm, 2 s
        strip["signals"][0]["mv"].push_back(i % 500 < 20 ? 1.0 : 0.0);
    const Json accuracy = {
        {"name", "Rate accuracy"}, {"standard", "Std A"}, {"requirement", "Rate within limits"},
        {"file", "rate.yaml"}, {"result", "pass"},
        {"sources", {{{"id", "src-a"}, {"cite", "Author, Waveforms"}, {"url", "https://example.org/a"}}}},
        {"steps",
         {{{"index", 1}, {"kind", "play"}, {"status", "passed"}, {"strip", strip}},
          {{"index", 2}, {"kind", "verify"}, {"status", "passed"},
           {"stimulus",
            {{"rate_bpm", 60.1}, {"expected", {{"rate_bpm", {{"value", 60}, {"tolerance", 0.05}}}}}, {"ok", true}}}},
          measure(3, "passed", {{"id", "hr-60"}, {"quantity", "heart rate"}, {"unit", "bpm"}, {"value", 61},
                                {"from", 57}, {"to", 63}, {"source", "answers"}, {"limits_source", "src-a"},
                                {"verdict", "pass"}})}}};
    const Json alarms = {
        {"name", "Alarm limits"}, {"standard", "Std B"}, {"requirement", "Alarm on time"},
        {"file", "alarm.yaml"}, {"result", "fail"}, {"sources", Json::array()},
        {"steps",
         {measure(1, "failed", {{"id", "hr-hi"}, {"quantity", "heart rate"}, {"unit", "bpm"}, {"value", 150},
                                {"from", 117}, {"to", 123}, {"source", "operator"}, {"limits_source", "operator"},
                                {"verdict", "fail"}}),
          measure(2, "not judged", {{"id", "delay"}, {"quantity", "alarm delay"}, {"unit", "s"}, {"value", nullptr},
                                    {"from", nullptr}, {"to", nullptr}, {"source", "command"},
                                    {"limits_source", "operator"}, {"verdict", "not judged"},
                                    {"reason", "the reader printed no number"}})}}};
    const Json report = {
        {"date", "2024-05-06T07:08:09Z"}, {"host", "bench-3"}, {"operator", "Ann Tester"},
        {"device_under_test", "Monitor 7"}, {"simulator", {{"serial_number", "HSE01AB-070123"}}},
        {"procedures", {accuracy, alarms}},
        {"summary",
         {{{"procedure", "Rate accuracy"}, {"requirement", "Rate within limits"}, {"pass", 1}, {"fail", 0},
           {"not_judged", 0}, {"result", "pass"}},
          {{"procedure", "Alarm limits"}, {"requirement", "Alarm on time"}, {"pass", 0}, {"fail", 1},
           {"not_judged", 1}, {"result", "fail"}}}},
        {"passed", false}};
    std::ofstream(dir_ + "/run.json") << report.dump();
    ASSERT_EQ(Run({"report", dir_ + "/run.json", "-o", dir_ + "/run.pdf"}), 0) << Read("stderr");
    ASSERT_EQ(Read("run.pdf").rfind("%PDF-", 0), 0u);
    if (std::system("command -v pdftotext >/dev/null") != 0)
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed: the text is not checked";
    // One page of header and summary, one a procedure (the strip fits under
    // its procedure).
    auto page = [&](int n) {
        const std::string name = "page" + std::to_string(n) + ".txt";
        const std::string command = "pdftotext -layout -f " + std::to_string(n) + " -l " + std::to_string(n) + " " +
                                    dir_ + "/run.pdf " + dir_ + "/" + name + " 2>/dev/null";
        return std::system(command.c_str()) == 0 ? Read(name) : std::string();
    };
    const std::string first = page(1), second = page(2), third = page(3);
    const struct {
        const std::string& text;
        const char* pattern;
    } expected[] = {
        {first, R"(Rate accuracy +Std A +Rate within limits +1 +0 +0 +pass)"},
        {first, R"(Alarm limits +Std B +Alarm on time +0 +1 +1 +fail)"},
        {first, R"(Result of the run: +fail)"},
        {first, R"(page 1 of 3)"},
        {second, R"(Procedure 1: Rate accuracy +PASS)"},
        {second, R"(\[src-a\] Author, Waveforms, https://example.org/a)"},
        {second, R"(hr-60: heart rate +61 bpm +57 to 63 bpm \(limits: src-a\) +answers +pass)"},
        {second, R"(rate +60.1 bpm +60 bpm ± 5 % +as specified)"},
        {second, R"(Signals played)"},
        {third, R"(Procedure 2: Alarm limits +FAIL)"},
        {third, R"(hr-hi: heart rate +150 bpm +117 to 123 bpm \(limits: +operator +fail)"},
        {third, R"(delay: alarm delay +no reading +no limits +command +not judged: the reader printed no\s+number)"},
        {third, R"(page 3 of 3)"},
    };
    for (const auto& e : expected)
        EXPECT_TRUE(std::regex_search(e.text, std::regex(e.pattern))) << e.pattern << "\n" << e.text;
    EXPECT_EQ(page(4), "") << "three pages";
}

// The settings a report gives are read back from the library: the rate in
// bpm for the ECG beats and in Hz for the others, and the parameters of the
// function that plays, not the ones it ignores.
TEST_F(Hsimctl, ReportedSettingsAreReadBack)
{
    const struct {
        const char* set;
        std::vector<std::pair<const char*, const char*>> present;
        std::vector<const char*> absent;
    } rows[] = {
        {"{function: sine, rate: 1.2bpm, amplitude: 2mV}", {{"function", "sine"}, {"rate", "0.02Hz"}}, {}},
        {"{function: sine, rate: 600bpm, amplitude: 2000uV}", {{"rate", "10Hz"}, {"amplitude", "2mV"}}, {"qrs"}},
        {"{function: ecg-custom, rate: 1.5Hz, qrs: 80ms, t-wave: 0.4mV}",
         {{"function", "ecg-custom"}, {"rate", "90bpm"}, {"qrs", "80ms"}, {"t-wave", "0.4mV"}}, {"pulse-width"}},
        {"{function: rect-pulse, rate: 2Hz, pulse-width: 0.1s}", {{"rate", "2Hz"}, {"pulse-width", "100ms"}},
         {"qrs"}},
        {"{function: ecg, rate: 60bpm, pacing: 2mV, pacing-width: 1ms, pacing-rate: 70ppm}",
         {{"rate", "60bpm"}, {"pacing", "2mV"}, {"pacing-width", "1ms"}, {"pacing-rate", "70ppm"}}, {"qrs"}},
        {"{pacing-rate: sync}", {{"pacing-rate", "sync"}}, {}},
        {"{pacing: 0mV}", {{"function", "ecg"}}, {"pacing", "pacing-width"}},
        {"{function: iec-2-27, pattern-227: 3}", {{"function", "iec-2-27"}, {"pattern-227", "aami3d"}},
         {"rate", "amplitude"}},
    };
    std::ofstream yaml(dir_ + "/settings.yaml");
    yaml << "steps:\n";
    for (const auto& row : rows)
        yaml << "  - set: " << row.set << "\n";
    yaml.close();
    ASSERT_EQ(Run({"--emulator", "scenario", dir_ + "/settings.yaml", "-o", dir_ + "/s.json"}), 0) << Read("stderr");
    const auto steps = nlohmann::json::parse(Read("s.json"))["steps"];
    ASSERT_EQ(steps.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& settings = steps[i]["settings"];
        for (const auto& [name, value] : rows[i].present)
            EXPECT_EQ(settings.value(name, std::string("(none)")), value) << rows[i].set << ": " << name;
        for (const char* name : rows[i].absent)
            EXPECT_FALSE(settings.contains(name)) << rows[i].set << ": " << name;
    }
}


// A procedure judges the device under test by its readings, and judges
// nothing when its stimulus is not what the file says.
TEST_F(Hsimctl, ProcedureVerdicts)
{
    const auto write = [&](const std::string& name, const std::string& text) { std::ofstream(dir_ + "/" + name) << text; };
    write("beat.yaml", "name: Beat\nstandard: A standard\nrequirement: Heart rate\n"
                       "sources: [{id: here, cite: a source of this test}]\nsteps:\n"
                       "  - set: {function: ecg, amplitude: 1mV, rate: 90bpm}\n"
                       "  - verify: {seconds: 2, rate: RATE, qrs-amplitude: 1mV}\n"
                       "  - measure: {id: hr, quantity: heart rate, unit: bpm, expect: {from: 85, to: 95}, source: here}\n");
    const struct {
        const char* why;
        const char* rate;  // the file's
        std::vector<std::string> judging;
        int exitCode;
        const char* result;
        const char* measure;  // its status
    } rows[] = {
        {"right reading", "90bpm", {"--answers", "ANSWERS:90"}, 0, "pass", "passed"},
        {"wrong reading", "90bpm", {"--answers", "ANSWERS:120"}, 4, "fail", "failed"},
        {"no reading", "90bpm", {"--answers", "ANSWERS:"}, 4, "not judged", "not judged"},
        {"rig's reader", "90bpm", {"--reader", "test \"$HSIM_MEASURE\" = hr && echo 89.5"}, 0, "pass", "passed"},
        {"reader fails", "90bpm", {"--reader", "exit 2"}, 4, "not judged", "not judged"},
        {"stimulus not as written", "75bpm", {"--answers", "ANSWERS:90"}, 4, "stimulus fault", "skipped"},
    };
    for (const auto& row : rows) {
        write("run.yaml", std::regex_replace(Read("beat.yaml"), std::regex("RATE"), row.rate));
        std::vector<std::string> args = {"--emulator", "run", dir_ + "/run.yaml", "-o", dir_ + "/r.json"};
        for (std::string a : row.judging) {
            if (a.rfind("ANSWERS:", 0) == 0) {
                write("answers.yaml", "run: {hr: " + a.substr(8) + "}\n");
                a = dir_ + "/answers.yaml";
            }
            args.push_back(a);
        }
        EXPECT_EQ(Run(args), row.exitCode) << row.why << ": " << Read("stderr");
        const auto report = nlohmann::json::parse(Read("r.json"), nullptr, false);
        ASSERT_TRUE(report.contains("procedures")) << row.why;
        EXPECT_EQ(report["procedures"][0]["result"], row.result) << row.why;
        EXPECT_EQ(report["summary"][0]["result"], row.result) << row.why;
        EXPECT_EQ(report["procedures"][0]["steps"][2]["status"], row.measure) << row.why;
    }
}

}  // namespace

// hsimctl: the simulator from the command line.
#include "Commands.h"
#include "hsim.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string_view>
#include <vector>

using namespace hsimctl;

namespace {

// A duration option: "10s", "2min", "500ms" or plain seconds, more than 0
// (or 0 too, for a start) and at most `most` seconds.
CLI::Option* AddDuration(CLI::App& command, const std::string& name, double& seconds, const std::string& help,
                         double most = 24 * 3600.0, bool zero = false)
{
    return command
        .add_option_function<std::string>(
            name,
            [&seconds, name, most, zero](const std::string& text) {
                const auto value = ParseQuantity(text, Dimension::Duration);
                if (!value)
                    throw CLI::ValidationError(name, "'" + text + "' is not a duration (e.g. 10s, 2min, 500ms)");
                if (!((*value > 0 || (zero && *value == 0)) && *value <= most))
                    throw CLI::ValidationError(name, "'" + text + "' is outside the accepted range: " +
                                                         (zero ? "0 s" : "more than 0 s") + " up to " +
                                                         CLI::detail::to_string(most) + " s");
                seconds = *value;
            },
            help)
        ->type_name("DURATION");
}

// The settings of a command are read again once the command line is whole,
// for the output function given (a plain rate is bpm for the ECG).
void CheckSettings(Settings& settings)
{
    std::string why;
    if (!settings.Resolve(std::nullopt, why))
        throw CLI::ValidationError("--" + why);
}

// The number of single-character edits between two words.
size_t EditDistance(std::string_view a, std::string_view b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The first word of the command line that is not an option or an option's
// value, when it names no command: a message naming the commands, with the
// closest one offered. Empty otherwise.
std::string UnknownCommand(const CLI::App& app, int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--")
            return "";
        if (arg.size() > 1 && arg[0] == '-') {
            const std::string name(arg.substr(0, arg.find('=')));
            const CLI::Option* option = nullptr;
            try {
                option = app.get_option(name);
            } catch (const CLI::OptionNotFound&) {
            }
            if (option && option->get_expected_min() > 0 && arg.find('=') == std::string_view::npos)
                ++i;  // its value
            continue;
        }
        std::string names, closest;
        size_t best = 3;  // farther than two edits is no suggestion
        for (const CLI::App* command : app.get_subcommands({})) {
            if (command->get_name() == arg)
                return "";
            names += (names.empty() ? "" : ", ") + command->get_name();
            if (const size_t d = EditDistance(arg, command->get_name()); d < best)
                best = d, closest = command->get_name();
        }
        return "unknown command '" + std::string(arg) + "'" + (closest.empty() ? "" : "; did you mean '" + closest + "'?") +
               " (commands: " + names + ")";
    }
    return "";
}

void AddFunction(CLI::App& command, Settings& settings, bool required)
{
    auto* option = command
                       .add_option_function<std::string>(
                           "function",
                           [&settings](const std::string& text) {
                               std::string why;
                               if (!settings.SetFunction(text, why))
                                   throw CLI::ValidationError("FUNCTION", why);
                           },
                           "output function: " + FunctionList())
                       ->type_name("FUNCTION");
    if (required)
        option->required();
}

void AddPlotStyle(CLI::App& command, PlotStyle& style)
{
    command.add_option("--mm-per-s", style.mmPerSecond, "paper speed of a plot, mm/s")
        ->default_val(25.0)->check(CLI::Range(1.0, 1000.0))->group("Plot");
    command.add_option("--mm-per-mv", style.mmPerMv, "gain of a plot, mm/mV")
        ->default_val(10.0)->check(CLI::Range(0.1, 1000.0))->group("Plot");
    command.add_option("--dpi", style.dpi, "resolution of a PNG plot")
        ->default_val(150.0)->check(CLI::Range(30.0, 1200.0))->group("Plot");
    command.add_option("--row", style.secondsPerRow, "seconds per row of a plot")
        ->default_val(10.0)->check(CLI::Range(0.1, 3600.0))->group("Plot");
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"hsimctl: play, render, record and script the ECG patient simulator.\n"
                 "Every command that needs a device also runs against the built-in emulator (--emulator)."};
    app.require_subcommand(1);
    // The connection options may also follow the command ("play ecg --emulator").
    app.fallthrough();
    app.set_version_flag("--version", std::string("hsimctl ") + std::to_string(HSIMGetVersion() >> 24) + "." +
                                          std::to_string((HSIMGetVersion() >> 16) & 0xFF) + "." +
                                          std::to_string((HSIMGetVersion() >> 8) & 0xFF));
    app.footer("Exit codes: 0 done, 1 failed (device, library or I/O), 2 bad command line, file or value,\n"
               "3 no simulator found, 4 a scenario step failed, 130 interrupted (Ctrl-C, SIGTERM).");

    ConnectOptions connect;
    app.add_flag("--emulator", connect.emulator, "use the built-in emulator instead of a simulator");
    app.add_option("--port", connect.port, "the simulator's port number N of /dev/ttyACM<N> (default: search 0..127)")
        ->check(CLI::Range(-1, 127));
    app.add_option("--serial", connect.serial,
                   "the simulator with this serial number (as 'hsimctl info' shows it), whichever port it is on");
    app.add_option("--device-format", connect.deviceFormat, "device path pattern with %d for the port")
        ->default_str("/dev/ttyACM%d");
    app.add_option("--lock-dir", connect.lockDirectory, "directory of the port lock files");
    AddDuration(app, "--timeout", connect.timeoutSeconds, "how long to look for the simulator (default 5s)");

    std::function<int()> run;

    auto* info = app.add_subcommand("info", "identity, serial number, hardware information, library and tables");
    info->callback([&] { run = [&] { return RunInfo(connect); }; });

    PlayOptions play;
    auto* playCommand = app.add_subcommand("play", "play an output function for a time or until Ctrl-C");
    AddFunction(*playCommand, play.settings, true);
    AddParameterOptions(*playCommand, play.settings);
    AddDuration(*playCommand, "--for", play.seconds, "how long to play (default: until Ctrl-C)");
    playCommand->callback([&] { CheckSettings(play.settings); run = [&] { return RunPlay(connect, play); }; });

    RenderOptions render;
    auto* renderCommand = app.add_subcommand("render", "write what a setting plays to CSV, ECG text or ECG paper (no device needed)");
    AddFunction(*renderCommand, render.settings, true);
    AddParameterOptions(*renderCommand, render.settings);
    AddDuration(*renderCommand, "--seconds", render.seconds, "length, at most 1h (default 10s)", 3600);
    renderCommand->add_option("-o,--output", render.output, ".csv, .txt (ECG text), .png, .svg or .pdf")->required();
    AddPlotStyle(*renderCommand, render.style);
    renderCommand->callback([&] { CheckSettings(render.settings); run = [&] { return RunRender(render); }; });

    PlotOptions plot;
    auto* plotCommand = app.add_subcommand("plot", "draw a recording, data file or record on ECG paper");
    plotCommand->add_option("file", plot.input, "CSV, ECG text or binary, WFDB record (.hea) or EDF file")
        ->required();
    plotCommand->add_option("-o,--output", plot.output, ".png, .svg or .pdf")->required();
    plotCommand->add_option("--channel", plot.channels, "signals to draw (default: all)");
    AddDuration(*plotCommand, "--from", plot.from, "start (default 0s)", 24 * 3600.0, true);
    AddDuration(*plotCommand, "--seconds", plot.seconds, "length (default 10s)");
    plotCommand->add_option("--title", plot.title, "title (default: the file and its rate)");
    AddPlotStyle(*plotCommand, plot.style);
    plotCommand->callback([&] { run = [&] { return RunPlot(plot); }; });

    LoadOptions load;
    auto* loadCommand = app.add_subcommand("load", "check a data file or record and optionally play it");
    loadCommand->add_option("file", load.input, "ECG text or binary, CSV, WFDB record (.hea) or EDF file")->required();
    loadCommand->add_option("--channel", load.channel, "signal to play (default 0)")->check(CLI::NonNegativeNumber);
    loadCommand->add_flag("--play", load.play, "play it as output function 14");
    loadCommand->add_flag("!--no-loop", load.loop, "play it once and end");
    AddDuration(*loadCommand, "--for", load.seconds, "how long to play (default: until Ctrl-C or the end)");
    loadCommand->callback([&] { run = [&] { return RunLoad(connect, load); }; });

    RecordOptions record;
    auto* recordCommand = app.add_subcommand("record", "play an output function and record what was streamed");
    AddFunction(*recordCommand, record.settings, true);
    AddParameterOptions(*recordCommand, record.settings);
    AddDuration(*recordCommand, "--seconds", record.seconds, "length, at most 10min (default 5s)", 600);
    recordCommand->add_option("-o,--output", record.output, ".csv, .txt (ECG text), .png, .svg or .pdf")->required();
    AddPlotStyle(*recordCommand, record.style);
    recordCommand->callback([&] { CheckSettings(record.settings); run = [&] { return RunRecord(connect, record); }; });

    BlockOptions upload;
    auto* uploadCommand = app.add_subcommand("upload", "upload one period for the device to play by itself");
    AddFunction(*uploadCommand, upload.settings, true);
    AddParameterOptions(*uploadCommand, upload.settings);
    uploadCommand->callback([&] { CheckSettings(upload.settings); run = [&] { return RunUpload(connect, upload); }; });

    BlockOptions standalone;
    auto* standaloneCommand = app.add_subcommand("standalone", "save a waveform into the device's ROM as its standalone default");
    AddFunction(*standaloneCommand, standalone.settings, false);
    AddParameterOptions(*standaloneCommand, standalone.settings);
    standaloneCommand->add_flag("--default", standalone.standardDefault,
                                "the default waveform: the standard beat at 1 Hz and 2 mV");
    standaloneCommand->add_option("--rom-polls", connect.romConfirmPolls,
                                  "with --emulator: the ROM confirms at this status query")
        ->check(CLI::Range(1, 1000));
    standaloneCommand->callback([&] { CheckSettings(standalone.settings); run = [&] { return RunStandalone(connect, standalone); }; });

    ScenarioOptions scenarioOptions;
    auto* scenario = app.add_subcommand("scenario", "run a scripted test sequence and write a JSON report");
    scenario->add_option("file", scenarioOptions.file, "the scenario (YAML)")->required()->check(CLI::ExistingFile);
    scenario->add_option("-o,--report", scenarioOptions.report,
                         "the JSON report (default: the scenario's 'report', else stdout)");
    scenario->add_option("--operator", scenarioOptions.operatorName, "who runs the test (over the scenario's 'operator')");
    scenario->add_option("--dut", scenarioOptions.dut, "the device under test (over the scenario's 'dut')");
    scenario->callback([&] { run = [&] { return RunScenario(connect, scenarioOptions); }; });

    ReportOptions reportOptions;
    auto* report = app.add_subcommand("report", "print a scenario's or a procedure run's JSON report as A4 pages (PDF), with ECG strips");
    report->add_option("file", reportOptions.input, "the JSON report of a scenario or of a run of procedures")->required()->check(CLI::ExistingFile);
    report->add_option("-o,--output", reportOptions.output, "the .pdf to write")->required();
    report->callback([&] { run = [&] { return RunReport(reportOptions); }; });

    auto* procedures = app.add_subcommand("procedures", "list the shipped test procedures of the standards");
    procedures->callback([&] { run = [&] { return ListProcedures(); }; });

    RunOptions runOptions;
    auto* runCommand = app.add_subcommand(
        "run", "run test procedures in order, judging the device under test, into one report (JSON, PDF)");
    auto* procedureNames =
        runCommand->add_option("procedure", runOptions.procedures, "procedure files, or names 'hsimctl procedures' lists");
    runCommand->add_flag("--all", runOptions.all, "every shipped procedure, in the order 'hsimctl procedures' lists them")
        ->excludes(procedureNames);
    runCommand->add_option("--operator", runOptions.operatorName, "who runs the tests");
    runCommand->add_option("--dut", runOptions.dut, "the device under test (maker, model, serial number)");
    auto* reader = runCommand->add_option(
        "--reader", runOptions.reader,
        "a command that prints each reading of the device under test (environment: HSIM_PROCEDURE, HSIM_MEASURE, "
        "HSIM_QUANTITY, HSIM_UNIT); default: the operator is asked");
    runCommand->add_option("--answers", runOptions.answers, "a YAML file of readings for a dry run")
        ->check(CLI::ExistingFile)->excludes(reader);
    runCommand->add_option("-o,--report", runOptions.report, "the JSON report (default: stdout)");
    runCommand->add_option("--pdf", runOptions.pdf, "the report on A4 pages (.pdf) too");
    runCommand->callback([&] {
        if (runOptions.procedures.empty() && !runOptions.all)
            throw CLI::ValidationError("run", "name the procedures to run, or --all");
        run = [&] { return RunProcedures(connect, runOptions); };
    });

    ServeOptions serveOptions;
    auto* serve = app.add_subcommand("serve", "the front panel in a browser: live control and ECG of each simulator");
    serve->add_option("--listen", serveOptions.listen, "HOST:PORT to listen on (port 0: a free one)")
        ->default_str("127.0.0.1:8080");
    serve->add_flag("--allow-remote", serveOptions.allowRemote,
                    "allow an address other than loopback; every request then needs the printed access token");
    serve->add_option("--devices", connect.emulatedDevices, "with --emulator: how many emulated simulators (default 1)")
        ->check(CLI::Range(1, kMaxEmulatedDevices));
    serve->callback([&] { run = [&] { return RunServe(connect, serveOptions); }; });

    if (const std::string unknown = UnknownCommand(app, argc, argv); !unknown.empty()) {
        std::fprintf(stderr, "hsimctl: %s\nRun with --help for more information.\n", unknown.c_str());
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    InstallInterruptHandlers();
    return run ? run() : kExitUsage;
}

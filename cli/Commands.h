// The commands of hsimctl. Each returns an exit code (Session.h).
#pragma once

#include "Session.h"
#include "Settings.h"
#include "Signals.h"

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace hsimctl {

struct PlayOptions {
    Settings settings;
    double seconds = -1;  // negative: until Ctrl-C (or the output ends by itself)
};

struct RenderOptions {
    Settings settings;
    double seconds = 10;
    std::string output;
    PlotStyle style;
};

struct PlotOptions {
    std::string input;
    std::string output;
    std::vector<int> channels;
    double from = 0;
    double seconds = 10;
    std::string title;
    PlotStyle style;
};

struct LoadOptions {
    std::string input;
    int channel = 0;
    bool play = false;
    bool loop = true;
    double seconds = -1;
};

struct RecordOptions {
    Settings settings;
    double seconds = 5;
    std::string output;
    PlotStyle style;
};

struct ScenarioOptions {
    std::string file;
    std::string report;        // the JSON report: empty for the scenario's 'report', "-" for stdout
    std::string operatorName;  // over the scenario's 'operator'
    std::string dut;           // over the scenario's 'dut'
};

struct ReportOptions {
    std::string input;   // a scenario's JSON report
    std::string output;  // .pdf
};

struct BlockOptions {
    Settings settings;
    bool standardDefault = false;  // standalone: the default waveform
};

int RunInfo(const ConnectOptions& connect);
int RunPlay(const ConnectOptions& connect, const PlayOptions& options);
int RunRender(const RenderOptions& options);
int RunPlot(const PlotOptions& options);
int RunLoad(const ConnectOptions& connect, const LoadOptions& options);
int RunRecord(const ConnectOptions& connect, const RecordOptions& options);
int RunUpload(const ConnectOptions& connect, const BlockOptions& options);
int RunStandalone(const ConnectOptions& connect, const BlockOptions& options);
int RunScenario(const ConnectOptions& connect, const ScenarioOptions& options);
int RunReport(const ReportOptions& options);

// A scenario run on simulators that are open already (the front panel's).
struct ScenarioObserver {
    // The steps (kind, name) as the file gives them, before the first runs.
    std::function<void(const std::vector<std::pair<std::string, std::string>>& steps)> planned;
    // A step began ("running") or ended ("passed", "failed" with its error,
    // "skipped"); index from 0.
    std::function<void(size_t index, const std::string& status, const std::string& error)> step;
};
struct OpenSimulator {
    HSIM_SIMULATOR* simulator;
    hsimemu::Emulator* emulator;  // its emulated device; null for hardware
};
// Runs the scenario of options.file on `simulators` (the first is the run's;
// a step that names another finds it by its serial number) on the calling
// thread, which it leaves without a simulator; every simulator is left at
// 0 mV. The files the steps read and write must lie in the scenario's
// folder. The report's JSON goes to reportText (options.report is not
// written). An exit code; kExitUsage or kExitNoDevice with `why` when the
// file is refused before any step ran.
int RunScenarioOn(const ScenarioOptions& options, const std::vector<OpenSimulator>& simulators, bool emulated,
                  const ScenarioObserver& observer, std::string& reportText, std::string& why);

struct RunOptions {
    std::vector<std::string> procedures;  // files, or stems of shipped procedures
    bool all = false;                     // every shipped procedure
    std::string operatorName;
    std::string dut;
    std::string reader;   // a command that prints each reading; empty: ask the operator
    std::string answers;  // a YAML file of readings (a dry run); empty: none
    std::string report;   // the JSON report ("-" or empty: stdout)
    std::string pdf;      // the report on A4 pages too; empty: none
};
// Runs test procedures in order into one report; `procedures` lists the
// shipped ones. The folders searched for shipped procedures, in order.
int RunProcedures(const ConnectOptions& connect, const RunOptions& options);
int ListProcedures();
std::vector<std::filesystem::path> ProcedureFolders();

struct ServeOptions {
    std::string listen = "127.0.0.1:8080";  // HOST:PORT; port 0 takes a free one
    bool allowRemote = false;               // needed for an address other than loopback
};
// The front panel: serves the page and its interface until Ctrl-C or SIGTERM.
int RunServe(const ConnectOptions& connect, const ServeOptions& options);

// Shared by the commands and the scenario steps.
void DropQuietDc(const std::string& output, std::vector<Signal>& signals);
std::string HealthLine();
// The smallest jump (mV) that marks a pacing pulse of the pacing set now
// (half its amplitude, at least 0.1 mV); 0 while pacing is off.
double PacingStep();
// Loads a channel of a data file or record (open, or by its path) into the
// library as what functions 14 and 18 play; the samples loaded, or -1 with a
// message.
long LoadIntoLibrary(HSIMRecord* record, const std::string& path, int channel, std::string& why);
long LoadIntoLibrary(const std::string& path, int channel, std::string& why);
// Records `seconds` of the stream (started by `start`) into signals; the
// progress line starts with `label`.
bool RecordStream(double seconds, const std::function<bool(std::string&)>& start,
                  std::vector<Signal>& signals, std::string& why, const std::string& label = "");

}  // namespace hsimctl

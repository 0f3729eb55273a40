// Signals in memory and how hsimctl writes and reads them: CSV, the ECG text
// format of the library's loaders, and ECG paper (PNG, SVG, PDF).
#pragma once

#include "hsim_records.h"

#include <memory>
#include <string>
#include <vector>

namespace hsimctl {

struct Signal {
    std::string name;         // a file's column or channel name
    double rate = 0;          // samples/s
    std::vector<double> mv;
    std::string label;        // what a plot names its row (empty: the name)
};

// The plot labels of the simulator's two channels.
inline constexpr const char* kSignalLabel = "ECG signal";
inline constexpr const char* kDcLabel = "DC/pacing";

enum class FileKind { Csv, EcgText, Plot, Unknown };
FileKind KindOfOutput(const std::string& path);
// Empty when the path names an output hsimctl writes, else a message.
std::string CheckOutput(const std::string& path);

struct PlotStyle {
    double mmPerSecond = 25.0;
    double mmPerMv = 10.0;
    double dpi = 150.0;
    double secondsPerRow = 10.0;
    double pacingStepMv = 0;  // > 0: pacing pulses of at least this step are marked
};

// Writes the signals (all of one rate for CSV and text) by the file's
// extension; an empty string when written, else what failed.
std::string WriteSignals(const std::string& path, const std::vector<Signal>& signals,
                         const std::string& title, const PlotStyle& style);

// A record or data file opened through the record library, closed with the
// object.
using OpenRecord = std::unique_ptr<HSIMRecord, void (*)(HSIMRecord*)>;
// Null with the library's message in why when it cannot be opened.
OpenRecord OpenRecordFile(const std::string& path, std::string& why);

// Reads signals of an open record (path names it in messages): the channels
// asked for (all when empty), from second `from` for `seconds` (all when
// negative). Empty string when read, else what failed.
std::string ReadSignals(HSIMRecord* record, const std::string& path, const std::vector<int>& channels,
                        double from, double seconds, std::vector<Signal>& signals);

// The record library's message of its last failure, with the code's name.
std::string RecordError(int code);

// A UTF-8 path as the wide string the library's wide-path functions take.
std::wstring WidePath(const std::string& path);

}  // namespace hsimctl

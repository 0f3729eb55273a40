// The readers behind hsim_records.h: an open record is a Record, one reader
// per kind of file. A reader fills the signal list and either the values
// (Record::values) or a Read of its own; failures set the thread's last
// error and return a code of HSIMRecordResult.
#pragma once

#include "records/hsim_records.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hsim::records {

struct SignalInfo {
    std::string name;
    std::string units;
    double rate = 0.0;
    int64_t length = 0;
};

class Record {
public:
    virtual ~Record() = default;
    // Samples first .. first + count - 1 (already within the signal) to mv.
    virtual void Read(int index, int64_t first, int64_t count, double* mv) const;

    int kind = HSIM_RECORD_AUTO;
    std::vector<SignalInfo> signals;
    // One vector per signal, millivolts, for the readers that convert at open.
    std::vector<std::vector<double>> values;
};

// Sets the thread's last error; returns code.
int Fail(int code, std::string message);
void SetLastError(std::string message);

// The file name without its directories, for messages.
std::string BaseName(const std::string& path);
// The factor that turns a value in the unit into millivolts: 1e-3 for uV
// (also written with the micro or mu sign), 1 for mV, 1e3 for V, compared
// without case and surrounding blanks; 1 for any other unit.
double MillivoltScale(std::string_view units);
// A whole number or decimal (C locale, optional sign, no other characters
// than blanks around it).
bool ParseNumber(std::string_view text, double& value);
bool ParseInteger(std::string_view text, int64_t& value);
std::string_view Trim(std::string_view text);
// ASCII letters to lower case; equality without regard to their case.
std::string Lower(std::string_view text);
bool EqualNoCase(std::string_view a, std::string_view b);
// The next line of text from position on, without its blanks and line end;
// false at the end of the text.
bool NextLine(std::string_view text, size_t& position, std::string_view& line);
// The whole file; HSIM_RECORD_OK, or OPEN / IO / MEMORY with the last error set.
int ReadWholeFile(const std::string& path, std::string& bytes);

// WFDB from memory: the header text and a loader of the signal files by the
// name the header gives. The loader returns HSIM_RECORD_OK or a failure code
// (having set the last error). headerName names the header in messages.
using WfdbFileLoader = std::function<int(const std::string& name, std::string& bytes)>;
int OpenWfdbMemory(std::string_view headerText, const std::string& headerName, const WfdbFileLoader& loader,
                   std::unique_ptr<Record>& out);
// WFDB from a .hea path, a .dat beside its header or the record name.
int OpenWfdb(const std::string& path, std::unique_ptr<Record>& out);
int OpenEdf(const std::string& path, std::unique_ptr<Record>& out);
int OpenCsv(const std::string& path, std::unique_ptr<Record>& out);
// CSV from memory (the path names the file in messages).
int OpenCsvMemory(std::string_view text, const std::string& name, std::unique_ptr<Record>& out);
int OpenEcgText(const std::string& path, std::unique_ptr<Record>& out);
int OpenEcgBinary(const std::string& path, std::unique_ptr<Record>& out);

}  // namespace hsim::records

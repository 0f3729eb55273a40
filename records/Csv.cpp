// CSV records: comma-separated numbers, one row a sample time, an optional
// first row of names. A first column named time, t, time_s or seconds gives
// the rate (its steps regular within 1 %); otherwise a comment line
// "# rate=500" must. The other columns are signals in millivolts.
#include "records/RecordsInternal.h"

#include <cmath>

namespace hsim::records {

namespace {

std::vector<std::string_view> SplitCommas(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t begin = 0;
    for (;;) {
        const size_t comma = line.find(',', begin);
        fields.push_back(Trim(line.substr(begin, comma == std::string_view::npos ? std::string_view::npos
                                                                                   : comma - begin)));
        if (comma == std::string_view::npos)
            return fields;
        begin = comma + 1;
    }
}

bool IsTimeName(std::string_view name)
{
    const std::string lower = Lower(name);
    return lower == "time" || lower == "t" || lower == "time_s" || lower == "seconds";
}

// "# rate=500" (blanks allowed around "rate" and "="); true with the rate.
bool RateComment(std::string_view line, double& rate)
{
    line = Trim(line.substr(1));
    if (line.size() < 4 || line.substr(0, 4) != "rate")
        return false;
    line = Trim(line.substr(4));
    if (line.empty() || line[0] != '=')
        return false;
    return ParseNumber(line.substr(1), rate);
}

}  // namespace

int OpenCsvMemory(std::string_view text, const std::string& name, std::unique_ptr<Record>& out)
{
    auto record = std::make_unique<Record>();
    std::vector<std::string> names;
    std::vector<std::vector<double>> columns;
    double commentRate = 0.0;
    bool haveRows = false;
    int lineNumber = 0;
    size_t pos = 0;
    auto bad = [&](int line, const std::string& what) {
        return Fail(HSIM_RECORD_ERROR_HEADER, name + " line " + std::to_string(line) + ": " + what);
    };
    for (std::string_view line; NextLine(text, pos, line);) {
        ++lineNumber;
        if (line.empty())
            continue;
        if (line[0] == '#') {
            double rate = 0.0;
            if (RateComment(line, rate)) {
                if (!(rate > 0.0) || !std::isfinite(rate))
                    return bad(lineNumber, "the rate must be a positive number");
                commentRate = rate;
            }
            continue;
        }
        const std::vector<std::string_view> fields = SplitCommas(line);
        std::vector<double> row(fields.size());
        bool numeric = true;
        for (size_t i = 0; i < fields.size() && numeric; ++i)
            numeric = ParseNumber(fields[i], row[i]);
        if (!haveRows && names.empty() && !numeric) {
            for (std::string_view f : fields)
                names.emplace_back(f);
            columns.resize(names.size());
            continue;
        }
        if (!numeric)
            return bad(lineNumber, "a field is not a number");
        if (columns.empty())
            columns.resize(fields.size());
        if (fields.size() != columns.size())
            return bad(lineNumber, std::to_string(fields.size()) + " fields, " + std::to_string(columns.size()) +
                                       " expected");
        for (size_t i = 0; i < row.size(); ++i)
            columns[i].push_back(row[i]);
        haveRows = true;
    }
    if (columns.empty())
        return Fail(HSIM_RECORD_ERROR_HEADER, name + ": no columns");

    size_t firstSignal = 0;
    double rate = commentRate;
    if (!names.empty() && IsTimeName(names[0])) {
        firstSignal = 1;
        const std::vector<double>& t = columns[0];
        if (t.size() >= 2) {
            const double step = (t.back() - t.front()) / static_cast<double>(t.size() - 1);
            if (!(step > 0.0) || !std::isfinite(step))
                return Fail(HSIM_RECORD_ERROR_HEADER, name + ": the time column does not increase");
            for (size_t i = 1; i < t.size(); ++i)
                if (!(std::fabs(t[i] - t[i - 1] - step) <= 0.01 * step))
                    return Fail(HSIM_RECORD_ERROR_HEADER,
                                name + ": irregular time step between rows " + std::to_string(i) + " and " +
                                    std::to_string(i + 1) + " (more than 1 % from the mean step)");
            rate = 1.0 / step;
        }
    }
    if (!(rate > 0.0))
        return Fail(HSIM_RECORD_ERROR_HEADER,
                    name + ": no sampling rate: give a first column named time (seconds) or a line \"# rate=500\"");
    for (size_t c = firstSignal; c < columns.size(); ++c) {
        SignalInfo info;
        info.name = names.empty() ? "column " + std::to_string(c + 1) : names[c];
        info.units = "mV";
        info.rate = rate;
        info.length = static_cast<int64_t>(columns[c].size());
        record->signals.push_back(std::move(info));
        record->values.push_back(std::move(columns[c]));
    }
    out = std::move(record);
    return HSIM_RECORD_OK;
}

int OpenCsv(const std::string& path, std::unique_ptr<Record>& out)
{
    std::string text;
    const int r = ReadWholeFile(path, text);
    if (r != HSIM_RECORD_OK)
        return r;
    return OpenCsvMemory(text, BaseName(path), out);
}

}  // namespace hsim::records

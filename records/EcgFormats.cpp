// The simulator's own ECG files, read by the device library's readers
// (synth/EcgFiles.h) so a file plays here as it loads there: the
// multi-channel text file (rate, count, channel count, names, rows), the
// one-channel text file (rate, count, one value a line) and the binary file.
#include "records/RecordsInternal.h"
#include "synth/EcgFiles.h"

#include <cerrno>
#include <cstring>

namespace hsim::records {

namespace {

int CannotOpen(const std::string& path)
{
    return Fail(HSIM_RECORD_ERROR_OPEN, path + ": " + std::strerror(errno));
}

void AddSignal(Record& record, std::string name, SampleSet& set)
{
    SignalInfo info;
    info.name = std::move(name);
    info.units = "mV";
    info.rate = set.rate;
    info.length = set.count;
    record.signals.push_back(std::move(info));
    record.values.emplace_back(set.samples.get(), set.samples.get() + set.count);
}

// The first four lines look like a multi-channel header: a plain whole
// number of channels on line 3 and a names line that is not a number. A
// one-channel file has samples there.
bool LooksMultiChannel(const std::string& path)
{
    FileSource in(path.c_str());
    if (!in.IsOpen())
        return false;
    LineReader lines(in);
    std::string_view line;
    for (int i = 0; i < 3; ++i)
        if (!lines.Next(line))
            return false;
    line = Trim(line);
    if (line.empty() || line.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    double number = 0.0;
    return lines.Next(line) && !ParseNumber(line, number);
}

int OpenMultiText(const std::string& path, std::unique_ptr<Record>& out)
{
    const std::string name = BaseName(path);
    std::vector<std::string> names;
    int channels = 0;
    {
        FileSource in(path.c_str());
        if (!in.IsOpen())
            return CannotOpen(path);
        channels = ReadEcgTextHeader(in, names);
    }
    if (channels < 0)
        return Fail(HSIM_RECORD_ERROR_HEADER, name + ": bad ECG text header (code " + std::to_string(channels) + ")");
    auto record = std::make_unique<Record>();
    for (int c = 0; c < channels; ++c) {
        FileSource in(path.c_str());
        if (!in.IsOpen())
            return CannotOpen(path);
        SampleSet set;
        const int r = ReadEcgText(in, c, set);
        if (r == -6)
            return Fail(HSIM_RECORD_ERROR_MEMORY, name + ": no memory for channel " + std::to_string(c + 1));
        if (r == -7)
            return Fail(HSIM_RECORD_ERROR_DATA, name + ": a row has no value of channel " + std::to_string(c + 1));
        if (r < 0)
            return Fail(HSIM_RECORD_ERROR_HEADER, name + ": bad ECG text header (code " + std::to_string(r) + ")");
        const std::string label =
            static_cast<size_t>(c) < names.size() ? std::string(Trim(names[static_cast<size_t>(c)])) : std::string();
        AddSignal(*record, label.empty() ? "channel " + std::to_string(c + 1) : label, set);
    }
    out = std::move(record);
    return HSIM_RECORD_OK;
}

}  // namespace

namespace {

// A file of one signal named "ECG", read by one of the device library's
// readers; its -4 is no memory, its other refusals are the header's
// (-2 the rate, else the count).
int OpenOneSignal(const std::string& path, int (*reader)(ByteSource&, SampleSet&), const char* rateRefused,
                  const char* countRefused, std::unique_ptr<Record>& out)
{
    FileSource in(path.c_str());
    if (!in.IsOpen())
        return CannotOpen(path);
    SampleSet set;
    const int r = reader(in, set);
    if (r == -4)
        return Fail(HSIM_RECORD_ERROR_MEMORY, BaseName(path) + ": no memory for the samples");
    if (r < 0)
        return Fail(HSIM_RECORD_ERROR_HEADER, BaseName(path) + (r == -2 ? rateRefused : countRefused));
    auto record = std::make_unique<Record>();
    AddSignal(*record, "ECG", set);
    out = std::move(record);
    return HSIM_RECORD_OK;
}

}  // namespace

int OpenEcgText(const std::string& path, std::unique_ptr<Record>& out)
{
    if (LooksMultiChannel(path))
        return OpenMultiText(path, out);
    return OpenOneSignal(path, ReadEcgTextSingle, ": rate line missing or outside 100..40000",
                         ": count line missing or not positive", out);
}

int OpenEcgBinary(const std::string& path, std::unique_ptr<Record>& out)
{
    return OpenOneSignal(path, ReadEcgBinary, ": rate missing or outside 30..5000",
                         ": count missing or outside 1..20000000", out);
}

}  // namespace hsim::records

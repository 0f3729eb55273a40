// The simulator's own ECG files, read by the device library's readers
// (formats/EcgFiles.h) so a file plays here as it loads there: the
// multi-channel text file (rate, count, channel count, names, rows), the
// one-channel text file (rate, count, one value a line) and the binary file.
#include "formats/EcgFiles.h"
#include "records/RecordsInternal.h"

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

// A multi-channel text file's rows as read, all channels in one array:
// signal c of row r is at r * width + c.
class TextRecord final : public Record {
public:
    void Read(int index, int64_t first, int64_t count, double* mv) const override
    {
        const double* from = rows.data() + static_cast<size_t>(first) * width + static_cast<size_t>(index);
        for (int64_t i = 0; i < count; ++i)
            mv[i] = from[static_cast<size_t>(i) * width];
    }

    std::vector<double> rows;
    size_t width = 0;
};

// All channels in one reading of the file. A file without rows gets an empty
// signal for every channel it declares, as long as it declares no more
// channels than it has bytes (so a few bytes cannot ask for millions).
int OpenMultiText(const std::string& path, std::unique_ptr<Record>& out)
{
    const std::string name = BaseName(path);
    TextChannels text;
    size_t size = 0;
    int r = 0;
    {
        FileSource in(path.c_str());
        if (!in.IsOpen())
            return CannotOpen(path);
        size = in.Remaining();
        r = ReadEcgTextChannels(in, text);
    }
    if (r == -6)
        return Fail(HSIM_RECORD_ERROR_MEMORY, name + ": no memory for the samples");
    if (r == -7)
        return Fail(HSIM_RECORD_ERROR_DATA, name + ": a row has no value of channel " + std::to_string(text.missing + 1));
    if (r < 0)
        return Fail(HSIM_RECORD_ERROR_HEADER, name + ": bad ECG text header (code " + std::to_string(r) + ")");
    if (text.rows == 0 && static_cast<size_t>(text.channels) > size)
        return Fail(HSIM_RECORD_ERROR_HEADER, name + ": " + std::to_string(text.channels) +
                                                  " channels declared in a file of " + std::to_string(size) +
                                                  " bytes without rows");
    auto record = std::make_unique<TextRecord>();
    record->signals.reserve(static_cast<size_t>(text.channels));
    for (int c = 0; c < text.channels; ++c) {
        const std::string_view label =
            static_cast<size_t>(c) < text.names.size() ? Trim(text.names[static_cast<size_t>(c)]) : std::string_view();
        SignalInfo info;
        info.name = label.empty() ? "channel " + std::to_string(c + 1) : std::string(label);
        info.units = "mV";
        info.rate = text.rate;
        info.length = text.rows;
        record->signals.push_back(std::move(info));
    }
    record->rows = std::move(text.values);
    record->width = static_cast<size_t>(text.channels);
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

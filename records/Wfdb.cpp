// WFDB records: the header (record line, signal lines) and the signal files
// in formats 16 and 212. The signal files' bytes are kept as read; a read
// decodes the frames it asks for. Signals in the same file are interleaved
// frame by frame in the order of their lines; a file may start after a byte
// offset ("16+512").
#include "records/RecordsInternal.h"

#include <cmath>
#include <limits>
#include <map>

namespace hsim::records {

namespace {

constexpr double kDefaultGain = 200.0;   // adu per physical unit when 0 or missing
constexpr double kDefaultRate = 250.0;   // samples/s when the record line has none

struct WfdbSignal {
    std::string file;
    int format = 0;
    int64_t offset = 0;
    double gain = kDefaultGain;
    int64_t baseline = 0;
    std::string units = "mV";
    std::string description;
    int group = 0;     // index of its file
    int position = 0;  // place in that file's frame
};

struct WfdbGroup {
    std::string file;
    int format = 0;
    int64_t offset = 0;
    int signals = 0;
    std::string bytes;
    int64_t frames = 0;  // whole frames the file holds
};

class WfdbRecord final : public Record {
public:
    void Read(int index, int64_t first, int64_t count, double* mv) const override;

    std::vector<WfdbSignal> wfdb;
    std::vector<WfdbGroup> groups;
    std::vector<double> unitScale;  // millivolts per physical unit
};

void WfdbRecord::Read(int index, int64_t first, int64_t count, double* mv) const
{
    const WfdbSignal& s = wfdb[static_cast<size_t>(index)];
    const WfdbGroup& g = groups[static_cast<size_t>(s.group)];
    const auto* b = reinterpret_cast<const unsigned char*>(g.bytes.data() + g.offset);
    const double gain = s.gain;
    const double k = unitScale[static_cast<size_t>(index)];
    const double base = static_cast<double>(s.baseline);
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    // Sample i of the signal is sample (first + i) * signals + position of the file.
    int64_t at = first * g.signals + s.position;
    if (g.format == 16) {
        for (int64_t i = 0; i < count; ++i, at += g.signals) {
            const int v = static_cast<int16_t>(static_cast<uint16_t>(b[2 * at] | b[2 * at + 1] << 8));
            mv[i] = v == -32768 ? nan : (v - base) / gain * k;
        }
    } else {  // 212: two 12-bit samples in three bytes, the second's high nibble in byte 1's high half
        for (int64_t i = 0; i < count; ++i, at += g.signals) {
            const unsigned char* p = b + 3 * (at / 2);
            const int raw = (at & 1) == 0 ? (p[0] | (p[1] & 0x0F) << 8) : (p[2] | (p[1] & 0xF0) << 4);
            const int v = raw >= 2048 ? raw - 4096 : raw;
            mv[i] = v == -2048 ? nan : (v - base) / gain * k;
        }
    }
}

// Blank-separated fields of a line.
std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const size_t begin = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > begin)
            fields.push_back(line.substr(begin, i - begin));
    }
    return fields;
}

class HeaderParser {
public:
    HeaderParser(const std::string& name) : m_Name(name) {}

    int Bad(int code, int line, const std::string& what) const
    {
        return Fail(code, m_Name + " line " + std::to_string(line) + ": " + what);
    }

    // The record line: name[/segments] signals [rate[/counter rate][(base)] [samples ...]].
    int RecordLine(const std::vector<std::string_view>& f, int line, int64_t& nsig, double& rate, int64_t& samples)
    {
        if (f[0].find('/') != std::string_view::npos)
            return Bad(HSIM_RECORD_ERROR_FORMAT, line, "multi-segment records are not supported");
        if (f.size() < 2 || !ParseInteger(f[1], nsig) || nsig < 0)
            return Bad(HSIM_RECORD_ERROR_HEADER, line, "no signal count on the record line");
        rate = kDefaultRate;
        if (f.size() >= 3) {
            std::string_view r = f[2];
            r = r.substr(0, r.find_first_of("/("));  // the counter frequency and base are not needed
            if (!ParseNumber(r, rate) || !(rate > 0.0) || !std::isfinite(rate))
                return Bad(HSIM_RECORD_ERROR_HEADER, line, "bad sampling frequency \"" + std::string(f[2]) + "\"");
        }
        samples = 0;
        if (f.size() >= 4 && (!ParseInteger(f[3], samples) || samples < 0))
            return Bad(HSIM_RECORD_ERROR_HEADER, line, "bad number of samples \"" + std::string(f[3]) + "\"");
        return HSIM_RECORD_OK;
    }

    // A signal line: file format[xN][:skew][+offset] gain[(baseline)][/units] adcres adczero init checksum
    // blocksize description.
    int SignalLine(std::string_view text, int line, WfdbSignal& s)
    {
        const std::vector<std::string_view> f = Fields(text);
        if (f.size() < 2)
            return Bad(HSIM_RECORD_ERROR_HEADER, line, "signal line without a format");
        s.file = std::string(f[0]);
        std::string_view fmt = f[1];
        const size_t plus = fmt.find('+');
        if (plus != std::string_view::npos) {
            if (!ParseInteger(fmt.substr(plus + 1), s.offset) || s.offset < 0)
                return Bad(HSIM_RECORD_ERROR_HEADER, line, "bad byte offset in \"" + std::string(f[1]) + "\"");
            fmt = fmt.substr(0, plus);
        }
        const size_t colon = fmt.find(':');
        if (colon != std::string_view::npos) {
            int64_t skew = 0;
            if (!ParseInteger(fmt.substr(colon + 1), skew))
                return Bad(HSIM_RECORD_ERROR_HEADER, line, "bad skew in \"" + std::string(f[1]) + "\"");
            if (skew != 0)
                return Bad(HSIM_RECORD_ERROR_FORMAT, line, "skew is not supported");
            fmt = fmt.substr(0, colon);
        }
        const size_t times = fmt.find('x');
        if (times != std::string_view::npos) {
            int64_t perFrame = 0;
            if (!ParseInteger(fmt.substr(times + 1), perFrame) || perFrame < 1)
                return Bad(HSIM_RECORD_ERROR_HEADER, line, "bad samples per frame in \"" + std::string(f[1]) + "\"");
            if (perFrame != 1)
                return Bad(HSIM_RECORD_ERROR_FORMAT, line, "several samples per frame are not supported");
            fmt = fmt.substr(0, times);
        }
        int64_t format = 0;
        if (!ParseInteger(fmt, format))
            return Bad(HSIM_RECORD_ERROR_HEADER, line, "bad format \"" + std::string(f[1]) + "\"");
        if (format != 16 && format != 212)
            return Bad(HSIM_RECORD_ERROR_FORMAT, line, "format " + std::to_string(format) + " is not supported");
        s.format = static_cast<int>(format);

        bool baselineGiven = false;
        if (f.size() >= 3) {
            std::string_view g = f[2];
            const size_t slash = g.find('/');
            if (slash != std::string_view::npos) {
                s.units = std::string(g.substr(slash + 1));
                g = g.substr(0, slash);
            }
            const size_t open = g.find('(');
            if (open != std::string_view::npos) {
                if (g.back() != ')' || !ParseInteger(g.substr(open + 1, g.size() - open - 2), s.baseline))
                    return Bad(HSIM_RECORD_ERROR_HEADER, line, "bad baseline in \"" + std::string(f[2]) + "\"");
                baselineGiven = true;
                g = g.substr(0, open);
            }
            if (!ParseNumber(g, s.gain) || !std::isfinite(s.gain))
                return Bad(HSIM_RECORD_ERROR_HEADER, line, "bad gain \"" + std::string(f[2]) + "\"");
            if (s.gain == 0.0)
                s.gain = kDefaultGain;
        }
        // ADC resolution, ADC zero, initial value, checksum and block size:
        // numbers when present; only the zero is used (the baseline's default).
        int64_t numbers[5] = {};
        for (size_t i = 3; i < 8 && i < f.size(); ++i)
            if (!ParseInteger(f[i], numbers[i - 3]))
                return Bad(HSIM_RECORD_ERROR_HEADER, line, "bad number \"" + std::string(f[i]) + "\"");
        if (!baselineGiven)
            s.baseline = numbers[1];
        if (f.size() > 8) {
            // The description: the rest of the line as written.
            const size_t at = static_cast<size_t>(f[8].data() - text.data());
            s.description = std::string(Trim(text.substr(at)));
        }
        return HSIM_RECORD_OK;
    }

private:
    const std::string& m_Name;
};

// Samples of a group's stream held by its bytes.
int64_t StreamSamples(int format, int64_t bytes)
{
    if (format == 16)
        return bytes / 2;
    return bytes / 3 * 2 + (bytes % 3 == 2 ? 1 : 0);
}

}  // namespace

int OpenWfdbMemory(std::string_view headerText, const std::string& headerName, const WfdbFileLoader& loader,
                   std::unique_ptr<Record>& out)
{
    HeaderParser parser(headerName);
    auto record = std::make_unique<WfdbRecord>();
    int64_t nsig = -1;
    int64_t declared = 0;
    double rate = 0.0;
    int lineNumber = 0;
    int recordLine = 0;
    size_t pos = 0;
    for (std::string_view line; NextLine(headerText, pos, line);) {
        ++lineNumber;
        if (line.empty() || line[0] == '#')
            continue;
        if (line.find('\0') != std::string_view::npos)
            return parser.Bad(HSIM_RECORD_ERROR_HEADER, lineNumber, "NUL byte in the header");
        if (nsig < 0) {
            const int r = parser.RecordLine(Fields(line), lineNumber, nsig, rate, declared);
            if (r != HSIM_RECORD_OK)
                return r;
            recordLine = lineNumber;
            continue;
        }
        if (static_cast<int64_t>(record->wfdb.size()) == nsig)
            return parser.Bad(HSIM_RECORD_ERROR_HEADER, lineNumber,
                              "more signal lines than the " + std::to_string(nsig) + " declared");
        WfdbSignal s;
        const int r = parser.SignalLine(line, lineNumber, s);
        if (r != HSIM_RECORD_OK)
            return r;
        // Signals of one file form a group, in the order of their lines.
        size_t g = 0;
        while (g < record->groups.size() && record->groups[g].file != s.file)
            ++g;
        if (g == record->groups.size()) {
            WfdbGroup group;
            group.file = s.file;
            group.format = s.format;
            group.offset = s.offset;
            record->groups.push_back(std::move(group));
        } else if (record->groups[g].format != s.format) {
            return parser.Bad(HSIM_RECORD_ERROR_FORMAT, lineNumber,
                              "signals of " + s.file + " in different formats are not supported");
        }
        s.group = static_cast<int>(g);
        s.position = record->groups[g].signals++;
        record->wfdb.push_back(std::move(s));
    }
    if (nsig < 0)
        return Fail(HSIM_RECORD_ERROR_HEADER, headerName + ": no record line");
    if (static_cast<int64_t>(record->wfdb.size()) != nsig)
        return parser.Bad(HSIM_RECORD_ERROR_HEADER, recordLine,
                          std::to_string(nsig) + " signals declared, " + std::to_string(record->wfdb.size()) +
                              " signal lines follow");

    // The signal files, and the frames each holds.
    int64_t frames = std::numeric_limits<int64_t>::max();
    for (WfdbGroup& g : record->groups) {
        if (g.file == "~")
            return Fail(HSIM_RECORD_ERROR_FORMAT, headerName + ": signals without a file (\"~\") are not supported");
        const int r = loader(g.file, g.bytes);
        if (r != HSIM_RECORD_OK)
            return r;
        const int64_t size = static_cast<int64_t>(g.bytes.size());
        if (g.offset > size)
            return Fail(HSIM_RECORD_ERROR_DATA, g.file + ": byte offset " + std::to_string(g.offset) +
                                                    " beyond the file's " + std::to_string(size) + " bytes");
        g.frames = StreamSamples(g.format, size - g.offset) / g.signals;
        frames = std::min(frames, g.frames);
        if (declared > 0 && g.frames < declared)
            return Fail(HSIM_RECORD_ERROR_DATA, g.file + " holds " + std::to_string(g.frames) + " samples a signal, " +
                                                    headerName + " declares " + std::to_string(declared));
    }
    const int64_t length = declared > 0 ? declared : (record->groups.empty() ? 0 : frames);
    for (const WfdbSignal& s : record->wfdb) {
        SignalInfo info;
        info.name = s.description.empty() ? s.file + " signal " + std::to_string(s.position) : s.description;
        info.units = s.units;
        info.rate = rate;
        info.length = length;
        record->signals.push_back(std::move(info));
        record->unitScale.push_back(MillivoltScale(s.units));
    }
    out = std::move(record);
    return HSIM_RECORD_OK;
}

int OpenWfdb(const std::string& path, std::unique_ptr<Record>& out)
{
    // The header: the path itself, the .hea of a .dat, or the name plus .hea.
    std::string header = path;
    auto endsWith = [](const std::string& s, const char* suffix) {
        const size_t n = std::char_traits<char>::length(suffix);
        return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
    };
    if (endsWith(path, ".dat"))
        header = path.substr(0, path.size() - 4) + ".hea";
    else if (!endsWith(path, ".hea"))
        header = path + ".hea";
    std::string text;
    const int r = ReadWholeFile(header, text);
    if (r != HSIM_RECORD_OK)
        return r;
    const size_t slash = header.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : header.substr(0, slash + 1);
    const WfdbFileLoader loader = [&dir](const std::string& name, std::string& bytes) {
        return ReadWholeFile(dir + name, bytes);
    };
    return OpenWfdbMemory(text, BaseName(header), loader, out);
}

}  // namespace hsim::records

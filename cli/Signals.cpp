#include "Signals.h"

#include "EcgPaper.h"
#include "hsim_records.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

namespace hsimctl {
namespace {

// A number as text independent of the locale.
void Append(std::string& line, double value, int decimals)
{
    char text[40];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    line.append(text, result.ptr);
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

std::string WriteTable(const std::string& path, const std::vector<Signal>& signals, bool csv)
{
    const double rate = signals.front().rate;
    size_t count = signals.front().mv.size();
    for (const Signal& s : signals) {
        if (s.rate != rate)
            return "the signals have different rates; write them to a plot instead";
        count = std::min(count, s.mv.size());
    }
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "w"));
    if (!file)
        return "cannot write " + path;
    std::string text;
    if (csv) {
        text = "time_s";
        for (const Signal& s : signals)
            text += "," + s.name;
        text += "\n";
    } else {
        // rate, count, channel count, names, then one row a sample.
        Append(text, rate, rate == std::floor(rate) ? 0 : 3);
        text += "\n" + std::to_string(count) + "\n" + std::to_string(signals.size()) + "\n";
        for (size_t i = 0; i < signals.size(); ++i)
            text += (i ? "," : "") + signals[i].name;
        text += "\n";
    }
    for (size_t k = 0; k < count; ++k) {
        if (csv) {
            Append(text, double(k) / rate, 6);
            text += ",";
        }
        for (size_t i = 0; i < signals.size(); ++i) {
            if (i)
                text += ",";
            Append(text, signals[i].mv[k], 4);
        }
        text += "\n";
        if (text.size() > (1 << 20) || k + 1 == count) {
            if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size())
                return "writing " + path + " failed";
            text.clear();
        }
    }
    if (std::fflush(file.get()) != 0)
        return "writing " + path + " failed";
    return "";
}

}  // namespace

FileKind KindOfOutput(const std::string& path)
{
    const std::string ext = FileExtension(path);
    if (ext == ".csv")
        return FileKind::Csv;
    if (ext == ".txt" || ext == ".ecg")
        return FileKind::EcgText;
    if (ext == ".png" || ext == ".svg" || ext == ".pdf")
        return FileKind::Plot;
    return FileKind::Unknown;
}

std::string CheckOutput(const std::string& path)
{
    return KindOfOutput(path) == FileKind::Unknown
               ? "unknown output type of " + path + " (use .csv, .txt, .png, .svg or .pdf)"
               : "";
}

std::string WriteSignals(const std::string& path, const std::vector<Signal>& signals,
                         const std::string& title, const PlotStyle& style)
{
    if (signals.empty() || signals.front().mv.empty())
        return "no samples to write";
    switch (KindOfOutput(path)) {
    case FileKind::Csv: return WriteTable(path, signals, true);
    case FileKind::EcgText: return WriteTable(path, signals, false);
    case FileKind::Plot: {
        // Pacing pulses found on any channel are marked on every trace.
        std::vector<double> pulses;
        if (style.pacingStepMv > 0) {
            for (const Signal& s : signals) {
                const auto found = FindPacingPulses(s.mv, s.rate, style.pacingStepMv);
                pulses.insert(pulses.end(), found.begin(), found.end());
            }
            std::sort(pulses.begin(), pulses.end());
            pulses.erase(std::unique(pulses.begin(), pulses.end(),
                                     [](double a, double b) { return b - a < 2.5e-3; }),
                         pulses.end());
        }
        std::vector<Trace> traces;
        for (const Signal& s : signals)
            traces.push_back(Trace{s.label.empty() ? s.name : s.label, s.rate, s.mv, pulses});
        PaperOptions options;
        options.mmPerSecond = style.mmPerSecond;
        options.mmPerMv = style.mmPerMv;
        options.dpi = style.dpi;
        options.secondsPerRow = style.secondsPerRow;
        options.title = title;
        return DrawEcgPaper(path, traces, options);
    }
    case FileKind::Unknown: break;
    }
    return CheckOutput(path);
}

OpenRecord OpenRecordFile(const std::string& path, std::string& why)
{
    HSIMRecord* opened = nullptr;
    if (const int code = HSIMRecordOpen(path.c_str(), HSIM_RECORD_AUTO, &opened))
        why = RecordError(code);
    return OpenRecord(opened, HSIMRecordClose);
}

std::string ReadSignals(HSIMRecord* record, const std::string& path, const std::vector<int>& channels,
                        double from, double seconds, std::vector<Signal>& signals)
{
    const int available = HSIMRecordSignalCount(record);
    std::vector<int> wanted = channels;
    if (wanted.empty())
        for (int i = 0; i < available; ++i)
            wanted.push_back(i);
    for (const int index : wanted) {
        HSIMRecordSignal info{};
        if (index < 0 || index >= available || HSIMRecordGetSignal(record, index, &info) != 0)
            return path + ": no signal " + std::to_string(index) + " (the file has " +
                   std::to_string(available) + ")";
        const int64_t first = std::min<int64_t>(info.length, int64_t(std::max(0.0, from) * info.rate));
        int64_t count = info.length - first;
        if (seconds >= 0)
            count = std::min<int64_t>(count, int64_t(std::llround(seconds * info.rate)));
        Signal s;
        s.name = info.name[0] ? info.name : "signal " + std::to_string(index);
        s.rate = info.rate;
        s.mv.resize(size_t(count));
        const int64_t read = HSIMRecordReadMv(record, index, first, count, s.mv.data());
        if (read < 0)
            return RecordError(int(read));
        s.mv.resize(size_t(read));
        signals.push_back(std::move(s));
    }
    return "";
}

std::string RecordError(int code)
{
    return std::string(HSIMRecordLastError()) + " (" + HSIMRecordResultName(code) + ")";
}

std::wstring WidePath(const std::string& path)
{
    std::wstring wide;
    for (size_t i = 0; i < path.size();) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > path.size())
            return L"";  // not UTF-8: the library refuses an empty path
        char32_t code = length == 1 ? c : c & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(path[i + k]);
            if ((next & 0xC0) != 0x80)
                return L"";
            code = (code << 6) | (next & 0x3F);
        }
        wide += wchar_t(code);
        i += size_t(length);
    }
    return wide;
}

}  // namespace hsimctl

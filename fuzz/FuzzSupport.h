// Shared pieces of the fuzz targets: a failing check that libFuzzer reports
// as a crash, a byte source that hands its bytes out in small pieces, and a
// second, deliberately plain reading of the file formats (std::string, strtod,
// strtoll) that the readers' results are compared against.
//
// The reference reading follows the formats as the loaders document them:
//   text file:   rate, count, channel count, names, then rows of values;
//   one channel: rate, count, then one value a line;
//   fields are split at "," with empty fields skipped (a row "0.1,,0.3" has
//   two fields), numbers are read as strtod and strtoll read them in the C
//   locale (the fuzzers never call setlocale), values are clamped to
//   [-2.5, 2.5] mV and a NaN becomes 0.
#pragma once

#include "FuzzCheck.h"
#include "formats/EcgFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Memory handed out in pieces of a few bytes, as a pipe or a slow disk may
// give them; the size left is reported or, like a pipe, not known.
class PieceSource final : public hsim::ByteSource {
public:
    PieceSource(const uint8_t* data, size_t size, size_t piece, bool sizeKnown)
        : m_Data(data), m_Size(size), m_Piece(piece > 0 ? piece : 1), m_SizeKnown(sizeKnown)
    {
    }
    size_t Read(char* buffer, size_t n) override
    {
        // Pieces of m_Piece, m_Piece + 1, ..., 2 m_Piece bytes in turn, so
        // both odd and even lengths come up.
        const size_t want = m_Piece + (m_Calls++ % (m_Piece + 1));
        const size_t k = std::min({n, want, m_Size - m_Position});
        if (k > 0)
            std::memcpy(buffer, m_Data + m_Position, k);
        m_Position += k;
        return k;
    }
    size_t Remaining() const override { return m_SizeKnown ? m_Size - m_Position : SIZE_MAX; }

private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_Piece;
    bool m_SizeKnown;
    size_t m_Position = 0;
    size_t m_Calls = 0;
};

// The lines of a text, each with its newline; a last line without one counts
// when it is not empty.
inline std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t nl = text.find('\n', begin);
        const size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(begin, end - begin));
        begin = end;
    }
    return lines;
}

// The non-empty pieces of a line between commas (what strtok(line, ",")
// returns one after another).
inline std::vector<std::string_view> SplitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t begin = 0;
    while (begin <= line.size()) {
        size_t comma = line.find(',', begin);
        if (comma == std::string_view::npos)
            comma = line.size();
        if (comma > begin)
            fields.push_back(line.substr(begin, comma - begin));
        begin = comma + 1;
    }
    return fields;
}

// strtod of the C locale; the copy ends at the first NUL, as a C string would.
inline double ReferenceDouble(std::string_view text)
{
    const std::string s(text);
    return std::strtod(s.c_str(), nullptr);
}

// strtoll of the C locale, saturated to the range of int.
inline int ReferenceInt(std::string_view text)
{
    const std::string s(text);
    const long long v = std::strtoll(s.c_str(), nullptr, 10);
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

inline double ReferenceClamp(double v)
{
    if (std::isnan(v))
        return 0.0;
    return std::min(2.5, std::max(-2.5, v));
}

// Equal as numbers, two NaNs included (the sign of a zero is not compared).
inline bool SameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// The outcome of reading a text file, as the reference reading sees it.
struct TextOutcome {
    int result = 0;
    bool replaces = false;
    double rate = 0.0;
    int count = 0;  // the header's count
    std::vector<double> samples;
};

// Lines 1 and 2 (and 3 for the multi-channel file): 0, or the refusal.
inline int ReferenceHeader(const std::vector<std::string_view>& lines, bool checkRate, bool multi,
                           double& rate, int& count, int& channels)
{
    if (lines.empty())
        return -2;
    rate = ReferenceDouble(lines[0]);
    if (rate == 0.0 || (checkRate && !(rate >= 100.0 && rate <= 40000.0)))
        return -2;
    if (lines.size() < 2)
        return -3;
    count = ReferenceInt(lines[1]);
    if (count <= 0)
        return -3;
    if (!multi)
        return 0;
    if (lines.size() < 3)
        return -4;
    channels = ReferenceInt(lines[2]);
    return channels > 0 ? 0 : -4;
}

inline TextOutcome ReferenceText(std::string_view text, int channel)
{
    TextOutcome o;
    const std::vector<std::string_view> lines = SplitLines(text);
    int channels = 0;
    o.result = ReferenceHeader(lines, true, true, o.rate, o.count, channels);
    if (o.result < 0)
        return o;
    // A channel the file cannot have is refused with the header, before the
    // names line is read, and leaves the loaded data alone.
    if (channel < 0 || channel >= channels) {
        o.result = -7;
        return o;
    }
    if (lines.size() < 4) {
        o.result = -5;
        return o;
    }
    o.replaces = true;
    for (size_t i = 4; i < lines.size() && o.samples.size() < static_cast<size_t>(o.count); ++i) {
        const std::vector<std::string_view> fields = SplitFields(lines[i]);
        if (static_cast<size_t>(channel) >= fields.size()) {
            o.samples.clear();
            o.result = -7;
            return o;
        }
        o.samples.push_back(ReferenceClamp(ReferenceDouble(fields[channel])));
    }
    o.result = static_cast<int>(o.samples.size());
    return o;
}

inline TextOutcome ReferenceTextSingle(std::string_view text)
{
    TextOutcome o;
    const std::vector<std::string_view> lines = SplitLines(text);
    int channels = 0;
    o.result = ReferenceHeader(lines, true, false, o.rate, o.count, channels);
    if (o.result < 0)
        return o;
    o.replaces = true;
    for (size_t i = 2; i < lines.size() && o.samples.size() < static_cast<size_t>(o.count); ++i)
        o.samples.push_back(ReferenceClamp(ReferenceDouble(lines[i])));
    o.result = static_cast<int>(o.samples.size());
    return o;
}

// The outcome of reading every channel at once, as the reference sees it:
// the rows up to the header's count, each with at least a field per channel,
// else -7 with the lowest channel some row lacks.
struct ChannelsOutcome {
    int result = 0;
    int channels = 0;
    int missing = -1;
    double rate = 0.0;
    std::vector<double> values;
    std::vector<std::string> names;
};

inline ChannelsOutcome ReferenceChannels(std::string_view text)
{
    ChannelsOutcome o;
    const std::vector<std::string_view> lines = SplitLines(text);
    int count = 0;
    o.result = ReferenceHeader(lines, true, true, o.rate, count, o.channels);
    if (o.result < 0)
        return o;
    if (lines.size() < 4) {
        o.result = -5;
        return o;
    }
    for (std::string_view field : SplitFields(lines[3]))
        if (o.names.size() < static_cast<size_t>(o.channels))
            o.names.emplace_back(field.substr(0, 127));
    int fewest = o.channels;
    int rows = 0;
    for (size_t i = 4; i < lines.size() && rows < count; ++i, ++rows) {
        const std::vector<std::string_view> fields = SplitFields(lines[i]);
        fewest = static_cast<int>(std::min<size_t>(fewest, fields.size()));
        for (int c = 0; c < o.channels && fewest == o.channels; ++c)
            o.values.push_back(ReferenceClamp(ReferenceDouble(fields[static_cast<size_t>(c)])));
    }
    if (fewest < o.channels) {
        o.missing = fewest;
        o.values.clear();
        o.names.clear();
        o.result = -7;
        return o;
    }
    o.result = rows;
    return o;
}

// The all-channel reading against the reference, with the invariants that
// hold whatever the input.
inline void CheckChannels(int result, const hsim::TextChannels& got, const ChannelsOutcome& expected)
{
    FUZZ_CHECK(result >= -7 && result != -1 && result != -6);  // the fuzzed files are small
    FUZZ_CHECK(result == expected.result);
    FUZZ_CHECK(got.missing == expected.missing);
    if (result < 0) {
        FUZZ_CHECK(got.values.empty() && got.names.empty() && got.rows == 0 && got.channels == 0);
        FUZZ_CHECK((result == -7) == (got.missing >= 0));
        return;
    }
    FUZZ_CHECK(got.rows == result);
    FUZZ_CHECK(got.channels == expected.channels);
    FUZZ_CHECK(SameNumber(got.rate, expected.rate));
    FUZZ_CHECK(got.names == expected.names);
    FUZZ_CHECK(got.values.size() == static_cast<size_t>(got.rows) * static_cast<size_t>(got.channels));
    for (size_t i = 0; i < got.values.size(); ++i) {
        FUZZ_CHECK(std::isfinite(got.values[i]));
        FUZZ_CHECK(SameNumber(got.values[i], expected.values[i]));
    }
}

// A reader's set against the reference outcome, and the invariants that hold
// whatever the input: a result that is a sample count no larger than the
// header's or one of the documented refusals; as many samples stored as the
// result says, each finite and within the clamp; the data replaced exactly
// when the header was accepted.
inline void CheckSet(int result, const hsim::SampleSet& set, const TextOutcome& expected, int lowestCode,
                     int noMemoryCode)
{
    FUZZ_CHECK(result >= lowestCode);
    FUZZ_CHECK(result != -1);
    if (result >= 0) {
        FUZZ_CHECK(set.replaces);
        FUZZ_CHECK(set.samples != nullptr);
        FUZZ_CHECK(set.count == result);
        FUZZ_CHECK(result <= expected.count);
        for (int i = 0; i < set.count; ++i) {
            FUZZ_CHECK(std::isfinite(set.samples[i]));
            FUZZ_CHECK(set.samples[i] >= -hsim::kFileClampMv && set.samples[i] <= hsim::kFileClampMv);
        }
    } else {
        FUZZ_CHECK(set.count == 0);
        // Refusals of the header (rate, count, channel count, names) leave
        // the loaded data alone; later failures leave nothing loaded.
        if (result >= -5 && result != noMemoryCode)
            FUZZ_CHECK(!set.replaces);
        FUZZ_CHECK(set.samples == nullptr);
    }
    FUZZ_CHECK(result != noMemoryCode);  // the fuzzed files are small
    FUZZ_CHECK(result == expected.result);
    FUZZ_CHECK(set.replaces == expected.replaces);
    if (result >= 0) {
        FUZZ_CHECK(SameNumber(set.rate, expected.rate));
        for (int i = 0; i < set.count; ++i)
            FUZZ_CHECK(SameNumber(set.samples[i], expected.samples[static_cast<size_t>(i)]));
    }
}

}  // namespace fuzz

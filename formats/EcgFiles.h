// Readers of recorded ECG data: the multi-channel and one-channel ECG text
// files and the compact binary file. Pure parsing: each reader takes its bytes
// from a ByteSource (a file or memory) and fills a SampleSet; nothing here
// touches the engine, so a large file is read without the global lock and
// swapped in afterwards. The readers use the runtime alone; the device
// library's loaders and the record library link the same code.
//
// Text files are read line by line, whole lines of any length. Numbers are
// read as the C library's atof and atoi read them in the C locale (leading
// white space, a sign, decimal or hexadecimal floating point, inf and nan;
// whatever follows the number is ignored), independently of the application's
// locale. Sample values are clamped to the reader's limits; a NaN becomes 0,
// so it never reaches the DAC words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hsim {

// Where a reader takes its bytes from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to n bytes into buffer; 0 at the end (or on a read error).
    virtual size_t Read(char* buffer, size_t n) = 0;
    // The bytes still to come when known (a regular file, memory), else SIZE_MAX.
    virtual size_t Remaining() const = 0;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, size_t size);
    size_t Read(char* buffer, size_t n) override;
    size_t Remaining() const override { return m_Size - m_Position; }

private:
    const char* m_Data;
    size_t m_Size;
    size_t m_Position = 0;
};

// A file opened for reading by its (UTF-8) path.
class FileSource final : public ByteSource {
public:
    explicit FileSource(const char* path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    bool IsOpen() const { return m_Fd >= 0; }
    size_t Read(char* buffer, size_t n) override;
    size_t Remaining() const override { return m_Remaining; }

private:
    int m_Fd = -1;
    size_t m_Remaining = SIZE_MAX;
};

// The lines of a source, each with its newline (the last one may have none).
class LineReader {
public:
    explicit LineReader(ByteSource& in);
    // The next line; false at the end. The view is valid until the next call.
    bool Next(std::string_view& line);
    // Bytes not yet returned as lines: buffered plus still in the source.
    size_t Remaining() const;

private:
    ByteSource& m_In;
    std::vector<char> m_Buffer;
    size_t m_Begin = 0;
    size_t m_End = 0;
    bool m_Eof = false;
};

// atof and atoi of the C locale on the characters [begin, end).
double ParseDouble(const char* begin, const char* end);
int ParseInt(const char* begin, const char* end);

// A loaded data set: the first count of the array hold samples, mV.
struct SampleSet {
    std::unique_ptr<double[]> samples;
    int count = 0;
    double rate = 0.0;
    // The header was accepted: the set replaces the loaded data, also when
    // reading failed afterwards (then with nothing loaded).
    bool replaces = false;
};

// Limits of the readers.
constexpr double kTextMinRate = 100.0;
constexpr double kTextMaxRate = 40000.0;
constexpr int kBinaryMinRate = 30;
constexpr int kBinaryMaxRate = 5000;
constexpr int32_t kBinaryMaxSamples = 20000000;
constexpr double kFileClampMv = 2.5;
constexpr size_t kChannelNameSize = 128;  // a name with its terminator

// Multi-channel text file, one channel (0-based). The samples stored (fewer
// than the header's count when the file ends early), or: -2 rate line missing,
// 0 or outside [100, 40000]; -3 count line missing or not positive; -4 channel
// line missing or not positive; -5 names line missing; -6 no memory; -7 a
// negative channel or one not below the channel count (refused with the
// header), or a row without that field (nothing loaded).
int ReadEcgText(ByteSource& in, int channel, SampleSet& out);
// One-channel text file (rate, count, one value a line). The samples stored,
// or -2 rate line missing, 0 or outside [100, 40000]; -3 count line missing
// or not positive; -4 no memory.
int ReadEcgTextSingle(ByteSource& in, SampleSet& out);
// Binary file (big-endian rate, count, then 16-bit microvolts). The samples
// stored, or -2 rate missing or outside [30, 5000]; -3 count missing or
// outside 1..20000000; -4 no memory.
int ReadEcgBinary(ByteSource& in, SampleSet& out);

// The header of a multi-channel text file: the channel count, or -2 .. -5 as
// ReadEcgText. names receives at most that many names, split at ",", each
// cut to 127 characters; the last keeps the line's newline.
int ReadEcgTextHeader(ByteSource& in, std::vector<std::string>& names);

// Every channel of a multi-channel text file, read in one pass.
struct TextChannels {
    // Row after row: values[r * channels + c] is row r's value of channel c.
    std::vector<double> values;
    // As ReadEcgTextHeader gives them.
    std::vector<std::string> names;
    int channels = 0;
    int rows = 0;
    double rate = 0.0;
    // With -7: the lowest channel that some row has no field for.
    int missing = -1;
};
// Multi-channel text file, all channels at once: channel c's samples are
// those ReadEcgText(in, c) stores. The rows stored, or -2 .. -5 as
// ReadEcgText; -6 no memory; -7 a row without some channel's field (every
// row up to the header's count is looked at, so missing is the lowest
// channel any of them lacks; nothing is kept). Memory follows the bytes
// present (for a source of known size, room for one value per two bytes
// left is reserved once; otherwise the array grows with the rows read), never
// the header's count, and nothing is allocated per channel.
int ReadEcgTextChannels(ByteSource& in, TextChannels& out);

// Clamps a sample to [-limit, limit]; NaN gives 0.
inline double ClampSample(double v, double limit)
{
    if (v > limit)
        return limit;
    if (v < -limit)
        return -limit;
    return v == v ? v : 0.0;
}

}  // namespace hsim

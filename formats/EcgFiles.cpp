#include "formats/EcgFiles.h"

#include "runtime/Utilities.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace hsim {

namespace {

constexpr size_t kReadChunk = 1 << 18;

// Leading white space and one sign, as atof and atoi skip them.
const char* SkipSpaceAndSign(const char* p, const char* end, bool& negative)
{
    while (p < end && IsCLocaleSpace(*p))
        ++p;
    negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-'))
        ++p;
    return p;
}

// A magnitude from_chars could not represent, as strtod gives it: infinite
// when it is too large, 0 when too small. [begin, end) is what from_chars
// matched (after any "0x"): digits, an optional point, an optional exponent.
// The direction follows from where the first non-zero digit stands and from
// the exponent, never from what comes after the number.
double OutOfRange(const char* begin, const char* end, bool hex)
{
    constexpr long long kSaturated = 1LL << 50;
    const char marker = hex ? 'p' : 'e';
    // The value lies in [base^(order-1), base^order) times the exponent's power.
    long long order = 0;
    bool point = false;
    bool nonZero = false;
    const char* p = begin;
    for (; p < end && (*p | 0x20) != marker; ++p) {
        if (*p == '.') {
            point = true;
        } else if (nonZero || *p != '0') {
            nonZero = true;
            if (!point)
                ++order;  // a digit before the point, from the first non-zero one on
        } else if (point) {
            --order;  // a zero after the point, before the first non-zero digit
        }
    }
    if (!nonZero)
        return 0.0;
    long long exponent = 0;
    bool negative = false;
    if (p < end) {
        ++p;
        if (p < end && (*p == '+' || *p == '-'))
            negative = *p++ == '-';
        for (; p < end && *p >= '0' && *p <= '9'; ++p)
            exponent = std::min(exponent * 10 + (*p - '0'), kSaturated);
    }
    order = std::min(order, kSaturated);
    const long long scale = (hex ? 4 * order : order) + (negative ? -exponent : exponent);
    return scale > 0 ? HUGE_VAL : 0.0;
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The end of a hexadecimal number after its "0x": digits, a point, digits,
// and a binary exponent when a digit follows the "p" and its sign. from_chars
// is given exactly this much: libstdc++ 12 also reads a second sign ("1p+-5"
// as 1p-5) where strtod ends the number at the "p".
const char* HexNumberEnd(const char* p, const char* end)
{
    while (p < end && IsHexDigit(*p))
        ++p;
    if (p < end && *p == '.') {
        ++p;
        while (p < end && IsHexDigit(*p))
            ++p;
    }
    if (p < end && (*p == 'p' || *p == 'P')) {
        const char* e = p + 1;
        if (e < end && (*e == '+' || *e == '-'))
            ++e;
        if (e < end && IsDigit(*e)) {
            while (e < end && IsDigit(*e))
                ++e;
            p = e;
        }
    }
    return p;
}

// An allocation of n samples; null when there is no memory.
std::unique_ptr<double[]> Allocate(size_t n)
{
    return std::unique_ptr<double[]>(new (std::nothrow) double[std::max<size_t>(n, 1)]);
}

// The array for a header's count: the count, but no more rows than the bytes
// left could hold, so a header that claims more than the file has does not
// allocate for it.
size_t Capacity(int32_t count, size_t bytesLeft, size_t bytesPerSample)
{
    return std::min<size_t>(static_cast<size_t>(count), bytesLeft / bytesPerSample);
}

// The array of a text reader. From a source whose size is known it is
// allocated once, for the rows the bytes left can hold; from one of unknown
// size (a pipe) it grows with the rows that come, so a header that claims
// more rows than arrive does not allocate for them.
class RowArray {
public:
    RowArray(SampleSet& out, int32_t count, size_t bytesLeft)
        : m_Out(out), m_Limit(Capacity(count, bytesLeft, 1)),
          m_Capacity(bytesLeft == SIZE_MAX ? std::min<size_t>(m_Limit, kFirstRows) : m_Limit)
    {
        m_Out.samples = Allocate(m_Capacity);
    }
    bool Allocated() const { return m_Out.samples != nullptr; }
    bool Full() const { return m_Count == m_Limit; }
    // false when there is no memory for it (nothing is kept then).
    bool Add(double v)
    {
        if (m_Count == m_Capacity && !Grow()) {
            m_Out.samples.reset();
            return false;
        }
        m_Out.samples[m_Count++] = v;
        return true;
    }
    int Count() const { return static_cast<int>(m_Count); }

private:
    static constexpr size_t kFirstRows = 1 << 16;
    bool Grow()
    {
        const size_t capacity = std::min(m_Limit, 2 * m_Capacity);
        std::unique_ptr<double[]> next = Allocate(capacity);
        if (next == nullptr)
            return false;
        std::copy_n(m_Out.samples.get(), m_Count, next.get());
        m_Out.samples = std::move(next);
        m_Capacity = capacity;
        return true;
    }

    SampleSet& m_Out;
    size_t m_Limit;
    size_t m_Capacity;
    size_t m_Count = 0;
};

bool ValidTextRate(double rate)
{
    return rate >= kTextMinRate && rate <= kTextMaxRate;
}

// Lines 1 and 2: the rate and the count. 0, -2 or -3.
int ReadRateAndCount(LineReader& lines, bool checkRange, double& rate, int& count)
{
    std::string_view line;
    if (!lines.Next(line))
        return -2;
    rate = ParseDouble(line.data(), line.data() + line.size());
    if (rate == 0.0 || (checkRange && !ValidTextRate(rate)))
        return -2;
    if (!lines.Next(line))
        return -3;
    count = ParseInt(line.data(), line.data() + line.size());
    return count > 0 ? 0 : -3;
}

// Lines 1 to 3 of the multi-channel file: the rate, the count and the
// channel count. The channel count, or the first refusal (-2, -3 or -4).
int ReadMultiTextHeader(LineReader& lines, bool checkRange, double& rate, int& count)
{
    const int result = ReadRateAndCount(lines, checkRange, rate, count);
    if (result < 0)
        return result;
    std::string_view line;
    if (!lines.Next(line))
        return -4;
    const int channels = ParseInt(line.data(), line.data() + line.size());
    return channels > 0 ? channels : -4;
}

size_t ReadFully(ByteSource& in, unsigned char* to, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const size_t k = in.Read(reinterpret_cast<char*>(to + got), n - got);
        if (k == 0)
            break;
        got += k;
    }
    return got;
}

// The field of a row with the given index, counting only non-empty fields
// between commas; false when the row has no such field.
bool FindField(std::string_view row, int index, const char*& begin, const char*& end)
{
    const char* p = row.data();
    const char* stop = p + row.size();
    int n = 0;
    while (p < stop) {
        const char* comma = static_cast<const char*>(memchr(p, ',', static_cast<size_t>(stop - p)));
        const char* fieldEnd = comma != nullptr ? comma : stop;
        if (fieldEnd > p) {
            if (n == index) {
                begin = p;
                end = fieldEnd;
                return true;
            }
            ++n;
        }
        p = fieldEnd + 1;
    }
    return false;
}

// Exact powers of ten: every one up to 10^22 is a double.
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The common case of a data file, a plain decimal without sign ("1.234",
// "12", ".5", "5."): at most 15 digits, no exponent, and after it the end or
// a character that is neither a digit nor a letter (so neither an exponent
// nor the x of "0x" follows). Its digits make an integer below 2^53 and the
// power of ten is exact, so one division gives the correctly rounded value,
// the one from_chars and strtod give. false when the text is not of this
// form; v is then untouched.
bool ParsePlainDecimal(const char* p, const char* end, double& v)
{
    uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
    bool point = false;
    for (; p < end; ++p) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (digit < 10) {
            if (++digits > 15)
                return false;
            mantissa = mantissa * 10 + digit;
            fraction += point ? 1 : 0;
        } else if (*p == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0)
        return false;
    if (p < end && static_cast<unsigned>((*p | 0x20) - 'a') < 26)
        return false;
    v = static_cast<double>(mantissa) / kPowersOfTen[fraction];
    return true;
}

// The names line of a multi-channel text file: split at every comma, empty
// names skipped as empty fields are, at most channels of them, each cut to
// the name size; the names are not trimmed.
void SplitNames(std::string_view line, int channels, std::vector<std::string>& names)
{
    const char* p = line.data();
    const char* stop = p + line.size();
    while (p < stop && static_cast<int>(names.size()) < channels) {
        const char* comma = static_cast<const char*>(memchr(p, ',', static_cast<size_t>(stop - p)));
        const char* end = comma != nullptr ? comma : stop;
        if (end > p)
            names.emplace_back(p, std::min<size_t>(static_cast<size_t>(end - p), kChannelNameSize - 1));
        p = end + 1;
    }
}

}  // namespace

MemorySource::MemorySource(const void* data, size_t size)
    : m_Data(static_cast<const char*>(data)), m_Size(data != nullptr ? size : 0)
{
}

size_t MemorySource::Read(char* buffer, size_t n)
{
    const size_t k = std::min(n, m_Size - m_Position);
    if (k > 0)
        memcpy(buffer, m_Data + m_Position, k);
    m_Position += k;
    return k;
}

FileSource::FileSource(const char* path)
{
    if (path == nullptr)
        return;
    m_Fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (m_Fd >= 0 && fstat(m_Fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            ::close(m_Fd);
            m_Fd = -1;
        } else if (S_ISREG(st.st_mode)) {
            m_Remaining = static_cast<size_t>(st.st_size);
        }
    }
}

FileSource::~FileSource()
{
    if (m_Fd >= 0)
        ::close(m_Fd);
}

size_t FileSource::Read(char* buffer, size_t n)
{
    for (;;) {
        const ssize_t got = ::read(m_Fd, buffer, n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return 0;
        if (m_Remaining != SIZE_MAX)
            m_Remaining -= std::min(m_Remaining, static_cast<size_t>(got));
        return static_cast<size_t>(got);
    }
}

// A small file gets a buffer of its size; lines longer than the buffer grow it.
LineReader::LineReader(ByteSource& in)
    : m_In(in), m_Buffer(std::clamp<size_t>(in.Remaining() == SIZE_MAX ? kReadChunk : in.Remaining() + 1, 64, kReadChunk))
{
}

bool LineReader::Next(std::string_view& line)
{
    size_t scanFrom = m_Begin;
    for (;;) {
        char* base = m_Buffer.data();
        const void* nl = memchr(base + scanFrom, '\n', m_End - scanFrom);
        if (nl != nullptr) {
            const size_t length = static_cast<size_t>(static_cast<const char*>(nl) - (base + m_Begin)) + 1;
            line = std::string_view(base + m_Begin, length);
            m_Begin += length;
            return true;
        }
        if (m_Eof) {
            if (m_Begin == m_End)
                return false;
            line = std::string_view(base + m_Begin, m_End - m_Begin);
            m_Begin = m_End;
            return true;
        }
        // The line goes on past the buffer: keep its start, read more.
        const size_t pending = m_End - m_Begin;
        memmove(base, base + m_Begin, pending);
        m_Begin = 0;
        m_End = pending;
        scanFrom = pending;
        if (m_End == m_Buffer.size())
            m_Buffer.resize(m_Buffer.size() * 2);
        const size_t got = m_In.Read(m_Buffer.data() + m_End, m_Buffer.size() - m_End);
        if (got == 0)
            m_Eof = true;
        m_End += got;
    }
}

size_t LineReader::Remaining() const
{
    const size_t rest = m_In.Remaining();
    return rest == SIZE_MAX ? SIZE_MAX : rest + (m_End - m_Begin);
}

double ParseDouble(const char* begin, const char* end)
{
    bool negative = false;
    const char* p = SkipSpaceAndSign(begin, end, negative);
    double v = 0.0;
    if (p < end && (*p == '+' || *p == '-'))
        return 0.0;  // a second sign ends the number before it began
    if (ParsePlainDecimal(p, end, v))
        return negative ? -v : v;
    std::chars_format format = std::chars_format::general;
    const char* stop = end;
    if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        format = std::chars_format::hex;
        // "0x" without a hex digit after it is the number 0: a sign does not
        // start the digits, nor do inf and nan, which from_chars would take
        if (p == end || !(IsHexDigit(*p) || *p == '.'))
            return 0.0;
        stop = HexNumberEnd(p, end);
    }
    const std::from_chars_result r = std::from_chars(p, stop, v, format);
    if (r.ec == std::errc::result_out_of_range)
        v = OutOfRange(p, r.ptr, format == std::chars_format::hex);
    else if (r.ec != std::errc())
        v = 0.0;
    return negative ? -v : v;
}

int ParseInt(const char* begin, const char* end)
{
    bool negative = false;
    const char* p = SkipSpaceAndSign(begin, end, negative);
    long long v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            v = static_cast<long long>(INT_MAX) + 1;  // saturates
    }
    v = negative ? -v : v;
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

int ReadEcgText(ByteSource& in, int channel, SampleSet& out)
{
    out = SampleSet{};
    LineReader lines(in);
    double rate = 0.0;
    int count = 0;
    const int channels = ReadMultiTextHeader(lines, true, rate, count);
    if (channels < 0)
        return channels;
    if (channel < 0 || channels <= channel)
        return -7;
    std::string_view row;
    if (!lines.Next(row))
        return -5;  // the names line
    out.replaces = true;
    RowArray rows(out, count, lines.Remaining());
    if (!rows.Allocated())
        return -6;
    while (!rows.Full() && lines.Next(row)) {
        const char* begin;
        const char* end;
        if (!FindField(row, channel, begin, end)) {
            out.samples.reset();
            return -7;
        }
        if (!rows.Add(ClampSample(ParseDouble(begin, end), kFileClampMv)))
            return -6;
    }
    out.count = rows.Count();
    out.rate = rate;
    return out.count;
}

int ReadEcgTextSingle(ByteSource& in, SampleSet& out)
{
    out = SampleSet{};
    LineReader lines(in);
    double rate = 0.0;
    int count = 0;
    const int result = ReadRateAndCount(lines, true, rate, count);
    if (result < 0)
        return result;
    out.replaces = true;
    RowArray rows(out, count, lines.Remaining());
    if (!rows.Allocated())
        return -4;
    std::string_view row;
    while (!rows.Full() && lines.Next(row)) {
        if (!rows.Add(ClampSample(ParseDouble(row.data(), row.data() + row.size()), kFileClampMv)))
            return -4;
    }
    out.count = rows.Count();
    out.rate = rate;
    return out.count;
}

int ReadEcgBinary(ByteSource& in, SampleSet& out)
{
    out = SampleSet{};
    unsigned char header[6];
    if (ReadFully(in, header, 2) != 2)
        return -2;
    const int rate = header[0] * 256 + header[1];
    if (rate < kBinaryMinRate || rate > kBinaryMaxRate)
        return -2;
    if (ReadFully(in, header + 2, 4) != 4)
        return -3;
    const int32_t count = static_cast<int32_t>(static_cast<uint32_t>(header[2]) << 24 | header[3] << 16 |
                                               header[4] << 8 | header[5]);
    if (count <= 0 || count > kBinaryMaxSamples)
        return -3;
    out.replaces = true;
    const size_t capacity = Capacity(count, in.Remaining(), 2);
    out.samples = Allocate(capacity);
    if (out.samples == nullptr)
        return -4;
    // Read in pieces; a byte left over from one piece starts the next sample.
    // The clamp is made on the microvolts: 2500 / 1000.0 is exactly the
    // limit and a 16-bit word is never NaN, so the values are those of
    // ClampSample(uv / 1000.0), from a loop the compiler vectorises.
    static constexpr size_t kPiece = 1 << 16;
    static constexpr int kClampUv = static_cast<int>(kFileClampMv * 1000);
    static_assert(kClampUv / 1000.0 == kFileClampMv);
    unsigned char piece[kPiece];
    size_t carry = 0;
    size_t n = 0;
    while (n < capacity) {
        const size_t k = in.Read(reinterpret_cast<char*>(piece) + carry, kPiece - carry);
        if (k == 0)
            break;
        const size_t bytes = carry + k;
        const size_t samples = std::min(bytes / 2, capacity - n);
        double* to = out.samples.get() + n;
        for (size_t i = 0; i < samples; ++i) {
            const int uv = static_cast<int16_t>(piece[2 * i] << 8 | piece[2 * i + 1]);
            to[i] = std::clamp(uv, -kClampUv, kClampUv) / 1000.0;
        }
        n += samples;
        carry = bytes - 2 * samples;
        if (carry > 0)
            piece[0] = piece[bytes - 1];
        carry = std::min<size_t>(carry, 1);
    }
    out.count = static_cast<int>(n);
    out.rate = rate;
    return out.count;
}

int ReadEcgTextHeader(ByteSource& in, std::vector<std::string>& names)
{
    names.clear();
    LineReader lines(in);
    double rate = 0.0;
    int count = 0;
    const int channels = ReadMultiTextHeader(lines, false, rate, count);
    std::string_view line;
    if (channels < 0)
        return channels;
    if (!lines.Next(line))
        return -5;
    SplitNames(line, channels, names);
    return channels;
}

int ReadEcgTextChannels(ByteSource& in, TextChannels& out)
{
    out = TextChannels{};
    LineReader lines(in);
    double rate = 0.0;
    int count = 0;
    const int channels = ReadMultiTextHeader(lines, true, rate, count);
    if (channels < 0)
        return channels;
    std::string_view line;
    if (!lines.Next(line))
        return -5;
    const size_t width = static_cast<size_t>(channels);
    // The fewest fields a row had, counted up to the channel count.
    int fewest = channels;
    int rows = 0;
    try {
        SplitNames(line, channels, out.names);
        // A complete row takes at least two bytes a value (a digit and a
        // comma or its line end), so a file of known size never holds more
        // values than half its bytes left.
        const size_t left = lines.Remaining();
        if (left != SIZE_MAX)
            out.values.reserve(std::min(static_cast<size_t>(count) * width, left / 2 + 1));
        while (rows < count && lines.Next(line)) {
            ++rows;
            // The row's first fields, one per channel; empty fields do not count.
            const char* p = line.data();
            const char* stop = p + line.size();
            int fields = 0;
            while (p < stop && fields < channels) {
                const char* comma = static_cast<const char*>(memchr(p, ',', static_cast<size_t>(stop - p)));
                const char* end = comma != nullptr ? comma : stop;
                if (end > p) {
                    if (fewest == channels)
                        out.values.push_back(ClampSample(ParseDouble(p, end), kFileClampMv));
                    ++fields;
                }
                p = end + 1;
            }
            if (fields < fewest) {
                // From here on nothing is kept; the rest of the rows are only
                // counted, for the lowest channel missing.
                fewest = fields;
                std::vector<double>().swap(out.values);
            }
        }
    } catch (const std::bad_alloc&) {
        out = TextChannels{};
        return -6;
    }
    if (fewest < channels) {
        out.names.clear();
        out.missing = fewest;
        return -7;
    }
    out.channels = channels;
    out.rows = rows;
    out.rate = rate;
    return rows;
}

}  // namespace hsim

// The C interface of the record library: argument checks, the choice of the
// reader for HSIM_RECORD_AUTO, and the helpers the readers share.
#include "formats/EcgFiles.h"
#include "records/RecordsInternal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

struct HSIMRecord {
    std::unique_ptr<hsim::records::Record> record;
};

namespace hsim::records {

using hsim::FileSource;

namespace {

thread_local std::string t_LastError;

bool IsFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The extension with its dot, lower case; empty when the name has none.
std::string Extension(const std::string& path)
{
    const std::string base = BaseName(path);
    const size_t dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : Lower(base.substr(dot));
}

// The first bytes of a file (fewer when it is shorter); false when it cannot
// be opened.
bool FirstBytes(const std::string& path, std::string& head, size_t n)
{
    FileSource in(path.c_str());
    if (!in.IsOpen())
        return false;
    head.assign(n, '\0');
    size_t got = 0;
    while (got < n) {
        const size_t r = in.Read(head.data() + got, n - got);
        if (r == 0)
            break;
        got += r;
    }
    head.resize(got);
    return true;
}

int Detect(const std::string& path)
{
    const std::string ext = Extension(path);
    if (ext == ".hea" || ext == ".dat")
        return HSIM_RECORD_WFDB;
    if (ext == ".edf" || ext == ".bdf")
        return HSIM_RECORD_EDF;
    if (ext == ".csv")
        return HSIM_RECORD_CSV;
    if (ext == ".bin")
        return HSIM_RECORD_ECG_BINARY;
    if (ext == ".txt" || ext == ".ecg")
        return HSIM_RECORD_ECG_TEXT;
    if (!IsFile(path)) {
        if (IsFile(path + ".hea"))
            return HSIM_RECORD_WFDB;
        return Fail(HSIM_RECORD_ERROR_OPEN, path + ": no such file (nor " + BaseName(path) + ".hea)");
    }
    // An unknown extension: the first bytes.
    std::string head;
    if (!FirstBytes(path, head, 256))
        return Fail(HSIM_RECORD_ERROR_OPEN, path + ": " + std::strerror(errno));
    if (head.compare(0, 8, "0       ") == 0 || head.compare(0, 8, "\xff" "BIOSEMI") == 0)
        return HSIM_RECORD_EDF;
    const std::string_view first(head.data(), std::min(head.find('\n'), head.size()));
    if (!first.empty() && (first[0] == '#' || first.find(',') != std::string_view::npos))
        return HSIM_RECORD_CSV;
    double number = 0.0;
    if (!first.empty() && ParseNumber(first, number))
        return HSIM_RECORD_ECG_TEXT;
    return Fail(HSIM_RECORD_ERROR_FORMAT, BaseName(path) + ": the kind of file is not known (no known extension, "
                                                           "not EDF, CSV or ECG text)");
}

int Open(const std::string& path, int kind, std::unique_ptr<Record>& out)
{
    if (kind == HSIM_RECORD_AUTO) {
        kind = Detect(path);
        if (kind < 0)
            return kind;
    }
    int result = HSIM_RECORD_ERROR_ARGUMENT;
    switch (kind) {
    case HSIM_RECORD_WFDB: result = OpenWfdb(path, out); break;
    case HSIM_RECORD_EDF: result = OpenEdf(path, out); break;
    case HSIM_RECORD_CSV: result = OpenCsv(path, out); break;
    case HSIM_RECORD_ECG_TEXT: result = OpenEcgText(path, out); break;
    case HSIM_RECORD_ECG_BINARY: result = OpenEcgBinary(path, out); break;
    default: return Fail(HSIM_RECORD_ERROR_ARGUMENT, "unknown record kind " + std::to_string(kind));
    }
    if (result == HSIM_RECORD_OK)
        out->kind = kind;
    return result;
}

void CopyCut(char* to, size_t size, const std::string& from)
{
    const size_t n = std::min(size - 1, from.size());
    std::memcpy(to, from.data(), n);
    std::memset(to + n, 0, size - n);
}

}  // namespace

void Record::Read(int index, int64_t first, int64_t count, double* mv) const
{
    const std::vector<double>& v = values[static_cast<size_t>(index)];
    std::copy_n(v.begin() + first, count, mv);
}

int Fail(int code, std::string message)
{
    t_LastError = std::move(message);
    return code;
}

void SetLastError(std::string message)
{
    t_LastError = std::move(message);
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && Lower(a) == Lower(b);
}

double MillivoltScale(std::string_view units)
{
    units = Trim(units);
    if (EqualNoCase(units, "mv"))
        return 1.0;
    if (EqualNoCase(units, "uv") || units == "\xc2\xb5V" || units == "\xce\xbcV")
        return 1e-3;
    if (EqualNoCase(units, "v"))
        return 1e3;
    return 1.0;
}

std::string_view Trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

namespace {

// The whole field as one number of type T.
template <class T>
bool ParseWhole(std::string_view text, T& value)
{
    text = Trim(text);
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    if (text.empty() || text[0] == '+')
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseNumber(std::string_view text, double& value) { return ParseWhole(text, value); }

bool ParseInteger(std::string_view text, int64_t& value) { return ParseWhole(text, value); }

bool NextLine(std::string_view text, size_t& position, std::string_view& line)
{
    if (position >= text.size())
        return false;
    size_t end = text.find('\n', position);
    if (end == std::string_view::npos)
        end = text.size();
    line = Trim(text.substr(position, end - position));
    position = end + 1;
    return true;
}

int ReadWholeFile(const std::string& path, std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(HSIM_RECORD_ERROR_OPEN, path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(HSIM_RECORD_ERROR_OPEN, path + ": not a regular file");
    }
    bytes.clear();
    try {
        bytes.resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return Fail(HSIM_RECORD_ERROR_MEMORY, path + ": no memory for " + std::to_string(st.st_size) + " bytes");
    }
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t r = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            const int error = errno;
            ::close(fd);
            return Fail(HSIM_RECORD_ERROR_IO, path + ": " + std::strerror(error));
        }
        if (r == 0)
            break;  // shrunk since fstat: what is there
        got += static_cast<size_t>(r);
    }
    bytes.resize(got);
    ::close(fd);
    return HSIM_RECORD_OK;
}

}  // namespace hsim::records

using namespace hsim::records;

extern "C" {

int HSIMRecordOpen(const char* path, int kind, HSIMRecord** record)
{
    if (record == nullptr)
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordOpen: null record pointer");
    *record = nullptr;
    if (path == nullptr || path[0] == '\0')
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordOpen: null or empty path");
    try {
        std::unique_ptr<Record> opened;
        const int result = Open(path, kind, opened);
        if (result != HSIM_RECORD_OK)
            return result;
        *record = new HSIMRecord{std::move(opened)};
        return HSIM_RECORD_OK;
    } catch (const std::bad_alloc&) {
        return Fail(HSIM_RECORD_ERROR_MEMORY, std::string(path) + ": out of memory");
    } catch (const std::exception& e) {
        return Fail(HSIM_RECORD_ERROR_IO, std::string(path) + ": " + e.what());
    } catch (...) {
        return Fail(HSIM_RECORD_ERROR_IO, std::string(path) + ": unexpected failure");
    }
}

int HSIMRecordKindOf(const HSIMRecord* record)
{
    if (record == nullptr)
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordKindOf: null record");
    return record->record->kind;
}

int HSIMRecordSignalCount(const HSIMRecord* record)
{
    if (record == nullptr)
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordSignalCount: null record");
    return static_cast<int>(record->record->signals.size());
}

int HSIMRecordGetSignal(const HSIMRecord* record, int index, HSIMRecordSignal* info)
{
    if (record == nullptr || info == nullptr)
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordGetSignal: null record or info");
    const std::vector<SignalInfo>& signals = record->record->signals;
    if (index < 0 || static_cast<size_t>(index) >= signals.size())
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordGetSignal: no signal " + std::to_string(index) + " (" +
                                                    std::to_string(signals.size()) + " signals)");
    const SignalInfo& s = signals[static_cast<size_t>(index)];
    CopyCut(info->name, sizeof info->name, s.name);
    CopyCut(info->units, sizeof info->units, s.units);
    info->rate = s.rate;
    info->length = s.length;
    return HSIM_RECORD_OK;
}

int64_t HSIMRecordReadMv(HSIMRecord* record, int index, int64_t first, int64_t count, double* mv)
{
    if (record == nullptr)
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordReadMv: null record");
    const Record& r = *record->record;
    if (index < 0 || static_cast<size_t>(index) >= r.signals.size())
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordReadMv: no signal " + std::to_string(index) + " (" +
                                                    std::to_string(r.signals.size()) + " signals)");
    const int64_t length = r.signals[static_cast<size_t>(index)].length;
    if (first < 0 || first > length || count < 0)
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordReadMv: range " + std::to_string(first) + " + " +
                                                    std::to_string(count) + " outside the signal's " +
                                                    std::to_string(length) + " samples");
    if (count > 0 && mv == nullptr)
        return Fail(HSIM_RECORD_ERROR_ARGUMENT, "HSIMRecordReadMv: null buffer");
    const int64_t n = std::min(count, length - first);
    if (n > 0)
        r.Read(index, first, n, mv);
    return n;
}

const char* HSIMRecordLastError(void)
{
    return t_LastError.c_str();
}

const char* HSIMRecordResultName(int code)
{
    switch (code) {
    case HSIM_RECORD_OK: return "HSIM_RECORD_OK";
    case HSIM_RECORD_ERROR_ARGUMENT: return "HSIM_RECORD_ERROR_ARGUMENT";
    case HSIM_RECORD_ERROR_OPEN: return "HSIM_RECORD_ERROR_OPEN";
    case HSIM_RECORD_ERROR_HEADER: return "HSIM_RECORD_ERROR_HEADER";
    case HSIM_RECORD_ERROR_FORMAT: return "HSIM_RECORD_ERROR_FORMAT";
    case HSIM_RECORD_ERROR_DATA: return "HSIM_RECORD_ERROR_DATA";
    case HSIM_RECORD_ERROR_MEMORY: return "HSIM_RECORD_ERROR_MEMORY";
    case HSIM_RECORD_ERROR_IO: return "HSIM_RECORD_ERROR_IO";
    default: return "unknown result";
    }
}

void HSIMRecordClose(HSIMRecord* record)
{
    delete record;
}

}  // extern "C"

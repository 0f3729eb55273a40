// Exported ECG data: the loaders of text and binary files and of the
// application's arrays, the header probe, the text dumps and the raw
// recording of the streamed samples.
//
// A loader reads and checks everything before it takes the lock, and then
// only swaps the new arrays in; the arrays it replaces are released after the
// lock is let go. A large file therefore never holds up the streaming.
#include "api/Frame.h"
#include "formats/EcgFiles.h"
#include "hsim.hpp"
#include "output/Engine.h"
#include "output/Output.h"
#include "runtime/Utilities.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

using namespace hsim;

namespace {

constexpr size_t kPathBufferSize = 512;  // 511 bytes and the terminator
constexpr double kRawSignalClampMv = 5.0;
constexpr double kRawDcClampMv = 1000.0;

// Installs what a file loader read: the signal channel alone, so a DC channel
// left by raw data is released with the rest (code 18 then plays 0 mV on it).
void InstallFile(SampleSet& set, bool loaded)
{
    LoadedData next;
    if (loaded) {
        std::shared_ptr<const double[]> owner(set.samples.release());
        next.ECGFile = owner.get();
        next.ECGFileOwner = std::move(owner);
        next.ECGFileSize = set.count;
        next.ECGFileFreq = set.rate;
        next.ECGFileUnitMV = true;
    }
    LoadedData old;
    {
        ContextGuard lock(hsim::ContextLock());
        if (!loaded)
            next.ECGFileFreq = CurrentEngine().synth.file.ECGFileFreq;
        old = ReplaceLoadedData(std::move(next));
    }
}

// Runs a reader on a file: a header refusal leaves the loaded data as they
// are; a failure after the header leaves nothing loaded.
template <class Reader>
int LoadFile(const char* path, Reader read)
{
    FileSource in(path);
    if (!in.IsOpen())
        return -1;
    SampleSet set;
    int result;
    try {
        result = read(in, set);
        if (set.replaces)
            InstallFile(set, result >= 0);
    } catch (const std::bad_alloc&) {
        result = -1;
    }
    return result;
}

// A UTF-8 path is used as given, bytes unchanged; one that does not fit the
// path buffer is refused, not cut.
bool FitsPathBuffer(const char* path)
{
    return path != nullptr && strnlen(path, kPathBufferSize) < kPathBufferSize;
}

bool WidePath(const wchar_t* path, char* narrow)
{
    return path != nullptr && WidePathToUtf8(path, narrow, kPathBufferSize);
}

// "%.3f\n" of a value, independently of the locale. 0 or -6.
int PrintValue(FILE* file, double v)
{
    char text[400];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text - 1, v, std::chars_format::fixed, 3);
    if (r.ec != std::errc())
        return -6;
    *r.ptr = '\n';
    const size_t n = static_cast<size_t>(r.ptr - text) + 1;
    return std::fwrite(text, 1, n, file) == n ? 0 : -6;
}

// The dumps: an optional header, then the values. 0, -3 or -6.
int Dump(const double* samples, int count, const wchar_t* path, const char* header)
{
    char narrow[kPathBufferSize];
    if (count < 0 || (samples == nullptr && count > 0) || !WidePath(path, narrow))
        return -3;
    FILE* file = std::fopen(narrow, "w+");
    if (file == nullptr)
        return -3;
    int result = 0;
    if (header != nullptr && std::fputs(header, file) < 0)
        result = -6;
    for (int i = 0; result == 0 && i < count; ++i)
        result = PrintValue(file, samples[i]);
    if (std::fclose(file) != 0 && result == 0)
        result = -6;
    return result;
}

}  // namespace

// -1: a null record or array, a negative count, no memory; -2: a rate that is
// not a number or outside [100, 40000]. Both leave the loaded data as they are.
extern "C" int HSIMLoadRawData(RAW_DATA_INFORMATION* data)
{
    if (data == nullptr || data->acData == nullptr || data->dcData == nullptr || data->sampleCount < 0)
        return -1;
    const double rate = data->sampleRate;
    if (!(rate >= kTextMinRate && rate <= kTextMaxRate))
        return -2;
    const size_t n = static_cast<size_t>(data->sampleCount);
    std::shared_ptr<double[]> ac, dc;
    try {
        ac.reset(new double[std::max<size_t>(n, 1)]);
        dc.reset(new double[std::max<size_t>(n, 1)]);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    bool variableDc = false;
    for (size_t i = 0; i < n; ++i) {
        ac[i] = ClampSample(data->acData[i], kRawSignalClampMv);
        dc[i] = ClampSample(data->dcData[i], kRawDcClampMv);
        variableDc = variableDc || dc[i] != 0.0;
    }
    LoadedData next;
    next.ECGFile = ac.get();
    next.DcRawData = dc.get();
    next.ECGFileOwner = std::move(ac);
    next.DcRawDataOwner = std::move(dc);
    next.ECGFileSize = data->sampleCount;
    next.ECGFileFreq = rate;
    next.ECGFileUnitMV = true;
    LoadedData old;
    {
        // The relays are written in the command window while output streams;
        // the data are installed also without a device.
        DeviceFrame frame;
        DcSettings& settings = CurrentEngine().synth.dc;
        settings.bRawVariableDC = settings.bRawVariableDC || variableDc;
        if (!settings.bRawVariableDC)
            settings.bVariableDC = false;
        old = ReplaceLoadedData(std::move(next));
        if (frame.open())
            hsim::SetRelays(true);
    }
    return data->sampleCount;
}

extern "C" int LoadECGtxt(char* path, int channel)
{
    if (!FitsPathBuffer(path))
        return -1;
    return LoadFile(path, [channel](ByteSource& in, SampleSet& set) { return ReadEcgText(in, channel, set); });
}

extern "C" int LoadECGtxtSingleChannel(char* path)
{
    if (!FitsPathBuffer(path))
        return -1;
    return LoadFile(path, [](ByteSource& in, SampleSet& set) { return ReadEcgTextSingle(in, set); });
}

extern "C" int LoadECGBin(const wchar_t* path)
{
    char narrow[kPathBufferSize];
    if (!WidePath(path, narrow))
        return -1;
    return LoadFile(narrow, [](ByteSource& in, SampleSet& set) { return ReadEcgBinary(in, set); });
}

extern "C" int CheckECGTxtChannel(const wchar_t* path, char** names)
{
    char narrow[kPathBufferSize];
    if (!WidePath(path, narrow))
        return -1;
    FileSource in(narrow);
    if (!in.IsOpen())
        return -1;
    std::vector<std::string> found;
    int channels;
    try {
        channels = ReadEcgTextHeader(in, found);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    for (size_t i = 0; names != nullptr && i < found.size(); ++i) {
        names[i] = static_cast<char*>(std::calloc(kChannelNameSize, 1));
        if (names[i] != nullptr)
            memcpy(names[i], found[i].data(), found[i].size());
    }
    return channels;
}

extern "C" int DumpRawData(const double* samples, int count, const wchar_t* path)
{
    return Dump(samples, count, path, nullptr);
}

extern "C" int OutputRaw(int rate, int count, const double* samples, const char* title, const wchar_t* path)
{
    if (title == nullptr)
        return -3;
    std::string header;
    try {
        header = std::to_string(rate) + "\n" + std::to_string(count) + "\n1\n" + title + "\n";
    } catch (const std::bad_alloc&) {
        return -6;
    }
    return Dump(samples, count, path, header.c_str());
}

extern "C" bool EnableRecordRaw(double* acBuffer, double* dcBuffer, int length)
{
    ContextGuard lock(hsim::ContextLock());
    RecordingState& r = CurrentEngine().record;
    if (r.EnableRecord)
        return false;
    r = RecordingState{true, 0, length, acBuffer, dcBuffer};
    return true;
}

extern "C" void DisableRecordRaw(void)
{
    ContextGuard lock(hsim::ContextLock());
    CurrentEngine().record = RecordingState{};
}

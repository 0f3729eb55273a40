// Text dump of a standard pattern: the one-channel form of the ECG text file
// (rate, count, "1", title, then one value per line in millivolts), which the
// ECG text loader reads back.
//
// The path arrives as a wide (UTF-32) string and is encoded to UTF-8 here,
// without the C locale, so the file created is exactly the one named. A path
// that is not valid Unicode (a surrogate, a value above U+10FFFF) or whose
// UTF-8 form does not fit the 512-byte path buffer is refused, never altered
// or cut short.
#include "hsim.h"
#include "runtime/Utilities.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr size_t kPathBufferSize = 512;  // 511 bytes and the terminating NUL

// A microvolt value as millivolts with three decimals. Written from the
// integer, so the decimal point does not depend on the locale and the digits
// are exact.
int PrintMillivolts(FILE* file, int uv)
{
    const long long value = uv;
    const unsigned long long magnitude =
        static_cast<unsigned long long>(value < 0 ? -value : value);
    return std::fprintf(file, "%s%llu.%03llu\n", value < 0 ? "-" : "", magnitude / 1000,
                        magnitude % 1000);
}

// 0, or -6 at the first failed write.
int WriteDump(FILE* file, const int* samples, int count, int rate, const char* title)
{
    int result = 0;
    if (std::fprintf(file, "%d\n%d\n1\n%s\n", rate, count, title) < 0) {
        result = -6;
    }
    for (int i = 0; result == 0 && i < count; ++i) {
        if (PrintMillivolts(file, samples[i]) < 0) {
            result = -6;
        }
    }
    return result;
}

}  // namespace

// -3: refused argument (null path or title, null samples with a positive
// count, a negative count, a path that cannot be encoded or is too long) or
// the file cannot be opened; -6: a write failed, including the final flush
// when the file is closed (a full disk shows only there).
int DumpStandardWaveform(const int* samples, int count, int rate, const char* title,
                         const wchar_t* path)
{
    int result = -3;
    char narrow[kPathBufferSize];
    const bool argumentsOk =
        path != nullptr && title != nullptr && count >= 0 && (samples != nullptr || count == 0);
    if (argumentsOk && WidePathToUtf8(path, narrow, sizeof narrow)) {
        FILE* file = std::fopen(narrow, "w+");
        if (file != nullptr) {
            result = WriteDump(file, samples, count, rate, title);
            if (std::fclose(file) != 0 && result == 0) {
                result = -6;
            }
        }
    }
    return result;
}

// Fuzz target of the WFDB reader, without files: the first two bytes
// (little-endian) give the length of the header text that follows, the rest
// is the contents of every signal file the header names. Checks: the result
// is one of the library's codes, a failure says why, an opened record has as
// many signals as lines, each with a positive finite rate and a length its
// file holds, and every sample of every signal can be read.
#include "FuzzCheck.h"
#include "records/RecordsInternal.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace hsim::records;
    if (size < 2)
        return 0;
    const size_t headerLength = std::min<size_t>(data[0] | data[1] << 8, size - 2);
    const std::string_view header(reinterpret_cast<const char*>(data) + 2, headerLength);
    const std::string contents(reinterpret_cast<const char*>(data) + 2 + headerLength, size - 2 - headerLength);
    int loads = 0;
    const WfdbFileLoader loader = [&](const std::string& name, std::string& bytes) {
        ++loads;
        if (name == "missing.dat")
            return Fail(HSIM_RECORD_ERROR_OPEN, name + ": no such file");
        bytes = contents;
        return static_cast<int>(HSIM_RECORD_OK);
    };
    SetLastError("");
    std::unique_ptr<Record> record;
    const int result = OpenWfdbMemory(header, "fuzz.hea", loader, record);
    FUZZ_CHECK(result <= HSIM_RECORD_OK && result >= HSIM_RECORD_ERROR_IO);
    if (result != HSIM_RECORD_OK) {
        FUZZ_CHECK(record == nullptr);
        FUZZ_CHECK(HSIMRecordLastError()[0] != '\0');
        return 0;
    }
    FUZZ_CHECK(record != nullptr);
    // Each file is a stream of 12- or 16-bit samples: no signal can be longer
    // than the contents hold samples.
    const int64_t most = static_cast<int64_t>(contents.size()) * 8 / 12;
    std::vector<double> mv;
    for (size_t i = 0; i < record->signals.size(); ++i) {
        const SignalInfo& s = record->signals[i];
        FUZZ_CHECK(s.rate > 0.0 && std::isfinite(s.rate));
        FUZZ_CHECK(s.length >= 0 && s.length <= most);
        FUZZ_CHECK(s.length == record->signals[0].length);  // one length a record
        FUZZ_CHECK(loads > 0);
        mv.assign(static_cast<size_t>(s.length), 0.0);
        if (s.length > 0)
            record->Read(static_cast<int>(i), 0, s.length, mv.data());
    }
    return 0;
}

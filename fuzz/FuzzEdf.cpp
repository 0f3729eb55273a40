// Fuzz target of the EDF reader: the input is the file, handed to the
// library through a memory file (/proc/self/fd of a memfd) and opened as
// EDF. Checks: the result is one of the library's codes, a failure leaves no
// record and says why, an opened record's signals have positive finite rates
// and lengths, every signal reads whole, and a read at the end stores none.
#include "FuzzCheck.h"
#include "records/hsim_records.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int fd = memfd_create("fuzz.edf", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    HSIMRecord* record = reinterpret_cast<HSIMRecord*>(&size);
    const int result = HSIMRecordOpen(path.c_str(), HSIM_RECORD_EDF, &record);
    FUZZ_CHECK(result <= HSIM_RECORD_OK && result >= HSIM_RECORD_ERROR_IO);
    if (result != HSIM_RECORD_OK) {
        FUZZ_CHECK(record == nullptr);
        FUZZ_CHECK(HSIMRecordLastError()[0] != '\0');
        return 0;
    }
    FUZZ_CHECK(HSIMRecordKindOf(record) == HSIM_RECORD_EDF);
    const int count = HSIMRecordSignalCount(record);
    FUZZ_CHECK(count >= 0 && count <= 640);
    std::vector<double> mv;
    for (int i = 0; i < count; ++i) {
        HSIMRecordSignal info{};
        FUZZ_CHECK(HSIMRecordGetSignal(record, i, &info) == HSIM_RECORD_OK);
        FUZZ_CHECK(info.rate > 0.0 && std::isfinite(info.rate));
        // A file no larger than the input holds at most one 2-byte sample per 2 bytes.
        FUZZ_CHECK(info.length >= 0 && info.length <= static_cast<int64_t>(size / 2));
        mv.assign(static_cast<size_t>(info.length) + 1, 0.0);
        FUZZ_CHECK(HSIMRecordReadMv(record, i, 0, info.length + 1, mv.data()) == info.length);
        FUZZ_CHECK(HSIMRecordReadMv(record, i, info.length, 1, mv.data()) == 0);
    }
    HSIMRecordSignal beyond{};
    FUZZ_CHECK(HSIMRecordGetSignal(record, count, &beyond) == HSIM_RECORD_ERROR_ARGUMENT);
    HSIMRecordClose(record);
    return 0;
}

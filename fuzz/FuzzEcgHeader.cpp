// Fuzz target of the header probe: the input is a multi-channel text file,
// read once from memory and once in pieces. The channel count and the names
// are compared with the reference reading: lines 1-3 as for loading but with
// any non-zero rate accepted; the names are the non-empty fields of line 4,
// at most the channel count of them, each cut to 127 characters, the last
// with the line's newline.
#include "FuzzSupport.h"

namespace {

int ReferenceProbe(std::string_view text, std::vector<std::string>& names)
{
    const std::vector<std::string_view> lines = fuzz::SplitLines(text);
    double rate = 0.0;
    int count = 0;
    int channels = 0;
    const int header = fuzz::ReferenceHeader(lines, false, true, rate, count, channels);
    if (header < 0)
        return header;
    if (lines.size() < 4)
        return -5;
    for (std::string_view field : fuzz::SplitFields(lines[3])) {
        if (names.size() >= static_cast<size_t>(channels))
            break;
        names.emplace_back(field.substr(0, 127));
    }
    return channels;
}

void ProbeAndCheck(hsim::ByteSource& in, int expected, const std::vector<std::string>& expectedNames)
{
    std::vector<std::string> names = {"left over from an earlier probe"};
    const int result = hsim::ReadEcgTextHeader(in, names);
    FUZZ_CHECK(result > 0 || (result >= -5 && result <= -2));
    if (result < 0)
        FUZZ_CHECK(names.empty());
    FUZZ_CHECK(names.size() <= static_cast<size_t>(std::max(result, 0)));
    for (const std::string& name : names) {
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(name.size() < hsim::kChannelNameSize);
        FUZZ_CHECK(name.find(',') == std::string::npos);
    }
    FUZZ_CHECK(result == expected);
    FUZZ_CHECK(names == expectedNames);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> expectedNames;
    const int expected = ReferenceProbe(text, expectedNames);

    hsim::MemorySource memory(data, size);
    ProbeAndCheck(memory, expected, expectedNames);
    fuzz::PieceSource pieces(data, size, 1 + size % 4, size % 2 == 0);
    ProbeAndCheck(pieces, expected, expectedNames);
    return 0;
}

// Fuzz target of the binary reader: the input is the file. It is read three
// ways (all at once from memory; in pieces of odd and even lengths with the
// size left known; in pieces with the size left unknown) and each result is
// compared with a plain decoding of the format: a big-endian 16-bit rate in
// [30, 5000], a big-endian signed 32-bit count in [1, 20000000], then
// big-endian signed 16-bit microvolts, as many as the count asks for and the
// file holds.
#include "FuzzSupport.h"

namespace {

fuzz::TextOutcome Decode(const uint8_t* data, size_t size)
{
    fuzz::TextOutcome o;
    if (size < 2) {
        o.result = -2;
        return o;
    }
    const unsigned rate = static_cast<unsigned>(data[0]) << 8 | data[1];
    if (rate < 30 || rate > 5000) {
        o.result = -2;
        return o;
    }
    if (size < 6) {
        o.result = -3;
        return o;
    }
    const uint32_t raw = static_cast<uint32_t>(data[2]) << 24 | static_cast<uint32_t>(data[3]) << 16 |
                         static_cast<uint32_t>(data[4]) << 8 | data[5];
    // Two's complement: the top bit set is a negative count.
    const long long count = raw >= 0x80000000u ? static_cast<long long>(raw) - 0x100000000LL : raw;
    if (count < 1 || count > 20000000) {
        o.result = -3;
        return o;
    }
    o.replaces = true;
    o.rate = rate;
    o.count = static_cast<int>(count);
    for (size_t i = 6; i + 1 < size && o.samples.size() < static_cast<size_t>(count); i += 2) {
        const unsigned word = static_cast<unsigned>(data[i]) << 8 | data[i + 1];
        const int microvolts = word >= 0x8000 ? static_cast<int>(word) - 0x10000 : static_cast<int>(word);
        o.samples.push_back(fuzz::ReferenceClamp(microvolts / 1000.0));
    }
    o.result = static_cast<int>(o.samples.size());
    return o;
}

void ReadAndCheck(hsim::ByteSource& in, const fuzz::TextOutcome& expected)
{
    hsim::SampleSet set;
    set.replaces = true;
    set.count = -99;
    const int result = hsim::ReadEcgBinary(in, set);
    fuzz::CheckSet(result, set, expected, -4, -4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::TextOutcome expected = Decode(data, size);

    hsim::MemorySource memory(data, size);
    ReadAndCheck(memory, expected);

    // Pieces of 1..2, 3..6 or 7..14 bytes, chosen by the length.
    constexpr size_t kPieces[3] = {1, 3, 7};
    fuzz::PieceSource known(data, size, kPieces[size % 3], true);
    ReadAndCheck(known, expected);

    // Without a known size the reader allocates the header's whole count.
    if (expected.count <= (1 << 16)) {
        fuzz::PieceSource unknown(data, size, 1 + size % 5, false);
        ReadAndCheck(unknown, expected);
    }
    return 0;
}

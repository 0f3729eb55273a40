// Fuzz target of the text readers. The first byte chooses how the rest, the
// file, is read:
//   bits 0-2  the channel of the multi-channel reader, 0..6; 7 asks for -1;
//   bit 3     the one-channel reader instead;
//   bits 4-6  0: all bytes at once from memory; 1..7: in pieces of about
//             1, 2, 3, 5, 8, 64 or 1000 bytes;
//   bit 7     with pieces: the size left is not known (as from a pipe).
// The result and every sample are compared with the reference reading; a
// multi-channel file is also read with every channel at once and compared.
#include "FuzzSupport.h"

namespace {

constexpr size_t kPieces[8] = {0, 1, 2, 3, 5, 8, 64, 1000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const int channel = (mode & 7) == 7 ? -1 : mode & 7;
    const bool single = (mode & 8) != 0;
    const size_t piece = kPieces[(mode >> 4) & 7];
    const uint8_t* file = data + 1;
    const size_t fileSize = size - 1;
    const std::string_view text(reinterpret_cast<const char*>(file), fileSize);

    const fuzz::TextOutcome expected = single ? fuzz::ReferenceTextSingle(text) : fuzz::ReferenceText(text, channel);
    // Without a known size a reader allocates the header's whole count;
    // keep that to counts a fuzzing process can hold many times over.
    const bool sizeKnown = (mode & 0x80) == 0 || expected.count > (1 << 16);

    hsim::MemorySource memory(file, fileSize);
    fuzz::PieceSource pieces(file, fileSize, piece, sizeKnown);
    hsim::ByteSource& in = piece == 0 ? static_cast<hsim::ByteSource&>(memory) : pieces;

    hsim::SampleSet set;
    set.replaces = true;  // stale state from an earlier use must not survive
    set.count = -99;
    const int result = single ? hsim::ReadEcgTextSingle(in, set) : hsim::ReadEcgText(in, channel, set);
    fuzz::CheckSet(result, set, expected, single ? -4 : -7, single ? -4 : -6);
    if (single)
        return 0;

    // Every channel at once, from the same kind of source.
    hsim::MemorySource memoryAgain(file, fileSize);
    fuzz::PieceSource piecesAgain(file, fileSize, piece, (mode & 0x80) == 0);
    hsim::ByteSource& again = piece == 0 ? static_cast<hsim::ByteSource&>(memoryAgain) : piecesAgain;
    hsim::TextChannels channels;
    channels.values.assign(3, 9.0);  // stale state from an earlier use must not survive
    channels.missing = 5;
    const int all = hsim::ReadEcgTextChannels(again, channels);
    fuzz::CheckChannels(all, channels, fuzz::ReferenceChannels(text));
    return 0;
}

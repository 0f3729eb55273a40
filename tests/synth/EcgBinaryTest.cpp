// The binary ECG reader's samples: every 16-bit word, read through a source
// that hands out its bytes in small pieces of odd and even sizes, so samples
// are split across reads. A word is a signed number of microvolts; the sample
// is that many thousandths of a millivolt, clamped to +-2.5 mV.
#include "synth/EcgFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using namespace hsim;

// Gives at most the next of a cycle of piece sizes per read.
class PieceSource final : public ByteSource {
public:
    explicit PieceSource(std::vector<unsigned char> bytes) : m_Bytes(std::move(bytes)) {}
    size_t Read(char* buffer, size_t n) override
    {
        static constexpr size_t kSizes[] = {1, 7, 2, 65536, 3, 100001, 4, 5};
        const size_t k = std::min({n, kSizes[m_Reads++ % 8], m_Bytes.size() - m_Position});
        std::copy_n(m_Bytes.begin() + static_cast<std::ptrdiff_t>(m_Position), k, buffer);
        m_Position += k;
        return k;
    }
    size_t Remaining() const override { return m_Bytes.size() - m_Position; }

private:
    std::vector<unsigned char> m_Bytes;
    size_t m_Position = 0;
    size_t m_Reads = 0;
};

TEST(EcgBinaryTest, EveryWordInMillivoltsClampedToTheLimit)
{
    // Rate 1000, count 65536, then the words 0x0000 .. 0xFFFF in order.
    std::vector<unsigned char> file = {0x03, 0xE8, 0x00, 0x01, 0x00, 0x00};
    for (unsigned word = 0; word <= 0xFFFF; ++word) {
        file.push_back(static_cast<unsigned char>(word >> 8));
        file.push_back(static_cast<unsigned char>(word & 0xFF));
    }
    PieceSource in(file);
    SampleSet set;
    ASSERT_EQ(ReadEcgBinary(in, set), 65536);
    EXPECT_EQ(set.rate, 1000.0);
    for (unsigned word = 0; word <= 0xFFFF; ++word) {
        const int uv = word < 0x8000 ? static_cast<int>(word) : static_cast<int>(word) - 0x10000;
        const double expected = uv > 2500 ? 2.5 : uv < -2500 ? -2.5 : uv / 1000.0;
        ASSERT_EQ(set.samples[word], expected) << "word " << word;
    }
}

}  // namespace

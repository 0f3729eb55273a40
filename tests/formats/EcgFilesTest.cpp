// The ECG file readers on hand-written bytes: values, clamps, every refusal
// code and whether the failed load replaces what was loaded.
#include "formats/EcgFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace hsim;

namespace {

struct Read {
    int result;
    std::vector<double> samples;
    double rate;
    bool replaces;
};

Read Text(const std::string& file, int channel)
{
    MemorySource in(file.data(), file.size());
    SampleSet set;
    const int r = channel >= -100 ? ReadEcgText(in, channel, set) : ReadEcgTextSingle(in, set);
    return {r, set.samples ? std::vector<double>(set.samples.get(), set.samples.get() + set.count) : std::vector<double>{},
            set.rate, set.replaces};
}
constexpr int kSingle = -1000;  // the one-channel reader

Read Binary(const std::vector<unsigned char>& bytes)
{
    MemorySource in(bytes.data(), bytes.size());
    SampleSet set;
    const int r = ReadEcgBinary(in, set);
    return {r, set.samples ? std::vector<double>(set.samples.get(), set.samples.get() + set.count) : std::vector<double>{},
            set.rate, set.replaces};
}

TEST(EcgFiles, TextReaders)
{
    const std::string row128 = "0.5," + std::string(130, ' ') + "1.25\n";  // one row past any 128-byte buffer
    const struct {
        std::string file;
        int channel;
        int result;
        std::vector<double> samples;
        bool replaces;
    } rows[] = {
        {"500\n2\n3\nI,II,III\n0.1,0.2,0.3\n1,2,3.7\n", 2, 2, {0.3, 2.5}, true},
        {"500\n2\n3\nI,II,III\n0.1,,0.3\n", 2, -7, {}, true},        // two fields: nothing loaded
        {"500\n2\n3\nI,II,III\n", 3, -7, {}, false},                   // no such channel: header refusal
        {"500\n2\n3\nI,II,III\n", -1, -7, {}, false},
        {"99\n2\n1\nI\n1\n", 0, -2, {}, false},
        {"40001\n2\n1\nI\n1\n", 0, -2, {}, false},
        {"100\n2\n1\nI\n-3.7\n", 0, 1, {-2.5}, true},                  // ends early: what was there
        {"40000\n1\n1\nI\n1\n2\n", 0, 1, {1.0}, true},                 // no more than the count
        {"0\n2\n1\nI\n", 0, -2, {}, false},
        {"", 0, -2, {}, false},
        {"500\n", 0, -3, {}, false},
        {"500\n0\n1\nI\n", 0, -3, {}, false},
        {"500\n-5\n1\nI\n", 0, -3, {}, false},
        {"500\n2\n", 0, -4, {}, false},
        {"500\n2\n0\nI\n", 0, -4, {}, false},
        {"500\n2\n1\n", 0, -5, {}, false},
        {"500\n3\n2\nI,II\n" + row128 + "inf,nan\r\n0x1p-1,-1e999\r\n", 1, 3, {1.25, 0.0, -2.5}, true},
        {"500\n3\n2\nI,II\n,,7,,-0.25\n", 1, 1, {-0.25}, true},       // empty fields do not count
        {"500\n2\n1\nI\n", 0, 0, {}, true},                            // header only: an empty set
        // One channel: every line one value, the header's 3rd and 4th lines included.
        {"1000\n3\n1\nECG\n0.5\n", kSingle, 3, {1.0, 0.0, 0.5}, true},
        {"50\n3\n", kSingle, -2, {}, false},
        {"1e3\n2\n  +1.5e0x\n-.5\n", kSingle, 2, {1.5, -0.5}, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << '"' << r.file.substr(0, 40) << "\" channel " << r.channel);
        const Read got = Text(r.file, r.channel);
        EXPECT_EQ(got.result, r.result);
        EXPECT_EQ(got.samples, r.samples);
        EXPECT_EQ(got.replaces, r.replaces);
        if (r.result >= 0) {
            EXPECT_EQ(got.rate, std::stod(r.file));
        }
    }
}

// From a source of unknown size (a pipe) the array grows with the rows.
TEST(EcgFiles, RowsFromASourceOfUnknownSize)
{
    struct Pipe final : ByteSource {
        MemorySource memory;
        explicit Pipe(const std::string& s) : memory(s.data(), s.size()) {}
        size_t Read(char* buffer, size_t n) override { return memory.Read(buffer, std::min<size_t>(n, 4093)); }
        size_t Remaining() const override { return SIZE_MAX; }
    };
    std::string file = "500\n2000000000\n1\nI\n";
    for (int i = 0; i < 200000; ++i)
        file += std::to_string(i % 3) + "\n";
    Pipe in(file);
    SampleSet set;
    ASSERT_EQ(ReadEcgText(in, 0, set), 200000);
    for (int i = 0; i < 200000; ++i)
        ASSERT_EQ(set.samples[i], double(i % 3)) << i;
}

// All channels in one pass: each channel as the one-channel reading gives it.
TEST(EcgFiles, AllChannelsAtOnce)
{
    const struct {
        std::string file;
        int result;
        std::vector<std::vector<double>> rows;
        int missing;
    } cases[] = {
        {"500\n3\n3\nI,II,III\n0.1,0.2,0.3\n1,,2,3.7,9\n-9,x,nan\r\n", 3,
         {{0.1, 0.2, 0.3}, {1, 2, 2.5}, {-2.5, 0, 0}}, -1},
        {"500\n2\n2\nI,II\n1,2\n2,-1\n7\n", 2, {{1, 2}, {2, -1}}, -1},  // the short row is past the count
        {"500\n9\n3\nI\n1,2,3\n1,2\n5", -7, {}, 1},                    // the lowest channel any row lacks
        {"500\n9\n2\nI,II\n,,\n1,2\n", -7, {}, 1},                     // the newline is a field
        {"500\n2\n3\nI,II,III\n", 0, {}, -1},
        {"50\n2\n1\nI\n1\n", -2, {}, -1},
        {"500\n2\n0\nI\n1\n", -4, {}, -1},
        {"500\n2\n1\n", -5, {}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        MemorySource in(c.file.data(), c.file.size());
        TextChannels text;
        ASSERT_EQ(ReadEcgTextChannels(in, text), c.result);
        EXPECT_EQ(text.missing, c.missing);
        if (c.result < 0) {
            EXPECT_TRUE(text.values.empty());
            continue;
        }
        ASSERT_EQ(text.rows, c.result);
        EXPECT_EQ(text.channels, std::stoi(c.file.substr(c.file.find('\n', c.file.find('\n') + 1) + 1)));
        ASSERT_EQ(text.values.size(), static_cast<size_t>(text.rows * text.channels));
        for (int ch = 0; ch < text.channels; ++ch) {
            const Read one = Text(c.file, ch);
            ASSERT_EQ(one.result, text.rows);
            for (int r = 0; r < text.rows; ++r) {
                const double v = text.values[static_cast<size_t>(r * text.channels + ch)];
                EXPECT_EQ(v, c.rows[r][ch]) << "row " << r << " channel " << ch;
                EXPECT_EQ(v, one.samples[r]) << "row " << r << " channel " << ch;
            }
        }
    }
}

TEST(EcgFiles, BinaryReader)
{
    using B = std::vector<unsigned char>;
    const struct {
        B bytes;
        int result;
        std::vector<double> samples;
    } rows[] = {
        {{0x03, 0xE8, 0, 0, 0, 2, 0x03, 0xE8, 0xF0, 0x60}, 2, {1.0, -2.5}},  // 1000 uV, -4000 uV clamped
        {{0x00, 0x1E, 0, 0, 0, 1, 0xFF, 0xFF}, 1, {-0.001}},                   // rate 30
        {{0x13, 0x88, 0, 0, 0, 3, 0x00, 0x01, 0x00}, 1, {0.001}},              // 5000; a half sample ignored
        {{0x00, 0x1D, 0, 0, 0, 1}, -2, {}},                                    // 29
        {{0x13, 0x89, 0, 0, 0, 1}, -2, {}},                                    // 5001
        {{0x03}, -2, {}},
        {{0x03, 0xE8, 0, 0, 0}, -3, {}},
        {{0x03, 0xE8, 0x01, 0x31, 0x2D, 0x01}, -3, {}},                        // 20000001
        {{0x03, 0xE8, 0x01, 0x31, 0x2D, 0x00, 0x00, 0x02}, 1, {0.002}},        // 20000000, one there
        {{0x03, 0xE8, 0xFF, 0xFF, 0xFF, 0xFF}, -3, {}},
        {{0x03, 0xE8, 0, 0, 0, 0}, -3, {}},
        {{0x03, 0xE8, 0, 0, 0, 10, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5}, 5, {0.001, 0.002, 0.003, 0.004, 0.005}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row of " << r.bytes.size() << " bytes, result " << r.result);
        const Read got = Binary(r.bytes);
        EXPECT_EQ(got.result, r.result);
        EXPECT_EQ(got.replaces, r.result >= 0);
        ASSERT_EQ(got.samples.size(), r.samples.size());
        for (size_t i = 0; i < r.samples.size(); ++i)
            EXPECT_DOUBLE_EQ(got.samples[i], r.samples[i]);
    }
}

TEST(EcgFiles, HeaderProbe)
{
    const std::string longName(200, 'n');
    const struct {
        std::string file;
        int result;
        std::vector<std::string> names;
    } rows[] = {
        {"500\n10\n3\nI,,II,III,aVR\n", 3, {"I", "II", "III"}},
        {"500\n10\n3\nI,II\n", 3, {"I", "II\n"}},  // fewer names; the last keeps its newline
        {"500\n10\n1\n" + longName + "\n", 1, {std::string(127, 'n')}},
        {"7\n10\n2\nI,II\n", 2, {"I", "II\n"}},     // any rate but 0
        {"0\n10\n2\nI,II\n", -2, {}},
        {"500\n0\n2\nI,II\n", -3, {}},
        {"500\n10\n0\nI,II\n", -4, {}},
        {"500\n10\n2\n", -5, {}},
    };
    for (const auto& r : rows) {
        MemorySource in(r.file.data(), r.file.size());
        std::vector<std::string> names;
        EXPECT_EQ(ReadEcgTextHeader(in, names), r.result) << r.file;
        EXPECT_EQ(names, r.names) << r.file;
    }
}

}  // namespace

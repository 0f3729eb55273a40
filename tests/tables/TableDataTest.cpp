// The built-in sample tables: layout, lengths, zero padding, the plausibility
// figures of the published data (skipped when the build used a stand-in) and
// the envelopes that every build, published or stand-in, keeps.
#include "hsim_ext.h"
#include "synth/tables/StandardTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Sample counts of the ten IEC 60601-2-27 patterns.
constexpr int kCounts[kIEC227Patterns] = {43081, 43142, 43144, 34511, 65211,
                                          65214, 65207, 65238, 65239, 65237};

bool Published(int table, std::string* source = nullptr)
{
    const char* text = nullptr;
    const int result = HSIMGetTableProvenance(table, &text);
    if (source != nullptr) {
        *source = text != nullptr ? text : "(null)";
    }
    return result == 1;
}

#define SKIP_UNLESS_PUBLISHED(table)                                                              \
    do {                                                                                          \
        std::string source_;                                                                      \
        if (!Published(table, &source_)) {                                                        \
            GTEST_SKIP() << "this build holds a stand-in, not the published data (" << source_    \
                         << "); put the data in HSIM_DATA_DIR and re-run cmake";                 \
        }                                                                                         \
    } while (0)

std::string DataDir()
{
    return HSIM_TEST_DATA_DIR;
}

struct Range {
    int min;
    int max;
};

Range RangeOf(const int32_t* samples, int count)
{
    const auto [lo, hi] = std::minmax_element(samples, samples + count);
    return {*lo, *hi};
}

}  // namespace

TEST(TableProvenance, KnownTablesReportTheirSource)
{
    for (int table : {HSIM_TABLE_IEC227W, HSIM_TABLE_IEC251W, HSIM_TABLE_ANE20000}) {
        const char* source = nullptr;
        const int result = HSIMGetTableProvenance(table, &source);
        SCOPED_TRACE(table);
        ASSERT_TRUE(result == 0 || result == 1) << result;
        ASSERT_NE(source, nullptr);
        const std::string text = source;
        if (result == 0) {
            EXPECT_EQ(text.rfind("stand-in", 0), 0u) << text;
        } else {
            EXPECT_EQ(text.find("stand-in"), std::string::npos) << text;
            EXPECT_FALSE(text.empty());
        }
        // The source text is optional.
        EXPECT_EQ(HSIMGetTableProvenance(table, nullptr), result);
    }
}

TEST(TableProvenance, UnknownTablesAreRefused)
{
    for (int table : {-1, 3, 1000}) {
        const char* source = "untouched";
        EXPECT_EQ(HSIMGetTableProvenance(table, &source), -1);
        EXPECT_EQ(source, nullptr);
        EXPECT_EQ(HSIMGetTableProvenance(table, nullptr), -1);
    }
}

TEST(TableProvenance, TheDataDirectoryOfThisBuildIsUsed)
{
    // When the data is there, a stand-in means the conversion rejected it.
    const std::string hea = DataDir() + "/IEC227W/wfdb/aami3a.hea";
    if (DataDir().empty() || !std::filesystem::exists(hea)) {
        GTEST_SKIP() << "no IEC227W records in '" << DataDir() << "'";
    }
    std::string source;
    EXPECT_TRUE(Published(HSIM_TABLE_IEC227W, &source)) << source;
    EXPECT_NE(source.find(DataDir()), std::string::npos) << source;
}

TEST(IEC227WTable, AccessorGivesTheRecordCountsAtTheStride)
{
    for (int p = 0; p < kIEC227Patterns; ++p) {
        SCOPED_TRACE(p);
        EXPECT_NEAR(IEC227WL[p] * 720.0, kCounts[p], 1e-6);
        int length = -1;
        int rate = -1;
        // Pattern p starts 66000 samples past pattern p - 1.
        EXPECT_EQ(GetSpecialWave227Array(p, &length, &rate), IEC227W + p * 66000);
        EXPECT_EQ(length, kCounts[p]);  // 43081 for pattern 0, 34511 for pattern 3, ...
        EXPECT_EQ(rate, 720);
    }
    // Two lengths as seconds: 47.931944... and 90.575 exactly.
    EXPECT_NEAR(IEC227WL[3], 47.931944, 1e-6);
    EXPECT_DOUBLE_EQ(IEC227WL[5], 90.575);
}

TEST(IEC227WTable, EveryPatternIsZeroAfterItsLength)
{
    for (int p = 0; p < kIEC227Patterns; ++p) {
        const int32_t* row = IEC227W + p * kIEC227Stride;
        const auto nonzero = std::find_if(row + kCounts[p], row + kIEC227Stride,
                                          [](int32_t v) { return v != 0; });
        EXPECT_EQ(nonzero, row + kIEC227Stride)
            << "pattern " << p << " holds " << *nonzero << " at " << (nonzero - row);
        // The pattern itself is not empty (published or stand-in).
        const Range r = RangeOf(row, kCounts[p]);
        EXPECT_LT(r.min, r.max) << "pattern " << p << " is flat";
    }
}

TEST(IEC227WTable, PublishedDataHasTheStatedPeaks)
{
    SKIP_UNLESS_PUBLISHED(HSIM_TABLE_IEC227W);
    const Range all = RangeOf(IEC227W, kIEC227Patterns * kIEC227Stride);
    EXPECT_EQ(all.min, -3025);
    EXPECT_EQ(all.max, 1325);
    EXPECT_EQ(RangeOf(IEC227W + 1 * kIEC227Stride, kCounts[1]).max, 1038);
}

TEST(IEC227WTable, PublishedDataStartsAtTheHeaderInitialValues)
{
    SKIP_UNLESS_PUBLISHED(HSIM_TABLE_IEC227W);
    // Initial ADC code and gain from each record header, converted by hand:
    // uV = (code - 2048) * 1000 / gain, rounded half away from zero.
    // aami3a 2072/130 = 184.6; aami3b 2073/130 = 192.3; aami3c 2075/130 = 207.7;
    // aami3d 2077/130 = 223.1; aami4a 2040/80 = -100; aami4a_d 2042/40 = -150;
    // aami4a_h 2038/160 = -62.5; aami4b 2011/80 = -462.5; aami4b_d 2013/40 = -875;
    // aami4b_h 2009/160 = -243.75.
    constexpr int kFirst[kIEC227Patterns] = {185, 192, 208, 223, -100, -150, -63, -463, -875, -244};
    for (int p = 0; p < kIEC227Patterns; ++p) {
        EXPECT_EQ(IEC227W[p * kIEC227Stride], kFirst[p]) << "pattern " << p;
    }
}

TEST(IEC227WTable, PublishedDataMatchesTheIndependentConversion)
{
    SKIP_UNLESS_PUBLISHED(HSIM_TABLE_IEC227W);
    // The data directory carries a second conversion of the same records,
    // one microvolt value per line, made with another tool.
    const std::filesystem::path dir = DataDir() + "/IEC227W/uv";
    if (DataDir().empty() || !std::filesystem::is_directory(dir)) {
        GTEST_SKIP() << "no IEC227W/uv text files in '" << DataDir() << "'";
    }
    const char* const records[kIEC227Patterns] = {"aami3a", "aami3b", "aami3c",   "aami3d",
                                                  "aami4a", "aami4a_d", "aami4a_h", "aami4b",
                                                  "aami4b_d", "aami4b_h"};
    for (int p = 0; p < kIEC227Patterns; ++p) {
        const auto file = dir / ("p" + std::to_string(p) + "_" + records[p] + ".uv.txt");
        std::ifstream in(file);
        ASSERT_TRUE(in) << file;
        std::vector<int32_t> values;
        for (int32_t v = 0; in >> v;) {
            values.push_back(v);
        }
        ASSERT_EQ(values.size(), static_cast<size_t>(kCounts[p])) << file;
        const int32_t* row = IEC227W + p * kIEC227Stride;
        const auto diff = std::mismatch(values.begin(), values.end(), row);
        EXPECT_EQ(diff.first, values.end())
            << "pattern " << p << " sample " << (diff.first - values.begin()) << ": table "
            << *diff.second << ", text file " << *diff.first;
    }
}

TEST(IEC251WTable, PatternsKeepTheirEnvelopes)
{
    std::string source;
    Published(HSIM_TABLE_IEC251W, &source);
    SCOPED_TRACE("IEC251W data: " + source);
    // Patterns 0..5 and 15 are symmetric signals of the given amplitude.
    const int symmetric[][2] = {{0, 500},  {1, 1000}, {2, 1500}, {3, 2000},
                                {4, 3000}, {5, 5000}, {15, 4000}};
    for (const auto& [p, amplitude] : symmetric) {
        const Range r = RangeOf(IEC251W + p * kIEC251Samples, kIEC251Samples);
        EXPECT_EQ(r.min, -amplitude) << "pattern " << p;
        EXPECT_EQ(r.max, amplitude) << "pattern " << p;
    }
    for (int p = 6; p <= 14; ++p) {
        const Range r = RangeOf(IEC251W + p * kIEC251Samples, kIEC251Samples);
        EXPECT_GE(r.min, -2000) << "pattern " << p;
        EXPECT_LE(r.max, 2000) << "pattern " << p;
        EXPECT_LT(r.min, r.max) << "pattern " << p << " is flat";
    }
}

TEST(IEC251WTable, AccessorGivesOneSecondPerPattern)
{
    int length = -1;
    int rate = -1;
    const int* first = GetSpecialWave251Array(0, &length, &rate);
    ASSERT_EQ(first, IEC251W);
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(rate, 1000);
    for (int p = 1; p < kIEC251Patterns; ++p) {
        EXPECT_EQ(GetSpecialWave251Array(p, &length, &rate), first + p * 1000) << p;
    }
}

TEST(ANE20000Table, LeadsStayWithinTheStatedRange)
{
    std::string source;
    Published(HSIM_TABLE_ANE20000, &source);
    SCOPED_TRACE("ANE20000 data: " + source);
    const Range all = RangeOf(ANE20000, kANE20000Leads * kANE20000Samples);
    EXPECT_GE(all.min, -1929);
    EXPECT_LE(all.max, 1821);
    // Both ends are well away from the baseline: the table is an ECG, not a line.
    EXPECT_LT(all.min, -1000);
    EXPECT_GT(all.max, 1000);
    for (int lead = 0; lead < kANE20000Leads; ++lead) {
        const Range r = RangeOf(ANE20000 + lead * kANE20000Samples, kANE20000Samples);
        EXPECT_LT(r.min, r.max) << "lead " << lead << " is flat";
    }
}

TEST(TableAccessors, RefuseIndexesOutsideTheirFamily)
{
    for (int index : {-1, 10, 16, 1 << 30}) {
        int length = 77;
        int rate = 77;
        EXPECT_EQ(GetSpecialWave227Array(index, &length, &rate), nullptr) << index;
        EXPECT_EQ(length, 0);
        EXPECT_EQ(rate, 0);
    }
    for (int index : {-1, 16, 100}) {
        int length = 77;
        int rate = 77;
        EXPECT_EQ(GetSpecialWave251Array(index, &length, &rate), nullptr) << index;
        EXPECT_EQ(length, 0);
        EXPECT_EQ(rate, 0);
    }
    // The last index of each family is still served.
    int length = 0;
    int rate = 0;
    EXPECT_NE(GetSpecialWave227Array(9, &length, &rate), nullptr);
    EXPECT_NE(GetSpecialWave251Array(15, &length, &rate), nullptr);
}

TEST(TableAccessors, RefuseNullLengthOrRate)
{
    int value = 77;
    EXPECT_EQ(GetSpecialWave227Array(0, nullptr, &value), nullptr);
    EXPECT_EQ(GetSpecialWave227Array(0, &value, nullptr), nullptr);
    EXPECT_EQ(GetSpecialWave251Array(0, nullptr, &value), nullptr);
    EXPECT_EQ(GetSpecialWave251Array(0, &value, nullptr), nullptr);
    EXPECT_EQ(GetSpecialWave247Array(0, nullptr, &value), nullptr);
    EXPECT_EQ(GetSpecialWave247Array(0, &value, nullptr), nullptr);
}

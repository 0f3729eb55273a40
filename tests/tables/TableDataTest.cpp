// The built-in sample tables: layout, lengths, zero padding, the accessors,
// the envelopes that every build keeps (published data or stand-in), the
// figures of the published data and its agreement with the independently
// converted text files of the data directory (skipped for a stand-in).
#include "hsim.h"
#include "hsim_ext.h"
#include "synth/tables/StandardTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Sample counts and records of the ten IEC 60601-2-27 patterns.
constexpr int kCounts[kIEC227Patterns] = {43081, 43142, 43144, 34511, 65211, 65214, 65207, 65238, 65239, 65237};
const char* const kRecords[kIEC227Patterns] = {"aami3a", "aami3b",   "aami3c",   "aami3d", "aami4a",
                                               "aami4a_d", "aami4a_h", "aami4b", "aami4b_d", "aami4b_h"};
const std::string kDataDir = HSIM_TEST_DATA_DIR;

std::pair<int, int> RangeOf(const int32_t* samples, int count)
{
    const auto [lo, hi] = std::minmax_element(samples, samples + count);
    return {*lo, *hi};
}

}  // namespace

TEST(TableProvenance, KnownTablesReportTheirSourceOthersAreRefused)
{
    for (int table : {int(HSIM_TABLE_IEC227W), int(HSIM_TABLE_IEC251W), int(HSIM_TABLE_ANE20000), -1, 3}) {
        const char* source = "untouched";
        const int result = HSIMGetTableProvenance(table, &source);
        EXPECT_EQ(HSIMGetTableProvenance(table, nullptr), result) << table;  // the source text is optional
        if (table < 0 || table > 2) {
            EXPECT_TRUE(result == -1 && source == nullptr) << table;
        } else {
            // 1 for published data, 0 for a stand-in, which says so first.
            ASSERT_TRUE((result == 0 || result == 1) && source != nullptr) << table;
            EXPECT_EQ(std::string(source).rfind("stand-in", 0) == 0, result == 0) << source;
        }
    }
    // Where the records are, a stand-in means the conversion rejected them.
    if (!kDataDir.empty() && std::filesystem::exists(kDataDir + "/IEC227W/wfdb/aami3a.hea")) {
        const char* source = nullptr;
        EXPECT_EQ(HSIMGetTableProvenance(HSIM_TABLE_IEC227W, &source), 1);
        EXPECT_NE(std::string(source).find(kDataDir), std::string::npos) << source;
    }
}

TEST(TableProvenance, PublishedTablesMatchTheTextFilesOfTheDataDirectory)
{
    // Table, entries, rows, entries per row, the text file of row i (one
    // integer uV per line; for IEC227W a second conversion of the records,
    // made with another tool).
    const struct { int table; const int32_t* data; int rows, stride; std::string (*file)(int); } tables[] = {
        {HSIM_TABLE_IEC227W, IEC227W, kIEC227Patterns, kIEC227Stride,
         [](int p) { return "/IEC227W/uv/p" + std::to_string(p) + "_" + kRecords[p] + ".uv.txt"; }},
        {HSIM_TABLE_IEC251W, IEC251W, kIEC251Patterns, 1000, [](int p) { return "/IEC251W/p" + std::to_string(p) + ".uv.txt"; }},
        {HSIM_TABLE_ANE20000, ANE20000, kANE20000Leads, 1000, [](int p) { return "/ANE20000/lead" + std::to_string(p) + ".uv.txt"; }}};
    int compared = 0;
    for (const auto& t : tables) {
        if (HSIMGetTableProvenance(t.table, nullptr) != 1 || !std::filesystem::exists(kDataDir + t.file(0))) {
            continue;
        }
        for (int p = 0; p < t.rows; ++p) {
            std::ifstream in(kDataDir + t.file(p));
            const std::vector<int32_t> values{std::istream_iterator<int32_t>(in), {}};
            ASSERT_EQ(values.size(), size_t(t.table == HSIM_TABLE_IEC227W ? kCounts[p] : 1000)) << t.file(p);
            const auto diff = std::mismatch(values.begin(), values.end(), t.data + p * t.stride);
            EXPECT_EQ(diff.first, values.end()) << t.file(p) << " line " << (diff.first - values.begin() + 1);
        }
        ++compared;
    }
    if (compared == 0) {
        GTEST_SKIP() << "no published table with its text files in '" << kDataDir << "'";
    }
}

TEST(IEC227WTable, PatternsHaveTheRecordLengthsAndAreZeroAfterThem)
{
    for (int p = 0; p < kIEC227Patterns; ++p) {
        EXPECT_NEAR(IEC227WL[p] * 720.0, kCounts[p], 1e-6) << p;
        const int32_t* row = IEC227W + p * kIEC227Stride;
        EXPECT_TRUE(std::all_of(row + kCounts[p], row + kIEC227Stride, [](int32_t v) { return v == 0; })) << p;
        const auto [lo, hi] = RangeOf(row, kCounts[p]);
        EXPECT_LT(lo, hi) << "pattern " << p << " is flat";
    }
}

TEST(IEC251WTable, PatternsKeepTheirEnvelopes)
{
    // Patterns 0..5 and 15 are symmetric signals of the given amplitude, the
    // others stay within +-2000 uV.
    const int amplitude[kIEC251Patterns] = {500, 1000, 1500, 2000, 3000, 5000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4000};
    for (int p = 0; p < kIEC251Patterns; ++p) {
        const auto [lo, hi] = RangeOf(IEC251W + p * kIEC251Samples, kIEC251Samples);
        if (amplitude[p] != 0) {
            EXPECT_TRUE(lo == -amplitude[p] && hi == amplitude[p]) << "pattern " << p << ": " << lo << ".." << hi;
        } else {
            EXPECT_TRUE(lo >= -2000 && hi <= 2000 && lo < hi) << "pattern " << p << ": " << lo << ".." << hi;
        }
    }
}

TEST(ANE20000Table, LeadsStayWithinTheStatedRange)
{
    // All within -1929..+1821 uV, both ends well away from the baseline.
    const auto [lo, hi] = RangeOf(ANE20000, kANE20000Leads * kANE20000Samples);
    EXPECT_TRUE(lo >= -1929 && lo < -1000 && hi <= 1821 && hi > 1000) << lo << ".." << hi;
    for (int lead = 0; lead < kANE20000Leads; ++lead) {
        const auto [leadLo, leadHi] = RangeOf(ANE20000 + lead * kANE20000Samples, kANE20000Samples);
        EXPECT_LT(leadLo, leadHi) << "lead " << lead << " is flat";
    }
}

TEST(TableAccessors, GiveEveryPatternAndRefuseWhatIsNone)
{
    // Each family's accessor, its patterns, and where pattern p starts, its
    // length and rate: IEC227W rows 66000 apart at 720/s, IEC251W one
    // second at 1000/s, the 2-47 patterns (the cached ones) a minute or,
    // pattern 4, an hour at 1000/s.
    using Get = const void* (*)(int, int*, int*);
    const struct { Get get; int patterns; const void* (*start)(int); int (*length)(int); int rate; } families[] = {
        {[](int i, int* l, int* r) -> const void* { return GetSpecialWave227Array(i, l, r); }, kIEC227Patterns,
         [](int p) -> const void* { return IEC227W + p * 66000; }, [](int p) { return kCounts[p]; }, 720},
        {[](int i, int* l, int* r) -> const void* { return GetSpecialWave251Array(i, l, r); }, kIEC251Patterns,
         [](int p) -> const void* { return IEC251W + p * 1000; }, [](int) { return 1000; }, 1000},
        {[](int i, int* l, int* r) -> const void* { return GetSpecialWave247Array(i, l, r); }, kIEC247Patterns,
         [](int p) -> const void* { return getIEC47RawArray(static_cast<IEC247_PATTERN>(p)); },
         [](int p) { return p == 4 ? 3600000 : 60000; }, 1000}};
    for (const auto& f : families) {
        SCOPED_TRACE(testing::Message() << f.patterns << " patterns");
        for (int p = 0; p < f.patterns; ++p) {
            int length = -1, rate = -1;
            EXPECT_EQ(f.get(p, &length, &rate), f.start(p)) << p;
            EXPECT_TRUE(length == f.length(p) && rate == f.rate) << p << ": " << length << " at " << rate;
        }
        for (int bad : {-1, f.patterns, 1 << 30}) {
            int length = 77, rate = 77;
            EXPECT_EQ(f.get(bad, &length, &rate), nullptr) << bad;
            EXPECT_TRUE(length == 0 && rate == 0) << bad;
        }
        int value = 77;
        EXPECT_EQ(f.get(0, nullptr, &value), nullptr);
        EXPECT_EQ(f.get(0, &value, nullptr), nullptr);
    }
}

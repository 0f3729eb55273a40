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

}  // namespace

TEST(TableProvenance, TablesReportTheirSourceAndMatchTheDataDirectory)
{
    // Table, entries, rows, entries per row, the text file of row i in the
    // data directory (one integer uV per line; for IEC227W a second
    // conversion of the records, made with another tool).
    const struct { int table; const int32_t* data; int rows, stride; std::string (*file)(int); } tables[] = {
        {HSIM_TABLE_IEC227W, IEC227W, kIEC227Patterns, kIEC227Stride,
         [](int p) { return "/IEC227W/uv/p" + std::to_string(p) + "_" + kRecords[p] + ".uv.txt"; }},
        {HSIM_TABLE_IEC251W, IEC251W, kIEC251Patterns, 1000,
         [](int p) { return "/IEC251W/p" + std::to_string(p) + ".uv.txt"; }},
        {HSIM_TABLE_ANE20000, ANE20000, kANE20000Leads, 1000,
         [](int p) { return "/ANE20000/lead" + std::to_string(p) + ".uv.txt"; }}};
    for (const auto& t : tables) {
        // 1 for published data, 0 for a stand-in, whose text says so first;
        // the source text is optional.
        const char* source = nullptr;
        const int result = HSIMGetTableProvenance(t.table, &source);
        ASSERT_TRUE((result == 0 || result == 1) && source != nullptr) << result;
        EXPECT_EQ(std::string(source).rfind("stand-in", 0) == 0, result == 0) << source;
        if (kDataDir.empty() || !std::filesystem::exists(kDataDir + t.file(0))) {
            continue;
        }
        // Where the data is, a stand-in means the conversion rejected it.
        ASSERT_EQ(result, 1) << source;
        EXPECT_NE(std::string(source).find(kDataDir), std::string::npos) << source;
        for (int p = 0; p < t.rows; ++p) {
            std::ifstream in(kDataDir + t.file(p));
            const std::vector<int32_t> values{std::istream_iterator<int32_t>(in), {}};
            ASSERT_EQ(values.size(), size_t(t.table == HSIM_TABLE_IEC227W ? kCounts[p] : 1000)) << t.file(p);
            const auto diff = std::mismatch(values.begin(), values.end(), t.data + p * t.stride);
            EXPECT_EQ(diff.first, values.end()) << t.file(p) << " line " << (diff.first - values.begin() + 1);
        }
    }
    for (int table : {-1, 3}) {  // no such table
        const char* source = "untouched";
        EXPECT_TRUE(HSIMGetTableProvenance(table, &source) == -1 && source == nullptr) << table;
        EXPECT_EQ(HSIMGetTableProvenance(table, nullptr), -1);
    }
}

TEST(IEC251WTable, EveryTableRowKeepsItsEnvelope)
{
    // Per table: rows, entries per row, samples of row p and the range all
    // rows stay in (for IEC227W the peaks of the published records); rows
    // are zero after their samples (IEC227W rows after their record's
    // length, which IEC227WL gives in seconds at 720/s), none is flat, and
    // IEC251W patterns 0..5 and 15 are symmetric signals of the given
    // amplitude.
    static const int kSymmetric[kIEC251Patterns] = {500, 1000, 1500, 2000, 3000, 5000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4000};
    const struct { const int32_t* data; int rows, stride, lo, hi; const int* symmetric; } tables[] = {
        {IEC227W, kIEC227Patterns, kIEC227Stride, -3025, 1325, nullptr},
        {IEC251W, kIEC251Patterns, 1000, -2000, 2000, kSymmetric},
        {ANE20000, kANE20000Leads, 1000, -1929, 1821, nullptr}};
    for (const auto& t : tables) {
        for (int p = 0; p < t.rows; ++p) {
            const int32_t* row = t.data + p * t.stride;
            const int count = t.data == IEC227W ? kCounts[p] : t.stride;
            const auto [lo, hi] = std::minmax_element(row, row + count);
            const int a = t.symmetric != nullptr ? t.symmetric[p] : 0;
            EXPECT_TRUE(a != 0 ? *lo == -a && *hi == a : *lo >= t.lo && *hi <= t.hi && *lo < *hi) << "row " << p;
            EXPECT_TRUE(std::all_of(row + count, row + t.stride, [](int32_t v) { return v == 0; })) << p;
        }
    }
    for (int p = 0; p < kIEC227Patterns; ++p) {
        EXPECT_NEAR(IEC227WL[p] * 720.0, kCounts[p], 1e-6) << p;
    }
    // The ANE20000 leads reach well away from the baseline both ways.
    const auto [lo, hi] = std::minmax_element(ANE20000, ANE20000 + kANE20000Leads * kANE20000Samples);
    EXPECT_TRUE(*lo < -1000 && *hi > 1000) << *lo << ".." << *hi;
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
        for (int p = 0; p < f.patterns; ++p) {
            int length = -1, rate = -1;
            EXPECT_EQ(f.get(p, &length, &rate), f.start(p)) << f.patterns << " patterns: " << p;
            EXPECT_TRUE(length == f.length(p) && rate == f.rate) << f.patterns << " patterns: " << p;
        }
        for (int bad : {-1, f.patterns, 1 << 30}) {
            int length = 77, rate = 77;
            EXPECT_TRUE(f.get(bad, &length, &rate) == nullptr && length == 0 && rate == 0) << f.patterns << ": " << bad;
        }
        int value = 77;  // no length or no rate to fill
        EXPECT_TRUE(f.get(0, nullptr, &value) == nullptr && f.get(0, &value, nullptr) == nullptr) << f.patterns;
    }
}

// The text dump of a pattern: its lines, its refusals, and the path encoding
// (the file created is exactly the UTF-8 file named, or none).
#include "hsim.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class WaveformDump : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hsim_dump_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // A file of the test directory, as the wide path the dump takes.
    std::wstring Wide(const std::wstring& name) const { return m_dir.wstring() + L"/" + name; }
    static std::string Read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path m_dir;
};

}  // namespace

TEST_F(WaveformDump, WritesTheOneChannelTextFileInExactMillivolts)
{
    // Rate, count, "1", title, then one value per line; an existing file is
    // replaced.
    std::ofstream(m_dir / "f.txt") << "a much longer previous content\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n";
    const struct { std::vector<int> samples; int rate; const char* title; const char* text; } rows[] = {
        {{1000, -250}, 1000, "ECG", "1000\n2\n1\nECG\n1.000\n-0.250\n"},
        {{0, -1, 1, 999, -1000, 1234567, INT_MAX, INT_MIN}, 720, "IEC 60601-2-27 #4",
         "720\n8\n1\nIEC 60601-2-27 #4\n0.000\n-0.001\n0.001\n0.999\n-1.000\n1234.567\n2147483.647\n-2147483.648\n"},
        {{}, 500, "empty", "500\n0\n1\nempty\n"}};
    for (const auto& r : rows) {
        const int* samples = r.samples.empty() ? nullptr : r.samples.data();
        EXPECT_EQ(DumpStandardWaveform(samples, int(r.samples.size()), r.rate, r.title, Wide(L"f.txt").c_str()), 0);
        EXPECT_EQ(Read(m_dir / "f.txt"), r.text);
    }
}

TEST_F(WaveformDump, RefusesArgumentsAndReportsFailedOpensAndWrites)
{
    const int two[] = {1, 2};
    const std::wstring path = Wide(L"refused.txt"), missingDir = Wide(L"no/such/dir.txt");
    const struct { const int* samples; int count; const char* title; const wchar_t* path; int result; } rows[] = {
        {nullptr, 2, "ECG", path.c_str(), -3}, {two, 2, nullptr, path.c_str(), -3}, {two, -1, "ECG", path.c_str(), -3},
        {two, INT_MIN, "ECG", path.c_str(), -3}, {two, 2, "ECG", nullptr, -3}, {two, 2, "ECG", L"", -3},
        // No such directory; every write to /dev/full fails, which buffered
        // output shows when the file is closed.
        {two, 2, "ECG", missingDir.c_str(), -3}, {two, 2, "ECG", L"/dev/full", -6}};
    for (const auto& r : rows) {
        EXPECT_EQ(DumpStandardWaveform(r.samples, r.count, 1000, r.title, r.path), r.result) << r.count;
    }
    EXPECT_TRUE(fs::is_empty(m_dir));
}

TEST_F(WaveformDump, CreatesTheFileNamedInUtf8OrNone)
{
    fs::create_directory(m_dir / "a");
    // A name of n bytes of UTF-8 in all, the directory and "./" steps
    // included, ending in ".txt" after `last`.
    auto ofLength = [&](size_t n, const std::wstring& last, size_t lastBytes) {
        const size_t room = n - m_dir.string().size() - 1 - lastBytes - 4;  // less "/" and ".txt"
        std::wstring steps;
        while (steps.size() + 52 < room) {
            steps += L"./";
        }
        return steps + std::wstring(room - steps.size(), L'n') + last + L".txt";
    };
    // Wide name, then the UTF-8 name of the file created ("" for none):
    // characters of two, three and four bytes; one whose low byte is '/';
    // surrogates, values above U+10FFFF or negative; 511 bytes of path fit,
    // 512 do not, also when they are 511 characters.
    const std::wstring fits = ofLength(511, L"", 0);
    ASSERT_EQ(m_dir.string().size() + 1 + fits.size(), 511u);
    const struct { std::wstring name; std::string created; } rows[] = {
        {L"caf\u00e9\u20ac\U0001F600.txt", "caf\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80.txt"},
        {L"a\u012Fb.txt", "a\xC4\xAF" "b.txt"},
        {std::wstring(L"x") + wchar_t(0xD800), ""},   {std::wstring(L"x") + wchar_t(0xDFFF), ""},
        {std::wstring(L"x") + wchar_t(0x110000), ""}, {std::wstring(L"x") + wchar_t(-5), ""},
        {std::wstring(L"x") + wchar_t(0x10FFFF), "x\xF4\x8F\xBF\xBF"},
        {fits, std::string(fits.begin(), fits.end())}, {ofLength(512, L"", 0), ""}, {ofLength(512, L"\u00e9", 2), ""}};
    const int samples[] = {5};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "name of " << r.name.size() << " characters: " << r.created);
        EXPECT_EQ(DumpStandardWaveform(samples, 1, 1000, "ECG", Wide(r.name).c_str()), r.created.empty() ? -3 : 0);
        if (!r.created.empty()) {
            EXPECT_EQ(Read(m_dir / r.created), "1000\n1\n1\nECG\n0.005\n");
            fs::remove(m_dir / r.created);
        }
        EXPECT_TRUE(fs::is_empty(m_dir / "a"));  // only ever the file named
        EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), {}), 1);
    }
}

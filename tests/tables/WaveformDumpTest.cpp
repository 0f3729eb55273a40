// The text dump of a pattern: its lines, its refusals, and the path encoding
// (the file created is exactly the UTF-8 file named, or none).
#include "hsim.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    // A path inside the test directory, as the wide string the API takes.
    std::wstring Wide(const std::string& asciiName) const
    {
        const std::string full = m_dir.string() + "/" + asciiName;
        return std::wstring(full.begin(), full.end());
    }
    std::wstring WideDir() const { return Wide(""); }

    static std::string Read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    bool DirectoryIsEmpty() const { return fs::is_empty(m_dir); }

    fs::path m_dir;
};

}  // namespace

TEST_F(WaveformDump, WritesTheSixLinesOfTheOneChannelTextFile)
{
    const int samples[] = {1000, -250};
    EXPECT_EQ(DumpStandardWaveform(samples, 2, 1000, "ECG", Wide("two.txt").c_str()), 0);
    EXPECT_EQ(Read(m_dir / "two.txt"), "1000\n2\n1\nECG\n1.000\n-0.250\n");
}

TEST_F(WaveformDump, WritesMicrovoltsAsExactMillivolts)
{
    const int samples[] = {0, -1, 1, 999, -1000, 1234567, INT_MAX, INT_MIN};
    EXPECT_EQ(DumpStandardWaveform(samples, 8, 720, "IEC 60601-2-27 #4", Wide("v.txt").c_str()), 0);
    EXPECT_EQ(Read(m_dir / "v.txt"), "720\n8\n1\nIEC 60601-2-27 #4\n"
                                     "0.000\n-0.001\n0.001\n0.999\n-1.000\n1234.567\n"
                                     "2147483.647\n-2147483.648\n");
}

TEST_F(WaveformDump, TruncatesAnExistingFile)
{
    std::ofstream(m_dir / "old.txt") << "a much longer previous content\n\n\n\n\n\n";
    EXPECT_EQ(DumpStandardWaveform(nullptr, 0, 500, "empty", Wide("old.txt").c_str()), 0);
    EXPECT_EQ(Read(m_dir / "old.txt"), "500\n0\n1\nempty\n");
}

TEST_F(WaveformDump, RefusesMissingArgumentsWithoutCreatingAFile)
{
    const int samples[] = {1, 2};
    const std::wstring path = Wide("refused.txt");
    EXPECT_EQ(DumpStandardWaveform(nullptr, 2, 1000, "ECG", path.c_str()), -3);
    EXPECT_EQ(DumpStandardWaveform(samples, 2, 1000, nullptr, path.c_str()), -3);
    EXPECT_EQ(DumpStandardWaveform(samples, -1, 1000, "ECG", path.c_str()), -3);
    EXPECT_EQ(DumpStandardWaveform(samples, INT_MIN, 1000, "ECG", path.c_str()), -3);
    EXPECT_EQ(DumpStandardWaveform(samples, 2, 1000, "ECG", nullptr), -3);
    EXPECT_TRUE(DirectoryIsEmpty());
}

TEST_F(WaveformDump, ReportsAnUnopenableFileAndAFailedWrite)
{
    const int samples[] = {1, 2};
    EXPECT_EQ(DumpStandardWaveform(samples, 2, 1000, "ECG", Wide("no/such/dir.txt").c_str()), -3);
    EXPECT_EQ(DumpStandardWaveform(samples, 2, 1000, "ECG", L""), -3);
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full to make writes fail";
    }
    // Every write to /dev/full fails with ENOSPC; buffered output shows it at
    // the latest when the file is closed.
    EXPECT_EQ(DumpStandardWaveform(samples, 2, 1000, "ECG", L"/dev/full"), -6);
}

TEST_F(WaveformDump, EncodesTheWidePathAsUtf8)
{
    const int samples[] = {5};
    // U+00E9, U+20AC and U+1F600 take two, three and four UTF-8 bytes.
    const std::wstring path = WideDir() + L"caf\u00e9\u20ac\U0001F600.txt";
    ASSERT_EQ(DumpStandardWaveform(samples, 1, 1000, "ECG", path.c_str()), 0);
    const fs::path expected = m_dir / "caf\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80.txt";
    EXPECT_TRUE(fs::exists(expected));
    EXPECT_EQ(Read(expected), "1000\n1\n1\nECG\n0.005\n");
}

TEST_F(WaveformDump, ACharacterWhoseLowByteIsASlashStaysInTheName)
{
    // U+012F ends in 0x2F, '/': cutting characters to their low byte would
    // write a/b.txt. The file is the one named, "a\u012Fb.txt".
    fs::create_directory(m_dir / "a");
    const int samples[] = {5};
    const std::wstring path = WideDir() + L"a\u012Fb.txt";
    ASSERT_EQ(DumpStandardWaveform(samples, 1, 1000, "ECG", path.c_str()), 0);
    EXPECT_TRUE(fs::exists(m_dir / "a\xC4\xAF" "b.txt"));
    EXPECT_FALSE(fs::exists(m_dir / "a" / "b.txt"));
}

TEST_F(WaveformDump, RefusesPathsThatAreNotUnicode)
{
    const int samples[] = {5};
    std::wstring surrogate = WideDir() + L"x";
    surrogate += static_cast<wchar_t>(0xD800);
    std::wstring lowSurrogate = WideDir() + L"x";
    lowSurrogate += static_cast<wchar_t>(0xDFFF);
    std::wstring tooLarge = WideDir() + L"x";
    tooLarge += static_cast<wchar_t>(0x110000);
    std::wstring negative = WideDir() + L"x";
    negative += static_cast<wchar_t>(-5);
    for (const std::wstring* path : {&surrogate, &lowSurrogate, &tooLarge, &negative}) {
        EXPECT_EQ(DumpStandardWaveform(samples, 1, 1000, "ECG", path->c_str()), -3);
    }
    EXPECT_TRUE(DirectoryIsEmpty());
    // The highest code point is fine.
    std::wstring highest = WideDir() + L"x";
    highest += static_cast<wchar_t>(0x10FFFF);
    EXPECT_EQ(DumpStandardWaveform(samples, 1, 1000, "ECG", highest.c_str()), 0);
    EXPECT_TRUE(fs::exists(m_dir / "x\xF4\x8F\xBF\xBF"));
}

TEST_F(WaveformDump, AcceptsUpTo511BytesOfPathAndRefusesMore)
{
    const int samples[] = {5};
    // A path of the given UTF-8 length: the directory, "./" steps and a file
    // name of about 50 bytes that makes up the rest, optionally ending in an
    // accent of two bytes.
    struct Path {
        std::string utf8;
        std::wstring wide;
    };
    auto pathOfLength = [&](size_t bytes, bool accent) {
        std::string ascii = m_dir.string() + "/";
        const size_t room = bytes - ascii.size() - (accent ? 2 : 0) - 4;
        const size_t steps = (room - 50) / 2;
        for (size_t k = 0; k < steps; ++k) {
            ascii += "./";
        }
        ascii += std::string(room - 2 * steps, 'n');
        Path path{ascii, std::wstring(ascii.begin(), ascii.end())};
        if (accent) {
            path.utf8 += "\xC3\xA9";
            path.wide += L'\u00e9';
        }
        path.utf8 += ".txt";
        path.wide += L".txt";
        return path;
    };

    const Path fits = pathOfLength(511, false);
    ASSERT_EQ(fits.utf8.size(), 511u);
    EXPECT_EQ(DumpStandardWaveform(samples, 1, 1000, "ECG", fits.wide.c_str()), 0);
    EXPECT_TRUE(fs::exists(fits.utf8));
    fs::remove(fits.utf8);

    const Path tooLong = pathOfLength(512, false);
    ASSERT_EQ(tooLong.utf8.size(), 512u);
    EXPECT_EQ(DumpStandardWaveform(samples, 1, 1000, "ECG", tooLong.wide.c_str()), -3);

    // 511 characters, but the accent takes two bytes: 512 bytes.
    const Path accented = pathOfLength(512, true);
    ASSERT_EQ(accented.utf8.size(), 512u);
    ASSERT_EQ(accented.wide.size(), 511u);
    EXPECT_EQ(DumpStandardWaveform(samples, 1, 1000, "ECG", accented.wide.c_str()), -3);
    EXPECT_TRUE(DirectoryIsEmpty());
}

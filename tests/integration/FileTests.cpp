// ECG data through the exported loaders: round trips through the dumps,
// which refusals keep the loaded data and which leave nothing, the paths, the
// recording of the streamed samples, and loads racing a rendering.
#include "protocol/Exchange.h"
#include "Fixture.h"
#include "hsim.hpp"

#include "output/Engine.h"
#include "runtime/Sync.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <thread>

using namespace hsimtest;

namespace {

class EcgData : public EmulatorTest {
protected:
    void TearDown() override
    {
        HSIMSetOutputFunction(0);
        DisableRecordRaw();
        EmulatorTest::TearDown();
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::wstring wide(const std::wstring& name) const { return std::wstring(dir_.begin(), dir_.end()) + L"/" + name; }
    int loadText(const std::string& name, int channel)
    {
        std::string p = path(name);
        return LoadECGtxt(p.data(), channel);
    }
    // The AC words of the loaded data as code 14 plays them, looping, n at
    // 40000 samples per second; no device needed.
    static std::vector<short> playedFile(int n)
    {
        {
            ContextGuard lock(hsim::ContextLock());
            hsim::CurrentEngine().synth.out.MainOutput = OUTPUT_ECG_FILE;
        }
        HSIMEnableLoop(true);
        std::vector<short> words(n);
        EXPECT_EQ(HSIMRenderOutput(n, nullptr, nullptr, words.data(), nullptr), n);
        return words;
    }
    // The file's value at the middle of each of its samples at the rate.
    static std::vector<double> valuesAt(const std::vector<short>& words, int rate, int count)
    {
        std::vector<double> v;
        for (int i = 0; i < count; ++i)
            v.push_back(words[size_t(40000 / rate * i + 40000 / rate / 2)] / 6400.0);
        return v;
    }
};

TEST_F(EcgData, DumpsReadBackWithTheLoaders)
{
    const double samples[] = {0.1234, -2.4996, 2.5, 0.0, 1.0005};
    ASSERT_EQ(OutputRaw(1000, 5, samples, "Lead II", wide(L"out.txt").c_str()), 0);
    ASSERT_EQ(loadText("out.txt", 0), 5);
    // Three decimals, as written; 6400 counts per mV.
    const std::vector<double> expect = {0.123, -2.5, 2.5, 0.0, 1.0};  // 1.0005 prints as 1.000 or 1.001
    const std::vector<double> got = valuesAt(playedFile(200), 1000, 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(got[i], expect[i], i == 4 ? 0.0012 : 0.0002) << i;
    std::ifstream written(path("out.txt"));
    const std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    const std::string start = "1000\n5\n1\nLead II\n0.123\n-2.500\n2.500\n0.000\n1.00";
    EXPECT_EQ(text.substr(0, start.size()), start);
    // The one-channel reader takes lines 3 and 4 as its first samples.
    std::string p = path("out.txt");
    ASSERT_EQ(LoadECGtxtSingleChannel(p.data()), 5);
    EXPECT_EQ(valuesAt(playedFile(200), 1000, 2), (std::vector<double>{1.0, 0.0}));
    // The header probe lists the one channel, its name with its newline.
    char* names[2] = {};
    ASSERT_EQ(CheckECGTxtChannel(wide(L"out.txt").c_str(), names), 1);
    EXPECT_STREQ(names[0], "Lead II\n");
    EXPECT_EQ(names[1], nullptr);
    free(names[0]);
    // DumpRawData writes only the values.
    ASSERT_EQ(DumpRawData(samples, 2, wide(L"raw.txt").c_str()), 0);
    std::ifstream raw(path("raw.txt"));
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>()), "0.123\n-2.500\n");
}

TEST_F(EcgData, PathsAreEncodedNotNarrowed)
{
    // U+012F narrowed to its low byte would be '/': the file must be the one named.
    const double one = 1.0;
    ASSERT_EQ(OutputRaw(500, 1, &one, "x", wide(L"a\u012Fb.txt").c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(path("a\xC4\xAF" "b.txt")));
    EXPECT_EQ(loadText("a\xC4\xAF" "b.txt", 0), 1);
    const std::wstring longName(600, L'n');
    const wchar_t surrogate[] = {L'a', wchar_t(0xD800), 0};
    std::string longPath = path(std::string(600, 'n'));
    EXPECT_EQ(LoadECGtxt(longPath.data(), 0), -1);
    EXPECT_EQ(LoadECGBin(wide(longName).c_str()), -1);
    EXPECT_EQ(LoadECGBin(surrogate), -1);
    EXPECT_EQ(CheckECGTxtChannel(wide(longName).c_str(), nullptr), -1);
    EXPECT_EQ(DumpRawData(&one, 1, wide(longName).c_str()), -3);
    EXPECT_EQ(OutputRaw(500, 1, &one, "x", surrogate), -3);
    EXPECT_EQ(LoadECGBin(nullptr), -1);
}

TEST_F(EcgData, RefusalsKeepTheDataOrLeaveNothingAsTheyShould)
{
    double ac[2] = {1.0, -1.0};
    double dc[2] = {0.0, 0.0};
    auto install = [&] {
        RAW_DATA_INFORMATION data{500.0, 2, ac, dc};
        ASSERT_EQ(HSIMLoadRawData(&data), 2);
    };
    const std::vector<double> loaded = {1.0, -1.0};
    std::ofstream(path("shortrow.txt")) << "500\n2\n2\nI,II\n1,2\n3\n";
    std::ofstream(path("lowrate.txt")) << "99\n2\n1\nI\n1\n";
    std::ofstream(path("bin")) << std::string("\x00\x1D\x00\x00\x00\x01\x00\x00", 8);
    std::ofstream(path("empty.txt")) << "";
    const struct {
        std::function<int()> load;
        int result;
        bool kept;
    } rows[] = {
        {[&] { return loadText("missing.txt", 0); }, -1, true},
        {[&] { return loadText("lowrate.txt", 0); }, -2, true},
        {[&] { std::string p = path("lowrate.txt"); return LoadECGtxtSingleChannel(p.data()); }, -2, true},
        {[&] { return loadText("empty.txt", 0); }, -2, true},
        {[&] { return loadText("shortrow.txt", 2); }, -7, true},
        {[&] { return loadText("shortrow.txt", -1); }, -7, true},
        {[&] { return loadText("shortrow.txt", 1); }, -7, false},  // the second row has one field
        {[&] { return LoadECGBin(wide(L"bin").c_str()); }, -2, true},
        {[&] { RAW_DATA_INFORMATION d{50.0, 2, ac, dc}; return HSIMLoadRawData(&d); }, -2, true},
        {[&] { RAW_DATA_INFORMATION d{NAN, 2, ac, dc}; return HSIMLoadRawData(&d); }, -2, true},
        {[&] { RAW_DATA_INFORMATION d{500.0, 2, ac, nullptr}; return HSIMLoadRawData(&d); }, -1, true},
        {[&] { RAW_DATA_INFORMATION d{500.0, -2, ac, dc}; return HSIMLoadRawData(&d); }, -1, true},
        {[&] { return HSIMLoadRawData(nullptr); }, -1, true},
    };
    for (const auto& r : rows) {
        install();
        EXPECT_EQ(r.load(), r.result);
        const std::vector<double> nothing = {0.0, 0.0};
        EXPECT_EQ(valuesAt(playedFile(200), 500, 2), r.kept ? loaded : nothing) << r.result;
    }
}

TEST_F(EcgData, RawDataAreClampedAndDriveTheDcMode)
{
    double ac[3] = {7.0, -7.0, NAN};
    double dc[3] = {-1500.0, 0.0, INFINITY};
    RAW_DATA_INFORMATION data{1000.0, 3, ac, dc};
    ASSERT_EQ(HSIMLoadRawData(&data), 3);
    std::vector<double> acMv(120), dcMv(120);
    {
        ContextGuard lock(hsim::ContextLock());
        hsim::CurrentEngine().synth.out.MainOutput = OUTPUT_ECG_FILE_WITH_DC;
        EXPECT_TRUE(hsim::CurrentEngine().synth.dc.bRawVariableDC);
    }
    ASSERT_EQ(HSIMRenderOutput(120, acMv.data(), dcMv.data(), nullptr, nullptr), 120);
    EXPECT_EQ((std::vector<double>{acMv[20], acMv[60], acMv[100]}), (std::vector<double>{5.0, -5.0, 0.0}));
    EXPECT_EQ((std::vector<double>{dcMv[20], dcMv[60], dcMv[100]}), (std::vector<double>{-1000.0, 0.0, 1000.0}));
    // All DC samples 0: the variable-DC mode is switched off.
    double zeros[3] = {};
    HSIMReset();
    data.dcData = zeros;
    ASSERT_EQ(HSIMLoadRawData(&data), 3);
    ContextGuard lock(hsim::ContextLock());
    EXPECT_FALSE(hsim::CurrentEngine().synth.dc.bVariableDC);
}

TEST_F(EcgData, AnEmptySetPlaysNothing)
{
    std::ofstream(path("header.txt")) << "500\n10\n1\nI\n";
    ASSERT_EQ(loadText("header.txt", 0), 0);
    EXPECT_EQ(playedFile(1400), std::vector<short>(1400, 0)) << "looping: 0 V";
    HSIMEnableLoop(false);
    EXPECT_EQ(HSIMRenderOutput(1400, nullptr, nullptr, nullptr, nullptr), 0) << "once: ended at once";
    connect();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_FILE), 0);
    EXPECT_TRUE(WaitUntil([] { return !HSIMIsPlaying(); }, 3000));
}

// Every streamed sample goes to the application's buffers until they are
// full: the AC counts as sent, the DC channel in mV.
TEST_F(EcgData, RecordingHoldsWhatTheDeviceReceived)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    constexpr int kLength = 3000;
    std::vector<double> ac(kLength + 10, 7777.0), dc(kLength + 10, 7777.0);
    ASSERT_TRUE(EnableRecordRaw(ac.data(), dc.data(), kLength));
    double other[1];
    EXPECT_FALSE(EnableRecordRaw(other, other, 1)) << "already on: the first buffers stay";
    HSIMSetAmplitude(2.0);
    emulator.clearPlayed();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_STANDARD), 0);
    ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().samples >= 5 * 700; }, 10000));
    ASSERT_EQ(HSIMSetOutputFunction(0), 0);
    const auto played = emulator.playedSamples();
    ASSERT_GE(played.size(), size_t(kLength));
    for (int i = 0; i < kLength; ++i) {
        ASSERT_EQ(int16_t(ac[i]), played[i].ac) << i;
        ASSERT_NEAR(hsimemu::DcMillivolts(played[i].dc), dc[i], 0.02) << i;
    }
    EXPECT_EQ(ac[kLength], 7777.0) << "nothing past the length";
    DisableRecordRaw();
    EXPECT_TRUE(EnableRecordRaw(other, other, 0));
}

// A rendering copies the settings and computes outside the lock while loads
// replace the data: the arrays it reads stay alive (ASan, TSan).
TEST_F(EcgData, LoadsDuringRenderings)
{
    std::vector<double> a(4000, 1.0), b(8000, -1.0), zeros(8000, 0.0);
    {
        ContextGuard lock(hsim::ContextLock());
        hsim::CurrentEngine().synth.out.MainOutput = OUTPUT_ECG_FILE;
    }
    RAW_DATA_INFORMATION first{4000.0, int(a.size()), a.data(), zeros.data()};
    ASSERT_EQ(HSIMLoadRawData(&first), 4000);
    std::atomic<bool> done{false};
    std::thread loader([&] {
        for (int i = 0; !done; ++i) {
            std::vector<double>& v = i % 2 ? a : b;
            RAW_DATA_INFORMATION data{4000.0, int(v.size()), v.data(), zeros.data()};
            HSIMLoadRawData(&data);
        }
    });
    std::vector<double> mv(7000);
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(HSIMRenderOutput(7000, mv.data(), nullptr, nullptr, nullptr), 7000);
        ASSERT_TRUE(std::all_of(mv.begin(), mv.end(), [](double v) { return v == 1.0 || v == -1.0; }));
    }
    done = true;
    loader.join();
}

}  // namespace

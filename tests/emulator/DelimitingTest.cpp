// Message boundaries: the framer on its own with a synthetic clock, and the
// ambiguous pairs through the node.
#include "EmuLine.h"
#include "Framer.h"

namespace emutest {
namespace {

using hsimemu::Frame;
using hsimemu::Framer;
using hsimemu::Kind;
using std::chrono::milliseconds;

class FramerClock : public ::testing::Test {
protected:
    Framer framer{milliseconds(3), milliseconds(100)};
    hsimemu::Clock::time_point t0 = hsimemu::Clock::now();
    Frame frame;

    void feed(const Bytes& b, milliseconds at) { framer.feed(b.data(), b.size(), t0 + at); }
    bool next(milliseconds at) { return framer.next(t0 + at, frame); }
};

TEST_F(FramerClock, ShortRespirationWaitsForTheQuietGap) {
    Bytes resp = msg({0xEA, 0xFF, 0x01}, 19);
    feed(resp, milliseconds(0));
    EXPECT_FALSE(next(milliseconds(2)));
    EXPECT_EQ(framer.deadline(), t0 + milliseconds(3));
    ASSERT_TRUE(next(milliseconds(3)));
    EXPECT_EQ(frame.kind, Kind::Respiration);
    EXPECT_EQ(frame.bytes, resp);
    EXPECT_TRUE(framer.idle());
}

TEST_F(FramerClock, LongWaveformInformationArrivingInTwoPiecesIsOneMessage) {
    Bytes info = msg({0xEA, 0xFF, 0x01, 0, 0, 0, 0x07, 0xD0}, 64);
    feed(Bytes(info.begin(), info.begin() + 19), milliseconds(0));
    EXPECT_FALSE(next(milliseconds(1)));
    feed(Bytes(info.begin() + 19, info.end()), milliseconds(2));
    ASSERT_TRUE(next(milliseconds(2)));  // complete: no wait
    EXPECT_EQ(frame.kind, Kind::WaveformInfo);
    EXPECT_EQ(frame.bytes, info);
}

TEST_F(FramerClock, StopOutputAndControlSettingShareTheirFirstFiveBytes) {
    Bytes stop = {0xEA, 0xFF, 0x00, 0x00, 0x00};
    feed(stop, milliseconds(0));
    EXPECT_FALSE(next(milliseconds(1)));
    ASSERT_TRUE(next(milliseconds(5)));
    EXPECT_EQ(frame.kind, Kind::StopOutput);
    EXPECT_EQ(frame.bytes, stop);

    // Control setting with output switch 0 (standalone save): 64 bytes.
    Bytes setting = msg({0xEA, 0xFF, 0x00, 0x00, 0x00, 0, 0, 0, 0x9C, 0x40}, 64);
    feed(setting, milliseconds(10));
    ASSERT_TRUE(next(milliseconds(10)));
    EXPECT_EQ(frame.kind, Kind::ControlSetting);
    EXPECT_EQ(frame.bytes.size(), 64u);

    // With the switch on, five bytes are not yet a message, however long the
    // line stays quiet (until the fragment goes stale).
    Bytes on = msg({0xEA, 0xFF, 0x00, 0x00, 0x01}, 64);
    feed(Bytes(on.begin(), on.begin() + 5), milliseconds(20));
    EXPECT_FALSE(next(milliseconds(30)));
    feed(Bytes(on.begin() + 5, on.end()), milliseconds(31));
    ASSERT_TRUE(next(milliseconds(31)));
    EXPECT_EQ(frame.kind, Kind::ControlSetting);
}

TEST_F(FramerClock, InformationQueryAndBlockReadAreToldByByteSeven) {
    Bytes query = {0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00};
    feed(query, milliseconds(0));
    ASSERT_TRUE(next(milliseconds(0)));
    EXPECT_EQ(frame.kind, Kind::InfoQuery);
    EXPECT_EQ(frame.bytes, query);

    Bytes read = msg({0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x0C}, 64);
    feed(Bytes(read.begin(), read.begin() + 12), milliseconds(1));
    EXPECT_FALSE(next(milliseconds(50)));  // 12 bytes of a 64-byte read
    feed(Bytes(read.begin() + 12, read.end()), milliseconds(51));
    ASSERT_TRUE(next(milliseconds(51)));
    EXPECT_EQ(frame.kind, Kind::InfoRead);

    Bytes write = read;
    write[3] = 0xFF;
    feed(write, milliseconds(60));
    ASSERT_TRUE(next(milliseconds(60)));
    EXPECT_EQ(frame.kind, Kind::InfoWrite);
}

TEST_F(FramerClock, FixedLengthMessagesSplitBackToBack) {
    Bytes burst = {0x55, 0x00, 0x00, 0xAA, 0x03, 0xCC, 0x00, 0x0D, 0x00, 0x00, 0x00};
    feed(burst, milliseconds(0));
    const Kind kinds[] = {Kind::Probe, Kind::HwQuery, Kind::RegisterRead};
    for (Kind k : kinds) {
        ASSERT_TRUE(next(milliseconds(0)));
        EXPECT_EQ(frame.kind, k);
    }
    EXPECT_FALSE(next(milliseconds(0)));
    EXPECT_EQ(framer.deadline(), hsimemu::Clock::time_point::max());
}

TEST_F(FramerClock, RegisterAndBlockLengths) {
    struct Case {
        Bytes lead;
        size_t length;
        Kind kind;
    };
    const Case cases[] = {
        {{0xCC, 0xFF, 0x0D}, 6, Kind::RegisterWrite},
        {{0xCC, 0xFF, 0x07}, 64, Kind::RegisterWrite},
        {{0xCC, 0x00, 0x0D}, 6, Kind::RegisterRead},
        {{0xEA, 0xFF, 0x04}, 64, Kind::Chunk},
        {{0xEA, 0xFF, 0x07}, 5, Kind::RomSave},
        {{0xEA, 0x00, 0x07}, 6, Kind::RomStatus},
        {{0xC5, 0xFF, 0x08}, 64, Kind::ControlWrite},
        {{0x00}, 64, Kind::ControlRead},
        {{0x01, 0x01, 0x00, 0x00, 0x00, 0x0E}, 3200, Kind::Stream},
    };
    int at = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(hsimemu::kindName(c.kind));
        Bytes m = c.lead;
        m.resize(c.length, 0);
        feed(Bytes(m.begin(), m.end() - 1), milliseconds(at));
        EXPECT_FALSE(next(milliseconds(at + 10)));  // one byte short, quiet
        feed(Bytes(m.end() - 1, m.end()), milliseconds(at + 10));
        ASSERT_TRUE(next(milliseconds(at + 10)));
        EXPECT_EQ(frame.kind, c.kind);
        EXPECT_EQ(frame.bytes, m);
        at += 20;
    }
}

TEST_F(FramerClock, JunkRunsToTheEndOfItsBurst) {
    feed({0x99, 0x55, 0x00}, milliseconds(0));
    feed({0x00}, milliseconds(2));  // same burst
    EXPECT_FALSE(next(milliseconds(4)));
    ASSERT_TRUE(next(milliseconds(5)));
    EXPECT_EQ(frame.kind, Kind::Junk);
    EXPECT_EQ(frame.bytes, (Bytes{0x99, 0x55, 0x00, 0x00}));
    // A message after the gap is read normally.
    feed({0x55, 0x00, 0x00}, milliseconds(20));
    ASSERT_TRUE(next(milliseconds(20)));
    EXPECT_EQ(frame.kind, Kind::Probe);
}

TEST_F(FramerClock, ZeroBlockWithANonZeroByteIsJunk) {
    Bytes almost(64, 0);
    almost[40] = 1;
    feed(almost, milliseconds(0));
    ASSERT_TRUE(next(milliseconds(3)));
    EXPECT_EQ(frame.kind, Kind::Junk);
    EXPECT_EQ(frame.bytes.size(), 64u);
}

TEST_F(FramerClock, BrokenOffMessageGoesStale) {
    Bytes part = msg({0xEA, 0xFF, 0x04}, 30);
    feed(part, milliseconds(0));
    EXPECT_FALSE(next(milliseconds(99)));
    EXPECT_EQ(framer.deadline(), t0 + milliseconds(100));
    ASSERT_TRUE(next(milliseconds(100)));
    EXPECT_EQ(frame.kind, Kind::Junk);
    EXPECT_EQ(frame.bytes, part);
    feed({0x55, 0x00, 0x00}, milliseconds(300));
    ASSERT_TRUE(next(milliseconds(300)));
    EXPECT_EQ(frame.kind, Kind::Probe);
}

// The same pairs through the pseudo terminal, as the host writes them.
class Delimiting : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        startAndOpen();
    }
};

TEST_F(Delimiting, AmbiguousPairsThroughTheNode) {
    Bytes resp = msg({0xEA, 0xFF, 0x01, 0, 0, 0, 0, 0, 12, 1, 2, 3}, 19);
    Bytes respAnswer = resp;
    respAnswer[3] = 0xFF;
    respAnswer.resize(64, 0);
    EXPECT_EQ(exchange(resp, 64), respAnswer);

    // Waveform information whose first 19 bytes look like respiration settings.
    Bytes info = msg({0xEA, 0xFF, 0x01}, 64);
    info[40] = 0x01;
    Bytes infoEcho = info;
    infoEcho[3] = 0xFF;
    EXPECT_EQ(exchange(info, 64), infoEcho);

    EXPECT_EQ(exchange({0xEA, 0xFF, 0x00, 0x00, 0x00}, 64), msg({0xEA, 0xFF, 0x00, 0xFF}, 64));
    Bytes setting = msg({0xEA, 0xFF, 0x00, 0x00, 0x00, 0, 0, 0, 0x9C, 0x40}, 64);
    Bytes settingEcho = setting;
    settingEcho[3] = 0xFF;
    EXPECT_EQ(exchange(setting, 64), settingEcho);

    Bytes query = {0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(exchange(query, 64).size(), 64u);
    Bytes read = msg({0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x0C}, 64);
    EXPECT_EQ(exchange(read, 64).size(), 64u);
    EXPECT_TRUE(silentFor(50));

    std::vector<std::string> kinds;
    for (const auto& m : emu_->received()) kinds.push_back(m.kind);
    EXPECT_EQ(kinds, (std::vector<std::string>{"respiration", "waveform-info", "stop-output",
                                               "control-setting", "info-query", "info-read"}));
    EXPECT_EQ(emu_->received("respiration")[0].bytes, resp);
    EXPECT_EQ(emu_->received("waveform-info")[0].bytes, info);
}

TEST_F(Delimiting, JunkIsLoggedAndTheNextMessageAnswered) {
    send({0x99, 0x98, 0x97});
    ASSERT_TRUE(emu_->waitForMessages(1, 2000, "junk"));
    EXPECT_EQ(emu_->received("junk")[0].bytes, (Bytes{0x99, 0x98, 0x97}));
    EXPECT_EQ(emu_->junkBytes(), 3u);
    EXPECT_TRUE(silentFor(30));
    EXPECT_EQ(exchange({0x55, 0x00, 0x00}, 12).size(), 12u);
}

}  // namespace
}  // namespace emutest

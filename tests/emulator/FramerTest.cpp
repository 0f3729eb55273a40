// Message boundaries: the framer on its own, on a synthetic clock, with the
// emulator's quiet gap (3 ms) and stale time (100 ms).
#include "EmuLine.h"
#include "Framer.h"

namespace emutest {
namespace {

using hsimemu::Kind;
using std::chrono::milliseconds;

struct Feed {
    int atMs;
    Bytes bytes;
};
struct Out {
    Kind kind;
    size_t length;
    int atMs;  // when the framer can hand the message over
};
struct FramerCase {
    const char* name;
    std::vector<Feed> feeds;
    std::vector<Out> frames;
};
void PrintTo(const FramerCase& c, std::ostream* os) { *os << c.name; }

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes kProbe = {0x55, 0x00, 0x00};
const Bytes kInfoQuery = {0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00};

Bytes zeroBlockWithOneByteSet() {
    Bytes b(64, 0);
    b[40] = 1;
    return b;
}

const FramerCase kCases[] = {
    {"ShortRespirationWaitsForTheQuietGap", {{0, msg({0xEA, 0xFF, 0x01}, 19)}},
     {{Kind::Respiration, 19, 3}}},
    {"WaveformInformationInTwoPiecesIsOneMessage",
     {{0, msg({0xEA, 0xFF, 0x01}, 19)}, {2, Bytes(45, 0)}}, {{Kind::WaveformInfo, 64, 2}}},
    {"ShortPrefixMessageTakesTheLongestLengthFilled", {{0, msg({0xEA, 0xFF, 0x01}, 30)}},
     {{Kind::Respiration, 19, 3}, {Kind::Junk, 11, 100}}},
    {"StopOutputWaitsForTheQuietGap", {{0, {0xEA, 0xFF, 0x00, 0x00, 0x00}}},
     {{Kind::StopOutput, 5, 3}}},
    {"ControlSettingWithSwitchOffIsTheLongForm", {{0, msg({0xEA, 0xFF, 0x00, 0x00, 0x00}, 64)}},
     {{Kind::ControlSetting, 64, 0}}},
    {"ControlSettingWithSwitchOnIsNeverShort",
     {{0, {0xEA, 0xFF, 0x00, 0x00, 0x01}}, {30, Bytes(59, 0)}}, {{Kind::ControlSetting, 64, 30}}},
    {"InformationQueryToldByByteSeven", {{0, kInfoQuery}}, {{Kind::InfoQuery, 12, 0}}},
    {"InformationReadToldByByteSeven",
     {{0, {0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00}},
      {50, Bytes(52, 0)}},
     {{Kind::InfoRead, 64, 50}}},
    {"FixedLengthMessagesBackToBack",
     {{0, cat({kProbe, {0xAA, 0x03}, {0xCC, 0x00, 0x0D, 0x00, 0x00, 0x00},
               {0xCC, 0xFF, 0x0D, 0x00, 0x03, 0x07}, msg({0xCC, 0xFF, 0x07}, 64),
               msg({0xEA, 0xFF, 0x04}, 64), {0xEA, 0xFF, 0x07, 0x00, 0x01},
               {0xEA, 0x00, 0x07, 0x00, 0x01, 0x00}, msg({0xC5, 0xFF, 0x08}, 64), Bytes(64, 0),
               msg({0x01, 0x01, 0x00, 0x00, 0x00, 0x0E}, 3200), kInfoQuery,
               msg({0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x0C}, 64),
               msg({0x12, 0x55, 0xAA, 0xFF}, 64)})}},
     {{Kind::Probe, 3, 0}, {Kind::HwQuery, 2, 0}, {Kind::RegisterRead, 6, 0},
      {Kind::RegisterWrite, 6, 0}, {Kind::RegisterWrite, 64, 0}, {Kind::Chunk, 64, 0},
      {Kind::RomSave, 5, 0}, {Kind::RomStatus, 6, 0}, {Kind::ControlWrite, 64, 0},
      {Kind::ControlRead, 64, 0}, {Kind::Stream, 3200, 0}, {Kind::InfoQuery, 12, 0},
      {Kind::InfoRead, 64, 0}, {Kind::InfoWrite, 64, 0}}},
    {"TransferAssembledFromSeveralReads",
     {{0, msg({0x01, 0x01, 0x00, 0x00, 0x00, 0x0E}, 1000)}, {5, Bytes(1100, 0)}, {10, Bytes(1100, 0)}},
     {{Kind::Stream, 3200, 10}}},
    {"JunkRunsToTheEndOfItsBurst", {{0, {0x99, 0x55, 0x00}}, {2, {0x00}}, {20, kProbe}},
     {{Kind::Junk, 4, 5}, {Kind::Probe, 3, 20}}},
    {"JunkAfterAMessageInTheSameBurst", {{0, cat({kProbe, {0x99}, kProbe})}},
     {{Kind::Probe, 3, 0}, {Kind::Junk, 4, 3}}},
    {"ZeroBlockWithANonZeroByteIsJunk", {{0, zeroBlockWithOneByteSet()}}, {{Kind::Junk, 64, 3}}},
    {"BrokenOffMessageGoesStale", {{0, msg({0xEA, 0xFF, 0x04}, 30)}, {300, kProbe}},
     {{Kind::Junk, 30, 100}, {Kind::Probe, 3, 300}}},
};

class Framer : public ::testing::TestWithParam<FramerCase> {};

// Runs the framer as the emulator's worker does: it wakes at the next feed or
// at the framer's own deadline and takes every message that is ready then.
TEST_P(Framer, DelimitsAsDocumented) {
    const FramerCase& c = GetParam();
    hsimemu::Framer framer{milliseconds(3), milliseconds(100)};
    const auto t0 = hsimemu::Clock::now();
    std::vector<Out> got;
    Bytes fed, delivered;
    size_t feed = 0;
    for (int wakes = 0; wakes < 100; ++wakes) {
        auto when = framer.deadline();
        if (feed < c.feeds.size()) when = std::min(when, t0 + milliseconds(c.feeds[feed].atMs));
        if (when == hsimemu::Clock::time_point::max()) break;
        bool fedNow = false;
        for (; feed < c.feeds.size() && t0 + milliseconds(c.feeds[feed].atMs) <= when; ++feed) {
            const Bytes& b = c.feeds[feed].bytes;
            framer.feed(b.data(), b.size(), when);
            fed.insert(fed.end(), b.begin(), b.end());
            fedNow = true;
        }
        hsimemu::Frame frame;
        bool tookAny = false;
        while (framer.next(when, frame)) {
            auto at = std::chrono::duration_cast<milliseconds>(when - t0).count();
            got.push_back({frame.kind, frame.bytes.size(), static_cast<int>(at)});
            delivered.insert(delivered.end(), frame.bytes.begin(), frame.bytes.end());
            tookAny = true;
        }
        ASSERT_TRUE(fedNow || tookAny) << "woken at a deadline with nothing ready";
    }
    ASSERT_EQ(got.size(), c.frames.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i));
        EXPECT_EQ(hsimemu::kindName(got[i].kind), std::string(hsimemu::kindName(c.frames[i].kind)));
        EXPECT_EQ(got[i].length, c.frames[i].length);
        EXPECT_EQ(got[i].atMs, c.frames[i].atMs);
    }
    EXPECT_EQ(delivered, fed);  // every byte once, in order
    EXPECT_TRUE(framer.idle());
}

INSTANTIATE_TEST_SUITE_P(Delimiting, Framer, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace emutest

// Message boundaries: the framer on its own, on a synthetic clock, with the
// emulator's quiet gap (3 ms) and stale time (100 ms).
#include "EmuLine.h"
#include "Framer.h"

namespace {

using std::chrono::milliseconds;

struct Feed { int atMs; Bytes bytes; };
// frames: each message as "<kind> <length> @<ms when the framer hands it over>",
// with the kind as the received log names it, then " from <ms>" when its first
// byte came earlier.
struct FramerCase { const char* name; std::vector<Feed> feeds; std::vector<std::string> frames; };
void PrintTo(const FramerCase& c, std::ostream* os) { *os << c.name; }

const Bytes kProbe = {0x55, 0x00, 0x00};
const Bytes kInfoQuery = {0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00};

const FramerCase kCases[] = {
    {"ShortRespirationWaitsForTheGap", {{0, msg({0xEA, 0xFF, 0x01}, 19)}},
     {"respiration 19 @3 from 0"}},
    {"WaveformInformationInTwoPieces", {{0, msg({0xEA, 0xFF, 0x01}, 19)}, {2, Bytes(45, 0)}},
     {"waveform-info 64 @2 from 0"}},
    {"StopOutputWaitsForTheGap", {{0, {0xEA, 0xFF, 0x00, 0x00, 0x00}}},
     {"stop-output 5 @3 from 0"}},
    {"ControlSettingWithSwitchOff", {{0, msg({0xEA, 0xFF, 0x00, 0x00, 0x00}, 64)}},
     {"control-setting 64 @0"}},
    {"ControlSettingWithSwitchOn", {{0, {0xEA, 0xFF, 0x00, 0x00, 0x01}}, {30, Bytes(59, 0)}},
     {"control-setting 64 @30 from 0"}},
    {"InformationQueryToldByByteSeven", {{0, kInfoQuery}}, {"info-query 12 @0"}},
    {"InformationReadToldByByteSeven",
     {{0, msg({0x12, 0x55, 0xAA, 0, 0, 1, 0, 0x0C}, 12)}, {50, Bytes(52, 0)}},
     {"info-read 64 @50 from 0"}},
    {"FixedLengthMessagesBackToBack",
     {{0, kProbe}, {0, {0xAA, 0x03}}, {0, {0xCC, 0x00, 0x0D, 0x00, 0x00, 0x00}},
      {0, {0xCC, 0xFF, 0x0D, 0x00, 0x03, 0x07}}, {0, msg({0xCC, 0xFF, 0x07}, 64)},
      {0, msg({0xEA, 0xFF, 0x04}, 64)}, {0, {0xEA, 0xFF, 0x07, 0x00, 0x01}},
      {0, {0xEA, 0x00, 0x07, 0x00, 0x01, 0x00}}, {0, Bytes(64, 0)}, {0, kInfoQuery}},
     {"probe 3 @0", "hw-query 2 @0", "register-read 6 @0", "register-write 6 @0",
      "register-write 64 @0", "chunk 64 @0", "rom-save 5 @0", "rom-status 6 @0",
      "control-read 64 @0", "info-query 12 @0"}},
    {"TransferAssembledFromSeveralReads",
     {{0, {0x01, 0x01, 0x00, 0x00, 0x00, 0x0E}}, {5, Bytes(1100, 0)}, {10, Bytes(2094, 0)}},
     {"stream 3200 @10 from 0"}},
    {"MessageStraddlingTwoReadsDatesFromTheFirst",
     {{0, {0x55, 0x00, 0x00, 0xAA}}, {7, {0x03, 0x55, 0x00}}, {9, {0x00}}},
     {"probe 3 @0", "hw-query 2 @7 from 0", "probe 3 @9 from 7"}},
    {"JunkRunsToTheEndOfItsBurst", {{0, {0x99, 0x55, 0x00}}, {2, {0x00}}, {20, kProbe}},
     {"junk 4 @5 from 0", "probe 3 @20"}},
    {"ZeroBlockWithANonZeroByteIsJunk", {{0, Bytes(40, 0)}, {0, msg({1}, 24)}},
     {"junk 64 @3 from 0"}},
    {"BrokenOffMessageGoesStale", {{0, msg({0xEA, 0xFF, 0x04}, 30)}, {300, kProbe}},
     {"junk 30 @100 from 0", "probe 3 @300"}},
};

class Framer : public ::testing::TestWithParam<FramerCase> {};

// Runs the framer as the emulator's worker does: it wakes at the next feed or
// at the framer's own deadline and takes every message that is ready then. A
// deadline too early leaves the run stuck, one too late delays the message.
TEST_P(Framer, DelimitsAsDocumented) {
    const FramerCase& c = GetParam();
    hsimemu::Framer framer{milliseconds(3), milliseconds(100)};
    const auto t0 = hsimemu::Clock::now();
    std::vector<std::string> got;
    Bytes fed, delivered;
    size_t feed = 0;
    for (int wakes = 0; wakes < 100; ++wakes) {
        auto now = framer.deadline();
        if (feed < c.feeds.size()) now = std::min(now, t0 + milliseconds(c.feeds[feed].atMs));
        if (now == hsimemu::Clock::time_point::max()) break;
        for (; feed < c.feeds.size() && t0 + milliseconds(c.feeds[feed].atMs) <= now; ++feed) {
            const Bytes& b = c.feeds[feed].bytes;
            framer.feed(b.data(), b.size(), now);
            fed.insert(fed.end(), b.begin(), b.end());
        }
        for (hsimemu::Frame f; framer.next(now, f);) {
            auto ms = std::chrono::duration_cast<milliseconds>(now - t0).count();
            auto from = std::chrono::duration_cast<milliseconds>(f.firstByteAt - t0).count();
            got.push_back(std::string(hsimemu::kindName(f.kind)) + " " +
                          std::to_string(f.bytes.size()) + " @" + std::to_string(ms) +
                          (from == ms ? "" : " from " + std::to_string(from)));
            delivered.insert(delivered.end(), f.bytes.begin(), f.bytes.end());
        }
    }
    EXPECT_EQ(got, c.frames);
    EXPECT_EQ(delivered, fed);  // every byte once, in order
    EXPECT_TRUE(framer.idle());
}

INSTANTIATE_TEST_SUITE_P(Delimiting, Framer, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

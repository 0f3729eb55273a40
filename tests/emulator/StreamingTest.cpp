// Streaming: one data request per transfer, the sequence check, stop packets,
// transfers with the relays off and real-time play-out.
#include "EmuLine.h"

namespace emutest {
namespace {

constexpr int kStop = -1;     // a transfer of stop packets
constexpr int kRestart = -2;  // relays off and on again: a new run

struct Action {
    int what;               // first sequence number of a transfer, kStop or kRestart
    uint16_t nextExpected;  // the request's bytes 4-5 after a transfer
};
struct StreamCase {
    const char* name;
    std::vector<Action> actions;
    uint64_t sequenceErrors;
};
void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

const StreamCase kCases[] = {
    {"NumberedTransfers", {{0, 50}, {50, 100}}, 0},
    {"GapCountsOneError", {{0, 50}, {60, 110}, {110, 160}}, 1},
    {"NumbersWrapAt65536", {{0, 50}, {65500, 14}, {14, 64}}, 1},
    {"StopPacketsStandOutsideTheNumbering", {{0, 50}, {kStop, 50}, {50, 100}}, 0},
    {"RestartNumbersFromZero", {{0, 50}, {50, 100}, {kRestart, 0}, {0, 50}}, 0},
    {"RestartNotFromZeroIsAnError", {{0, 50}, {kRestart, 0}, {5, 55}}, 1},
};

class StreamRun : public EmuTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamRun, EachTransferIsAnsweredWithOneRequest) {
    startAndOpen();  // paced as fast as the host: played on arrival
    setRelays(1);
    EXPECT_TRUE(silentFor(100));  // the host sends the first transfer unasked
    std::vector<hsimemu::Sample> expected;
    uint64_t transfers = 0, stops = 0;
    for (const Action& a : GetParam().actions) {
        if (a.what == kRestart) {
            setRelays(8);
            setRelays(1);
            continue;
        }
        send(a.what == kStop ? stopTransfer() : transfer(static_cast<uint16_t>(a.what), 0));
        // Nothing queued, the next number expected, no underrun.
        EXPECT_EQ(readUpTo(64, 3000), msg({0x01, 0x55, 0, 0, static_cast<uint8_t>(a.nextExpected >> 8),
                                           static_cast<uint8_t>(a.nextExpected)}, 64));
        for (int k = 0; k < 700; ++k) {
            expected.push_back(a.what == kStop ? hsimemu::Sample{0x8000, 0}
                                               : hsimemu::Sample{static_cast<uint16_t>(k),
                                                                 static_cast<int16_t>(-k)});
        }
        ++transfers;
        stops += a.what == kStop;
    }
    EXPECT_TRUE(silentFor(50));  // never a second request
    auto stats = emu_->streamStats();
    EXPECT_EQ(stats.sequenceErrors, GetParam().sequenceErrors);
    EXPECT_EQ(stats.transfers, transfers);
    EXPECT_EQ(stats.stopTransfers, stops);
    EXPECT_EQ(stats.reportsSent, transfers);
    auto played = emu_->playedSamples();
    ASSERT_EQ(played.size(), expected.size());
    for (size_t i = 0; i < played.size(); ++i) {
        ASSERT_EQ(played[i].dc, expected[i].dc) << i;
        ASSERT_EQ(played[i].ac, expected[i].ac) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Streaming, StreamRun, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

uint16_t be16At(const Bytes& b, size_t i) { return static_cast<uint16_t>(b[i] << 8 | b[i + 1]); }

class Streaming : public EmuTest {};

TEST_F(Streaming, TransfersWithTheRelaysOffAreCheckedButNotPlayed) {
    startAndOpen();
    send(transfer(5, 0));  // the first transfer after the host opened must start at 0
    EXPECT_TRUE(silentFor(150));
    ASSERT_TRUE(emu_->waitForMessages(1, 2000, "stream"));
    auto stats = emu_->streamStats();
    EXPECT_EQ(stats.transfers, 1u);
    EXPECT_EQ(stats.sequenceErrors, 1u);
    EXPECT_EQ(stats.samples, 0u);
    EXPECT_EQ(stats.reportsSent, 0u);
}

TEST_F(Streaming, RealTimePlaysAtTheRateAndAsksBeforeRunningDry) {
    options_.pacing = hsimemu::Pacing::RealTime;
    startAndOpen();
    setRelays(1, 1000);  // 1000 samples per second: 700 ms per transfer
    auto start = SteadyClock::now();
    send(transfer(0, 0));
    for (int request = 0; request < 2; ++request) {
        // Each request comes while samples are still queued, before any underrun.
        Bytes r = readUpTo(64, 3000);
        ASSERT_EQ(r.size(), 64u);
        EXPECT_EQ(be16At(r, 0), 0x0155);
        EXPECT_GT(be16At(r, 2), 0);
        EXPECT_LT(be16At(r, 2), 700);
        EXPECT_EQ(be16At(r, 6), 0);
        if (request == 0) send(transfer(50, 700));  // the second is left unanswered
    }
    auto giveUp = SteadyClock::now() + std::chrono::seconds(10);
    while (emu_->streamStats().underruns == 0 && SteadyClock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto stats = emu_->streamStats();
    EXPECT_EQ(stats.underruns, 1u);
    EXPECT_EQ(stats.samples, 1400u);
    EXPECT_GE(elapsedMs(start), 1400);  // 1400 samples at 1000 per second
    auto played = emu_->playedSamples();
    ASSERT_EQ(played.size(), 1400u);
    EXPECT_EQ(played.back().dc, 1399);

    // The unanswered request is repeated after a second of silence.
    Bytes again = readUpTo(64, 5000);
    ASSERT_EQ(again.size(), 64u);
    EXPECT_EQ(be16At(again, 0), 0x0155);
    EXPECT_EQ(emu_->streamStats().repeatedReports, 1u);
}

}  // namespace
}  // namespace emutest

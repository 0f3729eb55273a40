// Streaming transfers, sequence checks, data requests and pacing.
#include "EmuLine.h"

namespace emutest {
namespace {

class Streaming : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        startAndOpen();
    }

    // Reads one data request; checks its fixed bytes and returns it.
    Bytes report(int timeoutMs = 3000) {
        Bytes r = readUpTo(64, timeoutMs);
        EXPECT_EQ(r.size(), 64u);
        if (r.size() == 64) {
            EXPECT_EQ(r[0], 0x01);
            EXPECT_EQ(r[1], 0x55);
        }
        return r;
    }

    static uint16_t nextExpected(const Bytes& r) { return static_cast<uint16_t>(r[4] << 8 | r[5]); }
};

TEST_F(Streaming, EachTransferIsAnsweredWithARequest) {
    setRelays(1);
    // Output on alone asks for nothing: the host pushes the first transfer.
    EXPECT_TRUE(silentFor(100));

    send(transfer(0, 0));
    Bytes r1 = report();
    EXPECT_EQ(nextExpected(r1), 50);
    send(transfer(50, 700));
    // Nothing queued (played on arrival), next number 100, no underrun.
    EXPECT_EQ(report(), msg({0x01, 0x55, 0x00, 0x00, 0x00, 100}, 64));

    auto stats = emu_->streamStats();
    EXPECT_EQ(stats.transfers, 2u);
    EXPECT_EQ(stats.sequenceErrors, 0u);
    EXPECT_EQ(stats.lastSequence, 99);
    EXPECT_EQ(stats.samples, 1400u);
    EXPECT_EQ(stats.reportsSent, 2u);
    EXPECT_EQ(stats.badPackets, 0u);
    EXPECT_EQ(emu_->received("stream").size(), 2u);

    // Played in order, words as sent.
    auto played = emu_->playedSamples();
    ASSERT_EQ(played.size(), 1400u);
    for (size_t k = 0; k < played.size(); ++k) {
        ASSERT_EQ(played[k].dc, k) << k;
        ASSERT_EQ(played[k].ac, -static_cast<int>(k)) << k;
    }
    EXPECT_EQ(emu_->playedSamples(10).front().dc, 1390);
}

TEST_F(Streaming, SequenceGapCountsOneError) {
    setRelays(1);
    send(transfer(0, 0));
    report();
    send(transfer(60, 0));  // packets 50..59 missing
    report();
    send(transfer(110, 0));
    report();
    auto stats = emu_->streamStats();
    EXPECT_EQ(stats.sequenceErrors, 1u);
    EXPECT_EQ(stats.lastSequence, 159);
}

TEST_F(Streaming, SequenceWrapsAt65536) {
    setRelays(1);
    send(transfer(0, 0));
    report();
    send(transfer(65500, 0));  // one jump: one error
    report();
    send(transfer(14, 0));     // 65500 + 50 = 65550 = 14 after the wrap
    Bytes r = report();
    EXPECT_EQ(nextExpected(r), 64);
    EXPECT_EQ(emu_->streamStats().sequenceErrors, 1u);
}

TEST_F(Streaming, OutputRestartNumbersFromZero) {
    setRelays(1);
    send(transfer(0, 0));
    report();
    send(transfer(50, 0));
    report();
    setRelays(8);
    EXPECT_TRUE(silentFor(100));  // relays off: no more requests
    setRelays(1);
    send(transfer(0, 0));
    report();
    EXPECT_EQ(emu_->streamStats().sequenceErrors, 0u);
    // A run that does not start at 0 is an error.
    setRelays(8);
    setRelays(1);
    send(transfer(5, 0));
    report();
    EXPECT_EQ(emu_->streamStats().sequenceErrors, 1u);
}

TEST_F(Streaming, TransfersWithRelaysOffAreNotPlayed) {
    send(transfer(0, 0));
    EXPECT_TRUE(silentFor(150));
    ASSERT_TRUE(emu_->waitForMessages(1, 2000, "stream"));
    auto stats = emu_->streamStats();
    EXPECT_EQ(stats.transfers, 1u);
    EXPECT_EQ(stats.samples, 0u);
    EXPECT_EQ(stats.reportsSent, 0u);
}

TEST_F(Streaming, StopPacketsPlayOutsideTheNumbering) {
    setRelays(1);
    send(transfer(0, 100));
    report();
    send(stopTransfer());
    report();
    send(transfer(50, 100));
    report();
    auto stats = emu_->streamStats();
    EXPECT_EQ(stats.sequenceErrors, 0u);
    EXPECT_EQ(stats.stopTransfers, 1u);
    EXPECT_EQ(stats.transfers, 3u);
    auto played = emu_->playedSamples();
    ASSERT_EQ(played.size(), 2100u);
    for (size_t k = 700; k < 1400; ++k) {
        ASSERT_EQ(played[k].dc, 0x8000) << k;
        ASSERT_EQ(played[k].ac, 0) << k;
    }
    EXPECT_EQ(played[1400].dc, 100);
}

TEST_F(Streaming, TransferAssembledFromSeveralWrites) {
    setRelays(1);
    Bytes t = transfer(0, 0);
    send(Bytes(t.begin(), t.begin() + 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    send(Bytes(t.begin() + 1000, t.begin() + 2100));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    send(Bytes(t.begin() + 2100, t.end()));
    report();
    auto streams = emu_->received("stream");
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].bytes, t);
    EXPECT_EQ(emu_->streamStats().samples, 700u);
}

TEST_F(Streaming, BadPacketHeadersAreCounted) {
    setRelays(1);
    Bytes t = transfer(0, 0);
    t[64 * 3 + 5] = 13;  // packet 3 claims 13 samples
    send(t);
    report();
    EXPECT_EQ(emu_->streamStats().badPackets, 1u);
}

class StreamingRealTime : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        options_.pacing = hsimemu::Pacing::RealTime;
        startAndOpen();
    }
};

TEST_F(StreamingRealTime, PlaysAtTheSampleRateAndAsksBeforeRunningDry) {
    // 1000 samples per second: each transfer is 700 ms of output, which is
    // also the time the test has to answer a request.
    setRelays(1, 1000);
    auto start = SteadyClock::now();
    send(transfer(0, 0));
    Bytes first = readUpTo(64, 3000);
    ASSERT_EQ(first.size(), 64u);
    ASSERT_EQ(first[1], 0x55);
    // The request comes while samples of the first transfer are still queued.
    auto stats = emu_->streamStats();
    EXPECT_LT(stats.samples, 700u);
    EXPECT_GT(stats.queued, 0u);
    send(transfer(50, 700));

    // The next request is left unanswered: the device plays what it has,
    // then runs dry.
    ASSERT_EQ(readUpTo(64, 3000).size(), 64u);
    auto giveUp = SteadyClock::now() + std::chrono::seconds(10);
    while (emu_->streamStats().underruns == 0 && SteadyClock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    int ms = elapsedMs(start);
    stats = emu_->streamStats();
    EXPECT_EQ(stats.underruns, 1u);
    EXPECT_EQ(stats.samples, 1400u);
    // 1400 samples at 1000 per second cannot take less than 1.4 s.
    EXPECT_GE(ms, 1350);
    EXPECT_LT(ms, 10000);
    auto played = emu_->playedSamples();
    ASSERT_EQ(played.size(), 1400u);
    EXPECT_EQ(played[1399].dc, 1399);

    // The unanswered request is repeated after a long silence.
    Bytes again = readUpTo(64, 5000);
    ASSERT_EQ(again.size(), 64u);
    EXPECT_EQ(again[1], 0x55);
    EXPECT_EQ(emu_->streamStats().repeatedReports, 1u);
}

TEST_F(StreamingRealTime, RelaysOffDiscardsTheQueue) {
    setRelays(1, 1000);  // 700 ms per transfer
    send(transfer(0, 0));
    ASSERT_EQ(readUpTo(64, 3000).size(), 64u);
    setRelays(8);
    auto stats = emu_->streamStats();
    EXPECT_FALSE(stats.outputOn);
    EXPECT_EQ(stats.queued, 0u);
    uint64_t played = stats.samples;
    EXPECT_LT(played, 700u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(emu_->streamStats().samples, played);
    EXPECT_EQ(emu_->streamStats().underruns, 0u);
}

}  // namespace
}  // namespace emutest

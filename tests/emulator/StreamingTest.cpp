// Streaming: one data request per transfer, the sequence check, stop packets,
// transfers with the relays off, real-time play-out, the request threshold
// and request latency.
#include "EmuLine.h"

namespace {

using namespace std::chrono_literals;

// A transfer: 50 packets 01 01 00 00 00 0E, sequence number, 14 samples of DC
// and AC words. Packets numbered from firstSeq, sample n carrying DC base + n
// and AC -(base + n); or stop packets: sequence FF 00, samples 80 00 00 00.
Bytes transfer(unsigned firstSeq, unsigned base, bool stop = false) {
    Bytes t(3200, 0);
    for (unsigned p = 0; p < 50; ++p) {
        t[64 * p] = t[64 * p + 1] = 0x01;
        t[64 * p + 5] = 0x0E;
        put16(t, 64 * p + 6, stop ? 0xFF00 : firstSeq + p);
        for (unsigned i = 0, k = base + 14 * p; i < 14; ++i, ++k) {
            put16(t, 64 * p + 8 + 4 * i, stop ? 0x8000 : k);
            put16(t, 64 * p + 10 + 4 * i, stop ? 0 : 0x10000 - k);
        }
    }
    return t;
}

constexpr int kStop = -1;    // a transfer of stop packets
constexpr int kRelays = -2;  // a control block write with the relay byte in value
constexpr unsigned kNoRequest = 0x10000;

// what: the transfer's first sequence number, kStop or kRelays; value: bytes
// 4-5 of the request that answers the transfer (the next number expected).
struct Action { int what; unsigned value; };
struct StreamCase { const char* name; std::vector<Action> actions; uint64_t sequenceErrors; };
void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

const StreamCase kCases[] = {
    {"GapCountsOneError", {{0, 50}, {60, 110}, {110, 160}}, 1},
    {"NumbersWrapAt65536", {{0, 50}, {65500, 14}, {14, 64}}, 1},
    {"StopPacketsStandOutsideTheNumbering", {{0, 50}, {kStop, 50}, {50, 100}}, 0},
    {"RestartNumbersFromZero", {{0, 50}, {50, 100}, {kRelays, 8}, {kRelays, 1}, {0, 50}}, 0},
    {"RestartNotFromZeroIsAnError", {{0, 50}, {kRelays, 8}, {kRelays, 1}, {5, 55}}, 1},
    // The first transfer after the host opened the port must start at 0.
    {"RelaysOffTransfersAreCheckedNotPlayed", {{kRelays, 8}, {5, kNoRequest}}, 1},
};

class StreamRun : public EmuTest, public ::testing::WithParamInterface<StreamCase> {};

// Paced as fast as the host, samples play as transfers arrive.
TEST_P(StreamRun, EachTransferIsAnsweredWithOneRequest) {
    setRelays(1);
    EXPECT_TRUE(silentFor(100));  // the host sends the first transfer unasked
    std::vector<std::pair<int, int>> want, got;
    size_t sent = 0;
    for (const Action& a : GetParam().actions) {
        if (a.what == kRelays) {
            setRelays(static_cast<uint8_t>(a.value));
            continue;
        }
        send(transfer(a.what, 0, a.what == kStop));
        ++sent;
        if (a.value == kNoRequest) continue;
        Bytes request = msg({0x01, 0x55}, 64);  // nothing queued, no underrun
        put16(request, 4, a.value);
        EXPECT_EQ(readUpTo(64, 3000), request);
        bool stop = a.what == kStop;
        for (int k = 0; k < 700; ++k) want.emplace_back(stop ? 0x8000 : k, stop ? 0 : -k);
    }
    ASSERT_TRUE(emu_->waitForMessages(sent, 2000, "stream"));
    EXPECT_TRUE(silentFor(150));  // no request beyond those expected
    for (const hsimemu::Sample& s : emu_->playedSamples()) got.emplace_back(s.dc, s.ac);
    EXPECT_EQ(got, want);
    auto stats = emu_->streamStats();
    EXPECT_EQ(stats.sequenceErrors, GetParam().sequenceErrors);
    EXPECT_EQ(stats.transfers, sent);  // counted, played or not
}

INSTANTIATE_TEST_SUITE_P(Streaming, StreamRun, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class Streaming : public EmuTest {};

TEST_F(Streaming, RealTimePlaysAtTheRateAndAsksBeforeRunningDry) {
    emu_->setPacing(hsimemu::Pacing::RealTime);
    setRelays(1, 1000);  // 1000 samples per second: 700 ms per transfer
    auto start = SteadyClock::now();
    for (unsigned first : {0u, 50u}) {
        send(transfer(first, 14 * first));
        // The request comes while samples are still queued, before any underrun.
        Bytes r = readUpTo(64, 3000);
        ASSERT_EQ(r.size(), 64u);
        EXPECT_TRUE(be16(r, 0) == 0x0155 && be16(r, 2) > 0 && be16(r, 2) < 700 && be16(r, 6) == 0)
            << "queued " << be16(r, 2) << ", underruns " << be16(r, 6);
    }
    // The second request is left unanswered: the output runs dry after 1400
    // samples, which take 1.4 s at the least.
    while (emu_->streamStats().underruns == 0 && SteadyClock::now() - start < 10s) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(SteadyClock::now() - start, 1400ms);
    auto stats = emu_->streamStats();
    EXPECT_EQ(stats.underruns, 1u);
    ASSERT_EQ(stats.samples, 1400u);
    EXPECT_EQ(emu_->playedSamples().back().dc, 1399);
    auto last = emu_->playedMillivolts(1, 2.0).back();  // DC 1399, AC -1399
    EXPECT_NEAR(last.dcMv, 1399 * 2000.0 / 65535 - 1000, 1e-9);
    EXPECT_NEAR(last.acMv, -1399 * 2.0 / 6400, 1e-12);
}

// With a threshold of two transfers the device asks while more than one
// transfer is still queued, and not before fewer than two are.
TEST_F(Streaming, AsksWhenTheQueueFallsBelowTheThreshold) {
    emu_->setPacing(hsimemu::Pacing::RealTime);
    emu_->setRequestThreshold(1400);
    setRelays(1, 2000);  // 350 ms per transfer
    for (unsigned first : {0u, 50u, 100u}) {
        send(transfer(first, 14 * first));
        Bytes r = readUpTo(64, 3000);
        ASSERT_EQ(r.size(), 64u);
        if (first > 0) {
            EXPECT_TRUE(be16(r, 2) >= 700 && be16(r, 2) < 1400) << "queued " << be16(r, 2);
        }
    }
    EXPECT_EQ(emu_->streamStats().underruns, 0u);
}

struct LatencyCase { const char* name; int answerAfterMs; unsigned rounds; bool repeated; };
void PrintTo(const LatencyCase& c, std::ostream* os) { *os << c.name; }
const LatencyCase kLatencyCases[] = {
    {"AnswerAfter5ms", 5, 20, false},
    // Asked again after 1 s of silence: the time still runs from the first request.
    {"AnswerAfterARepeatedRequest", 1300, 1, true},
};

class Latency : public EmuTest, public ::testing::WithParamInterface<LatencyCase> {};

TEST_P(Latency, RunsFromTheRequestToTheAnswersFirstByte) {
    const LatencyCase& c = GetParam();
    setRelays(1);
    send(transfer(0, 0));
    for (unsigned r = 1; r <= c.rounds; ++r) {
        ASSERT_EQ(readUpTo(64, 3000).size(), 64u);
        std::this_thread::sleep_for(std::chrono::milliseconds(c.answerAfterMs));
        send(transfer(50 * r, 0));
    }
    ASSERT_TRUE(emu_->waitForMessages(c.rounds + 1, 2000, "stream"));
    auto l = emu_->streamLatency();
    EXPECT_EQ(l.count, c.rounds);
    EXPECT_GE(l.minMs, c.answerAfterMs - 1);
    EXPECT_LE(l.p50Ms, c.answerAfterMs + 25);
    EXPECT_TRUE(l.minMs <= l.p50Ms && l.p50Ms <= l.p99Ms && l.p99Ms <= l.maxMs);
    EXPECT_EQ(emu_->streamStats().repeatedReports > 0, c.repeated);
    emu_->clearStreamStats();
    EXPECT_EQ(emu_->streamLatency().count, 0u);
    EXPECT_EQ(emu_->streamStats().transfers, 0u);
}

INSTANTIATE_TEST_SUITE_P(Streaming, Latency, ::testing::ValuesIn(kLatencyCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

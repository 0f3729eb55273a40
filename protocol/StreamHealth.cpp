#include "protocol/StreamHealth.h"

#include <algorithm>
#include <atomic>
#include <time.h>

namespace hsim {

namespace {

// Bins: 10 us wide up to 2 ms, 1 ms wide up to 102 ms, then one for the rest.
constexpr int kFineBins = 200;
constexpr int64_t kFineNs = 10000;
constexpr int kCoarseBins = 100;
constexpr int64_t kCoarseNs = 1000000;
constexpr int kBins = kFineBins + kCoarseBins + 1;
constexpr int64_t kFineLimitNs = kFineBins * kFineNs;

struct Counters {
    std::atomic<uint64_t> transfersSent{0};
    std::atomic<uint64_t> requestsAnswered{0};
    std::atomic<uint64_t> writeFailures{0};
    std::atomic<uint64_t> lateAnswers{0};
    std::atomic<uint64_t> windowWaits{0};
    std::atomic<uint64_t> windowTimeouts{0};
    std::atomic<int64_t> latencyMaxNs{0};
    std::atomic<int64_t> computeMaxNs{0};
    std::atomic<uint64_t> bins[kBins] = {};
};

Counters s_Counters;
std::atomic<int64_t> s_PendingRequestNs{0};
// When the last transfer of the running stream was written; 0 when none runs.
std::atomic<int64_t> s_LastTransferNs{0};
std::atomic<bool> s_Realtime{false};

int64_t NowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void RaiseMax(std::atomic<int64_t>& max, int64_t value)
{
    int64_t seen = max.load(std::memory_order_relaxed);
    while (value > seen && !max.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

int BinOf(int64_t ns)
{
    if (ns < kFineLimitNs)
        return int(ns / kFineNs);
    const int64_t coarse = (ns - kFineLimitNs) / kCoarseNs;
    return coarse < kCoarseBins ? kFineBins + int(coarse) : kBins - 1;
}

double UpperEdgeMs(int bin)
{
    if (bin < kFineBins)
        return double((bin + 1) * kFineNs) / 1e6;
    return double(kFineLimitNs + (bin - kFineBins + 1) * kCoarseNs) / 1e6;
}

void Add(std::atomic<uint64_t>& counter)
{
    counter.fetch_add(1, std::memory_order_relaxed);
}

void NoteAnswer(int64_t requestNs)
{
    Add(s_Counters.requestsAnswered);
    if (requestNs == 0)
        return;
    const int64_t latency = NowNs() - DeviceRequestTime(requestNs, s_LastTransferNs.load(std::memory_order_relaxed));
    Add(s_Counters.bins[BinOf(latency < 0 ? 0 : latency)]);
    RaiseMax(s_Counters.latencyMaxNs, latency);
    if (double(latency) / 1e6 > kLateAnswerMs)
        Add(s_Counters.lateAnswers);
}

}  // namespace

int64_t DeviceRequestTime(int64_t requestReadNs, int64_t previousTransferNs)
{
    if (previousTransferNs != 0 && requestReadNs - previousTransferNs > kTransferPlayNs)
        return previousTransferNs + kTransferPlayNs;
    return requestReadNs;
}

void NoteDataRequest()
{
    // The device has one request outstanding at a time: a request noted
    // again (kept by an exchange, then handed to the poll thread) keeps the
    // time it first arrived.
    int64_t none = 0;
    s_PendingRequestNs.compare_exchange_strong(none, NowNs(), std::memory_order_relaxed);
}

void ForgetDataRequest()
{
    s_PendingRequestNs.store(0, std::memory_order_relaxed);
}

void NoteControlAnswer()
{
    NoteAnswer(s_PendingRequestNs.exchange(0, std::memory_order_relaxed));
    s_LastTransferNs.store(0, std::memory_order_relaxed);
}

TransferTiming BeginTransfer()
{
    TransferTiming timing;
    timing.requestNs = s_PendingRequestNs.exchange(0, std::memory_order_relaxed);
    timing.startNs = NowNs();
    return timing;
}

void EndComputation(const TransferTiming& timing)
{
    RaiseMax(s_Counters.computeMaxNs, NowNs() - timing.startNs);
}

void TransferSent(const TransferTiming& timing, bool written)
{
    Add(written ? s_Counters.transfersSent : s_Counters.writeFailures);
    // The first transfer of a start answers no request.
    if (timing.requestNs != 0)
        NoteAnswer(timing.requestNs);
    s_LastTransferNs.store(NowNs(), std::memory_order_relaxed);
}

void NoteWindowWait(bool timedOut)
{
    Add(s_Counters.windowWaits);
    if (timedOut)
        Add(s_Counters.windowTimeouts);
}

void NoteRealtime(bool realtime)
{
    s_Realtime.store(realtime, std::memory_order_relaxed);
}

StreamHealthFigures ReadStreamHealth()
{
    const Counters& c = s_Counters;
    StreamHealthFigures f;
    f.transfersSent = c.transfersSent.load(std::memory_order_relaxed);
    f.requestsAnswered = c.requestsAnswered.load(std::memory_order_relaxed);
    f.writeFailures = c.writeFailures.load(std::memory_order_relaxed);
    f.lateAnswers = c.lateAnswers.load(std::memory_order_relaxed);
    f.windowWaits = c.windowWaits.load(std::memory_order_relaxed);
    f.windowTimeouts = c.windowTimeouts.load(std::memory_order_relaxed);
    f.latencyMaxMs = double(c.latencyMaxNs.load(std::memory_order_relaxed)) / 1e6;
    f.computeMaxMs = double(c.computeMaxNs.load(std::memory_order_relaxed)) / 1e6;
    f.realtime = s_Realtime.load(std::memory_order_relaxed);
    uint64_t counts[kBins];
    uint64_t total = 0;
    for (int i = 0; i < kBins; ++i) {
        counts[i] = c.bins[i].load(std::memory_order_relaxed);
        total += counts[i];
    }
    f.latencySamples = total;
    if (total > 0) {
        // The smallest bin at or below which the share of answers is reached.
        const uint64_t p50 = (total + 1) / 2;
        const uint64_t p99 = total - total / 100;
        uint64_t seen = 0;
        bool have50 = false;
        for (int i = 0; i < kBins; ++i) {
            seen += counts[i];
            if (!have50 && seen >= p50) {
                f.latencyP50Ms = UpperEdgeMs(i);
                have50 = true;
            }
            if (seen >= p99) {
                f.latencyP99Ms = UpperEdgeMs(i);
                break;
            }
        }
        // A bin's upper edge may lie above every answer in it: no share of
        // the answers is reported above the slowest one.
        f.latencyP50Ms = std::min(f.latencyP50Ms, f.latencyMaxMs);
        f.latencyP99Ms = std::min(f.latencyP99Ms, f.latencyMaxMs);
    }
    return f;
}

void ResetStreamHealth()
{
    Counters& c = s_Counters;
    for (auto* counter : {&c.transfersSent, &c.requestsAnswered, &c.writeFailures, &c.lateAnswers,
                          &c.windowWaits, &c.windowTimeouts})
        counter->store(0, std::memory_order_relaxed);
    c.latencyMaxNs.store(0, std::memory_order_relaxed);
    c.computeMaxNs.store(0, std::memory_order_relaxed);
    for (auto& bin : c.bins)
        bin.store(0, std::memory_order_relaxed);
}

}  // namespace hsim

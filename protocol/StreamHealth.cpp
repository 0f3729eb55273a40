#include "protocol/StreamHealth.h"

#include "protocol/LinkContext.h"

#include <algorithm>
#include <atomic>
#include <time.h>

namespace hsim {

namespace {

constexpr int kBins = kLatencyBins;
constexpr int64_t kFineLimitNs = kFineBins * kFineNs;

StreamCounters& Counters()
{
    return CurrentLink().health;
}

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

void NoteAnswer(StreamCounters& c, int64_t requestNs)
{
    Add(c.requestsAnswered);
    if (requestNs == 0)
        return;
    const int64_t latency = NowNs() - DeviceRequestTime(requestNs, c.lastTransferNs.load(std::memory_order_relaxed));
    Add(c.bins[BinOf(latency < 0 ? 0 : latency)]);
    RaiseMax(c.latencyMaxNs, latency);
    if (double(latency) / 1e6 > kLateAnswerMs)
        Add(c.lateAnswers);
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
    Counters().pendingRequestNs.compare_exchange_strong(none, NowNs(), std::memory_order_relaxed);
}

void ForgetDataRequest()
{
    Counters().pendingRequestNs.store(0, std::memory_order_relaxed);
}

void NoteControlAnswer()
{
    StreamCounters& c = Counters();
    NoteAnswer(c, c.pendingRequestNs.exchange(0, std::memory_order_relaxed));
    c.lastTransferNs.store(0, std::memory_order_relaxed);
}

TransferTiming BeginTransfer()
{
    TransferTiming timing;
    timing.requestNs = Counters().pendingRequestNs.exchange(0, std::memory_order_relaxed);
    timing.startNs = NowNs();
    return timing;
}

void EndComputation(const TransferTiming& timing)
{
    RaiseMax(Counters().computeMaxNs, NowNs() - timing.startNs);
}

void TransferSent(const TransferTiming& timing, bool written)
{
    StreamCounters& c = Counters();
    Add(written ? c.transfersSent : c.writeFailures);
    // The first transfer of a start answers no request.
    if (timing.requestNs != 0)
        NoteAnswer(c, timing.requestNs);
    c.lastTransferNs.store(NowNs(), std::memory_order_relaxed);
}

void NoteWindowWait(bool timedOut)
{
    StreamCounters& c = Counters();
    Add(c.windowWaits);
    if (timedOut)
        Add(c.windowTimeouts);
}

void NoteRealtime(bool realtime)
{
    Counters().realtime.store(realtime, std::memory_order_relaxed);
}

StreamHealthFigures ReadStreamHealth()
{
    const StreamCounters& c = Counters();
    StreamHealthFigures f;
    f.transfersSent = c.transfersSent.load(std::memory_order_relaxed);
    f.requestsAnswered = c.requestsAnswered.load(std::memory_order_relaxed);
    f.writeFailures = c.writeFailures.load(std::memory_order_relaxed);
    f.lateAnswers = c.lateAnswers.load(std::memory_order_relaxed);
    f.windowWaits = c.windowWaits.load(std::memory_order_relaxed);
    f.windowTimeouts = c.windowTimeouts.load(std::memory_order_relaxed);
    f.latencyMaxMs = double(c.latencyMaxNs.load(std::memory_order_relaxed)) / 1e6;
    f.computeMaxMs = double(c.computeMaxNs.load(std::memory_order_relaxed)) / 1e6;
    f.realtime = c.realtime.load(std::memory_order_relaxed);
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
    StreamCounters& c = Counters();
    for (auto* counter : {&c.transfersSent, &c.requestsAnswered, &c.writeFailures, &c.lateAnswers,
                          &c.windowWaits, &c.windowTimeouts})
        counter->store(0, std::memory_order_relaxed);
    c.latencyMaxNs.store(0, std::memory_order_relaxed);
    c.computeMaxNs.store(0, std::memory_order_relaxed);
    for (auto& bin : c.bins)
        bin.store(0, std::memory_order_relaxed);
}

}  // namespace hsim

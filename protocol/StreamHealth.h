// How well the stream keeps up, the way audio servers report xruns: counters
// since the connection (or the last reset) of the transfers sent, the data
// requests answered, failed writes, late answers and command-window waits,
// and the time from a data request to its answer in a fixed histogram.
// Everything is kept in relaxed atomics: the poll thread records without
// allocating and without a lock, any thread may read.
#pragma once

#include <atomic>
#include <cstdint>

namespace hsim {

// Histogram bins: 10 us wide up to 2 ms, 1 ms wide up to 102 ms, then one
// for the rest.
constexpr int kFineBins = 200;
constexpr int64_t kFineNs = 10000;
constexpr int kCoarseBins = 100;
constexpr int64_t kCoarseNs = 1000000;
constexpr int kLatencyBins = kFineBins + kCoarseBins + 1;

// One simulator's counters (kept in its context).
struct StreamCounters {
    std::atomic<uint64_t> transfersSent{0};
    std::atomic<uint64_t> requestsAnswered{0};
    std::atomic<uint64_t> writeFailures{0};
    std::atomic<uint64_t> lateAnswers{0};
    std::atomic<uint64_t> windowWaits{0};
    std::atomic<uint64_t> windowTimeouts{0};
    std::atomic<int64_t> latencyMaxNs{0};
    std::atomic<int64_t> computeMaxNs{0};
    std::atomic<uint64_t> bins[kLatencyBins] = {};
    // When the pending data request was read; 0 when none is.
    std::atomic<int64_t> pendingRequestNs{0};
    // When the last transfer of the running stream was written; 0 when none runs.
    std::atomic<int64_t> lastTransferNs{0};
    std::atomic<bool> realtime{false};
};

// An answer later than this eats into the device's slack of one transfer.
constexpr double kLateAnswerMs = 5.0;
// The time one transfer plays (700 samples at 40000 per second), in ns.
constexpr int64_t kTransferPlayNs = 17500000;

// When the device asked for the data that an answer gives, as far as the host
// can tell: when the request was read, but no later than one transfer's
// playing time after the previous transfer was written (0: none in this
// run). The device asks before it has played the transfer it has, so a
// request read later than that waited unread (a poll thread that was not
// running yet, or held up), and the wait counts.
int64_t DeviceRequestTime(int64_t requestReadNs, int64_t previousTransferNs);

struct StreamHealthFigures {
    uint64_t transfersSent = 0;     // transfers written whole
    uint64_t requestsAnswered = 0;  // data requests answered (samples or control block)
    uint64_t writeFailures = 0;     // transfers not written whole
    uint64_t lateAnswers = 0;       // answers later than kLateAnswerMs after the request
    uint64_t windowWaits = 0;       // command-window waits while streaming
    uint64_t windowTimeouts = 0;    // of those, the ones that timed out
    uint64_t latencySamples = 0;    // answers measured in the histogram
    double latencyP50Ms = 0.0;      // request to answer, upper bin edges
    double latencyP99Ms = 0.0;
    double latencyMaxMs = 0.0;      // exact
    double computeMaxMs = 0.0;      // longest computation of one transfer, callbacks included
    bool realtime = false;          // the poll thread runs with real-time scheduling
};

// One transfer's time stamps, in ns on the monotonic clock (0 = none).
struct TransferTiming {
    int64_t requestNs = 0;  // the data request it answers arrived
    int64_t startNs = 0;    // computation began
};

// A data request has arrived (noted once, however often it is handed on).
void NoteDataRequest();
// A start begins a new run: a request left from before it is forgotten.
void ForgetDataRequest();
// Poll thread: the request just noted was answered with a control block, which
// ends the run.
void NoteControlAnswer();
// Around the computation and the write of a transfer.
TransferTiming BeginTransfer();
void EndComputation(const TransferTiming& timing);
void TransferSent(const TransferTiming& timing, bool written);
// A command-window wait while streaming, and whether it timed out.
void NoteWindowWait(bool timedOut);
void NoteRealtime(bool realtime);

StreamHealthFigures ReadStreamHealth();
// Zeroes the counters and the histogram (the real-time flag stays).
void ResetStreamHealth();

}  // namespace hsim

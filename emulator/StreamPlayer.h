// Device side of streaming: decodes the host's 3200-byte transfers, checks
// their sequence numbers, plays the samples at the output sample rate and
// decides when to ask the host for the next transfer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "Emulator.h"
#include "Framer.h"
#include "LatencyHistogram.h"

namespace hsimemu {

class StreamPlayer {
public:
    static constexpr size_t kPlayedCapacity = 400000;  // 10 s at 40000 samples/s
    static constexpr size_t kQueueCapacity = 400000;   // play-out queue bound
    static constexpr std::chrono::milliseconds kTick{2};
    static constexpr std::chrono::milliseconds kRepeatAfter{1000};
    static constexpr unsigned kDefaultRate = 40000;

    StreamPlayer();

    // Power-on state; the played record is kept.
    void reset();
    void setPacing(Pacing pacing, Clock::time_point now);
    Pacing pacing() const { return pacing_; }
    // Output relay on or off (control block byte 2 == 1).
    void setOutput(bool on, Clock::time_point now);
    bool outputOn() const { return on_; }
    // Output sample rate from the control block; 0 plays at the default rate.
    void setRate(unsigned rate, Clock::time_point now);
    // Real-time pacing: ask when fewer than this many samples are queued.
    void setRequestThreshold(size_t samples);
    // A host opened the port / the last host closed it.
    void hostArrived();
    void hostGone();

    // One complete 3200-byte transfer.
    void onTransfer(const uint8_t* data, Clock::time_point now);
    // Plays the samples due at now (real-time pacing).
    void advance(Clock::time_point now);

    // Whether a data request should be sent now. lastHostByte is when the host
    // last sent anything (a repeated request needs a long silence).
    bool reportDue(Clock::time_point now, Clock::time_point lastHostByte) const;
    // Builds the request and records it as sent.
    std::array<uint8_t, 64> takeReport(Clock::time_point now);
    // A request left the device (written to the line) at `at`.
    void requestWritten(Clock::time_point at);
    // A transfer whose first byte arrived at `firstByte` is being delivered:
    // it answers the request being timed, if any.
    void answerArriving(Clock::time_point firstByte);
    // Next time the player needs to run without new input.
    Clock::time_point nextWake(Clock::time_point now, Clock::time_point lastHostByte) const;

    StreamStats stats() const;
    LatencyStats latency() const { return latency_.stats(); }
    // Zeroes the statistics and the latency histogram.
    void clearStats();
    std::vector<Sample> played(size_t max) const;
    void clearPlayed();

private:
    void play(size_t count);
    unsigned effectiveRate() const { return rate_ == 0 ? kDefaultRate : rate_; }

    Pacing pacing_ = Pacing::RealTime;
    bool on_ = false;
    unsigned rate_ = kDefaultRate;

    // Sequence check.
    uint16_t expected_ = 0;

    // Session: output on and at least one transfer received since; only
    // then does the device ask for data.
    bool session_ = false;
    bool outstanding_ = false;  // a request was sent and no transfer came yet
    Clock::time_point lastReport_{};
    size_t threshold_ = wire::kSamplesPerTransfer;

    // Latency: when the first written request of the outstanding one left.
    bool timing_ = false;
    Clock::time_point requestAt_{};
    LatencyHistogram latency_;

    // Real-time play-out.
    std::deque<Sample> queue_;
    bool playing_ = false;      // clock running
    Clock::time_point clockStart_{};
    uint64_t clockPlayed_ = 0;  // samples played since clockStart_

    std::vector<Sample> played_;  // ring
    size_t playedHead_ = 0;       // next write position once full

    StreamStats stats_;
};

}  // namespace hsimemu

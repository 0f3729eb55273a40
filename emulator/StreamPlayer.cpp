#include "StreamPlayer.h"

#include <algorithm>

#include "Wire.h"

namespace hsimemu {

StreamPlayer::StreamPlayer() { played_.reserve(1024); }

void StreamPlayer::reset() {
    on_ = false;
    rate_ = kDefaultRate;
    expected_ = 0;
    session_ = false;
    outstanding_ = false;
    timing_ = false;
    queue_.clear();
    playing_ = false;
    clockPlayed_ = 0;
}

void StreamPlayer::setRequestThreshold(size_t samples) {
    threshold_ = std::max<size_t>(1, samples);
}

void StreamPlayer::setPacing(Pacing pacing, Clock::time_point now) {
    if (pacing == pacing_) return;
    advance(now);
    pacing_ = pacing;
    if (pacing_ == Pacing::AsFastAsHost) {
        play(queue_.size());
        playing_ = false;
    } else if (on_ && !queue_.empty()) {
        playing_ = true;
        clockStart_ = now;
        clockPlayed_ = 0;
    }
}

void StreamPlayer::setOutput(bool on, Clock::time_point now) {
    if (on == on_) return;
    advance(now);
    on_ = on;
    // Either way a new run begins: unplayed samples are discarded, the device
    // waits for the host's first transfer before it asks for more, and that
    // first transfer numbers its packets from 0 again.
    queue_.clear();
    playing_ = false;
    session_ = false;
    outstanding_ = false;
    timing_ = false;
    if (on) expected_ = 0;
}

void StreamPlayer::setRate(unsigned rate, Clock::time_point now) {
    if (rate == rate_) return;
    advance(now);
    rate_ = rate;
    if (playing_) {
        clockStart_ = now;
        clockPlayed_ = 0;
    }
}

void StreamPlayer::hostArrived() {
    expected_ = 0;
    session_ = false;
    outstanding_ = false;
    timing_ = false;
}

void StreamPlayer::hostGone() {
    session_ = false;
    outstanding_ = false;
    timing_ = false;
}

void StreamPlayer::onTransfer(const uint8_t* data, Clock::time_point now) {
    advance(now);
    ++stats_.transfers;

    bool stopTransfer = true;
    for (size_t p = 0; p < wire::kPacketsPerTransfer; ++p) {
        if (wire::be16(data + p * wire::kPacketLen + 6) != wire::kStopSequence) stopTransfer = false;
    }
    if (stopTransfer) ++stats_.stopTransfers;

    static const uint8_t kHeader[6] = {0x01, 0x01, 0x00, 0x00, 0x00, 0x0E};
    for (size_t p = 0; p < wire::kPacketsPerTransfer; ++p) {
        const uint8_t* packet = data + p * wire::kPacketLen;
        if (!std::equal(kHeader, kHeader + 6, packet)) ++stats_.badPackets;
        if (!stopTransfer) {
            // A stop-packet transfer stands outside the numbering.
            uint16_t seq = wire::be16(packet + 6);
            if (seq != expected_) ++stats_.sequenceErrors;
            expected_ = static_cast<uint16_t>(seq + 1);
            stats_.lastSequence = seq;
        }
    }
    outstanding_ = false;
    if (!on_) return;  // relays off: nothing is played
    session_ = true;

    for (size_t p = 0; p < wire::kPacketsPerTransfer; ++p) {
        const uint8_t* packet = data + p * wire::kPacketLen;
        for (size_t i = 0; i < wire::kSamplesPerPacket; ++i) {
            if (queue_.size() >= kQueueCapacity) {
                ++stats_.overruns;
                continue;
            }
            const uint8_t* s = packet + 8 + 4 * i;
            queue_.push_back(Sample{wire::be16(s), static_cast<int16_t>(wire::be16(s + 2))});
        }
    }
    if (pacing_ == Pacing::AsFastAsHost) {
        play(queue_.size());
    } else if (!playing_) {
        playing_ = true;
        clockStart_ = now;
        clockPlayed_ = 0;
    }
}

void StreamPlayer::play(size_t count) {
    for (size_t i = 0; i < count && !queue_.empty(); ++i) {
        Sample s = queue_.front();
        queue_.pop_front();
        if (played_.size() < kPlayedCapacity) {
            played_.push_back(s);
        } else {
            played_[playedHead_] = s;
            playedHead_ = (playedHead_ + 1) % kPlayedCapacity;
        }
        ++stats_.samples;
    }
}

void StreamPlayer::advance(Clock::time_point now) {
    if (!on_ || pacing_ != Pacing::RealTime || !playing_ || now <= clockStart_) return;
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - clockStart_).count();
    // Samples due since the clock started: elapsed * rate / 1e9 (fits 64 bits
    // for days of play at any 16-bit rate).
    uint64_t due = static_cast<uint64_t>(elapsed) * effectiveRate() / 1000000000ULL;
    if (due <= clockPlayed_) return;
    uint64_t wanted = due - clockPlayed_;
    size_t available = queue_.size();
    size_t take = static_cast<size_t>(std::min<uint64_t>(wanted, available));
    play(take);
    clockPlayed_ += take;
    if (wanted > available) {
        // A sample was due and none was queued: the output ran dry. The clock
        // stops and starts again with the next transfer.
        ++stats_.underruns;
        playing_ = false;
    }
}

bool StreamPlayer::reportDue(Clock::time_point now, Clock::time_point lastHostByte) const {
    bool due = false;
    if (on_ && session_) {
        if (!outstanding_) {
            due = pacing_ == Pacing::AsFastAsHost || queue_.size() < threshold_;
        } else {
            // The request seems lost: ask again after a long silence.
            due = now - lastHostByte >= kRepeatAfter && now - lastReport_ >= kRepeatAfter;
        }
    }
    return due;
}

std::array<uint8_t, 64> StreamPlayer::takeReport(Clock::time_point now) {
    std::array<uint8_t, 64> report{};
    report[0] = 0x01;
    report[1] = 0x55;
    wire::putBe16(&report[2], static_cast<unsigned>(std::min<size_t>(queue_.size(), 0xFFFF)));
    wire::putBe16(&report[4], expected_);
    wire::putBe16(&report[6], static_cast<unsigned>(stats_.underruns & 0xFFFF));
    if (outstanding_) ++stats_.repeatedReports;
    outstanding_ = true;
    lastReport_ = now;
    ++stats_.reportsSent;
    return report;
}

void StreamPlayer::requestWritten(Clock::time_point at) {
    // A repeat of a request still unanswered leaves the measurement running.
    if (outstanding_ && !timing_) {
        timing_ = true;
        requestAt_ = at;
    }
}

void StreamPlayer::answerArriving(Clock::time_point firstByte) {
    // A transfer that started before the request left was not sent in answer.
    if (timing_ && firstByte >= requestAt_) latency_.add(firstByte - requestAt_);
    timing_ = false;
}

Clock::time_point StreamPlayer::nextWake(Clock::time_point now,
                                         Clock::time_point lastHostByte) const {
    Clock::time_point when = Clock::time_point::max();
    if (on_) {
        if (pacing_ == Pacing::RealTime && playing_) when = now + kTick;
        if (session_ && outstanding_) {
            when = std::min(when, std::max(lastHostByte, lastReport_) + kRepeatAfter);
        }
    }
    return when;
}

StreamStats StreamPlayer::stats() const {
    StreamStats s = stats_;
    s.queued = queue_.size();
    s.outputOn = on_;
    return s;
}

std::vector<Sample> StreamPlayer::played(size_t max) const {
    size_t count = std::min(max, played_.size());
    std::vector<Sample> out;
    out.reserve(count);
    // Oldest first: once the ring is full the oldest sample is at playedHead_.
    size_t start = played_.size() < kPlayedCapacity ? 0 : playedHead_;
    size_t skip = played_.size() - count;
    for (size_t i = 0; i < count; ++i) {
        out.push_back(played_[(start + skip + i) % played_.size()]);
    }
    return out;
}

void StreamPlayer::clearStats() {
    stats_ = StreamStats{};
    latency_.clear();
}

void StreamPlayer::clearPlayed() {
    played_.clear();
    playedHead_ = 0;
}

}  // namespace hsimemu

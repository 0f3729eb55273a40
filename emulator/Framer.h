// Splits the byte stream that arrives from the host into messages.
//
// A real device sees every host write as USB packets; on a pseudo terminal
// those boundaries are gone. The host writes one message per write and waits
// for the answer, so a message is what arrives in one burst. The framer
// recognises each message by its first bytes: most have one fixed length and
// are complete as soon as that length is in. Two prefixes are shared by a
// short and a long message (EA FF 01: 19 or 64 bytes; EA FF 00 00 00: 5 or
// 64 bytes); for them it waits until either the long length has arrived or
// the line has been quiet for `gap`, then takes the longest length that the
// buffered bytes fill. Bytes that start no known message are junk: they and
// everything else that arrives until the line has been quiet for `gap` form
// one junk entry. A message left incomplete for `stale` (a host write that
// broke off) is dropped as junk too, so the next message starts clean.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "Wire.h"

namespace hsimemu {

using Clock = std::chrono::steady_clock;

// What the first bytes of a buffered message tell.
struct Shape {
    enum Type { NeedMore, Fixed, Ambiguous, Invalid };
    Type type = NeedMore;
    size_t length = 0;       // Fixed: the length; Ambiguous: the short length
    Kind kind = Kind::Junk;  // Fixed: the kind; Ambiguous: the short kind
    size_t longLength = 0;   // Ambiguous only
    Kind longKind = Kind::Junk;
};

// Classifies the start of a message (n >= 1 bytes available).
Shape classify(const uint8_t* bytes, size_t n);

struct Frame {
    Kind kind = Kind::Junk;
    std::vector<uint8_t> bytes;
    Clock::time_point firstByteAt{};  // when the message's first byte was fed
};

class Framer {
public:
    Framer(std::chrono::milliseconds gap, std::chrono::milliseconds stale);

    void feed(const uint8_t* bytes, size_t n, Clock::time_point now);
    // Takes the next delimited message; false when none is complete at now.
    bool next(Clock::time_point now, Frame& out);
    // Earliest time at which next() can deliver without more input
    // (time_point::max() when nothing is pending).
    Clock::time_point deadline() const;
    // True when no message is being assembled.
    bool idle() const { return buffer_.empty() && !inJunk_; }
    Clock::time_point lastByteAt() const { return lastByte_; }
    // Gives up whatever is buffered as one junk frame; false when idle.
    bool flush(Frame& out);
    void reset();

private:
    bool takeFront(size_t length, Kind kind, Frame& out);
    // Hands the whole buffer over as junk.
    void takeAllAsJunk(Frame& out);

    std::chrono::milliseconds gap_;
    std::chrono::milliseconds stale_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> junk_;
    // When each feed still in buffer_ arrived: the buffer offset just past
    // its last byte, and the time. The front entry dates the first byte.
    struct FeedMark {
        size_t end;
        Clock::time_point at;
    };
    std::deque<FeedMark> marks_;
    Clock::time_point junkStart_{};
    bool inJunk_ = false;
    Clock::time_point lastByte_{};
};

}  // namespace hsimemu

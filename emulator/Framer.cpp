#include "Framer.h"

#include <algorithm>

namespace hsimemu {

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Probe: return "probe";
    case Kind::InfoQuery: return "info-query";
    case Kind::HwQuery: return "hw-query";
    case Kind::InfoRead: return "info-read";
    case Kind::InfoWrite: return "info-write";
    case Kind::ControlRead: return "control-read";
    case Kind::ControlWrite: return "control-write";
    case Kind::RegisterWrite: return "register-write";
    case Kind::RegisterRead: return "register-read";
    case Kind::Respiration: return "respiration";
    case Kind::ControlSetting: return "control-setting";
    case Kind::StopOutput: return "stop-output";
    case Kind::WaveformInfo: return "waveform-info";
    case Kind::Chunk: return "chunk";
    case Kind::RomSave: return "rom-save";
    case Kind::RomStatus: return "rom-status";
    case Kind::Stream: return "stream";
    case Kind::Junk: return "junk";
    }
    return "junk";
}

namespace {

enum class Match { No, Partial, Yes };

// Compares the available bytes with a fixed prefix.
Match matchPrefix(const uint8_t* b, size_t n, std::initializer_list<uint8_t> prefix) {
    size_t i = 0;
    for (uint8_t expected : prefix) {
        if (i >= n) return Match::Partial;
        if (b[i] != expected) return Match::No;
        ++i;
    }
    return Match::Yes;
}

Shape fixed(size_t length, Kind kind) {
    Shape s;
    s.type = Shape::Fixed;
    s.length = length;
    s.kind = kind;
    return s;
}

Shape ambiguous(size_t shortLength, Kind shortKind, size_t longLength, Kind longKind) {
    Shape s;
    s.type = Shape::Ambiguous;
    s.length = shortLength;
    s.kind = shortKind;
    s.longLength = longLength;
    s.longKind = longKind;
    return s;
}

Shape needMore() { return Shape{}; }

Shape invalid() {
    Shape s;
    s.type = Shape::Invalid;
    return s;
}

// Turns a prefix comparison into a shape: the message when it matched.
Shape byPrefix(Match m, const Shape& onMatch) {
    if (m == Match::Yes) return onMatch;
    return m == Match::Partial ? needMore() : invalid();
}

Shape classifyInfo(const uint8_t* b, size_t n) {
    // 0x12 0x55 0xAA, then byte 3: 0xFF = write-back, 0x00 = query or read;
    // byte 7 tells the 12-byte query (0x20) from the 64-byte read.
    Match m = matchPrefix(b, n, {0x12, 0x55, 0xAA});
    if (m != Match::Yes) return byPrefix(m, Shape{});
    if (n < 4) return needMore();
    if (b[3] == 0xFF) return fixed(wire::kBlockLen, Kind::InfoWrite);
    if (b[3] != 0x00) return invalid();
    if (n < 8) return needMore();
    if (b[7] == 0x20) return fixed(wire::kInfoQueryLen, Kind::InfoQuery);
    return fixed(wire::kBlockLen, Kind::InfoRead);
}

Shape classifyRegister(const uint8_t* b, size_t n) {
    if (n < 2) return needMore();
    if (b[1] == 0x00) return fixed(wire::kRegisterReadLen, Kind::RegisterRead);
    if (b[1] != 0xFF) return invalid();
    if (n < 3) return needMore();
    if (b[2] == wire::kRegChannels) return fixed(wire::kRegister0DLen, Kind::RegisterWrite);
    return fixed(wire::kBlockLen, Kind::RegisterWrite);
}

Shape classifyEA(const uint8_t* b, size_t n) {
    if (n < 3) return needMore();
    if (b[1] == 0x00) {
        return b[2] == 0x07 ? fixed(wire::kRomStatusLen, Kind::RomStatus) : invalid();
    }
    if (b[1] != 0xFF) return invalid();
    switch (b[2]) {
    case 0x00:
        // Stop output is EA FF 00 00 00; the control setting shares those
        // bytes when its output switch (byte 4) is 0.
        if (n < 5) return needMore();
        if (b[3] == 0 && b[4] == 0) {
            return ambiguous(wire::kStopOutputLen, Kind::StopOutput, wire::kBlockLen,
                             Kind::ControlSetting);
        }
        return fixed(wire::kBlockLen, Kind::ControlSetting);
    case 0x01:
        return ambiguous(wire::kRespirationLen, Kind::Respiration, wire::kBlockLen,
                         Kind::WaveformInfo);
    case 0x04: return fixed(wire::kBlockLen, Kind::Chunk);
    case 0x07: return fixed(wire::kRomSaveLen, Kind::RomSave);
    default: return invalid();
    }
}

Shape classifyControlRead(const uint8_t* b, size_t n) {
    size_t upto = std::min(n, wire::kBlockLen);
    for (size_t i = 0; i < upto; ++i) {
        if (b[i] != 0) return invalid();
    }
    return fixed(wire::kBlockLen, Kind::ControlRead);
}

}  // namespace

Shape classify(const uint8_t* b, size_t n) {
    if (n == 0) return needMore();
    switch (b[0]) {
    case 0x00: return classifyControlRead(b, n);
    case 0x01:
        return byPrefix(matchPrefix(b, n, {0x01, 0x01, 0x00, 0x00, 0x00, 0x0E}),
                        fixed(wire::kTransferLen, Kind::Stream));
    case 0x12: return classifyInfo(b, n);
    case 0x55:
        return byPrefix(matchPrefix(b, n, {0x55, 0x00, 0x00}), fixed(wire::kProbeLen, Kind::Probe));
    case 0xAA:
        return byPrefix(matchPrefix(b, n, {0xAA, 0x03}), fixed(wire::kHwQueryLen, Kind::HwQuery));
    case 0xCC: return classifyRegister(b, n);
    case 0xEA: return classifyEA(b, n);
    case wire::kControlBlockTag:
        return byPrefix(matchPrefix(b, n, {wire::kControlBlockTag, 0xFF}),
                        fixed(wire::kBlockLen, Kind::ControlWrite));
    default: return invalid();
    }
}

Framer::Framer(std::chrono::milliseconds gap, std::chrono::milliseconds stale)
    : gap_(gap), stale_(stale) {}

void Framer::feed(const uint8_t* bytes, size_t n, Clock::time_point now) {
    if (n == 0) return;
    if (inJunk_) {
        junk_.insert(junk_.end(), bytes, bytes + n);
    } else {
        buffer_.insert(buffer_.end(), bytes, bytes + n);
        marks_.push_back(FeedMark{buffer_.size(), now});
    }
    lastByte_ = now;
}

bool Framer::takeFront(size_t length, Kind kind, Frame& out) {
    out.kind = kind;
    out.firstByteAt = marks_.empty() ? lastByte_ : marks_.front().at;
    out.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
    while (!marks_.empty() && marks_.front().end <= length) marks_.pop_front();
    for (FeedMark& m : marks_) m.end -= length;
    return true;
}

void Framer::takeAllAsJunk(Frame& out) {
    out.kind = Kind::Junk;
    out.firstByteAt = marks_.empty() ? lastByte_ : marks_.front().at;
    out.bytes.swap(buffer_);
    buffer_.clear();
    marks_.clear();
}

bool Framer::next(Clock::time_point now, Frame& out) {
    bool got = false;
    bool quiet = now - lastByte_ >= gap_;
    if (inJunk_) {
        if (quiet) {
            out.kind = Kind::Junk;
            out.firstByteAt = junkStart_;
            out.bytes.swap(junk_);
            junk_.clear();
            inJunk_ = false;
            got = true;
        }
    } else if (!buffer_.empty()) {
        Shape s = classify(buffer_.data(), buffer_.size());
        size_t have = buffer_.size();
        bool incomplete = false;
        switch (s.type) {
        case Shape::Invalid:
            // Everything up to the end of this burst is junk.
            inJunk_ = true;
            junkStart_ = marks_.empty() ? lastByte_ : marks_.front().at;
            junk_.swap(buffer_);
            buffer_.clear();
            marks_.clear();
            got = next(now, out);
            break;
        case Shape::Fixed:
            if (have >= s.length) {
                got = takeFront(s.length, s.kind, out);
            } else {
                incomplete = true;
            }
            break;
        case Shape::Ambiguous:
            if (have >= s.longLength) {
                got = takeFront(s.longLength, s.longKind, out);
            } else if (have >= s.length) {
                if (quiet) got = takeFront(s.length, s.kind, out);
            } else {
                incomplete = true;
            }
            break;
        case Shape::NeedMore: incomplete = true; break;
        }
        if (incomplete && now - lastByte_ >= stale_) {
            takeAllAsJunk(out);
            got = true;
        }
    }
    return got;
}

Clock::time_point Framer::deadline() const {
    Clock::time_point when = Clock::time_point::max();
    if (inJunk_) {
        when = lastByte_ + gap_;
    } else if (!buffer_.empty()) {
        Shape s = classify(buffer_.data(), buffer_.size());
        size_t have = buffer_.size();
        if (s.type == Shape::Invalid) {
            when = lastByte_ + gap_;
        } else if (s.type == Shape::Fixed && have >= s.length) {
            when = lastByte_;  // complete: deliverable at once
        } else if (s.type == Shape::Ambiguous && have >= s.longLength) {
            when = lastByte_;
        } else if (s.type == Shape::Ambiguous && have >= s.length) {
            when = lastByte_ + gap_;
        } else {
            when = lastByte_ + stale_;
        }
    }
    return when;
}

bool Framer::flush(Frame& out) {
    bool got = !idle();
    if (got) {
        out.kind = Kind::Junk;
        out.firstByteAt = inJunk_ ? junkStart_ : marks_.empty() ? lastByte_ : marks_.front().at;
        out.bytes = std::move(junk_);
        out.bytes.insert(out.bytes.end(), buffer_.begin(), buffer_.end());
        reset();
    }
    return got;
}

void Framer::reset() {
    buffer_.clear();
    marks_.clear();
    junk_.clear();
    inJunk_ = false;
}

}  // namespace hsimemu

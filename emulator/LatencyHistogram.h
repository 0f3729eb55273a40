// Fixed histogram of request-to-answer times: 0.1 ms bins up to 50 ms and one
// bin for everything later. Adding a value never allocates.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>

#include "Emulator.h"

namespace hsimemu {

class LatencyHistogram {
public:
    static constexpr int64_t kBinNs = 100000;  // 0.1 ms
    static constexpr size_t kBins = 500;       // up to 50 ms; bin kBins holds the rest
    static constexpr int64_t kLateNs = 5000000;  // a late answer

    void add(std::chrono::nanoseconds latency) {
        int64_t ns = std::max<int64_t>(0, latency.count());
        size_t bin = static_cast<size_t>(std::min<int64_t>(ns / kBinNs, kBins));
        ++bins_[bin];
        min_ = count_ == 0 ? ns : std::min(min_, ns);
        max_ = std::max(max_, ns);
        ++count_;
        if (ns > kLateNs) ++late_;
    }

    void clear() { *this = LatencyHistogram{}; }

    LatencyStats stats() const {
        LatencyStats s;
        s.count = count_;
        s.late = late_;
        s.overflow = bins_[kBins];
        if (count_ > 0) {
            s.minMs = toMs(min_);
            s.maxMs = toMs(max_);
            s.p50Ms = percentile(50);
            s.p99Ms = percentile(99);
        }
        return s;
    }

private:
    static double toMs(int64_t ns) { return static_cast<double>(ns) / 1e6; }

    // The upper edge of the bin that holds the sample of rank ceil(count *
    // percent / 100), kept within [min, max]; in the overflow bin, the maximum.
    double percentile(unsigned percent) const {
        uint64_t rank = std::max<uint64_t>(1, (count_ * percent + 99) / 100);
        uint64_t seen = 0;
        size_t bin = 0;
        while (bin < kBins && seen + bins_[bin] < rank) seen += bins_[bin++];
        int64_t edge = bin < kBins ? static_cast<int64_t>(bin + 1) * kBinNs : max_;
        return toMs(std::clamp(edge, min_, max_));
    }

    std::array<uint64_t, kBins + 1> bins_{};
    uint64_t count_ = 0;
    uint64_t late_ = 0;
    int64_t min_ = 0;
    int64_t max_ = 0;
};

}  // namespace hsimemu

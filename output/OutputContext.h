// The device context, output part: the live engine and what streams from it.
#pragma once

#include "output/Engine.h"
#include "output/SignalTap.h"
#include "protocol/LinkContext.h"

#include <atomic>
#include <cstdint>
#include <type_traits>

namespace hsim {

// What getters read without the lock: the settings and the device's identity.
struct Published {
    Settings settings;
    DeviceIdentity identity;
};
static_assert(std::is_trivially_copyable_v<Published>, "published as words");

// The published state: two slots, written in turn by the thread that lets the
// lock go, each with a sequence number that is odd while it is written. A
// reader takes the slot last completed; it only has to read again when two
// publications passed while it read, and never waits for a writer that the
// scheduler has preempted (that writer is writing the other slot).
struct Publication {
    static constexpr size_t kWords = (sizeof(Published) + sizeof(uint64_t) - 1) / sizeof(uint64_t);
    struct Slot {
        std::atomic<uint64_t> sequence{0};
        std::atomic<uint64_t> words[kWords] = {};
    };
    Slot slots[2];
    std::atomic<int> current{0};
};

struct OutputContext : LinkContext {
    OutputContext();

    Engine engine;
    // Set when streamed output stops, reset when output is started; consumed
    // by the poll thread, which answers the next data request with a control
    // block write instead of samples.
    CAutoResetEvent stopPlayEvent{false};
    TapRing tap;
    Publication publication;

protected:
    ~OutputContext() = default;
};

inline OutputContext& CurrentOutput()
{
    return static_cast<OutputContext&>(CurrentPort());
}

}  // namespace hsim

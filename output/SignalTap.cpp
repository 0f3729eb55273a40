#include "output/SignalTap.h"

#include "output/OutputContext.h"

#include <atomic>

namespace hsim {

namespace {

static_assert(std::atomic<double>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free,
              "the tap's writer must never wait");

constexpr uint64_t kMask = kTapCapacity - 1;
static_assert((kTapCapacity & kMask) == 0, "a power of two");

using Slot = TapRing::Slot;

TapRing& Ring()
{
    return CurrentOutput().tap;
}

}  // namespace

void TapWrite(const TapPoint& point)
{
    TapRing& ring = Ring();
    const uint64_t p = ring.head.load(std::memory_order_relaxed);
    Slot& slot = ring.slots[p & kMask];
    slot.sequence.store(2 * p + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    const double values[6] = {point.time, point.signalMv, point.dcMv, point.pacingMv, point.pacingMs, point.value};
    for (int i = 0; i < 6; ++i)
        slot.values[i].store(values[i], std::memory_order_relaxed);
    slot.kind.store(static_cast<int32_t>(point.kind), std::memory_order_relaxed);
    slot.flags.store(point.flags, std::memory_order_relaxed);
    slot.sequence.store(2 * p + 2, std::memory_order_release);
    ring.head.store(p + 1, std::memory_order_release);
}

TapReader TapOpen()
{
    TapReader reader;
    reader.ring = &Ring();
    reader.position = reader.ring->head.load(std::memory_order_acquire);
    return reader;
}

bool TapPending(const TapReader& reader)
{
    return reader.ring->head.load(std::memory_order_acquire) > reader.position;
}

int TapRead(TapReader& reader, TapPoint* points, int max)
{
    const TapRing& ring = *reader.ring;
    int n = 0;
    while (n < max) {
        const uint64_t head = ring.head.load(std::memory_order_acquire);
        if (reader.position >= head)
            break;
        // Fallen behind by more than the ring: the oldest points are gone.
        if (head - reader.position > kTapCapacity) {
            reader.overruns += head - kTapCapacity - reader.position;
            reader.position = head - kTapCapacity;
        }
        const uint64_t p = reader.position;
        const Slot& slot = ring.slots[p & kMask];
        const uint64_t before = slot.sequence.load(std::memory_order_acquire);
        double values[6];
        for (int i = 0; i < 6; ++i)
            values[i] = slot.values[i].load(std::memory_order_relaxed);
        const int32_t kind = slot.kind.load(std::memory_order_relaxed);
        const int32_t flags = slot.flags.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        const uint64_t after = slot.sequence.load(std::memory_order_relaxed);
        if (before != 2 * p + 2 || after != before) {
            // The writer came round to this slot while it was read: skip to
            // half a ring behind the writer, counting what is skipped.
            const uint64_t now = ring.head.load(std::memory_order_acquire);
            const uint64_t resume = now > kTapCapacity / 2 ? now - kTapCapacity / 2 : 0;
            if (resume > reader.position) {
                reader.overruns += resume - reader.position;
                reader.position = resume;
            }
            continue;
        }
        TapPoint& out = points[n++];
        out.time = values[0];
        out.signalMv = values[1];
        out.dcMv = values[2];
        out.pacingMv = values[3];
        out.pacingMs = values[4];
        out.value = values[5];
        out.kind = static_cast<TapKind>(kind);
        out.flags = flags;
        ++reader.position;
    }
    return n;
}

}  // namespace hsim

#include "output/Engine.h"

#include "output/Output.h"
#include "protocol/Handshake.h"
#include "runtime/Sync.h"

#include <atomic>
#include <cstring>
#include <type_traits>

namespace hsim {

Engine InitialEngine()
{
    Engine e;
    e.synth.hooks.SyncFreqCB = TellFrequency;
    e.synth.hooks.SyncDCOffsetCB = TellDcLevel;
    e.callbacks.StandardStopCB = NotifyOutputStopped;
    return e;
}

Engine g_Engine = InitialEngine();

namespace {

// What getters read: the settings and the device's identity.
struct Published {
    Settings settings;
    DeviceIdentity identity;
};

// The published state: two slots, written in turn by the thread that lets the
// lock go, each with a sequence number that is odd while it is written. A
// reader takes the slot last completed; it only has to read again when two
// publications passed while it read, and never waits for a writer that the
// scheduler has preempted (that writer is writing the other slot).
static_assert(std::is_trivially_copyable_v<Published>, "published as words");
constexpr size_t kWords = (sizeof(Published) + sizeof(uint64_t) - 1) / sizeof(uint64_t);

struct Slot {
    std::atomic<uint64_t> sequence{0};
    std::atomic<uint64_t> words[kWords] = {};
};

Slot s_Slots[2];
std::atomic<int> s_Current{0};

Settings SettingsOf(const SynthState& s)
{
    return Settings{s.out, s.dc, s.pacing, s.ecg, s.test, s.scan, s.pattern};
}

DeviceIdentity LiveIdentity()
{
    DeviceIdentity identity;
    identity.model = g_ModelInfo;
    memcpy(identity.hardware, g_ModuleHWInfo, sizeof identity.hardware);
    return identity;
}

// Caller holds g_CriticalSection, so there is one writer at a time.
void Publish()
{
    uint64_t words[kWords] = {};
    const Published now{SettingsOf(g_Engine.synth), LiveIdentity()};
    memcpy(words, &now, sizeof now);
    const int next = 1 - s_Current.load(std::memory_order_relaxed);
    Slot& slot = s_Slots[next];
    const uint64_t sequence = slot.sequence.load(std::memory_order_relaxed);
    slot.sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t i = 0; i < kWords; ++i)
        slot.words[i].store(words[i], std::memory_order_relaxed);
    slot.sequence.store(sequence + 2, std::memory_order_release);
    s_Current.store(next, std::memory_order_release);
}

Published ReadPublished()
{
    uint64_t words[kWords];
    for (;;) {
        const Slot& slot = s_Slots[s_Current.load(std::memory_order_acquire)];
        const uint64_t before = slot.sequence.load(std::memory_order_acquire);
        if (before & 1)
            continue;
        for (size_t i = 0; i < kWords; ++i)
            words[i] = slot.words[i].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.sequence.load(std::memory_order_relaxed) == before)
            break;
    }
    Published published;
    memcpy(&published, words, sizeof published);
    return published;
}

const bool s_bPublishing = (Publish(), SetGlobalLockExitHook(Publish), true);

}  // namespace

Settings CurrentSettings()
{
    return GlobalLockHeldHere() ? SettingsOf(g_Engine.synth) : ReadPublished().settings;
}

DeviceIdentity CurrentIdentity()
{
    return GlobalLockHeldHere() ? LiveIdentity() : ReadPublished().identity;
}

}  // namespace hsim

HSIM_CONSTRUCT_EARLY CAutoResetEvent g_hStopPlayEvent(false);

#include "output/Engine.h"

#include "output/Output.h"
#include "output/OutputContext.h"
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

Engine& CurrentEngine()
{
    return CurrentOutput().engine;
}

namespace {

using Slot = Publication::Slot;
constexpr size_t kWords = Publication::kWords;

Settings SettingsOf(const SynthState& s)
{
    return Settings{s.out, s.dc, s.pacing, s.ecg, s.test, s.scan, s.pattern, s.resp.made};
}

DeviceIdentity LiveIdentity(const LinkContext& link)
{
    DeviceIdentity identity;
    identity.model = link.modelInfo;
    memcpy(identity.hardware, link.moduleHWInfo, sizeof identity.hardware);
    return identity;
}

// Caller holds the simulator's lock (or owns the context alone), so there is
// one writer at a time.
void Publish(OutputContext& c)
{
    uint64_t words[kWords] = {};
    const Published now{SettingsOf(c.engine.synth), LiveIdentity(c)};
    memcpy(words, &now, sizeof now);
    Publication& pub = c.publication;
    const int next = 1 - pub.current.load(std::memory_order_relaxed);
    Slot& slot = pub.slots[next];
    const uint64_t sequence = slot.sequence.load(std::memory_order_relaxed);
    slot.sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t i = 0; i < kWords; ++i)
        slot.words[i].store(words[i], std::memory_order_relaxed);
    slot.sequence.store(sequence + 2, std::memory_order_release);
    pub.current.store(next, std::memory_order_release);
}

void PublishCurrent()
{
    Publish(CurrentOutput());
}

Published ReadPublished()
{
    const Publication& pub = CurrentOutput().publication;
    uint64_t words[kWords];
    for (;;) {
        const Slot& slot = pub.slots[pub.current.load(std::memory_order_acquire)];
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

__attribute__((constructor)) void InstallExitHook()
{
    SetGlobalLockExitHook(PublishCurrent);
}

}  // namespace

OutputContext::OutputContext() : engine(InitialEngine())
{
    Publish(*this);
}

Settings CurrentSettings()
{
    return hsim::ContextLock().HeldHere() ? SettingsOf(CurrentEngine().synth) : ReadPublished().settings;
}

DeviceIdentity CurrentIdentity()
{
    return hsim::ContextLock().HeldHere() ? LiveIdentity(CurrentLink()) : ReadPublished().identity;
}

}  // namespace hsim

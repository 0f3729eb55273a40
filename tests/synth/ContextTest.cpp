// Each simulator's state lives in its own context: a thread bound to one
// context reads and writes that one alone, and a transfer computed on an
// engine reports what happened inside it.
#include "api/Simulator.h"
#include "output/SignalTap.h"
#include "output/TestModes.h"
#include "output/Transfer.h"
#include "protocol/StreamPackets.h"
#include "SynthTestSupport.h"

#include <thread>

namespace {

using namespace synthtest;

class ContextTest : public SynthTest {};

TEST_F(ContextTest, ABoundContextKeepsItsStateApart)
{
    S.out.F = 2.0;
    const uint64_t defaultTap = TapOpen().position;
    hsim::Simulator other;
    {
        ContextBinding binding(other);
        CurrentEngine().synth.out.F = 7.0;
        SetStreaming(true);
        TapWrite(TapPoint{});
        // Another thread, bound to nothing, still works on the default.
        std::thread([] {
            EXPECT_EQ(CurrentEngine().synth.out.F, 2.0);
            EXPECT_FALSE(IsStreaming());
        }).join();
    }
    EXPECT_EQ(S.out.F, 2.0);
    EXPECT_FALSE(IsStreaming());
    EXPECT_EQ(TapOpen().position, defaultTap);
    EXPECT_EQ(other.engine.synth.out.F, 7.0);
    EXPECT_TRUE(other.streaming.load());
    EXPECT_EQ(other.tap.head.load(), 1u);
}

// Two simulators each in a baseline-reset test give back their own settings
// when it ends.
TEST_F(ContextTest, BaselineResetGivesBackTheSettingsOfItsOwnSimulator)
{
    hsim::Simulator a, b;
    const struct { hsim::Simulator& sim; double amplitude, f; } rows[] = {{a, 2.0, 3.0}, {b, 4.0, 5.0}};
    for (const auto& r : rows) {
        ContextBinding binding(r.sim);
        ContextGuard lock(hsim::ContextLock());
        CurrentEngine().synth.out.Amplitude = r.amplitude;
        CurrentEngine().synth.out.F = r.f;
        SetBaselineResetLevel(1);
        EXPECT_EQ(CurrentEngine().synth.out.F, 50.0);
    }
    for (const auto& r : rows) {
        ContextBinding binding(r.sim);
        ContextGuard lock(hsim::ContextLock());
        SetBaselineResetLevel(0);
        EXPECT_EQ(r.sim.engine.synth.out.Amplitude, r.amplitude);
        EXPECT_EQ(r.sim.engine.synth.out.F, r.f);
    }
}

// A change asked for while a 100 Hz sine streams applies in the last 0.4 ms
// of the cycle: the 385th sample of the first one (at 9.625 ms; the 384th,
// at exactly 9.6 ms, lies on the edge). The transfer says where.
TEST_F(ContextTest, TransferReportsTheSampleWhereAChangeApplied)
{
    hsim::Simulator sim;
    ContextBinding binding(sim);
    ContextGuard lock(hsim::ContextLock());
    Engine& e = CurrentEngine();
    e.synth.out.F = 100.0;
    e.synth.out.MainOutput = OUTPUT_SINE;
    _Change();  // no device: derives the values, starts nothing
    PrepareStart(e);
    SetStreaming(true);
    unsigned char buffer[kTransferBytes];
    EXPECT_EQ(ComputeTransfer(e, buffer, 1.0, TransferUse::Live).changedAt, -1);
    e.synth.clock.fOutputTime = 0.0;
    e.synth.out.Amplitude = 4.0;
    _ChangeRequested();
    ASSERT_TRUE(e.scheduler.ChangeOnNextCycle);
    const TransferEvents events = ComputeTransfer(e, buffer, 1.0, TransferUse::Live);
    EXPECT_TRUE(events.changedAt == 384 || events.changedAt == 385) << events.changedAt;
    EXPECT_FALSE(e.scheduler.ChangeOnNextCycle);
    EXPECT_EQ(e.synth.work.A, 2.0);
    SetStreaming(false);
}

}  // namespace

// Selecting standard patterns and leads: the range of each family, the shared
// index, the loop switches and the end-of-pattern rule.
#include "protocol/Exchange.h"
#include "hsim.h"
#include "output/Engine.h"
#include "runtime/Sync.h"
#include "synth/Patterns.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace hsim;

namespace {

SynthState& S = CurrentEngine().synth;

}  // namespace

TEST(PatternSelection, EachFamilyAcceptsItsOwnIndexesOnlyAndThePatternsShareOne)
{
    const struct { int (*set)(int); int (*get)(void); int count; } families[] = {
        {SetSpecialWave227, GetSpecialWave227, 10}, {SetSpecialWave251, GetSpecialWave251, 16},
        {SetSpecialWave247, GetSpecialWave247, 5},  {SetANE20000Lead, GetANE20000Lead, 9}};
    for (const auto& f : families) {
        SCOPED_TRACE(f.count);
        ASSERT_EQ(f.set(1), 0);
        for (int bad : {-1, f.count, f.count + 1, 1 << 30}) {
            EXPECT_TRUE(f.set(bad) == -1 && f.get() == 1) << bad << " refused, the selection kept";
        }
        for (int good : {f.count - 1, 0}) {
            EXPECT_TRUE(f.set(good) == 0 && f.get() == good) << good;
        }
    }
    // The three pattern families share one index; the lead is apart.
    ASSERT_TRUE(SetSpecialWave251(12) == 0 && SetANE20000Lead(4) == 0);
    EXPECT_TRUE(GetSpecialWave227() == 12 && GetSpecialWave247() == 12 && GetANE20000Lead() == 4);
    EXPECT_TRUE(SetSpecialWave247(3) == 0 && GetSpecialWave251() == 3 && GetSpecialWave227() == 3);
}

TEST(PatternSelection, WaitsForTheGlobalLock)
{
    std::thread setter;
    {
        ContextGuard lock(hsim::ContextLock());
        S.pattern.nSpecialWaveform = 0;
        setter = std::thread([] { EXPECT_EQ(SetSpecialWave227(7), 0); });
        // Whatever the scheduling, the setter cannot select while we hold the lock.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(S.pattern.nSpecialWaveform, 0);
    }
    setter.join();
    EXPECT_EQ(GetSpecialWave227(), 7);
}

TEST(StandardLoop, ANonLoopingPatternEndsOnlyPastItsEnd)
{
    ContextGuard lock(hsim::ContextLock());
    S.clock.fTimePeriod = 47.931944;
    S.out.MainOutput = 9;
    // Looping (the default), the pattern repeats; not looping, it plays on up
    // to and including its length, and the first sample past it marks it
    // ended (the streaming loop stops the output there).
    const struct { bool loop; double clock; bool ended; } rows[] = {
        {true, 100.0, false}, {false, 0.0, false}, {false, 47.931944, false}, {false, 47.931944 + 1.0 / 40000, true}};
    for (const auto& r : rows) {
        SetStandardWaveformLoop(r.loop);
        S.clock.fOutputTime = r.clock;
        S.clock.patternEnded = false;
        _CheckStandardLoop(S);
        EXPECT_EQ(S.clock.patternEnded, r.ended) << r.clock;
    }
    SetStandardWaveformLoop(true);
}

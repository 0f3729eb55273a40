// Selecting standard patterns and leads: the range of each family, the shared
// index, the loop switches and the end-of-pattern rule.
#include "hsim.h"
#include "output/Engine.h"
#include "runtime/Sync.h"
#include "synth/Patterns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace hsim;

namespace {

SynthState& S = g_Engine.synth;
int s_stopCalls = 0;

void CountStop()
{
    ++s_stopCalls;
}

}  // namespace

TEST(PatternSelection, EachFamilyAcceptsItsOwnIndexesOnly)
{
    struct Family {
        int (*set)(int);
        int (*get)(void);
        int patterns;
    };
    const Family families[] = {{SetSpecialWave227, GetSpecialWave227, 10},
                               {SetSpecialWave251, GetSpecialWave251, 16},
                               {SetSpecialWave247, GetSpecialWave247, 5}};
    for (const Family& family : families) {
        SCOPED_TRACE(family.patterns);
        ASSERT_EQ(family.set(1), 0);
        for (int bad : {-1, family.patterns, family.patterns + 1, 1 << 30}) {
            EXPECT_EQ(family.set(bad), -1) << bad;
            EXPECT_EQ(family.get(), 1) << "a refused index changed the selection";
        }
        EXPECT_EQ(family.set(family.patterns - 1), 0);
        EXPECT_EQ(family.get(), family.patterns - 1);
        EXPECT_EQ(family.set(0), 0);
        EXPECT_EQ(family.get(), 0);
    }
}

TEST(PatternSelection, TheThreeFamiliesShareOneIndex)
{
    ASSERT_EQ(SetSpecialWave251(12), 0);
    EXPECT_EQ(GetSpecialWave227(), 12);
    EXPECT_EQ(GetSpecialWave247(), 12);
    ASSERT_EQ(SetSpecialWave247(3), 0);
    EXPECT_EQ(GetSpecialWave251(), 3);
    EXPECT_EQ(GetSpecialWave227(), 3);
}

TEST(PatternSelection, ANE20000LeadIsOneOfNine)
{
    EXPECT_EQ(SetANE20000Lead(8), 0);
    EXPECT_EQ(GetANE20000Lead(), 8);
    EXPECT_EQ(SetANE20000Lead(9), -1);
    EXPECT_EQ(SetANE20000Lead(-1), -1);
    EXPECT_EQ(GetANE20000Lead(), 8);
    EXPECT_EQ(SetANE20000Lead(0), 0);
    EXPECT_EQ(GetANE20000Lead(), 0);
}

TEST(PatternSelection, WaitsForTheGlobalLock)
{
    std::atomic<bool> done{false};
    std::thread setter;
    {
        CAutoCriticalSection lock(g_CriticalSection);
        setter = std::thread([&] {
            SetSpecialWave227(7);
            done = true;
        });
        // Whatever the scheduling, the setter cannot finish while we hold the lock.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(done.load());
    }
    setter.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(GetSpecialWave227(), 7);
}

TEST(StandardLoop, SwitchesStartOnAndAreStored)
{
    CAutoCriticalSection lock(g_CriticalSection);
    EXPECT_TRUE(S.pattern.loopPlay);
    EXPECT_TRUE(S.pattern.loopFile);
    SetStandardWaveformLoop(false);
    EXPECT_FALSE(S.pattern.loopPlay);
    EXPECT_TRUE(S.pattern.loopFile);
    HSIMEnableLoop(false);
    EXPECT_FALSE(S.pattern.loopFile);
    SetStandardWaveformLoop(true);
    HSIMEnableLoop(true);
    EXPECT_TRUE(S.pattern.loopPlay);
    EXPECT_TRUE(S.pattern.loopFile);
}

TEST(StandardLoop, StopsOnlyPastTheEndOfANonLoopingPattern)
{
    CAutoCriticalSection lock(g_CriticalSection);
    void (*const registered)() = g_Engine.callbacks.StandardStopCB;
    s_stopCalls = 0;
    g_Engine.callbacks.StandardStopCB = CountStop;
    S.clock.fTimePeriod = 47.931944;

    // Looping: the pattern repeats, nothing happens.
    SetStandardWaveformLoop(true);
    S.clock.fOutputTime = 100.0;
    _CheckStandardLoop(S);
    EXPECT_EQ(s_stopCalls, 0);

    // Not looping: up to and including the cycle length it plays on.
    SetStandardWaveformLoop(false);
    S.clock.fOutputTime = 0.0;
    _CheckStandardLoop(S);
    S.clock.fOutputTime = S.clock.fTimePeriod;
    _CheckStandardLoop(S);
    EXPECT_EQ(s_stopCalls, 0);

    // The first sample past it stops the output, telling the application first.
    S.clock.fOutputTime = S.clock.fTimePeriod + 1.0 / 40000;
    _CheckStandardLoop(S);
    EXPECT_EQ(s_stopCalls, 1);

    // Without a notification registered it still stops.
    g_Engine.callbacks.StandardStopCB = nullptr;
    _CheckStandardLoop(S);
    EXPECT_EQ(s_stopCalls, 1);

    g_Engine.callbacks.StandardStopCB = registered;
    SetStandardWaveformLoop(true);
    S.clock.fOutputTime = 0.0;
}

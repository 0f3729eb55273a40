// Selecting standard patterns and leads: the range of each family, the shared
// index, the loop switches and the end-of-pattern rule.
#include "hsim.h"
#include "link/Globals.h"
#include "synth/Parameters.h"
#include "synth/StandardPatterns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

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
    EXPECT_TRUE(s_loopPlay);
    EXPECT_TRUE(s_loopFile);
    SetStandardWaveformLoop(false);
    EXPECT_FALSE(s_loopPlay);
    EXPECT_TRUE(s_loopFile);
    HSIMEnableLoop(false);
    EXPECT_FALSE(s_loopFile);
    SetStandardWaveformLoop(true);
    HSIMEnableLoop(true);
    EXPECT_TRUE(s_loopPlay);
    EXPECT_TRUE(s_loopFile);
}

TEST(StandardLoop, StopsOnlyPastTheEndOfANonLoopingPattern)
{
    CAutoCriticalSection lock(g_CriticalSection);
    void (*const registered)(void) = g_StandardStopCB;
    s_stopCalls = 0;
    g_StandardStopCB = CountStop;
    g_fTimePeriod = 47.931944;

    // Looping: the pattern repeats, nothing happens.
    SetStandardWaveformLoop(true);
    g_fOutputTime = 100.0;
    _CheckStandardLoop();
    EXPECT_EQ(s_stopCalls, 0);

    // Not looping: up to and including the cycle length it plays on.
    SetStandardWaveformLoop(false);
    g_fOutputTime = 0.0;
    _CheckStandardLoop();
    g_fOutputTime = g_fTimePeriod;
    _CheckStandardLoop();
    EXPECT_EQ(s_stopCalls, 0);

    // The first sample past it stops the output, telling the application first.
    g_fOutputTime = g_fTimePeriod + 1.0 / 40000;
    _CheckStandardLoop();
    EXPECT_EQ(s_stopCalls, 1);

    // Without a notification registered it still stops.
    g_StandardStopCB = nullptr;
    _CheckStandardLoop();
    EXPECT_EQ(s_stopCalls, 1);

    g_StandardStopCB = registered;
    SetStandardWaveformLoop(true);
    g_fOutputTime = 0.0;
}

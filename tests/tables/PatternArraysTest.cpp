// The IEC 60601-2-47 patterns: beat template, pulse train, modulated beat
// trains, the caches and their once-only construction under concurrent use.
#include "hsim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

namespace {

constexpr double kTolerance = 1e-12;
constexpr double kPeak = 0.875;  // template sample 53, the top of the upstroke

IEC247_PATTERN Pattern(int p)
{
    return static_cast<IEC247_PATTERN>(p);
}

const double* Cached(int p)
{
    return getIEC47RawArray(Pattern(p));
}

// Sample positions where a beat starts: its template peak lies 53 ms later,
// and nothing else in a pattern reaches 0.875 mV.
std::vector<int> BeatStarts(const double* samples, int n)
{
    std::vector<int> starts;
    for (int i = 0; i < n; ++i) {
        if (samples[i] == kPeak) {
            starts.push_back(i - 53);
        }
    }
    return starts;
}

// The template sits unchanged at position start.
void ExpectBeatAt(const double* samples, int start)
{
    const double* beat = getECG227Array();
    for (int k = 0; k < 360; ++k) {
        ASSERT_EQ(samples[start + k], beat[k]) << "beat at " << start << ", sample " << k;
    }
}

void ExpectZero(const double* samples, int from, int to)
{
    for (int i = from; i < to; ++i) {
        ASSERT_EQ(samples[i], 0.0) << "sample " << i;
    }
}

}  // namespace

TEST(BeatTemplate, HasTheDescribedShape)
{
    const double* beat = getECG227Array();
    ASSERT_NE(beat, nullptr);
    EXPECT_EQ(beat[0], 0.0);
    EXPECT_EQ(beat[10], 0.0);                                     // upstroke starts at 10 ms
    EXPECT_NEAR(beat[52], 0.875 * 42 / 43, kTolerance);
    EXPECT_NEAR(beat[53], 0.875, kTolerance);                     // peak
    EXPECT_NEAR(beat[102], -0.105, kTolerance);                   // bottom of the downstroke
    EXPECT_NEAR(beat[103], -0.125, kTolerance);                   // start of the return
    EXPECT_NEAR(beat[109], 0.125 * 6 / 7 - 0.125, kTolerance);
    EXPECT_EQ(beat[110], 0.0);
    EXPECT_EQ(beat[179], 0.0);
    EXPECT_NEAR(beat[270], 0.2, kTolerance);                      // T wave peak
    // The T wave is a half sine, symmetric about its peak.
    for (int d = 1; d < 90; ++d) {
        EXPECT_NEAR(beat[270 - d], beat[270 + d], 1e-6) << d;
        EXPECT_GT(beat[270 - d], 0.0) << d;
    }
    // Later calls return the same array.
    EXPECT_EQ(getECG227Array(), beat);
}

TEST(IEC247Accessor, GivesLengthsAndRateOfEveryPattern)
{
    for (int p = 0; p < 5; ++p) {
        int length = -1;
        int rate = -1;
        const double* samples = GetSpecialWave247Array(p, &length, &rate);
        ASSERT_NE(samples, nullptr) << p;
        EXPECT_EQ(length, p == 4 ? 3600000 : 60000) << p;
        EXPECT_EQ(rate, 1000) << p;
        EXPECT_EQ(samples, Cached(p)) << p;
    }
    for (int index : {5, -1, 1000}) {
        int length = 77;
        int rate = 77;
        EXPECT_EQ(GetSpecialWave247Array(index, &length, &rate), nullptr) << index;
        EXPECT_EQ(length, 0);
        EXPECT_EQ(rate, 0);
    }
}

TEST(IEC247Patterns, PulseTrainIsATriangleOncePerSecond)
{
    const double* a = Cached(0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a[0], 0.0);
    EXPECT_NEAR(a[25], 0.5, kTolerance);
    EXPECT_NEAR(a[50], 1.0, kTolerance);
    EXPECT_NEAR(a[75], 0.5, kTolerance);
    EXPECT_NEAR(a[99], 0.02, kTolerance);
    EXPECT_EQ(a[100], 0.0);
    EXPECT_EQ(a[1000], 0.0);
    // The same triangle every second up to the end of the minute.
    for (int second : {1, 30, 59}) {
        const int b = second * 1000;
        EXPECT_NEAR(a[b + 50], 1.0, kTolerance) << second;
        EXPECT_NEAR(a[b + 25], 0.5, kTolerance) << second;
        ExpectZero(a, b + 100, b + 1000);
    }
}

TEST(IEC247Patterns, Pattern1BeatsFollowTheModulatedRR)
{
    const double* a = Cached(1);
    ASSERT_NE(a, nullptr);
    // Beats at 0, 0 + 800 + 35 sin(0) = 800, and
    // 800 + trunc(800 + 35 sin(6.2831853 x 0.25 x 0.8)) = 800 + trunc(833.29) = 1633.
    ExpectBeatAt(a, 0);
    ExpectZero(a, 360, 800);
    ExpectBeatAt(a, 800);
    ExpectZero(a, 1160, 1633);
    ExpectBeatAt(a, 1633);
    EXPECT_EQ(a[810], 0.0);
    EXPECT_NEAR(a[852], 0.875 * 42 / 43, kTolerance);
}

TEST(IEC247Patterns, Patterns2And3BeatsFollowTheModulatedRR)
{
    // Pattern 2: 0, 1000, then 1000 + trunc(1000 + 70 sin(6.2831853 x 0.1 x 1.0))
    // = 1000 + trunc(1041.14) = 2041.
    const std::vector<int> two = BeatStarts(Cached(2), 60000);
    ASSERT_GE(two.size(), 3u);
    EXPECT_EQ(two[0], 0);
    EXPECT_EQ(two[1], 1000);
    EXPECT_EQ(two[2], 2041);
    // Pattern 3: 0, 3000, then 3000 + trunc(3000 + 280 sin(6.2831853 x 0.033333 x 3))
    // = 3000 + trunc(3164.58) = 6164.
    const std::vector<int> three = BeatStarts(Cached(3), 60000);
    ASSERT_GE(three.size(), 3u);
    EXPECT_EQ(three[0], 0);
    EXPECT_EQ(three[1], 3000);
    EXPECT_EQ(three[2], 6164);
}

TEST(IEC247Patterns, HourPatternBeatsEveryOneAndAHalfSecondsToTheEnd)
{
    int length = 0;
    int rate = 0;
    const double* a = GetSpecialWave247Array(4, &length, &rate);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(length, 3600000);
    const std::vector<int> starts = BeatStarts(a, length);
    // 1500 + 140 sin(2 pi 0.000278 t) ms: 0, 1500, 3000 (+0.37), 4500 (+0.73),
    // 6001 (+1.10).
    ASSERT_GE(starts.size(), 5u);
    EXPECT_EQ(starts[0], 0);
    EXPECT_EQ(starts[1], 1500);
    EXPECT_EQ(starts[2], 3000);
    EXPECT_EQ(starts[3], 4500);
    EXPECT_EQ(starts[4], 6001);
    // RR within 1.5 s +- 0.14 s (truncation can take one more millisecond off)
    // all through the hour, and beats up to its end.
    for (size_t k = 1; k < starts.size(); ++k) {
        const int rr = starts[k] - starts[k - 1];
        ASSERT_GE(rr, 1359) << "beat " << k;
        ASSERT_LE(rr, 1640) << "beat " << k;
    }
    EXPECT_GT(starts.back(), 3600000 - 1640 - 53);
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
        ASSERT_EQ(a[starts[k] + 360], 0.0) << "beat " << k;  // gap after each template
    }
}

TEST(IEC247Patterns, GetArrayBuildsAFreshCopyOfTheCachedPattern)
{
    for (int p = 0; p < 5; ++p) {
        double* fresh = getArray(Pattern(p));
        ASSERT_NE(fresh, nullptr) << p;
        EXPECT_NE(fresh, Cached(p));
        const size_t n = p == 4 ? 3600000 : 60000;
        EXPECT_EQ(std::memcmp(fresh, Cached(p), n * sizeof(double)), 0) << p;
        double* second = getArray(Pattern(p));
        EXPECT_NE(second, fresh);
        std::free(second);
        std::free(fresh);
    }
}

TEST(IEC247Patterns, OnlyTheFivePatternsExist)
{
    for (int p : {5, 6, 7}) {
        EXPECT_EQ(getArray(Pattern(p)), nullptr) << p;
        EXPECT_EQ(getIEC47RawArray(Pattern(p)), nullptr) << p;
    }
}

TEST(IEC247Patterns, CachesAreBuiltOnceAndKept)
{
    const double* before = Cached(2);
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(Cached(2), before);
    init();
    EXPECT_EQ(Cached(2), before);
    for (int p = 0; p < 5; ++p) {
        EXPECT_NE(Cached(p), nullptr) << p;
    }
}

TEST(IEC247Patterns, ConcurrentFirstUseBuildsEachCacheOnce)
{
    constexpr int kThreads = 8;
    std::vector<std::vector<const double*>> seen(kThreads);
    std::vector<const double*> templates(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            templates[t] = getECG227Array();
            seen[t].resize(5);
            for (int k = 0; k < 5; ++k) {
                const int p = (t + k) % 5;  // threads race for different slots first
                seen[t][p] = Cached(p);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 1; t < kThreads; ++t) {
        EXPECT_EQ(templates[t], templates[0]) << t;
        for (int p = 0; p < 5; ++p) {
            EXPECT_EQ(seen[t][p], seen[0][p]) << "thread " << t << ", pattern " << p;
        }
    }
    // What the race built is the complete pattern.
    for (int p = 0; p < 5; ++p) {
        ASSERT_NE(seen[0][p], nullptr);
        EXPECT_EQ(seen[0][p], Cached(p));
    }
    EXPECT_NEAR(seen[0][1][852], 0.875 * 42 / 43, kTolerance);
    EXPECT_NEAR(seen[0][0][50], 1.0, kTolerance);
}

TEST(IEC247Patterns, RhythmTablesHoldTheRowsOfThePatterns)
{
    const double avg[5] = {1.0, 0.8, 1.0, 3.0, 1.5};
    const double dev[5] = {0.0, 0.035, 0.07, 0.28, 0.14};
    const double freq[5] = {0.0, 0.25, 0.1, 0.033333, 0.000278};
    for (int p = 0; p < 5; ++p) {
        EXPECT_EQ(getRRavgArray()[p], avg[p]) << p;
        EXPECT_EQ(getRRdevArray()[p], dev[p]) << p;
        EXPECT_EQ(getHRVfreqArray()[p], freq[p]) << p;
    }
}

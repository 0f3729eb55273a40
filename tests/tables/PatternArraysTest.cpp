// The IEC 60601-2-47 patterns: beat template, pulse train, modulated beat
// trains, the caches and their once-only construction under concurrent use.
#include "hsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

namespace {

const double* Cached(int p) { return getIEC47RawArray(static_cast<IEC247_PATTERN>(p)); }

// Samples of pattern p: one hour for pattern 4, a minute for the others.
constexpr int kLength[5] = {60000, 60000, 60000, 60000, 3600000};

}  // namespace

TEST(BeatTemplate, HasTheDescribedShape)
{
    // Upstroke from 10 ms to the 0.875 mV peak at 53 ms, downstroke to
    // -0.105 mV, a step to -0.125 mV and back to 0 by 110 ms, then a half
    // sine T wave of 0.2 mV peak at 270 ms, symmetric about it.
    const double* beat = getECG227Array();
    const struct { int ms; double mv; } points[] = {{0, 0.0}, {10, 0.0}, {52, 0.875 * 42 / 43}, {53, 0.875},
        {102, -0.105}, {103, -0.125}, {109, 0.125 * 6 / 7 - 0.125}, {110, 0.0}, {179, 0.0}, {270, 0.2}};
    for (const auto& p : points) {
        EXPECT_NEAR(beat[p.ms], p.mv, 1e-12) << p.ms;
    }
    for (int d = 1; d < 90; ++d) {
        EXPECT_TRUE(std::fabs(beat[270 - d] - beat[270 + d]) < 1e-6 && beat[270 - d] > 0.0) << d;
    }
}

TEST(IEC247Patterns, PulseTrainIsATriangleOncePerSecond)
{
    // 0.5 mV at 25 ms, 1 mV at 50, 0.5 at 75, 0.02 at 99, then 0 to the next second.
    const double* a = Cached(0);
    for (int b : {0, 1000, 30000, 59000}) {
        EXPECT_TRUE(a[b] == 0.0 && a[b + 25] == 0.5 && a[b + 50] == 1.0 && a[b + 75] == 0.5) << b;
        EXPECT_NEAR(a[b + 99], 0.02, 1e-12) << b;
        EXPECT_EQ(std::count(a + b + 100, a + b + 1000, 0.0), 900) << b;
    }
}

TEST(IEC247Patterns, BeatsFollowTheModulatedRR)
{
    // The rhythm rows (mean RR s, deviation s, modulation Hz) and the first
    // beat starts: t_k+1 = t_k + trunc(1000 (avg + dev sin(2 pi freq t_k / 1000))) ms.
    // Pattern 1: 800 + trunc(800 + 35 sin(2 pi 0.25 0.8)) = 800 + 833;
    // pattern 2: 1000 + trunc(1041.14); pattern 3: 3000 + trunc(3164.58);
    // pattern 4: 3000 (+0.37 ms), 4500 (+0.73), 6001 (+1.10).
    const struct { int p; double avg, dev, freq; std::vector<int> starts; } rows[] = {
        {1, 0.8, 0.035, 0.25, {0, 800, 1633}},      {2, 1.0, 0.07, 0.1, {0, 1000, 2041}},
        {3, 3.0, 0.28, 0.033333, {0, 3000, 6164}}, {4, 1.5, 0.14, 0.000278, {0, 1500, 3000, 4500, 6001}}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.p);
        EXPECT_TRUE(getRRavgArray()[r.p] == r.avg && getRRdevArray()[r.p] == r.dev && getHRVfreqArray()[r.p] == r.freq);
        // A beat starts 53 ms before each 0.875 mV template peak (nothing
        // else reaches it); the template sits there unchanged, 0 after it,
        // the RR within avg +- dev (truncation takes up to 1 ms more off),
        // up to the end of the pattern.
        const double* a = Cached(r.p);
        std::vector<int> starts;
        for (const double* peak = a; (peak = std::find(peak + 1, a + kLength[r.p], 0.875)) != a + kLength[r.p];) {
            starts.push_back(peak - a - 53);
        }
        ASSERT_GE(starts.size(), r.starts.size());
        EXPECT_TRUE(std::equal(r.starts.begin(), r.starts.end(), starts.begin()));
        for (size_t k = 0; k + 1 < starts.size(); ++k) {
            const int rr = starts[k + 1] - starts[k];
            ASSERT_TRUE(rr >= 1000 * (r.avg - r.dev) - 1 && rr <= 1000 * (r.avg + r.dev)) << "beat " << k;
            ASSERT_EQ(std::memcmp(a + starts[k], getECG227Array(), 360 * sizeof(double)), 0) << "beat " << k;
            ASSERT_EQ(std::count(a + starts[k] + 360, a + starts[k + 1], 0.0), rr - 360) << "beat " << k;
        }
        EXPECT_GT(starts.back(), kLength[r.p] - 1000 * (r.avg + r.dev) - 53);
    }
}

TEST(IEC247Patterns, GetArrayBuildsAFreshCopyOfTheCachedPattern)
{
    for (int p = 0; p < 5; ++p) {
        double* fresh = getArray(static_cast<IEC247_PATTERN>(p));
        double* second = getArray(static_cast<IEC247_PATTERN>(p));
        ASSERT_TRUE(fresh != nullptr && fresh != Cached(p) && second != fresh) << p;
        EXPECT_EQ(std::memcmp(fresh, Cached(p), kLength[p] * sizeof(double)), 0) << p;
        std::free(second);
        std::free(fresh);
    }
}

TEST(IEC247Patterns, ConcurrentFirstUseBuildsEachCacheOnceAndKeepsIt)
{
    // Eight threads race for the five caches, each for a different slot
    // first, and the template; all see the same complete arrays, which
    // init() keeps.
    std::vector<std::vector<const double*>> seen(8, std::vector<const double*>(6));
    std::latch start(8);
    std::vector<std::jthread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int k = 0; k < 5; ++k) {
                seen[t][(t + k) % 5] = Cached((t + k) % 5);
            }
            seen[t][5] = getECG227Array();
        });
    }
    threads.clear();  // joins them
    init();
    const std::vector<const double*> kept = {Cached(0), Cached(1), Cached(2), Cached(3), Cached(4), getECG227Array()};
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(seen[t], kept) << t;
    }
    ASSERT_TRUE(kept[0] != nullptr && kept[1] != nullptr);
    EXPECT_TRUE(kept[0][50] == 1.0 && kept[1][53] == 0.875);
}

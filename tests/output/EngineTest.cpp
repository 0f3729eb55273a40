// The output engine around the synthesis: what runs on the caller's thread.
#include "output/ChangeScheduler.h"
#include "output/Engine.h"
#include "protocol/Exchange.h"
#include "synth/Patterns.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <vector>

using namespace hsim;

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A deferred change is applied on the poll thread, inside a transfer: the
// hour-long pattern it needs (millions of samples) is built before, on the
// thread that asks for the change.
TEST(Engine, DeferredChangeBuildsItsPatternOnTheCallersThread)
{
    g_Engine = InitialEngine();
    SynthState& s = g_Engine.synth;
    s.out.MainOutput = 3;
    _Change();
    g_bECGGoing = true;  // streaming: the change below waits for the cycle's end
    s.pattern.nSpecialWaveform = IEC247_RR_1500MS_HOUR;
    s.out.MainOutput = 16;
    _ChangeRequested();
    EXPECT_TRUE(g_Engine.scheduler.ChangeOnNextCycle);

    auto start = Clock::now();
    double* fresh = getArray(IEC247_RR_1500MS_HOUR);
    const double buildMs = MsSince(start);
    ASSERT_NE(fresh, nullptr);
    std::free(fresh);
    start = Clock::now();
    EXPECT_NE(getIEC47RawArray(IEC247_RR_1500MS_HOUR), nullptr);
    EXPECT_LT(MsSince(start), buildMs / 10) << "the pattern was not built yet";
    g_bECGGoing = false;
}

}  // namespace

// The output engine around the synthesis: what runs on the caller's thread
// and what the end of a pattern does.
#include "output/ChangeScheduler.h"
#include "output/Engine.h"
#include "protocol/Exchange.h"
#include "synth/FunctionGenerator.h"
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

std::vector<std::pair<double, double>> s_graph;
void RecordGraph(double t, double v)
{
    s_graph.emplace_back(t, v);
}

// A pattern that does not loop ends after one play: the application hears
// the end marker, and the output function is 0 at once, device or not.
TEST(Engine, PatternEndStopsOutputAndTellsTheApplication)
{
    g_Engine = InitialEngine();
    SynthState& s = g_Engine.synth;
    g_Engine.callbacks.GraphCB = RecordGraph;
    s.pattern.loopPlay = false;
    s.out.MainOutput = 10;  // one-second patterns
    _Change();
    s.clock.fOutputTime = 0.9;
    _GetMainFunctionVoltage(s, 0.9);
    EXPECT_EQ(s.out.MainOutput, 10);
    EXPECT_TRUE(s_graph.empty());
    s.clock.fOutputTime = 1.0 + 1.0 / 40000;
    auto start = Clock::now();
    _GetMainFunctionVoltage(s, 1.0 / 40000);
    EXPECT_LT(MsSince(start), 50.0) << "no pause on the streaming thread";
    EXPECT_EQ(s.out.MainOutput, 0);
    ASSERT_EQ(s_graph.size(), 1u);
    EXPECT_EQ(s_graph[0], std::make_pair(-1.0, 0.0));
}

}  // namespace

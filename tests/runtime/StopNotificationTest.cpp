// The end-of-output marker passed to the signal-output callback.
#include "hsim.h"

#include "output/Engine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Point {
    double time;
    double value;
};

std::vector<Point> s_points;

void RecordPoint(double time, double value)
{
    s_points.push_back(Point{time, value});
}

TEST(StopCallbackTest, SendsTheEndMarkerToTheRegisteredCallback)
{
    s_points.clear();
    hsim::g_Engine.callbacks.GraphCB = RecordPoint;
    StopCallback();
    hsim::g_Engine.callbacks.GraphCB = nullptr;
    ASSERT_EQ(s_points.size(), 1U);
    EXPECT_EQ(s_points[0].time, -1.0);
    EXPECT_EQ(s_points[0].value, 0.0);
}

TEST(StopCallbackTest, DoesNothingWithoutACallback)
{
    s_points.clear();
    hsim::g_Engine.callbacks.GraphCB = nullptr;
    StopCallback();
    EXPECT_TRUE(s_points.empty());
}

} // namespace

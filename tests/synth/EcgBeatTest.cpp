// ECG beat model: breakpoints, fitting to the beat period, and the shape of
// both beats. Expected values are worked out by hand from the interval
// settings (QRS split 7/16, 8/16, 1/16 after a 10 ms lead-in; QT remainder
// shared between ST and T in the ratio of their weights).
#include "SynthTestSupport.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace synthtest;

constexpr double kEps = 1e-12;

class EcgBeatTest : public SynthTest {};

TEST_F(EcgBeatTest, BreakpointsAtTheDefaults)
{
    Apply(7);  // 60 beats per minute, QRS 100 ms
    EXPECT_NEAR(S.beat.t1, 0.05375, kEps);
    EXPECT_NEAR(S.beat.t2, 0.10375, kEps);
    EXPECT_NEAR(S.beat.t3, 0.11, kEps);
    EXPECT_NEAR(S.beat.t4, 0.18, kEps);
    EXPECT_NEAR(S.beat.t5, 0.36, kEps);

    // Custom beat: P 0..0.1, QRS onset at PR = 0.16, R crest 0.16 + 0.04375,
    // S trough + 0.05, ramp end + 0.00625; ST 70/250 and T 180/250 of the
    // 0.25 s that remain of the 350 ms QT interval.
    EXPECT_NEAR(S.beat.Cus_t1, 0.1, kEps);
    EXPECT_NEAR(S.beat.Cus_t2, 0.16, kEps);
    EXPECT_NEAR(S.beat.Cus_t3, 0.20375, kEps);
    EXPECT_NEAR(S.beat.Cus_t4, 0.25375, kEps);
    EXPECT_NEAR(S.beat.Cus_t5, 0.26, kEps);
    EXPECT_NEAR(S.beat.Cus_t6, 0.33, kEps);
    EXPECT_NEAR(S.beat.Cus_t7, 0.51, kEps);
    EXPECT_NEAR(S.beat.Cus_v125, -1.0 / 7, kEps);  // S.work.A = 1 mV for code 7
}

TEST_F(EcgBeatTest, FastRatesDropSTThenShortenAndDropT)
{
    // Q = 0.1 s, QRS ends at 0.11 s. Each row: beat period, expected end of
    // ST (S.beat.t4) and end of T (S.beat.t5).
    struct Row {
        double period, t4, t5;
    };
    const Row rows[] = {
        {0.40, 0.18, 0.36},  // P >= Q + 0.25: ST 0.07, T 0.18
        {0.30, 0.11, 0.29},  // Q + 0.18 <= P < Q + 0.25: no ST
        {0.27, 0.11, 0.27},  // Q + 0.16 <= P < Q + 0.18: T 0.16
        {1.0 / 6, 0.11, 0.11},  // 6 beats per second: no ST, no T
    };
    for (const Row& row : rows) {
        S.out.F = 1 / row.period;
        Apply(7);
        SCOPED_TRACE(row.period);
        EXPECT_NEAR(S.beat.t3, 0.11, kEps);  // the QRS itself keeps its width
        EXPECT_NEAR(S.beat.t4, row.t4, kEps);
        EXPECT_NEAR(S.beat.t5, row.t5, kEps);
    }
}

TEST_F(EcgBeatTest, WideQrsIsCutToThePeriod)
{
    S.out.F = 6.0;
    S.ecg.QRSDuration = 200.0;
    Apply(7);
    const double q = 1.0 / 6;
    EXPECT_NEAR(S.beat.t1, 0.4375 * q + 0.01, kEps);
    EXPECT_NEAR(S.beat.t2, 0.9375 * q + 0.01, kEps);
    EXPECT_NEAR(S.beat.t3, q + 0.01, kEps);
    EXPECT_NEAR(S.beat.t4, S.beat.t3, kEps);
    EXPECT_NEAR(S.beat.t5, S.beat.t3, kEps);
    // The custom beat uses the cut QRS too.
    EXPECT_NEAR(S.beat.Cus_t5 - S.beat.Cus_t2, q, kEps);
}

TEST_F(EcgBeatTest, StandardBeatShape)
{
    S.out.Amplitude = 2.0;  // R amplitude a = 2 mV
    Apply(7);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 0.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.009), 0.0);        // lead-in
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.03), 0.8, 1e-12);  // 0.02 / 0.04375 * 0.875 * 2
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05375), 1.75, 1e-12);  // R crest 0.875 a
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.07875), 0.75, 1e-12);  // halfway down: 0.375 a
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.10375), -0.25, 1e-12); // S trough -0.125 a
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.106875), -0.125, 1e-12);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.15), 0.0);         // ST segment
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.27), 0.2, 1e-9); // T peak = T amplitude
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.225), 0.2 * std::sin(M_PI / 4), 1e-8);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.5), 0.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.99), 0.0);
}

TEST_F(EcgBeatTest, CustomBeatSegments)
{
    Apply(8);  // a = 1 mV, P 0.2 mV, T 0.2 mV, no ST deviation
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), 0.0);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05), 0.2, 1e-9);  // P peak at half its width
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.025), 0.2 * std::sin(M_PI / 4), 1e-8);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.13), 0.0);           // PR segment
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.181875), 0.4375, 1e-12);  // half the upstroke
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.20375), 0.875, 1e-12);    // R crest
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.25375), -0.125, 1e-12);   // S trough -a/8
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.256875), -0.0625, 1e-12); // ramp to the ST level 0
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.3), 0.0);            // ST level
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.42), 0.2, 1e-9);   // T peak at the middle of 0.33..0.51
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.375), 0.2 * std::sin(M_PI / 4), 1e-8);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.6), 0.0);
}

TEST_F(EcgBeatTest, StDeviationRaisesTheSegmentAndStepsBeforeTheEndOfT)
{
    S.ecg.CusST = 0.1;
    S.ecg.QTInterval = 450.0;  // rest 0.35 s: ST 0.098 s (0.26..0.358), T 0.252 s (..0.61)
    Apply(8);
    ASSERT_NEAR(S.beat.Cus_t6, 0.358, 1e-12);
    ASSERT_NEAR(S.beat.Cus_t7, 0.61, 1e-12);

    // The ramp from the S trough reaches the ST level at its end.
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.256875), -0.0125, 1e-12);  // halfway: (-0.125 + 0.1) / 2
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.2599999), 0.1, 1e-5);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.3), 0.1, 1e-12);

    // The T wave rides on the ST level: (T - ST) * s + ST.
    const double s1 = std::sin(M_PI * (0.4 - 0.358) / 0.252);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.4), 0.1 * s1 + 0.1, 1e-8);

    // 90 ms before its end it continues as the plain arc T * s: the level
    // steps down by ST * (1 - s) there.
    const double stepAt = S.beat.Cus_t7 - 0.09;
    const double s = std::sin(M_PI * (0.52 - 0.358) / 0.252);
    const double before = _GetMainFunctionVoltage(S, std::nextafter(stepAt, 0.0));
    const double after = _GetMainFunctionVoltage(S, stepAt);
    EXPECT_NEAR(before - after, 0.1 * (1 - s), 1e-7);
    EXPECT_NEAR(after, 0.2 * s, 1e-7);
}

TEST_F(EcgBeatTest, QtShorterThanQrsLeavesTheRestOfTheCycleFlat)
{
    S.ecg.QTInterval = 100.0;
    S.ecg.QRSDuration = 200.0;
    Apply(8);
    // ST and T lengths are negative: t6 and t7 fall before t5 = 0.36 s.
    EXPECT_NEAR(S.beat.Cus_t5, 0.36, 1e-12);
    EXPECT_LT(S.beat.Cus_t6, S.beat.Cus_t5);
    EXPECT_LT(S.beat.Cus_t7, S.beat.Cus_t6);
    EXPECT_NE(_GetMainFunctionVoltage(S, 0.3), 0.0);  // still inside the QRS
    int nonZero = 0;
    for (double t = 0.361; t < 1.0; t += 0.001) {
        nonZero += (_GetMainFunctionVoltage(S, t) != 0.0);
    }
    EXPECT_EQ(nonZero, 0);
}

TEST_F(EcgBeatTest, AmplitudeIsClampedAndTheOutputStaysInRange)
{
    S.out.Amplitude = 8.0;
    Apply(7);
    EXPECT_EQ(S.work.A, 5.0);
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.05375), 4.375, 1e-12);  // R crest of S.work.A = 5

    S.work.RangeV4Ch2On = 3.0;  // variable-DC mode on: the "on" range applies
    S.out.Amplitude = -8.0;
    Apply(7);
    EXPECT_EQ(S.work.A, -5.0);
    EXPECT_EQ(S.work.fVoltageRange, 3.0);
    double lo = 0.0, hi = 0.0;
    S.clock.fOutputTime = 0.0;
    StreamUntil(1.0, [&](const Sample& s) {
        lo = std::min(lo, s.v);
        hi = std::max(hi, s.v);
    });
    EXPECT_EQ(lo, -3.0);             // the inverted R crest of -4.375 is clamped
    EXPECT_NEAR(hi, 0.625, 1e-3);    // the inverted S trough passes
}

} // namespace

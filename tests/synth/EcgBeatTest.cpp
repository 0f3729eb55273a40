// ECG beat model: fitting the standard beat to the beat period, the ST
// deviation of the custom beat and a QT shorter than the QRS (the shapes at
// their landmarks are in the function generator's table). Expected values are worked out by hand from the interval settings (QRS
// split 7/16, 8/16, 1/16 after a 10 ms lead-in; QT remainder shared between
// ST and T in the ratio of their weights).
#include "SynthTestSupport.h"

#include <cmath>

namespace {

using namespace synthtest;

class EcgBeatTest : public SynthTest {};

TEST_F(EcgBeatTest, FastRatesDropSTThenShortenAndDropTThenCutTheQrs)
{
    // Beat period, QRS setting, expected end of QRS (t3), end of ST (t4) and
    // end of T (t5) of the standard beat.
    const double q6 = 1.0 / 6 + 0.01;
    const struct { double period, qrs, t3, t4, t5; } rows[] = {
        {0.40, 100, 0.11, 0.18, 0.36},     // P >= Q + 0.25: ST 0.07, T 0.18
        {0.30, 100, 0.11, 0.11, 0.29},     // Q + 0.18 <= P < Q + 0.25: no ST
        {0.27, 100, 0.11, 0.11, 0.27},     // Q + 0.16 <= P < Q + 0.18: T 0.16
        {1.0 / 6, 100, 0.11, 0.11, 0.11},  // 6 beats per second: no ST, no T
        {1.0 / 6, 200, q6, q6, q6}};       // and a wider QRS cut to the period
    for (const auto& r : rows) {
        S.out.F = 1 / r.period;
        S.ecg.QRSDuration = r.qrs;
        Apply(7);
        SCOPED_TRACE(testing::Message() << r.period << " s, QRS " << r.qrs);
        EXPECT_NEAR(S.beat.t3, r.t3, 1e-12);
        EXPECT_NEAR(S.beat.t4, r.t4, 1e-12);
        EXPECT_NEAR(S.beat.t5, r.t5, 1e-12);
        EXPECT_NEAR(S.beat.Cus_t5 - S.beat.Cus_t2, r.t3 - 0.01, 1e-12);  // the custom QRS as wide
    }
}

TEST_F(EcgBeatTest, StDeviationRaisesTheSegmentAndStepsBeforeTheEndOfT)
{
    S.ecg.CusST = 0.1;
    S.ecg.QTInterval = 450.0;  // rest 0.35 s: ST 0.098 s (0.26..0.358), T 0.252 s (..0.61)
    Apply(8);
    // The ramp from the S trough reaches the ST level at its end; the T wave
    // rides on it, (T - ST) * s + ST, until 90 ms before its end, where it
    // steps down by ST * (1 - s) to the plain arc T * s.
    const double s1 = std::sin(M_PI * (0.4 - 0.358) / 0.252), s2 = std::sin(M_PI * (0.52 - 0.358) / 0.252);
    ExpectShape({{0.256875, -0.0125}, {0.2599999, 0.1, 1e-5}, {0.3, 0.1}, {0.4, 0.1 * s1 + 0.1, 1e-8},
                 {0.52 - 1e-9, 0.1 * s2 + 0.1, 1e-7}, {0.52 + 1e-9, 0.2 * s2, 1e-7}});
}

TEST_F(EcgBeatTest, QtShorterThanQrsLeavesTheRestOfTheCycleFlat)
{
    S.ecg.QTInterval = 100.0;
    S.ecg.QRSDuration = 200.0;  // QRS 0.16..0.36 s
    Apply(8);
    EXPECT_NE(V(0.3), 0.0);
    for (double t = 0.361; t < 1.0; t += 0.001) {
        ASSERT_EQ(V(t), 0.0) << t;
    }
}

} // namespace

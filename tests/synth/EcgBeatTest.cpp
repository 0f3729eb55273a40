// ECG beat model: fitting the standard beat to the beat period, the ST
// deviation of the custom beat and a QT shorter than the QRS (the shapes at
// their landmarks are in the function generator's table). Expected values
// are worked out by hand from the interval settings (QRS split 7/16, 8/16,
// 1/16 after a 10 ms lead-in; QT remainder shared between ST and T in the
// ratio of their weights).
#include "SynthTestSupport.h"

#include <cmath>

namespace {

using namespace synthtest;

class EcgBeatTest : public SynthTest {};

TEST_F(EcgBeatTest, FastRatesDropSTThenShortenAndDropTThenCutTheQrs)
{
    // Beat period, QRS setting, expected end of QRS (t3), end of ST (t4) and
    // end of T (t5) of the standard beat.
    const struct { double period, qrs, t3, t4, t5; } rows[] = {
        {0.40, 100, 0.11, 0.18, 0.36},     // P >= Q + 0.25: ST 0.07, T 0.18
        {0.30, 100, 0.11, 0.11, 0.29},     // Q + 0.18 <= P < Q + 0.25: no ST
        {0.27, 100, 0.11, 0.11, 0.27},     // Q + 0.16 <= P < Q + 0.18: T 0.16
        {1.0 / 6, 100, 0.11, 0.11, 0.11},  // 6 beats per second: no ST, no T
        {1.0 / 6, 200, 1.0 / 6 + 0.01, 1.0 / 6 + 0.01, 1.0 / 6 + 0.01}};  // a wider QRS cut to the period
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

TEST_F(EcgBeatTest, StDeviationAndAQtShorterThanTheQrs)
{
    // ST deviation 0.1 mV, QT 450 ms: 0.35 s rest, ST 0.098 s (0.26..0.358),
    // T 0.252 s (..0.61). The ramp from the S trough reaches the ST level at
    // its end; the T wave rides on it, (T - ST) * s + ST, until 90 ms before
    // its end, where it steps down by ST * (1 - s) to the plain arc T * s.
    // QT 100 ms with a QRS of 200 ms (0.16..0.36 s): ST and T have negative
    // lengths, and the rest of the cycle after the QRS is flat.
    const double s1 = std::sin(M_PI * (0.4 - 0.358) / 0.252), s2 = std::sin(M_PI * (0.52 - 0.358) / 0.252);
    const struct { double st, qt, qrs, t, v, tol; } rows[] = {
        {0.1, 450, 100, 0.256875, -0.0125, 1e-12}, {0.1, 450, 100, 0.2599999, 0.1, 1e-5}, {0.1, 450, 100, 0.3, 0.1, 0},
        {0.1, 450, 100, 0.4, 0.1 * s1 + 0.1, 1e-8}, {0.1, 450, 100, 0.52 - 1e-9, 0.1 * s2 + 0.1, 1e-7},
        {0.1, 450, 100, 0.52 + 1e-9, 0.2 * s2, 1e-7}, {0, 100, 200, 0.3, 0.35, 1e-12}, {0, 100, 200, 0.361, 0, 0},
        {0, 100, 200, 0.5, 0, 0}, {0, 100, 200, 0.999, 0, 0}};
    for (const auto& r : rows) {
        S.ecg.CusST = r.st;
        S.ecg.QTInterval = r.qt;
        S.ecg.QRSDuration = r.qrs;
        Apply(8);
        EXPECT_NEAR(V(r.t), r.v, r.tol) << r.st << " " << r.qt << " " << r.t;
    }
}

} // namespace

#include "synth/EcgBeat.h"


namespace hsim {

void _CheckECGTime(SynthState& s)
{
    double q = s.ecg.QRSDuration / 1000;
    const double period = 1 / s.out.F;
    double st = 0.07;
    double tw = 0.18;

    // Fit the standard beat into the period: a fast rate first loses the
    // ST segment, then shortens the T wave to 0.16 s, then loses the T wave
    // and finally cuts the QRS to the period.
    if (period < q + st + tw) {
        st = 0;
        if (period < q + 0.18) {
            tw = 0.16;
        }
        if (period < q + 0.16) {
            tw = 0;
            if (q > period) {
                q = period;
            }
        }
    }

    s.beat.t1 = 0.4375 * q + 0.01;
    s.beat.t2 = s.beat.t1 + 0.5 * q;
    s.beat.t3 = s.beat.t2 + 0.0625 * q;
    s.beat.t4 = s.beat.t3 + st;
    s.beat.t5 = s.beat.t4 + tw;

    // The custom beat shares the QT interval after the QRS between the ST
    // segment and the T wave in the ratio of their two weights.
    const double rest = s.ecg.QTInterval / 1000 - q;
    const double weights = s.ecg.STSegment + s.ecg.TDuration;
    double stc;
    double tc;
    if (weights != 0) {
        stc = s.ecg.STSegment * rest / weights;
        tc = s.ecg.TDuration * rest / weights;
    } else {
        stc = s.ecg.STSegment;
        tc = s.ecg.TDuration;
    }
    s.beat.Cus_t1 = s.ecg.PDuration / 1000;
    s.beat.Cus_t2 = (s.ecg.PRInterval - s.ecg.PDuration) / 1000 + s.beat.Cus_t1;
    s.beat.Cus_t3 = 0.4375 * q + s.beat.Cus_t2;
    s.beat.Cus_t4 = 0.5 * q + s.beat.Cus_t3;
    s.beat.Cus_t5 = 0.0625 * q + s.beat.Cus_t4;
    s.beat.Cus_t6 = s.beat.Cus_t5 + stc;
    s.beat.Cus_t7 = s.beat.Cus_t6 + tc;

    s.beat.Cus_v125 = -s.work.A / 7;
}

}  // namespace hsim

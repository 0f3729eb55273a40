#include "synth/EcgBeat.h"

#include "synth/WorkingValues.h"

double s_t1 = 0.0;
double s_t2 = 0.0;
double s_t3 = 0.0;
double s_t4 = 0.0;
double s_t5 = 0.0;

double s_Cus_t1 = 0.0;
double s_Cus_t2 = 0.0;
double s_Cus_t3 = 0.0;
double s_Cus_t4 = 0.0;
double s_Cus_t5 = 0.0;
double s_Cus_t6 = 0.0;
double s_Cus_t7 = 0.0;
double s_Cus_v125 = 0.0;

void _CheckECGTime()
{
    double q = g_QRSDuration / 1000;
    const double period = 1 / g_F;
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

    s_t1 = 0.4375 * q + 0.01;
    s_t2 = s_t1 + 0.5 * q;
    s_t3 = s_t2 + 0.0625 * q;
    s_t4 = s_t3 + st;
    s_t5 = s_t4 + tw;

    // The custom beat shares the QT interval after the QRS between the ST
    // segment and the T wave in the ratio of their two weights.
    const double rest = g_QTInterval / 1000 - q;
    const double weights = g_STSegment + g_TDuration;
    double stc;
    double tc;
    if (weights != 0) {
        stc = g_STSegment * rest / weights;
        tc = g_TDuration * rest / weights;
    } else {
        stc = g_STSegment;
        tc = g_TDuration;
    }
    s_Cus_t1 = g_PDuration / 1000;
    s_Cus_t2 = (g_PRInterval - g_PDuration) / 1000 + s_Cus_t1;
    s_Cus_t3 = 0.4375 * q + s_Cus_t2;
    s_Cus_t4 = 0.5 * q + s_Cus_t3;
    s_Cus_t5 = 0.0625 * q + s_Cus_t4;
    s_Cus_t6 = s_Cus_t5 + stc;
    s_Cus_t7 = s_Cus_t6 + tc;

    s_Cus_v125 = -s_A / 7;
}

// Analytic stand-ins for the sample tables whose published data a build does
// not have. A stand-in beat is a chain of straight segments through
// (millisecond, microvolt) knots, evaluated with integer arithmetic at compile
// time, so a stand-in table sits in read-only data exactly like a real one.
// The shapes only keep the amplitude envelopes of the real tables; they are
// not the published waveforms.
#pragma once

#include <cstdint>

namespace hsim_standin {

// Wave amplitudes of one stand-in beat, microvolts.
struct BeatAmplitudes {
    int p;   // P wave peak
    int q;   // Q dip
    int r;   // R peak
    int s;   // S trough
    int st;  // ST segment level
    int t;   // T wave peak
};

struct Knot {
    int ms;
    int uv;
};

// One second of beat at 1 ms resolution: flat to 80 ms, P wave 80..180 ms
// (peak at 130), QRS 240..330 ms (Q at 255, R at 280, S at 305, J point at
// 330 on the ST level), ST segment to 430 ms, T wave peak at 530 ms back to 0
// at 630 ms, flat to the end. Between knots the value is interpolated and
// truncated toward zero; every knot lies on a whole millisecond, so the
// extremes of a beat are exactly its knot values.
constexpr int32_t BeatSample(const BeatAmplitudes& a, int ms)
{
    const Knot knots[] = {{0, 0},      {80, 0},     {130, a.p},   {180, 0},     {240, 0},
                          {255, a.q},  {280, a.r},  {305, a.s},   {330, a.st},  {430, a.st},
                          {530, a.t},  {630, 0},    {1000, 0}};
    constexpr int kKnots = sizeof(knots) / sizeof(knots[0]);
    int32_t value = 0;
    for (int j = 0; j + 1 < kKnots; ++j) {
        const Knot& from = knots[j];
        const Knot& to = knots[j + 1];
        if (ms >= from.ms && ms < to.ms) {
            value = from.uv + (to.uv - from.uv) * (ms - from.ms) / (to.ms - from.ms);
        }
    }
    return value;
}

// Rows of one stand-in beat each, 1000 samples (1 s at 1000 per second) a row.
template <int Rows>
struct BeatTable {
    int32_t uv[Rows * 1000];
    constexpr explicit BeatTable(const BeatAmplitudes (&rows)[Rows]) : uv()
    {
        for (int row = 0; row < Rows; ++row) {
            for (int ms = 0; ms < 1000; ++ms) {
                uv[row * 1000 + ms] = BeatSample(rows[row], ms);
            }
        }
    }
};

}  // namespace hsim_standin

// Initialiser lists of 10, 100 and 1000 entries X(b), X(b + 1), ...: a table
// is defined by listing its entries, since a C array cannot be initialised
// from a computed one.
#define HSIM_REPEAT10(X, b)                                                                       \
    X((b) + 0), X((b) + 1), X((b) + 2), X((b) + 3), X((b) + 4), X((b) + 5), X((b) + 6),           \
        X((b) + 7), X((b) + 8), X((b) + 9)
#define HSIM_REPEAT100(X, b)                                                                      \
    HSIM_REPEAT10(X, (b) + 0), HSIM_REPEAT10(X, (b) + 10), HSIM_REPEAT10(X, (b) + 20),            \
        HSIM_REPEAT10(X, (b) + 30), HSIM_REPEAT10(X, (b) + 40), HSIM_REPEAT10(X, (b) + 50),       \
        HSIM_REPEAT10(X, (b) + 60), HSIM_REPEAT10(X, (b) + 70), HSIM_REPEAT10(X, (b) + 80),       \
        HSIM_REPEAT10(X, (b) + 90)
#define HSIM_REPEAT1000(X, b)                                                                     \
    HSIM_REPEAT100(X, (b) + 0), HSIM_REPEAT100(X, (b) + 100), HSIM_REPEAT100(X, (b) + 200),       \
        HSIM_REPEAT100(X, (b) + 300), HSIM_REPEAT100(X, (b) + 400), HSIM_REPEAT100(X, (b) + 500), \
        HSIM_REPEAT100(X, (b) + 600), HSIM_REPEAT100(X, (b) + 700), HSIM_REPEAT100(X, (b) + 800), \
        HSIM_REPEAT100(X, (b) + 900)

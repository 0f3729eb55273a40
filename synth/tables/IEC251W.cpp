// The IEC 60601-2-51 calibration ECGs: 16 patterns of one second at 1000
// samples per second, in microvolts.
//
// The published samples are commercial. A build whose data directory holds
// them (IEC251W/p<i>.uv.txt, see README.md) uses them; any other build gets
// the stand-in below, which HSIMGetTableProvenance reports as such.
#include "synth/tables/StandardTables.h"
#include "synth/tables/StandInShapes.h"

#include "hsim_table_sources.h"

#if HSIM_IEC251W_PUBLISHED

constinit const int32_t IEC251W[kIEC251Patterns * kIEC251Samples] = {
#include "hsim_iec251w.inc"
};

#else

namespace {

using hsim_standin::BeatAmplitudes;

// A calibration beat of amplitude a: R at +a, S at -a (symmetric), small P and T.
constexpr BeatAmplitudes Calibration(int a)
{
    return {a / 10, 0, a, -a, 0, a / 4};
}

// Patterns 0..5: +-500, +-1000, +-1500, +-2000, +-3000, +-5000 uV; pattern 15:
// +-4000 uV; patterns 6..14: beats of different shapes (S depth, ST elevation
// and depression, inverted T) within +-2000 uV.
constexpr BeatAmplitudes kStandInBeats[kIEC251Patterns] = {
    Calibration(500),
    Calibration(1000),
    Calibration(1500),
    Calibration(2000),
    Calibration(3000),
    Calibration(5000),
    {200, 0, 2000, 0, 0, 400},
    {200, -200, 2000, -500, 0, 400},
    {200, 0, 2000, -1000, 0, 400},
    {200, 0, 1000, -1000, 0, 300},
    {200, 0, 1500, -500, 200, 500},
    {200, 0, 1500, -500, -200, -300},
    {100, -100, 2000, -500, 100, 600},
    {200, -500, 1500, -1500, 0, 500},
    {0, 0, 2000, -2000, -100, 200},
    Calibration(4000),
};
constexpr hsim_standin::BeatTable<kIEC251Patterns> kStandIn(kStandInBeats);

}  // namespace

#define HSIM_STANDIN(i) kStandIn.uv[i]
constinit const int32_t IEC251W[kIEC251Patterns * kIEC251Samples] = {
    HSIM_REPEAT1000(HSIM_STANDIN, 0),     HSIM_REPEAT1000(HSIM_STANDIN, 1000),
    HSIM_REPEAT1000(HSIM_STANDIN, 2000),  HSIM_REPEAT1000(HSIM_STANDIN, 3000),
    HSIM_REPEAT1000(HSIM_STANDIN, 4000),  HSIM_REPEAT1000(HSIM_STANDIN, 5000),
    HSIM_REPEAT1000(HSIM_STANDIN, 6000),  HSIM_REPEAT1000(HSIM_STANDIN, 7000),
    HSIM_REPEAT1000(HSIM_STANDIN, 8000),  HSIM_REPEAT1000(HSIM_STANDIN, 9000),
    HSIM_REPEAT1000(HSIM_STANDIN, 10000), HSIM_REPEAT1000(HSIM_STANDIN, 11000),
    HSIM_REPEAT1000(HSIM_STANDIN, 12000), HSIM_REPEAT1000(HSIM_STANDIN, 13000),
    HSIM_REPEAT1000(HSIM_STANDIN, 14000), HSIM_REPEAT1000(HSIM_STANDIN, 15000),
};
#undef HSIM_STANDIN

#endif

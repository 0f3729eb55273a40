// The ANE20000 test ECG: nine leads of one second at 1000 samples per second,
// in microvolts.
//
// The published samples are commercial. A build whose data directory holds
// them (ANE20000/lead<i>.uv.txt, see README.md) uses them; any other build gets
// the stand-in below, which HSIMGetTableProvenance reports as such.
#include "synth/tables/StandardTables.h"
#include "synth/tables/StandInShapes.h"

#include "hsim_table_sources.h"

#if HSIM_ANE20000_PUBLISHED

constinit const int32_t ANE20000[kANE20000Leads * kANE20000Samples] = {
#include "hsim_ane20000.inc"
};

#else

namespace {

// Nine leads of one beat, all similar but different, within -1929..+1821 uV
// like the real leads: lead 1 carries the largest R wave (+1821 uV), lead 4 a
// deep S wave (-1929 uV).
constexpr hsim_standin::BeatAmplitudes kStandInLeads[kANE20000Leads] = {
    {100, -50, 1000, -300, 0, 250},
    {150, -80, 1821, -400, 20, 350},
    {50, -30, 800, -500, -10, 100},
    {-50, 0, 300, -1200, 0, -150},
    {80, 0, 400, -1929, 60, 300},
    {80, 0, 900, -1400, 80, 500},
    {80, -40, 1400, -900, 40, 450},
    {80, -60, 1600, -500, 20, 400},
    {80, -80, 1500, -300, 10, 350},
};
constexpr hsim_standin::BeatTable<kANE20000Leads> kStandIn(kStandInLeads);

}  // namespace

#define HSIM_STANDIN(i) kStandIn.uv[i]
constinit const int32_t ANE20000[kANE20000Leads * kANE20000Samples] = {
    HSIM_REPEAT1000(HSIM_STANDIN, 0),    HSIM_REPEAT1000(HSIM_STANDIN, 1000),
    HSIM_REPEAT1000(HSIM_STANDIN, 2000), HSIM_REPEAT1000(HSIM_STANDIN, 3000),
    HSIM_REPEAT1000(HSIM_STANDIN, 4000), HSIM_REPEAT1000(HSIM_STANDIN, 5000),
    HSIM_REPEAT1000(HSIM_STANDIN, 6000), HSIM_REPEAT1000(HSIM_STANDIN, 7000),
    HSIM_REPEAT1000(HSIM_STANDIN, 8000),
};
#undef HSIM_STANDIN

#endif

// The IEC 60601-2-27 test ECGs: ten patterns at 720 samples per second, each
// in a 66000-entry row that is zero after the pattern's own length.
//
// The entries, plain microvolt integers, come from hsim_iec227w.inc, which the
// build writes from the data directory (see README.md and
// GenerateTables.cmake): the WFDB records converted with their gains, or the
// derived text files, or the stand-in when neither was usable.
#include "synth/tables/StandardTables.h"

// Pattern lengths in seconds. The sample counts are those of the ten records;
// they are fixed, so the cycle lengths do not depend on the data at hand.
#define HSIM_IEC227_SECONDS(p) double(kIEC227Counts[p]) / kIEC227Rate
constinit const double IEC227WL[kIEC227Patterns] = {
    HSIM_IEC227_SECONDS(0), HSIM_IEC227_SECONDS(1), HSIM_IEC227_SECONDS(2), HSIM_IEC227_SECONDS(3),
    HSIM_IEC227_SECONDS(4), HSIM_IEC227_SECONDS(5), HSIM_IEC227_SECONDS(6), HSIM_IEC227_SECONDS(7),
    HSIM_IEC227_SECONDS(8), HSIM_IEC227_SECONDS(9)};
#undef HSIM_IEC227_SECONDS

constinit const int32_t IEC227W[kIEC227Patterns * kIEC227Stride] = {
#include "hsim_iec227w.inc"
};

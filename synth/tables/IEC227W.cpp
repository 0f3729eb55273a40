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
constinit const double IEC227WL[kIEC227Patterns] = {
    43081.0 / kIEC227Rate, 43142.0 / kIEC227Rate, 43144.0 / kIEC227Rate, 34511.0 / kIEC227Rate,
    65211.0 / kIEC227Rate, 65214.0 / kIEC227Rate, 65207.0 / kIEC227Rate, 65238.0 / kIEC227Rate,
    65239.0 / kIEC227Rate, 65237.0 / kIEC227Rate};

constinit const int32_t IEC227W[kIEC227Patterns * kIEC227Stride] = {
#include "hsim_iec227w.inc"
};

// Rhythm of the IEC 60601-2-47 patterns, one row per pattern: mean RR
// interval, depth and frequency of its sinusoidal modulation. Row 0 is not
// read (pattern 0 is a pulse train).
#include "synth/tables/StandardTables.h"

constinit const double rravg[kIEC247Patterns] = {1.0, 0.8, 1.0, 3.0, 1.5};             // s
constinit const double rrdev[kIEC247Patterns] = {0.0, 0.035, 0.07, 0.28, 0.14};        // s
constinit const double hrvfreq[kIEC247Patterns] = {0.0, 0.25, 0.1, 0.033333, 0.000278}; // Hz

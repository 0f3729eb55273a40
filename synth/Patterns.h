// The standard test patterns as whole arrays, the IEC 60601-2-47 patterns
// built from their rhythm tables, and the rule that ends a pattern that does
// not loop. The extern "C" functions are exported as they are: they need no
// device, no lock and no file.
#pragma once

#include "hsim_types.h"
#include "synth/State.h"

extern "C" {
HSIM_API const int* GetSpecialWave227Array(int index, int* length, int* rate);
HSIM_API const int* GetSpecialWave251Array(int index, int* length, int* rate);
HSIM_API const double* GetSpecialWave247Array(int index, int* length, int* rate);
HSIM_API const double* getECG227Array(void);
HSIM_API double* getArray(IEC247_PATTERN pattern);
HSIM_API const double* getIEC47RawArray(IEC247_PATTERN pattern);
HSIM_API const double* getRRavgArray(void);
HSIM_API const double* getRRdevArray(void);
HSIM_API const double* getHRVfreqArray(void);
HSIM_API void init(void);
HSIM_API int HSIMGetTableProvenance(int table, const char** source);
}

namespace hsim {

// Called by the function generator before every sample of codes 9, 10, 16
// and 17: with looping off, the first sample past the end of the pattern
// (the output clock counts from the start of streaming, so the pattern has
// played once from its beginning) marks the pattern ended in the clock.
void _CheckStandardLoop(SynthState& s);

}  // namespace hsim

// The two 16-bit DAC words of a streamed or uploaded sample.
#pragma once

#include <cstdint>

// DC channel: unsigned, 0 at -1000 mV, 0x8000 at 0 mV, 0xFFFF at +1000 mV.
uint16_t ECG_DC_VoltageToDAC(double mv);
// Attenuation of the respiration impedance network on the signal channel.
double GetAttenuation();
// Signal channel in counts: 6400 per mV divided by the attenuation, clipped to
// the signed 16-bit range but not yet truncated. NaN gives 0.
double ScaleAcCounts(double mv);
// The same with the counts per mV given: (1600 / attenuation) * 4.
double ScaleAcCounts(double mv, double countsPerMv);
// Counts per mV of the signal channel with the present attenuation.
double AcCountsPerMv();
// The AC word: the clipped counts truncated toward zero.
inline int16_t AcWord(double counts)
{
    return int16_t(counts);
}

// Sample words. The DC DAC spans +-1000 mV over 16 bits unsigned; the signal
// DAC is signed with 1600 x 4 = 6400 counts per mV, so its full scale is about
// +-5.12 mV. With the respiration impedance network switched in, the signal is
// attenuated by the network and the host pre-scales it by the same factor.
#include "protocol/SampleWords.h"

#include "protocol/Commands.h"
#include "protocol/LinkContext.h"

#include <cmath>

uint16_t ECG_DC_VoltageToDAC(double mv)
{
    double v = mv;
    if (std::isnan(v))
        return 0xFFFF;
    if (v < -1000.0)
        v = -1000.0;
    if (v > 1000.0)
        v = 1000.0;
    return uint16_t(int32_t((v + 1000.0) / 2000.0 * 65535.0 + 0.5) & 0xFFFF);
}

double GetAttenuation()
{
    double attenuation = 1.0;
    if (hsim::CurrentLink().respiration.RespirationEnabled) {
        switch (hsim::CurrentLink().respiration.nRespirationResistance) {
        case 500: attenuation = 2.873; break;
        case 1000: attenuation = 7.827; break;
        case 1500: attenuation = 13.134; break;
        case 2000: attenuation = 17.92; break;
        case 2500: attenuation = 22.9; break;
        default: break;
        }
    }
    return attenuation;
}

// A NaN would reach the integer conversion of the word, which is undefined
// for it: it plays as 0 mV.
double AcCountsPerMv()
{
    return (1600.0 / GetAttenuation()) * 4.0;
}

double ScaleAcCounts(double mv)
{
    return ScaleAcCounts(mv, AcCountsPerMv());
}

double ScaleAcCounts(double mv, double countsPerMv)
{
    double w = mv * countsPerMv;
    if (std::isnan(w))
        w = 0.0;
    else if (w > 32767.0)
        w = 32767.0;
    else if (w < -32768.0)
        w = -32768.0;
    return w;
}

#include "synth/FunctionGenerator.h"

#include "hsim.h"
#include "synth/EcgBeat.h"
#include "synth/Pacing.h"
#include "synth/Parameters.h"
#include "synth/Respiration.h"
#include "synth/StandardPatterns.h"
#include "synth/WorkingValues.h"
#include "synth/tables/StandardTables.h"

#include <cmath>
#include <cstdlib>

double s_InputDynamicRangeAC = 0.0;

namespace {

// Table position of a phase: trunc32(t * rate), kept inside [0, count - 1]
// so that a phase at the very end of a cycle reads the last valid entry.
inline int32_t TableIndex(double t, double rate, int32_t count)
{
    int32_t i = _Trunc32(t * rate);
    if (i >= count) {
        i = count - 1;
    }
    if (i < 0) {
        i = 0;
    }
    return i;
}

// 1 / sample rate in quadruple precision, recomputed only when the rate
// changes: the ramp step of code 15 is never rounded to double.
Quad s_qRampStep = 0;
int s_nRampStepRate = 0;

inline Quad RampStep()
{
    if (g_nSampleRate != s_nRampStepRate) {
        s_nRampStepRate = g_nSampleRate;
        s_qRampStep = static_cast<Quad>(1) / static_cast<Quad>(g_nSampleRate);
    }
    return s_qRampStep;
}

// Dynamic-range overlay of codes 2 and 3: a sine on the output clock (not
// tied to the carrier's cycle), the sum clipped to +-5 mV.
inline double DynamicRangeOverlay(double v)
{
    if (g_DynamicRangeTest) {
        v = v + (g_ADynamicRange / 2) * std::sin((g_fOutputTime * 6.2831853) * g_FDynamicRange);
        if (v > 5.0) {
            v = 5.0;
        }
        if (v < -5.0) {
            v = -5.0;
        }
    }
    return v;
}

// Mains interference of codes 7, 8 and 17: a 50 or 60 Hz sine, or uniform
// noise in [-1, 1] times the amplitude (one rand() call per sample).
inline double MainsNoiseOverlay(double v)
{
    if (g_MainNoise != 0) {
        if (g_MainNoise == 3) {
            // 2 * rand() is formed in double: in int it overflows for half
            // of the values rand() returns.
            v = v + ((2.0 * std::rand()) / 2147483647.0 - 1.0) * s_MainsNoiseAmplitude;
        } else {
            const double f = (g_MainNoise == 1) ? 50.0 : 60.0;
            v = v + std::sin((f * g_fOutputTime) * 6.2831853) * s_MainsNoiseAmplitude;
        }
    }
    return v;
}

// Baseline drift of codes 7 and 8: a triangle on the output clock rising
// from 0 to +amp/2 at L/4, falling to -amp/2 at 3L/4, back to 0 at L.
inline double DriftOverlay(double v)
{
    if (g_AAMIDriftTest) {
        const double d = _FoldTime(g_fOutputTime, g_AAMIDriftTestWaveLen);
        const double slope = g_AAMIDriftTestSlope;
        const double amp = g_AAMIDriftTestAmp;
        if (d < g_AAMIDriftTestWaveLenQuad) {
            v = v + slope * d;
        } else if (d < g_AAMIDriftTestWaveLenQuad3) {
            v = (v - slope * d) + amp;
        } else {
            v = (slope * d + v) - 2 * amp;
        }
    }
    return v;
}

// ECG beats (codes 7 and 8) with respiration modulation, the overlays and
// the clamp to the output range.
double EcgVoltage(double t, bool custom)
{
    double tau = t;
    double r = 0;
    bool haveR = false;
    if (s_FreqModHz != 0) {
        // The beat scheduler decides where the beat began; the respiration
        // shape is taken at the beat time.
        tau = _AdvanceBeatScheduler();
        r = _solveRespireVoltage(tau);
        haveR = true;
    }

    double a = s_A;
    if (s_AmpModV != 0) {
        if (!haveR) {
            r = _solveRespireV();
            haveR = true;
        }
        if (r != 0) {
            a = a + s_AmpModV * r;
        }
    }

    double v = custom ? _CustomBeatVoltage(tau, a) : _StandardBeatVoltage(tau, a);

    if (s_BaselineModV != 0) {
        if (!haveR) {
            r = _solveRespireV();
        }
        v = v + s_BaselineModV * r;
    }
    v = MainsNoiseOverlay(v);
    v = DriftOverlay(v);
    if (v > g_fVoltageRange) {
        v = g_fVoltageRange;
    }
    if (v < -g_fVoltageRange) {
        v = -g_fVoltageRange;
    }
    return v;
}

// Input dynamic range test (code 15): from 20 s to 1220 s a ramp of
// +1 mV/s up to 620 s and -1 mV/s after, restarted from 0 by the DC
// staircase at every half second. The addition is made in quadruple
// precision and only the sum is rounded.
double InputDynamicRangeVoltage()
{
    double v = 0.0;
    if (g_fOutputTime >= 20.0 && g_fOutputTime < 1220.0) {
        const Quad step = (g_fOutputTime <= 620.0) ? RampStep() : -RampStep();
        s_InputDynamicRangeAC =
            static_cast<double>(static_cast<Quad>(s_InputDynamicRangeAC) + step);
        v = s_InputDynamicRangeAC;
    }
    return v;
}

double IEC227Voltage(double t)
{
    double v = 0.0;
    _CheckStandardLoop();
    const int p = g_nSpecialWaveform;
    if (p >= 0 && p < kIEC227Patterns) {
        // Past its own length a pattern is zero-padded; the last sample
        // of the pattern is the last valid entry of its cycle.
        v = IEC227W[p * kIEC227Stride + TableIndex(t, 720.0, kIEC227Counts[p])] / 1000.0;
    }
    return v;
}

double IEC251Voltage(double t)
{
    double v = 0.0;
    _CheckStandardLoop();
    const int p = g_nSpecialWaveform;
    if (p >= 0 && p < kIEC251Patterns) {
        v = IEC251W[p * kIEC251Samples + TableIndex(t, 1000.0, kIEC251Samples)] / 1000.0;
    }
    return v;
}

double IEC247Voltage(double t)
{
    double v = 0.0;
    _CheckStandardLoop();
    const int p = g_nSpecialWaveform;
    if (p >= 0 && p < kIEC247Patterns) {
        const double* pattern = getIEC47RawArray(static_cast<IEC247_PATTERN>(p));
        if (pattern != nullptr) {
            v = pattern[TableIndex(t, 1000.0, IEC247PatternLength(p))];
        }
    }
    return v;
}

double ANE20000Voltage(double t)
{
    double v = 0.0;
    _CheckStandardLoop();
    const int lead = g_nANE20000ChannelNumber;
    if (lead >= 0 && lead < kANE20000Leads) {
        v = ANE20000[lead * kANE20000Samples + TableIndex(t, 1000.0, kANE20000Samples)] / 1000.0;
    }
    return MainsNoiseOverlay(v);
}

double EcgFileVoltage(double t)
{
    double v = 0.0;
    if (ECGFile != nullptr && ECGFileSize > 0) {
        const double u = ECGFileUnitMV ? 1.0 : 1000.0;
        v = ECGFile[TableIndex(t, ECGFileFreq, ECGFileSize)] / u;
    }
    return v;
}

} // namespace

double _GetMainFunctionVoltage(double t)
{
    double v = 0.0;
    switch (g_MainOutput) {
    case 1: // sine
        v = std::sin((t * 6.2831853) * g_F) * s_A;
        break;
    case 2: { // triangle: 0 at the start, +s_A at 1/4, -s_A at 3/4
        const double k = 4 * s_A / g_fTimePeriod;
        if (t < 0.25 * g_fTimePeriod) {
            v = t * k;
        } else if (t < 0.75 * g_fTimePeriod) {
            v = -t * k + 2 * s_A;
        } else {
            v = t * k - 4 * s_A;
        }
        v = DynamicRangeOverlay(v);
        break;
    }
    case 3: // square
        v = (t < g_fTimePeriod / 2) ? s_A : -s_A;
        v = DynamicRangeOverlay(v);
        break;
    case 4: // rectangular pulse of width s_PW
        v = (t < (s_PW + 0.001) - 0.001) ? 2 * s_A : 0.0;
        break;
    case 5: { // triangular pulse of width s_PW, after the pacing delay
        const double d = s_PacDelayTP;
        const double w = s_PW;
        const double k = 4 * s_A / w;
        if (t < d) {
            v = 0.0;
        } else if (t < w / 2 + d) {
            v = k * (t - d);
        } else if (t < w + d) {
            v = -(t - d) * k + 4 * s_A;
        } else {
            v = 0.0;
        }
        break;
    }
    case 6: // exponential decay, 50 ms time constant
        v = 2 * s_A * std::exp(-t / 0.05);
        break;
    case 7:
        v = EcgVoltage(t, false);
        break;
    case 8:
        v = EcgVoltage(t, true);
        break;
    case 9:
        v = IEC227Voltage(t);
        break;
    case 10:
        v = IEC251Voltage(t);
        break;
    case 13: // biphasic exponential: +-s_A edges decaying with 50 ms
        if (t < 0.5) {
            v = std::exp(-t / 0.05) * s_A;
        } else {
            v = -s_A * std::exp(-(t - 0.5) / 0.05);
        }
        break;
    case 14:
    case 18:
        v = EcgFileVoltage(t);
        break;
    case 15:
        v = InputDynamicRangeVoltage();
        break;
    case 16:
        v = IEC247Voltage(t);
        break;
    case 17:
        v = ANE20000Voltage(t);
        break;
    default: // 0, the reserved codes 11 and 12, and unknown codes
        v = 0.0;
        break;
    }
    return v;
}

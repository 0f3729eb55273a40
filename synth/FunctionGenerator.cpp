#include "synth/FunctionGenerator.h"

#include "synth/EcgBeat.h"
#include "synth/Patterns.h"
#include "synth/Respiration.h"
#include "synth/tables/StandardTables.h"

#include <cmath>

namespace hsim {

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
inline Quad RampStep(SynthState& s)
{
    if (s.out.nSampleRate != s.range.RampStepRate) {
        s.range.RampStepRate = s.out.nSampleRate;
        s.range.RampStep = static_cast<Quad>(1) / static_cast<Quad>(s.out.nSampleRate);
    }
    return s.range.RampStep;
}

// Dynamic-range overlay of codes 2 and 3: a sine on the output clock (not
// tied to the carrier's cycle), the sum clipped to +-5 mV.
inline double DynamicRangeOverlay(SynthState& s, double v)
{
    if (s.test.DynamicRangeTest) {
        v = v + (s.test.ADynamicRange / 2) * std::sin((s.clock.fOutputTime * 6.2831853) * s.test.FDynamicRange);
        if (v > 5.0) {
            v = 5.0;
        }
        if (v < -5.0) {
            v = -5.0;
        }
    }
    return v;
}

// Next value 0 .. 2^31 - 1 of the noise generator.
inline uint32_t NextNoise(SynthState& s)
{
    s.work.NoiseState = (s.work.NoiseState * 1103515245u + 12345u) & 0x7FFFFFFFu;
    return s.work.NoiseState;
}

// Mains interference of codes 7, 8 and 17: a 50 or 60 Hz sine, or uniform
// noise in [-1, 1] times the amplitude (one value of the noise generator per
// sample).
inline double MainsNoiseOverlay(SynthState& s, double v)
{
    if (s.test.MainNoise != 0) {
        if (s.test.MainNoise == 3) {
            v = v + ((2.0 * NextNoise(s)) / 2147483647.0 - 1.0) * s.work.MainsNoiseAmplitude;
        } else {
            const double f = (s.test.MainNoise == 1) ? 50.0 : 60.0;
            v = v + std::sin((f * s.clock.fOutputTime) * 6.2831853) * s.work.MainsNoiseAmplitude;
        }
    }
    return v;
}

// Baseline drift of codes 7 and 8: a triangle on the output clock rising
// from 0 to +amp/2 at L/4, falling to -amp/2 at 3L/4, back to 0 at L.
inline double DriftOverlay(SynthState& s, double v)
{
    if (s.test.AAMIDriftTest) {
        const double d = _FoldTime(s.clock.fOutputTime, s.test.AAMIDriftTestWaveLen);
        const double slope = s.test.AAMIDriftTestSlope;
        const double amp = s.test.AAMIDriftTestAmp;
        if (d < s.test.AAMIDriftTestWaveLenQuad) {
            v = v + slope * d;
        } else if (d < s.test.AAMIDriftTestWaveLenQuad3) {
            v = (v - slope * d) + amp;
        } else {
            v = (slope * d + v) - 2 * amp;
        }
    }
    return v;
}

// ECG beats (codes 7 and 8) with respiration modulation, the overlays and
// the clamp to the output range.
double EcgVoltage(SynthState& s, double t, bool custom)
{
    double tau = t;
    double r = 0;
    bool haveR = false;
    if (s.resp.FreqModHz != 0) {
        // The beat scheduler decides where the beat began; the respiration
        // shape is taken at the beat time.
        tau = _AdvanceBeatScheduler(s);
        r = _solveRespireVoltage(s, tau);
        haveR = true;
    }

    double a = s.work.A;
    if (s.resp.AmpModV != 0) {
        if (!haveR) {
            r = _solveRespireV(s);
            haveR = true;
        }
        if (r != 0) {
            a = a + s.resp.AmpModV * r;
        }
    }

    double v = custom ? _CustomBeatVoltage(s, tau, a) : _StandardBeatVoltage(s, tau, a);

    if (s.resp.BaselineModV != 0) {
        if (!haveR) {
            r = _solveRespireV(s);
        }
        v = v + s.resp.BaselineModV * r;
    }
    v = MainsNoiseOverlay(s, v);
    v = DriftOverlay(s, v);
    if (v > s.work.fVoltageRange) {
        v = s.work.fVoltageRange;
    }
    if (v < -s.work.fVoltageRange) {
        v = -s.work.fVoltageRange;
    }
    return v;
}

// Input dynamic range test (code 15): from 20 s to 1220 s a ramp of
// +1 mV/s up to 620 s and -1 mV/s after, restarted from 0 by the DC
// staircase at every half second. The addition is made in quadruple
// precision and only the sum is rounded.
double InputDynamicRangeVoltage(SynthState& s)
{
    double v = 0.0;
    if (s.clock.fOutputTime >= 20.0 && s.clock.fOutputTime < 1220.0) {
        const Quad step = (s.clock.fOutputTime <= 620.0) ? RampStep(s) : -RampStep(s);
        s.range.InputDynamicRangeAC =
            static_cast<double>(static_cast<Quad>(s.range.InputDynamicRangeAC) + step);
        v = s.range.InputDynamicRangeAC;
    }
    return v;
}

double IEC227Voltage(SynthState& s, double t)
{
    double v = 0.0;
    _CheckStandardLoop(s);
    const int p = s.pattern.nSpecialWaveform;
    if (p >= 0 && p < kIEC227Patterns) {
        // Past its own length a pattern is zero-padded; the last sample
        // of the pattern is the last valid entry of its cycle.
        v = IEC227W[p * kIEC227Stride + TableIndex(t, 720.0, kIEC227Counts[p])] / 1000.0;
    }
    return v;
}

double IEC251Voltage(SynthState& s, double t)
{
    double v = 0.0;
    _CheckStandardLoop(s);
    const int p = s.pattern.nSpecialWaveform;
    if (p >= 0 && p < kIEC251Patterns) {
        v = IEC251W[p * kIEC251Samples + TableIndex(t, 1000.0, kIEC251Samples)] / 1000.0;
    }
    return v;
}

double IEC247Voltage(SynthState& s, double t)
{
    double v = 0.0;
    _CheckStandardLoop(s);
    const int p = s.pattern.nSpecialWaveform;
    if (p >= 0 && p < kIEC247Patterns) {
        const double* pattern = getIEC47RawArray(static_cast<IEC247_PATTERN>(p));
        if (pattern != nullptr) {
            v = pattern[TableIndex(t, 1000.0, IEC247PatternLength(p))];
        }
    }
    return v;
}

double ANE20000Voltage(SynthState& s, double t)
{
    double v = 0.0;
    _CheckStandardLoop(s);
    const int lead = s.pattern.nANE20000ChannelNumber;
    if (lead >= 0 && lead < kANE20000Leads) {
        v = ANE20000[lead * kANE20000Samples + TableIndex(t, 1000.0, kANE20000Samples)] / 1000.0;
    }
    return MainsNoiseOverlay(s, v);
}

double EcgFileVoltage(SynthState& s, double t)
{
    double v = 0.0;
    if (s.file.ECGFile != nullptr && s.file.ECGFileSize > 0) {
        const double u = s.file.ECGFileUnitMV ? 1.0 : 1000.0;
        v = s.file.ECGFile[TableIndex(t, s.file.ECGFileFreq, s.file.ECGFileSize)] / u;
    }
    return v;
}

}  // namespace

void _CheckStandardLoop(SynthState& s)
{
    if (!s.pattern.loopPlay && s.clock.fOutputTime > s.clock.fTimePeriod)
        s.clock.patternEnded = true;
}

double _GetMainFunctionVoltage(SynthState& s, double t)
{
    double v = 0.0;
    switch (s.out.MainOutput) {
    case OUTPUT_SINE:
        // By the running cycle's period, as every other shape: a new rate
        // set while a cycle plays takes effect with the next cycle, never in
        // the middle of this one.
        v = std::sin((t * 6.2831853) / s.clock.fTimePeriod) * s.work.A;
        break;
    case OUTPUT_TRIANGLE: { // 0 at the start, +s.work.A at 1/4, -s.work.A at 3/4
        const double k = 4 * s.work.A / s.clock.fTimePeriod;
        if (t < 0.25 * s.clock.fTimePeriod) {
            v = t * k;
        } else if (t < 0.75 * s.clock.fTimePeriod) {
            v = -t * k + 2 * s.work.A;
        } else {
            v = t * k - 4 * s.work.A;
        }
        v = DynamicRangeOverlay(s, v);
        break;
    }
    case OUTPUT_SQUARE:
        v = (t < s.clock.fTimePeriod / 2) ? s.work.A : -s.work.A;
        v = DynamicRangeOverlay(s, v);
        break;
    case OUTPUT_RECTANGULAR_PULSE: // width s.work.PW
        v = (t < (s.work.PW + 0.001) - 0.001) ? 2 * s.work.A : 0.0;
        break;
    case OUTPUT_TRIANGULAR_PULSE: { // width s.work.PW, after the pacing delay
        const double d = s.pulse.PacDelayTP;
        const double w = s.work.PW;
        const double k = 4 * s.work.A / w;
        if (t < d) {
            v = 0.0;
        } else if (t < w / 2 + d) {
            v = k * (t - d);
        } else if (t < w + d) {
            v = -(t - d) * k + 4 * s.work.A;
        } else {
            v = 0.0;
        }
        break;
    }
    case OUTPUT_EXPONENTIAL: // decay with a 50 ms time constant
        v = 2 * s.work.A * std::exp(-t / 0.05);
        break;
    case OUTPUT_ECG_STANDARD:
        v = EcgVoltage(s, t, false);
        break;
    case OUTPUT_ECG_CUSTOM:
        v = EcgVoltage(s, t, true);
        break;
    case OUTPUT_IEC_2_27:
        v = IEC227Voltage(s, t);
        break;
    case OUTPUT_IEC_2_51:
        v = IEC251Voltage(s, t);
        break;
    case OUTPUT_BIPHASIC_EXPONENTIAL: // +-s.work.A edges decaying with 50 ms
        if (t < 0.5) {
            v = std::exp(-t / 0.05) * s.work.A;
        } else {
            v = -s.work.A * std::exp(-(t - 0.5) / 0.05);
        }
        break;
    case OUTPUT_ECG_FILE:
    case OUTPUT_ECG_FILE_WITH_DC:
        v = EcgFileVoltage(s, t);
        break;
    case OUTPUT_INPUT_DYNAMIC_RANGE:
        v = InputDynamicRangeVoltage(s);
        break;
    case OUTPUT_IEC_2_47:
        v = IEC247Voltage(s, t);
        break;
    case OUTPUT_ANE20000:
        v = ANE20000Voltage(s, t);
        break;
    default: // OUTPUT_OFF, the reserved codes and unknown codes
        v = 0.0;
        break;
    }
    return v;
}

}  // namespace hsim

#include "synth/WorkingValues.h"

#include "synth/EcgBeat.h"
#include "synth/Pacing.h"
#include "synth/Patterns.h"
#include "synth/tables/StandardTables.h"

#include <cmath>

namespace hsim {

// In the order in which each step depends on the ones before it.
void _DeriveWorkingValues(SynthState& s)
{
    _ResetRawVariableDC(s);
    _ForceBiphasicSettings(s);
    _DeriveAmplitude(s);
    _CapFrequency(s);
    _DeriveTimePeriod(s);
    _DeriveMainsNoiseAmplitude(s);
    _ApplyCycleLengthByCode(s);
    _LimitDynamicRangeAmplitude(s);
    _DerivePulseWidth(s);
    _CheckECGTime(s);
    _SetUpPacing(s);
    _ResetInputDynamicRangeTest(s);
}

void _ResetRawVariableDC(SynthState& s)
{
    if (s.out.MainOutput != OUTPUT_ECG_FILE_WITH_DC) {
        s.dc.bRawVariableDC = false;
    }
}

void _ForceBiphasicSettings(SynthState& s)
{
    if (s.out.MainOutput == OUTPUT_BIPHASIC_EXPONENTIAL) {
        s.out.F = 1.0;
        s.out.PulseWidth = 50.0;
    }
}

void _DeriveAmplitude(SynthState& s)
{
    s.work.A = s.out.Amplitude / 2;
    if (s.out.MainOutput == OUTPUT_ECG_STANDARD || s.out.MainOutput == OUTPUT_ECG_CUSTOM) {
        s.work.A = 2 * s.work.A;
        if (s.work.A > 5.0) {
            s.work.A = 5.0;
        } else if (s.work.A < -5.0) {
            s.work.A = -5.0;
        }
    }
}

double _MaxFrequency(int code)
{
    double fmax = 500.0;
    if (code >= OUTPUT_RECTANGULAR_PULSE && code <= OUTPUT_EXPONENTIAL) {
        fmax = 5.0;
    } else if (code == OUTPUT_ECG_STANDARD || code == OUTPUT_ECG_CUSTOM) {
        fmax = 6.0;
    }
    return fmax;
}

void _CapFrequency(SynthState& s)
{
    const double fmax = _MaxFrequency(s.out.MainOutput);
    if (s.out.F > fmax) {
        s.out.F = fmax;
        if (s.hooks.SyncFreqCB != nullptr) {
            s.hooks.SyncFreqCB(s.out.F);
        }
    }
}

void _DeriveTimePeriod(SynthState& s)
{
    s.clock.fTimePeriod = 1 / s.out.F;
}

void _DeriveMainsNoiseAmplitude(SynthState& s)
{
    s.work.MainsNoiseAmplitude = s.test.MainsNoiseAmp * 0.5;
}

void _ApplyCycleLengthByCode(SynthState& s)
{
    switch (s.out.MainOutput) {
    case OUTPUT_IEC_2_27:
        // An index outside the family leaves the 1 / s.out.F cycle; the
        // generator plays 0 V for it.
        if (s.pattern.nSpecialWaveform >= 0 && s.pattern.nSpecialWaveform < kIEC227Patterns) {
            s.clock.fTimePeriod = IEC227WL[s.pattern.nSpecialWaveform];
        }
        break;
    case OUTPUT_IEC_2_51:
    case OUTPUT_ANE20000:
        s.clock.fTimePeriod = 1.0;
        break;
    case OUTPUT_IEC_2_47:
        s.clock.fTimePeriod = 60.0;
        break;
    case OUTPUT_ECG_FILE:
    case OUTPUT_ECG_FILE_WITH_DC:
        // Without a playable file the cycle keeps 1 / s.out.F (the generator
        // plays 0 V): a length of 0 / 0 would leave a NaN period, which
        // no cycle boundary ever reaches.
        if (s.file.ECGFileSize > 0 && s.file.ECGFileFreq > 0) {
            s.clock.fTimePeriod = s.file.ECGFileSize / s.file.ECGFileFreq;
        }
        break;
    default:
        break;
    }
}

void _PrepareStandardPattern(const SynthState& s)
{
    if (s.out.MainOutput == OUTPUT_IEC_2_47 && s.pattern.nSpecialWaveform >= 0 &&
        s.pattern.nSpecialWaveform < kIEC247Patterns) {
        getIEC47RawArray(static_cast<IEC247_PATTERN>(s.pattern.nSpecialWaveform));
    }
}

void _LimitDynamicRangeAmplitude(SynthState& s)
{
    if (s.test.DynamicRangeTest && s.test.ADynamicRange / 2 + s.work.A > 5.0) {
        s.work.A = 5.0 - s.test.ADynamicRange / 2;
        s.out.Amplitude = std::floor(2 * s.work.A * 100.0 + 0.5) / 100.0;
    }
}

void _DerivePulseWidth(SynthState& s)
{
    s.work.PW = s.out.PulseWidth / 1000;
}

void _ResetInputDynamicRangeTest(SynthState& s)
{
    if (s.out.MainOutput == OUTPUT_INPUT_DYNAMIC_RANGE) {
        s.range.InputDynamicRangeDC = -300.0;
        s.range.InputDynamicRangeAC = 0;
    }
}

void _DeriveVoltageRange(SynthState& s)
{
    s.work.fVoltageRange = s.work.RangeV4Ch2Off;
    if (s.pacing.PA > 0) {
        s.work.fVoltageRange = s.work.RangeV4Ch2On;
    }
    if (s.dc.bVariableDC) {
        s.work.fVoltageRange = s.work.RangeV4Ch2On;
    }
}

}  // namespace hsim

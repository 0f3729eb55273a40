#include "synth/WorkingValues.h"

#include "hsim.h"
#include "synth/FunctionGenerator.h"
#include "synth/Pacing.h"
#include "synth/Parameters.h"
#include "synth/tables/StandardTables.h"

#include <cmath>

double s_A = 0.0;
double s_PW = 0.0;
double s_MainsNoiseAmplitude = 0.0;

void _ResetRawVariableDC()
{
    if (g_MainOutput != 18) {
        g_bRawVariableDC = false;
    }
}

void _ForceBiphasicSettings()
{
    if (g_MainOutput == 13) {
        g_F = 1.0;
        g_PulseWidth = 50.0;
    }
}

void _DeriveAmplitude()
{
    s_A = g_Amplitude / 2;
    if (g_MainOutput == 7 || g_MainOutput == 8) {
        s_A = 2 * s_A;
        if (s_A > 5.0) {
            s_A = 5.0;
        } else if (s_A < -5.0) {
            s_A = -5.0;
        }
    }
}

double _MaxFrequency(int code)
{
    double fmax = 500.0;
    if (code >= 4 && code <= 6) {
        fmax = 5.0;
    } else if (code == 7 || code == 8) {
        fmax = 6.0;
    }
    return fmax;
}

void _CapFrequency()
{
    const double fmax = _MaxFrequency(g_MainOutput);
    if (g_F > fmax) {
        g_F = fmax;
        if (g_SyncFreqCB != nullptr) {
            g_SyncFreqCB(g_F);
        }
    }
}

void _DeriveTimePeriod()
{
    g_fTimePeriod = 1 / g_F;
}

void _DeriveMainsNoiseAmplitude()
{
    s_MainsNoiseAmplitude = g_MainsNoiseAmp * 0.5;
}

void _ApplyCycleLengthByCode()
{
    switch (g_MainOutput) {
    case 9:
        // An index outside the family leaves the 1 / g_F cycle; the
        // generator plays 0 V for it.
        if (g_nSpecialWaveform >= 0 && g_nSpecialWaveform < kIEC227Patterns) {
            g_fTimePeriod = IEC227WL[g_nSpecialWaveform];
        }
        break;
    case 10:
    case 17:
        g_fTimePeriod = 1.0;
        break;
    case 16:
        g_fTimePeriod = 60.0;
        break;
    case 14:
    case 18:
        // Without a playable file the cycle keeps 1 / g_F (the generator
        // plays 0 V): a length of 0 / 0 would leave a NaN period, which
        // no cycle boundary ever reaches.
        if (ECGFileSize > 0 && ECGFileFreq > 0) {
            g_fTimePeriod = ECGFileSize / ECGFileFreq;
        }
        break;
    default:
        break;
    }
}

void _PrepareStandardPattern()
{
    if (g_MainOutput == 16 && g_nSpecialWaveform >= 0 && g_nSpecialWaveform < kIEC247Patterns) {
        getIEC47RawArray(static_cast<IEC247_PATTERN>(g_nSpecialWaveform));
    }
}

void _LimitDynamicRangeAmplitude()
{
    if (g_DynamicRangeTest && g_ADynamicRange / 2 + s_A > 5.0) {
        s_A = 5.0 - g_ADynamicRange / 2;
        g_Amplitude = std::floor(2 * s_A * 100.0 + 0.5) / 100.0;
    }
}

void _DerivePulseWidth()
{
    s_PW = g_PulseWidth / 1000;
}

void _ResetInputDynamicRangeTest()
{
    if (g_MainOutput == 15) {
        s_InputDynamicRangeDC = -300.0;
        s_InputDynamicRangeAC = 0;
    }
}

void _DeriveVoltageRange()
{
    g_fVoltageRange = g_RangeV4Ch2Off;
    if (g_PA > 0) {
        g_fVoltageRange = g_RangeV4Ch2On;
    }
    if (g_bVariableDC) {
        g_fVoltageRange = g_RangeV4Ch2On;
    }
}

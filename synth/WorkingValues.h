// The working values that the generators read per sample, derived from the
// user-facing parameters when a change is applied. Each step is a function of
// its own so that _Change, the block renderer and the tests can call the
// pieces they need; _Change calls them in the order listed here. Every caller
// holds g_CriticalSection.
#pragma once

extern double s_A;                    // working amplitude, mV
extern double s_PW;                   // pulse width, s
extern double s_MainsNoiseAmplitude;  // mains noise amplitude, mV

// Raw data drive the DC channel only for code 18.
void _ResetRawVariableDC();
// Code 13 plays a fixed 1 s biphasic cycle with 50 ms pulse width.
void _ForceBiphasicSettings();
// s_A: half the peak-to-peak amplitude; for the ECG beats (7, 8) the R
// amplitude itself, clamped to +-5 mV.
void _DeriveAmplitude();
// Highest frequency the code allows, Hz.
double _MaxFrequency(int code);
// Caps g_F to _MaxFrequency(g_MainOutput), telling g_SyncFreqCB when it does.
void _CapFrequency();
// g_fTimePeriod = 1 / g_F.
void _DeriveTimePeriod();
// s_MainsNoiseAmplitude = half the peak-to-peak setting.
void _DeriveMainsNoiseAmplitude();
// Cycle length of the pattern and file codes (9, 10, 14, 16, 17, 18).
void _ApplyCycleLengthByCode();
// Builds the IEC 60601-2-47 pattern that code 16 is about to play, so that
// the first streamed sample does not build it (an allocation of up to
// 28.8 MB) inside a transfer.
void _PrepareStandardPattern();
// With the dynamic-range overlay on, lowers s_A so that carrier plus overlay
// stay inside +-5 mV, and stores the played amplitude back in g_Amplitude.
void _LimitDynamicRangeAmplitude();
// s_PW = g_PulseWidth in seconds.
void _DerivePulseWidth();
// Code 15 starts its staircase at -300 mV with an empty ramp.
void _ResetInputDynamicRangeTest();
// g_fVoltageRange: the output limit of the ECG beats, wider while pacing or
// the variable-DC mode is on.
void _DeriveVoltageRange();

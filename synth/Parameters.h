// Process-wide parameters of the signal synthesis: what the application sets
// through the exported setters and what the engine reads per sample. Every
// access is made with g_CriticalSection held, except the few atomics, which
// threads read without it.
#pragma once

#include "hsim.h"

#include <atomic>
#include <cstdint>

// Output state.
extern int g_MainOutput;                 // OutputFunction code, 0 = off
extern int g_nSampleRate;                // streaming sample rate, samples per second
extern std::atomic<bool> g_bECGGoing;    // output is streaming (the poll thread reads it unlocked)
extern double g_Amplitude;               // mV
extern double g_F;                       // Hz (ECG: beats per second)
extern double g_PulseWidth;              // ms
extern double g_fOutputTime;             // s, output clock folded into the period
extern double g_fOutputTimeGraph;        // s since output start
extern double g_fTimePeriod;             // s, current cycle length
extern double g_fVoltageRange;           // mV, output limit of the ECG beats
extern double g_RangeV4Ch2Off;           // mV
extern double g_RangeV4Ch2On;            // mV
extern uint16_t g_nSequenceCheck;        // streaming packet counter
extern int g_nDcDACValue;                // fixed DC word, -1 = none

// DC channel and per-channel hardware flags.
extern int g_DCSetting;                  // mV, -1000..1000, shared by all channels
extern bool g_bVariableDC;               // last variable-DC mode written for any channel
extern bool g_bTestVariableDC[4];        // variable-DC mode per channel
extern bool g_bCommonMode;               // DC offset common mode
extern bool g_bRawVariableDC;            // raw data drive the DC channel

// Pacing.
extern int g_PacingPulse;                // 0 single, 1 second pulse 0.15 s ahead, 2 0.25 s ahead
extern double g_PA;                      // mV, 0 = pacing off
extern double g_PacingDuration;          // ms
extern unsigned int g_PacingRate;        // pulses per minute
extern bool g_pacingSynchronized;        // one pulse per beat
extern unsigned int g_PacingOvershootTC; // ms, 0 = no overshoot
extern double g_POA;                     // mV, overshoot magnitude
extern double g_Pacing_leading;          // s, pulse lead before the QRS onset

// ECG beat intervals and wave amplitudes.
extern double g_QRSDuration;             // ms
extern double g_PDuration;               // ms
extern double g_PRInterval;              // ms
extern double g_QTInterval;              // ms
extern double g_STSegment;               // weight of ST in the QT remainder
extern double g_TDuration;               // weight of T in the QT remainder
extern double g_CusP;                    // mV
extern double g_CusT;                    // mV
extern double g_CusST;                   // mV

// Test modes.
extern bool g_DynamicRangeTest;
extern double g_ADynamicRange;           // mV peak to peak
extern double g_FDynamicRange;           // Hz
extern bool g_FreqScan1;                 // sine scan started by HSIMSetFrequencyScan
extern bool g_FreqScan3;                 // ECG scan started by SetFreqScanECG
extern bool s_FreqScanOn;                // some frequency scan runs
extern double s_Fd;                      // Hz added to g_F per streamed sample
extern double g_Fstart;                  // Hz
extern double g_Ffinal;                  // Hz
extern int g_Fduration;                  // s
extern int g_BaseLineOverload;           // baseline-reset level, 0 = off
extern int g_MainNoise;                  // 0 off, 1 = 50 Hz, 3 = random, other = 60 Hz
extern double g_MainsNoiseAmp;           // mV peak to peak
extern bool g_AAMIDriftTest;
extern double g_AAMIDriftTestAmp;        // mV peak to peak
extern double g_AAMIDriftTestWaveLen;    // s
extern double g_AAMIDriftTestWaveLenQuad;
extern double g_AAMIDriftTestWaveLenQuad3;
extern double g_AAMIDriftTestSlope;      // mV/s
extern bool g_ExternalRespireModule;

// Standard pattern selection.
extern int g_nSpecialWaveform;           // pattern index of codes 9, 10 and 16
extern int g_nANE20000ChannelNumber;     // ANE20000 lead 0..8

// Loaded ECG data.
extern double* ECGFile;                  // signal channel
extern int ECGFileSize;
extern double ECGFileFreq;               // samples per second
extern bool ECGFileUnitMV;
extern double* g_DcRawData;              // DC channel of raw data

// Callbacks (null = not registered); called with g_CriticalSection held.
extern HSIM_GRAPH_CALLBACK g_GraphCB;
extern HSIM_GRAPH_CALLBACK g_PacingGraphCB;
extern HSIM_FUNCTION_CALLBACK g_SyncMainFuncCB;
extern HSIM_FREQUENCY_CALLBACK g_SyncFreqCB;
extern HSIM_LEVEL_CALLBACK g_SyncDCOffsetCB;
extern HSIM_LEVEL_CALLBACK g_BaselineResetCB;
extern void (*g_StandardStopCB)(void);   // end-of-pattern notification (StopCallback)

// Everything the signal synthesis reads and writes, in one value.
//
// The settings come first, grouped by what sets them (the output function and
// waveform setters, the DC channel setters, pacing, the custom beat, the test
// modes, the frequency scans, the standard pattern selection, loaded data and
// the respiration model); then what the engine derives and advances: the
// output clock, the working values derived when a change is applied, the beat
// breakpoints, the pacing generator, the input dynamic range test; last the
// hooks through which the computation reports to the application. Default
// values are the ones the library starts with, so State{} is a fresh engine.
//
// The functions of this layer take the state they work on as their first
// argument and touch nothing else: no device, no lock, no file. The live
// engine's state is guarded by the simulator's lock; a copy may be computed on by
// any one thread (its hooks cleared or replaced first).
#pragma once

#include "hsim_types.h"

#include <cfloat>
#include <cstdint>
#include <memory>

// 128-bit IEEE floating point (quadruple precision): the clock step and the
// ramp of the input dynamic range test are added in it. GCC gives it as
// __float128 on x86-64; on 64-bit Arm long double is IEEE quad.
#if defined(__aarch64__) && LDBL_MANT_DIG == 113
typedef long double Quad;
#elif defined(__x86_64__) || defined(__i386__)
typedef __float128 Quad;
#else
#error "no 128-bit IEEE floating-point type known for this target"
#endif

namespace hsim {

struct SynthState;

// ---------------------------------------------------------------- settings

struct OutputSettings {
    int MainOutput = OUTPUT_OFF; // OutputFunction code (any int the application sets)
    int nSampleRate = 40000;   // streaming sample rate, samples per second
    double Amplitude = 1.0;    // mV
    double F = 1.0;            // Hz (ECG: beats per second)
    double PulseWidth = 100.0; // ms
};

struct DcSettings {
    int DCSetting = 0;                                 // mV, -1000..1000, all channels
    bool bVariableDC = true;                           // last variable-DC mode written
    bool bTestVariableDC[4] = {true, true, true, true}; // variable-DC mode per channel
    bool bCommonMode = false;                          // DC offset common mode
    bool bRawVariableDC = false;                       // raw data drive the DC channel
};

struct PacingSettings {
    int PacingPulse = 0;                // 0 single, 1 second pulse 0.15 s ahead, 2 0.25 s ahead
    double PA = 0.0;                    // mV, 0 = pacing off
    double PacingDuration = 2.0;        // ms
    unsigned int PacingRate = 60;       // pulses per minute
    bool pacingSynchronized = true;     // one pulse per beat
    unsigned int PacingOvershootTC = 0; // ms, 0 = no overshoot
    double POA = 0.0;                   // mV, overshoot magnitude
    double Pacing_leading = 0.03;       // s, pulse lead before the QRS onset
};

struct EcgSettings {
    double QRSDuration = 100.0; // ms
    double PDuration = 100.0;   // ms
    double PRInterval = 160.0;  // ms
    double QTInterval = 350.0;  // ms
    double STSegment = 70.0;    // weight of ST in the QT remainder
    double TDuration = 180.0;   // weight of T in the QT remainder
    double CusP = 0.2;          // mV
    double CusT = 0.2;          // mV
    double CusST = 0.0;         // mV
};

struct TestModes {
    bool DynamicRangeTest = false;
    double ADynamicRange = 1.0;   // mV peak to peak
    double FDynamicRange = 40.0;  // Hz
    int BaseLineOverload = 0;     // baseline-reset level, 0 = off
    int MainNoise = 0;            // 0 off, 1 = 50 Hz, 3 = random, other = 60 Hz
    double MainsNoiseAmp = 0.1;   // mV peak to peak
    bool AAMIDriftTest = false;
    double AAMIDriftTestAmp = 4.0;        // mV peak to peak
    double AAMIDriftTestWaveLen = 10.0;   // s
    double AAMIDriftTestWaveLenQuad = 2.5;
    double AAMIDriftTestWaveLenQuad3 = 7.5;
    double AAMIDriftTestSlope = 0.8;      // mV/s
    bool ExternalRespireModule = false;
};

struct FrequencyScan {
    bool FreqScanOn = false;  // some frequency scan runs
    double Fd = 0.0;          // Hz added to F per streamed sample
    double Fstart = 0.67;     // Hz
    double Ffinal = 150.0;    // Hz
    int Fduration = 30;       // s
    bool FreqScan1 = false;   // sine scan
    bool FreqScan3 = false;   // ECG scan
};

struct PatternSelection {
    int nSpecialWaveform = 0;        // pattern index of codes 9, 10 and 16
    int nANE20000ChannelNumber = 0;  // ANE20000 lead 0..8
    bool loopPlay = true;            // standard patterns repeat
    bool loopFile = true;            // loaded ECG files repeat
};

struct LoadedData {
    const double* ECGFile = nullptr;  // signal channel
    int ECGFileSize = 0;
    double ECGFileFreq = 0.0;         // samples per second
    bool ECGFileUnitMV = false;
    const double* DcRawData = nullptr; // DC channel of raw data
    // The owners of the two arrays: a copy of the state (a rendering) keeps
    // them alive while a load replaces them.
    std::shared_ptr<const double[]> ECGFileOwner;
    std::shared_ptr<const double[]> DcRawDataOwner;
};

// Respiration modulation of the ECG beats: breathing moves the baseline,
// swells the R wave and modulates the heart rate. Set by the respiration
// parameters; the last two fields are the beat scheduler's.
struct RespirationValues {
    int breathsPerMinute = 0;
    int ratio = 1;          // exhale : inhale
    int apneaSeconds = 0;   // closing every minute
    int baselinePercent = 0;
    int amplitudePercent = 0;
    int frequencyPercent = 0;
};

struct RespirationModel {
    double OneRespireS = 0.0;     // length of one breath, s
    double InhaleS = 0.0;         // inhale part, s
    double ExhaleS = 0.0;         // exhale part, s
    double OneApneaS = 0.0;       // apnea at the end of every minute, s; 0 = none
    double BaselineModV = 0.0;    // baseline swing at full breath, mV
    double AmpModV = 0.0;         // amplitude swing at full breath, mV
    double FreqModHz = 0.0;       // heart-rate swing at full breath, Hz; 0 = scheduler off
    double FreqModPreEndT = 0.0;  // start of the current beat, on the output clock, s
    double FreqModEndT = 0.0;     // scheduled end of the current beat, on the output clock, s
    // What the model was made from (0 breaths: none yet); the swings in
    // percent of the amplitude and rate when it was made.
    RespirationValues made;
};

// ------------------------------------------------------- derived and advanced

struct Clock {
    double fOutputTime = 0.0;       // s, output clock folded into the period
    double fOutputTimeGraph = 0.0;  // s since output start
    double fTimePeriod = 0.0;       // s, current cycle length
    // The output clock's reading where the running cycle began: a change
    // applied at the end of a cycle starts the new one at its beginning,
    // whatever its period, so a new rate never cuts into a beat.
    double fCycleStart = 0.0;
    // A standard pattern that does not loop has played to its end. Set by the
    // generator; the streaming loop ends the output there.
    bool patternEnded = false;
};

struct WorkingValues {
    double A = 0.0;                    // working amplitude, mV
    double PW = 0.0;                   // pulse width, s
    double MainsNoiseAmplitude = 0.0;  // mains noise amplitude, mV
    double fVoltageRange = 0.0;        // mV, output limit of the ECG beats
    double RangeV4Ch2Off = 5.0;        // mV
    double RangeV4Ch2On = 5.0;         // mV
    // The random mains noise: a 31-bit linear congruential generator,
    // started again with every start of output, so that a run can be
    // rendered again sample for sample.
    uint32_t NoiseState = 1;
};

// Breakpoints of the two beats, s from the start of the beat.
struct BeatBreakpoints {
    double t1 = 0.0;  // standard: R crest
    double t2 = 0.0;  // S trough
    double t3 = 0.0;  // end of QRS
    double t4 = 0.0;  // start of T
    double t5 = 0.0;  // end of T
    double Cus_t1 = 0.0;  // custom: end of P
    double Cus_t2 = 0.0;  // QRS onset
    double Cus_t3 = 0.0;  // R crest
    double Cus_t4 = 0.0;  // S trough
    double Cus_t5 = 0.0;  // end of the S-to-ST ramp
    double Cus_t6 = 0.0;  // start of T
    double Cus_t7 = 0.0;  // end of T
    double Cus_v125 = 0.0; // -A / 7, published with the breakpoints
};

struct PacingGenerator {
    int PulsesRequired = 0;            // 0 = pacing off; 1, or 2 with a second pulse
    double pp = 0.0;                   // pacing period, s
    double OTC = 0.0;                  // overshoot time constant, s
    int ppc = 0;                       // samples since the last trigger
    bool PacingPulseRaised = false;    // a pulse has played since the last change
    double PacDelayTP = 0.0;           // delay of the code-5 pulse, s
    bool PacingIndicationNeeded = false; // a pulse started; cleared by the streaming loop
    uint32_t PulsesStarted = 0;        // counts every pulse started (for readers of the output)
    bool PacingHighRange = true;       // |PA| >= 3 mV at the last change
    bool PacingShortPulseNeeded = false; // set on the last sample of a pulse
    // Derived with the schedule, read per sample.
    int PulseSamples = 0;              // samples of one pulse
    double OvershootSign = -1.0;       // the overshoot opposes the pulse
    double OvershootMagnitude = 0.0;   // mV
    double DecaySamples = 0.0;         // the overshoot's time constant in samples
    // One latch per trigger: main pulse, and the second pulse 0.15 s or
    // 0.25 s ahead of it. They persist across changes.
    bool MainPulseLatch = false;
    bool Mode1PulseLatch = false;
    bool Mode2PulseLatch = false;
};

// The input dynamic range test (code 15): a DC staircase and a ramp on the
// signal channel that restarts at every step.
struct InputDynamicRange {
    double InputDynamicRangeAC = 0.0;  // the ramp, mV
    double InputDynamicRangeDC = 0.0;  // the staircase level, mV
    // The half-second mark (in units of 0.5 s of the output clock) that the
    // previous staircase sample lay on, -1 when it lay on none.
    int StaircaseMark = -1;
    Quad RampStep = 0;      // 1 / sample rate, kept for the rate it was made for
    int RampStepRate = 0;
};

// How the computation reports to the application. Called with the state's
// guard held; null hooks are skipped.
struct Hooks {
    HSIM_FREQUENCY_CALLBACK SyncFreqCB = nullptr;  // the frequency was capped
    HSIM_LEVEL_CALLBACK SyncDCOffsetCB = nullptr;  // the staircase stepped
};

struct SynthState {
    OutputSettings out;
    DcSettings dc;
    PacingSettings pacing;
    EcgSettings ecg;
    TestModes test;
    FrequencyScan scan;
    PatternSelection pattern;
    LoadedData file;
    RespirationModel resp;

    Clock clock;
    WorkingValues work;
    BeatBreakpoints beat;
    PacingGenerator pulse;
    InputDynamicRange range;

    Hooks hooks;
};

}  // namespace hsim

// Respiration modulation of the ECG beats (codes 7 and 8): breathing moves
// the baseline, swells and shrinks the R amplitude, and speeds the heart up
// and slows it down (respiratory sinus arrhythmia). The respiration factor r
// is +1 at the height of inspiration, -1 at the depth of expiration and 0
// during the apnea at the end of every minute. The impedance respiration of
// the hardware is separate. Everything here runs with g_CriticalSection held.
#pragma once

extern double s_OneRespireS;     // length of one breath, s
extern double s_InhaleS;         // inhale part, s
extern double s_ExhaleS;         // exhale part, s
extern double s_OneApneaS;       // apnea at the end of every minute, s; 0 = none
extern double s_BaselineModV;    // baseline swing at full breath, mV
extern double s_AmpModV;         // amplitude swing at full breath, mV
extern double s_FreqModHz;       // heart-rate swing at full breath, Hz; 0 = scheduler off
extern double s_FreqModPreEndT;  // start of the current beat, on the output clock, s
extern double s_FreqModEndT;     // scheduled end of the current beat, on the output clock, s

// Respiration factor at x seconds into a breath: a positive half-sine over
// the inhale, a negative one over the exhale, 0 after the breath.
double _solveRespireVoltage(double x);

// Respiration factor at output-clock time t, with the apnea: breathing
// restarts with an inhale at every whole minute while an apnea is set.
double _RespireFactorAt(double t);

// Respiration factor at the output clock g_fOutputTime.
double _solveRespireV();

// Beat scheduler step, once per sample while s_FreqModHz != 0: when the
// current beat is over, the next one starts where it was due to end and
// lasts one period of the rate modulated by the respiration factor at that
// instant. Returns the beat time, g_fOutputTime - s_FreqModPreEndT (>= 0).
double _AdvanceBeatScheduler();

// Starts a new beat at the present output clock, one period long. Called
// when output starts (the clock restarts from 0).
void _RestartBeatScheduler();

// Clears the three modulation depths (baseline, amplitude, rate).
void _ResetRespireModulation();

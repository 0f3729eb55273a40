// The test modes that the engine runs by itself: the baseline-reset (1 V
// overload) test and the two frequency scans. The exported functions check
// the device and their arguments and then call these, with the simulator's lock
// held; the engine calls them too (a stop ends the baseline-reset test, a scan
// that reaches its end stops the output).
#pragma once

namespace hsim {

// Sets the baseline-reset level (0 off, 1..4 a sine overload at 50, 60, 80,
// 100 Hz on the DC channel). From off to on the amplitude and frequency are
// saved and the sine selected; from on to off they are restored. The
// application's callback hears of every change of level.
void SetBaselineResetLevel(int level);

// Reacts to a change of the baseline-reset level; acts on the level held
// before the change is stored.
void _Baseline1V_CheckedChanged();

enum class ScanKind {
    Sine,  // code 1, between the stored start and stop frequencies
    Ecg,   // the standard ECG beat (code 7), 0.05 to 0.5 beats per second in 30 s
};

// Starts a frequency scan. For the sine scan the stored start, stop and
// duration are used (the caller stores them after its checks). The scan may
// run upward or downward.
void StartFrequencyScan(ScanKind kind);

// Ends a scan (or switches it off): output function 0, the output-function
// callback told 0, and the output stopped, which clears the scan flags.
// Nothing starts. A scan that reached its stop lets the device play what it
// holds before the relays go off; one switched off stops at once.
void EndFrequencyScan(bool reachedStop = false);

}  // namespace hsim

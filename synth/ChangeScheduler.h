// Applying parameter changes: the user-facing globals are turned into the
// working values the generators read per sample. While output streams most
// changes wait for the end of the running cycle.
#pragma once

// A change is pending, to be applied at the next cycle boundary.
extern bool s_ChangeOnNextCycle;

// Applies all settings now. Caller holds g_CriticalSection.
void _Change();
// Applies now when idle or when stopping, otherwise at the next cycle boundary.
// Caller holds g_CriticalSection.
void _ChangeRequested();
// Called by the streaming loop after every sample with that sample's phase t
// (taken before the clock advanced): applies a pending change in the last
// 0.4 ms of the cycle, or at once for cycles longer than 6.7 s (g_F < 0.15),
// and rewrites the control block. Caller holds g_CriticalSection.
void _CheckIfChangeRequired(double t);

// The two ends of streaming, defined with the streaming transfer code.
// _StopStreaming: clears g_bECGGoing, zeroes the output clocks, signals
// g_hStopPlayEvent, ends the baseline-reset test, clears the scan flags and
// the respiration hardware state, and drops the fixed DC word.
// _StartStreaming: sets g_bECGGoing, resets the packet sequence, writes the
// control block and pushes the first transfer.
void _StopStreaming();
void _StartStreaming();

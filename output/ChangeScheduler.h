// Applying parameter changes: the settings are turned into the working values
// the generators read per sample. While output streams most changes wait for
// the end of the running cycle. Every function here works on the engine it is
// given or on the current context's (CurrentEngine), with the simulator's lock
// held.
#pragma once

#include "output/Engine.h"
#include "protocol/Exchange.h"

namespace hsim {

// Applies all settings now. The status of a start it made (Ok when none):
// a start whose relays could not be switched on streams nothing.
Status _Change();
// Puts an engine where a start puts it before its first transfer: the output
// range derived, packets numbered from 0, the noise generator restarted, no
// change pending. The live start and the rendering share it.
void PrepareStart(Engine& e);
// Applies now when idle or when stopping, otherwise at the next cycle
// boundary. The status of a start it made, as _Change.
Status _ChangeRequested();
// Called by the streaming loop after every sample of the engine it computes,
// with that sample's phase t (taken before the clock advanced): applies a
// pending change of that engine in the last 0.4 ms of the cycle, or at once
// for cycles longer than 6.7 s (F < 0.15).
// True when it applied one: the control block is rewritten once the transfer
// has been sent; nothing here talks to the device.
bool _CheckIfChangeRequired(Engine& e, double t);
// Called by the streaming loop after every transfer of the live engine s:
// tells the frequency callback the scan's frequency and ends the scan when
// the transfer found it at its stop (_FreqScanEnded).
void _UpdateFreqScanIfRequired(const SynthState& s, bool ended);
// The end test of a running scan: its frequency, rounded to 10 uHz, has
// reached the stop frequency in the scan's direction (or left the range).
bool _FreqScanEnded(const SynthState& s);

// Stops the stream on this side: streaming off, the clock at 0, the test
// modes that belong to a run switched off, the stop signalled to the poll
// thread. With playOut the device is let play what it holds first (the
// output ended by itself); the relays are not written here.
void StopStreaming(Engine& e, bool playOut);
// A device newly found streams nothing yet: nothing on this side waits for
// its requests.
void ForgetStream();

}  // namespace hsim

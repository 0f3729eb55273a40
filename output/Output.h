// The output engine's operations behind the exported setters, the connect
// thread's resets and the end of a pattern. None of them takes the lock or
// waits for the command window: the caller holds the simulator's lock and has
// entered the window (or is the poll thread, which owns it).
#pragma once

#include "hsim_types.h"
#include "protocol/Exchange.h"
#include "synth/State.h"

namespace hsim {

// The control block's relay byte and sample rate from the engine's output
// function and rate. The flag tells why it is written; the message is the
// same.
Status SetRelays(bool starting);
// The DC offset code of a channel from the engine's DC settings.
Status SetDcOffset(int channel);

// Selects an output function: streaming rate 40000, the stop signal
// withdrawn, the code stored, the control block written, and the change
// applied (at once for code 13, otherwise as requested). The status of the
// control block write.
Status SelectOutputFunction(int code);
// Control block rewritten, then the channel's lead flag.
Status SetChannelLead(int channel, OutputLead lead);
// Stores the DC offset (mV, shared by all channels), then writes the control
// block and the channel's DC offset code. The first failed write's status.
Status SetChannelDcOffset(int channel, int mv);
// Stores the channel's variable-DC mode, then writes as SetChannelDcOffset.
Status SetChannelDcVariableMode(int channel, bool variable);

// Replaces the data that codes 14 and 18 play and returns the old data, for
// the caller to release once it has let the lock go. While a file streams,
// the new data's length applies from the next cycle. Caller holds
// the simulator's lock.
LoadedData ReplaceLoadedData(LoadedData next);

// What the application hears, through its callbacks and the signal tap.
// Caller holds the simulator's lock.
// The output has ended by itself: the signal-output callback gets (-1, 0).
void NotifyOutputStopped();
// The library changed the frequency (Hz; -1 when a scan ended).
void TellFrequency(double hz);
// The dynamic range test's DC level changed (mV).
void TellDcLevel(int mv);
// A scan switched the output function.
void TellFunction(int code);
// The baseline-reset level changed.
void TellBaselineReset(int level);

// Computes and sends the next streaming transfer, then does the device work
// it calls for (or, once a file that does not loop has ended, sends 0 mV and
// stops the output instead).
void _SendNextPacket();
// The poll thread's answer to a data request, under the simulator's lock: the
// next transfer while output streams; after the output ended by itself one
// transfer at 0 mV; after a stop, the relays off (when no one has switched
// them off yet).
void AnswerDataRequest();

// The device is gone: output stops without a word to it, so that it can be
// started again once a device is back. Takes the simulator's lock.
void StopOutputAfterLoss();

}  // namespace hsim

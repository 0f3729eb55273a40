// Block output: one period of the selected output function rendered on the
// live engine (from where its clock stands, which it advances) and uploaded
// for the device to play by itself or to keep in ROM. Caller holds
// the simulator's lock; the uploads have entered the command window with
// streaming stopped.
#pragma once

#include "output/Engine.h"
#include "protocol/BlockUpload.h"

#include <vector>

namespace hsim {

// One period at GetSampleRateByFrequency(F): the signal channel in mV, and
// the DC channel as the fixed DC word (the streaming's fixed word, else the
// word of the DC setting) repeated.
void GenWaveform(SynthState& s, int fixedDcWord, std::vector<double>& ac, std::vector<double>& dc);

// The waveform information of the engine's settings.
WaveformInfo WaveformInfoOf(const SynthState& s);

// The sample bytes of one period as the upload sends them, padded with zero
// words to whole chunks: the DC word (of the DC setting in variable-DC mode,
// else of the pacing generator's DC channel) and the signal channel's AC word.
std::vector<unsigned char> RenderUploadBytes(Engine& e);

// Waveform information, then the period's chunks. chunksDone receives the
// chunks the device confirmed.
Status UploadPeriod(Engine& e, int* chunksDone = nullptr);

// Stops streamed output before block output or a ROM save replaces it:
// relays written, output function 0, change applied. The status of the
// control block write (Ok when nothing streamed).
Status StopStreamingForUpload();

}  // namespace hsim

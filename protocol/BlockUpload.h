// Block output: the device plays one uploaded period by itself, and keeps a
// waveform in ROM that it plays after power-up without a host (standalone
// mode). The messages of the upload (waveform information, 64-byte sample
// chunks), the output switch and the ROM save with its confirmation poll.
// Each function sends through Exchange: the caller holds the simulator's lock
// and has entered the command window.
#pragma once

#include "protocol/Exchange.h"

#include <cstdint>

namespace hsim {

constexpr int kChunkSamples = 14;
constexpr int kChunkBytes = 4 * kChunkSamples;  // the sample bytes of one chunk
constexpr int kStandaloneSlot = 1;
constexpr int kRomPolls = 80;
constexpr unsigned int kRomPollPauseMs = 200;

// The sample rate for one period of frequency f: the first rate of
// 40000, 20000, ..., 50 at which the period has at most 2000 samples; 1000
// when none has (below 0.025 Hz, or f not a number).
int GetSampleRateByFrequency(double f);
// Samples in one period at that rate, truncated.
int GetPixelNumberByFrequency(double f);

// What the waveform information message tells the device.
struct WaveformInfo {
    double frequency = 1.0;        // Hz
    int function = 0;              // output function code
    double pulseWidthMs = 0.0;
    int noiseCode = 0;             // mains noise selection
    double noiseAmplitude = 0.0;   // mV
    double pacingAmplitude = 0.0;  // mV
    double pacingDurationMs = 0.0;
    unsigned int pacingRate = 0;   // pulses per minute
};
void BuildWaveformInfo(const WaveformInfo& info, unsigned char* message);  // 64 bytes
Status WriteWaveformInfo(const WaveformInfo& info);

// Sends length bytes of samples (4 per sample: DC word, AC word, both
// big-endian) in chunks of 14 samples; each chunk's echo, byte 3 = 0xFF,
// must match it. A length that is not a multiple of 56 ends with a chunk
// zero-filled past the data. Refused (BadArgument) for null data with a
// positive length or more samples than a 16-bit chunk index reaches.
// chunksDone receives the chunks the device confirmed.
Status WriteWaveformRawData(const unsigned char* data, unsigned int length, int* chunksDone = nullptr);

// The control setting for a period of frequency f: the device's control block
// read for its channel records, the rate and the fraction of the samples per
// period filled in; output switch byte 4 as given. Nothing is written.
Status GetDeviceControlSetting(double f, unsigned char* setting, unsigned char outputSwitch = 1);
// Writes a control setting (64 bytes).
Status WriteControlSetting(const unsigned char* setting);
// Block output on: the control setting with the switch on.
Status OutputSignal(double f);
// Block output off.
Status StopOutput();

// One ROM status query: ready tells whether the slot is ready; status
// receives the device's status byte.
Status DoReadFromROM(int slot, unsigned char& status, bool& ready);
// Saves the uploaded waveform into a ROM slot and polls (up to 80 times,
// 200 ms apart) until the device confirms it: Ok, or Refused when it never
// does. polls receives the number of status queries made.
Status WriteToROM(int slot, int* polls = nullptr);

}  // namespace hsim

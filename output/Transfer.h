// One streaming transfer: 700 samples of both channels, computed from the
// engine's state and packed as protocol/StreamPackets.h lays them out.
#pragma once

#include "output/Engine.h"
#include "protocol/StreamPackets.h"

#include <cstdint>

namespace hsim {

// Where a rendering wants the samples besides the packets; any may be null.
struct SampleOutput {
    double* acMv = nullptr;      // signal channel as computed, mV
    double* dcMv = nullptr;      // DC channel as computed, mV
    int16_t* acWords = nullptr;  // the words as sent
    uint16_t* dcWords = nullptr;
};

// How a transfer is computed: for the device (the application's callbacks,
// the recording and the change scheduler take part) or for a rendering of a
// copy of the engine (none of them).
enum class TransferUse { Live, Render };

// What happened inside a transfer, for the work that follows it.
struct TransferEvents {
    // The sample at which the output ended by itself (a pattern or file that
    // does not loop played to its end), -1 when it did not. The samples from
    // there on hold the signal channel at 0 mV.
    int endedAt = -1;
    // The sample at which a change waiting for the cycle boundary was
    // applied, -1 when none was: the control block is written after the
    // transfer.
    int changedAt = -1;
    // A running frequency scan has reached its stop with this transfer.
    bool scanEnded = false;
};

// Computes the next transfer of e into buffer (kTransferBytes bytes):
// advances e's clock, sequence counter, scan and generators. The AC scale is
// the counts per mV of the signal channel. Caller holds the simulator's lock for
// the live engine. Nothing here talks to the device.
TransferEvents ComputeTransfer(Engine& e, unsigned char* buffer, double acScale, TransferUse use,
                               const SampleOutput& out = {});

// A loaded file that does not loop has played to its end.
bool IsEndOfFile(const SynthState& s);

}  // namespace hsim

// Rendering without a device: the samples that the present settings would
// stream from a start, computed on a copy of the engine, so the live output
// (clock, sequence counter, scheduler, callbacks) is not touched.
#pragma once

#include "output/Transfer.h"

namespace hsim {

// Renders up to count samples into the arrays of out (any may be null).
// Returns the samples rendered: count, or fewer when the output would end
// first (a scan at its stop frequency, a pattern or file that does not
// loop); the transfer in which it ends is rendered whole, as it is sent.
// Takes the simulator's lock only to copy the settings.
int RenderFromStart(int count, const SampleOutput& out);

}  // namespace hsim

// What a recorded stimulus is, measured from its samples: the beat rate, the
// QRS amplitude and width, and the pacing pulses' amplitude and width. A
// procedure checks that what played is what its file says before it judges
// the device under test by it.
#pragma once

#include "Signals.h"

#include <cstddef>
#include <optional>

namespace hsimctl {

struct StimulusFigures {
    std::optional<double> rateBpm;         // from the mean RR interval (two beats at least)
    std::optional<double> qrsAmplitudeMv;  // peak to peak around each R, the median of the beats
    std::optional<double> qrsWidthMs;      // the steep part around each R, the median of the beats
    std::optional<double> pacingAmplitudeMv;  // from the DC level before the pulse, the median
    std::optional<double> pacingWidthMs;      // at half the amplitude, the median
    size_t beats = 0;
    size_t pulses = 0;
};

// The ECG channel (its QRS complexes are found by their steepness, so a tall
// but slow T wave is not taken for one) and the DC channel with the pacing
// pulses (null when there is none).
StimulusFigures MeasureStimulus(const Signal& ecg, const Signal* pacing);

}  // namespace hsimctl

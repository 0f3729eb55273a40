#include "Stimulus.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace hsimctl {
namespace {

double Median(std::vector<double> values)
{
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(middle), values.end());
    return values[middle];
}

// Runs of samples where `inside` holds, as [first, last] pairs; runs with at
// most `bridge` samples between them are one run.
template <typename Inside>
std::vector<std::pair<size_t, size_t>> Runs(size_t count, size_t bridge, Inside inside)
{
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t i = 0; i < count; ++i) {
        if (!inside(i))
            continue;
        if (!runs.empty() && i - runs.back().second <= bridge + 1)
            runs.back().second = i;
        else
            runs.push_back({i, i});
    }
    return runs;
}

void MeasureBeats(const Signal& ecg, StimulusFigures& f)
{
    const std::vector<double>& x = ecg.mv;
    const double fs = ecg.rate;
    if (x.size() < size_t(fs * 0.5) || fs <= 0)
        return;
    // The steepness over 4 ms: a QRS rises and falls in tens of
    // milliseconds, P and T waves over a hundred and more.
    const size_t lag = std::max<size_t>(1, size_t(std::lround(fs * 0.004)));
    std::vector<double> slope(x.size(), 0.0);
    for (size_t i = lag; i < x.size(); ++i)
        slope[i] = std::fabs(x[i] - x[i - lag]);
    const double steepest = *std::max_element(slope.begin(), slope.end());
    if (steepest <= 1e-6)
        return;
    // Steep stretches (a stroke of a QRS, or of a steep T wave). A stroke
    // (at least half as steep as the steepest) begins a new beat when it
    // comes 195 ms or more after the beat began and 70 ms or more after the
    // stroke before it; otherwise it belongs to
    // the beat (the rise and fall of a steep T wave after a QRS and its ST
    // segment), whose QRS is its first stroke. Beats 200 ms apart (300 per
    // minute) are still told apart.
    const auto strokes = Runs(x.size(), size_t(fs * 0.02), [&](size_t i) { return slope[i] >= 0.5 * steepest; });
    std::vector<std::pair<size_t, size_t>> complexes;
    for (size_t k = 0; k < strokes.size(); ++k)
        if (complexes.empty() || (strokes[k].first - complexes.back().first >= size_t(fs * 0.195) &&
                                  strokes[k].first - strokes[k - 1].second >= size_t(fs * 0.07)))
            complexes.push_back(strokes[k]);
    std::vector<double> peaks, amplitudes, widths;
    for (const auto& [first, last] : complexes) {
        // The R wave: the sample farthest from the level before the complex.
        const size_t before = first > size_t(fs * 0.06) ? first - size_t(fs * 0.06) : 0;
        const size_t after = std::min(x.size() - 1, last + size_t(fs * 0.02));
        if (before == 0 || after == x.size() - 1)
            continue;  // a complex cut by either end of the recording
        const double level = x[before];
        size_t r = first;
        double low = x[first], high = x[first];
        for (size_t i = before; i <= after; ++i) {
            if (std::fabs(x[i] - level) > std::fabs(x[r] - level))
                r = i;
            low = std::min(low, x[i]);
            high = std::max(high, x[i]);
        }
        peaks.push_back(double(r) / fs);
        amplitudes.push_back(high - low);
        // The width: the span around R where the signal still moves at more
        // than 1 % of the complex's steepest step from sample to sample; a
        // turn (the R crest, the S trough) is bridged, the flat PR and ST
        // segments end it, and a slow T wave never joins it.
        double steepestStep = 0;
        for (size_t i = before; i < after; ++i)
            steepestStep = std::max(steepestStep, std::fabs(x[i + 1] - x[i]));
        const double moving = 0.01 * steepestStep;
        const size_t bridge = size_t(fs * 0.001), reach = size_t(fs * 0.15);
        size_t on = r, off = r;
        for (size_t i = r, still = 0; i > 0 && r - i < reach && still <= bridge; --i)
            if (std::fabs(x[i] - x[i - 1]) > moving)
                on = i - 1, still = 0;
            else
                ++still;
        for (size_t i = r, still = 0; i + 1 < x.size() && i - r < reach && still <= bridge; ++i)
            if (std::fabs(x[i + 1] - x[i]) > moving)
                off = i + 1, still = 0;
            else
                ++still;
        widths.push_back(double(off - on) / fs * 1000.0);
    }
    f.beats = peaks.size();
    if (peaks.size() >= 2)
        f.rateBpm = 60.0 * double(peaks.size() - 1) / (peaks.back() - peaks.front());
    if (!amplitudes.empty()) {
        f.qrsAmplitudeMv = Median(amplitudes);
        f.qrsWidthMs = Median(widths);
    }
}

void MeasurePacing(const Signal& dc, StimulusFigures& f)
{
    const std::vector<double>& x = dc.mv;
    if (x.empty() || dc.rate <= 0)
        return;
    const double level = Median(x);
    double deepest = 0;
    for (double v : x)
        if (std::fabs(v - level) > std::fabs(deepest))
            deepest = v - level;
    if (std::fabs(deepest) < 0.05)
        return;  // no pulse of 50 uV or more
    const auto pulses = Runs(x.size(), 0, [&](size_t i) {
        const double d = x[i] - level;
        return (d > 0) == (deepest > 0) && std::fabs(d) >= 0.5 * std::fabs(deepest);
    });
    std::vector<double> amplitudes, widths;
    for (const auto& [first, last] : pulses) {
        std::vector<double> plateau(x.begin() + std::ptrdiff_t(first), x.begin() + std::ptrdiff_t(last) + 1);
        amplitudes.push_back(Median(plateau) - level);
        widths.push_back(double(last - first + 1) / dc.rate * 1000.0);
    }
    f.pulses = pulses.size();
    f.pacingAmplitudeMv = Median(amplitudes);
    f.pacingWidthMs = Median(widths);
}

}  // namespace

StimulusFigures MeasureStimulus(const Signal& ecg, const Signal* pacing)
{
    StimulusFigures f;
    MeasureBeats(ecg, f);
    if (pacing)
        MeasurePacing(*pacing, f);
    return f;
}

}  // namespace hsimctl

#include "synth/Respiration.h"

#include "synth/FunctionGenerator.h"

#include <cmath>

namespace hsim {

bool SetRespirationModel(SynthState& s, int breathsPerMinute, int ratio, int apneaSeconds,
                         int baselinePercent, int amplitudePercent, int frequencyPercent)
{
    bool result = false;
    // A breath rate or ratio of 0 or below has no breath length.
    if (breathsPerMinute > 0 && ratio > 0) {
        s.resp.OneRespireS = 60.0 / breathsPerMinute;
        // Inhale : exhale = 1 : ratio. (ratio + 1 is formed in double so
        // that the largest ratio cannot overflow.)
        s.resp.ExhaleS = ratio * s.resp.OneRespireS / (static_cast<double>(ratio) + 1);
        s.resp.InhaleS = s.resp.ExhaleS / ratio;
        s.resp.OneApneaS = (apneaSeconds < 0) ? 0 : apneaSeconds;
        // Depths relative to the amplitude and rate of this moment; a later
        // amplitude or rate change does not rescale them.
        s.resp.BaselineModV = baselinePercent * s.out.Amplitude / 100.0;
        s.resp.AmpModV = amplitudePercent * s.out.Amplitude / 100.0;
        if (frequencyPercent != 0) {
            s.resp.FreqModHz = frequencyPercent * s.out.F / 100.0;
            s.resp.FreqModPreEndT = s.clock.fOutputTime;
            s.resp.FreqModEndT = s.clock.fOutputTime + s.clock.fTimePeriod;
        } else {
            s.resp.FreqModHz = 0;
        }
        s.resp.made = {breathsPerMinute, ratio, static_cast<int>(s.resp.OneApneaS), baselinePercent,
                       amplitudePercent, frequencyPercent};
        result = true;
    }
    return result;
}

double _solveRespireVoltage(SynthState& s, double x)
{
    double r;
    if (x <= s.resp.InhaleS) {
        r = std::sin(x * 6.2831853 / (2 * s.resp.InhaleS));
    } else {
        const double y = x - s.resp.InhaleS;
        if (y <= s.resp.ExhaleS) {
            r = -std::sin(y * 6.2831853 / (2 * s.resp.ExhaleS));
        } else {
            r = 0;
        }
    }
    return r;
}

double _RespireFactorAt(SynthState& s, double t)
{
    double r;
    if (s.resp.OneApneaS == 0) {
        r = _solveRespireVoltage(s, _FoldTime(t, s.resp.OneRespireS));
    } else {
        // The time within the current minute; the apnea closes the minute.
        const double m = t - _Trunc32(t / 60.0) * 60.0;
        if (m >= 60.0 - s.resp.OneApneaS) {
            r = 0;
        } else {
            r = _solveRespireVoltage(s, _FoldTime(m, s.resp.OneRespireS));
        }
    }
    return r;
}

double _solveRespireV(SynthState& s)
{
    return _RespireFactorAt(s, s.clock.fOutputTime);
}

void _RestartBeatScheduler(SynthState& s)
{
    s.resp.FreqModPreEndT = s.clock.fOutputTime;
    s.resp.FreqModEndT = s.clock.fOutputTime + s.clock.fTimePeriod;
}

double _AdvanceBeatScheduler(SynthState& s)
{
    // The clock ran back (output restarted, or a frequency scan folded it
    // into the period): a beat cannot have started in the future, so a new
    // one starts now.
    if (s.clock.fOutputTime < s.resp.FreqModPreEndT) {
        _RestartBeatScheduler(s);
    }
    if (s.clock.fOutputTime > s.resp.FreqModEndT) {
        // The next beat starts where the last one was due to end, not at the
        // present sample, so the beat lengths carry no sampling jitter.
        s.resp.FreqModPreEndT = s.resp.FreqModEndT;
        const double rEnd = _RespireFactorAt(s, s.resp.FreqModEndT);
        s.resp.FreqModEndT = 1 / (s.out.F + rEnd * s.resp.FreqModHz) + s.resp.FreqModEndT;
    }
    return s.clock.fOutputTime - s.resp.FreqModPreEndT;
}

void _ResetRespireModulation(SynthState& s)
{
    s.resp.BaselineModV = 0.0;
    s.resp.AmpModV = 0.0;
    s.resp.FreqModHz = 0.0;
    s.resp.made.baselinePercent = 0;
    s.resp.made.amplitudePercent = 0;
    s.resp.made.frequencyPercent = 0;
}

}  // namespace hsim

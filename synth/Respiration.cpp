#include "synth/Respiration.h"

#include "hsim.h"
#include "link/Globals.h"
#include "link/Port.h"
#include "synth/FunctionGenerator.h"
#include "synth/Parameters.h"

#include <cmath>

double s_OneRespireS = 0.0;
double s_InhaleS = 0.0;
double s_ExhaleS = 0.0;
double s_OneApneaS = 0.0;
double s_BaselineModV = 0.0;
double s_AmpModV = 0.0;
double s_FreqModHz = 0.0;
double s_FreqModPreEndT = 0.0;
double s_FreqModEndT = 0.0;

int SetRespireAlgorithmParam(int breathsPerMinute, int ratio, int apneaSeconds,
                             int baselinePercent, int amplitudePercent, int frequencyPercent)
{
    CAutoCriticalSection lock(g_CriticalSection);
    int result = 0;
    // A breath rate or ratio of 0 or below has no breath length.
    if (DeviceIsConnected() && breathsPerMinute > 0 && ratio > 0) {
        s_OneRespireS = 60.0 / breathsPerMinute;
        // Inhale : exhale = 1 : ratio. (ratio + 1 is formed in double so
        // that the largest ratio cannot overflow.)
        s_ExhaleS = ratio * s_OneRespireS / (static_cast<double>(ratio) + 1);
        s_InhaleS = s_ExhaleS / ratio;
        s_OneApneaS = (apneaSeconds < 0) ? 0 : apneaSeconds;
        // Depths relative to the amplitude and rate of this moment; a later
        // amplitude or rate change does not rescale them.
        s_BaselineModV = baselinePercent * g_Amplitude / 100.0;
        s_AmpModV = amplitudePercent * g_Amplitude / 100.0;
        if (frequencyPercent != 0) {
            s_FreqModHz = frequencyPercent * g_F / 100.0;
            s_FreqModPreEndT = g_fOutputTime;
            s_FreqModEndT = g_fOutputTime + g_fTimePeriod;
        } else {
            s_FreqModHz = 0;
        }
        result = 1;
    }
    return result;
}

double _solveRespireVoltage(double x)
{
    double r;
    if (x <= s_InhaleS) {
        r = std::sin(x * 6.2831853 / (2 * s_InhaleS));
    } else {
        const double y = x - s_InhaleS;
        if (y <= s_ExhaleS) {
            r = -std::sin(y * 6.2831853 / (2 * s_ExhaleS));
        } else {
            r = 0;
        }
    }
    return r;
}

double _RespireFactorAt(double t)
{
    double r;
    if (s_OneApneaS == 0) {
        r = _solveRespireVoltage(_FoldTime(t, s_OneRespireS));
    } else {
        // The time within the current minute; the apnea closes the minute.
        const double m = t - _Trunc32(t / 60.0) * 60.0;
        if (m >= 60.0 - s_OneApneaS) {
            r = 0;
        } else {
            r = _solveRespireVoltage(_FoldTime(m, s_OneRespireS));
        }
    }
    return r;
}

double _solveRespireV()
{
    return _RespireFactorAt(g_fOutputTime);
}

void _RestartBeatScheduler()
{
    s_FreqModPreEndT = g_fOutputTime;
    s_FreqModEndT = g_fOutputTime + g_fTimePeriod;
}

double _AdvanceBeatScheduler()
{
    // The clock ran back (output restarted, or a frequency scan folded it
    // into the period): a beat cannot have started in the future, so a new
    // one starts now.
    if (g_fOutputTime < s_FreqModPreEndT) {
        _RestartBeatScheduler();
    }
    if (g_fOutputTime > s_FreqModEndT) {
        // The next beat starts where the last one was due to end, not at the
        // present sample, so the beat lengths carry no sampling jitter.
        s_FreqModPreEndT = s_FreqModEndT;
        const double rEnd = _RespireFactorAt(s_FreqModEndT);
        s_FreqModEndT = 1 / (g_F + rEnd * s_FreqModHz) + s_FreqModEndT;
    }
    return g_fOutputTime - s_FreqModPreEndT;
}

void _ResetRespireModulation()
{
    s_BaselineModV = 0.0;
    s_AmpModV = 0.0;
    s_FreqModHz = 0.0;
}

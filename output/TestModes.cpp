#include "output/TestModes.h"

#include "output/ChangeScheduler.h"
#include "output/Engine.h"
#include "output/Output.h"

namespace hsim {

namespace {

constexpr double kOverloadAmplitude = 1000.0;  // mV peak to peak on the DC channel
constexpr double kEcgScanStart = 0.05;         // beats per second
constexpr double kEcgScanStop = 0.5;
constexpr double kEcgScanSeconds = 30.0;

// The overload frequency of a level; 0 for a level without one.
double OverloadFrequency(int level)
{
    switch (level) {
    case 1: return 50.0;
    case 2: return 60.0;
    case 3: return 80.0;
    case 4: return 100.0;
    default: return 0.0;
    }
}

}  // namespace

// The level is stored before the handler runs, so the handler acts on the
// level just set: switching the test on plays the overload of that level at
// once, and switching it off gives the saved settings back.
void SetBaselineResetLevel(int level)
{
    Engine& e = CurrentEngine();
    OutputSettings& out = e.synth.out;
    const int old = e.synth.test.BaseLineOverload;
    if (level != 0) {
        out.MainOutput = OUTPUT_SINE;
        if (old == 0) {
            e.testMemory.savedAmplitude = out.Amplitude;
            e.testMemory.savedFrequency = out.F;
        }
    } else if (old != 0) {
        out.Amplitude = e.testMemory.savedAmplitude;
        out.F = e.testMemory.savedFrequency;
    }
    e.synth.test.BaseLineOverload = level;
    if (level != old) {
        TellBaselineReset(level);
        _Baseline1V_CheckedChanged();
    }
}

void _Baseline1V_CheckedChanged()
{
    SynthState& s = CurrentEngine().synth;
    const int level = s.test.BaseLineOverload;
    if (level != 0 && s.out.MainOutput == OUTPUT_SINE) {
        const double f = OverloadFrequency(level);
        if (f > 0.0)
            s.out.F = f;
        TellFrequency(s.out.F);
        s.clock.fTimePeriod = 1 / s.out.F;
        s.out.Amplitude = kOverloadAmplitude;
        _ChangeRequested();
    } else if (level == 0) {
        // The restored settings apply like any other change (a stop has
        // nothing left to apply).
        _ChangeRequested();
    }
}

void StartFrequencyScan(ScanKind kind)
{
    Engine& e = CurrentEngine();
    OutputSettings& out = e.synth.out;
    FrequencyScan& scan = e.synth.scan;
    double seconds;
    OutputFunction code;
    if (kind == ScanKind::Ecg) {
        scan.FreqScan3 = true;
        scan.Fstart = kEcgScanStart;
        scan.Ffinal = kEcgScanStop;
        seconds = kEcgScanSeconds;
        code = OUTPUT_ECG_STANDARD;
    } else {
        scan.FreqScan1 = true;
        seconds = scan.Fduration;
        code = OUTPUT_SINE;
    }
    scan.FreqScanOn = true;
    out.F = scan.Fstart;
    scan.Fd = (scan.Ffinal - scan.Fstart) / seconds / out.nSampleRate;
    out.MainOutput = code;
    TellFunction(code);
    if (kind == ScanKind::Sine)
        SelectOutputFunction(code);
    else
        _ChangeRequested();
}

void EndFrequencyScan(bool reachedStop)
{
    Engine& e = CurrentEngine();
    e.synth.out.MainOutput = OUTPUT_OFF;
    TellFunction(OUTPUT_OFF);
    if (reachedStop && IsStreaming())
        StopStreaming(e, true);
    else
        SelectOutputFunction(OUTPUT_OFF);
}

}  // namespace hsim

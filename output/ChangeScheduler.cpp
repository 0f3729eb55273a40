#include "output/ChangeScheduler.h"

#include "output/Engine.h"
#include "output/Output.h"
#include "protocol/Exchange.h"
#include "output/TestModes.h"
#include "synth/WorkingValues.h"

#include <cmath>

namespace hsim {

namespace {

void ApplyChange()
{
    Engine& e = g_Engine;
    // A nested change (an ended frequency scan stopping output from inside
    // the first transfer of a start) does nothing.
    if (e.scheduler.ChangeInProcess)
        return;
    e.scheduler.ChangeInProcess = true;
    if (e.synth.out.MainOutput != 0) {
        _DeriveWorkingValues(e.synth);
        // A change pending from the previous run is absorbed by a start.
        if (!g_bECGGoing.load())
            e.scheduler.ChangeOnNextCycle = false;
    }
    // After the first transfer of a start, so that transfer is clamped with
    // the range of the previous change.
    _DeriveVoltageRange(e.synth);
    e.scheduler.ChangeInProcess = false;
}

}  // namespace

// Both entries run on the caller's thread, where the pattern a change needs
// is built; a deferred change is then applied on the poll thread without it.
void _Change()
{
    _PrepareStandardPattern(g_Engine.synth);
    ApplyChange();
}

void _ChangeRequested()
{
    _PrepareStandardPattern(g_Engine.synth);
    if (g_bECGGoing.load() && g_Engine.synth.out.MainOutput != 0)
        g_Engine.scheduler.ChangeOnNextCycle = true;
    else
        ApplyChange();
}

void _CheckIfChangeRequired(double t)
{
    Engine& e = g_Engine;
    if (e.scheduler.ChangeOnNextCycle &&
        (e.synth.clock.fTimePeriod - t < 0.0004 || e.synth.out.F < 0.15)) {
        e.scheduler.ChangeOnNextCycle = false;
        ApplyChange();
        SetRelays(true);
    }
}

void _UpdateFreqScanIfRequired()
{
    SynthState& s = g_Engine.synth;
    if (!s.scan.FreqScanOn)
        return;
    if (s.hooks.SyncFreqCB != nullptr)
        s.hooks.SyncFreqCB(s.out.F);
    const double f = std::floor(s.out.F * 100000.0 + 0.5) / 100000.0;
    const bool upward = s.scan.Ffinal >= s.scan.Fstart;
    const bool ended = upward ? (f >= s.scan.Ffinal || f <= s.scan.Fstart)
                              : (f <= s.scan.Ffinal || f >= s.scan.Fstart);
    if (!ended)
        return;
    if (s.hooks.SyncFreqCB != nullptr)
        s.hooks.SyncFreqCB(-1.0);
    if (s.scan.FreqScan1 || s.scan.FreqScan3)
        EndFrequencyScan();
}

}  // namespace hsim

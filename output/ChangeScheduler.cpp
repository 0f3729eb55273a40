#include "output/ChangeScheduler.h"

#include "output/Engine.h"
#include "output/Output.h"
#include "protocol/Commands.h"
#include "protocol/Exchange.h"
#include "output/TestModes.h"
#include "synth/WorkingValues.h"

#include <cmath>

namespace hsim {

namespace {

void StopStreaming(Engine& e)
{
    g_bECGGoing.store(false);
    e.synth.clock.fOutputTime = 0;
    e.synth.clock.fOutputTimeGraph = 0;
    g_hStopPlayEvent.SetEvent();
    SetBaselineResetLevel(0);
    e.synth.scan.FreqScanOn = false;
    e.synth.scan.FreqScan1 = false;
    e.synth.scan.FreqScan3 = false;
    g_Respiration.RespirationEnabled = false;
    e.stream.nDcDACValue = -1;
}

// The output range is derived before the first transfer, so that transfer
// is clamped with the range of the settings it plays. A device whose relays
// could not be switched on would never ask for data: the start is given up
// (the function stays selected, and the next change tries again).
void StartStreaming(Engine& e)
{
    PrepareStart(e);
    g_hStopPlayEvent.ResetEvent();
    if (SetRelays(true) != Status::Ok)
        return;
    g_bECGGoing.store(true);
    StreamingStarted();
    _SendNextPacket();
}

void ApplyOnce(Engine& e)
{
    if (e.synth.out.MainOutput == 0) {
        if (g_bECGGoing.load())
            StopStreaming(e);
    } else {
        _DeriveWorkingValues(e.synth);
        if (!g_bECGGoing.load())
            StartStreaming(e);
    }
    _DeriveVoltageRange(e.synth);
}

// A change asked for while one is applied (the stop that a scan ending in
// the first transfer of a start asks for, a setter called from a callback)
// is applied right after it, so that it is not lost.
void ApplyChange()
{
    Engine& e = g_Engine;
    if (e.scheduler.ChangeInProcess) {
        e.scheduler.ChangeAgain = true;
        return;
    }
    e.scheduler.ChangeInProcess = true;
    constexpr int kMaxRounds = 4;
    for (int round = 0; round < kMaxRounds; ++round) {
        e.scheduler.ChangeAgain = false;
        ApplyOnce(e);
        if (!e.scheduler.ChangeAgain)
            break;
    }
    e.scheduler.ChangeAgain = false;
    e.scheduler.ChangeInProcess = false;
}

}  // namespace

void PrepareStart(Engine& e)
{
    _DeriveVoltageRange(e.synth);
    e.synth.work.NoiseState = 1;
    e.stream.nSequenceCheck = 0;
    e.scheduler.ChangeOnNextCycle = false;
}

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

bool _FreqScanEnded(const SynthState& s)
{
    if (!s.scan.FreqScanOn)
        return false;
    const double f = std::floor(s.out.F * 100000.0 + 0.5) / 100000.0;
    return s.scan.Ffinal >= s.scan.Fstart ? (f >= s.scan.Ffinal || f <= s.scan.Fstart)
                                          : (f <= s.scan.Ffinal || f >= s.scan.Fstart);
}

void _UpdateFreqScanIfRequired()
{
    SynthState& s = g_Engine.synth;
    if (!s.scan.FreqScanOn)
        return;
    if (s.hooks.SyncFreqCB != nullptr)
        s.hooks.SyncFreqCB(s.out.F);
    if (!_FreqScanEnded(s))
        return;
    if (s.hooks.SyncFreqCB != nullptr)
        s.hooks.SyncFreqCB(-1.0);
    if (s.scan.FreqScan1 || s.scan.FreqScan3)
        EndFrequencyScan();
}

}  // namespace hsim

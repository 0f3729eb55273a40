#include "output/ChangeScheduler.h"

#include "output/Engine.h"
#include "output/Output.h"
#include "output/OutputContext.h"
#include "output/SignalTap.h"
#include "protocol/Commands.h"
#include "protocol/Exchange.h"
#include "output/TestModes.h"
#include "synth/WorkingValues.h"

#include <cmath>

namespace hsim {

namespace {

// The output range is derived before the first transfer, so that transfer
// is clamped with the range of the settings it plays. A device whose relays
// could not be switched on would never ask for data: the start is given up
// and its failure returned (the function stays selected, and the next
// change tries again).
Status StartStreaming(Engine& e)
{
    PrepareStart(e);
    CurrentOutput().stopPlayEvent.ResetEvent();
    const Status relays = SetRelays(true);
    if (relays != Status::Ok)
        return relays;
    SetStreaming(true);
    _SendNextPacket();
    return Status::Ok;
}

Status ApplyOnce(Engine& e)
{
    Status status = Status::Ok;
    if (e.synth.out.MainOutput == OUTPUT_OFF) {
        if (IsStreaming())
            StopStreaming(e, false);
    } else {
        _DeriveWorkingValues(e.synth);
        // An uploaded period that the device plays by itself is not replaced
        // by a stream of a changed setting.
        if (!IsStreaming() && !e.blockOutput)
            status = StartStreaming(e);
    }
    _DeriveVoltageRange(e.synth);
    return status;
}

// A change asked for while one is applied (the stop that a scan ending in
// the first transfer of a start asks for, a setter called from a callback)
// is applied right after it, so that it is not lost.
Status ApplyChange(Engine& e)
{
    if (e.scheduler.ChangeInProcess) {
        e.scheduler.ChangeAgain = true;
        return Status::Ok;
    }
    e.scheduler.ChangeInProcess = true;
    Status status = Status::Ok;
    constexpr int kMaxRounds = 4;
    for (int round = 0; round < kMaxRounds; ++round) {
        e.scheduler.ChangeAgain = false;
        const Status once = ApplyOnce(e);
        if (status == Status::Ok)
            status = once;
        if (!e.scheduler.ChangeAgain)
            break;
    }
    e.scheduler.ChangeAgain = false;
    e.scheduler.ChangeInProcess = false;
    return status;
}

}  // namespace

void StopStreaming(Engine& e, bool playOut)
{
    SetStreaming(false);
    e.stream.playOut = playOut;
    e.synth.clock.fOutputTime = 0;
    e.synth.clock.fCycleStart = 0;
    e.synth.clock.fOutputTimeGraph = 0;
    CurrentOutput().stopPlayEvent.SetEvent();
    SetBaselineResetLevel(0);
    e.synth.scan.FreqScanOn = false;
    e.synth.scan.FreqScan1 = false;
    e.synth.scan.FreqScan3 = false;
    SwitchRespiration(false);
    e.stream.nDcDACValue = -1;
}

void ForgetStream()
{
    SetStreaming(false);
}

void PrepareStart(Engine& e)
{
    _DeriveVoltageRange(e.synth);
    e.synth.work.NoiseState = 1;
    e.synth.clock.patternEnded = false;
    // The pacing starts afresh with the clock: a latch left by the run
    // before (set for 10 ms after each pulse) would swallow the first pulse.
    e.synth.pulse.MainPulseLatch = false;
    e.synth.pulse.Mode1PulseLatch = false;
    e.synth.pulse.Mode2PulseLatch = false;
    e.stream.tapFirstOfRun = true;
    e.stream.tapPulses = e.synth.pulse.PulsesStarted;
    e.stream.nSequenceCheck = 0;
    e.scheduler.ChangeOnNextCycle = false;
}

// Both entries run on the caller's thread, where the pattern a change needs
// is built; a deferred change is then applied on the poll thread without it.
Status _Change()
{
    _PrepareStandardPattern(CurrentEngine().synth);
    return ApplyChange(CurrentEngine());
}

Status _ChangeRequested()
{
    _PrepareStandardPattern(CurrentEngine().synth);
    if (IsStreaming() && CurrentEngine().synth.out.MainOutput != OUTPUT_OFF) {
        CurrentEngine().scheduler.ChangeOnNextCycle = true;
        return Status::Ok;
    }
    return ApplyChange(CurrentEngine());
}

bool _CheckIfChangeRequired(Engine& e, double t)
{
    if (!e.scheduler.ChangeOnNextCycle || (e.synth.clock.fTimePeriod - t >= 0.0004 && e.synth.out.F >= 0.15))
        return false;
    e.scheduler.ChangeOnNextCycle = false;
    // A new period at the end of a cycle: the old cycle plays to its end and
    // the new one begins there, at its beginning (the next sample's phase is
    // its distance past the old end, negative while the old cycle's last
    // samples remain, which fold to the new cycle's flat tail). Otherwise a
    // new rate would start part-way into a beat: a step in the signal and an
    // RR interval of neither rate. The same period keeps its phase.
    Clock& clock = e.synth.clock;
    const bool atEnd = clock.fTimePeriod - t < 0.0004;
    const double oldPeriod = clock.fTimePeriod;
    const double nextPhase = t + 1.0 / e.synth.out.nSampleRate - oldPeriod;
    ApplyChange(e);
    if (atEnd && clock.fTimePeriod != oldPeriod)
        clock.fCycleStart = clock.fOutputTime - nextPhase;
    return true;
}

bool _FreqScanEnded(const SynthState& s)
{
    if (!s.scan.FreqScanOn)
        return false;
    const double f = std::floor(s.out.F * 100000.0 + 0.5) / 100000.0;
    return s.scan.Ffinal >= s.scan.Fstart ? (f >= s.scan.Ffinal || f <= s.scan.Fstart)
                                          : (f <= s.scan.Ffinal || f >= s.scan.Fstart);
}

void _UpdateFreqScanIfRequired(const SynthState& s, bool ended)
{
    if (!s.scan.FreqScanOn)
        return;
    TellFrequency(s.out.F);
    if (!ended)
        return;
    TellFrequency(-1.0);
    if (s.scan.FreqScan1 || s.scan.FreqScan3)
        EndFrequencyScan(true);
}

}  // namespace hsim

#include "output/Output.h"
#include "output/OutputContext.h"

#include "output/ChangeScheduler.h"
#include "output/Engine.h"
#include "output/SignalTap.h"
#include "protocol/Commands.h"
#include "protocol/StreamPackets.h"
#include "runtime/Sync.h"

namespace hsim {

namespace {

// Both writes are made; the first failure is reported.
Status FirstFailure(Status a, Status b)
{
    return a != Status::Ok ? a : b;
}

}  // namespace

Status SetRelays(bool)
{
    const OutputSettings& out = CurrentEngine().synth.out;
    return WriteRelays(out.MainOutput != OUTPUT_OFF, out.nSampleRate);
}

Status SetDcOffset(int channel)
{
    if (!IsValidChannel(channel))
        return Status::BadArgument;
    const DcSettings& dc = CurrentEngine().synth.dc;
    return WriteDcOffsetCode(channel, DcOffsetCode(dc.DCSetting, dc.bRawVariableDC, dc.bTestVariableDC[channel]));
}

Status SelectOutputFunction(int code)
{
    Engine& e = CurrentEngine();
    OutputSettings& out = e.synth.out;
    // A new selection ends block output, and the play-out of an output that
    // ended by itself: the relays go off first, so that a new stream starts
    // a new run on the device.
    e.blockOutput = false;
    if (e.stream.playOut) {
        e.stream.playOut = false;
        if (code != OUTPUT_OFF)
            WriteRelays(false, out.nSampleRate);
    }
    out.nSampleRate = kStreamingRate;
    CurrentOutput().stopPlayEvent.ResetEvent();
    out.MainOutput = code;
    const Status relays = SetRelays(false);
    const Status start = code == OUTPUT_BIPHASIC_EXPONENTIAL ? _Change() : _ChangeRequested();
    return FirstFailure(relays, start);
}

Status SetChannelLead(int channel, OutputLead lead)
{
    Status relays = SetRelays(true);
    return FirstFailure(relays, SetOutputLead(channel, lead));
}

Status SetChannelDcOffset(int channel, int mv)
{
    if (!IsValidChannel(channel))
        return Status::BadArgument;
    CurrentEngine().synth.dc.DCSetting = mv;
    Status relays = SetRelays(true);
    return FirstFailure(relays, SetDcOffset(channel));
}

Status SetChannelDcVariableMode(int channel, bool variable)
{
    if (!IsValidChannel(channel))
        return Status::BadArgument;
    DcSettings& dc = CurrentEngine().synth.dc;
    dc.bVariableDC = variable;
    dc.bTestVariableDC[channel] = variable;
    Status relays = SetRelays(true);
    return FirstFailure(relays, SetDcOffset(channel));
}

LoadedData ReplaceLoadedData(LoadedData next)
{
    LoadedData old = std::move(CurrentEngine().synth.file);
    CurrentEngine().synth.file = std::move(next);
    const int code = CurrentEngine().synth.out.MainOutput;
    if (IsStreaming() && (code == OUTPUT_ECG_FILE || code == OUTPUT_ECG_FILE_WITH_DC))
        _ChangeRequested();
    return old;
}

namespace {

void TapEvent(TapKind kind, double value)
{
    TapPoint point;
    point.kind = kind;
    point.time = kind == TapKind::End ? -1.0 : CurrentEngine().synth.clock.fOutputTimeGraph;
    point.value = value;
    TapWrite(point);
}

}  // namespace

void NotifyOutputStopped()
{
    // Time -1 is the marker for the end of output.
    TapEvent(TapKind::End, 0.0);
    if (CurrentEngine().callbacks.GraphCB != nullptr)
        CurrentEngine().callbacks.GraphCB(-1.0, 0.0);
}

void TellFrequency(double hz)
{
    TapEvent(TapKind::Frequency, hz);
    if (CurrentEngine().callbacks.SyncFreqCB != nullptr)
        CurrentEngine().callbacks.SyncFreqCB(hz);
}

void TellDcLevel(int mv)
{
    TapEvent(TapKind::DcLevel, mv);
    if (CurrentEngine().callbacks.SyncDCOffsetCB != nullptr)
        CurrentEngine().callbacks.SyncDCOffsetCB(mv);
}

void TellFunction(int code)
{
    TapEvent(TapKind::Function, code);
    if (CurrentEngine().callbacks.SyncMainFuncCB != nullptr)
        CurrentEngine().callbacks.SyncMainFuncCB(code);
}

void TellBaselineReset(int level)
{
    TapEvent(TapKind::BaselineReset, level);
    if (CurrentEngine().callbacks.BaselineResetCB != nullptr)
        CurrentEngine().callbacks.BaselineResetCB(level);
}

void StopOutputAfterLoss()
{
    ContextGuard lock(hsim::ContextLock());
    CurrentEngine().stream.playOut = false;
    if (IsStreaming()) {
        CurrentEngine().synth.out.MainOutput = OUTPUT_OFF;
        _Change();
    }
}

}  // namespace hsim

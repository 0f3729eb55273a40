#include "output/Output.h"

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
    const OutputSettings& out = g_Engine.synth.out;
    return WriteRelays(out.MainOutput != OUTPUT_OFF, out.nSampleRate);
}

Status SetDcOffset(int channel)
{
    if (!IsValidChannel(channel))
        return Status::BadArgument;
    const DcSettings& dc = g_Engine.synth.dc;
    return WriteDcOffsetCode(channel, DcOffsetCode(dc.DCSetting, dc.bRawVariableDC, dc.bTestVariableDC[channel]));
}

Status SelectOutputFunction(int code)
{
    Engine& e = g_Engine;
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
    g_hStopPlayEvent.ResetEvent();
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
    g_Engine.synth.dc.DCSetting = mv;
    Status relays = SetRelays(true);
    return FirstFailure(relays, SetDcOffset(channel));
}

Status SetChannelDcVariableMode(int channel, bool variable)
{
    if (!IsValidChannel(channel))
        return Status::BadArgument;
    DcSettings& dc = g_Engine.synth.dc;
    dc.bVariableDC = variable;
    dc.bTestVariableDC[channel] = variable;
    Status relays = SetRelays(true);
    return FirstFailure(relays, SetDcOffset(channel));
}

LoadedData ReplaceLoadedData(LoadedData next)
{
    LoadedData old = std::move(g_Engine.synth.file);
    g_Engine.synth.file = std::move(next);
    const int code = g_Engine.synth.out.MainOutput;
    if (g_bECGGoing.load() && (code == OUTPUT_ECG_FILE || code == OUTPUT_ECG_FILE_WITH_DC))
        _ChangeRequested();
    return old;
}

namespace {

void TapEvent(TapKind kind, double value)
{
    TapPoint point;
    point.kind = kind;
    point.time = kind == TapKind::End ? -1.0 : g_Engine.synth.clock.fOutputTimeGraph;
    point.value = value;
    TapWrite(point);
}

}  // namespace

void NotifyOutputStopped()
{
    // Time -1 is the marker for the end of output.
    TapEvent(TapKind::End, 0.0);
    if (g_Engine.callbacks.GraphCB != nullptr)
        g_Engine.callbacks.GraphCB(-1.0, 0.0);
}

void TellFrequency(double hz)
{
    TapEvent(TapKind::Frequency, hz);
    if (g_Engine.callbacks.SyncFreqCB != nullptr)
        g_Engine.callbacks.SyncFreqCB(hz);
}

void TellDcLevel(int mv)
{
    TapEvent(TapKind::DcLevel, mv);
    if (g_Engine.callbacks.SyncDCOffsetCB != nullptr)
        g_Engine.callbacks.SyncDCOffsetCB(mv);
}

void TellFunction(int code)
{
    TapEvent(TapKind::Function, code);
    if (g_Engine.callbacks.SyncMainFuncCB != nullptr)
        g_Engine.callbacks.SyncMainFuncCB(code);
}

void TellBaselineReset(int level)
{
    TapEvent(TapKind::BaselineReset, level);
    if (g_Engine.callbacks.BaselineResetCB != nullptr)
        g_Engine.callbacks.BaselineResetCB(level);
}

void StopOutputAfterLoss()
{
    CAutoCriticalSection lock(g_CriticalSection);
    g_Engine.stream.playOut = false;
    if (g_bECGGoing.load()) {
        g_Engine.synth.out.MainOutput = OUTPUT_OFF;
        _Change();
    }
}

}  // namespace hsim

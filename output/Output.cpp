#include "output/Output.h"

#include "output/ChangeScheduler.h"
#include "output/Engine.h"
#include "protocol/Commands.h"
#include "protocol/StreamPackets.h"
#include "runtime/Sync.h"

namespace hsim {

namespace {

constexpr int kBiphasicExponential = 13;
constexpr int kFile = 14;
constexpr int kFileWithDc = 18;

// Both writes are made; the first failure is reported.
Status FirstFailure(Status a, Status b)
{
    return a != Status::Ok ? a : b;
}

}  // namespace

Status SetRelays(bool)
{
    const OutputSettings& out = g_Engine.synth.out;
    return WriteRelays(out.MainOutput != 0, out.nSampleRate);
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
    OutputSettings& out = g_Engine.synth.out;
    out.nSampleRate = kStreamingRate;
    g_hStopPlayEvent.ResetEvent();
    out.MainOutput = code;
    Status status = SetRelays(false);
    if (code == kBiphasicExponential)
        _Change();
    else
        _ChangeRequested();
    return status;
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
    if (g_bECGGoing.load() && (code == kFile || code == kFileWithDc))
        _ChangeRequested();
    return old;
}

void NotifyOutputStopped()
{
    // Time -1 is the marker for the end of output.
    if (g_Engine.callbacks.GraphCB != nullptr)
        g_Engine.callbacks.GraphCB(-1.0, 0.0);
}

void StopOutputAfterLoss()
{
    CAutoCriticalSection lock(g_CriticalSection);
    if (g_bECGGoing.load()) {
        g_Engine.synth.out.MainOutput = 0;
        _Change();
    }
}

}  // namespace hsim

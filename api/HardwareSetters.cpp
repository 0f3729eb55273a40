// Exported setters of the per-channel hardware: output lead, input impedance,
// signal ground, DC offset, DC offset mode, common mode, output state.
// A channel outside 0..3 is refused with -2 before anything is sent; a device
// that does not complete the exchange gives HSIM_ERROR_IO.
#include "api/Frame.h"
#include "api/ParameterTable.h"
#include "hsim.h"
#include "output/Engine.h"
#include "output/Output.h"
#include "protocol/Commands.h"

using namespace hsim;

namespace {

// The frame, the argument checks and the result of a per-channel setter.
template <class Operation>
int ChannelSetter(int channel, bool argumentsOk, Operation operation)
{
    DeviceFrame frame;
    if (!frame.open())
        return kSetterRefused;
    if (!IsValidChannel(channel) || !argumentsOk)
        return kSetterBadArgument;
    return SetterResult(operation());
}

}  // namespace

// -2 for a bad channel, and also when the lead command fails: this setter
// has always reported its device failure that way, and callers test for it.
// The control block write before it is not reported.
extern "C" int HSIMSetOutputLead(int channel, OutputLead lead)
{
    constexpr int kLeadCommandFailed = -2;
    DeviceFrame frame;
    if (!frame.open())
        return kSetterRefused;
    if (!IsValidChannel(channel))
        return kSetterBadArgument;
    hsim::SetRelays(true);
    return hsim::SetOutputLead(channel, lead) == Status::Ok ? kSetterOk : kLeadCommandFailed;
}

extern "C" int HSIMSetInputImpedanceMode(int channel, int mode)
{
    return ChannelSetter(channel, Accepts(Parameter::Impedance, mode),
                         [&] { return hsim::SetInputImpedanceMode(channel, mode); });
}

// The mode 0..3 as the device holds it; -1 when there is no device or no
// command window, -2 for a bad channel, HSIM_ERROR_IO when the exchange failed.
extern "C" int HSIMGetInputImpedanceMode(int channel)
{
    int mode = 0;
    Status status = InCommandFrame([&] { return hsim::GetInputImpedanceMode(channel, mode); });
    return status == Status::Ok ? mode : SetterResult(status);
}

extern "C" int HSIMSetSignalGroundToGNDGround(int channel, bool on)
{
    return ChannelSetter(channel, true, [&] { return hsim::SetSignalGroundToGNDGround(channel, on); });
}

// 1 or 0 as the device holds it; 1 when the device cannot be asked (no
// device, no command window), -2 for a bad channel, HSIM_ERROR_IO when the
// exchange failed.
extern "C" int HSIMGetSignalGroundToGNDGround(int channel)
{
    DeviceFrame frame;
    if (!frame.open())
        return 1;
    bool on = false;
    Status status = hsim::GetSignalGroundToGNDGround(channel, on);
    return status == Status::Ok ? (on ? 1 : 0) : SetterResult(status);
}

extern "C" int HSIMSetDCOffset(int channel, int mv)
{
    return ChannelSetter(channel, Accepts(Parameter::DcOffset, mv),
                         [&] { return SetChannelDcOffset(channel, mv); });
}

extern "C" int HSIMGetDCOffset(void)
{
    return CurrentSettings().dc.DCSetting;
}

extern "C" int HSIMSetDCOffsetVariableMode(int channel, bool variable)
{
    return ChannelSetter(channel, true, [&] { return SetChannelDcVariableMode(channel, variable); });
}

extern "C" bool HSIMGetDCOffsetVariableMode(void)
{
    return CurrentSettings().dc.bVariableDC;
}

// The flag is kept for the application; the control block has no field for
// it, so the write only refreshes relays and sample rate.
extern "C" int SetDCOffsetCommonMode(bool common)
{
    return SetterResult(InCommandFrame([&] {
        CurrentEngine().synth.dc.bCommonMode = common;
        return hsim::SetRelays(true);
    }));
}

extern "C" bool GetDCOffsetCommonMode(void)
{
    return CurrentSettings().dc.bCommonMode;
}

extern "C" int SetAllOutputState(unsigned int)
{
    return SetterResult(InCommandFrame([] { return hsim::SetRelays(true); }));
}

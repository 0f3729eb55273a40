// The device commands exported as they are, with the Boolean results of the
// commands (SetRelays alone gives true on failure). Like every other entry
// point they refuse when no device is open and, while output streams, make
// their exchange in the command window, so they never meet the poll thread's
// report reads; a window that does not open is a failure.
#include "api/Frame.h"
#include "hsim.h"
#include "output/ChangeScheduler.h"
#include "output/Engine.h"
#include "output/Output.h"
#include "protocol/Commands.h"
#include "synth/Respiration.h"

using namespace hsim;

namespace {

// Runs a command in the frame; true when the frame opened and the command
// succeeded.
template <class Command>
bool Framed(Command command)
{
    return InCommandFrame(command) == Status::Ok;
}

}  // namespace

extern "C" bool SetRelays(bool starting)
{
    return !Framed([&] { return hsim::SetRelays(starting); });
}

extern "C" bool SetInputImpedanceMode(int channel, int mode)
{
    return Framed([&] { return hsim::SetInputImpedanceMode(channel, mode); });
}

// 0 when the device cannot be asked.
extern "C" int GetInputImpedanceMode(int channel)
{
    int mode = 0;
    return Framed([&] { return hsim::GetInputImpedanceMode(channel, mode); }) ? mode : 0;
}

extern "C" bool SetSignalGroundToGNDGround(int channel, bool on)
{
    return Framed([&] { return hsim::SetSignalGroundToGNDGround(channel, on); });
}

extern "C" bool GetSignalGroundToGNDGround(int channel)
{
    bool on = false;
    return Framed([&] { return hsim::GetSignalGroundToGNDGround(channel, on); }) && on;
}

extern "C" bool SetOutputLead(int channel, OutputLead lead)
{
    return Framed([&] { return hsim::SetOutputLead(channel, lead); });
}

extern "C" bool SetDcOffset(int channel)
{
    return Framed([&] { return hsim::SetDcOffset(channel); });
}

extern "C" bool SetSelectedChannelEnabled(unsigned char mask, bool enable)
{
    return Framed([&] { return hsim::SetSelectedChannelEnabled(mask, enable); });
}

extern "C" bool SetSelectedChannelLeads(unsigned char mask, OutputLead lead)
{
    return Framed([&] { return hsim::SetSelectedChannelLeads(mask, lead); });
}

extern "C" bool SetCalibrationMode(bool on)
{
    return Framed([&] { return hsim::SetCalibrationMode(on); });
}

extern "C" bool SetOutputDac(int first, int second)
{
    return Framed([&] { return hsim::SetOutputDac(first, second); });
}

extern "C" bool ResetHwStatus(void)
{
    return Framed([] { return hsim::ResetHwStatus(); });
}

extern "C" bool SetApnea(bool apnea)
{
    return Framed([&] { return hsim::SetApnea(apnea); });
}

extern "C" bool SetRespiration(int variation, int frequency, int ratio, int baseline, int apneaTime)
{
    return Framed([&] { return hsim::SetRespiration(variation, frequency, ratio, baseline, apneaTime); });
}

// The respiration state changes at once; with a device the change is asked
// for and the control block rewritten. False when no device is open (or the
// command window does not open).
extern "C" bool EnableRespiration(bool on)
{
    DeviceFrame frame;
    SwitchRespiration(on);
    if (!on) {
        ClearRespirationSettings();
        _ResetRespireModulation(CurrentEngine().synth);
    }
    if (!frame.open())
        return false;
    _ChangeRequested();
    hsim::SetRelays(true);
    return true;
}

// Calibration runs with output stopped; should output stream anyway, the
// exchange waits for the command window like any other.
extern "C" int HSIMSetCalibrationMode(bool on)
{
    return Framed([&] { return hsim::SetCalibrationMode(on); }) ? 1 : 0;
}

extern "C" int HSIMSetOutputDac(int first, int second)
{
    return Framed([&] { return hsim::SetOutputDac(first, second); }) ? 1 : 0;
}

// The bytes written: 3200 when the transfer went out.
extern "C" int SendStopPacket(void)
{
    DeviceFrame frame;
    return frame.open() ? hsim::SendStopPacket() : 0;
}

extern "C" void StopCallback(void)
{
    ContextGuard lock(hsim::ContextLock());
    NotifyOutputStopped();
}

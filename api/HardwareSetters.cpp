// Exported setters of the per-channel hardware: output lead, input impedance,
// signal ground, DC offset, DC offset mode, common mode, output state.
// A channel outside 0..3 is refused with -2 before anything is sent.
#include "api/CommandFrame.h"
#include "hsim.h"
#include "link/Connection.h"
#include "synth/Parameters.h"

namespace {
constexpr int kBadArgument = -2;
constexpr int kMaxDcOffsetMv = 1000;
}  // namespace

extern "C" int HSIMSetOutputLead(int channel, OutputLead lead)
{
    CAutoCriticalSection lock(g_CriticalSection);
    int result = EnterSetterFrame();
    if (result == kFrameOk && !IsValidChannel(channel))
        result = kBadArgument;
    if (result == kFrameOk) {
        SetRelays(true);
        result = SetOutputLead(channel, lead) ? kFrameOk : kBadArgument;
    }
    return result;
}

extern "C" int HSIMSetInputImpedanceMode(int channel, int mode)
{
    CAutoCriticalSection lock(g_CriticalSection);
    int result = EnterSetterFrame();
    if (result == kFrameOk && (!IsValidChannel(channel) || mode < 0 || mode > 3))
        result = kBadArgument;
    if (result == kFrameOk)
        SetInputImpedanceMode(channel, mode);
    return result;
}

// The mode as the device holds it: -1 when the command window did not open,
// -2 for a bad channel, 0 when the exchange failed.
extern "C" int HSIMGetInputImpedanceMode(int channel)
{
    CAutoCriticalSection lock(g_CriticalSection);
    int result = WaitForCommandWindow(kCommandWindowMs) ? kFrameOk : kFrameRefused;
    if (result == kFrameOk)
        result = IsValidChannel(channel) ? GetInputImpedanceMode(channel) : kBadArgument;
    return result;
}

extern "C" int HSIMSetSignalGroundToGNDGround(int channel, bool on)
{
    CAutoCriticalSection lock(g_CriticalSection);
    int result = EnterSetterFrame();
    if (result == kFrameOk && !IsValidChannel(channel))
        result = kBadArgument;
    if (result == kFrameOk)
        SetSignalGroundToGNDGround(channel, on);
    return result;
}

// 1 when the device cannot be asked (no command window, no device), -2 for a
// bad channel, else 1 or 0 as the device holds it.
extern "C" int HSIMGetSignalGroundToGNDGround(int channel)
{
    CAutoCriticalSection lock(g_CriticalSection);
    int result = 1;
    if (EnterSetterFrame() == kFrameOk)
        result = !IsValidChannel(channel) ? kBadArgument : GetSignalGroundToGNDGround(channel) ? 1 : 0;
    return result;
}

extern "C" int HSIMSetDCOffset(int channel, int mv)
{
    CAutoCriticalSection lock(g_CriticalSection);
    int result = EnterSetterFrame();
    if (result == kFrameOk && (!IsValidChannel(channel) || mv < -kMaxDcOffsetMv || mv > kMaxDcOffsetMv))
        result = kBadArgument;
    if (result == kFrameOk) {
        g_DCSetting = mv;
        SetRelays(true);
        SetDcOffset(channel);
    }
    return result;
}

extern "C" int HSIMGetDCOffset(void)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return g_DCSetting;
}

extern "C" int HSIMSetDCOffsetVariableMode(int channel, bool variable)
{
    CAutoCriticalSection lock(g_CriticalSection);
    int result = EnterSetterFrame();
    if (result == kFrameOk && !IsValidChannel(channel))
        result = kBadArgument;
    if (result == kFrameOk) {
        g_bVariableDC = variable;
        g_bTestVariableDC[channel] = variable;
        SetRelays(true);
        SetDcOffset(channel);
    }
    return result;
}

extern "C" bool HSIMGetDCOffsetVariableMode(void)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return g_bVariableDC;
}

// The flag is kept for the application; the control block has no field for
// it, so the write only refreshes relays and sample rate.
extern "C" int SetDCOffsetCommonMode(bool common)
{
    CAutoCriticalSection lock(g_CriticalSection);
    int result = EnterSetterFrame();
    if (result == kFrameOk) {
        g_bCommonMode = common;
        SetRelays(true);
    }
    return result;
}

extern "C" bool GetDCOffsetCommonMode(void)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return g_bCommonMode;
}

extern "C" int SetAllOutputState(unsigned int state)
{
    (void)state;
    CAutoCriticalSection lock(g_CriticalSection);
    int result = EnterSetterFrame();
    if (result == kFrameOk)
        SetRelays(true);
    return result;
}

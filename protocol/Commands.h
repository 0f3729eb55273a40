// Device configuration commands: the control block, the registers, the
// respiration hardware and the streaming transfers. Each function sends its
// messages through Exchange (and so needs the simulator's lock held); none waits
// for the command window, which the entry point that calls it has entered.
#pragma once

#include "hsim_types.h"
#include "protocol/Exchange.h"

namespace hsim {

constexpr int kOutputChannels = 4;
constexpr int kDeviceBlockSize = 64;

// Output channels 0..3 have a record in the control block; nothing else may
// index it. The commands refuse other channels with BadArgument, unsent.
inline bool IsValidChannel(int channel)
{
    return channel >= 0 && channel < kOutputChannels;
}

// ------------------------------------------------------ the control block

// Reads the device's 64-byte control block (64 zero bytes out, 64 in).
Status ReadControlBlock(unsigned char* block);
// Relay byte (1 while an output function is selected, 8 when none) and the
// output sample rate.
Status WriteRelays(bool functionSelected, int sampleRate);
Status SetInputImpedanceMode(int channel, int mode);
// The mode 0..3 the device holds.
Status GetInputImpedanceMode(int channel, int& mode);
Status SetSignalGroundToGNDGround(int channel, bool on);
Status GetSignalGroundToGNDGround(int channel, bool& on);
Status SetOutputLead(int channel, OutputLead lead);
// The DC offset code of a channel: 0x10 (the DC channel drives the output)
// while its variable-DC mode is on; otherwise the fixed +300 mV (1) and
// -300 mV (2) relays for exactly those settings, unless raw data drive the
// DC channel; else 0.
unsigned char DcOffsetCode(int dcSettingMv, bool rawVariableDC, bool variableDC);
Status WriteDcOffsetCode(int channel, unsigned char code);

// ----------------------------------------------------------- the registers

Status SetSelectedChannelEnabled(unsigned char mask, bool enable);
Status SetSelectedChannelLeads(unsigned char mask, OutputLead lead);
Status SetCalibrationMode(bool on);
Status SetOutputDac(int first, int second);
Status ResetHwStatus();

// ------------------------------------------------ the respiration hardware

// The settings last accepted by the device.
struct RespirationHardware {
    unsigned char nRespirationFrequency = 0;
    unsigned char nRespirationVariation = 0;
    unsigned char nRespirationRatio = 0;
    unsigned char nRespirationBaseline = 0;  // impedance step 0..4
    int nRespirationResistance = 0;          // ohms
    int nRespirationApneaTime = 0;           // seconds of apnea per minute
    bool bRespirationApneaEnabled = false;
    bool RespirationEnabled = false;         // the network is switched into the signal path
};
// The respiration network as the host last set it (in the current context,
// guarded by the simulator's lock).
RespirationHardware& CurrentRespiration();

Status SetApnea(bool apnea);
Status SetRespiration(int variation, int frequency, int ratio, int baseline, int apneaTime);
// Switches the network into the signal path or out of it (the flag only;
// the control block carries it to the device).
void SwitchRespiration(bool on);
// The apnea of the running minute: on for the last nRespirationApneaTime
// seconds of each minute of output time; the device is told of a change.
void EnableApneaByTime(int seconds);
// Forgets the settings (respiration switched off).
void ClearRespirationSettings();

// ------------------------------------------------- streaming transfers

// Holds both outputs at 0 mV for one transfer; the bytes written.
int SendStopPacket();

}  // namespace hsim

// Commands on the device's 64-byte control block.
//
// The device keeps the block; the host never assumes its contents. To change
// a field it asks for the block (64 zero bytes), sets byte 1 to 0xFF, changes
// its fields and writes the block back; every other byte goes back as the
// device sent it, so settings made by other commands survive. The answer to
// the write is read but not examined.
//
// Block layout used here: byte 2 relays (1 while an output function is
// selected, 8 when none), bytes 5-6 sample rate (big-endian), bytes 32-63 one
// 8-byte record per output channel: 0 impedance network 1, 1 network 2, 2 DC
// offset code, 3 lead flag, 4 network 3, 5 signal ground to GND. Flags are
// 0xFF for on, 0x00 for off.
#include "device/Commands.h"

#include "hsim.h"
#include "link/Globals.h"
#include "link/Port.h"
#include "synth/Parameters.h"

namespace {

constexpr unsigned char kOn = 0xFF;
constexpr unsigned char kOff = 0x00;
constexpr int kRelayByte = 2;
constexpr int kRateHigh = 5;
constexpr int kRateLow = 6;
constexpr int kImpedance1 = 0;
constexpr int kImpedance2 = 1;
constexpr int kDcOffsetCode = 2;
constexpr int kLeadFlag = 3;
constexpr int kImpedance3 = 4;
constexpr int kSignalGround = 5;

constexpr unsigned char kDcNone = 0x00;
constexpr unsigned char kDcPlus300 = 0x01;
constexpr unsigned char kDcMinus300 = 0x02;
constexpr unsigned char kDcVariable = 0x10;

unsigned char* ChannelRecord(unsigned char* block, int channel)
{
    return block + 32 + 8 * channel;
}

unsigned char Flag(bool on)
{
    return on ? kOn : kOff;
}

// Read, change, write back, read the answer. False at the first short transfer.
template <class Change>
bool UpdateControlBlock(Change change)
{
    unsigned char block[kDeviceBlockSize];
    unsigned char answer[kDeviceBlockSize];
    bool ok = ReadControlBlock(block);
    if (ok) {
        block[1] = 0xFF;
        change(block);
        ok = WriteData(block, kDeviceBlockSize, 1) == kDeviceBlockSize &&
             ReadData(answer, kDeviceBlockSize) == kDeviceBlockSize;
    }
    return ok;
}

}  // namespace

bool ReadControlBlock(unsigned char* block)
{
    static const unsigned char zeros[kDeviceBlockSize] = {};
    return WriteData(zeros, kDeviceBlockSize, 1) == kDeviceBlockSize &&
           ReadData(block, kDeviceBlockSize) == kDeviceBlockSize;
}

// Note the inverted result: true when a transfer failed.
extern "C" bool SetRelays(bool starting)
{
    (void)starting;  // callers say why they write; the message is the same
    CAutoCriticalSection lock(g_CriticalSection);
    bool ok = UpdateControlBlock([](unsigned char* block) {
        block[kRelayByte] = g_MainOutput != 0 ? 1 : 8;
        block[kRateHigh] = (unsigned char)((g_nSampleRate >> 8) & 0xFF);
        block[kRateLow] = (unsigned char)(g_nSampleRate & 0xFF);
    });
    return !ok;
}

extern "C" bool SetInputImpedanceMode(int channel, int mode)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return IsValidChannel(channel) && UpdateControlBlock([&](unsigned char* block) {
               unsigned char* record = ChannelRecord(block, channel);
               record[kImpedance1] = Flag(mode == 1);
               record[kImpedance2] = Flag(mode == 2);
               record[kImpedance3] = Flag(mode == 3);
           });
}

extern "C" int GetInputImpedanceMode(int channel)
{
    CAutoCriticalSection lock(g_CriticalSection);
    unsigned char block[kDeviceBlockSize];
    int mode = 0;
    if (IsValidChannel(channel) && ReadControlBlock(block)) {
        const unsigned char* record = ChannelRecord(block, channel);
        if (record[kImpedance1] == kOn)
            mode = 1;
        else if (record[kImpedance2] == kOn)
            mode = 2;
        else if (record[kImpedance3] == kOn)
            mode = 3;
    }
    return mode;
}

extern "C" bool SetSignalGroundToGNDGround(int channel, bool on)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return IsValidChannel(channel) && UpdateControlBlock([&](unsigned char* block) {
               ChannelRecord(block, channel)[kSignalGround] = Flag(on);
           });
}

extern "C" bool GetSignalGroundToGNDGround(int channel)
{
    CAutoCriticalSection lock(g_CriticalSection);
    unsigned char block[kDeviceBlockSize];
    return IsValidChannel(channel) && ReadControlBlock(block) &&
           ChannelRecord(block, channel)[kSignalGround] == kOn;
}

extern "C" bool SetOutputLead(int channel, OutputLead lead)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return IsValidChannel(channel) && UpdateControlBlock([&](unsigned char* block) {
               ChannelRecord(block, channel)[kLeadFlag] = Flag(lead == 0);
           });
}

// The DC offset relays give fixed +300 mV and -300 mV; any other setting is
// played on the DC channel, which the variable-DC code routes to the output.
extern "C" bool SetDcOffset(int channel)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return IsValidChannel(channel) && UpdateControlBlock([&](unsigned char* block) {
               unsigned char code = kDcNone;
               if (!g_bRawVariableDC) {
                   if (g_DCSetting == 300)
                       code = kDcPlus300;
                   else if (g_DCSetting == -300)
                       code = kDcMinus300;
               }
               if (g_bTestVariableDC[channel])
                   code = kDcVariable;
               ChannelRecord(block, channel)[kDcOffsetCode] = code;
           });
}

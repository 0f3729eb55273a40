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
#include "protocol/Commands.h"

namespace hsim {

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

// Read, change, write back, read the answer.
template <class Change>
Status UpdateControlBlock(Change change)
{
    unsigned char block[kDeviceBlockSize];
    unsigned char answer[kDeviceBlockSize];
    Status status = ReadControlBlock(block);
    if (status == Status::Ok) {
        block[1] = 0xFF;
        change(block);
        status = Exchange({block, kDeviceBlockSize, answer, kDeviceBlockSize});
    }
    return status;
}

// A change of one channel's record.
template <class Change>
Status UpdateChannel(int channel, Change change)
{
    if (!IsValidChannel(channel))
        return Status::BadArgument;
    return UpdateControlBlock([&](unsigned char* block) { change(ChannelRecord(block, channel)); });
}

// The record of one channel as the device holds it.
Status ReadChannel(int channel, unsigned char* block, const unsigned char*& record)
{
    if (!IsValidChannel(channel))
        return Status::BadArgument;
    record = ChannelRecord(block, channel);
    return ReadControlBlock(block);
}

}  // namespace

Status ReadControlBlock(unsigned char* block)
{
    static const unsigned char zeros[kDeviceBlockSize] = {};
    return Exchange({zeros, kDeviceBlockSize, block, kDeviceBlockSize});
}

Status WriteRelays(bool functionSelected, int sampleRate)
{
    const Status status = UpdateControlBlock([&](unsigned char* block) {
        block[kRelayByte] = functionSelected ? 1 : 8;
        block[kRateHigh] = (unsigned char)((sampleRate >> 8) & 0xFF);
        block[kRateLow] = (unsigned char)(sampleRate & 0xFF);
    });
    // A block that did not go out whole leaves the device as it was.
    if (status == Status::Ok)
        NoteRelaysWritten(functionSelected);
    return status;
}

Status SetInputImpedanceMode(int channel, int mode)
{
    return UpdateChannel(channel, [&](unsigned char* record) {
        record[kImpedance1] = Flag(mode == 1);
        record[kImpedance2] = Flag(mode == 2);
        record[kImpedance3] = Flag(mode == 3);
    });
}

Status GetInputImpedanceMode(int channel, int& mode)
{
    unsigned char block[kDeviceBlockSize];
    const unsigned char* record = nullptr;
    Status status = ReadChannel(channel, block, record);
    mode = 0;
    if (status == Status::Ok) {
        if (record[kImpedance1] == kOn)
            mode = 1;
        else if (record[kImpedance2] == kOn)
            mode = 2;
        else if (record[kImpedance3] == kOn)
            mode = 3;
    }
    return status;
}

Status SetSignalGroundToGNDGround(int channel, bool on)
{
    return UpdateChannel(channel, [&](unsigned char* record) { record[kSignalGround] = Flag(on); });
}

Status GetSignalGroundToGNDGround(int channel, bool& on)
{
    unsigned char block[kDeviceBlockSize];
    const unsigned char* record = nullptr;
    Status status = ReadChannel(channel, block, record);
    on = status == Status::Ok && record[kSignalGround] == kOn;
    return status;
}

// The flag is raised for the primary lead (0) and cleared for any other.
Status SetOutputLead(int channel, OutputLead lead)
{
    return UpdateChannel(channel, [&](unsigned char* record) { record[kLeadFlag] = Flag(lead == 0); });
}

// The DC offset relays give fixed +300 mV and -300 mV; any other setting is
// played on the DC channel, which the variable-DC code routes to the output.
unsigned char DcOffsetCode(int dcSettingMv, bool rawVariableDC, bool variableDC)
{
    unsigned char code = kDcNone;
    if (!rawVariableDC) {
        if (dcSettingMv == 300)
            code = kDcPlus300;
        else if (dcSettingMv == -300)
            code = kDcMinus300;
    }
    if (variableDC)
        code = kDcVariable;
    return code;
}

Status WriteDcOffsetCode(int channel, unsigned char code)
{
    return UpdateChannel(channel, [&](unsigned char* record) { record[kDcOffsetCode] = code; });
}

}  // namespace hsim

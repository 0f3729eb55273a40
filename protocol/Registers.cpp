// Register commands (0xCC family).
//
// Write: 0xCC 0xFF <register> 0x00 <data...>; read: 0xCC 0x00 <register> 0x00.
// Register 0x0D holds the channel enable mask (byte 4) and the channel lead
// mask (byte 5) and travels in 6-byte messages; its answers are accepted
// when byte 3 is 0xFF. Registers 0x06 (calibration mode), 0x07 (the two
// calibration DAC words) and 0x0F (reset of the hardware status) are written
// in 64-byte messages whose answer is not examined.
#include "protocol/Commands.h"

namespace hsim {

namespace {

constexpr unsigned char kRegisterFamily = 0xCC;
constexpr unsigned char kWrite = 0xFF;
constexpr unsigned char kRead = 0x00;
constexpr unsigned char kCalibrationMode = 0x06;
constexpr unsigned char kOutputDac = 0x07;
constexpr unsigned char kChannelMasks = 0x0D;
constexpr unsigned char kResetStatus = 0x0F;
constexpr int kMaskMessageSize = 6;
constexpr int kAcceptByte = 3;

// Reads the masks of register 0x0D, lets `change` compute the new ones from
// the enable mask and the lead mask, and writes them.
template <class Change>
Status UpdateChannelMasks(Change change)
{
    unsigned char message[kMaskMessageSize] = {kRegisterFamily, kRead, kChannelMasks, 0, 0, 0};
    unsigned char answer[kDeviceBlockSize];
    Message exchange{message, kMaskMessageSize, answer, kDeviceBlockSize};
    exchange.acceptByte = kAcceptByte;
    Status status = Exchange(exchange);
    if (status == Status::Ok) {
        message[1] = kWrite;
        change(answer[4], answer[5], message[4], message[5]);
        status = Exchange(exchange);
    }
    return status;
}

// A 64-byte register write whose answer is read but not examined.
Status WriteRegister(unsigned char reg, const unsigned char* data, int length)
{
    unsigned char message[kDeviceBlockSize] = {kRegisterFamily, kWrite, reg, 0x00};
    unsigned char answer[kDeviceBlockSize];
    for (int i = 0; i < length; ++i)
        message[4 + i] = data[i];
    return Exchange({message, kDeviceBlockSize, answer, kDeviceBlockSize});
}

}  // namespace

Status SetSelectedChannelEnabled(unsigned char mask, bool enable)
{
    return UpdateChannelMasks([&](unsigned char enabled, unsigned char leads, unsigned char& newEnabled,
                                  unsigned char& newLeads) {
        newEnabled = enable ? (unsigned char)(enabled | mask) : (unsigned char)(enabled & ~mask);
        newLeads = leads;
    });
}

// Unlike the control block's lead flag, a lead other than 0 sets the mask
// bits here. The enable byte carries the mask itself.
Status SetSelectedChannelLeads(unsigned char mask, OutputLead lead)
{
    return UpdateChannelMasks([&](unsigned char, unsigned char leads, unsigned char& newEnabled,
                                  unsigned char& newLeads) {
        newEnabled = mask;
        newLeads = lead != 0 ? (unsigned char)(leads | mask) : (unsigned char)(leads & ~mask);
    });
}

Status SetCalibrationMode(bool on)
{
    unsigned char data[1] = {(unsigned char)(on ? 1 : 0)};
    return WriteRegister(kCalibrationMode, data, 1);
}

Status SetOutputDac(int first, int second)
{
    unsigned char data[4] = {(unsigned char)((first >> 8) & 0xFF), (unsigned char)(first & 0xFF),
                             (unsigned char)((second >> 8) & 0xFF), (unsigned char)(second & 0xFF)};
    return WriteRegister(kOutputDac, data, 4);
}

Status ResetHwStatus()
{
    return WriteRegister(kResetStatus, nullptr, 0);
}

}  // namespace hsim

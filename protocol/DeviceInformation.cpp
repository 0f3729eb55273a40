// Changing who the connected device is.
//
// The information block (block 1) is updated by reading it (command 0x0C),
// erasing the flash block, and writing it back with byte 3 = 0xFF; the device
// confirms with byte 4 = 0xFF. The device needs 40 ms to prepare each answer.
// Block layout: 16 'H', 17-20 the model characters and code bytes, 21 low
// byte of the second number, 22-23 low 16 bits of the first number
// (big-endian), 24-25 the two hardware values.
#include "protocol/DeviceInformation.h"

#include "protocol/LinkContext.h"

#include "protocol/Commands.h"
#include "protocol/Handshake.h"
#include "protocol/Storage.h"

namespace hsim {

namespace {

constexpr unsigned char kInfoBlockNumber = 1;
constexpr unsigned char kReadForUpdate = 0x0C;
constexpr unsigned int kPrepareMs = 40;

// The update of both setters; `change` edits the block read from the device.
// The hardware-value update also pauses after each answer.
template <class Change>
Status UpdateInformationBlock(bool settle, Change change)
{
    unsigned char block[kDeviceBlockSize] = {0x12, 0x55, 0xAA, 0x00, 0x00, kInfoBlockNumber, 0x00,
                                             kReadForUpdate};
    unsigned char answer[kDeviceBlockSize];
    Message read{block, kDeviceBlockSize, block, kDeviceBlockSize};
    read.pauseMs = kPrepareMs;
    read.settleMs = settle ? kPrepareMs : 0;
    Status status = Exchange(read);
    // Without a flash transport the erase fails and the update ends here.
    if (status == Status::Ok && !FlashErase(kInfoBlockNumber, 0))
        status = Status::Refused;
    if (status == Status::Ok) {
        change(block);
        block[3] = 0xFF;
        Message write{block, kDeviceBlockSize, answer, kDeviceBlockSize};
        write.pauseMs = kPrepareMs;
        write.settleMs = settle ? kPrepareMs : 0;
        write.acceptByte = 4;
        status = Exchange(write);
    }
    return status;
}

}  // namespace

Status SetHWInfo(int value1, int value2)
{
    Status status = UpdateInformationBlock(true, [&](unsigned char* block) {
        block[24] = (unsigned char)(value1 & 0xFF);
        block[25] = (unsigned char)(value2 & 0xFF);
    });
    if (status == Status::Ok) {
        CurrentLink().moduleHWInfo[3] = uint32_t(value1);
        CurrentLink().moduleHWInfo[4] = uint32_t(value2);
    }
    return status;
}

Status SetModelInfo(const MODEL_INFORMATION& info)
{
    Status status = UpdateInformationBlock(false, [&](unsigned char* block) {
        block[16] = 0x48;
        block[17] = info.Character1;
        block[18] = info.Character2;
        block[19] = info.Code1;
        block[20] = info.Code2;
        block[21] = (unsigned char)(info.Number2 & 0xFF);
        block[22] = (unsigned char)((info.Number1 >> 8) & 0xFF);
        block[23] = (unsigned char)(info.Number1 & 0xFF);
        block[4] = 0;
    });
    if (status == Status::Ok)
        CurrentLink().modelInfo = info;
    return status;
}

}  // namespace hsim

// Who the connected device is, and changing it.
//
// The identity and hardware words are the host copies made at connection;
// the accessors never ask the device again and refuse while no port is open.
// The information block (block 1) is updated by reading it (command 0x0C),
// erasing the flash block, and writing it back with byte 3 = 0xFF; the device
// confirms with byte 4 = 0xFF. Block layout: 16 'H', 17-20 the model
// characters and code bytes, 21 low byte of the second number, 22-23 low 16
// bits of the first number (big-endian), 24-25 the two hardware values.
#include "device/DeviceInformation.h"

#include "device/Commands.h"
#include "device/Storage.h"
#include "hsim.h"
#include "link/Connection.h"
#include "link/Globals.h"
#include "link/Handshake.h"
#include "link/Port.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr unsigned char kInfoBlockNumber = 1;
constexpr unsigned char kReadForUpdate = 0x0C;
constexpr const char* kLibraryVersion = "1.0.5.2";

enum class Pause { None, AfterRead };

// The update of both setters; `change` edits the block read from the device.
template <class Change>
bool UpdateInformationBlock(Pause pause, Change change)
{
    unsigned char block[kDeviceBlockSize] = {0x12, 0x55, 0xAA, 0x00, 0x00, kInfoBlockNumber, 0x00,
                                             kReadForUpdate};
    unsigned char answer[kDeviceBlockSize];
    bool ok = WriteData(block, kDeviceBlockSize, 1) == kDeviceBlockSize;
    if (ok) {
        SleepEx(40);
        ok = ReadData(block, kDeviceBlockSize) == kDeviceBlockSize;
    }
    if (ok && pause == Pause::AfterRead)
        SleepEx(40);
    // Without a flash transport the erase fails and the update ends here.
    ok = ok && FlashErase(kInfoBlockNumber, 0);
    if (ok) {
        change(block);
        block[3] = 0xFF;
        ok = WriteData(block, kDeviceBlockSize, 1) == kDeviceBlockSize;
    }
    if (ok) {
        SleepEx(40);
        ok = ReadData(answer, kDeviceBlockSize) == kDeviceBlockSize;
    }
    if (ok && pause == Pause::AfterRead)
        SleepEx(40);
    return ok && answer[4] == 0xFF;
}

std::mutex s_SerialMutex;
char s_szSerialNumber[32];

}  // namespace

bool SetHWInfo(int value1, int value2)
{
    bool ok = UpdateInformationBlock(Pause::AfterRead, [&](unsigned char* block) {
        block[24] = (unsigned char)(value1 & 0xFF);
        block[25] = (unsigned char)(value2 & 0xFF);
    });
    if (ok) {
        g_ModuleHWInfo[3] = uint32_t(value1);
        g_ModuleHWInfo[4] = uint32_t(value2);
    }
    return ok;
}

bool SetModelInfo(const MODEL_INFORMATION* info)
{
    bool ok = UpdateInformationBlock(Pause::None, [&](unsigned char* block) {
        block[16] = 0x48;
        block[17] = info->Character1;
        block[18] = info->Character2;
        block[19] = info->Code1;
        block[20] = info->Code2;
        block[21] = (unsigned char)(info->Number2 & 0xFF);
        block[22] = (unsigned char)((info->Number1 >> 8) & 0xFF);
        block[23] = (unsigned char)(info->Number1 & 0xFF);
        block[4] = 0;
    });
    if (ok)
        g_ModelInfo = *info;
    return ok;
}

// 1 when the update succeeded; 0 when it failed, when no device is open or
// when output streams and the command window does not open.
extern "C" int HSIMSetHWInformation(int value1, int value2)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return WaitForCommandWindow(kCommandWindowMs) && DeviceIsConnected() && SetHWInfo(value1, value2) ? 1 : 0;
}

extern "C" int HSIMSetDeviceInformation(MODEL_INFORMATION* info)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return info && WaitForCommandWindow(kCommandWindowMs) && DeviceIsConnected() && SetModelInfo(info) ? 1 : 0;
}

extern "C" int HSIMGetDeviceInformation(MODEL_INFORMATION* info)
{
    CAutoCriticalSection lock(g_CriticalSection);
    bool copied = info && DeviceIsConnected();
    if (copied)
        *info = g_ModelInfo;
    return copied ? 1 : 0;
}

extern "C" int HSIMGetHWInformation(void* words)
{
    CAutoCriticalSection lock(g_CriticalSection);
    bool copied = words && DeviceIsConnected();
    if (copied)
        memcpy(words, g_ModuleHWInfo, sizeof g_ModuleHWInfo);
    return copied ? 1 : 0;
}

// "H", the two model characters, the code bytes in hexadecimal, "-", the
// second number and the first number. With no device the fields are zero, so
// the text holds two NUL characters after the "H".
extern "C" const char* HSIMGetSerialNumber(void)
{
    MODEL_INFORMATION info = {};
    HSIMGetDeviceInformation(&info);
    std::lock_guard<std::mutex> guard(s_SerialMutex);
    snprintf(s_szSerialNumber, sizeof s_szSerialNumber, "H%c%c%02X%02X-%02d%04d", info.Character1,
             info.Character2, info.Code1, info.Code2, info.Number2, info.Number1);
    return s_szSerialNumber;
}

extern "C" int HSIMGetVersion(void)
{
    return ConvertVersion(kLibraryVersion);
}

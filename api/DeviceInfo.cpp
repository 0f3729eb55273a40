// Who the connected device is, changing it, its storage, and the library's
// version.
//
// The identity and hardware words are the host copies made at connection;
// the accessors never ask the device again and refuse while no port is open.
// The setters report 1 only when the device confirmed the update; no device,
// no command window and a failed update are all 0.
#include "api/Frame.h"
#include "api/Simulator.h"
#include "output/Engine.h"
#include "hsim.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Handshake.h"
#include "protocol/Storage.h"
#include "runtime/Utilities.h"
#include "transport/Port.h"

#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" int HSIMSetHWInformation(int value1, int value2)
{
    return hsim::InCommandFrame([&] { return hsim::SetHWInfo(value1, value2); }) == hsim::Status::Ok ? 1 : 0;
}

extern "C" int HSIMSetDeviceInformation(MODEL_INFORMATION* info)
{
    if (info == nullptr)
        return 0;
    return hsim::InCommandFrame([&] { return hsim::SetModelInfo(*info); }) == hsim::Status::Ok ? 1 : 0;
}

// The identity getters read what was published when the lock was last let
// go: they never wait for a thread that holds it.
extern "C" int HSIMGetDeviceInformation(MODEL_INFORMATION* info)
{
    bool copied = info && DeviceIsConnected();
    if (copied)
        *info = hsim::CurrentIdentity().model;
    return copied ? 1 : 0;
}

extern "C" int HSIMGetHWInformation(void* words)
{
    bool copied = words && DeviceIsConnected();
    if (copied) {
        const hsim::DeviceIdentity identity = hsim::CurrentIdentity();
        memcpy(words, identity.hardware, sizeof identity.hardware);
    }
    return copied ? 1 : 0;
}

// "H", the two model characters, the code bytes in hexadecimal, "-", the
// second number and the first number. With no device the fields are zero, so
// the text holds two NUL characters after the "H".
extern "C" const char* HSIMGetSerialNumber(void)
{
    MODEL_INFORMATION info = {};
    HSIMGetDeviceInformation(&info);
    hsim::Simulator& simulator = hsim::CurrentSimulator();
    std::lock_guard<std::mutex> guard(simulator.serialMutex);
    snprintf(simulator.serialNumber, sizeof simulator.serialNumber, "H%c%c%02X%02X-%02d%04d", info.Character1,
             info.Character2, info.Code1, info.Code2, info.Number2, info.Number1);
    return simulator.serialNumber;
}

extern "C" int HSIMGetVersion(void)
{
    return ConvertVersion(HSIM_VERSION_STRING);
}

extern "C" int HSIMReadMfgInfo(unsigned char* buffer, int length)
{
    ContextGuard lock(hsim::ContextLock());
    return ReadECGMfgInfo(buffer, length) ? 1 : 0;
}

extern "C" int HSIMWriteMfgInfo(unsigned char* buffer, int length)
{
    ContextGuard lock(hsim::ContextLock());
    return WriteECGMfgInfo(buffer, length) ? 1 : 0;
}

extern "C" int HSIMWriteDCCalibrationData(int channel, unsigned short value)
{
    DeviceFrame frame;
    return frame.open() && WriteDCVariableCalibrationData(channel, value) ? 1 : 0;
}

extern "C" int HSIMSetDCOffsetCalibrationData(int channel, int value)
{
    ContextGuard lock(hsim::ContextLock());
    SetDcOffsetCalibration((unsigned char)(channel & 0xFF), value);
    return 0;
}

extern "C" int HSIMSetFixedDCByDAC(int)
{
    return 0;
}

extern "C" int HSIMUpdateFwLoadFirmwareFile(void*, void*, void*, void*)
{
    return -1;  // firmware update is not available
}

extern "C" void HSIMUpdateFwBurnBinFile(void*)
{
}

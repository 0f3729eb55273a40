// Storage layer. Block 17 holds the manufacturing information (from address
// 0, at most 64 bytes) and the four DC calibration words (address 32 + 2 x
// channel, most significant byte first); block 1 holds the device information
// block. A block is erased before it is rewritten.
#include "protocol/Storage.h"

#include "protocol/Commands.h"

namespace {

constexpr unsigned char kStorageBlock = 17;
constexpr int kMfgInfoMax = 64;
constexpr unsigned int kCalibrationAddress = 32;
constexpr unsigned short kMidScale = 0x8000;  // DC word of 0 mV

// A negative length is an empty transfer.
unsigned long ClampLength(int length)
{
    return length <= 0 ? 0 : (unsigned long)(length > kMfgInfoMax ? kMfgInfoMax : length);
}

}  // namespace

unsigned short g_ECGDCVariableCalibrationData[8] = {kMidScale, kMidScale, kMidScale, kMidScale,
                                                    kMidScale, kMidScale, kMidScale, kMidScale};

bool FlashErase(unsigned char, unsigned int)
{
    return false;
}
bool DoReadEEPROM(unsigned int, unsigned char, unsigned short*, unsigned long)
{
    return false;
}
bool DoReadEEPROM(unsigned int, unsigned char, unsigned char*, unsigned long)
{
    return false;
}
bool DoWriteEEPROM(unsigned int, unsigned char, unsigned short*, unsigned long)
{
    return false;
}
bool DoWriteEEPROM(unsigned int, unsigned char, unsigned char*, unsigned long)
{
    return false;
}
bool DoWriteEEPROM(unsigned int, unsigned short*)
{
    return false;
}
bool SetDcOffsetCalibration(unsigned char, int)
{
    return false;
}
unsigned int getFileSize(const char*)
{
    return 0xFFFFFFFFu;  // the size is never determined
}

bool ReadDCVariableCalibrationData(unsigned short* words)
{
    return DoReadEEPROM(kCalibrationAddress, kStorageBlock, words, 4);
}

bool WriteDCVariableCalibrationData(int channel, unsigned short value)
{
    unsigned char bytes[2] = {(unsigned char)(value >> 8), (unsigned char)(value & 0xFF)};
    return hsim::IsValidChannel(channel) &&
           DoWriteEEPROM(unsigned(channel + 16) * 2, kStorageBlock, bytes, 2);
}

bool ReadECGMfgInfo(unsigned char* buffer, int length)
{
    return buffer && DoReadEEPROM(0, kStorageBlock, buffer, ClampLength(length));
}

bool WriteECGMfgInfo(unsigned char* buffer, int length)
{
    return buffer && FlashErase(kStorageBlock, 0) &&
           DoWriteEEPROM(0, kStorageBlock, buffer, ClampLength(length));
}

extern "C" void SetDefaultECGDCVariableCalibrationData(void)
{
    for (unsigned short& word : g_ECGDCVariableCalibrationData)
        word = kMidScale;
}

// Non-volatile storage of the device: manufacturing information, DC
// calibration words, flash erase. The device offers no transport for them,
// so every primitive reports failure without sending anything; callers keep
// the block numbers, addresses, lengths and byte order a transport would use.
#pragma once

#include "hsim_types.h"

bool FlashErase(unsigned char block, unsigned int address);
bool DoReadEEPROM(unsigned int address, unsigned char block, unsigned short* buffer, unsigned long count);
bool DoReadEEPROM(unsigned int address, unsigned char block, unsigned char* buffer, unsigned long count);
bool DoWriteEEPROM(unsigned int address, unsigned char block, unsigned short* buffer, unsigned long count);
bool DoWriteEEPROM(unsigned int address, unsigned char block, unsigned char* buffer, unsigned long count);
bool DoWriteEEPROM(unsigned int address, unsigned short* buffer);
bool SetDcOffsetCalibration(unsigned char channel, int value);
unsigned int getFileSize(const char* path);

bool ReadDCVariableCalibrationData(unsigned short* words);
bool WriteDCVariableCalibrationData(int channel, unsigned short value);
bool ReadECGMfgInfo(unsigned char* buffer, int length);
bool WriteECGMfgInfo(unsigned char* buffer, int length);

extern "C" {
// Default DC calibration words; nothing in the library reads them.
HSIM_API extern unsigned short g_ECGDCVariableCalibrationData[8];
HSIM_API void SetDefaultECGDCVariableCalibrationData(void);
}

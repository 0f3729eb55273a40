// Device configuration commands shared inside the library.
#pragma once

#include "hsim.h"

constexpr int kOutputChannels = 4;
constexpr int kDeviceBlockSize = 64;

// Output channels 0..3 have a record in the control block; nothing else may
// index it.
inline bool IsValidChannel(int channel)
{
    return channel >= 0 && channel < kOutputChannels;
}

// Reads the device's 64-byte control block (64 zero bytes out, 64 in).
bool ReadControlBlock(unsigned char* block);

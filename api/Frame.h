// The frame of every exported function that talks to the device, and the
// mapping of the internal results to the values the exported functions give.
#pragma once

#include "hsim_ext.h"
#include "protocol/Exchange.h"
#include "runtime/Sync.h"

// The frame of the exported functions that talk to the device: holds
// the simulator's lock for the whole call; refuses when no device is open (at
// once) and, while output streams, waits up to 3000 ms for the command
// window. A frame that is not open has sent and stored nothing.
using DeviceFrame = hsim::CommandFrame;

constexpr int kSetterOk = 0;
constexpr int kSetterRefused = -1;    // no device, or no command window
constexpr int kSetterBadArgument = -2;

// 0; -1 for no device or no window; -2 for a refused channel; HSIM_ERROR_IO
// when the device did not complete an exchange.
inline int SetterResult(hsim::Status status)
{
    switch (status) {
    case hsim::Status::Ok: return kSetterOk;
    case hsim::Status::NoDevice:
    case hsim::Status::Busy: return kSetterRefused;
    case hsim::Status::BadArgument: return kSetterBadArgument;
    default: return HSIM_ERROR_IO;
    }
}

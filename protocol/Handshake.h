// Identification of the device on an open port, and the keep-alive exchange.
#pragma once

#include "hsim_types.h"

#include <cstdint>

extern MODEL_INFORMATION g_ModelInfo;    // identity from the probe reply
extern uint32_t g_ModuleHWInfo[5];       // hardware words from the information query
extern unsigned char s_DeviceHWInfo[64]; // the last information block, as received

// The handshake of a newly opened port: identity probe, then GetHWInfo.
bool IsTargetDevice();
// The information query.
bool GetHWInfo();
// The keep-alive: the device still answers the identity probe.
bool WatchDog();

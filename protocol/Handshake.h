// Identification of the device on an open port, and the keep-alive exchange.
#pragma once

#include "hsim_types.h"

#include <cstdint>

// The identity and hardware words go into the current context (LinkContext).
// The handshake of a newly opened port: identity probe, then GetHWInfo.
bool IsTargetDevice();
// The information query.
bool GetHWInfo();
// The keep-alive: the device still answers the identity probe.
bool WatchDog();

// The default context of a test program that links a lower layer alone: the
// part of the device context that layer works on (its code never asks for a
// part above its own).
#pragma once

#include "transport/PortContext.h"

namespace layertest {

template <class Part>
struct Context final : Part {};

template <class Part>
inline const bool kDefaultInstalled = (hsim::SetDefaultContext(new Context<Part>), true);

}  // namespace layertest

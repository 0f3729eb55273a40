// Updates of the device information block.
#pragma once

#include "hsim_types.h"
#include "protocol/Exchange.h"

namespace hsim {

// Ok when the update completed and the device confirmed it; the host copies
// (hardware words 3 and 4, the model information) change only then.
Status SetHWInfo(int value1, int value2);
Status SetModelInfo(const MODEL_INFORMATION& info);

}  // namespace hsim

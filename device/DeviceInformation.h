// Updates of the device information block.
#pragma once

#include "hsim.h"

bool SetHWInfo(int value1, int value2);
bool SetModelInfo(const MODEL_INFORMATION* info);

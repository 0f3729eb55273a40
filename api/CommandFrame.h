// The frame every exported setter runs in.
//
// 1. take g_CriticalSection (for the whole call);
// 2. while output streams, wait up to 3000 ms for the command window;
// 3. refuse when no device is open;
// 4. check the arguments (-2, -3, ... in order);
// 5. store and trigger.
// Steps 2 and 3 fail with -1 and change nothing.
#pragma once

#include "device/Commands.h"
#include "link/Connection.h"
#include "link/Globals.h"

constexpr int kFrameOk = 0;
constexpr int kFrameRefused = -1;

// Steps 2 and 3, with g_CriticalSection held by the caller.
int EnterSetterFrame();

#include "api/CommandFrame.h"

#include "link/Connection.h"
#include "link/Port.h"

int EnterSetterFrame()
{
    bool open = WaitForCommandWindow(kCommandWindowMs) && DeviceIsConnected();
    return open ? kFrameOk : kFrameRefused;
}

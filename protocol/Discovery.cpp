// Port scan.
//
// A port is tried by opening its node, taking the lock file, putting the
// line into raw mode and running the handshake. The probe of one port runs
// with the simulator's lock held, so no command can meet a half-identified port.
#include "protocol/Discovery.h"

#include "protocol/Exchange.h"
#include "protocol/Handshake.h"
#include "runtime/Platform.h"
#include "runtime/Sync.h"
#include "transport/DeviceLocation.h"
#include "transport/LockFile.h"
#include "transport/Port.h"

#include <fcntl.h>
#include <unistd.h>

bool DoFindDevice(int port)
{
    char path[kDevicePathSize];
    bool found = false;
    if (!FormatDevicePath(port, path, sizeof path))
        return false;
    ContextGuard lock(hsim::ContextLock());
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || !PortAdopt(fd))
        return false;
    if (LockDeviceFile(port)) {
        DeviceCancelIO();
        SetRawLine(fd);
        found = IsTargetDevice();
    }
    if (found)
        PortSetPath(path, port);
    else
        DeviceClose();
    return found;
}

bool FindDevice(int port)
{
    bool found = false;
    if (port == -1) {
        for (int n = 0; n < kMaxPorts && !found; ++n)
            found = DoFindDevice(n);
    } else {
        found = DoFindDevice(port);
    }
    return found;
}

bool DeviceConnect(int port, int attempts)
{
    for (int i = 0; i < attempts; ++i) {
        if (FindDevice(port))
            return true;
        SleepEx(1000);
    }
    return false;
}

// Port scan and presence test.
//
// A port is tried by opening its node, taking the lock file, putting the
// line into raw mode (the simulator is a CDC-ACM device: the line settings
// only matter to the kernel's tty layer, which must not translate or echo
// anything) and running the handshake. The probe of one port runs with
// g_CriticalSection held, so no command can meet a half-identified port.
#include "link/Discovery.h"

#include "hsim.h"
#include "link/DeviceLocation.h"
#include "link/Globals.h"
#include "link/Handshake.h"
#include "link/LockFile.h"
#include "link/Port.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

void SetRawLine(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return;
    tio.c_cflag &= ~tcflag_t(CLOCAL);
    tio.c_iflag |= IGNPAR;
    tio.c_iflag &= ~tcflag_t(ICRNL | IXON);
    tio.c_oflag &= ~tcflag_t(OPOST | ONLCR);
    tio.c_lflag = 0;
    tio.c_cc[VEOF] = 4;
    cfsetospeed(&tio, B115200);
    tcsetattr(fd, TCSANOW, &tio);  // a pseudo terminal may refuse parts; not checked
}

}  // namespace

bool DoFindDevice(int port)
{
    char path[kDevicePathSize];
    bool found = false;
    if (!FormatDevicePath(port, path, sizeof path))
        return false;
    CAutoCriticalSection lock(g_CriticalSection);
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    PortAdopt(fd);
    if (LockDeviceFile(port)) {
        DeviceCancelIO();
        SetRawLine(fd);
        found = IsTargetDevice();
    }
    if (found)
        PortSetPath(path);
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

bool DeviceIsAlive()
{
    char command[kPresenceCommandSize];
    char line[512];
    bool alive = false;
    if (!DeviceIsConnected() || !FormatPresenceCommand(command, sizeof command))
        return false;
    FILE* pipe = popen(command, "re");
    if (!pipe)
        return false;
    while (!alive && fgets(line, 511, pipe)) {
        StringTrim(line);
        alive = DeviceCheckPath(line);
    }
    pclose(pipe);
    return alive;
}

// Presence test: is the node of the identified device still listed? The
// listing is a shell command (see DeviceLocation.cpp for how the configured
// paths are quoted), read line by line and compared with the recorded path.
#include "runtime/Utilities.h"
#include "transport/DeviceLocation.h"
#include "transport/Port.h"

#include <cstdio>

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

// Connects to an emulated device and exits without HSIMFree. Exit status 0
// when the connection was made; the test checks that the exit is clean and
// the lock file is gone.
#include "Emulator.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// Deliberately never destroyed: exit() must cope with the library's threads
// still running. Held in a global so that leak checkers see it reachable.
static hsimemu::Emulator* s_emulator = nullptr;

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    std::string dir = argv[1];
    int port = atoi(argv[2]);
    std::string format = dir + "/ttyACM%d";
    std::string locks = dir + "/lock";
    if (HSIMSetDeviceLocation(format.c_str(), locks.c_str()) != 0)
        return 3;
    hsimemu::Options options;
    options.directory = dir;
    options.port = port;
    s_emulator = new hsimemu::Emulator(options);
    if (!s_emulator->start())
        return 4;
    if (!HSIMConnect(port, 10000))
        return 5;
    std::exit(0);
}

// Connects to an emulated device on the port given, opens a second simulator
// on the port after it, and exits without HSIMFree or HSIMClose. Exit status
// 0 when both connected; the test checks that the exit is clean and both
// lock files are gone.
#include "Emulator.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// Deliberately never destroyed: exit() must cope with the library's threads
// still running. Held in a global so that leak checkers see it reachable.
static hsimemu::Emulator* s_emulators[2] = {};
// Never closed either, as an application that exits without HSIMClose.
static HSIM_SIMULATOR* s_simulator = nullptr;

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
    for (int i = 0; i < 2; ++i) {
        hsimemu::Options options;
        options.directory = dir;
        options.port = port + i;
        s_emulators[i] = new hsimemu::Emulator(options);
        if (!s_emulators[i]->start())
            return 4;
    }
    if (!HSIMConnect(port, 10000))
        return 5;
    s_simulator = HSIMOpen(port + 1, 10000);
    if (s_simulator == nullptr)
        return 6;
    std::exit(0);
}

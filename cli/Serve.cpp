// hsimctl serve: the front panel on the simulators found (or the built-in
// emulator's), until Ctrl-C or SIGTERM leaves each of them at 0 mV.
#include "Commands.h"
#include "Panel.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <cstdio>

namespace hsimctl {

int RunServe(const ConnectOptions& connect, const ServeOptions& options)
{
    PanelOptions panelOptions;
    std::string why;
    if (!ParseListen(options.listen, panelOptions.host, panelOptions.port, why)) {
        std::fprintf(stderr, "hsimctl: --listen: %s\n", why.c_str());
        return kExitUsage;
    }
    if (!IsLoopback(panelOptions.host) && !options.allowRemote) {
        std::fprintf(stderr,
                     "hsimctl: listening on %s lets other machines drive the simulator; add --allow-remote to do so "
                     "(every request then needs the access token printed at start)\n",
                     panelOptions.host.c_str());
        return kExitUsage;
    }
    panelOptions.requireToken = !IsLoopback(panelOptions.host);
    panelOptions.emulated = connect.emulator;

    int code = kExitOk;
    auto session = Session::Open(connect, why, code);
    if (!session) {
        std::fprintf(stderr, "hsimctl: %s\n", why.c_str());
        return code;
    }
    std::vector<OpenSimulator> simulators = {{session->simulator(), session->emulator()}};
    // The other simulators: the emulator's other devices, or every other one
    // free on this machine when no port or serial number chose one.
    std::vector<HSIM_SIMULATOR*> others;
    if (connect.emulator) {
        for (int i = 1; i < connect.emulatedDevices; ++i)
            if (HSIM_SIMULATOR* s = HSIMOpenSerial(EmulatedSerialNumber(i).c_str(), 5000))
                others.push_back(s);
    } else if (connect.port < 0 && connect.serial.empty()) {
        while (others.size() < 15)
            if (HSIM_SIMULATOR* s = HSIMOpen(-1, 500))
                others.push_back(s);
            else
                break;
    }
    for (HSIM_SIMULATOR* s : others)
        simulators.push_back({s, session->emulatorOnPort(HSIMSimGetPort(s))});

    int result = kExitOk;
    {
        Panel panel(simulators, panelOptions);
        if (!panel.Start(why)) {
            std::fprintf(stderr, "hsimctl: %s\n", why.c_str());
            result = kExitFailed;
        } else {
            std::printf("serving %s\n", panel.url().c_str());
            if (panelOptions.requireToken)
                std::printf("access token: %s (every request carries it; the address above has it)\n",
                            panel.token().c_str());
            std::printf("%zu simulator%s; Ctrl-C ends and leaves %s at 0 mV\n", simulators.size(),
                        simulators.size() == 1 ? "" : "s", simulators.size() == 1 ? "it" : "each");
            std::fflush(stdout);
            WaitFor(-1);
            panel.Stop();
            result = kExitInterrupted;
        }
    }
    HSIMUse(nullptr);
    for (HSIM_SIMULATOR* s : others) {
        HSIMSimSetOutputFunction(s, 0);
        HSIMClose(s);
    }
    HSIMUse(session->simulator());
    session->StopOutput();
    return result == kExitInterrupted ? kExitOk : result;
}

}  // namespace hsimctl

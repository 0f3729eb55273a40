// Simulators opened by the application beside the default one: each is a
// simulator of its own (context, threads, lock), and a call on one binds it
// to the calling thread for the call's length.
#include "api/Simulator.h"
#include "hsim.h"
#include "hsim_ext.h"
#include "lifecycle/Lifecycle.h"
#include "transport/Port.h"

#include <cstring>
#include <new>
#include <vector>

struct HSIM_SIMULATOR {
    hsim::Simulator simulator;
};

namespace {

// Runs call on the simulator, bound to this thread; fallback for null.
template <class Result, class Call>
Result On(HSIM_SIMULATOR* s, Result fallback, Call call)
{
    if (s == nullptr)
        return fallback;
    hsim::ContextBinding binding(s->simulator);
    return call();
}

}  // namespace

extern "C" HSIM_SIMULATOR* HSIMOpen(int port, unsigned int timeoutMs)
{
    HSIM_SIMULATOR* s = new (std::nothrow) HSIM_SIMULATOR;
    if (s == nullptr)
        return nullptr;
    bool connected;
    {
        hsim::ContextBinding binding(s->simulator);
        connected = HSIMConnect(port, timeoutMs);
    }
    if (!connected) {
        delete s;  // its connect thread has been stopped by HSIMConnect
        return nullptr;
    }
    return s;
}

extern "C" HSIM_SIMULATOR* HSIMOpenSerial(const char* serial, unsigned int timeoutMs)
{
    if (serial == nullptr)
        return nullptr;
    // The ones that are not it stay open until the search ends, so that the
    // next search passes over their ports.
    std::vector<HSIM_SIMULATOR*> others;
    HSIM_SIMULATOR* found = nullptr;
    while (found == nullptr) {
        HSIM_SIMULATOR* s = HSIMOpen(-1, timeoutMs);
        if (s == nullptr)
            break;
        const char* number = HSIMSimGetSerialNumber(s);
        if (number != nullptr && std::strcmp(number, serial) == 0)
            found = s;
        else
            others.push_back(s);
    }
    for (HSIM_SIMULATOR* s : others)
        HSIMClose(s);
    return found;
}

extern "C" void HSIMClose(HSIM_SIMULATOR* s)
{
    if (s == nullptr)
        return;
    {
        hsim::ContextBinding binding(s->simulator);
        HSIMFree();
    }
    delete s;
}

extern "C" void HSIMUse(HSIM_SIMULATOR* s)
{
    hsim::BindThread(s != nullptr ? &s->simulator : nullptr);
}

extern "C" bool HSIMSimIsConnected(HSIM_SIMULATOR* s)
{
    return On(s, false, [] { return HSIMIsConnected(); });
}

extern "C" int HSIMSimGetPort(HSIM_SIMULATOR* s)
{
    return On(s, -2, [] { return DevicePort(); });
}

extern "C" const char* HSIMSimGetSerialNumber(HSIM_SIMULATOR* s)
{
    return On(s, static_cast<const char*>(nullptr), [] { return HSIMGetSerialNumber(); });
}

extern "C" int HSIMSimSetParameter(HSIM_SIMULATOR* s, const char* name, double value)
{
    return On(s, -2, [&] { return HSIMSetParameter(name, value); });
}

extern "C" int HSIMSimGetParameter(HSIM_SIMULATOR* s, const char* name, double* value)
{
    return On(s, -2, [&] { return HSIMGetParameter(name, value); });
}

extern "C" int HSIMSimSetChannelParameter(HSIM_SIMULATOR* s, const char* name, int channel, double value)
{
    return On(s, -2, [&] { return HSIMSetChannelParameter(name, channel, value); });
}

extern "C" int HSIMSimGetChannelParameter(HSIM_SIMULATOR* s, const char* name, int channel, double* value)
{
    return On(s, -2, [&] { return HSIMGetChannelParameter(name, channel, value); });
}

extern "C" int HSIMSimSetOutputFunction(HSIM_SIMULATOR* s, int outputFunction)
{
    return On(s, -2, [&] { return HSIMSetOutputFunction(outputFunction); });
}

extern "C" int HSIMSimGetOutputFunction(HSIM_SIMULATOR* s)
{
    return On(s, -2, [] { return HSIMGetOutputFunction(); });
}

extern "C" int HSIMSimRenderOutput(HSIM_SIMULATOR* s, int count, double* acMv, double* dcMv, short* acWords,
                                   unsigned short* dcWords)
{
    return On(s, -2, [&] { return HSIMRenderOutput(count, acMv, dcMv, acWords, dcWords); });
}

extern "C" int HSIMSimGetStreamHealth(HSIM_SIMULATOR* s, HSIM_STREAM_HEALTH* health)
{
    return On(s, -2, [&] { return HSIMGetStreamHealth(health); });
}

extern "C" HSIM_TAP* HSIMSimTapOpen(HSIM_SIMULATOR* s)
{
    return On(s, static_cast<HSIM_TAP*>(nullptr), [] { return HSIMTapOpen(); });
}

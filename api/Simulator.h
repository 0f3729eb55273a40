// The simulator behind the exported interface: the whole device context and
// what the entry points keep beside it. The flat interface drives the default
// simulator, created when the library is loaded and kept until the process
// ends (its threads may run until then).
#pragma once

#include "hsim.h"
#include "lifecycle/DeviceContext.h"

#include <map>
#include <mutex>

namespace hsim {

struct Simulator : DeviceContext {
    // Device-change callbacks recorded for the application; the library
    // calls none of them.
    std::mutex notifyMutex;
    std::map<unsigned int, HSIM_NOTIFY_CALLBACK> notifyEvents;
    // The text HSIMGetSerialNumber returns, valid until its next call.
    std::mutex serialMutex;
    char serialNumber[32] = {};
};

inline Simulator& CurrentSimulator()
{
    return static_cast<Simulator&>(CurrentPort());
}

}  // namespace hsim

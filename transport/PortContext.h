// The device context, bottom part: the port of one simulator.
//
// One simulator's state is one object. Each layer adds its part to it by
// deriving from the part of the layer below (PortContext, LinkContext,
// OutputContext, DeviceContext), so a layer sees its own part and those
// below, never those above. A thread works on the context bound to it
// (ContextBinding: the library's own threads bind the context they serve)
// or, when none is bound, on the default context that the flat interface
// drives. Code of a layer asks for its part through its accessor
// (CurrentPort, CurrentLink, CurrentOutput, CurrentDevice); every context in
// use is a whole DeviceContext, so each accessor's downcast is sound.
//
// A context is never destroyed while the process may still use it: the
// presence monitor may close the port until the very end of the process.
#pragma once

#include "runtime/Sync.h"
#include "transport/DeviceLocation.h"

#include <atomic>

namespace hsim {

struct PortSlot {
    int fd = -1;
    int wake[2] = {-1, -1};
    unsigned long generation = 0;  // 0: the slot is free
    int users = 0;
    bool closed = false;
};

struct PortContext {
    PortContext() = default;
    PortContext(const PortContext&) = delete;
    PortContext& operator=(const PortContext&) = delete;

    // Descriptor of the identified port, -1 while none is (published by
    // PortSetPath). A copy is only meaningful inside a transfer.
    std::atomic<long> hDevice{-1};
    std::atomic<unsigned int> readTimeoutMs{200};
    std::atomic<unsigned int> writeTimeoutMs{200};

    // The open port and closed ones whose transfers have not all ended yet.
    // Closed openings are woken and end their transfers within one poll, so
    // a handful of slots is plenty; a port that finds no free slot is refused.
    static constexpr int kOpenings = 8;
    PiMutex portMutex;  // guards the openings, the current slot and the path
    PortSlot openings[kOpenings];
    int nCurrent = -1;               // slot of the open port, -1 when closed
    unsigned long nGeneration = 0;   // numbers the openings
    char szDevicePath[kDevicePathSize] = "";  // path of the identified device
    int nPort = -1;                           // its port number
    // The opening on which the device was found to have hung up.
    std::atomic<unsigned long> hungUpOpening{0};

    // The lock file this context holds, -1 when none.
    PiMutex lockFileMutex;  // guards the two below
    int nLockFile = -1;
    char szLockFilePath[kLockPathSize] = "";

protected:
    ~PortContext() = default;
};

// The context of the calling thread: the one bound to it, else the default.
PortContext& CurrentPort();

// Makes context the default (the one the flat interface drives). Set once,
// at load, by the layer that owns the default context.
void SetDefaultContext(PortContext* context);

// Binds a context to the calling thread until it binds another; null gives it
// back the default.
void BindThread(PortContext* context);

// Binds a context to the calling thread for the binding's life.
class ContextBinding {
public:
    explicit ContextBinding(PortContext& context);
    ~ContextBinding();
    ContextBinding(const ContextBinding&) = delete;
    ContextBinding& operator=(const ContextBinding&) = delete;

private:
    PortContext* m_Previous;
};

}  // namespace hsim

// The device context, whole: one simulator's port, link, engine and the
// threads that serve it. The flat interface drives the default one.
#pragma once

#include "hsim_events.hpp"
#include "lifecycle/Monitor.h"
#include "output/OutputContext.h"

#include <atomic>
#include <mutex>

namespace hsim {

struct DeviceContext : OutputContext {
    DeviceContext();
    ~DeviceContext();

    std::atomic<int> bConnected{0};    // last connection state notified
    std::atomic<int> nPortNumber{-1};  // port to search, -1 for all
    std::atomic<HSIM_CONNECTION_CALLBACK> callback{nullptr};

    CAutoResetEvent connectedEvent{false};  // a connection made for HSIMConnect
    CAutoResetEvent reconnectEvent{false};  // wakes the connect thread for a check now
    CManualResetEvent pollingEvent{false};  // the poll thread is to keep running

    std::atomic<unsigned long> connectThread{0};
    std::atomic<int> bStopConnectThread{0};
    std::atomic<unsigned long> pollThread{0};

    // Serialises start and stop between application threads.
    std::mutex lifecycleMutex;
    // The connect thread decides to end under this lock, and a start reads
    // that decision under it, so a start never mistakes an ending thread for
    // a running one.
    std::mutex exitMutex;
    bool bConnectThreadEnded = false;

    // Started with the first connection, ended with the context.
    PresenceMonitor monitor;
};

inline DeviceContext& CurrentDevice()
{
    return static_cast<DeviceContext&>(CurrentPort());
}

}  // namespace hsim

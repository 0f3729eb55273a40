// Presence monitor: notices within about three seconds that the device node
// has gone, closes the port and wakes the connect thread. Its thread starts
// with the first connection of its context and runs until the context ends
// (or the process exits), paused while no device is connected.
#pragma once

#include "hsim_events.hpp"

#include <atomic>
#include <mutex>
#include <pthread.h>

namespace hsim {

struct PortContext;

class PresenceMonitor {
public:
    PresenceMonitor() = default;
    ~PresenceMonitor() { End(); }
    PresenceMonitor(const PresenceMonitor&) = delete;
    PresenceMonitor& operator=(const PresenceMonitor&) = delete;

    // Watches the port of context (the thread is started on the first call).
    void StartMonitor(PortContext& context);
    void PauseMonitor();
    bool IsMonitored();
    // Ends the thread and waits for it.
    void End();

private:
    static void* Run(void* self);
    void Sleep(unsigned int ms);

    std::mutex m_Mutex;  // guards the thread's start and end
    pthread_t m_Thread{};
    bool m_bThreadStarted = false;
    PortContext* m_Context = nullptr;
    CManualResetEvent m_Event{false};  // signalled while monitoring is on
    std::atomic<bool> m_bStop{false};
};

}  // namespace hsim

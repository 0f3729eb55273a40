// Presence monitor: notices within about three seconds that the device node
// has gone, closes the port and wakes the connect thread. Its thread runs for
// the library's whole lifetime, paused while no device is connected.
#pragma once

#include "hsim_events.hpp"

#include <atomic>

class CAutoMonitor {
public:
    explicit CAutoMonitor(const char* name);
    ~CAutoMonitor();
    CAutoMonitor(const CAutoMonitor&) = delete;
    CAutoMonitor& operator=(const CAutoMonitor&) = delete;

    void StartMonitor();
    void PauseMonitor();
    bool IsMonitored();

private:
    pthread_t m_Thread;
    CManualResetEvent m_Event;  // signalled while monitoring is on
    bool m_bThreadStarted;
};

extern std::atomic<int> g_bStopMonitor;
extern CAutoMonitor g_AutoMonitor;

// Presence monitor: notices within about three seconds that the device node
// has gone, closes the port and wakes the connect thread.
#pragma once

#include "hsim.hpp"

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

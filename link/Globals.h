// The process-wide synchronisation objects of the library: the one global
// lock and the lifecycle events. They live for the whole process.
#pragma once

#include "hsim.hpp"

// Serialises device traffic and parameter changes; recursive.
extern CSimpleCriticalSection g_CriticalSection;

extern CAutoResetEvent g_hConnectedEvent;       // a connection made for HSIMConnect
extern CAutoResetEvent g_hReconnectEvent;       // wakes the connect thread for a check now
extern CAutoResetEvent g_hStopPlayEvent;        // streamed output stopped
extern CManualResetEvent g_hPollingEvent;       // the poll thread is to keep running
extern CManualResetEvent g_hProcessRequestEvent; // the command window is open

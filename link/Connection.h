// Connection lifecycle: the connect thread and the poll thread.
#pragma once

#include <atomic>

extern std::atomic<int> g_bConnected;   // last connection state notified
extern std::atomic<int> g_nPortNumber;  // port to search, -1 for all

// How long a thread that wants to talk to the device waits for the command
// window while output streams: a device that has not asked for data by then
// has stopped working.
constexpr unsigned int kCommandWindowMs = 3000;

// Waits (with g_CriticalSection held) for the command window while output
// streams. True when the window is open or nothing streams.
bool WaitForCommandWindow(unsigned int timeoutMs);

// Ends the connect thread and closes the port at process exit when the
// application did not call HSIMFree.
void ShutdownConnectionAtExit();

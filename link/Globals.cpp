// Process-wide objects, defined in one place so that their order of
// construction and destruction is known: the lock and the events first, then
// the presence monitor (whose thread uses them), and last the exit guard,
// which is destroyed first. An application that exits without HSIMFree thus
// has its connect thread stopped and its lock file removed before the monitor
// and the events go away.
#include "link/Globals.h"

#include "link/Connection.h"
#include "link/Monitor.h"

#include <string>

CSimpleCriticalSection g_CriticalSection;
CAutoResetEvent g_hConnectedEvent(false);
CAutoResetEvent g_hReconnectEvent(false);
CAutoResetEvent g_hStopPlayEvent(false);
CManualResetEvent g_hPollingEvent(false);
CManualResetEvent g_hProcessRequestEvent(false);

CAutoMonitor g_AutoMonitor("MsgMonitorWnd-HSIM1{6F1D2C3B-8A47-4E5D-9B0C-2A7E41D3F958}");

// The process instance record; nothing in the library reads it.
class CInstance {
public:
    CInstance() : m_strWorkingDirectory("./") {}
    std::string GetWorkingDirectory() const { return m_strWorkingDirectory; }

private:
    std::string m_strWorkingDirectory;
};
CInstance g_Instance;

namespace {
struct ExitGuard {
    ~ExitGuard() { ShutdownConnectionAtExit(); }
};
ExitGuard s_ExitGuard;
}  // namespace

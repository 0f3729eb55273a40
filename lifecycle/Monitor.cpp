// The presence monitor thread.
//
// The monitor lists the device nodes every 1.2 s while a device is
// connected. A node that is missing three times in a row, 500 ms apart, means
// the device was unplugged; a port whose device hung up needs no second look.
// The monitor then closes the port at once (transfers in progress end with a
// short count) and wakes the connect thread, which winds the connection down
// and searches again.
#include "lifecycle/Monitor.h"

#include "lifecycle/Lifecycle.h"
#include "runtime/MonotonicClock.h"
#include "runtime/Platform.h"
#include "transport/Port.h"

std::atomic<int> g_bStopMonitor{0};

namespace {

constexpr unsigned int kPausedPollMs = 100;
constexpr unsigned int kRetestMs = 500;
constexpr unsigned int kPresentPauseMs = 1200;
constexpr int kPresenceTests = 3;

// Sleeps in short steps so that the end of the process is not held up. The
// steps count to a deadline on the monotonic clock, so a busy machine that
// wakes the thread late does not stretch the whole sleep.
void MonitorSleep(unsigned int ms)
{
    const timespec deadline = AddMilliseconds(MonotonicNow(), ms);
    for (int left = MillisecondsUntil(deadline); left > 0 && !g_bStopMonitor.load();
         left = MillisecondsUntil(deadline))
        SleepEx(unsigned(left < 50 ? left : 50));
}

void* MonitorDeviceThread(void* arg)
{
    CAutoMonitor* monitor = static_cast<CAutoMonitor*>(arg);
    pthread_setname_np(pthread_self(), "hsim-monitor");
    while (!g_bStopMonitor.load()) {
        if (!monitor->IsMonitored()) {
            MonitorSleep(kPausedPollMs);
            continue;
        }
        // Tested again after a pause, but not after the last test, nor once
        // the port says the device has hung up.
        bool present = false;
        for (int i = 0; i < kPresenceTests && !g_bStopMonitor.load(); ++i) {
            if (PortHangsUp())
                break;
            present = DeviceIsAlive();
            if (present || i + 1 == kPresenceTests)
                break;
            MonitorSleep(kRetestMs);
        }
        if (g_bStopMonitor.load())
            break;
        if (present) {
            MonitorSleep(kPresentPauseMs);
        } else {
            DeviceClose();
            hsim::ReconnectDevice();
            MonitorSleep(kPausedPollMs);
        }
    }
    return nullptr;
}

}  // namespace

CAutoMonitor::CAutoMonitor(const char* name) : m_Thread(), m_Event(false), m_bThreadStarted(false)
{
    (void)name;
    m_bThreadStarted = pthread_create(&m_Thread, nullptr, MonitorDeviceThread, this) == 0;
}

CAutoMonitor::~CAutoMonitor()
{
    g_bStopMonitor.store(1);
    m_Event.SetEvent();
    if (m_bThreadStarted)
        pthread_join(m_Thread, nullptr);
}

void CAutoMonitor::StartMonitor()
{
    m_Event.SetEvent();
}

void CAutoMonitor::PauseMonitor()
{
    m_Event.ResetEvent();
}

bool CAutoMonitor::IsMonitored()
{
    return m_Event.WaitTimeout(0) == 0;
}

CAutoMonitor g_AutoMonitor("MsgMonitorWnd-HSIM1{6F1D2C3B-8A47-4E5D-9B0C-2A7E41D3F958}");

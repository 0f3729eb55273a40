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
#include "transport/PortContext.h"

namespace hsim {

namespace {

constexpr unsigned int kPausedPollMs = 100;
constexpr unsigned int kRetestMs = 500;
constexpr unsigned int kPresentPauseMs = 1200;
constexpr int kPresenceTests = 3;

}  // namespace

// Sleeps in short steps so that the end of the monitor is not held up. The
// steps count to a deadline on the monotonic clock, so a busy machine that
// wakes the thread late does not stretch the whole sleep.
void PresenceMonitor::Sleep(unsigned int ms)
{
    const timespec deadline = AddMilliseconds(MonotonicNow(), ms);
    for (int left = MillisecondsUntil(deadline); left > 0 && !m_bStop.load();
         left = MillisecondsUntil(deadline))
        SleepEx(unsigned(left < 50 ? left : 50));
}

void* PresenceMonitor::Run(void* self)
{
    PresenceMonitor* monitor = static_cast<PresenceMonitor*>(self);
    ContextBinding binding(*monitor->m_Context);
    pthread_setname_np(pthread_self(), "hsim-monitor");
    while (!monitor->m_bStop.load()) {
        if (!monitor->IsMonitored()) {
            monitor->Sleep(kPausedPollMs);
            continue;
        }
        // Tested again after a pause, but not after the last test, nor once
        // the port says the device has hung up.
        bool present = false;
        for (int i = 0; i < kPresenceTests && !monitor->m_bStop.load(); ++i) {
            if (PortHangsUp())
                break;
            present = DeviceIsAlive();
            if (present || i + 1 == kPresenceTests)
                break;
            monitor->Sleep(kRetestMs);
        }
        if (monitor->m_bStop.load())
            break;
        if (present) {
            monitor->Sleep(kPresentPauseMs);
        } else {
            DeviceClose();
            ReconnectDevice();
            monitor->Sleep(kPausedPollMs);
        }
    }
    return nullptr;
}

void PresenceMonitor::StartMonitor(PortContext& context)
{
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        if (!m_bThreadStarted && !m_bStop.load()) {
            m_Context = &context;
            m_bThreadStarted = pthread_create(&m_Thread, nullptr, Run, this) == 0;
        }
    }
    m_Event.SetEvent();
}

void PresenceMonitor::End()
{
    std::lock_guard<std::mutex> guard(m_Mutex);
    m_bStop.store(true);
    m_Event.SetEvent();
    if (m_bThreadStarted && !pthread_equal(m_Thread, pthread_self()))
        pthread_join(m_Thread, nullptr);
    m_bThreadStarted = false;
}

void PresenceMonitor::PauseMonitor()
{
    m_Event.ResetEvent();
}

bool PresenceMonitor::IsMonitored()
{
    return m_Event.WaitTimeout(0) == 0;
}

}  // namespace hsim

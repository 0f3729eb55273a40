// The poll thread: while output streams it reads the device's reports
// without the global lock, opens the command window when one has arrived,
// and answers a data request under the lock, with the next transfer or,
// after a stop, with a control block write. It is the real-time path: while
// nothing streams it waits for a start, a read that timed out is made again
// at once, and it never allocates.
#include "lifecycle/Lifecycle.h"

#include "lifecycle/DeviceContext.h"

#include "output/Engine.h"
#include "output/Output.h"
#include "protocol/Exchange.h"
#include "protocol/StreamHealth.h"
#include "protocol/StreamPackets.h"
#include "runtime/Platform.h"
#include "runtime/Sync.h"
#include "transport/Port.h"

#include <cstdio>
#include <pthread.h>
#include <sched.h>

namespace hsim {

namespace {
constexpr unsigned int kIdlePollMs = 10;
// Above ordinary threads, well below the kernel's own real-time work.
constexpr int kRealtimePriority = 10;

// Real-time scheduling keeps the answers in time on a busy machine; a
// process that may not have it runs the thread normally.
bool AskForRealtime()
{
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}
}  // namespace

void* USBDataPollThread(void* context)
{
    ContextBinding binding(*static_cast<DeviceContext*>(context));
    // "hsim-poll-<port>": each simulator's stands apart in a thread list.
    char name[16];
    snprintf(name, sizeof name, "hsim-poll-%d", DevicePort());
    pthread_setname_np(pthread_self(), name);
    NoteRealtime(AskForRealtime());
    MarkPriorityThread();
    // The time of one transfer at the streaming rate. Not read from the
    // engine: that would need the lock, which an application thread may hold
    // while it waits for this thread's window.
    const unsigned int reportTimeoutMs = unsigned(kSamplesPerTransfer * 1000 / kStreamingRate);
    while (CurrentDevice().pollingEvent.WaitTimeout(0) == 0) {
        const ReportKind report = ReadReport(reportTimeoutMs);
        if (report == ReportKind::NothingStreams) {
            // Until a start, at most the idle interval.
            WaitForStreaming(kIdlePollMs);
            continue;
        }
        if (report == ReportKind::TimedOut) {
            // Read again at once, so a request that comes just after the
            // time-out is not left waiting.
            continue;
        }
        if (report == ReportKind::PortLost) {
            // The device has gone (or the port was closed under the read):
            // the connect thread is woken to wind the link down, and this
            // thread gives way meanwhile instead of reading a dead port
            // again and again at real-time priority.
            ReconnectDevice();
            SleepEx(kIdlePollMs);
            continue;
        }
        // The window opens before the lock is asked for: a thread waiting
        // in it with the lock held makes its exchange now.
        OpenCommandWindow();
        {
            ContextGuard lock(hsim::ContextLock());
            if (report == ReportKind::DataRequest)
                AnswerDataRequest();
            CloseCommandWindow();
        }
    }
    return nullptr;
}

}  // namespace hsim

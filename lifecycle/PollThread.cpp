// The poll thread: while output streams it reads the device's reports
// without the global lock, opens the command window when one has arrived,
// and answers a data request under the lock, with the next transfer or,
// after a stop, with a control block write. It is the real-time path: while
// nothing streams it waits for a start, a read that timed out is made again
// at once, and it never allocates.
#include "lifecycle/Lifecycle.h"

#include "output/Engine.h"
#include "output/Output.h"
#include "protocol/Exchange.h"
#include "protocol/StreamHealth.h"
#include "protocol/StreamPackets.h"
#include "runtime/MonotonicClock.h"
#include "runtime/Platform.h"
#include "runtime/Sync.h"

#include <pthread.h>
#include <sched.h>

namespace hsim {

namespace {
constexpr unsigned int kIdlePollMs = 10;
constexpr int kReportSize = 64;
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

void* USBDataPollThread(void*)
{
    pthread_setname_np(pthread_self(), "hsim-poll");
    NoteRealtime(AskForRealtime());
    // The time of one transfer at the streaming rate. Not read from the
    // engine: that would need the lock, which an application thread may hold
    // while it waits for this thread's window.
    const unsigned int reportTimeoutMs = unsigned(kSamplesPerTransfer * 1000 / kStreamingRate);
    unsigned char report[kReportSize];
    while (g_hPollingEvent.WaitTimeout(0) == 0) {
        const timespec readFrom = MonotonicNow();
        const int n = ReadReport(report, reportTimeoutMs);
        if (n == 0) {
            // Nothing streams (or the port is gone): until a start, at most
            // the idle interval.
            WaitForStreaming(kIdlePollMs);
            continue;
        }
        if (n < 0) {
            // A read that waited its time-out is read again at once, so a
            // request that comes just after it is not left waiting; one that
            // failed at once gives way for a moment.
            if (MillisecondsUntil(AddMilliseconds(readFrom, 1)) > 0)
                SleepEx(kIdlePollMs);
            continue;
        }
        // The request is timed from its arrival, before the lock is asked for.
        const bool dataRequest = report[0] == 1 && report[1] == 0x55;
        if (dataRequest)
            NoteDataRequest();
        // The window opens before the lock is asked for: a thread waiting
        // in it with the lock held makes its exchange now.
        OpenCommandWindow();
        {
            CAutoCriticalSection lock(g_CriticalSection);
            if (dataRequest) {
                if (g_hStopPlayEvent.WaitTimeout(0) == 0) {
                    SetRelays(false);
                    NoteControlAnswer();
                } else {
                    _SendNextPacket();
                }
            }
            CloseCommandWindow();
        }
    }
    return nullptr;
}

}  // namespace hsim

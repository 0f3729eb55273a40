// The poll thread: while output streams it reads the device's reports
// without the global lock, opens the command window when one has arrived,
// and answers a data request under the lock, with the next transfer or,
// after a stop, with a control block write. It is the real-time path: it
// sleeps only after a read that found nothing, and never allocates.
#include "lifecycle/Lifecycle.h"

#include "output/Engine.h"
#include "output/Output.h"
#include "protocol/Exchange.h"
#include "runtime/Platform.h"
#include "runtime/Sync.h"

#include <pthread.h>

namespace hsim {

namespace {
constexpr unsigned int kIdlePollMs = 10;
constexpr int kReportSize = 64;
constexpr int kSamplesPerTransfer = 700;
}  // namespace

void* USBDataPollThread(void*)
{
    pthread_setname_np(pthread_self(), "hsim-poll");
    unsigned int reportTimeoutMs = 0;
    {
        CAutoCriticalSection lock(g_CriticalSection);
        const int rate = g_Engine.synth.out.nSampleRate;
        if (rate > 0)
            reportTimeoutMs = unsigned(kSamplesPerTransfer * 1000 / rate);  // time of 700 samples
    }
    unsigned char report[kReportSize];
    while (g_hPollingEvent.WaitTimeout(0) == 0) {
        if (ReadReport(report, reportTimeoutMs) < 1) {
            SleepEx(kIdlePollMs);
            continue;
        }
        // The window opens before the lock is asked for: a thread waiting
        // in it with the lock held makes its exchange now.
        OpenCommandWindow();
        {
            CAutoCriticalSection lock(g_CriticalSection);
            if (report[0] == 1 && report[1] == 0x55) {
                if (g_hStopPlayEvent.WaitTimeout(0) == 0)
                    SetRelays(false);
                else
                    _SendNextPacket();
            }
            CloseCommandWindow();
        }
    }
    return nullptr;
}

}  // namespace hsim

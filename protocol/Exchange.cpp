#include "protocol/Exchange.h"

#include "runtime/MonotonicClock.h"
#include "runtime/Platform.h"
#include "runtime/Sync.h"
#include "transport/Port.h"

#include <cstring>
#include <mutex>

std::atomic<bool> g_bECGGoing{false};
HSIM_CONSTRUCT_EARLY CManualResetEvent g_hProcessRequestEvent(false);

namespace hsim {

namespace {

constexpr int kReportSize = 64;
// The window wait looks at the device this often, so a device lost during the
// wait is reported at once rather than after the whole wait.
constexpr int kWindowSliceMs = 50;

// Held by the poll thread while it reads a report and by every exchange.
std::mutex s_ReaderMutex;

}  // namespace

Status Exchange(const Message& m)
{
    if (!PortIsOpen())
        return Status::NoDevice;
    std::lock_guard<std::mutex> reading(s_ReaderMutex);
    if (WriteData(m.bytes, m.length, 1) != m.length)
        return Status::WriteFailed;
    if (m.answer == nullptr)
        return Status::Ok;
    if (m.pauseMs > 0)
        SleepEx(m.pauseMs);
    const int n = m.readTimeoutMs > 0 ? ReadDataEx(m.answer, m.answerLength, m.readTimeoutMs)
                                      : ReadData(m.answer, m.answerLength);
    if (n != m.answerLength)
        return Status::ReadFailed;
    if (m.settleMs > 0)
        SleepEx(m.settleMs);
    if (m.acceptByte >= 0 && m.answer[m.acceptByte] != 0xFF)
        return Status::Refused;
    return Status::Ok;
}

Status EnterCommandWindow(unsigned int timeoutMs)
{
    if (!DeviceIsConnected())
        return Status::NoDevice;
    if (!g_bECGGoing.load())
        return Status::Ok;
    const timespec deadline = AddMilliseconds(MonotonicNow(), timeoutMs);
    for (;;) {
        const int left = MillisecondsUntil(deadline);
        const int slice = left < kWindowSliceMs ? left : kWindowSliceMs;
        if (g_hProcessRequestEvent.WaitTimeout(unsigned(slice)) == 0)
            return Status::Ok;
        if (!DeviceIsConnected())
            return Status::NoDevice;
        if (left <= slice)
            return Status::Busy;
    }
}

int ReadReport(unsigned char* report, unsigned int timeoutMs)
{
    // Streaming is checked and the report read under the reader lock, so an
    // exchange never meets a read begun before streaming stopped.
    std::lock_guard<std::mutex> reading(s_ReaderMutex);
    if (!g_bECGGoing.load())
        return 0;
    memset(report, 0, kReportSize);
    return ReadDataEx(report, kReportSize, timeoutMs);
}

void OpenCommandWindow()
{
    g_hProcessRequestEvent.SetEvent();
}

void CloseCommandWindow()
{
    g_hProcessRequestEvent.ResetEvent();
}

}  // namespace hsim

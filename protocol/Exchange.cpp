#include "protocol/Exchange.h"

#include "runtime/MonotonicClock.h"
#include "runtime/Platform.h"
#include "protocol/LinkContext.h"
#include "protocol/StreamHealth.h"
#include "runtime/Sync.h"
#include "transport/Port.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace hsim {

namespace {

constexpr int kReportSize = 64;
// The window wait looks at the device this often, so a device lost during the
// wait is reported at once rather than after the whole wait.
constexpr int kWindowSliceMs = 50;

struct ExchangeReading {
    ExchangeReading() : m_Reader(CurrentLink().reader) { m_Reader.LockForExchange(); }
    ~ExchangeReading() { m_Reader.Unlock(); }
    ReaderLock& m_Reader;
};
struct ReportReading {
    ReportReading() : m_Reader(CurrentLink().reader) { m_Reader.LockForReport(); }
    ~ReportReading() { m_Reader.Unlock(); }
    ReaderLock& m_Reader;
};

// From the opening of the window until the answer is sent, the poll thread
// waits for the lock with a request in hand. Threads that come for the lock
// in the first moments of the window share it: each makes its call, and the
// device waits no longer than that share. A frame that comes later lets the
// poll thread answer first: without this, threads that take the lock one
// after the other (the lock favours a thread that takes it again at once)
// could keep the device waiting for its data as long as they keep coming.
// The share of the device's slack of one transfer (17.5 ms) that callers may
// take from a window before its answer.
constexpr auto kWindowShare = std::chrono::milliseconds(2);
// Bound of the wait for the answer: an answer takes one transfer, a few
// milliseconds.
constexpr auto kAnswerWaitLimit = std::chrono::milliseconds(100);

// What this thread does with the device: the frames it has open, whether it
// answers the device, and why its last call failed.
struct ThreadCalls {
    int nFrames = 0;
    bool pollThread = false;
    FailureRecord failure;
};
thread_local ThreadCalls t_Calls;

Status WaitForWindow(const timespec& deadline);

// At most this many data requests are dropped in place of one answer (the
// device has at most one outstanding, and repeats it after a second).
constexpr int kMaxSkippedRequests = 2;
constexpr unsigned int kReportRestMs = 20;

int ReadAnswer(const Message& m)
{
    return m.readTimeoutMs > 0 ? ReadDataEx(m.answer, m.answerLength, m.readTimeoutMs)
                               : ReadData(m.answer, m.answerLength);
}

// Runs on every thread but the poll thread when it has its turn for the
// global lock and does not hold it yet.
void LetPendingAnswerGoFirst()
{
    LinkContext& link = CurrentLink();
    std::unique_lock<PiMutex> guard(link.answerMutex);
    if (link.bAnswerPending && std::chrono::steady_clock::now() - link.windowOpened < kWindowShare)
        return;
    link.answerSent.wait_for(guard, kAnswerWaitLimit, [&link] { return !link.bAnswerPending; });
}

__attribute__((constructor)) void InstallEntryHook()
{
    SetGlobalLockEntryHook(LetPendingAnswerGoFirst);
}

}  // namespace

namespace {

bool IsDataRequest(const unsigned char* bytes, int n)
{
    return n >= 2 && bytes[0] == 0x01 && bytes[1] == 0x55;
}

// A data request read by an exchange, kept for the poll thread to answer and
// timed from now.
void HoldDataRequest()
{
    NoteDataRequest();
    CurrentLink().bRequestHeld.store(true);
}

// Drops what the device sent before an exchange, so that nothing older
// stands in for its answer; but a data request among it is kept for the poll
// thread (the device asks once and waits, and the reader lock kept the poll
// thread from reading it).
void DiscardAllButDataRequest()
{
    unsigned char stale[kReportSize];
    for (int n; (n = ReadDataEx(stale, kReportSize, 0)) > 0;) {
        if (IsDataRequest(stale, n))
            HoldDataRequest();
    }
}

}  // namespace

namespace {

// Inside a frame the call's first failure stays: it is the one the call's
// result reports (later ones are mostly its consequences). Outside a frame
// (the poll and connect threads' own exchanges) the last failure replaces
// the one before.
Status Note(Status status, const unsigned char* message, int length, const TransferOutcome& transfer = {})
{
    if (t_Calls.nFrames > 0 && t_Calls.failure.status != Status::Ok)
        return status;
    FailureRecord record;
    record.status = status;
    record.osError = transfer.osError;
    record.expected = transfer.expected;
    record.done = transfer.done;
    if (message != nullptr && length > 0) {
        record.messageLength = length;
        memcpy(record.message, message, std::min<size_t>(size_t(length), sizeof record.message));
    }
    t_Calls.failure = record;
    return status;
}

}  // namespace

TurnLock& ContextLock()
{
    return CurrentLink().lock;
}

FailureRecord LastFailure()
{
    return t_Calls.failure;
}

void StartOfDeviceCall()
{
    if (t_Calls.nFrames == 0)
        t_Calls.failure = FailureRecord{};
}

Status NoteFailure(Status status)
{
    return Note(status, nullptr, 0);
}

Status NoteRefusal(const unsigned char* message, int length)
{
    return Note(Status::Refused, message, length);
}

Status Exchange(const Message& m)
{
    if (!PortIsOpen())
        return Note(Status::NoDevice, m.bytes, m.length);
    ExchangeReading reading;
    if (m.answer != nullptr)
        DiscardAllButDataRequest();
    if (WriteData(m.bytes, m.length, 1) != m.length)
        return Note(Status::WriteFailed, m.bytes, m.length, LastTransfer());
    if (m.answer == nullptr)
        return Status::Ok;
    if (m.pauseMs > 0)
        SleepEx(m.pauseMs);
    int n = ReadAnswer(m);
    // A data request that a device still streaming sent in the meantime is
    // not the answer: it is kept for the poll thread, and the answer read
    // after it.
    for (int skipped = 0; n == m.answerLength && IsDataRequest(m.answer, n) && skipped < kMaxSkippedRequests;
         ++skipped) {
        if (m.answerLength < kReportSize) {
            unsigned char rest[kReportSize];
            ReadDataEx(rest, kReportSize - m.answerLength, kReportRestMs);
        }
        HoldDataRequest();
        n = ReadAnswer(m);
    }
    if (n != m.answerLength)
        return Note(Status::ReadFailed, m.bytes, m.length, LastTransfer());
    if (m.settleMs > 0)
        SleepEx(m.settleMs);
    if (m.acceptByte >= 0 && m.answer[m.acceptByte] != 0xFF)
        return Note(Status::Refused, m.bytes, m.length);
    return Status::Ok;
}

namespace {

Status EnterWindowBy(const timespec& deadline)
{
    if (!DeviceIsConnected())
        return Status::NoDevice;
    if (!IsStreaming())
        return Status::Ok;
    const Status status = WaitForWindow(deadline);
    NoteWindowWait(status == Status::Busy);
    return status;
}

Status WaitForWindow(const timespec& deadline)
{
    for (;;) {
        const int left = MillisecondsUntil(deadline);
        const int slice = left < kWindowSliceMs ? (left > 0 ? left : 0) : kWindowSliceMs;
        if (CurrentLink().processRequestEvent.WaitTimeout(unsigned(slice)) == 0)
            return Status::Ok;
        if (!DeviceIsConnected())
            return Status::NoDevice;
        if (left <= slice)
            return Status::Busy;
    }
}

}  // namespace

Status EnterCommandWindow(unsigned int timeoutMs)
{
    return EnterWindowBy(AddMilliseconds(MonotonicNow(), timeoutMs));
}

ReportKind ReadReport(unsigned int timeoutMs)
{
    // Streaming is checked and the report read under the reader lock, so an
    // exchange never meets a read begun before streaming stopped.
    ReportReading reading;
    if (!IsStreaming() && !DeviceRelaysOn())
        return ReportKind::NothingStreams;
    // A request an exchange kept was timed when it was read.
    if (CurrentLink().bRequestHeld.exchange(false))
        return ReportKind::DataRequest;
    unsigned char report[kReportSize] = {};
    const int n = ReadDataEx(report, kReportSize, timeoutMs);
    if (n <= 0)
        return LastReadLostPort() ? ReportKind::PortLost : ReportKind::TimedOut;
    if (!IsDataRequest(report, n))
        return ReportKind::Other;
    // The request is timed from its arrival, before the lock is asked for.
    NoteDataRequest();
    return ReportKind::DataRequest;
}

bool DeviceRelaysOn()
{
    const unsigned long opening = CurrentLink().relaysOnOpening.load();
    return opening != 0 && opening == PortOpening();
}

void NoteRelaysWritten(bool on)
{
    CurrentLink().relaysOnOpening.store(on ? PortOpening() : 0);
}

bool IsStreaming()
{
    return CurrentLink().streaming.load();
}

void SetStreaming(bool streaming)
{
    LinkContext& link = CurrentLink();
    link.streaming.store(streaming);
    if (!streaming)
        return;
    // A request kept from before the start belongs to the run before.
    link.bRequestHeld.store(false);
    ForgetDataRequest();
    { std::lock_guard<PiMutex> guard(link.streamMutex); }
    link.streamStarted.notify_all();
}

void WaitForStreaming(unsigned int timeoutMs)
{
    LinkContext& link = CurrentLink();
    std::unique_lock<PiMutex> guard(link.streamMutex);
    link.streamStarted.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&link] { return link.streaming.load(); });
}

void OpenCommandWindow()
{
    LinkContext& link = CurrentLink();
    t_Calls.pollThread = true;
    {
        std::lock_guard<PiMutex> guard(link.answerMutex);
        link.bAnswerPending = true;
        link.windowOpened = std::chrono::steady_clock::now();
    }
    link.processRequestEvent.SetEvent();
}

void CloseCommandWindow()
{
    LinkContext& link = CurrentLink();
    link.processRequestEvent.ResetEvent();
    {
        std::lock_guard<PiMutex> guard(link.answerMutex);
        link.bAnswerPending = false;
    }
    link.answerSent.notify_all();
}

// A frame nested in another, or opened on the poll thread (by a callback it
// runs), already holds the lock the poll thread needs: it does not wait for
// the window.
CommandFrame::CommandFrame(unsigned int timeoutMs) : m_Lock(ContextLock())
{
    const timespec deadline = AddMilliseconds(MonotonicNow(), timeoutMs);
    const bool nested = t_Calls.nFrames > 0 || t_Calls.pollThread;
    StartOfDeviceCall();
    ++t_Calls.nFrames;
    m_Lock.Lock();
    if (nested)
        m_Status = DeviceIsConnected() ? Status::Ok : Status::NoDevice;
    else
        m_Status = EnterWindowBy(deadline);
    if (m_Status != Status::Ok)
        NoteFailure(m_Status);
}

CommandFrame::~CommandFrame()
{
    m_Lock.Unlock();
    --t_Calls.nFrames;
}

}  // namespace hsim

#include "protocol/Exchange.h"

#include "runtime/MonotonicClock.h"
#include "runtime/Platform.h"
#include "protocol/StreamHealth.h"
#include "runtime/Sync.h"
#include "transport/Port.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
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

// Held by the poll thread while it reads a report and by every exchange. An
// exchange that waits for it goes before the poll thread's next read: the
// poll thread reads again at once after a read that timed out, and a plain
// mutex, which favours the thread that takes it again at once, could keep
// the exchange out for as long as the device says nothing (the first
// transfer of a start, which the device waits for, would never go out).
class ReaderLock {
public:
    void LockForExchange()
    {
        std::unique_lock<PiMutex> guard(m_Mutex);
        ++m_ExchangesWaiting;
        m_Free.wait(guard, [this] { return !m_Held; });
        --m_ExchangesWaiting;
        m_Held = true;
    }
    void LockForReport()
    {
        std::unique_lock<PiMutex> guard(m_Mutex);
        m_Free.wait(guard, [this] { return !m_Held && m_ExchangesWaiting == 0; });
        m_Held = true;
    }
    void Unlock()
    {
        {
            std::lock_guard<PiMutex> guard(m_Mutex);
            m_Held = false;
        }
        m_Free.notify_all();
    }

private:
    PiMutex m_Mutex;
    std::condition_variable_any m_Free;
    bool m_Held = false;
    int m_ExchangesWaiting = 0;
};
ReaderLock s_Reader;

struct ExchangeReading {
    ExchangeReading() { s_Reader.LockForExchange(); }
    ~ExchangeReading() { s_Reader.Unlock(); }
};
struct ReportReading {
    ReportReading() { s_Reader.LockForReport(); }
    ~ReportReading() { s_Reader.Unlock(); }
};

// From the opening of the window until the answer is sent, the poll thread
// waits for the lock with a request in hand. Threads that come for the lock
// in the first moments of the window share it: each makes its call, and the
// device waits no longer than that share. A frame that comes later lets the
// poll thread answer first: without this, threads that take the lock one
// after the other (the lock favours a thread that takes it again at once)
// could keep the device waiting for its data as long as they keep coming.
PiMutex s_AnswerMutex;
std::condition_variable_any s_AnswerSent;
bool s_bAnswerPending = false;
std::chrono::steady_clock::time_point s_WindowOpened;  // guarded by s_AnswerMutex
// The share of the device's slack of one transfer (17.5 ms) that callers may
// take from a window before its answer.
constexpr auto kWindowShare = std::chrono::milliseconds(2);
// Bound of the wait for the answer: an answer takes one transfer, a few
// milliseconds.
constexpr auto kAnswerWaitLimit = std::chrono::milliseconds(100);

thread_local int t_nFrames = 0;           // frames open on this thread
thread_local bool t_bPollThread = false;  // this thread answers the device

// A data request that an exchange read in place of its answer, kept for the
// poll thread to answer (the device asks once and waits).
std::atomic<bool> s_bRequestHeld{false};
// The opening of the port on which the host last switched the relays on; 0
// when it switched them off since.
std::atomic<unsigned long> s_RelaysOnOpening{0};

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
    std::unique_lock<PiMutex> guard(s_AnswerMutex);
    if (s_bAnswerPending && std::chrono::steady_clock::now() - s_WindowOpened < kWindowShare)
        return;
    s_AnswerSent.wait_for(guard, kAnswerWaitLimit, [] { return !s_bAnswerPending; });
}

const bool s_bEntryHookSet = (SetGlobalLockEntryHook(LetPendingAnswerGoFirst), true);

}  // namespace

bool IsDataRequest(const unsigned char* bytes, int n)
{
    return n >= 2 && bytes[0] == 0x01 && bytes[1] == 0x55;
}

namespace {

// A data request read by an exchange, kept for the poll thread to answer and
// timed from now.
void HoldDataRequest()
{
    NoteDataRequest();
    s_bRequestHeld.store(true);
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

thread_local FailureRecord t_Failure;

// Inside a frame the call's first failure stays: it is the one the call's
// result reports (later ones are mostly its consequences). Outside a frame
// (the poll and connect threads' own exchanges) the last failure replaces
// the one before.
Status Note(Status status, const unsigned char* message, int length, const TransferOutcome& transfer = {})
{
    if (t_nFrames > 0 && t_Failure.status != Status::Ok)
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
    t_Failure = record;
    return status;
}

}  // namespace

FailureRecord LastFailure()
{
    return t_Failure;
}

void StartOfDeviceCall()
{
    if (t_nFrames == 0)
        t_Failure = FailureRecord{};
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
    if (!g_bECGGoing.load())
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
        if (g_hProcessRequestEvent.WaitTimeout(unsigned(slice)) == 0)
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

int ReadReport(unsigned char* report, unsigned int timeoutMs)
{
    // Streaming is checked and the report read under the reader lock, so an
    // exchange never meets a read begun before streaming stopped.
    ReportReading reading;
    if (!g_bECGGoing.load() && !DeviceRelaysOn())
        return kReportNothingStreams;
    memset(report, 0, kReportSize);
    if (s_bRequestHeld.exchange(false)) {
        report[0] = 0x01;
        report[1] = 0x55;
        return kReportSize;
    }
    const int n = ReadDataEx(report, kReportSize, timeoutMs);
    if (n <= 0)
        return LastReadLostPort() ? kReportPortLost : kReportTimedOut;
    return n;
}

bool DeviceRelaysOn()
{
    const unsigned long opening = s_RelaysOnOpening.load();
    return opening != 0 && opening == PortOpening();
}

void NoteRelaysWritten(bool on)
{
    s_RelaysOnOpening.store(on ? PortOpening() : 0);
}

namespace {
PiMutex s_StreamMutex;
std::condition_variable_any s_StreamStarted;
}  // namespace

void WaitForStreaming(unsigned int timeoutMs)
{
    std::unique_lock<PiMutex> guard(s_StreamMutex);
    s_StreamStarted.wait_for(guard, std::chrono::milliseconds(timeoutMs), [] { return g_bECGGoing.load(); });
}

void StreamingStarted()
{
    // A request kept from before the start belongs to the run before.
    s_bRequestHeld.store(false);
    ForgetDataRequest();
    { std::lock_guard<PiMutex> guard(s_StreamMutex); }
    s_StreamStarted.notify_all();
}

void OpenCommandWindow()
{
    t_bPollThread = true;
    {
        std::lock_guard<PiMutex> guard(s_AnswerMutex);
        s_bAnswerPending = true;
        s_WindowOpened = std::chrono::steady_clock::now();
    }
    g_hProcessRequestEvent.SetEvent();
}

void CloseCommandWindow()
{
    g_hProcessRequestEvent.ResetEvent();
    {
        std::lock_guard<PiMutex> guard(s_AnswerMutex);
        s_bAnswerPending = false;
    }
    s_AnswerSent.notify_all();
}

// A frame nested in another, or opened on the poll thread (by a callback it
// runs), already holds the lock the poll thread needs: it does not wait for
// the window.
CommandFrame::CommandFrame(unsigned int timeoutMs)
{
    const timespec deadline = AddMilliseconds(MonotonicNow(), timeoutMs);
    const bool nested = t_nFrames > 0 || t_bPollThread;
    StartOfDeviceCall();
    ++t_nFrames;
    g_CriticalSection.Lock();
    if (nested)
        m_Status = DeviceIsConnected() ? Status::Ok : Status::NoDevice;
    else
        m_Status = EnterWindowBy(deadline);
    if (m_Status != Status::Ok)
        NoteFailure(m_Status);
}

CommandFrame::~CommandFrame()
{
    g_CriticalSection.Unlock();
    --t_nFrames;
}

}  // namespace hsim

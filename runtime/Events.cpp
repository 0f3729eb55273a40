// Event objects with Win32 semantics, the recursive lock, and the waits over
// them, written on POSIX threads.
//
// Each event pairs a recursive mutex with a condition variable whose clock is
// CLOCK_MONOTONIC, so a bounded wait is not stretched or cut short when the
// wall clock is set. The signalled flag is only touched under the mutex,
// except by the timer signal handlers: they store true into the auto-reset
// event's flag directly (a lock-free atomic, so the store is safe in a signal
// handler and never races with a waiter) and wake nobody; a waiter sees it on
// its next poll or loop turn.
#include "runtime/Sync.h"

#include "runtime/MonotonicClock.h"

#include <cerrno>

static_assert(std::atomic<bool>::is_always_lock_free,
              "the timer signal handlers need a lock-free flag");

namespace {

constexpr int kWaitTimedOut = ETIMEDOUT; // 110 on Linux, the value callers test
static_assert(kWaitTimedOut == 110, "callers compare the time-out result with 110");

// The index of a satisfied multi-event wait must never read as the time-out
// result, so at most kWaitTimedOut events (indices 0..109) can be waited on.
constexpr unsigned int kMaxWaitObjects = kWaitTimedOut;

// Every mutex of the runtime inherits priority: the streaming thread runs
// with real-time priority and shares these mutexes with ordinary threads, so
// a holder that the scheduler preempted is lent the waiter's priority instead
// of keeping it waiting.
void InitMutex(pthread_mutex_t* mutex, int type)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, type);
    pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

void InitRecursiveMutex(pthread_mutex_t* mutex)
{
    InitMutex(mutex, PTHREAD_MUTEX_RECURSIVE);
}

void InitMonotonicCondition(pthread_cond_t* cond)
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
}

// The wait of both event kinds: `take` looks at the flag under the mutex
// (the auto-reset event clears it in the same step) and says whether the
// event is signalled. 0 = signalled, kWaitTimedOut otherwise.
template <class Take>
int WaitOnEvent(pthread_mutex_t* mutex, pthread_cond_t* cond, unsigned int milliseconds, Take take)
{
    int result = kWaitTimedOut;
    if (milliseconds == 0) {
        pthread_mutex_lock(mutex);
        if (take())
            result = 0;
        pthread_mutex_unlock(mutex);
    } else {
        const timespec deadline = AddMilliseconds(MonotonicNow(), milliseconds);
        pthread_mutex_lock(mutex);
        for (;;) {
            if (take()) {
                result = 0;
                break;
            }
            // Signal, broadcast or spurious wake-up: look at the flag again.
            // A time-out ends the wait at once without another look.
            if (pthread_cond_timedwait(cond, mutex, &deadline) != 0)
                break;
        }
        pthread_mutex_unlock(mutex);
    }
    return result;
}

// The pause between two polling passes of WaitForMultipleObjects.
void SleepOneMillisecond()
{
    timespec pause{0, 1000000L};
    nanosleep(&pause, nullptr);
}

} // namespace

// ------------------------------------------------------------ auto-reset

CAutoResetEvent::CAutoResetEvent(bool initialState) : m_bSignalled(initialState)
{
    InitRecursiveMutex(&m_Mutex);
    InitMonotonicCondition(&m_Cond);
}

CAutoResetEvent::~CAutoResetEvent()
{
    pthread_cond_destroy(&m_Cond);
    pthread_mutex_destroy(&m_Mutex);
}

void CAutoResetEvent::SetEvent()
{
    pthread_mutex_lock(&m_Mutex);
    m_bSignalled.store(true, std::memory_order_relaxed);
    pthread_cond_signal(&m_Cond);
    pthread_mutex_unlock(&m_Mutex);
}

void CAutoResetEvent::ResetEvent()
{
    pthread_mutex_lock(&m_Mutex);
    m_bSignalled.store(false, std::memory_order_relaxed);
    pthread_mutex_unlock(&m_Mutex);
}

void CAutoResetEvent::Wait()
{
    pthread_mutex_lock(&m_Mutex);
    // exchange() reads and clears in one step, so a store from a signal
    // handler between a read and a separate clear cannot be lost.
    while (!m_bSignalled.exchange(false, std::memory_order_relaxed)) {
        pthread_cond_wait(&m_Cond, &m_Mutex);
    }
    pthread_mutex_unlock(&m_Mutex);
}

int CAutoResetEvent::WaitTimeout(unsigned int milliseconds)
{
    return WaitOnEvent(&m_Mutex, &m_Cond, milliseconds,
                       [this] { return m_bSignalled.exchange(false, std::memory_order_relaxed); });
}

// ---------------------------------------------------------- manual-reset

CManualResetEvent::CManualResetEvent(bool initialState) : m_bSignalled(initialState)
{
    InitRecursiveMutex(&m_Mutex);
    InitMonotonicCondition(&m_Cond);
}

CManualResetEvent::~CManualResetEvent()
{
    pthread_cond_destroy(&m_Cond);
    pthread_mutex_destroy(&m_Mutex);
}

void CManualResetEvent::SetEvent()
{
    pthread_mutex_lock(&m_Mutex);
    m_bSignalled = true;
    pthread_cond_broadcast(&m_Cond);
    pthread_mutex_unlock(&m_Mutex);
}

void CManualResetEvent::ResetEvent()
{
    pthread_mutex_lock(&m_Mutex);
    m_bSignalled = false;
    pthread_mutex_unlock(&m_Mutex);
}

void CManualResetEvent::Wait()
{
    pthread_mutex_lock(&m_Mutex);
    while (!m_bSignalled) {
        pthread_cond_wait(&m_Cond, &m_Mutex);
    }
    pthread_mutex_unlock(&m_Mutex);
}

int CManualResetEvent::WaitTimeout(unsigned int milliseconds)
{
    return WaitOnEvent(&m_Mutex, &m_Cond, milliseconds, [this] { return m_bSignalled; });
}

// ------------------------------------------------------------- the lock

CSimpleCriticalSection::CSimpleCriticalSection()
{
    InitRecursiveMutex(&m_Mutex);
}

CSimpleCriticalSection::~CSimpleCriticalSection()
{
    pthread_mutex_destroy(&m_Mutex);
}

void CSimpleCriticalSection::Lock()
{
    pthread_mutex_lock(&m_Mutex);
}

void CSimpleCriticalSection::Unlock()
{
    pthread_mutex_unlock(&m_Mutex);
}

// ------------------------------------------------------- the simulator's lock

namespace {

// The streaming thread takes a simulator's lock without a turn.
thread_local bool t_bPriority = false;

// Called around every simulator's lock (set once, at load).
struct Hooks {
    std::atomic<void (*)()> entry{nullptr};
    std::atomic<void (*)()> exit{nullptr};
};
Hooks s_Hooks;

unsigned long Self()
{
    return static_cast<unsigned long>(pthread_self());
}

}  // namespace

void MarkPriorityThread()
{
    t_bPriority = true;
}

void SetGlobalLockEntryHook(void (*hook)())
{
    s_Hooks.entry.store(hook);
}

void SetGlobalLockExitHook(void (*hook)())
{
    s_Hooks.exit.store(hook);
}

TurnLock::TurnLock()
{
    InitRecursiveMutex(&m_Mutex);
    pthread_mutex_init(&m_TurnMutex, nullptr);
    pthread_cond_init(&m_TurnServed, nullptr);
}

TurnLock::~TurnLock()
{
    pthread_cond_destroy(&m_TurnServed);
    pthread_mutex_destroy(&m_TurnMutex);
    pthread_mutex_destroy(&m_Mutex);
}

bool TurnLock::HeldHere() const
{
    return m_Owner.load(std::memory_order_relaxed) == Self();
}

void TurnLock::TakeTurn()
{
    pthread_mutex_lock(&m_TurnMutex);
    const unsigned long long ticket = m_NextTicket++;
    while (m_Serving != ticket)
        pthread_cond_wait(&m_TurnServed, &m_TurnMutex);
    pthread_mutex_unlock(&m_TurnMutex);
}

void TurnLock::PassTurn()
{
    pthread_mutex_lock(&m_TurnMutex);
    ++m_Serving;
    pthread_cond_broadcast(&m_TurnServed);
    pthread_mutex_unlock(&m_TurnMutex);
}

void TurnLock::Lock()
{
    if (HeldHere()) {
        pthread_mutex_lock(&m_Mutex);
        ++m_nHolds;
        return;
    }
    if (!t_bPriority) {
        TakeTurn();
        if (void (*hook)() = s_Hooks.entry.load())
            hook();
    }
    pthread_mutex_lock(&m_Mutex);
    m_Owner.store(Self(), std::memory_order_relaxed);
    m_nHolds = 1;
}

void TurnLock::Unlock()
{
    if (m_nHolds == 1) {
        if (void (*hook)() = s_Hooks.exit.load())
            hook();
    }
    const bool last = --m_nHolds == 0;
    if (last)
        m_Owner.store(0, std::memory_order_relaxed);
    pthread_mutex_unlock(&m_Mutex);
    if (last && !t_bPriority)
        PassTurn();
}

// --------------------------------------------------------------- PiMutex

PiMutex::PiMutex()
{
    InitMutex(&m_Mutex, PTHREAD_MUTEX_NORMAL);
}

void PiMutex::lock()
{
    pthread_mutex_lock(&m_Mutex);
}

void PiMutex::unlock()
{
    pthread_mutex_unlock(&m_Mutex);
}

bool PiMutex::try_lock()
{
    return pthread_mutex_trylock(&m_Mutex) == 0;
}

// ---------------------------------------------------------------- waits

int WaitForSingleObject(CEvent* event, unsigned int milliseconds)
{
    int result = kWaitTimedOut;
    if (event != nullptr) {
        result = event->WaitTimeout(milliseconds);
    }
    return result;
}

int WaitForMultipleObjects(unsigned int count, CEvent** events, int waitAll,
                           unsigned int milliseconds)
{
    int result = kWaitTimedOut;
    // Waiting for all events at once is not supported and reads as a
    // time-out; so does a list that is missing, empty, too long to report
    // every index unambiguously, or has a hole.
    bool usable = waitAll == 0 && events != nullptr && count > 0 && count <= kMaxWaitObjects;
    for (unsigned int i = 0; usable && i < count; ++i) {
        usable = events[i] != nullptr;
    }
    if (usable) {
        const bool bounded = milliseconds != 0xFFFFFFFFu;
        const timespec deadline = AddMilliseconds(MonotonicNow(), milliseconds);
        bool done = false;
        while (!done) {
            // Lowest index wins; the events after it are not polled, and
            // polling an auto-reset event consumes its signal.
            for (unsigned int i = 0; !done && i < count; ++i) {
                if (events[i]->WaitTimeout(0) == 0) {
                    result = static_cast<int>(i);
                    done = true;
                }
            }
            if (!done && (milliseconds == 0 ||
                          (bounded && IsPastDeadline(MonotonicNow(), deadline)))) {
                done = true;
            }
            if (!done) {
                SleepOneMillisecond();
            }
        }
    }
    return result;
}

// Thin platform wrappers: descriptors, sleeps, threads, and periodic timers
// that post real-time signals, with the two events those signals set.
#include "runtime/Platform.h"

#include "runtime/MonotonicClock.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <type_traits>
#include <unistd.h>

static_assert(std::is_same_v<pthread_t, unsigned long>,
              "thread identifiers are handed out as unsigned long");
static_assert(std::is_same_v<timer_t, void*>, "DeleteTimer takes the timer as void*&");

// Set by the signal handlers of the timers on SIGRTMIN and SIGRTMIN + 1.
CAutoResetEvent g_hSigTimer1Event(false);
CAutoResetEvent g_hSigTimer2Event(false);

namespace {

// Signal handlers: a plain store into the event's flag. Taking the event's
// mutex here could deadlock against the interrupted thread, so no waiter is
// woken; waiters see the flag on their next poll.
void onSigTimer1Timer(int, siginfo_t*, void*)
{
    g_hSigTimer1Event.SetFlagFromSignalHandler();
}

void onSigTimer2Timer(int, siginfo_t*, void*)
{
    g_hSigTimer2Event.SetFlagFromSignalHandler();
}

// No SA_RESTART: a blocking call interrupted by the timer returns EINTR, which
// is why SleepEx resumes by itself.
void TimerSetHandler(int signalNumber, void (*handler)(int, siginfo_t*, void*))
{
    struct sigaction action {};
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
}

// Creates a timer on the real-time clock that raises signalNumber, with a
// handle that is not null. The kernel numbers a process's timers from 0 and
// the C library hands that number out as the handle, so the first timer of
// a process would be a null timer_t, which callers of CreateNewTimer read as
// failure and DeleteTimer skips. In that case a second timer is created and
// the first freed; the kernel does not hand out number 0 again until its
// counter wraps.
bool CreateSignalTimer(int signalNumber, timer_t* timer)
{
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = signalNumber;

    timer_t created = nullptr;
    bool ok = timer_create(CLOCK_REALTIME, &event, &created) == 0;
    if (ok && created == nullptr) {
        timer_t next = nullptr;
        const bool replaced = timer_create(CLOCK_REALTIME, &event, &next) == 0;
        timer_delete(created);
        // With number 0 still taken the second timer cannot be null; the
        // check only keeps a null handle from ever being reported as success.
        ok = replaced && next != nullptr;
        if (replaced && !ok) {
            timer_delete(next);
        }
        created = next;
    }
    if (ok) {
        *timer = created;
    }
    return ok;
}

} // namespace

bool CloseHandle(long fd)
{
    bool closed = false;
    if (fd >= 0 && fd <= INT_MAX) {
        closed = close(static_cast<int>(fd)) == 0;
    }
    return closed;
}

void SleepEx(unsigned int milliseconds)
{
    // An absolute deadline makes resuming after a signal trivial: sleeping
    // again until the same instant covers exactly the remaining time.
    const timespec deadline = AddMilliseconds(MonotonicNow(), milliseconds);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

bool CreateThread(unsigned long* threadId, void* (*start)(void*), void* arg)
{
    bool created = false;
    if (threadId != nullptr && start != nullptr) {
        pthread_t thread;
        if (pthread_create(&thread, nullptr, start, arg) == 0) {
            *threadId = thread;
            created = true;
        }
    }
    return created;
}

void CloseThread(unsigned long threadId)
{
    // Threads are released by joining them; there is nothing to close.
}

timer_t CreateNewTimer(unsigned int periodMs, unsigned int& signalNumber)
{
    timer_t timer = nullptr;
    // A period of 0 would leave the timer disarmed: it would never fire,
    // so it is refused rather than handed out as working.
    if (periodMs > 0 && signalNumber <= static_cast<unsigned int>(INT_MAX)) {
        const int signo = static_cast<int>(signalNumber);
        if (signo == SIGRTMIN) {
            TimerSetHandler(signo, onSigTimer1Timer);
        } else if (signo == SIGRTMIN + 1) {
            TimerSetHandler(signo, onSigTimer2Timer);
        }
        timer_t created = nullptr;
        if (CreateSignalTimer(signo, &created)) {
            itimerspec period{};
            period.it_value.tv_sec = static_cast<time_t>(periodMs / 1000U);
            period.it_value.tv_nsec =
                static_cast<long>((static_cast<uint64_t>(periodMs) * 1000000ULL) % 1000000000ULL);
            period.it_interval = period.it_value;
            if (timer_settime(created, 0, &period, nullptr) == 0) {
                timer = created;
            } else {
                timer_delete(created);
            }
        }
    }
    return timer;
}

void DeleteTimer(unsigned int signalNumber, void*& timer)
{
    if (timer != nullptr) {
        timer_delete(timer);
    }
}

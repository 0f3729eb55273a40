// Sleeps, threads, descriptors and the periodic signal timers.
//
// Timer signals go to the whole process. This test program starts no
// library threads, so they interrupt the test's own thread, which is what
// the sleep test relies on.
#include "hsim.hpp"

#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using std::chrono::steady_clock;

namespace {

constexpr int kTimedOut = 110;

std::atomic<int> s_signalsSeen{0};

void CountSignal(int, siginfo_t*, void*)
{
    s_signalsSeen.fetch_add(1, std::memory_order_relaxed);
}

// Installs CountSignal without SA_RESTART, so blocking calls see EINTR.
void InstallCounter(int signo)
{
    struct sigaction action {};
    action.sa_sigaction = CountSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(signo, &action, nullptr), 0);
}

// ------------------------------------------------------------------ sleeps

TEST(SleepExTest, SleepsTheFullTimeWhileSignalsInterruptIt)
{
    // A timer on a signal with a caller-installed handler: CreateNewTimer
    // installs nothing for it, and every expiry interrupts the sleep.
    unsigned int signo = static_cast<unsigned int>(SIGRTMIN + 2);
    InstallCounter(static_cast<int>(signo));
    s_signalsSeen.store(0);
    void* timer = CreateNewTimer(100, signo);
    ASSERT_NE(timer, nullptr);

    const auto start = steady_clock::now();
    SleepEx(1500);
    const long long elapsed = MillisecondsSince(start);
    DeleteTimer(signo, timer);

    EXPECT_GE(elapsed, 1500);
    EXPECT_LT(elapsed, 6000);
    // About 15 expiries fall into the sleep; at least one proves it was
    // interrupted and resumed.
    EXPECT_GE(s_signalsSeen.load(), 1);
}

TEST(SleepExTest, ZeroReturnsPromptly)
{
    const auto start = steady_clock::now();
    SleepEx(0);
    EXPECT_LT(MillisecondsSince(start), 1000);
}

// ----------------------------------------------------------------- threads

struct ThreadProbe {
    std::atomic<bool> ran{false};
    pthread_t self{};
};

void* RecordSelf(void* arg)
{
    auto* probe = static_cast<ThreadProbe*>(arg);
    probe->self = pthread_self();
    probe->ran.store(true);
    return probe;
}

TEST(CreateThreadTest, StartsAJoinableThreadAndReportsItsIdentifier)
{
    ThreadProbe probe;
    unsigned long id = 0;
    ASSERT_TRUE(CreateThread(&id, RecordSelf, &probe));
    void* returned = nullptr;
    ASSERT_EQ(pthread_join(static_cast<pthread_t>(id), &returned), 0);
    EXPECT_TRUE(probe.ran.load());
    EXPECT_EQ(returned, &probe);
    EXPECT_TRUE(pthread_equal(probe.self, static_cast<pthread_t>(id)));
    CloseThread(id);
}

TEST(CreateThreadTest, RefusesMissingArguments)
{
    ThreadProbe probe;
    EXPECT_FALSE(CreateThread(nullptr, RecordSelf, &probe));
    unsigned long id = 12345;
    EXPECT_FALSE(CreateThread(&id, nullptr, &probe));
    EXPECT_EQ(id, 12345UL);
    EXPECT_FALSE(probe.ran.load());
}

// ------------------------------------------------------------- descriptors

TEST(CloseHandleTest, ClosesOpenDescriptorsOnly)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_TRUE(CloseHandle(fds[0]));
    EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);
    EXPECT_FALSE(CloseHandle(fds[0])); // already closed

    // A value that only matches the descriptor in its low 32 bits must not
    // close it.
    EXPECT_FALSE(CloseHandle(static_cast<long>(fds[1]) + (1L << 32)));
    EXPECT_NE(fcntl(fds[1], F_GETFD), -1);
    EXPECT_TRUE(CloseHandle(fds[1]));

    EXPECT_FALSE(CloseHandle(-1));
}

// ------------------------------------------------------------------ timers

TEST(SignalTimer, FirstTimerSignalsEventOneAndAPollClearsIt)
{
    unsigned int signo = static_cast<unsigned int>(SIGRTMIN);
    g_hSigTimer1Event.WaitTimeout(0);
    g_hSigTimer2Event.WaitTimeout(0);

    void* timer = CreateNewTimer(250, signo);
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(signo, static_cast<unsigned int>(SIGRTMIN));

    // Each expiry sets the event; a poll sees it and clears it, so a second
    // poll right after finds it clear unless the next expiry, 250 ms later,
    // happened to fall between the two. Three rounds make that coincidence
    // irrelevant; a poll that did not clear would fail all three.
    int clearedRounds = 0;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(WaitUntil([] { return g_hSigTimer1Event.WaitTimeout(0) == 0; }));
        if (g_hSigTimer1Event.WaitTimeout(0) == kTimedOut) {
            ++clearedRounds;
        }
    }
    EXPECT_GE(clearedRounds, 1);

    DeleteTimer(signo, timer);
    // The other timer event is not touched by SIGRTMIN.
    EXPECT_EQ(g_hSigTimer2Event.WaitTimeout(0), kTimedOut);
}

TEST(SignalTimer, SecondTimerSignalsEventTwoUntilDeleted)
{
    unsigned int signo = static_cast<unsigned int>(SIGRTMIN + 1);
    g_hSigTimer1Event.WaitTimeout(0);
    g_hSigTimer2Event.WaitTimeout(0);

    void* timer = CreateNewTimer(50, signo);
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(WaitUntil([] { return g_hSigTimer2Event.WaitTimeout(0) == 0; }));
    EXPECT_TRUE(WaitUntil([] { return g_hSigTimer2Event.WaitTimeout(0) == 0; }));

    void* const before = timer;
    DeleteTimer(signo, timer);
    EXPECT_EQ(timer, before); // the reference is left as it was
    // A deleted timer has no pending expiry left; once drained, the event
    // stays clear for several former periods.
    g_hSigTimer2Event.WaitTimeout(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(g_hSigTimer2Event.WaitTimeout(0), kTimedOut);
    EXPECT_EQ(g_hSigTimer1Event.WaitTimeout(0), kTimedOut);
}

TEST(SignalTimer, FirstTimerOfAFreshProcessIsNotANullHandle)
{
    // The kernel numbers a process's timers from 0; a forked child starts
    // that count again, so its first timer is the one that would come back
    // as a null handle.
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        unsigned int signo = static_cast<unsigned int>(SIGRTMIN + 3);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, static_cast<int>(signo));
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        void* timer = CreateNewTimer(10000, signo);
        int code = timer != nullptr ? 0 : 1;
        if (code == 0) {
            itimerspec left{};
            // Armed: about 10 s to go.
            if (timer_gettime(timer, &left) != 0 || left.it_value.tv_sec < 5 ||
                left.it_interval.tv_sec != 10) {
                code = 2;
            }
            DeleteTimer(signo, timer);
            // Really deleted, not skipped.
            if (timer_gettime(timer, &left) == 0) {
                code = 3;
            }
        }
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: null timer, 2: not armed, 3: not deleted";
}

TEST(SignalTimer, PeriodIsSplitIntoSecondsAndNanoseconds)
{
    // 2750 ms = 2 s + 750,000,000 ns, both for the first expiry and the
    // interval.
    unsigned int signo = static_cast<unsigned int>(SIGRTMIN + 2);
    InstallCounter(static_cast<int>(signo));
    void* timer = CreateNewTimer(2750, signo);
    ASSERT_NE(timer, nullptr);
    itimerspec setting{};
    ASSERT_EQ(timer_gettime(timer, &setting), 0);
    EXPECT_EQ(setting.it_interval.tv_sec, 2);
    EXPECT_EQ(setting.it_interval.tv_nsec, 750000000L);
    EXPECT_LE(setting.it_value.tv_sec, 2);
    DeleteTimer(signo, timer);
}

TEST(SignalTimer, RefusesUnusableArgumentsWithANullTimer)
{
    unsigned int signo = static_cast<unsigned int>(SIGRTMIN + 1);
    // A period of 0 would never fire.
    EXPECT_EQ(CreateNewTimer(0, signo), nullptr);
    EXPECT_EQ(signo, static_cast<unsigned int>(SIGRTMIN + 1));

    unsigned int none = 0;
    EXPECT_EQ(CreateNewTimer(100, none), nullptr);
    unsigned int beyond = static_cast<unsigned int>(SIGRTMAX + 1);
    EXPECT_EQ(CreateNewTimer(100, beyond), nullptr);
    unsigned int huge = 0xFFFFFFFFu;
    EXPECT_EQ(CreateNewTimer(100, huge), nullptr);

    void* nothing = nullptr;
    DeleteTimer(signo, nothing); // a null timer is left alone
    EXPECT_EQ(nothing, nullptr);
}

} // namespace

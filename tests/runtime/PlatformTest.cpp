// Sleeps, threads, descriptors and the periodic signal timers.
//
// Timer signals go to the whole process. This test program starts no
// library threads, so they interrupt the test's own thread, which is what
// the sleep test relies on.
#include "hsim.hpp"

#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <unistd.h>

constexpr int kTimedOut = 110;

TEST(SleepExTest, SleepsTheFullTimeWhileSignalsInterruptIt)
{
    // The timer's handler is installed without SA_RESTART, so every expiry
    // interrupts the sleep, and each sets the event.
    unsigned int signo = static_cast<unsigned int>(SIGRTMIN);
    void* timer = CreateNewTimer(50, signo);
    ASSERT_NE(timer, nullptr);
    const auto start = std::chrono::steady_clock::now();
    SleepEx(600);
    const long long elapsed = MillisecondsSince(start);
    DeleteTimer(signo, timer);
    EXPECT_GE(elapsed, 600);
    EXPECT_EQ(g_hSigTimer1Event.WaitTimeout(0), 0); // interrupted at least once, and resumed
}

TEST(CreateThreadTest, StartsAJoinableThreadAndRefusesMissingArguments)
{
    char text[] = "ab";
    auto next = [](void* arg) -> void* { return static_cast<char*>(arg) + 1; };
    unsigned long id = 0;
    ASSERT_TRUE(CreateThread(&id, next, text));
    void* returned = nullptr;
    ASSERT_EQ(pthread_join(static_cast<pthread_t>(id), &returned), 0);
    EXPECT_EQ(returned, text + 1);
    EXPECT_FALSE(CreateThread(nullptr, next, text));
    EXPECT_FALSE(CreateThread(&id, nullptr, text));
}

TEST(CloseHandleTest, ClosesOpenDescriptorsOnly)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // A value that matches the descriptor only in its low 32 bits is not it.
    EXPECT_FALSE(CloseHandle(static_cast<long>(fds[1]) + (1L << 32)));
    EXPECT_TRUE(CloseHandle(fds[1]));
    EXPECT_FALSE(CloseHandle(fds[1])); // already closed
    close(fds[0]);
}

TEST(SignalTimer, EachTimerSetsOnlyItsOwnEventUntilDeleted)
{
    // Under ctest each test case runs in a process of its own, so the first
    // timer here is the process's first, which the kernel numbers 0: it must
    // still not come back as a null handle.
    const struct { int signo; CAutoResetEvent& own; CAutoResetEvent& other; } kTimers[] = {
        {SIGRTMIN, g_hSigTimer1Event, g_hSigTimer2Event},
        {SIGRTMIN + 1, g_hSigTimer2Event, g_hSigTimer1Event}};
    EXPECT_EQ(g_hSigTimer1Event.WaitTimeout(0), kTimedOut); // nothing has set them yet
    EXPECT_EQ(g_hSigTimer2Event.WaitTimeout(0), kTimedOut);
    for (const auto& t : kTimers) {
        unsigned int signo = static_cast<unsigned int>(t.signo);
        void* timer = CreateNewTimer(50, signo);
        ASSERT_NE(timer, nullptr);
        // Two expiries: the poll that sees the first consumes it.
        EXPECT_TRUE(WaitUntil([&] { return t.own.WaitTimeout(0) == 0; }));
        EXPECT_TRUE(WaitUntil([&] { return t.own.WaitTimeout(0) == 0; }));
        DeleteTimer(signo, timer);
        t.own.WaitTimeout(0); // an expiry just before the deletion
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(t.own.WaitTimeout(0), kTimedOut) << "signal " << t.signo;
        EXPECT_EQ(t.other.WaitTimeout(0), kTimedOut) << "signal " << t.signo;
    }
}

TEST(SignalTimer, ArmsWithThePeriodAndRefusesUnusableArguments)
{
    // 2750 ms = 2 s + 750,000,000 ns, for the interval and the first expiry
    // (the timer is deleted long before it).
    unsigned int signo = static_cast<unsigned int>(SIGRTMIN + 3);
    void* timer = CreateNewTimer(2750, signo);
    itimerspec left{};
    ASSERT_EQ(timer_gettime(timer, &left), 0);
    DeleteTimer(signo, timer);
    EXPECT_EQ(left.it_interval.tv_sec, 2);
    EXPECT_EQ(left.it_interval.tv_nsec, 750000000L);
    EXPECT_LE(left.it_value.tv_sec, 2);
    EXPECT_NE(left.it_value.tv_sec + left.it_value.tv_nsec, 0); // armed
    // A period of 0 would never fire; the other signal numbers do not exist.
    const unsigned int rtmax = static_cast<unsigned int>(SIGRTMAX);
    const struct { unsigned int ms; unsigned int signo; } kRefused[] = {
        {0, rtmax}, {100, 0}, {100, rtmax + 1}, {100, 0xFFFFFFFFu}};
    for (const auto& c : kRefused) {
        signo = c.signo;
        EXPECT_EQ(CreateNewTimer(c.ms, signo), nullptr) << c.ms << " ms, signal " << c.signo;
    }
}

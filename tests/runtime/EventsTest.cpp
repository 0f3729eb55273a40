// Events, the recursive lock and the waits over them.
#include "hsim.hpp"

#include "runtime/MonotonicClock.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <stdexcept>
#include <thread>
#include <vector>

using std::chrono::steady_clock;

namespace {

constexpr int kTimedOut = 110;

// ------------------------------------------------------ deadline arithmetic

TEST(MonotonicDeadline, AddsWholeSecondsAndMillisecondsWithCarry)
{
    // 5.999999999 s + 1 ms = 6.000999999 s: the nanoseconds overflow by
    // 999,999 and one second is carried.
    timespec t = AddMilliseconds(timespec{5, 999999999L}, 1);
    EXPECT_EQ(t.tv_sec, 6);
    EXPECT_EQ(t.tv_nsec, 999999L);

    // 0.5 s + 1500 ms = 2.0 s exactly: 1 s from ms / 1000, then 0.5 + 0.5 s
    // carries into a second with 0 ns left.
    t = AddMilliseconds(timespec{0, 500000000L}, 1500);
    EXPECT_EQ(t.tv_sec, 2);
    EXPECT_EQ(t.tv_nsec, 0L);

    // No carry when the sum stays below a second.
    t = AddMilliseconds(timespec{10, 1000L}, 999);
    EXPECT_EQ(t.tv_sec, 10);
    EXPECT_EQ(t.tv_nsec, 999001000L);

    // 0 ms leaves the time as it is.
    t = AddMilliseconds(timespec{7, 123L}, 0);
    EXPECT_EQ(t.tv_sec, 7);
    EXPECT_EQ(t.tv_nsec, 123L);

    // 0xFFFFFFFF ms = 4,294,967 s + 295 ms, about 49.7 days.
    t = AddMilliseconds(timespec{100, 800000000L}, 0xFFFFFFFFu);
    EXPECT_EQ(t.tv_sec, 100 + 4294967 + 1);
    EXPECT_EQ(t.tv_nsec, 95000000L);
}

TEST(MonotonicDeadline, IsPastOnlyStrictlyAfter)
{
    const timespec deadline{10, 500L};
    EXPECT_FALSE(IsPastDeadline(timespec{10, 500L}, deadline));
    EXPECT_FALSE(IsPastDeadline(timespec{10, 499L}, deadline));
    EXPECT_FALSE(IsPastDeadline(timespec{9, 999999999L}, deadline));
    EXPECT_TRUE(IsPastDeadline(timespec{10, 501L}, deadline));
    EXPECT_TRUE(IsPastDeadline(timespec{11, 0L}, deadline));
}

// ------------------------------------------------------------ single events

TEST(EventPoll, AutoResetPollConsumesTheSignal)
{
    CAutoResetEvent event(true);
    EXPECT_EQ(event.WaitTimeout(0), 0);
    EXPECT_EQ(event.WaitTimeout(0), kTimedOut);

    CAutoResetEvent unsignalled(false);
    EXPECT_EQ(unsignalled.WaitTimeout(0), kTimedOut);

    // Two sets before a wait are one signal, not two: an event is not a
    // counter.
    unsignalled.SetEvent();
    unsignalled.SetEvent();
    EXPECT_EQ(unsignalled.WaitTimeout(0), 0);
    EXPECT_EQ(unsignalled.WaitTimeout(0), kTimedOut);
}

TEST(EventPoll, ManualResetPollLeavesTheSignal)
{
    CManualResetEvent event(true);
    EXPECT_EQ(event.WaitTimeout(0), 0);
    EXPECT_EQ(event.WaitTimeout(0), 0);
    EXPECT_EQ(event.WaitTimeout(50), 0);
    event.ResetEvent();
    EXPECT_EQ(event.WaitTimeout(0), kTimedOut);

    CManualResetEvent unsignalled(false);
    EXPECT_EQ(unsignalled.WaitTimeout(0), kTimedOut);
    unsignalled.SetEvent();
    EXPECT_EQ(unsignalled.WaitTimeout(0), 0);
}

TEST(EventPoll, ResetClearsBothKinds)
{
    CAutoResetEvent autoEvent(true);
    autoEvent.ResetEvent();
    EXPECT_EQ(autoEvent.WaitTimeout(0), kTimedOut);

    CManualResetEvent manualEvent(true);
    manualEvent.ResetEvent();
    EXPECT_EQ(manualEvent.WaitTimeout(0), kTimedOut);
}

TEST(EventWait, WaitReturnsAtOnceWhenSignalledAndAutoResetConsumes)
{
    CAutoResetEvent autoEvent(true);
    autoEvent.Wait();
    EXPECT_EQ(autoEvent.WaitTimeout(0), kTimedOut);

    CManualResetEvent manualEvent(true);
    manualEvent.Wait();
    manualEvent.Wait();
    EXPECT_EQ(manualEvent.WaitTimeout(0), 0);
}

TEST(EventWait, BoundedWaitTimesOutNoEarlierThanAsked)
{
    CAutoResetEvent autoEvent(false);
    auto start = steady_clock::now();
    EXPECT_EQ(autoEvent.WaitTimeout(150), kTimedOut);
    EXPECT_GE(MillisecondsSince(start), 150);

    // 999 ms makes the nanoseconds of the deadline overflow for almost every
    // starting time; a deadline left unnormalised would be refused by the
    // timed wait and end it at once.
    CManualResetEvent manualEvent(false);
    start = steady_clock::now();
    EXPECT_EQ(manualEvent.WaitTimeout(999), kTimedOut);
    EXPECT_GE(MillisecondsSince(start), 999);
}

TEST(EventWait, BoundedWaitEndsWhenAnotherThreadSets)
{
    CAutoResetEvent autoEvent(false);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        autoEvent.SetEvent();
    });
    const auto start = steady_clock::now();
    EXPECT_EQ(autoEvent.WaitTimeout(20000), 0);
    EXPECT_LT(MillisecondsSince(start), 10000);
    setter.join();
    // The wait consumed the signal.
    EXPECT_EQ(autoEvent.WaitTimeout(0), kTimedOut);

    CManualResetEvent manualEvent(false);
    std::thread manualSetter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        manualEvent.SetEvent();
    });
    EXPECT_EQ(manualEvent.WaitTimeout(20000), 0);
    manualSetter.join();
    EXPECT_EQ(manualEvent.WaitTimeout(0), 0);
}

TEST(EventWait, LongestBoundedWaitSeesASignalledEvent)
{
    // 0xFFFFFFFF is a deadline about 49.7 days ahead, not a special value.
    CAutoResetEvent event(true);
    EXPECT_EQ(event.WaitTimeout(0xFFFFFFFFu), 0);
    EXPECT_EQ(event.WaitTimeout(0), kTimedOut);
}

// Starts `count` threads blocked in Wait() on `event`, each bumping
// `released` when its wait returns.
std::vector<std::thread> StartWaiters(CEvent& event, int count, std::atomic<int>& released)
{
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&] {
            event.Wait();
            released.fetch_add(1);
        });
    }
    return threads;
}

TEST(EventWake, ManualResetSetReleasesEveryWaiter)
{
    CManualResetEvent event(false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters = StartWaiters(event, 4, released);
    // Give the threads time to block; the outcome does not depend on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(released.load(), 0);

    event.SetEvent();
    EXPECT_TRUE(WaitUntil([&] { return released.load() == 4; }));
    for (std::thread& t : waiters) {
        t.join();
    }
    EXPECT_EQ(event.WaitTimeout(0), 0);
}

TEST(EventWake, AutoResetSetReleasesExactlyOneWaiterAndIsConsumed)
{
    CAutoResetEvent event(false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters = StartWaiters(event, 3, released);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(released.load(), 0);

    event.SetEvent();
    EXPECT_TRUE(WaitUntil([&] { return released.load() >= 1; }));
    // A second release would follow at once if the set woke everybody or
    // left the flag set.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(released.load(), 1);
    EXPECT_EQ(event.WaitTimeout(0), kTimedOut);

    // Each further set releases one more.
    event.SetEvent();
    EXPECT_TRUE(WaitUntil([&] { return released.load() >= 2; }));
    event.SetEvent();
    EXPECT_TRUE(WaitUntil([&] { return released.load() >= 3; }));
    // Release any thread a faulty event left behind, so the test can end.
    for (int i = released.load(); i < 3; ++i) {
        event.SetEvent();
    }
    for (std::thread& t : waiters) {
        t.join();
    }
    EXPECT_EQ(released.load(), 3);
    EXPECT_EQ(event.WaitTimeout(0), kTimedOut);
}

TEST(EventWake, HandlerStyleStoreIsSeenByTheNextPoll)
{
    // The timer signal handlers store the flag without the mutex and without
    // waking anyone; a poll sees and consumes it.
    CAutoResetEvent event(false);
    event.SetFlagFromSignalHandler();
    EXPECT_EQ(event.WaitTimeout(0), 0);
    EXPECT_EQ(event.WaitTimeout(0), kTimedOut);
}

// ------------------------------------------------------- WaitForSingleObject

TEST(WaitForSingleObjectTest, ForwardsToTheEventAndRefusesNull)
{
    CAutoResetEvent event(true);
    EXPECT_EQ(WaitForSingleObject(&event, 0), 0);
    EXPECT_EQ(WaitForSingleObject(&event, 0), kTimedOut);
    const auto start = steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(&event, 60), kTimedOut);
    EXPECT_GE(MillisecondsSince(start), 60);

    EXPECT_EQ(WaitForSingleObject(nullptr, 0), kTimedOut);
    EXPECT_EQ(WaitForSingleObject(nullptr, 1000), kTimedOut);
}

// ---------------------------------------------------- WaitForMultipleObjects

TEST(WaitForMultipleObjectsTest, LowestSignalledIndexWinsAndOnlyItIsConsumed)
{
    CAutoResetEvent first(true);
    CAutoResetEvent second(true);
    CEvent* both[] = {&first, &second};
    EXPECT_EQ(WaitForMultipleObjects(2, both, 0, 0), 0);
    EXPECT_EQ(first.WaitTimeout(0), kTimedOut);
    EXPECT_EQ(second.WaitTimeout(0), 0);

    // With the first one unsignalled the next signalled index is reported,
    // and the events after it are not polled.
    CAutoResetEvent a(false);
    CAutoResetEvent b(true);
    CAutoResetEvent c(true);
    CEvent* three[] = {&a, &b, &c};
    EXPECT_EQ(WaitForMultipleObjects(3, three, 0, 0), 1);
    EXPECT_EQ(b.WaitTimeout(0), kTimedOut);
    EXPECT_EQ(c.WaitTimeout(0), 0);
}

TEST(WaitForMultipleObjectsTest, ManualResetEventsStaySignalled)
{
    CManualResetEvent manual(true);
    CAutoResetEvent autoEvent(true);
    CEvent* events[] = {&manual, &autoEvent};
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 0), 0);
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 0), 0);
    EXPECT_EQ(manual.WaitTimeout(0), 0);
    EXPECT_EQ(autoEvent.WaitTimeout(0), 0);
}

TEST(WaitForMultipleObjectsTest, WaitAllIsRefusedAtOnceWithoutConsuming)
{
    CAutoResetEvent signalled(true);
    CEvent* events[] = {&signalled};
    const auto start = steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(1, events, 1, 5000), kTimedOut);
    EXPECT_EQ(WaitForMultipleObjects(1, events, -1, 0xFFFFFFFFu), kTimedOut);
    EXPECT_LT(MillisecondsSince(start), 2500);
    EXPECT_EQ(signalled.WaitTimeout(0), 0);
}

TEST(WaitForMultipleObjectsTest, TimesOutAfterTheDeadline)
{
    CAutoResetEvent a(false);
    CManualResetEvent b(false);
    CEvent* events[] = {&a, &b};
    auto start = steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 120), kTimedOut);
    EXPECT_GE(MillisecondsSince(start), 120);

    // One pass only with 0.
    start = steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 0), kTimedOut);
    EXPECT_LT(MillisecondsSince(start), 2500);
}

TEST(WaitForMultipleObjectsTest, SeesAnEventSetDuringTheWait)
{
    CAutoResetEvent a(false);
    CAutoResetEvent b(false);
    CEvent* events[] = {&a, &b};
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        b.SetEvent();
    });
    // No deadline at all.
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 0xFFFFFFFFu), 1);
    setter.join();
    EXPECT_EQ(b.WaitTimeout(0), kTimedOut);

    std::thread setter2([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        a.SetEvent();
    });
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 20000), 0);
    setter2.join();
}

TEST(WaitForMultipleObjectsTest, UnusableListsAreRefused)
{
    CAutoResetEvent signalled(true);
    CEvent* withHole[] = {&signalled, nullptr};
    EXPECT_EQ(WaitForMultipleObjects(1, nullptr, 0, 0), kTimedOut);
    EXPECT_EQ(WaitForMultipleObjects(0, withHole, 0, 0), kTimedOut);
    EXPECT_EQ(WaitForMultipleObjects(2, withHole, 0, 0), kTimedOut);
    // Nothing was polled by the refused calls.
    EXPECT_EQ(signalled.WaitTimeout(0), 0);

    // Index 110 would read as a time-out, so 111 events are too many; 110
    // events (indices 0..109) are fine.
    std::deque<CManualResetEvent> owned; // events are built in place, never moved
    std::vector<CEvent*> many;
    for (int i = 0; i < 111; ++i) {
        owned.emplace_back(i == 109);
        many.push_back(&owned.back());
    }
    EXPECT_EQ(WaitForMultipleObjects(110, many.data(), 0, 0), 109);
    EXPECT_EQ(WaitForMultipleObjects(111, many.data(), 0, 0), kTimedOut);
}

// -------------------------------------------------------------- the lock

TEST(CriticalSection, SerialisesThreads)
{
    CSimpleCriticalSection section;
    long counter = 0; // deliberately plain: the lock alone protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CAutoCriticalSection guard(section);
                counter = counter + 1;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 80000);
}

TEST(CriticalSection, IsRecursiveAndNeedsOneUnlockPerLock)
{
    CSimpleCriticalSection section;
    std::atomic<bool> acquired{false};
    section.Lock();
    section.Lock(); // the owner may lock again
    section.Unlock();

    std::thread other([&] {
        section.Lock();
        acquired.store(true);
        section.Unlock();
    });
    // Still held once: the other thread must not get in.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(acquired.load());

    section.Unlock();
    EXPECT_TRUE(WaitUntil([&] { return acquired.load(); }));
    other.join();
}

TEST(CriticalSection, GuardReleasesWhenAnExceptionLeaves)
{
    CSimpleCriticalSection section;
    try {
        CAutoCriticalSection guard(section);
        throw std::runtime_error("leave the region");
    } catch (const std::runtime_error&) {
    }
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        section.Lock();
        acquired.store(true);
        section.Unlock();
    });
    const bool released = WaitUntil([&] { return acquired.load(); });
    EXPECT_TRUE(released);
    if (!released) {
        section.Unlock(); // let the thread finish so the test can end
    }
    other.join();
}

} // namespace

// Events, the recursive lock, the waits over them and their deadlines.
#include "hsim.hpp"

#include "runtime/MonotonicClock.h"
#include "runtime/Sync.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cctype>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

constexpr int kTimedOut = 110;

TEST(MonotonicDeadline, AddsMillisecondsNormalisedAndComparesStrictly)
{
    // One second carried, carried to exactly 0 ns, the largest sum not carried, ...;
    // 0xFFFFFFFF ms is 4,294,967 s + 295 ms, about 49.7 days ahead, an ordinary deadline.
    const struct { timespec start; unsigned int ms; timespec sum; } kSums[] = {
        {{5, 999999999L}, 1, {6, 999999L}},   {{0, 500000000L}, 1500, {2, 0L}},
        {{0, 999999L}, 999, {0, 999999999L}}, {{10, 1000L}, 999, {10, 999001000L}},
        {{7, 123L}, 0, {7, 123L}},
        {{100, 800000000L}, 0xFFFFFFFFu, {100 + 4294967 + 1, 95000000L}}};
    auto split = [](timespec t) { return std::pair(t.tv_sec, t.tv_nsec); };
    for (const auto& c : kSums)
        EXPECT_EQ(split(AddMilliseconds(c.start, c.ms)), split(c.sum)) << c.ms << " ms";
    const struct { timespec now; bool past; } kNows[] = {
        {{10, 500L}, false}, {{10, 499L}, false}, {{9, 999999999L}, false}, {{10, 501L}, true},
        {{11, 0L}, true}};
    for (const auto& n : kNows)
        EXPECT_EQ(IsPastDeadline(n.now, {10, 500L}), n.past) << "case " << &n - kNows;
    // Rounded up, so a deadline 2 s ahead is at most 2000 ms away; 0 once past.
    const int left = MillisecondsUntil(AddMilliseconds(MonotonicNow(), 2000));
    EXPECT_TRUE(left > 1000 && left <= 2000) << left;
    EXPECT_EQ(MillisecondsUntil(timespec{0, 0L}), 0);
}

TEST(EventPoll, AutoResetConsumesManualResetStays)
{
    // Two polls of an auto-reset and then of a manual-reset event after the
    // same history: S set, R reset, W wait. Two sets are one signal, not a count.
    const struct { bool initial; const char* history; std::array<int, 4> polls; } kPolls[] = {
        {true, "", {0, kTimedOut, 0, 0}},
        {false, "", {kTimedOut, kTimedOut, kTimedOut, kTimedOut}},
        {false, "SS", {0, kTimedOut, 0, 0}},
        {true, "R", {kTimedOut, kTimedOut, kTimedOut, kTimedOut}},
        {true, "W", {kTimedOut, kTimedOut, 0, 0}}};
    for (const auto& c : kPolls) {
        CAutoResetEvent autoEvent(c.initial);
        CManualResetEvent manualEvent(c.initial);
        for (CEvent* event : {static_cast<CEvent*>(&autoEvent), static_cast<CEvent*>(&manualEvent)})
            for (const char* s = c.history; *s != '\0'; ++s)
                *s == 'S' ? event->SetEvent() : *s == 'R' ? event->ResetEvent() : event->Wait();
        const std::array<int, 4> polls{autoEvent.WaitTimeout(0), autoEvent.WaitTimeout(0),
                                       manualEvent.WaitTimeout(0), manualEvent.WaitTimeout(0)};
        EXPECT_EQ(polls, c.polls) << (c.initial ? "set, " : "clear, ") << c.history;
    }
}

TEST(EventWait, BoundedWaitsTimeOutNoEarlierThanAsked)
{
    CAutoResetEvent autoEvent(false);
    CManualResetEvent manualEvent(false);
    CEvent* both[] = {&autoEvent, &manualEvent};
    // 999 ms makes the deadline's nanoseconds overflow for almost any start;
    // an unnormalised deadline would be refused and end the wait at once.
    const struct { long long ms; std::function<int(unsigned int)> wait; } kWaits[] = {
        {150, [&](unsigned int ms) { return autoEvent.WaitTimeout(ms); }},
        {999, [&](unsigned int ms) { return manualEvent.WaitTimeout(ms); }},
        {60, [&](unsigned int ms) { return WaitForSingleObject(&autoEvent, ms); }},
        {120, [&](unsigned int ms) { return WaitForMultipleObjects(2, both, 0, ms); }}};
    for (const auto& c : kWaits) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.wait(static_cast<unsigned int>(c.ms)), kTimedOut);
        EXPECT_GE(MillisecondsSince(start), c.ms);
    }
    EXPECT_EQ(WaitForSingleObject(nullptr, 1000), kTimedOut);
}

TEST(EventWait, SetFromAnotherThreadReleasesAllWaitersOfAManualEventButOneOfAnAutoEvent)
{
    CAutoResetEvent autoEvent(false);
    CManualResetEvent manualEvent(false);
    for (CEvent* event : {static_cast<CEvent*>(&autoEvent), static_cast<CEvent*>(&manualEvent)}) {
        const int expected = event == &manualEvent ? 3 : 1;
        std::atomic<int> released{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i) { // waits with no bound, with a long one, and on a list
            waiters.emplace_back([&, i] {
                CEvent* list[] = {event};
                EXPECT_EQ(i == 0   ? (event->Wait(), 0)
                          : i == 1 ? event->WaitTimeout(20000)
                                   : WaitForMultipleObjects(1, list, 0, 0xFFFFFFFFu), 0);
                released.fetch_add(1);
            });
        }
        std::this_thread::sleep_for(100ms); // let them block; the outcome does not depend on it
        EXPECT_EQ(released.load(), 0);
        event->SetEvent();
        EXPECT_TRUE(WaitUntil([&] { return released.load() == expected; }));
        std::this_thread::sleep_for(200ms); // more releases would have followed by now
        EXPECT_EQ(released.load(), expected);
        EXPECT_EQ(event->WaitTimeout(0), expected == 1 ? kTimedOut : 0); // consumed or left
        for (; released.load() < 3; std::this_thread::sleep_for(5ms))
            event->SetEvent(); // each further set releases one more
        for (std::thread& t : waiters)
            t.join();
    }
}

TEST(WaitForMultipleObjectsTest, LowestSignalledIndexWinsAndUnusableListsAreRefused)
{
    // Lists as letters: A/a an auto-reset event signalled or not, M/m a
    // manual-reset one, '-' a hole; `after` shows them after one polling
    // pass. Waiting for all events is not supported. Index 110 would read as
    // a time-out, so 110 events (indices 0..109) are the most.
    const std::string m109(109, 'm');
    const struct { std::string events; unsigned int count; int all; int result; std::string after; }
        kLists[] = {{"AA", 2, 0, 0, "aA"},         {"aAA", 3, 0, 1, "aaA"},
                    {"MA", 2, 0, 0, "MA"},         {"am", 2, 0, kTimedOut, "am"},
                    {"A", 1, 1, kTimedOut, "A"},   {"A", 1, -1, kTimedOut, "A"},
                    {"A-", 2, 0, kTimedOut, "A-"}, {"A", 0, 0, kTimedOut, "A"},
                    {m109 + "M", 110, 0, 109, m109 + "M"},
                    {m109 + "Mm", 111, 0, kTimedOut, m109 + "Mm"}};
    for (const auto& c : kLists) {
        std::deque<CAutoResetEvent> autos; // built in place: events are never moved
        std::deque<CManualResetEvent> manuals;
        std::vector<CEvent*> list;
        for (char e : c.events)
            list.push_back(e == '-' ? nullptr
                           : tolower(e) == 'a' ? static_cast<CEvent*>(&autos.emplace_back(e == 'A'))
                                               : &manuals.emplace_back(e == 'M'));
        EXPECT_EQ(WaitForMultipleObjects(c.count, list.data(), c.all, 0), c.result) << c.events;
        std::string after = c.events;
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i] != nullptr && list[i]->WaitTimeout(0) != 0)
                after[i] = static_cast<char>(tolower(after[i]));
        EXPECT_EQ(after, c.after) << c.events << ", waitAll " << c.all;
    }
    EXPECT_EQ(WaitForMultipleObjects(1, nullptr, 0, 0), kTimedOut);
}

TEST(CriticalSection, IsRecursiveAndKeepsOthersOutUntilTheLastUnlock)
{
    CSimpleCriticalSection section;
    std::atomic<bool> entered{false};
    section.Lock();
    section.Lock(); // the owner may lock again
    section.Unlock();
    std::thread other([&] { CAutoCriticalSection guard(section); entered.store(true); });
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(entered.load()); // still held once
    section.Unlock();
    EXPECT_TRUE(WaitUntil([&] { return entered.load(); }));
    other.join();
}

// A simulator's lock is served in turns: a thread that lets it go and asks
// for it again at once waits behind a thread that was already waiting (a
// plain mutex favours the thread that takes it again). The hooks run as the
// lock is taken and let go for the last time, not on a nested take; another
// simulator's lock is apart.
TEST(CriticalSection, ASimulatorsLockIsServedInTurns)
{
    TurnLock lock, other;
    static std::atomic<int> entries{0}, exits{0};
    SetGlobalLockEntryHook([] { ++entries; });
    SetGlobalLockExitHook([] { ++exits; });
    std::atomic<int> round{0};
    std::atomic<bool> busyHolds{false}, waiterAsks{false};
    std::atomic<int> seen{-1};
    lock.Lock();
    lock.Lock();  // nested: no hooks, no turn
    lock.Unlock();
    EXPECT_TRUE(lock.HeldHere());
    EXPECT_FALSE(other.HeldHere());
    std::thread([&] {
        EXPECT_FALSE(lock.HeldHere());
        ContextGuard apart(other);  // not held up by the first
    }).join();
    std::thread busy([&] {
        for (int i = 0; i < 20; ++i) {
            ContextGuard guard(lock);
            if (i == 0) {
                busyHolds = true;
                while (!waiterAsks.load())
                    std::this_thread::sleep_for(1ms);
                std::this_thread::sleep_for(30ms);  // the waiter is in the queue now
            }
            round = i + 1;
        }
    });
    std::thread waiter([&] {
        while (!busyHolds.load())
            std::this_thread::sleep_for(1ms);
        waiterAsks = true;
        ContextGuard guard(lock);
        seen = round.load();
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(round.load(), 0) << "busy waits for its turn";
    lock.Unlock();
    EXPECT_FALSE(lock.HeldHere());
    busy.join();
    waiter.join();
    EXPECT_EQ(seen.load(), 1) << "the waiter's turn came before busy's second";
    // This thread once, the other lock once, busy's rounds, the waiter.
    EXPECT_EQ(entries.load(), 1 + 1 + 20 + 1);
    EXPECT_EQ(exits.load(), 1 + 1 + 20 + 1);
    SetGlobalLockEntryHook(nullptr);
    SetGlobalLockExitHook(nullptr);
}

// Events, the recursive locks and the waits over them; the lock of a
// simulator.
#pragma once

#include "hsim_events.hpp"

#include <atomic>
#include <mutex>
#include <pthread.h>

// The lock of one simulator: serialises its device traffic and its engine's
// state; recursive, so a function that holds it may call another that takes
// it again. Each simulator's context holds one (ContextLock()).
//
// Who gets it: the streaming thread (marked with MarkPriorityThread) asks for
// it directly, and, as the lock inherits priority, the thread that holds it
// runs at the streaming thread's priority until it lets go. Every other
// thread takes a turn first: turns are served first come, first served, so a
// thread that takes the lock again and again cannot keep another waiting.
// A thread that holds the lock already takes it again at once.
class TurnLock {
public:
    TurnLock();
    ~TurnLock();
    TurnLock(const TurnLock&) = delete;
    TurnLock& operator=(const TurnLock&) = delete;

    void Lock();
    void Unlock();
    // For std::lock_guard.
    void lock() { Lock(); }
    void unlock() { Unlock(); }
    // True while the calling thread holds it.
    bool HeldHere() const;

private:
    void TakeTurn();
    void PassTurn();

    pthread_mutex_t m_Mutex;  // recursive, inherits priority
    // The turns: a ticket per thread that asks for the lock, served in order.
    pthread_mutex_t m_TurnMutex;
    pthread_cond_t m_TurnServed;
    unsigned long long m_NextTicket = 0;  // guarded by m_TurnMutex
    unsigned long long m_Serving = 0;     // guarded by m_TurnMutex
    std::atomic<unsigned long> m_Owner{0};  // the holding thread, 0 when free
    int m_nHolds = 0;                     // guarded by m_Mutex
};

using ContextGuard = std::lock_guard<TurnLock>;

// Marks the calling thread as a streaming thread: it takes its simulator's
// lock without a turn.
void MarkPriorityThread();

// Called by a thread that has its turn, right before it takes a simulator's
// lock (not by the streaming thread, not when it holds the lock already).
// Set once, at load, by the layer that needs it.
void SetGlobalLockEntryHook(void (*hook)());
// Called by the thread that holds a simulator's lock right before it lets it
// go for the last time (any thread). Set once, at load.
void SetGlobalLockExitHook(void (*hook)());

// A plain (not recursive) mutex that inherits priority, for the short
// critical sections that the streaming thread shares with ordinary threads:
// an ordinary thread preempted while it holds one would otherwise hold up the
// streaming thread for as long as the scheduler leaves it waiting. Usable
// with std::lock_guard and std::condition_variable_any. It is never
// destroyed (an unlocked mutex holds nothing), so a process-wide one
// constructed early (HSIM_CONSTRUCT_EARLY) serves until the process ends,
// after the destructors of other objects have run.
class PiMutex {
public:
    PiMutex();
    PiMutex(const PiMutex&) = delete;
    PiMutex& operator=(const PiMutex&) = delete;
    void lock();
    void unlock();
    bool try_lock();

private:
    pthread_mutex_t m_Mutex;
};

extern "C" {
// 0 when the event was (or became) signalled, 110 on time-out.
HSIM_API int WaitForSingleObject(CEvent* event, unsigned int milliseconds);
// Index of the first signalled event in a polling pass, or 110.
HSIM_API int WaitForMultipleObjects(unsigned int count, CEvent** events, int waitAll,
                                    unsigned int milliseconds);
}

// Objects that other process-wide objects use until the process ends (the
// lock, the lifecycle events) are constructed before all others and so
// destroyed after them.
#define HSIM_CONSTRUCT_EARLY __attribute__((init_priority(1000)))

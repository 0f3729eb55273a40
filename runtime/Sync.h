// Events, the recursive lock and the waits over them; the library's one
// global lock.
#pragma once

#include "hsim_events.hpp"

#include <pthread.h>

// Serialises device traffic and the engine's state; recursive, so a function
// that holds it may call another that takes it again.
//
// Who gets it: the streaming thread (marked with MarkPriorityThread) asks for
// it directly, and, as the lock inherits priority, the thread that holds it
// runs at the streaming thread's priority until it lets go. Every other
// thread takes a turn first: turns are served first come, first served, so a
// thread that takes the lock again and again cannot keep another waiting.
// A thread that holds the lock already takes it again at once.
extern CSimpleCriticalSection g_CriticalSection;

// True while the calling thread holds g_CriticalSection.
bool GlobalLockHeldHere();

// Marks the calling thread as the streaming thread: it takes
// g_CriticalSection without a turn.
void MarkPriorityThread();

// Called by a thread that has its turn, right before it takes
// g_CriticalSection (not by the streaming thread, not when the lock is held
// already). Set once, at load, by the layer that needs it.
void SetGlobalLockEntryHook(void (*hook)());
// Called by the thread that holds g_CriticalSection right before it lets the
// lock go for the last time (any thread). Set once, at load.
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

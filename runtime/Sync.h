// Events, the recursive lock and the waits over them; the library's one
// global lock.
#pragma once

#include "hsim_events.hpp"

// Serialises device traffic and the engine's state; recursive, so a function
// that holds it may call another that takes it again.
extern CSimpleCriticalSection g_CriticalSection;

// True while the calling thread holds g_CriticalSection.
bool GlobalLockHeldHere();

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

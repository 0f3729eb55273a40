// Thin platform wrappers: descriptors, sleeps, threads, and periodic timers
// that post real-time signals.
#pragma once

#include "hsim_events.hpp"

#include <time.h>

extern "C" {
HSIM_API bool CloseHandle(long fd);
// Sleeps the full time, resuming after signals.
HSIM_API void SleepEx(unsigned int milliseconds);
HSIM_API bool CreateThread(unsigned long* threadId, void* (*start)(void*), void* arg);
HSIM_API void CloseThread(unsigned long threadId);
HSIM_API timer_t CreateNewTimer(unsigned int periodMs, unsigned int& signalNumber);
HSIM_API void DeleteTimer(unsigned int signalNumber, void*& timer);
// Signalled by the timers on SIGRTMIN and SIGRTMIN + 1.
HSIM_API extern CAutoResetEvent g_hSigTimer1Event;
HSIM_API extern CAutoResetEvent g_hSigTimer2Event;
}

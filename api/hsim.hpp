/*
 * hsim.hpp - the C++-only part of the libhsim interface.
 *
 * Includes hsim.h. Adds what a C compiler cannot see: the event and lock
 * classes of the runtime primitives, the two functions that take references,
 * the string helpers built on std::string and std::vector, block rendering
 * with arrays allocated by new[], and the two forms of LoadECGtxt.
 *
 * LoadECGtxt: one C symbol cannot carry two overloads. The multi-channel form
 * LoadECGtxt(path, channel) is the exported C symbol "LoadECGtxt"; the
 * single-channel form is the exported C symbol "LoadECGtxtSingleChannel",
 * and this header adds the C++ overload LoadECGtxt(path) that calls it.
 */
#ifndef HSIM_HPP
#define HSIM_HPP

#include "hsim.h"

#include <atomic>
#include <pthread.h>
#include <string>
#include <time.h>
#include <vector>

/* Event with Win32 semantics: waits are bounded in milliseconds on the
 * monotonic clock. WaitTimeout returns 0 when signalled, 110 on time-out.
 * Events do not own their copies: neither copy nor move them. since 1.0.5 */
class HSIM_API CEvent {
public:
    virtual void SetEvent() = 0;
    virtual void ResetEvent() = 0;
    virtual void Wait() = 0;
    virtual int WaitTimeout(unsigned int milliseconds) = 0;
};

/* A successful wait consumes the signal. since 1.0.5 */
class HSIM_API CAutoResetEvent : public CEvent {
public:
    explicit CAutoResetEvent(bool initialState);
    ~CAutoResetEvent();
    CAutoResetEvent(const CAutoResetEvent&) = delete;
    CAutoResetEvent& operator=(const CAutoResetEvent&) = delete;
    void SetEvent() override;
    void ResetEvent() override;
    void Wait() override;
    int WaitTimeout(unsigned int milliseconds) override;

    /* Used by the timer signal handlers: a plain store, no wake-up. */
    void SetFlagFromSignalHandler() { m_bSignalled.store(true, std::memory_order_relaxed); }

private:
    pthread_mutex_t m_Mutex;
    pthread_cond_t m_Cond;
    std::atomic<bool> m_bSignalled;
};

/* Stays signalled until ResetEvent. since 1.0.5 */
class HSIM_API CManualResetEvent : public CEvent {
public:
    explicit CManualResetEvent(bool initialState);
    ~CManualResetEvent();
    CManualResetEvent(const CManualResetEvent&) = delete;
    CManualResetEvent& operator=(const CManualResetEvent&) = delete;
    void SetEvent() override;
    void ResetEvent() override;
    void Wait() override;
    int WaitTimeout(unsigned int milliseconds) override;

private:
    pthread_mutex_t m_Mutex;
    pthread_cond_t m_Cond;
    bool m_bSignalled;
};

/* Recursive mutex: the owning thread may lock it again; each Lock needs its
 * Unlock. since 1.0.5 */
class HSIM_API CSimpleCriticalSection {
public:
    CSimpleCriticalSection();
    ~CSimpleCriticalSection();
    CSimpleCriticalSection(const CSimpleCriticalSection&) = delete;
    CSimpleCriticalSection& operator=(const CSimpleCriticalSection&) = delete;
    void Lock();
    void Unlock();

private:
    pthread_mutex_t m_Mutex;
};

/* Scoped guard. since 1.0.5 */
class HSIM_API CAutoCriticalSection {
public:
    explicit CAutoCriticalSection(CSimpleCriticalSection& section) : m_Section(section)
    {
        m_Section.Lock();
    }
    ~CAutoCriticalSection() { m_Section.Unlock(); }
    CAutoCriticalSection(const CAutoCriticalSection&) = delete;
    CAutoCriticalSection& operator=(const CAutoCriticalSection&) = delete;

private:
    CSimpleCriticalSection& m_Section;
};

extern "C" {

/* Signalled by the periodic timers on SIGRTMIN and SIGRTMIN + 1 that
 * CreateNewTimer arms. since 1.0.5 */
HSIM_API extern CAutoResetEvent g_hSigTimer1Event;
HSIM_API extern CAutoResetEvent g_hSigTimer2Event;

/* Periodic timer raising signalNumber every periodMs; null on failure.
 * since 1.0.5 */
HSIM_API timer_t CreateNewTimer(unsigned int periodMs, unsigned int& signalNumber);
HSIM_API void DeleteTimer(unsigned int signalNumber, void*& timer);

/* String helpers. since 1.0.5 */
HSIM_API void StringToken(const char* s, const char* delimiters, std::vector<std::string>& out);
HSIM_API std::string StringFormat(std::string format, ...);
HSIM_API int CheckVersion(std::string a, std::string b);

/* Renders one period for block output; *ac and *dc are allocated with new[]
 * and released by the caller with delete[]. since 1.0.5 */
HSIM_API bool GenWaveform(int* n, double** ac, double** dc);

/* ECG text files. since 1.0.5 */
HSIM_API int LoadECGtxt(char* path, int channel);
HSIM_API int LoadECGtxtSingleChannel(char* path);
}

/* Single-channel ECG text file: line 1 rate, line 2 count, one value a line. */
inline int LoadECGtxt(char* path)
{
    return LoadECGtxtSingleChannel(path);
}

#endif /* HSIM_HPP */

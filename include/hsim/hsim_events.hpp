/*
 * hsim_events.hpp - the event and lock classes of the libhsim runtime
 * primitives (C++ only). Included by hsim.hpp.
 */
#ifndef HSIM_EVENTS_HPP
#define HSIM_EVENTS_HPP

#include "hsim_types.h"

#include <atomic>
#include <pthread.h>

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
 * Unlock. It inherits priority: a real-time thread that waits for it lends
 * its priority to the thread that holds it. since 1.0.5 */
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

#endif /* HSIM_EVENTS_HPP */

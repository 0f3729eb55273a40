// The device context, protocol part: what the exchange path, the command
// window, the identity and the stream health keep about one simulator.
#pragma once

#include "hsim_types.h"
#include "protocol/Commands.h"
#include "protocol/StreamHealth.h"
#include "runtime/Sync.h"
#include "transport/PortContext.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace hsim {

// Held by the poll thread while it reads a report and by every exchange. An
// exchange that waits for it goes before the poll thread's next read: the
// poll thread reads again at once after a read that timed out, and a plain
// mutex, which favours the thread that takes it again at once, could keep
// the exchange out for as long as the device says nothing (the first
// transfer of a start, which the device waits for, would never go out).
class ReaderLock {
public:
    void LockForExchange()
    {
        std::unique_lock<PiMutex> guard(m_Mutex);
        ++m_ExchangesWaiting;
        m_Free.wait(guard, [this] { return !m_Held; });
        --m_ExchangesWaiting;
        m_Held = true;
    }
    void LockForReport()
    {
        std::unique_lock<PiMutex> guard(m_Mutex);
        m_Free.wait(guard, [this] { return !m_Held && m_ExchangesWaiting == 0; });
        m_Held = true;
    }
    void Unlock()
    {
        {
            std::lock_guard<PiMutex> guard(m_Mutex);
            m_Held = false;
        }
        m_Free.notify_all();
    }

private:
    PiMutex m_Mutex;
    std::condition_variable_any m_Free;
    bool m_Held = false;
    int m_ExchangesWaiting = 0;
};

struct LinkContext : PortContext {
    // The simulator's lock (ContextLock): its device traffic and its engine.
    TurnLock lock;
    // Output streams: the poll thread reads reports, and exchanges wait for
    // the command window. Written (SetStreaming) with the global lock held.
    std::atomic<bool> streaming{false};
    // Signalled from the arrival of a report until the poll thread has
    // answered it: the command window.
    CManualResetEvent processRequestEvent{false};
    ReaderLock reader;

    // From the opening of the window until the answer is sent, the poll
    // thread waits for the lock with a request in hand (see
    // LetPendingAnswerGoFirst).
    PiMutex answerMutex;  // guards the two below
    std::condition_variable_any answerSent;
    bool bAnswerPending = false;
    std::chrono::steady_clock::time_point windowOpened;

    // A data request that an exchange read in place of its answer, kept for
    // the poll thread to answer (the device asks once and waits).
    std::atomic<bool> bRequestHeld{false};
    // The opening of the port on which the host last switched the relays on;
    // 0 when it switched them off since.
    std::atomic<unsigned long> relaysOnOpening{0};
    // The poll thread's wait for a start.
    PiMutex streamMutex;
    std::condition_variable_any streamStarted;

    StreamCounters health;

    // Identity and hardware, as the device gave them. Guarded by the global
    // lock.
    MODEL_INFORMATION modelInfo = {};  // from the probe reply
    uint32_t moduleHWInfo[5] = {};     // hardware words from the information query
    unsigned char deviceHWInfo[64] = {};  // the last information block, as received

    // The respiration network as the host last set it. Guarded by the
    // global lock.
    RespirationHardware respiration;

protected:
    ~LinkContext() = default;
};

inline LinkContext& CurrentLink()
{
    return static_cast<LinkContext&>(CurrentPort());
}

}  // namespace hsim

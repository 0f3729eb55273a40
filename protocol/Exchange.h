// The one way every message reaches the device.
//
// An operation on the device goes through two steps, both here:
//  1. EnterCommandWindow: the device check (a closed port refuses at once),
//     then, while output streams, the wait for the command window. Entry
//     points run it once per call, with the simulator's lock held.
//  2. Exchange, once per message: one write of the message's exact length, the
//     pause the device needs to prepare its answer, one read of the answer's
//     exact length, and the acceptance check of the answer.
// Both report one set of results (Status); callers map them to their own
// result values, keeping caller errors (BadArgument) apart from device and
// I/O failures.
//
// The command window. While output streams, the device sends unsolicited
// reports, and the poll thread reads them without the global lock. A thread
// that wants to talk to the device takes the lock and waits for the window:
// the poll thread opens it when a report has arrived, before it asks for the
// lock itself, and closes it when it has answered. The waiting thread's
// exchange thus falls between a report and its answer, when the device says
// nothing. In addition every exchange holds the reader lock, so the poll
// thread never reads in the middle of an exchange (streaming starts and stops
// inside exchanges of the thread that holds the global lock).
#pragma once

#include "hsim_events.hpp"
#include "runtime/Sync.h"

#include <atomic>

namespace hsim {

enum class Status {
    Ok,
    NoDevice,     // no port open
    Busy,         // output streams and the command window did not open in time
    BadArgument,  // refused before anything was sent (a channel outside 0..3)
    WriteFailed,  // the message did not go out whole
    ReadFailed,   // the answer was short, late or missing
    Refused,      // the answer arrived but does not accept the message
};

// How long a thread that wants to talk to the device waits for the command
// window while output streams: a device that has not asked for data by then
// has stopped working.
constexpr unsigned int kCommandWindowMs = 3000;

// One host message and its answer.
struct Message {
    const unsigned char* bytes;
    int length;
    unsigned char* answer = nullptr;  // null: nothing is read
    int answerLength = 0;
    unsigned int pauseMs = 0;        // between the write and the read
    unsigned int settleMs = 0;       // after the read
    unsigned int readTimeoutMs = 0;  // 0: the port's read time-out
    int acceptByte = -1;             // when >= 0, answer[acceptByte] == 0xFF accepts
};

// The calling thread's simulator's lock.
TurnLock& ContextLock();

// Sends one message and reads its answer. Caller holds the simulator's lock.
Status Exchange(const Message& message);

// How the calling thread's last call to the device failed, kept for the
// caller (HSIMGetLastStatus). Cleared when an outermost command frame opens
// on the thread (see StartOfDeviceCall); the first failure inside the frame
// is kept, the one the call's result reports. Outside any frame a failure
// replaces the one before. The poll and connect threads keep records of
// their own.
struct FailureRecord {
    Status status = Status::Ok;  // Ok: nothing failed
    int osError = 0;             // errno of the failed write or read
    int expected = 0;            // the length of the write or read that failed
    int done = 0;                // the bytes of it that moved
    int messageLength = 0;       // the message whose exchange failed; 0: none
    unsigned char message[8] = {};  // its first bytes
};
FailureRecord LastFailure();
// Clears the record unless a command frame is open on this thread: a call
// nested in another adds to the outer call's record. Every command frame
// does this; so does any other entry point that answers for the device.
void StartOfDeviceCall();
// Records a failure that no exchange saw (no device, no window).
Status NoteFailure(Status status);
// Records that the device's answer to a message, examined by its caller,
// does not accept it (an echo that differs, a save never confirmed).
Status NoteRefusal(const unsigned char* message, int length);

// Device check, then the command window while output streams (waiting at
// most timeoutMs, and giving up as soon as the device is closed). Caller
// holds the simulator's lock.
Status EnterCommandWindow(unsigned int timeoutMs = kCommandWindowMs);

// The frame of every operation that talks to the device from outside the
// poll thread: takes the simulator's lock for its whole life (in turn with the
// other threads: first come, first served), then EnterCommandWindow. A frame
// that is not open sends nothing. The window wait counts from the frame's
// start, the wait for the turn included. Before a thread takes the lock it
// lets a pending answer go first unless the window is young (see
// LetPendingAnswerGoFirst), so that threads queueing for the lock cannot keep
// the device waiting for its data.
//
// A frame opened inside another frame on the same thread, or on the poll
// thread (by a callback it runs), does not wait for the window: the thread
// already holds the lock the poll thread needs, and its outer frame has
// entered the window or started the stream itself (a callback of the first
// transfer of a start runs before the device has anything to ask for).
class CommandFrame {
public:
    explicit CommandFrame(unsigned int timeoutMs = kCommandWindowMs);
    ~CommandFrame();
    CommandFrame(const CommandFrame&) = delete;
    CommandFrame& operator=(const CommandFrame&) = delete;

    bool open() const { return m_Status == Status::Ok; }
    Status status() const { return m_Status; }

private:
    TurnLock& m_Lock;
    Status m_Status;
};

// Runs an operation in a frame: the frame's status when it does not open,
// else the operation's.
template <class Operation>
Status InCommandFrame(Operation operation)
{
    CommandFrame frame;
    return frame.open() ? operation() : frame.status();
}

// What the poll thread's read found.
enum class ReportKind {
    NothingStreams,  // nothing to read: no stream, relays off
    TimedOut,        // nothing came within the time-out
    PortLost,        // the port is closed or the device hung up
    DataRequest,     // the device asks for the next transfer (timed from its arrival)
    Other,           // a report that asks for nothing
};

// The poll thread's side: reads one 64-byte report, without the global lock,
// while output streams or the device's relays are on (it may still ask for
// data after a stop until it is told). A data request that an exchange read
// in place of its answer is given first.
ReportKind ReadReport(unsigned int timeoutMs);
// Opens the window for the report just read; the poll thread then takes the
// lock and answers.
void OpenCommandWindow();
// Closes it once the answer is sent (the lock still held).
void CloseCommandWindow();
// Output streams: the poll thread reads reports, and exchanges wait for the
// command window. Set by the output layer with the global lock held; a start
// also forgets a data request kept from the run before and wakes the poll
// thread.
bool IsStreaming();
void SetStreaming(bool streaming);
// The poll thread's wait while nothing streams: until output starts, at most
// timeoutMs.
void WaitForStreaming(unsigned int timeoutMs);

// The relay byte the host last wrote into the control block on this opening
// of the port: true while it says output on. The device asks for data only
// then. Recorded by the control block write.
bool DeviceRelaysOn();
void NoteRelaysWritten(bool on);

}  // namespace hsim

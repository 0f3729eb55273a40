// The port descriptor and the transfers on it.
//
// Several threads use the port: the connect thread (search, keep-alive), the
// poll thread (streaming reports), application threads (commands) and the
// presence monitor, which closes the port when the device node vanishes. The
// monitor must not wait behind a command exchange, yet a descriptor number
// must never be closed while another thread may still read, write or poll
// it: the number could be reused at once by an unrelated open() and device
// bytes would go into a stranger's file.
//
// So each opening of the port is a record with its descriptor, a count of
// the transfers using it and a wake-up pipe of its own. Every transfer holds
// a PortUse for its whole duration. DeviceClose marks the opening closed at
// once (new transfers fail immediately) and writes one byte into its pipe,
// which every transfer on that opening polls beside the descriptor; the byte
// is never read, so no transfer can miss it. The descriptor and the pipe are
// closed by whoever leaves the opening last.
#include "transport/Port.h"

#include "runtime/MonotonicClock.h"
#include "runtime/Platform.h"
#include "runtime/Sync.h"
#include "transport/LockFile.h"
#include "transport/PortContext.h"

#include <aio.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace hsim {

namespace {

constexpr unsigned int kNoLimit = 0xFFFFFFFFu;
using Opening = PortSlot;

// Each thread's last transfer, for the failure cause its caller keeps.
struct ThreadTransfer {
    TransferOutcome last;
    bool lastReadLostPort = false;
};
thread_local ThreadTransfer t_Transfer;

void Release(Opening& o)
{
    close(o.fd);
    close(o.wake[0]);
    close(o.wake[1]);
    o = Opening{};
}

// Marks the open port closed and wakes its transfers. Caller holds the
// context's port mutex.
void CloseCurrentLocked(PortContext& c)
{
    Opening& o = c.openings[c.nCurrent];
    c.nCurrent = -1;
    c.hDevice.store(-1);
    o.closed = true;
    if (o.users == 0) {
        Release(o);
    } else {
        char one = 1;
        ssize_t ignored = write(o.wake[1], &one, 1);
        (void)ignored;
    }
}

// Keeps the current opening alive for the duration of a transfer.
class PortUse {
public:
    PortUse() : m_Context(CurrentPort())
    {
        std::lock_guard<PiMutex> guard(m_Context.portMutex);
        if (m_Context.nCurrent >= 0) {
            m_nSlot = m_Context.nCurrent;
            Opening& o = m_Context.openings[m_nSlot];
            ++o.users;
            m_nFd = o.fd;
            m_nWake = o.wake[0];
            m_nGeneration = o.generation;
        }
    }
    ~PortUse()
    {
        if (m_nSlot < 0)
            return;
        std::lock_guard<PiMutex> guard(m_Context.portMutex);
        Opening& o = m_Context.openings[m_nSlot];
        if (--o.users == 0 && o.closed)
            Release(o);
    }
    PortUse(const PortUse&) = delete;
    PortUse& operator=(const PortUse&) = delete;

    int fd() const { return m_nFd; }
    int wake() const { return m_nWake; }
    unsigned long generation() const { return m_nGeneration; }
    PortContext& context() const { return m_Context; }

private:
    PortContext& m_Context;
    unsigned long m_nGeneration = 0;
    int m_nSlot = -1;
    int m_nFd = -1;
    int m_nWake = -1;
};

enum class Wait { Ready, TimedOut, Closed };

// Waits until the descriptor is ready, the port is closed or the budget
// runs out. A wait that a signal interrupts is made again with what remains
// of the budget.
Wait WaitReady(const PortUse& use, short events, unsigned int budgetMs, const timespec& deadline)
{
    for (;;) {
        const int timeout = budgetMs == kNoLimit ? -1 : MillisecondsUntil(deadline);
        pollfd fds[2] = {{use.fd(), events, 0}, {use.wake(), POLLIN, 0}};
        int n = poll(fds, 2, timeout);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Wait::TimedOut;
        if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL))
            return Wait::Closed;
        return Wait::Ready;
    }
}

}  // namespace

}  // namespace hsim

using hsim::CurrentPort;
using hsim::PortContext;

bool DeviceIsConnected()
{
    return CurrentPort().hDevice.load() != -1;
}

long DeviceDescriptor()
{
    return CurrentPort().hDevice.load();
}

bool PortIsOpen()
{
    PortContext& c = CurrentPort();
    std::lock_guard<PiMutex> guard(c.portMutex);
    return c.nCurrent >= 0;
}

bool PortAdopt(int fd)
{
    PortContext& c = CurrentPort();
    std::lock_guard<PiMutex> guard(c.portMutex);
    if (c.nCurrent >= 0)
        hsim::CloseCurrentLocked(c);
    int slot = -1;
    for (int i = 0; i < PortContext::kOpenings && slot < 0; ++i)
        if (c.openings[i].generation == 0)
            slot = i;
    int wake[2] = {-1, -1};
    if (slot < 0 || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        close(fd);
        return false;
    }
    hsim::PortSlot& o = c.openings[slot];
    o.fd = fd;
    o.wake[0] = wake[0];
    o.wake[1] = wake[1];
    o.generation = ++c.nGeneration;
    c.nCurrent = slot;
    return true;
}

void DeviceClose()
{
    PortContext& c = CurrentPort();
    std::lock_guard<PiMutex> guard(c.portMutex);
    if (c.nCurrent < 0)
        return;
    UnlockDevice();
    memset(c.szDevicePath, 0, sizeof c.szDevicePath);
    c.nPort = -1;
    hsim::CloseCurrentLocked(c);
}

void PortSetPath(const char* path, int port)
{
    PortContext& c = CurrentPort();
    std::lock_guard<PiMutex> guard(c.portMutex);
    if (c.nCurrent >= 0) {
        snprintf(c.szDevicePath, sizeof c.szDevicePath, "%s", path);
        c.nPort = port;
        c.hDevice.store(c.openings[c.nCurrent].fd);
    }
}

int DevicePort()
{
    PortContext& c = CurrentPort();
    std::lock_guard<PiMutex> guard(c.portMutex);
    return c.hDevice.load() != -1 ? c.nPort : -1;
}

bool DeviceCheckPath(const char* path)
{
    PortContext& c = CurrentPort();
    std::lock_guard<PiMutex> guard(c.portMutex);
    return path && c.nCurrent >= 0 && c.szDevicePath[0] != '\0' && strcmp(c.szDevicePath, path) == 0;
}

int WriteData(const unsigned char* buffer, int len, int mode)
{
    (void)mode;  // the time-out is always the configured write time-out
    hsim::PortUse use;
    unsigned int budgetMs = use.context().writeTimeoutMs.load();
    const timespec deadline = AddMilliseconds(MonotonicNow(), budgetMs);
    int done = 0;
    int osError = 0;
    bool timedOut = false;
    bool finished = use.fd() < 0 || !buffer || len < 0;
    // The write is tried first; only a port that takes no more is waited on.
    bool wait = false;
    while (!finished && done < len) {
        if (wait && hsim::WaitReady(use, POLLOUT, budgetMs, deadline) != hsim::Wait::Ready) {
            timedOut = true;
            finished = true;
        } else {
            ssize_t n = write(use.fd(), buffer + done, size_t(len - done));
            if (n >= 0) {
                done += int(n);
                wait = true;
            } else if (errno == EAGAIN) {
                // A port that said it was ready and still takes nothing is
                // given a moment rather than asked again at once.
                if (wait)
                    SleepEx(1);
                wait = true;
            } else if (errno != EINTR) {
                osError = errno;
                finished = true;
            }
        }
    }
    hsim::t_Transfer.last = {len, done, osError};
    // A write that runs out of time reports nothing written.
    return timedOut ? 0 : done;
}

int ReadDataEx(unsigned char* buffer, int len, unsigned int timeoutMs)
{
    hsim::PortUse use;
    bool& lostPort = hsim::t_Transfer.lastReadLostPort;
    const timespec deadline = AddMilliseconds(MonotonicNow(), timeoutMs);
    int done = 0;
    int result = 0;
    int osError = 0;
    lostPort = use.fd() < 0;
    bool finished = use.fd() < 0 || !buffer || len < 0;
    while (!finished && done < len) {
        const hsim::Wait ready = hsim::WaitReady(use, POLLIN, timeoutMs, deadline);
        if (ready != hsim::Wait::Ready) {
            lostPort = ready == hsim::Wait::Closed;
            result = done > 0 ? done : -1;
            finished = true;
            break;
        }
        ssize_t n = read(use.fd(), buffer + done, size_t(len - done));
        if (n > 0) {
            done += int(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            // A signal, or readiness that went away again: wait once more
            // with what is left of the time.
        } else {
            // End of file or an error such as EIO: the device has hung up.
            // Report what arrived.
            if (n < 0)
                osError = errno;
            lostPort = true;
            use.context().hungUpOpening.store(use.generation());
            result = done;
            finished = true;
        }
    }
    if (!finished)
        result = done;
    hsim::t_Transfer.last = {len, done, osError};
    return result;
}

TransferOutcome LastTransfer()
{
    return hsim::t_Transfer.last;
}

bool LastReadLostPort()
{
    return hsim::t_Transfer.lastReadLostPort;
}

bool PortHangsUp()
{
    if (PortHungUp())
        return true;
    hsim::PortUse use;
    if (use.fd() < 0)
        return false;
    pollfd fd = {use.fd(), 0, 0};
    if (poll(&fd, 1, 0) == 1 && (fd.revents & (POLLHUP | POLLERR)) != 0) {
        use.context().hungUpOpening.store(use.generation());
        return true;
    }
    return false;
}

bool PortHungUp()
{
    const unsigned long opening = CurrentPort().hungUpOpening.load();
    return opening != 0 && opening == PortOpening();
}

unsigned long PortOpening()
{
    PortContext& c = CurrentPort();
    std::lock_guard<PiMutex> guard(c.portMutex);
    return c.nCurrent >= 0 ? c.openings[c.nCurrent].generation : 0;
}

int ReadData(unsigned char* buffer, int len)
{
    return ReadDataEx(buffer, len, CurrentPort().readTimeoutMs.load());
}

void DeviceCancelIO()
{
    hsim::PortUse use;
    if (use.fd() >= 0)
        aio_cancel(use.fd(), nullptr);
}

void SetDeviceTimeoutSetting(unsigned int readMs, unsigned int writeMs)
{
    PortContext& c = CurrentPort();
    c.readTimeoutMs.store(readMs);
    c.writeTimeoutMs.store(writeMs);
}

// The simulator is a CDC-ACM device: the line settings only matter to the
// kernel's tty layer, which must not translate or echo anything.
void SetRawLine(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return;
    tio.c_cflag &= ~tcflag_t(CLOCAL);
    tio.c_iflag |= IGNPAR;
    tio.c_iflag &= ~tcflag_t(ICRNL | IXON);
    tio.c_oflag &= ~tcflag_t(OPOST | ONLCR);
    tio.c_lflag = 0;
    tio.c_cc[VEOF] = 4;
    cfsetospeed(&tio, B115200);
    tcsetattr(fd, TCSANOW, &tio);  // a pseudo terminal may refuse parts; not checked
}

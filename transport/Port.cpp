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

std::atomic<long> g_hDevice{-1};
std::atomic<unsigned int> g_nDeviceReadTimeout{200};
std::atomic<unsigned int> g_nDeviceWriteTimeout{200};

namespace {

constexpr unsigned int kNoLimit = 0xFFFFFFFFu;
// The open port and closed ones whose transfers have not all ended yet.
// Closed openings are woken and end their transfers within one poll, so a
// handful of slots is plenty; a port that finds no free slot is refused.
constexpr int kOpenings = 8;

struct Opening {
    int fd = -1;
    int wake[2] = {-1, -1};
    unsigned long generation = 0;  // 0: the slot is free
    int users = 0;
    bool closed = false;
};

// Plain data only: the presence monitor may close the port until the very
// end of the process, after which no destructor may have run on them.
HSIM_CONSTRUCT_EARLY PiMutex s_Mutex;  // guards everything below
Opening s_Openings[kOpenings];
int s_nCurrent = -1;                   // slot of the open port, -1 when closed
unsigned long s_nGeneration = 0;       // numbers the openings
char g_szDevicePath[512] = "";         // path of the identified device

void Release(Opening& o)
{
    close(o.fd);
    close(o.wake[0]);
    close(o.wake[1]);
    o = Opening{};
}

// Marks the open port closed and wakes its transfers. Caller holds s_Mutex.
void CloseCurrentLocked()
{
    Opening& o = s_Openings[s_nCurrent];
    s_nCurrent = -1;
    g_hDevice.store(-1);
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
    PortUse()
    {
        std::lock_guard<PiMutex> guard(s_Mutex);
        if (s_nCurrent >= 0) {
            m_nSlot = s_nCurrent;
            Opening& o = s_Openings[m_nSlot];
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
        std::lock_guard<PiMutex> guard(s_Mutex);
        Opening& o = s_Openings[m_nSlot];
        if (--o.users == 0 && o.closed)
            Release(o);
    }
    PortUse(const PortUse&) = delete;
    PortUse& operator=(const PortUse&) = delete;

    int fd() const { return m_nFd; }
    int wake() const { return m_nWake; }
    unsigned long generation() const { return m_nGeneration; }

private:
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

bool DeviceIsConnected()
{
    return g_hDevice.load() != -1;
}

bool PortIsOpen()
{
    std::lock_guard<PiMutex> guard(s_Mutex);
    return s_nCurrent >= 0;
}

bool PortAdopt(int fd)
{
    std::lock_guard<PiMutex> guard(s_Mutex);
    if (s_nCurrent >= 0)
        CloseCurrentLocked();
    int slot = -1;
    for (int i = 0; i < kOpenings && slot < 0; ++i)
        if (s_Openings[i].generation == 0)
            slot = i;
    int wake[2] = {-1, -1};
    if (slot < 0 || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        close(fd);
        return false;
    }
    Opening& o = s_Openings[slot];
    o.fd = fd;
    o.wake[0] = wake[0];
    o.wake[1] = wake[1];
    o.generation = ++s_nGeneration;
    s_nCurrent = slot;
    return true;
}

void DeviceClose()
{
    std::lock_guard<PiMutex> guard(s_Mutex);
    if (s_nCurrent < 0)
        return;
    UnlockDevice();
    memset(g_szDevicePath, 0, sizeof g_szDevicePath);
    CloseCurrentLocked();
}

void PortSetPath(const char* path)
{
    std::lock_guard<PiMutex> guard(s_Mutex);
    if (s_nCurrent >= 0) {
        snprintf(g_szDevicePath, sizeof g_szDevicePath, "%s", path);
        g_hDevice.store(s_Openings[s_nCurrent].fd);
    }
}

bool DeviceCheckPath(const char* path)
{
    std::lock_guard<PiMutex> guard(s_Mutex);
    return path && s_nCurrent >= 0 && g_szDevicePath[0] != '\0' && strcmp(g_szDevicePath, path) == 0;
}

namespace {
thread_local TransferOutcome t_LastTransfer;
}  // namespace

int WriteData(const unsigned char* buffer, int len, int mode)
{
    (void)mode;  // the time-out is always the configured write time-out
    PortUse use;
    unsigned int budgetMs = g_nDeviceWriteTimeout.load();
    const timespec deadline = AddMilliseconds(MonotonicNow(), budgetMs);
    int done = 0;
    int osError = 0;
    bool timedOut = false;
    bool finished = use.fd() < 0 || !buffer || len < 0;
    // The write is tried first; only a port that takes no more is waited on.
    bool wait = false;
    while (!finished && done < len) {
        if (wait && WaitReady(use, POLLOUT, budgetMs, deadline) != Wait::Ready) {
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
    t_LastTransfer = {len, done, osError};
    // A write that runs out of time reports nothing written.
    return timedOut ? 0 : done;
}

namespace {
thread_local bool t_bLastReadLostPort = false;
// The opening on which the device was found to have hung up.
std::atomic<unsigned long> s_HungUpOpening{0};
}  // namespace

int ReadDataEx(unsigned char* buffer, int len, unsigned int timeoutMs)
{
    PortUse use;
    const timespec deadline = AddMilliseconds(MonotonicNow(), timeoutMs);
    int done = 0;
    int result = 0;
    int osError = 0;
    t_bLastReadLostPort = use.fd() < 0;
    bool finished = use.fd() < 0 || !buffer || len < 0;
    while (!finished && done < len) {
        const Wait ready = WaitReady(use, POLLIN, timeoutMs, deadline);
        if (ready != Wait::Ready) {
            t_bLastReadLostPort = ready == Wait::Closed;
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
            t_bLastReadLostPort = true;
            s_HungUpOpening.store(use.generation());
            result = done;
            finished = true;
        }
    }
    if (!finished)
        result = done;
    t_LastTransfer = {len, done, osError};
    return result;
}

TransferOutcome LastTransfer()
{
    return t_LastTransfer;
}

bool LastReadLostPort()
{
    return t_bLastReadLostPort;
}

bool PortHangsUp()
{
    if (PortHungUp())
        return true;
    PortUse use;
    if (use.fd() < 0)
        return false;
    pollfd fd = {use.fd(), 0, 0};
    if (poll(&fd, 1, 0) == 1 && (fd.revents & (POLLHUP | POLLERR)) != 0) {
        s_HungUpOpening.store(use.generation());
        return true;
    }
    return false;
}

bool PortHungUp()
{
    const unsigned long opening = s_HungUpOpening.load();
    return opening != 0 && opening == PortOpening();
}

unsigned long PortOpening()
{
    std::lock_guard<PiMutex> guard(s_Mutex);
    return s_nCurrent >= 0 ? s_Openings[s_nCurrent].generation : 0;
}

int ReadData(unsigned char* buffer, int len)
{
    return ReadDataEx(buffer, len, g_nDeviceReadTimeout.load());
}

void DeviceCancelIO()
{
    PortUse use;
    if (use.fd() >= 0)
        aio_cancel(use.fd(), nullptr);
}

void SetDeviceTimeoutSetting(unsigned int readMs, unsigned int writeMs)
{
    g_nDeviceReadTimeout.store(readMs);
    g_nDeviceWriteTimeout.store(writeMs);
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

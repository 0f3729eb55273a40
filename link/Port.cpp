// The port descriptor and the transfers on it.
//
// Several threads use the port: the connect thread (search, keep-alive), the
// poll thread (streaming reports), application threads (commands) and the
// presence monitor, which closes the port when the device node vanishes. The
// monitor must not wait behind a command exchange, yet a descriptor number
// must never be closed while another thread may still read, write or poll
// it: the number could be reused at once by an unrelated open() and device
// bytes would go into a stranger's file. So every transfer holds a PortUse
// for its whole duration; DeviceClose marks the port closed at once (new
// transfers fail immediately), wakes the transfers in progress through a
// pipe they also poll, and the descriptor is closed by whoever leaves it
// last.
#include "link/Port.h"

#include "hsim.h"
#include "link/LockFile.h"
#include "link/MonotonicClock.h"

#include <aio.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>
#include <vector>

std::atomic<long> g_hDevice{-1};
std::atomic<unsigned int> g_nDeviceReadTimeout{200};
std::atomic<unsigned int> g_nDeviceWriteTimeout{200};

namespace {

constexpr unsigned int kNoLimit = 0xFFFFFFFFu;

struct Retired {
    int fd;
    unsigned long generation;
    int users;
};

std::mutex s_Mutex;                   // guards everything below
int s_nFd = -1;                       // the open port, -1 when closed
unsigned long s_nGeneration = 0;      // identifies each opening of the port
int s_nUsers = 0;                     // transfers in progress on s_nFd
std::vector<Retired> s_Retired;       // closed ports with transfers still in progress
char g_szDevicePath[512] = "";        // path of the identified device
std::atomic<unsigned long> s_nOpenGeneration{0};  // generation of the open port, 0 = closed
int s_WakePipe[2] = {-1, -1};

void CreateWakePipe()
{
    if (s_WakePipe[0] < 0 && pipe2(s_WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        s_WakePipe[0] = s_WakePipe[1] = -1;
}

void DrainWakePipe()
{
    char sink[64];
    if (s_WakePipe[0] >= 0)
        while (read(s_WakePipe[0], sink, sizeof sink) > 0) {
        }
}

// Keeps the current port's descriptor alive for the duration of a transfer.
class PortUse {
public:
    PortUse()
    {
        std::lock_guard<std::mutex> guard(s_Mutex);
        if (s_nFd >= 0) {
            m_nFd = s_nFd;
            m_nGeneration = s_nGeneration;
            ++s_nUsers;
        }
    }
    ~PortUse()
    {
        if (m_nFd < 0)
            return;
        std::lock_guard<std::mutex> guard(s_Mutex);
        if (s_nFd == m_nFd && s_nGeneration == m_nGeneration) {
            --s_nUsers;
            return;
        }
        for (auto it = s_Retired.begin(); it != s_Retired.end(); ++it) {
            if (it->generation == m_nGeneration) {
                if (--it->users == 0) {
                    close(it->fd);
                    s_Retired.erase(it);
                }
                break;
            }
        }
    }
    PortUse(const PortUse&) = delete;
    PortUse& operator=(const PortUse&) = delete;

    int fd() const { return m_nFd; }
    bool stillOpen() const { return s_nOpenGeneration.load() == m_nGeneration; }

private:
    int m_nFd = -1;
    unsigned long m_nGeneration = 0;
};

enum class Wait { Ready, TimedOut, Closed };

// Waits until the descriptor is ready or the budget runs out. A wait that a
// signal interrupts is made again with what remains of the budget.
Wait WaitReady(const PortUse& use, short events, unsigned int budgetMs, const timespec& deadline)
{
    for (;;) {
        const int timeout = budgetMs == kNoLimit ? -1 : MillisecondsUntil(deadline);
        pollfd fds[2] = {{use.fd(), events, 0}, {s_WakePipe[0], POLLIN, 0}};
        int n = poll(fds, s_WakePipe[0] >= 0 ? 2 : 1, timeout);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Wait::TimedOut;
        if (!use.stillOpen())
            return Wait::Closed;
        if (fds[1].revents & POLLIN) {
            // A close of an earlier port left its wake-up behind.
            DrainWakePipe();
            if (!(fds[0].revents))
                continue;
        }
        if (fds[0].revents & POLLNVAL)
            return Wait::Closed;
        return Wait::Ready;
    }
}

}  // namespace

bool DeviceIsConnected()
{
    return g_hDevice.load() != -1;
}

void PortAdopt(int fd)
{
    std::lock_guard<std::mutex> guard(s_Mutex);
    CreateWakePipe();
    DrainWakePipe();
    if (s_nFd >= 0)
        close(s_nFd);  // not reached: the port is closed before a new one opens
    s_nFd = fd;
    s_nGeneration += 1;
    s_nUsers = 0;
    s_nOpenGeneration.store(s_nGeneration);
}

void DeviceClose()
{
    std::lock_guard<std::mutex> guard(s_Mutex);
    if (s_nFd < 0)
        return;
    UnlockDevice();
    memset(g_szDevicePath, 0, sizeof g_szDevicePath);
    s_nOpenGeneration.store(0);
    g_hDevice.store(-1);
    if (s_nUsers == 0)
        close(s_nFd);
    else
        s_Retired.push_back({s_nFd, s_nGeneration, s_nUsers});
    s_nFd = -1;
    s_nUsers = 0;
    if (s_WakePipe[1] >= 0) {
        char one = 1;
        ssize_t ignored = write(s_WakePipe[1], &one, 1);
        (void)ignored;
    }
}

void PortSetPath(const char* path)
{
    std::lock_guard<std::mutex> guard(s_Mutex);
    if (s_nFd >= 0) {
        snprintf(g_szDevicePath, sizeof g_szDevicePath, "%s", path);
        g_hDevice.store(s_nFd);
    }
}

bool DeviceCheckPath(const char* path)
{
    std::lock_guard<std::mutex> guard(s_Mutex);
    return path && s_nFd >= 0 && g_szDevicePath[0] != '\0' && strcmp(g_szDevicePath, path) == 0;
}

int WriteData(const unsigned char* buffer, int len, int mode)
{
    (void)mode;  // the time-out is always the configured write time-out
    PortUse use;
    unsigned int budgetMs = g_nDeviceWriteTimeout.load();
    const timespec deadline = AddMilliseconds(MonotonicNow(), budgetMs);
    int done = 0;
    bool finished = use.fd() < 0 || !buffer || len < 0;
    while (!finished && done < len) {
        if (WaitReady(use, POLLOUT, budgetMs, deadline) != Wait::Ready) {
            done = 0;  // a write that runs out of time reports nothing written
            finished = true;
        } else {
            ssize_t n = write(use.fd(), buffer + done, size_t(len - done));
            if (n >= 0)
                done += int(n);
            else if (errno == EAGAIN || errno == EINTR)
                SleepEx(10);
            else
                finished = true;
        }
    }
    return done;
}

int ReadDataEx(unsigned char* buffer, int len, unsigned int timeoutMs)
{
    PortUse use;
    const timespec deadline = AddMilliseconds(MonotonicNow(), timeoutMs);
    int done = 0;
    int result = 0;
    bool finished = use.fd() < 0 || !buffer || len < 0;
    while (!finished && done < len) {
        Wait w = WaitReady(use, POLLIN, timeoutMs, deadline);
        if (w != Wait::Ready) {
            result = done > 0 ? done : -1;
            finished = true;
            break;
        }
        ssize_t n = read(use.fd(), buffer + done, size_t(len - done));
        if (n > 0) {
            done += int(n);
        } else if (n == 0) {
            // End of file: the device has gone. Report what arrived.
            result = done;
            finished = true;
        } else if (errno == EAGAIN || errno == EINTR) {
            SleepEx(10);
        } else {
            result = done;
            finished = true;
        }
    }
    if (!finished)
        result = done;
    return result;
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

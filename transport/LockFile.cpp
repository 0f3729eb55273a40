// Lock files: "<lock directory>/norvale.ACM<n>.lock", mode 0600, holding the
// owner's process id as a native 32-bit integer. A lock whose owner no longer
// runs is stale and taken over; one that cannot be read, or whose owner runs
// under another user, is left alone.
#include "transport/LockFile.h"

#include "transport/DeviceLocation.h"
#include "transport/PortContext.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using hsim::PortContext;

enum class Attempt { Taken, Refused, Retry };

Attempt TryLock(PortContext& c, const char* path)
{
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        int32_t pid = int32_t(getpid());
        if (write(fd, &pid, sizeof pid) == ssize_t(sizeof pid)) {
            c.nLockFile = fd;
            return Attempt::Taken;
        }
        close(fd);
        unlink(path);
        return Attempt::Refused;
    }
    if (errno != EEXIST)
        return Attempt::Refused;

    fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return Attempt::Refused;
    int32_t owner = 0;
    ssize_t n = read(fd, &owner, sizeof owner);
    close(fd);
    if (n < ssize_t(sizeof owner))
        return Attempt::Retry;  // unreadable: left in place
    // The owner lives, whether or not we may signal it (a process of another
    // user answers EPERM): the port is busy.
    if (kill(pid_t(owner), 0) == 0 || errno == EPERM)
        return Attempt::Refused;
    unlink(path);                 // stale
    return Attempt::Retry;
}

}  // namespace

bool LockDeviceFile(int port)
{
    PortContext& c = hsim::CurrentPort();
    std::lock_guard<PiMutex> guard(c.lockFileMutex);
    char directory[kLockPathSize];
    struct stat st;
    bool taken = false;
    if (CopyLockDirectory(directory, sizeof directory) && stat(directory, &st) != 0)
        mkdir(directory, 0755);
    if (c.nLockFile < 0 && FormatLockPath(port, c.szLockFilePath, sizeof c.szLockFilePath)) {
        for (int attempt = 0; attempt < 2 && !taken; ++attempt) {
            Attempt a = TryLock(c, c.szLockFilePath);
            taken = a == Attempt::Taken;
            if (a == Attempt::Refused)
                break;
        }
    }
    return taken;
}

void UnlockDeviceFile()
{
    PortContext& c = hsim::CurrentPort();
    std::lock_guard<PiMutex> guard(c.lockFileMutex);
    if (c.nLockFile != -1) {
        close(c.nLockFile);
        c.nLockFile = -1;
        unlink(c.szLockFilePath);
        memset(c.szLockFilePath, 0, sizeof c.szLockFilePath);
    }
}

void UnlockDevice()
{
    UnlockDeviceFile();
}

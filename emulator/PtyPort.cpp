#include "PtyPort.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace hsimemu {

namespace {

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

PtyPort::~PtyPort() { close(); }

bool PtyPort::open(const std::string& nodePath) {
    close();
    error_.clear();
    bool ok = false;
    char name[PATH_MAX];
    termios tio{};
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        error_ = errnoText("posix_openpt");
    } else if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error_ = errnoText("grantpt/unlockpt");
    } else if (ptsname_r(master_, name, sizeof name) != 0) {
        error_ = errnoText("ptsname_r");
    } else {
        slavePath_ = name;
        // The device keeps its own slave descriptor for its whole plugged
        // life: without it the master would see a hang-up each time the host
        // closes its side.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slave_ < 0) {
            error_ = errnoText("open slave");
        } else if (tcgetattr(slave_, &tio) != 0) {
            error_ = errnoText("tcgetattr");
        } else {
            cfmakeraw(&tio);
            cfsetispeed(&tio, B115200);
            cfsetospeed(&tio, B115200);
            if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
                error_ = errnoText("tcsetattr");
            } else if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) {
                error_ = errnoText("fcntl");
            } else {
                // The watch is set up after the device's own open, so every
                // notification belongs to a host.
                watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
                if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
                    closeFd(watch_);
                }
                ok = publish(nodePath);
            }
        }
    }
    if (!ok) close();
    return ok;
}

bool PtyPort::publish(const std::string& nodePath) {
    // Create the link under a temporary name and rename it over the node, so
    // a stale node is replaced in one step.
    static std::atomic<unsigned> counter{0};
    // The temporary name starts with a dot so that a listing of ttyACM*
    // never shows it.
    size_t slash = nodePath.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : nodePath.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? nodePath : nodePath.substr(slash + 1);
    std::string tmp = dir + "." + base + ".tmp" + std::to_string(getpid()) + "." +
                      std::to_string(counter.fetch_add(1));
    bool ok = false;
    if (symlink(slavePath_.c_str(), tmp.c_str()) != 0) {
        error_ = errnoText(("symlink " + tmp).c_str());
    } else if (rename(tmp.c_str(), nodePath.c_str()) != 0) {
        error_ = errnoText(("rename to " + nodePath).c_str());
        unlink(tmp.c_str());
    } else {
        nodePath_ = nodePath;
        ok = true;
    }
    return ok;
}

void PtyPort::close() {
    if (!nodePath_.empty()) {
        char target[PATH_MAX];
        ssize_t n = readlink(nodePath_.c_str(), target, sizeof target - 1);
        if (n >= 0) {
            target[n] = '\0';
            if (slavePath_ == target) unlink(nodePath_.c_str());
        }
        nodePath_.clear();
    }
    closeFd(watch_);
    closeFd(master_);
    closeFd(slave_);
    slavePath_.clear();
}

void PtyPort::drainWatch(std::vector<int>& events, bool& overflow) {
    events.clear();
    overflow = false;
    if (watch_ < 0) return;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = read(watch_, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            if (ev->mask & IN_Q_OVERFLOW) overflow = true;
            if (ev->mask & IN_OPEN) events.push_back(+1);
            if (ev->mask & IN_CLOSE) events.push_back(-1);
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

void PtyPort::discardUnread() {
    if (slave_ >= 0) tcflush(slave_, TCIFLUSH);
}

}  // namespace hsimemu

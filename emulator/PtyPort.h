// The emulated device's port: a pseudo terminal whose slave side is published
// as <directory>/ttyACM<port>, plus a watch that tells when a host opens and
// closes the slave.
#pragma once

#include <string>
#include <vector>

namespace hsimemu {

class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Opens the master, puts the slave in raw mode, keeps one slave
    // descriptor and publishes the node. False (with nothing left open) on
    // failure; error() tells why.
    bool open(const std::string& nodePath);
    // Removes the node (if it still points at this slave) and closes all.
    void close();

    bool isOpen() const { return master_ >= 0; }
    int master() const { return master_; }
    // Descriptor that is readable when a host opened or closed the slave, or
    // -1 when the system offers no such watch.
    int watch() const { return watch_; }
    // Reads the pending notifications in order: +1 for each open of the
    // slave by a host, -1 for each close. Sets overflow when some were lost.
    void drainWatch(std::vector<int>& events, bool& overflow);
    // Discards what the device sent and no host has read yet.
    void discardUnread();
    const std::string& slavePath() const { return slavePath_; }
    const std::string& error() const { return error_; }

private:
    bool publish(const std::string& nodePath);

    int master_ = -1;
    int slave_ = -1;
    int watch_ = -1;
    std::string slavePath_;
    std::string nodePath_;
    std::string error_;
};

}  // namespace hsimemu

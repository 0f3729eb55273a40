// The front panel: one page and a JSON interface over HTTP, on simulators
// that are open already. What it shows is read back from the library.
//
// Security: it drives an instrument wired to a device under test. It
// listens on a loopback address unless told otherwise; every request that
// changes something carries the access token (header X-Hsim-Token) and, when
// a browser sends one, the server's own Origin, so that another page in the
// same browser cannot drive the simulator. On loopback the Host must be a
// loopback name (no DNS rebinding). With `requireToken` (any other address)
// every request, the page's too, carries the token (header or ?token=).
#pragma once

#include "Commands.h"

#include <memory>
#include <string>
#include <vector>

namespace hsimctl {

struct PanelOptions {
    std::string host = "127.0.0.1";
    int port = 8080;                  // 0: a free port
    bool requireToken = false;        // every request carries the token
    std::string token;                // empty: a random one
    bool emulated = false;            // the simulators are the built-in emulator's
    size_t maxJsonBytes = 64 * 1024;  // a JSON request's body
    size_t maxUploadBytes = 64 * 1024 * 1024;  // an upload's body
    int maxStreams = 8;               // live event streams at once
    double traceRate = 1000;          // trace points per second per simulator
    double traceUpdatesPerSecond = 25;
};

// Whether a host name or address is a loopback one ("127.0.0.1", "::1",
// "localhost").
bool IsLoopback(const std::string& host);
// "HOST:PORT" or "[V6]:PORT"; false with a message.
bool ParseListen(const std::string& text, std::string& host, int& port, std::string& why);

class Panel {
public:
    Panel(std::vector<OpenSimulator> simulators, PanelOptions options);
    ~Panel();  // stops; a scenario still running is cancelled
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Binds and serves on a thread of its own; false with a message.
    bool Start(std::string& why);
    // Ends the event streams and the server, cancels a running scenario and
    // waits for it. The simulators are left as they are.
    void Stop();
    int port() const;
    const std::string& token() const;
    // The page's address ("http://127.0.0.1:8080/", with ?token= when
    // every request needs it).
    std::string url() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

}  // namespace hsimctl

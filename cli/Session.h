// A connection to the simulator for the length of one command: the built-in
// emulator when asked for, the interrupt signals, and the guarantee that the
// device is left with its output off (0 mV) and the port released however the
// command ends (done, failed, Ctrl-C or SIGTERM).
#pragma once

#include "hsim_ext.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hsimemu {
class Emulator;
}

namespace hsimctl {

// Exit codes of hsimctl.
enum ExitCode {
    kExitOk = 0,
    kExitFailed = 1,       // the device or the library refused, an I/O failure
    kExitUsage = 2,        // a bad command line or input file
    kExitNoDevice = 3,     // no simulator found within the time-out
    kExitStepFailed = 4,   // a scenario step failed
    kExitInterrupted = 130 // Ctrl-C or SIGTERM before the work was done
};

struct ConnectOptions {
    bool emulator = false;      // start the built-in emulator and use it
    int port = -1;              // -1: scan ports 0..127
    std::string serial;         // non-empty: the simulator with this serial number
    std::string deviceFormat;   // e.g. "/tmp/dir/ttyACM%d" (empty: the library's default)
    std::string lockDirectory;  // empty: the library's default
    double timeoutSeconds = 5.0;
    int romConfirmPolls = 1;    // the built-in emulator's ROM confirms at this status query
    // The built-in emulator's devices: K of them on the ports 0..K-1, device
    // i with the serial number EmulatedSerialNumber(i), as `hsim-emu --count
    // K` publishes them. The run's device is the one on port 0 (unless
    // `serial` names another).
    int emulatedDevices = 1;
};

// The most devices the built-in emulator publishes.
inline constexpr int kMaxEmulatedDevices = 16;
// The serial number (as HSIMGetSerialNumber reads it) of the built-in
// emulator's device on port i: "HSE01AB-070123" on port 0, "HSE01AB-070124"
// on port 1, and so on.
std::string EmulatedSerialNumber(int index);

// Ctrl-C and SIGTERM set a flag instead of ending the process; the commands
// look at it and end in order.
void InstallInterruptHandlers();
bool Interrupted();
// A flag that interrupts the calling thread's work as Ctrl-C does, while it
// is set (null: none). The flag must outlive its use.
void SetThreadCancel(const std::atomic<bool>* flag);

// Waits for seconds (forever when negative) or until interrupted, calling
// tick with the elapsed seconds about four times a second. false when
// interrupted or when tick returns false.
bool WaitFor(double seconds, const std::function<bool(double)>& tick = nullptr);

// Whether progress and status lines go to the terminal.
bool ShowProgress();
// Writes a status line over the previous one (terminal only), cut to the
// terminal's width so that it never wraps into a new line.
void Status(const std::string& line);
// The line cut to fit `columns` columns with the last one left free.
std::string FitToWidth(const std::string& line, size_t columns);
void EndStatus();

class Session {
public:
    // Connects; null with a message (and code) when no simulator answers.
    static std::unique_ptr<Session> Open(const ConnectOptions& options, std::string& why, int& code);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The built-in emulator's device that the session drives (null without
    // the emulator), and its device on a port (null for none).
    hsimemu::Emulator* emulator() const { return m_Emulator; }
    hsimemu::Emulator* emulatorOnPort(int port) const;
    // The simulator the session drives, the calling thread's (HSIMUse) from
    // Open on; another thread that works on it must use it too.
    HSIM_SIMULATOR* simulator() const { return m_Simulator; }
    // Output off, so the device plays 0 mV (also done when the session ends).
    void StopOutput();
    // The device goes on with what it plays after the session (block output).
    void KeepOutput() { m_KeepOutput = true; }

private:
    Session() = default;
    std::vector<std::unique_ptr<hsimemu::Emulator>> m_Emulators;  // device i on port i
    hsimemu::Emulator* m_Emulator = nullptr;  // of them, the session's device
    std::string m_Directory;  // the emulator's private directory
    // The simulator opened on the port or found by its serial number, which
    // this program's thread drives.
    HSIM_SIMULATOR* m_Simulator = nullptr;
    bool m_KeepOutput = false;
};

}  // namespace hsimctl

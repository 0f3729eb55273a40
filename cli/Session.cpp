#include "Session.h"

#include "Emulator.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace hsimctl {
namespace {

std::atomic<int> s_Signal{0};

extern "C" void OnSignal(int signal) { s_Signal.store(signal); }

}  // namespace

void InstallInterruptHandlers()
{
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe (hsimctl ... | head) ends a write with an error, not the process.
    std::signal(SIGPIPE, SIG_IGN);
}

namespace {
thread_local const std::atomic<bool>* t_Cancel = nullptr;
}

void SetThreadCancel(const std::atomic<bool>* flag) { t_Cancel = flag; }

bool Interrupted() { return s_Signal.load() != 0 || (t_Cancel != nullptr && t_Cancel->load()); }

bool WaitFor(double seconds, const std::function<bool(double)>& tick)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nextTick = start;
    for (;;) {
        if (Interrupted())
            return false;
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (seconds >= 0 && elapsed >= seconds)
            return true;
        if (tick && now >= nextTick) {
            if (!tick(elapsed))
                return false;
            nextTick = now + std::chrono::milliseconds(250);
        }
        double left = seconds >= 0 ? seconds - elapsed : 0.02;
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, 0.02)));
    }
}

bool ShowProgress()
{
    static const bool terminal = isatty(STDERR_FILENO) == 1;
    return terminal;
}

std::string FitToWidth(const std::string& line, size_t columns)
{
    // One column per character: count the bytes that start a UTF-8 sequence,
    // and keep the last column free so the cursor never wraps.
    const size_t fits = columns > 1 ? columns - 1 : 1;
    size_t characters = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 && ++characters > fits)
            return line.substr(0, i);
    }
    return line;
}

namespace {

size_t TerminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS"); columns && std::atoi(columns) > 0)
        return size_t(std::atoi(columns));
    return 80;
}

}  // namespace

void Status(const std::string& line)
{
    // Asked each time: the window may have been resized.
    if (ShowProgress())
        std::fprintf(stderr, "\r\033[K%s", FitToWidth(line, TerminalColumns()).c_str());
}

void EndStatus()
{
    if (ShowProgress())
        std::fprintf(stderr, "\r\033[K");
}

std::string EmulatedSerialNumber(int index)
{
    // The library's form: "H", the model characters ("SE" in the identity
    // the emulator sends), the code bytes in hexadecimal, "-", the second
    // number and the first, which counts up from device to device.
    const hsimemu::Identity identity;
    char text[32];
    std::snprintf(text, sizeof text, "HSE%02X%02X-%02d%04d", identity.code1, identity.code2, identity.number2,
                  identity.number1 + index);
    return text;
}

std::unique_ptr<Session> Session::Open(const ConnectOptions& options, std::string& why, int& code)
{
    std::unique_ptr<Session> session(new Session);
    std::string format = options.deviceFormat, locks = options.lockDirectory;
    int port = options.port;
    if (options.emulator) {
        char pattern[] = "/tmp/hsimctl-XXXXXX";
        if (!mkdtemp(pattern)) {
            why = "cannot make a directory for the emulator";
            code = kExitFailed;
            return nullptr;
        }
        session->m_Directory = pattern;
        const int count = std::clamp(options.emulatedDevices, 1, kMaxEmulatedDevices);
        for (int i = 0; i < count; ++i) {
            hsimemu::Options emulated;
            emulated.directory = session->m_Directory;
            emulated.port = i;
            emulated.identity.number1 = uint16_t(emulated.identity.number1 + i);
            emulated.romConfirmPolls = options.romConfirmPolls;
            // Hardware is not slowed by the host's load: the built-in emulator's
            // player runs with real-time scheduling where the process may have
            // it, so the stream figures tell of the library, not of the emulator.
            emulated.realtime = true;
            session->m_Emulators.push_back(std::make_unique<hsimemu::Emulator>(emulated));
            if (!session->m_Emulators.back()->start()) {
                why = "the emulator did not start: " + session->m_Emulators.back()->lastError();
                code = kExitFailed;
                return nullptr;
            }
        }
        format = session->m_Directory + "/ttyACM%d";
        locks = session->m_Directory + "/lock";
        port = 0;
    }
    if (!format.empty() || !locks.empty()) {
        if (HSIMSetDeviceLocation(format.empty() ? nullptr : format.c_str(),
                                  locks.empty() ? nullptr : locks.c_str()) != 0) {
            why = "the device location was refused";
            code = kExitUsage;
            return nullptr;
        }
    }
    const double timeout = std::max(0.0, std::min(options.timeoutSeconds, 3600.0));
    if (!options.serial.empty()) {
        session->m_Simulator = HSIMOpenSerial(options.serial.c_str(), unsigned(timeout * 1000));
        if (session->m_Simulator == nullptr) {
            why = "no simulator with serial number " + options.serial + " found within " +
                  std::to_string(int(timeout * 1000)) + " ms";
            code = kExitNoDevice;
            return nullptr;
        }
    } else {
        session->m_Simulator = HSIMOpen(port, unsigned(timeout * 1000));
        if (session->m_Simulator == nullptr) {
            why = port < 0 ? "no simulator found on ports 0..127" : "no simulator found on port " + std::to_string(port);
            why += " within " + std::to_string(int(timeout * 1000)) + " ms" +
                   (options.emulator ? "" : " (plugged in, and your user in the group of /dev/ttyACM*? "
                                            "To try without one: --emulator)");
            code = kExitNoDevice;
            return nullptr;
        }
    }
    HSIMUse(session->m_Simulator);
    session->m_Emulator = session->emulatorOnPort(HSIMSimGetPort(session->m_Simulator));
    HSIMResetStreamHealth();
    return session;
}

void Session::StopOutput()
{
    if (HSIMGetOutputFunction() != 0 || HSIMIsPlaying())
        HSIMSetOutputFunction(0);
}

hsimemu::Emulator* Session::emulatorOnPort(int port) const
{
    return port >= 0 && size_t(port) < m_Emulators.size() ? m_Emulators[size_t(port)].get() : nullptr;
}

Session::~Session()
{
    if (m_Simulator != nullptr) {
        HSIMUse(m_Simulator);
        if (!m_KeepOutput)
            StopOutput();
        HSIMUse(nullptr);
        HSIMClose(m_Simulator);
    }
    for (auto& emulator : m_Emulators)
        emulator->stop();
    if (!m_Directory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_Directory, ignored);
    }
}

}  // namespace hsimctl

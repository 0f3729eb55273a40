// hsim-emu: runs the device emulator as a program. Prints the node path on
// stdout, then takes commands on stdin until quit, end of input, SIGINT or
// SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "Emulator.h"

namespace {

int s_signalPipe[2] = {-1, -1};

void onSignal(int) {
    int saved = errno;
    char c = 1;
    ssize_t n = write(s_signalPipe[1], &c, 1);
    (void)n;
    errno = saved;
}

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: hsim-emu --dir DIR [--port N] [--count K] [--fast] [--realtime] [--late-ms MS]\n"
                 "                [--threshold N] [--rom-polls N] [--code1 HEX] [--code2 HEX] [--number1 N]\n"
                 "                [--number2 N]\n"
                 "Emulates the simulator device on a pseudo terminal published as DIR/ttyACM<N>\n"
                 "(port 0..127, default 0). --count K publishes K devices (1..16) on the ports\n"
                 "N..N+K-1, device i with --number1 plus i, so each has its own serial number.\n"
                 "--fast asks for streaming data as fast as the host\n"
                 "sends it instead of playing at the sample rate; otherwise --threshold asks\n"
                 "for the next transfer when fewer than N samples are queued (default 700).\n"
                 "--rom-polls N: the ROM status query that confirms a save (default 3).\n"
                 "--realtime plays with real-time scheduling where the process may have it,\n"
                 "as hardware is not slowed by the host's load (for measurements under load).\n"
                 "Commands on stdin, one per line, to the first device or, prefixed \"I:\", to\n"
                 "device I (0..K-1):\n"
                 "  unplug | replug | mute on|off | fault NAME on|off | status | quit | help\n"
                 "  played FILE | played clear\n"
                 "  fault names: mute wrong-magic short-answers late-answers no-stream-reports\n"
                 "               corrupt-chunk-echo rom-never-confirmed\n"
                 "played FILE writes the played samples kept (at most the last 10 s), oldest\n"
                 "first, as 4-byte records: DC word (uint16), AC word (int16), little-endian;\n"
                 "then prints \"played N FILE\". played clear forgets them.\n");
}

// Parses an unsigned number in the given base within [0, max].
bool parseNumber(const char* text, int base, unsigned long max, unsigned long& value) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, base);
    bool ok = errno == 0 && *end == '\0' && text[0] != '-' && v <= max;
    if (ok) value = v;
    return ok;
}

struct FaultName {
    const char* name;
    hsimemu::Fault fault;
};

const FaultName kFaults[] = {
    {"mute", hsimemu::Fault::Mute},
    {"wrong-magic", hsimemu::Fault::WrongMagic},
    {"short-answers", hsimemu::Fault::ShortAnswers},
    {"late-answers", hsimemu::Fault::LateAnswers},
    {"no-stream-reports", hsimemu::Fault::NoStreamReports},
    {"corrupt-chunk-echo", hsimemu::Fault::CorruptChunkEcho},
    {"rom-never-confirmed", hsimemu::Fault::RomNeverConfirmed},
};

bool parseSwitch(const std::string& word, bool& on) {
    bool ok = word == "on" || word == "off";
    if (ok) on = word == "on";
    return ok;
}

void printHex(const char* label, const uint8_t* bytes, size_t n) {
    std::printf("%s", label);
    for (size_t i = 0; i < n; ++i) {
        if (i % 16 == 0 && n > 16) std::printf("\n  %02zu:", i);
        std::printf(" %02X", bytes[i]);
    }
    std::printf("\n");
}

void printStatus(const hsimemu::Emulator& emu) {
    auto control = emu.controlBlock();
    auto respiration = emu.respirationSettings();
    auto stats = emu.streamStats();
    std::printf("node %s (%s)\n", emu.nodePath().c_str(), emu.plugged() ? "plugged" : "unplugged");
    printHex("control block:", control.data(), control.size());
    std::printf("enable mask 0x%02X, lead mask 0x%02X, calibration %s, DAC 0x%04X 0x%04X\n",
                emu.enableMask(), emu.leadMask(), emu.calibrationMode() ? "on" : "off",
                emu.dacWord1(), emu.dacWord2());
    printHex("respiration:", respiration.data(), respiration.size());
    std::printf("stream: output %s, transfers %llu, samples %llu, queued %llu, sequence errors %llu,"
                " underruns %llu, reports %llu, last sequence %u, stop transfers %llu\n",
                stats.outputOn ? "on" : "off", static_cast<unsigned long long>(stats.transfers),
                static_cast<unsigned long long>(stats.samples),
                static_cast<unsigned long long>(stats.queued),
                static_cast<unsigned long long>(stats.sequenceErrors),
                static_cast<unsigned long long>(stats.underruns),
                static_cast<unsigned long long>(stats.reportsSent), stats.lastSequence,
                static_cast<unsigned long long>(stats.stopTransfers));
    auto latency = emu.streamLatency();
    std::printf("request latency: %llu answered, min %.1f ms, p50 %.1f ms, p99 %.1f ms,"
                " max %.1f ms, %llu over 5 ms, %llu over 50 ms\n",
                static_cast<unsigned long long>(latency.count), latency.minMs, latency.p50Ms,
                latency.p99Ms, latency.maxMs, static_cast<unsigned long long>(latency.late),
                static_cast<unsigned long long>(latency.overflow));
    std::printf("faults:");
    for (const FaultName& f : kFaults) {
        if (emu.fault(f.fault)) std::printf(" %s", f.name);
    }
    std::printf("\nblock output %s, junk bytes %llu\n", emu.blockOutputOn() ? "on" : "off",
                static_cast<unsigned long long>(emu.junkBytes()));
}

// Writes the played samples to path as little-endian (DC uint16, AC int16)
// records; the count written, error set on failure.
size_t writePlayed(const hsimemu::Emulator& emu, const std::string& path, std::string& error) {
    std::vector<hsimemu::Sample> samples = emu.playedSamples();
    std::vector<uint8_t> bytes;
    bytes.reserve(samples.size() * 4);
    for (const hsimemu::Sample& s : samples) {
        const uint16_t ac = static_cast<uint16_t>(s.ac);
        bytes.push_back(static_cast<uint8_t>(s.dc & 0xFF));
        bytes.push_back(static_cast<uint8_t>(s.dc >> 8));
        bytes.push_back(static_cast<uint8_t>(ac & 0xFF));
        bytes.push_back(static_cast<uint8_t>(ac >> 8));
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return 0;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) error = "cannot write " + path;
    return samples.size();
}

// Runs one command line; false when the program should end.
bool command(hsimemu::Emulator& emu, const std::string& line) {
    std::istringstream in(line);
    std::string verb, arg1, arg2;
    in >> verb >> arg1 >> arg2;
    bool on = false;
    bool keepRunning = true;
    if (verb.empty()) {
        // blank line
    } else if (verb == "quit" || verb == "exit") {
        keepRunning = false;
    } else if (verb == "unplug") {
        emu.unplug();
        std::printf("unplugged\n");
    } else if (verb == "replug") {
        if (emu.replug()) {
            std::printf("plugged %s\n", emu.nodePath().c_str());
        } else {
            std::printf("error: replug failed: %s\n", emu.lastError().c_str());
        }
    } else if (verb == "mute" && parseSwitch(arg1, on)) {
        emu.setFault(hsimemu::Fault::Mute, on);
        std::printf("mute %s\n", on ? "on" : "off");
    } else if (verb == "fault" && parseSwitch(arg2, on)) {
        bool found = false;
        for (const FaultName& f : kFaults) {
            if (arg1 == f.name) {
                emu.setFault(f.fault, on);
                found = true;
            }
        }
        if (found) {
            std::printf("fault %s %s\n", arg1.c_str(), on ? "on" : "off");
        } else {
            std::printf("error: unknown fault '%s'\n", arg1.c_str());
        }
    } else if (verb == "played" && arg1 == "clear") {
        emu.clearPlayed();
        std::printf("played cleared\n");
    } else if (verb == "played" && !arg1.empty()) {
        std::string error;
        size_t n = writePlayed(emu, arg1, error);
        if (error.empty()) {
            std::printf("played %zu %s\n", n, arg1.c_str());
        } else {
            std::printf("error: %s\n", error.c_str());
        }
    } else if (verb == "status") {
        printStatus(emu);
    } else if (verb == "help") {
        usage(stdout);
    } else {
        std::printf("error: unknown command '%s' (try help)\n", line.c_str());
    }
    std::fflush(stdout);
    return keepRunning;
}

}  // namespace

int main(int argc, char** argv) {
    hsimemu::Options options;
    unsigned long count = 1;
    bool ok = true;
    bool help = false;
    for (int i = 1; i < argc && ok && !help; ++i) {
        std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long v = 0;
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--fast") {
            options.pacing = hsimemu::Pacing::AsFastAsHost;
        } else if (a == "--realtime") {
            options.realtime = true;
        } else if (a == "--dir" && value != nullptr) {
            options.directory = value;
            ++i;
        } else if (a == "--count" && parseNumber(value, 10, 16, v) && v >= 1) {
            count = v;
            ++i;
        } else if (a == "--port" && parseNumber(value, 10, 127, v)) {
            options.port = static_cast<int>(v);
            ++i;
        } else if (a == "--late-ms" && parseNumber(value, 10, 60000, v)) {
            options.lateAnswerMs = static_cast<int>(v);
            ++i;
        } else if (a == "--rom-polls" && parseNumber(value, 10, 80, v)) {
            options.romConfirmPolls = static_cast<int>(v);
            ++i;
        } else if (a == "--threshold" && parseNumber(value, 10, 400000, v)) {
            options.requestThreshold = static_cast<size_t>(v);
            ++i;
        } else if (a == "--code1" && parseNumber(value, 16, 0xFF, v)) {
            options.identity.code1 = static_cast<uint8_t>(v);
            ++i;
        } else if (a == "--code2" && parseNumber(value, 16, 0xFF, v)) {
            options.identity.code2 = static_cast<uint8_t>(v);
            ++i;
        } else if (a == "--number1" && parseNumber(value, 10, 0xFFFF, v)) {
            options.identity.number1 = static_cast<uint16_t>(v);
            ++i;
        } else if (a == "--number2" && parseNumber(value, 10, 0xFF, v)) {
            options.identity.number2 = static_cast<uint8_t>(v);
            ++i;
        } else {
            std::fprintf(stderr, "hsim-emu: bad or incomplete argument '%s'\n", a.c_str());
            ok = false;
        }
    }
    if (help) {
        usage(stdout);
        return 0;
    }
    if (ok && options.port + count - 1 > 127) {
        std::fprintf(stderr, "hsim-emu: ports %d..%lu: the last port is 127\n", options.port,
                     options.port + count - 1);
        ok = false;
    }
    if (ok && options.directory.empty()) {
        std::fprintf(stderr, "hsim-emu: --dir is required\n");
        ok = false;
    }
    if (!ok) {
        usage(stderr);
        return 2;
    }
    if (pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("hsim-emu: pipe2");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<hsimemu::Emulator>> devices;
    for (unsigned long i = 0; i < count; ++i) {
        hsimemu::Options device = options;
        device.port = options.port + static_cast<int>(i);
        device.identity.number1 = static_cast<uint16_t>(options.identity.number1 + i);
        devices.push_back(std::make_unique<hsimemu::Emulator>(device));
        if (!devices.back()->start()) {
            std::fprintf(stderr, "hsim-emu: cannot start: %s\n", devices.back()->lastError().c_str());
            return 1;
        }
        std::printf("%s\n", devices.back()->nodePath().c_str());
    }
    std::fflush(stdout);
    // "I:command" goes to device I, a plain command to the first.
    const auto dispatch = [&](const std::string& line) {
        const size_t colon = line.find(':');
        unsigned long index = 0;
        if (colon != std::string::npos && colon > 0 &&
            parseNumber(line.substr(0, colon).c_str(), 10, count - 1, index))
            return command(*devices[index], line.substr(colon + 1));
        return command(*devices[0], line);
    };

    std::string pending;
    bool running = true;
    bool stdinOpen = true;
    while (running) {
        pollfd fds[2] = {{s_signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        int r = poll(fds, stdinOpen ? 2 : 1, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (fds[0].revents & POLLIN)) break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[1024];
            ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                // End of input ends the program, after a last unterminated line.
                if (!pending.empty()) dispatch(pending);
                break;
            }
            pending.append(buf, static_cast<size_t>(n));
            size_t eol;
            while (running && (eol = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                running = dispatch(line);
            }
        } else if (fds[1].revents & (POLLERR | POLLNVAL)) {
            stdinOpen = false;
        }
    }
    for (auto& device : devices)
        device->stop();
    return 0;
}

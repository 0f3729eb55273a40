// hsim-demo: connects to a simulator through libhsim and shows what the
// library knows about it.
//
// By default it starts the built-in device emulator on a private pseudo
// terminal (port 3 of a temporary directory) and points the library there,
// so it runs on any machine. With --device it looks for real hardware on
// /dev/ttyACM<n> instead.
#include "Emulator.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

void Usage()
{
    printf("usage: hsim-demo [--device] [--port N] [--timeout MS]\n"
           "  (default)    run against the built-in emulator on a private pseudo terminal\n"
           "  --device     use real hardware on /dev/ttyACM<n> (lock files in /var/lock)\n"
           "  --port N     search port N only (default: scan ports 0..127)\n"
           "  --timeout MS give up after MS milliseconds (default 10000)\n");
}

void PrintControlBlock(const std::array<uint8_t, 64>& block)
{
    printf("\nControl block held by the emulated device:\n");
    for (int row = 0; row < 4; ++row) {
        printf("  %02d:", row * 16);
        for (int i = 0; i < 16; ++i)
            printf(" %02X", block[size_t(row * 16 + i)]);
        printf("\n");
    }
    printf("  relays: %s, sample rate: %d per second\n", block[2] == 1 ? "output on" : "off (8)",
           block[5] * 256 + block[6]);
    static const char* kDcCodes[] = {"none", "+300 mV", "-300 mV"};
    for (int ch = 0; ch < 4; ++ch) {
        const uint8_t* r = block.data() + 32 + 8 * ch;
        int impedance = r[0] == 0xFF ? 1 : r[1] == 0xFF ? 2 : r[4] == 0xFF ? 3 : 0;
        const char* dc = r[2] == 0x10 ? "variable (DC channel)" : r[2] < 3 ? kDcCodes[r[2]] : "?";
        printf("  channel %d: lead %s, input impedance mode %d, DC offset %s, signal ground %s\n", ch,
               r[3] == 0xFF ? "primary" : "secondary", impedance, dc, r[5] == 0xFF ? "to GND" : "open");
    }
}

void PrintTables()
{
    static const char* kNames[] = {"IEC 60601-2-27 (IEC227W)", "IEC 60601-2-51 (IEC251W)",
                                   "ANE20000"};
    printf("\nBuilt-in standard test data:\n");
    for (int table = 0; table < 3; ++table) {
        const char* source = nullptr;
        int real = HSIMGetTableProvenance(table, &source);
        printf("  %-26s [%s] %s\n", kNames[table], real == 1 ? "published" : "STAND-IN",
               source ? source : "?");
    }
}

// Two seconds of the standard ECG beat in real time, then what the library
// and the device saw of the stream.
void StreamForAWhile(hsimemu::Emulator* emulator)
{
    printf("\nStreaming the standard ECG beat for 2 s ...\n");
    if (emulator)
        emulator->clearStreamStats();
    HSIMResetStreamHealth();
    if (HSIMSetOutputFunction(OUTPUT_ECG_STANDARD) != 0) {
        printf("  output did not start\n");
        return;
    }
    sleep(2);
    HSIMSetOutputFunction(OUTPUT_OFF);
    HSIM_STREAM_HEALTH h;
    HSIMGetStreamHealth(&h);
    printf("  stream health: %llu transfers sent, %llu requests answered, %llu failed writes,\n"
           "                 %llu answers later than %.1f ms, %llu command-window waits (%llu timed out)\n"
           "  request->answer: p50 %.3f ms, p99 %.3f ms, max %.3f ms; longest transfer computation %.3f ms\n"
           "  streaming thread: %s scheduling\n",
           h.transfersSent, h.requestsAnswered, h.writeFailures, h.lateAnswers, h.lateThresholdMs, h.windowWaits,
           h.windowTimeouts, h.latencyP50Ms, h.latencyP99Ms, h.latencyMaxMs, h.computeMaxMs,
           h.realtime ? "real-time" : "normal");
    if (emulator) {
        const hsimemu::StreamStats st = emulator->streamStats();
        const hsimemu::LatencyStats lat = emulator->streamLatency();
        printf("  device side: %llu samples played, %llu underruns, %llu sequence errors; "
               "request->data p50 %.1f ms, max %.1f ms\n",
               (unsigned long long)st.samples, (unsigned long long)st.underruns,
               (unsigned long long)st.sequenceErrors, lat.p50Ms, lat.maxMs);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bool device = false;
    int port = -1;
    unsigned int timeoutMs = 10000;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--device")) {
            device = true;
        } else if (!strcmp(argv[i], "--port") && i + 1 < argc) {
            port = atoi(argv[++i]);
        } else if (!strcmp(argv[i], "--timeout") && i + 1 < argc) {
            timeoutMs = unsigned(atoi(argv[++i]));
        } else {
            Usage();
            return strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }

    std::unique_ptr<hsimemu::Emulator> emulator;
    std::string dir;
    if (!device) {
        char pattern[] = "/tmp/hsim-demo-XXXXXX";
        if (!mkdtemp(pattern)) {
            perror("mkdtemp");
            return 1;
        }
        dir = pattern;
        hsimemu::Options options;
        options.directory = dir;
        options.port = 3;
        emulator = std::make_unique<hsimemu::Emulator>(options);
        if (!emulator->start()) {
            fprintf(stderr, "could not start the emulator\n");
            return 1;
        }
        std::string format = dir + "/ttyACM%d";
        std::string locks = dir + "/lock";
        HSIMSetDeviceLocation(format.c_str(), locks.c_str());
        printf("Emulated simulator published as %s\n", emulator->nodePath().c_str());
    }

    int version = HSIMGetVersion();
    printf("libhsim %d.%d.%d.%d\n", (version >> 24) & 0xFF, (version >> 16) & 0xFF,
           (version >> 8) & 0xFF, version & 0xFF);
    printf("Searching %s ...\n", port < 0 ? "ports 0..127" : ("port " + std::to_string(port)).c_str());
    if (!HSIMConnect(port, timeoutMs)) {
        fprintf(stderr, "no simulator found within %u ms\n", timeoutMs);
        return 1;
    }

    MODEL_INFORMATION info = {};
    HSIMGetDeviceInformation(&info);
    uint32_t words[5] = {};
    HSIMGetHWInformation(words);
    printf("\nConnected.\n");
    printf("  identity: characters '%c' '%c', code bytes 0x%02X 0x%02X, numbers %d and %d\n",
           info.Character1, info.Character2, info.Code1, info.Code2, info.Number1, info.Number2);
    printf("  serial number: %s\n", HSIMGetSerialNumber());
    printf("  hardware information: %u %u %u %u %u\n", words[0], words[1], words[2], words[3], words[4]);

    // A few front-end settings, so the control block shows them.
    HSIMSetOutputLead(1, OUTPUT_LEAD_SECONDARY);
    HSIMSetInputImpedanceMode(2, 3);
    HSIMSetDCOffsetVariableMode(0, false);
    HSIMSetDCOffset(0, 300);
    HSIMSetSignalGroundToGNDGround(3, true);
    printf("  settings made: channel 1 secondary lead, channel 2 impedance mode 3 (read back %d),\n"
           "                channel 0 fixed +300 mV, channel 3 signal ground to GND\n",
           HSIMGetInputImpedanceMode(2));
    if (emulator)
        PrintControlBlock(emulator->controlBlock());
    PrintTables();
    StreamForAWhile(emulator.get());

    HSIMFree();
    if (emulator) {
        emulator.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    printf("\nDone.\n");
    return 0;
}

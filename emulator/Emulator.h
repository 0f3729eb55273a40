// Device emulator: stands in for the simulator hardware on a pseudo terminal.
//
// (The device-side choices and the message delimiting rule are documented in
// the block comment below the interface, once implemented.)
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hsimemu {

// Identity the emulated device reports.
struct Identity {
    uint8_t code1 = 0x01;      // identity reply byte 7
    uint8_t code2 = 0xAB;      // identity reply byte 8
    uint8_t number2 = 7;       // identity reply byte 9
    uint16_t number1 = 123;    // identity reply bytes 10-11, most significant first
    uint8_t hwValue1 = 0x11;   // information block byte 24
    uint8_t hwValue2 = 0x22;   // information block byte 25
    uint8_t hwWord0 = 0x33;    // information block byte 26
    uint8_t hwWord1 = 0x44;    // information block byte 27
    uint8_t hwWord2 = 0x55;    // byte 3 of the answer to 0xAA 0x03
};

// Faults that can be switched on and off at run time.
enum class Fault {
    Mute,              // answers nothing
    WrongMagic,        // identity reply without "HSE" in bytes 4-6
    ShortAnswers,      // every answer loses its last byte
    LateAnswers,       // every answer is delayed by lateAnswerMs
    NoStreamReports,   // stops asking for streaming data
    CorruptChunkEcho,  // sample chunk echoes differ in one byte
    RomNeverConfirmed, // ROM status query never reports the slot ready
};

enum class Pacing {
    RealTime,      // plays streamed samples at the control block's sample rate
    AsFastAsHost,  // asks for the next transfer as soon as one arrives
};

// One message the emulator received from the host, as delimited.
struct Message {
    std::vector<uint8_t> bytes;
    std::string kind;  // e.g. "probe", "info-query", "control-read", "control-write",
                       // "register-write", "register-read", "respiration", "stream", ...
    std::chrono::steady_clock::time_point at;
};

struct Options {
    std::string directory;  // where the node "ttyACM<port>" is published
    int port = 0;
    Identity identity;
    Pacing pacing = Pacing::RealTime;
    int lateAnswerMs = 400;  // delay of LateAnswers
};

// Streaming statistics (when the host streams).
struct StreamStats {
    uint64_t transfers = 0;        // 3200-byte transfers received
    uint64_t samples = 0;          // samples played
    uint64_t sequenceErrors = 0;   // packets whose sequence number was not the expected one
    uint64_t underruns = 0;        // times the play-out queue ran dry while output was on
    uint64_t reportsSent = 0;      // data requests sent
    uint16_t lastSequence = 0;
};

class Emulator {
public:
    explicit Emulator(Options options);
    ~Emulator();  // stops and removes the node
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Creates the pseudo terminal, publishes the node and starts answering.
    bool start();
    void stop();
    std::string nodePath() const;  // <directory>/ttyACM<port>

    // Unplug removes the node and closes the master; replug creates a new
    // pseudo terminal under the same node name.
    void unplug();
    bool replug();
    bool plugged() const;

    void setFault(Fault fault, bool on);
    void setLateAnswerMs(int ms);
    void setIdentity(const Identity& identity);

    // Received messages, oldest first.
    std::vector<Message> received() const;
    std::vector<Message> received(const std::string& kind) const;
    void clearReceived();
    // Waits until at least count messages of the kind (any kind when empty)
    // have been received; false on time-out.
    bool waitForMessages(size_t count, int timeoutMs, const std::string& kind = "") const;

    // Device state.
    std::array<uint8_t, 64> controlBlock() const;
    std::array<uint8_t, 64> infoBlock() const;
    std::array<uint8_t, 19> respirationSettings() const;
    uint8_t enableMask() const;
    uint8_t leadMask() const;
    bool calibrationMode() const;
    uint16_t dacWord1() const;
    uint16_t dacWord2() const;
    StreamStats streamStats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace hsimemu

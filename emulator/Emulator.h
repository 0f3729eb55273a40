// Device emulator: stands in for the simulator hardware on a pseudo terminal.
//
// The emulator opens a pseudo terminal, keeps one slave descriptor open for
// its whole plugged life (so the master never sees a hang-up when the host
// closes its side), puts the line in raw mode and publishes the slave as the
// symbolic link <directory>/ttyACM<port> (a stale link of that name is
// replaced). One worker thread reads the master with poll(), delimits the
// host's messages, answers them and drives streaming, on the monotonic clock.
//
// Delimiting messages
// -------------------
// A real device sees each host write as USB packets; on a pseudo terminal the
// boundaries are lost. The host writes one message per write and waits for
// its answer, so a message is what arrives in one burst. Each message is
// recognised by its first bytes:
//   55 00 00                  probe / keep-alive           3 bytes
//   12 55 AA 00 .. .. .. 20   information query            12 bytes
//   12 55 AA 00 .. .. .. xx   information block read       64 bytes (any xx but 0x20)
//   12 55 AA FF               information block write-back 64 bytes
//   AA 03                     hardware word query          2 bytes
//   00 x 64                   control block read           64 bytes (all zero)
//   C5 FF                     control block write          64 bytes (C5 = byte 0 of our block)
//   CC FF 0D                  register 0x0D write          6 bytes
//   CC FF other               register write               64 bytes
//   CC 00                     register read                6 bytes
//   EA FF 00 (byte 3 or 4 != 0)  control setting           64 bytes
//   EA FF 00 00 00            stop output OR control setting with switch 0: 5 or 64
//   EA FF 01                  respiration settings OR waveform information: 19 or 64
//   EA FF 04                  sample chunk                 64 bytes
//   EA FF 07                  ROM save                     5 bytes
//   EA 00 07                  ROM status query             6 bytes
//   01 01 00 00 00 0E         streaming transfer           3200 bytes (assembled from any
//                                                          number of reads)
// Unambiguous messages are answered as soon as their full length is in. For
// the two prefixes shared by a short and a long message the emulator waits
// until either the long length has arrived or the line has been quiet for
// 3 ms, then takes the longest length that the buffered bytes fill. The
// 12-byte query and the 64-byte block read share a prefix too, but byte 7
// (0x20 or not) settles them without waiting. Bytes that start no known
// message are junk: they and everything that follows until the line has been
// quiet for 3 ms are dropped and logged as one message of kind "junk". A
// message left incomplete for 100 ms (a host write that broke off) is dropped
// as junk as well, so the next message starts clean.
//
// Device-side choices
// -------------------
// Identity reply (12 bytes): 55 01 00 0C 'H' 'S' 'E' code1 code2 number2
//   number1(hi) number1(lo). Bytes 0-3: echo of the probe byte, protocol
//   version 1, 0, the reply length 12. With WrongMagic the reply is
//   'H' 'S' 'E' 0C 00 00 00 code1 code2 number2 number1(hi) number1(lo).
// Information block (64 bytes), answered to the 12-byte query and to the
//   64-byte read: bytes 0-7 repeat the request's first eight bytes; 8-15 the
//   board name "EMU-BRD1"; 16 'H', 17 'S', 18 'E', 19 code1, 20 code2,
//   21 number2, 22-23 number1 big-endian, 24 hwValue1, 25 hwValue2,
//   26 hwWord0, 27 hwWord1; 28-62 zero; 63 the end tag 0x5A.
//   infoBlock() returns it with the header of a 0x0C read
//   (12 55 AA 00 00 01 00 0C).
// Hardware word reply (5 bytes): AA 03 00 hwWord2 00.
// Information write-back: bytes 16-25 are stored (the model record and the two
//   hardware values; code1, code2, number2, number1, hwValue1 and hwValue2 of
//   the identity follow them, the identity magic "HSE" stays as it is in
//   firmware); the answer is the updated block with bytes 0-7 repeating the
//   write-back's header and byte 4 = 0xFF.
// Control block at power-on: byte 0 = 0xC5 (the block's tag; no host message
//   starts with it), 1 = 0x00, 2 = 8 (relays off), 3-4 = 0, 5-6 = 40000
//   big-endian, 7 = 0, 8-15 = firmware signature "EMU-FW01", 16 = board
//   revision 0x02, 17-31 = 0, channel records 32-63 zero except byte 63
//   (unused byte 7 of channel 3's record) = end tag 0xA5.
// Control block write: all 64 bytes are stored as written except byte 1, the
//   write marker, which is stored as 0 (so every read shows 0 there); the
//   answer is the block as now stored. Byte 2 == 1 switches the output on,
//   any other value off; bytes 5-6 set the play-out rate (0 plays at 40000).
// Registers (answers are 64 bytes: bytes 0-2 repeat the message, byte 3 =
//   0xFF for a known register, then the register's current contents):
//   0x06 calibration mode (written byte 4 != 0 is on; answer byte 4 = 1/0);
//   0x07 DAC words (answer bytes 4-7, big-endian; power-on 0x8000 each);
//   0x0D enable and lead masks (answer bytes 4, 5; power-on 0x0F, 0x00);
//   0x0F hardware status (a write clears it; answer byte 4; power-on 0x01).
//   Read forms (CC 00 reg 00 00 00) answer the same without changing
//   anything. An unknown register is answered with byte 3 = 0x00, rest zero.
// Respiration settings: the 19 bytes are stored; the answer is those 19 bytes
//   with byte 3 = 0xFF, zero-filled to 64.
// Block upload: the control setting, waveform information and sample chunks
//   are answered with the message itself, byte 3 = 0xFF (CorruptChunkEcho
//   flips bit 0 of byte 63 of each chunk echo); stop output and ROM save with
//   their bytes, byte 3 = 0xFF, zero-filled to 64. A waveform information
//   message starts a new upload (the uploaded samples are cleared); chunks
//   store their 14 samples at the chunk's index. Control setting byte 4 is
//   the block output switch; stop output clears it.
// ROM save: the save command takes a snapshot of the waveform information,
//   control setting and uploaded samples; the slot's status query answers
//   EA 00 07 FF slot status with byte 3 = 0xFF from the third query after the
//   save on (queries 1 and 2 answer byte 3 = 0x00; Options::romConfirmPolls
//   sets which query confirms, 1 = the first), and the snapshot becomes
//   the slot's contents then. Status byte 5: 0x80 save in progress, 0x01 the
//   slot holds a waveform, 0x00 empty. A slot without a save in progress is
//   ready. RomNeverConfirmed: byte 3 is never 0xFF and pending saves never
//   complete.
// Streaming: the output is on while control block byte 2 is 1. Turning it on
//   starts a new run: the queue is emptied and the first transfer must number
//   its packets from 0 again (so does the first transfer after a host opens
//   the port). Every later packet must carry the previous number plus one
//   (mod 65536); each packet that does not counts one sequence error and the
//   count continues from the number received. Transfers whose 50 sequence
//   fields are all 0xFF00 (stop packets) are played but stand outside the
//   numbering. Transfers that arrive with the output off are counted and
//   checked but not played. The device asks for data only once the host has
//   sent a first transfer in the run, and never has more than one request
//   outstanding: a request is answered by the next transfer. Pacing RealTime:
//   samples play at the control block's rate on the monotonic clock, starting
//   when a transfer arrives at an empty queue; the next request is sent when
//   fewer than requestThreshold samples (Options, default 700, one transfer;
//   at least 1) remain queued; a sample falling due with the queue empty
//   counts one underrun and stops the clock until the next transfer.
//   Pacing AsFastAsHost: samples play as they arrive and the next request is
//   sent as soon as a transfer has arrived. A request unanswered after 1 s
//   of complete silence from the host is repeated. Turning the output off
//   discards the queue and ends the requests.
//   A transfer is recognised by the header of its first packet, so packet 0
//   is good by construction and badPackets counts only packets 1-49 whose
//   header differs. The received log keeps each "stream" message whole (all
//   3200 bytes), so the sequence numbers the host sent can be read from
//   bytes 64p+6..7 of packet p.
// Reports (64 bytes, unsolicited): 01 55, bytes 2-3 the samples queued
//   (clipped at 65535; the queue holds up to 400000), 4-5 the next expected
//   sequence number, 6-7 the low 16 bits of the underrun count (since the
//   last clearStreamStats()), all big-endian, rest zero. A report is never
//   sent while a host message is being assembled, and it queues behind
//   pending answers, so it never interleaves with an answer.
// Request latency: from the moment a data request has been written to the
//   master until the first byte of the next transfer arrives. A repeated
//   request does not restart the measurement (it runs from the first request
//   of the outstanding one); a request that was never written (no host, or
//   the write gave up) is not measured, nor is a transfer whose first byte
//   came before the request was written. Kept in a fixed histogram of 0.1 ms
//   bins up to 50 ms plus one bin for later answers; percentiles are bin
//   upper edges kept within [min, max], the overflow bin's is the maximum.
// Samples in millivolts: the DC word is offset binary over -1000..+1000 mV,
//   written as trunc((v + 1000) / 2000 * 65535 + 0.5), so it reads back as
//   word * 2000 / 65535 - 1000 (0x0000 -1000 mV, 0x8000 +0.015 mV,
//   0xFFFF +1000 mV) to within one step of 2000 / 65535 mV (about 0.031 mV).
//   The AC word is two's complement, written as trunc(v * 6400 / attenuation),
//   so it reads back as word * attenuation / 6400 mV, nearer zero than the
//   value by less than one step (attenuation / 6400 mV). The attenuation is 1 without
//   the respiration network; with it, it follows the baseline step of the
//   stored respiration settings (steps 0..4: 500..2500 ohm, attenuation
//   2.873, 7.827, 13.134, 17.92, 22.9) and is passed in by the caller.
// Host presence: when the system can watch the slave node, the emulator
//   counts the host's opens and closes. Like a real device whose port is
//   closed, it discards what it sent but no host read when the last host
//   closes and when a host opens the port, and it sends nothing (answers are
//   lost, requests stop) while no host has the port open. A message that the
//   last host left unfinished is dropped as junk when it closes.
// Faults: Mute sends nothing (messages are still logged and processed);
//   ShortAnswers drops the last byte of every answer (reports stay whole);
//   LateAnswers delays every answer by lateAnswerMs (later output waits in
//   order behind it); NoStreamReports sends no data requests.
// Unplug closes the master and the slave and removes the node; the device
//   loses power: control block, registers, respiration settings, upload
//   buffer and streaming state go back to their power-on values, while the
//   information block (flash) and the ROM slots stay. replug() opens a new
//   pseudo terminal under the same node name. The received log, the faults,
//   the stream statistics, the request latencies and the played-sample
//   record survive both.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
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
    std::string kind;  // "probe", "info-query", "hw-query", "info-read", "info-write",
                       // "control-read", "control-write", "register-write",
                       // "register-read", "respiration", "control-setting",
                       // "stop-output", "waveform-info", "chunk", "rom-save",
                       // "rom-status", "stream", "junk"
    std::chrono::steady_clock::time_point at;
};

struct Options {
    std::string directory;  // where the node "ttyACM<port>" is published
    int port = 0;
    Identity identity;
    Pacing pacing = Pacing::RealTime;
    int lateAnswerMs = 400;  // delay of LateAnswers
    // Real-time pacing: the next data request goes out when fewer than this
    // many samples are queued (values below 1 count as 1).
    size_t requestThreshold = 700;
    // The worker thread asks for real-time scheduling (SCHED_FIFO), as a
    // device is hardware that the host's load does not slow down; without
    // the permission it runs normally. For measurements under load.
    bool realtime = false;
    // The ROM status query after a save that confirms it (1 = the first).
    int romConfirmPolls = 3;
};

// Streaming statistics (when the host streams), counted since construction or
// the last clearStreamStats().
struct StreamStats {
    uint64_t transfers = 0;        // 3200-byte transfers received
    uint64_t samples = 0;          // samples played
    uint64_t sequenceErrors = 0;   // packets whose sequence number was not the expected one
    uint64_t underruns = 0;        // times the play-out queue ran dry while output was on
    uint64_t reportsSent = 0;      // data requests sent
    uint16_t lastSequence = 0;
    uint64_t stopTransfers = 0;    // transfers of stop packets (sequence field 0xFF00)
    uint64_t badPackets = 0;       // packets 1-49 whose header was not 01 01 00 00 00 0E
    uint64_t overruns = 0;         // samples dropped because the play-out queue was full
    uint64_t repeatedReports = 0;  // requests repeated after a long silence
    uint64_t queued = 0;           // samples waiting to be played
    bool outputOn = false;         // control block relay byte is 1
};

// Request-to-answer times of the data requests, in milliseconds.
struct LatencyStats {
    uint64_t count = 0;     // requests answered
    uint64_t late = 0;      // answers later than 5 ms (the host library's late answers)
    uint64_t overflow = 0;  // answers later than 50 ms
    double minMs = 0;
    double p50Ms = 0;       // 0.1 ms resolution
    double p99Ms = 0;
    double maxMs = 0;
};

// One sample as the device plays it: DC word and AC word.
struct Sample {
    uint16_t dc = 0;
    int16_t ac = 0;
};

// A played sample with its words converted to millivolts.
struct PlayedSample {
    uint16_t dc = 0;
    int16_t ac = 0;
    double dcMv = 0;
    double acMv = 0;
};

// Output level of a DC word: word * 2000 / 65535 - 1000 mV.
inline double DcMillivolts(uint16_t word) { return word * 2000.0 / 65535.0 - 1000.0; }
// Output level of an AC word: word * attenuation / 6400 mV.
inline double AcMillivolts(int16_t word, double attenuation = 1.0) {
    return word * attenuation / 6400.0;
}

// Contents of a ROM slot after a confirmed save.
struct RomSlot {
    std::array<uint8_t, 64> waveformInfo{};
    std::array<uint8_t, 64> controlSetting{};
    std::vector<Sample> samples;
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
    // Why the last start() or replug() failed.
    std::string lastError() const;

    // Unplug removes the node and closes the master; replug creates a new
    // pseudo terminal under the same node name.
    void unplug();
    bool replug();
    bool plugged() const;

    void setFault(Fault fault, bool on);
    bool fault(Fault fault) const;
    void setLateAnswerMs(int ms);
    void setIdentity(const Identity& identity);
    void setPacing(Pacing pacing);
    void setRequestThreshold(size_t samples);

    // Received messages, oldest first (the most recent 4096 are kept).
    std::vector<Message> received() const;
    std::vector<Message> received(const std::string& kind) const;
    void clearReceived();
    // Waits until at least count messages of the kind (any kind when empty)
    // have been received since the last clearReceived(); false on time-out.
    bool waitForMessages(size_t count, int timeoutMs, const std::string& kind = "") const;
    uint64_t junkBytes() const;  // bytes dropped as junk

    // Device state.
    std::array<uint8_t, 64> controlBlock() const;
    std::array<uint8_t, 64> infoBlock() const;
    std::array<uint8_t, 19> respirationSettings() const;
    uint8_t enableMask() const;
    uint8_t leadMask() const;
    bool calibrationMode() const;
    uint16_t dacWord1() const;
    uint16_t dacWord2() const;
    uint8_t hardwareStatus() const;
    StreamStats streamStats() const;
    LatencyStats streamLatency() const;
    // Zeroes the stream statistics and the latency histogram.
    void clearStreamStats();

    // The most recent played samples (at most max, at most the last 10 s at
    // 40000 samples per second), oldest first.
    std::vector<Sample> playedSamples(size_t max = SIZE_MAX) const;
    // The same samples with their levels; attenuation applies to the AC words.
    std::vector<PlayedSample> playedMillivolts(size_t max = SIZE_MAX,
                                               double attenuation = 1.0) const;
    void clearPlayed();

    // Block upload state.
    std::vector<Sample> uploadedSamples() const;
    std::array<uint8_t, 64> waveformInfo() const;
    std::array<uint8_t, 64> controlSetting() const;
    bool blockOutputOn() const;
    // count samples of block output: the uploaded period (as many samples as
    // the waveform information's period) repeated; empty while it is off.
    std::vector<Sample> blockPlayout(size_t count) const;
    std::optional<RomSlot> romSlot(uint8_t slot) const;
    // count samples of what the device plays after power-up without a host:
    // the period saved in ROM slot 1, repeated; empty when the slot is empty.
    std::vector<Sample> standalonePlayout(size_t count) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace hsimemu

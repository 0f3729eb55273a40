// Message kinds and byte-level constants of the device side of the wire
// protocol, shared by the framer and the device model.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hsimemu {

// Every message the host can send, as the framer delimits it.
enum class Kind : uint8_t {
    Probe,           // 0x55 0x00 0x00: identity probe and keep-alive
    InfoQuery,       // 12-byte information query (command 0x20)
    HwQuery,         // 0xAA 0x03
    InfoRead,        // 64-byte information block read (command 0x0C)
    InfoWrite,       // 64-byte information block write-back (byte 3 = 0xFF)
    ControlRead,     // 64 zero bytes
    ControlWrite,    // the control block written back with byte 1 = 0xFF
    RegisterWrite,   // 0xCC 0xFF reg ...
    RegisterRead,    // 0xCC 0x00 reg 0x00 0x00 0x00
    Respiration,     // 19 bytes 0xEA 0xFF 0x01 ...
    ControlSetting,  // 64 bytes 0xEA 0xFF 0x00 ... (block output on/off)
    StopOutput,      // 5 bytes 0xEA 0xFF 0x00 0x00 0x00
    WaveformInfo,    // 64 bytes 0xEA 0xFF 0x01 ...
    Chunk,           // 64 bytes 0xEA 0xFF 0x04 ...: 14 uploaded samples
    RomSave,         // 5 bytes 0xEA 0xFF 0x07 0x00 slot
    RomStatus,       // 6 bytes 0xEA 0x00 0x07 0x00 slot 0x00
    Stream,          // 3200-byte streaming transfer
    Junk,            // bytes that start no known message
};

// Name used in the received log.
const char* kindName(Kind kind);

namespace wire {

constexpr size_t kProbeLen = 3;
constexpr size_t kIdentityLen = 12;
constexpr size_t kInfoQueryLen = 12;
constexpr size_t kHwQueryLen = 2;
constexpr size_t kHwReplyLen = 5;
constexpr size_t kBlockLen = 64;  // control block, information block, registers, reports
constexpr size_t kRegister0DLen = 6;
constexpr size_t kRegisterReadLen = 6;
constexpr size_t kRespirationLen = 19;
constexpr size_t kStopOutputLen = 5;
constexpr size_t kRomSaveLen = 5;
constexpr size_t kRomStatusLen = 6;

constexpr size_t kPacketLen = 64;
constexpr size_t kPacketsPerTransfer = 50;
constexpr size_t kSamplesPerPacket = 14;
constexpr size_t kTransferLen = kPacketLen * kPacketsPerTransfer;                   // 3200
constexpr size_t kSamplesPerTransfer = kSamplesPerPacket * kPacketsPerTransfer;     // 700
constexpr uint16_t kStopSequence = 0xFF00;  // sequence field of a stop-packet transfer

// First byte of the control block this device sends. The host writes the
// block back unchanged apart from the fields it owns, so this byte opens the
// control block write; it differs from the first byte of every other host
// message, which keeps the write-back unambiguous.
constexpr uint8_t kControlBlockTag = 0xC5;

constexpr uint8_t kRegCalibration = 0x06;
constexpr uint8_t kRegDac = 0x07;
constexpr uint8_t kRegChannels = 0x0D;
constexpr uint8_t kRegHwStatus = 0x0F;

inline uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline void putBe16(uint8_t* p, unsigned v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

}  // namespace wire
}  // namespace hsimemu

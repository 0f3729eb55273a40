// The emulated simulator's state and its answer to each host message. No I/O
// and no locking: the emulator calls it from its worker thread under its lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "Emulator.h"
#include "Framer.h"
#include "StreamPlayer.h"

namespace hsimemu {

// Faults that change what the device answers (the others act on the line).
struct ContentFaults {
    bool wrongMagic = false;
    bool corruptChunkEcho = false;
    bool romNeverConfirmed = false;
};

class DeviceModel {
public:
    static constexpr int kRomReadyPoll = 3;  // by default the third status query after a save confirms it

    explicit DeviceModel(const Identity& identity);

    // Power cycle: volatile state (control block, registers, respiration,
    // upload buffer, streaming) back to power-on values. The information block
    // and the ROM slots are non-volatile and stay.
    void powerCycle();
    void setIdentity(const Identity& identity);

    // Handles one delimited message; `answer` receives the reply (empty when
    // the message is not answered).
    void handle(Kind kind, const std::vector<uint8_t>& message, Clock::time_point now,
                std::vector<uint8_t>& answer);

    ContentFaults faults;
    int romReadyPoll = kRomReadyPoll;  // the status query that confirms a save (1 = the first)
    StreamPlayer stream;

    const std::array<uint8_t, 64>& controlBlock() const { return control_; }
    std::array<uint8_t, 64> infoBlock() const;
    const std::array<uint8_t, 19>& respiration() const { return respiration_; }
    uint8_t enableMask() const { return enableMask_; }
    uint8_t leadMask() const { return leadMask_; }
    bool calibrationMode() const { return calibration_; }
    uint16_t dac1() const { return dac1_; }
    uint16_t dac2() const { return dac2_; }
    uint8_t hardwareStatus() const { return hwStatus_; }
    const std::array<uint8_t, 64>& waveformInfo() const { return waveformInfo_; }
    const std::array<uint8_t, 64>& controlSetting() const { return controlSetting_; }
    bool blockOutputOn() const { return blockOutput_; }
    std::vector<Sample> uploadedSamples() const;
    // count samples of what block output plays: the uploaded period (the
    // samples per period of the waveform information) repeated; empty while
    // block output is off.
    std::vector<Sample> blockPlayout(size_t count) const;
    std::optional<RomSlot> romSlot(uint8_t slot) const;
    // The period saved in ROM slot 1, repeated (standalone mode).
    std::vector<Sample> standalonePlayout(size_t count) const;

private:
    void identityReply(std::vector<uint8_t>& answer) const;
    void infoAnswer(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer) const;
    void infoWrite(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer);
    void controlWrite(const std::vector<uint8_t>& message, Clock::time_point now,
                      std::vector<uint8_t>& answer);
    void registerMessage(const std::vector<uint8_t>& message, bool write,
                         std::vector<uint8_t>& answer);
    void chunk(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer);
    void romSave(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer);
    void romStatus(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer);
    void refreshIdentityBytes();

    Identity identity_;
    std::array<uint8_t, 64> info_{};
    std::array<uint8_t, 64> control_{};
    std::array<uint8_t, 19> respiration_{};
    uint8_t enableMask_ = 0;
    uint8_t leadMask_ = 0;
    bool calibration_ = false;
    uint16_t dac1_ = 0;
    uint16_t dac2_ = 0;
    uint8_t hwStatus_ = 0;

    std::array<uint8_t, 64> waveformInfo_{};
    std::array<uint8_t, 64> controlSetting_{};
    bool blockOutput_ = false;
    std::vector<uint8_t> upload_;  // 4 bytes per sample, as sent

    struct PendingSave {
        RomSlot contents;
        int polls = 0;
    };
    std::map<uint8_t, RomSlot> rom_;
    std::map<uint8_t, PendingSave> saving_;
};

}  // namespace hsimemu

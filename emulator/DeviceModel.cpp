#include "DeviceModel.h"

#include <algorithm>
#include <cstring>

namespace hsimemu {

namespace {

constexpr uint8_t kIdentityLead[4] = {0x55, 0x01, 0x00, 0x0C};
constexpr char kFirmwareSignature[8] = {'E', 'M', 'U', '-', 'F', 'W', '0', '1'};
constexpr char kBoardName[8] = {'E', 'M', 'U', '-', 'B', 'R', 'D', '1'};
constexpr uint8_t kBoardRevision = 0x02;
constexpr uint8_t kControlEndTag = 0xA5;
constexpr uint8_t kInfoEndTag = 0x5A;
constexpr uint8_t kPowerOnEnableMask = 0x0F;
constexpr uint16_t kPowerOnDac = 0x8000;
constexpr uint8_t kPowerOnHwStatus = 0x01;
constexpr uint8_t kRomEmpty = 0x00;
constexpr uint8_t kRomHolds = 0x01;
constexpr uint8_t kRomBusy = 0x80;

std::array<uint8_t, 64> powerOnControlBlock() {
    std::array<uint8_t, 64> b{};
    b[0] = wire::kControlBlockTag;
    b[1] = 0x00;  // write marker, set by the host in its write-back
    b[2] = 8;     // relays off
    wire::putBe16(&b[5], 40000);
    std::memcpy(&b[8], kFirmwareSignature, 8);
    b[16] = kBoardRevision;
    b[63] = kControlEndTag;  // unused byte 7 of channel 3's record
    return b;
}

// Answer of 64 bytes that starts with the message's bytes (at most 64).
std::vector<uint8_t> echo64(const std::vector<uint8_t>& message) {
    std::vector<uint8_t> a(wire::kBlockLen, 0);
    std::copy_n(message.begin(), std::min(message.size(), a.size()), a.begin());
    return a;
}

}  // namespace

DeviceModel::DeviceModel(const Identity& identity) : identity_(identity) {
    info_[0] = 0x12;
    info_[1] = 0x55;
    info_[2] = 0xAA;
    info_[5] = 0x01;
    info_[7] = 0x0C;
    std::memcpy(&info_[8], kBoardName, 8);
    info_[63] = kInfoEndTag;
    refreshIdentityBytes();
    powerCycle();
}

void DeviceModel::refreshIdentityBytes() {
    info_[16] = 'H';
    info_[17] = 'S';
    info_[18] = 'E';
    info_[19] = identity_.code1;
    info_[20] = identity_.code2;
    info_[21] = identity_.number2;
    wire::putBe16(&info_[22], identity_.number1);
    info_[24] = identity_.hwValue1;
    info_[25] = identity_.hwValue2;
    info_[26] = identity_.hwWord0;
    info_[27] = identity_.hwWord1;
}

void DeviceModel::powerCycle() {
    control_ = powerOnControlBlock();
    respiration_.fill(0);
    enableMask_ = kPowerOnEnableMask;
    leadMask_ = 0;
    calibration_ = false;
    dac1_ = kPowerOnDac;
    dac2_ = kPowerOnDac;
    hwStatus_ = kPowerOnHwStatus;
    waveformInfo_.fill(0);
    controlSetting_.fill(0);
    blockOutput_ = false;
    upload_.clear();
    saving_.clear();  // a save cut by power loss never completes
    stream.reset();
}

void DeviceModel::setIdentity(const Identity& identity) {
    identity_ = identity;
    refreshIdentityBytes();
}

std::array<uint8_t, 64> DeviceModel::infoBlock() const { return info_; }

void DeviceModel::identityReply(std::vector<uint8_t>& answer) const {
    answer.assign(wire::kIdentityLen, 0);
    if (faults.wrongMagic) {
        // The magic one place off: bytes 0-2 instead of 4-6.
        answer[0] = 'H';
        answer[1] = 'S';
        answer[2] = 'E';
        answer[3] = kIdentityLead[3];
    } else {
        std::copy_n(kIdentityLead, 4, answer.begin());
        answer[4] = 'H';
        answer[5] = 'S';
        answer[6] = 'E';
    }
    answer[7] = identity_.code1;
    answer[8] = identity_.code2;
    answer[9] = identity_.number2;
    wire::putBe16(&answer[10], identity_.number1);
}

void DeviceModel::infoAnswer(const std::vector<uint8_t>& message,
                             std::vector<uint8_t>& answer) const {
    answer.assign(info_.begin(), info_.end());
    // The block's first eight bytes repeat the request's header.
    std::copy_n(message.begin(), std::min<size_t>(8, message.size()), answer.begin());
}

void DeviceModel::infoWrite(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer) {
    // The flash keeps the model record and the two hardware values.
    std::copy(message.begin() + 16, message.begin() + 26, info_.begin() + 16);
    identity_.code1 = info_[19];
    identity_.code2 = info_[20];
    identity_.number2 = info_[21];
    identity_.number1 = wire::be16(&info_[22]);
    identity_.hwValue1 = info_[24];
    identity_.hwValue2 = info_[25];
    infoAnswer(message, answer);
    answer[4] = 0xFF;  // written
}

void DeviceModel::controlWrite(const std::vector<uint8_t>& message, Clock::time_point now,
                               std::vector<uint8_t>& answer) {
    std::copy_n(message.begin(), wire::kBlockLen, control_.begin());
    control_[1] = 0x00;  // the marker only flags the write; it is not stored
    stream.setRate(wire::be16(&control_[5]), now);
    stream.setOutput(control_[2] == 1, now);
    answer.assign(control_.begin(), control_.end());
}

void DeviceModel::registerMessage(const std::vector<uint8_t>& message, bool write,
                                  std::vector<uint8_t>& answer) {
    uint8_t reg = message[2];
    bool known = true;
    if (write) {
        switch (reg) {
        case wire::kRegCalibration: calibration_ = message[4] != 0; break;
        case wire::kRegDac:
            dac1_ = wire::be16(&message[4]);
            dac2_ = wire::be16(&message[6]);
            break;
        case wire::kRegChannels:
            enableMask_ = message[4];
            leadMask_ = message[5];
            break;
        case wire::kRegHwStatus: hwStatus_ = 0; break;
        default: known = false; break;
        }
    }
    answer.assign(wire::kBlockLen, 0);
    std::copy_n(message.begin(), 3, answer.begin());
    switch (reg) {
    case wire::kRegCalibration: answer[4] = calibration_ ? 1 : 0; break;
    case wire::kRegDac:
        wire::putBe16(&answer[4], dac1_);
        wire::putBe16(&answer[6], dac2_);
        break;
    case wire::kRegChannels:
        answer[4] = enableMask_;
        answer[5] = leadMask_;
        break;
    case wire::kRegHwStatus: answer[4] = hwStatus_; break;
    default: known = false; break;
    }
    answer[3] = known ? 0xFF : 0x00;
}

void DeviceModel::chunk(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer) {
    size_t index = wire::be16(&message[6]);
    size_t end = (index + wire::kSamplesPerPacket) * 4;
    if (upload_.size() < end) upload_.resize(end, 0);
    std::copy(message.begin() + 8, message.begin() + 64,
              upload_.begin() + static_cast<std::ptrdiff_t>(index * 4));
    answer = message;
    answer[3] = 0xFF;
    if (faults.corruptChunkEcho) answer[63] ^= 0x01;
}

void DeviceModel::romSave(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer) {
    uint8_t slot = message[4];
    PendingSave save;
    save.contents.waveformInfo = waveformInfo_;
    save.contents.controlSetting = controlSetting_;
    save.contents.samples = uploadedSamples();
    saving_[slot] = std::move(save);
    answer = echo64(message);
    answer[3] = 0xFF;
}

void DeviceModel::romStatus(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer) {
    uint8_t slot = message[4];
    bool ready = true;
    auto pending = saving_.find(slot);
    if (pending != saving_.end()) {
        ++pending->second.polls;
        if (pending->second.polls >= romReadyPoll && !faults.romNeverConfirmed) {
            rom_[slot] = std::move(pending->second.contents);
            saving_.erase(pending);
        } else {
            ready = false;
        }
    }
    if (faults.romNeverConfirmed) ready = false;
    answer.assign(wire::kBlockLen, 0);
    answer[0] = 0xEA;
    answer[1] = 0x00;
    answer[2] = 0x07;
    answer[3] = ready ? 0xFF : 0x00;
    answer[4] = slot;
    if (saving_.count(slot) != 0) {
        answer[5] = kRomBusy;
    } else {
        answer[5] = rom_.count(slot) != 0 ? kRomHolds : kRomEmpty;
    }
}

void DeviceModel::handle(Kind kind, const std::vector<uint8_t>& message, Clock::time_point now,
                         std::vector<uint8_t>& answer) {
    answer.clear();
    switch (kind) {
    case Kind::Probe: identityReply(answer); break;
    case Kind::InfoQuery:
    case Kind::InfoRead: infoAnswer(message, answer); break;
    case Kind::HwQuery:
        answer.assign(wire::kHwReplyLen, 0);
        answer[0] = 0xAA;
        answer[1] = 0x03;
        answer[3] = identity_.hwWord2;
        break;
    case Kind::InfoWrite: infoWrite(message, answer); break;
    case Kind::ControlRead: answer.assign(control_.begin(), control_.end()); break;
    case Kind::ControlWrite: controlWrite(message, now, answer); break;
    case Kind::RegisterWrite: registerMessage(message, true, answer); break;
    case Kind::RegisterRead: registerMessage(message, false, answer); break;
    case Kind::Respiration:
        std::copy_n(message.begin(), wire::kRespirationLen, respiration_.begin());
        answer = echo64(message);
        answer[3] = 0xFF;
        break;
    case Kind::ControlSetting:
        std::copy_n(message.begin(), wire::kBlockLen, controlSetting_.begin());
        blockOutput_ = message[4] != 0;
        answer = echo64(message);
        answer[3] = 0xFF;
        break;
    case Kind::StopOutput:
        blockOutput_ = false;
        answer = echo64(message);
        answer[3] = 0xFF;
        break;
    case Kind::WaveformInfo:
        std::copy_n(message.begin(), wire::kBlockLen, waveformInfo_.begin());
        upload_.clear();  // a new upload begins
        answer = echo64(message);
        answer[3] = 0xFF;
        break;
    case Kind::Chunk: chunk(message, answer); break;
    case Kind::RomSave: romSave(message, answer); break;
    case Kind::RomStatus: romStatus(message, answer); break;
    case Kind::Stream: stream.onTransfer(message.data(), now); break;
    case Kind::Junk: break;
    }
}

std::vector<Sample> DeviceModel::uploadedSamples() const {
    std::vector<Sample> samples(upload_.size() / 4);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i].dc = wire::be16(&upload_[4 * i]);
        samples[i].ac = static_cast<int16_t>(wire::be16(&upload_[4 * i + 2]));
    }
    return samples;
}

static std::vector<Sample> Repeat(const std::vector<Sample>& stored, const std::array<uint8_t, 64>& info, size_t count) {
    const size_t period = std::min<size_t>(wire::be16(&info[6]), stored.size());
    std::vector<Sample> out;
    for (size_t i = 0; period > 0 && i < count; ++i) out.push_back(stored[i % period]);
    return out;
}

std::vector<Sample> DeviceModel::blockPlayout(size_t count) const {
    return blockOutput_ ? Repeat(uploadedSamples(), waveformInfo_, count) : std::vector<Sample>{};
}

std::vector<Sample> DeviceModel::standalonePlayout(size_t count) const {
    auto it = rom_.find(1);
    return it != rom_.end() ? Repeat(it->second.samples, it->second.waveformInfo, count) : std::vector<Sample>{};
}

std::optional<RomSlot> DeviceModel::romSlot(uint8_t slot) const {
    auto it = rom_.find(slot);
    if (it == rom_.end()) return std::nullopt;
    return it->second;
}

}  // namespace hsimemu

// Block upload, the block output switch and ROM saves.
#include "EmuLine.h"

namespace {

// A block upload message is answered with its own bytes, byte 3 = 0xFF,
// zero-filled to 64.
Bytes acked(Bytes m) {
    m.resize(64, 0);
    m[3] = 0xFF;
    return m;
}

// The chunk of the 14 samples from index on: sample s is DC 0x8000 + s, AC -s.
Bytes chunk(unsigned index) {
    Bytes c = msg({0xEA, 0xFF, 0x04}, 64);
    put16(c, 6, index);
    for (unsigned i = 0; i < 14; ++i) {
        put16(c, 8 + 4 * i, 0x8000 + index + i);
        put16(c, 10 + 4 * i, 0x10000 - index - i);  // two's complement
    }
    return c;
}

Bytes romSave(uint8_t slot) { return {0xEA, 0xFF, 0x07, 0x00, slot}; }
Bytes romStatus(uint8_t slot) { return {0xEA, 0x00, 0x07, 0x00, slot, 0x00}; }
// Byte 3 0xFF when ready; byte 5 0x80 saving, 0x01 holds a waveform, 0x00 empty.
Bytes romAnswer(bool ready, uint8_t slot, uint8_t status) {
    return msg({0xEA, 0x00, 0x07, static_cast<uint8_t>(ready ? 0xFF : 0x00), slot, status}, 64);
}

// Waveform information and a control setting with the output switch (byte 4)
// on: the device keeps and echoes their other bytes unread. Stop output.
const Bytes kInfo = msg({0xEA, 0xFF, 0x01, 0, 0, 0, 0x07, 0xD0, 0x00, 0x64, 7}, 64);
const Bytes kSettingOn = msg({0xEA, 0xFF, 0x00, 0x00, 0x01, 0, 0, 0, 0x07, 0xD0, 0, 0, 4}, 64);
const Bytes kStop = {0xEA, 0xFF, 0x00, 0x00, 0x00};

class BlockUpload : public EmuTest {};

TEST_F(BlockUpload, UploadSwitchAndRomSaveConfirmedOnTheThirdQuery) {
    expectExchanges({{kInfo, acked(kInfo)},
                     {chunk(0), acked(chunk(0))},
                     {chunk(14), acked(chunk(14))},
                     {kSettingOn, acked(kSettingOn)}});
    EXPECT_TRUE(emu_->blockOutputOn());
    expectExchanges({{kStop, acked(kStop)},
                     {romStatus(2), romAnswer(true, 2, 0x00)},  // never saved: ready, empty
                     {romSave(1), acked(romSave(1))},
                     {romStatus(1), romAnswer(false, 1, 0x80)},
                     {romStatus(1), romAnswer(false, 1, 0x80)}});
    EXPECT_FALSE(emu_->blockOutputOn());
    EXPECT_FALSE(emu_->romSlot(1).has_value());
    expectExchanges({{romStatus(1), romAnswer(true, 1, 0x01)}});
    auto slot = emu_->romSlot(1);
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(Bytes(slot->waveformInfo.begin(), slot->waveformInfo.end()), kInfo);
    EXPECT_EQ(Bytes(slot->controlSetting.begin(), slot->controlSetting.end()), kSettingOn);
    ASSERT_EQ(slot->samples.size(), 28u);
    for (int s = 0; s < 28; ++s) {
        EXPECT_EQ(slot->samples[s].dc, 0x8000 + s);
        EXPECT_EQ(slot->samples[s].ac, -s);
    }
}

}  // namespace

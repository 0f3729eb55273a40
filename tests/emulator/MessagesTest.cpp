// Every host message and its answer, byte for byte, through the node.
#include "EmuLine.h"

namespace emutest {
namespace {

class Messages : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        options_.identity.code1 = 0x01;
        options_.identity.code2 = 0xAB;
        options_.identity.number2 = 7;
        options_.identity.number1 = 258;  // bytes 0x01 0x02
        options_.identity.hwValue1 = 0x11;
        options_.identity.hwValue2 = 0x22;
        options_.identity.hwWord0 = 0x33;
        options_.identity.hwWord1 = 0x44;
        options_.identity.hwWord2 = 0x55;
        startAndOpen();
    }

    // The information block for the identity above, with the given request
    // header in bytes 0-7.
    static Bytes infoBlock(std::initializer_list<uint8_t> header) {
        Bytes b(header);
        b.resize(64, 0);
        const uint8_t board[8] = {'E', 'M', 'U', '-', 'B', 'R', 'D', '1'};
        std::copy(board, board + 8, b.begin() + 8);
        const uint8_t ident[12] = {'H', 'S', 'E', 0x01, 0xAB, 7, 0x01, 0x02,
                                   0x11, 0x22, 0x33, 0x44};
        std::copy(ident, ident + 12, b.begin() + 16);
        b[63] = 0x5A;
        return b;
    }
};

TEST_F(Messages, ProbeAndKeepAliveAnswerTheIdentity) {
    const Bytes expected = {0x55, 0x01, 0x00, 0x0C, 'H', 'S', 'E', 0x01, 0xAB, 0x07, 0x01, 0x02};
    EXPECT_EQ(exchange({0x55, 0x00, 0x00}, 12), expected);
    // The keep-alive is the same message and gets the same answer.
    EXPECT_EQ(exchange({0x55, 0x00, 0x00}, 12), expected);
    EXPECT_TRUE(silentFor(50));
}

TEST_F(Messages, InformationQueryAndHardwareWord) {
    Bytes query = {0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(exchange(query, 64), infoBlock({0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x20}));
    EXPECT_EQ(exchange({0xAA, 0x03}, 5), (Bytes{0xAA, 0x03, 0x00, 0x55, 0x00}));
    EXPECT_TRUE(silentFor(50));
}

TEST_F(Messages, InformationBlockReadAndWriteBack) {
    Bytes read = msg({0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x0C}, 64);
    Bytes block = exchange(read, 64);
    ASSERT_EQ(block, infoBlock({0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x0C}));

    // Write back a new model record (chars 'A' 'B', codes 02 CD, second
    // number 9, first number 12345 = 0x3039) and hardware values 66 77.
    Bytes write = block;
    write[3] = 0xFF;
    write[4] = 0x00;
    const uint8_t fields[10] = {'H', 'A', 'B', 0x02, 0xCD, 9, 0x30, 0x39, 0x66, 0x77};
    std::copy(fields, fields + 10, write.begin() + 16);
    Bytes expected = write;
    expected[4] = 0xFF;  // written
    EXPECT_EQ(exchange(write, 64), expected);

    auto stored = emu_->infoBlock();
    EXPECT_TRUE(std::equal(fields, fields + 10, stored.begin() + 16));
    EXPECT_EQ(stored[26], 0x33);  // not part of the write-back
    EXPECT_EQ(stored[27], 0x44);

    // The identity follows the stored record; its magic stays "HSE".
    EXPECT_EQ(exchange({0x55, 0x00, 0x00}, 12),
              (Bytes{0x55, 0x01, 0x00, 0x0C, 'H', 'S', 'E', 0x02, 0xCD, 9, 0x30, 0x39}));
    Bytes again = exchange(read, 64);
    ASSERT_EQ(again.size(), 64u);
    EXPECT_TRUE(std::equal(fields, fields + 10, again.begin() + 16));
    EXPECT_EQ(again[4], 0x00);
}

TEST_F(Messages, ControlBlockReadAndWriteBack) {
    EXPECT_EQ(exchange(Bytes(64, 0), 64), powerOnControlBlock());

    Bytes write = powerOnControlBlock();
    write[1] = 0xFF;
    write[2] = 0x01;                  // relays on
    write[5] = 0x1F;                  // 8000 samples per second
    write[6] = 0x40;
    write[32 + 8 * 2 + 4] = 0xFF;     // channel 2, network 3
    write[32 + 8 * 1 + 3] = 0xFF;     // channel 1, lead flag
    Bytes stored = write;
    stored[1] = 0x00;                 // the marker is not kept
    EXPECT_EQ(exchange(write, 64), stored);

    auto block = emu_->controlBlock();
    EXPECT_EQ(Bytes(block.begin(), block.end()), stored);
    EXPECT_EQ(exchange(Bytes(64, 0), 64), stored);
    EXPECT_TRUE(emu_->streamStats().outputOn);
}

TEST_F(Messages, ChannelMaskRegister) {
    Bytes readForm = {0xCC, 0x00, 0x0D, 0x00, 0x00, 0x00};
    EXPECT_EQ(exchange(readForm, 64), msg({0xCC, 0x00, 0x0D, 0xFF, 0x0F, 0x00}, 64));

    EXPECT_EQ(exchange({0xCC, 0xFF, 0x0D, 0x00, 0x03, 0x07}, 64),
              msg({0xCC, 0xFF, 0x0D, 0xFF, 0x03, 0x07}, 64));
    EXPECT_EQ(emu_->enableMask(), 0x03);
    EXPECT_EQ(emu_->leadMask(), 0x07);
    EXPECT_EQ(exchange(readForm, 64), msg({0xCC, 0x00, 0x0D, 0xFF, 0x03, 0x07}, 64));
}

TEST_F(Messages, CalibrationDacAndStatusRegisters) {
    EXPECT_FALSE(emu_->calibrationMode());
    EXPECT_EQ(exchange(msg({0xCC, 0xFF, 0x06, 0x00, 0x01}, 64), 64),
              msg({0xCC, 0xFF, 0x06, 0xFF, 0x01}, 64));
    EXPECT_TRUE(emu_->calibrationMode());
    EXPECT_EQ(exchange(msg({0xCC, 0xFF, 0x06, 0x00, 0x00}, 64), 64),
              msg({0xCC, 0xFF, 0x06, 0xFF, 0x00}, 64));
    EXPECT_FALSE(emu_->calibrationMode());

    // First word 0x1234, second word -1 as the host's low 16 bits.
    EXPECT_EQ(exchange(msg({0xCC, 0xFF, 0x07, 0x00, 0x12, 0x34, 0xFF, 0xFF}, 64), 64),
              msg({0xCC, 0xFF, 0x07, 0xFF, 0x12, 0x34, 0xFF, 0xFF}, 64));
    EXPECT_EQ(emu_->dacWord1(), 0x1234);
    EXPECT_EQ(emu_->dacWord2(), 0xFFFF);

    EXPECT_EQ(exchange({0xCC, 0x00, 0x0F, 0x00, 0x00, 0x00}, 64),
              msg({0xCC, 0x00, 0x0F, 0xFF, 0x01}, 64));
    EXPECT_EQ(exchange(msg({0xCC, 0xFF, 0x0F, 0x00}, 64), 64), msg({0xCC, 0xFF, 0x0F, 0xFF}, 64));
    EXPECT_EQ(emu_->hardwareStatus(), 0x00);

    // A register the device does not have is refused.
    EXPECT_EQ(exchange(msg({0xCC, 0xFF, 0x09, 0x00, 0x05}, 64), 64), msg({0xCC, 0xFF, 0x09}, 64));
}

TEST_F(Messages, RespirationSettings) {
    Bytes settings = msg({0xEA, 0xFF, 0x01, 0, 0, 0, 0, 0, 15, 2, 3, 2, 1}, 19);
    Bytes expected = settings;
    expected[3] = 0xFF;
    expected.resize(64, 0);
    EXPECT_EQ(exchange(settings, 64), expected);
    auto stored = emu_->respirationSettings();
    EXPECT_EQ(Bytes(stored.begin(), stored.end()), settings);
}

TEST_F(Messages, BlockUploadAndOutputSwitch) {
    // Waveform information for one 1 Hz period: 2000 samples (07 D0),
    // frequency 100 hundredths (00 64), function 7.
    Bytes info = msg({0xEA, 0xFF, 0x01, 0, 0, 0, 0x07, 0xD0, 0x00, 0x64, 7}, 64);
    Bytes echo = info;
    echo[3] = 0xFF;
    EXPECT_EQ(exchange(info, 64), echo);
    auto storedInfo = emu_->waveformInfo();
    EXPECT_EQ(Bytes(storedInfo.begin(), storedInfo.end()), info);

    // Two chunks: samples 0..13 and 14..27, sample i = DC 0x8000 + i, AC -i.
    for (uint16_t index : {0, 14}) {
        Bytes chunk = msg({0xEA, 0xFF, 0x04, 0, 0, 0, 0, static_cast<uint8_t>(index)}, 64);
        for (int i = 0; i < 14; ++i) {
            int s = index + i;
            uint16_t ac = static_cast<uint16_t>(-s);
            chunk[8 + 4 * i] = 0x80;
            chunk[9 + 4 * i] = static_cast<uint8_t>(s);
            chunk[10 + 4 * i] = static_cast<uint8_t>(ac >> 8);
            chunk[11 + 4 * i] = static_cast<uint8_t>(ac);
        }
        Bytes chunkEcho = chunk;
        chunkEcho[3] = 0xFF;
        EXPECT_EQ(exchange(chunk, 64), chunkEcho);
    }
    auto samples = emu_->uploadedSamples();
    ASSERT_EQ(samples.size(), 28u);
    for (int s = 0; s < 28; ++s) {
        EXPECT_EQ(samples[s].dc, 0x8000 + s);
        EXPECT_EQ(samples[s].ac, -s);
    }

    Bytes setting = msg({0xEA, 0xFF, 0x00, 0x00, 0x01, 0, 0, 0, 0x07, 0xD0, 0x00, 0x00, 0x04}, 64);
    Bytes settingEcho = setting;
    settingEcho[3] = 0xFF;
    EXPECT_EQ(exchange(setting, 64), settingEcho);
    EXPECT_TRUE(emu_->blockOutputOn());

    EXPECT_EQ(exchange({0xEA, 0xFF, 0x00, 0x00, 0x00}, 64), msg({0xEA, 0xFF, 0x00, 0xFF}, 64));
    EXPECT_FALSE(emu_->blockOutputOn());

    // A new waveform information message starts a new upload.
    EXPECT_EQ(exchange(info, 64), echo);
    EXPECT_TRUE(emu_->uploadedSamples().empty());
}

TEST_F(Messages, RomSaveIsConfirmedOnTheThirdStatusQuery) {
    Bytes info = msg({0xEA, 0xFF, 0x01, 0, 0, 0, 0x00, 0x0E, 0x00, 0x64, 1}, 64);
    ASSERT_EQ(exchange(info, 64).size(), 64u);
    Bytes chunk = msg({0xEA, 0xFF, 0x04, 0, 0, 0, 0, 0, 0x12, 0x34, 0x00, 0x07}, 64);
    ASSERT_EQ(exchange(chunk, 64).size(), 64u);

    // A slot that was never saved is idle (ready) and empty.
    EXPECT_EQ(exchange({0xEA, 0x00, 0x07, 0x00, 0x02, 0x00}, 64),
              msg({0xEA, 0x00, 0x07, 0xFF, 0x02, 0x00}, 64));

    EXPECT_EQ(exchange({0xEA, 0xFF, 0x07, 0x00, 0x01}, 64), msg({0xEA, 0xFF, 0x07, 0xFF, 0x01}, 64));
    Bytes status = {0xEA, 0x00, 0x07, 0x00, 0x01, 0x00};
    EXPECT_EQ(exchange(status, 64), msg({0xEA, 0x00, 0x07, 0x00, 0x01, 0x80}, 64));
    EXPECT_FALSE(emu_->romSlot(1).has_value());
    EXPECT_EQ(exchange(status, 64), msg({0xEA, 0x00, 0x07, 0x00, 0x01, 0x80}, 64));
    EXPECT_EQ(exchange(status, 64), msg({0xEA, 0x00, 0x07, 0xFF, 0x01, 0x01}, 64));
    EXPECT_EQ(exchange(status, 64), msg({0xEA, 0x00, 0x07, 0xFF, 0x01, 0x01}, 64));

    auto slot = emu_->romSlot(1);
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(Bytes(slot->waveformInfo.begin(), slot->waveformInfo.end()), info);
    ASSERT_EQ(slot->samples.size(), 14u);
    EXPECT_EQ(slot->samples[0].dc, 0x1234);
    EXPECT_EQ(slot->samples[0].ac, 7);
}

TEST_F(Messages, ReceivedLogKeepsKindsBytesAndOrder) {
    Bytes probe = {0x55, 0x00, 0x00};
    Bytes regRead = {0xCC, 0x00, 0x0D, 0x00, 0x00, 0x00};
    exchange(probe, 12);
    exchange(Bytes(64, 0), 64);
    exchange(regRead, 64);
    ASSERT_TRUE(emu_->waitForMessages(3, 2000));
    auto log = emu_->received();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].kind, "probe");
    EXPECT_EQ(log[0].bytes, probe);
    EXPECT_EQ(log[1].kind, "control-read");
    EXPECT_EQ(log[1].bytes, Bytes(64, 0));
    EXPECT_EQ(log[2].kind, "register-read");
    EXPECT_EQ(log[2].bytes, regRead);
    EXPECT_LE(log[0].at, log[1].at);
    EXPECT_LE(log[1].at, log[2].at);
    EXPECT_EQ(emu_->received("probe").size(), 1u);
    EXPECT_TRUE(emu_->received("stream").empty());

    emu_->clearReceived();
    EXPECT_TRUE(emu_->received().empty());
    EXPECT_FALSE(emu_->waitForMessages(1, 30, "probe"));
    exchange(probe, 12);
    EXPECT_TRUE(emu_->waitForMessages(1, 2000, "probe"));
}

}  // namespace
}  // namespace emutest

// Device information, serial number, information block and storage.
#include "Fixture.h"

#include "output/Engine.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Handshake.h"
#include "runtime/Sync.h"

#include <cstring>

using namespace hsimtest;

TEST_F(EmulatorTest, SerialNumberFormatsTheModelRecord)
{
    connect();
    g_ModelInfo = MODEL_INFORMATION{0x41, 0x42, 0x01, 0xAB, 123, 7};
    EXPECT_STREQ(HSIMGetSerialNumber(), "HAB01AB-070123");
    // Wider numbers print all their digits and still fit.
    g_ModelInfo = MODEL_INFORMATION{0x41, 0x42, 0x01, 0xAB, 12345, 100};
    EXPECT_STREQ(HSIMGetSerialNumber(), "HAB01AB-10012345");
}

TEST_F(EmulatorTest, InformationBlockUpdateStopsAtTheFlashErase)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    MODEL_INFORMATION info{0x41, 0x42, 0x01, 0x02, 3, 4};
    {
        CAutoCriticalSection lock(g_CriticalSection);
        EXPECT_NE(hsim::SetHWInfo(0x66, 0x77), hsim::Status::Ok);
        EXPECT_NE(hsim::SetModelInfo(info), hsim::Status::Ok);
    }
    // Each read the block once with command 0x0C and wrote nothing back.
    auto reads = emulator.received("info-read");
    ASSERT_EQ(reads.size(), 2u);
    std::vector<uint8_t> expected(64, 0);
    const uint8_t head[8] = {0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x0C};
    std::copy(head, head + 8, expected.begin());
    EXPECT_EQ(reads[0].bytes, expected);
    EXPECT_EQ(reads[1].bytes, expected);
    EXPECT_TRUE(emulator.received("info-write").empty());
    EXPECT_EQ(emulator.received().size(), 2u);

    // The exported forms report the failure as 0.
    EXPECT_EQ(HSIMSetHWInformation(1, 2), 0);
    EXPECT_EQ(HSIMSetDeviceInformation(&info), 0);
    uint32_t words[5];
    ASSERT_EQ(HSIMGetHWInformation(words), 1);
    EXPECT_EQ(words[3], 0x11u) << "the host copy is unchanged";
}

TEST_F(EmulatorTest, StorageReportsFailureWithoutTraffic)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    unsigned char buffer[200];
    memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(HSIMReadMfgInfo(buffer, 200), 0);
    for (unsigned char b : buffer)
        ASSERT_EQ(b, 0x5A) << "the buffer is not written";
    EXPECT_EQ(HSIMWriteMfgInfo(buffer, 10), 0);
    EXPECT_EQ(HSIMWriteDCCalibrationData(0, 0x1234), 0);
    EXPECT_EQ(HSIMWriteDCCalibrationData(7, 0x1234), 0);
    EXPECT_EQ(HSIMSetDCOffsetCalibrationData(0, 5), 0);
    EXPECT_EQ(HSIMSetFixedDCByDAC(100), 0);
    EXPECT_EQ(HSIMUpdateFwLoadFirmwareFile(nullptr, nullptr, nullptr, nullptr), -1);
    HSIMUpdateFwBurnBinFile(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(emulator.received().empty());
}

TEST(NoDevice, InformationIsRefused)
{
    MODEL_INFORMATION info;
    memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(HSIMGetDeviceInformation(&info), 0);
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        ASSERT_EQ(raw[i], 0x5A) << "the caller's buffer is left untouched";
    uint32_t words[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(HSIMGetHWInformation(words), 0);
    EXPECT_EQ(words[0], 9u);

    // The serial text is built from zero fields: "H", two NULs, then digits.
    const char* serial = HSIMGetSerialNumber();
    EXPECT_STREQ(serial, "H");
    EXPECT_EQ(std::string(serial, 15), std::string("H\0\0" "0000-000000", 15));

    EXPECT_EQ(HSIMSetDeviceInformation(&info), 0);
    EXPECT_EQ(HSIMSetHWInformation(1, 2), 0);
    EXPECT_EQ(HSIMWriteDCCalibrationData(0, 1), 0);
    EXPECT_EQ(HSIMGetVersion(), 16778498);
}

TEST(NoDevice, NullPointersAreRefused)
{
    EXPECT_EQ(HSIMGetDeviceInformation(nullptr), 0);
    EXPECT_EQ(HSIMGetHWInformation(nullptr), 0);
    EXPECT_EQ(HSIMSetDeviceInformation(nullptr), 0);
    EXPECT_EQ(HSIMReadMfgInfo(nullptr, 10), 0);
    EXPECT_EQ(HSIMWriteMfgInfo(nullptr, 10), 0);
}

TEST(NoDevice, EnableRespirationOffClearsTheModulation)
{
    hsim::g_Engine.synth.resp.BaselineModV = 0.2;
    hsim::g_Engine.synth.resp.AmpModV = 0.3;
    hsim::g_Engine.synth.resp.FreqModHz = 0.1;
    EXPECT_FALSE(EnableRespiration(false));
    EXPECT_EQ(hsim::g_Engine.synth.resp.BaselineModV, 0.0);
    EXPECT_EQ(hsim::g_Engine.synth.resp.AmpModV, 0.0);
    EXPECT_EQ(hsim::g_Engine.synth.resp.FreqModHz, 0.0);
}

// Device information, serial number, information block and storage.
#include "protocol/Exchange.h"
#include "Fixture.h"

#include "protocol/DeviceInformation.h"
#include "runtime/Sync.h"

#include <algorithm>
#include <cstring>

using namespace hsimtest;

TEST_F(EmulatorTest, InformationBlockUpdateStopsAtTheFlashErase)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    MODEL_INFORMATION info{0x41, 0x42, 0x01, 0x02, 3, 4};
    {
        ContextGuard lock(hsim::ContextLock());
        EXPECT_NE(hsim::SetHWInfo(0x66, 0x77), hsim::Status::Ok);
        EXPECT_NE(hsim::SetModelInfo(info), hsim::Status::Ok);
    }
    // Each read the block once with command 0x0C and wrote nothing back.
    Bytes expected = {0x12, 0x55, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x0C};
    expected.resize(64, 0);
    auto messages = emulator.received();
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& m : messages) {
        EXPECT_EQ(m.kind, "info-read");
        EXPECT_EQ(m.bytes, expected);
    }
    // The exported forms report the failure as 0 and keep the host copies.
    EXPECT_EQ(HSIMSetHWInformation(1, 2), 0);
    EXPECT_EQ(HSIMSetDeviceInformation(&info), 0);
    uint32_t words[5];
    ASSERT_EQ(HSIMGetHWInformation(words), 1);
    EXPECT_EQ(words[3], 0x11u);
    MODEL_INFORMATION now;
    ASSERT_EQ(HSIMGetDeviceInformation(&now), 1);
    EXPECT_EQ(now.Code2, 0xAB);
}

TEST_F(EmulatorTest, StorageReportsFailureWithoutTraffic)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    unsigned char buffer[200];
    memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(HSIMReadMfgInfo(buffer, 200), 0);
    EXPECT_EQ(std::count(buffer, buffer + 200, 0x5A), 200) << "the buffer is not written";
    EXPECT_EQ(HSIMWriteMfgInfo(buffer, 10) + HSIMWriteDCCalibrationData(0, 0x1234) +
                  HSIMWriteDCCalibrationData(7, 0x1234) + HSIMSetDCOffsetCalibrationData(0, 5) + HSIMSetFixedDCByDAC(100),
              0);
    EXPECT_EQ(HSIMUpdateFwLoadFirmwareFile(nullptr, nullptr, nullptr, nullptr), -1);
    SleepMs(50);
    EXPECT_TRUE(emulator.received().empty());
}

TEST(NoDevice, InformationIsRefused)
{
    MODEL_INFORMATION info;
    memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(HSIMGetDeviceInformation(&info), 0);
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(&info);
    EXPECT_EQ(std::count(raw, raw + sizeof info, 0x5A), long(sizeof info)) << "the buffer is left untouched";
    uint32_t words[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(HSIMGetHWInformation(words), 0);
    EXPECT_EQ(words[0], 9u);
    // The serial text is built from zero fields: "H", two NULs, then digits.
    EXPECT_EQ(std::string(HSIMGetSerialNumber(), 15), std::string("H\0\0" "0000-000000", 15));
    EXPECT_EQ(HSIMSetDeviceInformation(&info) + HSIMSetHWInformation(1, 2) + HSIMWriteDCCalibrationData(0, 1), 0);
    // Null pointers are refused.
    EXPECT_EQ(HSIMGetDeviceInformation(nullptr) + HSIMGetHWInformation(nullptr) + HSIMSetDeviceInformation(nullptr) +
                  HSIMReadMfgInfo(nullptr, 10) + HSIMWriteMfgInfo(nullptr, 10),
              0);
}

// Configuration commands, byte for byte as the device receives them.
#include "Fixture.h"

#include "output/Engine.h"
#include "protocol/Commands.h"

#include <array>
#include <cstring>

using namespace hsimtest;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes LastOf(const hsimemu::Emulator& emulator, const std::string& kind)
{
    auto messages = emulator.received(kind);
    return messages.empty() ? Bytes{} : messages.back().bytes;
}

// Every byte of `written` equals `before` except those listed.
void ExpectOnlyChanged(const std::array<uint8_t, 64>& before, const Bytes& written,
                       std::initializer_list<int> changed)
{
    ASSERT_EQ(written.size(), 64u);
    for (int i = 0; i < 64; ++i) {
        bool listed = false;
        for (int c : changed)
            listed = listed || c == i;
        if (!listed) {
            EXPECT_EQ(written[i], before[i]) << "byte " << i << " must go back as the device sent it";
        }
    }
}

}  // namespace

TEST_F(EmulatorTest, SetRelaysWritesRelayByteAndSampleRate)
{
    hsimemu::Emulator& emulator = connect();
    auto before = emulator.controlBlock();
    emulator.clearReceived();
    // Output function 0 at 40000 samples per second.
    EXPECT_FALSE(SetRelays(false)) << "false means every transfer completed";
    ASSERT_EQ(emulator.received("control-read").size(), 1u);
    EXPECT_EQ(emulator.received("control-read")[0].bytes, Bytes(64, 0));
    Bytes written = LastOf(emulator, "control-write");
    ExpectOnlyChanged(before, written, {1, 2, 5, 6});
    EXPECT_EQ(written[1], 0xFF);
    EXPECT_EQ(written[2], 8);
    EXPECT_EQ(written[5], 0x9C);
    EXPECT_EQ(written[6], 0x40);
}

TEST_F(EmulatorTest, SetRelaysReportsFailureAsTrue)
{
    hsimemu::Emulator& emulator = connect();
    emulator.setFault(hsimemu::Fault::Mute, true);
    EXPECT_TRUE(SetRelays(true));
}

TEST_F(EmulatorTest, InputImpedanceModeTravelsInTheChannelRecord)
{
    hsimemu::Emulator& emulator = connect();
    auto before = emulator.controlBlock();
    emulator.clearReceived();
    EXPECT_TRUE(SetInputImpedanceMode(2, 3));
    Bytes written = LastOf(emulator, "control-write");
    ExpectOnlyChanged(before, written, {1, 48, 49, 52});
    EXPECT_EQ(written[48], 0x00);
    EXPECT_EQ(written[49], 0x00);
    EXPECT_EQ(written[52], 0xFF);
    EXPECT_EQ(GetInputImpedanceMode(2), 3);
    EXPECT_EQ(HSIMGetInputImpedanceMode(2), 3);

    EXPECT_EQ(HSIMSetInputImpedanceMode(2, 1), 0);
    EXPECT_EQ(GetInputImpedanceMode(2), 1);
    EXPECT_EQ(HSIMSetInputImpedanceMode(2, 2), 0);
    EXPECT_EQ(GetInputImpedanceMode(2), 2);
    EXPECT_EQ(HSIMSetInputImpedanceMode(2, 0), 0);
    EXPECT_EQ(GetInputImpedanceMode(2), 0);
    EXPECT_EQ(HSIMSetInputImpedanceMode(2, 4), -2);
    EXPECT_EQ(HSIMSetInputImpedanceMode(2, -1), -2);
}

TEST_F(EmulatorTest, SignalGroundAndLeadFlags)
{
    hsimemu::Emulator& emulator = connect();
    EXPECT_EQ(HSIMSetSignalGroundToGNDGround(1, true), 0);
    EXPECT_EQ(emulator.controlBlock()[32 + 8 + 5], 0xFF);
    EXPECT_EQ(HSIMGetSignalGroundToGNDGround(1), 1);
    EXPECT_TRUE(GetSignalGroundToGNDGround(1));
    EXPECT_EQ(HSIMSetSignalGroundToGNDGround(1, false), 0);
    EXPECT_EQ(HSIMGetSignalGroundToGNDGround(1), 0);

    // The lead flag is raised for lead 0 and cleared for any other lead.
    EXPECT_EQ(HSIMSetOutputLead(3, OUTPUT_LEAD_SECONDARY), 0);
    EXPECT_EQ(emulator.controlBlock()[32 + 24 + 3], 0x00);
    EXPECT_EQ(HSIMSetOutputLead(3, OUTPUT_LEAD_PRIMARY), 0);
    EXPECT_EQ(emulator.controlBlock()[32 + 24 + 3], 0xFF);
}

TEST_F(EmulatorTest, DcOffsetCodeFollowsVariableModeAndSetting)
{
    hsimemu::Emulator& emulator = connect();
    auto code = [&] { return emulator.controlBlock()[32 + 2]; };
    // In variable mode the code is 0x10 whatever the setting.
    ASSERT_EQ(HSIMSetDCOffsetVariableMode(0, true), 0);
    EXPECT_TRUE(HSIMGetDCOffsetVariableMode());
    EXPECT_EQ(HSIMSetDCOffset(0, -300), 0);
    EXPECT_EQ(code(), 0x10);
    EXPECT_EQ(HSIMGetDCOffset(), -300);

    EXPECT_EQ(HSIMSetDCOffsetVariableMode(0, false), 0);
    EXPECT_FALSE(HSIMGetDCOffsetVariableMode());
    EXPECT_EQ(code(), 0x02);  // fixed -300 mV
    EXPECT_EQ(HSIMSetDCOffset(0, 300), 0);
    EXPECT_EQ(code(), 0x01);  // fixed +300 mV
    EXPECT_EQ(HSIMSetDCOffset(0, 299), 0);
    EXPECT_EQ(code(), 0x00);
    // Raw data on the DC channel suppress the fixed offsets.
    hsim::g_Engine.synth.dc.bRawVariableDC = true;
    EXPECT_EQ(HSIMSetDCOffset(0, 300), 0);
    EXPECT_EQ(code(), 0x00);
    hsim::g_Engine.synth.dc.bRawVariableDC = false;

    EXPECT_EQ(HSIMSetDCOffset(0, 1001), -2);
    EXPECT_EQ(HSIMSetDCOffset(0, -1001), -2);
    EXPECT_EQ(HSIMGetDCOffset(), 300) << "a refused call stores nothing";
    EXPECT_EQ(HSIMSetDCOffset(0, 1000), 0);
    EXPECT_EQ(HSIMSetDCOffset(0, -1000), 0);
}

TEST_F(EmulatorTest, ChannelMasksOfRegister0D)
{
    hsimemu::Emulator& emulator = connect();
    // Bring the device to enable mask 0x0F and lead mask 0x04.
    auto prepare = [] {
        ASSERT_TRUE(SetSelectedChannelLeads(0xFB, OUTPUT_LEAD_PRIMARY));
        ASSERT_TRUE(SetSelectedChannelLeads(0x04, OUTPUT_LEAD_SECONDARY));
        ASSERT_TRUE(SetSelectedChannelEnabled(0x0B, true));
    };
    prepare();
    ASSERT_EQ(emulator.enableMask(), 0x0F);
    ASSERT_EQ(emulator.leadMask(), 0x04);

    emulator.clearReceived();
    EXPECT_TRUE(SetSelectedChannelLeads(0x03, OUTPUT_LEAD_SECONDARY));
    auto reads = emulator.received("register-read");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].bytes, (Bytes{0xCC, 0x00, 0x0D, 0x00, 0x00, 0x00}));
    EXPECT_EQ(LastOf(emulator, "register-write"), (Bytes{0xCC, 0xFF, 0x0D, 0x00, 0x03, 0x07}));

    prepare();
    emulator.clearReceived();
    EXPECT_TRUE(SetSelectedChannelEnabled(0x02, false));
    EXPECT_EQ(LastOf(emulator, "register-write"), (Bytes{0xCC, 0xFF, 0x0D, 0x00, 0x0D, 0x04}));
}

TEST_F(EmulatorTest, CalibrationRegisters)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    EXPECT_TRUE(SetOutputDac(0x1234, -1));
    Bytes dac = LastOf(emulator, "register-write");
    ASSERT_EQ(dac.size(), 64u);
    EXPECT_EQ(Bytes(dac.begin(), dac.begin() + 8), (Bytes{0xCC, 0xFF, 0x07, 0x00, 0x12, 0x34, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(dac.begin() + 8, dac.end()), Bytes(56, 0));
    EXPECT_EQ(emulator.dacWord1(), 0x1234);
    EXPECT_EQ(emulator.dacWord2(), 0xFFFF);

    EXPECT_EQ(HSIMSetCalibrationMode(true), 1);
    EXPECT_EQ(LastOf(emulator, "register-write")[4], 1);
    EXPECT_TRUE(emulator.calibrationMode());
    EXPECT_EQ(HSIMSetCalibrationMode(false), 1);
    EXPECT_EQ(LastOf(emulator, "register-write")[4], 0) << "false switches calibration mode off";
    EXPECT_FALSE(emulator.calibrationMode());
    EXPECT_EQ(HSIMSetOutputDac(1, 2), 1);

    EXPECT_TRUE(ResetHwStatus());
    Bytes reset = LastOf(emulator, "register-write");
    Bytes expected(64, 0);
    expected[0] = 0xCC;
    expected[1] = 0xFF;
    expected[2] = 0x0F;
    EXPECT_EQ(reset, expected);
}

TEST_F(EmulatorTest, RespirationSettingsAreKeptOnlyWhenAccepted)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    ASSERT_TRUE(SetRespiration(3, 20, 2, 2, 20));
    Bytes message = LastOf(emulator, "respiration");
    Bytes expected(19, 0);
    expected[0] = 0xEA;
    expected[1] = 0xFF;
    expected[2] = 0x01;
    expected[8] = 20;  // frequency
    expected[9] = 3;   // variation
    expected[10] = 2;  // ratio
    expected[11] = 2;  // baseline step
    EXPECT_EQ(message, expected);
    EXPECT_EQ(hsim::g_Respiration.nRespirationResistance, 1500);
    EXPECT_EQ(hsim::g_Respiration.nRespirationApneaTime, 20);

    ASSERT_TRUE(SetApnea(true));
    EXPECT_EQ(LastOf(emulator, "respiration")[12], 1);
    EXPECT_EQ(LastOf(emulator, "respiration")[8], 20) << "apnea resends the stored settings";
    EXPECT_TRUE(hsim::g_Respiration.bRespirationApneaEnabled);

    // A device that does not answer leaves the host copy as it was.
    emulator.setFault(hsimemu::Fault::Mute, true);
    EXPECT_FALSE(SetRespiration(1, 30, 1, 4, 10));
    EXPECT_EQ(hsim::g_Respiration.nRespirationResistance, 1500);
    EXPECT_EQ(hsim::g_Respiration.nRespirationApneaTime, 20);
    EXPECT_EQ(hsim::g_Respiration.nRespirationFrequency, 20);
}

TEST_F(EmulatorTest, EnableRespirationWithDevice)
{
    hsimemu::Emulator& emulator = connect();
    ASSERT_TRUE(SetRespiration(3, 20, 2, 2, 20));
    emulator.clearReceived();
    EXPECT_TRUE(EnableRespiration(true));
    EXPECT_TRUE(hsim::g_Respiration.RespirationEnabled);
    EXPECT_EQ(emulator.received("control-write").size(), 1u);
    EXPECT_TRUE(EnableRespiration(false));
    EXPECT_EQ(hsim::g_Respiration.nRespirationResistance, 0);
    EXPECT_EQ(hsim::g_Respiration.nRespirationFrequency, 0);
}

TEST_F(EmulatorTest, BadChannelsAreRefusedBeforeAnyTransfer)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    for (int channel : {-1, 4, 1000}) {
        EXPECT_EQ(HSIMSetOutputLead(channel, OUTPUT_LEAD_PRIMARY), -2);
        EXPECT_EQ(HSIMSetInputImpedanceMode(channel, 0), -2);
        EXPECT_EQ(HSIMGetInputImpedanceMode(channel), -2);
        EXPECT_EQ(HSIMSetSignalGroundToGNDGround(channel, true), -2);
        EXPECT_EQ(HSIMGetSignalGroundToGNDGround(channel), -2);
        EXPECT_EQ(HSIMSetDCOffset(channel, 0), -2);
        EXPECT_EQ(HSIMSetDCOffsetVariableMode(channel, true), -2);
        EXPECT_FALSE(SetInputImpedanceMode(channel, 1));
        EXPECT_EQ(GetInputImpedanceMode(channel), 0);
        EXPECT_FALSE(SetSignalGroundToGNDGround(channel, true));
        EXPECT_FALSE(GetSignalGroundToGNDGround(channel));
        EXPECT_FALSE(SetOutputLead(channel, OUTPUT_LEAD_PRIMARY));
        EXPECT_FALSE(SetDcOffset(channel));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(emulator.received().empty());
}

TEST_F(EmulatorTest, OutputFunctionIsStoredAndWrittenToTheControlBlock)
{
    hsimemu::Emulator& emulator = connect();
    auto start = Clock::now();
    EXPECT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);
    EXPECT_GE(MsSince(start), 100) << "the function returns after its 100 ms pause";
    EXPECT_EQ(HSIMGetOutputFunction(), 1);
    EXPECT_EQ(emulator.controlBlock()[2], 1) << "relays on while a function is selected";
    EXPECT_EQ(HSIMSetOutputFunction(OUTPUT_OFF), 0);
    EXPECT_EQ(emulator.controlBlock()[2], 8);
    EXPECT_EQ(SetDCOffsetCommonMode(true), 0);
    EXPECT_TRUE(GetDCOffsetCommonMode());
    EXPECT_EQ(SetAllOutputState(0), 0);
}

TEST(NoDevice, FramedCallsRefuseWithMinusOne)
{
    // A refused call stores nothing.
    int function = HSIMGetOutputFunction();
    int offset = HSIMGetDCOffset();
    bool variable = HSIMGetDCOffsetVariableMode();
    bool common = GetDCOffsetCommonMode();
    EXPECT_EQ(HSIMSetOutputFunction(function + 1), -1);
    EXPECT_EQ(HSIMGetOutputFunction(), function);
    EXPECT_EQ(HSIMSetOutputLead(0, OUTPUT_LEAD_PRIMARY), -1);
    EXPECT_EQ(HSIMSetInputImpedanceMode(0, 1), -1);
    EXPECT_EQ(HSIMSetSignalGroundToGNDGround(0, true), -1);
    EXPECT_EQ(HSIMGetSignalGroundToGNDGround(0), 1);
    EXPECT_EQ(HSIMSetDCOffset(0, offset + 100), -1);
    EXPECT_EQ(HSIMGetDCOffset(), offset);
    EXPECT_EQ(HSIMSetDCOffsetVariableMode(0, !variable), -1);
    EXPECT_EQ(HSIMGetDCOffsetVariableMode(), variable);
    EXPECT_EQ(SetDCOffsetCommonMode(!common), -1);
    EXPECT_EQ(GetDCOffsetCommonMode(), common);
    EXPECT_EQ(SetAllOutputState(0), -1);
    EXPECT_EQ(HSIMGetInputImpedanceMode(0), -1);
}

TEST(NoDevice, CommandsFailWithoutWaiting)
{
    auto start = Clock::now();
    EXPECT_TRUE(SetRelays(true));
    EXPECT_FALSE(SetInputImpedanceMode(0, 1));
    EXPECT_FALSE(SetSelectedChannelEnabled(1, true));
    EXPECT_FALSE(SetSelectedChannelLeads(1, OUTPUT_LEAD_SECONDARY));
    EXPECT_FALSE(SetCalibrationMode(true));
    EXPECT_FALSE(SetOutputDac(1, 2));
    EXPECT_FALSE(ResetHwStatus());
    EXPECT_FALSE(SetApnea(true));
    EXPECT_FALSE(SetRespiration(1, 2, 3, 4, 5));
    EXPECT_EQ(HSIMSetCalibrationMode(true), 0);
    EXPECT_EQ(HSIMSetOutputDac(1, 2), 0);
    EXPECT_EQ(SendStopPacket(), 0);
    EXPECT_LT(MsSince(start), 1000);
}

TEST(NoDevice, EnableRespirationOffClearsTheState)
{
    hsim::g_Respiration.nRespirationResistance = 1500;
    hsim::g_Respiration.nRespirationApneaTime = 20;
    hsim::g_Respiration.nRespirationFrequency = 20;
    hsim::g_Respiration.nRespirationVariation = 3;
    hsim::g_Respiration.nRespirationRatio = 2;
    hsim::g_Respiration.nRespirationBaseline = 2;
    EXPECT_FALSE(EnableRespiration(false));
    EXPECT_FALSE(hsim::g_Respiration.RespirationEnabled);
    EXPECT_EQ(hsim::g_Respiration.nRespirationResistance, 0);
    EXPECT_EQ(hsim::g_Respiration.nRespirationApneaTime, 0);
    EXPECT_EQ(hsim::g_Respiration.nRespirationFrequency, 0);
    EXPECT_EQ(hsim::g_Respiration.nRespirationVariation, 0);
    EXPECT_EQ(hsim::g_Respiration.nRespirationRatio, 0);
    EXPECT_EQ(hsim::g_Respiration.nRespirationBaseline, 0);
}

TEST_F(EmulatorTest, StopTransferHoldsBothOutputsAtZero)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    EXPECT_EQ(SendStopPacket(), 3200);
    ASSERT_TRUE(emulator.waitForMessages(1, 2000, "stream"));
    Bytes transfer = LastOf(emulator, "stream");
    ASSERT_EQ(transfer.size(), 3200u);
    // Every packet: 01 01 00 00 00 0E FF 00, then fourteen times 80 00 00 00.
    Bytes packet = {0x01, 0x01, 0x00, 0x00, 0x00, 0x0E, 0xFF, 0x00};
    for (int i = 0; i < 14; ++i) {
        packet.insert(packet.end(), {0x80, 0x00, 0x00, 0x00});
    }
    for (int p = 0; p < 50; ++p) {
        EXPECT_EQ(Bytes(transfer.begin() + 64 * p, transfer.begin() + 64 * (p + 1)), packet)
            << "packet " << p;
    }
}

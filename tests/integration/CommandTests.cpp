// Configuration commands, byte for byte as the device receives them, and the
// results the exported functions give for them.
#include "protocol/Exchange.h"
#include "Fixture.h"

#include "output/Engine.h"
#include "protocol/Commands.h"
#include "runtime/Sync.h"

#include <array>

using namespace hsimtest;

namespace {

// SetRelays writes what the engine holds.
bool SelectAndWriteRelays(int function, int rate)
{
    ContextGuard lock(hsim::ContextLock());
    hsim::CurrentEngine().synth.out.MainOutput = function;
    hsim::CurrentEngine().synth.out.nSampleRate = rate;
    return !SetRelays(function != 0);
}

Bytes Message(std::initializer_list<uint8_t> lead, size_t length)
{
    Bytes b(lead);
    b.resize(length, 0);
    return b;
}

}  // namespace

// Each command reads the control block and writes it back with byte 1 =
// 0xFF and only its own bytes changed.
TEST_F(EmulatorTest, ControlBlockCommandsChangeOnlyTheirBytes)
{
    connect();
    struct Case {
        const char* what;
        std::function<bool()> send;
        std::vector<std::pair<int, uint8_t>> changed;
    } cases[] = {
        // Relays on (1) while a function is selected, off (8) when none; the
        // rate big-endian.
        {"relays on", [] { return SelectAndWriteRelays(7, 1000); }, {{2, 1}, {5, 0x03}, {6, 0xE8}}},
        {"relays off", [] { return SelectAndWriteRelays(0, 40000); }, {{2, 8}, {5, 0x9C}, {6, 0x40}}},
        {"impedance 3 on channel 2", [] { return SetInputImpedanceMode(2, 3); }, {{48, 0}, {49, 0}, {52, 0xFF}}},
        {"impedance 1", [] { return HSIMSetInputImpedanceMode(2, 1) == 0; }, {{48, 0xFF}, {49, 0}, {52, 0}}},
        {"impedance 2", [] { return HSIMSetInputImpedanceMode(2, 2) == 0; }, {{48, 0}, {49, 0xFF}, {52, 0}}},
        {"impedance 0", [] { return HSIMSetInputImpedanceMode(2, 0) == 0; }, {{48, 0}, {49, 0}, {52, 0}}},
        {"signal ground", [] { return HSIMSetSignalGroundToGNDGround(1, true) == 0; }, {{45, 0xFF}}},
        // The lead flag is raised for lead 0 and cleared for any other lead.
        {"secondary lead", [] { return SetOutputLead(3, OUTPUT_LEAD_SECONDARY); }, {{59, 0x00}}},
        {"primary lead", [] { return SetOutputLead(3, OUTPUT_LEAD_PRIMARY); }, {{59, 0xFF}}},
        // The common-mode flag has no field in the block; the state is not used.
        {"common mode", [] { return SetDCOffsetCommonMode(true) == 0 && GetDCOffsetCommonMode(); }, {}},
        {"output state", [] { return SetAllOutputState(0) == 0; }, {}},
    };
    for (const Case& c : cases) {
        auto before = emulator_->controlBlock();
        emulator_->clearReceived();
        ASSERT_TRUE(c.send()) << c.what;
        ASSERT_EQ(emulator_->received("control-read").back().bytes, Bytes(64, 0)) << c.what;
        Bytes expected(before.begin(), before.end());
        expected[1] = 0xFF;
        for (auto [index, value] : c.changed)
            expected[index] = value;
        EXPECT_EQ(lastOf("control-write"), expected) << c.what;
    }
    // The queries read back what the device holds.
    EXPECT_EQ(GetInputImpedanceMode(2), 0);
    EXPECT_EQ(HSIMGetSignalGroundToGNDGround(1), 1);
    EXPECT_TRUE(GetSignalGroundToGNDGround(1));
    EXPECT_EQ(HSIMSetSignalGroundToGNDGround(1, false), 0);
    EXPECT_EQ(HSIMGetSignalGroundToGNDGround(1), 0);
    EXPECT_EQ(HSIMSetInputImpedanceMode(0, 3), 0);
    EXPECT_EQ(HSIMGetInputImpedanceMode(0), 3);
}

TEST_F(EmulatorTest, DcOffsetCodeFollowsVariableModeSettingAndRawData)
{
    hsimemu::Emulator& emulator = connect();
    // Variable mode gives 0x10 whatever the setting; otherwise the fixed
    // relays for +-300 mV only, and none while raw data drive the DC channel.
    struct Case {
        bool variable;
        int mv;
        bool raw;
        uint8_t code;
    } cases[] = {{true, -300, false, 0x10}, {false, -300, false, 0x02}, {false, 300, false, 0x01},
                 {false, 299, false, 0x00}, {false, 1000, false, 0x00}, {false, 300, true, 0x00}};
    for (const Case& c : cases) {
        hsim::CurrentEngine().synth.dc.bRawVariableDC = c.raw;
        ASSERT_EQ(HSIMSetDCOffsetVariableMode(0, c.variable), 0);
        EXPECT_EQ(HSIMGetDCOffsetVariableMode(), c.variable);
        ASSERT_EQ(HSIMSetDCOffset(0, c.mv), 0);
        EXPECT_EQ(HSIMGetDCOffset(), c.mv);
        EXPECT_EQ(emulator.controlBlock()[32 + 2], c.code) << c.mv << (c.variable ? " variable" : "");
    }
    hsim::CurrentEngine().synth.dc.bRawVariableDC = false;
    EXPECT_EQ(HSIMSetDCOffset(0, 1001), -2);
    EXPECT_EQ(HSIMSetDCOffset(0, -1001), -2);
    EXPECT_EQ(HSIMGetDCOffset(), 300) << "a refused call stores nothing";
    EXPECT_EQ(HSIMSetDCOffset(0, -1000), 0);
}

// Register 0x0D is read, then written with the masks changed; the other
// registers are written in 64-byte messages.
TEST_F(EmulatorTest, RegistersCarryMasksCalibrationAndReset)
{
    hsimemu::Emulator& emulator = connect();
    // With the device at enable mask 0x0F and lead mask 0x04: a lead other
    // than 0 sets the lead bits and sends the mask as enable byte; disabling
    // clears enable bits and keeps the leads.
    for (auto [send, written] : {std::pair<std::function<bool()>, Bytes>{
                                     [] { return SetSelectedChannelLeads(0x03, OUTPUT_LEAD_SECONDARY); },
                                     {0xCC, 0xFF, 0x0D, 0x00, 0x03, 0x07}},
                                 {[] { return SetSelectedChannelEnabled(0x02, false); },
                                  {0xCC, 0xFF, 0x0D, 0x00, 0x0D, 0x04}}}) {
        ASSERT_TRUE(SetSelectedChannelLeads(0xFB, OUTPUT_LEAD_PRIMARY) &&
                    SetSelectedChannelLeads(0x04, OUTPUT_LEAD_SECONDARY) && SetSelectedChannelEnabled(0x0B, true));
        ASSERT_TRUE(emulator.enableMask() == 0x0F && emulator.leadMask() == 0x04);
        emulator.clearReceived();
        EXPECT_TRUE(send());
        EXPECT_EQ(emulator.received("register-read").at(0).bytes, (Bytes{0xCC, 0x00, 0x0D, 0x00, 0x00, 0x00}));
        EXPECT_EQ(lastOf("register-write"), written);
    }
    EXPECT_TRUE(SetOutputDac(0x1234, -1));
    EXPECT_EQ(lastOf("register-write"), Message({0xCC, 0xFF, 0x07, 0x00, 0x12, 0x34, 0xFF, 0xFF}, 64));
    EXPECT_TRUE(emulator.dacWord1() == 0x1234 && emulator.dacWord2() == 0xFFFF);
    EXPECT_EQ(HSIMSetCalibrationMode(true), 1);
    EXPECT_EQ(lastOf("register-write"), Message({0xCC, 0xFF, 0x06, 0x00, 0x01}, 64));
    EXPECT_TRUE(emulator.calibrationMode());
    EXPECT_EQ(HSIMSetCalibrationMode(false), 1);
    EXPECT_FALSE(emulator.calibrationMode()) << "false switches calibration mode off";
    EXPECT_EQ(HSIMSetOutputDac(1, 2), 1);
    EXPECT_EQ(emulator.dacWord2(), 2);
    EXPECT_TRUE(ResetHwStatus());
    EXPECT_EQ(lastOf("register-write"), Message({0xCC, 0xFF, 0x0F}, 64));
}

TEST_F(EmulatorTest, RespirationSettingsAreKeptOnlyWhenAccepted)
{
    hsimemu::Emulator& emulator = connect();
    const hsim::RespirationHardware& r = hsim::CurrentRespiration();
    ASSERT_TRUE(SetRespiration(3, 20, 2, 2, 20));
    // Frequency, variation, ratio and baseline step in bytes 8 to 11.
    EXPECT_EQ(lastOf("respiration"), Message({0xEA, 0xFF, 0x01, 0, 0, 0, 0, 0, 20, 3, 2, 2}, 19));
    EXPECT_EQ(r.nRespirationResistance, 1500);
    EXPECT_EQ(r.nRespirationApneaTime, 20);
    ASSERT_TRUE(SetApnea(true));
    EXPECT_EQ(lastOf("respiration"), Message({0xEA, 0xFF, 0x01, 0, 0, 0, 0, 0, 20, 3, 2, 2, 1}, 19))
        << "apnea resends the stored settings";
    EXPECT_TRUE(r.bRespirationApneaEnabled);

    emulator.clearReceived();
    EXPECT_TRUE(EnableRespiration(true));
    EXPECT_TRUE(r.RespirationEnabled);
    EXPECT_EQ(emulator.received("control-write").size(), 1u);

    // A device that does not answer leaves the host copy as it was.
    emulator.setFault(hsimemu::Fault::Mute, true);
    EXPECT_FALSE(SetRespiration(1, 30, 1, 4, 10));
    EXPECT_EQ(r.nRespirationResistance, 1500);
    EXPECT_EQ(r.nRespirationFrequency, 20);
    emulator.setFault(hsimemu::Fault::Mute, false);
    EXPECT_TRUE(EnableRespiration(false));
    EXPECT_EQ(r.nRespirationResistance, 0);
}

TEST_F(EmulatorTest, BadChannelsAreRefusedBeforeAnyTransfer)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    for (int channel : {-1, 4, 1000}) {
        for (int result : {HSIMSetOutputLead(channel, OUTPUT_LEAD_PRIMARY), HSIMSetInputImpedanceMode(channel, 0),
                           HSIMGetInputImpedanceMode(channel), HSIMSetSignalGroundToGNDGround(channel, true),
                           HSIMGetSignalGroundToGNDGround(channel), HSIMSetDCOffset(channel, 0),
                           HSIMSetDCOffsetVariableMode(channel, true)})
            EXPECT_EQ(result, -2) << channel;
        for (bool ok : {SetInputImpedanceMode(channel, 1), SetSignalGroundToGNDGround(channel, true),
                        GetSignalGroundToGNDGround(channel), SetOutputLead(channel, OUTPUT_LEAD_PRIMARY),
                        SetDcOffset(channel)})
            EXPECT_FALSE(ok) << channel;
        EXPECT_EQ(GetInputImpedanceMode(channel), 0);
    }
    EXPECT_EQ(HSIMSetInputImpedanceMode(0, 4), -2);
    EXPECT_EQ(HSIMSetInputImpedanceMode(0, -1), -2);
    SleepMs(50);
    EXPECT_TRUE(emulator.received().empty());
}

// A device that answers short fails the exchange: an I/O failure, never a
// refused argument or a success; the output lead alone reports it as -2, as
// its callers have always tested it.
TEST_F(EmulatorTest, FailedExchangesAreReportedAsSuch)
{
    hsimemu::Emulator& emulator = connect();
    emulator.setFault(hsimemu::Fault::ShortAnswers, true);
    EXPECT_EQ(HSIMSetOutputLead(0, OUTPUT_LEAD_PRIMARY), -2);
    for (int result : {HSIMSetInputImpedanceMode(0, 1),
                       HSIMGetInputImpedanceMode(0), HSIMSetSignalGroundToGNDGround(0, true),
                       HSIMGetSignalGroundToGNDGround(0), HSIMSetDCOffset(0, 5), HSIMSetDCOffsetVariableMode(0, true),
                       SetDCOffsetCommonMode(true), SetAllOutputState(0), HSIMSetOutputFunction(OUTPUT_SINE)})
        EXPECT_EQ(result, HSIM_ERROR_IO);
    EXPECT_FALSE(SetInputImpedanceMode(0, 1));
    EXPECT_EQ(GetInputImpedanceMode(0), 0);
    EXPECT_TRUE(SetRelays(true)) << "SetRelays reports the failure as true";
    EXPECT_EQ(HSIMSetCalibrationMode(true), 0);
    emulator.setFault(hsimemu::Fault::ShortAnswers, false);
    EXPECT_TRUE(SetInputImpedanceMode(0, 1));
    EXPECT_EQ(HSIMGetInputImpedanceMode(0), 1);
}

TEST_F(EmulatorTest, StopTransferHoldsBothOutputsAtZero)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    EXPECT_EQ(SendStopPacket(), 3200);
    ASSERT_TRUE(emulator.waitForMessages(1, 2000, "stream"));
    Bytes transfer = lastOf("stream");
    ASSERT_EQ(transfer.size(), 3200u);
    // Every packet: 01 01 00 00 00 0E FF 00, then fourteen times 80 00 00 00.
    Bytes packet = {0x01, 0x01, 0x00, 0x00, 0x00, 0x0E, 0xFF, 0x00};
    for (int i = 0; i < 14; ++i)
        packet.insert(packet.end(), {0x80, 0x00, 0x00, 0x00});
    for (int p = 0; p < 50; ++p)
        EXPECT_EQ(Bytes(transfer.begin() + 64 * p, transfer.begin() + 64 * (p + 1)), packet) << "packet " << p;
}

// Without a device every call refuses at once and stores nothing.
TEST(NoDevice, EverythingRefusesAtOnceAndStoresNothing)
{
    const int function = HSIMGetOutputFunction();
    const int offset = HSIMGetDCOffset();
    const bool variable = HSIMGetDCOffsetVariableMode();
    const bool common = GetDCOffsetCommonMode();
    auto start = Clock::now();
    for (int result : {HSIMSetOutputFunction(function + 1), HSIMSetOutputLead(0, OUTPUT_LEAD_PRIMARY),
                       HSIMSetInputImpedanceMode(0, 1), HSIMGetInputImpedanceMode(0),
                       HSIMSetSignalGroundToGNDGround(0, true), HSIMSetDCOffset(0, offset + 100),
                       HSIMSetDCOffsetVariableMode(0, !variable), SetDCOffsetCommonMode(!common),
                       SetAllOutputState(0)})
        EXPECT_EQ(result, -1);
    EXPECT_EQ(HSIMGetSignalGroundToGNDGround(0), 1) << "the device cannot be asked";
    for (bool ok : {SetInputImpedanceMode(0, 1), SetSelectedChannelEnabled(1, true),
                    SetSelectedChannelLeads(1, OUTPUT_LEAD_SECONDARY), SetCalibrationMode(true), SetOutputDac(1, 2),
                    ResetHwStatus(), SetApnea(true), SetRespiration(1, 2, 3, 4, 5)})
        EXPECT_FALSE(ok);
    EXPECT_TRUE(SetRelays(true));
    EXPECT_EQ(HSIMSetCalibrationMode(true) + HSIMSetOutputDac(1, 2) + SendStopPacket(), 0);
    EXPECT_EQ(SetRespireAlgorithmParam(15, 2, 0, 10, 10, 10), 0);
    EXPECT_LT(MillisecondsSince(start), 1000);
    EXPECT_EQ(HSIMGetOutputFunction(), function);
    EXPECT_EQ(HSIMGetDCOffset(), offset);
    EXPECT_EQ(HSIMGetDCOffsetVariableMode(), variable);
    EXPECT_EQ(GetDCOffsetCommonMode(), common);
}

// Switching respiration off clears the hardware settings and the
// modulation, with or without a device.
TEST(NoDevice, EnableRespirationOffClearsTheState)
{
    hsim::RespirationHardware& r = hsim::CurrentRespiration();
    r.nRespirationResistance = 1500;
    r.nRespirationApneaTime = 20;
    r.nRespirationFrequency = r.nRespirationVariation = r.nRespirationRatio = r.nRespirationBaseline = 2;
    hsim::RespirationModel& model = hsim::CurrentEngine().synth.resp;
    model.BaselineModV = 0.2;
    model.AmpModV = 0.3;
    model.FreqModHz = 0.1;
    EXPECT_FALSE(EnableRespiration(false)) << "no device";
    EXPECT_FALSE(r.RespirationEnabled);
    EXPECT_EQ(r.nRespirationResistance + r.nRespirationApneaTime, 0);
    EXPECT_EQ(r.nRespirationFrequency + r.nRespirationVariation + r.nRespirationRatio + r.nRespirationBaseline, 0);
    EXPECT_EQ(model.BaselineModV + model.AmpModV + model.FreqModHz, 0.0);
}

// Why a call to the device failed, as HSIMGetLastStatus tells it: each fault
// of the emulated device gives its cause, a call that goes through clears it,
// and each thread reads the status of its own calls.
#include "Fixture.h"

#include "lifecycle/DeviceContext.h"
#include "protocol/Exchange.h"

#include <cerrno>

using namespace hsimtest;

namespace {

HSIM_STATUS LastStatus()
{
    HSIM_STATUS status;
    memset(&status, 0x5A, sizeof status);
    const int cause = HSIMGetLastStatus(&status);
    EXPECT_EQ(cause, status.cause);
    return status;
}

void ExpectCleared(const char* after)
{
    const HSIM_STATUS s = LastStatus();
    const HSIM_STATUS none = {};
    EXPECT_EQ(memcmp(&s, &none, sizeof s), 0) << "after " << after << ": cause " << s.cause;
}

// The device's answer to the DC offset's first message, the control block
// read (64 zero bytes), goes missing or comes a byte short; the first sample
// chunk of an upload (EA FF 04, 64 bytes) comes back changed.
TEST_F(EmulatorTest, EachFaultGivesItsCauseAndASuccessClearsIt)
{
    struct Case {
        hsimemu::Fault fault;
        std::function<int()> call;
        int cause;
        int expected;
        int done;
        Bytes message;
    };
    const std::function<int()> dcOffset = [] { return HSIMSetDCOffset(0, 5); };
    const Case cases[] = {
        {hsimemu::Fault::Mute, dcOffset, HSIM_CAUSE_READ_FAILED, 64, 0, Bytes(8, 0)},
        {hsimemu::Fault::ShortAnswers, dcOffset, HSIM_CAUSE_SHORT_READ, 64, 63, Bytes(8, 0)},
        {hsimemu::Fault::CorruptChunkEcho, [] { return HSIMOutputSignal(OUTPUT_SINE); }, HSIM_CAUSE_REFUSED, 0, 0,
         Bytes{0xEA, 0xFF, 0x04}},
    };
    hsimemu::Emulator& emulator = connect();
    for (const Case& c : cases) {
        const int fault = int(c.fault);
        emulator.setFault(c.fault, true);
        EXPECT_EQ(c.call(), HSIM_ERROR_IO) << fault;
        const HSIM_STATUS s = LastStatus();
        EXPECT_EQ(s.cause, c.cause) << fault;
        EXPECT_EQ(s.osError, 0) << fault << ": a time-out is no OS error";
        EXPECT_EQ(s.bytesExpected, c.expected) << fault;
        EXPECT_EQ(s.bytesDone, c.done) << fault;
        EXPECT_EQ(s.messageLength, 64) << fault;
        EXPECT_EQ(Bytes(s.message, s.message + c.message.size()), c.message) << fault;
        emulator.setFault(c.fault, false);
        EXPECT_EQ(HSIMSetDCOffset(0, 0), 0);
        ExpectCleared("a call that went through");
    }
    // A test-mode setter without a device reports that, not the failure of
    // the call before it.
    emulator.setFault(hsimemu::Fault::Mute, true);
    EXPECT_EQ(HSIMSetDCOffset(0, 5), HSIM_ERROR_IO);
    HSIMFree();
    EXPECT_EQ(SetECG2_27_Noise(1, 1.0), -1);
    const HSIM_STATUS s = LastStatus();
    EXPECT_EQ(s.cause, HSIM_CAUSE_NO_DEVICE);
    EXPECT_EQ(s.messageLength, 0) << "nothing was sent";
}

// A device that hung up (its side of the line closed) fails the write with the
// OS's EIO. The presence monitor, which would close the port first, is paused.
TEST_F(EmulatorTest, HungUpDeviceFailsTheWriteWithEio)
{
    hsimemu::Emulator& emulator = connect();
    hsim::CurrentDevice().monitor.PauseMonitor();
    SleepMs(50);  // a presence test under way ends first
    emulator.unplug();
    EXPECT_EQ(HSIMSetDCOffset(0, 5), HSIM_ERROR_IO);
    const HSIM_STATUS s = LastStatus();
    EXPECT_EQ(s.cause, HSIM_CAUSE_WRITE_FAILED);
    EXPECT_EQ(s.osError, EIO);
    EXPECT_EQ(s.bytesExpected, 64);
    EXPECT_EQ(s.bytesDone, 0);
    hsim::CurrentDevice().monitor.StartMonitor(hsim::CurrentDevice());
}

// Each thread reads the cause of its own last call: another thread's failure
// or success does not change it. Inside an outer call, a nested call that goes
// through does not clear the outer call's first failure.
TEST_F(EmulatorTest, StatusBelongsToTheCallingThreadAndTheOuterCall)
{
    hsimemu::Emulator& emulator = connect();
    ASSERT_EQ(HSIMSetDCOffset(0, 0), 0);
    int otherCause = -1;
    emulator.setFault(hsimemu::Fault::Mute, true);
    std::thread([&] { otherCause = HSIMSetDCOffset(0, 5) == HSIM_ERROR_IO ? HSIMGetLastStatus(nullptr) : -1; })
        .join();
    EXPECT_EQ(otherCause, HSIM_CAUSE_READ_FAILED);
    EXPECT_EQ(HSIMGetLastStatus(nullptr), HSIM_CAUSE_NONE) << "another thread's failure";

    EXPECT_EQ(HSIMSetDCOffset(0, 5), HSIM_ERROR_IO);
    emulator.setFault(hsimemu::Fault::Mute, false);
    std::thread([&] { otherCause = HSIMSetDCOffset(0, 0) == 0 ? HSIMGetLastStatus(nullptr) : -1; }).join();
    EXPECT_EQ(otherCause, HSIM_CAUSE_NONE);
    EXPECT_EQ(HSIMGetLastStatus(nullptr), HSIM_CAUSE_READ_FAILED) << "another thread's success";

    {
        hsim::CommandFrame outer;
        ASSERT_TRUE(outer.open());
        emulator.setFault(hsimemu::Fault::ShortAnswers, true);
        EXPECT_EQ(HSIMSetDCOffset(0, 5), HSIM_ERROR_IO);
        emulator.setFault(hsimemu::Fault::ShortAnswers, false);
        EXPECT_EQ(HSIMSetDCOffset(0, 0), 0);
        EXPECT_EQ(HSIMGetLastStatus(nullptr), HSIM_CAUSE_SHORT_READ);
    }
    EXPECT_EQ(HSIMSetDCOffset(0, 0), 0);
    ExpectCleared("the next outer call");
}

}  // namespace

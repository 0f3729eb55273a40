// The poll thread and the command window, against a device that plays in
// real time and asks for data before it runs dry: while output streams,
// every other exchange falls between a data request and its answer.
#include "Fixture.h"

#include "output/Engine.h"
#include "protocol/Exchange.h"
#include "runtime/Sync.h"

#include <atomic>

using namespace hsimtest;

namespace {

class CommandWindow : public EmulatorTest {
protected:
    // Output streams: relays on, a first transfer (after which the device
    // keeps asking), and the poll thread answering every request.
    void startStreaming()
    {
        const uint64_t before = transfers();
        auto start = Clock::now();
        ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);
        EXPECT_GE(MillisecondsSince(start), 100) << "the function returns after its 100 ms pause";
        EXPECT_TRUE(hsim::IsStreaming());
        ASSERT_TRUE(WaitUntil([&] { return transfers() >= before + 5; }, 5000));
    }
    // The stop switches the relays off, and nothing streams.
    void TearDown() override
    {
        if (emulator_ && emulator_->plugged() && HSIMIsConnected()) {
            EXPECT_EQ(HSIMSetOutputFunction(0), 0);
            EXPECT_TRUE(WaitUntil([&] { return !emulator_->streamStats().outputOn; }, 5000));
        }
        EXPECT_FALSE(hsim::IsStreaming());
        EmulatorTest::TearDown();
    }
    uint64_t transfers() const { return emulator_->streamStats().transfers; }
};

TEST_F(CommandWindow, ExchangesFromManyThreadsMeetTheDeviceBetweenItsRequests)
{
    connect(hsimemu::Pacing::RealTime);
    // Two transfers of slack, so that only threads that hold the device up
    // (not a slow, loaded machine) make it run dry.
    emulator_->setRequestThreshold(1400);
    startStreaming();
    const uint64_t before = transfers();
    const uint64_t underrunsBefore = emulator_->streamStats().underruns;
    std::atomic<int> failures{0};
    auto worker = [&](int channel) {
        for (int i = 0; i < 10; ++i) {
            const int mode = 1 + (channel + i) % 3;
            failures += HSIMSetInputImpedanceMode(channel, mode) != 0;
            failures += HSIMGetInputImpedanceMode(channel) != mode;
            // The exported device commands enter the window too.
            failures += !SetSelectedChannelEnabled(uint8_t(1 << channel), i % 2 == 0);
            failures += SetRelays(true);  // true is its failure
        }
    };
    std::vector<std::thread> workers;
    for (int channel = 0; channel < 3; ++channel)
        workers.emplace_back(worker, channel);
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(emulator_->junkBytes(), 0u) << "no exchange was cut by a report or a transfer";
    EXPECT_EQ(emulator_->streamStats().badPackets, 0u);
    // The threads share a window only for its first moments, so the device
    // got its data all along.
    EXPECT_EQ(emulator_->streamStats().underruns, underrunsBefore);
    EXPECT_GT(transfers(), before);
    EXPECT_TRUE(HSIMIsConnected());

    // The keep-alive, brought forward, also waits for the window.
    emulator_->clearReceived();
    WinEventCb(537, 0, 0);
    ASSERT_TRUE(emulator_->waitForMessages(1, 5000, "probe"));
    SleepMs(300);
    EXPECT_TRUE(HSIMIsConnected());
    EXPECT_EQ(emulator_->junkBytes(), 0u);
}

TEST_F(CommandWindow, NoWindowWithoutRequestsAndNoWaitWithoutADevice)
{
    hsimemu::Emulator& emulator = startWithCallback(hsimemu::Pacing::RealTime);
    startStreaming();

    // A device that stops asking for data opens no window: the setters give
    // up after 3 s, the commands fail.
    emulator.setFault(hsimemu::Fault::NoStreamReports, true);
    SleepMs(100);
    auto start = Clock::now();
    EXPECT_EQ(HSIMSetDCOffset(0, 100), -1);
    EXPECT_GE(MillisecondsSince(start), 2900);
    EXPECT_EQ(HSIMGetLastStatus(nullptr), HSIM_CAUSE_BUSY);
    EXPECT_FALSE(SetSelectedChannelEnabled(1, true));
    EXPECT_NE(HSIMGetDCOffset(), 100) << "a refused call stores nothing";
    emulator.setFault(hsimemu::Fault::NoStreamReports, false);
    ASSERT_TRUE(WaitUntil([&] { return HSIMSetDCOffset(0, 100) == 0; }, 5000));

    // A device lost while output streams is reported as quickly as any
    // other loss: the wind-down's resets refuse at once without a device.
    auto unplugged = Clock::now();
    emulator.unplug();
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(2, 15000));
    EXPECT_LT(CallbackLog::instance().msTo(1, unplugged), 9000);
    start = Clock::now();
    EXPECT_EQ(HSIMSetDCOffset(0, 0), -1);
    EXPECT_LT(MillisecondsSince(start), 1000) << "no device: refused before any window wait";
    EXPECT_EQ(HSIMGetLastStatus(nullptr), HSIM_CAUSE_NO_DEVICE);
    EXPECT_FALSE(hsim::IsStreaming()) << "the lost output has stopped";

    // Back again, output starts as after any connection.
    ASSERT_TRUE(emulator.replug());
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(3, 15000));
    startStreaming();
    EXPECT_EQ(emulator.streamStats().sequenceErrors, 0u);
}

// A device that has stopped asking for data cannot be told to stop; the
// output stops on the host all the same, so it can be started again.
TEST_F(CommandWindow, StopWithoutWindowStillStops)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    startStreaming();
    emulator.setFault(hsimemu::Fault::NoStreamReports, true);
    SleepMs(100);
    EXPECT_EQ(HSIMSetOutputFunction(0), -1);
    EXPECT_FALSE(hsim::IsStreaming());
    emulator.setFault(hsimemu::Fault::NoStreamReports, false);
    startStreaming();
}

}  // namespace

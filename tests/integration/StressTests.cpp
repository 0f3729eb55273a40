// Commands from several application threads while the device is unplugged
// and replugged.
#include "Fixture.h"

#include <atomic>

using namespace hsimtest;

TEST_F(EmulatorTest, CommandsFromManyThreadsSurviveUnplugAndReplug)
{
    hsimemu::Emulator& emulator = startWithCallback();

    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::atomic<long> calls{0};
    auto worker = [&](int channel) {
        while (!stop.load()) {
            int set = HSIMSetInputImpedanceMode(channel, 1 + channel % 3);
            int got = HSIMGetInputImpedanceMode(channel);
            MODEL_INFORMATION info;
            int copied = HSIMGetDeviceInformation(&info);
            bool relaysFailed = SetRelays(true);
            (void)relaysFailed;  // fails while unplugged, succeeds otherwise
            // While the device goes away, exchanges fail (HSIM_ERROR_IO) until
            // the port is closed; then there is no device (-1).
            bool setOk = set == 0 || set == -1 || set == HSIM_ERROR_IO;
            bool gotOk = (got >= -1 && got <= 3) || got == HSIM_ERROR_IO;
            if (!setOk || !gotOk || (copied != 0 && copied != 1))
                ++unexpected;
            ++calls;
        }
    };
    std::vector<std::thread> workers;
    for (int channel = 0; channel < 3; ++channel)
        workers.emplace_back(worker, channel);

    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    emulator.unplug();
    EXPECT_TRUE(CallbackLog::instance().waitForCalls(2, 15000));
    ASSERT_TRUE(emulator.replug());
    EXPECT_TRUE(CallbackLog::instance().waitForCalls(3, 15000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop = true;
    for (auto& t : workers)
        t.join();

    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_GT(calls.load(), 10);
    EXPECT_EQ(CallbackLog::instance().values(), (std::vector<bool>{true, false, true}));
    // The link works after all that.
    ASSERT_EQ(HSIMSetInputImpedanceMode(3, 2), 0);
    EXPECT_EQ(emulator.controlBlock()[32 + 24 + 1], 0xFF);
}

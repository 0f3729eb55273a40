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

namespace {
std::atomic<long> s_GraphCalls{0};
void CountGraph(double, double)
{
    ++s_GraphCalls;
}
void IgnoreFrequency(double) {}
}  // namespace

// Output streams while four threads call setters, getters and register
// callbacks without pause: every call succeeds, the packets stay numbered,
// and the callbacks are called while they are registered.
TEST_F(EmulatorTest, StreamingWhileFourThreadsHammerSettersGettersAndCallbacks)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_CUSTOM), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    auto worker = [&](int id) {
        for (int i = 0; !stop.load(); ++i) {
            const bool odd = i % 2 != 0;
            switch (id) {
            case 0:
                unexpected += HSIMSetAmplitude(odd ? 1.0 : 2.0) != 0;
                unexpected += HSIMGetAmplitude() > 2.0;
                break;
            case 1:
                unexpected += HSIMSetQRSDuration(odd ? 90.0 : 110.0) != 0;
                unexpected += SetECG2_27_Noise(odd ? 1 : 3, 0.1) != 0;
                break;
            case 2:
                unexpected += HSIMSetPacingAmplitude(odd ? 0.0 : 2.0) != 0;
                unexpected += HSIMGetPacingAmplitude() > 2.0;
                break;
            default:
                HSIMRegisterSignalOutputCallback(odd ? nullptr : CountGraph);
                HSIMRegisterFrequencyCallback(odd ? nullptr : IgnoreFrequency);
                unexpected += !HSIMIsPlaying();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                break;
            }
        }
    };
    std::vector<std::thread> workers;
    for (int id = 0; id < 4; ++id)
        workers.emplace_back(worker, id);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop = true;
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_GT(s_GraphCalls.load(), 0);
    EXPECT_EQ(emulator.streamStats().sequenceErrors, 0u);
    EXPECT_EQ(HSIMSetOutputFunction(0), 0);
    HSIMRegisterSignalOutputCallback(nullptr);
    HSIMRegisterFrequencyCallback(nullptr);
}

// Several simulators in one process: each plays exactly its own settings from
// its own emulator, a port is never opened twice, and a simulator unplugged
// leaves the others streaming.
#include "Fixture.h"
#include "hsim_ext.h"

#include <algorithm>
#include <string>

namespace {

using hsimtest::EmulatorTest;
using hsimtest::SleepMs;

struct Bench {
    std::unique_ptr<hsimemu::Emulator> emulator;
    HSIM_SIMULATOR* simulator = nullptr;
    double amplitudeMv;
};

// The largest signal level the emulator played of its last count samples.
double PeakPlayed(const hsimemu::Emulator& e, size_t count)
{
    double peak = 0.0;
    for (const hsimemu::PlayedSample& s : e.playedMillivolts(count))
        peak = std::max(peak, s.acMv);
    return peak;
}

TEST_F(EmulatorTest, SimulatorsStreamTheirOwnSettingsAndSurviveEachOthersLoss)
{
    Bench benches[2] = {{nullptr, nullptr, 2.0}, {nullptr, nullptr, 6.0}};
    for (int i = 0; i < 2; ++i) {
        hsimemu::Options options;
        options.directory = dir_;
        options.port = 3 + i;
        options.identity.number1 = uint16_t(100 + i);  // distinct serial numbers
        benches[i].emulator = std::make_unique<hsimemu::Emulator>(options);
        ASSERT_TRUE(benches[i].emulator->start());
        benches[i].simulator = HSIMOpen(3 + i, 10000);
        ASSERT_NE(benches[i].simulator, nullptr);
        EXPECT_EQ(HSIMSimGetPort(benches[i].simulator), 3 + i);
    }
    EXPECT_NE(std::string(HSIMSimGetSerialNumber(benches[0].simulator)),
              std::string(HSIMSimGetSerialNumber(benches[1].simulator)));
    EXPECT_EQ(HSIMOpen(3, 1500), nullptr) << "the port is taken";
    EXPECT_FALSE(HSIMIsConnected()) << "the default simulator is none of them";

    // A square wave of 2 mV and one of 6 mV: +-1 mV and +-3 mV.
    for (Bench& b : benches) {
        ASSERT_EQ(HSIMSimSetParameter(b.simulator, "amplitude", b.amplitudeMv), 0);
        ASSERT_EQ(HSIMSimSetParameter(b.simulator, "frequency", 20.0), 0);
        ASSERT_EQ(HSIMSimSetOutputFunction(b.simulator, OUTPUT_SQUARE), 0);
    }
    for (Bench& b : benches) {
        ASSERT_TRUE(WaitUntil([&] { return b.emulator->streamStats().samples >= 20000; }, 10000));
        EXPECT_NEAR(PeakPlayed(*b.emulator, 8000), b.amplitudeMv / 2, 0.01);
        double value = 0.0;
        EXPECT_EQ(HSIMSimGetParameter(b.simulator, "amplitude", &value), 0);
        EXPECT_EQ(value, b.amplitudeMv);
    }
    // A channel's setting on one leaves the other's as it was.
    ASSERT_EQ(HSIMSimSetChannelParameter(benches[0].simulator, "dc-variable", 2, 0), 0);
    for (int i = 0; i < 2; ++i) {
        double variable = -1.0;
        EXPECT_EQ(HSIMSimGetChannelParameter(benches[i].simulator, "dc-variable", 2, &variable), 0);
        EXPECT_EQ(variable, i == 0 ? 0.0 : 1.0);
    }

    // The first one goes; the second streams on without a gap.
    benches[1].emulator->clearStreamStats();
    benches[0].emulator->unplug();
    EXPECT_TRUE(WaitUntil([&] { return !HSIMSimIsConnected(benches[0].simulator); }, 8000));
    const uint64_t before = benches[1].emulator->streamStats().samples;
    SleepMs(1000);
    const hsimemu::StreamStats after = benches[1].emulator->streamStats();
    EXPECT_GE(after.samples - before, 30000u) << "about 40000 a second";
    EXPECT_EQ(after.underruns, 0u);
    EXPECT_TRUE(HSIMSimIsConnected(benches[1].simulator));
    EXPECT_EQ(HSIMSimGetOutputFunction(benches[1].simulator), OUTPUT_SQUARE);

    // Where the ports are stays fixed while any simulator runs.
    const std::string format = dir_ + "/ttyACM%d";
    HSIMClose(benches[0].simulator);
    EXPECT_EQ(HSIMSetDeviceLocation(format.c_str(), lockDir_.c_str()), -1);
    HSIMClose(benches[1].simulator);
    EXPECT_EQ(HSIMSetDeviceLocation(format.c_str(), lockDir_.c_str()), 0);
    EXPECT_FALSE(benches[1].emulator->streamStats().outputOn) << "output off (relays off) when closed";
}

}  // namespace

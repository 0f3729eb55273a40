// The real-time path end to end: what may delay the streaming thread's
// answers, and what the application sees of them.
#include "protocol/Exchange.h"
#include "Fixture.h"
#include "hsim.hpp"

#include "runtime/Sync.h"

#include <dirent.h>
#include <fstream>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace hsimtest;

namespace {

class Realtime : public EmulatorTest {
protected:
    void TearDown() override
    {
        HSIMSetOutputFunction(0);
        HSIMRegisterSignalOutputCallback(nullptr);
        EmulatorTest::TearDown();
    }
    static HSIM_STREAM_HEALTH Health()
    {
        HSIM_STREAM_HEALTH h{};
        HSIMGetStreamHealth(&h);
        return h;
    }
};

// The kernel's id of this process's thread of that name, 0 when none.
// The thread whose name starts with name.
pid_t ThreadNamed(const std::string& name)
{
    DIR* dir = opendir("/proc/self/task");
    pid_t found = 0;
    while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string text;
        if (std::getline(comm, text) && text.rfind(name, 0) == 0)
            found = pid_t(atoi(entry->d_name));
    }
    if (dir != nullptr)
        closedir(dir);
    return found;
}

// A signal handler that holds its thread up, installed without SA_RESTART as
// an application's may be.
void Stall(int)
{
    const timespec pause{0, 80 * 1000000L};
    nanosleep(&pause, nullptr);
}

}  // namespace

// A callback of the first transfer of a start runs on the thread that starts
// the output, before the device has anything to ask for: a setter called
// there is made at once.
TEST_F(Realtime, SetterCalledFromTheFirstTransferDoesNotWait)
{
    connect(hsimemu::Pacing::RealTime);
    static std::atomic<int> result{1};
    static std::atomic<bool> called{false};
    HSIMRegisterSignalOutputCallback([](double, double) {
        if (!called.exchange(true))
            result = HSIMSetAmplitude(2.0);
    });
    const auto start = Clock::now();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_STANDARD), 0);
    EXPECT_LT(MillisecondsSince(start), 1000);
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(HSIMGetAmplitude(), 2.0);
}

// The poll thread runs before the application hears of the device, so output
// started from the connection callback is answered from the first request.
TEST_F(Realtime, OutputStartedFromTheConnectionCallbackIsAnsweredAtOnce)
{
    hsimemu::Emulator& emulator = startEmulator(hsimemu::Pacing::RealTime);
    ASSERT_TRUE(HSIMInit([](bool up) {
        if (up)
            HSIMSetOutputFunction(OUTPUT_ECG_STANDARD);
    }));
    ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().transfers >= 30; }, 10000));
    EXPECT_EQ(emulator.streamStats().underruns, 0u);
    // Within one transfer's playing time (17.5 ms), with room for a loaded
    // host: a request left for a poll thread not yet running waits far longer.
    EXPECT_LT(emulator.streamLatency().maxMs, 15.0);
}

// The poll thread held up before it reads a request (here by a signal
// handler): the device waits, and the library counts the late answer too,
// although it read the request only just before answering. The read itself
// is interrupted by the signal and made again at once.
TEST_F(Realtime, AStalledPollThreadIsCountedAsTheDeviceSeesIt)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_STANDARD), 0);
    ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().transfers >= 20; }, 5000));
    struct sigaction action {};
    action.sa_handler = Stall;
    ASSERT_EQ(sigaction(SIGUSR2, &action, nullptr), 0);
    const pid_t poll = ThreadNamed("hsim-poll");
    ASSERT_NE(poll, 0);
    HSIMResetStreamHealth();
    emulator.clearStreamStats();
    ASSERT_EQ(syscall(SYS_tgkill, getpid(), poll, SIGUSR2), 0);
    SleepMs(400);
    const auto device = emulator.streamLatency();
    const HSIM_STREAM_HEALTH library = Health();
    EXPECT_GE(device.late, 1u);
    EXPECT_GE(device.maxMs, 50.0);
    EXPECT_EQ(library.lateAnswers, device.late);
    EXPECT_GE(library.latencyMaxMs, 50.0) << "measured from when the device asked, as far as the host can tell";
    // The library's answer ends when its write has gone out, the device's
    // wait when the first byte arrives: they agree within a few ms (more on a
    // loaded host; a request timed from its read would be some 80 ms short).
    EXPECT_NEAR(library.latencyMaxMs, device.maxMs, 10.0);
    EXPECT_LE(library.latencyP99Ms, library.latencyMaxMs) << "a percentile is never above the maximum";
    EXPECT_EQ(library.writeFailures, 0u);
}

// A device lost while output streams: the poll thread finds the hang-up,
// the link is taken down at once (the presence monitor alone would take
// 1.5 to 3 s), and nothing spins meanwhile.
TEST_F(Realtime, DeviceLostWhileStreamingIsReportedAtOnce)
{
    hsimemu::Emulator& emulator = startWithCallback(hsimemu::Pacing::RealTime);
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_STANDARD), 0);
    ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().transfers >= 20; }, 5000));
    const auto unplugged = Clock::now();
    emulator.unplug();
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(2, 10000));
    EXPECT_LT(CallbackLog::instance().msTo(1, unplugged), 1200);
    EXPECT_FALSE(HSIMIsPlaying());
}

// Getters read the settings without the lock: they answer while another
// thread holds it, and give what the last call that returned set.
TEST_F(Realtime, GettersDoNotWaitForTheLock)
{
    connect();
    ASSERT_EQ(HSIMSetQRSDuration(120.0), 0);
    ASSERT_EQ(HSIMSetPacingRate(90), 0);
    std::atomic<bool> done{false};
    std::atomic<double> qrs{0.0};
    std::atomic<int> rate{0};
    hsim::ContextLock().Lock();
    std::thread reader([&] {
        qrs = HSIMGetQRSDuration();
        rate = HSIMGetPacingRate();
        done = HSIMGetOutputFunction() == 0 && HSIMGetDCOffset() == 0 && !HSIMGetFrequencyScan();
    });
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }, 2000));
    hsim::ContextLock().Unlock();
    reader.join();
    EXPECT_EQ(qrs.load(), 120.0);
    EXPECT_EQ(rate.load(), 90);
}

// Building the hour-long IEC 60601-2-47 pattern takes tens of milliseconds:
// it is built before the lock is taken, so a new selection while the
// patterns stream does not hold up the stream.
TEST_F(Realtime, SelectingALongPatternWhileStreamingKeepsTheStreamInTime)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    ASSERT_EQ(SetSpecialWave247(0), 0);
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_IEC_2_47), 0);
    ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().transfers >= 10; }, 5000));
    HSIMResetStreamHealth();
    emulator.clearStreamStats();
    ASSERT_EQ(SetSpecialWave247(4), 0);
    SleepMs(200);
    EXPECT_EQ(Health().lateAnswers, 0u);
    EXPECT_EQ(emulator.streamStats().underruns, 0u);
}

// The tap carries what the callbacks see, to a reader on a thread of its own:
// a point for every tenth sample with the signal callback's time and value,
// each pacing pulse once, the end marker last. A reader that falls more than
// the ring behind loses the oldest points, counts them, and reads on in order.
TEST_F(Realtime, TheTapCarriesWhatTheCallbacksSee)
{
    hsimemu::Emulator& emulator = connect();
    static std::mutex mutex;
    static std::vector<std::pair<double, double>> graph;
    HSIMRegisterSignalOutputCallback([](double t, double v) {
        std::lock_guard<std::mutex> guard(mutex);
        graph.emplace_back(t, v);
    });
    HSIM_TAP* tap = HSIMTapOpen();
    ASSERT_NE(tap, nullptr);
    std::vector<HSIM_TAP_POINT> points;
    std::thread reader([&] {
        HSIM_TAP_POINT batch[512];
        const auto start = Clock::now();
        while (MillisecondsSince(start) < 10000) {
            HSIMTapWait(tap, 50);
            const int n = HSIMTapRead(tap, batch, 512);
            points.insert(points.end(), batch, batch + n);
            if (n > 0 && points.back().kind == HSIM_TAP_END)
                break;
        }
    });
    // One second of the ANE20000 lead, not looping, paced twice a second.
    SetStandardWaveformLoop(false);
    ASSERT_EQ(HSIMSetPacingAmplitude(2.0), 0);
    ASSERT_EQ(HSIMSetPacingRate(120), 0);
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ANE20000), 0);
    reader.join();
    ASSERT_GE(points.size(), 2u);
    EXPECT_EQ(points.back().kind, HSIM_TAP_END);
    EXPECT_EQ(points.back().time, -1.0);
    std::vector<HSIM_TAP_POINT> samples;
    for (const auto& p : points)
        if (p.kind == HSIM_TAP_SAMPLE)
            samples.push_back(p);
    {
        std::lock_guard<std::mutex> guard(mutex);
        ASSERT_EQ(samples.size() + 1, graph.size());
        for (size_t i = 0; i < samples.size(); ++i) {
            ASSERT_EQ(samples[i].time, graph[i].first) << i;
            ASSERT_EQ(samples[i].signalMv, graph[i].second) << i;
        }
    }
    EXPECT_EQ(samples.front().flags, HSIM_TAP_FIRST_OF_RUN);
    EXPECT_EQ(samples.front().time, 0.0);
    int pulses = 0;
    for (const auto& s : samples) {
        if (s.pacingMv != 0.0) {
            ++pulses;
            EXPECT_EQ(s.pacingMv, 2.0);
            EXPECT_EQ(s.pacingMs, 2.0);
            EXPECT_NEAR(s.dcMv, 2.0, 0.05) << "the pulse plays on the DC channel";
        }
    }
    EXPECT_EQ(pulses, 2) << "120 per minute for one second";
    EXPECT_EQ(HSIMTapOverruns(tap), 0u);
    HSIMTapClose(tap);

    // A reader that does not read while 10 s of sine stream.
    SetStandardWaveformLoop(true);
    HSIM_TAP* late = HSIMTapOpen();
    emulator.clearStreamStats();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().samples >= 400000; }, 20000));
    ASSERT_EQ(HSIMSetOutputFunction(0), 0);
    std::vector<HSIM_TAP_POINT> kept(40000);
    const int n = HSIMTapRead(late, kept.data(), int(kept.size()));
    EXPECT_GT(HSIMTapOverruns(late), 0u);
    EXPECT_GE(n, 30000) << "about the ring's length is kept";
    for (int i = 1; i < n; ++i)
        ASSERT_NEAR(kept[i].time - kept[i - 1].time, 0.00025, 1e-9) << i;
    EXPECT_EQ(HSIMTapRead(late, kept.data(), 1), 0);
    EXPECT_EQ(HSIMTapRead(nullptr, kept.data(), 1), -2);
    HSIMTapClose(late);
}

namespace {

// A device that asks for the next transfer the moment one arrives: a setter's
// exchange made while a request waits unread must leave the request for the
// streaming thread, or the device waits a second before it asks again.
TEST_F(Realtime, ARequestWaitingDuringASetterIsAnswered)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::AsFastAsHost);
    for (int run = 0; run < 3; ++run) {
        HSIMResetStreamHealth();
        emulator.clearStreamStats();
        ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_STANDARD), 0);
        ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_ECG_STANDARD), 0);  // exchanges while the device asks
        ASSERT_EQ(HSIMSetAmplitude(1.5), 0);
        SleepMs(300);
        EXPECT_EQ(emulator.streamStats().repeatedReports, 0u) << "run " << run;
        // A device this eager always has a request waiting, so an exchange
        // delays an answer by its own length (a few ms): not a lost request.
        EXPECT_LT(Health().latencyMaxMs, 100.0) << "run " << run;
        ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_OFF), 0);
        SleepMs(100);
    }
}

}  // namespace

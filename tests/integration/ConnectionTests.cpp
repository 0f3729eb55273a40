// Connecting, identifying, keeping and losing the simulator.
#include "Fixture.h"

#include "lifecycle/DeviceContext.h"
#include "lifecycle/Lifecycle.h"

#include <fcntl.h>
#include <thread>


using namespace hsimtest;

namespace {

long ThreadCount()
{
    std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(begin(tasks), end(tasks));
}

bool Exists(const std::string& path)
{
    return std::filesystem::exists(path);
}

}  // namespace

TEST_F(EmulatorTest, IdentityComesFromTheProbeAndTheInformationQuery)
{
    // The serial number shows every field of the model record: the second and
    // third letters of "HSE", the code bytes, the second and the first number
    // (bytes 10 and 11 of the reply, 1 and 2: 258), wider numbers in full.
    for (auto [identity, serial] : {std::pair{hsimemu::Identity{}, "HSE01AB-070123"},
                                    std::pair{hsimemu::Identity{0x7F, 0x00, 100, 0x0102}, "HSE7F00-1000258"},
                                    std::pair{hsimemu::Identity{0x01, 0xAB, 100, 12345}, "HSE01AB-10012345"}}) {
        startEmulator().setIdentity(identity);
        ASSERT_TRUE(HSIMConnect(kPort, 10000));
        EXPECT_GE(HSIMGetDeviceHandle(), 0);
        EXPECT_STREQ(HSIMGetSerialNumber(), serial);
        HSIMFree();
    }
    // Words 0 and 1 from information block bytes 26 and 27, word 2 from the
    // second reply, words 3 and 4 from bytes 24 and 25.
    ASSERT_TRUE(HSIMConnect(kPort, 10000));
    uint32_t words[5] = {};
    ASSERT_EQ(HSIMGetHWInformation(words), 1);
    EXPECT_EQ(std::vector<uint32_t>(words, words + 5), (std::vector<uint32_t>{0x33, 0x44, 0x55, 0x11, 0x22}));
    EXPECT_EQ(HSIMGetVersion(), 16778498);
}

TEST_F(EmulatorTest, ScanFindsPortThreeLocksItAndResetsTheChannels)
{
    hsimemu::Emulator& emulator = startEmulator();
    ASSERT_TRUE(HSIMConnect(-1, 10000));
    EXPECT_TRUE(HSIMIsConnected());
    EXPECT_TRUE(Exists(lockPath()));
    // Every channel: lead flag up (primary lead), no impedance network.
    auto block = emulator.controlBlock();
    for (const uint8_t* record = block.data() + 32; record < block.data() + 64; record += 8)
        EXPECT_TRUE(record[3] == 0xFF && (record[0] | record[1] | record[4]) == 0) << record - block.data();
}

TEST_F(EmulatorTest, ConnectGivesUpAfterItsTimeOutAndLeavesNoThread)
{
    HSIMFree();  // without a start: nothing to stop
    // A sanitizer's runtime starts a helper thread at the process's first
    // thread; that one is made here, before the count.
    std::thread([] {}).join();
    int before = ThreadCount();
    auto start = Clock::now();
    EXPECT_FALSE(HSIMConnect(kPort, 1500));
    EXPECT_GE(MillisecondsSince(start), 1400);
    EXPECT_FALSE(HSIMIsConnected());
    EXPECT_EQ(ThreadCount(), before);

    // A zero time-out polls once: the search has not finished by then.
    startEmulator();
    EXPECT_FALSE(HSIMConnect(kPort, 0));
    EXPECT_FALSE(HSIMIsConnected());
}

TEST_F(EmulatorTest, StartingAgainKeepsTheConnectionAndReplacesOnlyTheCallback)
{
    hsimemu::Emulator& emulator = startEmulator();
    ASSERT_TRUE(HSIMInit(nullptr));
    ASSERT_TRUE(WaitUntil([] { return hsim::CurrentDevice().bConnected.load() != 0; }, 10000));
    size_t queries = emulator.received("info-query").size();
    EXPECT_TRUE(HSIMInit(CallbackLog::callback));
    auto start = Clock::now();
    EXPECT_TRUE(HSIMConnect(kPort, 5000));
    EXPECT_LT(MillisecondsSince(start), 4000) << "a working connection is not searched again";
    SleepMs(300);
    EXPECT_EQ(emulator.received("info-query").size(), queries) << "no new handshake";
    EXPECT_TRUE(CallbackLog::instance().values().empty()) << "the new callback hears of no change";
    EXPECT_TRUE(HSIMIsConnected());
}

TEST_F(EmulatorTest, UnplugIsNoticedAndReplugIsTakenUp)
{
    hsimemu::Emulator& emulator = startWithCallback();

    auto unplugged = Clock::now();
    emulator.unplug();
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(2, 10000));
    // About 3 s by the presence monitor; generous margin for loaded machines.
    EXPECT_LT(CallbackLog::instance().msTo(1, unplugged), 7000);
    EXPECT_FALSE(HSIMIsConnected());
    EXPECT_FALSE(Exists(lockPath())) << "the lock file is released after a loss";

    ASSERT_TRUE(emulator.replug());
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(3, 10000));
    EXPECT_EQ(CallbackLog::instance().values(), (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(HSIMIsConnected());
}

TEST_F(EmulatorTest, DeviceChangeNotificationBringsTheKeepAliveForward)
{
    hsimemu::Emulator& emulator = startWithCallback();
    emulator.setFault(hsimemu::Fault::Mute, true);
    emulator.clearReceived();
    WinEventCb(536, 0, 0);  // any other notification is ignored
    SleepMs(500);
    EXPECT_TRUE(emulator.received("probe").empty());
    EXPECT_TRUE(HSIMIsConnected());

    WinEventCb(537, 0, 0);  // the mute device fails the keep-alive
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(2, 10000));
    EXPECT_FALSE(HSIMIsConnected());
    // The node is still there; the mute device fails its handshake again.
    SleepMs(1500);
    EXPECT_EQ(CallbackLog::instance().values(), (std::vector<bool>{true, false}));
}

TEST_F(EmulatorTest, HandshakeFaultsLeaveNoConnectionAndNoLock)
{
    hsimemu::Emulator& emulator = startEmulator();
    for (hsimemu::Fault fault : {hsimemu::Fault::WrongMagic, hsimemu::Fault::ShortAnswers,
                                 hsimemu::Fault::LateAnswers}) {
        emulator.setFault(fault, true);
        EXPECT_FALSE(HSIMConnect(kPort, 1500));
        EXPECT_FALSE(HSIMIsConnected());
        EXPECT_FALSE(Exists(lockPath())) << "no lock file remains";
        emulator.setFault(fault, false);
    }
    EXPECT_TRUE(HSIMConnect(kPort, 10000)) << "a well-behaved device is found again";
}

// The port and the lock file are closed in children the application starts.
TEST_F(EmulatorTest, DescriptorsAreNotInheritedByChildren)
{
    connect();
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const int fd = std::stoi(entry.path().filename().string());
        if (fd == HSIMGetDeviceHandle() || std::filesystem::read_symlink(entry.path(), error) == lockPath()) {
            ++checked;
            EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;
        }
    }
    EXPECT_EQ(checked, 2);
}

TEST_F(EmulatorTest, FreeReleasesTheLockAndResetsTheDcSettings)
{
    hsimemu::Emulator& emulator = connect();
    ASSERT_EQ(HSIMSetDCOffset(1, 300), 0);
    EXPECT_EQ(HSIMSetDeviceLocation("/tmp/elsewhere/ttyACM%d", nullptr), -1) << "fixed while started";
    HSIMFree();
    EXPECT_FALSE(HSIMIsConnected());
    EXPECT_FALSE(Exists(lockPath()));
    // Wind-down: variable DC off and 0 mV on every channel, so every DC
    // offset code is "none".
    auto block = emulator.controlBlock();
    EXPECT_TRUE(block[34] == 0 && block[42] == 0 && block[50] == 0 && block[58] == 0);
    std::string format = dir_ + "/ttyACM%d";
    EXPECT_EQ(HSIMSetDeviceLocation(format.c_str(), lockDir_.c_str()), 0);
}

namespace {
std::atomic<int> s_freedFromCallback{0};
void FreeOnConnect(bool connected)
{
    if (connected) {
        HSIMFree();
        ++s_freedFromCallback;
    }
}
}  // namespace

// HSIMFree in the connection callback cannot join the thread it runs on: it
// stops the connection, and a later start connects again.
TEST_F(EmulatorTest, FreeFromTheConnectionCallbackLetsALaterStartWork)
{
    startEmulator();
    ASSERT_TRUE(HSIMInit(FreeOnConnect));
    ASSERT_TRUE(WaitUntil([] { return s_freedFromCallback.load() == 1; }, 10000));
    ASSERT_TRUE(WaitUntil([] { return !HSIMIsConnected(); }, 10000));
    SleepMs(1500);
    EXPECT_FALSE(HSIMIsConnected()) << "the stopped connection does not search again";
    EXPECT_FALSE(Exists(lockPath()));

    ASSERT_TRUE(HSIMInit(CallbackLog::callback));
    EXPECT_TRUE(CallbackLog::instance().waitForCalls(1, 10000));
    EXPECT_TRUE(HSIMIsConnected());
    EXPECT_EQ(s_freedFromCallback.load(), 1);
}

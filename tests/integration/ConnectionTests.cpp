// Connecting, identifying, keeping and losing the simulator.
#include "Fixture.h"

#include "lifecycle/Lifecycle.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

using namespace hsimtest;

namespace {

int ThreadCount()
{
    int count = 0;
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return -1;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    return count;
}

}  // namespace

TEST_F(EmulatorTest, ConnectsByPortAndReportsIdentity)
{
    startEmulator();
    ASSERT_TRUE(HSIMConnect(kPort, 10000));
    EXPECT_TRUE(HSIMIsConnected());
    EXPECT_GE(HSIMGetDeviceHandle(), 0);

    MODEL_INFORMATION info;
    memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(HSIMGetDeviceInformation(&info), 1);
    // The model characters are the second and third letters of "HSE".
    EXPECT_EQ(info.Character1, 'S');
    EXPECT_EQ(info.Character2, 'E');
    EXPECT_EQ(info.Code1, 0x01);
    EXPECT_EQ(info.Code2, 0xAB);
    EXPECT_EQ(info.Number1, 123);
    EXPECT_EQ(info.Number2, 7);
    EXPECT_STREQ(HSIMGetSerialNumber(), "HSE01AB-070123");

    // Words 0 and 1 from information block bytes 26 and 27, word 2 from the
    // second reply, words 3 and 4 from bytes 24 and 25.
    uint32_t words[5] = {};
    ASSERT_EQ(HSIMGetHWInformation(words), 1);
    EXPECT_EQ(words[0], 0x33u);
    EXPECT_EQ(words[1], 0x44u);
    EXPECT_EQ(words[2], 0x55u);
    EXPECT_EQ(words[3], 0x11u);
    EXPECT_EQ(words[4], 0x22u);
    EXPECT_EQ(HSIMGetVersion(), 16778498);
}

TEST_F(EmulatorTest, IdentityNumbersComeFromTheProbeReply)
{
    hsimemu::Emulator& emulator = startEmulator();
    hsimemu::Identity identity;
    identity.code1 = 0x7F;
    identity.code2 = 0x00;
    identity.number1 = 0x0102;  // bytes 10, 11 = 0x01, 0x02
    identity.number2 = 100;
    emulator.setIdentity(identity);
    ASSERT_TRUE(HSIMConnect(kPort, 10000));
    MODEL_INFORMATION info = {};
    ASSERT_EQ(HSIMGetDeviceInformation(&info), 1);
    EXPECT_EQ(info.Number1, 258);
    EXPECT_STREQ(HSIMGetSerialNumber(), "HSE7F00-1000258");
}

TEST_F(EmulatorTest, ConnectsByScanningToPortThree)
{
    hsimemu::Emulator& emulator = startEmulator();
    ASSERT_TRUE(HSIMConnect(-1, 10000));
    EXPECT_TRUE(HSIMIsConnected());
    // Ports 0 to 2 have no node; the handshake ran on port 3 only.
    EXPECT_GE(emulator.received("probe").size(), 1u);
    struct stat st;
    EXPECT_EQ(stat(lockPath().c_str(), &st), 0);
}

TEST_F(EmulatorTest, NewDeviceIsBroughtToTheKnownState)
{
    hsimemu::Emulator& emulator = connect();
    auto block = emulator.controlBlock();
    for (int ch = 0; ch < 4; ++ch) {
        const uint8_t* record = block.data() + 32 + 8 * ch;
        EXPECT_EQ(record[3], 0xFF) << "lead flag of channel " << ch;
        EXPECT_EQ(record[0], 0x00) << "impedance network 1 of channel " << ch;
        EXPECT_EQ(record[1], 0x00) << "impedance network 2 of channel " << ch;
        EXPECT_EQ(record[4], 0x00) << "impedance network 3 of channel " << ch;
    }
}

TEST_F(EmulatorTest, ConnectFailsAfterItsTimeOutAndLeavesNoThread)
{
    int before = ThreadCount();
    auto start = Clock::now();
    EXPECT_FALSE(HSIMConnect(kPort, 1500));
    long long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 1400);
    EXPECT_LT(elapsed, 15000);
    EXPECT_FALSE(HSIMIsConnected());
    EXPECT_EQ(ThreadCount(), before);
}

TEST_F(EmulatorTest, ConnectWithZeroTimeOutPollsOnce)
{
    startEmulator();
    // The search has not finished when the connected event is polled.
    EXPECT_FALSE(HSIMConnect(kPort, 0));
    EXPECT_FALSE(HSIMIsConnected());
}

TEST_F(EmulatorTest, ConnectWhileConnectedKeepsTheConnection)
{
    hsimemu::Emulator& emulator = startEmulator();
    ASSERT_TRUE(HSIMInit(CallbackLog::callback));
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(1, 10000));
    size_t probes = emulator.received("info-query").size();
    auto start = Clock::now();
    EXPECT_TRUE(HSIMConnect(kPort, 5000));
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_TRUE(HSIMIsConnected());
    // No new handshake, no false notification.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(emulator.received("info-query").size(), probes);
    EXPECT_EQ(CallbackLog::instance().values(), std::vector<bool>{true});
}

TEST_F(EmulatorTest, SecondInitOnlyReplacesTheCallback)
{
    startEmulator();
    ASSERT_TRUE(HSIMInit(nullptr));
    // Connected and notified (to nobody).
    ASSERT_TRUE(WaitUntil([] { return g_bConnected.load() != 0; }, 10000));
    EXPECT_TRUE(HSIMInit(CallbackLog::callback));
    // Still the same connection: the new callback hears of nothing until a change.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(CallbackLog::instance().values().empty());
    EXPECT_TRUE(HSIMIsConnected());
}

TEST_F(EmulatorTest, FreeWithoutStartReturns)
{
    HSIMFree();
    EXPECT_FALSE(HSIMIsConnected());
}

TEST_F(EmulatorTest, UnplugIsNoticedAndReplugIsTakenUp)
{
    hsimemu::Emulator& emulator = startEmulator();
    ASSERT_TRUE(HSIMInit(CallbackLog::callback));
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(1, 10000));

    auto unplugged = Clock::now();
    emulator.unplug();
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(2, 10000));
    auto noticed = CallbackLog::instance().timeOf(1);
    // About 3 s by the presence monitor; generous margin for loaded machines.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(noticed - unplugged).count(), 7000);
    EXPECT_FALSE(HSIMIsConnected());
    struct stat st;
    EXPECT_NE(stat(lockPath().c_str(), &st), 0) << "the lock file is released after a loss";

    ASSERT_TRUE(emulator.replug());
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(3, 10000));
    EXPECT_EQ(CallbackLog::instance().values(), (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(HSIMIsConnected());
}

TEST_F(EmulatorTest, MuteDeviceIsClosedByTheKeepAlive)
{
    hsimemu::Emulator& emulator = startEmulator();
    ASSERT_TRUE(HSIMInit(CallbackLog::callback));
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(1, 10000));
    emulator.setFault(hsimemu::Fault::Mute, true);
    // The device-change notification brings the check forward.
    WinEventCb(537, 0, 0);
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(2, 10000));
    EXPECT_FALSE(HSIMIsConnected());
    // The node is still there, so the search starts again; the mute device
    // fails its handshake and stays unconnected.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(CallbackLog::instance().values(), (std::vector<bool>{true, false}));
}

TEST_F(EmulatorTest, OtherNotificationsAreIgnored)
{
    hsimemu::Emulator& emulator = startEmulator();
    ASSERT_TRUE(HSIMInit(CallbackLog::callback));
    ASSERT_TRUE(CallbackLog::instance().waitForCalls(1, 10000));
    emulator.setFault(hsimemu::Fault::Mute, true);
    emulator.clearReceived();
    WinEventCb(536, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // No keep-alive probe was sent.
    EXPECT_TRUE(emulator.received("probe").empty());
    EXPECT_TRUE(HSIMIsConnected());
}

TEST_F(EmulatorTest, WrongMagicIsRejected)
{
    hsimemu::Emulator& emulator = startEmulator();
    emulator.setFault(hsimemu::Fault::WrongMagic, true);
    EXPECT_FALSE(HSIMConnect(kPort, 1500));
    struct stat st;
    EXPECT_NE(stat(lockPath().c_str(), &st), 0) << "no lock file remains";
}

TEST_F(EmulatorTest, DescriptorsAreNotInheritedByChildren)
{
    connect();
    long handle = HSIMGetDeviceHandle();
    ASSERT_GE(handle, 0);
    EXPECT_TRUE(fcntl(int(handle), F_GETFD) & FD_CLOEXEC);
    // Find the lock file's descriptor among ours.
    bool lockSeen = false;
    DIR* dir = opendir("/proc/self/fd");
    ASSERT_NE(dir, nullptr);
    while (dirent* entry = readdir(dir)) {
        char link[512];
        std::string path = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n <= 0)
            continue;
        link[n] = '\0';
        if (lockPath() == link) {
            lockSeen = true;
            EXPECT_TRUE(fcntl(atoi(entry->d_name), F_GETFD) & FD_CLOEXEC);
        }
    }
    closedir(dir);
    EXPECT_TRUE(lockSeen);
}

TEST_F(EmulatorTest, FreeReleasesTheLockAndResetsTheDcSettings)
{
    hsimemu::Emulator& emulator = connect();
    ASSERT_EQ(HSIMSetDCOffset(1, 300), 0);
    HSIMFree();
    EXPECT_FALSE(HSIMIsConnected());
    struct stat st;
    EXPECT_NE(stat(lockPath().c_str(), &st), 0);
    // Wind-down: variable DC off and 0 mV on every channel, so every DC
    // offset code is "none".
    auto block = emulator.controlBlock();
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(block[32 + 8 * ch + 2], 0x00) << "channel " << ch;
}

TEST_F(EmulatorTest, LocationCannotChangeWhileStarted)
{
    connect();
    EXPECT_EQ(HSIMSetDeviceLocation("/tmp/elsewhere/ttyACM%d", nullptr), -1);
    HSIMFree();
    std::string format = dir_ + "/ttyACM%d";
    EXPECT_EQ(HSIMSetDeviceLocation(format.c_str(), lockDir_.c_str()), 0);
}

TEST_F(EmulatorTest, ShortOrLateAnswersFailTheHandshakeCleanly)
{
    hsimemu::Emulator& emulator = startEmulator();
    for (hsimemu::Fault fault : {hsimemu::Fault::ShortAnswers, hsimemu::Fault::LateAnswers}) {
        emulator.setFault(fault, true);
        EXPECT_FALSE(HSIMConnect(kPort, 1500));
        EXPECT_FALSE(HSIMIsConnected());
        struct stat st;
        EXPECT_NE(stat(lockPath().c_str(), &st), 0) << "no lock file remains";
        emulator.setFault(fault, false);
    }
    // A well-behaved device is found again.
    EXPECT_TRUE(HSIMConnect(kPort, 10000));
}

TEST_F(EmulatorTest, ShortAnswerFailsTheCommand)
{
    hsimemu::Emulator& emulator = connect();
    emulator.setFault(hsimemu::Fault::ShortAnswers, true);
    EXPECT_FALSE(SetInputImpedanceMode(0, 1));
    EXPECT_EQ(GetInputImpedanceMode(0), 0) << "a failed exchange reads as mode 0";
    EXPECT_TRUE(SetRelays(true)) << "SetRelays reports the failure as true";
    emulator.setFault(hsimemu::Fault::ShortAnswers, false);
    EXPECT_TRUE(SetInputImpedanceMode(0, 1));
    EXPECT_EQ(GetInputImpedanceMode(0), 1);
}

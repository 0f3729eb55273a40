// Where the library looks for the simulator, and the presence listing that
// must never let a path reach the shell unquoted.
#include "transport/DeviceLocation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string PresenceCommand()
{
    char command[kPresenceCommandSize];
    EXPECT_TRUE(FormatPresenceCommand(command, sizeof command));
    return command;
}

std::string RunShell(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char line[1024];
    while (pipe && fgets(line, sizeof line, pipe))
        output += line;
    if (pipe)
        pclose(pipe);
    return output;
}

class DeviceLocation : public ::testing::Test {
protected:
    void TearDown() override { DeviceLocationSet(nullptr, nullptr); }
};

}  // namespace

TEST_F(DeviceLocation, DefaultsAreTheSystemOnes)
{
    EXPECT_EQ(PresenceCommand(), "/bin/ls /dev/ttyACM* 2>/dev/null");
    char path[kDevicePathSize];
    ASSERT_TRUE(FormatDevicePath(127, path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyACM127");
    char lock[kLockPathSize];
    ASSERT_TRUE(FormatLockPath(3, lock, sizeof lock));
    EXPECT_STREQ(lock, "/var/lock/norvale.ACM3.lock");
}

TEST_F(DeviceLocation, UnusableFormatsAreRefusedAndChangeNothing)
{
    EXPECT_EQ(DeviceLocationSet("/dev/ttyACM", nullptr), -2);     // no port number
    EXPECT_EQ(DeviceLocationSet("/dev/%s%d", nullptr), -2);       // another conversion
    EXPECT_EQ(DeviceLocationSet("/dev/%d/tty%d", nullptr), -2);   // two port numbers
    EXPECT_EQ(DeviceLocationSet("/dev/tty%%d", nullptr), -2);     // a literal percent
    EXPECT_EQ(DeviceLocationSet(std::string(600, 'a').append("%d").c_str(), nullptr), -2);
    EXPECT_EQ(DeviceLocationSet(nullptr, ""), -3);
    EXPECT_EQ(DeviceLocationSet(nullptr, std::string(120, 'l').c_str()), -3);
    EXPECT_EQ(PresenceCommand(), "/bin/ls /dev/ttyACM* 2>/dev/null");
    // A lock directory that leaves room for the longest lock file name fits:
    // 107 bytes, "/", "norvale.ACM127.lock" and the NUL make the 128 bytes.
    EXPECT_EQ(DeviceLocationSet(nullptr, std::string(108, 'l').c_str()), -3);
    EXPECT_EQ(DeviceLocationSet(nullptr, std::string(107, 'l').c_str()), 0);
    char lock[kLockPathSize];
    EXPECT_TRUE(FormatLockPath(127, lock, sizeof lock));
}

TEST_F(DeviceLocation, PathsReachTheShellOnlyQuoted)
{
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/hsim-loc-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path base = pattern;
    // A directory whose name would run a command if the shell saw it bare.
    fs::path hostile = base / "a b;touch pwned$(touch pwned2)'q";
    fs::create_directories(hostile);
    std::ofstream(hostile / "ttyACM7.x").put('\n');
    std::string format = (hostile / "ttyACM%d.x").string();
    ASSERT_EQ(DeviceLocationSet(format.c_str(), nullptr), 0);

    std::string command = PresenceCommand();
    std::string listed = RunShell("cd " + base.string() + " && " + command);
    EXPECT_EQ(listed, (hostile / "ttyACM7.x").string() + "\n");
    EXPECT_FALSE(fs::exists(base / "pwned"));
    EXPECT_FALSE(fs::exists(base / "pwned2"));

    char read[600];
    char locks[64];
    ASSERT_EQ(DeviceLocationGet(read, sizeof read, locks, sizeof locks), 0);
    EXPECT_EQ(read, format);
    EXPECT_EQ(DeviceLocationGet(read, 8, nullptr, 0), -1) << "too small a buffer";
    fs::remove_all(base);
}

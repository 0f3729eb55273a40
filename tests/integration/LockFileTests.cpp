// The lock file that keeps a second process off the port.
#include "Fixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>

extern char** environ;

using namespace hsimtest;

namespace {

void WriteLockFile(const std::string& path, const void* bytes, size_t size)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(bytes), std::streamsize(size));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A process id that no process has any more.
int32_t FinishedProcessId()
{
    pid_t child = fork();
    if (child == 0)
        _exit(0);
    int status;
    waitpid(child, &status, 0);
    return int32_t(child);
}

}  // namespace

TEST_F(EmulatorTest, LockFileHoldsOurProcessIdWithModeSixHundred)
{
    umask(022);
    connect();
    struct stat st;
    ASSERT_EQ(stat(lockPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string content = ReadFile(lockPath());
    ASSERT_EQ(content.size(), 4u);
    int32_t pid;
    memcpy(&pid, content.data(), 4);
    EXPECT_EQ(pid, int32_t(getpid()));
    // The missing lock directory was created, mode 0755.
    ASSERT_EQ(stat(lockDir_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(EmulatorTest, StaleLockIsTakenOver)
{
    int32_t gone = FinishedProcessId();
    WriteLockFile(lockPath(), &gone, sizeof gone);
    connect();
    std::string content = ReadFile(lockPath());
    ASSERT_EQ(content.size(), 4u);
    int32_t pid;
    memcpy(&pid, content.data(), 4);
    EXPECT_EQ(pid, int32_t(getpid()));
}

TEST_F(EmulatorTest, LiveLockMakesThePortBusy)
{
    pid_t sleeper;
    const char* argv[] = {"sleep", "30", nullptr};
    ASSERT_EQ(posix_spawnp(&sleeper, "sleep", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int32_t owner = int32_t(sleeper);
    WriteLockFile(lockPath(), &owner, sizeof owner);
    hsimemu::Emulator& emulator = startEmulator();
    EXPECT_FALSE(HSIMConnect(kPort, 1500));
    // The port was never probed, and the other owner's lock stays.
    EXPECT_TRUE(emulator.received("probe").empty());
    EXPECT_EQ(ReadFile(lockPath()).size(), 4u);
    kill(sleeper, SIGKILL);
    int status;
    waitpid(sleeper, &status, 0);
}

TEST_F(EmulatorTest, OwnLockCountsAsBusy)
{
    int32_t self = int32_t(getpid());
    WriteLockFile(lockPath(), &self, sizeof self);
    startEmulator();
    EXPECT_FALSE(HSIMConnect(kPort, 1500));
    EXPECT_EQ(ReadFile(lockPath()).size(), 4u);
}

TEST_F(EmulatorTest, ShortLockIsLeftAloneAndThePortIsBusy)
{
    const unsigned char twoBytes[2] = {0x12, 0x34};
    WriteLockFile(lockPath(), twoBytes, sizeof twoBytes);
    startEmulator();
    EXPECT_FALSE(HSIMConnect(kPort, 1500));
    EXPECT_EQ(ReadFile(lockPath()), std::string("\x12\x34", 2));
}

TEST_F(EmulatorTest, ProcessExitingWithoutFreeRemovesItsLock)
{
    // The child runs its own emulator, on port 5 of the same directory.
    pid_t child;
    std::string program = HSIM_EXIT_PROGRAM;
    const char* argv[] = {program.c_str(), dir_.c_str(), "5", nullptr};
    ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = 0;
    bool ended = WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 30000);
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(ended) << "the process hung at exit";
    ASSERT_TRUE(WIFEXITED(status)) << "the process crashed at exit";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "0 = connected, then exited";
    struct stat st;
    EXPECT_NE(stat(lockPath(5).c_str(), &st), 0) << "lock file left behind";
}

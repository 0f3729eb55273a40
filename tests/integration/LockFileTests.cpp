// The lock file seen from a whole connection: a busy port is never probed,
// and a process that exits without HSIMFree leaves no lock behind.
#include "Fixture.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

extern char** environ;

using namespace hsimtest;

TEST_F(EmulatorTest, BusyPortIsNeverProbed)
{
    const int32_t self = int32_t(getpid());  // a live owner: ourselves
    std::filesystem::create_directories(lockDir_);
    std::ofstream(lockPath(), std::ios::binary).write(reinterpret_cast<const char*>(&self), 4);
    hsimemu::Emulator& emulator = startEmulator();
    EXPECT_FALSE(HSIMConnect(kPort, 1500));
    EXPECT_TRUE(emulator.received("probe").empty());
    EXPECT_EQ(std::filesystem::file_size(lockPath()), 4u) << "the owner's lock stays";
}

TEST_F(EmulatorTest, ProcessExitingWithoutFreeRemovesItsLock)
{
    // The child runs its own emulators, on ports 5 and 6 of the same directory.
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
    EXPECT_EQ(WEXITSTATUS(status), 0) << "0 = both connected, then exited";
    struct stat st;
    EXPECT_NE(stat(lockPath(5).c_str(), &st), 0) << "the default simulator's lock file left behind";
    EXPECT_NE(stat(lockPath(6).c_str(), &st), 0) << "an opened simulator's lock file left behind";
}

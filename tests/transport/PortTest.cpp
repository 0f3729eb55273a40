// The lock file that keeps a second process off the port, and the port's
// transfers ending at once when it is closed or replaced. Linked without the
// lifecycle, so no library thread runs and the tests may fork.
#include "transport/DeviceLocation.h"
#include "transport/LockFile.h"
#include "transport/Port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include "LayerContext.h"
#include "transport/PortContext.h"

namespace {
const bool kContext = layertest::kDefaultInstalled<hsim::PortContext>;
}  // namespace

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kPort = 4;

class LockFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hsim-lock-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(DeviceLocationSet(nullptr, (dir_ + "/locks").c_str()), 0);
    }
    void TearDown() override
    {
        UnlockDeviceFile();
        DeviceLocationSet(nullptr, nullptr);
        fs::remove_all(dir_);
    }
    // Writes the lock file of port 4, or reads it ("" when there is none).
    void write(const std::string& bytes, fs::perms perms = fs::perms(0600))
    {
        fs::create_directories(dir_ + "/locks");
        std::ofstream(lockPath(), std::ios::binary) << bytes;
        fs::permissions(lockPath(), perms);
    }
    std::string content() const
    {
        std::ifstream in(lockPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string lockPath() const { return dir_ + "/locks/norvale.ACM4.lock"; }
    static std::string pidBytes(int32_t pid) { return std::string(reinterpret_cast<const char*>(&pid), 4); }

    std::string dir_;
};

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

TEST_F(LockFile, TakenWhenFreeOrStaleRefusedWhenBusyOrUnreadable)
{
    const std::string self = pidBytes(int32_t(getpid()));
    const std::string gone = pidBytes(FinishedProcessId());
    const std::string shortLock("\x12\x34", 2);
    struct Case {
        const char* what;
        const std::string* before;  // null: no lock file
        bool taken;
        std::string after;
    } cases[] = {
        {"no lock file", nullptr, true, self},
        {"owner gone: stale, taken over", &gone, true, self},
        {"our own lock counts as busy", &self, false, self},
        {"2 bytes: busy, left alone", &shortLock, false, shortLock},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_ + "/locks");
        if (c.before)
            write(*c.before);
        EXPECT_EQ(LockDeviceFile(kPort), c.taken) << c.what;
        EXPECT_EQ(content(), c.after) << c.what;
        UnlockDeviceFile();
        EXPECT_EQ(fs::exists(lockPath()), !c.taken) << c.what << ": unlock removes only our own lock";
    }
    // The missing lock directory was created, mode 0755; the lock is 0600.
    umask(022);
    fs::remove_all(dir_ + "/locks");
    ASSERT_TRUE(LockDeviceFile(kPort));
    struct stat st;
    ASSERT_EQ(stat((dir_ + "/locks").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat(lockPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Process 1 runs under another user than the one probing it: the probe
// answers EPERM, and the lock is busy, not stale.
TEST_F(LockFile, OwnerOfAnotherUserIsAlive)
{
    write(pidBytes(1), fs::perms(0666));
    fs::permissions(dir_ + "/locks", fs::perms(0777));
    fs::permissions(dir_, fs::perms(0755));
    pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        _exit(LockDeviceFile(kPort) ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 3) << "could not become another user";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the lock of a live process was taken";
    EXPECT_EQ(content(), pidBytes(1));
}

// Transfers on a port that is closed, or replaced by a new one, end at once
// however long their time-out, every time. (A reader that starts only after
// the switch finds the new port, which the round then closes.)
TEST(Port, TransfersEndAtOnceWhenThePortGoes)
{
    for (int round = 0; round < 40; ++round) {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
        ASSERT_TRUE(PortAdopt(pair[0]));
        PortSetPath("/dev/ttyACM0");
        ASSERT_TRUE(DeviceIsConnected());
        long long waited[2] = {-1, -1};
        int results[2] = {0, 0};
        std::thread readers[2];
        for (int i = 0; i < 2; ++i)
            readers[i] = std::thread([&, i] {
                unsigned char buffer[64];
                auto start = Clock::now();
                results[i] = ReadDataEx(buffer, 64, 5000);
                waited[i] = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 5));
        int replacement[2] = {-1, -1};
        if (round % 2 == 1) {
            ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, replacement), 0);
            ASSERT_TRUE(PortAdopt(replacement[0]));  // retires the port in use
            std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
        }
        DeviceClose();
        for (int i = 0; i < 2; ++i) {
            readers[i].join();
            EXPECT_LE(results[i], 0) << "round " << round;
            EXPECT_LT(waited[i], 2500) << "round " << round;
        }
        EXPECT_FALSE(DeviceIsConnected());
        close(pair[1]);
        if (replacement[1] >= 0)
            close(replacement[1]);
    }
    // The port that replaces another works.
    int first[2];
    int second[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, first), 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, second), 0);
    ASSERT_TRUE(PortAdopt(first[0]));
    ASSERT_TRUE(PortAdopt(second[0]));
    const unsigned char hello[3] = {1, 2, 3};
    unsigned char got[3] = {};
    ASSERT_EQ(::write(second[1], hello, 3), 3);
    EXPECT_EQ(ReadDataEx(got, 3, 1000), 3);
    EXPECT_EQ(memcmp(got, hello, 3), 0);
    DeviceClose();
    EXPECT_EQ(ReadDataEx(got, 3, 0), 0) << "a closed port refuses at once";
    close(first[1]);
    close(second[1]);
}

// What a transfer leaves for its thread to report: the bytes asked for, the
// bytes moved and the errno of the system call that failed. /dev/null opened
// for one direction is always ready and refuses the other with EBADF.
TEST(Port, TransfersTellWhatMovedAndTheOsError)
{
    struct Case {
        const char* what;
        int (*open)();
        bool write;
        int returned;
        TransferOutcome outcome;
    };
    static int pair[2];
    const Case cases[] = {
        {"write to a read-only port", [] { return ::open("/dev/null", O_RDONLY); }, true, 0, {8, 0, EBADF}},
        {"read from a write-only port", [] { return ::open("/dev/null", O_WRONLY); }, false, 0, {8, 0, EBADF}},
        {"read of 3 bytes, then the end of file",
         [] {
             if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0 || ::write(pair[1], "abc", 3) != 3)
                 return -1;
             close(pair[1]);
             return pair[0];
         },
         false, 3, {8, 3, 0}},
        {"whole write", [] { return ::open("/dev/null", O_WRONLY); }, true, 8, {8, 8, 0}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(PortAdopt(c.open())) << c.what;
        unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_EQ(c.write ? WriteData(bytes, 8, 1) : ReadDataEx(bytes, 8, 1000), c.returned) << c.what;
        const TransferOutcome got = LastTransfer();
        EXPECT_EQ(got.expected, c.outcome.expected) << c.what;
        EXPECT_EQ(got.done, c.outcome.done) << c.what;
        EXPECT_EQ(got.osError, c.outcome.osError) << c.what;
    }
    DeviceClose();
}

}  // namespace

// Run-time faults, unplug and replug.
#include <sys/stat.h>

#include "EmuLine.h"

namespace emutest {
namespace {

using hsimemu::Fault;

const Bytes kProbe = {0x55, 0x00, 0x00};

class Faults : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        options_.identity.number1 = 0x0102;
        startAndOpen();
    }

    Bytes goodIdentity() const {
        const auto& id = options_.identity;
        return {0x55, 0x01, 0x00, 0x0C, 'H', 'S', 'E', id.code1, id.code2, id.number2, 0x01, 0x02};
    }
};

TEST_F(Faults, MuteAnswersNothingButLogs) {
    emu_->setFault(Fault::Mute, true);
    EXPECT_TRUE(emu_->fault(Fault::Mute));
    send(kProbe);
    EXPECT_TRUE(silentFor(300));
    ASSERT_TRUE(emu_->waitForMessages(1, 2000, "probe"));
    EXPECT_EQ(emu_->received("probe")[0].bytes, kProbe);

    emu_->setFault(Fault::Mute, false);
    EXPECT_EQ(exchange(kProbe, 12), goodIdentity());
}

TEST_F(Faults, WrongMagicMovesTheMagic) {
    emu_->setFault(Fault::WrongMagic, true);
    const auto& id = options_.identity;
    EXPECT_EQ(exchange(kProbe, 12),
              (Bytes{'H', 'S', 'E', 0x0C, 0x00, 0x00, 0x00, id.code1, id.code2, id.number2, 0x01,
                     0x02}));
    emu_->setFault(Fault::WrongMagic, false);
    EXPECT_EQ(exchange(kProbe, 12), goodIdentity());
}

TEST_F(Faults, ShortAnswersLoseTheirLastByte) {
    emu_->setFault(Fault::ShortAnswers, true);
    Bytes identity = goodIdentity();
    identity.pop_back();
    EXPECT_EQ(exchange(kProbe, 11), identity);
    EXPECT_TRUE(silentFor(100));  // the twelfth byte never comes
    Bytes block = powerOnControlBlock();
    block.pop_back();
    EXPECT_EQ(exchange(Bytes(64, 0), 63), block);
    EXPECT_TRUE(silentFor(100));
    EXPECT_EQ(exchange({0xAA, 0x03}, 4), (Bytes{0xAA, 0x03, 0x00, options_.identity.hwWord2}));
    EXPECT_TRUE(silentFor(100));
}

TEST_F(Faults, LateAnswersArriveAfterTheDelay) {
    emu_->setLateAnswerMs(300);
    emu_->setFault(Fault::LateAnswers, true);
    auto sent = SteadyClock::now();
    send(kProbe);
    Bytes early = readUpTo(12, 150);
    int earlyMs = elapsedMs(sent);
    Bytes rest = readUpTo(12 - early.size(), 5000);
    int totalMs = elapsedMs(sent);
    // The answer cannot come before the delay; the upper bound is generous.
    if (earlyMs < 290) {
        EXPECT_TRUE(early.empty());
    }
    early.insert(early.end(), rest.begin(), rest.end());
    EXPECT_EQ(early, goodIdentity());
    EXPECT_GE(totalMs, 290);
    EXPECT_LT(totalMs, 5000);
}

TEST_F(Faults, NoStreamReportsStopsAndResumesRequests) {
    setRelays(1);
    emu_->setFault(Fault::NoStreamReports, true);
    send(transfer(0, 0));
    EXPECT_TRUE(silentFor(200));
    EXPECT_EQ(emu_->streamStats().transfers, 1u);
    emu_->setFault(Fault::NoStreamReports, false);
    Bytes report = readUpTo(64, 3000);
    ASSERT_EQ(report.size(), 64u);
    EXPECT_EQ(report[0], 0x01);
    EXPECT_EQ(report[1], 0x55);
}

TEST_F(Faults, UnplugRemovesTheNodeAndHangsUpTheHost) {
    struct stat st {};
    ASSERT_EQ(lstat(emu_->nodePath().c_str(), &st), 0);
    emu_->unplug();
    EXPECT_FALSE(emu_->plugged());
    EXPECT_NE(lstat(emu_->nodePath().c_str(), &st), 0);

    pollfd p{fd_, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    uint8_t byte;
    ssize_t n = ::read(fd_, &byte, 1);
    EXPECT_LE(n, 0);  // end of file or an error, never data
}

TEST_F(Faults, ReplugPublishesANewTerminalWithPowerOnState) {
    setRelays(1);
    EXPECT_TRUE(emu_->streamStats().outputOn);
    emu_->unplug();
    closeNode();
    ASSERT_TRUE(emu_->replug()) << emu_->lastError();
    EXPECT_TRUE(emu_->plugged());
    openNode();
    EXPECT_EQ(exchange(kProbe, 12), goodIdentity());
    // The power cycle turned the relays off again.
    EXPECT_EQ(exchange(Bytes(64, 0), 64), powerOnControlBlock());
    EXPECT_FALSE(emu_->streamStats().outputOn);
}

TEST_F(Faults, AnswersForAClosedPortAreDiscarded) {
    // A late answer that falls due after the host closed its side must not
    // greet the next host that opens the port.
    emu_->setLateAnswerMs(150);
    emu_->setFault(Fault::LateAnswers, true);
    send(kProbe);
    ASSERT_TRUE(emu_->waitForMessages(1, 2000, "probe"));
    closeNode();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    emu_->setFault(Fault::LateAnswers, false);
    openNode();
    EXPECT_TRUE(silentFor(200));
    EXPECT_EQ(exchange(kProbe, 12), goodIdentity());
}

TEST_F(Faults, AMessageLeftUnfinishedByAClosingHostIsDropped) {
    Bytes half = msg({0xCC, 0xFF, 0x07, 0x00, 0x12}, 20);
    send(half);
    closeNode();
    ASSERT_TRUE(emu_->waitForMessages(1, 2000, "junk"));
    EXPECT_EQ(emu_->received("junk")[0].bytes, half);
    openNode();
    EXPECT_EQ(exchange(kProbe, 12), goodIdentity());
    EXPECT_EQ(emu_->dacWord1(), 0x8000);  // the register write never happened
}

class Publishing : public EmuTest {};

TEST_F(Publishing, StartReplacesAStaleNode) {
    std::string node = dir_ + "/ttyACM5";
    ASSERT_EQ(symlink("/nonexistent/pts/99", node.c_str()), 0);
    startAndOpen();
    char target[256] = {};
    ASSERT_GT(readlink(node.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
    EXPECT_EQ(exchange(kProbe, 12).size(), 12u);
    closeNode();
    emu_->stop();
    struct stat st {};
    EXPECT_NE(lstat(node.c_str(), &st), 0);
}

TEST_F(Publishing, StopLeavesANodeThatAnotherEmulatorTookOver) {
    startAndOpen();
    closeNode();
    hsimemu::Emulator second(options_);
    ASSERT_TRUE(second.start());
    char target[256] = {};
    ASSERT_GT(readlink(second.nodePath().c_str(), target, sizeof target - 1), 0);
    emu_->stop();
    char after[256] = {};
    ASSERT_GT(readlink(second.nodePath().c_str(), after, sizeof after - 1), 0);
    EXPECT_STREQ(after, target);
    openNode();
    EXPECT_EQ(exchange(kProbe, 12).size(), 12u);
    closeNode();
}

TEST_F(Publishing, StartFailsWithoutADirectory) {
    options_.directory = dir_ + "/missing";
    hsimemu::Emulator emu(options_);
    EXPECT_FALSE(emu.start());
    EXPECT_FALSE(emu.plugged());
    EXPECT_FALSE(emu.lastError().empty());
}

}  // namespace
}  // namespace emutest

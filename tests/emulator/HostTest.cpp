// The host side of the line: answers for a closed port, and the node the
// emulator publishes.
#include <sys/stat.h>

#include "EmuLine.h"

namespace {

const Bytes kProbe = {0x55, 0x00, 0x00};

class HostPresence : public EmuTest {};

// An answer that falls due after the host closed its side, or that the host
// left unread, must not greet the next host that opens the port.
TEST_F(HostPresence, AnswersForAClosedPortAreDiscarded) {
    for (int lateMs : {150, 0}) {
        emu_->clearReceived();
        emu_->setLateAnswerMs(lateMs);
        emu_->setFault(hsimemu::Fault::LateAnswers, lateMs > 0);
        send(kProbe);
        ASSERT_TRUE(emu_->waitForMessages(1, 2000, "probe"));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        closeNode();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        openNode();
        EXPECT_TRUE(silentFor(200)) << "answer delayed by " << lateMs << " ms";
        EXPECT_EQ(exchange(kProbe, 12).size(), 12u);
    }
}

class Publishing : public EmuTest {};

TEST_F(Publishing, StartReplacesAStaleNodeAndStopRemovesIt) {
    closeNode();
    emu_->stop();
    ASSERT_EQ(symlink("/nonexistent/pts/99", emu_->nodePath().c_str()), 0);
    ASSERT_TRUE(emu_->start()) << emu_->lastError();
    openNode();  // through the node
    EXPECT_EQ(exchange(kProbe, 12).size(), 12u);
    emu_->stop();
    struct stat st {};
    EXPECT_NE(lstat(emu_->nodePath().c_str(), &st), 0);
}

}  // namespace

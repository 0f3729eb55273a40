// Test side of the line: a fixture that runs an emulator in a temporary
// directory and talks to its node with plain open/read/write.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"

namespace emutest {

using Bytes = std::vector<uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// Bytes with the given leading values, zero-filled to length.
inline Bytes msg(std::initializer_list<uint8_t> lead, size_t length) {
    Bytes b(lead);
    b.resize(length, 0);
    return b;
}

inline int elapsedMs(SteadyClock::time_point since) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - since).count());
}

class EmuTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/hsimemu-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        options_.directory = dir_;
        options_.port = 5;
        options_.pacing = hsimemu::Pacing::AsFastAsHost;
    }

    void TearDown() override {
        closeNode();
        emu_.reset();
        rmdir(dir_.c_str());
    }

    // Starts the emulator and opens its node.
    void startAndOpen() {
        emu_ = std::make_unique<hsimemu::Emulator>(options_);
        ASSERT_TRUE(emu_->start()) << emu_->lastError();
        openNode();
    }

    void openNode() {
        closeNode();
        fd_ = ::open(emu_->nodePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd_, 0) << emu_->nodePath();
    }

    void closeNode() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void send(const Bytes& bytes) {
        size_t done = 0;
        auto giveUp = SteadyClock::now() + std::chrono::seconds(5);
        while (done < bytes.size() && SteadyClock::now() < giveUp) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else {
                pollfd p{fd_, POLLOUT, 0};
                poll(&p, 1, 50);
            }
        }
        ASSERT_EQ(done, bytes.size());
    }

    // Reads until n bytes arrived or timeoutMs passed; returns what came.
    Bytes readUpTo(size_t n, int timeoutMs) {
        Bytes out;
        auto giveUp = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - SteadyClock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            uint8_t buf[4096];
            ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (got <= 0) break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    // One exchange: writes the message and reads the answer's length (the
    // generous time-out only matters when the emulator fails).
    Bytes exchange(const Bytes& message, size_t answerLength) {
        send(message);
        return readUpTo(answerLength, 3000);
    }

    // True when nothing arrives within ms.
    bool silentFor(int ms) { return readUpTo(1, ms).empty(); }

    // One message and the answer it must get, byte for byte.
    struct Step {
        Bytes send;
        Bytes answer;
    };
    void expectExchanges(const std::vector<Step>& steps) {
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_EQ(exchange(steps[i].send, steps[i].answer.size()), steps[i].answer)
                << "step " << i;
        }
        EXPECT_TRUE(silentFor(30));  // nothing beyond the answers
    }

    // Reads the control block and writes it back with the relay byte and the
    // sample rate set, as the host does.
    void setRelays(uint8_t relay, uint16_t rate = 40000) {
        Bytes block = exchange(Bytes(64, 0), 64);
        ASSERT_EQ(block.size(), 64u);
        block[1] = 0xFF;
        block[2] = relay;
        block[5] = static_cast<uint8_t>(rate >> 8);
        block[6] = static_cast<uint8_t>(rate);
        ASSERT_EQ(exchange(block, 64).size(), 64u);
    }

    std::string dir_;
    hsimemu::Options options_;
    std::unique_ptr<hsimemu::Emulator> emu_;
    int fd_ = -1;
};

// A streaming transfer: 50 packets numbered from firstSeq; sample k of the
// transfer carries DC word base + k and AC word -(base + k).
inline Bytes transfer(uint16_t firstSeq, uint16_t base) {
    Bytes t(3200, 0);
    for (int p = 0; p < 50; ++p) {
        uint8_t* pk = &t[64 * p];
        pk[0] = 1;
        pk[1] = 1;
        pk[5] = 14;
        uint16_t seq = static_cast<uint16_t>(firstSeq + p);
        pk[6] = static_cast<uint8_t>(seq >> 8);
        pk[7] = static_cast<uint8_t>(seq);
        for (int i = 0; i < 14; ++i) {
            uint16_t dc = static_cast<uint16_t>(base + p * 14 + i);
            uint16_t ac = static_cast<uint16_t>(-static_cast<int>(dc));
            pk[8 + 4 * i] = static_cast<uint8_t>(dc >> 8);
            pk[9 + 4 * i] = static_cast<uint8_t>(dc);
            pk[10 + 4 * i] = static_cast<uint8_t>(ac >> 8);
            pk[11 + 4 * i] = static_cast<uint8_t>(ac);
        }
    }
    return t;
}

// A transfer of stop packets: 01 01 00 00 00 0E FF 00, then 14 x 80 00 00 00.
inline Bytes stopTransfer() {
    Bytes t(3200, 0);
    for (int p = 0; p < 50; ++p) {
        uint8_t* pk = &t[64 * p];
        pk[0] = 1;
        pk[1] = 1;
        pk[5] = 14;
        pk[6] = 0xFF;
        for (int i = 0; i < 14; ++i) pk[8 + 4 * i] = 0x80;
    }
    return t;
}

}  // namespace emutest

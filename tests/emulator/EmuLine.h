// Test side of the line: a fixture that runs an emulator (paced as fast as the
// host) in a temporary directory and talks to its node with plain
// open/read/write.
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

using Bytes = std::vector<uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// Bytes with the given leading values, zero-filled to length.
inline Bytes msg(std::initializer_list<uint8_t> lead, size_t length) {
    Bytes b(lead);
    b.resize(length, 0);
    return b;
}

// Big-endian 16-bit words, as every multi-byte field on the wire.
inline void put16(Bytes& b, size_t at, unsigned v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
inline unsigned be16(const Bytes& b, size_t at) { return b[at] << 8 | b[at + 1]; }

class EmuTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/hsimemu-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        options_.directory = dir_;
        options_.pacing = hsimemu::Pacing::AsFastAsHost;
        emu_ = std::make_unique<hsimemu::Emulator>(options_);
        ASSERT_TRUE(emu_->start()) << emu_->lastError();
        openNode();
    }

    void TearDown() override {
        closeNode();
        emu_.reset();
        rmdir(dir_.c_str());
    }

    void openNode() {
        fd_ = ::open(emu_->nodePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd_, 0) << emu_->nodePath();
    }

    void closeNode() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void send(const Bytes& bytes) {
        size_t done = 0;
        for (int tries = 0; done < bytes.size() && tries < 100; ++tries) {
            pollfd p{fd_, POLLOUT, 0};
            ssize_t n = poll(&p, 1, 50) > 0 ? ::write(fd_, &bytes[done], bytes.size() - done) : 0;
            done += n > 0 ? static_cast<size_t>(n) : 0;
        }
        ASSERT_EQ(done, bytes.size());
    }

    // Reads until n bytes arrived or timeoutMs passed; returns what came.
    Bytes readUpTo(size_t n, int timeoutMs) {
        Bytes out;
        auto giveUp = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && SteadyClock::now() < giveUp) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            uint8_t buf[4096];
            ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (got > 0) out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    // The time-out only matters when the emulator fails to answer.
    Bytes exchange(const Bytes& message, size_t answerLength) {
        send(message);
        return readUpTo(answerLength, 3000);
    }

    bool silentFor(int ms) { return readUpTo(1, ms).empty(); }

    // Control block write: relay byte (1 = output on) and sample rate.
    void setRelays(uint8_t relay, unsigned rate = 40000) {
        Bytes block = msg({0xC5, 0xFF, relay}, 64);
        put16(block, 5, rate);
        ASSERT_EQ(exchange(block, 64).size(), 64u);
    }

    std::string dir_;
    hsimemu::Options options_;
    std::unique_ptr<hsimemu::Emulator> emu_;
    int fd_ = -1;
};

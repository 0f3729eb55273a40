// Common set-up of the integration tests: an emulated simulator on port 3 of
// a private node directory, and the library pointed at that directory.
#pragma once

#include "Emulator.h"
#include "WaitUntil.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hsimtest {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

inline void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// What the connection callback was told, with the time of each call.
struct CallbackLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> told;
    std::vector<Clock::time_point> times;

    static CallbackLog& instance()
    {
        static CallbackLog log;
        return log;
    }
    static void callback(bool connected)
    {
        CallbackLog& log = instance();
        std::lock_guard<std::mutex> guard(log.mutex);
        log.told.push_back(connected);
        log.times.push_back(Clock::now());
        log.changed.notify_all();
    }
    // Waits until the callback has been called `count` times in all.
    bool waitForCalls(size_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return told.size() >= count; });
    }
    std::vector<bool> values()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return told;
    }
    // Milliseconds from `since` to the call `index`.
    long long msTo(size_t index, Clock::time_point since)
    {
        std::lock_guard<std::mutex> guard(mutex);
        return std::chrono::duration_cast<std::chrono::milliseconds>(times.at(index) - since).count();
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(mutex);
        told.clear();
        times.clear();
    }
};

class EmulatorTest : public ::testing::Test {
protected:
    static constexpr int kPort = 3;

    void SetUp() override
    {
        char pattern[] = "/tmp/hsim-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        lockDir_ = dir_ + "/lock";
        std::string format = dir_ + "/ttyACM%d";
        ASSERT_EQ(HSIMSetDeviceLocation(format.c_str(), lockDir_.c_str()), 0);
        CallbackLog::instance().clear();
    }

    void TearDown() override
    {
        HSIMFree();
        emulator_.reset();
        HSIMSetDeviceLocation(nullptr, nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    hsimemu::Emulator& startEmulator(hsimemu::Pacing pacing = hsimemu::Pacing::AsFastAsHost, int port = kPort)
    {
        hsimemu::Options options;
        options.directory = dir_;
        options.port = port;
        options.pacing = pacing;
        emulator_ = std::make_unique<hsimemu::Emulator>(options);
        EXPECT_TRUE(emulator_->start());
        return *emulator_;
    }

    // Starts the emulator and the library with the callback log, and waits
    // until the connection is told.
    hsimemu::Emulator& startWithCallback(hsimemu::Pacing pacing = hsimemu::Pacing::AsFastAsHost)
    {
        startEmulator(pacing);
        EXPECT_TRUE(HSIMInit(CallbackLog::callback));
        EXPECT_TRUE(CallbackLog::instance().waitForCalls(1, 10000));
        return *emulator_;
    }

    // Starts the emulator and connects to it on its port.
    hsimemu::Emulator& connect(hsimemu::Pacing pacing = hsimemu::Pacing::AsFastAsHost)
    {
        startEmulator(pacing);
        EXPECT_TRUE(HSIMConnect(kPort, 10000));
        return *emulator_;
    }

    // The last message of a kind the emulator received.
    Bytes lastOf(const std::string& kind) const
    {
        auto messages = emulator_->received(kind);
        return messages.empty() ? Bytes{} : messages.back().bytes;
    }

    std::string lockPath(int port = kPort) const
    {
        return lockDir_ + "/norvale.ACM" + std::to_string(port) + ".lock";
    }

    std::string dir_;
    std::string lockDir_;
    std::unique_ptr<hsimemu::Emulator> emulator_;
};

}  // namespace hsimtest

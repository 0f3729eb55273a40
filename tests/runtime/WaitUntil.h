// Polls a condition until it holds or a generous deadline passes, for tests
// that watch other threads or signals without depending on exact timing.
#pragma once

#include <chrono>
#include <thread>

template <typename Predicate>
bool WaitUntil(Predicate condition, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool met = condition();
    while (!met && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        met = condition();
    }
    return met;
}

inline long long MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

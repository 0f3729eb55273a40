// Polls a condition until it holds or a generous deadline passes, for tests
// that watch other threads, devices or signals without depending on exact
// timing. The condition is evaluated once per turn, so it may consume what it
// looks at.
#pragma once

#include <chrono>
#include <thread>

template <typename Predicate>
bool WaitUntil(Predicate condition, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool met = condition();
    for (; !met && std::chrono::steady_clock::now() < deadline; met = condition())
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return met;
}

inline long long MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

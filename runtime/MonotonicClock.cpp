// Deadline arithmetic on CLOCK_MONOTONIC for events, polls and sleeps.
#include "runtime/MonotonicClock.h"

namespace {
constexpr long kNanosPerSecond = 1000000000L;
constexpr long kNanosPerMilli = 1000000L;
}

timespec MonotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

timespec AddMilliseconds(const timespec& start, unsigned int ms)
{
    timespec deadline = start;
    deadline.tv_sec += static_cast<time_t>(ms / 1000U);
    deadline.tv_nsec += static_cast<long>(ms % 1000U) * kNanosPerMilli;
    if (deadline.tv_nsec > kNanosPerSecond - 1) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= kNanosPerSecond;
    }
    return deadline;
}

int MillisecondsUntil(const timespec& deadline)
{
    const timespec now = MonotonicNow();
    long long nanos = (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * kNanosPerSecond +
                      (deadline.tv_nsec - now.tv_nsec);
    long long ms = nanos <= 0 ? 0 : (nanos + kNanosPerMilli - 1) / kNanosPerMilli;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

bool IsPastDeadline(const timespec& now, const timespec& deadline)
{
    return now.tv_sec > deadline.tv_sec ||
           (now.tv_sec == deadline.tv_sec && now.tv_nsec > deadline.tv_nsec);
}

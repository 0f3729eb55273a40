// Deadline arithmetic on CLOCK_MONOTONIC for events, polls and sleeps.
#include "link/MonotonicClock.h"

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

bool IsPastDeadline(const timespec& now, const timespec& deadline)
{
    return now.tv_sec > deadline.tv_sec ||
           (now.tv_sec == deadline.tv_sec && now.tv_nsec > deadline.tv_nsec);
}

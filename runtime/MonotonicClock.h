// Deadlines on the monotonic clock for the waits and sleeps of the runtime
// primitives. CLOCK_MONOTONIC never jumps when the wall clock is set, so a
// wait measured on it lasts exactly as long as asked.
#pragma once

#include <time.h>

// The current time of CLOCK_MONOTONIC.
timespec MonotonicNow();

// start + ms, normalised so that tv_nsec stays within 0..999,999,999: the
// whole seconds of ms go to tv_sec, the rest to tv_nsec, and one second is
// carried when tv_nsec overflows. Every unsigned value is valid; 0xFFFFFFFF
// is a deadline about 49.7 days ahead.
timespec AddMilliseconds(const timespec& start, unsigned int ms);

// True when `now` lies strictly after `deadline`.
bool IsPastDeadline(const timespec& now, const timespec& deadline);

// Whole milliseconds from now until the deadline, rounded up; 0 once it has
// passed.
int MillisecondsUntil(const timespec& deadline);

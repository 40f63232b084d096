// Milliseconds of the system's monotonic clock, in 64 bits: unaffected by
// changes of the wall clock, and never wrapping in the life of a process.
// The time-outs of the event wait and the timers' expirations use it.
#ifndef MONOTONICCLOCK_H
#define MONOTONICCLOCK_H

#include <cstdint>

int64_t monotonicMillis();

// Milliseconds still to wait as a poll(2) time-out: 0 when none are left,
// at most INT_MAX.
int pollTimeout(int64_t millis);

#endif

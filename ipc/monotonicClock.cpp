#include "monotonicClock.h"

#include <climits>
#include <ctime>

int64_t monotonicMillis()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int pollTimeout(int64_t millis)
{
    return millis <= 0 ? 0 : millis > INT_MAX ? INT_MAX : static_cast<int>(millis);
}

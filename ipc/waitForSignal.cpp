#include "waitForSignal.h"

#include "SignalCatcher.h"
#include "monotonicClock.h"
#include "selectWrapper.h"

#include <ctime>

bool waitForSignal(int64_t microseconds)
{
    const int64_t end = monotonicMillis() + (microseconds + 999) / 1000;
    SignalCatcher* catcher = SignalCatcher::existing();
    const bool watched = catcher && catcher->signalPipe().descriptor() >= 0;
    for (int64_t left; (left = end - monotonicMillis()) > 0;) {
        if (watched) {
            // A signal caught during the poll ends it early; its number is
            // in the pipe by then.
            if (waitReadable(&catcher->signalPipe(), pollTimeout(left)))
                return true;
        } else {
            const struct timespec rest = {static_cast<time_t>(left / 1000),
                                          static_cast<long>(left % 1000) * 1000000L};
            nanosleep(&rest, nullptr);
        }
    }
    return false;
}

#include "waitForSignal.h"

#include "SignalCatcher.h"
#include "monotonicClock.h"
#include "selectWrapper.h"

#include <poll.h>

#include <cerrno>
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

int waitForDescriptor(int fd, short events, int64_t microseconds)
{
    const int64_t end = monotonicMillis() + (microseconds + 999) / 1000;
    SignalCatcher* catcher = SignalCatcher::existing();
    const int pipe = catcher ? catcher->signalPipe().descriptor() : -1;
    for (;;) {
        struct pollfd watched[2] = {{fd, events, 0}, {pipe, POLLIN, 0}};
        const int n = poll(watched, pipe >= 0 ? 2 : 1, pollTimeout(end - monotonicMillis()));
        if (n < 0 && errno != EINTR)
            return 0;
        if (n > 0 && watched[0].revents != 0)
            return 1;
        if (n > 0)
            return -1;
        // A signal whose number is not in the pipe yet, or none: the time
        // decides.
        if (n == 0 && monotonicMillis() >= end)
            return 0;
    }
}

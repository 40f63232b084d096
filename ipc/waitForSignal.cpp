#include "waitForSignal.h"

#include "SignalCatcher.h"
#include "monotonicClock.h"

#include <poll.h>

bool waitForSignal(int64_t microseconds)
{
    // poll leaves out a descriptor of -1: only the signal pipe is watched.
    return microseconds > 0 && waitForDescriptor(-1, 0, microseconds) < 0;
}

int waitForDescriptor(int fd, short events, int64_t microseconds)
{
    const int64_t end = monotonicMillis() + (microseconds + 999) / 1000;
    SignalCatcher* catcher = SignalCatcher::existing();
    const int pipe = catcher ? catcher->signalPipe().descriptor() : -1;
    for (;;) {
        struct pollfd watched[2] = {{fd, events, 0}, {pipe, POLLIN, 0}};
        const int n = poll(watched, pipe >= 0 ? 2 : 1, pollTimeout(end - monotonicMillis()));
        if (n > 0 && watched[0].revents != 0)
            return 1;
        if (n > 0)
            return -1;
        // A signal whose number is not in the pipe yet, a failed poll, or
        // nothing: the time decides.
        if (monotonicMillis() >= end)
            return 0;
    }
}

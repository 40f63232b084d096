#include "StoreClock.h"

#include "AbsTime.h"

#include <unistd.h>

namespace {

StoreClock::NowFunction nowFunction = nullptr;
StoreClock::PauseFunction pauseFunction = nullptr;

} // namespace

int32_t StoreClock::now() { return nowFunction ? nowFunction() : AbsTime::now().seconds(); }

void StoreClock::pause(int seconds)
{
    if (seconds <= 0)
        return;
    if (pauseFunction) {
        pauseFunction(seconds);
        return;
    }
    // sleep may return early on a signal; the rest is slept again.
    unsigned left = static_cast<unsigned>(seconds);
    while (left > 0)
        left = sleep(left);
}

void StoreClock::set(NowFunction now, PauseFunction pause)
{
    nowFunction = now;
    pauseFunction = pause;
}

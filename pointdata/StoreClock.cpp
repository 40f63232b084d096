#include "StoreClock.h"

#include "AbsTime.h"
#include "waitForSignal.h"

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
    // A signal ends the pause: a shutdown asked for meanwhile waits for the
    // work at hand only.
    waitForSignal(static_cast<int64_t>(seconds) * 1000000);
}

void StoreClock::set(NowFunction now, PauseFunction pause)
{
    nowFunction = now;
    pauseFunction = pause;
}

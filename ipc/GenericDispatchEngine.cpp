#include "GenericDispatchEngine.h"

#include "EventDispatcher.h"
#include "TimerEventClient.h"
#include "monotonicClock.h"
#include "selectWrapper.h"

#include <vector>

namespace {

// Fires a timer that is still entered; re-arms it when it stays active.
void fire(Set<TimerEventClient*>& timers, TimerEventClient* timer)
{
    timer->expire();
    if (timers.find(timer) && timer->isActive())
        timer->rearm();
}

} // namespace

void GenericDispatchEngine::run(EventDispatcher& dispatcher)
{
    Set<TimerEventClient*>& timers = dispatcher.timers();
    std::vector<TimerEventClient*> snapshot;
    while (dispatcher.isRunning()) {
        int64_t nextExpiration = TimerEventClient::INACTIVE;
        TimerEventClient* nextClient = nullptr;
        int64_t now = monotonicMillis();
        bool fired = false;
        snapshot.clear();
        for (int i = 0; i < timers.count(); ++i)
            snapshot.push_back(timers[i]);
        for (TimerEventClient* timer : snapshot) {
            if (!timers.find(timer) || !timer->isActive())
                continue;
            if (timer->expiration() <= now) {
                fire(timers, timer);
                fired = true;
            } else if (timer->expiration() < nextExpiration) {
                nextExpiration = timer->expiration();
                nextClient = timer;
            }
        }
        if (fired)
            continue;
        if (!nextClient) {
            selectWrapper(dispatcher.runSet(), -1);
            continue;
        }
        if (selectWrapper(dispatcher.runSet(), pollTimeout(nextExpiration - now)) !=
            SELECT_TIMED_OUT)
            continue;
        if (timers.find(nextClient) && nextClient->isActive() &&
            nextClient->expiration() <= monotonicMillis())
            fire(timers, nextClient);
    }
}

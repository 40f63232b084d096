#include "TimerEventClient.h"

#include "EventDispatcher.h"
#include "monotonicClock.h"

TimerEventClient::TimerEventClient() : _interval(-1), _expiration(INACTIVE) {}

TimerEventClient::~TimerEventClient()
{
    EventDispatcher::instance()->removeTimer(this);
}

void TimerEventClient::activate(bool on)
{
    if (!on)
        _expiration = INACTIVE;
    else if (!isActive())
        rearm();
}

void TimerEventClient::rearm()
{
    _expiration = monotonicMillis() + (_interval > 0 ? _interval : 0);
}

// TimerEventClient: an object woken when its timer expires.
//
// The owner sets the interval in milliseconds, enters the client in the
// EventDispatcher's timer set (EventDispatcher::addTimer) and activates it;
// GenericDispatchEngine::run calls expire when the expiration has come and
// re-arms an active client by its interval.  A client that wants a single
// expiry deactivates itself in expire.  The base destructor takes the client
// out of the timer set.
//
// Times are milliseconds of the monotonic clock (monotonicMillis) held in
// 64 bits, so an expiration never wraps; INACTIVE marks a client that is
// not armed.  Main thread only.
#ifndef TIMEREVENTCLIENT_H
#define TIMEREVENTCLIENT_H

#include <cstdint>

class TimerEventClient {
public:
    static constexpr int64_t INACTIVE = INT64_MAX;

    // Interval -1 (not set), inactive.
    TimerEventClient();
    TimerEventClient(const TimerEventClient&) = delete;
    TimerEventClient& operator=(const TimerEventClient&) = delete;
    virtual ~TimerEventClient();

    virtual void expire() = 0;

    int interval() const { return _interval; }
    void setInterval(int milliseconds) { _interval = milliseconds; }
    int64_t expiration() const { return _expiration; }

    bool isActive() const { return _expiration != INACTIVE; }
    // On: an inactive client expires one interval from now (a negative
    // interval counts as 0); an active one keeps its expiration.  Off:
    // inactive.
    void activate(bool on);
    // An active client's next expiration: one interval from now.
    void rearm();

private:
    int _interval;
    int64_t _expiration;
};

#endif

// CommsReqTimer: repeats a data request to the comms router that could not
// be sent, every 15 seconds until a send succeeds.  It owns the message and
// the target.  The timer fires only from the engine loop
// (GenericDispatchEngine::run).  Main thread only.
#ifndef COMMSREQTIMER_H
#define COMMSREQTIMER_H

#include "TimerEventClient.h"

class IPC_Target;
class ParameterizedMsg;

class CommsReqTimer : public TimerEventClient {
public:
    enum { INTERVAL_SECONDS = 15 };

    // Takes over the message and the target.
    CommsReqTimer(ParameterizedMsg* message, IPC_Target* target);
    ~CommsReqTimer() override;

    // Enters the timer set, armed one interval from now.
    void start();
    // Disarmed, out of the timer set.
    void stop();
    // Stops, sends the request again and starts again when the send fails.
    void expire() override;

    const IPC_Target& target() const { return *_target; }

private:
    ParameterizedMsg* _message;
    IPC_Target* _target;
    int _intervalSeconds;
};

#endif

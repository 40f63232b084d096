// GenericDispatchEngine: the engine of type 0.  It alternates the timers and
// a wait over the run set: fires every timer whose expiration has come
// (re-arming the ones still active), otherwise waits for descriptors until
// the next expiration, and fires that timer when the wait times out.
#ifndef GENERICDISPATCHENGINE_H
#define GENERICDISPATCHENGINE_H

#include "DispatchEngine.h"

class GenericDispatchEngine : public DispatchEngine {
public:
    void run(EventDispatcher& dispatcher) override;
};

#endif

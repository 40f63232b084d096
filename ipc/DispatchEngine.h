// DispatchEngine: an event loop over an EventDispatcher's timers and
// descriptor clients, entered in the dispatcher by engine type.
#ifndef DISPATCHENGINE_H
#define DISPATCHENGINE_H

class EventDispatcher;

class DispatchEngine {
public:
    DispatchEngine() {}
    DispatchEngine(const DispatchEngine&) = delete;
    DispatchEngine& operator=(const DispatchEngine&) = delete;
    virtual ~DispatchEngine();

    // Runs until the dispatcher's running flag is cleared.
    virtual void run(EventDispatcher& dispatcher) = 0;
};

#endif

// EventDispatcher: the process-wide registry of event sources, made on
// first use and never destroyed (clients may leave it from exit handlers).
//
// - waitSet: the descriptor clients Connection::waitForEvent watches;
// - runSet: the descriptor clients GenericDispatchEngine::run watches;
// - timers: the timer clients of the engine loop;
// - engines: dispatch engines by type; a GenericDispatchEngine is entered
//   under type 0 when the object is made.
//
// Every descriptor client is in both descriptor sets or in neither: addClient
// and removeClient change both.  Main thread only; the sets are never
// touched by the sending threads.
#ifndef EVENTDISPATCHER_H
#define EVENTDISPATCHER_H

#include "Dict.h"
#include "Set.h"

class DescriptorEventClient;
class DispatchEngine;
class TimerEventClient;

class EventDispatcher {
public:
    static EventDispatcher* instance();

    // Both descriptor sets.
    void addClient(DescriptorEventClient* client);
    void removeClient(DescriptorEventClient* client);
    void addTimer(TimerEventClient* timer);
    void removeTimer(TimerEventClient* timer);
    // Replaces any engine of that type; the engine is not owned.
    void addEngine(int engineType, DispatchEngine* engine);

    Set<DescriptorEventClient*>& waitSet() { return _waitSet; }
    Set<DescriptorEventClient*>& runSet() { return _runSet; }
    Set<TimerEventClient*>& timers() { return _timers; }

    // Sets started and running, then runs the engine of that type until
    // running is cleared (stop).  An unknown type is logged (BUG).
    void dispatch(int engineType);
    // Clears running: the engine loop ends after the pass in progress.
    void stop() { _running = false; }
    bool isRunning() const { return _running; }
    bool wasStarted() const { return _started; }

private:
    EventDispatcher();
    ~EventDispatcher() = delete;

    bool _running;
    bool _started;
    Set<TimerEventClient*> _timers;
    Set<DescriptorEventClient*> _runSet;
    Set<DescriptorEventClient*> _waitSet;
    Dict<int, DispatchEngine*> _engines;
};

#endif

#include "EventDispatcher.h"

#include "GenericDispatchEngine.h"
#include "LogStream.h"

EventDispatcher* EventDispatcher::instance()
{
    static EventDispatcher* dispatcher = new EventDispatcher;
    return dispatcher;
}

EventDispatcher::EventDispatcher() : _running(false), _started(false)
{
    static GenericDispatchEngine genericEngine;
    _engines.insert(0, &genericEngine);
}

void EventDispatcher::addClient(DescriptorEventClient* client)
{
    _runSet.insert(client);
    _waitSet.insert(client);
}

void EventDispatcher::removeClient(DescriptorEventClient* client)
{
    _runSet.remove(client);
    _waitSet.remove(client);
}

void EventDispatcher::addTimer(TimerEventClient* timer)
{
    _timers.insert(timer);
}

void EventDispatcher::removeTimer(TimerEventClient* timer)
{
    _timers.remove(timer);
}

void EventDispatcher::addEngine(int engineType, DispatchEngine* engine)
{
    _engines.insert(engineType, engine);
}

void EventDispatcher::dispatch(int engineType)
{
    _started = true;
    _running = true;
    DispatchEngine* engine = nullptr;
    if (_engines.find(engineType, nullptr, &engine) && engine) {
        engine->run(*this);
        return;
    }
    QEV_LOG(LogStream::BUG, "EventDispatcher")
        << "There's no dispatch engine registered with the event"
        << " dispatcher for type " << engineType << std::endl;
}

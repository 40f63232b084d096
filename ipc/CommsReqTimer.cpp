#include "CommsReqTimer.h"

#include "EventDispatcher.h"
#include "IPC_Target.h"
#include "LogStream.h"
#include "ParameterizedMsg.h"

CommsReqTimer::CommsReqTimer(ParameterizedMsg* message, IPC_Target* target)
    : _message(message), _target(target), _intervalSeconds(INTERVAL_SECONDS)
{
}

CommsReqTimer::~CommsReqTimer()
{
    delete _message;
    delete _target;
}

void CommsReqTimer::start()
{
    EventDispatcher::instance()->addTimer(this);
    setInterval(_intervalSeconds * 1000);
    activate(true);
}

void CommsReqTimer::stop()
{
    activate(false);
    EventDispatcher::instance()->removeTimer(this);
}

void CommsReqTimer::expire()
{
    stop();
    if (_message->send(*_target) == 0) {
        QEV_LOG(LogStream::EVENT, "CommsReqTimer") << "Data Request message sent to "
                                                   << *_target << "." << std::endl;
    } else {
        QEV_LOG(LogStream::PROBLEM, "CommsReqTimer") << "Send of Data Request message to "
                                                     << *_target << " failed."
                                                     << std::endl;
        start();
    }
}

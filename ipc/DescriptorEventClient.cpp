#include "DescriptorEventClient.h"

#include "EventDispatcher.h"

DescriptorEventClient::~DescriptorEventClient()
{
    EventDispatcher::instance()->removeClient(this);
}

int DescriptorEventClient::isHighPriority()
{
    return 0;
}

int64_t DescriptorEventClient::pausedUntil()
{
    return 0;
}

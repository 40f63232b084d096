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

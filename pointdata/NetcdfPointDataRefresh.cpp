// The store's view of its directory.
#include "NetcdfPointData.h"

#include "StoreClock.h"

bool NetcdfPointData::updateFileInfo()
{
    _nextCheckTime = StoreClock::now() + _checkInterval;
    return false;
}

#include "PointNetcdfFileInfo.h"

#include "PointFileStructure.h"

#include <algorithm>
#include <cstring>

void PointNetcdfFileInfo::freeStructure()
{
    staticIds.reset();
    lastRecord.reset();
    inventory.reset();
    charInventory.reset();
    firstInBin.reset();
    lastInBin.reset();
    latitudes.reset();
    longitudes.reset();
    recordIds.reset();
    recordTimes.reset();
    prevRecord.reset();
    isOverflow.reset();
    recordCapacity = 0;
    forgetIdIndex();
    if (readLevel > 1)
        readLevel = 1;
}

namespace {

// A new array of capacity elements holding the first kept of the old one
// (zero elsewhere); null stays null.
template <class T>
void regrow(std::unique_ptr<T[]>& array, int capacity, int kept)
{
    if (!array)
        return;
    std::unique_ptr<T[]> fresh(new T[static_cast<size_t>(capacity)]());
    std::copy(array.get(), array.get() + kept, fresh.get());
    array = std::move(fresh);
}

} // namespace

void PointNetcdfFileInfo::ensureRecordCapacity(int n)
{
    if (n <= recordCapacity)
        return;
    int maxStaticIds = structure ? structure->maxStaticIds : 0;
    int rowLength = structure && structure->totalIdLen > 0 ? structure->totalIdLen : 1;
    int block = maxStaticIds == 0 || maxStaticIds > 200 ? 200 : maxStaticIds;
    int capacity = n + block;
    int kept = std::min(recordCount, recordCapacity);
    if (kept < 0)
        kept = 0;
    regrow(latitudes, capacity, kept);
    regrow(longitudes, capacity, kept);
    regrow(recordTimes, capacity, kept);
    regrow(prevRecord, capacity, kept);
    regrow(isOverflow, capacity, kept);
    if (recordIds) {
        std::unique_ptr<char[]> fresh(new char[static_cast<size_t>(capacity) * rowLength]());
        memcpy(fresh.get(), recordIds.get(), static_cast<size_t>(kept) * rowLength);
        recordIds = std::move(fresh);
    }
    recordCapacity = capacity;
}

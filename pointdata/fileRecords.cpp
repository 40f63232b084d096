#include "fileRecords.h"

#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"

#include <algorithm>

bool binsOfRange(const PointFileStructure& s, int64_t c0, int64_t c1, int64_t start,
                 int64_t end, int& f, int& l)
{
    const int last = s.nInventoryBins - 1;
    const int64_t w = s.binWidth > 0 ? s.binWidth : 1;
    if (last < 1 || start <= c0)
        f = 0;
    else if (s.recordForecasts)
        f = static_cast<int>(std::min<int64_t>(last, (w + start - 1 - c0) / w));
    else
        f = static_cast<int>(std::min<int64_t>(last, (start - c0) / w));
    if (last < 1 || end >= c1)
        l = last < 0 ? 0 : last;
    else
        l = static_cast<int>(std::max<int64_t>(-1, std::min<int64_t>(last, (end - c0) / w)));
    return f < 1 && l >= last;
}

void recordSpanOfBins(const PointNetcdfFileInfo& info, int f, int l, int& first, int& last)
{
    first = info.recordCount;
    last = -1;
    if (!info.firstInBin || !info.lastInBin)
        return;
    const int bins = info.structure->nInventoryBins;
    for (int b = std::max(f, 0); b <= l && b < bins; ++b) {
        const int a = info.firstInBin[b];
        if (a >= 0 && a < info.recordCount && a < first)
            first = a;
        last = std::max(last, info.lastInBin[b]);
    }
}

bool stationHasDataInBins(const PointNetcdfFileInfo& info, int k, int f, int l)
{
    const PointFileStructure& s = *info.structure;
    const int bins = s.nInventoryBins;
    if (k < 0 || k >= info.nStaticIds)
        return false;
    f = std::max(f, 0);
    l = std::min(l, bins - 1);
    if (s.charInventories) {
        if (!info.charInventory)
            return false;
        const char* row = info.charInventory.get() + static_cast<size_t>(k) * bins;
        for (int b = f; b <= l; ++b) {
            if (row[b])
                return true;
        }
        return false;
    }
    if (!info.inventory)
        return false;
    uint32_t mask = 0;
    for (int b = f; b <= l && b < 32; ++b)
        mask |= 1u << b;
    return (static_cast<uint32_t>(info.inventory[k]) & mask) != 0;
}

void forEachChainRecord(const PointNetcdfFileInfo& info, int start,
                        const std::function<bool(int)>& visit)
{
    int r = start;
    for (int steps = 0; r >= 0 && r < info.recordCount && steps < info.recordCount; ++steps) {
        if (!visit(r))
            return;
        r = info.prevRecord ? info.prevRecord[r] : -1;
    }
}

const char* stationBins(const PointNetcdfFileInfo* info, int k)
{
    const PointFileStructure& s = *info->structure;
    if (!s.charInventories || !info->charInventory || k < 0 || k >= info->nStaticIds)
        return nullptr;
    return info->charInventory.get() + static_cast<size_t>(k) * s.nInventoryBins;
}

int stationBits(const PointNetcdfFileInfo* info, int k)
{
    if (info->structure->charInventories || !info->inventory || k < 0 || k >= info->nStaticIds)
        return 1;
    return info->inventory[k];
}

// Record selection: the handles of the files that hold a time range or a
// station, and the record sets filled from one file by time range or by id.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "PointRecordSet.h"
#include "fileRecords.h"

#include <algorithm>
#include <vector>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

namespace {

const char* const NO_FILE = "Could not find file handle that refers to";

void logNoOverlap() { PD_LOG(PROBLEM) << "input time range does not overlap file period" << std::endl; }

bool inRange(int t, int64_t start, int64_t end) { return start <= t && t <= end; }

} // namespace

PointRecordSet::Source NetcdfPointData::recordSource(PointNetcdfFileInfo* info, int records,
                                                     bool withTimes, std::vector<float>& lats,
                                                     std::vector<float>& lons) const
{
    PointRecordSet::Source from;
    if (info->structure->totalIdLen > 0 && info->recordIds) {
        from.idRows = info->recordIds.get();
        from.idLength = info->structure->totalIdLen;
    }
    if (info->latitudes && info->longitudes) {
        from.lats = info->latitudes.get();
        from.lons = info->longitudes.get();
    } else {
        lats.resize(static_cast<size_t>(records));
        lons.resize(static_cast<size_t>(records));
        if (records > 0 && recordPositions(info, 0, records, lats.data(), lons.data())) {
            from.lats = lats.data();
            from.lons = lons.data();
        }
    }
    if (withTimes && info->recordTimes)
        from.times = info->recordTimes.get();
    return from;
}

TimeRange NetcdfPointData::setRange(const TimeRange& range, const PointNetcdfFileInfo* info) const
{
    if (!_staticFile)
        return range;
    return TimeRange(AbsTime(info->coverageStart), AbsTime(info->coverageEnd), true);
}

bool NetcdfPointData::getHandlesForTimeRange(TimeRange range, SeqOfPtr<int*>& handles)
{
    const int64_t s = range.start().seconds(), e = range.end().seconds();
    refreshIfDue(s > _newestLookupEnd);
    handles = SeqOfPtr<int*>();
    if (_oldestLookupStart > e || _newestLookupEnd < s)
        return false;
    for (int i = _fileTimes.length() - 1; i >= 0; --i) {
        PointNetcdfFileInfo* info = fileInfoAt(i);
        if (!info || info->lookupStart > e || info->lookupEnd < s)
            continue;
        addClient(info);
        if (!info->handle && !openFileInfo(info)) {
            if (--info->clientCount <= 0) {
                info->clientCount = 0;
                registerClientless(info);
            }
            continue;
        }
        handles.append(info->handle);
    }
    return handles.length() > 0;
}

bool NetcdfPointData::getHandlesForId(const TextString& id, TimeRange range,
                                      SeqOfPtr<int*>& handles)
{
    refreshIfDue(range.start().seconds() > _newestLookupEnd);
    handles = SeqOfPtr<int*>();
    if (_oldestLookupStart > range.end().seconds() || _newestLookupEnd < range.start().seconds())
        return false;
    for (int i = _fileTimes.length() - 1; i >= 0; --i) {
        PointNetcdfFileInfo* info = fileInfoAt(i);
        if (!info)
            continue;
        const PointFileStructure* st = info->structure;
        int64_t s = range.start().seconds(), e = range.end().seconds();
        if (_staticFile) {
            s = info->lookupStart;
            e = info->lookupEnd;
        }
        if (info->lookupStart > e || info->lookupEnd < s || st->totalIdLen <= 0)
            continue;
        if (!getFileInfoNcFile(info))
            continue;
        if (!readFileStructure(-1, info, 3)) {
            closeCachedFile(info);
            continue;
        }
        const bool inside = info->lookupStart >= s && info->lookupEnd <= e;
        bool held = false;
        const int k = findStaticIdIndex(id, info);
        if (k >= 0) {
            int f = 0, l = 0;
            held = inside || st->nInventoryBins <= 1;
            if (!held) {
                binsOfRange(*st, info->lookupStart, info->lookupEnd, s, e, f, l);
                held = stationHasDataInBins(*info, k, f, l);
            }
        } else if (info->firstOverflow >= st->maxStaticIds && readFileStructure(-1, info, 5)) {
            const int r = !inside && info->recordTimes
                              ? findOverflowRecord(id, static_cast<int>(s), static_cast<int>(e), 0,
                                                   info)
                              : findNewestOverflowRecord(id, info);
            held = r >= 0;
        }
        if (!held || !info->file) {
            closeCachedFile(info);
            continue;
        }
        giveNcFileToFileInfo(info, info->file);
        addClient(info);
        handles.append(info->handle);
    }
    return true;
}

PointRecordSet* NetcdfPointData::selectTimeRange(TimeRange range, int* handle,
                                                 PointRecordSet* set)
{
    int64_t s = 0, e = 0;
    PointNetcdfFileInfo* info = rangeReadFile(range, handle, NO_FILE, true, s, e);
    if (!info)
        return set;
    const int64_t c0 = info->coverageStart, c1 = info->coverageEnd;
    if (c0 > e || c1 < s) {
        logNoOverlap();
        return set;
    }
    if (!readFileStructure(*handle, info, 5))
        return set;
    const PointFileStructure* st = info->structure;
    const int n = info->recordCount;
    // The slice [first, last], with a head [first, hb] and a tail [ta, last]
    // whose records need a time test.
    int first = 0, last = n - 1, hb = -1, ta = n;
    if (_staticFile || (c0 >= s && c1 <= e)) {
        // every record
    } else if (st->nInventoryBins - 1 < 1 || !info->firstInBin || !info->lastInBin) {
        hb = last;
    } else {
        const int* firstIn = info->firstInBin.get();
        const int* lastIn = info->lastInBin.get();
        int f = 0, l = 0;
        binsOfRange(*st, c0, c1, s, e, f, l);
        if (s > c0 && lastIn[f] >= 0)
            hb = lastIn[f];
        if ((l > f || hb < 0) && e < c1 && l >= 0 && firstIn[l] >= 0)
            ta = firstIn[l];
        while (f <= l && firstIn[f] < -1)
            ++f;
        while (l >= f && firstIn[l] < -1)
            --l;
        if (f > l) {
            logNoOverlap();
            return set;
        }
        recordSpanOfBins(*info, f, l, first, last);
        // Records of bins outside the range that lie among the slice's widen
        // the segments that are tested.
        for (int b = 0; hb < ta && b < st->nInventoryBins; ++b) {
            if (b >= f && b <= l)
                continue;
            if (firstIn[b] >= 0 && firstIn[b] <= last && lastIn[b] >= first) {
                ta = std::min(ta, firstIn[b]);
                hb = std::max(hb, lastIn[b]);
            }
        }
    }
    const int* times = info->recordTimes.get();
    auto outside = [&](int r) { return !inRange(times[r], s, e); };
    if (times) {
        if (hb >= ta) {
            while (first <= last && outside(first))
                ++first;
            while (last >= first && outside(last))
                --last;
            ta = first;
            hb = first - 1;
        } else {
            while (first <= hb && outside(first))
                ++first;
            while (last >= ta && last >= first && outside(last))
                --last;
        }
    }
    if (first > last) {
        PD_LOG(PROBLEM) << "No records with times in valid range" << std::endl;
        return set;
    }
    if (!set)
        set = new PointRecordSet(setRange(range, info));
    std::vector<float> lats, lons;
    const int at = set->appendSlice(handle, first, last - first + 1,
                                    recordSource(info, last + 1, !_staticFile, lats, lons));
    if (at >= 0) {
        for (int r = first; r <= last; ++r) {
            if ((r <= hb || r >= ta) && outside(r))
                set->times[at + r - first] = 0;
        }
    }
    return set;
}

PointRecordSet* NetcdfPointData::selectIdRecords(const TextString& id, TimeRange range,
                                                 int* handle, PointRecordSet* set)
{
    int64_t s = 0, e = 0;
    PointNetcdfFileInfo* info = rangeReadFile(range, handle, NO_FILE, true, s, e);
    if (!info)
        return set;
    if (info->coverageStart > e || info->coverageEnd < s) {
        logNoOverlap();
        return set;
    }
    if (!readFileStructure(*handle, info, 5) || !info->recordIds)
        return set;
    std::vector<int> taken;
    forEachChainRecord(*info, newestRecordOf(id, info), [&](int r) {
        if (!info->recordTimes || inRange(info->recordTimes[r], s, e))
            taken.push_back(r);
        return true;
    });
    if (taken.empty())
        return set;
    std::reverse(taken.begin(), taken.end());
    if (!set)
        set = new PointRecordSet(setRange(range, info));
    std::vector<float> lats, lons;
    set->prependRecords(handle, taken, recordSource(info, taken.back() + 1, true, lats, lons));
    return set;
}

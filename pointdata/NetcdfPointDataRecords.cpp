// Reading records through handles: the ids, times and positions of record
// ranges, and the records of a time range or of one id in one file.
//
// Every answer comes from the bookkeeping cached for the file, read first to
// the level the question needs.  Record numbers taken from the file (bins,
// station tables, chains) were checked against the record count when they
// were read, and every walk along a chain is bounded by the record count.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "fileRecords.h"

#include <cstring>
#include <vector>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

namespace {

const char* const NO_FILE = "Could not find file that handle refers to";

bool overlaps(const PointNetcdfFileInfo* info, int64_t start, int64_t end)
{
    return info->coverageStart <= end && info->coverageEnd >= start;
}

bool inRange(int t, int64_t start, int64_t end) { return start <= t && t <= end; }

// The text of a record id row, up to its first NUL.
TextString rowText(const char* rows, int length, int r)
{
    const char* row = rows + static_cast<size_t>(r) * length;
    return TextString(row, static_cast<int>(strnlen(row, static_cast<size_t>(length))));
}

void logNoOverlap() { PD_LOG(PROBLEM) << "input time range does not overlap file period" << std::endl; }

void logNoRange() { PD_LOG(PROBLEM) << "Range of records does not exist in file." << std::endl; }

} // namespace

PointNetcdfFileInfo* NetcdfPointData::handleFileOrLog(const int* handle, const char* message) const
{
    PointNetcdfFileInfo* info = handleFileInfo(handle);
    if (!info)
        PD_LOG(PROBLEM) << LogText(message) << std::endl;
    return info;
}

PointNetcdfFileInfo* NetcdfPointData::rangeReadFile(const TimeRange& range, int* handle,
                                                   const char* noFile, bool wholeStatic,
                                                   int64_t& start, int64_t& end)
{
    refreshIfDue();
    start = range.start().seconds();
    end = range.end().seconds();
    if (_oldestLookupStart > end || _latestCoverageEnd < start)
        return nullptr;
    PointNetcdfFileInfo* info = handleFileOrLog(handle, noFile);
    if (info && wholeStatic && _staticFile) {
        start = info->coverageStart;
        end = info->coverageEnd;
    }
    return info;
}

bool NetcdfPointData::getRecordIds(int* handle, int first, int count, SeqOf<TextString>& ids)
{
    refreshIfDue();
    PointNetcdfFileInfo* info = handleFileOrLog(handle, NO_FILE);
    if (!info)
        return false;
    if (!readFileStructure(*handle, info, 5))
        return false;
    if (first < 0 || count < 0 || static_cast<int64_t>(first) + count > info->recordCount) {
        logNoRange();
        return false;
    }
    const int length = info->structure->totalIdLen;
    if (length <= 0 || !info->recordIds)
        return true;
    for (int k = 0; k < count; ++k)
        ids.append(rowText(info->recordIds.get(), length, first + k));
    return true;
}

bool NetcdfPointData::getRecordTimes(int* handle, int first, int count, SeqOf<long>& times)
{
    refreshIfDue();
    PointNetcdfFileInfo* info = handleFileOrLog(handle, NO_FILE);
    if (!info)
        return false;
    if (_staticFile || info->structure->timeVariables.length() == 0) {
        for (int k = 0; k < count; ++k)
            times.append(info->fileTime.seconds());
        return true;
    }
    if (!readFileStructure(*handle, info, 4))
        return false;
    if (first < 0 || count < 0 || static_cast<int64_t>(first) + count > info->recordCount) {
        logNoRange();
        return false;
    }
    if (!info->recordTimes)
        return false;
    for (int k = 0; k < count; ++k)
        times.append(info->recordTimes[first + k]);
    return true;
}

bool NetcdfPointData::getRecordRange(TimeRange range, int* handle, int& first, int& count)
{
    int64_t s = 0, e = 0;
    PointNetcdfFileInfo* info = rangeReadFile(range, handle, NO_FILE, false, s, e);
    if (!info)
        return false;
    if (!_staticFile && !overlaps(info, s, e)) {
        logNoOverlap();
        return false;
    }
    if (!readFileStructure(*handle, info, 1))
        return false;
    const PointFileStructure* st = info->structure;
    first = 0;
    count = info->recordCount;
    int f = 0, l = 0;
    const bool whole = binsOfRange(*st, info->coverageStart, info->coverageEnd, s, e, f, l);
    if (st->timeVariables.length() == 0 || (info->coverageStart >= s && info->coverageEnd <= e) ||
        whole)
        return true;
    if (f > l) {
        logNoOverlap();
        return false;
    }
    if (!readFileStructure(*handle, info, 2))
        return false;
    int last = -1;
    recordSpanOfBins(*info, f, l, first, last);
    count = last - first + 1;
    return count > 0;
}

bool NetcdfPointData::getIdsInTimeRange(TimeRange range, int* handle, SeqOf<TextString>& ids,
                                        int& first, int& count)
{
    int64_t s = 0, e = 0;
    PointNetcdfFileInfo* info = rangeReadFile(range, handle, NO_FILE, true, s, e);
    if (!info)
        return false;
    ids = SeqOf<TextString>();
    const PointFileStructure* st = info->structure;
    const int length = st->totalIdLen;
    if (!overlaps(info, s, e) || length <= 0 || !readFileStructure(*handle, info, 3))
        return false;
    auto staticId = [&](int k) { return rowText(info->staticIds.get(), length, k); };
    int f = 0, l = 0;
    const bool whole = binsOfRange(*st, info->coverageStart, info->coverageEnd, s, e, f, l);
    Set<TextString> seen;
    auto addOnce = [&](int r) {
        TextString id = rowText(info->recordIds.get(), length, r);
        if (!seen.find(id)) {
            seen.insert(id);
            ids.append(id);
        }
    };
    if (st->timeVariables.length() > 0 && !whole) {
        int last = -1;
        recordSpanOfBins(*info, f, l, first, last);
        count = last - first + 1;
        if (count < 1)
            return false;
        for (int k = 0; info->staticIds && k < info->nStaticIds; ++k) {
            if (stationHasDataInBins(*info, k, f, l))
                ids.append(staticId(k));
        }
        if (info->firstOverflow >= st->maxStaticIds && info->firstOverflow <= last) {
            if (!readFileStructure(*handle, info, 5) || !info->recordIds)
                return ids.length() > 0;
            if (!info->recordTimes) {
                PD_LOG(PROBLEM) << "We should have an invTime pointers if we get to here"
                                << std::endl;
                return ids.length() > 0;
            }
            for (int r = info->firstOverflow; r <= last; ++r) {
                if (inRange(info->recordTimes[r], s, e) &&
                    (!info->isOverflow || info->isOverflow[r]))
                    addOnce(r);
            }
        }
        return ids.length() > 0;
    }
    first = 0;
    count = info->recordCount;
    for (int k = 0; info->staticIds && k < info->nStaticIds; ++k)
        ids.append(staticId(k));
    if (st->maxStaticIds <= info->firstOverflow && readFileStructure(*handle, info, 5) &&
        info->recordIds) {
        const bool chains = info->isOverflow && info->prevRecord;
        for (int r = info->firstOverflow; r < info->recordCount; ++r) {
            if (!chains)
                addOnce(r);
            else if (info->isOverflow[r] && info->prevRecord[r] < 0)
                ids.append(rowText(info->recordIds.get(), length, r));
        }
    }
    return ids.length() > 0;
}

bool NetcdfPointData::getRecordsForId(const TextString& id, TimeRange range, int* handle,
                                      SeqOf<int>& records)
{
    int64_t s = 0, e = 0;
    PointNetcdfFileInfo* info = rangeReadFile(range, handle, NO_FILE, false, s, e);
    if (!info)
        return false;
    records = SeqOf<int>();
    if (!_staticFile && !overlaps(info, s, e)) {
        logNoOverlap();
        return false;
    }
    // Without chains the records of the id are found by their ids.
    const int length = info->structure->totalIdLen;
    if (length <= 0 || !readFileStructure(*handle, info, info->structure->hasChaining() ? 4 : 5))
        return false;
    int r = newestRecordOf(id, info);
    if (r < 0) {
        PD_LOG(PROBLEM) << "Id " << LogText(id) << " not present " << std::endl;
        return false;
    }
    std::vector<int> taken;
    for (int steps = 0; r >= 0 && r < info->recordCount && steps < info->recordCount; ++steps) {
        if (!info->recordTimes || inRange(info->recordTimes[r], s, e))
            taken.push_back(r);
        if (info->prevRecord) {
            r = info->prevRecord[r];
        } else if (info->recordIds) {
            // No chains: the nearest earlier record of the same id.
            const char* key = id.c_str();
            do
                --r;
            while (r >= 0 && strncmp(key, info->recordIds.get() + static_cast<size_t>(r) * length,
                                     static_cast<size_t>(length)) != 0);
        } else {
            r = -1;
        }
    }
    for (auto k = taken.rbegin(); k != taken.rend(); ++k)
        records.append(*k);
    return records.length() > 0;
}

bool NetcdfPointData::getRecordsInTimeRange(TimeRange range, int* handle, SeqOf<int>& records)
{
    int64_t s = 0, e = 0;
    PointNetcdfFileInfo* info = rangeReadFile(range, handle, NO_FILE, true, s, e);
    if (!info)
        return false;
    records = SeqOf<int>();
    if (!overlaps(info, s, e)) {
        logNoOverlap();
        return false;
    }
    if (!readFileStructure(*handle, info, 1))
        return false;
    int f = 0, l = 0;
    const bool whole = binsOfRange(*info->structure, info->coverageStart, info->coverageEnd, s,
                                   e, f, l);
    if (_staticFile || whole) {
        for (int r = 0; r < info->recordCount; ++r)
            records.append(r);
        return true;
    }
    if (f > l) {
        logNoOverlap();
        return false;
    }
    if (!readFileStructure(*handle, info, 4))
        return false;
    int first = 0, last = -1;
    recordSpanOfBins(*info, f, l, first, last);
    for (int r = first; r <= last; ++r) {
        if (!info->recordTimes || inRange(info->recordTimes[r], s, e))
            records.append(r);
    }
    return info->recordTimes ? records.length() > 0 : true;
}

bool NetcdfPointData::getLatLons(const SeqOfPtr<int*>& handles, const SeqOf<int>& firsts,
                                 const SeqOf<int>& counts, float* lats, float* lons)
{
    size_t at = 0;
    for (int i = 0; i < handles.length(); ++i) {
        PointNetcdfFileInfo* info = handleFileOrLog(handles[i], NO_FILE);
        if (!info)
            return false;
        if (!readFileStructure(*handles[i], info, 5))
            return false;
        const int first = i < firsts.length() ? firsts[i] : -1;
        const int count = i < counts.length() ? counts[i] : -1;
        if (first < 0 || count < 0 || static_cast<int64_t>(first) + count > info->recordCount ||
            !recordPositions(info, first, count, lats + at, lons + at)) {
            logNoRange();
            return false;
        }
        at += static_cast<size_t>(count);
    }
    return true;
}

bool NetcdfPointData::recordPositions(PointNetcdfFileInfo* info, int first, int count,
                                      float* lats, float* lons) const
{
    if (count == 0)
        return info->latitudes || info->structure->latitude >= 0;
    if (info->latitudes && info->longitudes) {
        memcpy(lats, info->latitudes.get() + first, static_cast<size_t>(count) * sizeof(float));
        memcpy(lons, info->longitudes.get() + first, static_cast<size_t>(count) * sizeof(float));
        return true;
    }
    // A layout whose records carry no key caches no positions: read them.
    const PointFileStructure* s = info->structure;
    if (s->latitude < 0 || s->longitude < 0 || !info->handle)
        return false;
    NetcdfIo io(*info->handle);
    return io.get(s->latitude, NcPos{first}, NcPos{count}, lats) &&
           io.get(s->longitude, NcPos{first}, NcPos{count}, lons);
}

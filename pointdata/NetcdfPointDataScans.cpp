// Reading: the scan over a store's data files that every inventory makes,
// with its window tests, the file it keeps open, the restart after a file
// that could not be read, and the pieces shared by the incremental forms.
#include "NetcdfPointData.h"

#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "inventoryTimes.h"

int NetcdfPointData::scanDataFiles(const TimeRange* window, bool restart, FileKeeping keeping,
                                   const std::function<void()>& reset, const ScanVisit& visit)
{
    int failures = 0;
    PointNetcdfFileInfo* held = nullptr;
    PointNetcdfFileInfo* current = nullptr;
    // Gives a kept file a handle, so that it goes on the clientless list
    // (records of writing stores never do).
    auto keepOpen = [this](PointNetcdfFileInfo* info) {
        if (!info->file || info->handle)
            return;
        giveNcFileToFileInfo(info, info->file);
        if (!_writable)
            registerClientless(info);
    };
    for (int i = _fileTimes.length() - 1; i >= 0; --i) {
        PointNetcdfFileInfo* info = fileInfoAt(i);
        if (!info)
            continue;
        const TimeRange* fileWindow = window;
        if (window) {
            if (info->coverageEnd < window->start().seconds())
                continue;
            if (info->coverageStart > window->end().seconds()) {
                current = info;
                break;
            }
            if (window->start().seconds() <= info->coverageStart &&
                window->end().seconds() >= info->coverageEnd)
                fileWindow = nullptr;
        }
        current = info;
        const ScanStep step = visit(info, fileWindow);
        if (step == ScanStep::Skip)
            continue;
        if (step == ScanStep::Unreadable) {
            closeCachedFile(info);
            current = nullptr;
            if (++failures == 1 && restart) {
                // Most likely purged under the scan: the listing leaves it out.
                if (held && held != info)
                    closeCachedFile(held);
                held = nullptr;
                noteFileAccessError(info);
                updateFileInfo();
                reset();
                i = _fileTimes.length();
            }
            continue;
        }
        if (keeping == FileKeeping::HoldOne && info->file) {
            // At most one file stays open: the newest read that has records.
            if (!held) {
                held = info;
            } else if (held != info && info->recordCount > 0) {
                closeCachedFile(held);
                held = info;
            } else if (held != info) {
                closeCachedFile(info);
            }
        } else if (keeping == FileKeeping::KeepNewest && info->file && !info->handle) {
            if (info->fileTime.seconds() >= _newestLookupStart)
                keepOpen(info);
            else
                closeCachedFile(info);
        }
        if (step == ScanStep::Stop)
            break;
    }
    if (keeping == FileKeeping::HoldOne && held) {
        _currentFileInfo = held;
        keepOpen(held);
    }
    if (current && current != held)
        closeCachedFile(current);
    return failures;
}

bool NetcdfPointData::clipWindow(const TimeRange*& window) const
{
    if (!window)
        return true;
    if (window->start().seconds() > _latestCoverageEnd || window->end().seconds() < _oldestLookupStart)
        return false;
    if (window->start().seconds() <= _oldestLookupStart && window->end().seconds() >= _latestCoverageEnd)
        window = nullptr;
    return true;
}

bool NetcdfPointData::newestKnownTime(const SeqOf<DataTime>* known, int& newest) const
{
    if (!known || known->length() == 0)
        return false;
    const int a = (*known)[0].refTime().seconds();
    const int b = (*known)[known->length() - 1].refTime().seconds();
    newest = a > b ? a : b;
    return newest > _oldestLookupEnd;
}

void NetcdfPointData::mergeKnownTimes(const SeqOf<DataTime>& known, int newest,
                                      SeqOf<DataTime>& times) const
{
    const int n = known.length();
    const bool ascending = known[0].refTime() <= known[n - 1].refTime();
    SeqOf<DataTime> kept;
    for (int k = 0; k < n; ++k) {
        const DataTime& t = known[ascending ? k : n - 1 - k];
        const int ref = t.refTime().seconds();
        if (ref >= _oldestLookupStart && ref <= newest)
            kept.append(t);
    }
    if (kept.length() > 0)
        times = kept + times;
}

bool NetcdfPointData::skipKnownFile(const PointNetcdfFileInfo* info, int& newest) const
{
    if (info->fileTime != _fileTimes[0] && info->lookupEnd < newest)
        return true;
    if (info->lookupStart - 1 < newest)
        newest = info->lookupStart - 1;
    return false;
}

void NetcdfPointData::roundedFileTimes(int resolution, const TimeRange* window,
                                       SeqOf<AbsTime>& times) const
{
    for (int i = _fileTimes.length() - 1; i >= 0; --i) {
        const int64_t t = roundToResolution(_fileTimes[i].seconds(), resolution);
        if (window && t < window->start().seconds())
            continue;
        if (window && t > window->end().seconds())
            break;
        addAscendingTime(times, inventoryAbsTime(t), false);
    }
}

bool NetcdfPointData::findScannedStation(const TextString& id, PointNetcdfFileInfo* info,
                                         int level, bool& found, int& row, int& record,
                                         bool& overflow)
{
    const PointFileStructure* s = info->structure;
    found = overflow = false;
    row = record = -1;
    if (!readFileStructure(-1, info, level))
        return false;
    if (s->hasStaticTable()) {
        row = findStaticIdIndex(id, info);
        if (row >= 0) {
            found = true;
            record = info->lastRecord ? info->lastRecord[row] : -1;
            return true;
        }
    }
    if (info->firstOverflow < s->maxStaticIds)
        return true;
    if (level < 4 && !readFileStructure(-1, info, 4))
        return false;
    record = findNewestOverflowRecord(id, info);
    found = overflow = record >= 0;
    return true;
}

// Reading: the data times of one station, and of a whole store, as plain
// times (seconds since 1970) rather than DataTime values.
#include "NetcdfPointData.h"

#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "fileRecords.h"
#include "inventoryTimes.h"

#include <set>

namespace {

bool inWindow(int64_t t, const TimeRange* window)
{
    return !window || (t >= window->start().seconds() && t <= window->end().seconds());
}

// A resolution of 0 is the layout's own: the bin width with forecasts, else
// the file period; a positive one is at least the bin width.
int plainResolution(int resolution, const PointFileStructure& s, bool forecasts)
{
    if (resolution == 0)
        return forecasts ? s.binWidth : s.filePeriod;
    return resolution > 0 && resolution < s.binWidth ? s.binWidth : resolution;
}

} // namespace

bool NetcdfPointData::getIdAbsTimes(const TextString& id, SeqOf<AbsTime>& times, int resolution)
{
    return getIdAbsTimes(id, times, resolution, nullptr);
}

bool NetcdfPointData::getIdAbsTimes(const TextString& id, TimeRange window, SeqOf<AbsTime>& times,
                                    int resolution)
{
    return window.valid() && getIdAbsTimes(id, times, resolution, &window);
}

bool NetcdfPointData::getIdAbsTimes(const TextString& id, SeqOf<AbsTime>& times, int resolution,
                                    const TimeRange* window)
{
    times = SeqOf<AbsTime>();
    const PointFileStructure* ts = _templateStructure;
    if (!ts)
        return false;
    resolution = plainResolution(resolution, *ts, _forecasts);
    const bool walking = resolution < 0;
    refreshIfDue();
    if (!clipWindow(window))
        return true;
    auto visit = [&](PointNetcdfFileInfo* info, const TimeRange* fileWindow) {
        const PointFileStructure* s = info->structure;
        bool found = false, overflow = false;
        int row = -1, record = -1;
        if (!findScannedStation(id, info, walking ? 4 : 3, found, row, record, overflow))
            return ScanStep::Unreadable;
        if (_staticFile) {
            if (found)
                times.append(AbsTime(1));
            return ScanStep::Stop;
        }
        if (!found)
            return ScanStep::Next;
        if (s->timeVariables.length() > 0 && (walking || overflow)) {
            if (!info->recordTimes)
                return ScanStep::Next;
            // Records come in arrival order: each is tested on its own.
            forEachChainRecord(*info, record, [&](int r) {
                const int64_t t = roundToResolution(info->recordTimes[r], resolution);
                if (inWindow(t, fileWindow))
                    addAscendingTime(times, inventoryAbsTime(t), true);
                return true;
            });
        } else if (s->nInventoryBins < 2) {
            appendBinTimes(info, resolution, 1, fileWindow, times);
        } else if (s->charInventories && info->charInventory) {
            appendCharBinTimes(info, resolution, stationBins(info, row), fileWindow, times);
        } else {
            appendBinTimes(info, resolution, stationBits(info, row), fileWindow, times);
        }
        return ScanStep::Next;
    };
    scanDataFiles(window, false, FileKeeping::KeepNewest, [] {}, visit);
    return true;
}

bool NetcdfPointData::getStoreTimes(SeqOf<AbsTime>& times, int resolution)
{
    return getStoreTimes(times, resolution, nullptr);
}

bool NetcdfPointData::getStoreTimes(TimeRange window, SeqOf<AbsTime>& times, int resolution)
{
    return window.valid() && getStoreTimes(times, resolution, &window);
}

bool NetcdfPointData::getStoreTimes(SeqOf<AbsTime>& times, int resolution,
                                    const TimeRange* window)
{
    times = SeqOf<AbsTime>();
    const PointFileStructure* ts = _templateStructure;
    if (!ts)
        return false;
    if (_staticFile) {
        times.append(AbsTime(1));
        return true;
    }
    resolution = plainResolution(resolution, *ts, _forecasts);
    refreshIfDue();
    if (!clipWindow(window))
        return true;

    if (resolution < 0) {
        std::set<int> found;
        auto visit = [&](PointNetcdfFileInfo* info, const TimeRange* fileWindow) {
            if (info->structure->timeVariables.length() == 0) {
                found.insert(info->fileTime.seconds());
                return ScanStep::Next;
            }
            if (!readFileStructure(-1, info, 4))
                return ScanStep::Unreadable;
            for (int r = 0; info->recordTimes && r < info->recordCount; ++r) {
                if (inWindow(info->recordTimes[r], fileWindow))
                    found.insert(info->recordTimes[r]);
            }
            return ScanStep::Next;
        };
        scanDataFiles(window, false, FileKeeping::KeepNewest, [] {}, visit);
        for (int t : found)
            times.append(AbsTime(t));
        return true;
    }

    if ((resolution > ts->filePeriod && !_forecasts) || ts->nInventoryBins < 2) {
        roundedFileTimes(resolution, window, times);
        return true;
    }

    // The global inventories: every file's first, then their bins.  A file
    // that could not be read is left out of the second pass.
    std::set<int> unread;
    scanDataFiles(window, true, FileKeeping::KeepNewest, [&] { unread.clear(); },
                  [&](PointNetcdfFileInfo* info, const TimeRange*) {
                      if (readFileStructure(-1, info, 1))
                          return ScanStep::Next;
                      unread.insert(info->fileTime.seconds());
                      return ScanStep::Unreadable;
                  });
    scanDataFiles(window, false, FileKeeping::None, [] {},
                  [&](PointNetcdfFileInfo* info, const TimeRange* fileWindow) {
                      const PointFileStructure* s = info->structure;
                      if (unread.count(info->fileTime.seconds()))
                          return ScanStep::Skip;
                      if (s->nInventoryBins < 2)
                          appendBinTimes(info, resolution, 1, fileWindow, times);
                      else if (s->charInventories)
                          appendCharBinTimes(info, resolution, info->charGlobalInventory.get(),
                                             fileWindow, times);
                      else
                          appendBinTimes(info, resolution, info->globalInventory, fileWindow,
                                         times);
                      return ScanStep::Next;
                  });
    return true;
}

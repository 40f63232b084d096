// Reading: the data times of a whole store: from the file times, from the
// files' global inventory bins, or from every record time, and the
// incremental form that reads again only what can have changed.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "LogText.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "inventoryTimes.h"

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

bool NetcdfPointData::getStoreDataTimes(SeqOf<DataTime>& times, int resolution,
                                        const TimeRange* window)
{
    return storeDataTimes(nullptr, times, resolution, window, false);
}

bool NetcdfPointData::getStoreDataTimes(SeqOf<DataTime>& times, int resolution)
{
    return storeDataTimes(nullptr, times, resolution, nullptr, false);
}

bool NetcdfPointData::getStoreDataTimes(TimeRange window, SeqOf<DataTime>& times, int resolution)
{
    return window.valid() && storeDataTimes(nullptr, times, resolution, &window, false);
}

bool NetcdfPointData::updateStoreDataTimes(const SeqOf<DataTime>* known, SeqOf<DataTime>& times,
                                           int resolution, const TimeRange* window)
{
    return storeDataTimes(known, times, resolution, window, true);
}

bool NetcdfPointData::updateStoreDataTimes(const SeqOf<DataTime>* known, SeqOf<DataTime>& times,
                                           int resolution)
{
    return storeDataTimes(known, times, resolution, nullptr, true);
}

bool NetcdfPointData::updateStoreDataTimes(const SeqOf<DataTime>* known, TimeRange window,
                                           SeqOf<DataTime>& times, int resolution)
{
    return window.valid() && storeDataTimes(known, times, resolution, &window, true);
}

bool NetcdfPointData::storeDataTimes(const SeqOf<DataTime>* known, SeqOf<DataTime>& times,
                                     int resolution, const TimeRange* window, bool update)
{
    times = SeqOf<DataTime>();
    const PointFileStructure* ts = _templateStructure;
    if (!ts)
        return false;
    const bool refreshed = refreshIfDue();
    if (_fileTimes.length() == 0)
        return !_staticFile;
    // Nothing can have changed since the known list was made.
    const bool knownHolds = update && known && !refreshed;

    if (_staticFile) {
        if (knownHolds) {
            times = *known;
            return times.length() > 0;
        }
        PointNetcdfFileInfo* info = _fileInfos.value(0);
        if (!info || !readFileStructure(-1, info, 5) || info->recordCount <= 0) {
            closeCachedFile(info);
            return false;
        }
        if (info->file && !info->handle) {
            giveNcFileToFileInfo(info, info->file);
            if (!_writable)
                registerClientless(info);
        }
        _currentFileInfo = info;
        times.append(staticDataTime());
        return true;
    }

    if (resolution >= 0 && resolution < ts->binWidth)
        resolution = ts->binWidth;
    const bool fileTimesMode =
        !_forecasts && (ts->filePeriod < resolution || (ts->nInventoryBins < 2 && resolution >= 0));
    if (!clipWindow(window))
        return true;
    if (fileTimesMode) {
        if (knownHolds) {
            times = *known;
            return times.length() > 0;
        }
        SeqOf<AbsTime> fileTimes;
        roundedFileTimes(resolution, window, fileTimes);
        for (int i = 0; i < fileTimes.length(); ++i)
            times.append(observationTime(fileTimes[i].seconds()));
        return true;
    }

    const bool recordMode = resolution < 0;
    int newest = 0;
    const bool incremental = update && newestKnownTime(known, newest);
    const int knownNewest = newest;
    Set<DataTime> found;
    auto reset = [&] {
        times = SeqOf<DataTime>();
        found = Set<DataTime>();
        newest = knownNewest;
    };
    auto visit = [&](PointNetcdfFileInfo* info, const TimeRange* fileWindow) {
        const PointFileStructure* s = info->structure;
        if (incremental && skipKnownFile(info, newest))
            return ScanStep::Skip;
        const int64_t f = info->fileTime.seconds();
        if (s->timeVariables.length() == 0) {
            // The file time is all such a file tells.
            if (!recordMode) {
                appendBinDataTimes(info, resolution, 1, fileWindow, times);
            } else if (s->forecastDim < 0 || s->forecastList.length() == 0) {
                found.insert(observationTime(f));
            } else {
                for (int k = 0; k < s->forecastList.length(); ++k) {
                    const int64_t v = f + s->forecastList[k];
                    if (fileWindow && v > fileWindow->end().seconds())
                        break;
                    if (!fileWindow || v >= fileWindow->start().seconds())
                        found.insert(forecastTime(f, s->forecastList[k]));
                }
            }
            return ScanStep::Next;
        }
        if (!readFileStructure(-1, info, recordMode ? 4 : 1))
            return ScanStep::Unreadable;
        if (!recordMode) {
            if (s->nInventoryBins < 2)
                appendBinDataTimes(info, resolution, 1, fileWindow, times);
            else if (s->charInventories)
                appendCharBinDataTimes(info, resolution, info->charGlobalInventory.get(),
                                       fileWindow, times);
            else
                appendBinDataTimes(info, resolution, info->globalInventory, fileWindow, times);
        } else if (info->recordTimes) {
            // Records come in arrival order: each is tested on its own.
            for (int r = 0; r < info->recordCount; ++r) {
                const int t = info->recordTimes[r];
                if (fileWindow && (t < fileWindow->start().seconds() || t > fileWindow->end().seconds()))
                    continue;
                found.insert(s->recordForecasts ? recordForecastTime(f, t) : observationTime(t));
            }
        }
        return ScanStep::Next;
    };
    const int failures = scanDataFiles(window, true, FileKeeping::HoldOne, reset, visit);
    if (failures == 1)
        PD_LOG(EVENT) << "File open failed because of normal purge operation" << LogText(_directory)
                      << std::endl;
    else if (failures > 1)
        PD_LOG(BUG) << "Serious file access problems during inventory" << LogText(_directory)
                    << std::endl;
    if (recordMode) {
        // Reference time first, then forecast period: the order in which
        // the other inventories list their times.
        DataTime::setCompareMode(0, 1);
        found.sort();
        for (int i = 0; i < found.count(); ++i)
            times.append(found[i]);
    }
    if (incremental)
        mergeKnownTimes(*known, newest, times);
    return true;
}

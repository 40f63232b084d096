// Reading: the data times of one station over all data files of a store,
// from its inventory bins or by walking its records, and the incremental
// form that reads again only the files that can hold newer data.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "fileRecords.h"
#include "inventoryTimes.h"

#include <climits>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

namespace {

// Adds the times of a station's records, walked from its newest record, to
// an ascending list: observation times, each record's forecasts, or
// record-based forecasts of the file.  Records outside the window are
// passed over (records are in arrival order, not in time order).
void addChainTimes(const PointNetcdfFileInfo& info, int record, int resolution,
                   const TimeRange* window, SeqOf<DataTime>& times)
{
    const PointFileStructure& s = *info.structure;
    if (!info.recordTimes)
        return;
    const bool forecastDim = s.forecastDim >= 0 && s.forecastList.length() > 0;
    const int64_t ws = window ? window->start().seconds() : INT64_MIN;
    const int64_t we = window ? window->end().seconds() : INT64_MAX;
    forEachChainRecord(info, record, [&](int r) {
        const int64_t t = roundToResolution(info.recordTimes[r], resolution);
        if (forecastDim) {
            const int at = dataTimePosition(times, t, LONG_MIN);
            if (at < times.length() && times[at].refTime().seconds() == t)
                return true;
            for (int k = 0; k < s.forecastList.length(); ++k) {
                const int64_t v = t + s.forecastList[k];
                if (v > we)
                    break;
                if (v >= ws)
                    insertDataTime(times, forecastTime(t, s.forecastList[k]));
            }
        } else if (t >= ws && t <= we) {
            insertDataTime(times, s.recordForecasts
                                      ? recordForecastTime(info.fileTime.seconds(), t)
                                      : observationTime(t));
        }
        return true;
    });
}

} // namespace

bool NetcdfPointData::getIdTimes(const TextString& id, SeqOf<DataTime>& times, int resolution,
                                 const TimeRange* window)
{
    return idTimes(nullptr, id, times, resolution, window, false);
}

bool NetcdfPointData::getIdTimes(const TextString& id, SeqOf<DataTime>& times, int resolution)
{
    return idTimes(nullptr, id, times, resolution, nullptr, false);
}

bool NetcdfPointData::getIdTimes(const TextString& id, TimeRange window, SeqOf<DataTime>& times,
                                 int resolution)
{
    return window.valid() && idTimes(nullptr, id, times, resolution, &window, false);
}

bool NetcdfPointData::updateIdTimes(const SeqOf<DataTime>* known, const TextString& id,
                                    SeqOf<DataTime>& times, int resolution,
                                    const TimeRange* window)
{
    return idTimes(known, id, times, resolution, window, true);
}

bool NetcdfPointData::updateIdTimes(const SeqOf<DataTime>* known, const TextString& id,
                                    SeqOf<DataTime>& times, int resolution)
{
    return idTimes(known, id, times, resolution, nullptr, true);
}

bool NetcdfPointData::updateIdTimes(const SeqOf<DataTime>* known, const TextString& id,
                                    TimeRange window, SeqOf<DataTime>& times, int resolution)
{
    return window.valid() && idTimes(known, id, times, resolution, &window, true);
}

bool NetcdfPointData::idTimes(const SeqOf<DataTime>* known, const TextString& id,
                              SeqOf<DataTime>& times, int resolution, const TimeRange* window,
                              bool update)
{
    times = SeqOf<DataTime>();
    const PointFileStructure* ts = _templateStructure;
    if (!ts)
        return false;
    refreshIfDue();
    if (_fileTimes.length() == 0)
        return !_staticFile;
    if (resolution >= 0 && resolution < ts->binWidth)
        resolution = ts->binWidth;
    const bool walking = resolution < 0;
    int newest = 0;
    bool incremental = false;
    if (update) {
        if (!clipWindow(window))
            return true;
        incremental = newestKnownTime(known, newest);
    }
    const int knownNewest = newest;
    auto reset = [&] {
        times = SeqOf<DataTime>();
        newest = knownNewest;
    };
    auto visit = [&](PointNetcdfFileInfo* info, const TimeRange* fileWindow) {
        const PointFileStructure* s = info->structure;
        if (incremental && skipKnownFile(info, newest))
            return ScanStep::Skip;
        bool found = false, overflow = false;
        int row = -1, record = -1;
        if (!findScannedStation(id, info, walking || !s->hasStaticTable() ? 4 : 3, found, row,
                                record, overflow))
            return ScanStep::Unreadable;
        if (_staticFile) {
            if (found)
                times.append(staticDataTime());
            return ScanStep::Stop;
        }
        if (!found)
            return ScanStep::Next;
        if (s->timeVariables.length() == 0)
            appendBinDataTimes(info, resolution, 1, fileWindow, times);
        else if (walking || overflow)
            addChainTimes(*info, record, resolution, fileWindow, times);
        else if (s->nInventoryBins < 2)
            appendBinDataTimes(info, resolution, 1, fileWindow, times);
        else if (s->charInventories && info->charInventory)
            appendCharBinDataTimes(info, resolution, stationBins(info, row), fileWindow, times);
        else
            appendBinDataTimes(info, resolution, stationBits(info, row), fileWindow, times);
        return ScanStep::Next;
    };
    const int failures = scanDataFiles(window, true, FileKeeping::HoldOne, reset, visit);
    if (failures == 1)
        PD_LOG(EVENT) << "File open failed because of normal purge operation" << std::endl;
    else if (failures > 1)
        PD_LOG(BUG) << "Serious file access problems" << std::endl;
    if (incremental)
        mergeKnownTimes(*known, newest, times);
    return true;
}

// Reading: the times that a file's inventory bins stand for.
#include "NetcdfPointData.h"

#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "inventoryTimes.h"

namespace {

// Walks the bins of a file from the time t (the first bin's) to the end,
// one bin width per bin, both moved by the rounding's half step; hasData(b)
// is 1 for a bin with data, 0 for one without, -1 to stop.  emit(t') gets the
// rounded time of each bin with data and returns false to stop.
template <class HasData, class Emit>
void walkBins(int64_t t, int64_t end, int64_t width, int resolution, int nBins, HasData hasData,
              Emit emit)
{
    const int64_t shift = resolution > 1 ? resolution / 2 - 1 : 0;
    t += shift;
    end += shift;
    if (width < 1)
        nBins = 1;
    for (int b = 0; b < nBins && t < end; ++b, t += width) {
        int h = hasData(b);
        if (h < 0)
            break;
        if (h > 0 && !emit(floorToResolution(t, resolution)))
            break;
    }
}

// Where the walk over a file's bins begins and ends, and how many bins it
// takes.  A bit inventory of a file without record-based forecasts that has
// fewer than 2 bins also lists the file time first, and walks its one bin
// from the file time (no time variables) or from the middle of its coverage.
struct BinPlan {
    int64_t t, end;
    int nBins;
    bool fileTimeFirst = false;

    BinPlan(const PointNetcdfFileInfo* file, bool bits)
    {
        const PointFileStructure* s = file->structure;
        t = int64_t(file->coverageStart) + (s->recordForecasts ? 0 : s->binWidth / 2);
        end = file->coverageEnd;
        nBins = s->nInventoryBins;
        if (!bits || s->recordForecasts)
            return;
        if (s->timeVariables.length() == 0) {
            t = file->fileTime.seconds();
            nBins = 1;
        } else if (nBins < 2) {
            t = file->coverageStart +
                (static_cast<int64_t>(file->coverageEnd) - file->coverageStart) / 2;
            nBins = 1;
        }
        fileTimeFirst = s->nInventoryBins < 2;
    }
};

int charBin(const char* bins, int b) { return bins && bins[b] ? 1 : 0; }

int bitBin(int bits, int b)
{
    const unsigned left = b < 32 ? static_cast<unsigned>(bits) >> b : 0u;
    return left == 0 ? -1 : (left & 1u) ? 1 : 0;
}

// Appends the DataTime values of the bins with data (see the header): after
// the list's last element only, each bin expanded over the forecast list
// when the layout has a forecast dimension.
template <class HasData>
void appendDataTimes(const PointNetcdfFileInfo* file, int resolution, const TimeRange* window,
                     SeqOf<DataTime>& times, const BinPlan& plan, HasData hasData)
{
    const PointFileStructure* s = file->structure;
    const int32_t f = file->fileTime.seconds();
    const bool forecastDim = s->forecastDim >= 0 && s->forecastList.length() > 0;
    bool haveLast = times.length() > 0 && !s->recordForecasts;
    DataTime last = haveLast ? times[times.length() - 1] : DataTime();
    auto lastValid = [&] { return int64_t(last.refTime().seconds()) + last.fcstPeriod(); };
    auto emit = [&](int64_t t) {
        if (!forecastDim) {
            if (window && t < window->start().seconds())
                return true;
            if (window && t > window->end().seconds())
                return false;
            if (!haveLast || t > lastValid())
                times.append(s->recordForecasts ? recordForecastTime(f, t) : observationTime(t));
        } else if (!haveLast || t > last.refTime().seconds()) {
            for (int k = 0; k < s->forecastList.length(); ++k) {
                const int64_t v = t + s->forecastList[k];
                if (window && v < window->start().seconds())
                    continue;
                if (window && v > window->end().seconds())
                    break;
                times.append(forecastTime(t, s->forecastList[k]));
            }
        }
        if (times.length() > 0) {
            last = times[times.length() - 1];
            haveLast = true;
        }
        return true;
    };
    if (plan.fileTimeFirst)
        emit(f);
    walkBins(plan.t, plan.end, s->binWidth, resolution, plan.nBins, hasData, emit);
}

// Adds the AbsTime values of the bins with data to an ascending list
// without duplicates.
template <class HasData>
void appendAbsTimes(const PointNetcdfFileInfo* file, int resolution, const TimeRange* window,
                    SeqOf<AbsTime>& times, const BinPlan& plan, HasData hasData)
{
    const PointFileStructure* s = file->structure;
    auto emit = [&](int64_t t) {
        if (window && t < window->start().seconds())
            return true;
        if (window && t > window->end().seconds())
            return false;
        addAscendingTime(times, inventoryAbsTime(t), s->recordForecasts);
        return true;
    };
    if (plan.fileTimeFirst)
        emit(file->fileTime.seconds());
    walkBins(plan.t, plan.end, s->binWidth, resolution, plan.nBins, hasData, emit);
}

} // namespace

void NetcdfPointData::appendCharBinDataTimes(PointNetcdfFileInfo* file, int resolution,
                                             const char* bins, const TimeRange* window,
                                             SeqOf<DataTime>& times) const
{
    if (!file || !file->structure)
        return;
    appendDataTimes(file, resolution, window, times, BinPlan(file, false),
                    [bins](int b) { return charBin(bins, b); });
}

void NetcdfPointData::appendBinDataTimes(PointNetcdfFileInfo* file, int resolution, int bits,
                                         const TimeRange* window, SeqOf<DataTime>& times) const
{
    if (!file || !file->structure)
        return;
    appendDataTimes(file, resolution, window, times, BinPlan(file, true),
                    [bits](int b) { return bitBin(bits, b); });
}

void NetcdfPointData::appendCharBinTimes(PointNetcdfFileInfo* file, int resolution,
                                         const char* bins, const TimeRange* window,
                                         SeqOf<AbsTime>& times) const
{
    if (!file || !file->structure)
        return;
    appendAbsTimes(file, resolution, window, times, BinPlan(file, false),
                   [bins](int b) { return charBin(bins, b); });
}

void NetcdfPointData::appendBinTimes(PointNetcdfFileInfo* file, int resolution, int bits,
                                     const TimeRange* window, SeqOf<AbsTime>& times) const
{
    if (!file || !file->structure)
        return;
    appendAbsTimes(file, resolution, window, times, BinPlan(file, true),
                   [bits](int b) { return bitBin(bits, b); });
}

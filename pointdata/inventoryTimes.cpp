#include "inventoryTimes.h"

#include "TimeRange.h"

AbsTime inventoryAbsTime(int64_t t)
{
    return AbsTime(static_cast<int32_t>(t < INT32_MIN ? INT32_MIN : t > INT32_MAX ? INT32_MAX : t));
}

int64_t floorToResolution(int64_t t, int resolution)
{
    if (resolution <= 1)
        return t;
    return t - (((t % resolution) + resolution) % resolution);
}

int64_t roundToResolution(int64_t t, int resolution)
{
    if (resolution <= 1)
        return t;
    return floorToResolution(t + resolution / 2 - 1, resolution);
}

DataTime observationTime(int64_t t) { return DataTime(inventoryAbsTime(t)); }

DataTime forecastTime(int64_t t, long f)
{
    const AbsTime ref = inventoryAbsTime(t);
    const AbsTime valid = inventoryAbsTime(t + f);
    return DataTime(ref, f, TimeRange(valid, valid), ref, 0, 0x700);
}

DataTime recordForecastTime(int64_t fileTime, int64_t t)
{
    const AbsTime ref = inventoryAbsTime(fileTime);
    const AbsTime valid = inventoryAbsTime(t);
    return DataTime(ref, static_cast<long>(t - fileTime), TimeRange(valid, valid), ref, 0, 0x700);
}

DataTime staticDataTime() { return DataTime(AbsTime(1)); }

void addAscendingTime(SeqOf<AbsTime>& times, AbsTime t, bool anywhere)
{
    const int n = times.length();
    if (n == 0 || times[n - 1] < t) {
        times.append(t);
        return;
    }
    if (!anywhere)
        return;
    int lo = 0, hi = n;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (times[mid] < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (times[lo] != t)
        times.replace(lo - 1, lo, SeqOf<AbsTime>(t));
}

int dataTimePosition(const SeqOf<DataTime>& times, int64_t refTime, long period)
{
    int lo = 0, hi = times.length();
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        const DataTime& m = times[mid];
        const int64_t r = m.refTime().seconds();
        if (r < refTime || (r == refTime && m.fcstPeriod() < period))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

bool insertDataTime(SeqOf<DataTime>& times, const DataTime& t)
{
    const int64_t ref = t.refTime().seconds();
    const int at = dataTimePosition(times, ref, t.fcstPeriod());
    if (at < times.length() && times[at].refTime().seconds() == ref &&
        times[at].fcstPeriod() == t.fcstPeriod())
        return false;
    if (at == times.length())
        times.append(t);
    else
        times.replace(at - 1, at, SeqOf<DataTime>(t));
    return true;
}

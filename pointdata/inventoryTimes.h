// The time values the point-data store's inventories are made of: rounding
// to a resolution, the four forms of DataTime they list, and the insertions
// that keep a list ascending without duplicates.
#ifndef INVENTORYTIMES_H
#define INVENTORYTIMES_H

#include "AbsTime.h"
#include "DataTime.h"
#include "SeqOf.h"

#include <cstdint>

// A time as a 32-bit AbsTime, held to its range.
AbsTime inventoryAbsTime(int64_t t);
// t rounded to a resolution r above 1: u = t + r/2 - 1, then u - (u mod r);
// a resolution of 0 or 1 (or below) leaves t as it is.
int64_t roundToResolution(int64_t t, int resolution);
// The same without the half step: t - (t mod r).
int64_t floorToResolution(int64_t t, int resolution);

// {t, 0, [t, t], t, 0, 0x300}
DataTime observationTime(int64_t t);
// {t, f, [t+f, t+f], t, 0, 0x700}
DataTime forecastTime(int64_t t, long f);
// A record-based forecast of valid time t in the file of time f:
// {f, t - f, [t, t], f, 0, 0x700}
DataTime recordForecastTime(int64_t fileTime, int64_t t);
// {1, 0, [1, 1], 1, 0, 0x300}
DataTime staticDataTime();

// Appends t when it is after the list's last element; with anywhere, puts
// it in its place otherwise, unless an equal time is there.
void addAscendingTime(SeqOf<AbsTime>& times, AbsTime t, bool anywhere);
// The index of the first element not before (reference time, forecast
// period) in a list ascending by both.
int dataTimePosition(const SeqOf<DataTime>& times, int64_t refTime, long period);
// Puts a time in its place in a list ascending by reference time and
// forecast period, unless one with both equal is there; false when it was.
bool insertDataTime(SeqOf<DataTime>& times, const DataTime& t);

#endif

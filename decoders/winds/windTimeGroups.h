// The time groups of wind and aircraft reports: year, month, day, hour,
// minute and second (0 04 001 to 0 04 006) as six consecutive decoded
// values, read where a decoder expects them (six values before a wind's
// latitude, or at each year value of an aircraft report).
//
// A group is read only inside its window: all six positions inside the
// decoded values and in the subset of the report they belong to, so that a
// position before the first value, past the last one, or in another report
// never lends its value.  The fields are truncated toward zero; a missing
// second counts as 0; a missing other field, or one out of its calendar
// range, leaves the report without a time (never the time 0 of 1970).
#ifndef WINDTIMEGROUPS_H
#define WINDTIMEGROUPS_H

#include "AbsTime.h"
#include "BufrValues.h"
#include "SeqOf.h"

enum TimeGroupStatus {
    TIME_GROUP_OK,
    TIME_GROUP_OUTSIDE,   // the six positions leave the values or the subset
    TIME_GROUP_NO_YEAR,   // the first position holds no year (0 04 001)
    TIME_GROUP_INVALID    // a field is missing or out of its calendar range
};

// The time of the group that begins at position first, whose values must all
// belong to the subset given; time is set only for TIME_GROUP_OK.
TimeGroupStatus readTimeGroup(const SeqOf<BufrValues>& values, int first, int subset,
                              AbsTime& time);

// The time rounded to the nearest whole minute, half a minute rounding up.
AbsTime roundToMinute(const AbsTime& time);

// What a status means, for the decoders' log lines ("lies outside its
// report", ...); empty for TIME_GROUP_OK.
const char* timeGroupProblem(TimeGroupStatus status);

#endif

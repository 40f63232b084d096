// The time groups of wind and aircraft reports: year, month, day, hour and
// minute (0 04 001 to 0 04 005), each its own element, one after the other,
// then the second (0 04 006, or 0 04 007 to the microsecond) where the
// group has one.  Read where a decoder expects them: at the year of a wind's
// report, or at each year value of an aircraft report.
//
// A group is read only inside its window: all its positions inside the
// decoded values and in the subset of the report they belong to, so that a
// position before the first value, past the last one, or in another report
// never lends its value.  Each field is taken from its own element only: a
// value of another element where a field should stand leaves the report
// without a time, and a group without a second element has 0 seconds (the
// value after its minute is never taken as the seconds).  The fields are
// truncated toward zero; a missing second counts as 0; a missing other
// field, or one out of its calendar range, leaves the report without a time
// (never the time 0 of 1970).  The year is the year given (0 04 001 holds
// the whole year, never one of a century): a date before 1970 or past the
// last second a time holds leaves the report without a time too, told
// apart as such.
#ifndef WINDTIMEGROUPS_H
#define WINDTIMEGROUPS_H

#include "AbsTime.h"
#include "BufrValues.h"
#include "SeqOf.h"

enum TimeGroupStatus {
    TIME_GROUP_OK,
    TIME_GROUP_OUTSIDE,      // its positions leave the values or the subset
    TIME_GROUP_NO_YEAR,      // the first position holds no year (0 04 001)
    TIME_GROUP_INCOMPLETE,   // month, day, hour or minute is not the next element
    TIME_GROUP_INVALID,      // a field is missing or out of its calendar range
    TIME_GROUP_PAST_LIMIT,   // a time past 2038-01-19 03:14:07, the last one a time holds
    TIME_GROUP_BEFORE_FIRST  // a date before 1970, the first year a time holds
};

// Whether a time group's time is a date and time the store cannot hold
// (before 1970 or past 2038-01-19 03:14:07), rather than none.
inline bool unheldTime(TimeGroupStatus status)
{
    return status == TIME_GROUP_PAST_LIMIT || status == TIME_GROUP_BEFORE_FIRST;
}

// The time of the group that begins at position first, whose values must all
// belong to the subset given; time is set only for TIME_GROUP_OK.  length,
// when given, gets the group's number of values (5 without a second, 6 with
// one) whenever its elements are in their places.
TimeGroupStatus readTimeGroup(const SeqOf<BufrValues>& values, int first, int subset,
                              AbsTime& time, int* length = nullptr);

// The time rounded to the nearest whole minute, half a minute rounding up.
AbsTime roundToMinute(const AbsTime& time);

// What a status means, for the decoders' log lines ("lies outside its
// report", ...); empty for TIME_GROUP_OK.
const char* timeGroupProblem(TimeGroupStatus status);

#endif

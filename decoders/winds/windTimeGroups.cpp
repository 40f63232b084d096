#include "windTimeGroups.h"

#include "BufrDecoder.h"
#include "BulletinLog.h"
#include "ElementForms.h"

#include <cmath>

namespace {

const int YEAR = 4001;

// A field truncated toward zero, false for a missing or unusable value.
bool field(float value, int& out)
{
    if (!ElementForms::given(value) || value < -1e9f ||
        value > 1e9f)
        return false;
    out = static_cast<int>(value);
    return true;
}

bool inWindow(const SeqOf<BufrValues>& values, int position, int subset)
{
    return position >= 0 && position < values.length() &&
           values[position].getSubset() == subset;
}

} // namespace

TimeGroupStatus readTimeGroup(const SeqOf<BufrValues>& values, int first, int subset,
                              AbsTime& time, int* length)
{
    for (int k = first; k < first + 5; ++k) {
        if (!inWindow(values, k, subset))
            return TIME_GROUP_OUTSIDE;
    }
    if (values[first].getDescriptor() != YEAR)
        return TIME_GROUP_NO_YEAR;
    for (int k = 1; k < 5; ++k) {
        if (values[first + k].getDescriptor() != YEAR + k)
            return TIME_GROUP_INCOMPLETE;
    }
    const bool hasSecond =
        inWindow(values, first + 5, subset) &&
        ElementForms::gives(values[first + 5].getDescriptor(), ElementForms::SECOND);
    if (length)
        *length = hasSecond ? 6 : 5;
    int f[6];
    for (int k = 0; k < 5; ++k) {
        if (!field(values[first + k].getValue(), f[k]))
            return TIME_GROUP_INVALID;
    }
    if (!hasSecond || !field(values[first + 5].getValue(), f[5]))
        f[5] = 0;
    // Checked here rather than left to AbsTime, which would give the time 0
    // of 1970 for a bad field and read a year below 101 as one of a century.
    if (!AbsTime::isDate(f[0], f[1], f[2], f[3], f[4], f[5]))
        return TIME_GROUP_INVALID;
    if (f[0] < 1970)
        return TIME_GROUP_BEFORE_FIRST;
    const int64_t seconds = AbsTime::calendarSeconds(f[0], f[1], f[2], f[3], f[4], f[5]);
    if (seconds > INT32_MAX)
        return TIME_GROUP_PAST_LIMIT;
    time = AbsTime(static_cast<int32_t>(seconds));
    return TIME_GROUP_OK;
}

AbsTime roundToMinute(const AbsTime& time)
{
    const int64_t later = static_cast<int64_t>(time.seconds()) + 30;
    const int64_t rounded = later - (later % 60 + 60) % 60;
    return AbsTime(static_cast<int32_t>(rounded > INT32_MAX ? rounded - 60 : rounded));
}

const char* timeGroupProblem(TimeGroupStatus status)
{
    switch (status) {
    case TIME_GROUP_OUTSIDE:
        return "lies outside its report";
    case TIME_GROUP_NO_YEAR:
        return "does not begin with a year";
    case TIME_GROUP_INCOMPLETE:
        return "does not hold year, month, day, hour and minute as its own elements";
    case TIME_GROUP_INVALID:
        return "has a missing or improper field";
    case TIME_GROUP_PAST_LIMIT:
        return BulletinLog::PAST_LIMIT;
    case TIME_GROUP_BEFORE_FIRST:
        return BulletinLog::BEFORE_FIRST;
    default:
        return "";
    }
}

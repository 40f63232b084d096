#include "AbsTime.h"

#include <cstring>
#include <ostream>

#include "LogStream.h"
#include "LogText.h"
#include "TextString.h"

namespace {

const char* const improperValues = "Improper time values for AbsTime::AbsTime()";

// Days from 1970-01-01 to the given date of the Gregorian calendar, in 64
// bits for any year; a day outside the month simply counts on (day 0 is the
// last day of the month before), as mktime and timegm normalise it.
int64_t daysFromCivil(int64_t year, int month, int64_t day)
{
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;  // March = 0
    const int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool fitsAbsTime(int64_t seconds)
{
    return seconds >= INT32_MIN && seconds <= INT32_MAX;
}

}  // namespace

AbsTime::AbsTime(int year, int month, int day, int hour, int minute, int second) : _seconds(0)
{
    if (year < 39)
        year += 2000;
    else if (year >= 70 && year <= 100)
        year += 1900;

    const int64_t seconds = calendarSeconds(year, month, day, hour, minute, second);
    // 2038 is accepted only up to 01-19 03:14:07, the last second that fits.
    if (seconds < 0 || !fitsAbsTime(seconds)) {
        QEV_LOG(LogStream::BUG, "AbsTime") << improperValues << std::endl;
        return;
    }
    _seconds = static_cast<int32_t>(seconds);
}

AbsTime::AbsTime(const TextString& text, const TextString& format) : _seconds(0)
{
    // All fields zero: daylight saving off, missing fields at their origin.
    struct tm fields;
    std::memset(&fields, 0, sizeof fields);
    if (strptime(text.c_str(), format.c_str(), &fields) == nullptr) {
        QEV_LOG(LogStream::PROBLEM, "AbsTime") << "AbsTime::AbsTime(): strptime failed. str:"
                                               << LogText(text) << ", fmt:" << LogText(format)
                                               << std::endl;
        return;
    }
    // The fields are UTC: converted directly, never through the local zone.
    const int64_t seconds =
        secondsSince1970(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                         fields.tm_min, fields.tm_sec);
    if (!fitsAbsTime(seconds)) {
        // Text from outside (file names, messages): a problem of the input.
        QEV_LOG(LogStream::PROBLEM, "AbsTime") << improperValues << std::endl;
        return;
    }
    _seconds = static_cast<int32_t>(seconds);
}

AbsTime AbsTime::now()
{
    return fromTimeT(time(nullptr));
}

AbsTime AbsTime::fromTimeT(time_t t)
{
    return AbsTime(clamp(static_cast<int64_t>(t)));
}

bool AbsTime::isLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int AbsTime::daysInMonth(int month, int year)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        QEV_LOG(LogStream::BUG, "AbsTime") << "daysInMonth supplied with bad month number"
                                           << std::endl;
        return 0;
    }
    return days[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
}

int64_t AbsTime::secondsSince1970(int year, int month, int day, int hour, int minute, int second)
{
    if (daysInMonth(month, year) == 0)
        return 0;
    return daysFromCivil(year, month, day) * 86400 + int64_t(hour) * 3600 + int64_t(minute) * 60 +
           second;
}

bool AbsTime::isDate(int year, int month, int day, int hour, int minute, int second)
{
    // The month is checked first: daysInMonth logs a bad one.
    return month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(month, year) &&
           hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

int64_t AbsTime::calendarSeconds(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1970 || !isDate(year, month, day, hour, minute, second))
        return -1;
    return secondsSince1970(year, month, day, hour, minute, second);
}

struct tm AbsTime::breakDown() const
{
    const time_t t = toTimeT();
    struct tm fields;
    std::memset(&fields, 0, sizeof fields);
    gmtime_r(&t, &fields);
    return fields;
}

int AbsTime::second() const { return breakDown().tm_sec; }
int AbsTime::minute() const { return breakDown().tm_min; }
int AbsTime::hour() const { return breakDown().tm_hour; }
int AbsTime::day() const { return breakDown().tm_mday; }
int AbsTime::month() const { return breakDown().tm_mon + 1; }
int AbsTime::year() const { return breakDown().tm_year + 1900; }
int AbsTime::dayOfYear() const { return breakDown().tm_yday + 1; }
int AbsTime::dayOfWeek() const { return breakDown().tm_wday; }

TextString AbsTime::toString(const TextString& format) const
{
    char buffer[200];
    const struct tm fields = breakDown();
    if (strftime(buffer, sizeof buffer, format.c_str(), &fields) == 0) {
        QEV_LOG(LogStream::BUG, "AbsTime")
            << "AbsTime string formatting problem, empty string returned" << std::endl;
        return TextString();
    }
    return TextString(buffer);
}

int32_t AbsTime::clamp(int64_t seconds)
{
    if (seconds > INT32_MAX)
        return INT32_MAX;
    if (seconds < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(seconds);
}

AbsTime AbsTime::operator+(int32_t seconds) const
{
    return AbsTime(clamp(int64_t(_seconds) + seconds));
}

AbsTime AbsTime::operator-(int32_t seconds) const
{
    return AbsTime(clamp(int64_t(_seconds) - seconds));
}

AbsTime& AbsTime::operator+=(int32_t seconds)
{
    return *this = *this + seconds;
}

AbsTime& AbsTime::operator-=(int32_t seconds)
{
    return *this = *this - seconds;
}

int32_t AbsTime::operator-(const AbsTime& other) const
{
    return clamp(int64_t(_seconds) - other._seconds);
}

// An instant in time: a signed 32-bit count of seconds since 1970-01-01
// 00:00:00 UTC.  A plain value built from calendar fields, from text parsed
// with a strptime format, or from a seconds count, and turned back into
// calendar fields or strftime text, always in UTC whatever TZ says.
//
// The count stays 32 bits wide (it travels as one XDR long and keys
// dictionaries by its value); conversions to and from the platform's wider
// time_t are explicit, and every conversion is done in 64 bits so that a
// time past 2038-01-19 03:14:07 is refused instead of wrapping.
#ifndef ABSTIME_H
#define ABSTIME_H

#include <cstdint>
#include <ctime>

class TextString;

class AbsTime {
public:
    // Time 0: 1970-01-01 00:00:00 UTC.
    AbsTime() : _seconds(0) {}
    explicit AbsTime(int32_t seconds) : _seconds(seconds) {}

    // (year, month 1-12, day, hour, minute, second) taken as UTC.  Two-digit
    // years are widened (below 39: 2000 + year; 70 to 100: 1900 + year).
    // Bad fields, or a time that does not fit 32 bits, are logged and give 0.
    AbsTime(int year, int month, int day, int hour, int minute, int second);

    // Parses the text with strptime and the format, the fields taken as UTC.
    // Unparsable text, or a time that does not fit 32 bits, is logged and
    // gives 0.  Text left over after the format is ignored.
    AbsTime(const TextString& text, const TextString& format);

    // The current time (time()); a clock past the 32-bit range gives
    // maxFutureTime.
    static AbsTime now();
    // A time_t value; one outside the 32-bit range is clamped to its limits.
    static AbsTime fromTimeT(time_t t);
    // The largest representable time, 2038-01-19 03:14:07 UTC.
    static AbsTime maxFutureTime() { return AbsTime(INT32_MAX); }

    int32_t seconds() const { return _seconds; }
    void setSeconds(int32_t seconds) { _seconds = seconds; }
    time_t toTimeT() const { return static_cast<time_t>(_seconds); }

    // Days of a month (1-12) of a year; a bad month is logged and gives 0.
    static int daysInMonth(int month, int year);
    static bool isLeapYear(int year);
    // Seconds since 1970 of the calendar fields, computed in 64 bits (no
    // two-digit year widening, no range check beyond the month).  Years
    // before 1970 count backwards; a month outside 1-12 is logged and gives 0.
    static int64_t secondsSince1970(int year, int month, int day, int hour, int minute,
                                    int second);
    // Whether calendar fields from outside are a date and time of the
    // Gregorian calendar, of any year: month 1-12, a day of that month,
    // hour 0-23, minute and second 0-59.  Nothing is logged.
    static bool isDate(int year, int month, int day, int hour, int minute, int second);
    // The seconds since 1970 of calendar fields from outside (a four-digit
    // year, month 1-12, a day of that month, hour 0-23, minute and second
    // 0-59), in 64 bits and without a log line; -1 when they are no such
    // date and time of 1970 or later.  A result above INT32_MAX is a time
    // past the last one an AbsTime holds, 2038-01-19 03:14:07.
    static int64_t calendarSeconds(int year, int month, int day, int hour, int minute,
                                   int second);
    // A 64-bit count of seconds saturated at the 32-bit limits.
    static int32_t clamp(int64_t seconds);

    // Calendar fields of the time in UTC.
    int second() const;
    int minute() const;
    int hour() const;
    int day() const;
    int month() const;      // 1-12
    int year() const;       // four digits
    int dayOfYear() const;  // 1-366
    int dayOfWeek() const;  // 0 = Sunday

    // strftime of the time in UTC into a 200-byte buffer; an empty result
    // (empty format, or text too long) is logged and gives the empty text.
    TextString toString(const TextString& format) const;

    // Seconds added or taken away; the result saturates at the 32-bit limits.
    AbsTime operator+(int32_t seconds) const;
    AbsTime operator-(int32_t seconds) const;
    AbsTime& operator+=(int32_t seconds);
    AbsTime& operator-=(int32_t seconds);
    // The signed difference in seconds, saturated at the 32-bit limits.
    int32_t operator-(const AbsTime& other) const;

    bool operator==(const AbsTime& o) const { return _seconds == o._seconds; }
    bool operator!=(const AbsTime& o) const { return _seconds != o._seconds; }
    bool operator<(const AbsTime& o) const { return _seconds < o._seconds; }
    bool operator<=(const AbsTime& o) const { return _seconds <= o._seconds; }
    bool operator>(const AbsTime& o) const { return _seconds > o._seconds; }
    bool operator>=(const AbsTime& o) const { return _seconds >= o._seconds; }

private:
    // The time broken down in UTC (gmtime_r).
    struct tm breakDown() const;

    int32_t _seconds;
};

// Hash of an AbsTime key for Dict and Set: the seconds as a 32-bit value.
inline unsigned hashKey(const AbsTime& t) { return static_cast<uint32_t>(t.seconds()); }

#endif

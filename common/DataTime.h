// The time of a data product: a reference time, a forecast period, a valid
// period, a second time and a key, with a flags word that records which of
// them were given.
//
// An observation at t is {t, 0, [t, t], t, 0, 0x300}; a forecast of period p
// from it (setFcstPeriod) is {t, p, [t + p, t + p], t, 0, 0x700}.  Reference
// time 0 is the null time and 1 the static time.
//
// Order is set by two process-wide compare modes (0 reference time, 1
// forecast period, 2 valid time = reference time + forecast period), primary
// then secondary; they are unguarded and belong to the main thread.
//
// The XDR form is written and read by the messaging layer's XDR routines
// (ipc/serializeQuantize.h), so that this layer does not depend on XDR.
#ifndef DATATIME_H
#define DATATIME_H

#include <cstdint>

#include "AbsTime.h"
#include "TimeRange.h"

class TextString;

class DataTime {
public:
    enum Flag : uint32_t {
        OFFSET_APPLIED = 0x8,          // applyOffset has run; part of equality
        VALID_FOLLOWS_REF = 0x100,     // the valid period follows refTime
        VALID_FOLLOWS_SECOND = 0x200,  // the valid period follows secondTime
        FCST_GIVEN = 0x400,
        VALID_GIVEN = 0x800,
        KEY_GIVEN = 0x1000,
        SECOND_GIVEN = 0x2000,         // secondTime is carried (text and XDR)
        DEFAULT_FLAGS = 0x300
    };

    // {0, 0, empty range, 0, 0, 0x300}.
    DataTime();
    // The observation at t: {t, 0, [t, t], t, 0, 0x300}.
    explicit DataTime(const AbsTime& t);
    // Every field as given.
    DataTime(const AbsTime& refTime, long fcstPeriod, const TimeRange& validPeriod,
             const AbsTime& secondTime, unsigned long key, uint32_t flags);

    // From a data-time form that carries only the first four fields: a null
    // or static reference time r (below 2) gives {r, 0, [r, r], r, 0, 0x300};
    // any other gives the times truncated to the whole minute, the period
    // unchanged, key 0 and flags 0x2C00.
    static DataTime fromPlainForm(const AbsTime& refTime, long fcstPeriod,
                                  const TimeRange& validPeriod, const AbsTime& secondTime);

    const AbsTime& refTime() const { return _refTime; }
    long fcstPeriod() const { return _fcstPeriod; }
    const TimeRange& validPeriod() const { return _validPeriod; }
    const AbsTime& secondTime() const { return _secondTime; }
    unsigned long key() const { return _key; }
    uint32_t flags() const { return _flags; }
    bool isNull() const { return _refTime.seconds() == 0; }
    bool isStatic() const { return _refTime.seconds() == 1; }

    void setRefTime(const AbsTime& t);
    void setSecondTime(const AbsTime& t);
    void setFcstPeriod(long period);
    void setValidPeriod(const AbsTime& start, const AbsTime& end, bool valid);
    void setKey(unsigned long key);
    // Once only: moves the reference time by offset (when not 0) and sets the
    // key (when not 0).
    void applyOffset(long offset, unsigned long key);

    // The process-wide compare modes (initially 2 and 0).
    static int compareMode();
    static int secondaryCompareMode();
    static void setCompareMode(int primary, int secondary);

    // Null equals null and static equals static; otherwise the 0x8 flags,
    // refTime and fcstPeriod agree, and the valid periods are both invalid or
    // both valid with equal ends.
    bool operator==(const DataTime& o) const;
    bool operator!=(const DataTime& o) const { return !(*this == o); }
    bool operator<(const DataTime& o) const;
    bool operator>(const DataTime& o) const;
    bool operator>=(const DataTime& o) const { return !(*this < o); }
    bool operator<=(const DataTime& o) const { return !(*this > o); }

    // "3/5-12:30 f6 a12:30 u2700": the reference time (UTC, no year), then
    // the parts the flags say were given.  Returned by value, so
    // that two calls never share a buffer.
    TextString text() const;

    // Display labels of forecast products.  They show the reference time
    // (with flag 0x4 clear: the valid period's end less the forecast period;
    // with 0x4 and 0x8: secondTime; otherwise refTime) or the valid time
    // (with 0x4 clear: the valid period's end; otherwise the shown reference
    // time plus the forecast period).
    AbsTime displayRefTime() const;
    AbsTime displayValidTime() const;
    // "12:30Z Sun 05-Mar-06"; null and static give "".
    TextString longLabel() const;
    // "05.12", or "05.1230" when the minutes are not 0 or are asked for.
    TextString dayHourText(bool withMinutes = false) const;
    // The same followed by " 6HR" (the forecast hours).
    TextString dayHourFcstText(bool withMinutes = false) const;
    // "05Mar06" of the valid time.
    TextString dayMonthYearText() const;
    // "12:30Z Sun", or "12Z Sun" at a whole hour, of the valid time.
    TextString hourWeekdayText() const;
    // "  1:30" or "  1:30:05" (hours, minutes, seconds) of a duration, then
    // "(start, end)" in "%h %d %y %T GMT" form for a valid range.
    static TextString periodText(long duration, const TimeRange* range = nullptr);
    // "05.06  12HR 6hrs Endg Sun 18:00Z 05-Mar-06 " and the like.
    TextString forecastLabel() const;

private:
    // Sets refTime or secondTime: the valid period no longer follows it, and
    // counts as given when it follows neither time any more.
    void setFollowedTime(AbsTime& field, const AbsTime& t, uint32_t followsBit,
                         uint32_t otherBit);

    AbsTime _refTime;
    long _fcstPeriod;
    TimeRange _validPeriod;
    AbsTime _secondTime;
    unsigned long _key;
    uint32_t _flags;
};

// Hash of a DataTime key: refTime XOR fcstPeriod, as 32-bit values.
unsigned hashKey(const DataTime& t);

#endif

// A span of time between two AbsTime values, the earlier end first.
//
// A range is valid when its two ends differ; the empty range {0, 0} and
// every instant [t, t] are not.  A time t is inside a valid range when
// start <= t < end (the end itself is outside), and inside an instant when it
// equals the start.  A plain value type: the valid period of a DataTime and a
// time window of the point-data readers.
#ifndef TIMERANGE_H
#define TIMERANGE_H

#include <cstdint>

#include "AbsTime.h"

class TextString;

class TimeRange {
public:
    // The empty range: start 0, end 0, not valid.
    TimeRange() : _valid(false) {}
    // The two times in either order; valid when they differ.
    TimeRange(const AbsTime& a, const AbsTime& b);
    // From start to start + duration (seconds); a negative duration gives a
    // range that ends at the start time.
    TimeRange(const AbsTime& start, int32_t duration);
    // The three fields exactly as given (a range as a message carries it, or
    // as a caller states it), without ordering the ends.
    TimeRange(const AbsTime& start, const AbsTime& end, bool valid)
        : _start(start), _end(end), _valid(valid) {}

    // From time 0 to AbsTime::maxFutureTime (valid).
    static TimeRange allTime();

    const AbsTime& start() const { return _start; }
    const AbsTime& end() const { return _end; }
    bool valid() const { return _valid; }
    // end - start in seconds.
    int64_t duration() const { return int64_t(_end.seconds()) - _start.seconds(); }
    // Membership as described above.
    bool contains(const AbsTime& t) const;

    // Both ranges valid and overlapping or touching: the range from the
    // smaller start to the larger end.  Otherwise the empty range.
    TimeRange combine(const TimeRange& other) const;
    // Both ranges valid, neither overlapping nor touching: the range between
    // them.  Otherwise the empty range.
    TimeRange gap(const TimeRange& other) const;

    // The duration as "1d 1h 1m 1s": days when not zero, hours when any
    // smaller unit is not zero, and so on; a zero duration gives "".
    TextString toString() const;

    bool operator==(const TimeRange& o) const
    {
        return _start == o._start && _end == o._end && _valid == o._valid;
    }
    bool operator!=(const TimeRange& o) const { return !(*this == o); }

private:
    // Both valid, and they overlap or touch.
    bool meets(const TimeRange& other) const;

    AbsTime _start;
    AbsTime _end;
    bool _valid;
};

#endif

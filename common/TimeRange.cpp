#include "TimeRange.h"

#include <cstdio>

#include "TextString.h"

TimeRange::TimeRange(const AbsTime& a, const AbsTime& b)
    : _start(a < b ? a : b), _end(a < b ? b : a), _valid(a != b)
{
}

TimeRange::TimeRange(const AbsTime& start, int32_t duration) : TimeRange(start, start + duration)
{
}

TimeRange TimeRange::allTime()
{
    return TimeRange(AbsTime(0), AbsTime::maxFutureTime());
}

bool TimeRange::contains(const AbsTime& t) const
{
    if (_start != _end)
        return _start <= t && t < _end;
    return t == _start;
}

bool TimeRange::meets(const TimeRange& other) const
{
    if (!_valid || !other._valid)
        return false;
    const bool overlap = other.contains(_start) || contains(other._start);
    const bool touch = _start == other._end || _end == other._start;
    return overlap || touch;
}

TimeRange TimeRange::combine(const TimeRange& other) const
{
    if (!meets(other))
        return TimeRange();
    return TimeRange(_start < other._start ? _start : other._start,
                     _end > other._end ? _end : other._end);
}

TimeRange TimeRange::gap(const TimeRange& other) const
{
    if (!_valid || !other._valid || meets(other))
        return TimeRange();
    if (other._start < _start)
        return TimeRange(other._end, _start);
    return TimeRange(_end, other._start);
}

TextString TimeRange::toString() const
{
    const int64_t total = duration();
    const int64_t days = total / 86400;
    const int64_t hours = total % 86400 / 3600;
    const int64_t minutes = total % 3600 / 60;
    const int64_t seconds = total % 60;

    TextString text;
    char item[32];
    auto add = [&](int64_t value, char unit) {
        std::snprintf(item, sizeof item, "%s%lld%c", text.length() > 0 ? " " : "",
                      static_cast<long long>(value), unit);
        text += item;
    };
    if (days != 0)
        add(days, 'd');
    if (hours != 0 || minutes != 0 || seconds != 0)
        add(hours, 'h');
    if (minutes != 0 || seconds != 0)
        add(minutes, 'm');
    if (seconds != 0)
        add(seconds, 's');
    return text;
}

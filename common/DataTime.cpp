#include "DataTime.h"

#include <cstdio>

#include "TextString.h"

namespace {

int primaryMode = 2;
int secondaryMode = 0;

const char* const monthNames[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const weekdayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// t + seconds, computed wide and held to the 32-bit range.
AbsTime offsetTime(const AbsTime& t, long seconds)
{
    return AbsTime::fromTimeT(static_cast<time_t>(t.seconds()) + seconds);
}

// The instant [t, t] (not valid).
TimeRange instant(const AbsTime& t)
{
    return TimeRange(t, t);
}

AbsTime wholeMinute(const AbsTime& t)
{
    const int32_t s = t.seconds();
    return AbsTime(s - ((s % 60) + 60) % 60);
}

// The quantity that a compare mode orders by; false for a mode that orders
// by nothing.
bool quantity(const DataTime& t, int mode, int64_t& q)
{
    switch (mode) {
    case 0: q = t.refTime().seconds(); return true;
    case 1: q = t.fcstPeriod(); return true;
    case 2: q = int64_t(t.refTime().seconds()) + t.fcstPeriod(); return true;
    default: return false;
    }
}

// a < b (less) or a > b (!less) under the compare modes.
bool ordered(const DataTime& a, const DataTime& b, bool less)
{
    int64_t qa = 0, qb = 0;
    if (quantity(a, primaryMode, qa) && quantity(b, primaryMode, qb) && qa != qb)
        return less ? qa < qb : qa > qb;
    if (quantity(a, secondaryMode, qa) && quantity(b, secondaryMode, qb))
        return less ? qa < qb : qa > qb;
    return false;
}

// printf into a TextString.
template <class... Args>
void appendFormat(TextString& text, const char* format, Args... args)
{
    char piece[96];
    std::snprintf(piece, sizeof piece, format, args...);
    text += piece;
}

// "%H:%M" or "%H:%M:%S" when the seconds are not 0, after a prefix.
void appendClock(TextString& text, const char* prefix, const AbsTime& t)
{
    if (t.second() != 0)
        appendFormat(text, "%s%2.2d:%2.2d:%2.2d", prefix, t.hour(), t.minute(), t.second());
    else
        appendFormat(text, "%s%2.2d:%2.2d", prefix, t.hour(), t.minute());
}

}  // namespace

DataTime::DataTime() : _fcstPeriod(0), _key(0), _flags(DEFAULT_FLAGS) {}

DataTime::DataTime(const AbsTime& t)
    : _refTime(t), _fcstPeriod(0), _validPeriod(instant(t)), _secondTime(t), _key(0),
      _flags(DEFAULT_FLAGS)
{
}

DataTime::DataTime(const AbsTime& refTime, long fcstPeriod, const TimeRange& validPeriod,
                   const AbsTime& secondTime, unsigned long key, uint32_t flags)
    : _refTime(refTime), _fcstPeriod(fcstPeriod), _validPeriod(validPeriod),
      _secondTime(secondTime), _key(key), _flags(flags)
{
}

DataTime DataTime::fromPlainForm(const AbsTime& refTime, long fcstPeriod,
                                 const TimeRange& validPeriod, const AbsTime& secondTime)
{
    if (refTime.seconds() < 2)
        return DataTime(refTime);
    const TimeRange valid(wholeMinute(validPeriod.start()), wholeMinute(validPeriod.end()),
                          validPeriod.valid());
    return DataTime(wholeMinute(refTime), fcstPeriod, valid, wholeMinute(secondTime), 0,
                    FCST_GIVEN | VALID_GIVEN | SECOND_GIVEN);
}

void DataTime::setFollowedTime(AbsTime& field, const AbsTime& t, uint32_t followsBit,
                               uint32_t otherBit)
{
    field = t;
    _flags |= SECOND_GIVEN;
    if (_flags & followsBit) {
        _flags &= ~followsBit;
        if (!(_flags & otherBit))
            _flags |= VALID_GIVEN;
    }
}

void DataTime::setRefTime(const AbsTime& t)
{
    setFollowedTime(_refTime, t, VALID_FOLLOWS_REF, VALID_FOLLOWS_SECOND);
}

void DataTime::setSecondTime(const AbsTime& t)
{
    setFollowedTime(_secondTime, t, VALID_FOLLOWS_SECOND, VALID_FOLLOWS_REF);
}

void DataTime::setFcstPeriod(long period)
{
    _fcstPeriod = period;
    _flags |= FCST_GIVEN;
    if (_flags & VALID_FOLLOWS_REF)
        _validPeriod = instant(offsetTime(_refTime, period));
    else if (_flags & VALID_FOLLOWS_SECOND)
        _validPeriod = instant(offsetTime(_secondTime, period));
}

void DataTime::setValidPeriod(const AbsTime& start, const AbsTime& end, bool valid)
{
    _validPeriod = TimeRange(start, end, valid);
    _flags |= VALID_GIVEN;
    _flags &= ~uint32_t(VALID_FOLLOWS_REF | VALID_FOLLOWS_SECOND);
}

void DataTime::setKey(unsigned long key)
{
    _key = key;
    _flags |= KEY_GIVEN;
}

void DataTime::applyOffset(long offset, unsigned long key)
{
    if (_flags & OFFSET_APPLIED)
        return;
    _flags |= OFFSET_APPLIED;
    if (offset != 0)
        setRefTime(offsetTime(_refTime, offset));
    if (key != 0)
        setKey(key);
}

int DataTime::compareMode()
{
    return primaryMode;
}

int DataTime::secondaryCompareMode()
{
    return secondaryMode;
}

void DataTime::setCompareMode(int primary, int secondary)
{
    primaryMode = primary;
    secondaryMode = secondary;
}

bool DataTime::operator==(const DataTime& o) const
{
    if ((isNull() && o.isNull()) || (isStatic() && o.isStatic()))
        return true;
    if ((_flags & OFFSET_APPLIED) != (o._flags & OFFSET_APPLIED) || _refTime != o._refTime ||
        _fcstPeriod != o._fcstPeriod)
        return false;
    const TimeRange& a = _validPeriod;
    const TimeRange& b = o._validPeriod;
    if (!a.valid() && !b.valid())
        return true;
    return a.valid() && b.valid() && a.start() == b.start() && a.end() == b.end();
}

bool DataTime::operator<(const DataTime& o) const
{
    return ordered(*this, o, true);
}

bool DataTime::operator>(const DataTime& o) const
{
    return ordered(*this, o, false);
}

TextString DataTime::text() const
{
    if (isNull())
        return TextString("DataTime::Null");
    if (isStatic())
        return TextString("DataTime::Static");

    TextString text;
    appendFormat(text, "%d/%d-", _refTime.month(), _refTime.day());
    appendClock(text, "", _refTime);
    if (_flags & FCST_GIVEN) {
        const short hours = static_cast<short>(_fcstPeriod / 3600);
        const short minutes = static_cast<short>(_fcstPeriod % 3600 / 60);
        if (minutes == 0)
            appendFormat(text, " f%hd", hours);
        else
            appendFormat(text, " f%hd:%2.2hd", hours, minutes);
    }
    if (_flags & VALID_GIVEN)
        appendFormat(text, " v(%ld:%ld)", long(_validPeriod.start() - _refTime),
                     long(_validPeriod.end() - _refTime));
    else if ((_flags & DEFAULT_FLAGS) == VALID_FOLLOWS_SECOND)
        text += " v>";
    if (_flags & SECOND_GIVEN)
        appendClock(text, " a", _secondTime);
    if (_flags & KEY_GIVEN)
        appendFormat(text, " k%lu", _key);
    if (_flags != DEFAULT_FLAGS)
        appendFormat(text, " u%x", unsigned(_flags));
    return text;
}

AbsTime DataTime::displayRefTime() const
{
    if (!(_flags & 0x4))
        return offsetTime(_validPeriod.end(), -_fcstPeriod);
    if (_flags & OFFSET_APPLIED)
        return _secondTime;
    return _refTime;
}

AbsTime DataTime::displayValidTime() const
{
    if (!(_flags & 0x4))
        return _validPeriod.end();
    return offsetTime(displayRefTime(), _fcstPeriod);
}

TextString DataTime::longLabel() const
{
    if (isNull() || isStatic())
        return TextString();
    return displayRefTime().toString("%H:%MZ %a %d-%b-%y");
}

TextString DataTime::dayHourText(bool withMinutes) const
{
    const AbsTime r = displayRefTime();
    TextString text;
    if (withMinutes || r.minute() != 0)
        appendFormat(text, "%2.2d.%2.2d%2.2d", r.day(), r.hour(), r.minute());
    else
        appendFormat(text, "%2.2d.%2.2d", r.day(), r.hour());
    return text;
}

TextString DataTime::dayHourFcstText(bool withMinutes) const
{
    TextString text = dayHourText(withMinutes);
    appendFormat(text, " %ldHR", _fcstPeriod / 3600);
    return text;
}

TextString DataTime::dayMonthYearText() const
{
    const AbsTime v = displayValidTime();
    TextString text;
    appendFormat(text, "%2.2d%s%2.2d", v.day(), monthNames[v.month()], v.year() % 100);
    return text;
}

TextString DataTime::hourWeekdayText() const
{
    const AbsTime v = displayValidTime();
    TextString text;
    if (v.minute() != 0)
        appendFormat(text, "%2.2d:%2.2dZ", v.hour(), v.minute());
    else
        appendFormat(text, "%2.2dZ", v.hour());
    appendFormat(text, " %s", weekdayNames[v.dayOfWeek()]);
    return text;
}

TextString DataTime::periodText(long duration, const TimeRange* range)
{
    TextString text;
    const long hours = duration / 3600, minutes = duration % 3600 / 60, seconds = duration % 60;
    if (seconds != 0)
        appendFormat(text, "%3ld:%2.2ld:%2.2ld", hours, minutes, seconds);
    else
        appendFormat(text, "%3ld:%2.2ld", hours, minutes);
    if (range && range->valid()) {
        const char* form = "%h %d %y %T GMT";
        text += "(";
        text += range->start().toString(form);
        text += ", ";
        text += range->end().toString(form);
        text += ")";
    }
    return text;
}

TextString DataTime::forecastLabel() const
{
    if (isNull() || isStatic() || (_flags & 0x2))
        return TextString();
    const AbsTime v = displayValidTime();
    TextString text;
    if (_fcstPeriod % 60 > 0)
        appendFormat(text, "Perturbation %ld ", _fcstPeriod % 60);
    if (!(_fcstPeriod < 1 && !(_flags & FCST_GIVEN))) {
        const AbsTime r = offsetTime(v, -_fcstPeriod);
        if (r.minute() != 0)
            appendFormat(text, "%2.2d.%2.2d%2.2d %3ldHR ", r.day(), r.hour(), r.minute(),
                         _fcstPeriod / 3600);
        else if (_fcstPeriod > 864000 && _fcstPeriod % 86400 == 0)
            appendFormat(text, "%2.2d.%2.2d %3ldDAYS ", r.day(), r.hour(), _fcstPeriod / 86400);
        else
            appendFormat(text, "%2.2d.%2.2d %3ldHR ", r.day(), r.hour(), _fcstPeriod / 3600);
    }
    if (!(_flags & 0x4) && _validPeriod.duration() >= 1) {
        const int64_t length = _validPeriod.duration();
        const short hours = static_cast<short>(length / 3600);
        const short minutes = static_cast<short>(length % 3600 / 60);
        if (minutes != 0)
            appendFormat(text, "%hd:%2.2hd ", hours, minutes);
        else
            appendFormat(text, "%hdhrs ", hours);
        if (_validPeriod.start() == v)
            text += "Begn ";
        else if (_validPeriod.end() == v)
            text += "Endg ";
        else
            text += "Incl ";
    }
    appendFormat(text, "%s %2.2d:%2.2dZ ", weekdayNames[v.dayOfWeek()], v.hour(), v.minute());
    appendFormat(text, "%2.2d-%s-%2.2d ", v.day(), monthNames[v.month()], v.year() % 100);
    return text;
}

unsigned hashKey(const DataTime& t)
{
    return static_cast<uint32_t>(t.refTime().seconds()) ^
           static_cast<uint32_t>(static_cast<int32_t>(t.fcstPeriod()));
}

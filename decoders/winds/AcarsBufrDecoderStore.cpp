// The ACARS decoder's storing: the observations of one bulletin into the
// ACARS point-data store, one record per observation, then one notification
// per observation stored.  At most one handle is held at a time, from the
// first value of an observation to its last.
#include "AcarsBufrDecoder.h"

#include "DataTime.h"
#include "ElementForms.h"
#include "ElementUnits.h"
#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"
#include "NetcdfPointData.h"
#include "TimeRange.h"
#include "dmNotify.h"
#include "windForms.h"
#include "windKinds.h"
#include "windTimeGroups.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#define ACARS_LOG(category) QEV_LOG(LogStream::category, "AcarsBufrDecoder")

namespace {

const int TAIL_NUMBER = 1008;
const int YEAR = 4001;
const int HOUR = 4004;
const int RELATIVE_HUMIDITY = 13003;
const int WIND_DIRECTION = 11001;
const int WIND_SPEED = 11002;
const DataAccessKey ACARS_KEY = 79;

// The heights the store holds as an aircraft gives them, in the order they
// are taken: its flight level, its indicated altitude, then its height
// above mean sea level in any form of that (ElementForms).  The other forms
// of a height (geopotential heights and geopotentials, a height above the
// station, a satellite navigation altitude) it does not hold.
const ElementForms::Measure HEIGHT_MEASURES[] = {
    ElementForms::FLIGHT_LEVEL, ElementForms::INDICATED_ALTITUDE, ElementForms::GEOMETRIC};

const std::vector<int>& heights()
{
    static const std::vector<int> list = [] {
        std::vector<int> out;
        for (ElementForms::Measure m : HEIGHT_MEASURES)
            for (const ElementForms::Form* f : ElementForms::forms(ElementForms::HEIGHT))
                if (f->measure == m)
                    out.push_back(f->descriptor);
        return out;
    }();
    return list;
}

// The height of an aircraft the store does not hold.
bool isOtherHeight(int descriptor)
{
    return ElementForms::gives(descriptor, ElementForms::HEIGHT) &&
           std::find(heights().begin(), heights().end(), descriptor) == heights().end();
}

// Latitude or longitude (0 or 1) of high or coarse accuracy (0 or 2): the
// index of a position element, -1 for another one.
int positionOf(int descriptor)
{
    const ElementForms::Form* f = ElementForms::form(descriptor);
    if (!f || (f->quantity != ElementForms::LATITUDE && f->quantity != ElementForms::LONGITUDE))
        return -1;
    return (f->measure == ElementForms::COARSE_ACCURACY ? 2 : 0) +
           (f->quantity == ElementForms::LONGITUDE ? 1 : 0);
}

// The element of high accuracy of a position element's quantity.
int highAccuracy(int descriptor)
{
    const ElementForms::Form* f = ElementForms::form(descriptor);
    const ElementForms::Quantity quantity = f ? f->quantity : ElementForms::NO_QUANTITY;
    for (const ElementForms::Form* g : ElementForms::forms(quantity))
        if (g->measure == ElementForms::HIGH_ACCURACY)
            return g->descriptor;
    return descriptor;
}

// The elements an observation is told from the one before by, when it
// gives them again: the latitudes of high and of coarse accuracy, then the
// heights; their number.
size_t keyCount()
{
    return 2 + heights().size();
}

int keyIndex(int descriptor)
{
    const int position = positionOf(descriptor);
    if (position == 0 || position == 2)
        return position / 2;
    const std::vector<int>& list = heights();
    for (size_t k = 0; k < list.size(); ++k)
        if (descriptor == list[k])
            return 2 + static_cast<int>(k);
    return -1;
}

// The elements of a time group or a time of day (year to minute, then its
// second in any form).
bool isTime(int descriptor)
{
    return (descriptor >= YEAR && descriptor <= YEAR + 4) ||
           ElementForms::gives(descriptor, ElementForms::SECOND);
}

// The elements that may open an observation before its position.
bool isOpening(int descriptor)
{
    return isTime(descriptor) || keyIndex(descriptor) >= 2;
}

// The number a variable of that type holds once value is written into it
// (as the record writer writes: integers truncated toward zero).
double asHeld(nc_type type, float value)
{
    switch (type) {
    case NC_BYTE:
    case NC_SHORT:
    case NC_INT:
        return std::trunc(static_cast<double>(value));
    default:
        return static_cast<double>(value);
    }
}

} // namespace

int AcarsBufrDecoder::write2NetcdfFile()
{
    ACARS_LOG(VERBOSE) << "In write2NetcdfFile()" << std::endl;
    BulletinLog::Pass pass(_bulletinLog);
    if (_decodedValues.length() == 0 || _subsets <= 0)
        return BulletinLog::dropped("AcarsBufrDecoder",
                                    "the bulletin holds no report; nothing to store.");
    return storeFile();
}

SeqOf<TextString> AcarsBufrDecoder::getTailNumbers() const
{
    SeqOf<TextString> tails;
    tails.setLength(_subsets > 0 ? _subsets : 0);
    SeqOf<bool> found;
    found.setLength(tails.length());
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i = 0; i < values.length(); ++i) {
        const int s = values[i].getSubset();
        if (values[i].getDescriptor() != TAIL_NUMBER || s < 0 || s >= tails.length() || found[s])
            continue;
        found[s] = true;
        tails[s] = values[i].getCharValue();
    }
    return tails;
}

SeqOf<AbsTime> AcarsBufrDecoder::getTimeIds(SeqOf<bool>& timed, SeqOf<int>& unheld)
{
    static const TextString marked("Time");
    SeqOf<AbsTime> times;
    times.setLength(_subsets > 0 ? _subsets : 0);
    timed.setLength(0);
    timed.setLength(times.length());
    unheld.setLength(0);
    unheld.setLength(times.length());
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i = 0; i < values.length(); ++i) {
        if (values[i].getDescriptor() != YEAR)
            continue;
        const int s = values[i].getSubset();
        _decodedValues[i].setCharValue(marked);
        AbsTime t;
        int length = 1;
        const TimeGroupStatus status = readTimeGroup(values, i, s, t, &length);
        const bool own = s >= 0 && s < times.length() && !timed[s] && unheld[s] == TIME_GROUP_OK;
        // A report whose own time the store cannot hold (before 1970, past
        // the last second held) has none; its line is written where its
        // observation is skipped.
        if (unheldTime(status)) {
            if (own)
                unheld[s] = status;
            i += length - 1;
            continue;
        }
        if (status != TIME_GROUP_OK) {
            if (_bulletinLog.admit("AcarsBufrDecoder", "The time group at value"))
                ACARS_LOG(PROBLEM) << "The time group at value " << i << " "
                                   << timeGroupProblem(status) << "." << std::endl;
            continue;
        }
        if (own) {
            times[s] = t;
            timed[s] = true;
        }
        i += length - 1;
    }
    for (int k = 0; k < times.length(); ++k) {
        if (timed[k])
            ACARS_LOG(VERBOSE) << "TimeIds[" << k << "]: " << times[k].toString("%h %d %y %T GMT")
                               << std::endl;
    }
    return times;
}

int AcarsBufrDecoder::positionIndex(int descriptor)
{
    return positionOf(descriptor);
}

int AcarsBufrDecoder::openingOf(int i, int floor) const
{
    const SeqOf<BufrValues>& values = _decodedValues;
    int b = i;
    while (b - 1 > floor && isOpening(values[b - 1].getDescriptor())) {
        const int d = values[b - 1].getDescriptor();
        for (int k = b; k <= i; ++k)
            if (values[k].getDescriptor() == d)
                return b;
        --b;
    }
    return b;
}

bool AcarsBufrDecoder::givesAnyOf(int from, int to, int within, int withinEnd) const
{
    // Sorted, so that a message of many values takes no quadratic time.
    const SeqOf<BufrValues>& values = _decodedValues;
    std::vector<int> given;
    for (int k = within; k < withinEnd; ++k)
        given.push_back(values[k].getDescriptor());
    std::sort(given.begin(), given.end());
    for (int i = from; i < to; ++i) {
        const int d = values[i].getDescriptor();
        if (!isTime(d) && positionIndex(d) < 0 && std::binary_search(given.begin(), given.end(), d))
            return true;
    }
    return false;
}

void AcarsBufrDecoder::locateObservations()
{
    _observations.clear();
    const SeqOf<BufrValues>& values = _decodedValues;
    const int n = values.length();
    for (int i = 0; i < n;) {
        // A report's values, subset by subset: an observation runs up to a
        // latitude element of its accuracy or a height element it gives
        // again, where the next begins (with the time and height values
        // right before that element, which open it).
        const int s = values[i].getSubset();
        const int begin = i;
        std::vector<int> starts{begin};
        std::vector<bool> seen(keyCount(), false);
        std::vector<int> at(keyCount(), 0);
        int earlier = -1;    // a height that ended the first observation: where it was given first
        for (; i < n && values[i].getSubset() == s; ++i) {
            const int k = keyIndex(values[i].getDescriptor());
            if (k < 0)
                continue;
            if (seen[k]) {
                const int b = openingOf(i, starts.back());
                if (starts.size() == 1 && k >= 2)
                    earlier = at[k];
                starts.push_back(b);
                seen.assign(seen.size(), false);
                for (int j = b; j < i; ++j) {
                    const int kj = keyIndex(values[j].getDescriptor());
                    if (kj >= 0) {
                        seen[kj] = true;
                        at[kj] = j;
                    }
                }
            }
            seen[k] = true;
            at[k] = i;
        }
        starts.push_back(i);
        // A report of levels: its first level begins where the height it
        // gives again was given first (as 3 11 008's levels), or with its
        // second observation (as 3 11 009's levels, each with its own
        // position); what comes before is the report's for all its levels
        // when it gives none of the first level's elements but times and
        // positions.  A report that gives those (its own temperature, wind
        // ...) before further observations is an observation of its own.
        const int level = earlier >= 0 ? openingOf(earlier, begin) : starts[1];
        const int levelEnd = earlier >= 0 ? starts[1] : starts[starts.size() > 2 ? 2 : 1];
        const bool levels = starts.size() > 2 && !givesAnyOf(begin, level, level, levelEnd);
        if (levels && earlier >= 0)
            starts.insert(starts.begin() + 1, level);
        for (size_t k = levels ? 1 : 0; k + 1 < starts.size(); ++k) {
            Observation o;
            o.subset = s;
            o.first = starts[k];
            o.end = starts[k + 1];
            o.own = k == (levels ? 1u : 0u);
            if (levels) {
                o.shared = starts[0];
                o.sharedEnd = starts[1];
            }
            locatePositionAndHeight(o);
            _observations.push_back(o);
        }
    }
}

void AcarsBufrDecoder::locatePositionAndHeight(Observation& o) const
{
    const SeqOf<BufrValues>& values = _decodedValues;
    const int ranges[2][2] = {{o.first, o.end}, {o.shared, o.sharedEnd}};
    for (const auto& range : ranges) {
        // The first value of each position element that holds one; the
        // coarse position stands in for the high-accuracy one only as a
        // whole: an observation never mixes the two.
        int first[4] = {-1, -1, -1, -1};
        for (int i = range[0]; i < range[1]; ++i) {
            const int k = positionIndex(values[i].getDescriptor());
            if (k >= 0 && first[k] < 0 && ElementForms::given(values[i].getValue()))
                first[k] = i;
        }
        const int pair = first[0] >= 0 && first[1] >= 0   ? 0
                         : first[2] >= 0 && first[3] >= 0 ? 2
                                                            : -1;
        if (pair >= 0 && o.latitude < 0) {
            o.latitude = first[pair];
            o.longitude = first[pair + 1];
        }
        // Its height: the first of the height elements, in their order,
        // that holds a value.
        for (size_t k = 0; k < heights().size() && o.height < 0; ++k)
            for (int i = range[0]; i < range[1] && o.height < 0; ++i)
                if (values[i].getDescriptor() == heights()[k] &&
                    ElementForms::given(values[i].getValue()))
                    o.height = i;
    }
}

TimeGroupStatus AcarsBufrDecoder::furtherObservationTime(const Observation& o,
                                                         const AbsTime& reportTime,
                                                         AbsTime& time) const
{
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i = o.first; i < o.end; ++i) {
        const int d = values[i].getDescriptor();
        if (d == YEAR)
            return readTimeGroup(values, i, o.subset, time);
        if (d != HOUR || i + 1 >= o.end || values[i + 1].getDescriptor() != HOUR + 1)
            continue;
        // A time of day: on the report's date, or the day before or after,
        // whichever lies nearest the report.  A missing second counts as 0;
        // 0 04 007 gives it to the microsecond.
        const bool hasSecond = i + 2 < o.end && ElementForms::gives(values[i + 2].getDescriptor(),
                                                                    ElementForms::SECOND);
        const float h = values[i].getValue(), m = values[i + 1].getValue();
        float sec = hasSecond ? values[i + 2].getValue() : 0.0f;
        if (!ElementForms::given(sec))
            sec = 0.0f;
        if (!(h >= 0 && h < 24 && m >= 0 && m < 60 && sec >= 0 && sec < 60))
            return TIME_GROUP_INVALID;
        const int hour = static_cast<int>(h), minute = static_cast<int>(m);
        const int second = static_cast<int>(sec);
        const int64_t report = reportTime.seconds();
        const int64_t day = report - ((report % 86400) + 86400) % 86400;
        int64_t best = day + hour * 3600 + minute * 60 + second;
        for (int64_t shift : {-86400, 86400})
            if (std::llabs(best + shift - report) < std::llabs(best - report))
                best += shift;
        if (best < 0)
            return TIME_GROUP_INVALID;
        if (best > INT32_MAX)
            return TIME_GROUP_PAST_LIMIT;
        time = AbsTime(static_cast<int32_t>(best));
        return TIME_GROUP_OK;
    }
    return TIME_GROUP_INVALID;
}

int AcarsBufrDecoder::storeFile()
{
    int result = 1;
    _handles.setLength(0);
    _asideReason = TextString();
    // A message of another kind (a satellite wind message in an aircraft
    // bulletin) is not stored as aircraft reports.
    static const MessageKind AIRCRAFT = {
        "aircraft reports",
        {4, -1},
        {{nullptr, 0, ElementForms::NO_QUANTITY}, {nullptr, 0, ElementForms::NO_QUANTITY}}};
    const TextString other = notOfKind(AIRCRAFT, _dataCategory, _decodedValues);
    if (other.length() > 0) {
        ACARS_LOG(PROBLEM) << other << "  Not stored, skipping to next file." << std::endl;
        return setAside(other);
    }
    const SeqOf<TextString> tails = getTailNumbers();
    int tailCount = 0;
    for (int k = 0; k < tails.length(); ++k)
        tailCount += tails[k].length() > 0 ? 1 : 0;
    if (tailCount == 0) {
        ACARS_LOG(PROBLEM) << "Number of stations = 0...not processing" << std::endl;
        return setAside("No report has a tail number (0 01 008).");
    }
    SeqOf<bool> timed;
    SeqOf<int> unheld;
    const SeqOf<AbsTime> times = getTimeIds(timed, unheld);
    int timeCount = 0;
    for (int k = 0; k < timed.length(); ++k)
        timeCount += timed[k] ? 1 : 0;
    // The first observation the store cannot hold (its time, its tail
    // number): the bulletin is set aside for it once the others are stored.
    TextString unheldReason;
    if (timeCount == 0) {
        ACARS_LOG(PROBLEM) << "Number of timeIds = 0...not processing" << std::endl;
        for (int k = 0; k < unheld.length() && unheldReason.length() == 0; ++k)
            if (unheld[k] != TIME_GROUP_OK)
                unheldReason = unheldTimeText(k, -1, unheld[k]);
        return setAside(unheldReason.length() > 0
                            ? unheldReason
                            : "No report has a time (0 04 001 to 0 04 005).");
    }
    if (!_store) {
        ACARS_LOG(PROBLEM) << "No point-data store for " << _storeDir << ".  Skipping to next file."
                           << std::endl;
        return setAside("No point-data store for " + _storeDir + ".");
    }
    locateObservations();

    const SeqOf<BufrValues>& values = _decodedValues;
    const bool headerTimed = sectionTimeFault().empty();
    int placed = 0;
    int further = 0;    // the further observations of the report at hand
    for (Observation& o : _observations) {
        const int s = o.subset;
        if (s < 0 || s >= tails.length()) {
            if (o.own && _bulletinLog.admit("AcarsBufrDecoder", "Report lies beyond the reports"))
                ACARS_LOG(PROBLEM) << "Report " << s + 1 << " lies beyond the " << tails.length()
                                   << " reports of the file.  Skipping to next report."
                                   << std::endl;
            continue;
        }
        further = o.own ? 0 : further + 1;
        int unheldStatus = unheld[s];
        if (o.own && !o.isLevel()) {
            o.timed = timed[s];
            o.time = times[s];
        } else {
            const TimeGroupStatus status =
                timed[s] ? furtherObservationTime(o, times[s], o.time) : TIME_GROUP_INVALID;
            o.timed = status == TIME_GROUP_OK;
            if (unheldStatus == TIME_GROUP_OK && unheldTime(status))
                unheldStatus = status;
            // A level without a time of its own is at its report's.
            if (timed[s] && !o.timed && unheldStatus == TIME_GROUP_OK && o.isLevel()) {
                o.timed = true;
                o.time = times[s];
            }
        }
        // An observation the store cannot hold is refused alone with its
        // line; the first names the bulletin's reason.
        const auto refuse = [&](const char* kind, const TextString& why) {
            if (_bulletinLog.admit("AcarsBufrDecoder", kind))
                ACARS_LOG(PROBLEM) << why << (o.own ? "  Skipping to next report."
                                                    : "  Skipping to next observation.")
                                   << std::endl;
            if (unheldReason.length() == 0)
                unheldReason = why;
        };
        if (unheldStatus != TIME_GROUP_OK && tails[s].length() > 0) {
            refuse(unheldStatus == TIME_GROUP_PAST_LIMIT ? "its time lies past"
                                                         : "its time lies before",
                   unheldTimeText(s, o.own ? -1 : further, unheldStatus));
            continue;
        }
        const char* lacks = tails[s].length() == 0 ? "tail number"
                            : !o.timed             ? "time"
                            : o.latitude < 0       ? "position"
                                                   : nullptr;
        if (lacks) {
            if (o.own && _bulletinLog.admit("AcarsBufrDecoder",
                                            "Report has no tail number, time or position"))
                ACARS_LOG(PROBLEM) << "Report " << s + 1 << " has no " << lacks
                                   << " of its own.  Skipping to next report." << std::endl;
            if (!o.own && _bulletinLog.admit("AcarsBufrDecoder", "Observation of report has no"))
                ACARS_LOG(PROBLEM) << "Observation " << further + 1 << " of report " << s + 1
                                   << " has no " << lacks
                                   << " of its own.  Skipping to next observation." << std::endl;
            continue;
        }
        int record = 0;
        bool existing = false;
        int* handle = placeObservation(tails[s], o, record, existing);
        // So is one whose record the store refuses (its tail number longer
        // than the store's ids).
        if (!handle && !_store->recordRefusal().empty()) {
            const std::string what =
                (o.own ? std::string("Report ")
                       : "Observation " + std::to_string(further + 1) + " of report ") +
                std::to_string(s + 1) + " (" + LogText(tails[s]).escaped() +
                "): " + _store->recordRefusal() + ".";
            refuse("Report is not held", what.c_str());
            continue;
        }
        if (!handle) {
            ACARS_LOG(PROBLEM) << "No handle for " << LogText(tails[s]) << " for " << o.time.seconds()
                               << ".  Skipping to next file." << std::endl;
            result = -1;
            break;
        }
        // A further observation whose record an earlier one of this
        // bulletin took (the same time, position and height) would rewrite
        // it: the earlier one's values stay.
        bool taken = false;
        for (const Observation& p : _observations) {
            if (&p == &o)
                break;
            taken = taken || (existing && p.stored && p.record == record &&
                              p.file == _netcdfFileName);
        }
        if (taken && !o.own) {
            if (_bulletinLog.admit("AcarsBufrDecoder", "Observation of report repeats"))
                ACARS_LOG(PROBLEM) << "Observation " << further + 1 << " of report " << s + 1
                                   << " repeats the time, position and height of one stored "
                                   << "before.  Skipping to next observation." << std::endl;
            if (!releaseHandle(handle))
                result = -1;
            continue;
        }
        ++placed;
        o.file = _netcdfFileName;
        o.record = record;
        const int ncid = *handle;
        _storing = &o;
        _given.clear();
        auto store = [&](int i) {
            if (storeValues(ncid, record, i)) {
                o.stored = true;
                return;
            }
            TextString name;
            if (!lookupElementName(values[i].getDescriptor(), name, _templateDict))
                name = "\"\"";
            ACARS_LOG(VERBOSE) << "Unable to map netcdf file to descriptor "
                               << values[i].getDescriptor() << "(" << name << ")"
                               << ", decoded value=[" << values[i].getValue() << "] for "
                               << LogText(tails[s]) << " is undefined in the cdl." << std::endl;
        };
        // What tells the observation's record from the others of its
        // aircraft and time goes in first, its height before its position:
        // a record that holds its position holds its height too.
        const int keys[3] = {o.height, o.latitude, o.longitude};
        for (int i : keys)
            if (i >= 0)
                store(i);
        // The bulletin's time, or nothing where section 1 gives none: a
        // record never holds 1970 for it.
        if (headerTimed) {
            _writer.putNumber("timeMdcrsHdr", record, static_cast<double>(_obTime.seconds()));
        } else {
            const NetcdfIo io(ncid);
            const int header = io.varId("timeMdcrsHdr");
            if (header >= 0)
                io.fillVariable(header, record);
        }
        o.forEachValue([&](int i) {
            if (i != keys[0] && i != keys[1] && i != keys[2])
                store(i);
        });
        if (storeComponentWind(ncid, record, o))
            o.stored = true;
        checkHeight(o);
        _storing = nullptr;
        // An observation whose values the store could not bring to the disk
        // is not stored: not notified, and the file is kept.
        if (!releaseHandle(handle)) {
            o.stored = false;
            result = -1;
        }
    }
    if (placed == 0 && result == 1) {
        ACARS_LOG(PROBLEM) << "No report of the file has a tail number, a time and a position of "
                           << "its own.  Skipping to next file." << std::endl;
        result = setAside(unheldReason.length() > 0 ? unheldReason : unplacedReason(tails));
    } else if (result == 1 && unheldReason.length() > 0) {
        result = setAside(unheldReason);
    }

    for (const Observation& o : _observations) {
        if (!o.stored)
            continue;
        ACARS_LOG(VERBOSE) << "Sending a notification for subset " << o.subset << std::endl;
        sendNotification(o.time);
    }
    // What is stored stays; a value given that no record holds keeps the
    // bulletin.
    if (result == 1 && _asideReason.length() > 0)
        result = setAside(_asideReason);
    return result;
}

TextString AcarsBufrDecoder::unheldTimeText(int subset, int further, int status)
{
    std::string text = further < 0 ? "Report " + std::to_string(subset + 1)
                                   : "Observation " + std::to_string(further + 1) +
                                         " of report " + std::to_string(subset + 1);
    return (text + ": its time " +
            timeGroupProblem(static_cast<TimeGroupStatus>(status)) + ".")
        .c_str();
}

void AcarsBufrDecoder::checkHeight(const Observation& o)
{
    TextString name;
    bool tooLarge = false;
    if (o.height >= 0 || !variableOf(heights().front(), name, tooLarge))
        return;
    // An observation at a pressure it gives has its level held.
    int other = -1;
    bool pressure = false;
    o.forEachValue([&](int i) {
        const BufrValues& v = _decodedValues[i];
        const int d = v.getDescriptor();
        if (!ElementForms::given(v.getValue()))
            return;
        TextString variable;
        bool large = false;
        pressure = pressure || (ElementForms::gives(d, ElementForms::PRESSURE) &&
                                variableOf(d, variable, large));
        if (other < 0 && isOtherHeight(d))
            other = i;
    });
    if (other < 0 || pressure)
        return;
    std::string takes;
    for (int d : heights())
        takes += (takes.empty() ? "" : ", ") + std::string(BulletinLog::descriptorText(d).c_str());
    const TextString why = "Report " + TextString(std::to_string(o.subset + 1).c_str()) +
                           " gives its " + ElementForms::words(ElementForms::HEIGHT) + " only as " +
                           BulletinLog::descriptorText(_decodedValues[other].getDescriptor()) +
                           ", which the store does not hold (" + name + " takes " +
                           takes.c_str() + ").";
    if (_bulletinLog.admit("AcarsBufrDecoder", "gives its height only as"))
        ACARS_LOG(PROBLEM) << why << "  Stored without it." << std::endl;
    if (_asideReason.length() == 0)
        _asideReason = why;
}

TextString AcarsBufrDecoder::unplacedReason(const SeqOf<TextString>& tails) const
{
    // The reports by what they lack first: a tail number, a time, a
    // position.
    int lacking[3] = {0, 0, 0};
    for (const Observation& o : _observations) {
        if (!o.own || o.subset < 0 || o.subset >= tails.length())
            continue;
        const int k = tails[o.subset].length() == 0 ? 0 : !o.timed ? 1 : o.latitude < 0 ? 2 : -1;
        if (k >= 0)
            ++lacking[k];
    }
    static const char* const what[3] = {
        "no tail number (0 01 008)", "no time (0 04 001 to 0 04 005)",
        "no latitude and longitude (0 05 001 and 0 06 001, or 0 05 002 and 0 06 002)"};
    TextString reason("No report can be stored");
    const char* separator = ": ";
    for (int k = 0; k < 3; ++k) {
        if (lacking[k] == 0)
            continue;
        reason += separator + TextString(std::to_string(lacking[k]).c_str()) + " with " + what[k];
        separator = ", ";
    }
    return reason + ".";
}

int* AcarsBufrDecoder::placeObservation(const TextString& tailNumber, const Observation& o,
                                        int& record, bool& existing)
{
    existing = false;
    bool newRecord = false;
    int* handle = getHandle(tailNumber, o.time, record, &newRecord);
    if (!handle || newRecord)
        return handle;
    // The aircraft has records at this time: the one that holds this
    // observation is its own; none does, a new one beside them.
    SeqOf<int> records;
    if (!_store->getRecordsForId(tailNumber, TimeRange(o.time, o.time), handle, records)) {
        if (_bulletinLog.admit("AcarsBufrDecoder", "Unable to read the records of"))
            ACARS_LOG(PROBLEM) << "Unable to read the records of " << LogText(tailNumber) << " at "
                               << o.time.seconds() << " in " << _netcdfFileName << std::endl;
        releaseHandle(handle);
        return nullptr;
    }
    for (int k = 0; k < records.length(); ++k) {
        if (holdsObservation(*handle, records[k], o)) {
            record = records[k];
            existing = true;
            return handle;
        }
    }
    // A record a stopped store left with its tail number and time but
    // without the position that tells its observation (an observation's
    // values reach the disk when its handle is given back, its position and
    // height first) is the record of the observation whose position and
    // height it holds in part or not at all: emptied and taken over, so
    // that the report stored again leaves no record of its key alone.
    for (int k = 0; k < records.length(); ++k) {
        if (!leftUnfinished(*handle, records[k], o))
            continue;
        if (!emptyRecord(*handle, records[k])) {
            if (_bulletinLog.admit("AcarsBufrDecoder", "Unable to empty record"))
                ACARS_LOG(PROBLEM) << "Unable to empty record " << records[k] << " of "
                                   << _netcdfFileName << std::endl;
            releaseHandle(handle);
            return nullptr;
        }
        if (_bulletinLog.admit("AcarsBufrDecoder", "left unfinished is taken over"))
            ACARS_LOG(EVENT) << "Record " << records[k] << " of " << LogText(tailNumber) << " in "
                             << _netcdfFileName << " left unfinished is taken over"
                             << std::endl;
        record = records[k];
        return handle;
    }
    if (!releaseHandle(handle))
        return nullptr;
    SeqOf<TextString> ids(tailNumber);
    SeqOf<double> times(static_cast<double>(o.time.seconds()));
    handle = _store->getFileHandleAndNewRecord(ids, times, record);
    _netcdfFileName = NetcdfPointData::lastFileTimeStamp();
    if (!handle) {
        ACARS_LOG(PROBLEM) << "No handle for this station info: " << LogText(tailNumber)
                           << " and time: " << o.time.seconds() << std::endl;
        return nullptr;
    }
    _writer.useFile(*handle, _storeDir + "/" + _netcdfFileName);
    if (_handles.find(handle, 0) < 0)
        _handles.append(handle);
    return handle;
}

AcarsBufrDecoder::KeyHeld AcarsBufrDecoder::keyHeld(int ncid, int record, int i)
{
    const SeqOf<BufrValues>& values = _decodedValues;
    const int d = values[i].getDescriptor();
    TextString name;
    bool tooLarge = false;
    RecordWriter::Variable v;
    double value = values[i].getValue();
    // A value the record has no variable for cannot tell records apart.
    if (!variableOf(d, name, tooLarge) || !_writer.at(ncid).find(name, v, record, true) ||
        v.type == NC_CHAR || !ElementUnits::toVariable(d, value, _writer, name))
        return KEY_UNHELD;
    NcPos at;
    at.rank = v.rank;
    at.v[0] = record;
    const NetcdfIo io(ncid);
    double held = 0, fill = 0;
    if (v.rank < 1 || v.rank > NcPos::MAX_RANK || !io.get1Number(v.id, at, held))
        return KEY_OTHER;
    if (held == asHeld(v.type, static_cast<float>(value)))
        return KEY_SAME;
    return io.fillValue(v.id, fill) && held == fill ? KEY_EMPTY : KEY_OTHER;
}

bool AcarsBufrDecoder::holdsObservation(int ncid, int record, const Observation& o)
{
    for (int i : {o.latitude, o.longitude, o.height}) {
        const KeyHeld held = i < 0 ? KEY_UNHELD : keyHeld(ncid, record, i);
        if (held != KEY_UNHELD && held != KEY_SAME)
            return false;
    }
    return true;
}

bool AcarsBufrDecoder::leftUnfinished(int ncid, int record, const Observation& o)
{
    bool unplaced = false;
    for (int i : {o.latitude, o.longitude, o.height}) {
        const KeyHeld held = i < 0 ? KEY_UNHELD : keyHeld(ncid, record, i);
        if (held == KEY_OTHER)
            return false;
        unplaced = unplaced || (held == KEY_EMPTY && i != o.height);
    }
    return unplaced;
}

bool AcarsBufrDecoder::emptyRecord(int ncid, int record)
{
    // The variables of the template's elements and the bulletin time; the
    // tail number, the time and the store's bookkeeping stay.
    const NetcdfIo io(ncid);
    for (int k = -1; k < _templateDict.count(); ++k) {
        const TextString name = k < 0 ? TextString("timeMdcrsHdr") : _templateDict.value(k);
        const int var = io.varId(name.c_str());
        if (var >= 0 && !io.fillVariable(var, record))
            return false;
    }
    return true;
}

bool AcarsBufrDecoder::releaseHandle(int*& handle)
{
    if (!handle)
        return true;
    const bool released = _store->releaseHandle(handle);
    if (!released && _bulletinLog.admit("AcarsBufrDecoder", "Unable to give back the handle of"))
        ACARS_LOG(PROBLEM) << "Unable to give back the handle of " << _netcdfFileName << std::endl;
    handle = nullptr;
    return released;
}

int* AcarsBufrDecoder::getHandle(const TextString& tailNumber, const AbsTime& time, int& record,
                                 bool* newRecord)
{
    SeqOf<TextString> ids(tailNumber);
    _stationId = tailNumber;
    SeqOf<double> times(static_cast<double>(time.seconds()));
    int* handle = nullptr;
    if (_store) {
        bool isNew = false;
        handle = _store->getFileHandleAndRecord(ids, times, record, isNew);
        _netcdfFileName = NetcdfPointData::lastFileTimeStamp();
        if (newRecord)
            *newRecord = isNew;
    }
    if (!handle) {
        ACARS_LOG(PROBLEM) << "No handle for this station info: " << LogText(tailNumber)
                           << " and time: " << time.seconds() << std::endl;
        return nullptr;
    }
    _writer.useFile(*handle, _storeDir + "/" + _netcdfFileName);
    if (_handles.find(handle, 0) < 0)
        _handles.append(handle);
    return handle;
}

bool AcarsBufrDecoder::isStationIdDescriptor(int i) const
{
    const int d = _decodedValues[i].getDescriptor();
    return d == 1006 || d == 2065;
}

bool AcarsBufrDecoder::variableOf(int d, TextString& name, bool& tooLarge)
{
    tooLarge = false;
    if (_names.find(d, name))
        return true;
    const int position = positionIndex(d);
    if (!lookupElementName(d, name, _templateDict) &&
        !(position >= 2 && lookupElementName(highAccuracy(d), name, _templateDict)))
        return false;
    if (!_names.insert(d, name)) {
        tooLarge = true;
        if (_bulletinLog.admit("AcarsBufrDecoder", ">= TBL_B_DICT_CACHE_SIZE"))
            ACARS_LOG(PROBLEM) << "dvDescriptor(" << d << ") >= TBL_B_DICT_CACHE_SIZE, next file!"
                               << std::endl;
        return false;
    }
    return true;
}

bool AcarsBufrDecoder::storeValues(int ncid, int record, int i)
{
    const BufrValues& v = _decodedValues[i];
    const int d = v.getDescriptor();
    const TextString text = v.getCharValue();
    // Of the position elements only the observation's own pair is written,
    // the coarse pair into the variables of the high-accuracy one.
    const int position = positionIndex(d);
    if (position >= 0 &&
        (!_storing || i != (position % 2 == 0 ? _storing->latitude : _storing->longitude)))
        return true;
    TextString name;
    bool tooLarge = false;
    if (!variableOf(d, name, tooLarge))
        return !tooLarge && text.length() > 0;
    // The variable of the observation's height holds that height: another
    // element of the same variable (a second height form, the height of a
    // gust or turbulence group) is not written over it.
    if (_storing && _storing->height >= 0 && i != _storing->height) {
        const BufrValues& height = _decodedValues[_storing->height];
        TextString heightName;
        if (variableOf(height.getDescriptor(), heightName, tooLarge) && heightName == name) {
            if (ElementForms::given(v.getValue()) && v.getValue() != height.getValue() &&
                _bulletinLog.admit("AcarsBufrDecoder", "beside its height"))
                ACARS_LOG(PROBLEM) << "Report " << v.getSubset() + 1 << " gives "
                                   << BulletinLog::descriptorText(d) << " " << v.getValue()
                                   << " beside its height "
                                   << BulletinLog::descriptorText(height.getDescriptor()) << " "
                                   << height.getValue() << ": " << name
                                   << " holds its height." << std::endl;
            return true;
        }
    }
    // Texts other than the flight number and the ground station (the tail
    // number, the marked times) are stored by the store or not at all.
    if (text.length() > 0 && !isStationIdDescriptor(i))
        return true;
    // A missing value never goes over one the observation gave its variable
    // (a wind speed given in knots, then missing in km/h).
    const bool missing = text.length() == 0 && !ElementForms::given(v.getValue());
    if (missing && _storing && _given.count(name.c_str()))
        return true;
    double converted = v.getValue();
    if (text.length() == 0 && !ElementUnits::toVariable(d, converted, _writer.at(ncid), name,
                                                         _bulletinLog, "AcarsBufrDecoder",
                                                         &_asideReason))
        return false;
    float value = static_cast<float>(converted);
    if (d == RELATIVE_HUMIDITY) {
        ACARS_LOG(DEBUG) << "relative humidity value = " << value << std::endl;
        if (value == 0.0f)
            value = -99999.0f;
    }
    if (!putValue(ncid, name, text, value, record))
        return false;
    if (!missing && _storing)
        _given.insert(name.c_str());
    return true;
}

bool AcarsBufrDecoder::storeComponentWind(int ncid, int record, const Observation& o)
{
    // The last value of each element, as the observation's writes leave
    // the variables: direction, speed (in any unit), u, v.
    int last[4] = {-1, -1, -1, -1};
    o.forEachValue([&](int i) {
        const int d = _decodedValues[i].getDescriptor();
        const ElementForms::Form* f = ElementForms::form(d);
        const int k = !f || f->quantity != ElementForms::WIND    ? -1
                      : f->measure == ElementForms::DIRECTION    ? 0
                      : f->measure == ElementForms::SPEED        ? 1
                      : f->measure == ElementForms::EASTWARD     ? 2
                      : f->measure == ElementForms::NORTHWARD    ? 3
                                                                 : -1;
        if (k >= 0)
            last[k] = i;
    });
    bool given[4];
    double value[4];
    for (int k = 0; k < 4; ++k) {
        value[k] = last[k] < 0 ? windForms::MISSING : _decodedValues[last[k]].getValue();
        given[k] = ElementForms::given(value[k]);
    }
    const bool components = given[2] && given[3];
    if ((given[0] && given[1]) || ((given[0] || given[1]) && !components) ||
        !(given[2] || given[3]))
        return false;
    double wind[2];
    windForms::directionSpeed(value[2], value[3], wind[0], wind[1]);
    bool written = false;
    const int elements[2] = {WIND_DIRECTION, WIND_SPEED};
    for (int k = 0; k < 2; ++k) {
        TextString name;
        bool tooLarge = false;
        if (!variableOf(elements[k], name, tooLarge) ||
            !ElementUnits::toVariable(elements[k], wind[k], _writer.at(ncid), name, _bulletinLog,
                                      "AcarsBufrDecoder", &_asideReason))
            continue;
        written = putValue(ncid, name, TextString(), static_cast<float>(wind[k]), record) ||
                  written;
    }
    return written;
}

bool AcarsBufrDecoder::putValue(int ncid, const TextString& name, const TextString& text,
                                float value, int record)
{
    RecordWriter::Variable variable;
    if (!_writer.at(ncid).find(name, variable, record))
        return false;
    if (variable.type == NC_CHAR)
        return putTextValue(ncid, name, record, text);
    return _writer.putNumber(name, record, value) == RecordWriter::WRITTEN;
}

bool AcarsBufrDecoder::putTextValue(int ncid, const TextString& name, int record,
                                    const TextString& text)
{
    const RecordWriter::Outcome outcome = _writer.at(ncid).putText(name, record, text);
    if (outcome == RecordWriter::FAILED &&
        _bulletinLog.admit("AcarsBufrDecoder", "Unable to store the value"))
        ACARS_LOG(PROBLEM) << "Unable to store the value " << LogText(text) << std::endl;
    return outcome == RecordWriter::WRITTEN;
}

bool AcarsBufrDecoder::sendNotification(const AbsTime& t)
{
    const DataTime time(t, 0, TimeRange(t, t), t, 0, 0x300);
    if (!dmNotify(ACARS_KEY, time)) {
        if (!dmNotifyFailureLogged() &&
            _bulletinLog.admit("AcarsBufrDecoder", "dmNotify FAILED for key"))
            ACARS_LOG(PROBLEM) << "dmNotify FAILED for key = " << ACARS_KEY << std::endl;
        return false;
    }
    ACARS_LOG(VERBOSE) << "Sent notification for key " << ACARS_KEY << std::endl;
    return true;
}

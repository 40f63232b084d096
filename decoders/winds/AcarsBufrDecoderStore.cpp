// The ACARS decoder's storing: the reports of one bulletin into the ACARS
// point-data store, one record per report, then one notification per report
// stored.  At most one handle is held at a time, from the first value of a
// report to its last.
#include "AcarsBufrDecoder.h"

#include "DataTime.h"
#include "LogStream.h"
#include "NetcdfPointData.h"
#include "TimeRange.h"
#include "TimeUnits.h"
#include "dmNotify.h"
#include "windTimeGroups.h"

#define ACARS_LOG(category) QEV_LOG(LogStream::category, "AcarsBufrDecoder")

namespace {

const int TAIL_NUMBER = 1008;
const int YEAR = 4001;
const int RELATIVE_HUMIDITY = 13003;
// Latitude and longitude of high, then of coarse accuracy.
const int POSITIONS[4] = {5001, 6001, 5002, 6002};
const DataAccessKey ACARS_KEY = 79;

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

SeqOf<AbsTime> AcarsBufrDecoder::getTimeIds(SeqOf<bool>& timed)
{
    static const TextString marked("Time");
    SeqOf<AbsTime> times;
    times.setLength(_subsets > 0 ? _subsets : 0);
    timed.setLength(0);
    timed.setLength(times.length());
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i = 0; i < values.length(); ++i) {
        if (values[i].getDescriptor() != YEAR)
            continue;
        const int s = values[i].getSubset();
        _decodedValues[i].setCharValue(marked);
        AbsTime t;
        int length = 1;
        const TimeGroupStatus status = readTimeGroup(values, i, s, t, &length);
        if (status != TIME_GROUP_OK) {
            if (_bulletinLog.admit("AcarsBufrDecoder", "The time group at value"))
                ACARS_LOG(PROBLEM) << "The time group at value " << i << " "
                                   << timeGroupProblem(status) << "." << std::endl;
            continue;
        }
        if (s >= 0 && s < times.length() && !timed[s]) {
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

int AcarsBufrDecoder::at(const std::vector<int>& list, int s)
{
    return s >= 0 && static_cast<size_t>(s) < list.size() ? list[static_cast<size_t>(s)] : -1;
}

int AcarsBufrDecoder::reportLatitude(int subset) const
{
    return at(_latitudeAt, subset);
}

int AcarsBufrDecoder::reportLongitude(int subset) const
{
    return at(_longitudeAt, subset);
}

void AcarsBufrDecoder::locateReports()
{
    const size_t reports = _subsets > 0 ? static_cast<size_t>(_subsets) : 0;
    // Per report and element (0 05 001, 0 06 001, 0 05 002, 0 06 002): its
    // first value that holds one.
    std::vector<int> first[4];
    for (std::vector<int>& f : first)
        f.assign(reports, -1);
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i = 0; i < values.length(); ++i) {
        const int s = values[i].getSubset();
        int e = -1;
        for (int k = 0; k < 4; ++k)
            if (values[i].getDescriptor() == POSITIONS[k])
                e = k;
        if (e < 0 || s < 0 || static_cast<size_t>(s) >= reports ||
            first[e][static_cast<size_t>(s)] >= 0 ||
            values[i].getValue() == BufrDecoder::MISSING_VALUE)
            continue;
        first[e][static_cast<size_t>(s)] = i;
    }
    // The coarse position stands in for the high-accuracy one only as a
    // whole: a report never mixes the two.
    _latitudeAt.assign(reports, -1);
    _longitudeAt.assign(reports, -1);
    for (size_t s = 0; s < reports; ++s) {
        const int pair = first[0][s] >= 0 && first[1][s] >= 0 ? 0
                         : first[2][s] >= 0 && first[3][s] >= 0 ? 2
                                                                  : -1;
        if (pair < 0)
            continue;
        _latitudeAt[s] = first[pair][s];
        _longitudeAt[s] = first[pair + 1][s];
    }
}

int AcarsBufrDecoder::storeFile()
{
    int result = 1;
    _handles.setLength(0);
    const SeqOf<TextString> tails = getTailNumbers();
    int tailCount = 0;
    for (int k = 0; k < tails.length(); ++k)
        tailCount += tails[k].length() > 0 ? 1 : 0;
    if (tailCount == 0) {
        ACARS_LOG(PROBLEM) << "Number of stations = 0...not processing" << std::endl;
        return -1;
    }
    SeqOf<bool> timed;
    const SeqOf<AbsTime> times = getTimeIds(timed);
    int timeCount = 0;
    for (int k = 0; k < timed.length(); ++k)
        timeCount += timed[k] ? 1 : 0;
    if (timeCount == 0) {
        ACARS_LOG(PROBLEM) << "Number of timeIds = 0...not processing" << std::endl;
        return -1;
    }
    if (!_store) {
        ACARS_LOG(PROBLEM) << "No point-data store for " << _storeDir << ".  Skipping to next file."
                           << std::endl;
        return -1;
    }
    locateReports();

    const SeqOf<BufrValues>& values = _decodedValues;
    SeqOf<bool> stored;
    stored.setLength(tails.length());
    int placed = 0;
    int current = -1;
    bool first = true;
    int* handle = nullptr;
    int ncid = -1;
    int record = 0;
    for (int i = 0; i < values.length(); ++i) {
        const int s = values[i].getSubset();
        if (first || s != current) {
            // A report whose values the store could not bring to the disk
            // is not stored: not notified, and the file is kept.
            if (!releaseHandle(handle)) {
                stored[current] = false;
                result = -1;
            }
            first = false;
            current = s;
            if (s < 0 || s >= tails.length()) {
                if (_bulletinLog.admit("AcarsBufrDecoder", "Report lies beyond the reports"))
                    ACARS_LOG(PROBLEM) << "Report " << s + 1 << " lies beyond the "
                                       << tails.length()
                                       << " reports of the file.  Skipping to next report."
                                       << std::endl;
                continue;
            }
            const char* lacks = tails[s].length() == 0 ? "tail number"
                                : !timed[s]            ? "time"
                                : reportLatitude(s) < 0 ? "position"
                                                        : nullptr;
            if (lacks) {
                if (_bulletinLog.admit("AcarsBufrDecoder", "Report has no tail number, time "
                                                           "or position"))
                    ACARS_LOG(PROBLEM) << "Report " << s + 1 << " has no " << lacks
                                       << " of its own.  Skipping to next report." << std::endl;
                continue;
            }
            handle = getHandle(tails[s], times[s], record);
            if (!handle) {
                ACARS_LOG(PROBLEM) << "No handle for " << tails[s] << " for " << times[s].seconds()
                                   << ".  Skipping to next file." << std::endl;
                result = -1;
                break;
            }
            ++placed;
            ncid = *handle;
            RecordVariables::Variable header;
            if (_variables.find("timeMdcrsHdr", header) == NC_NOERR)
                _variables.putNumber(header, record, static_cast<double>(_obTime.seconds()));
        }
        if (!handle)
            continue;
        if (storeValues(ncid, record, i)) {
            stored[s] = true;
        } else {
            TextString name;
            if (!lookupElementName(values[i].getDescriptor(), name, _templateDict))
                name = "\"\"";
            ACARS_LOG(VERBOSE) << "Unable to map netcdf file to descriptor "
                               << values[i].getDescriptor() << "(" << name << ")"
                               << ", decoded value=[" << values[i].getValue() << "] for "
                               << tails[s] << " is undefined in the cdl." << std::endl;
        }
    }
    if (!releaseHandle(handle)) {
        stored[current] = false;
        result = -1;
    }
    if (placed == 0 && result == 1) {
        ACARS_LOG(PROBLEM) << "No report of the file has a tail number, a time and a position of "
                           << "its own.  Skipping to next file." << std::endl;
        result = -1;
    }

    for (int s = 0; s < stored.length(); ++s) {
        if (!stored[s])
            continue;
        ACARS_LOG(VERBOSE) << "Sending a notification for subset " << s << std::endl;
        sendNotification(times[s]);
    }
    return result;
}

bool AcarsBufrDecoder::releaseHandle(int*& handle)
{
    if (!handle)
        return true;
    const bool released = _store->releaseHandle(handle);
    if (!released)
        ACARS_LOG(PROBLEM) << "Unable to give back the handle of " << _netcdfFileName << std::endl;
    handle = nullptr;
    return released;
}

int* AcarsBufrDecoder::getHandle(const TextString& tailNumber, const AbsTime& time, int& record)
{
    SeqOf<TextString> ids(tailNumber);
    _stationId = tailNumber;
    SeqOf<double> times(static_cast<double>(time.seconds()));
    int* handle = nullptr;
    if (_store) {
        bool newRecord = false;
        handle = _store->getFileHandleAndRecord(ids, times, record, newRecord);
        _netcdfFileName = NetcdfPointData::lastFileTimeStamp();
    }
    if (!handle) {
        ACARS_LOG(PROBLEM) << "No handle for this station info: " << tailNumber
                           << " and time: " << time.seconds() << std::endl;
        return nullptr;
    }
    _variables.useFile(*handle, _netcdfFileName);
    if (_handles.find(handle, 0) < 0)
        _handles.append(handle);
    return handle;
}

bool AcarsBufrDecoder::isStationIdDescriptor(int i) const
{
    const int d = _decodedValues[i].getDescriptor();
    return d == 1006 || d == 2065;
}

bool AcarsBufrDecoder::storeValues(int ncid, int record, int i)
{
    const BufrValues& v = _decodedValues[i];
    const int d = v.getDescriptor();
    const TextString text = v.getCharValue();
    // Of the position elements only the report's own pair is written, the
    // coarse pair into the variables of the high-accuracy one.
    int position = -1;
    for (int k = 0; k < 4; ++k)
        if (d == POSITIONS[k])
            position = k;
    if (position >= 0 && i != (position % 2 == 0 ? reportLatitude(v.getSubset())
                                                  : reportLongitude(v.getSubset())))
        return true;
    TextString name;
    if (!_names.find(d, name)) {
        if (!lookupElementName(d, name, _templateDict) &&
            !(position >= 2 && lookupElementName(POSITIONS[position - 2], name, _templateDict)))
            return text.length() > 0;
        if (!_names.insert(d, name)) {
            ACARS_LOG(PROBLEM) << "dvDescriptor(" << d << ") >= TBL_B_DICT_CACHE_SIZE, next file!"
                               << std::endl;
            return false;
        }
    }
    // Texts other than the flight number and the ground station (the tail
    // number, the marked times) are stored by the store or not at all.
    if (text.length() > 0 && !isStationIdDescriptor(i))
        return true;
    float value = text.length() > 0 ? v.getValue()
                                    : static_cast<float>(
                                          TimeUnits::toVariable(d, v.getValue(), ncid, name));
    if (d == RELATIVE_HUMIDITY) {
        ACARS_LOG(DEBUG) << "relative humidity value = " << value << std::endl;
        if (value == 0.0f)
            value = -99999.0f;
    }
    return putValue(ncid, name, text, value, record);
}

bool AcarsBufrDecoder::putValue(int ncid, const TextString& name, const TextString& text,
                                float value, int record)
{
    _variables.useFile(ncid, _netcdfFileName);
    RecordVariables::Variable variable;
    if (_variables.find(name, variable) != NC_NOERR)
        return false;
    if (variable.type == NC_CHAR)
        return putTextValue(variable, record, text);
    return RecordVariables::isNumeric(variable.type) &&
           _variables.putNumber(variable, record, value) == NC_NOERR;
}

bool AcarsBufrDecoder::putTextValue(const RecordVariables::Variable& variable, int record,
                                    const TextString& text)
{
    if (_variables.putText(variable, record, text) == NC_NOERR)
        return true;
    ACARS_LOG(PROBLEM) << "Unable to store the value " << text << std::endl;
    return false;
}

bool AcarsBufrDecoder::sendNotification(const AbsTime& t)
{
    const DataTime time(t, 0, TimeRange(t, t), t, 0, 0x300);
    if (!dmNotify(ACARS_KEY, time)) {
        ACARS_LOG(PROBLEM) << "dmNotify FAILED for key = " << ACARS_KEY << std::endl;
        return false;
    }
    ACARS_LOG(VERBOSE) << "Sent notification for key " << ACARS_KEY << std::endl;
    return true;
}

// The profiler decoder's storing: the stations of one decoded file into the
// netCDF point-data store of the file's network, one record per station and
// observation time, then one notification per distinct stored time.
//
// One handle is held at a time: a station's handle is given back after its
// writes, before the next station asks for its own.
#include "ProfBufrDecoder.h"

#include "AbsTime.h"
#include "ElementForms.h"
#include "ElementUnits.h"
#include "LogStream.h"
#include "NetcdfPointData.h"
#include "windForms.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <set>
#include <sstream>
#include <string>

#define STORE_LOG(category) QEV_LOG(LogStream::category, "StoreProfiler")

namespace {

const char* const TIME_FORMAT = "%h %d %y %T GMT";
// The time periods of a report (0 04 021 years to 0 04 026 seconds), and
// the one in minutes.
const int TIME_PERIOD_MINUTES = 4025;

// One line per level: head, then ", dataArray[" level "]= " value.
void traceProfile(int category, const std::string& head, const SeqOf<float>& profile)
{
    if (!BufrDecoder::logOn(category, "StoreProfiler"))
        return;
    for (int j = 0; j < profile.length(); ++j)
        QEV_LOG(category, "StoreProfiler") << head << ", dataArray[" << std::setw(2) << j
                                           << "]= " << std::setw(6) << profile[j] << std::endl;
}

std::string nameHead(const TextString& name)
{
    std::ostringstream head;
    head << std::setw(12) << name.c_str() << " : ";
    return head.str();
}

} // namespace

TextString ProfBufrDecoder::timeText(double seconds)
{
    const double whole = std::trunc(seconds);
    const int32_t t = whole < INT32_MIN ? INT32_MIN
                      : whole > INT32_MAX ? INT32_MAX
                                          : static_cast<int32_t>(whole);
    return AbsTime(t).toString(TIME_FORMAT);
}

int ProfBufrDecoder::write2NetcdfFile()
{
    BulletinLog::Pass pass(_bulletinLog);
    if (_decodedValues.length() == 0 || _subsets <= 0)
        return BulletinLog::dropped("StoreProfiler",
                                    "the bulletin holds no station; nothing to store.");
    return storeFile();
}

int ProfBufrDecoder::storeFile()
{
    _stationLevelCounts.setLength(0);
    // Without its array table the decoder cannot tell profiles: keep the file.
    if (!_initialised) {
        STORE_LOG(PROBLEM) << "The profiler array table is not loaded.  Not stored, keeping "
                              "the file."
                           << std::endl;
        return setAside("The profiler array table is not loaded.");
    }
    // A store that could not be had is asked for again, its template with it.
    if (NetcdfPointData::fetchAgain(_npnStore, _npnDir))
        readTemplate(_npnDir, _npnVarDict, _npnLevels);
    if (NetcdfPointData::fetchAgain(_capStore, _capDir))
        readTemplate(_capDir, _capVarDict, _capLevels);
    // A message of another kind holds no profiles, whatever its elements.
    const TextString other = otherCategory();
    if (other.length() > 0) {
        if (_bulletinLog.admit("StoreProfiler", "Not a wind profiler message"))
            STORE_LOG(PROBLEM) << other << "  Not stored." << std::endl;
        return setAside(other);
    }
    const SeqOf<long> ids = getStationIds();
    if (ids.length() == 0) {
        STORE_LOG(PROBLEM) << "No station ids available for this data file."
                           << "  Not stored, skipping to next file." << std::endl;
        return setAside("No station ids: no WMO block number (0 01 001) followed by its station "
                        "number (0 01 002).");
    }
    // No station left to store: the file is set aside with the reason of
    // the first left out.
    auto noneStored = [this]() {
        STORE_LOG(PROBLEM) << "No station of this data file can be stored."
                           << "  Not stored, skipping to next file." << std::endl;
        clearProfileArrays();
        _reader.reset();
        return setAside(_refusal.length() > 0     ? _refusal
                        : _noProfile.length() > 0 ? _noProfile
                                                  : TextString("No station of the file can be "
                                                               "stored: none is at the top of "
                                                               "its subset."));
    };
    SeqOf<long> stations;
    locateStations(ids, stations);
    if (stations.length() == 0)
        return noneStored();
    if (!preProcess()) {
        STORE_LOG(PROBLEM) << "Unable to pre-process profiler data sets for " << ids[0]
                           << ".  Not stored, skipping to next file." << std::endl;
        clearProfileArrays();
        _reader.reset();
        std::ostringstream why;
        why << "A profile value of station " << ids[0] << " has no level to go to.";
        return setAside(why.str().c_str());
    }
    // The records that are profiles.
    stations = _stationIds;
    if (stations.length() == 0)
        return noneStored();
    const SeqOf<double> times = getObservationTimes();
    STORE_LOG(EVENT) << "Storing data for station " << stations[0] << "  " << timeText(times[0])
                     << " ......" << std::endl;
    const int result = storeAllStations(stations, times);
    clearProfileArrays();
    _reader.reset();
    return _refusal.length() == 0 ? result : setAside(_refusal);
}

int ProfBufrDecoder::storeAllStations(const SeqOf<long>& ids, const SeqOf<double>& times)
{
    for (int k = 0; k < times.length() && k < ids.length(); ++k)
        STORE_LOG(EVENT) << "MXR_STORE site " << ids[k] << "  " << timeText(times[k])
                         << " ......" << std::endl;
    SeqOf<bool> stored;
    stored.setLength(times.length());
    for (int k = 0; k < times.length(); ++k)
        stored[k] = false;
    int result = 1;

    const SeqOf<BufrValues>& values = _decodedValues;
    const int stations = std::min(_stationValueIndex.length(), static_cast<int>(_records.size()));
    for (int k = 0; k < stations && k < ids.length() && k < times.length(); ++k) {
        const int start = _stationValueIndex[k];
        const StationRecord& r = _records[static_cast<size_t>(k)];
        STORE_LOG(DEBUG) << "index: " << start << ", subset: " << values[start].getSubset()
                         << ", stnid: " << ids[k] << ", time: " << timeText(times[k])
                         << std::endl;
        int record = -1;
        int* handle = getHandle(ids[k], times[k], record);
        // A station the store cannot hold is refused alone; the bulletin is
        // set aside once the others are stored.
        if (!handle && _currentStore && !_currentStore->recordRefusal().empty()) {
            std::ostringstream line;
            line << "Station " << ids[k] << " at " << timeText(times[k]) << ": "
                 << _currentStore->recordRefusal();
            leaveOut("Station is not held", (line.str() + "; skipping.").c_str(),
                     (line.str() + ".").c_str());
            continue;
        }
        if (!handle) {
            if (_bulletinLog.admit("StoreProfiler", "No handle for"))
                STORE_LOG(PROBLEM) << "No handle for " << ids[k] << " for " << timeText(times[k])
                                   << "; skipping." << std::endl;
            result = -1;
            continue;
        }
        const int ncid = *handle;
        _numLevels = _stationLevelCounts[k];
        bool any = false;
        if (putLvlCountsNetcdf(ncid, record)) {
            // Its own single values: those of its period and station, not of
            // its levels or other groups.
            const std::vector<int> singles = singleValues(r);
            for (int i : singles) {
                bool written = false;
                if (!storeSingleton(ncid, record, i, written)) {
                    TextString name;
                    if (!lookupElementName(values[i].getDescriptor(), name, _currentVarDict))
                        name = "\"\"";
                    STORE_LOG(VERBOSE)
                        << "Unable to map netcdf file to descriptor " << values[i].getDescriptor()
                        << "(" << name << ")" << ", decoded value=[" << values[i].getValue()
                        << "] for " << ids[k] << " is undefined in the cdl." << std::endl;
                }
                any = any || written;
            }
            if (r.periodSeconds >= 0)
                any = storePeriodLength(ncid, record, r, singles) || any;
            any = storeProfiles(ncid, record, k) || any;
            STORE_LOG(DEBUG) << std::endl;
        }
        // What a failed sync leaves is not known to be in the file: not
        // notified, and the file is kept.
        if (!_currentStore->releaseHandle(handle)) {
            STORE_LOG(PROBLEM) << "Unable to give back the handle of " << ids[k] << " for "
                               << timeText(times[k]) << "; its data may not be stored."
                               << std::endl;
            any = false;
            result = -1;
        }
        stored[k] = any;
    }
    notifyNewDataTimes(stored, times);
    return result;
}

int* ProfBufrDecoder::getHandle(long id, double time, int& record)
{
    char text[24];
    std::snprintf(text, sizeof text, "%ld", id);
    SeqOf<TextString> ids;
    ids.append(text);
    SeqOf<double> times;
    times.append(std::trunc(time));

    NetcdfPointData* store = nullptr;
    const Dict<TextString, TextString>* names = nullptr;
    const TextString* dir = nullptr;
    if (networkName() == "NPN") {
        store = _npnStore;
        names = &_npnVarDict;
        dir = &_npnDir;
    } else if (networkName() == "CAP") {
        store = _capStore;
        names = &_capVarDict;
        dir = &_capDir;
    }
    int* handle = nullptr;
    _currentStore = store;
    if (store) {
        bool newRecord = false;
        handle = store->getFileHandleAndRecord(ids, times, record, newRecord);
        if (handle) {
            _netcdfFileName = NetcdfPointData::lastFileTimeStamp();
            _currentVarDict = *names;
            _writer.useFile(*handle, *dir + "/" + _netcdfFileName);
        }
    }
    if (!handle) {
        if (_bulletinLog.admit("StoreProfiler", "No handle for this station info"))
            STORE_LOG(PROBLEM) << "No handle for this station info: " << text
                               << " and time: " << timeText(time) << std::endl;
        return nullptr;
    }
    return handle;
}

bool ProfBufrDecoder::arrayVariable(int array, TextString& name) const
{
    for (int i = 0; i < _arrayTable.count(); ++i) {
        TextString arrayName;
        const int d = _arrayTable.key(i);
        if (_arrayTable.find(d, nullptr, &arrayName) && arrayName == ARRAY_NAMES[array] &&
            lookupElementName(d, name, _currentVarDict))
            return true;
    }
    return false;
}

bool ProfBufrDecoder::storeSingleton(int ncid, int record, int index, bool& written)
{
    written = false;
    const BufrValues& value = _decodedValues[index];
    const int d = value.getDescriptor();
    const int s = value.getSubset();
    // A profile value (pre-processing marked it with its array's name) goes
    // with its profile; any other value, a text element's too, on its own.
    TextString arrayName;
    int array = -1;
    const bool profileValue = levelElement(d, arrayName, array);
    const TextString c = value.getCharValue();
    TextString name;
    const bool found = lookupElementName(d, name, _currentVarDict);
    STORE_LOG(DEBUG) << "subset: " << s << ", dvDescriptor (" << d << ")= <" << name << "> <"
                     << value.getValue() << ">" << std::endl;
    if (profileValue && c.length() > 0)
        return true;
    if (!found)
        return false;
    STORE_LOG(DEBUG) << "subset: " << s << ", dvDescriptor (" << d << ")= <" << name << "> <"
                     << c << ">" << std::endl;
    double v = value.getValue();
    if (!ElementUnits::toVariable(d, v, _writer.at(ncid), name, _bulletinLog, "StoreProfiler",
                                  &_refusal))
        return true;
    written = insertDecodedValues(ncid, record, name, c, static_cast<float>(v));
    if (written)
        STORE_LOG(DEBUG) << "Successful singleton store of " << name << std::endl;
    else if (_bulletinLog.admit("StoreProfiler", "Unable to store singleton value"))
        STORE_LOG(PROBLEM) << "Unable to store singleton value for " << name << std::endl;
    return true;
}

bool ProfBufrDecoder::storePeriodLength(int ncid, int record, const StationRecord& r,
                                        const std::vector<int>& singles)
{
    for (int i : singles) {
        const BufrValues& value = _decodedValues[i];
        if (ElementForms::gives(value.getDescriptor(), ElementForms::TIME_PERIOD) &&
            ElementForms::given(value.getValue()))
            return false;
    }
    TextString name;
    if (!lookupElementName(TIME_PERIOD_MINUTES, name, _currentVarDict))
        return false;
    // Ending at the observation time: negative, in minutes.
    double minutes = -static_cast<double>(r.periodSeconds) / 60.0;
    return ElementUnits::toVariable(TIME_PERIOD_MINUTES, minutes, _writer.at(ncid), name,
                                    _bulletinLog, "StoreProfiler", &_refusal) &&
           insertDecodedValues(ncid, record, name, TextString(), static_cast<float>(minutes));
}

bool ProfBufrDecoder::storeProfiles(int ncid, int record, int k)
{
    const StationRecord& r = _records[static_cast<size_t>(k)];
    const int s = _decodedValues[_stationValueIndex[k]].getSubset();
    bool written = false;
    for (int a = 0; a < NUM_ARRAYS; ++a) {
        if (r.filledBy[a].empty() || k >= _stationProfiles[a].length())
            continue;
        const SeqOf<SeqOf<float> >& list = _stationProfiles[a];
        const SeqOf<float> profile = list[k];
        if (profile.length() == 0)
            continue;
        // The variable of each element that filled it (the array's own for
        // an element without one, a height above the station made above sea
        // level), each written once.
        std::vector<std::string> done;
        for (int d : r.filledBy[a]) {
            TextString name;
            if ((d < 0 || !lookupElementName(d, name, _currentVarDict)) &&
                !arrayVariable(a, name))
                continue;
            if (std::find(done.begin(), done.end(), name.c_str()) != done.end())
                continue;
            done.push_back(name.c_str());
            if (logOn(LogStream::VERBOSE, "StoreProfiler")) {
                std::ostringstream head;
                head << std::setw(6) << d << " : " << std::setw(12) << ARRAY_NAMES[a] << " : "
                     << std::setw(12) << name.c_str() << " : " << std::setw(2) << s;
                traceProfile(LogStream::VERBOSE, head.str(), profile);
            }
            written = storeArray(ncid, record, name, profile) || written;
            STORE_LOG(DEBUG) << "after call to storeArray...." << std::endl;
            traceProfile(LogStream::DEBUG, nameHead(name), profile);
        }
    }
    return written;
}

bool ProfBufrDecoder::insertDecodedValues(int ncid, int record, const TextString& name,
                                          const TextString& text, float value)
{
    int varId = -1;
    if (!getVarId(ncid, name, varId))
        return false;
    RecordWriter::Variable v;
    _writer.find(name, v, record);
    if (v.type != NC_CHAR)
        return _writer.putNumber(name, record, value) != RecordWriter::FAILED;
    STORE_LOG(VERBOSE) << name << ", start[0]: " << record << ", dataToken: <" << text << ">"
                       << std::endl;
    return putTextValue(ncid, name, record, text);
}

bool ProfBufrDecoder::putTextValue(int ncid, const TextString& name, int record,
                                   const TextString& text)
{
    STORE_LOG(VERBOSE) << "<" << text << ">" << ", start[0]: " << record << std::endl;
    return _writer.at(ncid).putText(name, record, text) == RecordWriter::WRITTEN;
}

bool ProfBufrDecoder::storeArray(int ncid, int record, const TextString& name,
                                 const SeqOf<float>& profile)
{
    if (profile.length() == 0)
        return false;
    STORE_LOG(DEBUG) << "storeArray beginning...." << std::endl;
    traceProfile(LogStream::DEBUG, nameHead(name), profile);
    int varId = -1;
    return getVarId(ncid, name, varId) &&
           _writer.putProfile(name, record, profile.elements(), profile.length()) ==
               RecordWriter::WRITTEN;
}

bool ProfBufrDecoder::putLvlCountsNetcdf(int ncid, int record)
{
    int varId = -1;
    return getVarId(ncid, "numLevels", varId) &&
           _writer.putCount("numLevels", record, _numLevels) == RecordWriter::WRITTEN;
}

bool ProfBufrDecoder::getVarId(int ncid, const TextString& name, int& varId)
{
    varId = _writer.at(ncid).varId(name);
    return varId >= 0;
}

bool ProfBufrDecoder::notifyNewDataTimes(const SeqOf<bool>& stored, const SeqOf<double>& times)
{
    std::set<int32_t> notified;
    for (int k = 0; k < times.length() && k < stored.length(); ++k) {
        if (!stored[k])
            continue;
        const AbsTime t(static_cast<int32_t>(std::trunc(times[k])));
        if (!notified.insert(t.seconds()).second)
            continue;
        setDataTime(t);
        sendNotification();
    }
    return true;
}

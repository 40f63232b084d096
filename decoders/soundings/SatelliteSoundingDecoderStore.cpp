// The satellite sounding decoders' storing: the located soundings of one
// file into the netCDF point-data store of the data type, one record per
// sounding (site id and observation time), then one notification per
// distinct time stored.
//
// One handle is held at a time: from the sounding's first write to the end
// of its walk, then given back, so that the store syncs the file after each
// sounding.
#include "SatelliteSoundingDecoder.h"

#include "AbsTime.h"
#include "BufrValues.h"
#include "ElementUnits.h"
#include "LogStream.h"
#include "NetcdfPointData.h"
#include "ReportPositions.h"
#include "Set.h"
#include "StationPlotInfo.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <sstream>

#define STORE_LOG(category) QEV_LOG(LogStream::category, _settings.storeSource)

int SatelliteSoundingDecoder::write2NetcdfFile()
{
    BulletinLog::Pass pass(_bulletinLog);
    if (_decodedValues.length() == 0 || _subsets <= 0)
        return BulletinLog::dropped(_settings.storeSource,
                                    "the bulletin holds no sounding; nothing to store.");
    // Without its configuration (no sites, no store) the decoder keeps the
    // file for a later look.
    if (!_initialized) {
        STORE_LOG(PROBLEM) << "The " << _settings.typeName << " sounding configuration is "
                           << "not loaded.  Not stored, keeping the file." << std::endl;
        return setAside(TextString("The ") + _settings.typeName +
                        " sounding configuration is not loaded.");
    }
    // A message of another kind (aircraft reports, winds) is no sounding,
    // whatever positions and times it holds.
    if (_dataCategory != SOUNDING_CATEGORY) {
        char why[160];
        std::snprintf(why, sizeof why,
                      "Not %s soundings: the message is of data category %d, satellite "
                      "soundings come in data category %d.",
                      _settings.typeName, _dataCategory, SOUNDING_CATEGORY);
        STORE_LOG(PROBLEM) << why << "  Not stored." << std::endl;
        return setAside(why);
    }
    // A store that could not be had is asked for again, its template with it.
    if (NetcdfPointData::fetchAgain(_store, _storeDir))
        readStoreTemplate();
    return storeAllSites();
}

int SatelliteSoundingDecoder::storeAllSites()
{
    _soundings.setLength(0);
    _asideReason = TextString();
    const int located = storeSounding();
    if (located <= 0) {
        _soundings.setLength(0);
        clearProfileArrays();
        return located;
    }
    _numLevels = 0;
    getObservationTimes();
    const int result = storeSite();
    clearProfileArrays();
    return result;
}

int SatelliteSoundingDecoder::storeSounding()
{
    resetValueFlags();
    _soundings.setLength(0);
    _siteIndex = -1;
    int result = 0;
    int previousEnd = -1;    // the end of the last located sounding's values
    const int n = _decodedValues.length();
    const ReportPositions positions(_decodedValues, _settings.latitudeDescriptor,
                                    _settings.longitudeDescriptor, _settings.standInLatitude,
                                    _settings.standInLongitude);
    // The soundings met, and those without a position among them.
    int candidates = 0;
    int unplaced = 0;
    const SeqOf<BufrValues>& all = _decodedValues;
    for (int i = 0; i < n; ++i) {
        const int longitudeDescriptor = positions.longitudeAfter(i);
        if (longitudeDescriptor == 0)
            continue;
        // Taken anew for each sounding: the time's mark is written into the
        // values below.
        const BufrValues* const values = all.elements();
        const BufrValues& latitude = values[i];
        const int subset = latitude.getSubset();
        ++candidates;
        if (!elementAt(i + 1, subset, longitudeDescriptor)) {
            ++unplaced;
            if (_bulletinLog.admit(_settings.storeSource, "No longitude after the latitude"))
                STORE_LOG(PROBLEM) << "No longitude ("
                                   << BulletinLog::descriptorText(longitudeDescriptor)
                                   << ") after the latitude at value " << i
                                   << "; the sounding has no position." << std::endl;
            continue;
        }
        const float lat = latitude.getValue();
        const float lon = values[i + 1].getValue();
        if (!ElementForms::given(lat) || !ElementForms::given(lon))
            ++unplaced;
        TextString siteId;
        if (!checkLocation(lat, lon, siteId))
            continue;
        if (i < previousEnd) {
            const int inside = _soundings[_soundings.length() - 1].valueIndex;
            STORE_LOG(PROBLEM) << "The sounding at value " << i << " lies inside the sounding at "
                               << "value " << inside
                               << ", no year value between them.  The file is not stored."
                               << std::endl;
            char why[160];
            std::snprintf(why, sizeof why,
                          "The sounding at value %d lies inside the sounding at value %d: no "
                          "year (0 04 001) between them.",
                          i, inside);
            return setAside(why);
        }
        previousEnd = soundingEnd(i);
        result = 1;
        Sounding s;
        s.valueIndex = i;
        s.markedEnd = i;
        s.subset = subset;
        s.siteId = siteId;
        // POES gives -1 for a sounding without pressure values.
        s.levelCount = std::max(0, getProfileCount(i, s.subset));
        AbsTime time;
        s.timed = observationTime(i, time);
        s.time = s.timed ? static_cast<double>(time.seconds()) : 0.0;
        if (s.timed) {
            // Every level value has its slot, also where a profile gives
            // more than the pressures count.
            int levels = 0;
            TextString otherForm;
            surveyLevels(i, levels, s.forms, s.otherForm, otherForm);
            s.levelCount = std::max(s.levelCount, levels);
            if (s.otherForm != 0) {
                if (_bulletinLog.admit(_settings.storeSource, "only as"))
                    STORE_LOG(PROBLEM) << otherForm << "  Stored without it." << std::endl;
                setAsideAfterStoring(otherForm);
            }
        }
        _soundings.append(s);
        ++_siteIndex;
        _numLevels = s.levelCount;
        if (_numLevels == 0) {
            if (_bulletinLog.admit(_settings.storeSource, _settings.noLevelsPrefix))
                STORE_LOG(PROBLEM) << _settings.noLevelsPrefix << lat << ", " << lon
                                   << _settings.noLevelsEnding << std::endl;
        } else if (s.timed) {
            // A sounding without a time is not stored: its levels would
            // take time and memory for nothing.
            buildLevels(i);
        }
    }
    if (result != 0)
        return result;
    // Nothing located: dropped on purpose only when every sounding has a
    // position outside this localization.
    if (candidates > 0 && unplaced == 0) {
        char why[128];
        std::snprintf(why, sizeof why,
                      "0 of %d soundings lie in this localization; nothing to store.", candidates);
        return BulletinLog::dropped(_settings.storeSource, why);
    }
    char why[192];
    if (candidates == 0)
        std::snprintf(why, sizeof why,
                      "No sounding has a position (latitude %s followed by its longitude %s).",
                      BulletinLog::descriptorText(_settings.latitudeDescriptor).c_str(),
                      BulletinLog::descriptorText(_settings.longitudeDescriptor).c_str());
    else
        std::snprintf(why, sizeof why,
                      "%d of the %d soundings have no position and the others lie outside "
                      "this localization.",
                      unplaced, candidates);
    if (candidates == 0)
        STORE_LOG(PROBLEM) << "The file holds no sounding position (latitude "
                           << BulletinLog::descriptorText(_settings.latitudeDescriptor)
                           << " followed by its longitude "
                           << BulletinLog::descriptorText(_settings.longitudeDescriptor)
                           << ").  Not stored." << std::endl;
    else
        STORE_LOG(PROBLEM) << unplaced << " of the " << candidates << " soundings of the file "
                           << "have no position and the others lie outside this localization."
                           << "  Not stored." << std::endl;
    return setAside(why);
}

bool SatelliteSoundingDecoder::checkLocation(float latitude, float longitude, TextString& siteId)
{
    if (!ElementForms::given(latitude) || !ElementForms::given(longitude)) {
        if (_bulletinLog.admit(_settings.storeSource, _settings.missingLocation))
            STORE_LOG(PROBLEM) << _settings.missingLocation << std::endl;
        return false;
    }
    if (!findSite(latitude, longitude, siteId)) {
        STORE_LOG(VERBOSE) << _settings.locationPrefix << latitude << ", " << longitude
                           << _settings.notLocalEnding << std::endl;
        return false;
    }
    STORE_LOG(VERBOSE) << _settings.locationPrefix << latitude << ", " << longitude
                       << _settings.locatedEnding << siteId << std::endl;
    return true;
}

bool SatelliteSoundingDecoder::findSite(float latitude, float longitude, TextString& siteId)
{
    if (!_siteTable)
        return false;
    const float point[2] = {latitude, longitude};
    const PlotInfoStation* site =
        findStationInRadius(*_siteTable, point, 0.5f * _gridResolution, 0.0f);
    if (!site)
        return false;
    char id[16];
    std::snprintf(id, sizeof id, "%d", site->id);
    siteId = id;
    return true;
}

int SatelliteSoundingDecoder::storeSite()
{
    int result = 1;
    for (int i = 0; i < _soundings.length(); ++i) {
        const Sounding& s = _soundings[i];
        if (s.timed)
            STORE_LOG(EVENT) << _settings.storingPrefix << s.siteId << "  " << timeText(s.time)
                             << " ......" << std::endl;
    }
    clearRecords();
    SeqOf<bool> stored = makeStoredFlags(_soundings.length());
    // The soundings left out for want of a time; the others' failures are
    // the store's.
    int untimed = 0;
    bool storeFailed = false;
    const bool debug = logOn(LogStream::DEBUG, _settings.storeSource);
    const bool verbose = logOn(LogStream::VERBOSE, _settings.storeSource);
    for (int i = 0; i < _soundings.length(); ++i) {
        const Sounding s = _soundings[i];
        _siteIndex = i;
        if (!s.timed) {
            if (_bulletinLog.admit(_settings.storeSource, "No observation time for the sounding"))
                STORE_LOG(PROBLEM) << "No observation time for the sounding at site " << s.siteId
                                   << " (value " << s.valueIndex << ").  Not stored."
                                   << std::endl;
            ++untimed;
            continue;
        }
        if (debug)
            STORE_LOG(DEBUG) << "index: " << s.valueIndex << ", subset: " << s.subset
                             << ", stnid: " << s.siteId << ", time: " << timeText(s.time)
                             << std::endl;
        int record = 0;
        int* handle = getHandle(s.siteId, s.time, record);
        // A sounding the store cannot hold is refused alone; the bulletin
        // is set aside once the others are stored.
        if (!handle && _store && !_store->recordRefusal().empty()) {
            const TextString why = "The sounding at site " + s.siteId + " (value " +
                                   std::to_string(s.valueIndex).c_str() +
                                   "): " + _store->recordRefusal().c_str() + ".";
            if (_bulletinLog.admit(_settings.storeSource, "The sounding is not held"))
                STORE_LOG(PROBLEM) << why << "  Not stored." << std::endl;
            setAsideAfterStoring(why);
            continue;
        }
        if (!handle) {
            if (_bulletinLog.admit(_settings.storeSource, "No handle for"))
                STORE_LOG(PROBLEM) << "No handle for " << s.siteId << " for " << timeText(s.time)
                                   << _settings.noHandleEnding << std::endl;
            storeFailed = true;
            continue;
        }
        const int ncid = *handle;
        _numLevels = s.levelCount;
        if (putLvlCountsNetcdf(ncid, record)) {
            const int end = soundingEnd(s.valueIndex);
            beginSingles(s.valueIndex, end);
            for (int k = s.valueIndex; k < end; ++k) {
                bool written = false;
                if (!storeSingleton(ncid, record, k, written) && verbose) {
                    const BufrValues& v = _decodedValues[k];
                    TextString name;
                    if (!variableOf(v.getDescriptor(), name))
                        name = "\"\"";
                    STORE_LOG(VERBOSE) << "Unable to map netcdf file to descriptor "
                                       << v.getDescriptor() << "(" << name << ")"
                                       << ", decoded value=[" << v.getValue() << "] for "
                                       << s.siteId << " is undefined in the cdl." << std::endl;
                }
                if (written)
                    stored[i] = true;
            }
            endSingles();
            if (debug)
                STORE_LOG(DEBUG) << std::endl;
        } else {
            storeFailed = true;
        }
        // Values the store could not bring to the disk are not stored: the
        // sounding is not notified and the file is kept.
        if (!_store->releaseHandle(handle)) {
            if (_bulletinLog.admit(_settings.storeSource, "Unable to give back the handle of"))
                STORE_LOG(PROBLEM) << "Unable to give back the handle of " << _storeDir << "/"
                                   << _netcdfFileName << " for " << s.siteId << std::endl;
            stored[i] = false;
            storeFailed = true;
        }
    }
    notifyNewDataTimes(stored);
    // A storage failure is the record's failed write; soundings without a
    // time are named as such.
    if (storeFailed)
        result = -1;
    else if (untimed > 0)
        result = setAside(std::to_string(untimed).c_str() + TextString(" of the ") +
                          std::to_string(_soundings.length()).c_str() +
                          " soundings have no observation time (year to second, 0 04 001 to 0 04 006).");
    else if (_asideReason.length() > 0)
        result = setAside(_asideReason);
    return result;
}

int* SatelliteSoundingDecoder::getHandle(const TextString& siteId, double time, int& record)
{
    SeqOf<TextString> ids;
    ids.append(siteId);
    SeqOf<double> times;
    times.append(std::floor(time));
    _stationId = siteId;
    int* handle = nullptr;
    if (!_store) {
        STORE_LOG(PROBLEM) << "No point-data store in " << _storeDir << std::endl;
    } else {
        bool newRecord = false;
        handle = _store->getFileHandleAndRecord(ids, times, record, newRecord);
        if (handle) {
            _netcdfFileName = NetcdfPointData::lastFileTimeStamp();
            _writer.useFile(*handle, _storeDir + "/" + _netcdfFileName);
        }
    }
    if (!handle) {
        if (_bulletinLog.admit(_settings.storeSource, "No handle for this station info"))
            STORE_LOG(PROBLEM) << "No handle for this station info: " << siteId
                               << " and time: " << timeText(time) << std::endl;
        return nullptr;
    }
    return handle;
}

long SatelliteSoundingDecoder::levelCapacity(int ncid)
{
    long capacity = LONG_MAX;
    for (int i = 0; i < _profileVariables.length(); ++i) {
        RecordWriter::Variable v;
        if (_writer.at(ncid).find(_profileVariables[i], v, 0, true) && v.rank >= 2 &&
            v.length >= 0 && v.length < capacity)
            capacity = v.length;
    }
    return capacity;
}

bool SatelliteSoundingDecoder::putLvlCountsNetcdf(int ncid, int record)
{
    int varId = -1;
    if (!getVarId(ncid, "numLevels", varId)) {
        STORE_LOG(PROBLEM) << "putLvlCountsNetcdf(), nc_put_var1_int() error: "
                           << nc_strerror(NC_ENOTVAR) << std::endl;
        return false;
    }
    // A record holds what the level dimension of its profiles takes.
    const long capacity = levelCapacity(ncid);
    if (_numLevels > capacity) {
        if (_bulletinLog.admit(_settings.storeSource, "levels, the profiles of"))
            STORE_LOG(PROBLEM) << "The sounding at site " << _stationId << " has " << _numLevels
                               << " levels, the profiles of " << _netcdfFileName << " hold "
                               << capacity << ": only the first " << capacity << " are stored."
                               << std::endl;
        // The levels past the store's are kept in the bulletin, set aside.
        char why[160];
        std::snprintf(why, sizeof why,
                      "The sounding at site %s gives %d levels, the store holds %ld.",
                      _stationId.c_str(), _numLevels, capacity);
        setAsideAfterStoring(why);
        _numLevels = static_cast<int>(capacity);
    }
    return _writer.putCount("numLevels", record, _numLevels) == RecordWriter::WRITTEN;
}

bool SatelliteSoundingDecoder::storeSingleton(int ncid, int record, int index, bool& written)
{
    written = false;
    const BufrValues& v = _decodedValues[index];
    const int descriptor = v.getDescriptor();
    TextString name;
    bool found = variableOf(descriptor, name);
    const bool debug = logOn(LogStream::DEBUG, _settings.storeSource);
    if (debug)
        STORE_LOG(DEBUG) << "subset: " << v.getSubset() << ", dvDescriptor (" << descriptor
                         << ")= <" << name << "> <" << v.getValue() << ">" << std::endl;
    // A profile value of the sounding stands for its profile, by name, and
    // goes to its profile's variable whatever its element.
    const ProfileDescriptor* profile = markedProfile(index);
    const TextString token = profile ? profile->name : v.getCharValue();
    if (profile) {
        name = profile->variable;
        found = name.length() > 0;
    }
    // A value of one per record in another form of its quantity.
    const OtherForm* form = nullptr;
    if (!found && token.length() == 0) {
        form = singleForm(index);
        if (!form)
            return false;
        // One that does not convert is named after the walk (endSingles).
        if (!form->converts)
            return true;
        found = variableOf(form->into, name);
    }
    if (!found)
        return token.length() > 0;
    if (debug)
        STORE_LOG(DEBUG) << "subset: " << v.getSubset() << ", dvDescriptor (" << descriptor
                         << ")= <" << name << "> <" << token << ">" << std::endl;

    if (token.length() == 0) {
        RecordWriter::Variable variable;
        if (_writer.at(ncid).find(name, variable, record, true) && variable.rank >= 2 &&
            variable.type != NC_CHAR) {
            // A variable of levels takes a profile, never one value in one
            // of its levels.
            levelValueRefused(index, name);
            return true;
        }
        double value = v.getValue();
        TextString refusal;
        if ((form && !ElementForms::convert(descriptor, form->into, value)) ||
            !ElementUnits::toVariable(form ? form->into : descriptor, value, _writer.at(ncid),
                                      name, _bulletinLog, _settings.storeSource, &refusal)) {
            setAsideAfterStoring(refusal.length() > 0
                                     ? refusal
                                     : "The value of " + BulletinLog::descriptorText(descriptor) +
                                           " cannot be stored in " + name + ".");
            return true;
        }
        if (variable.type != NC_CHAR && !firstGiven(index, name, value))
            return true;
        if (insertDecodedValues(ncid, record, name, token, static_cast<float>(value))) {
            STORE_LOG(DEBUG) << "Successful singleton store of " << name << std::endl;
            written = true;
        } else if (_bulletinLog.admit(_settings.storeSource, "Unable to store singleton value")) {
            STORE_LOG(PROBLEM) << "Unable to store singleton value for " << name << std::endl;
        }
        return true;
    }
    // A profile value: the whole profile is written once, at the first of
    // its values met.
    const SeqOf<int>& flags = _valueFlags;
    if (findRecord(descriptor, _siteIndex) ||
        (index < flags.length() && flags.elements()[index] != 0))
        return true;
    SeqOf<float> values;
    getProfileArray(index, values);
    if (values.length() == 0)
        return true;
    const bool verbose = logOn(LogStream::VERBOSE, _settings.storeSource);
    for (int j = 0; verbose && j < values.length(); ++j)
        STORE_LOG(VERBOSE) << descriptor << " : " << token << " : " << name << " : "
                           << v.getSubset() << ", dataArray[" << j << "]= " << values[j]
                           << std::endl;
    written = storeArray(ncid, record, name, values);
    if (debug)
        STORE_LOG(DEBUG) << "after call to storeArray...." << std::endl;
    return true;
}

void SatelliteSoundingDecoder::beginSingles(int begin, int end)
{
    _given.clear();
    _singleForms.clear();
    for (const OtherForm& f : _otherForms)
        if (isSingleForm(f))
            _singleForms.push_back({&f, 0, -1});
    if (_singleForms.empty())
        return;
    const BufrValues* const values = _decodedValues.elements();
    for (int k = std::max(begin, 0); k < end && k < _decodedValues.length(); ++k)
        for (SingleFormSeen& seen : _singleForms)
            if (values[k].getDescriptor() == seen.form->descriptor) {
                ++seen.count;
                const float value = values[k].getValue();
                if (seen.first < 0 && ElementForms::given(value))
                    seen.first = k;
            }
}

const SatelliteSoundingDecoder::OtherForm* SatelliteSoundingDecoder::singleForm(int index) const
{
    // A form the sounding gives more than once is of its levels, or of
    // something else than the record's one value.
    const int descriptor = _decodedValues[index].getDescriptor();
    for (const SingleFormSeen& seen : _singleForms)
        if (seen.form->descriptor == descriptor)
            return seen.count == 1 ? seen.form : nullptr;
    return nullptr;
}

bool SatelliteSoundingDecoder::firstGiven(int index, const TextString& variable, double value)
{
    const int descriptor = _decodedValues[index].getDescriptor();
    FirstValues::Given held;
    switch (_given.offer(variable, value, descriptor, held)) {
    case FirstValues::WRITE:
        return true;
    case FirstValues::KEEP:
        return false;
    case FirstValues::CONFLICT:
        break;
    }
    const Sounding& s = _soundings[_siteIndex];
    std::ostringstream why;
    why << "The sounding at value " << s.valueIndex << " gives " << variable << " twice: "
        << held.value << " as " << BulletinLog::descriptorText(held.descriptor).c_str()
        << ", then " << static_cast<float>(value) << " as "
        << BulletinLog::descriptorText(descriptor).c_str() << "; the record holds the first.";
    if (_bulletinLog.admit(_settings.storeSource, "twice: "))
        STORE_LOG(PROBLEM) << why.str() << std::endl;
    setAsideAfterStoring(why.str().c_str());
    return false;
}

void SatelliteSoundingDecoder::endSingles()
{
    // A form that does not convert names its quantity where the sounding
    // gives it in no other.
    for (const SingleFormSeen& seen : _singleForms) {
        if (seen.form->converts || seen.first < 0)
            continue;
        TextString variable;
        if (!variableOf(seen.form->into, variable))
            continue;
        if (_given.holds(variable))
            continue;
        const Sounding& s = _soundings[_siteIndex];
        std::ostringstream why;
        why << "The sounding at value " << s.valueIndex << " gives its " << seen.form->quantity
            << " only as " << BulletinLog::descriptorText(seen.form->descriptor).c_str()
            << ", which the " << _settings.typeName << " store does not hold (it takes "
            << BulletinLog::descriptorText(seen.form->into).c_str() << ").";
        if (_bulletinLog.admit(_settings.storeSource, "only as"))
            STORE_LOG(PROBLEM) << why.str() << "  Stored without it." << std::endl;
        setAsideAfterStoring(why.str().c_str());
    }
}

void SatelliteSoundingDecoder::levelValueRefused(int index, const TextString& variable)
{
    const BufrValues& v = _decodedValues[index];
    const float value = v.getValue();
    if (!ElementForms::given(value) || !levelValue(index, false) || _siteIndex < 0 ||
        _siteIndex >= _soundings.length())
        return;
    const Sounding& s = _soundings[_siteIndex];
    if (v.getDescriptor() == s.otherForm)
        return;
    char why[192];
    std::snprintf(why, sizeof why,
                  "The sounding at value %d gives level values of %s, which the %s store's "
                  "profile %s does not take.",
                  s.valueIndex, BulletinLog::descriptorText(v.getDescriptor()).c_str(),
                  _settings.typeName, variable.c_str());
    if (_bulletinLog.admit(_settings.storeSource, "gives level values of"))
        STORE_LOG(PROBLEM) << why << "  Stored without them." << std::endl;
    setAsideAfterStoring(why);
}

bool SatelliteSoundingDecoder::insertDecodedValues(int ncid, int record, const TextString& name,
                                                   const TextString& token, float value)
{
    int varId = -1;
    if (!getVarId(ncid, name, varId))
        return false;
    RecordWriter::Variable v;
    _writer.find(name, v, record);
    if (v.type != NC_CHAR)
        return _writer.putNumber(name, record, value) != RecordWriter::FAILED;
    STORE_LOG(VERBOSE) << name << ", start[0]: " << record << ", dataToken: <" << token << ">"
                       << std::endl;
    putTextValue(ncid, name, record, token);
    return true;
}

void SatelliteSoundingDecoder::putTextValue(int ncid, const TextString& name, int record,
                                            const TextString& text)
{
    STORE_LOG(VERBOSE) << "<" << text << ">" << ", start[0]: " << record << std::endl;
    _writer.at(ncid).putText(name, record, text);
}

bool SatelliteSoundingDecoder::storeArray(int ncid, int record, const TextString& name,
                                          const SeqOf<float>& values)
{
    if (values.length() == 0)
        return false;
    STORE_LOG(DEBUG) << "storeArray beginning...." << std::endl;
    const bool debug = logOn(LogStream::DEBUG, _settings.storeSource);
    for (int j = 0; debug && j < values.length(); ++j)
        STORE_LOG(DEBUG) << name << " : " << ", dataArray[" << j << "]= " << values[j]
                         << std::endl;
    // A profile longer than the level dimension keeps its first levels
    // (putLvlCountsNetcdf said so).
    return _writer.at(ncid).putProfile(name, record, values.elements(), values.length()) ==
           RecordWriter::WRITTEN;
}

bool SatelliteSoundingDecoder::getVarId(int ncid, const TextString& name, int& varId)
{
    varId = _writer.at(ncid).varId(name);
    return varId >= 0;
}

bool SatelliteSoundingDecoder::findRecord(long descriptor, long sounding)
{
    long held = -1;
    if (_records.find(descriptor, nullptr, &held) && held == sounding)
        return true;
    _records.insert(descriptor, sounding);
    return false;
}

SeqOf<bool> SatelliteSoundingDecoder::makeStoredFlags(int n) const
{
    SeqOf<bool> flags;
    flags.setLength(n);
    return flags;
}

int SatelliteSoundingDecoder::notifyNewDataTimes(const SeqOf<bool>& stored)
{
    Set<DataTime> sent;
    for (int i = 0; i < _soundings.length() && i < stored.length(); ++i) {
        const Sounding& s = _soundings[i];
        if (!s.timed)
            continue;
        setDataTime(AbsTime(static_cast<int32_t>(s.time)));
        if (stored[i] && !sent.find(_dataTime)) {
            sent.insert(_dataTime);
            sendNotification();
        }
    }
    return 1;
}

// The model decoder's storing: the decoded values of one file into the
// netCDF point-data store of the file's model, one record per station and
// forecast time, then one notification per stored station.
//
// At most one handle is held at a time, from the first value of a station to
// the first value of the next one; while it is held the file is in "no fill"
// mode (the store filled the new record when it placed it), and back in
// "fill" mode before the handle is given back.
#include "ModelBufrDecoder.h"

#include "AbsTime.h"
#include "BulletinLog.h"
#include "ElementForms.h"
#include "ElementUnits.h"
#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"
#include "NetcdfPointData.h"
#include "TimeRange.h"
#include "dmNotify.h"

#include <cstdio>
#include <sstream>
#include <string>

#define MODEL_LOG(category) QEV_LOG(LogStream::category, "ModelBufrDecoder")

namespace {

const char* const TIME_FORMAT = "%h %d %y %T GMT";
const DataAccessKey PRODUCT_KEYS[ModelBufrDecoder::NUM_MODELS] = {10001, 0, 10002, 0};

// A count as text.
TextString number(long n)
{
    return std::to_string(n).c_str();
}

// A value as text, as the log lines write it.
TextString valueText(float value)
{
    std::ostringstream text;
    text << value;
    return text.str().c_str();
}

// A text of the bulletin as a log line or a reason shows it.
TextString escaped(const TextString& text)
{
    return LogText(text).escaped().c_str();
}

} // namespace

int ModelBufrDecoder::write2NetcdfFile()
{
    BulletinLog::Pass pass(_bulletinLog);
    if (_decodedValues.length() == 0 || _subsets <= 0)
        return BulletinLog::dropped("ModelBufrDecoder",
                                    "the bulletin holds no sounding; nothing to store.");
    return storeFile();
}

SeqOf<TextString> ModelBufrDecoder::buildStationList() const
{
    SeqOf<TextString> stations;
    for (int i = 0; i < _decodedValues.length(); ++i) {
        const TextString text = _decodedValues[i].getCharValue();
        if (text.length() > 0 && !(text == "Time"))
            stations.append(text);
    }
    return stations;
}

int ModelBufrDecoder::storeFile()
{
    int result = 1;
    _handles.setLength(0);
    _current = nullptr;
    // Without the station list no file can be judged: keep it.
    if (!_stationsLoaded) {
        MODEL_LOG(PROBLEM) << "The station list " << "modelBufrStationInfo.txt"
                           << " is not loaded.  Not stored, keeping the file." << std::endl;
        return setAside("The station list modelBufrStationInfo.txt is not loaded.");
    }
    const Model model = currentModel();
    if (model == NUM_MODELS) {
        MODEL_LOG(PROBLEM) << "No model known for this data file.  Not stored, skipping to "
                              "next file."
                           << std::endl;
        return setAside("No model is known for the file: its name has no model digit (4 ETA, "
                        "5 RUC, 6 AVN, 7 NGM).");
    }
    // A model sounding gives each sounding its forecast time, in a message
    // of a sounding's data category; a message without any, or of another
    // category, is of another kind, whatever texts it holds.
    bool forecasts = false;
    for (int i = 0; i < _decodedValues.length() && !forecasts; ++i)
        forecasts = _decodedValues[i].getDescriptor() == FORECAST_TIME;
    if (!forecasts || !isSoundingCategory(_dataCategory)) {
        const TextString reason =
            "Not a model sounding (data category " + number(_dataCategory) + "): " +
            (!forecasts ? "the bulletin holds no forecast time (0 04 194)."
                        : "its category is none of vertical soundings (2), forecasts (13) and "
                          "local use (240 to 255).");
        if (!(_otherKindLogged == reason))
            MODEL_LOG(PROBLEM) << reason << "  Not stored, skipping to next file." << std::endl;
        _otherKindLogged = reason;
        return setAside(reason);
    }
    // A store that could not be had is asked for again, its template with it.
    if (NetcdfPointData::fetchAgain(_outputs[model].store, _outputs[model].directory))
        readOutputTemplate(_outputs[model]);
    const SeqOf<TextString> stations = buildStationList();
    if (stations.length() == 0) {
        MODEL_LOG(PROBLEM) << "No station ids available for this data file."
                           << "  Not stored, skipping to next file." << std::endl;
        return setAside("No sounding has a station id (a text element such as 0 01 198).");
    }
    if (!isLocalStation(stations[0])) {
        MODEL_LOG(VERBOSE) << "Station [ " << LogText(stations[0]) << " ] is not "
                           << "in this localization.  Not stored." << std::endl;
        return BulletinLog::dropped("ModelBufrDecoder", "station " + escaped(stations[0]) +
                                                            " of its " + number(_subsets) +
                                                            " soundings is not in this "
                                                            "localization; nothing to store.");
    }

    // The forecast times count from the run, section 1's time: a message
    // without one has no sounding the store can hold.
    const std::string fault = sectionTimeFault();
    if (!fault.empty()) {
        const TextString reason =
            ("The message has no run time: its section 1 time " + fault + ".").c_str();
        MODEL_LOG(PROBLEM) << reason << "  Not stored, skipping to next file." << std::endl;
        return setAside(reason);
    }

    // The levels are placed by the model's template (its profile variables
    // and level dimensions).
    _current = &_outputs[model];
    _unstoredReason = TextString();
    _beyondNamed = -1;
    if (!preProcess()) {
        MODEL_LOG(PROBLEM) << "Unable to pre-process sounding profile data sets for "
                           << LogText(stations[0]) << ".  Not stored, skipping to next file."
                           << std::endl;
        clearProfileLists();
        return setAside("The soundings' levels could not be placed.");
    }
    SeqOf<double> offsets;
    SeqOf<TextString> unheld;
    const SeqOf<AbsTime> times = computeTimes(offsets, &unheld);
    // One station id and one forecast time per sounding, or the walk would
    // pair them wrongly.
    if (stations.length() != _subsets || times.length() != _subsets) {
        MODEL_LOG(PROBLEM) << "The file holds " << stations.length() << " station ids and "
                           << times.length() << " forecast times for " << _subsets
                           << " soundings.  Not stored, skipping to next file." << std::endl;
        clearProfileLists();
        return setAside("The bulletin holds " + number(stations.length()) +
                        " station ids and " + number(times.length()) +
                        " forecast times (0 04 194) for " + number(_subsets) + " soundings.");
    }

    MODEL_LOG(EVENT) << "Storing " << _modelName << " Sounding data to " << std::endl;
    MODEL_LOG(EVENT) << "   " << _outputs[model].directory << std::endl;
    MODEL_LOG(EVENT) << "   Station Name: " << LogText(stations[0]) << "  "
                     << times[0].toString(TIME_FORMAT) << " ......" << std::endl;

    SeqOf<bool> stored;
    stored.setLength(_subsets);
    // Asked once: a value without a variable then costs no look-up.
    const bool verbose = logOn(LogStream::VERBOSE, "ModelBufrDecoder");
    int station = -1;
    bool first = true;
    int subset = 0;
    int* handle = nullptr;
    int ncid = -1;
    int record = 0;
    bool skipped = false;    // the sounding at hand is not stored
    for (int i = 0; i < _decodedValues.length(); ++i) {
        const BufrValues& value = _decodedValues[i];
        if (first || value.getSubset() != subset) {
            first = false;
            ++station;
            // A station whose values did not reach the disk is not stored,
            // and the file is kept.
            if (!releaseCurrentHandle(handle)) {
                stored[subset] = false;
                result = -1;
            }
            subset = value.getSubset();
            if (station >= stations.length() || subset < 0 || subset >= _subsets) {
                MODEL_LOG(PROBLEM) << "Sounding " << station + 1 << " (subset " << subset
                                   << ") lies beyond the " << _subsets
                                   << " soundings of the file.  Skipping to next file."
                                   << std::endl;
                result = setAside("Sounding " + number(station + 1) + " lies beyond the " +
                                  number(_subsets) + " soundings of the bulletin.");
                break;
            }
            // A sounding the store cannot hold (no forecast time, one it
            // cannot hold, an id too long) is refused alone; the bulletin is
            // set aside once the others are stored.
            skipped = unheld[station].length() > 0;
            if (!skipped)
                handle = getNetcdfHandle(stations[station], times[station], record);
            const TextString refusal =
                skipped ? unheld[station]
                : !handle && _current && _current->store
                    ? TextString(_current->store->recordRefusal().c_str())
                    : TextString();
            if (refusal.length() > 0) {
                skipped = true;
                const TextString why = "Sounding " + number(station + 1) + " (" +
                                       escaped(stations[station]) + "): " + refusal + ".";
                if (_bulletinLog.admit("ModelBufrDecoder", "Sounding is not held"))
                    MODEL_LOG(PROBLEM) << why << "  Not stored." << std::endl;
                if (_unstoredReason.length() == 0)
                    _unstoredReason = why;
                continue;
            }
            if (!handle) {
                MODEL_LOG(PROBLEM) << "No handle for " << LogText(stations[station]) << " for "
                                   << times[station].toString(TIME_FORMAT)
                                   << ".  Skipping to next file." << std::endl;
                result = -1;
                break;
            }
            ncid = *handle;
            setFillMode(ncid, true);
            beginStation();
            // The station's own counts, of the levels the template holds.
            const StationLevels& levels = _stations[static_cast<size_t>(station)];
            _numProfLvls = std::min(levels.levels, templateLevels(false));
            _numSoilLvls = std::min(levels.soilLayers, templateLevels(true));
            putLevelCounts(ncid, record);
        }
        if (skipped)
            continue;
        if (storeValues(ncid, record, i)) {
            // A station counts as stored once one of its values went in.
            stored[subset] = true;
        } else if (valueRole(i) != NO_PROFILE && valueRole(i) != STATION_FORM) {
            noteUnstored(i, stations[station], station);
        } else if (verbose) {
            TextString name;
            if (!lookupElementName(value.getDescriptor(), name, _current->templateDict))
                name = "\"\"";
            MODEL_LOG(VERBOSE) << "Unable to map netcdf file to descriptor "
                               << value.getDescriptor() << "(" << name << ")"
                               << ", decoded value=[" << value.getValue() << "] for "
                               << LogText(stations[station]) << " is undefined in the cdl."
                               << std::endl;
        }
    }
    if (!releaseCurrentHandle(handle)) {
        stored[subset] = false;
        result = -1;
    }
    clearProfileLists();

    const SeqOf<bool>& done = stored;
    for (int k = 0; k < done.length() && k < offsets.length(); ++k) {
        if (!done[k])
            continue;
        setTimeRange(static_cast<long>(offsets[k]));
        sendNotification();
    }
    // What is stored stays; the values that are not keep the bulletin.
    if (result == 1 && _unstoredReason.length() > 0)
        result = setAside(_unstoredReason);
    return result;
}

bool ModelBufrDecoder::releaseCurrentHandle(int*& handle)
{
    if (!handle)
        return true;
    setFillMode(*handle, false);
    const bool released = _current->store->releaseHandle(handle);
    if (!released && _bulletinLog.admit("ModelBufrDecoder", "Unable to release the handle of"))
        MODEL_LOG(PROBLEM) << "Unable to release the handle of " << _current->directory
                           << std::endl;
    handle = nullptr;
    return released;
}

int* ModelBufrDecoder::getNetcdfHandle(const TextString& id, const AbsTime& forecastTime,
                                       int& record)
{
    SeqOf<TextString> ids;
    ids.append(id);
    _stationId = id;
    SeqOf<double> times;
    times.append(static_cast<double>(_obTime.seconds()));
    times.append(static_cast<double>(forecastTime.seconds()));

    int* handle = nullptr;
    const Model model = currentModel();
    if (model != NUM_MODELS) {
        ModelOutput& output = _outputs[model];
        _current = &output;
        if (!output.store) {
            MODEL_LOG(PROBLEM) << "No point-data store for " << _modelName << " in "
                               << output.directory << std::endl;
        } else {
            bool newRecord = false;
            handle = output.store->getFileHandleAndRecord(ids, times, record, newRecord);
            _netcdfFileName = NetcdfPointData::lastFileTimeStamp();
            if (handle)
                _writer.useFile(*handle, output.directory + "/" + _netcdfFileName);
        }
    }
    if (!handle) {
        MODEL_LOG(PROBLEM) << "No handle for this station info: " << LogText(id)
                           << " and time: " << forecastTime.toString(TIME_FORMAT) << std::endl;
        return nullptr;
    }
    if (_handles.find(handle) < 0)
        _handles.append(handle);
    return handle;
}

bool ModelBufrDecoder::storeValues(int ncid, int record, int i)
{
    const BufrValues& value = _decodedValues[i];
    const int descriptor = value.getDescriptor();
    const bool marked = value.getCharValue().length() > 0;
    const ValueRole role = valueRole(i);
    // A profile is written whole, once, at its first level; its other levels
    // went with it.  A value of a profile's quantity that has no level of
    // it is not written anywhere.
    if (role == FIRST_LEVEL && _current) {
        const TextString& variable =
            _current->profileVariables[_valueProfiles[static_cast<size_t>(i)]];
        SeqOf<float> profile;
        collectProfiles(i, profile);
        if (variable.length() > 0 && profile.length() > 0) {
            const size_t start[2] = {static_cast<size_t>(record), 0};
            const size_t count[2] = {1, static_cast<size_t>(profile.length())};
            putFloatArray(ncid, start, count, variable, profile);
        }
        return true;
    }
    if (role == LEVEL || role == FIRST_LEVEL)
        return true;
    if (role != NO_PROFILE && role != STATION_FORM)
        return false;
    // A station's value in another form goes into the variable of the
    // element it converts into.
    const int into = role == STATION_FORM ? stationFormInto(descriptor) : descriptor;
    TextString name;
    if (!_current->names.find(into, name)) {
        if (!lookupElementName(into, name, _current->templateDict))
            return marked;
        if (!_current->names.insert(into, name)) {
            if (_bulletinLog.admit("ModelBufrDecoder", ">= TBL_B_DICT_CACHE_SIZE"))
                MODEL_LOG(PROBLEM) << "dvDescriptor(" << descriptor
                                   << ") >= TBL_B_DICT_CACHE_SIZE, next file!" << std::endl;
            return false;
        }
    }
    // A text, or an element the profile table names outside the profiles.
    if (marked)
        return true;
    // No value but a level's goes into a profile's variable.
    for (const TextString& profile : _current->profileVariables)
        if (profile.length() > 0 && name == profile)
            return false;
    const size_t index[2] = {static_cast<size_t>(record),
                             static_cast<size_t>(value.getIndex() > 0 ? value.getIndex() : 0)};
    double number = value.getValue();
    TextString refusal;
    if (!ElementForms::convert(descriptor, into, number) ||
        !ElementUnits::toVariable(into, number, _writer.at(ncid), name, _bulletinLog,
                                  "ModelBufrDecoder", &refusal)) {
        if (_unstoredReason.length() == 0)
            _unstoredReason = refusal.length() > 0 ? refusal
                                                   : "The value of " +
                                                         BulletinLog::descriptorText(descriptor) +
                                                         " cannot be stored in " + name + ".";
        return true;
    }
    if (value.getIndex() <= 0 && !firstGiven(i, name, number))
        return true;
    putValue(ncid, name, TextString(), static_cast<float>(number), index);
    return true;
}

bool ModelBufrDecoder::firstGiven(int i, const TextString& variable, double value)
{
    RecordWriter::Variable v;
    if (!_writer.find(variable, v, 0, true) || v.type == NC_CHAR)
        return true;
    const int d = _decodedValues[i].getDescriptor();
    FirstValues::Given held;
    switch (_given.offer(variable, value, d, held)) {
    case FirstValues::WRITE:
        return true;
    case FirstValues::KEEP:
        return false;
    case FirstValues::CONFLICT:
        break;
    }
    const TextString reason = "Sounding " + escaped(_stationId) + " gives " + namedElement(d) +
                              " a second value of " + variable + ", " +
                              valueText(static_cast<float>(value)) + " beside " +
                              valueText(held.value) + " of " + namedElement(held.descriptor) +
                              "; the record holds the first.";
    if (_unstoredReason.length() == 0)
        _unstoredReason = reason;
    if (_bulletinLog.admit("ModelBufrDecoder", "twice: "))
        MODEL_LOG(PROBLEM) << reason << std::endl;
    return false;
}

int ModelBufrDecoder::putLevelCounts(int ncid, int record)
{
    int status = NC_NOERR;
    for (const char* name : {"numProfLvls", "numSoilLvls"}) {
        const int count = name[3] == 'P' ? _numProfLvls : _numSoilLvls;
        if (_writer.at(ncid).putCount(name, record, count) != RecordWriter::WRITTEN)
            status = _writer.lastStatus();
    }
    return status;
}

int ModelBufrDecoder::putFloatArray(int ncid, const size_t* start, const size_t* count,
                                    const TextString& name, const SeqOf<float>& values)
{
    _writer.at(ncid).putProfile(name, static_cast<long>(start[0]), values.elements(),
                                static_cast<long>(count[1]));
    return _writer.lastStatus();
}

void ModelBufrDecoder::putValue(int ncid, const TextString& name, const TextString& text,
                                float value, const size_t* index)
{
    RecordWriter::Variable variable;
    const long record = static_cast<long>(index[0]);
    if (!_writer.at(ncid).find(name, variable, record))
        return;
    if (variable.type == NC_CHAR)
        putStringVar(ncid, name, index[0], text);
    else
        _writer.putNumber(name, record, value, static_cast<long>(index[1]));
}

void ModelBufrDecoder::putStringVar(int ncid, const TextString& name, size_t record,
                                    const TextString& text)
{
    _writer.at(ncid).putText(name, static_cast<long>(record), text);
}

void ModelBufrDecoder::setFillMode(int ncid, bool noFill)
{
    const int status = NetcdfIo(ncid).setFillMode(noFill);
    if (status != NC_NOERR &&
        _bulletinLog.admit("ModelBufrDecoder", "Unable to set the fill mode of netCDF file"))
        MODEL_LOG(PROBLEM) << "Unable to set the fill mode of netCDF file " << ncid << ": "
                           << nc_strerror(status) << std::endl;
}

void ModelBufrDecoder::setTimeRange(long offset)
{
    const AbsTime t = _obTime;
    const AbsTime valid = t + static_cast<int32_t>(offset);
    _notificationTime = DataTime(t, offset, TimeRange(valid, valid), t, 0, 0x700);
}

bool ModelBufrDecoder::sendNotification()
{
    const Model model = currentModel();
    const DataAccessKey key = model == NUM_MODELS ? 0 : PRODUCT_KEYS[model];
    if (!dmNotify(key, _notificationTime)) {
        if (!dmNotifyFailureLogged() &&
            _bulletinLog.admit("ModelBufrDecoder", "dmNotify FAILED for key"))
            MODEL_LOG(PROBLEM) << "dmNotify FAILED for key = " << key << std::endl;
        return false;
    }
    MODEL_LOG(VERBOSE) << "Sent notification for key " << key << std::endl;
    return true;
}

#include "StoreHighDensityWinds.h"

#include "BufrDecoder.h"
#include "DataTime.h"
#include "ElementForms.h"
#include "ElementUnits.h"
#include "LogStream.h"
#include "LogText.h"
#include "NetcdfPointData.h"
#include "SatelliteWindDecoder.h"
#include "Set.h"
#include "windForms.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <cmath>
#include <sstream>
#include <vector>

#define STORE_LOG(category) QEV_LOG(LogStream::category, _layout.sourceName)

namespace {

const char* const TIME_FORMAT = "%h %d %y %T GMT";
const int CONFIDENCE = 33007;
const int U_COMPONENT = 11003;
const int V_COMPONENT = 11004;

TextString timeText(double seconds)
{
    return AbsTime(static_cast<int32_t>(seconds)).toString(TIME_FORMAT);
}

} // namespace

namespace {

// The lines of a wind store's writes, under its source name.
RecordWriter::Rules writeRules(const char* source)
{
    return {source,  "getVarId (%n) error: %e",
            "insertDecodedValues (%n) error: %e",
            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, true, false};
}

} // namespace

StoreHighDensityWinds::StoreHighDensityWinds(SatelliteWindDecoder& decoder, const Layout& layout)
    : _decoder(decoder), _layout(layout), _writer(writeRules(layout.sourceName))
{
}

StoreHighDensityWinds::~StoreHighDensityWinds() {}

int StoreHighDensityWinds::write2NetcdfFile()
{
    BulletinLog::Pass pass(_decoder.bulletinLog());
    if (_decoder.decodedValues().length() == 0 || _decoder.subsetCount() <= 0)
        return BulletinLog::dropped(_layout.sourceName,
                                    "the bulletin holds no wind; nothing to store.");
    _debug = BufrDecoder::logOn(LogStream::DEBUG, _layout.sourceName);
    _verbose = BufrDecoder::logOn(LogStream::VERBOSE, _layout.sourceName);
    const int result = storeFile();
    _reader.reset();    // the values it reads go with the next message
    return result;
}

int StoreHighDensityWinds::refuse(const TextString& reason)
{
    STORE_LOG(PROBLEM) << reason << "  Not stored, skipping to next file." << std::endl;
    return _decoder.setAside(reason);
}

int StoreHighDensityWinds::storeFile()
{
    _decoder.locationIndices().setLength(0);
    _winds.clear();
    _refusal = TextString();
    // A message of another kind (another data category, or reports without
    // what makes one of the data type) is not stored as this one.
    const TextString other =
        notOfKind(_decoder.windType().kind, _decoder.dataCategory(), _decoder.decodedValues());
    if (other.length() > 0)
        return refuse(other);
    _reader.reset(new ReportReader(_decoder.decodedValues(), _decoder.readerLayout()));
    SeqOf<LatLonCoord> locations;
    if (getLocations(locations) == 0)
        return refuse(_refusal.length() > 0
                          ? _refusal
                          : TextString("No ob of the file has a usable position (latitude ") +
                                BulletinLog::descriptorText(_layout.latitudeDescriptor) +
                                " and longitude " +
                                BulletinLog::descriptorText(_layout.longitudeDescriptor) + ").");
    if (!_decoder.pointData())
        return refuse("No point-data store for " + _decoder.storeDirectory() + ".");
    TextString pastLimit;
    SeqOf<double> times = _decoder.getObservationTimes(*_reader, locations, pastLimit);
    if (times.length() == 0)
        return refuse(pastLimit.length() > 0
                          ? pastLimit
                          : TextString("No ob of the file has an observation time."));
    if (_refusal.length() == 0)
        _refusal = pastLimit;
    const int result = storeAllSites(locations, times);
    // Winds were stored: the bulletin is set aside with the reason (its
    // line names it), but it is not "not stored".
    return _refusal.length() > 0 && result == 1 ? _decoder.setAside(_refusal) : result;
}

void StoreHighDensityWinds::findWinds(int scope, std::vector<int>& winds) const
{
    const ReportReader& r = *_reader;
    if (r.first(scope, _layout.latitudeDescriptor) != ReportReader::NONE ||
        (_layout.standInLatitude != 0 &&
         r.first(scope, _layout.standInLatitude) != ReportReader::NONE)) {
        winds.push_back(scope);
        return;
    }
    for (int child : r.children(scope))
        findWinds(child, winds);
}

std::vector<int> StoreHighDensityWinds::windPositions(int scope, int latitude) const
{
    const ReportReader& r = *_reader;
    const SeqOf<BufrValues>& values = _decoder.decodedValues();
    const std::vector<int> all = r.all(scope, latitude);
    std::vector<int> followed;
    for (size_t k = 0; k < all.size(); ++k) {
        const int end = k + 1 < all.size() ? all[k + 1] : r.end(scope);
        for (int v = all[k] + 1; v < end; ++v) {
            if (r.plain(v) && isWindElement(values[v].getDescriptor())) {
                followed.push_back(all[k]);
                break;
            }
        }
    }
    return followed.empty() ? all : followed;
}

bool StoreHighDensityWinds::isWindElement(int d) const
{
    return d != 0 && (d == _layout.windDirection || d == _layout.windSpeed ||
                      d == _layout.otherDirection || d == _layout.otherSpeed ||
                      d == U_COMPONENT || d == V_COMPONENT);
}

StoreHighDensityWinds::WindFound StoreHighDensityWinds::reportWind(int scope, int latitude,
                                                                   ReportWind& wind,
                                                                   TextString& why) const
{
    const ReportReader& r = *_reader;
    const SeqOf<BufrValues>& values = _decoder.decodedValues();
    // The elements of an ambiguity: the three forms of its wind, each
    // direction and speed, then its likelihood.
    const int elements[7] = {_layout.windDirection, _layout.windSpeed, _layout.otherDirection,
                             _layout.otherSpeed,    U_COMPONENT,       V_COMPONENT,
                             _layout.likelihood};
    typedef std::array<int, 7> Ambiguity;
    auto holdsWind = [](const Ambiguity& a) {
        return std::any_of(a.begin(), a.begin() + 6, [](int i) { return i != ReportReader::NONE; });
    };
    auto given = [&values](int i) {
        return i != ReportReader::NONE && ElementForms::given(values[i].getValue());
    };
    std::vector<Ambiguity> ambiguities;
    if (_layout.selection != 0) {
        // The repetitions of a delayed replication, each its wind.
        for (int child : r.children(scope)) {
            Ambiguity a;
            for (int k = 0; k < 7; ++k)
                a[k] = elements[k] != 0 ? r.first(child, elements[k]) : ReportReader::NONE;
            if (holdsWind(a))
                ambiguities.push_back(a);
        }
        // Else a fixed replication written out: the n-th of each element.
        if (ambiguities.empty()) {
            std::vector<int> each[7];
            size_t n = 0;
            for (int k = 0; k < 7; ++k) {
                if (elements[k] != 0)
                    each[k] = r.all(scope, elements[k]);
                if (k < 6)
                    n = std::max(n, each[k].size());
            }
            for (size_t j = 0; j < n; ++j) {
                Ambiguity a;
                for (int k = 0; k < 7; ++k)
                    a[k] = j < each[k].size() ? each[k][j] : ReportReader::NONE;
                ambiguities.push_back(a);
            }
        }
    }
    if (ambiguities.empty()) {
        Ambiguity a;
        for (int k = 0; k < 7; ++k)
            a[k] = elements[k] != 0 ? r.nearest(scope, elements[k]) : ReportReader::NONE;
        if (!holdsWind(a))
            return NO_WIND;
        ambiguities.push_back(a);
    }
    size_t chosen = 0;
    const int index =
        _layout.selection != 0 ? r.nearest(scope, _layout.selection) : ReportReader::NONE;
    if (index != ReportReader::NONE) {
        std::ostringstream text;
        text << BulletinLog::descriptorText(_layout.selection) << " (the selected wind vector) "
             << "of the ob at value " << latitude << " is ";
        if (!given(index)) {
            // Without doubt only where no more than one ambiguity gives a wind.
            std::vector<size_t> winds;
            for (size_t j = 0; j < ambiguities.size(); ++j)
                if (std::any_of(ambiguities[j].begin(), ambiguities[j].begin() + 6, given))
                    winds.push_back(j);
            if (winds.size() > 1) {
                text << "missing, and " << winds.size() << " of its " << ambiguities.size()
                     << " wind ambiguities give a wind.";
                why = text.str().c_str();
                return REFUSED;
            }
            chosen = winds.empty() ? 0 : winds.front();
        } else {
            const double selected = values[index].getValue();
            if (selected < 1 || selected > static_cast<double>(ambiguities.size()) ||
                selected != std::floor(selected)) {
                text << selected << ", which names none of its " << ambiguities.size()
                     << " wind ambiguities.";
                why = text.str().c_str();
                return REFUSED;
            }
            chosen = static_cast<size_t>(selected) - 1;
        }
    }
    const Ambiguity& a = ambiguities[chosen];
    // The first form given whole, else the first given in part.
    int form = -1;
    for (int pass = 0; pass < 2 && form < 0; ++pass)
        for (int f = 0; f < 3 && form < 0; ++f)
            if (pass == 0 ? given(a[2 * f]) && given(a[2 * f + 1])
                          : given(a[2 * f]) || given(a[2 * f + 1]))
                form = f;
    if (form < 0)
        return NO_WIND;
    wind = ReportWind();
    wind.direction = a[2 * form];
    wind.speed = a[2 * form + 1];
    wind.components = form == 2;
    wind.ownForm = form == 0;
    wind.likelihood = a[6];
    return WIND;
}

int StoreHighDensityWinds::getLocations(SeqOf<LatLonCoord>& locations)
{
    const SeqOf<BufrValues>& values = _decoder.decodedValues();
    SeqOf<int>& indices = _decoder.locationIndices();
    const ReportReader& r = *_reader;
    std::vector<int> winds;
    for (int s = 0; s < _decoder.subsetCount(); ++s)
        if (r.subsetScope(s) != ReportReader::NONE)
            findWinds(r.subsetScope(s), winds);
    int found = 0;
    int windless = 0;
    for (int scope : winds) {
        // The report's own position: of the data type's accuracy, else of
        // the other.
        int latitude = _layout.latitudeDescriptor;
        int longitude = _layout.longitudeDescriptor;
        if (r.first(scope, latitude) == ReportReader::NONE) {
            latitude = _layout.standInLatitude;
            longitude = _layout.standInLongitude;
        }
        const std::vector<int> positions = windPositions(scope, latitude);
        const int i = positions.front();
        ReportWind wind;
        TextString why;
        const WindFound windFound = reportWind(scope, i, wind, why);
        if (windFound == NO_WIND) {
            ++windless;
            if (_decoder.bulletinLog().admit(_layout.sourceName, "has no wind of its own"))
                STORE_LOG(PROBLEM) << "The ob at value " << i << " has no wind of its own ("
                                   << windElementsText()
                                   << ").  Skipping to next observation." << std::endl;
            continue;
        }
        if (windFound == REFUSED) {
            if (_decoder.bulletinLog().admit(_layout.sourceName, "the selected wind vector"))
                STORE_LOG(PROBLEM) << why << "  Skipping to next observation." << std::endl;
            if (_refusal.length() == 0)
                _refusal = why;
            continue;
        }
        const int given = static_cast<int>(positions.size());
        if (given > 1) {
            if (_refusal.length() == 0) {
                std::ostringstream why;
                why << BulletinLog::descriptorText(latitude) << " given " << given
                    << " times in the report of subset " << values[i].getSubset() + 1
                    << " with no qualifier or replication to tell which is the wind's own.";
                _refusal = why.str().c_str();
            }
            continue;
        }
        const int s = values[i].getSubset();
        if (i + 1 >= values.length() || values[i + 1].getSubset() != s ||
            values[i + 1].getDescriptor() != longitude) {
            if (_decoder.bulletinLog().admit(_layout.sourceName, "No longitude after the latitude"))
                STORE_LOG(PROBLEM) << "No longitude (" << BulletinLog::descriptorText(longitude)
                                   << ") after the latitude at value " << i
                                   << ".  Skipping to next observation." << std::endl;
            continue;
        }
        const float lat = values[i].getValue();
        const float lon = values[i + 1].getValue();
        if (!checkLocation(lat, lon))
            continue;
        locations.append(LatLonCoord(lat, lon));
        indices.append(i);
        _winds[i] = wind;
        found = 1;
    }
    if (!found && windless > 0 && windless == static_cast<int>(winds.size()) &&
        _refusal.length() == 0)
        _refusal = TextString("No wind in any report: none gives ") + windElementsText() +
                   ", of its own.";
    return found;
}

bool StoreHighDensityWinds::checkLocation(const float& lat, const float& lon)
{
    if (lat == LatLonCoord::MISSING || lon == LatLonCoord::MISSING) {
        if (_decoder.bulletinLog().admit(_layout.sourceName, "Missing lat/lon coordinates"))
            STORE_LOG(PROBLEM) << "Missing lat/lon coordinates for this ob.  Skipping to next "
                                  "observation."
                               << std::endl;
        return false;
    }
    // The store keeps positions of -90..90 and -180..180 only.
    if (!(lat >= -90 && lat <= 90 && lon >= -180 && lon <= 180)) {
        if (_decoder.bulletinLog().admit(_layout.sourceName, "Lat/lon out of range"))
            STORE_LOG(PROBLEM) << "Lat/lon " << lat << ", " << lon << " out of range for this "
                               << "ob.  Skipping to next observation." << std::endl;
        return false;
    }
    return true;
}

int* StoreHighDensityWinds::getHandle(const LatLonCoord& location, const double& time,
                                      int& record)
{
    NetcdfPointData* store = _decoder.pointData();
    const double seconds = std::trunc(time);
    int* handle = nullptr;
    if (store) {
        SeqOf<double> times(seconds);
        bool newRecord = false;
        handle = store->getFileHandleAndRecord(location, times, record, newRecord);
        _decoder.setNetcdfFileName(NetcdfPointData::lastFileTimeStamp());
    }
    if (!handle && _decoder.bulletinLog().admit(_layout.sourceName, "No handle for this lat/lon")) {
        STORE_LOG(PROBLEM) << "No handle for this lat/lon: " << location.lat << ", "
                           << location.lon << " and time: " << timeText(seconds) << std::endl;
    }
    return handle;
}

int StoreHighDensityWinds::storeAllSites(SeqOf<LatLonCoord>& locations, SeqOf<double>& times)
{
    const SeqOf<BufrValues>& values = _decoder.decodedValues();
    const SeqOf<int> indices = _decoder.locationIndices();
    const int sites = indices.length() < times.length() ? indices.length() : times.length();
    if (_verbose) {
        for (int i = 0; i < sites; ++i)
            STORE_LOG(VERBOSE) << "MXR_STORE site [" << locations[i].lat << ", "
                               << locations[i].lon << "]" << std::endl;
    }
    SeqOf<bool> flags = makeSiteFlags(times.length());
    int result = 1;
    // The store notes the records of the pass, so that the bulletin stored
    // again after a pass that did not end takes them again.
    NetcdfPointData* store = _decoder.pointData();
    if (store)
        store->beginPass(_decoder.bulletinIdentity());
    // The handle of the site before, given back once the next site has its
    // record: the file then stays in use from one wind to the next, and the
    // store brings it up to date once, at the last release, instead of after
    // every wind (each new record is committed to the file as it is placed).
    int* previous = nullptr;
    // A release that fails (the last one of a file syncs it) leaves the
    // values of every wind stored through that handle not known to be on
    // the disk: none of them is notified, and the file is kept.
    std::vector<int*> through(static_cast<size_t>(sites), nullptr);
    auto givePreviousBack = [&](int placed) {
        int* const given = previous;
        if (giveBack(previous))
            return;
        result = -1;
        for (int j = 0; j < placed; ++j)
            if (through[j] == given)
                flags[j] = false;
    };
    for (int i = 0; i < sites; ++i) {
        const int idx = indices[i];
        const int subset = values[idx].getSubset();
        if (_debug)
            STORE_LOG(DEBUG) << "index: " << idx << ", subset: " << subset << ", latLon: "
                             << locations[i].lat << ", " << locations[i].lon
                             << ", time: " << timeText(times[i]) << std::endl;
        int record = 0;
        int* handle = getHandle(locations[i], times[i], record);
        givePreviousBack(i);
        // A wind the store cannot hold is refused alone; its bulletin is set
        // aside once the others are stored.
        if (!handle && store && !store->recordRefusal().empty()) {
            std::ostringstream why;
            why << "The ob at value " << idx << " (" << locations[i].lat << ", "
                << locations[i].lon << "): " << store->recordRefusal() << ".";
            if (_decoder.bulletinLog().admit(_layout.sourceName, "The ob is not held"))
                STORE_LOG(PROBLEM) << why.str() << "  Skipping to next observation." << std::endl;
            if (_refusal.length() == 0)
                _refusal = why.str().c_str();
            continue;
        }
        if (!handle) {
            if (_decoder.bulletinLog().admit(_layout.sourceName, "No handle for"))
                STORE_LOG(PROBLEM) << "No handle for " << locations[i].lat << ", "
                                   << locations[i].lon << " for " << timeText(times[i])
                                   << ".  Skipping to next Station." << std::endl;
            result = -1;
            continue;
        }
        const int ncid = *handle;
        _writer.useFile(ncid, _decoder.storeDirectory() + "/" + _decoder.netcdfFileName());
        siteRecordPlaced(ncid, record, idx);
        bool stored = false;
        // The report's own values, its wind and confidence chosen apart.
        const int scope = _reader->scopeOf(idx);
        const ReportWind& wind = _winds[idx];
        std::vector<int> own = _reader->ownValues(scope);
        own.erase(std::remove_if(own.begin(), own.end(),
                                 [this, &values](int j) {
                                     const int d = values[j].getDescriptor();
                                     return d == CONFIDENCE || isWindElement(d) ||
                                            (d != 0 && d == _layout.likelihood);
                                 }),
                  own.end());
        for (int j : {windConfidence(scope, wind), wind.likelihood,
                      wind.ownForm ? wind.direction : ReportReader::NONE,
                      wind.ownForm ? wind.speed : ReportReader::NONE})
            if (j != ReportReader::NONE)
                own.push_back(j);
        checkLevel(idx, own);
        for (int j : own) {
            if (storeSingleton(ncid, record, j))
                stored = true;
            else
                valueRefused(j, locations[i]);
        }
        // A wind of another form goes into the store's variables.
        if (!wind.ownForm) {
            double direction = windForms::MISSING, speed = windForms::MISSING;
            auto value = [&values](int j) {
                return j == ReportReader::NONE ? windForms::MISSING
                                               : static_cast<double>(values[j].getValue());
            };
            int directionUnit = _layout.windDirection, speedUnit = _layout.windSpeed;
            if (wind.components) {
                windForms::directionSpeed(value(wind.direction), value(wind.speed), direction,
                                          speed);
            } else {
                direction = value(wind.direction);
                speed = value(wind.speed);
                directionUnit = _layout.otherDirection;
                speedUnit = _layout.otherSpeed;
            }
            if (storeWindAs(ncid, record, _layout.windDirection, directionUnit, direction))
                stored = true;
            if (storeWindAs(ncid, record, _layout.windSpeed, speedUnit, speed))
                stored = true;
        }
        flags[i] = stored;
        if (_debug)
            STORE_LOG(DEBUG) << std::endl;
        previous = through[i] = handle;
    }
    givePreviousBack(sites);
    if (store)
        store->endPass(result == 1);
    if (store && !store->passRefusal().empty())
        result = _decoder.setAside(store->passRefusal().c_str());
    STORE_LOG(EVENT) << "MXR_STORE of " << times.length() << " site(s) for "
                     << timeText(times[0]) << std::endl;
    notifyNewDataTimes(flags, times);
    return result;
}

int StoreHighDensityWinds::windConfidence(int scope, const ReportWind& wind) const
{
    const SeqOf<BufrValues>& values = _decoder.decodedValues();
    const ReportReader& r = *_reader;
    std::vector<int> given;
    for (int s = scope; s != ReportReader::NONE; s = r.parent(s)) {
        const std::vector<int> own = r.all(s, CONFIDENCE);
        given.insert(given.end(), own.begin(), own.end());
    }
    for (int i : {wind.speed, wind.direction}) {
        const std::vector<int> quality = r.qualityOf(i, CONFIDENCE);
        given.insert(given.end(), quality.begin(), quality.end());
    }
    for (int i : given)
        if (ElementForms::given(values[i].getValue()))
            return i;
    return given.empty() ? ReportReader::NONE : given.front();
}

bool StoreHighDensityWinds::giveBack(int*& handle)
{
    const bool released = !handle || _decoder.pointData()->releaseHandle(handle);
    if (!released)
        STORE_LOG(PROBLEM) << "Unable to give back the handle of a record of "
                           << _decoder.storeDirectory() << std::endl;
    handle = nullptr;
    return released;
}

bool StoreHighDensityWinds::lookupVariable(int descriptor, TextString& name) const
{
    return BufrDecoder::lookupElementName(descriptor, name, _decoder.templateDict());
}

bool StoreHighDensityWinds::storeSingleton(int ncid, int record, int index)
{
    const BufrValues& v = _decoder.decodedValues()[index];
    const int d = v.getDescriptor();
    TextString name;
    const bool found = lookupVariable(d, name);
    if (_debug)
        STORE_LOG(DEBUG) << "subset: " << v.getSubset() << ", dvDescriptor (" << d << ")= <"
                         << name << "> <" << v.getValue() << ">" << std::endl;
    if (!found)
        return true;
    const TextString token = v.getCharValue();
    if (_debug)
        STORE_LOG(DEBUG) << "subset: " << v.getSubset() << ", dvDescriptor (" << d << ")= <"
                         << name << "> <" << LogText(token) << ">" << std::endl;
    if (token.length() > 0)
        return true;
    double value = v.getValue();
    if (!ElementUnits::toVariable(d, value, _writer.at(ncid), name, _decoder.bulletinLog(), source(),
                                  &_refusal))
        return true;
    if (insertDecodedValues(ncid, name, token, static_cast<float>(value), record)) {
        if (_debug)
            STORE_LOG(DEBUG) << "Successful singleton store of " << name << std::endl;
    } else if (_decoder.bulletinLog().admit(_layout.sourceName,
                                            "Unable to store singleton value")) {
        STORE_LOG(PROBLEM) << "Unable to store singleton value for " << name << std::endl;
    }
    return true;
}

void StoreHighDensityWinds::checkLevel(int latitude, const std::vector<int>& own)
{
    // The level of a wind is its pressure where the store holds one; a
    // wind that gives it only as a height (in any form) is named.
    const std::vector<const ElementForms::Form*> pressures =
        ElementForms::forms(ElementForms::PRESSURE);
    TextString pressure;
    if (!lookupVariable(pressures.front()->descriptor, pressure))
        return;
    const SeqOf<BufrValues>& values = _decoder.decodedValues();
    int height = ReportReader::NONE;
    for (int j : own) {
        const int d = values[j].getDescriptor();
        const bool given = ElementForms::given(values[j].getValue());
        TextString name;
        if (given && lookupVariable(d, name) && name == pressure)
            return;
        if (given && height == ReportReader::NONE && ElementForms::gives(d, ElementForms::HEIGHT))
            height = j;
    }
    if (height == ReportReader::NONE)
        return;
    std::ostringstream why;
    why << "The ob at value " << latitude << " gives its level only as "
        << BulletinLog::descriptorText(values[height].getDescriptor()) << " (a "
        << ElementForms::words(ElementForms::HEIGHT) << "), which the store does not hold (it takes the pressure " << pressure;
    for (size_t k = 0; k < pressures.size(); ++k)
        why << (k == 0 ? ", " : " or ") << BulletinLog::descriptorText(pressures[k]->descriptor);
    why << ").";
    if (_decoder.bulletinLog().admit(_layout.sourceName, "gives its level only as"))
        STORE_LOG(PROBLEM) << why.str() << "  Stored without it." << std::endl;
    if (_refusal.length() == 0)
        _refusal = why.str().c_str();
}

bool StoreHighDensityWinds::storeWindAs(int ncid, int record, int descriptor, int givenAs,
                                        double value)
{
    TextString name;
    if (!lookupVariable(descriptor, name))
        return false;
    if (_debug)
        STORE_LOG(DEBUG) << "dvDescriptor (" << descriptor << ") from " << givenAs << "= <"
                         << name << "> <" << value << ">" << std::endl;
    if (!ElementUnits::toVariable(givenAs, value, _writer.at(ncid), name, _decoder.bulletinLog(),
                                  source(), &_refusal))
        return true;
    if (!insertDecodedValues(ncid, name, TextString(), static_cast<float>(value), record) &&
        _decoder.bulletinLog().admit(_layout.sourceName, "Unable to store singleton value"))
        STORE_LOG(PROBLEM) << "Unable to store singleton value for " << name << std::endl;
    return true;
}

TextString StoreHighDensityWinds::windElementsText() const
{
    TextString text = BulletinLog::descriptorText(_layout.windDirection) + " or " +
                      BulletinLog::descriptorText(_layout.windSpeed) + ", ";
    if (_layout.otherDirection != 0)
        text += BulletinLog::descriptorText(_layout.otherDirection) + " or " +
                BulletinLog::descriptorText(_layout.otherSpeed) + ", ";
    return text + "or the components " + BulletinLog::descriptorText(U_COMPONENT) + " or " +
           BulletinLog::descriptorText(V_COMPONENT);
}

bool StoreHighDensityWinds::insertDecodedValues(int ncid, const TextString& varName,
                                                const TextString& dataToken, float value,
                                                int record)
{
    int varId = -1;
    if (!getVarId(ncid, varName, &varId))
        return false;
    RecordWriter::Variable variable;
    _writer.find(varName, variable, record);
    if (variable.type != NC_CHAR)
        return _writer.putNumber(varName, record, value) != RecordWriter::FAILED;
    if (_verbose)
        STORE_LOG(VERBOSE) << varName << ", start[0]: " << record << ", dataToken: <" << LogText(dataToken)
                           << ">" << std::endl;
    putTextValue(ncid, varName, record, dataToken);
    return true;
}

void StoreHighDensityWinds::putTextValue(int ncid, const TextString& varName, int record,
                                         const TextString& text)
{
    if (_verbose)
        STORE_LOG(VERBOSE) << "<" << LogText(text) << ">" << ", start[0]: " << record << std::endl;
    _writer.at(ncid).putText(varName, record, text);
}

bool StoreHighDensityWinds::getVarId(int ncid, const TextString& name, int* varId)
{
    *varId = _writer.at(ncid).varId(name);
    return *varId >= 0;
}

SeqOf<bool> StoreHighDensityWinds::makeSiteFlags(int n)
{
    SeqOf<bool> flags;
    flags.setLength(n > 0 ? n : 0);
    return flags;
}

bool StoreHighDensityWinds::notifyNewDataTimes(const SeqOf<bool>& flags,
                                               const SeqOf<double>& times)
{
    Set<DataTime> sent;
    for (int i = 0; i < flags.length() && i < times.length(); ++i) {
        _decoder.setDataTime(static_cast<int>(std::trunc(times[i])));
        if (!flags[i] || sent.find(_decoder.dataTime()))
            continue;
        sent.insert(_decoder.dataTime());
        _decoder.sendNotification();
    }
    return true;
}

void StoreHighDensityWinds::siteRecordPlaced(int, int, int) {}

void StoreHighDensityWinds::valueRefused(int, const LatLonCoord&) {}

// The satellite sounding decoders' construction, configuration, times,
// level arrays and notification.  Their storing walk is in
// SatelliteSoundingDecoderStore.cpp.
#include "SatelliteSoundingDecoder.h"

#include "AbsTime.h"
#include "BufrSignalClient.h"
#include "BufrValues.h"
#include "ElementForms.h"
#include "ElementUnits.h"
#include "InfoFileServer.h"
#include "LogStream.h"
#include "NetcdfPointData.h"
#include "StationPlotInfo.h"
#include "StringTokenizer.h"
#include "TimeRange.h"
#include "dmNotify.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>

#define DECODER_LOG(category) QEV_LOG(LogStream::category, _settings.decoderSource)

namespace {

const char* const TIME_FORMAT = "%h %d %y %T GMT";

SatelliteSoundingDecoder::Clock theClock = nullptr;

// A table field without its line ending and trailing blanks.
void stripLineEnd(TextString& text)
{
    int n = text.length();
    const char* s = text.c_str();
    while (n > 0 && (s[n - 1] == '\n' || s[n - 1] == '\r' || s[n - 1] == ' '))
        --n;
    if (n < text.length())
        text = text.subString(0, n);
}

// A decoded value as a calendar field: truncated toward zero; false for a
// value outside the int range.
bool calendarField(double value, int& field)
{
    if (!(value > -2147483648.0 && value < 2147483648.0))
        return false;
    field = static_cast<int>(value);
    return true;
}

} // namespace

const float SatelliteSoundingDecoder::LEVEL_FILL = 1e37f;

namespace {

// The lines of a sounding store's writes, under its source name.
RecordWriter::Rules writeRules(const char* source)
{
    return {source,
            "getVarId (%n) error: %e",
            "insertDecodedValues (%n) error: %e",
            "putLvlCountsNetcdf(), nc_put_var1_int() error: %e",
            "putTextValue (%v) error: %e",
            nullptr,
            nullptr,
            "storeArray (%n) error: %e",
            nullptr,
            true,
            false};
}

} // namespace

SatelliteSoundingDecoder::SatelliteSoundingDecoder(const Record& record, const Settings& settings)
    : BufrFileDecoder(record), _settings(settings), _dataTypeName(settings.dataTypeName),
      _timeout(settings.timeout), _writer(writeRules(settings.storeSource))
{
}

void SatelliteSoundingDecoder::processOneFile(const TextString& directory, const TextString& name)
{
    TextString dir = directory;
    while (dir.length() > 1 && dir[dir.length() - 1] == '/')
        dir = dir.subString(0, dir.length() - 1);
    BufrSignalClient::instance()->setDirectories(dir, badDir());
    processFile(dir + "/", name, 0, 1);
}

// Runs at process exit, after the point-data files were closed: members
// only.  The site table and the store belong to their services' caches.
SatelliteSoundingDecoder::~SatelliteSoundingDecoder() {}

void SatelliteSoundingDecoder::setClock(Clock clock)
{
    theClock = clock;
}

int32_t SatelliteSoundingDecoder::now()
{
    return theClock ? theClock() : AbsTime::now().seconds();
}

bool SatelliteSoundingDecoder::init()
{
    _dataTypeName = _settings.dataTypeName;
    _timeout = _settings.timeout;
    _siteTable = readStaticPlotInfoPV(_settings.siteFile);
    if (!_siteTable || _siteTable->count == 0) {
        DECODER_LOG(PROBLEM) << "Unable to read list of site locations for matching"
                             << std::endl;
        return false;
    }
    if (!getGridResolution()) {
        DECODER_LOG(PROBLEM) << "Unable to get grid resolution for " << _settings.typeName
                             << " soundings." << std::endl;
        return false;
    }
    if (!readProfileDescTable()) {
        DECODER_LOG(PROBLEM) << "Unable to create descriptor dictionary for "
                             << _settings.typeName << " soundings." << std::endl;
        return false;
    }
    _storeDir = TextString(std::getenv("QEV_DATA")) + _settings.storePath;
    _store = NetcdfPointData::getNetcdfPointData(_storeDir, true, false);
    readStoreTemplate();
    _initialized = true;
    return true;
}

void SatelliteSoundingDecoder::readStoreTemplate()
{
    _descriptorDict = readTemplateDict(_storeDir + "/template", "tblBname");
    _variables.clear();
    // The variables of the profiles, whose level dimension bounds what a
    // record holds.
    _profileVariables.setLength(0);
    for (int i = 0; i < _profDescTable.count(); ++i) {
        TextString name;
        if (lookupElementName(_profDescTable.key(i), name, _descriptorDict) &&
            _profileVariables.find(name) < 0)
            _profileVariables.append(name);
    }
    // The variable of each profile element: its own, that of the element a
    // converting form goes into, else that of another element of its
    // profile.
    for (ProfileDescriptor& d : _profileDescriptors) {
        d.variable = TextString();
        lookupElementName(d.into != 0 ? d.into : d.descriptor, d.variable, _descriptorDict);
    }
    for (ProfileDescriptor& d : _profileDescriptors)
        for (const ProfileDescriptor& other : _profileDescriptors)
            if (d.variable.length() == 0 && other.profile == d.profile && d.profile >= 0)
                d.variable = other.variable;
}

bool SatelliteSoundingDecoder::getGridResolution()
{
    FILE* file = InfoFileServer::openFile(_settings.infoFile);
    if (!file) {
        DECODER_LOG(PROBLEM) << "Unable to get grid resolution from " << _settings.infoFile
                             << ".  Can't open file." << std::endl;
        return false;
    }
    char line[120];
    while (std::fgets(line, sizeof line, file)) {
        if (line[0] == '#')
            continue;
        _gridResolution = static_cast<float>(std::strtod(line, nullptr));
        DECODER_LOG(DEBUG) << "getGridResolution(): _gridResolution= " << _gridResolution
                           << std::endl;
    }
    std::fclose(file);
    return true;
}

bool SatelliteSoundingDecoder::readProfileDescTable()
{
    const TextString path =
        TextString(std::getenv("QEV_HOME")) + "/data/" + _settings.profileTable;
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        const int error = errno;
        DECODER_LOG(PROBLEM) << "Unable to open sounding profile descriptor variable list, "
                             << path << ": " << std::strerror(error) << std::endl;
        return false;
    }
    char line[100];
    for (;;) {
        std::memset(line, 0, sizeof line);
        if (!std::fgets(line, sizeof line, file))
            break;
        if (line[0] == '#')
            continue;
        StringTokenizer fields(line, "|", false);
        const TextString descriptor = fields.nextToken();
        TextString name = fields.nextToken();
        // A name keeps neither its line ending nor its trailing blanks, so
        // that a line ending with the name names its profile.
        stripLineEnd(name);
        if (descriptor.length() == 0 || name.length() == 0) {
            DECODER_LOG(PROBLEM) << "Line error in " << path << " [" << line << "]"
                                 << std::endl;
            continue;
        }
        _profDescTable.insert(static_cast<int>(std::strtol(descriptor.c_str(), nullptr, 10)),
                              name);
    }
    std::fclose(file);
    // The table as the level walk reads it, each name with its profile.
    Profile p[MAX_PROFILES];
    const int n = profiles(p);
    _profileDescriptors.clear();
    for (int i = 0; i < _profDescTable.count(); ++i) {
        ProfileDescriptor d = {_profDescTable.key(i), _profDescTable.value(i), -1, 0,
                               TextString()};
        for (int j = 0; j < n; ++j)
            if (d.name == p[j].name)
                d.profile = j;
        _profileDescriptors.push_back(d);
    }
    // The forms of a profile that convert into its own element, where the
    // table does not name them itself.
    makeOtherForms();
    for (const OtherForm& form : _otherForms) {
        const OtherForm* f = &form;
        if (isSingleForm(*f) || !f->converts)
            continue;
        ProfileDescriptor d = {f->descriptor, f->profile, -1, f->into, TextString()};
        for (int j = 0; j < n; ++j)
            if (d.name == p[j].name)
                d.profile = j;
        _profileDescriptors.push_back(d);
    }
    return true;
}

void SatelliteSoundingDecoder::makeOtherForms()
{
    _otherForms.clear();
    for (const Holds* h = _settings.holds; h && h->quantity != ElementForms::NO_QUANTITY; ++h)
        for (const ElementForms::Form* f : ElementForms::forms(h->quantity)) {
            if (h->profile ? profileDescriptor(f->descriptor) != nullptr : f->descriptor == h->into)
                continue;
            const bool converts = h->converted && ElementForms::converts(f->descriptor, h->into);
            _otherForms.push_back({f->descriptor, h->profile, ElementForms::words(h->quantity),
                                   converts || !h->profile ? h->into : 0, converts});
        }
}

void SatelliteSoundingDecoder::setDataTime(AbsTime t)
{
    _dataTime = DataTime(t, 0, TimeRange(t, t), t, 0, DataTime::DEFAULT_FLAGS);
}

bool SatelliteSoundingDecoder::sendNotification()
{
    const TextString when = _dataTime.refTime().toString(TIME_FORMAT);
    if (!dmNotify(_settings.productKey, _dataTime)) {
        if (!dmNotifyFailureLogged())
            DECODER_LOG(PROBLEM) << "dmNotify FAILED for key = " << _settings.productKey
                                 << " and dataTime " << when << std::endl;
        return false;
    }
    DECODER_LOG(VERBOSE) << "Sent notification for key " << _settings.productKey
                         << " and dataTime " << when << std::endl;
    return true;
}

SeqOf<double> SatelliteSoundingDecoder::getObservationTimes()
{
    SeqOf<double> times;
    for (int k = 0; k < _soundings.length(); ++k)
        if (_soundings[k].timed)
            times.append(_soundings[k].time);
    return times;
}

bool SatelliteSoundingDecoder::roundedTime(const double fields[6], int valueIndex,
                                           AbsTime& time)
{
    int f[6];
    bool ok = true;
    for (int i = 0; i < 6; ++i)
        ok = calendarField(fields[i], f[i]) && ok;
    // Checked before AbsTime would refuse them: a date and time from 1970 to
    // the last second a time holds.
    const int64_t seconds = ok ? AbsTime::calendarSeconds(f[0], f[1], f[2], f[3], f[4], f[5]) : -1;
    if (seconds < 0 || seconds > INT32_MAX) {
        if (_bulletinLog.admit(_settings.decoderSource, "The time values of the sounding"))
            DECODER_LOG(PROBLEM) << "The time values of the sounding at value " << valueIndex
                                 << " (" << fields[0] << " " << fields[1] << " " << fields[2]
                                 << " " << fields[3] << ":" << fields[4] << ":" << fields[5]
                                 << ") "
                                 << (seconds < 0 ? std::string("are not a time")
                                                 : std::string("make a time that ") +
                                                       BulletinLog::PAST_LIMIT)
                                 << std::endl;
        return false;
    }
    // To the nearest minute; the last second held rounds down.
    time = AbsTime(static_cast<int32_t>(seconds)) + 30;
    time.setSeconds(time.seconds() - time.second());
    return true;
}

const BufrValues* SatelliteSoundingDecoder::valueAt(int index, const char* what, int from,
                                                    const char* source) const
{
    if (index >= 0 && index < _decodedValues.length())
        return &_decodedValues[index];
    QEV_LOG(LogStream::PROBLEM, source)
        << "No " << what << " for the value at " << from << ": value " << index
        << " lies outside the " << _decodedValues.length() << " values decoded" << std::endl;
    return nullptr;
}

bool SatelliteSoundingDecoder::elementAt(int index, int subset, int descriptor) const
{
    return index >= 0 && index < _decodedValues.length() &&
           _decodedValues[index].getSubset() == subset &&
           _decodedValues[index].getDescriptor() == descriptor;
}

double SatelliteSoundingDecoder::secondAt(int index, int subset) const
{
    return index >= 0 && index < _decodedValues.length() &&
                   _decodedValues[index].getSubset() == subset &&
                   ElementForms::gives(_decodedValues[index].getDescriptor(), ElementForms::SECOND)
               ? _decodedValues[index].getValue()
               : 0.0;
}

bool SatelliteSoundingDecoder::noTime(int valueIndex, const char* why)
{
    if (_bulletinLog.admit(_settings.decoderSource, "The sounding has no time"))
        DECODER_LOG(PROBLEM) << "The sounding at value " << valueIndex << " has no time: " << why
                             << std::endl;
    return false;
}

int SatelliteSoundingDecoder::soundingEnd(int start) const
{
    const BufrValues* const values = _decodedValues.elements();
    const int n = _decodedValues.length();
    if (start < 0 || start >= n)
        return n;
    const int subset = values[start].getSubset();
    int k = start + 1;
    while (k < n && values[k].getSubset() == subset &&
           values[k].getDescriptor() != YEAR_DESCRIPTOR)
        ++k;
    return k;
}

void SatelliteSoundingDecoder::surveyLevels(int start, int& levels, int* profileForms,
                                            int& otherForm, TextString& why)
{
    levels = 0;
    otherForm = 0;
    Profile p[MAX_PROFILES];
    const int n = profiles(p);
    // Per profile, the values the level walk places and whether one of its
    // own elements gives a level a value; per converting form, the values
    // it would place, and per profile the first such form that gives a
    // level a value; per other form, its first level value.
    int placed[MAX_PROFILES] = {};
    bool held[MAX_PROFILES] = {};
    int converted[MAX_PROFILES];
    std::vector<int> convertedPlaced(_profileDescriptors.size(), 0);
    for (int i = 0; i < MAX_PROFILES; ++i) {
        converted[i] = -1;
        profileForms[i] = 0;
    }
    const OtherForm* forms = _otherForms.data();
    std::vector<int> other(_otherForms.size(), -1);
    const int end = soundingEnd(start);
    for (int k = std::max(start, 0); k < end; ++k) {
        const BufrValues& v = _decodedValues[k];
        const ProfileDescriptor* own = profileDescriptor(v.getDescriptor());
        size_t f = 0;
        while (f < other.size() &&
               (forms[f].descriptor != v.getDescriptor() || isSingleForm(forms[f])))
            ++f;
        if ((!own || own->profile < 0) && f == other.size())
            continue;
        const bool level = levelValue(k, false);
        const float value = v.getValue();
        const bool given = ElementForms::given(value);
        if (own && own->profile >= 0 && own->into != 0) {
            const size_t e = static_cast<size_t>(own - _profileDescriptors.data());
            if (level || !p[own->profile].levelTest)
                ++convertedPlaced[e];
            if (level && given && converted[own->profile] < 0)
                converted[own->profile] = static_cast<int>(e);
        } else if (own && own->profile >= 0) {
            if (level || !p[own->profile].levelTest)
                ++placed[own->profile];
            held[own->profile] = held[own->profile] || (level && given);
        } else if (level && given && other[f] < 0) {
            other[f] = k;
        }
    }
    // A profile of whose own elements the levels give no value takes the
    // first converting form they give it in.
    for (int i = 0; i < n; ++i) {
        if (!held[i] && converted[i] >= 0) {
            const ProfileDescriptor& d = _profileDescriptors[static_cast<size_t>(converted[i])];
            profileForms[i] = d.descriptor;
            placed[i] = convertedPlaced[static_cast<size_t>(converted[i])];
            held[i] = true;
        }
        levels = std::max(levels, placed[i]);
    }
    for (size_t f = 0; f < other.size(); ++f) {
        if (other[f] < 0)
            continue;
        int profile = 0;
        while (profile < n && std::strcmp(p[profile].name, forms[f].profile) != 0)
            ++profile;
        if (profile < n && held[profile])
            continue;
        std::string takes;
        for (const ProfileDescriptor& d : _profileDescriptors)
            if (d.name == forms[f].profile)
                takes += (takes.empty() ? "" : " or ") +
                         std::string(BulletinLog::descriptorText(d.descriptor).c_str());
        std::ostringstream text;
        text << "The sounding at value " << start << " gives its " << forms[f].quantity
             << " only as " << BulletinLog::descriptorText(forms[f].descriptor).c_str()
             << ", which the " << _settings.typeName << " store does not hold (it takes "
             << (takes.empty() ? std::string("none") : takes) << ").";
        why = text.str().c_str();
        otherForm = forms[f].descriptor;
        return;
    }
}

int SatelliteSoundingDecoder::countLevels(int start, int subset, int descriptor,
                                          const char* trace, bool levelsOnly, int none)
{
    // The element itself, then the forms of its quantity that convert into
    // it: the first that gives the sounding a value to count makes the
    // count (a sounding's levels take another form where they give none of
    // the element's own).
    std::vector<int> elements(1, descriptor);
    for (const ElementForms::Form* f : ElementForms::forms(ElementForms::quantityOf(descriptor)))
        if (f->descriptor != descriptor && ElementForms::converts(f->descriptor, descriptor))
            elements.push_back(f->descriptor);
    const SeqOf<BufrValues>& all = _decodedValues;
    const BufrValues* const values = all.elements();
    const int n = all.length();
    int first = std::max(start, 0);
    while (first < n && values[first].getSubset() != subset)
        ++first;
    const bool debug = logOn(LogStream::DEBUG, _settings.decoderSource);
    int count = 0;
    bool met = false;
    for (size_t e = 0; e < elements.size() && count == 0; ++e) {
        // In one pass over the sounding's values (as soundingEnd bounds them).
        for (int i = first; i < n; ++i) {
            const BufrValues& v = values[i];
            if (v.getSubset() != subset || (i > first && v.getDescriptor() == YEAR_DESCRIPTOR))
                break;
            if (v.getDescriptor() != elements[e])
                continue;
            met = true;
            if (levelsOnly && !levelValue(i, false))
                continue;
            if (debug)
                DECODER_LOG(DEBUG) << trace << "getProfileCount(): _dV[" << i << "]"
                                   << ", subset: " << v.getSubset()
                                   << ", descriptor: " << v.getDescriptor()
                                   << ", value= " << v.getValue() << std::endl;
            ++count;
        }
    }
    if (!met)
        count = none;
    if (logOn(LogStream::VERBOSE, _settings.decoderSource))
        DECODER_LOG(VERBOSE) << "getProfileCount(): numLvls = " << count << std::endl;
    return count;
}

void SatelliteSoundingDecoder::logLevels()
{
    if (!logOn(LogStream::VERBOSE, _settings.storeSource))
        return;
    Profile p[MAX_PROFILES];
    const int n = profiles(p);
    for (int level = 0; level < _numLevels; ++level) {
        std::ostringstream line;
        for (int i = 0; i < n; ++i)
            if (level < p[i].levels->length())
                line << p[i].label << std::setw(2) << level << "]= " << std::setw(6)
                     << (*p[i].levels)[level];
        QEV_LOG(LogStream::VERBOSE, _settings.storeSource) << line.str() << std::endl;
    }
}

TextString SatelliteSoundingDecoder::timeText(double seconds)
{
    return AbsTime(static_cast<int32_t>(seconds)).toString(TIME_FORMAT);
}

void SatelliteSoundingDecoder::resetLevelIndices()
{
    Profile p[MAX_PROFILES];
    const int n = profiles(p);
    for (int i = 0; i < n; ++i)
        *p[i].cursor = 0;
}

void SatelliteSoundingDecoder::resetValueFlags()
{
    // Made, all 0, by the first sounding whose levels are gathered.
    _valueFlags = SeqOf<int>();
}

void SatelliteSoundingDecoder::saveProfile(int sounding)
{
    if (sounding < 0)
        return;
    Profile p[MAX_PROFILES];
    const int n = profiles(p);
    for (int i = 0; i < n; ++i) {
        if (p[i].saved->length() < sounding + 1)
            p[i].saved->setLength(sounding + 1);
        (*p[i].saved)[sounding] = SeqOf<float>(p[i].levels->elements(), p[i].levels->length());
    }
}

void SatelliteSoundingDecoder::clearProfileArrays()
{
    Profile p[MAX_PROFILES];
    const int n = profiles(p);
    for (int i = 0; i < n; ++i)
        p[i].saved->setLength(0);
}

void SatelliteSoundingDecoder::initLevelArrays()
{
    Profile p[MAX_PROFILES];
    const int n = profiles(p);
    for (int i = 0; i < n; ++i) {
        p[i].levels->setLength(_numLevels);
        float* slots = p[i].levels->elements();
        for (int j = 0; j < _numLevels; ++j)
            slots[j] = LEVEL_FILL;
    }
}

bool SatelliteSoundingDecoder::buildLevels(int start)
{
    initLevelArrays();
    resetLevelIndices();
    Profile p[MAX_PROFILES];
    const int n = profiles(p);
    float* slots[MAX_PROFILES];
    for (int i = 0; i < n; ++i)
        slots[i] = p[i].levels->elements();
    // The level slot of each value placed; made at the first sounding with
    // levels.
    if (_valueFlags.length() < _decodedValues.length())
        _valueFlags.setLength(_decodedValues.length());
    int* const flags = _valueFlags.elements();

    const SeqOf<BufrValues>& values = _decodedValues;
    const int end = soundingEnd(start);
    const bool current = _siteIndex >= 0 && _siteIndex < _soundings.length();
    const Sounding none;
    const Sounding& sounding = current ? _soundings[_siteIndex] : none;
    int k = std::max(start, 0);
    for (; k < end; ++k) {
        const ProfileDescriptor* d = levelDescriptor(values[k].getDescriptor(), sounding);
        if (!d || d->profile < 0)
            continue;
        const Profile& profile = p[d->profile];
        int& cursor = *profile.cursor;
        // A second surplus value of a profile ends the walk (it is the last
        // value marked).
        if (!levelInRange(cursor, _numLevels)) {
            ++k;
            break;
        }
        if (profile.levelTest && !isLevelDescriptor(k))
            continue;
        flags[k] = cursor;
        if (cursor < _numLevels) {
            // A converting form's value as one of the profile's own element.
            double value = values[k].getValue();
            if (d->into != 0 && !ElementForms::convert(d->descriptor, d->into, value))
                value = BufrDecoder::MISSING_VALUE;
            slots[d->profile][cursor] = static_cast<float>(value);
        }
        ++cursor;
    }
    if (current)
        _soundings[_siteIndex].markedEnd = k;
    orderLevels();
    saveProfile(_siteIndex);
    logLevels();
    return true;
}

void SatelliteSoundingDecoder::getProfileArray(int index, SeqOf<float>& values)
{
    values.setLength(0);
    if (index < 0 || index >= _decodedValues.length())
        return;
    const ProfileDescriptor* d = profileDescriptor(_decodedValues[index].getDescriptor());
    if (!d || d->profile < 0)
        return;
    Profile p[MAX_PROFILES];
    profiles(p);
    const SeqOf<SeqOf<float> >& saved = *p[d->profile].saved;
    if (_siteIndex >= 0 && _siteIndex < saved.length())
        values = saved[_siteIndex];
}

const SatelliteSoundingDecoder::ProfileDescriptor*
SatelliteSoundingDecoder::markedProfile(int index) const
{
    if (_siteIndex < 0 || _siteIndex >= _soundings.length())
        return nullptr;
    const Sounding& s = _soundings[_siteIndex];
    if (index < s.valueIndex || index >= s.markedEnd)
        return nullptr;
    return levelDescriptor(_decodedValues[index].getDescriptor(), s);
}

bool SatelliteSoundingDecoder::variableOf(int descriptor, TextString& name)
{
    if (_variables.find(descriptor, name))
        return name.length() > 0;
    const bool found = lookupElementName(descriptor, name, _descriptorDict);
    if (!found)
        name = TextString();
    // A descriptor past the cache's range is looked up every time.
    _variables.insert(descriptor, name);
    return found;
}

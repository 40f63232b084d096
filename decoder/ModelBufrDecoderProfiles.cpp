// The model decoder's profiles: the values of each station placed at their
// levels, so that the storing step writes each profile of a station with one
// array write.
//
// A station is one data subset; the subsets come as contiguous groups in
// increasing order.  A station's levels of a profile are the repetitions of
// the delayed replication that holds the profile's element (the first such
// replication of the station that gives it a value): its k-th repetition is
// level k, and the station's level count is that replication's factor.
// Levels written out (a fixed replication) have no replication of their
// own: the k-th value of the profile's element in the station is level k,
// the element the station gives most often being the levels' (a surface
// value of another element of the quantity is not a level).
//
// A wind given as its direction and speed is placed as the components are:
// a direction with the eastward components' levels, a speed with the
// northward ones', each element at the levels its own values take: a
// repetition of the components' replication (of its own where the station
// gives no components in one), or its own written-out values, given at
// least as often as the components'.  Each level that gives both becomes
// components (windForms::components).
#include "ModelBufrDecoder.h"

#include "BulletinLog.h"
#include "ElementForms.h"
#include "LogStream.h"
#include "LogText.h"
#include "ReportReader.h"
#include "StaticBufrInfo.h"
#include "TableBEntry.h"
#include "windForms.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <map>
#include <unordered_map>

#define MODEL_LOG(category) QEV_LOG(LogStream::category, "ModelBufrDecoder")

namespace {

// The quantities the model store holds in one element each (the template's
// "tblBname", the profile table): a value of another form of one of them
// that neither has a variable of its own nor converts into that element is
// named and its bulletin set aside, never dropped without a word.  A wind's
// direction and speed convert as a pair: only one without its partner at
// its level is named so.
const struct {
    ElementForms::Quantity quantity;
    int held;
} HELD[] = {
    {ElementForms::STATION_NUMBER, 1211}, {ElementForms::WIND, 11003},
    {ElementForms::TEMPERATURE, 12101},   {ElementForms::HUMIDITY, 13001},
    {ElementForms::VERTICAL_WIND, 11005}, {ElementForms::SOIL_MOISTURE, 13226},
    {ElementForms::CLOUD_AMOUNT, 20198},
};

// The quantities the template holds one value of per record that a station
// may give in another form, and the element that holds each: its elevation
// (in metres) and its station number.  A station gives such a value once,
// outside its levels; an element it gives more often is of its levels, a
// quantity the template does not hold.
const struct {
    ElementForms::Quantity quantity;
    int into;
} STATION_VALUES[] = {{ElementForms::ELEVATION, 7001}, {ElementForms::STATION_NUMBER, 1211}};

int heldForm(int descriptor)
{
    const ElementForms::Quantity quantity = ElementForms::quantityOf(descriptor);
    for (const auto& h : HELD)
        if (h.quantity == quantity)
            return ElementForms::converts(descriptor, h.held) ? 0 : h.held;
    return 0;
}

// Of a wind given as direction and speed: 0 for a direction, 1 for a
// speed (in any unit), -1 for another element.
int windPart(int descriptor)
{
    const ElementForms::Form* f = ElementForms::form(descriptor);
    return !f || f->quantity != ElementForms::WIND ? -1
           : f->measure == ElementForms::DIRECTION ? 0
           : f->measure == ElementForms::SPEED     ? 1
                                                   : -1;
}

// The speed element whose unit windForms takes (m/s).
const int WIND_SPEED = 11002;

// A decoded wind speed in m/s, whatever its element's unit.
double speedInMetres(const BufrValues& speed)
{
    double metres = speed.getValue();
    ElementForms::convert(speed.getDescriptor(), WIND_SPEED, metres);
    return metres;
}

// Half a unit of the last digit table B codes the element with, in the
// element's unit; 0 for an element the tables lack.
double halfUnit(int descriptor)
{
    TableBEntry entry;
    return StaticBufrInfo::instance()->getTableBEntry(descriptor, entry)
               ? 0.5 * std::pow(10.0, -entry.getScale())
               : 0.0;
}

// Whether a wind given as a direction and a speed (m/s) differs from the
// components given beside it (u, v; null or missing where not given) by
// more than the precision their elements are coded with; direction and
// speed given.
bool windsDiffer(const BufrValues& direction, double speed, int speedElement,
                 const BufrValues* u, const BufrValues* v)
{
    double made[2] = {0, 0};
    if (!windForms::components(direction.getValue(), speed, made[0], made[1]))
        return true;
    double speedUnit = halfUnit(speedElement);
    ElementForms::convert(speedElement, WIND_SPEED, speedUnit);
    const double radians = 3.14159265358979323846 / 180.0;
    double within = speed * halfUnit(direction.getDescriptor()) * radians + speedUnit +
                    1e-6 * (1.0 + speed);
    double apart = 0;
    const BufrValues* given[2] = {u, v};
    for (int k = 0; k < 2; ++k)
        if (given[k] && ElementForms::given(given[k]->getValue())) {
            apart += std::pow(made[k] - given[k]->getValue(), 2);
            within += halfUnit(given[k]->getDescriptor());
        }
    return std::sqrt(apart) > within;
}

// The table B name of a descriptor, or "" where the tables lack it.
TextString elementName(int descriptor)
{
    TableBEntry entry;
    return StaticBufrInfo::instance()->getTableBEntry(descriptor, entry) ? entry.getDescription()
                                                                         : TextString();
}

TextString text(long n)
{
    return std::to_string(n).c_str();
}

// The repetitions of the replications in a scope, at any depth: the
// replication and repetition number of each repetition scope.
void collectRepetitions(const ReportReader& reader, int scope,
                        std::unordered_map<int, std::pair<const ReportReader::Replication*, int> >&
                            out)
{
    for (const ReportReader::Replication* r : reader.replicationsIn(scope))
        for (size_t k = 0; k < r->repetitions.size(); ++k) {
            out[r->repetitions[k]] = std::make_pair(r, static_cast<int>(k));
            collectRepetitions(reader, r->repetitions[k], out);
        }
}

} // namespace

TextString ModelBufrDecoder::namedElement(int descriptor)
{
    return BulletinLog::descriptorText(descriptor) + " (" + elementName(descriptor) + ")";
}

int ModelBufrDecoder::profileIndex(const TextString& name)
{
    for (int p = 0; p < NUM_PROFILES; ++p)
        if (name == PROFILE_NAMES[p])
            return p;
    return -1;
}

bool ModelBufrDecoder::isSoundingCategory(int category)
{
    return category == 2 || category == 13 || (category >= 240 && category <= 255);
}

int ModelBufrDecoder::levelIndex(int valueIndex) const
{
    return valueIndex >= 0 && valueIndex < _levelIndexes.length() ? _levelIndexes[valueIndex] : 0;
}

ModelBufrDecoder::ValueRole ModelBufrDecoder::valueRole(int valueIndex) const
{
    return valueIndex >= 0 && static_cast<size_t>(valueIndex) < _roles.size()
               ? static_cast<ValueRole>(_roles[static_cast<size_t>(valueIndex)])
               : NO_PROFILE;
}

int ModelBufrDecoder::stationLevels(int s) const
{
    return s >= 0 && static_cast<size_t>(s) < _stations.size() ? _stations[s].levels : -1;
}

int ModelBufrDecoder::stationSoilLayers(int s) const
{
    return s >= 0 && static_cast<size_t>(s) < _stations.size() ? _stations[s].soilLayers : -1;
}

void ModelBufrDecoder::resolveProfileVariables(ModelOutput& output) const
{
    for (TextString& variable : output.profileVariables)
        variable = TextString();
    for (int k = 0; k < _profileDescriptors.count(); ++k) {
        const int p = profileIndex(_profileDescriptors.value(k));
        TextString variable;
        if (p >= 0 && output.profileVariables[p].length() == 0 &&
            lookupElementName(_profileDescriptors.key(k), variable, output.templateDict))
            output.profileVariables[p] = variable;
    }
}

int ModelBufrDecoder::profileOf(int descriptor, std::vector<signed char>& cache) const
{
    const bool cached = descriptor >= 0 && static_cast<size_t>(descriptor) < cache.size();
    if (cached && cache[static_cast<size_t>(descriptor)] != -2)
        return cache[static_cast<size_t>(descriptor)];
    int p = -1;
    TextString name;
    if (_profileDescriptors.find(descriptor, nullptr, &name)) {
        p = profileIndex(name);
    } else if (_current && lookupElementName(descriptor, name, _current->templateDict)) {
        for (int q = 0; q < NUM_PROFILES && p < 0; ++q)
            if (_current->profileVariables[q].length() > 0 && name == _current->profileVariables[q])
                p = q;
    }
    if (cached)
        cache[static_cast<size_t>(descriptor)] = static_cast<signed char>(p);
    return p;
}

bool ModelBufrDecoder::isOtherForm(const BufrValues& value) const
{
    if (!ElementForms::given(value.getValue()) || value.getCharValue().length() > 0)
        return false;
    // A template that gives the element a variable of its own stores it.
    return heldForm(value.getDescriptor()) != 0 && !hasOwnVariable(value.getDescriptor());
}

bool ModelBufrDecoder::hasOwnVariable(int descriptor) const
{
    TextString name;
    return _current && lookupElementName(descriptor, name, _current->templateDict);
}

int ModelBufrDecoder::stationFormInto(int descriptor)
{
    for (const auto& value : STATION_VALUES)
        if (ElementForms::gives(descriptor, value.quantity) &&
            ElementForms::converts(descriptor, value.into))
            return value.into;
    return 0;
}

void ModelBufrDecoder::markStationForms(const ReportReader& reader)
{
    for (const StationLevels& station : _stations) {
        const int top = reader.subsetScope(_decodedValues[station.begin].getSubset());
        for (int i = station.begin; i < station.end; ++i) {
            const BufrValues& value = _decodedValues[i];
            const int d = value.getDescriptor();
            if (_roles[static_cast<size_t>(i)] != NO_PROFILE ||
                _valueProfiles[static_cast<size_t>(i)] >= 0 || stationFormInto(d) == 0 ||
                value.getCharValue().length() > 0 || reader.scopeOf(i) != top)
                continue;
            // A template that gives the element a variable of its own
            // stores it as it is.
            if (hasOwnVariable(d))
                continue;
            int count = 0;
            for (int k = station.begin; k < station.end && count < 2; ++k)
                count += _decodedValues[k].getDescriptor() == d;
            if (count == 1)
                _roles[static_cast<size_t>(i)] = STATION_FORM;
        }
    }
}

int ModelBufrDecoder::templateLevels(bool soil) const
{
    return !_current ? INT_MAX : soil ? _current->maxSoilLvls : _current->maxProfLvls;
}

int ModelBufrDecoder::profileLength(bool soil) const
{
    const int limit = templateLevels(soil);
    return limit < INT_MAX ? limit : soil ? _fileSoilLayers : _fileLevels;
}

int ModelBufrDecoder::placementSlot(int i) const
{
    return _valueSlots[static_cast<size_t>(i)];
}

void ModelBufrDecoder::placeStationLevels(const ReportReader& reader, StationLevels& station)
{
    const int top = reader.subsetScope(_decodedValues[station.begin].getSubset());
    std::unordered_map<int, std::pair<const ReportReader::Replication*, int> > repetitions;
    if (top != ReportReader::NONE)
        collectRepetitions(reader, top, repetitions);
    const auto repetitionOf = [&](int i) {
        const auto at = repetitions.find(reader.scopeOf(i));
        return at == repetitions.end() ? nullptr : &at->second;
    };

    // Per profile, the replication of its levels (the first that gives it
    // a value), else per slot the element of its written-out levels: the
    // one the station gives most often outside any replication, the first
    // of those given as often.  A wind's direction and speed have slots of
    // their own beside their profiles': the components' replication is
    // their profile's, theirs where the station gives no components in one.
    const ReportReader::Replication* levelsOf[NUM_SLOTS] = {};
    std::vector<std::pair<int, int> > written[NUM_SLOTS];    // (element, values)
    for (int i = station.begin; i < station.end; ++i) {
        const int slotOf = placementSlot(i);
        if (slotOf < 0)
            continue;
        if (const auto* at = repetitionOf(i)) {
            if (!levelsOf[slotOf])
                levelsOf[slotOf] = at->first;
            continue;
        }
        const int d = _decodedValues[i].getDescriptor();
        std::vector<std::pair<int, int> >& slot = written[slotOf];
        auto e = std::find_if(slot.begin(), slot.end(),
                              [d](const std::pair<int, int>& w) { return w.first == d; });
        if (e == slot.end())
            slot.push_back(std::make_pair(d, 1));
        else
            ++e->second;
    }
    std::pair<int, int> levelElement[NUM_SLOTS];
    for (int slot = 0; slot < NUM_SLOTS; ++slot)
        for (const std::pair<int, int>& w : written[slot])
            if (w.second > levelElement[slot].second)
                levelElement[slot] = w;
    // Written-out directions and speeds are levels where the station gives
    // them at least as often as the components of their profile; they
    // count as levels where both are.
    int windCount[2] = {};
    for (int part = 0; part < 2; ++part) {
        const int p = profileIndex(part == 0 ? "UWIND" : "VWIND");
        if (!levelsOf[p])
            levelsOf[p] = levelsOf[DIRECTION_SLOT + part];
        std::pair<int, int>& wind = levelElement[DIRECTION_SLOT + part];
        if (levelsOf[p] || wind.second < levelElement[p].second)
            wind = std::pair<int, int>();
        windCount[part] = wind.second;
    }
    const int windLevels = std::min(windCount[0], windCount[1]);

    int counts[NUM_SLOTS] = {};
    // Per slot and level, the value placed there (its index + 1; 0 none).
    std::vector<int> held[NUM_SLOTS];
    for (int i = station.begin; i < station.end; ++i) {
        const int p = _valueProfiles[static_cast<size_t>(i)];
        if (p < 0)
            continue;
        const int slot = placementSlot(i);
        const bool soil = p >= NUM_ATMOSPHERIC_PROFILES;
        int& levels = soil ? station.soilLayers : station.levels;
        int level = -1;
        if (const auto* at = repetitionOf(i)) {
            if (at->first == levelsOf[p]) {
                level = at->second;
                levels = std::max(levels, at->first->factor);
            }
        } else if (!levelsOf[p] && levelElement[slot].second > 0 &&
                   _decodedValues[i].getDescriptor() == levelElement[slot].first) {
            level = counts[slot]++;
            levels = std::max(levels, slot < NUM_PROFILES ? levelElement[slot].second : windLevels);
        }
        ValueRole role = OUTSIDE_LEVELS;
        if (level >= templateLevels(soil)) {
            role = BEYOND_TEMPLATE;
        } else if (level >= 0) {
            std::vector<int>& taken = held[slot];
            if (taken.size() <= static_cast<size_t>(level))
                taken.resize(static_cast<size_t>(level) + 1, 0);
            _levelIndexes[i] = level;
            if (taken[static_cast<size_t>(level)]) {
                role = SECOND_VALUE;
            } else {
                role = LEVEL;
                taken[static_cast<size_t>(level)] = i + 1;
            }
        }
        _roles[static_cast<size_t>(i)] = static_cast<unsigned char>(role);
    }
    pairWinds(held);

    // The first level value of each profile writes it.
    bool placed[NUM_PROFILES] = {};
    for (int i = station.begin; i < station.end; ++i) {
        const int p = _valueProfiles[static_cast<size_t>(i)];
        if (p >= 0 && _roles[static_cast<size_t>(i)] == LEVEL && !placed[p]) {
            _roles[static_cast<size_t>(i)] = FIRST_LEVEL;
            placed[p] = true;
        }
    }
}

void ModelBufrDecoder::pairWinds(const std::vector<int> (&held)[NUM_SLOTS])
{
    const std::vector<int>& uHeld = held[profileIndex("UWIND")];
    const std::vector<int>& vHeld = held[profileIndex("VWIND")];
    const auto at = [](const std::vector<int>& slot, size_t level) {
        return level < slot.size() ? slot[level] - 1 : -1;
    };
    const size_t levels = std::max(held[DIRECTION_SLOT].size(), held[SPEED_SLOT].size());
    for (size_t level = 0; level < levels; ++level) {
        const int direction = at(held[DIRECTION_SLOT], level);
        const int speed = at(held[SPEED_SLOT], level);
        // A direction without a speed, or the reverse, is no wind the store
        // holds.
        if ((direction < 0) != (speed < 0)) {
            _roles[static_cast<size_t>(direction < 0 ? speed : direction)] = OTHER_FORM;
            continue;
        }
        const int u = at(uHeld, level), v = at(vHeld, level);
        if (direction < 0 || (u < 0 && v < 0))
            continue;
        // Components at the level too: they are kept, and a direction and
        // speed that differ from them are a second value for the level.
        const double metres = speedInMetres(_decodedValues[speed]);
        const int speedElement = _decodedValues[speed].getDescriptor();
        if (ElementForms::given(_decodedValues[direction].getValue()) &&
            ElementForms::given(metres) &&
            windsDiffer(_decodedValues[direction], metres, speedElement,
                        u < 0 ? nullptr : &_decodedValues[u], v < 0 ? nullptr : &_decodedValues[v]))
            _roles[static_cast<size_t>(direction)] = _roles[static_cast<size_t>(speed)] =
                SECOND_VALUE;
    }
}

bool ModelBufrDecoder::preProcess()
{
    const int n = _decodedValues.length();
    _levelIndexes.setLength(n);
    for (int i = 0; i < n; ++i)
        _levelIndexes[i] = 0;
    _roles.assign(static_cast<size_t>(n), NO_PROFILE);
    _valueProfiles.assign(static_cast<size_t>(n), -1);
    _valueSlots.assign(static_cast<size_t>(n), -1);
    _stations.clear();
    _profilesOf = -1;
    _fileLevels = _fileSoilLayers = 0;
    if (n == 0)
        return true;

    // Each value's profile, and its mark; the stations' values.
    std::vector<signed char> cache(DescriptorNameCache::SIZE, -2);
    // Per descriptor, windPart's answer (-2: not asked yet).
    std::vector<signed char> parts(DescriptorNameCache::SIZE, -2);
    const auto partOf = [&parts](int d) {
        if (d < 0 || static_cast<size_t>(d) >= parts.size())
            return windPart(d);
        signed char& part = parts[static_cast<size_t>(d)];
        if (part == -2)
            part = static_cast<signed char>(windPart(d));
        return static_cast<int>(part);
    };
    const int uWind = profileIndex("UWIND"), vWind = profileIndex("VWIND");
    for (int i = 0; i < n; ++i) {
        BufrValues& value = _decodedValues[i];
        if (i == 0 || value.getSubset() != _decodedValues[i - 1].getSubset()) {
            if (!_stations.empty())
                _stations.back().end = i;
            _stations.push_back(StationLevels());
            _stations.back().begin = i;
        }
        // A text (the station id) is no profile's.
        int p = -1;
        TextString name;
        if (_profileDescriptors.find(value.getDescriptor(), nullptr, &name)) {
            value.setCharValue(name);
            p = profileIndex(name);
        } else if (value.getCharValue().length() == 0) {
            p = profileOf(value.getDescriptor(), cache);
            if (p >= 0)
                value.setCharValue(PROFILE_NAMES[p]);
        }
        // A wind's direction or speed, where the template has no variable
        // of its element, is placed with the components, at a slot of its
        // own.
        const int part = partOf(value.getDescriptor());
        if (p < 0 && part >= 0 && value.getCharValue().length() == 0 &&
            !hasOwnVariable(value.getDescriptor()))
            p = part == 0 ? uWind : vWind;
        _valueProfiles[static_cast<size_t>(i)] = static_cast<signed char>(p);
        const bool wind = part >= 0 && (p == uWind || p == vWind);
        _valueSlots[static_cast<size_t>(i)] =
            static_cast<signed char>(wind ? DIRECTION_SLOT + part : p);
        if (p < 0 && isOtherForm(value))
            _roles[static_cast<size_t>(i)] = OTHER_FORM;
    }
    _stations.back().end = n;

    const ReportReader reader(_decodedValues, {_descriptors, _replDescList, _nestedRepList,
                                               _repCountList, _subsets, _compressed});
    // Counts first: a template without level dimensions takes the file's
    // largest.
    for (StationLevels& station : _stations) {
        placeStationLevels(reader, station);
        _fileLevels = std::max(_fileLevels, station.levels);
        _fileSoilLayers = std::max(_fileSoilLayers, station.soilLayers);
    }
    markStationForms(reader);
    return true;
}

void ModelBufrDecoder::buildStationProfiles(int s)
{
    if (_profilesOf == s)
        return;
    _profilesOf = s;
    for (int p = 0; p < NUM_PROFILES; ++p) {
        SeqOf<float>& profile = _stationProfiles[p];
        profile.setLength(profileLength(p >= NUM_ATMOSPHERIC_PROFILES));
        for (int level = 0; level < profile.length(); ++level)
            profile[level] = PROFILE_FILL;
    }
    if (s < 0 || static_cast<size_t>(s) >= _stations.size())
        return;
    // The direction and speed placed at each level (value indexes).
    std::vector<int> wind[2];
    for (int i = _stations[s].begin; i < _stations[s].end; ++i) {
        const ValueRole role = valueRole(i);
        if (role != LEVEL && role != FIRST_LEVEL)
            continue;
        const int slot = placementSlot(i);
        const size_t level = static_cast<size_t>(_levelIndexes[i]);
        if (slot < NUM_PROFILES) {
            _stationProfiles[slot][_levelIndexes[i]] = _decodedValues[i].getValue();
            continue;
        }
        std::vector<int>& part = wind[slot - DIRECTION_SLOT];
        if (part.size() <= level)
            part.resize(level + 1, -1);
        part[level] = i;
    }
    // A level's direction and speed make the components it does not give
    // (a missing one: missing components).
    SeqOf<float>* components[2] = {&_stationProfiles[profileIndex("UWIND")],
                                   &_stationProfiles[profileIndex("VWIND")]};
    const size_t pairs = std::min(wind[0].size(), wind[1].size());
    for (size_t level = 0; level < pairs; ++level) {
        const int direction = wind[0][level], speed = wind[1][level];
        if (direction < 0 || speed < 0)
            continue;
        const double metres = speedInMetres(_decodedValues[speed]);
        double made[2] = {windForms::MISSING, windForms::MISSING};
        windForms::components(_decodedValues[direction].getValue(), metres, made[0], made[1]);
        for (int k = 0; k < 2; ++k) {
            float& held = (*components[k])[static_cast<int>(level)];
            if (held == PROFILE_FILL || !ElementForms::given(held))
                held = static_cast<float>(made[k]);
        }
    }
}

void ModelBufrDecoder::collectProfiles(int valueIndex, SeqOf<float>& profile)
{
    profile = SeqOf<float>();
    const ValueRole role = valueRole(valueIndex);
    if (role != LEVEL && role != FIRST_LEVEL)
        return;
    // The station of the value: the stations are in the order of the values.
    const auto at = std::upper_bound(
        _stations.begin(), _stations.end(), valueIndex,
        [](int i, const StationLevels& station) { return i < station.begin; });
    const int s = static_cast<int>(at - _stations.begin()) - 1;
    buildStationProfiles(s);
    profile = _stationProfiles[_valueProfiles[static_cast<size_t>(valueIndex)]];
}

SeqOf<SeqOf<float> > ModelBufrDecoder::profileList(int profile)
{
    SeqOf<SeqOf<float> > list;
    for (size_t s = 0; s < _stations.size(); ++s) {
        buildStationProfiles(static_cast<int>(s));
        list.append(_stationProfiles[profile]);
    }
    return list;
}

void ModelBufrDecoder::clearProfileLists()
{
    _stations.clear();
    _roles.clear();
    _valueProfiles.clear();
    _valueSlots.clear();
    _profilesOf = -1;
}

void ModelBufrDecoder::noteUnstored(int i, const TextString& station, int stationIndex)
{
    const BufrValues& value = _decodedValues[i];
    const ValueRole role = valueRole(i);
    const int p = _valueProfiles[static_cast<size_t>(i)];
    const int d = value.getDescriptor();
    const TextString sounding =
        TextString("Sounding ") + LogText(station).escaped().c_str() + " gives ";
    TextString reason;
    const char* kind = nullptr;
    if (role == BEYOND_TEMPLATE) {
        // Once per station and kind of level.
        const bool soil = p >= NUM_ATMOSPHERIC_PROFILES;
        const int named = stationIndex * 2 + (soil ? 1 : 0);
        if (_beyondNamed == named)
            return;
        _beyondNamed = named;
        const StationLevels& levels = _stations[static_cast<size_t>(stationIndex)];
        reason = sounding +
                 text(soil ? levels.soilLayers : levels.levels) +
                 (soil ? " soil layers, the store holds " : " levels, the store holds ") +
                 text(templateLevels(soil)) + ".";
        kind = "levels past those the store holds";
    } else if (!ElementForms::given(value.getValue())) {
        // A missing value loses nothing.
        return;
    } else if (role == OTHER_FORM) {
        reason = sounding + namedElement(d) +
                 ", which the store holds only as " + namedElement(heldForm(d)) + ".";
        kind = "a value the store holds under another element";
    } else if (role == SECOND_VALUE) {
        reason = sounding + namedElement(d) +
                 " a second time for level " + text(_levelIndexes[i] + 1) + " of " +
                 PROFILE_NAMES[p] + ".";
        kind = "a second value for a level";
    } else {
        reason = sounding + namedElement(d) +
                 " outside its levels; the store holds " + PROFILE_NAMES[p] + " only at levels.";
        kind = "a value outside the levels";
    }
    if (_unstoredReason.length() == 0)
        _unstoredReason = reason;
    if (!_bulletinLog.admit("ModelBufrDecoder", kind))
        return;
    if (role == BEYOND_TEMPLATE)
        MODEL_LOG(PROBLEM) << reason << "  The levels past those are not stored." << std::endl;
    else
        MODEL_LOG(PROBLEM) << reason << "  Value " << value.getValue() << " not stored."
                           << std::endl;
}

// The profiler decoder's construction, configuration, network, stations,
// times, notification and profile pre-processing.  Its storing is in
// StoreProfiler.cpp.
#include "ProfBufrDecoder.h"

#include "AbsTime.h"
#include "LineFile.h"
#include "LogStream.h"
#include "NetcdfPointData.h"
#include "StoreTemplate.h"
#include "StringTokenizer.h"
#include "TimeRange.h"
#include "dmNotify.h"
#include "windForms.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <set>
#include <sstream>

#define PROF_LOG(category) QEV_LOG(LogStream::category, "ProfBufrDecoder")
#define STORE_LOG(category) QEV_LOG(LogStream::category, "StoreProfiler")

namespace {

const int BLOCK_NUMBER = 1001;
const int STATION_NUMBER = 1002;
const int YEAR = 4001;
const int STATION_HEIGHT = 7001;
const int HEIGHT_ABOVE_STATION = 7006;
const int STATION_GROUND = 7030;
const int WIND_DIRECTION = 11001;
const int WIND_SPEED = 11002;
const char* const NPN = "NPN";
const char* const CAP = "CAP";

// The groups of the per-level trace, in the order of the level arrays.
const char* const LEVEL_TRACE[ProfBufrDecoder::NUM_ARRAYS] = {
    "           _hgts[", "        _lvlmode[", "              _u[", "              _v[",
    "              _w[", "        _pkPower[", "           _uvQC[", "  _uvConsensusNo[",
    "   _wConsensusNo[", "      _horiWSdev[", "      _vertWSdev["};

// The level arrays of the other form of the horizontal wind.
const char* const WIND_FORM_NAMES[] = {"WINDDIRECTION", "WINDSPEED"};

const char* levelArrayName(int array)
{
    return array < ProfBufrDecoder::NUM_ARRAYS ? ProfBufrDecoder::ARRAY_NAMES[array]
                                               : WIND_FORM_NAMES[array - ProfBufrDecoder::NUM_ARRAYS];
}

// A level value that holds a number: reached by a value, and not missing.
bool levelValue(float value)
{
    return value != ProfBufrDecoder::LEVEL_FILL && windForms::given(value);
}

// A decoded number as a whole number, truncated; -1 for what is none or
// lies beyond what any field here holds.
long whole(float value)
{
    return value == value && value > -1e9f && value < 1e9f ? static_cast<long>(value) : -1;
}

// Year, month, day, hour and minute that make a time.
bool calendarTime(const long f[5])
{
    return f[0] >= 1970 && f[0] <= 2037 && f[1] >= 1 && f[1] <= 12 && f[2] >= 1 &&
           f[2] <= AbsTime::daysInMonth(static_cast<int>(f[1]), static_cast<int>(f[0])) &&
           f[3] >= 0 && f[3] <= 23 && f[4] >= 0 && f[4] <= 59;
}

// The time of the year to minute values at q, q + 4 (seconds 0); false when
// they are no such group or no time.
bool groupTime(const SeqOf<BufrValues>& values, int q, AbsTime& t)
{
    if (q < 0 || q + 4 >= values.length())
        return false;
    long field[5];
    for (int f = 0; f < 5; ++f) {
        if (values[q + f].getDescriptor() != YEAR + f)
            return false;
        field[f] = whole(values[q + f].getValue());
    }
    if (!calendarTime(field))
        return false;
    t = AbsTime(static_cast<int>(field[0]), static_cast<int>(field[1]),
                static_cast<int>(field[2]), static_cast<int>(field[3]),
                static_cast<int>(field[4]), 0);
    return true;
}

// A name field without its trailing blanks.
TextString cutTrailingBlanks(const TextString& text)
{
    int n = text.length();
    while (n > 0 && text.c_str()[n - 1] == ' ')
        --n;
    return n < text.length() ? text.subString(0, n) : text;
}

} // namespace

const char* const ProfBufrDecoder::ARRAY_NAMES[NUM_ARRAYS] = {
    "HEIGHTS", "LEVELMODE",     "UCOMP",        "VCOMP",          "WCOMP",         "PEAKPOWER",
    "QCCODE",  "UVCONSENSUSNO", "WCONSENSUSNO", "HORIWINDSPDSTD", "VERTWINDSPDSTD"};

const float ProfBufrDecoder::LEVEL_FILL = 1e37f;

BufrFileDecoder::Record ProfBufrDecoder::profilerRecord()
{
    Record r;
    r.sourceName = "ProfBufrDecoder";
    r.ingestPath = "/ispan/bufr/prof";
    r.badPath = "/ispan/badProfiler";
    r.statFailureText = " stat() failure on file ";
    r.rejectionText = " is not a profiler BUFR file.";
    r.readingTrace = " profilerBufrData.......";
    r.storedText = "MXR_STOREd to netcdf file: ";
    r.failedWriteReason = "Unable to MXR_STORE netcdf data.";
    r.logDirectoryName = false;
    r.pauseMicroseconds = 300000;
    return r;
}

int ProfBufrDecoder::arrayIndex(const TextString& name)
{
    for (int a = 0; a < NUM_ARRAYS; ++a)
        if (name == ARRAY_NAMES[a])
            return a;
    return -1;
}

namespace {

// The lines of the profiler's writes.
const RecordWriter::Rules PROFILER_WRITES = {
    "StoreProfiler",
    "getVarId (%n) error: %e",
    "insertDecodedValues (%n) error: %e",
    "putLvlCountsNetcdf(), nc_put_var1_int() error: %e",
    "putTextValue: the text of variable %v at record %r was not written: %e",
    nullptr,
    nullptr,
    "storeArray (%n) error: %e",
    "storeArray (%n): %c levels, the variable holds %l; the levels above not stored.",
    true,
    false,
};

} // namespace

ProfBufrDecoder::ProfBufrDecoder() : BufrFileDecoder(profilerRecord()), _writer(PROFILER_WRITES)
{
    clearArrayCounters();
    if (init())
        processBufrDirectory();
}

// Runs at process exit, after the point-data files were closed: members
// only, no log line and no netCDF call.
ProfBufrDecoder::~ProfBufrDecoder() {}

TextString ProfBufrDecoder::getPatternFileName() const
{
    static const TextString name("profBufrPattern.txt");
    return name;
}

bool ProfBufrDecoder::init()
{
    _dataTypeName = "Profiler";
    _timeout = 36000;
    if (!readArrayDescTable()) {
        PROF_LOG(PROBLEM) << "Unable to create descriptor dictionary for profilers." << std::endl;
        return false;
    }
    const char* data = std::getenv("QEV_DATA");
    const TextString root = TextString(data ? data : "") + "/point";
    _npnDir = root + "/prof/netcdf";
    _capDir = root + "/CAP/netcdf";
    _npnStore = NetcdfPointData::getNetcdfPointData(_npnDir, true, false);
    _capStore = NetcdfPointData::getNetcdfPointData(_capDir, true, false);
    readTemplate(_npnDir, _npnVarDict, _npnLevels);
    readTemplate(_capDir, _capVarDict, _capLevels);
    _initialised = true;
    return true;
}

void ProfBufrDecoder::readTemplate(const TextString& dir, Dict<TextString, TextString>& names,
                                   int& levels)
{
    StoreTemplate t = StoreTemplate::read(dir + "/template", {"levels"});
    names = t.names;
    levels = t.lengths[0] >= 0 && t.lengths[0] < INT_MAX ? static_cast<int>(t.lengths[0]) : INT_MAX;
}

bool ProfBufrDecoder::readArrayDescTable()
{
    const char* home = std::getenv("QEV_HOME");
    const TextString path = TextString(home ? home : "") + "/data/profArrayDescTable.txt";
    LineFile file(path);
    if (!file.isOpen()) {
        PROF_LOG(PROBLEM) << "Unable to get profiler descriptor variable list from " << path
                          << std::endl;
        return false;
    }
    TextString line;
    std::vector<int> order;
    while (file.readLine(line, false)) {
        if (line.length() > 0 && line.c_str()[0] == '#')
            continue;
        StringTokenizer fields(line, "|", false);
        const TextString first = fields.nextToken();
        const TextString name = cutTrailingBlanks(fields.nextToken());
        if (first.length() == 0 || name.length() == 0) {
            PROF_LOG(PROBLEM) << "Line error in " << path << " [" << line << "]" << std::endl;
            continue;
        }
        const int descriptor = static_cast<int>(std::strtol(first.c_str(), nullptr, 10));
        if (!_arrayTable.find(descriptor, nullptr, nullptr))
            order.push_back(descriptor);
        _arrayTable.insert(descriptor, name);
    }
    _heightElements.clear();
    for (int d : order) {
        TextString name;
        if (_arrayTable.find(d, nullptr, &name) && arrayIndex(name) == HEIGHTS)
            _heightElements.push_back(d);
    }
    return true;
}

bool ProfBufrDecoder::checkFileName(const TextString& name)
{
    _networkName = TextString();
    return BufrFileDecoder::checkFileName(name);
}

bool ProfBufrDecoder::checkDesignator(const TextString& designator)
{
    const char last = designator.length() > 0 ? designator.c_str()[designator.length() - 1] : '\0';
    const int digit = last >= '0' && last <= '9' ? last - '0' : 0;
    if (digit == 3) {
        _networkName = NPN;
    } else if (digit == 0 || digit == 6) {
        _networkName = CAP;
    } else {
        PROF_LOG(PROBLEM) << "Unknown profiler designator: " << digit << std::endl;
        return false;
    }
    return true;
}

SeqOf<long> ProfBufrDecoder::getStationIds() const
{
    SeqOf<long> ids;
    const SeqOf<BufrValues>& values = _decodedValues;
    // A block number that is the last value has no station number, nor one
    // that another element follows.
    for (int i = 0; i + 1 < values.length(); ++i) {
        if (values[i].getDescriptor() != BLOCK_NUMBER)
            continue;
        const long block = whole(values[i].getValue());
        const long number = values[i + 1].getDescriptor() == STATION_NUMBER &&
                                    values[i + 1].getSubset() == values[i].getSubset()
                                ? whole(values[i + 1].getValue())
                                : -1;
        ids.append(block < 0 || number < 0 ? -1 : block * 1000 + number);
    }
    return ids;
}

void ProfBufrDecoder::leaveOut(const char* kind, const TextString& line,
                               const TextString& reason)
{
    if (_bulletinLog.admit("StoreProfiler", kind))
        STORE_LOG(PROBLEM) << line << std::endl;
    // A record that is no profile holds nothing to lose: the bulletin is set
    // aside for it only when none of its records is one.
    TextString& first = std::strcmp(kind, NO_PROFILE) == 0 ? _noProfile : _refusal;
    if (first.length() == 0)
        first = reason;
}

const ReportReader::Replication* ProfBufrDecoder::levelGroup(int scope, int begin, int end) const
{
    for (const ReportReader::Replication* rep : _reader->replicationsIn(scope)) {
        if (rep->position < begin || rep->position > end)
            continue;
        const SeqOf<int>& group = *rep->group;
        for (int g = 0; g < group.length(); ++g) {
            TextString name;
            int array = -1;
            if (levelElement(group[g], name, array))
                return rep;
        }
    }
    return nullptr;
}

std::vector<ProfBufrDecoder::Period> ProfBufrDecoder::periodsOf(int top, int begin,
                                                                 int end) const
{
    const ReportReader& r = *_reader;
    std::vector<Period> periods;
    // The repetitions of a replication that hold a time group of their own.
    for (int child : r.children(top)) {
        if (r.begin(child) < begin || r.begin(child) >= end)
            continue;
        const int year = r.first(child, YEAR);
        if (year != ReportReader::NONE)
            periods.push_back(Period{child, begin, end, year});
    }
    if (!periods.empty())
        return periods;
    // Else the station's time groups that open levels of their own (a
    // replication of levels, or level values, before the next time group).
    const std::vector<int> years = r.all(top, YEAR, begin, end);
    std::vector<int> openers;
    for (size_t t = 0; t < years.size(); ++t) {
        const int to = t + 1 < years.size() ? years[t + 1] : end;
        bool levels = levelGroup(top, years[t] + 1, to) != nullptr;
        for (int i : r.plainValues(top, years[t], to)) {
            TextString name;
            int array = -1;
            levels = levels || levelElement(_decodedValues[i].getDescriptor(), name, array);
        }
        if (levels)
            openers.push_back(years[t]);
    }
    if (openers.size() < 2)
        return {Period{top, begin, end, years.empty() ? ReportReader::NONE : years.front()}};
    // Each runs to the next; the first takes the station's values before it.
    for (size_t k = 0; k < openers.size(); ++k)
        periods.push_back(Period{top, k == 0 ? begin : openers[k],
                                 k + 1 < openers.size() ? openers[k + 1] : end, openers[k]});
    return periods;
}

bool ProfBufrDecoder::levelElement(int descriptor, TextString& name, int& array) const
{
    if (_arrayTable.find(descriptor, nullptr, &name)) {
        array = arrayIndex(name);
        for (int w = 0; array < 0 && w < NUM_LEVEL_ARRAYS - NUM_ARRAYS; ++w)
            if (name == WIND_FORM_NAMES[w])
                array = NUM_ARRAYS + w;
        return true;
    }
    if (descriptor != WIND_DIRECTION && descriptor != WIND_SPEED)
        return false;
    array = descriptor == WIND_DIRECTION ? WINDDIRECTION : WINDSPEED;
    name = levelArrayName(array);
    return true;
}

std::vector<int> ProfBufrDecoder::singleValues(const StationRecord& r) const
{
    std::vector<int> own = _reader->ownValues(r.scope, r.from, r.to);
    if (r.from == r.begin && r.to == r.end)
        return own;
    std::set<int> given;
    for (int i : own)
        given.insert(_decodedValues[i].getDescriptor());
    for (int i : _reader->ownValues(r.scope, r.begin, r.end))
        if (!given.count(_decodedValues[i].getDescriptor()))
            own.push_back(i);
    std::sort(own.begin(), own.end());
    return own;
}

bool ProfBufrDecoder::heightsAboveStation(const StationRecord& r) const
{
    const SeqOf<BufrValues>& values = _decodedValues;
    std::vector<std::vector<int> > levels;
    if (r.levelGroup) {
        for (int level : r.levels)
            levels.push_back(_reader->plainValues(level, r.from, r.to));
    } else {
        levels.push_back(_reader->plainValues(r.scope, r.from, r.to));
    }
    for (const std::vector<int>& level : levels) {
        for (int i : level) {
            TextString name;
            if (_arrayTable.find(values[i].getDescriptor(), nullptr, &name) &&
                arrayIndex(name) == HEIGHTS) {
                if (values[i].getDescriptor() == HEIGHT_ABOVE_STATION)
                    return true;
                if (r.levelGroup)
                    break;
            }
        }
    }
    return false;
}

bool ProfBufrDecoder::locateStations(const SeqOf<long>& ids, SeqOf<long>& placed)
{
    _stationValueIndex.setLength(0);
    _stationLevelCounts.setLength(0);
    _records.clear();
    _refusal = TextString();
    _noProfile = TextString();
    placed.setLength(0);
    _reader.reset(new ReportReader(_decodedValues, readerLayout()));
    const ReportReader& r = *_reader;
    const SeqOf<BufrValues>& values = _decodedValues;
    const int n = values.length();
    // The stations: the block numbers at the top of their subsets, each with
    // its id (ids lists one per block number, wherever it stands).
    SeqOf<int> blocks;
    SeqOf<long> blockIds;
    for (int i = 0, k = 0; i + 1 < n; ++i) {
        if (values[i].getDescriptor() != BLOCK_NUMBER)
            continue;
        const long id = k < ids.length() ? ids[k] : -1;
        ++k;
        if (r.scopeOf(i) == r.subsetScope(values[i].getSubset())) {
            blocks.append(i);
            blockIds.append(id);
        }
    }
    // One station per subset with one replication count each: the count is
    // the station's level count where its levels are no replication.
    bool perSubsetCounts = _repCountList.length() == _subsets;
    for (int k = 1; k < blocks.length(); ++k)
        if (values[blocks[k]].getSubset() == values[blocks[k - 1]].getSubset())
            perSubsetCounts = false;

    // The levels a record of the file's network holds.
    const int levelBound = _networkName == NPN ? _npnLevels : _networkName == CAP ? _capLevels
                                                                                : INT_MAX;
    bool all = true;
    for (int k = 0; k < blocks.length(); ++k) {
        const int begin = blocks[k];
        const int subset = values[begin].getSubset();
        const int top = r.subsetScope(subset);
        const int end = k + 1 < blocks.length() && values[blocks[k + 1]].getSubset() == subset
                            ? blocks[k + 1]
                            : r.end(top);
        const long id = blockIds[k];
        if (!windForms::given(values[begin].getValue()) ||
            !windForms::given(values[begin + 1].getValue()) || id < 0) {
            std::ostringstream line;
            line << "Station " << k + 1 << " of the file has no WMO block and station number";
            leaveOut("Station has no WMO block and station number",
                     (line.str() + "; skipping.").c_str(),
                     (line.str() + " (0 01 001, 0 01 002).").c_str());
            all = false;
            continue;
        }
        const std::vector<Period> periods = periodsOf(top, begin, end);
        for (const Period& period : periods) {
            const int year = period.year;
            const int last = period.scope == top ? period.to : r.end(period.scope);
            AbsTime time;
            if (year == ReportReader::NONE || year + 4 >= last ||
                !groupTime(values, year, time)) {
                std::ostringstream line;
                line << "No observation time for station " << id;
                leaveOut("No observation time for station", (line.str() + "; skipping.").c_str(),
                         (line.str() + " (0 04 001 to 0 04 005).").c_str());
                all = false;
                continue;
            }
            StationRecord record;
            record.begin = begin;
            record.end = end;
            record.scope = period.scope;
            record.from = period.from;
            record.to = period.to;
            record.year = year;
            // A period that begins at its time group does not take a
            // replication of no repetition standing right before it: that
            // one is the period's before it.
            const ReportReader::Replication* levels = levelGroup(
                period.scope, period.from == year ? year + 1 : period.from, period.to);
            record.levelGroup = levels != nullptr;
            int count = 0;
            if (levels) {
                record.levels = levels->repetitions;
                count = levels->factor;
            } else {
                count = perSubsetCounts && periods.size() == 1 && subset >= 0 &&
                                subset < _repCountList.length()
                            ? _repCountList[subset]
                            : countLevelValues(
                                  _reader->plainValues(period.scope, period.from, period.to));
            }
            // More levels than a record holds (a replication factor of a group
            // that reads nothing costs a few bits): its profiles are never made.
            // Levels of no height the store takes (a radiosonde's of many
            // levels) are no profile first.
            if (count > levelBound) {
                std::vector<std::pair<int, bool> > coordinates;
                bool height = !levels;
                for (int g = 0; levels && g < levels->group->length(); ++g) {
                    const int d = (*levels->group)[g];
                    height = height || std::find(_heightElements.begin(),
                                                 _heightElements.end(),
                                                 d) != _heightElements.end();
                    if (verticalCoordinate(d))
                        coordinates.push_back({d, true});
                }
                std::ostringstream line;
                if (height)
                    line << "Station " << id << " has " << count << " levels, the "
                         << _networkName << " template holds " << levelBound;
                else
                    line << "No level of station " << id << noHeight(coordinates);
                std::string text = line.str();
                if (!height)
                    text.pop_back();
                leaveOut(height ? "Station has more levels than the template" : NO_PROFILE,
                         (text + "; skipping.").c_str(), (text + ".").c_str());
                all = false;
                continue;
            }
            record.elevation = BufrDecoder::MISSING_VALUE;
            for (int element : {STATION_GROUND, STATION_HEIGHT}) {
                const int at = r.nearest(period.scope, element, begin, end);
                if (!windForms::given(record.elevation) && at != ReportReader::NONE)
                    record.elevation = values[at].getValue();
            }
            if (!windForms::given(record.elevation) && heightsAboveStation(record)) {
                std::ostringstream line;
                line << "Station " << id << " gives the heights of its levels above the station "
                     << "(0 07 006) and no elevation of its own (0 07 030 or 0 07 001)";
                leaveOut("gives the heights of its levels above the station",
                         (line.str() + "; skipping.").c_str(), (line.str() + ".").c_str());
                all = false;
                continue;
            }
            _records.push_back(record);
            _stationValueIndex.append(year + 2);
            _stationLevelCounts.append(count > 0 ? count : 0);
            placed.append(id);
        }
    }
    _stationIds = placed;
    return all;
}

int ProfBufrDecoder::placeArray(int a, int counters[NUM_LEVEL_ARRAYS], int& marker)
{
    if (a != UVCONSENSUSNO && a != WCONSENSUSNO) {
        if (marker < 0)
            marker = a;
        return a;
    }
    if (a != UVCONSENSUSNO || marker < 0)
        return a;
    const int level = counters[marker] - 1;
    if (level < 0 || counters[UVCONSENSUSNO] <= level || counters[WCONSENSUSNO] > level)
        return a;
    counters[WCONSENSUSNO] = level;
    return WCONSENSUSNO;
}

int ProfBufrDecoder::getArrayCount(const int& start, const int& subset)
{
    return countValues(start, subset, 10004, "getArrayCount");
}

int ProfBufrDecoder::getProfileCount(const int& start, const int& subset)
{
    return countValues(start, subset, 11003, "getProfileCount");
}

int ProfBufrDecoder::countValues(int start, int subset, int descriptor, const char* name) const
{
    const SeqOf<BufrValues>& values = _decodedValues;
    int i = start > 0 ? start : 0;
    while (i < values.length() && values[i].getSubset() != subset)
        ++i;
    int count = 0;
    for (; i < values.length(); ++i) {
        const BufrValues& v = values[i];
        if (v.getDescriptor() != descriptor || v.getSubset() != subset)
            continue;
        PROF_LOG(DEBUG) << "PBD::" << name << "(): _dV[" << i << "]" << ", subset: " << subset
                        << ", descriptor: " << descriptor << ", value= " << v.getValue()
                        << std::endl;
        ++count;
    }
    PROF_LOG(VERBOSE) << name << "(): numLvls = " << count << std::endl;
    return count;
}

int ProfBufrDecoder::countLevelValues(const std::vector<int>& list) const
{
    int counters[NUM_LEVEL_ARRAYS] = {0};
    int marker = -1;
    int most = 0;
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i : list) {
        TextString name;
        int a = -1;
        if (!levelElement(values[i].getDescriptor(), name, a) || a < 0)
            continue;
        a = placeArray(a, counters, marker);
        if (++counters[a] > most)
            most = counters[a];
    }
    return most;
}

long ProfBufrDecoder::stationId(int k) const
{
    return k >= 0 && k < _stationIds.length() ? _stationIds[k] : 0;
}

SeqOf<double> ProfBufrDecoder::getObservationTimes()
{
    SeqOf<double> times;
    const SeqOf<int>& starts = _stationValueIndex;
    for (int k = 0; k < starts.length(); ++k) {
        const int q = starts[k] - 2;
        AbsTime t;
        if (!groupTime(_decodedValues, q, t))
            continue;
        times.append(static_cast<double>(t.seconds()));
        _decodedValues[q].setCharValue("DTG");
    }
    return times;
}

void ProfBufrDecoder::setDataTime(AbsTime t)
{
    _dataTime = DataTime(t, 0, TimeRange(t, t), t, 0, 0x300);
}

bool ProfBufrDecoder::sendNotification()
{
    const DataAccessKey key = _networkName == NPN ? 10001 : _networkName == CAP ? 10002 : 0;
    if (!dmNotify(key, _dataTime)) {
        if (!dmNotifyFailureLogged())
            PROF_LOG(PROBLEM) << "dmNotify FAILED for key = " << key << std::endl;
        return false;
    }
    PROF_LOG(VERBOSE) << "Sent notification for key " << key << std::endl;
    return true;
}

// ---- Pre-processing ----

void ProfBufrDecoder::clearArrayCounters()
{
    for (int& counter : _arrayCounters)
        counter = 0;
}

void ProfBufrDecoder::initLevelArrays()
{
    for (SeqOf<float>& levels : _levelArrays) {
        levels.setLength(_numLevels);
        float* level = levels.elements();
        for (int j = 0; j < _numLevels; ++j)
            level[j] = LEVEL_FILL;
    }
}

void ProfBufrDecoder::initValueLevelIndex()
{
    const int n = _decodedValues.length();
    _valueLevelIndex.setLength(n);
    int* index = _valueLevelIndex.elements();
    for (int i = 0; i < n; ++i)
        index[i] = 0;
}

int ProfBufrDecoder::levelIndex(int i) const
{
    return i >= 0 && i < _valueLevelIndex.length() ? _valueLevelIndex[i] : 0;
}

void ProfBufrDecoder::resizeProfileArrays(int station)
{
    for (int a = 0; a < NUM_ARRAYS; ++a) {
        SeqOf<SeqOf<float> >& list = _stationProfiles[a];
        if (list.length() < station + 1)
            list.setLength(station + 1);
        list[station] = _levelArrays[a];
    }
}

void ProfBufrDecoder::clearProfileArrays()
{
    for (SeqOf<SeqOf<float> >& list : _stationProfiles)
        list.setLength(0);
}

void ProfBufrDecoder::fillLevel(StationRecord& r, const std::vector<int>& list, int level,
                                int& surplus, int& surplusArray)
{
    // Within a level each array takes its first value; without levels each
    // value of an array takes its next level.
    int counters[NUM_LEVEL_ARRAYS] = {0};
    int* counter = level >= 0 ? counters : _arrayCounters;
    int marker = -1;
    for (int i : list) {
        BufrValues& value = _decodedValues[i];
        const int d = value.getDescriptor();
        // The vertical coordinates the levels give, named when the record
        // turns out no profile (the station's elevation is no level's).
        if (verticalCoordinate(d)) {
            auto c = std::find_if(r.coordinates.begin(), r.coordinates.end(),
                                  [d](const std::pair<int, bool>& e) { return e.first == d; });
            if (c == r.coordinates.end())
                c = r.coordinates.insert(c, {d, false});
            c->second = c->second || windForms::given(value.getValue());
        }
        TextString name;
        int a = -1;
        if (!levelElement(d, name, a))
            continue;
        value.setCharValue(name);
        if (a < 0)
            continue;
        // A level's second wind count goes with the vertical wind.
        const int table = a;
        a = placeArray(a, counter, marker);
        if (a != table)
            value.setCharValue(ARRAY_NAMES[a]);
        const int at = level >= 0 ? level : counter[a];
        if (level >= 0 && counter[a] > 0) {
            // A later value of an array in one level is not the level's.
            _valueLevelIndex[i] = -1;
            continue;
        }
        if (surplus == 0 && at < _numLevels) {
            float v = value.getValue();
            if (d == HEIGHT_ABOVE_STATION && windForms::given(v))
                v += r.elevation;
            _levelArrays[a][at] = v;
            _valueLevelIndex[i] = at;
            ++counter[a];
            if (a >= NUM_ARRAYS)
                continue;
            std::vector<int>& by = r.filledBy[a];
            // A moved value, or a height made above sea level, goes into
            // the array's own variable.
            const int element = a != table || d == HEIGHT_ABOVE_STATION ? -1 : d;
            if (std::find(by.begin(), by.end(), element) == by.end())
                by.push_back(element);
            continue;
        }
        if (surplus++ == 0)
            surplusArray = a;
        _valueLevelIndex[i] = -1;
    }
}

bool ProfBufrDecoder::preProcess()
{
    initValueLevelIndex();
    clearProfileArrays();
    bool ok = true;
    const bool verbose = logOn(LogStream::VERBOSE, "StoreProfiler");
    std::vector<bool> keep(_records.size(), true);
    for (int k = 0; k < _stationValueIndex.length() && k < static_cast<int>(_records.size());
         ++k) {
        StationRecord& record = _records[static_cast<size_t>(k)];
        _numLevels = _stationLevelCounts[k];
        initLevelArrays();
        clearArrayCounters();
        for (std::vector<int>& by : record.filledBy)
            by.clear();
        record.coordinates.clear();
        // Filling ends at the first value beyond the station's levels; the
        // profile values after it are set aside (level -1), so that none is
        // written over a level of its profile.
        int surplus = 0;
        int surplusArray = -1;
        const ReportReader& reader = *_reader;
        if (record.levelGroup) {
            for (size_t j = 0; j < record.levels.size() && static_cast<int>(j) < _numLevels; ++j)
                fillLevel(record, reader.plainValues(record.levels[j], record.from, record.to),
                          static_cast<int>(j), surplus, surplusArray);
        } else {
            fillLevel(record, reader.plainValues(record.scope, record.from, record.to), -1,
                      surplus, surplusArray);
        }
        windsFromDirectionAndSpeed(record);
        resizeProfileArrays(k);
        const TextString why = notAProfile(k);
        if (why.length() > 0) {
            const std::string text = why.c_str();
            leaveOut(NO_PROFILE, (text.substr(0, text.size() - 1) + "; skipping.").c_str(),
                     why);
            keep[static_cast<size_t>(k)] = false;
        }
        if (surplus > 0) {
            if (_bulletinLog.admit("StoreProfiler", "has more values than its levels"))
                STORE_LOG(PROBLEM) << "Station " << stationId(k) << ": "
                                   << levelArrayName(surplusArray) << " has more values than its "
                                   << _numLevels << " levels; " << surplus
                                   << " profile values from there on not stored." << std::endl;
            if (_numLevels == 0)
                ok = false;
        }
        if (!verbose)
            continue;
        for (int j = 0; j < _numLevels; ++j) {
            std::ostringstream line;
            for (int a = 0; a < NUM_ARRAYS; ++a) {
                const SeqOf<float>& levels = _levelArrays[a];
                line << LEVEL_TRACE[a] << std::setw(2) << j << "]= " << std::setw(6) << levels[j];
            }
            STORE_LOG(VERBOSE) << line.str() << std::endl;
        }
    }
    if (std::find(keep.begin(), keep.end(), false) != keep.end())
        keepRecords(keep);
    return ok;
}

void ProfBufrDecoder::windsFromDirectionAndSpeed(StationRecord& r)
{
    float* u = _levelArrays[UCOMP].elements();
    float* v = _levelArrays[VCOMP].elements();
    const float* direction = _levelArrays[WINDDIRECTION].elements();
    const float* speed = _levelArrays[WINDSPEED].elements();
    // A direction or speed the level does not give is a missing one.
    auto given = [](float value) {
        return value == LEVEL_FILL ? windForms::MISSING : static_cast<double>(value);
    };
    bool made = false;
    for (int j = 0; j < _numLevels; ++j) {
        if ((direction[j] == LEVEL_FILL && speed[j] == LEVEL_FILL) ||
            (levelValue(u[j]) && levelValue(v[j])))
            continue;
        double uj = windForms::MISSING, vj = windForms::MISSING;
        windForms::components(given(direction[j]), given(speed[j]), uj, vj);
        u[j] = static_cast<float>(uj);
        v[j] = static_cast<float>(vj);
        made = true;
    }
    // Made components go into the variable of their arrays.
    for (int a : {UCOMP, VCOMP}) {
        std::vector<int>& by = r.filledBy[a];
        if (made && std::find(by.begin(), by.end(), -1) == by.end())
            by.push_back(-1);
    }
}

TextString ProfBufrDecoder::notAProfile(int k) const
{
    const StationRecord& r = _records[static_cast<size_t>(k)];
    const float* heights = _levelArrays[HEIGHTS].elements();
    const float* u = _levelArrays[UCOMP].elements();
    const float* v = _levelArrays[VCOMP].elements();
    const float* w = _levelArrays[WCOMP].elements();
    bool height = false;
    for (int j = 0; j < _numLevels; ++j) {
        if (!levelValue(heights[j]))
            continue;
        if ((levelValue(u[j]) && levelValue(v[j])) || levelValue(w[j]))
            return TextString();
        height = true;
    }
    std::ostringstream why;
    why << (_numLevels == 0 ? "Station " : "No level of station ") << stationId(k);
    // A station of several periods: which one.
    int periods = 0;
    for (const StationRecord& other : _records)
        periods += other.begin == r.begin;
    AbsTime time;
    if (periods > 1 && groupTime(_decodedValues, r.year, time))
        why << " in its period of " << timeText(time.seconds());
    // A level replication of no repetition: the report gives no level.
    if (_numLevels == 0) {
        why << " gives no level.";
        return why.str().c_str();
    }
    if (height) {
        why << " with a height gives a wind: 0 11 001/0 11 002 or 0 11 003/0 11 004 "
               "(horizontal), 0 11 006 (vertical).";
        return why.str().c_str();
    }
    why << noHeight(r.coordinates);
    return why.str().c_str();
}

std::string ProfBufrDecoder::noHeight(
    const std::vector<std::pair<int, bool> >& coordinates) const
{
    std::ostringstream why;
    why << " gives a height the profiler store takes (";
    for (size_t h = 0; h < _heightElements.size(); ++h)
        why << (h > 0 ? ", " : "") << BulletinLog::descriptorText(_heightElements[h]);
    why << "): ";
    if (coordinates.empty()) {
        why << "its levels give no height.";
    } else {
        why << "levels give ";
        for (size_t c = 0; c < coordinates.size(); ++c)
            why << (c == 0 ? "" : c + 1 == coordinates.size() ? " and " : ", ")
                << BulletinLog::descriptorText(coordinates[c].first)
                << (coordinates[c].second ? "" : " (missing)");
        why << ".";
    }
    return why.str();
}

bool ProfBufrDecoder::verticalCoordinate(int descriptor)
{
    return (descriptor / 1000 == 7 || descriptor / 1000 == 10) && descriptor != STATION_HEIGHT &&
           descriptor != STATION_GROUND;
}

void ProfBufrDecoder::keepRecords(const std::vector<bool>& keep)
{
    std::vector<StationRecord> records;
    SeqOf<int> starts, counts;
    SeqOf<long> ids;
    SeqOf<SeqOf<float> > profiles[NUM_ARRAYS];
    for (size_t k = 0; k < keep.size() && k < _records.size(); ++k) {
        if (!keep[k])
            continue;
        const int at = static_cast<int>(k);
        records.push_back(_records[k]);
        starts.append(_stationValueIndex[at]);
        counts.append(_stationLevelCounts[at]);
        ids.append(stationId(at));
        for (int a = 0; a < NUM_ARRAYS; ++a)
            profiles[a].append(at < _stationProfiles[a].length() ? _stationProfiles[a][at]
                                                                 : SeqOf<float>());
    }
    _records.swap(records);
    _stationValueIndex = starts;
    _stationLevelCounts = counts;
    _stationIds = ids;
    for (int a = 0; a < NUM_ARRAYS; ++a)
        _stationProfiles[a] = profiles[a];
}

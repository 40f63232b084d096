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

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iomanip>
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
const char* const NPN = "NPN";
const char* const CAP = "CAP";

// The groups of the per-level trace, in the order of the level arrays.
const char* const LEVEL_TRACE[ProfBufrDecoder::NUM_ARRAYS] = {
    "           _hgts[", "        _lvlmode[", "              _u[", "              _v[",
    "              _w[", "        _pkPower[", "           _uvQC[", "  _uvConsensusNo[",
    "   _wConsensusNo[", "      _horiWSdev[", "      _vertWSdev["};

bool missingValue(float value)
{
    return value == BufrDecoder::MISSING_VALUE || value == BufrDecoder::NOT_IN_TABLE_B ||
           value != value;
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
        _arrayTable.insert(descriptor, name);
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
    if (_refusal.length() == 0)
        _refusal = reason;
}

const ReportReader::Replication* ProfBufrDecoder::levelGroup(int scope, int begin, int end) const
{
    for (const ReportReader::Replication* rep : _reader->replicationsIn(scope)) {
        if (rep->position < begin || rep->position > end)
            continue;
        const SeqOf<int>& group = *rep->group;
        for (int g = 0; g < group.length(); ++g)
            if (_arrayTable.find(group[g], nullptr, nullptr))
                return rep;
    }
    return nullptr;
}

bool ProfBufrDecoder::heightsAboveStation(const StationRecord& r) const
{
    const SeqOf<BufrValues>& values = _decodedValues;
    std::vector<std::vector<int> > levels;
    if (r.levelGroup) {
        for (int level : r.levels)
            levels.push_back(_reader->plainValues(level, r.begin, r.end));
    } else {
        levels.push_back(_reader->plainValues(r.scope, r.begin, r.end));
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
        if (missingValue(values[begin].getValue()) || missingValue(values[begin + 1].getValue()) ||
            id < 0) {
            std::ostringstream line;
            line << "Station " << k + 1 << " of the file has no WMO block and station number";
            leaveOut("Station has no WMO block and station number",
                     (line.str() + "; skipping.").c_str(),
                     (line.str() + " (0 01 001, 0 01 002).").c_str());
            all = false;
            continue;
        }
        // Its periods: the repetitions that hold a time group of their own.
        std::vector<int> periods;
        for (int child : r.children(top))
            if (r.begin(child) >= begin && r.begin(child) < end &&
                r.first(child, YEAR) != ReportReader::NONE)
                periods.push_back(child);
        if (periods.empty())
            periods.push_back(top);
        for (int period : periods) {
            const int year = r.first(period, YEAR, begin, end);
            const int last = period == top ? end : r.end(period);
            bool timed = year != ReportReader::NONE && year + 4 < last;
            long field[5] = {-1, -1, -1, -1, -1};
            for (int f = 0; timed && f < 5; ++f) {
                timed = values[year + f].getDescriptor() == YEAR + f;
                field[f] = whole(values[year + f].getValue());
            }
            if (!timed || !calendarTime(field)) {
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
            record.scope = period;
            const ReportReader::Replication* levels = levelGroup(period, begin, end);
            record.levelGroup = levels != nullptr;
            int count = 0;
            if (levels) {
                record.levels = levels->repetitions;
                count = levels->factor;
            } else {
                count = perSubsetCounts && subset >= 0 && subset < _repCountList.length()
                            ? _repCountList[subset]
                            : countLevelValues(_reader->plainValues(period, begin, end));
            }
            // More levels than a record holds (a replication factor of a group
            // that reads nothing costs a few bits): its profiles are never made.
            if (count > levelBound) {
                std::ostringstream line;
                line << "Station " << id << " has " << count << " levels, the " << _networkName
                     << " template holds " << levelBound;
                leaveOut("Station has more levels than the template",
                         (line.str() + "; skipping.").c_str(), (line.str() + ".").c_str());
                all = false;
                continue;
            }
            record.elevation = BufrDecoder::MISSING_VALUE;
            for (int element : {STATION_GROUND, STATION_HEIGHT}) {
                const int at = r.nearest(period, element, begin, end);
                if (missingValue(record.elevation) && at != ReportReader::NONE)
                    record.elevation = values[at].getValue();
            }
            if (missingValue(record.elevation) && heightsAboveStation(record)) {
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

int ProfBufrDecoder::placeArray(int a, int counters[NUM_ARRAYS], int& marker)
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
    int counters[NUM_ARRAYS] = {0};
    int marker = -1;
    int most = 0;
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i : list) {
        TextString name;
        if (!_arrayTable.find(values[i].getDescriptor(), nullptr, &name))
            continue;
        int a = arrayIndex(name);
        if (a < 0)
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
        const SeqOf<BufrValues>& values = _decodedValues;
        if (q < 0 || q + 4 >= values.length() || values[q].getDescriptor() != YEAR)
            continue;
        long field[5];
        for (int f = 0; f < 5; ++f)
            field[f] = whole(values[q + f].getValue());
        if (!calendarTime(field))
            continue;
        const AbsTime t(static_cast<int>(field[0]), static_cast<int>(field[1]),
                        static_cast<int>(field[2]), static_cast<int>(field[3]),
                        static_cast<int>(field[4]), 0);
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
    int counters[NUM_ARRAYS] = {0};
    int* counter = level >= 0 ? counters : _arrayCounters;
    int marker = -1;
    for (int i : list) {
        BufrValues& value = _decodedValues[i];
        const int d = value.getDescriptor();
        TextString name;
        if (!_arrayTable.find(d, nullptr, &name))
            continue;
        value.setCharValue(name);
        int a = arrayIndex(name);
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
            if (d == HEIGHT_ABOVE_STATION && !missingValue(v))
                v += r.elevation;
            _levelArrays[a][at] = v;
            _valueLevelIndex[i] = at;
            ++counter[a];
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
    for (int k = 0; k < _stationValueIndex.length() && k < static_cast<int>(_records.size());
         ++k) {
        StationRecord& record = _records[static_cast<size_t>(k)];
        _numLevels = _stationLevelCounts[k];
        initLevelArrays();
        clearArrayCounters();
        for (std::vector<int>& by : record.filledBy)
            by.clear();
        // Filling ends at the first value beyond the station's levels; the
        // profile values after it are set aside (level -1), so that none is
        // written over a level of its profile.
        int surplus = 0;
        int surplusArray = -1;
        const ReportReader& reader = *_reader;
        if (record.levelGroup) {
            for (size_t j = 0; j < record.levels.size() && static_cast<int>(j) < _numLevels; ++j)
                fillLevel(record, reader.plainValues(record.levels[j], record.begin, record.end),
                          static_cast<int>(j), surplus, surplusArray);
        } else {
            fillLevel(record, reader.plainValues(record.scope, record.begin, record.end), -1,
                      surplus, surplusArray);
        }
        resizeProfileArrays(k);
        if (surplus > 0) {
            if (_bulletinLog.admit("StoreProfiler", "has more values than its levels"))
                STORE_LOG(PROBLEM) << "Station " << stationId(k) << ": "
                                   << ARRAY_NAMES[surplusArray] << " has more values than its "
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
    return ok;
}

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

bool ProfBufrDecoder::locateStations(const SeqOf<long>& ids, SeqOf<long>& placed)
{
    _stationValueIndex.setLength(0);
    _stationLevelCounts.setLength(0);
    _stationBegins.setLength(0);
    _stationEnds.setLength(0);
    placed.setLength(0);
    const SeqOf<BufrValues>& values = _decodedValues;
    const int n = values.length();
    // One station per subset with one replication count each: the count is
    // the station's level count.
    bool perSubsetCounts = _repCountList.length() == _subsets;
    SeqOf<int> blocks;
    for (int i = 0; i + 1 < n; ++i)
        if (values[i].getDescriptor() == BLOCK_NUMBER)
            blocks.append(i);
    for (int k = 1; k < blocks.length(); ++k)
        if (values[blocks[k]].getSubset() == values[blocks[k - 1]].getSubset())
            perSubsetCounts = false;

    // The levels a record of the file's network holds.
    const int levelBound = _networkName == NPN ? _npnLevels : _networkName == CAP ? _capLevels
                                                                                : INT_MAX;
    bool all = true;
    for (int k = 0; k < blocks.length() && k < ids.length(); ++k) {
        const int begin = blocks[k];
        const int subset = values[begin].getSubset();
        int end = begin + 1;
        while (end < n && values[end].getSubset() == subset &&
               values[end].getDescriptor() != BLOCK_NUMBER)
            ++end;
        int year = begin;
        while (year < end && values[year].getDescriptor() != YEAR)
            ++year;
        bool timed = year + 4 < end;
        long field[5] = {-1, -1, -1, -1, -1};
        for (int f = 0; timed && f < 5; ++f) {
            timed = values[year + f].getDescriptor() == YEAR + f;
            field[f] = whole(values[year + f].getValue());
        }
        timed = timed && calendarTime(field);
        if (missingValue(values[begin].getValue()) || missingValue(values[begin + 1].getValue()) ||
            ids[k] < 0) {
            if (_bulletinLog.admit("StoreProfiler", "Station has no WMO block and station number"))
                STORE_LOG(PROBLEM) << "Station " << k + 1 << " of the file has no WMO block and "
                                   << "station number; skipping." << std::endl;
            all = false;
            continue;
        }
        if (!timed) {
            if (_bulletinLog.admit("StoreProfiler", "No observation time for station"))
                STORE_LOG(PROBLEM) << "No observation time for station " << ids[k]
                                   << "; skipping." << std::endl;
            all = false;
            continue;
        }
        const int count = perSubsetCounts && subset >= 0 && subset < _repCountList.length()
                              ? _repCountList[subset]
                              : countLevelValues(begin, end);
        // More levels than a record holds (a replication factor of a group
        // that reads nothing costs a few bits): its profiles are never made.
        if (count > levelBound) {
            if (_bulletinLog.admit("StoreProfiler", "Station has more levels than the template"))
                STORE_LOG(PROBLEM) << "Station " << ids[k] << " has " << count << " levels, the "
                                   << _networkName << " template holds " << levelBound
                                   << "; skipping." << std::endl;
            all = false;
            continue;
        }
        _stationBegins.append(begin);
        _stationEnds.append(end);
        _stationValueIndex.append(year + 2);
        _stationLevelCounts.append(count > 0 ? count : 0);
        placed.append(ids[k]);
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

int ProfBufrDecoder::countLevelValues(int begin, int end) const
{
    int counters[NUM_ARRAYS] = {0};
    int marker = -1;
    int most = 0;
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i = begin; i < end; ++i) {
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

bool ProfBufrDecoder::preProcess()
{
    initValueLevelIndex();
    clearProfileArrays();
    bool ok = true;
    const bool verbose = logOn(LogStream::VERBOSE, "StoreProfiler");
    for (int k = 0; k < _stationValueIndex.length(); ++k) {
        _numLevels = _stationLevelCounts[k];
        initLevelArrays();
        clearArrayCounters();
        // Filling ends at the first value beyond the station's levels; the
        // profile values after it are set aside (level -1), so that none is
        // written over a level of its profile.
        int surplus = 0;
        int surplusArray = -1;
        int marker = -1;
        for (int i = _stationBegins[k]; i < _stationEnds[k]; ++i) {
            BufrValues& value = _decodedValues[i];
            TextString name;
            if (!_arrayTable.find(value.getDescriptor(), nullptr, &name))
                continue;
            value.setCharValue(name);
            int a = arrayIndex(name);
            if (a < 0)
                continue;
            // A level's second wind count goes with the vertical wind.
            const int table = a;
            a = placeArray(a, _arrayCounters, marker);
            if (a != table)
                value.setCharValue(ARRAY_NAMES[a]);
            if (surplus == 0 && _arrayCounters[a] < _numLevels) {
                _levelArrays[a][_arrayCounters[a]] = value.getValue();
                _valueLevelIndex[i] = _arrayCounters[a]++;
                continue;
            }
            if (surplus++ == 0)
                surplusArray = a;
            _valueLevelIndex[i] = -1;
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

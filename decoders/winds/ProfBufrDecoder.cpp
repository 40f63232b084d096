// The profiler decoder's construction, configuration, network, stations,
// times, notification and profile pre-processing.  Its storing is in
// StoreProfiler.cpp.
#include "ProfBufrDecoder.h"

#include "AbsTime.h"
#include "ElementForms.h"
#include "LineFile.h"
#include "LogStream.h"
#include "NetcdfPointData.h"
#include "StoreTemplate.h"
#include "StringTokenizer.h"
#include "TimeRange.h"
#include "dmNotify.h"
#include "windForms.h"
#include "windTimeGroups.h"

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
const int NO_VALUE = ReportReader::NONE;
// The wind speed the level arrays hold speeds in (m/s).
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

// A height above the station, which the station's elevation makes one
// above sea level.
bool aboveStation(int descriptor)
{
    const ElementForms::Form* f = ElementForms::form(descriptor);
    return f && f->measure == ElementForms::ABOVE_STATION;
}

const char* levelArrayName(int array)
{
    return array < ProfBufrDecoder::NUM_ARRAYS ? ProfBufrDecoder::ARRAY_NAMES[array]
                                               : WIND_FORM_NAMES[array - ProfBufrDecoder::NUM_ARRAYS];
}

// A level value that holds a number: reached by a value, and not missing.
bool levelValue(float value)
{
    return value != ProfBufrDecoder::LEVEL_FILL && ElementForms::given(value);
}

// A decoded number as a whole number, truncated; -1 for what is none or
// lies beyond what any field here holds.
long whole(float value)
{
    return value == value && value > -1e9f && value < 1e9f ? static_cast<long>(value) : -1;
}

// The seconds since 1970 of the year to minute values at q, q + 4 (seconds
// 0), in 64 bits; -1 when they are no such group or no time.  Above
// INT32_MAX the time lies past the last one a time holds.
int64_t groupSeconds(const SeqOf<BufrValues>& values, int q)
{
    if (q < 0 || q + 4 >= values.length())
        return -1;
    int field[5];
    for (int f = 0; f < 5; ++f) {
        if (values[q + f].getDescriptor() != YEAR + f)
            return -1;
        field[f] = static_cast<int>(whole(values[q + f].getValue()));
    }
    return AbsTime::calendarSeconds(field[0], field[1], field[2], field[3], field[4], 0);
}

// The time of the year to minute values at q, q + 4; false when they are no
// such group, no time, or one past the last a time holds.
bool groupTime(const SeqOf<BufrValues>& values, int q, AbsTime& t)
{
    const int64_t seconds = groupSeconds(values, q);
    if (seconds < 0 || seconds > INT32_MAX)
        return false;
    t = AbsTime(static_cast<int32_t>(seconds));
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

namespace {

// The data categories of BUFR Table A, by number.
const struct {
    int number;
    const char* name;
} DATA_CATEGORIES[] = {
    {0, "surface data, land"},
    {1, "surface data, sea"},
    {2, "vertical soundings, other than satellite"},
    {3, "vertical soundings, satellite"},
    {4, "single level upper-air data, other than satellite"},
    {5, "single level upper-air data, satellite"},
    {6, "radar data"},
    {7, "synoptic features"},
    {8, "physical and chemical constituents"},
    {9, "dispersal and transport"},
    {10, "radiological data"},
    {11, "BUFR tables"},
    {12, "surface data, satellite"},
    {13, "forecasts"},
    {14, "warnings"},
    {20, "status information"},
    {21, "radiances, satellite measured"},
    {22, "radar, satellite"},
    {23, "lidar, satellite"},
    {24, "scatterometry, satellite"},
    {25, "altimetry, satellite"},
    {26, "spectrometry, satellite"},
    {27, "gravity measurement, satellite"},
    {28, "precision orbit, satellite"},
    {29, "space environment, satellite"},
    {30, "calibration datasets, satellite"},
    {31, "oceanographic data"},
    {32, "lidar, ground-based"},
    {33, "radio occultation"},
    {101, "image data"},
};

// Profilers come as vertical soundings other than satellite, or as radar
// data (Doppler wind profiles).
const int PROFILER_CATEGORIES[] = {2, 6};

} // namespace

TextString ProfBufrDecoder::otherCategory() const
{
    for (int c : PROFILER_CATEGORIES)
        if (_dataCategory == c)
            return TextString();
    std::ostringstream why;
    why << "Not a wind profiler message: data category " << _dataCategory;
    for (const auto& c : DATA_CATEGORIES)
        if (c.number == _dataCategory)
            why << " (" << c.name << ")";
    why << ", where profilers come in data categories 2 (vertical soundings, other than "
           "satellite) and 6 (radar data).";
    return why.str().c_str();
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
    // The repetitions of a replication that hold a time group of their own:
    // its first, or the last of its first time groups in a row, the first
    // of them its start.
    for (int child : r.children(top)) {
        if (r.begin(child) < begin || r.begin(child) >= end)
            continue;
        const std::vector<int> years = r.all(child, YEAR);
        if (years.empty())
            continue;
        const std::vector<int> replications = replicationPositions(child);
        size_t last = 0;
        while (last + 1 < years.size() &&
               inARow(child, replications, years[last], years[last + 1]))
            ++last;
        periods.push_back(Period{child, begin, end, years[last], last > 0 ? years[0] : NO_VALUE,
                                 begin});
    }
    if (!periods.empty())
        return periods;
    // Else the station's time groups, those in a row taken together (a
    // period's start and end), that open levels of their own (a replication
    // of levels, or level values, before the next time group).
    struct Run {
        int first, last;
    };
    std::vector<Run> runs;
    const std::vector<int> replications = replicationPositions(top);
    for (int year : r.all(top, YEAR, begin, end)) {
        if (!runs.empty() && inARow(top, replications, runs.back().last, year))
            runs.back().last = year;
        else
            runs.push_back(Run{year, year});
    }
    std::vector<Run> openers;
    for (size_t t = 0; t < runs.size(); ++t) {
        const int to = t + 1 < runs.size() ? runs[t + 1].first : end;
        bool levels = levelGroup(top, runs[t].last + 1, to) != nullptr;
        for (int i : r.plainValues(top, runs[t].last, to)) {
            TextString name;
            int array = -1;
            levels = levels || levelElement(_decodedValues[i].getDescriptor(), name, array);
        }
        if (levels)
            openers.push_back(runs[t]);
    }
    if (openers.size() < 2) {
        const Run run = runs.empty() ? Run{NO_VALUE, NO_VALUE} : runs.front();
        return {Period{top, begin, end, run.last, run.first != run.last ? run.first : NO_VALUE,
                       begin}};
    }
    // Each runs from the qualifiers right before its time groups to the
    // next's; the first takes the station's values before it.
    std::vector<int> from;
    for (size_t k = 0; k < openers.size(); ++k)
        from.push_back(k == 0 ? begin : qualifiersBefore(top, replications, openers[k].first));
    for (size_t k = 0; k < openers.size(); ++k) {
        const Run& run = openers[k];
        periods.push_back(Period{top, from[k], k + 1 < openers.size() ? from[k + 1] : end,
                                 run.last, run.first != run.last ? run.first : NO_VALUE,
                                 k == 0 ? begin : run.last + 1});
    }
    return periods;
}

namespace {

// Qualifiers and time periods that may stand with a period's time groups:
// class 08 and the time periods (0 04 021 to 0 04 026).
bool timeQualifier(int descriptor)
{
    return descriptor / 1000 == 8 || ElementForms::gives(descriptor, ElementForms::TIME_PERIOD);
}

} // namespace

std::vector<int> ProfBufrDecoder::replicationPositions(int scope) const
{
    std::vector<int> positions;
    for (const ReportReader::Replication* rep : _reader->replicationsIn(scope))
        positions.push_back(rep->position);
    std::sort(positions.begin(), positions.end());
    return positions;
}

bool ProfBufrDecoder::inARow(int scope, const std::vector<int>& replications, int first,
                             int second) const
{
    const ReportReader& r = *_reader;
    const auto next = std::upper_bound(replications.begin(), replications.end(), first);
    if (next != replications.end() && *next <= second)
        return false;
    for (int i = first + 5; i < second; ++i) {
        const int d = _decodedValues[i].getDescriptor();
        const bool second = i == first + 5 && ElementForms::gives(d, ElementForms::SECOND);
        if (r.scopeOf(i) != scope || !(timeQualifier(d) || second))
            return false;
    }
    return true;
}

int ProfBufrDecoder::qualifiersBefore(int scope, const std::vector<int>& replications,
                                      int year) const
{
    const ReportReader& r = *_reader;
    int i = year;
    while (i > r.begin(scope) &&
           !std::binary_search(replications.begin(), replications.end(), i) &&
           r.scopeOf(i - 1) == scope && timeQualifier(_decodedValues[i - 1].getDescriptor()))
        --i;
    return i;
}

bool ProfBufrDecoder::heightElement(int descriptor) const
{
    return std::find(_heightElements.begin(), _heightElements.end(), descriptor) !=
           _heightElements.end();
}

std::vector<std::vector<int> > ProfBufrDecoder::splitLevels(const std::vector<int>& values) const
{
    // The level values among them (at) and their elements (d).
    std::vector<size_t> at;
    std::vector<int> d;
    for (size_t i = 0; i < values.size(); ++i) {
        TextString name;
        int array = -1;
        const int descriptor = _decodedValues[values[i]].getDescriptor();
        if (levelElement(descriptor, name, array)) {
            at.push_back(i);
            d.push_back(descriptor);
        }
    }
    if (d.empty())
        return {};
    // The element that opens a level: the first height element given, else
    // the first level element; p, where it is given.
    int opener = d[0];
    for (int e : d)
        if (heightElement(e)) {
            opener = e;
            break;
        }
    std::vector<size_t> p;
    for (size_t i = 0; i < d.size(); ++i)
        if (d[i] == opener)
            p.push_back(i);
    const size_t m = d.size(), n = p.size();
    // Levels of one form: n blocks of P elements alike, each holding one
    // opener, taking in as many values before the first opener as fit (a
    // level whose height comes last), the values outside them none of a
    // level's (the station's before them, others after them).
    std::vector<std::pair<size_t, size_t> > spans;
    const size_t P = n >= 2 ? p[1] - p[0] : 0;
    bool uniform = n >= 2;
    for (size_t k = 1; uniform && k + 1 < n; ++k)
        uniform = p[k + 1] - p[k] == P;
    const size_t lowest = p[0] + 1 > P ? p[0] + 1 - P : 0;
    const size_t tries = 64;
    for (size_t s = p[0] + 1; uniform && spans.empty() && s-- > lowest && p[0] - s < tries;) {
        if (s + n * P > m)
            continue;
        bool alike = true;
        for (size_t i = s + P; i < s + n * P && alike; ++i)
            alike = d[i] == d[i - P];
        for (size_t k = 0; alike && k < n; ++k)
            spans.push_back({s + k * P, s + (k + 1) * P});
    }
    if (spans.empty()) {
        // Levels of differing forms: each opens at its opener, or, where
        // nothing but heights follows the last opener, ends at it.
        bool last = p[0] > 0;
        for (size_t i = p[n - 1] + 1; last && i < m; ++i)
            last = heightElement(d[i]);
        for (size_t k = 0, b = 0; k < n; ++k) {
            if (!last) {
                spans.push_back({p[k], k + 1 < n ? p[k + 1] : m});
                continue;
            }
            size_t e = p[k] + 1;
            while (e < (k + 1 < n ? p[k + 1] : m) && heightElement(d[e]))
                ++e;
            spans.push_back({b, e});
            b = e;
        }
    }
    // Each level: its values from its first level value to the next
    // level's (the last to its last level value).
    std::vector<std::vector<int> > levels;
    for (size_t k = 0; k < spans.size(); ++k) {
        const size_t to = k + 1 < spans.size() ? at[spans[k + 1].first]
                                                : at[spans[k].second - 1] + 1;
        levels.emplace_back(values.begin() + static_cast<long>(at[spans[k].first]),
                            values.begin() + static_cast<long>(to));
    }
    return levels;
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
    const ElementForms::Form* f = ElementForms::form(descriptor);
    if (!f || f->quantity != ElementForms::WIND ||
        (f->measure != ElementForms::DIRECTION && f->measure != ElementForms::SPEED))
        return false;
    array = f->measure == ElementForms::DIRECTION ? WINDDIRECTION : WINDSPEED;
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
    // The first height element of each level.
    for (const std::vector<int>& level : r.levels)
        for (int i : level) {
            const int d = _decodedValues[i].getDescriptor();
            if (heightElement(d)) {
                if (aboveStation(d))
                    return true;
                break;
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
    // The levels a record of the file's network holds.
    const int levelBound = _networkName == NPN ? _npnLevels : _networkName == CAP ? _capLevels
                                                                                : INT_MAX;
    // The elements of a station's own elevation that the network's store
    // holds, in the catalogue's order: a height above the station is made
    // one above sea level with the elevation its record holds.
    std::vector<int> elevations;
    for (const ElementForms::Form* f : ElementForms::forms(ElementForms::ELEVATION)) {
        TextString name;
        if (f->quantity == ElementForms::ELEVATION &&
            lookupElementName(f->descriptor, name, _networkName == CAP ? _capVarDict : _npnVarDict))
            elevations.push_back(f->descriptor);
    }
    bool all = true;
    for (int k = 0; k < blocks.length(); ++k) {
        const int begin = blocks[k];
        const int subset = values[begin].getSubset();
        const int top = r.subsetScope(subset);
        const int end = k + 1 < blocks.length() && values[blocks[k + 1]].getSubset() == subset
                            ? blocks[k + 1]
                            : r.end(top);
        const long id = blockIds[k];
        if (!ElementForms::given(values[begin].getValue()) ||
            !ElementForms::given(values[begin + 1].getValue()) || id < 0) {
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
            const bool grouped = year != ReportReader::NONE && year + 4 < last;
            if (grouped && groupSeconds(values, year) > INT32_MAX) {
                std::ostringstream line;
                line << "The observation time of station " << id << " "
                     << BulletinLog::PAST_LIMIT;
                leaveOut("The observation time of station lies past",
                         (line.str() + "; skipping.").c_str(), (line.str() + ".").c_str());
                all = false;
                continue;
            }
            if (!grouped || !groupTime(values, year, time)) {
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
            record.periodSeconds = -1;
            AbsTime start;
            if (period.start != NO_VALUE && groupTime(values, period.start, start) &&
                start.seconds() <= time.seconds())
                record.periodSeconds = static_cast<long>(time.seconds()) - start.seconds();
            // The levels: the repetitions of the period's level replication,
            // or its values one after another split into levels.  A record
            // holds the levels its store holds; those above are not stored
            // (said once its profiles are made).
            const ReportReader::Replication* levels =
                levelGroup(period.scope, period.levelsFrom, period.to);
            if (levels) {
                record.given = levels->factor;
                for (size_t j = 0; j < levels->repetitions.size() &&
                                   static_cast<int>(j) < levelBound;
                     ++j)
                    record.levels.push_back(
                        _reader->plainValues(levels->repetitions[j], period.from, period.to));
            } else {
                record.levels = splitLevels(
                    _reader->plainValues(period.scope, period.from, period.to));
                record.given = static_cast<int>(record.levels.size());
                if (record.given > levelBound)
                    record.levels.resize(static_cast<size_t>(levelBound));
            }
            const int count = std::max(0, std::min(record.given, levelBound));
            record.elevation = BufrDecoder::MISSING_VALUE;
            for (int element : elevations) {
                const int at = r.nearest(period.scope, element, begin, end);
                if (!ElementForms::given(record.elevation) && at != ReportReader::NONE)
                    record.elevation = values[at].getValue();
            }
            if (!ElementForms::given(record.elevation) && heightsAboveStation(record)) {
                std::ostringstream line;
                line << "Station " << id << " gives the heights of its levels above the station "
                     << "(0 07 006) and no elevation of its own (";
                for (size_t e = 0; e < elevations.size(); ++e)
                    line << (e > 0 ? " or " : "") << BulletinLog::descriptorText(elevations[e]);
                line << ")";
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

int ProfBufrDecoder::placeArray(int a, const int counters[NUM_LEVEL_ARRAYS])
{
    return a == UVCONSENSUSNO && counters[UVCONSENSUSNO] > 0 && counters[WCONSENSUSNO] == 0
               ? WCONSENSUSNO
               : a;
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

void ProfBufrDecoder::fillLevel(StationRecord& r, const std::vector<int>& list, int level)
{
    // Each array takes the first value of its elements the level gives.
    int counters[NUM_LEVEL_ARRAYS] = {0};
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
            c->second = c->second || ElementForms::given(value.getValue());
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
        a = placeArray(a, counters);
        if (a != table)
            value.setCharValue(ARRAY_NAMES[a]);
        if (counters[a]++ > 0) {
            // A later value of an array in one level is not the level's.
            _valueLevelIndex[i] = -1;
            continue;
        }
        float v = value.getValue();
        if (aboveStation(d) && ElementForms::given(v))
            v += r.elevation;
        // A speed in another unit goes into the arrays in m/s.
        double speed = v;
        if (a == WINDSPEED && ElementForms::convert(d, WIND_SPEED, speed))
            v = static_cast<float>(speed);
        _levelArrays[a][level] = v;
        _valueLevelIndex[i] = level;
        if (a >= NUM_ARRAYS)
            continue;
        std::vector<int>& by = r.filledBy[a];
        // A moved value, or a height made above sea level, goes into the
        // array's own variable.
        const int element = a != table || aboveStation(d) ? -1 : d;
        if (std::find(by.begin(), by.end(), element) == by.end())
            by.push_back(element);
    }
}

bool ProfBufrDecoder::preProcess()
{
    initValueLevelIndex();
    clearProfileArrays();
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
        for (size_t j = 0; j < record.levels.size() && static_cast<int>(j) < _numLevels; ++j)
            fillLevel(record, record.levels[j], static_cast<int>(j));
        levelsFromSingleValues(record);
    windsFromDirectionAndSpeed(record);
        resizeProfileArrays(k);
        const TextString why = notAProfile(k);
        if (why.length() > 0) {
            const std::string text = why.c_str();
            leaveOut(NO_PROFILE, (text.substr(0, text.size() - 1) + "; skipping.").c_str(),
                     why);
            keep[static_cast<size_t>(k)] = false;
        }
        if (why.length() == 0 && record.given > _numLevels) {
            // Stored with the levels that fit; the bulletin is kept.
            std::ostringstream line;
            line << "Station " << stationId(k) << " gives " << record.given
                 << " levels, the " << _networkName << " store holds " << _numLevels;
            leaveOut("levels, the store holds",
                     (line.str() + "; the levels above " + std::to_string(_numLevels) +
                      " are not stored.")
                         .c_str(),
                     (line.str() + ".").c_str());
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
    return true;
}

void ProfBufrDecoder::levelsFromSingleValues(StationRecord& r)
{
    // The quantities that describe a level, not those that make it.
    static const int describing[] = {LEVELMODE,     QCCODE,         UVCONSENSUSNO, WCONSENSUSNO,
                                     HORIWINDSPDSTD, VERTWINDSPDSTD, PEAKPOWER};
    for (int i : singleValues(r)) {
        BufrValues& value = _decodedValues[i];
        TextString name;
        int a = -1;
        if (value.getCharValue().length() > 0 || !levelElement(value.getDescriptor(), name, a) ||
            std::find(std::begin(describing), std::end(describing), a) == std::end(describing) ||
            !r.filledBy[a].empty())
            continue;
        float* level = _levelArrays[a].elements();
        for (int j = 0; j < _numLevels; ++j)
            level[j] = value.getValue();
        r.filledBy[a].push_back(value.getDescriptor());
        value.setCharValue(name);
    }
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
    return (descriptor / 1000 == 7 || descriptor / 1000 == 10) &&
           ElementForms::quantityOf(descriptor) != ElementForms::ELEVATION;
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

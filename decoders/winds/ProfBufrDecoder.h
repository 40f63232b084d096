// The decoder of wind profiler bulletins of two networks, NPN and CAP: one
// data subset per profiler station, its levels in a delayed replication.
//
// The network of a file is the last digit of its WMO region designator
// (characters 5 and 6 of its name): 3 NPN, 0 or 6 CAP; any other digit is
// refused.  Each file names its own network; a file without one (its prefix
// has no designators) reaches no store and goes to the bad-file directory.
// The network picks the store, $QEV_DATA/point/prof/netcdf (NPN) or
// $QEV_DATA/point/CAP/netcdf (CAP), its template dictionary and the product
// key of the notifications, 10001 (NPN) or 10002 (CAP).
//
// Configuration, read once at construction: $QEV_HOME/data/
// profArrayDescTable.txt maps BUFR descriptors to the eleven profile arrays
// (ARRAY_NAMES), one "descriptor|name|" a line.  "#" begins a comment line;
// fields are separated by runs of "|"; the name loses its trailing blanks
// and the line ending; a line without a name is logged and skipped; a later
// line for a descriptor wins.
//
// A message whose data category (section 1) is not one profilers come in,
// 2 (vertical soundings, other than satellite) or 6 (radar data), holds no
// profiles: it is not stored, and the bulletin is set aside naming its
// category (the bulletin's other messages are stored).
//
// The values are read by report (ReportReader).  A station begins at its
// WMO block number (0 01 001) at the top of its subset, followed by its
// station number (0 01 002); its id is block * 1000 + number.  Its values
// run up to the next station or the end of its subset.  A station makes a
// record per observation period, whatever form the periods take: each
// repetition of a replication group that holds a time group (year to
// minute, 0 04 001 ... 0 04 005) of its own is a period; else, where two
// or more time groups of the station each open levels of their own (a
// fixed replication of periods written out, or periods one after another),
// each of them opens a period, running to the next, together with the
// qualifiers and time periods (class 08, 0 04 021 to 0 04 026) right before
// it; a station with neither is one period, its time the first plain time
// group of its subset.  Time groups in a row (nothing but qualifiers and
// time periods between them, as 3 01 014 gives them) are a period's start
// and end: the record is the end's, and its averaging period runs from the
// start to the end where the period gives no time period of its own.  A
// period's levels are the repetitions of the first replication in it whose
// group holds a level element (an element of the array table, or a wind
// direction or speed), its level count the replication's factor; a period
// whose levels are no such replication (a fixed replication written out,
// levels one after another) is split into levels where the level's first
// element, its height (else its first level element), is given again:
// levels alike in form are as many blocks of values alike, one height
// each, the height first where that fits (level values before them or
// after them, a station's, are none of a level's); levels of differing
// forms each begin at their height, or end at it where the bulletin gives
// the heights last.  Each level's profile value of an array is the first
// plain value of its elements in that level (a level's second horizontal
// wind count, 0 08 022 again, is its vertical wind's count, WCONSENSUSNO).
// A record holds as many levels as the "levels" dimension of its network's
// template: one that gives more is stored with those that fit, and the
// file is then set aside with a reason giving both counts.  Heights are
// taken from any height element the array table maps to HEIGHTS as they
// are (0 07 007, 0 07 002, 0 10 007, above sea level), or from the height
// above the station (0 07 006) plus the station's elevation (0 07 030,
// else 0 07 001); a station whose heights are above the station and whose
// elevation the bulletin does not give is left out.  Geopotential heights
// (0 10 009) and pressures are no heights of the store: a bulletin whose
// levels give only those is no profile.  A level's horizontal wind is its
// components (0 11 003, 0 11 004) where it gives both, else its direction
// and speed (0 11 001, 0 11 002) made components (windForms::components: a
// calm is 0, 0; a missing direction or speed missing components).  A
// record is a profile only when one of its levels gives a height and a
// wind (horizontal, or vertical 0 11 006); any other (a level replication
// of no repetition included) is left out.  A station (or period) without
// an id or a complete observation time is left out with a PROBLEM line
// before any profile is made; one that is no profile, once its profiles
// are made.  The file is then set aside with the reason of the first one
// left out (what its levels lack, naming the elements), where it is no
// profile only when no record of the file is one.  The values of its period
// and station that are not in its levels or other groups, the first plain
// value of each element, are its single values (a period of values one
// after another takes what it does not give itself from its station).  A
// time period (0 04 024/025/026) is stored in its variable's unit.
//
// A file is stored in three steps (write2NetcdfFile, in StoreProfiler.cpp):
// 1. preProcess gathers each record's profile values into its eleven
//    profile arrays, its level count long; levels no value reaches hold
//    1e37.  Each profile value is marked with its array's name and level.
//    The records that are no profile are left out then.
// 2. Each record gets a record of its network's store (station id, time),
//    with its level count in "numLevels", its single values into the
//    template variables of their elements, as decoded, and each profile in
//    one write into the variable of the elements that filled it; the handle
//    goes back after the record's writes.
// 3. Every distinct time of the stations that had a record and at least one
//    value written is notified once.
// The result: 1 stored, 0 a bulletin of no data subset (an EVENT line), -1
// a failure with a PROBLEM line (the file goes to the bad-file directory,
// with a reason naming its cause where it is the bulletin's; stations
// stored before it stay stored and notified).  A line that recurs
// per station is written a bounded number of times per bulletin.
//
// Everything runs on the main thread.  The decoder's lines are logged under
// "ProfBufrDecoder", those of its storing under "StoreProfiler".
#ifndef PROFBUFRDECODER_H
#define PROFBUFRDECODER_H

#include "BufrFileDecoder.h"
#include "BulletinLog.h"
#include "DataTime.h"
#include "Dict.h"
#include "RecordWriter.h"
#include "ReportReader.h"
#include "SeqOf.h"
#include "TextString.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class AbsTime;
class NetcdfPointData;

class ProfBufrDecoder : public BufrFileDecoder {
public:
    // The profile arrays, in the order of the station profiles.
    enum ArrayId {
        HEIGHTS,
        LEVELMODE,
        UCOMP,
        VCOMP,
        WCOMP,
        PEAKPOWER,
        QCCODE,
        UVCONSENSUSNO,
        WCONSENSUSNO,
        HORIWINDSPDSTD,
        VERTWINDSPDSTD,
        NUM_ARRAYS,
        // The other form of a level's horizontal wind, made into its UCOMP
        // and VCOMP: levels only, no profile of their own.
        WINDDIRECTION = NUM_ARRAYS,
        WINDSPEED,
        NUM_LEVEL_ARRAYS
    };
    static const char* const ARRAY_NAMES[NUM_ARRAYS];
    // What a level of a profile holds when no value reached it.
    static const float LEVEL_FILL;

    // The flow's values of the profiler decoder.
    static Record profilerRecord();
    // The index of an array name in ARRAY_NAMES, or -1.
    static int arrayIndex(const TextString& name);

    // Processes what waits in the ingest directory once when its
    // configuration could be read.
    ProfBufrDecoder();
    ~ProfBufrDecoder() override;

    int getTimeout() const override { return _timeout; }
    TextString getPatternFileName() const override;
    TextString getDataTypeName() const override { return _dataTypeName; }
    // The profiles of the laid-out records; those that are no profile are
    // left out (their PROBLEM lines, the file's reason), and one that gives
    // more levels than it holds says so (the file's reason).
    bool preProcess() override;
    int write2NetcdfFile() override;
    bool sendNotification() override;
    // The check of the flow; the network is taken afresh for each name.
    bool checkFileName(const TextString& name) override;

    // ---- Configuration ----
    // Data type name, time-out, array table, stores and template
    // dictionaries; false when the array table cannot be read.
    bool init();
    bool readArrayDescTable();

    // ---- Stations and times ----
    // block * 1000 + station number for each value of 0 01 001 that a value
    // follows, in order (-1 when one of them is no whole number).
    SeqOf<long> getStationIds() const;
    // Lays out the records of the decoded values (a station per 0 01 001
    // value at the top of its subset, ids[k] the k-th value's id; a record
    // per period of a station): _stationValueIndex, _stationLevelCounts and
    // their scopes and levels.  A station or period left out (see above)
    // has a PROBLEM line; placed gets the station id of each record laid
    // out.  False when one was left out (its reason kept for the file).
    bool locateStations(const SeqOf<long>& ids, SeqOf<long>& placed);
    // The observation time (seconds since 1970) of each laid-out record;
    // its year is marked "DTG".
    SeqOf<double> getObservationTimes();
    void setDataTime(AbsTime t);
    const DataTime& dataTime() const { return _dataTime; }

    // The values of the subset from its first value at or after start on:
    // of 0 10 004 (getArrayCount) and of 0 11 003, the u components of its
    // levels (getProfileCount); each value counted is traced.
    int getArrayCount(const int& start, const int& subset);
    int getProfileCount(const int& start, const int& subset);

    // ---- Pre-processing helpers ----
    void clearArrayCounters();
    static bool lessThan(const int& a, const int& b) { return a < b; }
    // Every level array _numLevels long, each level LEVEL_FILL.
    void initLevelArrays();
    // One level index, 0, per decoded value.
    void initValueLevelIndex();
    // The level arrays become station's profiles (the lists grow as needed).
    void resizeProfileArrays(int station);
    void clearProfileArrays();

    // ---- Storing (StoreProfiler.cpp) ----
    int storeFile();
    int storeAllStations(const SeqOf<long>& ids, const SeqOf<double>& times);
    // The handle and record of a station and time in the file's network
    // store; null after a PROBLEM line.
    int* getHandle(long id, double time, int& record);
    // Stores decoded value index at the record into the variable of its
    // element; a profile value is left to storeProfiles.  False when it has
    // no variable to go to; written says whether a value reached the file.
    bool storeSingleton(int ncid, int record, int index, bool& written);
    // The profiles of record k at the record, each into the variables of
    // the elements that filled it; true when one reached the file.
    bool storeProfiles(int ncid, int record, int k);
    // One value by the variable's type (char as text, int truncated, float,
    // double; others not written); false after a PROBLEM line.
    bool insertDecodedValues(int ncid, int record, const TextString& name,
                             const TextString& text, float value);
    // The text as the record's row of the named char variable, cut to it.
    bool putTextValue(int ncid, const TextString& name, int record, const TextString& text);
    // A profile at the record, cut to the variable's level dimension.
    bool storeArray(int ncid, int record, const TextString& name, const SeqOf<float>& profile);
    bool putLvlCountsNetcdf(int ncid, int record);
    bool getVarId(int ncid, const TextString& name, int& varId);
    bool notifyNewDataTimes(const SeqOf<bool>& stored, const SeqOf<double>& times);

    // ---- State (for the tests) ----
    const TextString& networkName() const { return _networkName; }
    const Dict<int, TextString>& arrayTable() const { return _arrayTable; }
    int numLevels() const { return _numLevels; }
    const SeqOf<int>& stationValueIndex() const { return _stationValueIndex; }
    const SeqOf<int>& stationLevelCounts() const { return _stationLevelCounts; }
    const SeqOf<SeqOf<float> >& stationProfiles(ArrayId array) const
    {
        return _stationProfiles[array];
    }
    // The level pre-processing gave decoded value i (-1: a later value of
    // an array in its level, not stored).
    int levelIndex(int i) const;
    const TextString& storeDirectory(bool cap) const { return cap ? _capDir : _npnDir; }

protected:
    TextString readingTraceName() const override { return _networkName; }
    bool checkDesignator(const TextString& designator) override;

private:
    // What locateStations lays out of each record, beside its start, level
    // count and id.
    struct StationRecord {
        int begin, end;            // the station's values in its subset
        int scope;                 // the record's: the subset's, or its period's
        int from, to;              // its period's values in the scope
        int year;                  // its time group (the end of its period)
        // The length of its period from a start time group to its end, in
        // seconds; -1 when the period gives no start.
        long periodSeconds;
        // Its levels' plain values, level by level (at most the store's
        // levels), and the number of levels the bulletin gives.
        std::vector<std::vector<int> > levels;
        int given;
        float elevation;           // the station's; missing when not given
        // The elements that filled each profile (-1: its array's variable).
        std::vector<int> filledBy[NUM_ARRAYS];
        // The vertical coordinates its levels give (class 07 and 10
        // elements), each with whether a level gives it a value.
        std::vector<std::pair<int, bool> > coordinates;
    };
    // A period of a station: its scope, its values there, its time group
    // and the one that starts it (ReportReader::NONE for none), and where
    // in the scope its level replication may stand.
    struct Period {
        int scope, from, to, year, start, levelsFrom;
    };
    // What the decoding read of the message besides its values.
    ReportReader::Layout readerLayout() const
    {
        return {_descriptors, _replDescList, _nestedRepList, _repCountList, _subsets, _compressed};
    }
    // The template of a store directory: its dictionary and its level
    // dimension ("levels"; INT_MAX when it has none).
    static void readTemplate(const TextString& dir, Dict<TextString, TextString>& names,
                             int& levels);
    // The count of getArrayCount and getProfileCount (name) for one element.
    int countValues(int start, int subset, int descriptor, const char* name) const;
    // The levels of values given one after another (no replication of
    // levels): each level's values, split where the level's first element,
    // its height, is given again.
    std::vector<std::vector<int> > splitLevels(const std::vector<int>& values) const;
    // Whether an element is one the array table maps to HEIGHTS.
    bool heightElement(int descriptor) const;
    // Where the delayed replications directly in a scope stand, ascending.
    std::vector<int> replicationPositions(int scope) const;
    // Whether two time groups of a scope (their years) come in a row: only
    // qualifiers and time periods between them, and no replication (of
    // those at replications).
    bool inARow(int scope, const std::vector<int>& replications, int first, int second) const;
    // The first of the qualifiers and time periods right before a time
    // group (its year) in its scope, up to a replication; the year itself
    // when there is none.
    int qualifiersBefore(int scope, const std::vector<int>& replications, int year) const;
    // The levels of a period: the first replication directly in it (among
    // the station's values) whose group holds an element of the array
    // table; null for none.
    const ReportReader::Replication* levelGroup(int scope, int begin, int end) const;
    // The periods of the station of values [begin, end) in its subset's
    // scope top.
    std::vector<Period> periodsOf(int top, int begin, int end) const;
    // The level array of an element's values: that of its array table name
    // (name), else of a wind direction or speed; -1 for a name of no array
    // (its values are marked, and fill none).  False for an element that is
    // no level's.
    bool levelElement(int descriptor, TextString& name, int& array) const;
    // The single values of a record: its period's own, then its station's
    // for the elements its period does not give.
    std::vector<int> singleValues(const StationRecord& r) const;
    // A value the record's station or period gives once for a quantity that
    // describes its levels (mode, quality control, counts, deviations,
    // signal to noise), where no level gives one: each level's, not level
    // 0's alone.
    void levelsFromSingleValues(StationRecord& r);
    // The level arrays' horizontal wind of each level that gives no pair of
    // components: the components of its direction and speed.
    void windsFromDirectionAndSpeed(StationRecord& r);
    // Why record k, its profiles made, is no profile; empty when it is one.
    TextString notAProfile(int k) const;
    // " gives a height the profiler store takes (...): " and what levels of
    // the vertical coordinates given (each with whether a level gives it a
    // value) give.
    std::string noHeight(const std::vector<std::pair<int, bool> >& coordinates) const;
    // Whether an element is a vertical coordinate of a level (class 07 or
    // 10, the station's elevation not).
    static bool verticalCoordinate(int descriptor);
    // Keeps the laid-out records whose entry is true, in order.
    void keepRecords(const std::vector<bool>& keep);
    // Whether a level height of the record comes from the height above the
    // station (0 07 006).
    bool heightsAboveStation(const StationRecord& r) const;
    // The profile values of level j into the level arrays: each array takes
    // the first value of its elements the level gives.
    void fillLevel(StationRecord& r, const std::vector<int>& values, int level);
    // Leaves a station out: its PROBLEM line, and the file's reason when it
    // is the first (of a record that is no profile, kind NO_PROFILE, the
    // reason only when no record is stored).
    static constexpr const char* NO_PROFILE = "is no profile";
    void leaveOut(const char* kind, const TextString& line, const TextString& reason);
    // The array a level's value of array a goes to, given the values of
    // each array the level gave before it: a second horizontal wind count
    // (UVCONSENSUSNO) is the level's vertical wind count (WCONSENSUSNO).
    static int placeArray(int a, const int counters[NUM_LEVEL_ARRAYS]);
    // The averaging period of a record with a start time group, from its
    // start to its end, where its values give no time period of their own;
    // true when it reached the file.
    bool storePeriodLength(int ncid, int record, const StationRecord& r,
                           const std::vector<int>& singles);
    // Why a message of this data category is no profiler's; empty for the
    // categories profilers come in.
    TextString otherCategory() const;
    // The variable of an array's profile: that of the first descriptor the
    // array table maps to the array that has one in the template.
    bool arrayVariable(int array, TextString& name) const;
    // The id of station k (for the messages); 0 outside the list.
    long stationId(int k) const;
    static TextString timeText(double seconds);

    NetcdfPointData* _currentStore = nullptr;
    SeqOf<int> _stationLevelCounts;
    int _numLevels = 0;
    SeqOf<int> _stationValueIndex;
    std::vector<StationRecord> _records;
    SeqOf<long> _stationIds;
    // The reader of the decoded values, made by locateStations.
    std::unique_ptr<ReportReader> _reader;
    // Why the file is set aside, from the first station left out.
    TextString _refusal;
    // The reason of the first record that is no profile.
    TextString _noProfile;
    DataTime _dataTime;
    TextString _npnDir;
    TextString _capDir;
    NetcdfPointData* _npnStore = nullptr;
    NetcdfPointData* _capStore = nullptr;
    // The levels a record of each store holds.
    int _npnLevels = 0;
    int _capLevels = 0;
    TextString _networkName;
    Dict<int, TextString> _arrayTable;
    // The elements the array table maps to HEIGHTS, in its order.
    std::vector<int> _heightElements;
    int _arrayCounters[NUM_LEVEL_ARRAYS];
    SeqOf<float> _levelArrays[NUM_LEVEL_ARRAYS];
    SeqOf<SeqOf<float> > _stationProfiles[NUM_ARRAYS];
    SeqOf<int> _valueLevelIndex;
    Dict<TextString, TextString> _npnVarDict;
    Dict<TextString, TextString> _capVarDict;
    Dict<TextString, TextString> _currentVarDict;
    TextString _dataTypeName;
    int _timeout = 36000;
    bool _initialised = false;
    BulletinLog _bulletinLog;
    RecordWriter _writer;
};

#endif

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
// A station begins at its WMO block number (0 01 001), followed by its
// station number (0 01 002); its id is block * 1000 + number.  Its observation time is
// the first year, month, day, hour and minute group (0 04 001 ... 0 04 005)
// of its values; its values are stored from the day on (the year's position
// + 2) up to the next year value, the next station or the end of its
// subset.  Its level count is the delayed replication count of its subset
// when the file has one per subset and one station per subset, otherwise
// the largest number of values one of its profile arrays has; a station
// whose count passes the "levels" dimension of its network's template is
// left out with a PROBLEM line before any profile is made (a delayed
// replication of a group that reads no data costs a few bits a factor, and
// its count would size eleven arrays per station).  The values of
// an array take levels 0, 1, 2... in their order; a level that carries two
// wind counts (0 08 022 twice: the horizontal wind's, then the vertical
// wind's) gives the second to the vertical wind's count (WCONSENSUSNO), so
// that the level is counted once and the two counts never share a profile.
// A time period (0 04 024/025/026) is stored in its variable's unit.
//
// A file is stored in three steps (write2NetcdfFile, in StoreProfiler.cpp):
// 1. preProcess gathers each station's profile values into its eleven
//    profile arrays, its level count long; levels no value reaches hold
//    1e37.  Each profile value is marked with its array's name and level.
// 2. Each station gets a record of its network's store (id, time), with its
//    level count in "numLevels", each profile in one write at its first
//    level and every other value into the template variable of its element,
//    as decoded; the handle goes back after the station's writes.
// 3. Every distinct time of the stations that had a record and at least one
//    value written is notified once.
// The result: 1 stored, 0 a bulletin of no data subset (an EVENT line), -1
// a failure with a PROBLEM line (the file goes to the bad-file directory;
// stations stored before it stay stored and notified).  A line that recurs
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
#include "SeqOf.h"
#include "TextString.h"

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
        NUM_ARRAYS
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
    // Lays out the stations of the decoded values (one per 0 01 001 value,
    // ids[k] the k-th one's id): _stationValueIndex, _stationLevelCounts and
    // their value ranges.  A station without an id or a complete observation
    // calendar time is left out with a PROBLEM line; placed gets the ids of the
    // stations laid out.  False when one was left out.
    bool locateStations(const SeqOf<long>& ids, SeqOf<long>& placed);
    // The observation time (seconds since 1970) of each laid-out station;
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
    // Stores decoded value index of station at the record: a value into the
    // variable of its element, or the profile its first level opens.  False
    // when it has no variable to go to; written says whether a value
    // reached the file.
    bool storeSingleton(int ncid, int record, int index, int station, bool& written);
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
    // The level pre-processing gave decoded value i (-1: beyond the station's
    // levels, not stored).
    int levelIndex(int i) const;
    const TextString& storeDirectory(bool cap) const { return cap ? _capDir : _npnDir; }

protected:
    TextString readingTraceName() const override { return _networkName; }
    bool checkDesignator(const TextString& designator) override;

private:
    // The template of a store directory: its dictionary and its level
    // dimension ("levels"; INT_MAX when it has none).
    static void readTemplate(const TextString& dir, Dict<TextString, TextString>& names,
                             int& levels);
    // The count of getArrayCount and getProfileCount (name) for one element.
    int countValues(int start, int subset, int descriptor, const char* name) const;
    // Largest number of values one profile array has in [begin, end).
    int countLevelValues(int begin, int end) const;
    // The array a station's next value of array a goes to, given the
    // station's counters so far and its first array other than the wind
    // counts (marker, set here): a horizontal wind count (UVCONSENSUSNO) of
    // a level that already has one is that level's vertical wind count
    // (WCONSENSUSNO), whose counter is then moved to the level.
    static int placeArray(int a, int counters[NUM_ARRAYS], int& marker);
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
    // Per station: its first value (the block number) and the end of its
    // values (the next station, or the end of its subset).
    SeqOf<int> _stationBegins;
    SeqOf<int> _stationEnds;
    SeqOf<long> _stationIds;
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
    int _arrayCounters[NUM_ARRAYS];
    SeqOf<float> _levelArrays[NUM_ARRAYS];
    SeqOf<SeqOf<float> > _stationProfiles[NUM_ARRAYS];
    SeqOf<int> _valueLevelIndex;
    Dict<TextString, TextString> _npnVarDict;
    Dict<TextString, TextString> _capVarDict;
    Dict<TextString, TextString> _currentVarDict;
    TextString _dataTypeName;
    int _timeout = 36000;
    // Descriptor -> station whose profile of that descriptor was written.
    Dict<long, long> _storedArrays;
    bool _initialised = false;
    BulletinLog _bulletinLog;
    RecordWriter _writer;
};

#endif

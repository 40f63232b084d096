// NetcdfPointData: the point-data store of one directory of netCDF files (or
// of one static netCDF file).
//
// A directory holds a "template" file and data files copied from it, one per
// file period, named by the period's start time ("%Y%m%d_%H%M").  The
// template's global attributes, dimensions and bookkeeping variables
// configure the store (analyzeStructure); a "template.override" file beside
// it can replace dimension sizes and global attributes by name.  The store
// keeps one record per data file (PointNetcdfFileInfo) with its cached
// bookkeeping, gives out handles (an int* whose value is the ncid of the open
// file) and takes them back.
//
// Stores are fetched by path from getNetcdfPointData and live to the end of
// the process; a path whose store cannot be set up stays null.  Everything
// here is main-thread only and unlocked.  Messages are logged under the
// source name "NetcdfPointData".
#ifndef NETCDFPOINTDATA_H
#define NETCDFPOINTDATA_H

#include "AbsTime.h"
#include "DataAccessKey.h"
#include "Dict.h"
#include "LatLonCoord.h"
#include "SeqOf.h"
#include "SeqOfPtr.h"
#include "Set.h"
#include "TextString.h"

#include <cstdint>

class NcFile;
class NetcdfIo;
struct PointFileStructure;
struct PointNetcdfFileInfo;

class NetcdfPointData {
public:
    // The store of a directory (or static file), made on the first fetch of
    // the path in the cache of its mode; null when it could not be set up.
    static NetcdfPointData* getNetcdfPointData(const TextString& path, bool writable,
                                               bool staticFile);
    // The store of a data-access dictionary entry: its static file (prefix
    // and suffix, found along the information-file search path) or its
    // directory below QEV_DATA.
    static NetcdfPointData* getNetcdfPointDataForKey(DataAccessKey key, bool writable);
    // Deletes every store of both caches (the caches keep their paths; no
    // store may be fetched afterwards).
    static void deleteAllStores();

    // The time-stamp name of the data file the writer used last.
    static TextString& lastFileTimeStamp();
    // Writable files are closed and reopened instead of synced.
    static void disableNcSync();

    NetcdfPointData(const TextString& directory, bool writable, bool staticFile);
    virtual ~NetcdfPointData();
    NetcdfPointData(const NetcdfPointData&) = delete;
    NetcdfPointData& operator=(const NetcdfPointData&) = delete;

    // The handle and record for one station (one id text per id variable of
    // the template) and time (one value per time variable, seconds since
    // 1970): the record already held for that station and time, or the next
    // record of the data file whose period covers the time (made from the
    // template when there is none).  On success the file has one client more
    // and newRecord says whether the record is new; null (logged) on failure.
    int* getFileHandleAndRecord(const SeqOf<TextString>& ids, SeqOf<double>& times, int& record,
                                bool& newRecord);
    // The same for a store whose records are keyed by their position.
    int* getFileHandleAndRecord(const LatLonCoord& latLon, SeqOf<double>& times, int& record,
                                bool& newRecord);
    // Gives back one client of a handle.  At the last client a writable store
    // syncs the file (or closes it when it is not among the max_open newest)
    // and a read-only store keeps it on the clientless list.  False for a
    // handle the store does not hold, one whose file is gone, or a failed
    // sync.
    bool releaseHandle(int* handle);
    bool releaseHandles(const SeqOfPtr<int*>& handles);

    NetcdfPointData& setCheckInterval(int seconds);
    // Makes the i-th known file (0 the newest) the selected one; false, and
    // nothing changes, past the last.
    bool selectFile(int i);
    SeqOf<int> timeVariableIds() const;
    SeqOf<int> idVariableIds() const;
    // A new sequence (the caller deletes it) of the forecast times in seconds.
    SeqOf<int>* forecastTimes() const;

private:
    friend struct NetcdfPointDataInspector; // the tests' view of the bookkeeping

    // ---- Template analysis ----
    PointFileStructure* analyzeStructure(int ncid, PointNetcdfFileInfo* info);
    // Builds a new structure; null when the layout breaks a rule.
    PointFileStructure* buildStructure(int ncid, PointNetcdfFileInfo* info);
    // Reads a file's counters (level 1) into its record: record count, global
    // inventory, nStaticIds, firstOverflow, each checked against the layout.
    bool readCounters(int ncid, const PointFileStructure* s, PointNetcdfFileInfo* info);
    int getVarId(int ncid, const TextString& name);
    int getDimSize(int ncid, const TextString& name);
    int getIntAttribute(int ncid, const TextString& name, int& value);
    int getTextAttribute(int ncid, const TextString& name, TextString& value);
    int getVariableList(int ncid, const TextString& attribute, SeqOf<int>& ids, int& total,
                        SeqOf<int>& lengths);
    // The override text of a name, when present and at most maxLength long.
    bool overrideText(const TextString& name, int maxLength, TextString& value) const;
    void readOverrides(const TextString& fileName);
    TextString overrideFileName() const;

    // ---- File records and file opening ----
    PointNetcdfFileInfo* newFileInfo(AbsTime fileTime);
    void deleteFileInfo(PointNetcdfFileInfo* info);
    // Takes a record that is going off the clientless list and out of the
    // store's pointers, and closes its file.
    void closeForGood(PointNetcdfFileInfo* info);
    // Lowers a structure's use count, destroying it at 0.
    void releaseStructure(PointFileStructure* s);
    NcFile* openNetCdfFile(const TextString& path, bool write, bool logFailure);
    // Deletes a file object opened through the store, counting it off.
    static void deleteNcFile(NcFile*& file);
    NcFile* getFileInfoNcFile(PointNetcdfFileInfo* info);
    void closeCachedFile(PointNetcdfFileInfo* info);
    int findStaticIdIndex(const TextString& id, PointNetcdfFileInfo* info) const;
    int findNewestOverflowRecord(const TextString& id, PointNetcdfFileInfo* info) const;
    int findOverflowRecord(const TextString& id, int t1, int t2, int unused,
                           PointNetcdfFileInfo* info) const;
    static void unlinkOpenFile(PointNetcdfFileInfo* info);

    // ---- Handles, release and sync ----
    bool openFileInfo(PointNetcdfFileInfo* info);
    void giveNcFileToFileInfo(PointNetcdfFileInfo* info, NcFile* file);
    // The release of one handle; message names the caller in the sync trace.
    bool releaseOne(int* handle, const char* message);
    void closeFile(PointNetcdfFileInfo* info);
    int mysync(PointNetcdfFileInfo* info);
    // Syncs a writable file by the rule of NC_SYNC_WORKS_FOR_WRITING; false
    // (logged) when the data did not reach the file.
    bool syncWritten(PointNetcdfFileInfo* info);
    // Takes a record out of the store while clients still hold its handle:
    // its file is closed, the handle's value becomes -1 and the record is
    // freed at its last release.
    void detachFileInfo(PointNetcdfFileInfo* info);
    static void registerClientless(PointNetcdfFileInfo* info);
    // Removes a listed record from the clientless list.
    static void listRemove(PointNetcdfFileInfo* info);
    static void stripClientless(PointNetcdfFileInfo* info);

    // ---- File list, bookkeeping levels, resynchronisation ----
    bool updateFileInfo();
    // A new record for a listed data file, opened and analysed; null (logged,
    // its time set aside) when the file cannot be used.
    PointNetcdfFileInfo* addListedFile(AbsTime fileTime, int place);
    bool readFileStructure(int ncid, PointNetcdfFileInfo* info, int level);
    // Reads the variables of one level into the record, checked against the
    // layout; false (logged) when a read fails or a value is out of range.
    bool readBookkeepingLevel(const NetcdfIo& io, PointNetcdfFileInfo* info, int level);
    // The station keys of every record of a file, one row of totalIdLen
    // characters each: the id variables joined, or the position's key.
    bool readRecordKeys(const NetcdfIo& io, PointNetcdfFileInfo* info, char* rows);
    void resyncAndReport(AbsTime time, const char* what);
    // Marks a file that could not be read: out of the view for a while and
    // the directory listed again at the next request.
    void noteBadFile(PointNetcdfFileInfo* info);

    // ---- The file for a time, and the writer ----
    PointNetcdfFileInfo* getFileInfoForTime(AbsTime t);
    // The index (newest first) of the file whose lookup span holds t, -1 for
    // none, -2 after a resynchronisation; found is set by the search.
    int locateFile(int t, PointNetcdfFileInfo*& found);
    // Copies the template to "scrfil" and names the copy by its start time,
    // never replacing a file of that name.
    bool makeDataFile(AbsTime start);
    int* getFileHandleAndRecord(const SeqOf<TextString>& ids, SeqOf<double>& times, int& record,
                                bool& newRecord, const LatLonCoord* latLon);
    // The station key of a record; false (logged) when it does not fit.
    bool makeKey(const PointFileStructure* s, const SeqOf<TextString>& ids,
                 const LatLonCoord* latLon, TextString& key) const;
    // Writes the ids, times and bookkeeping of a new record: the ending taken
    // (1 no table, 2 known station, 3 overflow, 4 new station), 0 (logged)
    // on a failed write.
    int writeNewRecord(PointNetcdfFileInfo* info, const SeqOf<TextString>& ids,
                        const SeqOf<double>& times, const LatLonCoord* latLon,
                        const TextString& key, int v, int previous, int staticIndex,
                        int insertAt);

    bool _writable;
    bool _staticFile;
    bool _noRecordMapping;
    int _dirModTime;
    long _dirModTimeNs;             // the sub-second part of the same time
    bool _forceListing;             // list the directory whatever its time says
    TextString _directory;
    PointFileStructure* _templateStructure;
    bool _forecasts;
    int _filePeriod;
    uint32_t _reReadMask;
    Set<AbsTime> _badFileTimes;
    int _accessErrorCountdown;
    SeqOf<AbsTime> _fileTimes;      // newest first
    int _nextCheckTime;
    int _checkInterval;
    TextString _latLonNames;
    int _oldestLookupStart;
    int _oldestLookupEnd;
    int _newestLookupStart;
    int _newestLookupEnd;
    int _latestCoverageEnd;
    int _earliestAcceptedTime;
    Dict<unsigned long, PointNetcdfFileInfo*> _handles;   // by the handle's address
    Dict<AbsTime, PointNetcdfFileInfo*> _fileInfos;       // by file time
    Dict<TextString, PointFileStructure*> _structures;    // by cdlDate
    PointNetcdfFileInfo* _lastWrittenFileInfo;
    PointNetcdfFileInfo* _currentFileInfo;
    int _selectedFile;
    int _resyncCount;
    Dict<TextString, TextString> _overrides;

    // Process-wide: the clientless list, open files and the sync rule.
    static PointNetcdfFileInfo* newestClientlessObject;
    static PointNetcdfFileInfo* oldestClientlessObject;
    static int clientlessCount;
    static int nClientlessHandles;
    static PointNetcdfFileInfo* clientlessCursor;
    static int fileOpenCount;
    static int expectedOpenFiles;
    static int NC_SYNC_WORKS_FOR_WRITING;
};

#endif

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
// the process; a path whose store cannot be set up (no template, or a
// directory another process holds locked) gives null, and is tried again at
// its next fetch.  Everything
// here is main-thread only and unlocked.  Messages are logged under the
// source name "NetcdfPointData".
#ifndef NETCDFPOINTDATA_H
#define NETCDFPOINTDATA_H

#include "AbsTime.h"
#include "DataAccessKey.h"
#include "DataTime.h"
#include "Dict.h"
#include "LatLonCoord.h"
#include "SeqOf.h"
#include "SeqOfPtr.h"
#include "Set.h"
#include "TextString.h"
#include "PointRecordSet.h"
#include "TimeRange.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class NcFile;
class NetcdfIo;
class PassJournal;
struct PointFileStructure;
struct PointNetcdfFileInfo;

class NetcdfPointData {
public:
    // The store of a directory (or static file), made on the first fetch of
    // the path in the cache of its mode; null when it could not be set up.
    static NetcdfPointData* getNetcdfPointData(const TextString& path, bool writable,
                                               bool staticFile);
    // A writable store of a directory that could not be had before (store
    // null): fetched again.  True when it is had just now, so that the
    // caller reads again what it keeps of the directory's template.
    static bool fetchAgain(NetcdfPointData*& store, const TextString& path);
    // The store of a data-access dictionary entry: its static file (prefix
    // and suffix, found along the information-file search path) or its
    // directory below QEV_DATA.
    static NetcdfPointData* getNetcdfPointDataForKey(DataAccessKey key, bool writable);
    // Deletes every store of both caches (the caches keep their paths; no
    // store may be fetched afterwards).
    static void deleteAllStores();
    // Deletes every store of both caches and forgets their paths: the next
    // fetch of a path makes its store anew from the files on disk.  No store
    // pointer fetched before stays valid.
    static void forgetAllStores();

    // A writable store that cannot use its pass journal (it cannot be read,
    // written or written anew) stores nothing: each record asked of it is
    // refused at once and counted (journalRefusals), so that the caller
    // leaves its bulletin in the ingest directory.  A PROBLEM line names the
    // journal and the reason when the store stops, and one when it stores
    // again.  retryJournals tries each such journal again (the decoders'
    // flow calls it before each pass); journalRecoveries counts the
    // journals that could be used again.
    static void retryJournals();
    static unsigned journalRefusals();
    static unsigned journalRecoveries();

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
    // Why the last request for a record was refused as one this store
    // cannot hold, whatever the state of the store: its id longer than the
    // store's ids or its variable, a time no data file holds, a forecast
    // time outside those of its data file, a position off the globe.  The
    // words complete "<report>: " ("its id \"N1234\" is longer than the 8
    // characters the store's ids hold").  Empty after a record placed or a
    // failure of the store itself.
    const std::string& recordRefusal() const { return _recordRefusal; }
    // A new record for the station and time even when the station has one
    // at that time already: a second observation of the station at the same
    // time, held beside the first.  It joins the station's chain like any
    // record, so that every read of the station or of the time finds both.
    int* getFileHandleAndNewRecord(const SeqOf<TextString>& ids, SeqOf<double>& times,
                                   int& record);
    // Gives back one client of a handle.  At the last client a writable store
    // syncs the file (and closes it when it is not among the max_open newest)
    // and a read-only store keeps it on the clientless list.  False for a
    // handle the store does not hold, one whose file is gone, or a failed
    // sync.
    bool releaseHandle(int* handle);
    bool releaseHandles(const SeqOfPtr<int*>& handles);

    // A pass over one bulletin (identity: its name and content) begins.
    // Until it ends, a failed write or sync fails the rest of its records at
    // once, and the store logs a bounded number of lines for it.  A store
    // whose records carry no bookkeeping (keyed by position, every record a
    // new one) notes in its pass journal which records the pass places; a
    // later pass over the same bulletin, whether the earlier one ended or
    // not, takes those records again, call by call, instead of new ones.
    // Records placed by passes whose notes were lost (a damaged journal set
    // aside) are unknown: a pass whose first record a data file already
    // holds among them (same station or position, same time) fails, so that
    // its bulletin is set aside rather than stored twice.  Records that a
    // power loss left past a file's last commit with no note (the file
    // reached the disk before its notes) are emptied when the store is
    // opened, and new records go over them.
    //
    // What a commit (DiskCommit) guarantees, for every writable store: the
    // pass journal counts the records of each data file the commit brought
    // to the disk, and the store opens each data file with those records
    // only (and, keyed by position, those up to the last one a note names).
    // The records after them, whose pages may have reached the disk in
    // part, in any order or not at all, are taken back: the header's record
    // count cut, the station table, chains, inventories and bins made again
    // from the records kept, with one line; their bulletins, still in the
    // ingest directory, place them again.  Bookkeeping that names records
    // past the count (a header older than the pages after it) is made again
    // from the records, never refused.
    void beginPass(const TextString& identity);
    // complete: every record of the bulletin was placed and given back.
    // Either way the notes stay for the next pass over it, among those of
    // the most recent passes.
    void endPass(bool complete);
    // Why the store refused the current or last pass as one whose bulletin
    // may be stored already (the words to set the bulletin aside with);
    // empty when it did not.
    const std::string& passRefusal() const { return _passRefusal; }

    NetcdfPointData& setCheckInterval(int seconds);
    // Makes the i-th known file (0 the newest) the selected one; false, and
    // nothing changes, past the last.
    bool selectFile(int i);
    SeqOf<int> timeVariableIds() const;
    SeqOf<int> idVariableIds() const;
    // A new sequence (the caller deletes it) of the forecast times in seconds.
    SeqOf<int>* forecastTimes() const;

    // ---- Reading ----
    // Every read first lists the directory again when the check time has
    // come.  Time ranges and windows include both ends; only their start and
    // end are used.  A handle is good while the store holds it for a file
    // still in its view; a handle whose file went away answers a failure.

    // Small queries about handles, forecasts and variables.
    bool isValidHandle(int* handle) const;
    // The time-stamp name of the handle's data file; "" for a bad handle.
    TextString getFileTimeStamp(int* handle) const;
    NcFile* getNcFile(int* handle) const;
    // The forecast slot of t in the handle's file (-1 outside the forecast
    // list, 0 without one); hasForecasts tells which.
    int getForecastIndex(int* handle, AbsTime t, bool& hasForecasts, AbsTime& fileTime) const;
    SeqOf<TextString> getTimeVariableNames();
    SeqOf<TextString> getIdVariableNames();
    // The netCDF id (one per handle when the files differ, -1 for a file
    // without it), type and inner dimension sizes of a data variable.
    bool getVariableInfo(const TextString& name, const SeqOfPtr<int*>& handles,
                         SeqOf<int>& varIds, int& type, SeqOf<int>& dims) const;
    // The times of a file's inventory bins that hold data (a row of bin
    // characters, or a word of bin bits), rounded to a resolution, within an
    // optional window: DataTime values appended after the last one, or
    // AbsTime values kept ascending without duplicates.
    void appendCharBinDataTimes(PointNetcdfFileInfo* file, int resolution, const char* bins,
                                const TimeRange* window, SeqOf<DataTime>& times) const;
    void appendBinDataTimes(PointNetcdfFileInfo* file, int resolution, int bits,
                            const TimeRange* window, SeqOf<DataTime>& times) const;
    void appendCharBinTimes(PointNetcdfFileInfo* file, int resolution, const char* bins,
                            const TimeRange* window, SeqOf<AbsTime>& times) const;
    void appendBinTimes(PointNetcdfFileInfo* file, int resolution, int bits,
                        const TimeRange* window, SeqOf<AbsTime>& times) const;

    // Records of one file, through its handle.
    bool getRecordIds(int* handle, int first, int count, SeqOf<TextString>& ids);
    bool getRecordTimes(int* handle, int first, int count, SeqOf<long>& times);
    // The span of records that can hold data of the range.
    bool getRecordRange(TimeRange range, int* handle, int& first, int& count);
    bool getIdsInTimeRange(TimeRange range, int* handle, SeqOf<TextString>& ids, int& first,
                           int& count);
    // The records of one id inside the range, ascending.
    bool getRecordsForId(const TextString& id, TimeRange range, int* handle,
                         SeqOf<int>& records);
    bool getRecordsInTimeRange(TimeRange range, int* handle, SeqOf<int>& records);
    // The positions of one record range per handle, one range after the
    // other into the caller's arrays.
    bool getLatLons(const SeqOfPtr<int*>& handles, const SeqOf<int>& firsts,
                    const SeqOf<int>& counts, float* lats, float* lons);

    // Handles for a time range or a station, oldest file first; each one
    // counts a client of its file until it is given back.
    bool getHandlesForTimeRange(TimeRange range, SeqOfPtr<int*>& handles);
    bool getHandlesForId(const TextString& id, TimeRange range, SeqOfPtr<int*>& handles);
    // The records of a time range (or of one id) of a file added to a record
    // set: the set given, a new one (the caller deletes it) or, when nothing
    // is found, the set given unchanged.
    PointRecordSet* selectTimeRange(TimeRange range, int* handle, PointRecordSet* set);
    PointRecordSet* selectIdRecords(const TextString& id, TimeRange range, int* handle,
                                    PointRecordSet* set);

    // A data file that could not be read: out of the view at the next
    // listing (the newest file gets a pause of a second instead).
    void noteFileAccessError(PointNetcdfFileInfo* file);
    // The id of the selected file's record nearest to a position within a
    // radius (where becomes its position), "" when there is none.
    TextString nearestPoint(LatLonCoord& where, float radiusKm, float* distanceKm);
    // The position of an id's newest record in the selected file;
    // {1e12, 1e12} when it is not there.  tryCase tries the lower and upper
    // case forms too and gives the id the form found.
    LatLonCoord getIdLocation(TextString& id, bool tryCase);

    // The data times of one station, or of the whole store, over all data
    // files: ascending, without duplicates, rounded to a resolution (at least
    // the bin width; negative: the record times themselves), within an
    // optional window.  The update forms take the list an earlier call
    // returned and read again only the files that can hold newer data.  The
    // forms with a TimeRange are false at once for a range that is not valid.
    bool getIdTimes(const TextString& id, SeqOf<DataTime>& times, int resolution,
                    const TimeRange* window);
    bool getIdTimes(const TextString& id, SeqOf<DataTime>& times, int resolution);
    bool getIdTimes(const TextString& id, TimeRange window, SeqOf<DataTime>& times,
                    int resolution);
    bool updateIdTimes(const SeqOf<DataTime>* known, const TextString& id,
                       SeqOf<DataTime>& times, int resolution, const TimeRange* window);
    bool updateIdTimes(const SeqOf<DataTime>* known, const TextString& id,
                       SeqOf<DataTime>& times, int resolution);
    bool updateIdTimes(const SeqOf<DataTime>* known, const TextString& id, TimeRange window,
                       SeqOf<DataTime>& times, int resolution);
    bool getStoreDataTimes(SeqOf<DataTime>& times, int resolution, const TimeRange* window);
    bool getStoreDataTimes(SeqOf<DataTime>& times, int resolution);
    bool getStoreDataTimes(TimeRange window, SeqOf<DataTime>& times, int resolution);
    bool updateStoreDataTimes(const SeqOf<DataTime>* known, SeqOf<DataTime>& times,
                              int resolution, const TimeRange* window);
    bool updateStoreDataTimes(const SeqOf<DataTime>* known, SeqOf<DataTime>& times,
                              int resolution);
    bool updateStoreDataTimes(const SeqOf<DataTime>* known, TimeRange window,
                              SeqOf<DataTime>& times, int resolution);
    // The same as plain times (resolution 0: the bin width for a store with
    // forecasts, else the file period).
    bool getIdAbsTimes(const TextString& id, SeqOf<AbsTime>& times, int resolution,
                       const TimeRange* window);
    bool getIdAbsTimes(const TextString& id, SeqOf<AbsTime>& times, int resolution);
    bool getIdAbsTimes(const TextString& id, TimeRange window, SeqOf<AbsTime>& times,
                       int resolution);
    bool getStoreTimes(SeqOf<AbsTime>& times, int resolution, const TimeRange* window);
    bool getStoreTimes(SeqOf<AbsTime>& times, int resolution);
    bool getStoreTimes(TimeRange window, SeqOf<AbsTime>& times, int resolution);

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
    // The time of every record of a file (its invTime, else its first time
    // variable), in seconds; false (logged) when the read fails.
    bool readRecordTimes(const NetcdfIo& io, PointNetcdfFileInfo* info, int* times);
    // The station table of a file just read (level 3) checked against the
    // file's records: a table a writer left half written is made again,
    // with the chains, inventories and bins, from the records' keys and
    // times, written with a sync and read again; false (logged) when that
    // fails.
    bool mendStationTable(const NetcdfIo& io, PointNetcdfFileInfo* info);
    // What is half written in the table just read, "" when nothing: keys
    // holds every record's key, overflow and previous their isOverflow and
    // prevRecord.
    std::string halfWritten(PointNetcdfFileInfo* info, const char* keys,
                            const std::vector<int>& overflow, const std::vector<int>& previous);
    // The first station whose prevRecord chain does not pass through each
    // of its records, newest first, and through nothing else; "" when none.
    std::string brokenChain(PointNetcdfFileInfo* info, const char* keys,
                            const std::vector<int>& overflow, const std::vector<int>& previous);
    bool remakeBookkeeping(const NetcdfIo& io, PointNetcdfFileInfo* info, const char* keys);
    // The bookkeeping of a file made again from its records (their keys
    // read when keys is null), written with a sync and levels 1 to 3 read
    // again; false (logged, the file noted bad) when that fails.
    bool remakeFromRecords(const NetcdfIo& io, PointNetcdfFileInfo* info, const char* keys);
    // The line of bookkeeping that names records past the file's count
    // ("The bins of <file> name records past its N (<detail>its header is
    // older than the pages after it); ..."), which is made again.
    void logStaleBookkeeping(const PointNetcdfFileInfo* info, const char* what, const char* verb,
                             long records, const std::string& detail);
    // Takes back the records of a data file past those the pass journal
    // counts (heldRecords: what its last commit brought to the disk, and
    // the records its notes name): the header's record count cut to them
    // and the bookkeeping made again from the records kept, with one line.
    // False (logged, the file noted bad and not used) when that fails.
    // unsynced: the records are taken back because the file could not be
    // synced (their bulletins were set aside), not found at an opening.
    bool takeBackUncommitted(PointNetcdfFileInfo* info, bool unsynced = false);
    // takeBackUncommitted, then the bookkeeping of a file whose counters
    // name records past its count made again; false (logged, the file noted
    // bad) when either fails.
    bool mendOnOpen(PointNetcdfFileInfo* info);
    // A data file whose sync failed, taken back as a restart takes it before
    // a record is placed in it again; false (logged, the pass failed) when
    // that cannot be done now.
    bool takeBackUnsynced(PointNetcdfFileInfo* info);
    // Told by DiskCommit that the sync of a file failed: the data file of
    // that device and inode is marked unsynced, its records past its
    // committed count no longer held by the journal.
    void syncFailed(unsigned long long device, unsigned long long inode);
    void markUnsynced(PointNetcdfFileInfo* info);
    // Notes a data file the store has just handed to the kernel for the
    // next commit, once a commit generation.
    void noteWritten(PointNetcdfFileInfo* info);
    void resyncAndReport(AbsTime time, const char* what);
    // Renames a data file the store cannot use to its name + ".damaged" (a
    // suffix ".1", ".2", ... when that is taken), never replacing a file;
    // false (logged) when it cannot.
    bool setAside(const TextString& path, TextString& aside);
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
    // beside: a new record even when the station has one at that time.
    int* getFileHandleAndRecord(const SeqOf<TextString>& ids, SeqOf<double>& times, int& record,
                                bool& newRecord, const LatLonCoord* latLon, bool beside = false);
    // Takes the advisory lock of a writable store's directory; false
    // (logged) when another process holds it.
    bool lockDirectory();
    // Removes the scratch files other processes left in the directory.
    void removeScratchFiles();
    // Opens the pass journal of a writable store and takes back the
    // records of its data files that no commit counted.
    void openPassJournal();
    // Fills afresh the records of the data files (of one file time, when
    // given) that the journal found named by no note past their committed
    // counts.
    void emptyFreeRecords(int onlyFileTime = -1);
    // The records of a file that could not be emptied, emptied before a
    // record is placed in it; false (logged, the pass failed) when they
    // cannot be.
    bool emptyAgain(PointNetcdfFileInfo* info);
    // Whether the store cannot use its journal now: a journal that must be
    // written anew is written first.  Stopping and storing again are
    // logged by holdStore and releaseStore.
    bool journalHeld();
    void holdStore(const std::string& why);
    void releaseStore();
    // Tries a journal that could not be used again.
    void reopenJournal();
    bool journaled(const PointNetcdfFileInfo* info) const;
    // Whether a record of the file that a pass whose notes are lost placed
    // (a pass journal set aside) holds the station (key or position) at
    // time v, or cannot be read; reason (for the pass) says so.
    bool heldWithoutNote(PointNetcdfFileInfo* info, const TextString& key,
                         const LatLonCoord* latLon, int v, std::string& reason);
    // Whether a PROBLEM or EVENT line of the writer is logged: always
    // outside a pass, the first few of a pass.
    bool passLineWanted();
    // A failed write of the pass: the rest of its records fail at once.
    void passFailed(const std::string& reason);
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
    // Logs a failed write of the writer (bounded within a pass) and fails
    // the rest of the pass.
    void logWriteFailure(const char* what, int var);
    // Writes record r's ids (or position), times, invTime, prevRecord and
    // isOverflow, syncs them to the disk and enters them in the caches;
    // false (logged) on a failure.
    bool commitRecord(PointNetcdfFileInfo* info, int r, const SeqOf<TextString>& ids,
                      const SeqOf<double>& times, const LatLonCoord* latLon,
                      const TextString& key, int v, int previous, bool overflow);

    // ---- Reading: shared steps ----
    // Lists the directory again when the check time has come (or force is
    // set); true when the file list was rebuilt.
    bool refreshIfDue(bool force = false);
    // The record of a good handle, null otherwise.
    PointNetcdfFileInfo* handleFileInfo(const int* handle) const;
    // The same, logging the message given (PROBLEM) for a bad handle.
    PointNetcdfFileInfo* handleFileOrLog(const int* handle, const char* message) const;
    // The start of a read of one file for a time range: the refresh, the
    // store's span (null, silently, when the range misses it) and the
    // handle's file (null, logged with noFile).  The range's ends go to start
    // and end; with wholeStatic a static store's are its file's coverage.
    PointNetcdfFileInfo* rangeReadFile(const TimeRange& range, int* handle, const char* noFile,
                                       bool wholeStatic, int64_t& start, int64_t& end);
    PointNetcdfFileInfo* fileInfoAt(int index) const;
    // The names of template variables, read from the directory's template.
    SeqOf<TextString> variableNames(const SeqOf<int>* ids);
    // One client more on a record, taken off the clientless list at its
    // first.
    static void addClient(PointNetcdfFileInfo* info);
    // The newest record of an id in a file: its static row's last record,
    // else the newest overflow record; -1 when the file does not hold it.
    int newestRecordOf(const TextString& id, PointNetcdfFileInfo* info) const;
    // The selected file (or the current one), read to level 5, for the
    // position queries; null when there is none or it cannot be read.
    PointNetcdfFileInfo* selectedFileInfo();
    // Positions of records first .. first + count - 1: from the cache, or
    // from the file when the cache has none; false when neither has them.
    bool recordPositions(PointNetcdfFileInfo* info, int first, int count, float* lats,
                         float* lons) const;
    // What a file offers a record set for its records 0 .. records - 1;
    // positions the cache lacks are read into lats and lons.
    PointRecordSet::Source recordSource(PointNetcdfFileInfo* info, int records, bool withTimes,
                                        std::vector<float>& lats, std::vector<float>& lons) const;

    // The range a new record set records: the one asked, or a static
    // file's coverage.
    TimeRange setRange(const TimeRange& range, const PointNetcdfFileInfo* info) const;

    // The inventory scans: the known files from the oldest to the newest
    // under a window (null given to the visit when it covers the file).
    enum class ScanStep { Next, Skip, Stop, Unreadable };
    enum class FileKeeping { HoldOne, KeepNewest, None };
    typedef std::function<ScanStep(PointNetcdfFileInfo*, const TimeRange*)> ScanVisit;
    // An unreadable file is closed; with restart, the first one is noted,
    // the file list refreshed, reset called and the scan started again.
    // Returns the number of unreadable files.
    int scanDataFiles(const TimeRange* window, bool restart, FileKeeping keeping,
                      const std::function<void()>& reset, const ScanVisit& visit);
    // A window that lies outside the store's data (false), or covers it all
    // (window becomes null).
    bool clipWindow(const TimeRange*& window) const;
    // The newest reference time of a known list, and the known entries up to
    // it put in front of the scanned ones.
    bool newestKnownTime(const SeqOf<DataTime>* known, int& newest) const;
    void mergeKnownTimes(const SeqOf<DataTime>& known, int newest, SeqOf<DataTime>& times) const;
    // The data times of a station: one scan, incremental from known.
    bool idTimes(const SeqOf<DataTime>* known, const TextString& id, SeqOf<DataTime>& times,
                 int resolution, const TimeRange* window, bool update);
    bool storeDataTimes(const SeqOf<DataTime>* known, SeqOf<DataTime>& times, int resolution,
                        const TimeRange* window, bool update);
    // Whether an incremental scan passes a file over: one older than the
    // newest that ends before the newest known time; a file scanned lowers
    // that time to just before its own start.
    bool skipKnownFile(const PointNetcdfFileInfo* info, int& newest) const;
    // The file times, oldest first, rounded to a resolution, within a window,
    // each after the last.
    void roundedFileTimes(int resolution, const TimeRange* window, SeqOf<AbsTime>& times) const;
    // The station of one file for the time scans, read to the level given:
    // found (false when not), its static row (-1 none), its record to walk
    // from (-1 none) and whether it was found among the overflow records.
    // False (the file unreadable) when a read fails.
    bool findScannedStation(const TextString& id, PointNetcdfFileInfo* info, int level,
                            bool& found, int& row, int& record, bool& overflow);

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
    int _lockFd;                    // the directory, flocked by a writable store
    std::unique_ptr<PassJournal> _journal;
    // Why the store cannot use its journal (logged when it began); empty
    // while it can.
    std::string _journalFailure;
    // The journal notes the passes (a store whose records carry no
    // bookkeeping); otherwise it only counts the committed records.
    bool _notingPasses = false;
    // A station table being made again: its levels are read as they are.
    bool _remaking = false;
    // The pass over a bulletin, between beginPass and endPass.
    bool _inPass;
    TextString _passIdentity;
    int _passCall;                  // placement calls so far
    int _passReused;                // records of an earlier pass taken again
    int _passLines;                 // writer lines logged
    int _passQuiet;                 // writer lines not logged
    int _passSkipped;               // records failed at once after a failure
    bool _passChecked;              // its first record checked against lost notes
    std::string _passFailure;
    std::string _passRefusal;       // why the bulletin may be stored already
    // Why the last record cannot be held; set by the checks of its key too.
    mutable std::string _recordRefusal;

    // Process-wide: the clientless list, open files and the sync rule.
    static PointNetcdfFileInfo* newestClientlessObject;
    static PointNetcdfFileInfo* oldestClientlessObject;
    static int clientlessCount;
    static int nClientlessHandles;
    static PointNetcdfFileInfo* clientlessCursor;
    static int fileOpenCount;
    static int expectedOpenFiles;
    static int NC_SYNC_WORKS_FOR_WRITING;
    // The stores that cannot use their journals, the records they refused
    // and the journals that could be used again.
    static int heldStores;
    static unsigned refusedForJournal;
    static unsigned journalsRecovered;
};

#endif

// PointNetcdfFileInfo: one data file of a store with its times, the open
// netCDF file and handle, and the bookkeeping arrays cached from the file up
// to its read level:
//   1 record count, nStaticIds, globalInventory, firstOverflow
//   2 firstInBin, lastInBin
//   3 staticIds, lastRecord, inventory
//   4 record times and prevRecord
//   5 latitudes, longitudes, record ids, isOverflow
// Made only by NetcdfPointData::newFileInfo and deleted only by the store.
// Every number cached from a file has been checked against the layout before
// it is kept, so it can index the arrays.
//
// Records of read-only stores without clients sit on the process-wide list
// of clientless records (newer, older); each record knows its store so that
// the list can edit the owning store.
#ifndef POINTNETCDFFILEINFO_H
#define POINTNETCDFFILEINFO_H

#include "AbsTime.h"
#include "TextString.h"

#include <memory>
#include <string>
#include <unordered_map>

class NcFile;
class NetcdfPointData;
struct PointFileStructure;

struct PointNetcdfFileInfo {
    NetcdfPointData* store = nullptr;
    PointFileStructure* structure = nullptr;
    TextString path;
    AbsTime fileTime;
    int lookupStart = 0;        // data times that belong to the file
    int lookupEnd = 0;
    int coverageStart = 0;      // data times the file holds; bins count from here
    int coverageEnd = 0;
    int modificationTime = 0;   // of the file when its bookkeeping was last read
    long modificationTimeNs = 0; // and its sub-second part
    int readLevel = 0;
    int recordCount = 0;
    int nStaticIds = 0;
    std::unique_ptr<char[]> staticIds;     // maxStaticIds rows of totalIdLen
    std::unique_ptr<int[]> lastRecord;     // maxStaticIds
    std::unique_ptr<int[]> inventory;      // maxStaticIds bit words
    std::unique_ptr<char[]> charInventory; // maxStaticIds rows of nInventoryBins
    int globalInventory = 0;
    std::unique_ptr<char[]> charGlobalInventory; // nInventoryBins
    int firstOverflow = 0;
    std::unique_ptr<int[]> firstInBin;     // nInventoryBins
    std::unique_ptr<int[]> lastInBin;
    int recordCapacity = 0;                // of every per-record array
    std::unique_ptr<float[]> latitudes;
    std::unique_ptr<float[]> longitudes;
    std::unique_ptr<char[]> recordIds;     // rows of totalIdLen
    std::unique_ptr<int[]> recordTimes;
    std::unique_ptr<int[]> prevRecord;
    std::unique_ptr<int[]> isOverflow;
    // The newest record of each id among the records searched by id (every
    // record without a static table, the overflow records with one): made
    // from the record ids at the first search and kept by the writer.
    std::unordered_map<std::string, int> newestById;
    bool newestByIdValid = false;
    int nextRecheckTime = 0;
    // Counters read from a writable store's file that name records past its
    // record count (its header older than the pages after it): the
    // bookkeeping is made again from the records before it is used.
    bool bookkeepingStale = false;
    // The data file as a writable store last left it (device, inode and size
    // on disk after its opening or last sync; size -1 unknown), so that a
    // file another process removed, replaced or cut short is noticed before
    // it is written again.
    unsigned long long diskDevice = 0;
    unsigned long long diskInode = 0;
    long long diskSize = -1;
    // The generation of DiskCommit in which the file was last noted as
    // written (0 never): noted once a generation.
    unsigned commitGeneration = 0;
    // A sync of the file failed since its last commit: the kernel may never
    // write what it held since, whatever a later sync says.  The records
    // past its committed count are taken back before it takes another.
    bool unsynced = false;
    int* handle = nullptr;      // its value is the ncid of the open file
    NcFile* file = nullptr;
    int clientCount = 0;
    // Taken out of its store while clients still held its handle (the file
    // vanished, could not be synced, or the store was resynchronised): the
    // handle's value is -1 and the record goes at its last release.
    bool detached = false;
    PointNetcdfFileInfo* newer = nullptr;
    PointNetcdfFileInfo* older = nullptr;

    // Frees the cached arrays of levels 2 to 5 (the global inventory stays)
    // and lowers a read level above 1 to 1.
    void freeStructure();
    // Forgets the index of newest records by id (the record ids changed).
    void forgetIdIndex()
    {
        newestById.clear();
        newestByIdValid = false;
    }
    // Makes room for n records in every per-record array that is cached,
    // keeping the first recordCount entries; a new capacity is n plus a block
    // (maxStaticIds, or 200 when that is 0 or above 200) of the structure.
    void ensureRecordCapacity(int n);
};

#endif

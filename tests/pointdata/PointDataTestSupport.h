// What the point-data tests share: the tests' view of a store's bookkeeping,
// a fake store clock, the CDL of the test layouts and small readers of
// netCDF files (through the netCDF library itself).
#ifndef POINTDATATESTSUPPORT_H
#define POINTDATATESTSUPPORT_H

#include "Cdl.h"
#include "IoFaults.h"
#include "NetcdfPointData.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "StoreClock.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

// The tests' view of a store (a friend of NetcdfPointData).
struct NetcdfPointDataInspector {
    NetcdfPointData* store;

    PointFileStructure* structure() const { return store->_templateStructure; }
    PointFileStructure* analyze(int ncid, PointNetcdfFileInfo* info) const
    {
        return store->analyzeStructure(ncid, info);
    }
    int textAttribute(int ncid, const char* name, TextString& value) const
    {
        return store->getTextAttribute(ncid, name, value);
    }
    PointNetcdfFileInfo* newFileInfo(AbsTime t) const { return store->newFileInfo(t); }
    void deleteFileInfo(PointNetcdfFileInfo* info) const { store->deleteFileInfo(info); }
    void enter(PointNetcdfFileInfo* info) const { store->_fileInfos.insert(info->fileTime, info); }
    int fileInfoCount() const { return store->_fileInfos.count(); }
    int handleCount() const { return store->_handles.count(); }
    int structureCount() const { return store->_structures.count(); }
    int findStaticIdIndex(const char* id, PointNetcdfFileInfo* info) const
    {
        return store->findStaticIdIndex(id, info);
    }
    int findNewestOverflowRecord(const char* id, PointNetcdfFileInfo* info) const
    {
        return store->findNewestOverflowRecord(id, info);
    }
    int findOverflowRecord(const char* id, int t1, int t2, PointNetcdfFileInfo* info) const
    {
        return store->findOverflowRecord(id, t1, t2, 0, info);
    }
    bool forecasts() const { return store->_forecasts; }
    bool noRecordMapping() const { return store->_noRecordMapping; }
    int filePeriod() const { return store->_filePeriod; }
    const TextString& latLonNames() const { return store->_latLonNames; }
    static int fileOpenCount() { return NetcdfPointData::fileOpenCount; }

    PointNetcdfFileInfo* fileInfo(AbsTime t) const
    {
        PointNetcdfFileInfo* info = nullptr;
        store->_fileInfos.find(t, nullptr, &info);
        return info;
    }
    const SeqOf<AbsTime>& fileTimes() const { return store->_fileTimes; }
    bool updateFileInfo() const { return store->updateFileInfo(); }
    bool openFileInfo(PointNetcdfFileInfo* info) const { return store->openFileInfo(info); }
    int dirModTime() const { return store->_dirModTime; }
    long dirModTimeNs() const { return store->_dirModTimeNs; }
    int resyncCount() const { return store->_resyncCount; }
    bool makeKey(int totalIdLen, const SeqOf<TextString>& ids, const LatLonCoord* at,
                 TextString& key) const
    {
        PointFileStructure s;
        s.totalIdLen = totalIdLen;
        return store->makeKey(&s, ids, at, key);
    }
    // Every client the store's records still count.
    int clients() const
    {
        int n = 0;
        for (int i = 0; i < store->_fileInfos.count(); ++i)
            n += store->_fileInfos.value(i)->clientCount;
        return n;
    }
    static int clientlessOpen() { return NetcdfPointData::nClientlessHandles; }
    static int clientlessCount() { return NetcdfPointData::clientlessCount; }
};

// Tests of stores reopened as a new process finds them, with faults
// injected into their I/O: each starts with no store of an earlier test and
// leaves no fault and no store for the next.
class StoresUnderFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        QEV_REQUIRE_NCGEN();
        NetcdfPointData::forgetAllStores();
    }
    void TearDown() override
    {
        IoFaults::clear();
        NetcdfPointData::forgetAllStores();
    }
};

// A store clock the tests set; pauses are counted, never waited.
struct FakeStoreClock {
    static int32_t& seconds()
    {
        static int32_t s = 1200000000;
        return s;
    }
    static int& paused()
    {
        static int p = 0;
        return p;
    }
    static int32_t now() { return seconds(); }
    static void pause(int s)
    {
        paused() += s;
        seconds() += s;
    }
    FakeStoreClock()
    {
        paused() = 0;
        StoreClock::set(&now, &pause);
    }
    ~FakeStoreClock() { StoreClock::set(nullptr, nullptr); }
};

// The id-store layout the tests start from: 4 static ids of 8 characters,
// 12 hourly bins, one id and one time variable.
inline std::string idStoreCdl()
{
    return "netcdf template {\n"
           "dimensions:\n"
           "  recNum = UNLIMITED ;\n"
           "  maxStaticIds = 4 ;\n"
           "  totalIdLen = 8 ;\n"
           "  nInventoryBins = 12 ;\n"
           "  staNameLen = 6 ;\n"
           "variables:\n"
           "  char stationId(recNum, staNameLen) ;\n"
           "  double timeObs(recNum) ;\n"
           "    timeObs:units = \"seconds since 1970-1-1 00:00:00.0\" ;\n"
           "  float latitude(recNum) ;\n"
           "  float longitude(recNum) ;\n"
           "  float temperature(recNum) ;\n"
           "  int nStaticIds ;\n"
           "  char staticIds(maxStaticIds, totalIdLen) ;\n"
           "  int lastRecord(maxStaticIds) ;\n"
           "  int invTime(recNum) ;\n"
           "  int prevRecord(recNum) ;\n"
           "  int inventory(maxStaticIds) ;\n"
           "  int globalInventory ;\n"
           "  int firstOverflow ;\n"
           "  int isOverflow(recNum) ;\n"
           "  int firstInBin(nInventoryBins) ;\n"
           "  int lastInBin(nInventoryBins) ;\n"
           "\n"
           "// global attributes:\n"
           "  :cdlDate = \"20070101\" ;\n"
           "  :idVariables = \"stationId\" ;\n"
           "  :timeVariables = \"timeObs\" ;\n"
           "  :filePeriod = 3600 ;\n"
           "  :fileEndOffset = 3599 ;\n"
           "data:\n"
           "  nStaticIds = 0 ;\n"
           "  lastRecord = -1, -1, -1, -1 ;\n"
           "  globalInventory = 0 ;\n"
           "  firstOverflow = -1 ;\n"
           "  firstInBin = -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 ;\n"
           "  lastInBin = -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 ;\n"
           "}\n";
}

// The location-store layout: no static id table, records keyed by position
// (13-character keys), one time variable, no bins.
inline std::string latLonStoreCdl()
{
    return "netcdf template {\n"
           "dimensions:\n"
           "  recNum = UNLIMITED ;\n"
           "  totalIdLen = 13 ;\n"
           "variables:\n"
           "  double validTime(recNum) ;\n"
           "  float latitude(recNum) ;\n"
           "  float longitude(recNum) ;\n"
           "  float windSpd(recNum) ;\n"
           "  int prevRecord(recNum) ;\n"
           "\n"
           "// global attributes:\n"
           "  :cdlDate = \"20070202\" ;\n"
           "  :timeVariables = \"validTime\" ;\n"
           "  :filePeriod = 3600 ;\n"
           "  :fileEndOffset = 3599 ;\n"
           "}\n";
}

// The text with each `from` replaced by its `to`; a `from` that is not in
// the text fails the test (the edit would silently test nothing).
inline std::string edited(std::string text,
                          const std::vector<std::pair<std::string, std::string>>& edits)
{
    for (const auto& e : edits) {
        size_t at = text.find(e.first);
        EXPECT_NE(at, std::string::npos) << "not in the CDL: " << e.first;
        if (at != std::string::npos)
            text.replace(at, e.first.size(), e.second);
    }
    return text;
}

// One handle request of a test: the handle, record and whether it is new.
struct Placed {
    int* handle = nullptr;
    int record = -1;
    bool isNew = false;
};

// Asks a store for the record of a station and time and, unless told to
// hold it, gives the handle back.
inline Placed place(NetcdfPointData* store, const std::vector<std::string>& ids,
                    const std::vector<double>& times, bool release = true)
{
    SeqOf<TextString> idSeq;
    for (const std::string& id : ids)
        idSeq.append(id.c_str());
    SeqOf<double> timeSeq;
    for (double t : times)
        timeSeq.append(t);
    Placed p;
    p.handle = store->getFileHandleAndRecord(idSeq, timeSeq, p.record, p.isNew);
    if (p.handle && release) {
        EXPECT_TRUE(store->releaseHandle(p.handle));
    }
    return p;
}

// A whole variable of a netCDF file read with the C library: an int
// variable as ints, a two-dimensional char variable as its rows (each cut at
// its first NUL).  Empty when it cannot be read.
inline std::vector<int> readInts(const std::string& path, const char* var)
{
    int ncid = -1, id = -1, nDims = 0, dims[NC_MAX_VAR_DIMS];
    std::vector<int> out;
    if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR)
        return out;
    size_t n = 1, length = 0;
    if (nc_inq_varid(ncid, var, &id) == NC_NOERR &&
        nc_inq_var(ncid, id, nullptr, nullptr, &nDims, dims, nullptr) == NC_NOERR) {
        for (int d = 0; d < nDims; ++d)
            n *= nc_inq_dimlen(ncid, dims[d], &length) == NC_NOERR ? length : 0;
        out.resize(n);
        if (n > 0 && nc_get_var_int(ncid, id, out.data()) != NC_NOERR)
            out.clear();
    }
    nc_close(ncid);
    return out;
}

inline std::vector<std::string> readRows(const std::string& path, const char* var)
{
    int ncid = -1, id = -1, dims[2];
    size_t count[2] = {0, 0};
    std::vector<std::string> rows;
    if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR)
        return rows;
    if (nc_inq_varid(ncid, var, &id) == NC_NOERR && nc_inq_vardimid(ncid, id, dims) == NC_NOERR &&
        nc_inq_dimlen(ncid, dims[0], &count[0]) == NC_NOERR &&
        nc_inq_dimlen(ncid, dims[1], &count[1]) == NC_NOERR) {
        std::vector<char> text(count[0] * count[1] + 1, '\0');
        if (nc_get_var_text(ncid, id, text.data()) == NC_NOERR) {
            for (size_t r = 0; r < count[0]; ++r)
                rows.emplace_back(text.data() + r * count[1], strnlen(text.data() + r * count[1], count[1]));
        }
    }
    nc_close(ncid);
    return rows;
}

#endif

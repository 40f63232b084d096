// What the point-data tests share: the tests' view of a store's bookkeeping,
// a fake store clock, the CDL of the test layouts and small readers of
// netCDF files (through the netCDF library itself).
#ifndef POINTDATATESTSUPPORT_H
#define POINTDATATESTSUPPORT_H

#include "Cdl.h"
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
    FakeStoreClock() { StoreClock::set(&now, &pause); }
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

// Reads a whole int or char variable of a netCDF file with the C library.
inline std::vector<int> readInts(const std::string& path, const char* var)
{
    std::vector<int> out;
    int ncid = -1, id = -1, nDims = 0, dims[NC_MAX_VAR_DIMS];
    if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR)
        return out;
    size_t n = 1;
    if (nc_inq_varid(ncid, var, &id) == NC_NOERR &&
        nc_inq_var(ncid, id, nullptr, nullptr, &nDims, dims, nullptr) == NC_NOERR) {
        for (int d = 0; d < nDims; ++d) {
            size_t length = 0;
            nc_inq_dimlen(ncid, dims[d], &length);
            n *= length;
        }
        out.resize(n);
        if (n > 0 && nc_get_var_int(ncid, id, out.data()) != NC_NOERR)
            out.clear();
    }
    nc_close(ncid);
    return out;
}

// The rows of a two-dimensional char variable, each cut at its first NUL.
inline std::vector<std::string> readRows(const std::string& path, const char* var)
{
    std::vector<std::string> rows;
    int ncid = -1, id = -1, dims[2];
    if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR)
        return rows;
    size_t count[2] = {0, 0};
    if (nc_inq_varid(ncid, var, &id) == NC_NOERR &&
        nc_inq_vardimid(ncid, id, dims) == NC_NOERR && nc_inq_dimlen(ncid, dims[0], &count[0]) == NC_NOERR &&
        nc_inq_dimlen(ncid, dims[1], &count[1]) == NC_NOERR) {
        std::vector<char> text(count[0] * count[1] + 1, '\0');
        if (count[0] * count[1] == 0 || nc_get_var_text(ncid, id, text.data()) == NC_NOERR) {
            for (size_t r = 0; r < count[0]; ++r)
                rows.push_back(std::string(text.data() + r * count[1],
                                           strnlen(text.data() + r * count[1], count[1])));
        }
    }
    nc_close(ncid);
    return rows;
}

#endif

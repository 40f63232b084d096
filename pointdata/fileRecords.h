// The records of a point-data file as its cached bookkeeping tells them: the
// inventory bins a time range covers, the span of records those bins hold,
// whether a station has data in them, and a station's record chain.
#ifndef FILERECORDS_H
#define FILERECORDS_H

#include <cstdint>
#include <functional>

struct PointFileStructure;
struct PointNetcdfFileInfo;

// The bins f..l that the range [start, end] covers in a file whose bins count
// from c0 and whose last covered second is c1: f = 0 when the range starts at
// or before c0 (or the file has one bin), l the last bin when it ends at or
// after c1.  Both stay within the bins; f > l when none is covered.  True
// when the range covers the whole file by its bins.
bool binsOfRange(const PointFileStructure& s, int64_t c0, int64_t c1, int64_t start,
                 int64_t end, int& f, int& l);

// The records of bins f..l: first the smallest firstInBin that names a
// record of the file (the record count when none does), last the largest
// lastInBin (-1 when none).
void recordSpanOfBins(const PointNetcdfFileInfo& info, int f, int l, int& first, int& last);

// Whether the inventory of static row k has data in a bin f..l; false
// without a cached inventory.
bool stationHasDataInBins(const PointNetcdfFileInfo& info, int k, int f, int l);

// The inventory of static row k: its row of bin characters (null without
// char inventories), or its bit word (1, every bin, without an int
// inventory).
const char* stationBins(const PointNetcdfFileInfo* info, int k);
int stationBits(const PointNetcdfFileInfo* info, int k);

// Calls visit with each record of a chain, from start back through
// prevRecord (only start without cached chains), until the chain ends or
// visit returns false; at most one visit per record of the file.
void forEachChainRecord(const PointNetcdfFileInfo& info, int start,
                        const std::function<bool(int)>& visit);

#endif

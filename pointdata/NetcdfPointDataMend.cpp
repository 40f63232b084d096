// Mending the station table of a data file that a writer left half
// written.
//
// A writer places a record in two steps: the record itself (its key and
// time), committed by a sync, then the bookkeeping that points at it: the
// bins, the station table, the chain.  netCDF hands its buffers to the
// kernel piece by piece, so a writer killed between the two steps, or a
// power loss while the kernel writes the file back, can leave a part of
// that bookkeeping: the rows of a table moved for a new station without
// the count or the newest records that go with them, a station naming
// another's record, a record no station names, a record's link to its
// station's record before it (prevRecord) lost or pointing elsewhere.
// Read as it is, such a table
// takes a station's record for another station's, or places a record
// again beside the one it has.  A writable store checks each table it reads
// against the records, and makes the table again from them when they
// disagree: the keys and times are what the writer committed first, and
// placing the records again one after another, as the writer placed them,
// gives the bookkeeping it would have written.
//
// A power loss leaves more than a half-written table: the file's pages reach
// the disk in any order until it is synced, so its header may count records
// whose pages never came (read as zeros), or be older than the pages after
// it.  The store therefore keeps only the records its last commit counted
// (the pass journal's count): the records after them are taken back (the
// header's count cut) and the bookkeeping is made again from the records
// kept; counters, bins or a table naming records past the count are made
// again in the same way.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"
#include "PassJournal.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

namespace {

// The row of a key among the first n sorted rows, by the writer's search;
// -1 when it is not there, insertAt then where it goes.
int findRow(const char* rows, int n, size_t idLen, const char* key, int& insertAt)
{
    int lo = 0, hi = n;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        const int c = strncmp(key, rows + static_cast<size_t>(mid) * idLen, idLen);
        if (c == 0)
            return mid;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    insertAt = lo;
    return -1;
}

} // namespace

bool NetcdfPointData::mendStationTable(const NetcdfIo& io, PointNetcdfFileInfo* info)
{
    const PointFileStructure* s = info->structure;
    const int n = info->recordCount;
    const size_t idLen = static_cast<size_t>(s->totalIdLen);
    std::vector<char> keys(static_cast<size_t>(n) * idLen + 1);
    if (!readRecordKeys(io, info, keys.data()))
        return false;
    std::vector<int> overflow(static_cast<size_t>(n), 0);
    if (n > 0 && s->isOverflow >= 0 &&
        !io.get(s->isOverflow, NcPos{0}, NcPos{n}, overflow.data())) {
        PD_LOG(PROBLEM) << "unable to read isOverflow of " << info->path << std::endl;
        return false;
    }
    std::vector<int> previous(static_cast<size_t>(n), -1);
    if (n > 0 && !io.get(s->prevRecord, NcPos{0}, NcPos{n}, previous.data())) {
        PD_LOG(PROBLEM) << "unable to read prevRecord of " << info->path << std::endl;
        return false;
    }
    const std::string what = halfWritten(info, keys.data(), overflow, previous);
    if (what.empty())
        return true;
    PD_LOG(PROBLEM) << "The station table of " << info->path << " was left half written ("
                    << LogText(what) << "); it is made again from its " << n << " records"
                    << std::endl;
    return remakeFromRecords(io, info, keys.data());
}

bool NetcdfPointData::remakeFromRecords(const NetcdfIo& io, PointNetcdfFileInfo* info,
                                        const char* keys)
{
    std::vector<char> read;
    if (!keys) {
        read.resize(static_cast<size_t>(info->recordCount) *
                        static_cast<size_t>(info->structure->totalIdLen) + 1);
        if (!readRecordKeys(io, info, read.data())) {
            noteBadFile(info);
            return false;
        }
        keys = read.data();
    }
    if (!remakeBookkeeping(io, info, keys)) {
        noteBadFile(info);
        return false;
    }
    info->forgetIdIndex();
    info->bookkeepingStale = false;
    _remaking = true;
    bool ok = true;
    for (int level = 1; level <= 3 && ok; ++level)
        ok = readBookkeepingLevel(io, info, level);
    _remaking = false;
    return ok;
}

void NetcdfPointData::logStaleBookkeeping(const PointNetcdfFileInfo* info, const char* what,
                                          const char* verb, long records, const std::string& detail)
{
    PD_LOG(PROBLEM) << "The " << what << " " << info->path << " " << verb
                    << " records past its " << records << " (" << detail
                    << "its header is older than the pages after it); its bookkeeping is made "
                       "again from its records"
                    << std::endl;
}

bool NetcdfPointData::mendOnOpen(PointNetcdfFileInfo* info)
{
    if (!takeBackUncommitted(info))
        return false;
    if (!info->bookkeepingStale)
        return true;
    if (!openFileInfo(info) || !remakeFromRecords(NetcdfIo(*info->handle), info, nullptr) ||
        !syncWritten(info)) {
        noteBadFile(info);
        return false;
    }
    return true;
}

bool NetcdfPointData::takeBackUncommitted(PointNetcdfFileInfo* info, bool unsynced)
{
    const PointFileStructure* s = info->structure;
    const int keep = _journal && s ? _journal->heldRecords(info->fileTime.seconds()) : -1;
    const int held = info->recordCount;
    if (keep < 0 || held <= keep || info->clientCount > 0)
        return true;
    // netCDF keeps the count of a file it has open, and writes it back: the
    // file is closed while its header is cut.
    closeFile(info);
    std::string why;
    bool ok = NetcdfIo::cutRecordCount(info->path, keep, why) && openFileInfo(info);
    if (ok) {
        const NetcdfIo io(*info->handle);
        info->freeStructure();
        info->readLevel = 0;
        // Its counters may name the records taken back: read as they are.
        _remaking = true;
        ok = readBookkeepingLevel(io, info, 1) && info->recordCount == keep;
        _remaking = false;
        // The bookkeeping the file holds may name the records taken back,
        // or be older than the records kept (pages of the file reach the
        // disk in any order): it is made again from the records kept.
        if (ok && !s->placesEveryRecordAnew())
            ok = remakeFromRecords(io, info, nullptr);
        ok = ok && syncWritten(info);
        if (!ok && why.empty())
            why = NetcdfIo::lastErrorText();
    }
    if (!ok) {
        PD_LOG(PROBLEM) << "The " << held - keep << " records of " << info->path << " past the "
                        << keep << " that its last commit counted could not be taken back ("
                        << LogText(why) << "); the file is not used until they are" << std::endl;
        if (info->clientCount == 0)
            closeFile(info);
        noteBadFile(info);
        return false;
    }
    const bool named = keep > _journal->committedRecords(info->fileTime.seconds());
    PD_LOG(EVENT) << held - keep << " records of " << info->path << " past the " << keep
                  << " that its last commit counted" << (named ? " or its notes name" : "")
                  << (unsynced ? " were taken back (the file could not be synced: they may never "
                                 "reach the disk); their bulletins were set aside, to be stored "
                                 "again"
                               : " were taken back (written after it, they may not have reached "
                                 "the disk whole); their bulletins, still in the ingest "
                                 "directory, are stored again")
                  << std::endl;
    return true;
}

std::string NetcdfPointData::halfWritten(PointNetcdfFileInfo* info, const char* keys,
                                         const std::vector<int>& overflow,
                                         const std::vector<int>& previous)
{
    const PointFileStructure* s = info->structure;
    const size_t idLen = static_cast<size_t>(s->totalIdLen);
    const int stations = info->nStaticIds;
    const int records = info->recordCount;
    const char* rows = info->staticIds.get();
    auto row = [&](int i) { return rows + static_cast<size_t>(i) * idLen; };
    auto key = [&](int r) { return keys + static_cast<size_t>(r) * idLen; };
    for (int i = stations; i < s->maxStaticIds; ++i)
        if (row(i)[0] != '\0')
            return "a station beyond its count of " + std::to_string(stations);
    std::string named;
    for (int i = 0; i < stations; ++i) {
        if (row(i)[0] == '\0' || (i > 0 && strncmp(row(i - 1), row(i), idLen) >= 0))
            return "its stations out of order";
        // A station may be in the table without a record yet (a template's
        // own table).
        const int r = info->lastRecord[i];
        if (r < -1 || r >= records)
            return "a station naming a record the file does not hold";
        if (r >= 0 && strncmp(key(r), row(i), idLen) != 0) {
            int newest = records - 1;
            while (newest >= 0 && strncmp(key(newest), row(i), idLen) != 0)
                --newest;
            PD_LOG(PROBLEM) << "Station " << LogText(row(i), strnlen(row(i), idLen)) << " of "
                            << info->path << " named record " << r << ", its newest record is "
                            << newest << std::endl;
            named = "a station naming another's record";
        }
    }
    if (!named.empty())
        return named;
    // Every record but the last (whose bookkeeping a stopped writer may not
    // have begun: the writer takes it again) is its station's, or an
    // overflow record, and no newer than its station's newest.
    for (int r = 0; r + 1 < records; ++r) {
        if (key(r)[0] == '\0' || overflow[static_cast<size_t>(r)] != 0)
            continue;
        int insertAt = 0;
        const int i = findRow(rows, stations, idLen, key(r), insertAt);
        if (i < 0)
            return "record " + std::to_string(r) + " of a station not in the table";
        if (info->lastRecord[i] < r)
            return "record " + std::to_string(r) + " newer than its station's newest";
    }
    return brokenChain(info, keys, overflow, previous);
}

std::string NetcdfPointData::brokenChain(PointNetcdfFileInfo* info, const char* keys,
                                         const std::vector<int>& overflow,
                                         const std::vector<int>& previous)
{
    // A station's chain, followed from its newest record, must pass through
    // each older record of the station and nothing else: one cut short (a
    // prevRecord lost, -1), crossing into another station's records or
    // turning on itself has the station's records it no longer reaches
    // placed again beside them.  The writer links each record to the
    // station's record before it, so the chain is sound when every record
    // names that one; a single pass over the records checks it, for the
    // stations of the table and those of the overflow area alike.  The last
    // record is left out while nothing names it (a writer stopped before
    // its bookkeeping takes it again).
    const size_t idLen = static_cast<size_t>(info->structure->totalIdLen);
    const int records = info->recordCount;
    auto key = [&](int r) { return keys + static_cast<size_t>(r) * idLen; };
    auto booked = [&](int r) {
        if (r + 1 < records || overflow[static_cast<size_t>(r)] != 0)
            return true;
        int insertAt = 0;
        const int i = findRow(info->staticIds.get(), info->nStaticIds, idLen, key(r), insertAt);
        return i >= 0 && info->lastRecord[i] == r;
    };
    // The newest record of each station so far.
    std::unordered_map<std::string_view, int> newest;
    newest.reserve(static_cast<size_t>(info->nStaticIds) + 16);
    for (int r = 0; r < records; ++r) {
        if (key(r)[0] == '\0' || !booked(r))
            continue;
        const std::string_view station(key(r), strnlen(key(r), idLen));
        int& before = newest.try_emplace(station, -1).first->second;
        const int p = previous[static_cast<size_t>(r)];
        if (p != before) {
            const bool own = p >= 0 && p < records && strncmp(key(p), key(r), idLen) == 0;
            const std::string chain = "the chain of station " + std::string(station);
            const std::string at = " at record " + std::to_string(r);
            if (own && p >= r)
                return "a cycle in " + chain + at;
            if (own || p == -1)
                return chain + " not reaching its record " + std::to_string(before) + at;
            return chain + " leaving its records" + at;
        }
        before = r;
    }
    return "";
}

bool NetcdfPointData::remakeBookkeeping(const NetcdfIo& io, PointNetcdfFileInfo* info,
                                        const char* keys)
{
    const PointFileStructure* s = info->structure;
    const int records = info->recordCount;
    const int maxIds = s->maxStaticIds;
    const int bins = s->nInventoryBins;
    const size_t idLen = static_cast<size_t>(s->totalIdLen);
    std::vector<int> times(static_cast<size_t>(records) + 1, 0);
    if (!readRecordTimes(io, info, times.data()))
        return false;

    std::vector<char> rows(static_cast<size_t>(maxIds) * idLen, '\0');
    std::vector<int> lastRecord(static_cast<size_t>(maxIds), -1);
    std::vector<int> inventory(static_cast<size_t>(maxIds), 0);
    std::vector<char> charInventory(static_cast<size_t>(maxIds) * bins, '\0');
    std::vector<int> previous(static_cast<size_t>(records) + 1, -1);
    std::vector<int> overflow(static_cast<size_t>(records) + 1, 0);
    std::vector<int> firstInBin(static_cast<size_t>(bins), -1), lastInBin(firstInBin);
    std::vector<char> charGlobal(static_cast<size_t>(bins), '\0');
    unsigned global = 0;
    int stations = 0, firstOverflow = -1;
    std::unordered_map<std::string, int> newestOverflow;

    // The records placed again one after another, as the writer placed them.
    for (int r = 0; r < records; ++r) {
        const char* key = keys + static_cast<size_t>(r) * idLen;
        if (idLen > 0 && key[0] == '\0')
            continue;   // never committed: no bookkeeping names it
        int b = 0;
        unsigned bit = 1;
        if (bins > 1) {
            const long d = s->binWidth > 0
                               ? (static_cast<long>(times[static_cast<size_t>(r)]) -
                                  info->coverageStart) / s->binWidth
                               : 0;
            b = d >= bins ? bins - 1 : d < 0 ? 0 : static_cast<int>(d);
            bit = 1u << (b < 32 ? b : 0);
            global |= bit;
            charGlobal[static_cast<size_t>(b)] = '1';
            if (firstInBin[static_cast<size_t>(b)] < 0)
                firstInBin[static_cast<size_t>(b)] = r;
            lastInBin[static_cast<size_t>(b)] = r;
        }
        if (maxIds <= 0) {
            // No table: a chain links the records of the same key.
            const std::string name(key, strnlen(key, idLen));
            auto newest = newestOverflow.try_emplace(name, -1).first;
            previous[static_cast<size_t>(r)] = newest->second;
            newest->second = r;
            continue;
        }
        int j = 0;
        int i = findRow(rows.data(), stations, idLen, key, j);
        if (i < 0 && stations < maxIds) {
            const size_t moved = static_cast<size_t>(stations - j);
            memmove(&rows[static_cast<size_t>(j + 1) * idLen],
                    &rows[static_cast<size_t>(j) * idLen], moved * idLen);
            memcpy(&rows[static_cast<size_t>(j) * idLen], key, idLen);
            memmove(&lastRecord[static_cast<size_t>(j) + 1], &lastRecord[static_cast<size_t>(j)],
                    moved * sizeof(int));
            memmove(&inventory[static_cast<size_t>(j) + 1], &inventory[static_cast<size_t>(j)],
                    moved * sizeof(int));
            if (bins > 1)
                memmove(&charInventory[static_cast<size_t>(j + 1) * bins],
                        &charInventory[static_cast<size_t>(j) * bins],
                        moved * static_cast<size_t>(bins));
            lastRecord[static_cast<size_t>(j)] = -1;
            inventory[static_cast<size_t>(j)] = 0;
            if (bins > 1)
                memset(&charInventory[static_cast<size_t>(j) * bins], 0,
                       static_cast<size_t>(bins));
            ++stations;
            i = j;
        }
        if (i >= 0) {
            previous[static_cast<size_t>(r)] = lastRecord[static_cast<size_t>(i)];
            lastRecord[static_cast<size_t>(i)] = r;
            inventory[static_cast<size_t>(i)] =
                static_cast<int>(static_cast<unsigned>(inventory[static_cast<size_t>(i)]) | bit);
            if (bins > 1)
                charInventory[static_cast<size_t>(i) * bins + b] = '1';
            continue;
        }
        const std::string name(key, strnlen(key, idLen));
        const auto newest = newestOverflow.find(name);
        previous[static_cast<size_t>(r)] = newest == newestOverflow.end() ? -1 : newest->second;
        newestOverflow[name] = r;
        overflow[static_cast<size_t>(r)] = 1;
        if (firstOverflow <= 0)
            firstOverflow = r;
    }

    bool ok = maxIds <= 0 ||
              (io.put(s->staticIds, NcPos{0, 0}, NcPos{maxIds, static_cast<long>(idLen)},
                      rows.data()) &&
               io.put(s->lastRecord, NcPos{0}, NcPos{maxIds}, lastRecord.data()) &&
               io.put1(s->nStaticIds, NcPos{}, stations));
    if (ok && maxIds > 0 && bins > 1 && s->inventory >= 0)
        ok = s->charInventories
                 ? io.put(s->inventory, NcPos{0, 0}, NcPos{maxIds, bins}, charInventory.data())
                 : io.put(s->inventory, NcPos{0}, NcPos{maxIds}, inventory.data());
    if (ok && records > 0 && s->prevRecord >= 0)
        ok = io.put(s->prevRecord, NcPos{0}, NcPos{records}, previous.data());
    if (ok && records > 0 && maxIds > 0 && s->isOverflow >= 0)
        ok = io.put(s->isOverflow, NcPos{0}, NcPos{records}, overflow.data());
    if (ok && maxIds > 0 && s->firstOverflow >= 0)
        ok = io.put1(s->firstOverflow, NcPos{}, firstOverflow);
    if (ok && bins > 1) {
        ok = (s->charInventories
                  ? io.put(s->globalInventory, NcPos{0}, NcPos{bins}, charGlobal.data())
                  : io.put1(s->globalInventory, NcPos{}, static_cast<int>(global))) &&
             io.put(s->firstInBin, NcPos{0}, NcPos{bins}, firstInBin.data()) &&
             io.put(s->lastInBin, NcPos{0}, NcPos{bins}, lastInBin.data());
    }
    if (ok)
        ok = io.sync();
    if (!ok)
        PD_LOG(PROBLEM) << "Could not write the station table of " << info->path
                        << " made again: " << NetcdfIo::lastErrorText() << std::endl;
    return ok;
}

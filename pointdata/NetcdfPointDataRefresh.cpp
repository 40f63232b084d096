// The store's view of its directory: the file list refresh, reading a file's
// bookkeeping up to a level, and the rebuild of an inconsistent view.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"
#include "PassJournal.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "SafeDirectory.h"
#include "StoreClock.h"
#include "dmFileTimes.h"
#include "dataFileCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

namespace {

// 0 outside a resynchronisation.
int resyncMark = 0;

const char* const TIME_FORMAT = "%h %d %y %T GMT";

bool modificationTime(const TextString& path, long& seconds, long& nanoseconds)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    seconds = static_cast<long>(st.st_mtim.tv_sec);
    nanoseconds = st.st_mtim.tv_nsec;
    return true;
}

// Whether a file netCDF refused can be judged by what it holds: 0 when the
// process can open it for reading and writing as a data file of its own and
// read it whole, the errno of a read that failed (a disk error), -1 when it
// cannot be opened (its permissions, no descriptor left).  Never through a
// link, nor held by a FIFO.
int readError(const TextString& path)
{
    std::string why;
    const int fd = SafeDirectory::openFile(path.c_str(), O_RDWR | O_NONBLOCK, 0,
                                           SafeDirectory::REGULAR_FILE, why);
    if (fd < 0)
        return -1;
    std::vector<char> buffer(65536);
    ssize_t n = 0;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0 || (n < 0 && errno == EINTR)) {
    }
    const int error = n < 0 ? errno : 0;
    close(fd);
    return error;
}

// A time in seconds read from a double, clamped to the 32-bit range; NaN 0.
int secondsOf(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(value);
}

} // namespace

bool NetcdfPointData::updateFileInfo()
{
    const int32_t now = StoreClock::now();
    _nextCheckTime = AbsTime::clamp(int64_t(now) + _checkInterval);

    if (_staticFile) {
        if (_fileInfos.count() > 0)
            return false;
        PointNetcdfFileInfo* info = newFileInfo(AbsTime(1));
        info->path = _directory;
        NcFile* file = openNetCdfFile(info->path, _writable, true);
        PointFileStructure* s = file ? analyzeStructure(NetcdfIo::fileId(file), info) : nullptr;
        if (!s) {
            deleteNcFile(file);
            delete info;
            return false;
        }
        info->structure = s;
        ++s->useCount;
        info->lookupStart = info->coverageStart = 0;
        info->lookupEnd = info->coverageEnd = INT32_MAX - 1;
        _fileTimes = SeqOf<AbsTime>(AbsTime(1));
        _fileInfos.insert(info->fileTime, info);
        giveNcFileToFileInfo(info, file);
        if (!_writable) {
            registerClientless(info);
            _currentFileInfo = info;
        }
        _oldestLookupStart = _newestLookupStart = info->lookupStart;
        _oldestLookupEnd = _newestLookupEnd = _latestCoverageEnd = info->lookupEnd;
        return true;
    }

    long seconds = 0, nanoseconds = 0;
    if (!modificationTime(_directory, seconds, nanoseconds)) {
        PD_LOG(PROBLEM) << "Could not stat directory :" << LogText(_directory) << std::endl;
        return false;
    }
    if (!_forceListing && seconds == _dirModTime && nanoseconds == _dirModTimeNs)
        return false;
    _forceListing = false;
    _dirModTime = static_cast<int>(seconds);
    _dirModTimeNs = nanoseconds;

    std::unique_ptr<SeqOf<AbsTime>> listed(dmFileTimes(_directory, "", ""));
    SeqOf<AbsTime>& listing = *listed;
    if (_badFileTimes.count() > 0) {
        bool dropped = false;
        for (int i = listing.length() - 1; i >= 0; --i) {
            if (_badFileTimes.find(listing[i])) {
                listing.remove(i, i);
                dropped = true;
            }
        }
        if (dropped)
            --_accessErrorCountdown;
        if (!dropped || _accessErrorCountdown <= 0) {
            _badFileTimes = Set<AbsTime>();
            _accessErrorCountdown = 0;
        }
    }

    // The record made last by this update is about to be used: it stays open.
    PointNetcdfFileInfo* madeLast = nullptr;
    if (!(listing == _fileTimes)) {
        // Files gone from the directory.
        for (int i = _fileTimes.length() - 1; i >= 0; --i) {
            AbsTime t = _fileTimes[i];
            if (listing.find(t) >= 0)
                continue;
            PointNetcdfFileInfo* info = nullptr;
            if (!_fileInfos.find(t, nullptr, &info) || !info) {
                resyncAndReport(t, "removing old info");
                return true;
            }
            if (info->clientCount > 0) {
                _badFileTimes.insert(t);
                _accessErrorCountdown = 3;
            }
            deleteFileInfo(info);
        }
        // New files, oldest first.
        for (int i = listing.length() - 1; i >= 0; --i) {
            AbsTime t = listing[i];
            if (_fileTimes.find(t) >= 0) {
                if (!_fileInfos.find(t))
                    PD_LOG(PROBLEM) << "Could not look up fileInfo for " << t.toString(TIME_FORMAT)
                                    << std::endl;
                continue;
            }
            PointNetcdfFileInfo* made = addListedFile(t, i);
            if (made)
                madeLast = made;
            else
                listing.remove(i, i);
        }
    }
    _fileTimes = listing;

    const int n = _fileTimes.length();
    if (n > 0) {
        PointNetcdfFileInfo* oldest = nullptr;
        if (!_fileInfos.find(_fileTimes[n - 1], nullptr, &oldest) || !oldest) {
            resyncAndReport(_fileTimes[n - 1], "checking earliest  time");
            return true;
        }
        _oldestLookupStart = oldest->lookupStart;
        _oldestLookupEnd = oldest->lookupEnd;
        PointNetcdfFileInfo* newest = nullptr;
        if (!_fileInfos.find(_fileTimes[0], nullptr, &newest) || !newest) {
            resyncAndReport(_fileTimes[0], "checking latest time");
            return true;
        }
        long d = (static_cast<long>(newest->lookupEnd) - _newestLookupEnd) / _filePeriod;
        if (d < -31 || d >= 32)
            _reReadMask = 0;
        else if (d >= 1)
            _reReadMask <<= d;
        else if (d < 0)
            _reReadMask >>= -d;
        _newestLookupStart = newest->lookupStart;
        _newestLookupEnd = newest->lookupEnd;
    } else {
        _oldestLookupStart = _oldestLookupEnd = _newestLookupStart = _newestLookupEnd = 0;
        _reReadMask = 0;
    }

    if (nClientlessHandles >= 9 || fileOpenCount > expectedOpenFiles)
        PD_LOG(DEBUG) << "nClientlessHandles " << nClientlessHandles << "  fileOpenCount "
                      << fileOpenCount << std::endl;

    if (_writable && _templateStructure) {
        for (int i = _templateStructure->maxOpen; i < n; ++i) {
            PointNetcdfFileInfo* info = nullptr;
            if (!_fileInfos.find(_fileTimes[i], nullptr, &info) || !info) {
                resyncAndReport(_fileTimes[i], "checking latest time");
                return true;
            }
            if (info->clientCount > 0 || info == madeLast)
                continue;
            if (info->file || info->handle)
                closeFile(info);
            info->freeStructure();
        }
    }
    return true;
}

PointNetcdfFileInfo* NetcdfPointData::addListedFile(AbsTime fileTime, int place)
{
    const int32_t now = StoreClock::now();
    PointNetcdfFileInfo* info = newFileInfo(fileTime);
    int status = NC_NOERR;
    NcFile* file = NetcdfIo::openFile(info->path, _writable, &status);
    if (file)
        ++fileOpenCount;
    NetcdfIo::clearError();
    PointFileStructure* s = file ? analyzeStructure(NetcdfIo::fileId(file), info) : nullptr;
    if (!s) {
        // A file netCDF does not take (empty, a damaged header) or whose
        // layout the store cannot use would be refused again at every
        // listing, and no file could be made for its time: a writable store
        // keeps it aside and makes a new one.  One the process cannot open
        // or read (a disk error, its permissions, no descriptor left) is no
        // fault of the file: it stays where it is, its time refused until
        // it can be read.
        const bool opened = file != nullptr;
        int failure = opened ? NetcdfIo::systemError() : status > 0 ? status : 0;
        deleteNcFile(file);
        // What netCDF refused is judged by the file's bytes once they are
        // all read.
        const bool judged =
            _writable && failure == 0 && (opened || (status < 0 && status != NC_ENOMEM));
        if (judged)
            failure = readError(info->path);
        const bool refused = judged && failure == 0;
        TextString aside;
        if (refused && setAside(info->path, aside)) {
            PD_LOG(PROBLEM) << "Format or ownership problems with the file " << info->path << " ("
                            << (status < 0 ? nc_strerror(status) : "a layout the store cannot use")
                            << "): kept as " << aside << "; a new file is made for its time"
                            << std::endl;
        } else {
            const std::string cause = failure <= 0 ? std::string()
                                                   : std::string(" (") + strerror(failure) +
                                                         "): it stays where it is, and records of "
                                                         "its time are refused until it can be "
                                                         "read";
            PD_LOG(PROBLEM) << "Format or ownership problems with the file " << info->path
                            << cause << std::endl;
            _badFileTimes.insert(fileTime);
            _accessErrorCountdown = 3;
        }
        delete info;
        return nullptr;
    }
    info->structure = s;
    ++s->useCount;
    info->file = file;
    // The spans of a file of the last hours a time holds end at its last
    // second, never at a wrapped time.
    const int64_t f = fileTime.seconds();
    if (s->recordForecasts) {
        info->lookupStart = info->lookupEnd = static_cast<int>(f);
        info->coverageStart = AbsTime::clamp(f + s->startOffset);
        info->coverageEnd = AbsTime::clamp(f + s->fileEndOffset);
    } else {
        info->lookupStart = info->coverageStart = AbsTime::clamp(f + s->startOffset);
        info->lookupEnd = info->coverageEnd = AbsTime::clamp(f + s->fileEndOffset);
        if (s->forecastDim >= 0 && s->forecastList.length() > 0) {
            info->coverageStart =
                AbsTime::clamp(int64_t(info->coverageStart) + s->forecastList[0]);
            info->coverageEnd = AbsTime::clamp(
                int64_t(info->coverageEnd) + s->forecastList[s->forecastList.length() - 1]);
        }
    }
    if (info->coverageEnd > _latestCoverageEnd)
        _latestCoverageEnd = info->coverageEnd;
    info->nextRecheckTime =
        AbsTime::clamp(now + int64_t(_checkInterval) * (place == 0 ? 1 : place == 1 ? 5 : 25));
    // A read-only store opens files again when it reads them.
    if (!_writable)
        closeCachedFile(info);
    _fileInfos.insert(fileTime, info);
    // A file listed again holds only the records the store's commits and
    // placements count, and bookkeeping that agrees with them (a store
    // being made does this once its journal is open).  A file the journal
    // could not read when it was opened gets its counts now.
    if (_journal) {
        const bool settled = _journal->settle(fileTime.seconds(), info->recordCount);
        if (!mendOnOpen(info)) {
            deleteFileInfo(info);
            return nullptr;
        }
        if (settled)
            emptyFreeRecords(fileTime.seconds());
    }
    return info;
}

bool NetcdfPointData::readFileStructure(int ncid, PointNetcdfFileInfo* info, int level)
{
    const PointFileStructure* s = info->structure;
    if (!s)
        return false;
    const int32_t now = StoreClock::now();
    const long age = (static_cast<long>(_newestLookupEnd) - info->lookupEnd) / _filePeriod;
    const uint32_t ageBit = age >= 0 && age <= 31 ? 1u << age : 0u;
    bool stale = now > info->nextRecheckTime || (_reReadMask & ageBit) != 0;

    if (level == 4 && info->firstOverflow >= s->maxStaticIds)
        level = 5;
    int held = info->readLevel;
    if (held == 1 && s->nInventoryBins <= 1)
        held = 2;
    if (held == 2 && s->maxStaticIds <= 0)
        held = 3;
    if (held == 3 && s->timeVariables.length() == 0)
        held = s->totalIdLen == 0 ? 5 : 4;
    if (held == 4 && s->totalIdLen == 0)
        held = 5;
    const bool forced = level > 2 && !_writable && !s->cacheMetadata;
    if (!stale && level <= held && !forced)
        return true;

    long seconds = 0, nanoseconds = 0;
    if (!modificationTime(info->path, seconds, nanoseconds)) {
        PD_LOG(PROBLEM) << "Could not stat netcdf file:" << info->path << std::endl;
        // Gone: the next request lists the directory again.
        _forceListing = true;
        _nextCheckTime = 0;
        if (_lastWrittenFileInfo == info)
            _lastWrittenFileInfo = nullptr;
        return false;
    }
    // A file written again within the same second is changed too.
    if (seconds == info->modificationTime && nanoseconds == info->modificationTimeNs)
        stale = false;
    if (!stale && level <= held && !forced)
        return true;
    info->modificationTime = static_cast<int>(seconds);
    info->modificationTimeNs = nanoseconds;
    _reReadMask &= ~ageBit;

    bool openedHere = false;
    if (ncid < 0) {
        openedHere = !info->file;
        if (info->file)
            ncid = NetcdfIo::fileId(info->file);
        else if (getFileInfoNcFile(info))
            ncid = NetcdfIo::fileId(info->file);
        else
            return false;
    }
    NetcdfIo io(ncid);
    if (stale || forced) {
        if (!io.sync()) {
            PD_LOG(BUG) << "PANIC!!! Error calling ncsync!!!" << std::endl;
            return false;
        }
    }
    if (stale) {
        int factor = info->lookupEnd >= _newestLookupEnd                ? 1
                     : _newestLookupStart > int64_t(info->lookupEnd) + 1 ? 25
                                                                  : 5;
        info->nextRecheckTime = AbsTime::clamp(now + int64_t(factor) * _checkInterval);
    }

    // Stale caches are read again from the first level up to the highest
    // held; otherwise only the missing levels are read.
    const int first = stale || forced ? 1 : info->readLevel + 1;
    const int last = stale || forced ? std::max(level, info->readLevel) : level;
    bool ok = true;
    for (int l = first; l <= last && ok; ++l) {
        ok = readBookkeepingLevel(io, info, l);
        if (ok && info->readLevel < l)
            info->readLevel = l;
    }
    if (!ok) {
        info->freeStructure();
        return false;
    }
    if (openedHere && !_writable) {
        giveNcFileToFileInfo(info, info->file);
        registerClientless(info);
    }
    return true;
}

bool NetcdfPointData::setAside(const TextString& path, TextString& aside)
{
    std::string used;
    const int error = keepDamaged(path.c_str(), used);
    if (error != 0) {
        PD_LOG(PROBLEM) << "Could not keep " << LogText(path) << " aside: " << strerror(error)
                        << std::endl;
        return false;
    }
    aside = used.c_str();
    return true;
}

void NetcdfPointData::noteBadFile(PointNetcdfFileInfo* info)
{
    _badFileTimes.insert(info->fileTime);
    _accessErrorCountdown = 3;
    _nextCheckTime = 0;
    _forceListing = true;
    if (_lastWrittenFileInfo == info)
        _lastWrittenFileInfo = nullptr;
}

namespace {

// The two lines of a failed read: what, then the ncid and the variable.
void logReadFailure(const char* what, int ncid, const char* names, int var)
{
    PD_LOG(PROBLEM) << "unable to read " << what << std::endl;
    PD_LOG(PROBLEM) << "ncid " << ncid << names << var << std::endl;
}

} // namespace

bool NetcdfPointData::readBookkeepingLevel(const NetcdfIo& io, PointNetcdfFileInfo* info,
                                           int level)
{
    const PointFileStructure* s = info->structure;
    const int bins = s->nInventoryBins;
    const int maxIds = s->maxStaticIds;
    const int idLen = s->totalIdLen;
    const int ncid = io.ncid();
    auto badValue = [&](const char* what) {
        PD_LOG(PROBLEM) << "Format or ownership problems with the file " << info->path << ": "
                        << what << " out of range" << std::endl;
        noteBadFile(info);
        return false;
    };
    auto validRecord = [&](int r) { return r < info->recordCount; };
    // A per-record int variable into its cache, made with the record capacity.
    auto readPerRecord = [&](int var, std::unique_ptr<int[]>& cache, const char* what,
                             const char* names) {
        if (!cache)
            cache.reset(new int[static_cast<size_t>(info->recordCapacity)]());
        if (info->recordCount > 0 &&
            !io.get(var, NcPos{0}, NcPos{info->recordCount}, cache.get())) {
            logReadFailure(what, ncid, names, var);
            return false;
        }
        return true;
    };

    switch (level) {
    case 1:
        if (!readCounters(ncid, s, info)) {
            noteBadFile(info);
            return false;
        }
        info->ensureRecordCapacity(info->recordCount);
        if (info->bookkeepingStale && !_remaking)
            return remakeFromRecords(io, info, nullptr);
        return true;
    case 2:
        if (bins <= 1)
            return true;
        if (!info->firstInBin)
            info->firstInBin.reset(new int[static_cast<size_t>(bins)]());
        if (!info->lastInBin)
            info->lastInBin.reset(new int[static_cast<size_t>(bins)]());
        if (!io.get(s->firstInBin, NcPos{0}, NcPos{bins}, info->firstInBin.get())) {
            logReadFailure("firstInBin", ncid, " firstInBinVar  ", s->firstInBin);
            return false;
        }
        if (!io.get(s->lastInBin, NcPos{0}, NcPos{bins}, info->lastInBin.get())) {
            logReadFailure("lastInBin", ncid, " lastInBinVar  ", s->lastInBin);
            return false;
        }
        for (int b = 0; b < bins; ++b) {
            if (validRecord(info->firstInBin[b]) && validRecord(info->lastInBin[b]))
                continue;
            // Bins written after the header the disk holds (its pages reach
            // the disk in any order): a writable store makes them again,
            // with the rest of the bookkeeping, from the records.
            if (!_writable || _remaking || _staticFile)
                return badValue("firstInBin or lastInBin");
            logStaleBookkeeping(info, "bins of", "name", info->recordCount,
                                "firstInBin or lastInBin out of range: ");
            return remakeFromRecords(io, info, nullptr);
        }
        return true;
    case 3: {
        if (maxIds <= 0)
            return true;
        const size_t rows = static_cast<size_t>(maxIds);
        if (!info->staticIds)
            info->staticIds.reset(new char[rows * static_cast<size_t>(idLen)]());
        if (!info->lastRecord)
            info->lastRecord.reset(new int[rows]());
        if (!io.get(s->staticIds, NcPos{0, 0}, NcPos{maxIds, idLen}, info->staticIds.get())) {
            logReadFailure("staticIds", ncid, "  staticIdsVar ", s->staticIds);
            return false;
        }
        if (!io.get(s->lastRecord, NcPos{0}, NcPos{maxIds}, info->lastRecord.get())) {
            logReadFailure("lastRecord", ncid, "  lastRecordVar ", s->lastRecord);
            return false;
        }
        if (bins > 1) {
            bool read;
            if (s->charInventories) {
                if (!info->charInventory)
                    info->charInventory.reset(new char[rows * static_cast<size_t>(bins)]());
                read = io.get(s->inventory, NcPos{0, 0}, NcPos{maxIds, bins},
                              info->charInventory.get());
            } else {
                if (!info->inventory)
                    info->inventory.reset(new int[rows]());
                read = io.get(s->inventory, NcPos{0}, NcPos{maxIds}, info->inventory.get());
            }
            if (!read) {
                logReadFailure("inventory", ncid, "  inventoryVar ", s->inventory);
                return false;
            }
        }
        // Each row ends within itself; the rows in use are sorted and
        // distinct, and each names a record of the file.
        char* ids = info->staticIds.get();
        for (int i = 0; i < maxIds; ++i)
            ids[static_cast<size_t>(i + 1) * idLen - 1] = '\0';
        // A writable store mends a table a writer left half written
        // (stopped between its blocks, or by a power loss) from the records,
        // so that no record is taken for another station's and none is
        // placed twice.
        if (_writable && s->hasChaining() && !_remaking)
            return mendStationTable(io, info);
        for (int i = 0; i < info->nStaticIds; ++i) {
            if (!validRecord(info->lastRecord[i]) && _writable && !_remaking && !_staticFile) {
                logStaleBookkeeping(info, "station table of", "names", info->recordCount, "");
                return remakeFromRecords(io, info, nullptr);
            }
            if (!validRecord(info->lastRecord[i]))
                return badValue("lastRecord");
            if (i > 0 && strncmp(ids + static_cast<size_t>(i - 1) * idLen,
                                 ids + static_cast<size_t>(i) * idLen, static_cast<size_t>(idLen)) >= 0)
                return badValue("staticIds order");
        }
        return true;
    }
    case 4: {
        if (s->timeVariables.length() == 0)
            return true;
        const int n = info->recordCount;
        info->ensureRecordCapacity(n);
        const size_t capacity = static_cast<size_t>(info->recordCapacity);
        if (!info->recordTimes)
            info->recordTimes.reset(new int[capacity]());
        if (!readRecordTimes(io, info, info->recordTimes.get()))
            return false;
        if (s->prevRecord >= 0) {
            if (!readPerRecord(s->prevRecord, info->prevRecord, "prevRecord", "  prevRecordVar "))
                return false;
            // A chain only ever points back, so following it always ends.
            // Only a last record that no station or bin names may hold
            // anything: a writer stopped (or a disk filled) while committing
            // it, and the writer takes it again for its next record.
            auto named = [&](int r) {
                for (int i = 0; info->lastRecord && i < info->nStaticIds; ++i)
                    if (info->lastRecord[i] == r)
                        return true;
                for (int b = 0; info->lastInBin && b < s->nInventoryBins; ++b)
                    if (info->lastInBin[b] == r)
                        return true;
                return false;
            };
            for (int r = 0; r < n; ++r) {
                if (info->prevRecord[r] < r)
                    continue;
                if (r < n - 1 || named(r))
                    return badValue("prevRecord");
                info->prevRecord[r] = -1;
            }
        }
        return true;
    }
    case 5: {
        const int n = info->recordCount;
        info->ensureRecordCapacity(n);
        const size_t capacity = static_cast<size_t>(info->recordCapacity);
        if (s->latitude >= 0 && s->longitude >= 0) {
            if (!info->latitudes)
                info->latitudes.reset(new float[capacity]());
            if (!info->longitudes)
                info->longitudes.reset(new float[capacity]());
            if (n > 0 && (!io.get(s->latitude, NcPos{0}, NcPos{n}, info->latitudes.get()) ||
                          !io.get(s->longitude, NcPos{0}, NcPos{n}, info->longitudes.get()))) {
                logReadFailure("lats and lons", ncid, "  latitudeVar ", s->latitude);
                return false;
            }
        }
        if (idLen > 0) {
            if (!info->recordIds)
                info->recordIds.reset(new char[capacity * static_cast<size_t>(idLen)]());
            info->forgetIdIndex();
            if (!readRecordKeys(io, info, info->recordIds.get()))
                return false;
        }
        if (s->isOverflow >= 0 &&
            !readPerRecord(s->isOverflow, info->isOverflow, "isOverflow", "  isOverflowVar "))
            return false;
        return true;
    }
    default:
        return true;
    }
}

bool NetcdfPointData::readRecordTimes(const NetcdfIo& io, PointNetcdfFileInfo* info, int* times)
{
    const PointFileStructure* s = info->structure;
    const int n = info->recordCount;
    if (n <= 0 || s->timeVariables.length() == 0)
        return true;
    const int timeVar = s->invTime >= 0 ? s->invTime : s->timeVariables[0];
    bool read;
    if (io.varType(timeVar) == NC_INT) {
        read = io.get(timeVar, NcPos{0}, NcPos{n}, times);
    } else {
        std::vector<double> values(static_cast<size_t>(n));
        read = io.get(timeVar, NcPos{0}, NcPos{n}, values.data());
        for (int r = 0; read && r < n; ++r)
            times[r] = secondsOf(values[static_cast<size_t>(r)]);
    }
    if (!read)
        logReadFailure("basic time data", io.ncid(), "  count[0] ", n);
    return read;
}

bool NetcdfPointData::readRecordKeys(const NetcdfIo& io, PointNetcdfFileInfo* info, char* rows)
{
    const PointFileStructure* s = info->structure;
    const int n = info->recordCount;
    const size_t idLen = static_cast<size_t>(s->totalIdLen);
    memset(rows, 0, static_cast<size_t>(n) * idLen);
    if (n == 0)
        return true;
    if (s->latLonIds) {
        std::vector<float> lats(static_cast<size_t>(n)), lons(static_cast<size_t>(n));
        if (!io.get(s->latitude, NcPos{0}, NcPos{n}, lats.data()) ||
            !io.get(s->longitude, NcPos{0}, NcPos{n}, lons.data())) {
            logReadFailure("info needed to create recordIds", io.ncid(), "  latitudeVar ",
                           s->latitude);
            return false;
        }
        // A record whose position cannot be keyed keeps an empty id.
        for (int r = 0; r < n; ++r) {
            TextString key;
            LatLonCoord position(lats[static_cast<size_t>(r)], lons[static_cast<size_t>(r)]);
            if (makeKey(s, SeqOf<TextString>(), &position, key))
                strncpy(rows + static_cast<size_t>(r) * idLen, key.c_str(), idLen - 1);
        }
        return true;
    }
    for (int k = 0; k < s->idVariables.length(); ++k) {
        const size_t width = static_cast<size_t>(s->idLengths[k]);
        std::vector<char> text(static_cast<size_t>(n) * width + 1, '\0');
        if (!io.get(s->idVariables[k], NcPos{0, 0}, NcPos{n, static_cast<long>(width)},
                    text.data())) {
            logReadFailure("info needed to create recordIds", io.ncid(), "  idVar ",
                           s->idVariables[k]);
            return false;
        }
        for (int r = 0; r < n; ++r) {
            char* row = rows + static_cast<size_t>(r) * idLen;
            const char* piece = text.data() + static_cast<size_t>(r) * width;
            size_t used = strnlen(row, idLen - 1);
            size_t length = strnlen(piece, width);
            size_t room = idLen - 1 - used;
            memcpy(row + used, piece, length < room ? length : room);
        }
    }
    return true;
}

void NetcdfPointData::resyncAndReport(AbsTime time, const char* what)
{
    if (resyncMark > 0) {
        PD_LOG(BUG) << "PANIC!!!  Things really screwed up in NetcdfPointData for "
                    << LogText(_directory) << std::endl;
        std::cerr << "PANIC!!! Things really screwed up in "
                  << "NetcdfPointData for " << LogText(_directory) << std::endl;
        return;
    }
    ++resyncMark;
    PD_LOG(BUG) << "Failed to lookup " << time.toString(TIME_FORMAT)
                << " in file dictionary while " << what << ": " << LogText(_directory) << std::endl;
    while (_fileInfos.count() > 0) {
        PointNetcdfFileInfo* info = _fileInfos.value(0);
        if (info)
            deleteFileInfo(info);
        else
            _fileInfos.remove(_fileInfos.key(0));
    }
    _fileInfos = Dict<AbsTime, PointNetcdfFileInfo*>();
    // Only records taken out under their clients keep their handles.
    Dict<unsigned long, PointNetcdfFileInfo*> held;
    for (int i = 0; i < _handles.count(); ++i) {
        if (_handles.value(i) && _handles.value(i)->detached)
            held.insert(_handles.key(i), _handles.value(i));
    }
    _handles = held;
    for (int i = 0; i < _structures.count(); ++i)
        delete _structures.value(i);
    _structures = Dict<TextString, PointFileStructure*>();
    _templateStructure = nullptr;
    _fileTimes = SeqOf<AbsTime>();
    _oldestLookupStart = _oldestLookupEnd = _newestLookupStart = _newestLookupEnd = 0;
    _latestCoverageEnd = _earliestAcceptedTime = 0;
    _lastWrittenFileInfo = _currentFileInfo = nullptr;

    NcFile* source = openNetCdfFile(_directory + "/template", false, true);
    if (!source) {
        resyncMark = 0;
        return;
    }
    _templateStructure = analyzeStructure(NetcdfIo::fileId(source), nullptr);
    if (_templateStructure)
        _templateStructure->useCount = 1;
    deleteNcFile(source);
    // The directory's time has not changed: list it anyway.
    _forceListing = true;
    updateFileInfo();
    ++_resyncCount;
    resyncMark = 0;
    PD_LOG(PROBLEM) << "Resync count is now " << _resyncCount << std::endl;
}

// Record placement: the data file for a time (made from the template when
// there is none), the record of a station and time, and the bookkeeping of a
// new record (station table, chain, inventory bins).
#include "NetcdfPointData.h"

#include "DiskCommit.h"
#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"
#include "PassJournal.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "SafeDirectory.h"
#include "StoreClock.h"
#include "dataFileCalls.h"
#include "dmFileTimes.h"
#include "renameNoReplace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <sstream>
#include <string>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")
// A line of the writer: within a pass, only the first few are logged.
#define PASS_LOG(category)                                                                  \
    for (bool wanted_ = passLineWanted(); wanted_; wanted_ = false) PD_LOG(category)

namespace {

// The key of a position for a row of totalIdLen characters: latitude + 90
// and longitude + 180, scaled by the widest resolution that fits, in
// fixed-width hexadecimal.  The arithmetic is done in extended precision and
// each field goes through an unsigned integer, so the keys are those of the
// 32-bit original for the same single-precision coordinates.  False when the
// row is too short or the position cannot be keyed.
bool positionKey(int totalIdLen, float lat, float lon, char* out, size_t size)
{
    const char* format;
    long double scale;
    if (totalIdLen > 12) {
        format = "%6.6x%6.6x";
        scale = 10000;
    } else if (totalIdLen >= 11) {
        format = "%5.5x%5.5x";
        scale = 1000;
    } else if (totalIdLen >= 9) {
        format = "%4.4x%4.4x";
        scale = 100;
    } else if (totalIdLen >= 7) {
        format = "%3.3x%3.3x";
        scale = 10;
    } else {
        return false;
    }
    long double a = (static_cast<long double>(lat) + 90.0L) * scale + 0.5L;
    long double b = (static_cast<long double>(lon) + 180.0L) * scale + 0.5L;
    if (!(a >= 0 && a < 4294967296.0L) || !(b >= 0 && b < 4294967296.0L))
        return false;
    int n = snprintf(out, size, format, static_cast<unsigned>(a), static_cast<unsigned>(b));
    return n > 0 && n < totalIdLen;
}

// Whether the bookkeeping refers to the file's last record.  With a
// station table the writer books a record last in the table (the newest
// record of a station is its lastRecord) or, past the table, as an overflow
// record (its isOverflow, read from the file when the flags are not
// cached); without one, in its bin.  Without table and bins the commit of
// the record is all its bookkeeping.
bool lastRecordBooked(const PointNetcdfFileInfo* info)
{
    const PointFileStructure* s = info->structure;
    const int last = info->recordCount - 1;
    if (last < 0)
        return true;
    if (s->maxStaticIds > 0) {
        if (!info->lastRecord)
            return true;
        for (int i = 0; i < info->nStaticIds; ++i)
            if (info->lastRecord[i] == last)
                return true;
        if (info->firstOverflow < s->maxStaticIds)
            return false;
        int flag = 0;
        if (info->isOverflow)
            flag = info->isOverflow[last];
        else if (!NetcdfIo(*info->handle).get1(s->isOverflow, NcPos{last}, flag))
            return true;   // unknown: never taken for another record
        return flag != 0;
    }
    if (s->nInventoryBins > 1 && info->lastInBin) {
        for (int b = 0; b < s->nInventoryBins; ++b)
            if (info->lastInBin[b] == last)
                return true;
        return false;
    }
    return true;
}

// The first time a data file's name holds: the listing reads no stamp of
// 1970 (1971-01-01 00:00 UTC).
const int64_t FIRST_FILE_TIME = 31536000;

// Whether a data file named for the time would be found by the listing: a
// stamp from 1971 to the last second a time holds.
bool fileNameHolds(int64_t start)
{
    return start >= FIRST_FILE_TIME && start <= INT32_MAX;
}

// A time of seconds since 1970, in 64 bits, as UTC text.
std::string timeText(int64_t seconds)
{
    const time_t t = static_cast<time_t>(seconds);
    struct tm fields;
    char text[40];
    if (static_cast<int64_t>(t) != seconds || !gmtime_r(&t, &fields) ||
        strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields) == 0)
        return std::to_string(seconds) + " s";
    return text;
}

// A station key into a row of idLen characters, NUL-padded.
void putKey(char* row, const TextString& key, int idLen)
{
    memset(row, 0, static_cast<size_t>(idLen));
    memcpy(row, key.c_str(), static_cast<size_t>(key.length() < idLen ? key.length() : idLen - 1));
}

} // namespace

PointNetcdfFileInfo* NetcdfPointData::getFileInfoForTime(AbsTime time)
{
    if (_staticFile)
        return _fileInfos.count() > 0 ? _fileInfos.value(0) : nullptr;
    const int t = time.seconds();
    if (t < _earliestAcceptedTime)
        return nullptr;
    PointNetcdfFileInfo* found = nullptr;
    int index = -1;
    for (int pass = 0; pass < 2; ++pass) {
        found = nullptr;
        index = locateFile(t, found);
        if (index == -2)
            return nullptr;
        if (pass == 1)
            break;
        const int32_t now = StoreClock::now();
        if (index >= 0) {
            // Only files near the old end, which may have been purged, are
            // worth a listing.
            if (now < _nextCheckTime ||
                _fileTimes[index].seconds() > int64_t(_oldestLookupEnd) + 900)
                break;
        } else if (!_writable) {
            if (now < _nextCheckTime)
                break;
        } else {
            const PointFileStructure* s = _templateStructure;
            if (!s)
                return nullptr;
            // In 64 bits: the period of a time of the last hour a time
            // holds may end, or even begin, past it.
            int64_t start = t;
            if (!_forecasts) {
                start = t - t % s->filePeriod;
                if (t < start + s->startOffset)
                    start -= s->filePeriod;
                else if (t > start + s->fileEndOffset)
                    start += s->filePeriod;
            }
            if (!fileNameHolds(start)) {
                PASS_LOG(PROBLEM) << "No data file can hold the time " << timeText(t)
                                  << ": its file would begin at " << timeText(start)
                                  << ", and file names hold the times from "
                                  << timeText(FIRST_FILE_TIME) << " to " << timeText(INT32_MAX)
                                  << std::endl;
                _recordRefusal = "its time " + timeText(t) + " lies outside the times data "
                                 "files hold, " + timeText(FIRST_FILE_TIME) + " to " +
                                 timeText(INT32_MAX);
                return nullptr;
            }
            const AbsTime fileTime(static_cast<int32_t>(start));
            if (!_forecasts && _fileInfos.find(fileTime)) {
                PD_LOG(PROBLEM) << "Change in filePeriod or fileEndOffset "
                                << " has resulted in time coverage gap" << std::endl;
                return nullptr;
            }
            // The file of that time is there but cannot be used: making it
            // again would only fail (after a pause) for every record.
            const TextString name = dmMakeTimeFileName(_directory, fileTime, "", "");
            if (_badFileTimes.find(fileTime) && access(name.c_str(), F_OK) == 0) {
                PASS_LOG(PROBLEM) << "The data file " << LogText(name)
                                  << " cannot be used; records of "
                                  << "its time are not stored" << std::endl;
                passFailed("the data file " + std::string(name.c_str()) + " cannot be used");
                return nullptr;
            }
            makeDataFile(fileTime);
        }
        const int before = index;
        if (!updateFileInfo())
            break;
        if (before >= 0 && t < _oldestLookupStart) {
            _earliestAcceptedTime = _oldestLookupStart;
            return nullptr;
        }
    }
    if (index < 0)
        return nullptr;
    if (found)
        return found;
    PointNetcdfFileInfo* info = nullptr;
    if (!_fileInfos.find(_fileTimes[index], nullptr, &info) || !info) {
        resyncAndReport(_fileTimes[index], "getting object for this time");
        return nullptr;
    }
    return info;
}

int NetcdfPointData::locateFile(int t, PointNetcdfFileInfo*& found)
{
    const int n = _fileTimes.length();
    if (n == 0 || t > _newestLookupEnd || t < _oldestLookupStart)
        return -1;
    if (t >= _newestLookupStart)
        return 0;
    if (t <= _oldestLookupEnd)
        return n - 1;
    int lo = 0;
    int hi = n - 1;
    while (hi - lo > 1) {
        int mid = (lo + hi) / 2;
        PointNetcdfFileInfo* info = nullptr;
        if (!_fileInfos.find(_fileTimes[mid], nullptr, &info) || !info) {
            resyncAndReport(_fileTimes[mid], "doing binary search");
            return -2;
        }
        if (info->lookupStart <= t && t <= info->lookupEnd) {
            found = info;
            return mid;
        }
        if (t < info->lookupStart)
            lo = mid;
        else
            hi = mid;
    }
    return -1;
}

bool NetcdfPointData::makeDataFile(AbsTime start)
{
    // The scratch name is the process's own, so that a second process on the
    // directory (refused its lock, or a reader's tool) never shares it.
    const std::string scratchName = "scrfil." + std::to_string(getpid());
    const TextString scratch = _directory + "/" + scratchName.c_str();
    const TextString name = dmMakeTimeFileName(_directory, start, "", "");
    const std::string fileName = name.c_str() + _directory.length() + 1;
    // The store finds the file it made at once, whatever second the
    // directory's time shows.
    _forceListing = true;
    // Every name is taken in the directory as opened here: a link laid in
    // place of the directory or a part of its path leads nowhere else.
    const SafeDirectory dir(_directory.c_str());
    std::string reason;
    if (!dir.ok())
        reason = dir.failureText();
    if (!dir.ok() || !copyWholeFile(dir.fd(), _directory.c_str(), "template",
                                    scratchName.c_str(), reason)) {
        PASS_LOG(BUG) << "Template copy command failed. Copying " << LogText(_directory)
                      << "/template to " << LogText(scratch) << ": " << LogText(reason)
                      << std::endl;
        passFailed("the data file " + std::string(name.c_str()) + " could not be made: " + reason);
        return false;
    }
    // Readers that watch the directory's time see the name appear in a later
    // second than the scratch copy.
    StoreClock::pause(1);
    int error = renameNoReplaceAt(dir.fd(), scratchName.c_str(), dir.fd(), fileName.c_str());
    if (error == 0) {
        // The new name reaches the disk with the next commit, before any
        // bulletin whose records it holds is unlinked; with a pass journal
        // it is on the disk, and noted there, before any record can be.
        DiskCommit::note(DiskCommit::DIRECTORY, dir.fd(), _directory.c_str());
        std::string why;
        if (!_journal || _journal->madeFile(start.seconds(), why))
            return true;
        // Without its line an older count of a removed file of the same
        // time would count the new file's records as committed: the file
        // is not used, and is made again for the next record of its time.
        PASS_LOG(PROBLEM) << LogText(why) << "; the new data file " << LogText(name)
                          << " is not used" << std::endl;
        passFailed(why);
        if (unlinkat(dir.fd(), fileName.c_str(), 0) != 0) {
            PASS_LOG(PROBLEM) << "Could not remove " << LogText(name) << ": " << strerror(errno)
                              << std::endl;
            _badFileTimes.insert(start);
            _accessErrorCountdown = 3;
        }
        return false;
    }
    if (unlinkat(dir.fd(), scratchName.c_str(), 0) != 0)
        PASS_LOG(PROBLEM) << "Could not remove " << LogText(scratch) << ": " << strerror(errno)
                          << std::endl;
    if (error == EEXIST) {
        PASS_LOG(PROBLEM) << "Data file " << LogText(name) << " exists already; it is kept"
                          << std::endl;
    } else {
        PASS_LOG(BUG) << "Template copy command failed. Renaming " << LogText(scratch) << " to "
                      << LogText(name) << ": " << strerror(error) << std::endl;
        passFailed("the data file " + std::string(name.c_str()) + " could not be made: " +
                   strerror(error));
    }
    return false;
}

int* NetcdfPointData::getFileHandleAndRecord(const SeqOf<TextString>& ids, SeqOf<double>& times,
                                             int& record, bool& newRecord)
{
    return getFileHandleAndRecord(ids, times, record, newRecord, nullptr);
}

int* NetcdfPointData::getFileHandleAndRecord(const LatLonCoord& latLon, SeqOf<double>& times,
                                             int& record, bool& newRecord)
{
    if (!(latLon.lat >= -90 && latLon.lat <= 90) || !(latLon.lon >= -180 && latLon.lon <= 180)) {
        PD_LOG(PROBLEM) << "lat/lon values out of range in getFileHandleAndRecord" << std::endl;
        std::ostringstream why;
        why << "its position " << latLon.lat << ", " << latLon.lon
            << " lies outside -90 to 90, -180 to 180";
        _recordRefusal = why.str();
        return nullptr;
    }
    return getFileHandleAndRecord(SeqOf<TextString>(), times, record, newRecord, &latLon);
}

int* NetcdfPointData::getFileHandleAndNewRecord(const SeqOf<TextString>& ids,
                                                SeqOf<double>& times, int& record)
{
    bool newRecord = false;
    return getFileHandleAndRecord(ids, times, record, newRecord, nullptr, true);
}

bool NetcdfPointData::makeKey(const PointFileStructure* s, const SeqOf<TextString>& ids,
                              const LatLonCoord* latLon, TextString& key) const
{
    key = "";
    if (s->totalIdLen <= 0)
        return true;
    if (latLon) {
        char text[32];
        if (s->totalIdLen <= 6) {
            PD_LOG(PROBLEM) << "totalIdLen dimension too small for lat/lon encoding "
                            << "in getFileHandleAndRecord" << std::endl;
            return false;
        }
        if (!positionKey(s->totalIdLen, latLon->lat, latLon->lon, text, sizeof text))
            return false;
        key = text;
        return true;
    }
    for (int k = 0; k < ids.length(); ++k)
        key += ids[k];
    if (key.length() >= s->totalIdLen) {
        PD_LOG(PROBLEM) << "Length of static id too long "
                        << "in getFileHandleAndRecord" << std::endl;
        _recordRefusal = "its id \"" + LogText(key).escaped() + "\" is longer than the " +
                         std::to_string(s->totalIdLen - 1) + " characters the store's ids hold";
        return false;
    }
    return true;
}

int* NetcdfPointData::getFileHandleAndRecord(const SeqOf<TextString>& ids, SeqOf<double>& times,
                                             int& record, bool& newRecord,
                                             const LatLonCoord* latLon, bool beside)
{
    // Calls are counted within a pass, failed ones too, so that a pass over
    // the same bulletin counts them alike.
    const int call = _inPass ? _passCall++ : -1;
    _recordRefusal.clear();
    if (_inPass && !_passFailure.empty()) {
        ++_passSkipped;
        return nullptr;
    }
    if (!_writable) {
        PASS_LOG(PROBLEM) << "Not set up for writing in getFileHandleAndRecord" << std::endl;
        return nullptr;
    }
    // A store that cannot use its journal said so once: its records wait.
    if (journalHeld()) {
        ++refusedForJournal;
        return nullptr;
    }
    if (!_staticFile && times.length() == 0) {
        PASS_LOG(PROBLEM) << "No time data in getFileHandleAndRecord" << std::endl;
        return nullptr;
    }
    int t = 1;
    if (!_staticFile) {
        int k = 0;
        while (k < times.length() && !(times[k] > 0.0 && times[k] <= 2147483647.0))
            ++k;
        if (k == times.length()) {
            PASS_LOG(PROBLEM) << "Undefined time getFileHandleAndRecord" << std::endl;
            _recordRefusal = "it gives no time the store holds";
            return nullptr;
        }
        t = static_cast<int>(times[k]);
    }

    const int32_t now = StoreClock::now();
    // The directory is checked once a check interval, so that a data file
    // removed under the store is noticed.
    if (now >= _nextCheckTime)
        updateFileInfo();
    PointNetcdfFileInfo* info = _lastWrittenFileInfo;
    if (!info || t < info->lookupStart || t > info->lookupEnd)
        info = getFileInfoForTime(AbsTime(t));
    if (!info || !info->structure) {
        PASS_LOG(EVENT) << "This file was probably purged away" << std::endl;
        return nullptr;
    }
    if (info->lookupEnd == _newestLookupEnd)
        _lastWrittenFileInfo = info;
    const PointFileStructure* s = info->structure;

    int v = t;
    if (s->recordForecasts) {
        double last = times[times.length() - 1];
        if (!(last > INT_MIN && last <= INT_MAX)) {
            PASS_LOG(PROBLEM) << "Undefined time getFileHandleAndRecord" << std::endl;
            _recordRefusal = "it gives no forecast time the store holds";
            return nullptr;
        }
        v = static_cast<int>(last);
    }
    if (latLon && !s->latLonIds) {
        PASS_LOG(PROBLEM) << "File not lat/lon indexed in getFileHandleAndRecord" << std::endl;
        return nullptr;
    }
    if (!latLon && s->latLonIds) {
        PASS_LOG(PROBLEM) << "File is lat/lon indexed in getFileHandleAndRecord" << std::endl;
        return nullptr;
    }
    if (!latLon && ids.length() != s->idVariables.length()) {
        PASS_LOG(PROBLEM) << "Wrong number of ids in getFileHandleAndRecord" << std::endl;
        return nullptr;
    }
    if (s->timeVariables.length() > 0 && !_staticFile &&
        times.length() != s->timeVariables.length()) {
        PASS_LOG(PROBLEM) << "Wrong number of times in getFileHandleAndRecord" << std::endl;
        return nullptr;
    }
    // Everything that can be checked is checked before the first write.
    TextString key;
    if (!makeKey(s, ids, latLon, key))
        return nullptr;
    for (int k = 0; !latLon && k < ids.length() && k < s->idLengths.length(); ++k) {
        if (ids[k].length() > s->idLengths[k]) {
            PASS_LOG(PROBLEM) << "Id " << LogText(ids[k]) << " too long for its variable "
                            << "in getFileHandleAndRecord" << std::endl;
            _recordRefusal = "its id \"" + LogText(ids[k]).escaped() + "\" is longer than the " +
                             std::to_string(s->idLengths[k]) + " characters of its variable";
            return nullptr;
        }
    }

    if (!openFileInfo(info))
        return nullptr;
    if (s->recordForecasts && (v < info->coverageStart || v > info->coverageEnd)) {
        PASS_LOG(PROBLEM) << "Forecast time out of range: " << int64_t(v) - t << " for "
                          << LogText(_directory) << std::endl;
        _recordRefusal = "its forecast time, " + std::to_string(int64_t(v) - t) +
                         " s after its reference time, lies outside the " +
                         std::to_string(int64_t(info->coverageStart) - t) + " to " +
                         std::to_string(int64_t(info->coverageEnd) - t) +
                         " s its data file holds";
        return nullptr;
    }

    // A file whose sync failed is taken back to its last commit first, and
    // a record of it that could not be emptied is emptied, so that the
    // commit of this record counts no record that was never written.
    if (!takeBackUnsynced(info) || (_journal && !emptyAgain(info)))
        return nullptr;

    // The bookkeeping the placement needs: the station table before it is
    // shifted, the chains and, with overflow records, their ids.
    const bool chaining = s->hasChaining();
    const int needed = chaining ? (info->firstOverflow >= s->maxStaticIds ? 5 : 4)
                       : s->maxStaticIds > 0 ? 3
                       : s->nInventoryBins >= 2 ? 2
                                                : 1;
    if (info->readLevel >= needed)
        info->nextRecheckTime = AbsTime::clamp(int64_t(now) + _checkInterval);
    else if (!readFileStructure(*info->handle, info, needed))
        return nullptr;

    // The station's newest record, and where a new station goes.
    int r = -1;
    int staticIndex = -1;
    int insertAt = 0;
    const size_t idLen = s->totalIdLen > 0 ? static_cast<size_t>(s->totalIdLen) : 0;
    if (s->maxStaticIds <= 0) {
        if (chaining && idLen == 0 && latLon && info->latitudes && info->longitudes) {
            for (int k = info->recordCount - 1; k >= 0 && r < 0; --k) {
                if (info->latitudes[k] == latLon->lat && info->longitudes[k] == latLon->lon)
                    r = k;
            }
        } else if (chaining && idLen > 0) {
            r = findNewestOverflowRecord(key, info);
        }
    } else {
        const int n = info->nStaticIds;
        const char* rows = info->staticIds.get();
        auto compare = [&](int i) { return strncmp(key.c_str(), rows + i * idLen, idLen); };
        if (n > 0 && rows) {
            int c = compare(0);
            if (c <= 0) {
                staticIndex = c == 0 ? 0 : -1;
            } else if ((c = compare(n - 1)) >= 0) {
                staticIndex = c == 0 ? n - 1 : -1;
                insertAt = n;
            } else {
                int lo = 0, hi = n - 1;
                while (hi - lo > 1 && staticIndex < 0) {
                    int mid = (lo + hi) / 2;
                    c = compare(mid);
                    if (c == 0)
                        staticIndex = mid;
                    else if (c < 0)
                        hi = mid;
                    else
                        lo = mid;
                }
                insertAt = hi;
            }
        }
        if (chaining) {
            if (staticIndex >= 0)
                r = info->lastRecord[staticIndex];
            else if (info->firstOverflow >= s->maxStaticIds)
                r = findNewestOverflowRecord(key, info);
        }
    }
    const int previous = r;
    if (r >= 0 && info->recordTimes && info->prevRecord && !beside) {
        while (r >= 0 && info->recordTimes[r] != v)
            r = info->prevRecord[r];
    } else {
        r = -1;
    }

    if (r >= 0) {
        lastFileTimeStamp() = info->path.right(13);
        newRecord = false;
        record = r;
        ++info->clientCount;
        if (s->logRewrites) {
            // Appended to only as the store's own file, never through a link
            // laid at its name or in place of a part of its path.
            std::string why;
            const int fd = SafeDirectory::openFile((info->path + ".rewrites").c_str(),
                                                   O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK,
                                                   0666, SafeDirectory::REGULAR_FILE, why);
            if (FILE* f = fd >= 0 ? fdopen(fd, "a") : nullptr) {
                fprintf(f, "%d\n", r);
                fclose(f);
            } else if (fd >= 0) {
                close(fd);
            }
        }
        return info->handle;
    }

    // A writer stopped between committing a record and booking it leaves
    // the file's last record unbooked, found by no station, bin or overflow
    // search.  It is filled afresh and taken for the new record, so that a
    // sounding stored again after the stop is not held twice.
    if (!lastRecordBooked(info)) {
        const int unbooked = info->recordCount - 1;
        if (!NetcdfIo(*info->handle).fillRecord(unbooked)) {
            PASS_LOG(PROBLEM) << "unable to fill record " << unbooked << " of " << info->path
                              << ": " << NetcdfIo::lastErrorText() << std::endl;
            passFailed(std::string("unable to fill a record: ") + NetcdfIo::lastErrorText());
            return nullptr;
        }
        PASS_LOG(EVENT) << "Record " << unbooked << " of " << info->path
                      << " was never booked; it is written again" << std::endl;
        info->recordCount = unbooked;
        info->forgetIdIndex();
    }
    const int fileTime = info->fileTime.seconds();
    // A record placed again: filled afresh, then committed as a new one is.
    const auto placeOver = [&](int over, bool isNew) -> int* {
        if (!NetcdfIo(*info->handle).fillRecord(over) ||
            !commitRecord(info, over, ids, times, latLon, key, v, -1, false)) {
            info->freeStructure();
            return nullptr;
        }
        _journal->placed(fileTime, info->recordCount, over);
        ++info->clientCount;
        lastFileTimeStamp() = info->path.right(13);
        newRecord = isNew;
        record = over;
        return info->handle;
    };
    if (journaled(info)) {
        // A record an earlier pass over this bulletin placed for this call
        // is taken again.
        int earlierTime = 0, earlier = -1;
        if (_journal->earlier(call, earlierTime, earlier) && earlierTime == fileTime &&
            earlier < info->recordCount) {
            _passChecked = true;
            int* handle = placeOver(earlier, false);
            _passReused += handle != nullptr;
            return handle;
        }
        // The first record a pass places tells a bulletin whose notes were
        // lost with a journal set aside: its station at its time is held
        // already, by a record no note names.
        if (!_passChecked) {
            _passChecked = true;
            std::string reason;
            if (heldWithoutNote(info, key, latLon, v, reason)) {
                PASS_LOG(PROBLEM) << LogText(reason) << std::endl;
                passFailed(reason);
                _passRefusal = reason;
                return nullptr;
            }
        }
        // A record no bulletin's note names past the file's committed
        // count (its note was lost with a power loss) was emptied when the
        // store was opened: the new record goes over it, so that its
        // bulletin, stored again, is held once.
        int emptied = _journal->freeRecord(fileTime);
        if (emptied >= info->recordCount)
            emptied = -1;
        std::string error;
        if (!_journal->note(call, fileTime, emptied >= 0 ? emptied : info->recordCount, error)) {
            PASS_LOG(PROBLEM) << LogText(error) << std::endl;
            passFailed(error);
            return nullptr;
        }
        if (emptied >= 0)
            return placeOver(emptied, true);
    }
    r = info->recordCount;
    int ending = writeNewRecord(info, ids, times, latLon, key, v, previous, staticIndex, insertAt);
    if (ending == 0) {
        // What the caches held may no longer match the file: read it again.
        info->freeStructure();
        return nullptr;
    }
    ++info->clientCount;
    info->recordCount = r + 1;
    if (_journal)
        _journal->placed(fileTime, info->recordCount);
    lastFileTimeStamp() = info->path.right(13);
    // The record was synced when it was committed; its bookkeeping reaches
    // the disk with the sync of the last release.
    PD_LOG(DEBUG) << ending << ": In lastFileTimeStamp, NC_SYNC_WORKS_FOR_WRITING = "
                  << NC_SYNC_WORKS_FOR_WRITING << std::endl;
    newRecord = true;
    record = r;
    return info->handle;
}

bool NetcdfPointData::takeBackUnsynced(PointNetcdfFileInfo* info)
{
    if (!info->unsynced)
        return true;
    if (info->clientCount > 0) {
        const std::string reason = "the data file " + std::string(info->path.c_str()) +
                                   " could not be synced and is in use: it is not taken back yet";
        PASS_LOG(PROBLEM) << LogText(reason) << std::endl;
        passFailed(reason);
        return false;
    }
    if (!takeBackUncommitted(info, true)) {
        passFailed("the data file " + std::string(info->path.c_str()) +
                   " could not be synced, nor taken back to its last commit");
        return false;
    }
    info->unsynced = false;
    return true;
}

bool NetcdfPointData::emptyAgain(PointNetcdfFileInfo* info)
{
    const int fileTime = info->fileTime.seconds();
    const auto found = _journal->unemptiedRecords().find(fileTime);
    if (found == _journal->unemptiedRecords().end())
        return true;
    // The commit that counts a record placed after them counts them too.
    const std::set<int> records = found->second;
    const NetcdfIo io(*info->handle);
    for (int r : records) {
        if (r < info->recordCount && !io.fillRecord(r)) {
            const std::string reason = "unable to fill record " + std::to_string(r) + " of " +
                                       info->path.c_str() + ": " + NetcdfIo::lastErrorText();
            PASS_LOG(PROBLEM) << LogText(reason) << std::endl;
            passFailed(reason);
            return false;
        }
    }
    if (!syncWritten(info)) {
        passFailed("the records emptied could not be synced to " + std::string(info->path.c_str()));
        return false;
    }
    for (int r : records)
        _journal->emptied(fileTime, r);
    return true;
}

int NetcdfPointData::writeNewRecord(PointNetcdfFileInfo* info, const SeqOf<TextString>& ids,
                                    const SeqOf<double>& times, const LatLonCoord* latLon,
                                    const TextString& key, int v, int previous, int staticIndex,
                                    int insertAt)
{
    const PointFileStructure* s = info->structure;
    const int r = info->recordCount;
    const int bins = s->nInventoryBins;
    const int idLen = s->totalIdLen;
    auto failed = [this](const char* what, int var) {
        logWriteFailure(what, var);
        return 0;
    };
    const bool table = s->maxStaticIds >= 1;
    const bool overflow = table && staticIndex < 0 && info->nStaticIds >= s->maxStaticIds;

    int b = 0;
    unsigned bit = 1;
    if (bins > 1) {
        long d = (static_cast<long>(v) - info->coverageStart) / s->binWidth;
        b = d >= bins ? bins - 1 : d < 0 ? 0 : static_cast<int>(d);
        bit = 1u << (b < 32 ? b : 0);
    }
    info->ensureRecordCapacity(r + 1);

    // First the record itself, committed by a sync (the file's header then
    // counts it) before any bookkeeping refers to it, so that a writer
    // stopped at any point leaves no index past the records of the file.
    if (!commitRecord(info, r, ids, times, latLon, key, v, previous, overflow))
        return 0;

    // Then the bookkeeping that points at it: bins, then the station table.
    const NetcdfIo io(*info->handle);
    if (bins > 1) {
        if (s->charInventories) {
            if (info->charGlobalInventory[b] == '\0') {
                if (!io.put1(s->globalInventory, NcPos{b}, '1'))
                    return failed("unable to write globalInventory", -1);
                info->charGlobalInventory[b] = '1';
            }
        } else if (!(static_cast<unsigned>(info->globalInventory) & bit)) {
            int word = static_cast<int>(static_cast<unsigned>(info->globalInventory) | bit);
            if (!io.put1(s->globalInventory, NcPos{}, word))
                return failed("unable to write globalInventory", -1);
            info->globalInventory = word;
        }
        if (info->firstInBin[b] < 0) {
            if (!io.put1(s->firstInBin, NcPos{b}, r))
                return failed("unable to write firstInBin", -1);
            info->firstInBin[b] = r;
        }
        if (!io.put1(s->lastInBin, NcPos{b}, r))
            return failed("unable to write lastInBin", -1);
        info->lastInBin[b] = r;
    }

    if (!table) {
        if (info->newestByIdValid && idLen > 0)
            info->newestById[key.c_str()] = r;
        return 1;
    }
    if (staticIndex >= 0) {
        const int i = staticIndex;
        if (bins > 1) {
            bool written;
            if (s->charInventories) {
                info->charInventory[static_cast<size_t>(i) * bins + b] = '1';
                written = io.put1(s->inventory, NcPos{i, b}, '1');
            } else {
                info->inventory[i] = static_cast<int>(static_cast<unsigned>(info->inventory[i]) | bit);
                written = io.put1(s->inventory, NcPos{i}, info->inventory[i]);
            }
            if (!written)
                return failed("unable to write inventory", -1);
        }
        if (!io.put1(s->lastRecord, NcPos{i}, r))
            return failed("unable to write lastRecord", -1);
        info->lastRecord[i] = r;
        return 2;
    }
    if (!overflow) {
        const int n = info->nStaticIds;
        const int j = insertAt;
        const size_t moved = static_cast<size_t>(n - j);
        char* rows = info->staticIds.get();
        memmove(rows + static_cast<size_t>(j + 1) * idLen, rows + static_cast<size_t>(j) * idLen,
                moved * idLen);
        putKey(rows + static_cast<size_t>(j) * idLen, key, idLen);
        memmove(info->lastRecord.get() + j + 1, info->lastRecord.get() + j, moved * sizeof(int));
        info->lastRecord[j] = r;
        if (bins > 1 && s->charInventories) {
            char* inv = info->charInventory.get();
            memmove(inv + static_cast<size_t>(j + 1) * bins, inv + static_cast<size_t>(j) * bins,
                    moved * bins);
            memset(inv + static_cast<size_t>(j) * bins, 0, static_cast<size_t>(bins));
            inv[static_cast<size_t>(j) * bins + b] = '1';
        } else if (bins > 1) {
            memmove(info->inventory.get() + j + 1, info->inventory.get() + j, moved * sizeof(int));
            info->inventory[j] = static_cast<int>(bit);
        }
        const long count = n + 1 - j;
        if (!io.put(s->staticIds, NcPos{j, 0}, NcPos{count, idLen},
                    rows + static_cast<size_t>(j) * idLen))
            return failed("unable to write staticIds", -1);
        if (!io.put(s->lastRecord, NcPos{j}, NcPos{count}, info->lastRecord.get() + j))
            return failed("unable to write lastRecord", -1);
        if (bins > 1) {
            bool written = s->charInventories
                               ? io.put(s->inventory, NcPos{j, 0}, NcPos{count, bins},
                                        info->charInventory.get() + static_cast<size_t>(j) * bins)
                               : io.put(s->inventory, NcPos{j}, NcPos{count},
                                        info->inventory.get() + j);
            if (!written)
                return failed("unable to write inventory", -1);
        }
        if (!io.put1(s->nStaticIds, NcPos{}, n + 1))
            return failed("unable to write nStaticIds", -1);
        info->nStaticIds = n + 1;
        return 4;
    }
    if (passLineWanted()) {
        PD_LOG(PROBLEM) << "Static information area overflow in the file " << std::endl;
        PD_LOG(PROBLEM) << info->path << std::endl;
    }
    if (info->firstOverflow <= 0) {
        if (!io.put1(s->firstOverflow, NcPos{}, r))
            return failed("unable to write firstOverflow", -1);
        info->firstOverflow = r;
        info->forgetIdIndex();
    }
    const size_t capacity = static_cast<size_t>(info->recordCapacity);
    if (!info->recordIds)
        info->recordIds.reset(new char[capacity * idLen]());
    putKey(info->recordIds.get() + static_cast<size_t>(r) * idLen, key, idLen);
    if (!info->isOverflow)
        info->isOverflow.reset(new int[capacity]());
    info->isOverflow[r] = 1;
    if (info->newestByIdValid)
        info->newestById[key.c_str()] = r;
    return 3;
}

void NetcdfPointData::logWriteFailure(const char* what, int var)
{
    const std::string reason = std::string(what) + (var >= 0 ? std::to_string(var) : "") + ": " +
                               NetcdfIo::lastErrorText();
    PASS_LOG(PROBLEM) << LogText(reason) << std::endl;
    passFailed(reason);
}

bool NetcdfPointData::commitRecord(PointNetcdfFileInfo* info, int r, const SeqOf<TextString>& ids,
                                   const SeqOf<double>& times, const LatLonCoord* latLon,
                                   const TextString& key, int v, int previous, bool overflow)
{
    const PointFileStructure* s = info->structure;
    const int idLen = s->totalIdLen;
    auto failed = [this](const char* what, int var) {
        logWriteFailure(what, var);
        return false;
    };
    {
        const NetcdfIo io(*info->handle);
        if (!latLon) {
            for (int k = 0; k < s->idVariables.length(); ++k) {
                long width = s->idLengths[k];
                long n = ids[k].length() + 1 < width ? ids[k].length() + 1 : width;
                if (!io.put(s->idVariables[k], NcPos{r, 0}, NcPos{1, n}, ids[k].c_str()))
                    return failed("unable to write id variable ", s->idVariables[k]);
            }
        } else {
            if (!io.put1(s->latitude, NcPos{r}, latLon->lat))
                return failed("unable to write latitude", -1);
            if (!io.put1(s->longitude, NcPos{r}, latLon->lon))
                return failed("unable to write longitude", -1);
        }
        for (int k = 0; k < s->timeVariables.length(); ++k) {
            if (!io.put1(s->timeVariables[k], NcPos{r}, times[k]))
                return failed("unable to write time variable ", s->timeVariables[k]);
        }
        if (s->invTime >= 0 && !io.put1Number(s->invTime, NcPos{r}, v))
            return failed("unable to write invTime", -1);
        if (s->prevRecord >= 0 && !io.put1(s->prevRecord, NcPos{r}, previous))
            return failed("unable to write prevRecord", -1);
        if (s->maxStaticIds >= 1 && !io.put1(s->isOverflow, NcPos{r}, overflow ? 1 : 0))
            return failed("unable to write isOverflow", -1);
        if (!syncWritten(info) || !info->handle || info->detached) {
            passFailed("the record could not be synced to " + std::string(info->path.c_str()));
            return false;
        }
    }
    if (info->recordIds && idLen > 0)
        putKey(info->recordIds.get() + static_cast<size_t>(r) * idLen, key, idLen);
    if (latLon && info->latitudes && info->longitudes) {
        info->latitudes[r] = latLon->lat;
        info->longitudes[r] = latLon->lon;
    }
    if (info->recordTimes)
        info->recordTimes[r] = v;
    if (info->prevRecord)
        info->prevRecord[r] = previous;
    if (info->isOverflow)
        info->isOverflow[r] = overflow ? 1 : 0;

    return true;
}

// One writer per store directory, and the passes over bulletins: the pass
// journal of the stores whose records carry no bookkeeping, the failure
// that ends a pass's placements, and the bound on the writer's lines.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"
#include "PassJournal.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "SafeDirectory.h"
#include "dmFileTimes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

namespace {

// Writer lines a pass logs before the rest are only counted.
const int PASS_LINES = 10;

// Whether a name is one of the scratch files a writer makes on its way to a
// data file or a journal: "scrfil." or "passJournal." and its process id.
bool isScratchName(const std::string& name)
{
    for (const char* form : {"scrfil.", "passJournal."}) {
        const size_t n = strlen(form);
        if (name.size() > n && name.compare(0, n, form) == 0 &&
            name.find_first_not_of("0123456789", n) == std::string::npos)
            return true;
    }
    return false;
}

} // namespace

bool NetcdfPointData::lockDirectory()
{
    // The lock lives with this open directory: it goes with the store, and
    // with the process however it ends.  A link or another user's directory
    // laid in place of a part of its path is refused: the store then writes
    // nothing.
    SafeDirectory::Failure failure;
    _lockFd = SafeDirectory::openPath(_directory.c_str(), 0, &failure);
    if (_lockFd < 0 && failure.refusal != SafeDirectory::SYSTEM) {
        const std::string path = _directory.c_str();
        PD_LOG(PROBLEM) << "The point-data directory " << LogText(_directory) << " is refused ("
                        << LogText(path.substr(0, failure.partEnd)) << ": "
                        << SafeDirectory::reasonText(failure) << "); this process does not "
                        << "write it" << std::endl;
        return false;
    }
    if (_lockFd < 0)
        return true;   // no directory: the template is not found either
    if (flock(_lockFd, LOCK_EX | LOCK_NB) == 0) {
        removeScratchFiles();
        return true;
    }
    const int error = errno;
    if (error != EWOULDBLOCK) {
        PD_LOG(PROBLEM) << "Could not lock the point-data directory " << LogText(_directory) << ": "
                        << strerror(error) << "; writing it without the lock" << std::endl;
        return true;
    }
    PD_LOG(PROBLEM) << "Another process holds the lock of the point-data directory "
                    << LogText(_directory) << " and writes it; this process does not" << std::endl;
    close(_lockFd);
    _lockFd = -1;
    return false;
}

void NetcdfPointData::removeScratchFiles()
{
    // Files a killed writer left on its way to a data file or a journal:
    // no other writer can be making one while the lock is held.
    // The directory is the one locked, opened a part at a time.
    const int listing = openat(_lockFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            close(listing);
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!isScratchName(name))
            continue;
        if (unlinkat(_lockFd, name.c_str(), 0) != 0)
            PD_LOG(PROBLEM) << "Could not remove " << LogText(_directory) << "/" << LogText(name)
                            << ": " << strerror(errno) << std::endl;
    }
    closedir(dir);
}

void NetcdfPointData::openPassJournal()
{
    const PointFileStructure* s = _templateStructure;
    if (!_writable || _staticFile || !s)
        return;
    // Every writable store counts the records its commits brought to the
    // disk; a store whose records carry no bookkeeping also notes its
    // passes.
    _notingPasses = s->placesEveryRecordAnew();
    std::unique_ptr<PassJournal> journal(new PassJournal(_directory.c_str()));
    std::map<int, int> records;
    for (int i = 0; i < _fileInfos.count(); ++i) {
        PointNetcdfFileInfo* info = _fileInfos.value(i);
        if (info && info->structure)
            records[_fileInfos.key(i).seconds()] = info->recordCount;
    }
    // A data file the store could not read (a disk error) keeps its count
    // until it is read.
    std::set<int> unreadable;
    std::unique_ptr<SeqOf<AbsTime>> listed(dmFileTimes(_directory, "", ""));
    for (int i = 0; i < listed->length(); ++i)
        if (!records.count((*listed)[i].seconds()))
            unreadable.insert((*listed)[i].seconds());
    std::string message;
    switch (journal->open(records, message, unreadable)) {
    case PassJournal::OPENED:
        if (!message.empty())
            PD_LOG(EVENT) << LogText(message) << std::endl;
        break;
    case PassJournal::SET_ASIDE:
        PD_LOG(PROBLEM) << LogText(message) << std::endl;
        break;
    case PassJournal::FAILED:
        // Its commits would be counted nowhere, and taken back at the next
        // start: nothing is stored until the journal can be used.
        holdStore(message);
        return;
    }
    _journal = std::move(journal);
    releaseStore();
    // Each file as its commits left it, its bookkeeping agreeing with its
    // records; a file that cannot be mended is not used for now.
    std::vector<PointNetcdfFileInfo*> unusable;
    for (int i = 0; i < _fileInfos.count(); ++i)
        if (PointNetcdfFileInfo* info = _fileInfos.value(i))
            if (!mendOnOpen(info))
                unusable.push_back(info);
    for (PointNetcdfFileInfo* info : unusable)
        deleteFileInfo(info);
    if (!unusable.empty())
        _forceListing = true;
    emptyFreeRecords();
}

void NetcdfPointData::emptyFreeRecords(int onlyFileTime)
{
    for (const auto& file : _journal->freeRecords()) {
        if (onlyFileTime >= 0 && file.first != onlyFileTime)
            continue;
        PointNetcdfFileInfo* info = nullptr;
        if (!_fileInfos.find(AbsTime(file.first), nullptr, &info) || !info)
            continue;
        const bool opened = openFileInfo(info);
        // Records of bulletins still in the ingest directory, which place
        // them again; until then nothing reads them as data.  One that is
        // not emptied is counted by no commit until it is emptied (before
        // a record is placed in its file) or placed again.
        int emptied = 0;
        for (int r : file.second) {
            if (!opened || !NetcdfIo(*info->handle).fillRecord(r)) {
                if (opened && emptied >= 0)
                    PD_LOG(PROBLEM) << "unable to fill record " << r << " of " << info->path
                                    << ": " << NetcdfIo::lastErrorText() << std::endl;
                emptied = -1;
                _journal->emptyFailed(file.first, r);
            } else if (emptied >= 0) {
                ++emptied;
            }
        }
        if (!opened)
            continue;
        if (!syncWritten(info)) {
            for (int r : file.second)
                _journal->emptyFailed(file.first, r);
            emptied = -1;
        }
        info->freeStructure();
        if (info->clientCount == 0)
            closeFile(info);
        if (emptied >= 0)
            PD_LOG(EVENT) << emptied << " records of " << info->path << " past the "
                          << _journal->committedRecords(file.first)
                          << " its last commit counted are named by no note (the notes did not "
                             "reach the disk) and were emptied; new records of the file go over "
                             "them"
                          << std::endl;
    }
}

bool NetcdfPointData::journalHeld()
{
    if (!_journalFailure.empty())
        return true;
    std::string error;
    if (_journal && _journal->rewriteNeeded() && !_journal->repair(error))
        holdStore(error);
    return !_journalFailure.empty();
}

void NetcdfPointData::holdStore(const std::string& why)
{
    if (!_journalFailure.empty())
        return;
    _journalFailure = why;
    ++heldStores;
    PD_LOG(PROBLEM) << LogText(why) << "; the store " << LogText(_directory)
                    << " stores nothing until its pass journal can be used: its bulletins wait "
                       "in their ingest directory"
                    << std::endl;
}

void NetcdfPointData::releaseStore()
{
    if (_journalFailure.empty())
        return;
    _journalFailure.clear();
    --heldStores;
    ++journalsRecovered;
    PD_LOG(PROBLEM) << "The pass journal of " << LogText(_directory)
                    << " can be used again: the store stores again" << std::endl;
}

void NetcdfPointData::reopenJournal()
{
    if (!_journal) {
        openPassJournal();
        return;
    }
    std::string error;
    if (_journal->repair(error))
        releaseStore();
}

bool NetcdfPointData::journaled(const PointNetcdfFileInfo* info) const
{
    return _journal && _notingPasses && _inPass && info->structure->placesEveryRecordAnew();
}

bool NetcdfPointData::heldWithoutNote(PointNetcdfFileInfo* info, const TextString& key,
                                      const LatLonCoord* latLon, int v, std::string& reason)
{
    const int fileTime = info->fileTime.seconds();
    const int unknown = std::min(_journal->unknownRecords(fileTime), info->recordCount);
    if (unknown <= 0)
        return false;
    const std::string path = info->path.c_str();
    const std::string bulletin = _passIdentity.c_str();
    if (!readFileStructure(*info->handle, info, 5)) {
        reason = "The records of " + path + " placed before its pass journal was set aside " +
                 "could not be read: " + bulletin + " may be stored already and is not stored";
        return true;
    }
    const PointFileStructure* s = info->structure;
    const size_t idLen = s->totalIdLen > 0 ? static_cast<size_t>(s->totalIdLen) : 0;
    for (int r = 0; r < unknown && r < info->recordCount; ++r) {
        if (_journal->noted(fileTime, r) || (info->recordTimes && info->recordTimes[r] != v))
            continue;
        const bool same =
            latLon ? info->latitudes && info->longitudes && info->latitudes[r] == latLon->lat &&
                         info->longitudes[r] == latLon->lon
                   : idLen > 0 && info->recordIds &&
                         strncmp(info->recordIds.get() + r * idLen, key.c_str(), idLen) == 0;
        if (same) {
            reason = "Record " + std::to_string(r) + " of " + path +
                     ", placed before its pass journal was set aside, holds the station and time "
                     "of the first record of " + bulletin +
                     ": the bulletin may be stored already and is not stored again";
            return true;
        }
    }
    return false;
}

void NetcdfPointData::beginPass(const TextString& identity)
{
    if (_inPass)
        endPass(false);
    _inPass = true;
    _passIdentity = identity;
    _passCall = _passReused = _passLines = _passQuiet = _passSkipped = 0;
    _passChecked = false;
    _passFailure.clear();
    _passRefusal.clear();
    std::string error;
    if (journalHeld())
        return;
    if (_journal && _notingPasses && !_journal->begin(identity.c_str(), error)) {
        PD_LOG(PROBLEM) << LogText(error) << std::endl;
        passFailed(error);
    }
}

void NetcdfPointData::endPass(bool complete)
{
    if (!_inPass)
        return;
    if (_passReused > 0)
        PD_LOG(EVENT) << _passReused << " records of an earlier pass over "
                      << LogText(_passIdentity) << " taken again in " << LogText(_directory)
                      << std::endl;
    if (_passSkipped > 0)
        PD_LOG(PROBLEM) << _passSkipped << " more records of " << LogText(_passIdentity)
                        << " not placed in " << LogText(_directory)
                        << " after: " << LogText(_passFailure) << std::endl;
    if (_passQuiet > 0)
        PD_LOG(PROBLEM) << _passQuiet << " more lines about the records of "
                        << LogText(_passIdentity) << " in " << LogText(_directory) << " not logged"
                        << std::endl;
    std::string error;
    if (_journal && _notingPasses && _journalFailure.empty() &&
        !_journal->end(complete && _passFailure.empty(), error))
        PD_LOG(PROBLEM) << LogText(error) << std::endl;
    _inPass = false;
}

bool NetcdfPointData::passLineWanted()
{
    if (!_inPass || _passLines < PASS_LINES) {
        if (_inPass)
            ++_passLines;
        return true;
    }
    ++_passQuiet;
    return false;
}

void NetcdfPointData::passFailed(const std::string& reason)
{
    if (_inPass && _passFailure.empty())
        _passFailure = reason.empty() ? "a failed write" : reason;
}

// Handles: opening a record's file and giving it a handle, taking handles
// back, syncing and closing writable files, and the process-wide list of
// read-only records without clients.
//
// A handle is an int the store owns; its address keys the store's handle
// table and its value is the ncid of the open file.  A handle is never freed
// while a client holds it: a record whose file goes away under its clients is
// detached (the value -1, which no netCDF call accepts, since netCDF reuses
// ncids) and freed at its last release.
#include "NetcdfPointData.h"

#include "DiskCommit.h"
#include "LogStream.h"
#include "NetcdfIo.h"
#include "PassJournal.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "SafeDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <string>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

namespace {

const int MAX_CLIENTLESS = 36;
const int MAX_CLIENTLESS_OPEN = 9;

unsigned long addressOf(const int* handle) { return reinterpret_cast<unsigned long>(handle); }

// Notes the data file as it is on disk now.
void rememberDisk(PointNetcdfFileInfo* info)
{
    struct stat st;
    if (stat(info->path.c_str(), &st) != 0) {
        info->diskSize = -1;
        return;
    }
    info->diskDevice = st.st_dev;
    info->diskInode = st.st_ino;
    info->diskSize = st.st_size;
}

// What another process did to the data file since the store last left it,
// or null when the file is as it was (or was never noted).
std::string diskChange(const PointNetcdfFileInfo* info)
{
    if (info->diskSize < 0)
        return std::string();
    struct stat st;
    if (stat(info->path.c_str(), &st) != 0)
        return "was removed";
    if (st.st_dev != info->diskDevice || st.st_ino != info->diskInode)
        return "was replaced by another file";
    if (st.st_size < info->diskSize)
        return "was cut from " + std::to_string(info->diskSize) + " to " +
               std::to_string(static_cast<long long>(st.st_size)) + " bytes";
    return std::string();
}

} // namespace

void NetcdfPointData::noteWritten(PointNetcdfFileInfo* info)
{
    // The file at its path, which must be the one the store wrote (noted by
    // rememberDisk).
    if (info->commitGeneration == DiskCommit::generation())
        return;
    const std::string path = info->path.c_str();
    std::string why;
    const int fd = SafeDirectory::openFile(path, O_RDONLY | O_NONBLOCK, 0,
                                           SafeDirectory::REGULAR_FILE, why);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        DiskCommit::noteFailure(path, errno);
        markUnsynced(info);
    } else if (info->diskSize >= 0 &&
               (st.st_dev != info->diskDevice || st.st_ino != info->diskInode)) {
        // Replaced since the sync: what was written is not in that file.
        DiskCommit::noteFailure(path, ESTALE);
        markUnsynced(info);
    } else {
        DiskCommit::note(DiskCommit::DATA_FILE, fd, path, this);
        info->commitGeneration = DiskCommit::generation();
    }
    if (fd >= 0)
        close(fd);
}

void NetcdfPointData::syncFailed(unsigned long long device, unsigned long long inode)
{
    for (int i = 0; i < _fileInfos.count(); ++i) {
        PointNetcdfFileInfo* info = _fileInfos.value(i);
        if (info && info->diskSize >= 0 && info->diskDevice == device && info->diskInode == inode)
            markUnsynced(info);
    }
}

void NetcdfPointData::markUnsynced(PointNetcdfFileInfo* info)
{
    info->unsynced = true;
    if (_journal)
        _journal->syncFailed(info->fileTime.seconds());
}

bool NetcdfPointData::openFileInfo(PointNetcdfFileInfo* info)
{
    if (info->handle)
        return true;
    if (!info->file) {
        info->file = NetcdfIo::openFile(info->path, _writable);
        if (info->file) {
            ++fileOpenCount;
            rememberDisk(info);
        }
        info->nextRecheckTime = 0;
    }
    if (NetcdfIo::isValid(info->file)) {
        info->handle = new int(NetcdfIo::fileId(info->file));
        _handles.insert(addressOf(info->handle), info);
        return true;
    }
    PD_LOG(PROBLEM) << "Could not open " << info->path << " in openFileInfo" << std::endl;
    deleteNcFile(info->file);
    return false;
}

void NetcdfPointData::giveNcFileToFileInfo(PointNetcdfFileInfo* info, NcFile* file)
{
    if (!NetcdfIo::isValid(file)) {
        PD_LOG(BUG) << "Bad NcFile* passed into giveNcFileToFileInfo()" << std::endl;
        return;
    }
    if (info->handle) {
        if (info->file != file) {
            if (NetcdfIo::isValid(info->file)) {
                deleteNcFile(file);
            } else {
                if (info->file) {
                    deleteNcFile(info->file);
                    PD_LOG(PROBLEM) << "Handle with invalid NcFile object for " << info->path
                                    << " " << fileOpenCount << std::endl;
                } else {
                    PD_LOG(PROBLEM) << "Handle with no NcFile object for " << info->path
                                    << std::endl;
                }
                info->file = file;
                *info->handle = NetcdfIo::fileId(file);
            }
        }
    } else {
        if (info->file && info->file != file)
            deleteNcFile(file);
        else
            info->file = file;
        info->handle = new int(NetcdfIo::fileId(info->file));
    }
    _handles.insert(addressOf(info->handle), info);
}

bool NetcdfPointData::releaseHandle(int* handle)
{
    return releaseOne(handle, "In releaseHandle, NC_SYNC_WORKS_FOR_WRITING = ");
}

bool NetcdfPointData::releaseHandles(const SeqOfPtr<int*>& handles)
{
    // A file is synced (or closed) only when its last client goes, so a run
    // of handles of one file is synced once.
    bool ok = true;
    for (int i = 0; i < handles.length(); ++i) {
        if (!releaseOne(handles[i], "In releaseHandles, NC_SYNC_WORKS_FOR_WRITING = ")) {
            PD_LOG(BUG) << "Error releasing handle" << std::endl;
            ok = false;
        }
    }
    return ok;
}

bool NetcdfPointData::releaseOne(int* handle, const char* message)
{
    PointNetcdfFileInfo* info = nullptr;
    if (!handle || !_handles.find(addressOf(handle), nullptr, &info) || !info ||
        info->handle != handle)
        return false;
    if (info->detached) {
        if (--info->clientCount <= 0) {
            _handles.remove(addressOf(handle));
            delete info->handle;
            delete info;
        }
        return false;
    }
    if (*handle < 0)
        return false;
    if (info->clientCount <= 0) {
        PD_LOG(BUG) << "releasing handle with no clients " << info->path << std::endl;
        info->clientCount = 0;
    } else if (--info->clientCount > 0) {
        return true;
    }
    if (!_writable) {
        registerClientless(info);
        return true;
    }
    PD_LOG(DEBUG) << message << NC_SYNC_WORKS_FOR_WRITING << std::endl;
    const PointFileStructure* s = _templateStructure ? _templateStructure : info->structure;
    const int maxOpen = s ? s->maxOpen : 2;
    if (_fileTimes.length() > maxOpen && info->fileTime <= _fileTimes[maxOpen]) {
        // The close writes what is left too, but its failure is not seen:
        // a sync first tells whether the values reached the disk.
        const bool synced = syncWritten(info);
        closeFile(info);
        return synced;
    }
    return syncWritten(info);
}

bool NetcdfPointData::syncWritten(PointNetcdfFileInfo* info)
{
    if (NC_SYNC_WORKS_FOR_WRITING && !info->handle) {
        PD_LOG(PROBLEM) << "Could not sync " << info->path << ": it is not open" << std::endl;
        return false;
    }
    return mysync(info) >= 0;
}

void NetcdfPointData::closeFile(PointNetcdfFileInfo* info)
{
    if (info->clientCount > 0) {
        // Only a record without clients may lose its handle.
        PD_LOG(BUG) << "closing " << info->path << " with clients" << std::endl;
        return;
    }
    deleteNcFile(info->file);
    if (info->handle) {
        _handles.remove(addressOf(info->handle));
        delete info->handle;
        info->handle = nullptr;
    }
}

int NetcdfPointData::mysync(PointNetcdfFileInfo* info)
{
    int ncid = info->handle ? *info->handle : NetcdfIo::fileId(info->file);
    if (!info->handle && !info->file)
        return -1;
    PD_LOG(DEBUG) << "In mysync, NC_SYNC_WORKS_FOR_WRITING = " << NC_SYNC_WORKS_FOR_WRITING
                  << std::endl;
    bool failed = false;
    if (_writable && NC_SYNC_WORKS_FOR_WRITING) {
        // Written into a file another process removed, replaced or cut
        // short, the data would be lost (or the file broken) unnoticed.
        std::string reason = diskChange(info);
        if (reason.empty()) {
            if (NetcdfIo(ncid).sync()) {
                rememberDisk(info);
                noteWritten(info);
                return ncid;
            }
            reason = NetcdfIo::lastErrorText();
        } else {
            // The next request lists the directory again.
            reason = "it " + reason + " by another process";
            _forceListing = true;
            _nextCheckTime = 0;
        }
        PD_LOG(PROBLEM) << "Could not sync " << info->path << ": " << reason << std::endl;
        // netCDF keeps a file whose write failed unusable (every later call
        // fails): it is opened again as the disk holds it, what did not
        // reach the disk dropped and the bookkeeping read again.
        info->freeStructure();
        info->readLevel = 0;
        failed = true;
    }
    deleteNcFile(info->file);
    info->file = NetcdfIo::openFile(info->path, _writable);
    if (info->file) {
        ++fileOpenCount;
        rememberDisk(info);
        // Closed and opened again instead of synced: the close handed the
        // data to the kernel.
        if (_writable && !failed)
            noteWritten(info);
        ncid = NetcdfIo::fileId(info->file);
        if (info->handle)
            *info->handle = ncid;
        return failed ? -1 : ncid;
    }
    if (!failed)
        PD_LOG(PROBLEM) << "Could not sync " << info->path << ": it does not open again"
                        << std::endl;
    if (info->handle) {
        if (info->clientCount > 0) {
            detachFileInfo(info);
        } else {
            _handles.remove(addressOf(info->handle));
            delete info->handle;
            info->handle = nullptr;
        }
    }
    return -1;
}

void NetcdfPointData::detachFileInfo(PointNetcdfFileInfo* info)
{
    info->freeStructure();
    closeForGood(info);
    *info->handle = -1;
    info->detached = true;
    PointNetcdfFileInfo* listed = nullptr;
    if (_fileInfos.find(info->fileTime, nullptr, &listed) && listed == info)
        _fileInfos.remove(info->fileTime);
    PointFileStructure* s = info->structure;
    info->structure = nullptr;
    releaseStructure(s);
}

void NetcdfPointData::registerClientless(PointNetcdfFileInfo* info)
{
    if (info->clientCount > 0 || (!info->file && info->readLevel < 2) || info->newer ||
        info == newestClientlessObject)
        return;
    ++clientlessCount;
    if (info->handle)
        ++nClientlessHandles;
    if (!newestClientlessObject) {
        newestClientlessObject = oldestClientlessObject = info;
    } else if (!info->handle && clientlessCursor) {
        // Records without a file go on the older side of those with one.
        info->newer = clientlessCursor;
        info->older = clientlessCursor->older;
        if (info->older)
            info->older->newer = info;
        else
            oldestClientlessObject = info;
        clientlessCursor->older = info;
    } else {
        info->older = newestClientlessObject;
        newestClientlessObject->newer = info;
        newestClientlessObject = info;
    }
    if (info->handle && !clientlessCursor)
        clientlessCursor = info;

    if (clientlessCount < MAX_CLIENTLESS && nClientlessHandles < MAX_CLIENTLESS_OPEN)
        return;
    if (nClientlessHandles < MAX_CLIENTLESS_OPEN && clientlessCursor != oldestClientlessObject) {
        stripClientless(oldestClientlessObject);
        return;
    }
    PointNetcdfFileInfo* victim = clientlessCursor;
    if (!victim) {
        stripClientless(oldestClientlessObject);
        return;
    }
    PointNetcdfFileInfo* next = victim->newer;
    while (next && !next->handle)
        next = next->newer;
    clientlessCursor = next;
    victim->store->closeFile(victim);
    --nClientlessHandles;
    if (victim->readLevel <= 1)
        stripClientless(victim);
    else if (clientlessCount >= MAX_CLIENTLESS)
        stripClientless(oldestClientlessObject);
}

void NetcdfPointData::listRemove(PointNetcdfFileInfo* info)
{
    if (!info->newer && info != newestClientlessObject)
        return;
    if (info == newestClientlessObject)
        newestClientlessObject = info->older;
    else
        info->newer->older = info->older;
    if (info->older)
        info->older->newer = info->newer;
    else
        oldestClientlessObject = info->newer;
    --clientlessCount;
    if (clientlessCount <= 0 || !newestClientlessObject) {
        clientlessCount = 0;
        clientlessCursor = nullptr;
        nClientlessHandles = 0;
        newestClientlessObject = oldestClientlessObject = nullptr;
    } else if (info->handle) {
        if (--nClientlessHandles <= 0) {
            nClientlessHandles = 0;
            clientlessCursor = nullptr;
        } else if (clientlessCursor == info) {
            PointNetcdfFileInfo* next = info->newer;
            while (next && !next->handle)
                next = next->newer;
            clientlessCursor = next;
        }
    }
    info->newer = nullptr;
    info->older = nullptr;
}

void NetcdfPointData::stripClientless(PointNetcdfFileInfo* info)
{
    if (!info)
        return;
    listRemove(info);
    if (info->file || info->handle)
        info->store->closeFile(info);
    info->freeStructure();
    if ((oldestClientlessObject && oldestClientlessObject->older) ||
        (newestClientlessObject && newestClientlessObject->newer))
        PD_LOG(BUG) << "The list of clientless files is broken" << std::endl;
}

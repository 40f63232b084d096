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

#include "LogStream.h"
#include "NetcdfIo.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

namespace {

const int MAX_CLIENTLESS = 36;
const int MAX_CLIENTLESS_OPEN = 9;

unsigned long addressOf(const int* handle) { return reinterpret_cast<unsigned long>(handle); }

} // namespace

bool NetcdfPointData::openFileInfo(PointNetcdfFileInfo* info)
{
    if (info->handle)
        return true;
    if (!info->file) {
        info->file = NetcdfIo::openFile(info->path, _writable);
        if (info->file)
            ++fileOpenCount;
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
        closeFile(info);
        return true;
    }
    return syncWritten(info);
}

bool NetcdfPointData::syncWritten(PointNetcdfFileInfo* info)
{
    bool synced = NC_SYNC_WORKS_FOR_WRITING ? info->handle && NetcdfIo(*info->handle).sync()
                                            : mysync(info) >= 0;
    if (!synced)
        PD_LOG(PROBLEM) << "Could not sync " << info->path << std::endl;
    return synced;
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
    if (_writable && NC_SYNC_WORKS_FOR_WRITING)
        return NetcdfIo(ncid).sync() ? ncid : -1;
    deleteNcFile(info->file);
    info->file = NetcdfIo::openFile(info->path, _writable);
    if (info->file) {
        ++fileOpenCount;
        ncid = NetcdfIo::fileId(info->file);
        if (info->handle)
            *info->handle = ncid;
        return ncid;
    }
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

// File records: their life, the opening and closing of their netCDF files,
// the look-ups of a station among the static ids and the overflow records,
// and the taking of a record off the clientless list.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "LogText.h"
#include "environmentNotes.h"
#include "NetcdfIo.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "dmFileTimes.h"

#include <cstring>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

PointNetcdfFileInfo* NetcdfPointData::newFileInfo(AbsTime fileTime)
{
    PointNetcdfFileInfo* info = new PointNetcdfFileInfo();
    info->store = this;
    info->path = dmMakeTimeFileName(_directory, fileTime, "", "");
    info->fileTime = fileTime;
    info->lookupStart = info->lookupEnd = fileTime.seconds();
    info->coverageStart = info->coverageEnd = fileTime.seconds();
    return info;
}

void NetcdfPointData::releaseStructure(PointFileStructure* s)
{
    if (!s || --s->useCount > 0)
        return;
    PointFileStructure* listed = nullptr;
    if (_structures.find(s->cdlDate, nullptr, &listed) && listed == s)
        _structures.remove(s->cdlDate);
    if (_templateStructure == s)
        _templateStructure = nullptr;
    delete s;
}

void NetcdfPointData::closeForGood(PointNetcdfFileInfo* info)
{
    listRemove(info);
    if (_lastWrittenFileInfo == info)
        _lastWrittenFileInfo = nullptr;
    if (_currentFileInfo == info)
        _currentFileInfo = nullptr;
    deleteNcFile(info->file);
}

void NetcdfPointData::deleteFileInfo(PointNetcdfFileInfo* info)
{
    if (!info)
        return;
    if (info->clientCount > 0 && info->handle) {
        detachFileInfo(info);
        return;
    }
    closeForGood(info);
    if (info->handle) {
        _handles.remove(reinterpret_cast<unsigned long>(info->handle));
        delete info->handle;
        info->handle = nullptr;
    }
    PointFileStructure* structure = info->structure;
    AbsTime fileTime = info->fileTime;
    delete info;
    _fileInfos.remove(fileTime);
    if (structure)
        releaseStructure(structure);
    else
        PD_LOG(PROBLEM) << "This file info structure does not have file"
                        << " structure data." << std::endl;
}

NcFile* NetcdfPointData::openNetCdfFile(const TextString& path, bool write, bool logFailure)
{
    NcFile* file = NetcdfIo::openFile(path, write);
    if (file) {
        ++fileOpenCount;
        return file;
    }
    if (logFailure)
        PD_LOG(PROBLEM) << "Could not open " << LogText(path) << " in openNetCdfFile"
                        << unsetNote("QEV_DATA") << std::endl;
    return nullptr;
}

void NetcdfPointData::deleteNcFile(NcFile*& file)
{
    if (!file)
        return;
    NetcdfIo::deleteFile(file);
    --fileOpenCount;
    file = nullptr;
}

NcFile* NetcdfPointData::getFileInfoNcFile(PointNetcdfFileInfo* info)
{
    if (info->file)
        return info->file;
    NcFile* file = NetcdfIo::openFile(info->path, _writable);
    if (!file) {
        PD_LOG(PROBLEM) << "Could not open " << info->path << " in getFileInfoNcFile"
                        << unsetNote("QEV_DATA") << std::endl;
        return nullptr;
    }
    ++fileOpenCount;
    info->nextRecheckTime = 0;
    info->file = file;
    return file;
}

void NetcdfPointData::closeCachedFile(PointNetcdfFileInfo* info)
{
    if (info && !info->handle && info->file)
        deleteNcFile(info->file);
}

int NetcdfPointData::findStaticIdIndex(const TextString& id, PointNetcdfFileInfo* info) const
{
    const PointFileStructure* s = info->structure;
    const int n = info->nStaticIds;
    if (!info->staticIds || !s || n <= 0 || s->totalIdLen <= 0)
        return -1;
    const size_t length = static_cast<size_t>(s->totalIdLen);
    const char* rows = info->staticIds.get();
    auto row = [&](int i) { return rows + static_cast<size_t>(i) * length; };
    const char* key = id.c_str();
    int c = strncmp(key, row(0), length);
    if (c < 0)
        return -1;
    if (c == 0)
        return 0;
    c = strncmp(key, row(n - 1), length);
    if (c > 0)
        return -1;
    if (c == 0)
        return n - 1;
    int lo = 0;
    int hi = n - 1;
    while (hi - lo >= 2) {
        int mid = (lo + hi) / 2;
        c = strncmp(key, row(mid), length);
        if (c == 0)
            return mid;
        if (c < 0)
            hi = mid;
        else
            lo = mid;
    }
    return -1;
}

int NetcdfPointData::findNewestOverflowRecord(const TextString& id,
                                              PointNetcdfFileInfo* info) const
{
    const PointFileStructure* s = info->structure;
    if (!s || !info->recordIds || info->firstOverflow < s->maxStaticIds ||
        (s->maxStaticIds > 0 && !info->isOverflow) || s->totalIdLen <= 0)
        return -1;
    if (!info->newestByIdValid) {
        const size_t length = static_cast<size_t>(s->totalIdLen);
        const int last = info->recordCount < info->recordCapacity ? info->recordCount
                                                                   : info->recordCapacity;
        for (int r = info->firstOverflow < 0 ? 0 : info->firstOverflow; r < last; ++r) {
            if (info->isOverflow && info->isOverflow[r] == 0)
                continue;
            const char* row = info->recordIds.get() + static_cast<size_t>(r) * length;
            info->newestById[std::string(row, strnlen(row, length))] = r;
        }
        info->newestByIdValid = true;
    }
    auto found = info->newestById.find(std::string(id.c_str(), static_cast<size_t>(id.length())));
    return found == info->newestById.end() ? -1 : found->second;
}

int NetcdfPointData::findOverflowRecord(const TextString& id, int t1, int t2, int /*unused*/,
                                        PointNetcdfFileInfo* info) const
{
    const PointFileStructure* s = info->structure;
    const bool timed = t1 != INT32_MIN || t2 != INT32_MAX;
    if (!s || !info->recordIds || (timed && !info->recordTimes) ||
        info->firstOverflow < s->maxStaticIds || (s->maxStaticIds > 0 && !info->isOverflow) ||
        s->totalIdLen <= 0)
        return -1;
    const size_t length = static_cast<size_t>(s->totalIdLen);
    const int last = info->recordCount < info->recordCapacity ? info->recordCount
                                                               : info->recordCapacity;
    const int first = info->firstOverflow < 0 ? 0 : info->firstOverflow;
    for (int r = last - 1; r >= first; --r) {
        if (info->isOverflow && info->isOverflow[r] == 0)
            continue;
        if (strncmp(id.c_str(), info->recordIds.get() + static_cast<size_t>(r) * length,
                    length) != 0)
            continue;
        if (timed && (info->recordTimes[r] < t1 || info->recordTimes[r] > t2))
            continue;
        return r;
    }
    return -1;
}

void NetcdfPointData::unlinkOpenFile(PointNetcdfFileInfo* info)
{
    if (!info || ((info->file || info->readLevel > 1) && info->clientCount == 0))
        return;
    listRemove(info);
}

// Reading: the refresh every read starts with, the handle checks, and the
// small queries about handles, forecast slots and variables.
#include "NetcdfPointData.h"

#include "NetcdfIo.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "StoreClock.h"

#include <vector>

namespace {

unsigned long addressOf(const int* handle) { return reinterpret_cast<unsigned long>(handle); }

} // namespace

bool NetcdfPointData::refreshIfDue(bool force)
{
    if (!force && StoreClock::now() < _nextCheckTime)
        return false;
    return updateFileInfo();
}

PointNetcdfFileInfo* NetcdfPointData::handleFileInfo(const int* handle) const
{
    PointNetcdfFileInfo* info = nullptr;
    if (!handle || !_handles.find(addressOf(handle), nullptr, &info) || !info ||
        info->handle != handle)
        return nullptr;
    // A record taken out of the view under its clients keeps only its
    // handle: nothing of the file is left to answer from.
    if (info->detached || !info->structure || *handle < 0)
        return nullptr;
    return info;
}

PointNetcdfFileInfo* NetcdfPointData::fileInfoAt(int index) const
{
    PointNetcdfFileInfo* info = nullptr;
    if (index < 0 || index >= _fileTimes.length() ||
        !_fileInfos.find(_fileTimes[index], nullptr, &info))
        return nullptr;
    return info;
}

void NetcdfPointData::addClient(PointNetcdfFileInfo* info)
{
    if (++info->clientCount == 1)
        unlinkOpenFile(info);
}

int NetcdfPointData::newestRecordOf(const TextString& id, PointNetcdfFileInfo* info) const
{
    const PointFileStructure* s = info->structure;
    int record = -1;
    if (s->maxStaticIds > 0) {
        int k = findStaticIdIndex(id, info);
        if (k >= 0) {
            if (info->lastRecord)
                record = info->lastRecord[k];
            return record < 0 ? -1 : record;
        }
    }
    if (info->firstOverflow >= s->maxStaticIds)
        record = findNewestOverflowRecord(id, info);
    return record < 0 ? -1 : record;
}

bool NetcdfPointData::isValidHandle(int* handle) const
{
    return handleFileInfo(handle) != nullptr;
}

TextString NetcdfPointData::getFileTimeStamp(int* handle) const
{
    PointNetcdfFileInfo* info = handleFileInfo(handle);
    return info ? info->path.right(13) : TextString();
}

NcFile* NetcdfPointData::getNcFile(int* handle) const
{
    PointNetcdfFileInfo* info = handleFileInfo(handle);
    return info ? info->file : nullptr;
}

int NetcdfPointData::getForecastIndex(int* handle, AbsTime t, bool& hasForecasts,
                                      AbsTime& fileTime) const
{
    hasForecasts = false;
    PointNetcdfFileInfo* info = handleFileInfo(handle);
    if (!info)
        return 0;
    fileTime = info->fileTime;
    const SeqOf<int>& list = info->structure->forecastList;
    const int n = list.length();
    if (n == 0)
        return 0;
    hasForecasts = true;
    const long d = static_cast<long>(t.seconds()) - fileTime.seconds();
    if (d < list[0] || d > list[n - 1])
        return -1;
    for (int i = n - 1; i >= 1; --i) {
        if (list[i] <= d)
            return i;
    }
    return 0;
}

SeqOf<TextString> NetcdfPointData::variableNames(const SeqOf<int>* ids)
{
    SeqOf<TextString> names;
    if (!ids)
        return names;
    NcFile* file = openNetCdfFile(_directory + "/template", false, false);
    if (!file)
        return names;
    NetcdfIo io(NetcdfIo::fileId(file));
    for (int i = 0; i < ids->length(); ++i) {
        NetcdfIo::VarInfo v;
        if (io.varInfo((*ids)[i], v))
            names.append(v.name);
    }
    deleteNcFile(file);
    return names;
}

SeqOf<TextString> NetcdfPointData::getTimeVariableNames()
{
    return variableNames(_templateStructure ? &_templateStructure->timeVariables : nullptr);
}

SeqOf<TextString> NetcdfPointData::getIdVariableNames()
{
    return variableNames(_templateStructure ? &_templateStructure->idVariables : nullptr);
}

bool NetcdfPointData::getVariableInfo(const TextString& name, const SeqOfPtr<int*>& handles,
                                      SeqOf<int>& varIds, int& type, SeqOf<int>& dims) const
{
    varIds = SeqOf<int>();
    dims = SeqOf<int>();
    const int n = handles.length();
    if (n == 0)
        return false;
    // The entry of each handle's file; a file of the same layout as the
    // previous handle's shares its entry.
    std::vector<bool> has(static_cast<size_t>(n), false);
    std::vector<SeqOf<int>> entries(static_cast<size_t>(n));
    const PointFileStructure* previous = nullptr;
    for (int i = 0; i < n; ++i) {
        PointNetcdfFileInfo* info = handleFileInfo(handles[i]);
        const PointFileStructure* s = info ? info->structure : nullptr;
        if (s && i > 0 && s == previous) {
            has[i] = has[i - 1];
            entries[i] = entries[i - 1];
        } else if (s) {
            has[i] = s->variables.find(name, nullptr, &entries[i]);
        }
        previous = s;
    }
    if (!has[0])
        return false;
    bool same = true;
    for (int i = 1; i < n && same; ++i)
        same = has[i] && entries[i] == entries[0];
    if (same) {
        const SeqOf<int>& e = entries[0];
        varIds.append(e[0]);
        type = e[e.length() - 1];
        for (int k = 1; k < e.length() - 1; ++k)
            dims.append(e[k]);
        return true;
    }
    // An entry whose sizes and type differ from those of the nearest earlier
    // file that still has the variable counts as missing.
    int lastKept = 0;
    for (int i = 1; i < n; ++i) {
        if (!has[i])
            continue;
        const SeqOf<int>& a = entries[i];
        const SeqOf<int>& b = entries[lastKept];
        bool shape = a.length() == b.length();
        for (int k = 1; shape && k < a.length(); ++k)
            shape = a[k] == b[k];
        if (shape)
            lastKept = i;
        else
            has[i] = false;
    }
    const SeqOf<int>& e = entries[lastKept];
    type = e[e.length() - 1];
    for (int k = 1; k < e.length() - 1; ++k)
        dims.append(e[k]);
    bool oneId = true;
    for (int i = 0; i < n; ++i) {
        varIds.append(has[i] ? entries[i][0] : -1);
        oneId = oneId && varIds[i] == varIds[0];
    }
    if (oneId)
        varIds = SeqOf<int>(varIds[0]);
    return true;
}

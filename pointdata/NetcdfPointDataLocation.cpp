// Reading: file access errors, and the nearest record and the position of an
// id in the selected file.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "StoreClock.h"

#include <cmath>
#include <cstring>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

void NetcdfPointData::noteFileAccessError(PointNetcdfFileInfo* file)
{
    if (!file)
        return;
    if (file->lookupEnd != _newestLookupEnd) {
        _badFileTimes.insert(file->fileTime);
        _accessErrorCountdown = 3;
        PD_LOG(PROBLEM) << "File access error noted for " << file->path << std::endl;
    } else {
        PD_LOG(PROBLEM) << "File access error noted for newest file, " << file->path
                        << ", pausing." << std::endl;
        StoreClock::pause(1);
    }
    // The next read lists the directory, whatever its time says.
    _nextCheckTime = 0;
    _forceListing = true;
}

PointNetcdfFileInfo* NetcdfPointData::selectedFileInfo()
{
    refreshIfDue();
    const int n = _fileTimes.length();
    if (n == 0)
        return nullptr;
    PointNetcdfFileInfo* info = _currentFileInfo;
    if (_selectedFile >= n) {
        _selectedFile = 0;
        return nullptr;
    }
    if (_selectedFile >= 0)
        info = fileInfoAt(_selectedFile);
    if (!info)
        return nullptr;
    _currentFileInfo = info;
    const PointFileStructure* s = info->structure;
    if (!s || s->latitude < 0 || s->longitude < 0 || s->totalIdLen <= 0)
        return nullptr;
    if (!readFileStructure(-1, info, 5)) {
        closeCachedFile(info);
        return nullptr;
    }
    if (!info->latitudes || !info->longitudes || !info->recordIds)
        return nullptr;
    return info;
}

TextString NetcdfPointData::nearestPoint(LatLonCoord& where, float radiusKm, float* distanceKm)
{
    if (distanceKm)
        *distanceKm = 1e37f;
    PointNetcdfFileInfo* info = selectedFileInfo();
    if (!info)
        return TextString();
    const float r = radiusKm / 111.1f;
    float best = r * r;
    float bound = r;
    const float c = static_cast<float>(cos(where.lat * 0.017453292519943295));
    int found = -1;
    for (int i = 0; i < info->recordCount; ++i) {
        const float dLat = where.lat - info->latitudes[i];
        const float dLon = (where.lon - info->longitudes[i]) * c;
        if (dLat < -bound || dLat > bound || dLon < -bound)
            continue;
        const float d2 = dLon * dLon + dLat * dLat;
        // A position that is not a number is never the nearest.
        if (!(d2 <= best))
            continue;
        best = d2;
        bound = std::sqrt(d2);
        found = i;
    }
    const size_t length = static_cast<size_t>(info->structure->totalIdLen);
    const char* row = found >= 0 ? info->recordIds.get() + found * length : nullptr;
    if (!row || row[0] == '\0')
        return TextString();
    if (distanceKm)
        *distanceKm = bound * 111.1f;
    where = LatLonCoord(info->latitudes[found], info->longitudes[found]);
    return TextString(row, static_cast<int>(strnlen(row, length)));
}

LatLonCoord NetcdfPointData::getIdLocation(TextString& id, bool tryCase)
{
    const LatLonCoord none(1e12f, 1e12f);
    PointNetcdfFileInfo* info = selectedFileInfo();
    if (!info)
        return none;
    int r = newestRecordOf(id, info);
    if (r < 0 && tryCase) {
        TextString lower = id, upper = id;
        lower.toLower();
        upper.toUpper();
        for (const TextString& form : {lower, upper}) {
            if (form == id || (r = newestRecordOf(form, info)) < 0)
                continue;
            id = form;
            break;
        }
    }
    if (r < 0)
        return none;
    return LatLonCoord(info->latitudes[r], info->longitudes[r]);
}

#include "StationPlotInfo.h"

#include "LogText.h"
#include "SeqOf.h"
#include "TextBuffer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// The process's tables by file name; they live until the process ends.
struct PlotInfoCache {
    Dict<TextString, void*> tables;
    ~PlotInfoCache()
    {
        for (int i = 0; i < tables.count(); ++i)
            delete static_cast<PlotInfoTable*>(tables.value(i));
    }
};

PlotInfoCache& cache()
{
    static PlotInfoCache theCache;
    return theCache;
}

} // namespace

PlotInfoTable::PlotInfoTable() : stations(nullptr), count(0), maxShortNameLength(0), flags(0) {}

PlotInfoTable::PlotInfoTable(int capacity)
    : stations(new PlotInfoStation[capacity > 0 ? capacity : 1]()),
      count(0),
      maxShortNameLength(0),
      flags(0)
{
}

PlotInfoTable::~PlotInfoTable()
{
    delete[] stations;
}

const PlotInfoTable* readStaticPlotInfoPV(const TextString& fileName)
{
    static const PlotInfoTable emptyTable;
    void* cached = nullptr;
    if (cache().tables.find(fileName, nullptr, &cached))
        return static_cast<const PlotInfoTable*>(cached);

    TextBuffer buffer(fileName);
    const SeqOf<TextString>& lines = buffer.lines;
    if (lines.length() == 0) {
        std::fprintf(stderr, "could not open %s\n", LogText(fileName).escaped().c_str());
        std::fprintf(stderr, "for reading in ::readStaticPlotInfoPV\n");
        return &emptyTable;
    }

    PlotInfoTable* table = new PlotInfoTable(lines.length());
    for (int i = 0; i < lines.length(); ++i) {
        PlotInfoStation& s = table->stations[table->count];
        std::memset(&s, 0, sizeof s);
        s.field6 = 40000.0f;
        int fields = std::sscanf(lines[i].c_str(), "%d %11s %f %f %d %f %23s", &s.id, s.shortName,
                                 &s.latitude, &s.longitude, &s.field5, &s.field6, s.longName);
        if (fields < 4)
            continue;
        if (fields < 7)
            std::strcpy(s.longName, s.shortName);
        if (fields >= 6)
            table->names.insert(TextString(s.longName), &s);
        int length = static_cast<int>(std::strlen(s.shortName));
        if (length > table->maxShortNameLength)
            table->maxShortNameLength = length;
        ++table->count;
    }
    cache().tables.insert(fileName, table);
    return table;
}

const PlotInfoStation* findStationInRadius(const PlotInfoTable& table, const float latLon[2],
                                           float radiusKm, float minimum)
{
    float d = radiusKm / 111.1f;
    float best = d * d;
    float box = d;
    float k = static_cast<float>(std::cos(latLon[0] * 0.017453292519943295));
    const PlotInfoStation* answer = nullptr;
    for (int i = 0; i < table.count; ++i) {
        const PlotInfoStation& s = table.stations[i];
        if (s.field6 < minimum)
            continue;
        float dLat = latLon[0] - s.latitude;
        if (std::fabs(dLat) > box)
            continue;
        float dLon = (latLon[1] - s.longitude) * k;
        if (std::fabs(dLon) > box)
            continue;
        float sum = dLat * dLat + dLon * dLon;
        if (sum <= best) {
            answer = &s;
            best = sum;
            box = std::sqrt(sum);
        }
    }
    return answer;
}

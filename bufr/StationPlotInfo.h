// Station plot information: station lists with positions (plot-info files),
// read once per file name and kept for the life of the process, and the
// search for the nearest station within a radius.
//
// A plot-info line is scanned with "%d %11s %f %f %d %f %23s": id, short
// name, latitude, longitude, field5, field6, long name.  A line of four to
// six fields takes the short name as its long name; field6 is 40000.0 when
// the line does not give it.  A line that does not give the first four
// fields is left out.
#ifndef STATIONPLOTINFO_H
#define STATIONPLOTINFO_H

#include "Dict.h"
#include "TextString.h"

// A fixed record of 56 octets, filled in place by the formatted scan.
struct PlotInfoStation {
    int id;
    float latitude;      // degrees
    float longitude;     // degrees
    float field6;
    int field5;
    char shortName[12];  // NUL-terminated, at most 11 characters
    char longName[24];   // NUL-terminated, at most 23 characters
};
static_assert(sizeof(PlotInfoStation) == 56, "PlotInfoStation is a 56-octet record");

struct PlotInfoTable {
    PlotInfoTable();
    explicit PlotInfoTable(int capacity);
    ~PlotInfoTable();
    PlotInfoTable(const PlotInfoTable&) = delete;
    PlotInfoTable& operator=(const PlotInfoTable&) = delete;

    PlotInfoStation* stations;       // owned, `count` records in file order
    int count;
    int maxShortNameLength;
    // Long name -> record (const PlotInfoStation*), for lines of six or more
    // fields.
    Dict<TextString, void*> names;
    int flags;
};

// The table of a plot-info file, read on the first call for that name and
// cached by name.  A file that yields no lines gives a process-wide empty
// table (not cached, so a later call tries again).  Never null.
const PlotInfoTable* readStaticPlotInfoPV(const TextString& fileName);

// The nearest station to latLon (latitude, longitude in degrees) within
// radiusKm (111.1 km a degree; longitude differences scaled by the cosine of
// the point's latitude) whose field6 is not below minimum.  On equal
// distance the later record wins.  Null when none qualifies.
const PlotInfoStation* findStationInRadius(const PlotInfoTable& table, const float latLon[2],
                                           float radiusKm, float minimum);

#endif

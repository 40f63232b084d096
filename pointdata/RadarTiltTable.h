// RadarTiltTable: the grouping of radar elevation angles into tilts.  One
// entry per tenth of a degree from -0.9 to 90.0 (indexes -9 to 900); entry i
// starts as i * 0.1 and the groups of "tiltAngleGroups.txt" overwrite ranges
// of entries with their group's angle.  An elevation is looked up at its
// tenths rounded half away from zero, for the keys of the dictionary and
// for the elevations asked for alike.
#ifndef RADARTILTTABLE_H
#define RADARTILTTABLE_H

#include "SeqOf.h"
#include "TextString.h"

class RadarTiltTable {
public:
    enum { FIRST_INDEX = -9, LAST_INDEX = 900, ENTRY_COUNT = LAST_INDEX - FIRST_INDEX + 1 };

    RadarTiltTable();

    // A new table of the group lines "angle lowest highest" (degrees), or
    // null when there are 10 lines or fewer (no grouping).  Lines that do
    // not read as three numbers, or whose group lies outside -0.9 to 90.0 or
    // does not hold its angle, are skipped.
    static RadarTiltTable* fromLines(const SeqOf<TextString>& lines);

    // Writes the group's angle over its entries: from lowest * 10 rounded
    // half away from zero while below highest * 10 + 0.5.  A group that
    // starts at 0 or below writes 0.0, unless it ends below 0.
    void addGroup(float angle, float lowest, float highest);

    // Whether the elevation lies within -0.9 to 90.0.
    static bool covers(float elevation);
    // The entry of an elevation that covers() accepts.
    float groupAngle(float elevation) const;
    // The entry at an index within FIRST_INDEX .. LAST_INDEX.
    float entry(int index) const { return _angles[index - FIRST_INDEX]; }

private:
    // The tenths of a degree rounded half away from zero.
    static int indexOf(float degrees);

    float _angles[ENTRY_COUNT];
};

#endif

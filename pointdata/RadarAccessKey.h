// RadarAccessKey: the table of radar access keys and its building blocks.
//
// A radar key of the data-access dictionary has bit 30 set, the radar id in
// bits 16 to 29 and the product variant in bits 0 to 15.  The table maps
// RadarKeyFields to a key: the main site's own keys as they are (with the
// main radar id in the fields), and the keys of template radars in their
// radar-independent form (bit 30 and bits 0 to 15, with radar 0 in the
// fields), into which the id of any other radar is put at the look-up.
//
// The table and the list of TDWR radars are process-wide, built once and
// kept to the end of the process.  Messages are logged under the source
// name "RadarAccessKey".  Main thread only.
#ifndef RADARACCESSKEY_H
#define RADARACCESSKEY_H

#include "DataAccessKey.h"
#include "Dict.h"
#include "RadarKeyFields.h"
#include "SeqOf.h"
#include "TextString.h"

class DM_DataAccessInfo;
class RadarTiltTable;

class RadarAccessKey {
public:
    enum : unsigned long {
        RADAR_KEY_BIT = 0x40000000ul,
        INDEPENDENT_MASK = 0x4000fffful,
        RADAR_ID_MASK = 0x3ffful
    };

    explicit RadarAccessKey(int mainRadar) : _mainRadar(mainRadar) {}

    // Whether a key is a radar key, and the radar id it carries.
    static bool isRadarKey(DataAccessKey key) { return (key & RADAR_KEY_BIT) != 0; }
    static int radarOf(DataAccessKey key) { return static_cast<int>((key >> 16) & RADAR_ID_MASK); }
    // The key of the fields with radarBits put into bits 16 to 29, when the
    // dictionary knows it; 0 otherwise, and for radar bits that do not fit
    // 14 bits (logged).
    DataAccessKey lookup(int product, float elevation, int param5, float param4, int radar,
                         int radarBits) const;

    // The in-use code of line i of "radarsInUse.txt" ("name unused code"),
    // with its radar's id (dmRadarId) and name; -1 for a line whose last
    // visible character is "z" and for one that does not read whole.
    static int parseRadarInUse(const SeqOf<TextString>& lines, int i, int& radarId,
                               TextString& name);
    // Whether the radar is listed in "tdwrRadars.txt" (read at the first
    // call; a missing file makes every radar an 88D).
    static bool isTdwr(const TextString& name);

    // Enters the keys of template radar templateRadar (-1: the first radar
    // met) in their radar-independent form, walking the dictionary in file
    // order up to the main radar's keys.  Keys whose elevation is not their
    // tilt group's angle are left out.  typeCount goes up by one when the
    // template's keys are followed by another radar's; radarOfKey is the
    // radar of the last radar key looked at.
    void generateKeys(int& radarOfKey, int& templateRadar, const RadarTiltTable* tilts,
                      int& typeCount);
    // Enters the main radar's own keys, walking the dictionary from its last
    // key back to the first until the main radar's run of keys ends;
    // mainSeen is 1 once a key of the main radar was met.
    void addMainSiteKeys(int& radarOfKey, int& mainSeen);

    // The number of entries of the table.
    static int entryCount() { return _dict.count(); }

private:
    void enter(const DM_DataAccessInfo& info, int radar, DataAccessKey value);

    int _mainRadar;
    static Dict<RadarKeyFields, unsigned long> _dict;
};

#endif

#include "dmRadarKeys.h"

#include "DM_RadarInfo.h"
#include "Dict.h"
#include "LogStream.h"
#include "LogText.h"
#include "RadarAccessKey.h"
#include "RadarTiltTable.h"
#include "StopWatch.h"
#include "TextBuffer.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const char* const MAIN_RADAR_NAME = "knat";

std::unique_ptr<RadarTiltTable>& tiltTable()
{
    static std::unique_ptr<RadarTiltTable> table;
    return table;
}

bool keysGenerated = false;

// A line of "radarsInUse.txt" that names a radar other than the main one.
struct InUseRadar {
    int code;
    int id;
    TextString name;
    bool tdwr() const { return RadarAccessKey::isTdwr(name); }
};

void logRadar(bool tdwr, const TextString& name)
{
    QEV_LOG(LogStream::DEBUG, "dmDataAccessFns") << "Radar type = " << (tdwr ? 1 : 0)
                                                 << std::endl;
    QEV_LOG(LogStream::DEBUG, "dmDataAccessFns") << "Radar name = " << LogText(name) << std::endl;
}

// Generates the keys of the radars in order, one template per radar type:
// the radar handled first records its type, later ones of that type are
// skipped while one type is counted; stops when two types are counted.
// inUseOnly leaves out the radars of in-use code 0 or 3.  Returns the count.
int generateByType(RadarAccessKey& access, const std::vector<InUseRadar>& radars,
                   bool inUseOnly, bool& recordedTdwr)
{
    const RadarTiltTable* tilts = tiltTable().get();
    int typeCount = 0;
    for (const InUseRadar& r : radars) {
        if (inUseOnly && (r.code == 0 || r.code == 3))
            continue;
        bool tdwr = r.tdwr();
        if (typeCount == 1 && tdwr == recordedTdwr)
            continue;
        if (typeCount == 0)
            recordedTdwr = tdwr;
        logRadar(tdwr, r.name);
        keysGenerated = true;
        int templateRadar = r.id;
        int radarOfKey = 0;
        access.generateKeys(radarOfKey, templateRadar, tilts, typeCount);
        if (typeCount >= 2)
            break;
    }
    return typeCount;
}

void buildTables(RadarAccessKey& access, int mainRadar)
{
    StopWatch watch;
    watch.start();
    TextBuffer groups("tiltAngleGroups.txt");
    tiltTable().reset(RadarTiltTable::fromLines(groups.lines));

    TextBuffer inUse("radarsInUse.txt");
    std::vector<InUseRadar> radars;
    for (int i = 0; i < inUse.lines.length(); ++i) {
        InUseRadar r;
        r.id = -1;
        r.code = RadarAccessKey::parseRadarInUse(inUse.lines, i, r.id, r.name);
        if (r.code != -1 && r.id != mainRadar)
            radars.push_back(r);
    }

    bool recordedTdwr = false;
    int typeCount = generateByType(access, radars, true, recordedTdwr);
    if (typeCount == 0) {
        QEV_LOG(LogStream::EVENT, "dmDataAccessFns")
            << "No dedicated 88D and TDWR radars found, so generating keys from the first "
               "dedicated 88D and TDWR radars"
            << std::endl;
        bool secondTdwr = false;
        generateByType(access, radars, false, secondTdwr);
    } else if (typeCount == 1) {
        QEV_LOG(LogStream::EVENT, "dmDataAccessFns")
            << "Found either a dedicated 88D or TDWR radar, so generating keys for the other "
               "radar type"
            << std::endl;
        const RadarTiltTable* tilts = tiltTable().get();
        int otherCount = 0;
        for (const InUseRadar& r : radars) {
            bool tdwr = r.tdwr();
            if (tdwr == recordedTdwr)
                continue;
            logRadar(tdwr, r.name);
            int templateRadar = r.id;
            int radarOfKey = 0;
            access.generateKeys(radarOfKey, templateRadar, tilts, otherCount);
            if (otherCount > 0)
                break;
        }
    }
    int radarOfKey = 0;
    int mainSeen = 0;
    access.addMainSiteKeys(radarOfKey, mainSeen);

    double seconds = watch.elapsedWallTime();
    if (seconds > 1.0)
        QEV_LOG(LogStream::DEBUG, "dmDataAccessFns") << "DM_GetRadarAccessKeyHashKey initialization "
                                                        "took approximately "
                                                     << seconds << " seconds." << std::endl;
}

} // namespace

DataAccessKey dmRadarAccessKeys(const TextString& text, int product, float elevation, int param5,
                                float param4, const TextString& radarName)
{
    int mainRadar = dmRadarId(MAIN_RADAR_NAME);
    RadarAccessKey access(mainRadar);
    if (!keysGenerated)
        buildTables(access, mainRadar);

    int code = dmProductCode(text, product);
    int r = dmRadarId(radarName);
    int radar = 0;
    int radarBits = r;
    if (r == mainRadar) {
        radar = r;
        radarBits = 0;
    }
    const RadarTiltTable* tilts = tiltTable().get();
    if (tilts && RadarTiltTable::covers(elevation))
        elevation = tilts->groupAngle(elevation);
    return access.lookup(code, elevation, param5, param4, radar, radarBits);
}

int dmRadarId(const TextString& name)
{
    static Dict<TextString, int> ids;
    static bool read = false;
    if (!read) {
        read = true;
        TextBuffer master("radarInfoMaster.txt");
        for (int i = 0; i < master.lines.length(); ++i) {
            char word[64];
            float unused1, unused2;
            int id;
            if (sscanf(master.lines[i].c_str(), "%63s %f %f %d", word, &unused1, &unused2,
                       &id) != 4)
                continue;
            TextString listed = word;
            ids.insert(listed, id);
            TextString upper = listed;
            for (int c = 0; c < upper.length(); ++c) {
                if (upper[c] >= 'a' && upper[c] <= 'z')
                    upper[c] = static_cast<char>(upper[c] - 'a' + 'A');
            }
            ids.insert(upper, id);
        }
    }
    int id = -1;
    return ids.find(name, nullptr, &id) ? id : -1;
}

int dmProductCode(const TextString&, int product)
{
    static Dict<int, int> codes;
    static bool filled = false;
    if (!filled) {
        filled = true;
        int n = DM_RadarInfo::count();
        for (int i = 0; i < n; ++i) {
            DM_RadarInfo record = DM_RadarInfo::at(i);
            codes.insert(record.key(), record.keltuid());
        }
    }
    int code = 0;
    if (codes.find(product, nullptr, &code))
        return code;
    QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns")
        << "Unable to get the product code enumeration "
        << "from Dictionary for product " << product << std::endl;
    return codes.count();
}

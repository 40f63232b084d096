#include "RadarAccessKey.h"

#include "DM_DataAccessInfo.h"
#include "InfoFileServer.h"
#include "LogStream.h"
#include "LogText.h"
#include "RadarTiltTable.h"
#include "dmRadarKeys.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

Dict<RadarKeyFields, unsigned long> RadarAccessKey::_dict;

namespace {

const unsigned long KEY_BITS = 0xfffffffful;

SeqOf<TextString>& tdwrNames()
{
    static SeqOf<TextString> names;
    return names;
}

void readTdwrNames()
{
    TextString path = InfoFileServer::findFile("tdwrRadars.txt");
    if (path.length() == 0) {
        QEV_LOG(LogStream::EVENT, "RadarAccessKey") << "No TDWR radars for this site"
                                                    << std::endl;
        return;
    }
    QEV_LOG(LogStream::EVENT, "RadarAccessKey")
        << "TDWR file name = " << LogText(path) << std::endl;
    std::ifstream in(path.c_str());
    if (!in) {
        QEV_LOG(LogStream::PROBLEM, "RadarAccessKey")
            << "Unable to open " << LogText(path) << ", error = " << strerror(errno) << std::endl;
        return;
    }
    int n = 0;
    for (TextString word = readWord(in); word.length() > 0; word = readWord(in)) {
        if (word[0] == '#')
            continue;
        tdwrNames().append(word);
        ++n;
    }
    QEV_LOG(LogStream::EVENT, "RadarAccessKey") << n << " TDWR radars read" << std::endl;
}

} // namespace

DataAccessKey RadarAccessKey::lookup(int product, float elevation, int param5, float param4,
                                     int radar, int radarBits) const
{
    unsigned long value = 0;
    if (!_dict.find(RadarKeyFields(product, elevation, param5, param4, radar), nullptr, &value))
        return 0;
    if (radarBits < 0 || static_cast<unsigned long>(radarBits) > RADAR_ID_MASK) {
        QEV_LOG(LogStream::PROBLEM, "RadarAccessKey")
            << "Radar id " << radarBits << " does not fit a radar key" << std::endl;
        return 0;
    }
    DataAccessKey key = ((static_cast<unsigned long>(radarBits) << 16) | value) & KEY_BITS;
    return DM_DataAccessInfo(key).key() == key ? key : 0;
}

int RadarAccessKey::parseRadarInUse(const SeqOf<TextString>& lines, int i, int& radarId,
                                    TextString& name)
{
    const TextString& line = lines[i];
    const char* text = line.c_str();
    int last = line.length() - 1;
    while (last >= 0 && static_cast<unsigned char>(text[last]) <= ' ')
        --last;
    if (last >= 0 && text[last] == 'z')
        return -1;
    char word[64];
    int unused = 0;
    int code = 0;
    if (sscanf(text, "%63s %d %d", word, &unused, &code) != 3)
        return -1;
    name = word;
    radarId = dmRadarId(name);
    return code;
}

bool RadarAccessKey::isTdwr(const TextString& name)
{
    static bool read = false;
    if (!read) {
        read = true;
        readTdwrNames();
    }
    return tdwrNames().find(name) >= 0;
}

void RadarAccessKey::enter(const DM_DataAccessInfo& info, int radar, DataAccessKey value)
{
    _dict.insert(RadarKeyFields(info.kind(), info.periodValue(), info.param5(),
                                info.param4Value(), radar),
                 value);
}

void RadarAccessKey::generateKeys(int& radarOfKey, int& templateRadar,
                                  const RadarTiltTable* tilts, int& typeCount)
{
    QEV_LOG(LogStream::DEBUG, "RadarAccessKey")
        << "Generating data access keys for main site " << templateRadar << std::endl;
    bool templateMet = false;
    int n = DM_DataAccessInfo::keyCount();
    for (int i = 0; i < n; ++i) {
        DataAccessKey key = DM_DataAccessInfo::keyAt(i) & KEY_BITS;
        if (!isRadarKey(key))
            continue;
        radarOfKey = radarOf(key);
        if (radarOfKey == _mainRadar)
            break;
        if (templateMet && radarOfKey != templateRadar) {
            ++typeCount;
            QEV_LOG(LogStream::DEBUG, "RadarAccessKey")
                << "number of radar types = " << typeCount << std::endl;
            break;
        }
        if (templateRadar < 0)
            templateRadar = radarOfKey;
        if (radarOfKey != templateRadar)
            continue;
        templateMet = true;
        DM_DataAccessInfo info(key);
        if (info.key() == 0)
            continue;
        float e = info.periodValue();
        if (!tilts || !RadarTiltTable::covers(e) || tilts->groupAngle(e) == e)
            enter(info, 0, key & INDEPENDENT_MASK);
    }
    QEV_LOG(LogStream::DEBUG, "RadarAccessKey") << "Size of _dict = " << _dict.count()
                                                << std::endl;
}

void RadarAccessKey::addMainSiteKeys(int& radarOfKey, int& mainSeen)
{
    for (int i = DM_DataAccessInfo::keyCount() - 1; i >= 0; --i) {
        DataAccessKey key = DM_DataAccessInfo::keyAt(i) & KEY_BITS;
        if (!isRadarKey(key))
            continue;
        radarOfKey = radarOf(key);
        if (radarOfKey != _mainRadar) {
            if (mainSeen)
                break;
            continue;
        }
        mainSeen = 1;
        DM_DataAccessInfo info(key);
        if (info.key() != 0)
            enter(info, _mainRadar, key);
    }
}

#include "DM_RadarInfo.h"

#include "Config.h"
#include "DM_RadarInfoDictServer.h"
#include "Dict.h"
#include "LogStream.h"

namespace {

// The records by _key, null until loaded, and by _keltuid (pointing into
// the first table, which is never changed once loaded).
Dict<int, DM_RadarInfo>* byKey = nullptr;
Dict<int, const DM_RadarInfo*>* byProductCode = nullptr;
bool loaded = false;

void ensureLoaded()
{
    if (!loaded)
        DM_RadarInfo::loadDictionary();
}

} // namespace

DM_RadarInfo::DM_RadarInfo()
    : _key(0), _int1(0), _int2(0), _float3(0), _int4(0), _flags8{}, _flags13{}, _keltuid(0)
{
}

DM_RadarInfo DM_RadarInfo::notFound()
{
    DM_RadarInfo r;
    r._key = r._int1 = r._int2 = r._int4 = r._keltuid = -1;
    r._float3 = -1.0f;
    return r;
}

DM_RadarInfo::DM_RadarInfo(int key) : DM_RadarInfo()
{
    ensureLoaded();
    QEV_LOG(LogStream::DEBUG, "DM_RadarInfo") << "constructor: _key = " << key << std::endl;
    if (byKey && byKey->find(key, nullptr, this))
        return;
    QEV_LOG(LogStream::BUG, "DM_RadarInfo")
        << "Unable to read MessageCode " << key << " from dictionary" << std::endl;
    *this = notFound();
}

DM_RadarInfo DM_RadarInfo::byKeltuid(int keltuid)
{
    ensureLoaded();
    QEV_LOG(LogStream::DEBUG, "DM_RadarInfo") << "constructor: keltuid = " << keltuid
                                              << std::endl;
    const DM_RadarInfo* record = nullptr;
    if (byProductCode && byProductCode->find(keltuid, nullptr, &record))
        return *record;
    QEV_LOG(LogStream::BUG, "DM_RadarInfo")
        << "Unable to read keltuid " << keltuid << " from dictionary" << std::endl;
    return notFound();
}

int DM_RadarInfo::count()
{
    ensureLoaded();
    return byKey ? byKey->count() : 0;
}

DM_RadarInfo DM_RadarInfo::at(int i)
{
    ensureLoaded();
    if (!byKey) {
        static const Dict<int, DM_RadarInfo> none;
        return none.value(i);
    }
    return byKey->value(i);
}

bool DM_RadarInfo::preferredTo(const DM_RadarInfo& other) const
{
    if (_int1 != other._int1)
        return _int1 > other._int1;
    if (_int4 != other._int4)
        return _int4 > other._int4;
    return _int2 > other._int2;
}

void DM_RadarInfo::loadDictionary()
{
    TextString name;
    Config* config = Config::instance();
    if (!config || !config->getValue("radarStationInfo.dictName", name))
        name = "radarInfo";
    QEV_LOG(LogStream::EVENT, "DM_RadarInfo") << "keyName" << std::endl;
    DM_RadarInfoDictServer server;
    Dict<int, DM_RadarInfo>* records = server.makeDict(name);
    if (!records) {
        QEV_LOG(LogStream::PROBLEM, "DM_RadarInfo") << "Unable to read radarStationInfo file"
                                                    << std::endl;
        return;
    }
    Dict<int, const DM_RadarInfo*>* codes = new Dict<int, const DM_RadarInfo*>();
    for (int i = 0; i < records->count(); ++i) {
        const DM_RadarInfo& r = records->value(i);
        const DM_RadarInfo* entered = nullptr;
        if (!codes->find(r._keltuid, nullptr, &entered) || r.preferredTo(*entered))
            codes->insert(r._keltuid, &r);
    }
    // A repeated load replaces the tables whole.
    delete byProductCode;
    delete byKey;
    byKey = records;
    byProductCode = codes;
    loaded = true;
}

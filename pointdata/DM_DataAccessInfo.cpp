#include "DM_DataAccessInfo.h"

#include "Config.h"
#include "DM_DataAccessInfoDict.h"
#include "LogStream.h"
#include "LogText.h"

#include <cstring>

namespace {

DM_DataAccessInfoDict* theDictionary = nullptr;
bool loaded = false;

TextString& overrideName()
{
    static TextString* name = new TextString();
    return *name;
}

} // namespace

void DM_DataAccessInfo::loadDictionary()
{
    TextString name;
    Config* config = Config::instance();
    if (!config || !config->getValue("DataAccessInfo.dictName", name))
        name = "dataInfo";
    TextString fileName = name + ".txt";
    if (overrideName().length() > 0) {
        fileName = overrideName() + " " + fileName;
        QEV_LOG(LogStream::EVENT, "DM_DataAccessInfo")
            << "Overriding default data access info with " << LogText(overrideName()) << std::endl;
    }
    // Keys missing from the file are looked for in override files named
    // after the dictionary: "/tmp/<key>.<name>".
    DM_DataAccessInfoDict* dict = new DM_DataAccessInfoDict(fileName, 2000, name);
    if (dict->keyCount() > 0) {
        theDictionary = dict;
        loaded = true;
        return;
    }
    QEV_LOG(LogStream::PROBLEM, "DM_DataAccessInfo") << "unable to get read data access info"
                                                     << std::endl;
    delete dict;
}

namespace {

void ensureLoaded()
{
    if (!loaded)
        DM_DataAccessInfo::loadDictionary();
}

} // namespace

DataAccessKey DM_DataAccessInfo::keyAt(int i)
{
    ensureLoaded();
    return theDictionary ? theDictionary->keyAt(i) : 0;
}

int DM_DataAccessInfo::keyCount()
{
    ensureLoaded();
    return theDictionary ? theDictionary->keyCount() : 0;
}

DM_DataAccessInfoDict* DM_DataAccessInfo::dictionary()
{
    ensureLoaded();
    return theDictionary;
}

void DM_DataAccessInfo::setDictionaryOverride(const TextString& name) { overrideName() = name; }

DM_DataAccessInfo::DM_DataAccessInfo()
    : _key(0), _kind(0), _period(0), _periodValue(0), _param4(0), _param4Value(0),
      _param4Second(0), _param5(0), _param5Value(0), _param5Second(0), _interval(0), _offset(0),
      _temporary(false)
{
}

DM_DataAccessInfo::DM_DataAccessInfo(DataAccessKey key) : DM_DataAccessInfo()
{
    _key = key;
    ensureLoaded();
    if (!theDictionary) {
        _key = 0;
        return;
    }
    const DM_DataAccessInfo* record =
        static_cast<const DM_DataAccessInfo*>(theDictionary->lookup(key));
    if (!record) {
        QEV_LOG(LogStream::PROBLEM, "DM_DataAccessInfo")
            << "Unable to read DataAccessKey " << key << " from dictionary" << std::endl;
        _key = 0;
        return;
    }
    *this = *record;
    _temporary = theDictionary->fromOverride();
}

int DM_DataAccessInfo::filePeriodSeconds() const
{
    if (_period < 0)
        return _period * -86400;
    if (_period <= 240)
        return _period * 3600;
    return _period;
}

float DM_DataAccessInfo::param5ValueOrMissing() const
{
    return _param5Value == 0.0f ? 1e37f : _param5Value;
}

int DM_DataAccessInfo::fileClass() const
{
    if (_fileSuffix == ".bcx")
        return 3;
    if (_fileSuffix == ".bcd")
        return 2;
    if (_fileSuffix == ".spi")
        return 0;
    if (_fileSuffix == ".lpi")
        return 1;
    if (_fileSuffix.length() > 0)
        return 3;
    if (_directory.length() == 0)
        return 4;
    int comma = -1;
    return _directory.indexOfChar(',', comma) ? 6 : 5;
}

SeqOf<unsigned long>* DM_DataAccessInfo::expandKeys() const
{
    SeqOf<unsigned long>* keys = new SeqOf<unsigned long>();
    SeqOf<unsigned long> path;
    bool reported = false;
    expandInto(*keys, path, reported);
    return keys;
}

void DM_DataAccessInfo::expandInto(SeqOf<unsigned long>& out, SeqOf<unsigned long>& path,
                                   bool& reported) const
{
    if (_keyList.length() == 0) {
        if (_key != 0)
            out.append(_key);
        return;
    }
    path.append(_key);
    for (int i = 0; i < _keyList.length(); ++i) {
        unsigned long member = _keyList[i];
        if (member == 0)
            continue;
        if (path.find(member) >= 0) {
            if (!reported)
                QEV_LOG(LogStream::PROBLEM, "DM_DataAccessInfo")
                    << "Member list of DataAccessKey " << _key << " leads back to " << member
                    << "; the cycle is not followed" << std::endl;
            reported = true;
            continue;
        }
        DM_DataAccessInfo info(member);
        if (info.key() != 0)
            info.expandInto(out, path, reported);
    }
    path.setLength(path.length() - 1);
}

#include "dmDataAccessKeys.h"

#include "DM_DataAccessInfo.h"
#include "Dict.h"

namespace {

DataAccessKey sourceKey(const TextString& source, const char* first, DataAccessKey firstKey,
                        const char* second, DataAccessKey secondKey)
{
    if (source == first)
        return firstKey;
    if (source == second)
        return secondKey;
    return 0;
}

// The key names of one group of keys, read from the dictionary on the first
// call.  The table counts as filled from then on, also when the dictionary
// gave nothing.
class GroupNames {
public:
    explicit GroupNames(DataAccessKey baseKey) : _baseKey(baseKey), _filled(false) {}

    DataAccessKey find(const TextString& name)
    {
        if (!_filled) {
            _filled = true;
            fill();
        }
        DataAccessKey key = 0;
        return _names.find(name, nullptr, &key) ? key : 0;
    }

private:
    void fill()
    {
        unsigned long group = _baseKey / 1000;
        int n = DM_DataAccessInfo::keyCount();
        for (int i = 0; i < n; ++i) {
            DataAccessKey key = DM_DataAccessInfo::keyAt(i);
            if (key == 0 || key / 1000 != group)
                continue;
            DM_DataAccessInfo info(key);
            if (info.key() != 0)
                _names.insert(info.keyName(), key);
        }
    }

    DataAccessKey _baseKey;
    bool _filled;
    Dict<TextString, unsigned long> _names;
};

} // namespace

DataAccessKey dmModelSourceKey(const TextString& source)
{
    return sourceKey(source, "ETA", 10001, "AVN", 10002);
}

DataAccessKey dmSourceKey420(const TextString& source)
{
    return sourceKey(source, "VXD", 420, "PZT", 421);
}

DataAccessKey dmSourceKey320(const TextString& source)
{
    return sourceKey(source, "VXD", 320, "PZT", 321);
}

DataAccessKey dmSourceKey450(const TextString& source)
{
    return sourceKey(source, "VXD", 450, "LOCAL", 451);
}

DataAccessKey dmSourceKey350(const TextString& source)
{
    return sourceKey(source, "VXD", 350, "LOCAL", 351);
}

DataAccessKey dmSourceKey401(const TextString& source)
{
    return sourceKey(source, "VXD", 401, "PZT", 402);
}

DataAccessKey dmSourceKey301(const TextString& source)
{
    return sourceKey(source, "VXD", 301, "PZT", 302);
}

DataAccessKey dmKeyByName11000(const TextString& name)
{
    static GroupNames names(dmKey11001());
    return names.find(name);
}

DataAccessKey dmKeyByName9000(const TextString& name)
{
    static GroupNames names(dmKey9000());
    return names.find(name);
}

#include "DescriptorNameCache.h"

DescriptorNameCache::DescriptorNameCache() : _cached(SIZE, 0), _names(SIZE) {}

bool DescriptorNameCache::find(int descriptor, TextString& name) const
{
    if (descriptor < 0 || descriptor >= SIZE || !_cached[descriptor])
        return false;
    name = _names[descriptor];
    return true;
}

bool DescriptorNameCache::insert(int descriptor, const TextString& name)
{
    if (descriptor < 0 || descriptor >= SIZE)
        return false;
    _names[descriptor] = name;
    _cached[descriptor] = 1;
    return true;
}

void DescriptorNameCache::clear()
{
    _cached.assign(SIZE, 0);
    _names.assign(SIZE, TextString());
}

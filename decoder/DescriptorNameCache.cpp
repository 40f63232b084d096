#include "DescriptorNameCache.h"

// The arrays are made at the first insert: a decoder of several stores fills
// only the caches of the stores a file reaches.
DescriptorNameCache::DescriptorNameCache() {}

bool DescriptorNameCache::find(int descriptor, TextString& name) const
{
    if (descriptor < 0 || descriptor >= static_cast<int>(_cached.size()) || !_cached[descriptor])
        return false;
    name = _names[descriptor];
    return true;
}

bool DescriptorNameCache::insert(int descriptor, const TextString& name)
{
    if (descriptor < 0 || descriptor >= SIZE)
        return false;
    if (_cached.empty()) {
        _cached.assign(SIZE, 0);
        _names.resize(SIZE);
    }
    _names[descriptor] = name;
    _cached[descriptor] = 1;
    return true;
}

void DescriptorNameCache::clear()
{
    _cached.clear();
    _names.clear();
}

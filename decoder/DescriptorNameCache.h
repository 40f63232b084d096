// The netCDF variable names of BUFR element descriptors that a storing pass
// resolved through its template, by descriptor, so that each later value of
// the same element costs one array access instead of a table B and a template
// look-up.  Descriptors 0 to SIZE - 1 (0 00 000 to 0 35 999) are cached; an
// entry, once made, is never removed.
#ifndef DESCRIPTORNAMECACHE_H
#define DESCRIPTORNAMECACHE_H

#include "TextString.h"

#include <cstdint>
#include <vector>

class DescriptorNameCache {
public:
    // The number of descriptors cached ("TBL_B_DICT_CACHE_SIZE").
    enum { SIZE = 36000 };

    DescriptorNameCache();

    // The cached name of a descriptor; false when it has none.
    bool find(int descriptor, TextString& name) const;
    // Caches a name; false for a descriptor outside 0 .. SIZE - 1.
    bool insert(int descriptor, const TextString& name);
    // Forgets every entry.
    void clear();

private:
    std::vector<uint16_t> _cached;
    std::vector<TextString> _names;
};

#endif

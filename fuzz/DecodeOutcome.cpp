#include "DecodeOutcome.h"

#include <cstring>

namespace {

bool sameValue(const BufrValues& a, const BufrValues& b)
{
    const float x = a.getValue();
    const float y = b.getValue();
    return a.getSubset() == b.getSubset() && a.getDescriptor() == b.getDescriptor() &&
           a.getIndex() == b.getIndex() && std::memcmp(&x, &y, sizeof x) == 0 &&
           a.getCharValue() == b.getCharValue();
}

bool sameGroups(const SeqOf<SeqOf<int> >& a, const SeqOf<SeqOf<int> >& b)
{
    if (a.length() != b.length())
        return false;
    for (int i = 0; i < a.length(); ++i) {
        if (!(a[i] == b[i]))
            return false;
    }
    return true;
}

} // namespace

DecodeOutcome DecodeOutcome::of(Decoder& decoder, const uint8_t* data, size_t size)
{
    DecodeOutcome out;
    out._ok = decoder.decode(data, static_cast<unsigned>(size));
    out._obTime = static_cast<int32_t>(decoder.obTime().seconds());
    out._category = decoder.dataCategory();
    out._subsets = decoder.subsets();
    out._compressed = decoder.compressed();
    out._descriptors = decoder.descriptors();
    out._groups = decoder.groups();
    out._nestedGroups = decoder.nestedGroups();
    out._repCounts = decoder.repCounts();
    out._values = decoder.getDecodedValues();
    return out;
}

std::string DecodeOutcome::differenceFrom(const DecodeOutcome& expected) const
{
    if (_ok != expected._ok)
        return _ok ? "decodes where it fails alone" : "fails where it decodes alone";
    if (_obTime != expected._obTime || _category != expected._category)
        return "another section 1 time or data category";
    if (_subsets != expected._subsets || _compressed != expected._compressed)
        return "another number of subsets or form of data";
    if (!(_descriptors == expected._descriptors) || !sameGroups(_groups, expected._groups) ||
        !sameGroups(_nestedGroups, expected._nestedGroups))
        return "other expanded descriptors or replication groups";
    if (!(_repCounts == expected._repCounts))
        return "other replication factors";
    if (_values.length() != expected._values.length())
        return "another number of values";
    for (int i = 0; i < _values.length(); ++i) {
        if (!sameValue(_values[i], expected._values[i]))
            return "value " + std::to_string(i) + " differs";
    }
    return std::string();
}

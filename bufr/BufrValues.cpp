#include "BufrValues.h"

BufrValues::BufrValues() : subset(0), descriptor(0), value(0.0f), index(0) {}

BufrValues::BufrValues(int s, int d, float v, int i, const TextString& text)
    : subset(s), descriptor(d), value(v), index(i), charValue(text)
{
}

bool BufrValues::setSubset(int s)
{
    subset = s;
    return true;
}

bool BufrValues::setDescriptor(int d)
{
    descriptor = d;
    return true;
}

bool BufrValues::setValue(float v)
{
    value = v;
    return true;
}

bool BufrValues::setIndex(int i)
{
    index = i;
    return true;
}

void BufrValues::setCharValue(const TextString& text)
{
    charValue = text;
}

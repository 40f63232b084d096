#include "BufrValues.h"

BufrValues::BufrValues() : subset(0), descriptor(0), value(0.0f), index(0) {}

BufrValues::BufrValues(int s, int d, float v, int i, const TextString& text)
    : subset(s), descriptor(d), value(v), index(i), charValue(text)
{
}

// One decoded value of a BUFR message: the subset it belongs to (from 0), its
// element descriptor, the value (-99999.0 missing, 99999.0 not in table B,
// -99999.9 for a character element), the repetition number inside a delayed
// replication group (0 elsewhere) and, for a character element, its text.
#ifndef BUFRVALUES_H
#define BUFRVALUES_H

#include "TextString.h"

class BufrValues {
public:
    BufrValues();
    BufrValues(int subset, int descriptor, float value, int index, const TextString& charValue);

    int getSubset() const { return subset; }
    int getDescriptor() const { return descriptor; }
    float getValue() const { return value; }
    int getIndex() const { return index; }
    TextString getCharValue() const { return charValue; }

    bool setSubset(int s);
    bool setDescriptor(int d);
    bool setValue(float v);
    bool setIndex(int i);
    void setCharValue(const TextString& text);

private:
    int subset;
    int descriptor;
    float value;
    int index;
    TextString charValue;
};

#endif

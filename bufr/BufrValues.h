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

    // Inline: the data walker fills every value of a message through them.
    bool setSubset(int s)
    {
        subset = s;
        return true;
    }
    bool setDescriptor(int d)
    {
        descriptor = d;
        return true;
    }
    bool setValue(float v)
    {
        value = v;
        return true;
    }
    bool setIndex(int i)
    {
        index = i;
        return true;
    }
    // Nothing to do when the text is already this one (the empty text of a
    // value that has none, most often).
    void setCharValue(const TextString& text)
    {
        if (charValue.rep() != text.rep())
            charValue = text;
    }

private:
    int subset;
    int descriptor;
    float value;
    int index;
    TextString charValue;
};

#endif

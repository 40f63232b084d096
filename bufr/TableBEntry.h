// One element of BUFR table B: its descriptor (F*100000 + X*1000 + Y), its
// name and units, and how its values are coded (decimal scale, reference
// value, width in bits).  The name is the key by which netCDF templates name
// the element.
#ifndef TABLEBENTRY_H
#define TABLEBENTRY_H

#include "TextString.h"

class TableBEntry {
public:
    TableBEntry();
    TableBEntry(int descriptor, const TextString& description, const TextString& units,
                int scale, int reference, int width);

    int getDescriptor() const { return descriptor; }
    const TextString& getDescription() const { return description; }
    const TextString& getUnits() const { return units; }
    int getScale() const { return scale; }
    int getReference() const { return reference; }
    int getWidth() const { return width; }

    bool setDescriptor(int d);
    // The texts are stored without their trailing blanks.
    bool setDescription(const TextString& text);
    bool setUnits(const TextString& text);
    bool setScale(int s);
    bool setReference(int r);
    bool setWidth(int w);

private:
    int descriptor;
    TextString description;
    TextString units;
    int scale;
    int reference;
    int width;
};

#endif

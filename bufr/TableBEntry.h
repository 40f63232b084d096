// One element of BUFR table B: its descriptor (F*100000 + X*1000 + Y), its
// name and units, and how its values are coded (decimal scale, reference
// value, width in bits).  The name is the key by which netCDF templates name
// the element.
#ifndef TABLEBENTRY_H
#define TABLEBENTRY_H

#include "TextString.h"

#include <string>

class TableBEntry {
public:
    // What the decoding arithmetic holds: widths (bits) from 0 to maxWidth,
    // scales from -maxScale to maxScale, references of 32 bits.  The
    // operators change a width by -127 to +977 bits (2 01, 2 07), a scale by
    // -127 to +382 (2 02, 2 07) and set a text's width to at most 2040 bits
    // (2 08): every result stays an int, far from its limits.  Numbers
    // wider than 64 bits are refused when read.
    static const int maxWidth = 65535;
    static const int maxScale = 127;

    // Why a table line's scale, reference and width cannot be taken, in
    // words for a log line ("width 2147483600 is outside 0 to 65535 bits");
    // empty when they can.
    static std::string codingFault(long scale, long reference, long width);

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

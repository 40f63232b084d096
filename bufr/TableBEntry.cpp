#include "TableBEntry.h"

#include <cstdint>

const int TableBEntry::maxWidth;
const int TableBEntry::maxScale;

std::string TableBEntry::codingFault(long scale, long reference, long width)
{
    if (width < 0 || width > maxWidth)
        return "width " + std::to_string(width) + " is outside 0 to " +
               std::to_string(maxWidth) + " bits";
    if (scale < -maxScale || scale > maxScale)
        return "scale " + std::to_string(scale) + " is outside -" + std::to_string(maxScale) +
               " to " + std::to_string(maxScale);
    if (reference < INT32_MIN || reference > INT32_MAX)
        return "reference value " + std::to_string(reference) + " does not fit 32 bits";
    return std::string();
}

TableBEntry::TableBEntry() : descriptor(0), scale(0), reference(0), width(0) {}

TableBEntry::TableBEntry(int d, const TextString& desc, const TextString& u, int s, int r, int w)
    : descriptor(d), scale(s), reference(r), width(w)
{
    setDescription(desc);
    setUnits(u);
}

bool TableBEntry::setDescriptor(int d)
{
    descriptor = d;
    return true;
}

bool TableBEntry::setDescription(const TextString& text)
{
    description = text;
    description.stripTrailingBlanks();
    return true;
}

bool TableBEntry::setUnits(const TextString& text)
{
    units = text;
    units.stripTrailingBlanks();
    return true;
}

bool TableBEntry::setScale(int s)
{
    scale = s;
    return true;
}

bool TableBEntry::setReference(int r)
{
    reference = r;
    return true;
}

bool TableBEntry::setWidth(int w)
{
    width = w;
    return true;
}

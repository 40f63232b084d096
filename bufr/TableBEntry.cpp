#include "TableBEntry.h"

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

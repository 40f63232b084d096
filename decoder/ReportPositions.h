// Which latitude values of a bulletin begin a position (a wind, a sounding):
// the data type's latitude element, or, in a report (subset) that holds
// none, its stand-in of the other accuracy (the same quantity, coarser or
// finer: 0 05 002 for 0 05 001, or 0 05 001 for 0 05 002).  A latitude is
// followed by its own longitude element; the storing code checks that the
// next value is that element before it takes it.
#ifndef REPORTPOSITIONS_H
#define REPORTPOSITIONS_H

#include "BufrValues.h"
#include "SeqOf.h"

#include <vector>

class ReportPositions {
public:
    // The elements: latitude and longitude, and the stand-in pair of the
    // other accuracy that a report without that latitude takes (0, 0 for
    // none).
    ReportPositions(const SeqOf<BufrValues>& values, int latitude, int longitude,
                    int standInLatitude, int standInLongitude);

    // The longitude element that must follow the value at i when it begins a
    // position; 0 when it begins none.  Inline: the storing code asks it of
    // every value of a bulletin.
    int longitudeAfter(int i) const
    {
        if (i < 0 || i >= _values.length())
            return 0;
        const BufrValues& v = _values.elements()[i];
        const int d = v.getDescriptor();
        if (d == _latitude)
            return _longitude;
        if (d != _standInLatitude || _standInLatitude == 0)
            return 0;
        const int s = v.getSubset();
        const bool own = s >= 0 && static_cast<size_t>(s) < _ownLatitude.size() &&
                         _ownLatitude[static_cast<size_t>(s)];
        return own ? 0 : _standInLongitude;
    }

private:
    const SeqOf<BufrValues>& _values;
    int _latitude, _longitude, _standInLatitude, _standInLongitude;
    // The reports that hold a latitude of the data type's element.
    std::vector<bool> _ownLatitude;
};

#endif

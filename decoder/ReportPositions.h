// Which latitude values of a bulletin begin a position (a wind, a sounding):
// the data type's latitude element, or, in a report (subset) that holds
// none, its coarse-accuracy stand-in (the same quantity, less precise).  A
// latitude is followed by its own longitude element; the storing code checks
// that the next value is that element before it takes it.
#ifndef REPORTPOSITIONS_H
#define REPORTPOSITIONS_H

#include "BufrValues.h"
#include "SeqOf.h"

#include <vector>

class ReportPositions {
public:
    // The elements: latitude and longitude, and the coarse pair a report
    // without that latitude takes (0, 0 for none).
    ReportPositions(const SeqOf<BufrValues>& values, int latitude, int longitude,
                    int coarseLatitude, int coarseLongitude);

    // The longitude element that must follow the value at i when it begins a
    // position; 0 when it begins none.
    int longitudeAfter(int i) const;

private:
    const SeqOf<BufrValues>& _values;
    int _latitude, _longitude, _coarseLatitude, _coarseLongitude;
    // The reports that hold a latitude of the data type's element.
    std::vector<bool> _precise;
};

#endif

#include "ReportPositions.h"

ReportPositions::ReportPositions(const SeqOf<BufrValues>& values, int latitude, int longitude,
                                 int standInLatitude, int standInLongitude)
    : _values(values), _latitude(latitude), _longitude(longitude),
      _standInLatitude(standInLatitude), _standInLongitude(standInLongitude)
{
    const BufrValues* const v = values.elements();
    for (int i = 0; standInLatitude != 0 && i < values.length(); ++i) {
        if (v[i].getDescriptor() != latitude)
            continue;
        const int s = v[i].getSubset();
        if (s < 0)
            continue;
        if (_ownLatitude.size() <= static_cast<size_t>(s))
            _ownLatitude.resize(static_cast<size_t>(s) + 1, false);
        _ownLatitude[static_cast<size_t>(s)] = true;
    }
}

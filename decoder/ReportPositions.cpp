#include "ReportPositions.h"

ReportPositions::ReportPositions(const SeqOf<BufrValues>& values, int latitude, int longitude,
                                 int standInLatitude, int standInLongitude)
    : _values(values), _latitude(latitude), _longitude(longitude),
      _standInLatitude(standInLatitude), _standInLongitude(standInLongitude)
{
    for (int i = 0; standInLatitude != 0 && i < values.length(); ++i) {
        const int s = values[i].getSubset();
        if (values[i].getDescriptor() != latitude || s < 0)
            continue;
        if (_ownLatitude.size() <= static_cast<size_t>(s))
            _ownLatitude.resize(static_cast<size_t>(s) + 1, false);
        _ownLatitude[static_cast<size_t>(s)] = true;
    }
}

int ReportPositions::longitudeAfter(int i) const
{
    const int d = _values[i].getDescriptor();
    if (d == _latitude)
        return _longitude;
    if (d != _standInLatitude || _standInLatitude == 0)
        return 0;
    const int s = _values[i].getSubset();
    const bool own = s >= 0 && static_cast<size_t>(s) < _ownLatitude.size() &&
                         _ownLatitude[static_cast<size_t>(s)];
    return own ? 0 : _standInLongitude;
}

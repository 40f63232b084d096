#include "ReportPositions.h"

ReportPositions::ReportPositions(const SeqOf<BufrValues>& values, int latitude, int longitude,
                                 int coarseLatitude, int coarseLongitude)
    : _values(values), _latitude(latitude), _longitude(longitude),
      _coarseLatitude(coarseLatitude), _coarseLongitude(coarseLongitude)
{
    for (int i = 0; coarseLatitude != 0 && i < values.length(); ++i) {
        const int s = values[i].getSubset();
        if (values[i].getDescriptor() != latitude || s < 0)
            continue;
        if (_precise.size() <= static_cast<size_t>(s))
            _precise.resize(static_cast<size_t>(s) + 1, false);
        _precise[static_cast<size_t>(s)] = true;
    }
}

int ReportPositions::longitudeAfter(int i) const
{
    const int d = _values[i].getDescriptor();
    if (d == _latitude)
        return _longitude;
    if (d != _coarseLatitude || _coarseLatitude == 0)
        return 0;
    const int s = _values[i].getSubset();
    const bool precise = s >= 0 && static_cast<size_t>(s) < _precise.size() &&
                         _precise[static_cast<size_t>(s)];
    return precise ? 0 : _coarseLongitude;
}

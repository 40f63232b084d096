// LatLonCoord: a geographic point in degrees, held by value.  The value
// -99999.0 (LatLonCoord::MISSING, what an all-ones BUFR field decodes to) in
// either member means missing; the users test it, the type does not.  A
// default point is missing in both members.
#ifndef LATLONCOORD_H
#define LATLONCOORD_H

struct LatLonCoord {
    static constexpr float MISSING = -99999.0f;

    float lat;
    float lon;

    LatLonCoord() : lat(MISSING), lon(MISSING) {}
    LatLonCoord(float latitude, float longitude) : lat(latitude), lon(longitude) {}

    bool operator==(const LatLonCoord& other) const
    {
        return lat == other.lat && lon == other.lon;
    }
};

#endif

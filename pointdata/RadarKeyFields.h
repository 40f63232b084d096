// RadarKeyFields: what names a radar product in the table of radar access
// keys: the product code, the elevation angle (after tilt grouping), the
// integer and the floating-point parameter, and the radar (the main site's
// radar id, or 0 for the radar-independent keys of template radars).  All
// five take part in equality.
#ifndef RADARKEYFIELDS_H
#define RADARKEYFIELDS_H

class RadarKeyFields {
public:
    RadarKeyFields() : _product(0), _elevation(0), _param5(0), _param4(0), _radar(0) {}
    RadarKeyFields(int product, float elevation, int param5, float param4, int radar)
        : _product(product), _elevation(elevation), _param5(param5), _param4(param4),
          _radar(radar)
    {
    }

    int product() const { return _product; }
    float elevation() const { return _elevation; }
    int param5() const { return _param5; }
    float param4() const { return _param4; }
    int radar() const { return _radar; }

    bool operator==(const RadarKeyFields& o) const
    {
        return _product == o._product && _elevation == o._elevation && _param5 == o._param5 &&
               _param4 == o._param4 && _radar == o._radar;
    }

private:
    int _product;
    float _elevation;
    int _param5;
    float _param4;
    int _radar;
};

// The hash of the fields for Dict: h = (product << 4) + (param5 >> 3) +
// (radar << 12) in 32-bit unsigned arithmetic (param5 shifted
// arithmetically), then s = pi * param4 + (h + elevation) in extended
// precision, stored as a float; the hash is the bit pattern of s.
unsigned hashKey(const RadarKeyFields& fields);

#endif

// The atmosphere the sample soundings follow: the standard atmosphere's
// height and temperature by pressure, saturation humidity, and two shapes
// that vary the values smoothly.  Header-only: the sample makers share it.
#ifndef STANDARDATMOSPHERE_H
#define STANDARDATMOSPHERE_H

#include <algorithm>
#include <cmath>

const double PI = 3.14159265358979323846;

// Height (m) of a pressure (Pa) in the standard atmosphere, and its
// temperature (K).
inline double standardHeight(double p)
{
    if (p >= 22632.1)
        return 288.15 / 0.0065 * (1.0 - std::pow(p / 101325.0, 0.190263));
    return 11000.0 + 216.65 * 287.05 / 9.80665 * std::log(22632.1 / p);
}

inline double standardTemperature(double z)
{
    return z < 11000.0 ? 288.15 - 0.0065 * z : 216.65;
}

// Saturation vapour pressure (Pa) over water at a temperature (K).
inline double saturationVapourPressure(double t)
{
    return 611.2 * std::exp(17.67 * (t - 273.15) / (t - 29.65));
}

// Saturation specific humidity (kg/kg) over water.
inline double saturationHumidity(double t, double p)
{
    const double es = saturationVapourPressure(t);
    return 0.622 * es / std::max(p - 0.378 * es, 1.0);
}

inline double bell(double x, double centre, double width)
{
    const double d = (x - centre) / width;
    return std::exp(-d * d);
}

inline double clamp(double v, double lo, double hi)
{
    return std::min(hi, std::max(lo, v));
}

#endif

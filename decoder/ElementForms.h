// ElementForms: the one catalogue of the WMO elements in which a bulletin
// may give each quantity the stores hold, and of how each of them converts
// into another.  Every decoder asks it which quantity an element gives and
// how to convert a value; a decoder itself keeps only which quantities its
// store holds and which forms it prefers where several come.
//
// A form gives its quantity as one measure.  Two forms of one quantity and
// measure convert into one another by their table B units (0 11 084 in
// knots into 0 11 002 in m/s, 0 12 003 into 0 12 103; a position of either
// accuracy into the other).  Heights come in three measures that convert
// as the standard atmosphere relates them: geometric heights above mean
// sea level (m), geopotential heights (gpm) and geopotentials (m2 s-2): a
// geopotential divided by g0 = 9.80665 m s-2 is its geopotential
// height H, and H = r0 z / (r0 + z) for the geometric height z, r0 =
// 6356766 m.  Any other pair does not convert (a dewpoint into a mixing
// ratio, a height above the station into one above the sea, oktas into a
// percentage): a line names such a form by its element and its quantity's
// words ("gives its humidity only as 0 13 002"); the form's own words say
// what it is ("a mixing ratio").
//
// A station's elevation is given in its own elements, or in any height of
// the three converting measures that the station gives once.
//
// To add a form, add one line to FORMS in ElementForms.cpp: its element,
// its quantity, its measure and its words, as
//     {10007, HEIGHT, GEOMETRIC, "a height"},
// a new measure only where it converts into none of those there.
//
// Decoded values are missing as -99999 (BufrDecoder::MISSING_VALUE), and
// as 99999 for an element missing from table B: given() tells a value from
// both, for every decoder.
#ifndef ELEMENTFORMS_H
#define ELEMENTFORMS_H

#include <vector>

class ElementForms {
public:
    enum Quantity {
        NO_QUANTITY,
        HEIGHT,            // of a level, a wind or an aircraft
        ELEVATION,         // of a station or the land under it
        PRESSURE,
        TEMPERATURE,
        HUMIDITY,
        WIND,              // direction and speed, or components
        VERTICAL_WIND,
        SOIL_MOISTURE,
        CLOUD_AMOUNT,
        SECOND,            // of a time
        TIME_PERIOD,       // or displacement
        STATION_NUMBER,
        LATITUDE,
        LONGITUDE
    };

    // What a form measures; forms of one measure convert by their units.
    enum Measure {
        GEOMETRIC,                // height above mean sea level
        GEOPOTENTIAL_HEIGHT,
        GEOPOTENTIAL,
        ABOVE_STATION,
        FLIGHT_LEVEL,             // a pressure altitude
        INDICATED_ALTITUDE,
        SATELLITE_ALTITUDE,       // above the navigation system's ellipsoid
        STATIC_PRESSURE,
        AIR_TEMPERATURE,
        AIR_TEMPERATURE_AT_2M,
        DEWPOINT,
        MIXING_RATIO,
        SPECIFIC_HUMIDITY,
        RELATIVE_HUMIDITY,
        DIRECTION,
        SPEED,
        EASTWARD,
        NORTHWARD,
        PRESSURE_VELOCITY,        // Pa/s
        VERTICAL_SPEED,           // m/s
        VOLUMETRIC_MOISTURE,
        MOISTURE_BY_MASS,
        MOISTURE_AS_DEPTH,
        TOTAL_COVER,              // percent of the sky
        OKTAS,
        SECONDS,
        DURATION,                 // days, hours, minutes or seconds
        YEARS,
        MONTHS,
        STATION_DIGITS,
        WMO_BLOCK,
        WMO_STATION,
        HIGH_ACCURACY,
        COARSE_ACCURACY
    };

    struct Form {
        int descriptor;
        Quantity quantity;
        Measure measure;
        const char* words;    // how a line names the form
    };

    // The form of the element, or null for an element of no quantity here.
    static const Form* form(int descriptor);
    // The quantity the element gives; NO_QUANTITY for none.
    static Quantity quantityOf(int descriptor);
    // Whether the element is among the forms of the quantity.
    static bool gives(int descriptor, Quantity quantity);
    // The forms of a quantity, in the catalogue's order (for ELEVATION, its
    // own elements, then the heights that convert into them).
    static std::vector<const Form*> forms(Quantity quantity);
    // The words a line names the quantity with ("humidity").
    static const char* words(Quantity quantity);

    // Whether a value of element from converts into one of element to
    // (an element always converts into itself).
    static bool converts(int from, int to);
    // A value of element from as one of element to: true, converted, when
    // they convert; false, unchanged, when not.  A missing value (given()
    // false) converts unchanged.
    static bool convert(int from, int to, double& value);

    // Whether a decoded number is a value: finite, neither -99999 nor 99999.
    static bool given(double value);
};

#endif

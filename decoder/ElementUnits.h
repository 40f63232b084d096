// Values in the unit of the variable they are stored in.
//
// A template variable is found by a table B element name, and one name may
// stand for elements of different units: "TIME PERIOD OR DISPLACEMENT" is
// 0 04 024 in hours, 0 04 025 in minutes and 0 04 026 in seconds; "WIND
// SPEED" is 0 11 002 in m/s, 0 11 083 in km/h and 0 11 084 in knots.  The
// variable holds one unit, its "units" attribute.  A value of an element of
// another unit of the same quantity is converted into it (1800 s go into a
// variable of minutes as 30, 55 kt into one of m s-1 as 28.29, a dewpoint
// in Celsius into one of K); a value whose unit cannot be converted (a
// period in months into minutes, a vertical velocity in Pa/s into m s-1) is
// refused, so that no value is stored in a unit its variable does not hold.
//
// Units are compared as table B and netCDF's conventions write them
// ("m/s" and "m s-1", "deg" and "degrees_north", "CODE TABLE" and "1"),
// case and blanks aside; two texts that are the same are the same unit,
// known or not.
//
// Which element converts into which (a height into a geopotential height)
// is ElementForms's to say; this class converts between units only.
#ifndef ELEMENTUNITS_H
#define ELEMENTUNITS_H

#include "TextString.h"

class BulletinLog;
class RecordWriter;

class ElementUnits {
public:
    // The value of the descriptor's element in the unit of the named
    // variable of the writer's file.  True, with the value converted
    // where the units differ, when it may be stored; unchanged when the
    // element or the variable has no unit to compare (a descriptor missing
    // from table B, a text element, a variable without "units"), and for a
    // missing value (-99999, 99999).  False, the value unchanged, when the
    // units differ and no conversion between them is known: a PROBLEM line
    // under the source name says so, a bounded number of times per
    // bulletin (the bulletin's log).
    // refusal, when given, gets the reason a bulletin is set aside with for
    // a value refused (the line's text).
    static bool toVariable(int descriptor, double& value, RecordWriter& writer,
                           const TextString& variable, BulletinLog& log, const char* source,
                           TextString* refusal = nullptr);
    // The same without a line, for a value only compared with what a
    // record holds.
    static bool toVariable(int descriptor, double& value, RecordWriter& writer,
                           const TextString& variable);
    // A value of element from in the unit of element to, both of table B.
    // True, the value unchanged, for the same element and for a missing
    // value; false, unchanged, when no conversion between the units is
    // known.
    static bool betweenElements(int from, int to, double& value);
};

#endif

// Time periods in the unit of the variable they are stored in.
//
// Table B gives one element name to elements of different time units: "TIME
// PERIOD OR DISPLACEMENT" is 0 04 024 in hours, 0 04 025 in minutes and
// 0 04 026 in seconds.  A template variable found by that name holds one
// unit, its "units" attribute; a value of another of the three units is
// converted into it, so that 1800 s go into a variable of minutes as 30.
#ifndef TIMEUNITS_H
#define TIMEUNITS_H

#include "TextString.h"

class TimeUnits {
public:
    // The value of the descriptor's element in the unit of the named
    // variable of the open netCDF file.  Unchanged when the element's unit
    // or the variable's is no time unit (or there is none), and for a
    // missing value (-99999, 99999).
    static double toVariable(int descriptor, double value, int ncid, const TextString& variable);
    // Seconds per unit: "h", "hour", "hours", "min", "minute", "minutes",
    // "s", "second", "seconds" (any case); 0 for another text.
    static double seconds(const char* unit);
};

#endif

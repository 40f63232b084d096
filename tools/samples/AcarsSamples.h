// Sample ACARS aircraft report bulletins: BULLETINS bulletins
// "IUAX0<1|2> KWBC ddhh00", each with one report (data subset) per aircraft
// of REPORTS aircraft, five minutes apart from one bulletin to the next.  A
// report holds the aircraft's tail number and flight number, the ground
// station, its time to the second, position, phase of flight, flight level,
// temperature, wind, turbulence and relative humidity (missing for some
// aircraft, 0 for one: dry air at cruise level).  The aircraft fly along
// great-circle-like tracks over North America.
//
// The bulletins are FM 94 BUFR edition 4 in standard (uncompressed) form,
// of WMO elements only.
#ifndef ACARSSAMPLES_H
#define ACARSSAMPLES_H

#include "SampleBulletin.h"

#include <string>
#include <vector>

class AcarsSamples {
public:
    static const int BULLETINS = 3;
    static const int REPORTS = 8;
    // The elements of one report, in order.
    static const std::vector<int>& descriptors();

    struct Report {
        std::string tail, flight, station;
        int minute = 0, second = 0;
        double latitude = 0, longitude = 0;
        int navigation = 0, relay = 0, phase = 0, turbulence = 0;
        double flightLevel = 0, temperature = 0, windDirection = 0, windSpeed = 0;
        double humidity = 0;    // NaN when the report has none
    };

    // The reports of one bulletin (0 .. BULLETINS - 1), the same for the
    // same arguments; times in the hour of the options.
    static std::vector<Report> reports(int bulletin);
    static std::string fileName(int bulletin, const SampleOptions& options);
    static bool encode(const std::vector<Report>& reports, int bulletin,
                       const SampleOptions& options, SampleBulletin& out, std::string& error);
    static bool make(const SampleOptions& options, std::vector<SampleBulletin>& bulletins,
                     std::string& error);
};

#endif

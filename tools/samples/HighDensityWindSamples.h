// Sample high-density satellite cloud-drift wind bulletins: one compressed
// bulletin "IUCN01 KNES ddhh00" of WINDS winds of two geostationary
// satellites, observed over the hour of the options.  A wind holds its
// satellite, the computation method, its time to the second, position,
// channel frequency, pressure, direction and speed, the coldest cluster
// temperature of its tracer, the height assignment method and a quality
// indicator (missing for some winds).  The winds lie on a grid over the
// satellites' disks with a jet-stream band of strong westerlies.
//
// The bulletins are FM 94 BUFR edition 4 in compressed form, of WMO
// elements only.
#ifndef HIGHDENSITYWINDSAMPLES_H
#define HIGHDENSITYWINDSAMPLES_H

#include "SampleBulletin.h"

#include <string>
#include <vector>

class HighDensityWindSamples {
public:
    static const int WINDS = 3000;

    struct Wind {
        double satellite = 0, method = 0, minute = 0, second = 0;
        double latitude = 0, longitude = 0, frequency = 0, pressure = 0;
        double direction = 0, speed = 0, cloudTemperature = 0, heightMethod = 0;
        double confidence = 0;    // NaN when the wind has none
    };

    // The first count winds, the same for the same count.
    static std::vector<Wind> winds(int count = WINDS);
    static std::string fileName(const SampleOptions& options);
    static bool encode(const std::vector<Wind>& winds, const SampleOptions& options,
                       SampleBulletin& out, std::string& error);
    static bool make(const SampleOptions& options, std::vector<SampleBulletin>& bulletins,
                     std::string& error);
};

#endif

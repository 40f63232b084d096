// Sample POES and GOES satellite sounding bulletins: three bulletins of
// each, every one a pass (POES, a satellite of its own each) or an hourly
// scan (GOES) with one sounding near each of a few sites of the data type's
// site list ("poesBufr.spi", "goesBufr.spi") and one south-east of the
// localization, which the decoders do not store.
//
// A POES sounding holds its time (year to second), the satellite and its
// instruments, the position (0 05 002 / 0 06 002), the height of the land
// surface, the surface pressure and temperature between two vertical
// significances (0 08 003), precipitable water, cloud cover and its levels
// of pressure (0 07 004), temperature and mixing ratio from 10 hPa down to
// the level above the surface.  A GOES sounding holds the satellite, the
// year and day of the year, the position (0 05 001 / 0 06 001), hour,
// minute and second, cloud cover, precipitable water, skin temperature, the
// surface temperature and dewpoint (after 0 08 003 and 0 02 054), and its
// levels of pressure (0 10 004), temperature, dewpoint and geopotential
// height from 0.1 hPa down.  The values follow the standard atmosphere,
// varied by place and bulletin, and stay inside the coding range of their
// elements.
//
// The bulletins are FM 94 BUFR edition 4 of originating centre 160, WMO
// elements only.
#ifndef SATELLITESOUNDINGSAMPLES_H
#define SATELLITESOUNDINGSAMPLES_H

#include "SampleBulletin.h"

#include <cstdint>
#include <string>
#include <vector>

class SatelliteSoundingSamples {
public:
    enum Kind { POES, GOES };
    static const int BULLETINS = 3;    // of each data type

    struct Site {
        int id = 0;
        double latitude = 0, longitude = 0;
    };

    struct Sounding {
        int site = 0;                  // the site it was made at; 0 outside the sites
        double latitude = 0, longitude = 0;
        int32_t time = 0;              // seconds since 1970, whole seconds
        int satellite = 0;
        double elevation = 0;          // m
        double surfacePressure = 0, surfaceTemperature = 0, surfaceDewpoint = 0;
        double skinTemperature = 0, precipitableWater = 0, cloudCover = 0;
        // In the order of the bulletin; moisture is the mixing ratio (POES,
        // kg/kg) or the dewpoint (GOES, K), height only for GOES.
        std::vector<double> pressure, temperature, moisture, height;
    };

    // The sites of a plot-info list ("id name latitude longitude ..." lines,
    // "//" comments); false with a reason when none can be read.
    static bool readSites(const std::string& path, std::vector<Site>& sites, std::string& error);
    // The soundings of bulletin b (0 to BULLETINS - 1), the same for the same
    // arguments: options.stations near sites (0: 6), then one outside.
    static std::vector<Sounding> soundings(Kind kind, const std::vector<Site>& sites,
                                           const SampleOptions& options, int b);
    static std::string fileName(Kind kind, int b, const SampleOptions& options);
    static bool encode(Kind kind, const std::vector<Sounding>& soundings,
                       const SampleOptions& options, int b, SampleBulletin& bulletin,
                       std::string& error);

    // Every bulletin of a data type; false with a reason.
    static bool make(Kind kind, const SampleOptions& options,
                     std::vector<SampleBulletin>& bulletins, std::string& error);
    static bool makePOES(const SampleOptions& options, std::vector<SampleBulletin>& bulletins,
                         std::string& error)
    {
        return make(POES, options, bulletins, error);
    }
    static bool makeGOES(const SampleOptions& options, std::vector<SampleBulletin>& bulletins,
                         std::string& error)
    {
        return make(GOES, options, bulletins, error);
    }
};

#endif

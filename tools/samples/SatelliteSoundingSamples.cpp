#include "SatelliteSoundingSamples.h"

#include "BufrWriter.h"
#include "standardAtmosphere.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {

const int FACTOR = 31001;
const int SIGNIFICANCE = 8003;

// The levels of the retrievals (hPa), from the top down.
const double POES_LEVELS[] = {10,  15,  20,  25,  30,  50,  60,  70,  85,  100,
                              115, 135, 150, 200, 250, 300, 350, 400, 430, 475,
                              500, 570, 620, 670, 700, 780, 850, 920, 950, 1000};
const double GOES_LEVELS[] = {0.1, 0.2, 0.5, 1,   1.5, 2,   3,   4,   5,   7,
                              10,  15,  20,  25,  30,  50,  60,  70,  85,  100,
                              115, 135, 150, 200, 250, 300, 350, 400, 430, 475,
                              500, 570, 620, 670, 700, 780, 850, 920, 950, 1000};
const int POES_SATELLITES[SatelliteSoundingSamples::BULLETINS] = {206, 209, 223};
const int GOES_SATELLITE = 270;

const std::vector<int> POES_DESCRIPTORS = {4001,  4002, 4003, 4004, 4005, 4006, 1007, 2019,
                                           2022,  8012, 5002, 6002, 10001, SIGNIFICANCE, 7004,
                                           12101, SIGNIFICANCE, 13016, 20010, 103000, FACTOR,
                                           7004,  12101, 13002};
const std::vector<int> GOES_DESCRIPTORS = {1007,  4001, 4043,  5001,  6001, 4004, 4005,
                                           4006,  20010, 13016, 12061, SIGNIFICANCE, 12101,
                                           2054,  12103, 104000, FACTOR, 10004, 12101, 12103,
                                           10009};

int32_t startOf(const SampleOptions& o)
{
    struct tm t = {};
    t.tm_year = o.year - 1900;
    t.tm_mon = o.month - 1;
    t.tm_mday = o.day;
    t.tm_hour = o.hour;
    return static_cast<int32_t>(timegm(&t));
}

// The time of bulletin b: POES passes 47 minutes apart from 5 past the
// hour, GOES scans on the hour.
int32_t bulletinTime(SatelliteSoundingSamples::Kind kind, const SampleOptions& o, int b)
{
    return startOf(o) + (kind == SatelliteSoundingSamples::POES ? 300 + 2820 * b : 3600 * b);
}

struct tm utc(int32_t seconds)
{
    const time_t t = seconds;
    struct tm parts;
    gmtime_r(&t, &parts);
    return parts;
}

// The standard atmosphere with the stratosphere warming from 20 km to the
// stratopause (47 to 51 km) and the mesosphere cooling above it.
double temperatureAt(double z)
{
    return standardTemperature(z) + 0.0019 * clamp(z - 20000.0, 0.0, 27000.0) -
           0.0028 * std::max(0.0, z - 51000.0);
}

} // namespace

bool SatelliteSoundingSamples::readSites(const std::string& path, std::vector<Site>& sites,
                                         std::string& error)
{
    std::ifstream in(path.c_str());
    if (!in) {
        error = "cannot read the site list " + path;
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 2, "//") == 0)
            continue;
        std::istringstream fields(line);
        Site s;
        std::string name;
        if (fields >> s.id >> name >> s.latitude >> s.longitude)
            sites.push_back(s);
    }
    if (sites.empty())
        error = "no site in " + path;
    return !sites.empty();
}

std::vector<SatelliteSoundingSamples::Sounding>
SatelliteSoundingSamples::soundings(Kind kind, const std::vector<Site>& sites,
                                    const SampleOptions& o, int b)
{
    std::vector<Sounding> list;
    const int wanted = o.stations > 0 ? o.stations : 6;
    const int32_t start = bulletinTime(kind, o, b);
    for (int k = 0; k <= wanted && !sites.empty(); ++k) {
        Sounding s;
        if (k < wanted) {
            const Site& site = sites[static_cast<size_t>(b * 17 + k * 29) % sites.size()];
            s.site = site.id;
            // Within a few kilometres of the site.
            s.latitude = site.latitude + 0.03 * (k % 3 - 1);
            s.longitude = site.longitude + 0.04 * ((k + b) % 3 - 1);
        } else {
            s.latitude = 31.5;
            s.longitude = -85.0 + b;
        }
        s.time = start + (kind == POES ? 9 : 23) * k;
        s.satellite = kind == POES ? POES_SATELLITES[b] : GOES_SATELLITE;
        const double lat = s.latitude, lon = s.longitude;
        s.elevation = std::round(150.0 + 45.0 * clamp(-90.0 - lon, 0.0, 15.0) +
                                 20.0 * std::sin(lat));
        s.surfacePressure = std::round(101325.0 * std::pow(1.0 - 2.25577e-5 * s.elevation,
                                                           5.25588) +
                                       300.0 * std::sin(lat / 3.0 + b));
        const double ps = s.surfacePressure;
        s.surfaceTemperature = standardTemperature(s.elevation) + 8.0 - 0.7 * (lat - 36.0);
        s.surfaceDewpoint = s.surfaceTemperature - 4.0 - 2.0 * std::cos(lon);
        s.skinTemperature = s.surfaceTemperature + 3.0;
        s.precipitableWater = std::round(clamp(30.0 - 0.8 * (lat - 36.0) + 3.0 * std::sin(lon),
                                               2.0, 100.0));
        s.cloudCover = std::round(clamp(40.0 + 30.0 * std::sin(lat * lon / 50.0 + b), 0.0, 100.0));
        const double* levels = kind == POES ? POES_LEVELS : GOES_LEVELS;
        const size_t n = kind == POES ? sizeof POES_LEVELS / sizeof *POES_LEVELS
                                      : sizeof GOES_LEVELS / sizeof *GOES_LEVELS;
        for (size_t i = 0; i < n; ++i) {
            const double p = 100.0 * levels[i];
            if (p >= ps)
                break;
            const double z = standardHeight(p);
            const double t = temperatureAt(z) - 0.6 * (lat - 36.0) * (p / ps) +
                             3.0 * bell(p, 85000.0, 10000.0) * std::sin(b + lon / 7.0);
            s.pressure.push_back(p);
            s.temperature.push_back(t);
            if (kind == POES) {
                const double es = saturationVapourPressure(t);
                s.moisture.push_back(
                    clamp(0.6 * 0.622 * es / std::max(p - es, 1.0) * (p / ps) * (p / ps), 0.0,
                          0.02));
            } else {
                s.moisture.push_back(t - 3.0 - 30.0 * std::pow(1.0 - p / ps, 1.5));
                s.height.push_back(std::round(z + 40.0 * std::sin(lon / 5.0 + p / 20000.0)));
            }
        }
        list.push_back(s);
    }
    return list;
}

std::string SatelliteSoundingSamples::fileName(Kind kind, int b, const SampleOptions& o)
{
    const struct tm t = utc(bulletinTime(kind, o, b));
    char name[64];
    std::snprintf(name, sizeof name, "%s%d_KNES_%04d%02d%02d%02d%02d",
                  kind == POES ? "IUTX0" : "IUSN4", b + 1, t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min);
    return name;
}

bool SatelliteSoundingSamples::encode(Kind kind, const std::vector<Sounding>& soundings,
                                      const SampleOptions& o, int b, SampleBulletin& bulletin,
                                      std::string& error)
{
    if (soundings.empty()) {
        error = "no sounding to encode";
        return false;
    }
    const struct tm start = utc(bulletinTime(kind, o, b));
    BufrWriter w(4, o.dataDir + "/bufrTableB");
    w.centre(160, 0).masterTableVersion(39, 0).category(3).observed(true);
    w.dateTime(start.tm_year + 1900, start.tm_mon + 1, start.tm_mday, start.tm_hour,
               start.tm_min, start.tm_sec);
    w.subsets(static_cast<int>(soundings.size()));
    w.descriptors(kind == POES ? POES_DESCRIPTORS : GOES_DESCRIPTORS);
    for (const Sounding& s : soundings) {
        const struct tm t = utc(s.time);
        const size_t n = s.pressure.size();
        if (kind == POES) {
            w.element(4001, t.tm_year + 1900).element(4002, t.tm_mon + 1).element(4003, t.tm_mday);
            w.element(4004, t.tm_hour).element(4005, t.tm_min).element(4006, t.tm_sec);
            w.element(1007, s.satellite).element(2019, 605).element(2022, 0).element(8012, 0);
            w.element(5002, s.latitude).element(6002, s.longitude).element(10001, s.elevation);
            w.element(SIGNIFICANCE, 0).element(7004, s.surfacePressure);
            w.element(12101, s.surfaceTemperature).missing(SIGNIFICANCE);
            w.element(13016, s.precipitableWater).element(20010, s.cloudCover);
            w.factor(FACTOR, static_cast<unsigned>(n));
            for (size_t k = 0; k < n; ++k)
                w.element(7004, s.pressure[k]).element(12101, s.temperature[k])
                    .element(13002, s.moisture[k]);
        } else {
            w.element(1007, s.satellite).element(4001, t.tm_year + 1900)
                .element(4043, t.tm_yday + 1);
            w.element(5001, s.latitude).element(6001, s.longitude);
            w.element(4004, t.tm_hour).element(4005, t.tm_min).element(4006, t.tm_sec);
            w.element(20010, s.cloudCover).element(13016, s.precipitableWater);
            w.element(12061, s.skinTemperature).element(SIGNIFICANCE, 0);
            w.element(12101, s.surfaceTemperature).element(2054, 1);
            w.element(12103, s.surfaceDewpoint);
            w.factor(FACTOR, static_cast<unsigned>(n));
            for (size_t k = 0; k < n; ++k)
                w.element(10004, s.pressure[k]).element(12101, s.temperature[k])
                    .element(12103, s.moisture[k]).element(10009, s.height[k]);
        }
    }
    const BufrWriter::Bytes message = w.build();
    if (!w.ok()) {
        error = "cannot encode " + fileName(kind, b, o) + ": " + w.error();
        return false;
    }
    char heading[32];
    std::snprintf(heading, sizeof heading, "%s%d KNES %02d%02d%02d\r\r\n",
                  kind == POES ? "IUTX0" : "IUSN4", b + 1, start.tm_mday, start.tm_hour,
                  start.tm_min);
    bulletin.name = fileName(kind, b, o);
    bulletin.bytes = BufrWriter::withHeader(heading, message);
    return true;
}

bool SatelliteSoundingSamples::make(Kind kind, const SampleOptions& o,
                                    std::vector<SampleBulletin>& bulletins, std::string& error)
{
    std::vector<Site> sites;
    if (!readSites(o.dataDir + (kind == POES ? "/poesBufr.spi" : "/goesBufr.spi"), sites, error))
        return false;
    for (int b = 0; b < BULLETINS; ++b) {
        SampleBulletin bulletin;
        if (!encode(kind, soundings(kind, sites, o, b), o, b, bulletin, error))
            return false;
        bulletins.push_back(bulletin);
    }
    return true;
}

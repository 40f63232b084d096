#include "AcarsSamples.h"

#include "BufrWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const double PI = 3.14159265358979323846;

struct Aircraft {
    const char* tail;
    const char* flight;
    const char* station;
    double fromLat, fromLon, toLat, toLon;
};

const Aircraft AIRCRAFT[AcarsSamples::REPORTS] = {
    {"N512UA", "UAL512", "DEN", 39.86, -104.67, 41.98, -87.90},
    {"N38HA", "HAL38", "LAX", 33.94, -118.41, 21.32, -157.92},
    {"N901DL", "DAL901", "ATL", 33.64, -84.43, 40.64, -73.78},
    {"N7734A", "AAL1778", "DFW", 32.90, -97.04, 47.45, -122.31},
    {"C-FRAU", "ACA855", "YYZ", 43.68, -79.63, 49.19, -123.18},
    {"N417FX", "FDX417", "MEM", 35.04, -89.98, 39.05, -84.66},
    {"N226WN", "SWA226", "PHX", 33.43, -112.01, 36.08, -115.15},
    {"N615JB", "JBU615", "BOS", 42.36, -71.01, 26.07, -80.15},
};

} // namespace

const std::vector<int>& AcarsSamples::descriptors()
{
    static const std::vector<int> list = {1008, 1006, 2061, 2062, 2065, 4001,  4002,  4003,
                                          4004, 4005, 4006, 5001, 6001, 8004,  7010,  12101,
                                          11001, 11002, 11031, 13003};
    return list;
}

std::vector<AcarsSamples::Report> AcarsSamples::reports(int bulletin)
{
    std::vector<Report> list;
    for (int a = 0; a < REPORTS; ++a) {
        const Aircraft& craft = AIRCRAFT[a];
        Report r;
        r.tail = craft.tail;
        r.flight = craft.flight;
        r.station = craft.station;
        r.minute = 5 * bulletin + a % 5;
        r.second = (17 * a + 23 * bulletin) % 60;
        // Where the aircraft is on its track: a third of the way at the
        // first bulletin, a little further at each.
        const double f = 0.3 + 0.05 * bulletin + 0.02 * a;
        r.latitude = std::round((craft.fromLat + f * (craft.toLat - craft.fromLat)) * 1e5) / 1e5;
        r.longitude = std::round((craft.fromLon + f * (craft.toLon - craft.fromLon)) * 1e5) / 1e5;
        r.navigation = a % 2;
        r.relay = a % 3 == 0 ? 2 : 1;
        const bool climbing = a == 5 && bulletin < 2;
        r.phase = climbing ? 5 : 3;    // 3 level flight, 5 ascending
        r.flightLevel = climbing ? 5000.0 + 2000.0 * bulletin : 10000.0 + 300.0 * (a % 4);
        const double standard = 288.15 - 0.0065 * std::min(r.flightLevel, 11000.0);
        r.temperature = std::round((standard + 3.0 * std::sin(a + bulletin)) * 100.0) / 100.0;
        r.windDirection = std::fmod(250.0 + 15.0 * a + 5.0 * bulletin, 360.0);
        r.windSpeed = std::round((25.0 + 10.0 * std::cos(PI * a / 4.0) + bulletin) * 10.0) / 10.0;
        r.turbulence = a == 2 ? 1 : 0;
        r.humidity = a % 3 == 1 ? NAN : a == 4 ? 0.0 : 20.0 + 5.0 * a + bulletin;
        list.push_back(r);
    }
    return list;
}

std::string AcarsSamples::fileName(int bulletin, const SampleOptions& o)
{
    char name[64];
    std::snprintf(name, sizeof name, "IUAX0%d_KWBC_%04d%02d%02d%02d%02d", 1 + bulletin % 2,
                  o.year, o.month, o.day, o.hour, 5 * bulletin);
    return name;
}

bool AcarsSamples::encode(const std::vector<Report>& reports, int bulletin,
                          const SampleOptions& o, SampleBulletin& out, std::string& error)
{
    if (reports.empty()) {
        error = "no report to encode";
        return false;
    }
    BufrWriter w(4, o.dataDir + "/bufrTableB");
    w.centre(7, 0).category(4).dateTime(o.year, o.month, o.day, o.hour, 5 * bulletin);
    w.subsets(static_cast<int>(reports.size())).descriptors(descriptors());
    for (const Report& r : reports) {
        w.chars(1008, r.tail).chars(1006, r.flight).element(2061, r.navigation);
        w.element(2062, r.relay).chars(2065, r.station);
        w.element(4001, o.year).element(4002, o.month).element(4003, o.day);
        w.element(4004, o.hour).element(4005, r.minute).element(4006, r.second);
        w.element(5001, r.latitude).element(6001, r.longitude).element(8004, r.phase);
        w.element(7010, r.flightLevel).element(12101, r.temperature);
        w.element(11001, r.windDirection).element(11002, r.windSpeed);
        w.element(11031, r.turbulence).element(13003, r.humidity);
    }
    const BufrWriter::Bytes message = w.build();
    if (!w.ok()) {
        error = "cannot encode " + fileName(bulletin, o) + ": " + w.error();
        return false;
    }
    char heading[32];
    std::snprintf(heading, sizeof heading, "IUAX0%d KWBC %02d%02d%02d\r\r\n", 1 + bulletin % 2,
                  o.day, o.hour, 5 * bulletin);
    out.name = fileName(bulletin, o);
    out.bytes = BufrWriter::withHeader(heading, message);
    return true;
}

bool AcarsSamples::make(const SampleOptions& o, std::vector<SampleBulletin>& bulletins,
                        std::string& error)
{
    for (int b = 0; b < BULLETINS; ++b) {
        SampleBulletin bulletin;
        if (!encode(reports(b), b, o, bulletin, error))
            return false;
        bulletins.push_back(bulletin);
    }
    return true;
}

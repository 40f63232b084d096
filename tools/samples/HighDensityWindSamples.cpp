#include "HighDensityWindSamples.h"

#include "CompressedSample.h"

#include <cmath>
#include <cstdio>

namespace {

const double PI = 3.14159265358979323846;
// Centre frequencies (Hz) of the infrared window, water vapour and visible
// channels.
const double CHANNELS[3] = {2.8e13, 4.84e13, 4.68e14};

} // namespace

std::vector<HighDensityWindSamples::Wind> HighDensityWindSamples::winds(int count)
{
    std::vector<Wind> list;
    for (int k = 0; k < count; ++k) {
        Wind w;
        const bool east = k % 2 == 0;
        w.satellite = east ? 270 : 272;
        // A grid of 1.5 degrees from 60 S to 60 N over each satellite's disk.
        const int cell = k / 2;
        const double lat = -60.0 + 1.5 * (cell % 81);
        const double lon = (east ? -115.0 : -175.0) + 1.5 * (cell / 81 % 60);
        w.latitude = std::round(lat * 1e3) / 1e3;
        w.longitude = std::round((lon > 180.0 ? lon - 360.0 : lon) * 1e3) / 1e3;
        const int channel = k % 7 == 0 ? 2 : k % 3 == 0 ? 1 : 0;
        w.method = channel == 1 ? 2 : channel == 2 ? 3 : 1;
        w.frequency = CHANNELS[channel];
        w.minute = (cell / 81) % 59;
        w.second = (13 * k) % 60;
        // Low clouds for the visible channel, high ones for water vapour.
        const double level = channel == 2 ? 0.85 : channel == 1 ? 0.3 : 0.2 + 0.6 * (k % 5) / 4.0;
        w.pressure = std::round(100000.0 * level / 10.0) * 10.0;
        const double jet = std::exp(-std::pow((std::fabs(lat) - 35.0) / 10.0, 2)) *
                           (1.0 - std::fabs(level - 0.25));
        w.speed = std::round((5.0 + 45.0 * jet + 3.0 * std::sin(k * 0.7)) * 10.0) / 10.0;
        w.direction = std::fmod(std::round(630.0 + 25.0 * std::sin(lat * PI / 30.0)), 360.0);
        w.cloudTemperature = std::round((290.0 - 75.0 * (1.0 - level)) * 10.0) / 10.0;
        w.heightMethod = channel == 1 ? 2 : 1;
        w.confidence = k % 11 == 0 ? NAN : 60 + (k * 7) % 40;
        list.push_back(w);
    }
    return list;
}

std::string HighDensityWindSamples::fileName(const SampleOptions& o)
{
    char name[64];
    std::snprintf(name, sizeof name, "IUCN01_KNES_%04d%02d%02d%02d00", o.year, o.month, o.day,
                  o.hour);
    return name;
}

bool HighDensityWindSamples::encode(const std::vector<Wind>& winds, const SampleOptions& o,
                                    SampleBulletin& out, std::string& error)
{
    const std::vector<SampleColumn<Wind>> columns = {
        {1007, &Wind::satellite, 0},
        {2023, &Wind::method, 0},
        {4001, nullptr, static_cast<double>(o.year)},
        {4002, nullptr, static_cast<double>(o.month)},
        {4003, nullptr, static_cast<double>(o.day)},
        {4004, nullptr, static_cast<double>(o.hour)},
        {4005, &Wind::minute, 0},
        {4006, &Wind::second, 0},
        {5001, &Wind::latitude, 0},
        {6001, &Wind::longitude, 0},
        {2153, &Wind::frequency, 0},
        {7004, &Wind::pressure, 0},
        {11001, &Wind::direction, 0},
        {11002, &Wind::speed, 0},
        {12071, &Wind::cloudTemperature, 0},
        {2163, &Wind::heightMethod, 0},
        {33007, &Wind::confidence, 0}};
    char heading[32];
    std::snprintf(heading, sizeof heading, "IUCN01 KNES %02d%02d00\r\r\n", o.day, o.hour);
    return encodeCompressed(winds, columns, 5, o, heading, fileName(o), out, error);
}

bool HighDensityWindSamples::make(const SampleOptions& o, std::vector<SampleBulletin>& bulletins,
                                  std::string& error)
{
    SampleBulletin bulletin;
    if (!encode(winds(), o, bulletin, error))
        return false;
    bulletins.push_back(bulletin);
    return true;
}

#include "QuikScatSamples.h"

#include "CompressedSample.h"

#include <cmath>
#include <cstdio>

std::vector<QuikScatSamples::Cell> QuikScatSamples::cells(int count)
{
    std::vector<QuikScatSamples::Cell> list;
    for (int k = 0; k < count; ++k) {
        Cell c;
        c.satellite = SATELLITE;
        // Rows of 24 cells across the swath, a row every 30 seconds from
        // 40 S northward; the orbit number changes halfway.
        const int row = k / 24, across = k % 24;
        c.orbit = ORBIT + (row >= 25 ? 1 : 0);
        const int seconds = 30 * row;
        c.minute = seconds / 60 % 60;
        c.second = seconds % 60;
        c.latitude = std::round((-40.0 + 0.25 * row) * 100.0) / 100.0;
        c.longitude = std::round((-160.0 + 0.25 * across - 0.05 * row) * 100.0) / 100.0;
        const bool rain = row % 10 >= 7 && across >= 8 && across < 16;
        c.quality = k % 37 == 0 ? NAN : rain ? 8192 : 0;
        c.ambiguities = 1 + k % 4;
        c.rainProbability = rain ? 0.65 : 0.02;
        c.nofRainIndex = rain ? 40 : 0;
        c.speed = std::round((7.0 + 5.0 * std::sin(row * 0.1) + 0.1 * across) * 10.0) / 10.0;
        c.direction = std::fmod(90.0 + 3.0 * row + 2.0 * across, 360.0);
        c.likelihood = std::round((-1.0 - 0.05 * (k % 20)) * 1000.0) / 1000.0;
        list.push_back(c);
    }
    return list;
}

int QuikScatSamples::rainIndex(const Cell& cell)
{
    return std::isnan(cell.quality) ? 0 : 1;
}

std::string QuikScatSamples::fileName(const SampleOptions& o)
{
    char name[64];
    std::snprintf(name, sizeof name, "ISXX01_KNES_%04d%02d%02d%02d00", o.year, o.month, o.day,
                  o.hour);
    return name;
}

bool QuikScatSamples::encode(const std::vector<Cell>& cells, const SampleOptions& o,
                             SampleBulletin& out, std::string& error)
{
    const std::vector<SampleColumn<Cell>> columns = {
        {1007, &Cell::satellite, 0},
        {5040, &Cell::orbit, 0},
        {4001, nullptr, static_cast<double>(o.year)},
        {4002, nullptr, static_cast<double>(o.month)},
        {4003, nullptr, static_cast<double>(o.day)},
        {4004, nullptr, static_cast<double>(o.hour)},
        {4005, &Cell::minute, 0},
        {4006, &Cell::second, 0},
        {5002, &Cell::latitude, 0},
        {6002, &Cell::longitude, 0},
        {21109, &Cell::quality, 0},
        {21101, &Cell::ambiguities, 0},
        {21120, &Cell::rainProbability, 0},
        {21121, &Cell::nofRainIndex, 0},
        {11012, &Cell::speed, 0},
        {11011, &Cell::direction, 0},
        {21104, &Cell::likelihood, 0}};
    char heading[32];
    std::snprintf(heading, sizeof heading, "ISXX01 KNES %02d%02d00\r\r\n", o.day, o.hour);
    return encodeCompressed(cells, columns, 12, o, heading, fileName(o), out, error);
}

bool QuikScatSamples::make(const SampleOptions& o, std::vector<SampleBulletin>& bulletins,
                           std::string& error)
{
    SampleBulletin bulletin;
    if (!encode(cells(), o, bulletin, error))
        return false;
    bulletins.push_back(bulletin);
    return true;
}

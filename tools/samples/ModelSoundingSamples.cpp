#include "ModelSoundingSamples.h"

#include "BufrWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

const double PI = 3.14159265358979323846;
const double TOP_PRESSURE = 10000.0;   // Pa: the profiles end at 100 hPa

const int STATION_ID = 1198;           // 0 01 198 report identifier (local)
const int STATION_NUMBER = 1211;       // 0 01 211 station number, 6 digits (local)
const int LATITUDE = 5002;
const int LONGITUDE = 6002;
const int ELEVATION = 7001;
const int FORECAST_TIME = 4194;        // 0 04 194 forecast time, s (local)
const int SEA_LEVEL_PRESSURE = 10051;
const int PRECIPITABLE_WATER = 13016;
const int FACTOR = 31001;

// Height (m) of a pressure (Pa) in the standard atmosphere, and its
// temperature (K).
double standardHeight(double p)
{
    if (p >= 22632.1)
        return 288.15 / 0.0065 * (1.0 - std::pow(p / 101325.0, 0.190263));
    return 11000.0 + 216.65 * 287.05 / 9.80665 * std::log(22632.1 / p);
}

double standardTemperature(double z)
{
    return z < 11000.0 ? 288.15 - 0.0065 * z : 216.65;
}

// Saturation specific humidity (kg/kg) over water.
double saturationHumidity(double t, double p)
{
    const double es = 611.2 * std::exp(17.67 * (t - 273.15) / (t - 29.65));
    return 0.622 * es / std::max(p - 0.378 * es, 1.0);
}

double bell(double x, double centre, double width)
{
    const double d = (x - centre) / width;
    return std::exp(-d * d);
}

double clamp(double v, double lo, double hi)
{
    return std::min(hi, std::max(lo, v));
}

} // namespace

const int ModelSoundingSamples::ATMOSPHERIC_ELEMENTS[NUM_ATMOSPHERIC] = {
    7004, 12101, 11003, 11004, 13001, 11005, 13239,
    12221, 12222, 14194, 14195, 20198, 11193, 13244};
const int ModelSoundingSamples::SOIL_ELEMENTS[NUM_SOIL] = {13226, 12198};
const char* const ModelSoundingSamples::MODELS[4] = {"ETA", "RUC", "AVN", "NGM"};

bool ModelSoundingSamples::readStations(const std::string& path, std::vector<Station>& stations,
                                        std::string& error)
{
    std::ifstream in(path.c_str());
    if (!in) {
        error = "cannot read the station table " + path;
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');)
            f.push_back(field);
        if (f.size() < 6)
            continue;
        Station s;
        s.number = std::atoi(f[0].c_str());
        s.id = f[1].substr(0, f[1].find_last_not_of(" \r") + 1);
        s.latitude = std::atof(f[3].c_str());
        s.longitude = std::atof(f[4].c_str());
        s.elevation = std::atof(f[5].c_str());
        stations.push_back(s);
    }
    if (stations.empty())
        error = "no station with position and elevation in " + path;
    return !stations.empty();
}

int ModelSoundingSamples::levelCount(int model)
{
    static const int counts[4] = {45, 40, 50, 35};
    return counts[model];
}

int ModelSoundingSamples::soilLayerCount(int model)
{
    static const int counts[4] = {4, 4, 2, 2};
    return counts[model];
}

ModelSoundingSamples::Sounding ModelSoundingSamples::sounding(const Station& station, int model,
                                                              int forecastHour)
{
    Sounding s;
    s.station = station;
    s.model = model;
    s.forecastHour = forecastHour;
    const double h = forecastHour;
    const double lat = station.latitude, lon = station.longitude;
    // Local solar hour of the valid time of a 12 UTC run.
    const double solar = std::fmod(12.0 + h + lon / 15.0 + 48.0, 24.0);
    const double day = std::max(0.0, std::cos(2 * PI * (solar - 12.0) / 24.0));
    const double modelBias[4] = {0.0, 0.3, -0.2, 0.5};

    const double ps = 101325.0 * std::pow(1.0 - 2.25577e-5 * station.elevation, 5.25588) +
                      300.0 * std::sin(2 * PI * h / 36.0 + lat / 10.0);
    const int n = levelCount(model);
    double surfaceTemperature = 0;
    for (int k = 0; k < n; ++k) {
        const double p = ps - (ps - TOP_PRESSURE) * k / (n - 1);
        const double z = standardHeight(p);
        const double nearGround = std::exp(-(z - station.elevation) / 1500.0);
        const double t = standardTemperature(z) - 0.6 * (lat - 35.0) * (p / ps) +
                         4.0 * (day - 0.4) * nearGround + modelBias[model];
        if (k == 0)
            surfaceTemperature = t;
        const double sigma = p / ps;
        const double values[NUM_ATMOSPHERIC] = {
            p,
            t,
            5.0 + 30.0 * bell(p, 25000.0, 12000.0) * std::cos(lat * PI / 180.0) +
                2.0 * std::sin(h / 8.0 + k / 5.0),
            3.0 * std::sin(PI * sigma + h / 10.0 + lon / 30.0),
            clamp(0.7 * saturationHumidity(t, p) * std::pow(sigma, 1.5), 0.0, 0.025),
            0.3 * std::sin(2 * PI * sigma + h / 6.0),
            1.0e-4 * bell(p, 80000.0, 8000.0),
            2.0e-5 * bell(p, 60000.0, 15000.0) * std::max(0.0, std::sin(h / 6.0)),
            1.0e-5 * bell(p, 70000.0, 10000.0),
            2.0e-5 * day * sigma,
            -2.0e-5 * (0.5 + 0.5 * sigma),
            std::round(80.0 * bell(p, 80000.0, 8000.0) * (0.5 + 0.5 * std::sin(h / 5.0 + lat))),
            clamp(2.0 * std::exp(-(ps - p) / 5000.0) * (0.5 + day), 0.0, 50.0),
            5.0e-5 * bell(p, 35000.0, 8000.0)};
        for (int v = 0; v < NUM_ATMOSPHERIC; ++v)
            s.levels[v].push_back(values[v]);
    }
    for (int layer = 0; layer < soilLayerCount(model); ++layer) {
        s.soil[0].push_back(0.25 + 0.03 * layer + 0.02 * std::sin(station.number / 1000.0));
        s.soil[1].push_back(surfaceTemperature + (284.0 - surfaceTemperature) * (layer + 1) / 4.0);
    }
    s.seaLevelPressure = 101325.0 + 800.0 * std::sin(lat / 10.0 + 2 * PI * h / 48.0);
    s.precipitableWater = std::round(clamp(45.0 - 0.8 * (lat - 25.0) + 5.0 * day, 2.0, 100.0));
    return s;
}

std::string ModelSoundingSamples::fileName(int model, int forecastHour,
                                           const SampleOptions& o)
{
    char name[64];
    std::snprintf(name, sizeof name, "JUSA%d1_KWBC_%04d%02d%02d%02d_f%03d", 4 + model, o.year,
                  o.month, o.day, o.hour, forecastHour);
    return name;
}

bool ModelSoundingSamples::encode(const std::vector<Sounding>& soundings, const SampleOptions& o,
                                  SampleBulletin& bulletin, std::string& error)
{
    if (soundings.empty()) {
        error = "no sounding to encode";
        return false;
    }
    const Sounding& first = soundings.front();
    BufrWriter w(3, o.dataDir + "/bufrTableB");
    w.centre(7, 0).masterTableVersion(39, 1).category(2).observed(false);
    w.dateTime(o.year, o.month, o.day, o.hour, 0).subsets(static_cast<int>(soundings.size()));
    std::vector<int> descriptors = {STATION_ID, STATION_NUMBER, LATITUDE, LONGITUDE,
                                    ELEVATION, FORECAST_TIME, SEA_LEVEL_PRESSURE,
                                    PRECIPITABLE_WATER, 100000 + NUM_ATMOSPHERIC * 1000, FACTOR};
    descriptors.insert(descriptors.end(), ATMOSPHERIC_ELEMENTS,
                       ATMOSPHERIC_ELEMENTS + NUM_ATMOSPHERIC);
    descriptors.push_back(100000 + NUM_SOIL * 1000);
    descriptors.push_back(FACTOR);
    descriptors.insert(descriptors.end(), SOIL_ELEMENTS, SOIL_ELEMENTS + NUM_SOIL);
    w.descriptors(descriptors);
    for (const Sounding& s : soundings) {
        w.chars(STATION_ID, s.station.id)
            .element(STATION_NUMBER, s.station.number)
            .element(LATITUDE, s.station.latitude)
            .element(LONGITUDE, s.station.longitude)
            .element(ELEVATION, s.station.elevation)
            .element(FORECAST_TIME, s.forecastHour * 3600.0)
            .element(SEA_LEVEL_PRESSURE, s.seaLevelPressure)
            .element(PRECIPITABLE_WATER, s.precipitableWater);
        const size_t n = s.levels[0].size();
        w.factor(FACTOR, static_cast<unsigned>(n));
        for (size_t k = 0; k < n; ++k)
            for (int v = 0; v < NUM_ATMOSPHERIC; ++v)
                w.element(ATMOSPHERIC_ELEMENTS[v], s.levels[v][k]);
        const size_t layers = s.soil[0].size();
        w.factor(FACTOR, static_cast<unsigned>(layers));
        for (size_t k = 0; k < layers; ++k)
            for (int v = 0; v < NUM_SOIL; ++v)
                w.element(SOIL_ELEMENTS[v], s.soil[v][k]);
    }
    const BufrWriter::Bytes message = w.build();
    if (!w.ok()) {
        error = "cannot encode " + fileName(first.model, first.forecastHour, o) + ": " + w.error();
        return false;
    }
    char heading[32];
    std::snprintf(heading, sizeof heading, "JUSA%d1 KWBC %02d%02d00\r\r\n", 4 + first.model,
                  o.day, o.hour);
    bulletin.name = fileName(first.model, first.forecastHour, o);
    bulletin.bytes = BufrWriter::withHeader(heading, message);
    return true;
}

bool ModelSoundingSamples::make(const SampleOptions& o, std::vector<SampleBulletin>& bulletins,
                                std::string& error)
{
    std::vector<Station> stations;
    if (!readStations(o.dataDir + "/modelBufrStationInfo.txt", stations, error))
        return false;
    if (o.stations > 0 && static_cast<size_t>(o.stations) < stations.size())
        stations.resize(static_cast<size_t>(o.stations));
    for (int model = 0; model < 4; ++model) {
        for (int f = 0; f < FORECAST_HOURS; ++f) {
            std::vector<Sounding> soundings;
            for (const Station& station : stations)
                soundings.push_back(sounding(station, model, 3 * f));
            SampleBulletin bulletin;
            if (!encode(soundings, o, bulletin, error))
                return false;
            bulletins.push_back(bulletin);
        }
    }
    return true;
}

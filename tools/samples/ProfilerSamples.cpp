#include "ProfilerSamples.h"

#include "BufrWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const double PI = 3.14159265358979323846;
const int FACTOR = 31001;

double rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

} // namespace

// Height, mode, quality flags, u/v consensus, u, v, w, horizontal speed
// deviation, signal-to-noise ratio, w consensus, vertical speed deviation.
const int ProfilerSamples::PROFILE[NUM_QUANTITIES] = {7007,  25032, 25034, 8022,  11003, 11004,
                                                      11006, 11050, 21030, 8049,  11051};

const std::vector<ProfilerSamples::Station>& ProfilerSamples::stations()
{
    static const std::vector<Station> all = {
        {74, 357, NPN, 40.18, -104.73, 1524}, {74, 431, NPN, 37.29, -95.61, 248},
        {74, 445, NPN, 38.30, -97.30, 447},   {74, 541, NPN, 41.05, -100.77, 860},
        {74, 648, NPN, 35.26, -97.48, 357},   {74, 773, NPN, 32.41, -100.03, 521},
        {74, 912, CAP, 39.99, -105.26, 1689}, {74, 916, CAP, 36.61, -97.49, 315},
        {74, 922, CAP, 34.72, -86.65, 196},   {74, 928, CAP, 38.95, -77.45, 86},
    };
    return all;
}

ProfilerSamples::Profile ProfilerSamples::profile(const Station& station, int hour)
{
    Profile p;
    p.station = station;
    p.hour = hour;
    // NPN: 36 low-mode gates from 500 m every 250 m, 36 high-mode gates from
    // 7500 m; CAP: 30 low-mode gates from 120 m every 60 m, 30 high-mode
    // gates from 400 m every 100 m.  Heights above ground.
    const bool npn = station.network == NPN;
    const int gates = npn ? 36 : 30;
    const double lowBase = npn ? 500 : 120, lowStep = npn ? 250 : 60;
    const double highBase = npn ? 7500 : 400, highStep = npn ? 250 : 100;
    const double top = npn ? 14000 + 500 * std::sin(station.number) : 3000;
    const double h = hour;
    for (int k = 0; k < 2 * gates; ++k) {
        const bool low = k < gates;
        const double agl = low ? lowBase + lowStep * k : highBase + highStep * (k - gates);
        const bool lost = agl > top;
        const double speed = 4.0 + 20.0 * std::min(agl, 12000.0) / 12000.0 +
                             3.0 * std::sin(h / 4.0 + station.latitude);
        const double direction = (230.0 + 40.0 * agl / 16000.0 + 10.0 * std::sin(station.longitude)) *
                                 PI / 180.0;
        const double missing = BufrWriter::missingValue();
        const double values[NUM_QUANTITIES] = {
            std::round(station.elevation + agl),
            low ? 1.0 : 0.0,
            lost ? 2.0 : 0.0,
            lost ? 0.0 : 6.0 + k % 5,
            lost ? missing : rounded(-speed * std::sin(direction), 1),
            lost ? missing : rounded(-speed * std::cos(direction), 1),
            lost ? missing : rounded(0.3 * std::sin(agl / 1500.0 + h), 2),
            lost ? missing : rounded(0.8 + agl / 8000.0, 1),
            std::round(25.0 - agl / 600.0 + 3.0 * std::cos(h)),
            lost ? 0.0 : 4.0 + k % 3,
            lost ? missing : rounded(0.2 + 0.1 * (k % 4), 1)};
        for (int q = 0; q < NUM_QUANTITIES; ++q)
            p.levels[q].push_back(values[q]);
    }
    return p;
}

std::string ProfilerSamples::fileName(int designator, int hour, const SampleOptions& o)
{
    char name[64];
    std::snprintf(name, sizeof name, "IUPT4%d_KBOU_%04d%02d%02d%02d00", designator, o.year,
                  o.month, o.day, hour);
    return name;
}

bool ProfilerSamples::encode(const std::vector<Profile>& profiles, int designator,
                             const SampleOptions& o, SampleBulletin& bulletin, std::string& error)
{
    if (profiles.empty()) {
        error = "no profile to encode";
        return false;
    }
    const int hour = profiles.front().hour;
    BufrWriter w(4, o.dataDir + "/bufrTableB");
    w.centre(59, 0).category(2).dateTime(o.year, o.month, o.day, hour, 0);
    w.subsets(static_cast<int>(profiles.size()));
    std::vector<int> descriptors = {1001, 1002, 301011, 301012, 301021, 7030, 2003, 4025, 2121,
                                    100000 + NUM_QUANTITIES * 1000, FACTOR};
    descriptors.insert(descriptors.end(), PROFILE, PROFILE + NUM_QUANTITIES);
    w.descriptors(descriptors);
    for (const Profile& p : profiles) {
        const Station& s = p.station;
        w.element(1001, s.block).element(1002, s.number);
        w.element(4001, o.year).element(4002, o.month).element(4003, o.day);
        w.element(4004, p.hour).element(4005, 0);
        w.element(5001, s.latitude).element(6001, s.longitude).element(7030, s.elevation);
        // A wind profiler, hourly averages, 404 or 915 MHz (to 100 MHz).
        w.element(2003, 6).element(4025, -60).element(2121, s.network == NPN ? 4e8 : 9e8);
        w.factor(FACTOR, static_cast<unsigned>(p.levelCount()));
        for (int k = 0; k < p.levelCount(); ++k)
            for (int q = 0; q < NUM_QUANTITIES; ++q)
                w.element(PROFILE[q], p.levels[q][static_cast<size_t>(k)]);
    }
    const BufrWriter::Bytes message = w.build();
    if (!w.ok()) {
        error = "cannot encode " + fileName(designator, hour, o) + ": " + w.error();
        return false;
    }
    char heading[32];
    std::snprintf(heading, sizeof heading, "IUPT4%d KBOU %02d%02d00\r\r\n", designator, o.day,
                  hour);
    bulletin.name = fileName(designator, hour, o);
    bulletin.bytes = BufrWriter::withHeader(heading, message);
    return true;
}

bool ProfilerSamples::make(const SampleOptions& o, std::vector<SampleBulletin>& bulletins,
                           std::string& error)
{
    std::vector<Station> npn, cap[2];
    int capStations = 0;
    for (const Station& s : stations()) {
        std::vector<Station>& list = s.network == NPN ? npn : cap[capStations++ % 2];
        if (o.stations <= 0 || static_cast<int>(list.size()) < o.stations)
            list.push_back(s);
    }
    // NPN: the three hours up to the options' hour; CAP: that hour, its
    // stations split between designators 0 and 6.
    struct Batch {
        const std::vector<Station>* stations;
        int designator, hour;
    };
    std::vector<Batch> batches;
    for (int hour = std::max(0, o.hour - 2); hour <= o.hour; ++hour)
        batches.push_back({&npn, 3, hour});
    batches.push_back({&cap[0], 0, o.hour});
    batches.push_back({&cap[1], 6, o.hour});
    for (const Batch& b : batches) {
        std::vector<Profile> profiles;
        for (const Station& s : *b.stations)
            profiles.push_back(profile(s, b.hour));
        SampleBulletin bulletin;
        if (!encode(profiles, b.designator, o, bulletin, error))
            return false;
        bulletins.push_back(bulletin);
    }
    return true;
}

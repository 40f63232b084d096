// Model soundings in the forms the WMO tables allow them, through the
// decoder process: bulletins of the test's own encoder (edition 3, centre 7
// with its local elements) in each form, stored by one process, and every
// value each bulletin gives compared with what its record holds.  A value
// the record lacks or holds elsewhere fails the test unless a PROBLEM line
// names it and its bulletin is set aside; a value the store has no place
// for must be named so.
#include "../DecoderInstallation.h"
#include "BufrWriter.h"
#include "BulletinLog.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

const double MISSING = -99999.0;

// The scale of each element of the project's table B (what the encoder
// codes with).
int tableScale(int descriptor)
{
    static const std::map<int, int> scales = [] {
        std::map<int, int> m;
        std::ifstream in(std::string(QEV_SOURCE_DIR) + "/data/bufrTableB");
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> f;
            std::stringstream fields(line);
            for (std::string field; std::getline(fields, field, '|');)
                f.push_back(field);
            if (f.size() == 6)
                m[std::stoi(f[0])] = std::stoi(f[3]);
        }
        return m;
    }();
    return scales.at(descriptor);
}

// One item of a sounding's data, in data order, and where the store keeps
// its value.
struct Item {
    enum Kind { ELEMENT, TEXT, FACTOR, OPERATOR } kind;
    int descriptor;
    double value;
    std::string text;
    // CHECKED: the value is in `variable` (at `level`, -1 for a variable of
    // one value per record); UNHELD: the store has no place for it, so a
    // PROBLEM line names it; PLAIN: not compared (qualifiers, counts).
    enum Use { CHECKED, UNHELD, PLAIN } use;
    const char* variable;
    int level;
    // What the record holds of it where that is not the value (a value of
    // another form converted); NaN: the value.
    double held = std::nan("");
};

Item v(int d, double value, const char* variable, int level = -1)
{
    return {Item::ELEMENT, d, value, "", Item::CHECKED, variable, level};
}
// A station's value in another form of its variable's quantity: held
// converted.
Item converted(int d, double value, const char* variable, double held)
{
    Item i = v(d, value, variable);
    i.held = held;
    return i;
}
Item unheld(int d, double value)
{
    return {Item::ELEMENT, d, value, "", Item::UNHELD, nullptr, -1};
}
Item plain(int d, double value)
{
    return {Item::ELEMENT, d, value, "", Item::PLAIN, nullptr, -1};
}
Item factor(unsigned n)
{
    return {Item::FACTOR, 31001, static_cast<double>(n), "", Item::PLAIN, nullptr, -1};
}
Item op(int d)
{
    return {Item::OPERATOR, d, 0, "", Item::PLAIN, nullptr, -1};
}

// A sounding: its station, forecast hour, the counts its record holds and
// its data.
struct Sounding {
    std::string station;
    int hour;
    int levels, soilLayers;
    std::vector<Item> items;
    bool stored = true;       // false: a message of another kind, never stored
};

// The levels of a sounding's profiles as items: per level its pressure,
// temperature, wind and humidity (or the elements given), from a standard
// profile.
std::vector<Item> levels(int n, int from = 0, const std::vector<int>& elements = {7004, 12101,
                                                                              11003, 11004,
                                                                              13001})
{
    std::vector<Item> out;
    for (int k = from; k < from + n; ++k)
        for (int d : elements) {
            const double value = d == 7004    ? 100000.0 - 1400.0 * k
                                 : d == 12101 ? 290.0 - 0.75 * k
                                 : d == 11003 ? -20.0 + 0.5 * k
                                 : d == 11004 ? 10.0 - 0.3 * k
                                 : d == 13001 ? 0.01 / (k + 1)
                                 : d == 20198 || d == 20010 ? k % 100
                                               : 0.002 / (k + 1);
            const char* variable = d == 7004    ? "pressure"
                                   : d == 12101 ? "temperature"
                                   : d == 11003 ? "uComponent"
                                   : d == 11004 ? "vComponent"
                                   : d == 13001 ? "specHum"
                                   : d == 20198 || d == 20010 ? "cloudCover"
                                                 : nullptr;
            out.push_back(variable ? v(d, value, variable, k) : unheld(d, value));
        }
    return out;
}

// A level's wind as its direction and speed (the speed in element s, in
// its unit): the record holds the components they make, missing where
// either is.
std::vector<Item> windAt(int level, double direction, double speed, int s = 11002)
{
    const double metres = speed * (s == 11084 ? 1852.0 / 3600.0 : s == 11083 ? 1 / 3.6 : 1.0);
    const double radians = direction * 3.14159265358979323846 / 180.0;
    const bool given = direction != MISSING && speed != MISSING;
    Item d = v(11001, direction, "uComponent", level), f = v(s, speed, "vComponent", level);
    d.held = given ? -metres * std::sin(radians) : MISSING;
    f.held = given ? -metres * std::cos(radians) : MISSING;
    return {d, f};
}

std::vector<Item> soil(int n, int moisture = 13226, int temperature = 12198)
{
    std::vector<Item> out;
    for (int k = 0; k < n; ++k) {
        out.push_back(v(moisture, 0.2 + 0.05 * k, "soilMoisture", k));
        out.push_back(v(temperature, 285.0 - k, "soilTemp", k));
    }
    return out;
}

std::vector<Item> operator+(std::vector<Item> a, const std::vector<Item>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One message of soundings: section 1 and 3, and the soundings in data
// order (compressed: every sounding the same items but for their values).
struct Message {
    int year = 2024, month = 6, day = 1, hour = 12;
    int category = 2;
    bool compressed = false;
    std::vector<int> descriptors;
    std::vector<Sounding> soundings;

    int32_t run() const
    {
        struct tm t = {};
        t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day, t.tm_hour = hour;
        return static_cast<int32_t>(timegm(&t));
    }
    BufrWriter::Bytes build() const
    {
        BufrWriter w(3);
        w.centre(7).masterTableVersion(39, 1).category(category).observed(false);
        w.dateTime(year, month, day, hour, 0).compressed(compressed);
        w.subsets(static_cast<int>(soundings.size())).descriptors(descriptors);
        if (!compressed) {
            for (const Sounding& s : soundings) {
                w.chars(1198, s.station).element(4194, s.hour * 3600.0);
                for (const Item& i : s.items)
                    put(w, i);
            }
        } else {
            std::vector<std::string> ids;
            std::vector<double> hours;
            for (const Sounding& s : soundings) {
                ids.push_back(s.station);
                hours.push_back(s.hour * 3600.0);
            }
            w.charsColumn(1198, ids).column(4194, hours);
            for (size_t k = 0; k < soundings[0].items.size(); ++k) {
                const Item& i = soundings[0].items[k];
                std::vector<double> values;
                for (const Sounding& s : soundings)
                    values.push_back(s.items[k].value);
                if (i.kind == Item::ELEMENT)
                    w.column(i.descriptor, values);
                else if (i.kind == Item::FACTOR)
                    w.factorColumn(i.descriptor, static_cast<unsigned>(i.value));
                else
                    put(w, i);
            }
        }
        BufrWriter::Bytes bytes = w.build();
        EXPECT_TRUE(w.ok()) << w.error();
        return bytes;
    }
    static void put(BufrWriter& w, const Item& i)
    {
        if (i.kind == Item::ELEMENT)
            w.element(i.descriptor, i.value == MISSING ? BufrWriter::missingValue() : i.value);
        else if (i.kind == Item::TEXT)
            w.chars(i.descriptor, i.text);
        else if (i.kind == Item::FACTOR)
            w.factor(i.descriptor, static_cast<unsigned>(i.value));
        else
            w.op(i.descriptor);
    }
};

// A bulletin file of messages, and the reason it is set aside with (none:
// every message stored and the file unlinked).
struct Form {
    const char* name;
    std::vector<Message> messages;
    const char* aside;
    // Messages that are no model soundings, appended to the file.
    std::vector<BufrWriter::Bytes> others = {};
};

const std::vector<int> DELAYED = {1198, 4194, 5002, 6002, 7001, 10051, 13016,
                                  105000, 31001, 7004, 12101, 11003, 11004, 13001,
                                  102000, 31001, 13226, 12198};

std::vector<Item> head(double latitude, double longitude)
{
    return {v(5002, latitude, "latitude"), v(6002, longitude, "longitude"),
            v(7001, 12, "elevation"), v(10051, 101200, "seaLevelPress"),
            v(13016, 25, "precipWater")};
}

Sounding delayed(const char* station, int hour, int n, int m, double latitude = 42.36,
                 double longitude = -71.01)
{
    return {station, hour, n, m,
            head(latitude, longitude) + std::vector<Item>{factor(n)} + levels(n) +
                std::vector<Item>{factor(m)} + soil(m)};
}

// The aircraft report the model queue may be handed: category 4, no
// forecast time.
BufrWriter::Bytes aircraftReport()
{
    BufrWriter w(4);
    w.category(4).dateTime(2024, 6, 1, 12, 0).descriptors({1008, 301011, 301012, 5001, 6001});
    w.chars(1008, "N123AB").element(4001, 2024).element(4002, 6).element(4003, 1)
        .element(4004, 12).element(4005, 10).element(5001, 40.5).element(6001, -73.5);
    return w.build();
}

std::vector<Form> forms()
{
    std::vector<Form> f;
    // Levels and soil layers in delayed form, counts differing per station.
    f.push_back({"counts",
                 {{2024, 6, 1, 12, 2, false, DELAYED,
                   {delayed("KBOS", 0, 50, 4), delayed("KJFK", 0, 45, 2),
                    delayed("KIAD", 0, 40, 0)}}},
                 nullptr});
    // Written-out levels and soil layers (fixed replication).
    {
        Sounding s{"KBOS", 3, 3, 2,
                   std::vector<Item>{v(5002, 42.36, "latitude"), v(6002, -71.01, "longitude")} +
                       levels(3, 0, {7004, 12101, 11003}) + soil(2)};
        f.push_back({"fixed",
                     {{2024, 6, 1, 12, 2, false,
                       {1198, 4194, 5002, 6002, 103003, 7004, 12101, 11003, 102002, 13226, 12198},
                       {s}}},
                     nullptr});
    }
    // The other elements of the quantities: positions of high accuracy, the
    // height of the station ground, the centre's total column precipitable
    // water, WMO's soil temperature, the total cloud cover per level.
    {
        Sounding s{"KBOS", 6, 4, 2,
                   std::vector<Item>{v(5001, 42.36123, "latitude"),
                                     v(6001, -71.01234, "longitude"),
                                     v(7030, 6.4, "elevation"), v(13193, 31.7, "precipWater"),
                                     factor(4)} +
                       levels(4, 0, {7004, 12101, 20010}) +
                       std::vector<Item>{factor(2)} + soil(2, 13226, 12030)};
        f.push_back({"alternatives",
                     {{2024, 6, 1, 12, 13, false,
                       {1198, 4194, 5001, 6001, 7030, 13193, 103000, 31001, 7004, 12101, 20010,
                        102000, 31001, 13226, 12030},
                       {s}}},
                     nullptr});
    }
    // The station's elevation in the other elements of its quantity, one
    // message each: the height of the land surface, a height or altitude
    // (beside the station number in five digits), the surface geopotential
    // (a geometric height by the standard atmosphere: 1177 m2 s-2 are
    // 120.02 m); geopotential heights of its levels are no elevation.
    {
        const auto station = [](std::vector<Item> first) {
            return Sounding{"KBOS", 33, 2, 0,
                            std::vector<Item>{v(5002, 42.36, "latitude"),
                                              v(6002, -71.01, "longitude")} +
                                first + std::vector<Item>{factor(2)} +
                                levels(2, 0, {7004, 12101})};
        };
        const auto message = [](int element, const Sounding& s) {
            return Message{2024, 6, 1, 12, 2, false,
                           {1198, 4194, 5002, 6002, element, 102000, 31001, 7004, 12101},
                           {s}};
        };
        Message withNumber = message(7002, station({v(7002, 120, "elevation")}));
        withNumber.descriptors.insert(withNumber.descriptors.begin() + 4, 1205);
        withNumber.soundings[0].items.insert(withNumber.soundings[0].items.begin() + 2,
                                             v(1205, 72509, "wmoStaNum"));
        withNumber.soundings[0].station = "KJFK";
        Sounding geopotential = station({converted(10008, 1177, "elevation",
                                                   6356766.0 * (1177 / 9.80665) /
                                                       (6356766.0 - 1177 / 9.80665))});
        geopotential.station = "KIAD";
        Sounding heights{"KORD", 33, 2, 0,
                         std::vector<Item>{v(7001, 205, "elevation"), factor(2)} +
                             std::vector<Item>{v(7004, 95000, "pressure", 0), plain(10009, 540),
                                               v(7004, 85000, "pressure", 1), plain(10009, 1460)}};
        f.push_back({"elevations",
                     {message(10001, station({v(10001, 12, "elevation")})), withNumber,
                      message(10008, geopotential),
                      {2024, 6, 1, 12, 2, false, {1198, 4194, 7001, 102000, 31001, 7004, 10009},
                       {heights}}},
                     nullptr});
    }
    // Two elevations that differ: the record holds the first, the second is
    // named.
    f.push_back({"twoElevations",
                 {{2024, 6, 1, 12, 2, false, {1198, 4194, 7001, 10001, 101000, 31001, 7004},
                   {{"KBOS", 36, 1, 0,
                     {v(7001, 12, "elevation"), unheld(10001, 14), factor(1),
                      v(7004, 100000, "pressure", 0)}}}}},
                 "Sounding KBOS gives 0 10 001 (HEIGHT OF LAND SURFACE) a second value of "
                 "elevation, 14 beside 12 of 0 07 001 (HEIGHT OF STATION); the record holds the "
                 "first."});
    // A surface block after the levels (surface pressure, 2 m temperature
    // after its sensor height) and levels giving their humidity as a mixing
    // ratio: no variable takes them.
    {
        Sounding s{"KBOS", 9, 5, 0,
                   std::vector<Item>{v(5002, 42.36, "latitude"), v(6002, -71.01, "longitude"),
                                     factor(5)} +
                       levels(5, 0, {7004, 12101, 13002}) +
                       std::vector<Item>{unheld(10004, 101320), plain(7032, 2),
                                         unheld(12001, 288.4)}};
        f.push_back({"surface",
                     {{2024, 6, 1, 12, 2, false,
                       {1198, 4194, 5002, 6002, 103000, 31001, 7004, 12101, 13002, 10004, 7032,
                        12001},
                       {s}}},
                     "Sounding KBOS gives 0 13 002 (MIXING RATIO), which the store holds only "
                     "as 0 13 001 (SPECIFIC HUMIDITY)."});
    }
    // Forms the satellite soundings and aircraft reports read: a relative
    // humidity of more precision at the levels, a wind speed in knots after
    // them; the store holds neither.
    {
        Sounding s{"KBOS", 42, 3, 0,
                   std::vector<Item>{v(5002, 42.36, "latitude"), v(6002, -71.01, "longitude"),
                                     factor(3)} +
                       levels(3, 0, {7004, 12101, 13009}) +
                       std::vector<Item>{unheld(11084, 15)}};
        f.push_back({"otherForms",
                     {{2024, 6, 1, 12, 2, false,
                       {1198, 4194, 5002, 6002, 103000, 31001, 7004, 12101, 13009, 11084},
                       {s}}},
                     "Sounding KBOS gives 0 13 009 (RELATIVE HUMIDITY), which the store holds "
                     "only as 0 13 001 (SPECIFIC HUMIDITY)."});
    }
    // Winds as direction and speed, stored as components: at delayed levels
    // (a calm, a missing direction, a wind from the north), at written-out
    // levels in knots, and beside components that they agree with; then a
    // pair that differs from its level's components, named, and a surface
    // wind in a replication before the levels' components, outside them.
    {
        const auto level = [](int k, std::vector<Item> wind) {
            return std::vector<Item>{v(7004, 90000 - 10000 * k, "pressure", k)} + wind;
        };
        Sounding delayedWinds{"KBOS", 45, 4, 0,
                              std::vector<Item>{factor(4)} + level(0, windAt(0, 250, 15.3)) +
                                  level(1, windAt(1, 0, 0)) + level(2, windAt(2, MISSING, 12)) +
                                  level(3, windAt(3, 360, 8))};
        Sounding written{"KJFK", 45, 2, 0,
                         level(0, windAt(0, 45, 30, 11084)) + level(1, windAt(1, 200, 7, 11084))};
        const auto both = [&](int k, double u, double north, double direction, double speed,
                              bool agree) {
            return level(k, {v(11003, u, "uComponent", k), v(11004, north, "vComponent", k),
                             agree ? plain(11001, direction) : unheld(11001, direction),
                             agree ? plain(11002, speed) : unheld(11002, speed)});
        };
        Sounding agreeing{"KIAD", 45, 2, 0,
                          std::vector<Item>{factor(2)} + both(0, -10, 0, 90, 10, true) +
                              both(1, 5, -5, 315, 7.1, true)};
        Sounding differing{"KORD", 48, 2, 0,
                           std::vector<Item>{factor(2)} + both(0, -10, 0, 90, 10, true) +
                               both(1, 5, -5, 135, 7.1, false)};
        const std::vector<int> withComponents = {1198,  4194,  105000, 31001, 7004,
                                                 11003, 11004, 11001,  11002};
        f.push_back({"windDirectionSpeed",
                     {{2024, 6, 1, 12, 2, false, {1198, 4194, 103000, 31001, 7004, 11001, 11002},
                       {delayedWinds}},
                      {2024, 6, 1, 12, 2, false, {1198, 4194, 103002, 7004, 11001, 11084},
                       {written}},
                      {2024, 6, 1, 12, 2, false, withComponents, {agreeing}}},
                     nullptr});
        f.push_back({"windDiffers",
                     {{2024, 6, 1, 12, 2, false, withComponents, {differing}}},
                     "Sounding KORD gives 0 11 001 (WIND DIRECTION) a second time for level 2 "
                     "of UWIND."});
        Sounding surface{"KORD", 51, 2, 0,
                         std::vector<Item>{factor(1), unheld(11001, 180), unheld(11002, 5),
                                           factor(2)} +
                             levels(2, 0, {7004, 11003, 11004})};
        f.push_back({"surfaceWind",
                     {{2024, 6, 1, 12, 2, false,
                       {1198, 4194, 102000, 31001, 11001, 11002, 103000, 31001, 7004, 11003,
                        11004},
                       {surface}}},
                     "Sounding KORD gives 0 11 001 (WIND DIRECTION) outside its levels; the store "
                     "holds UWIND only at levels."});
    }
    // Levels of one quantity each, and a level giving its pressure twice.
    {
        Sounding s{"KBOS", 30, 3, 2,
                   std::vector<Item>{factor(3)} + levels(3, 0, {7004}) +
                       std::vector<Item>{factor(3)} + levels(3, 0, {12101}) +
                       std::vector<Item>{factor(2), v(12198, 280, "soilTemp", 0),
                                         v(12198, 281, "soilTemp", 1)}};
        Sounding twice{"KJFK", 30, 2, 0,
                       std::vector<Item>{factor(2), v(7004, 90000, "pressure", 0),
                                         unheld(10004, 90010), v(12101, 280, "temperature", 0),
                                         v(7004, 80000, "pressure", 1),
                                         unheld(10004, 80010), v(12101, 270, "temperature", 1),
                                         factor(0), factor(0)}};
        f.push_back({"perQuantity",
                     {{2024, 6, 1, 12, 2, false,
                       {1198, 4194, 101000, 31001, 7004, 101000, 31001, 12101, 101000, 31001,
                        12198},
                       {s}},
                      {2024, 6, 1, 12, 2, false,
                       {1198, 4194, 103000, 31001, 7004, 10004, 12101, 101000, 31001, 7004,
                        101000, 31001, 12198},
                       {twice}}},
                     "Sounding KJFK gives 0 10 004 (PRESSURE) a second time for level 1 of "
                     "PRESSURE. (1 of 2 messages)"});
    }
    // Operators on the main quantities: 2 07 on the position, 2 01 and 2 02
    // on the temperature, 2 07 on the pressure; standard and compressed.
    {
        const std::vector<int> descriptors = {1198,   4194,   207002, 5002,   6002,
                                              207000, 108000, 31001,  201132, 202129,
                                              12101,  202000, 201000, 207001, 7004,   207000};
        std::vector<Message> messages;
        for (bool compressed : {false, true}) {
            std::vector<Sounding> soundings;
            for (int k = 0; k < 2; ++k) {
                std::vector<Item> items = {op(207002), v(5002, 42.3612 - k, "latitude"),
                                           v(6002, -71.0123 + k, "longitude"), op(207000),
                                           factor(3)};
                for (int level = 0; level < 3; ++level)
                    items = items + std::vector<Item>{
                                        op(201132), op(202129),
                                        v(12101, 290.125 - level - 0.5 * k, "temperature", level),
                                        op(202000), op(201000), op(207001),
                                        v(7004, 100001 - 5000 * level - 100 * k, "pressure", level),
                                        op(207000)};
                soundings.push_back({k ? "KJFK" : "KBOS", 12 + 3 * compressed, 3, 0, items});
            }
            messages.push_back({2024, 6, 1, 12, 2, compressed, descriptors, soundings});
        }
        f.push_back({"operators", messages, nullptr});
    }
    // Positions on the poles and the date line.
    f.push_back({"positions",
                 {{2024, 6, 1, 12, 2, false, DELAYED,
                   {delayed("KBOS", 18, 2, 1, 90, 180), delayed("SPOLE", 18, 2, 1, -90, -180),
                    delayed("DATEL", 18, 2, 1, 0.01, 179.99),
                    delayed("WDATE", 18, 2, 1, -45.5, -179.99)}}},
                 nullptr});
    // Times at the turn of a year and of a leap day, two messages in a file.
    f.push_back({"times",
                 {{2023, 12, 31, 18, 2, false, DELAYED,
                   {delayed("KBOS", 6, 2, 1), delayed("KJFK", 30, 2, 1)}},
                  {2024, 2, 28, 18, 2, false, DELAYED,
                   {delayed("KBOS", 6, 2, 1), delayed("KJFK", 30, 2, 1)}}},
                 nullptr});
    // Values at the limits of their widths, and missing ones.
    {
        Sounding s = delayed("KBOS", 21, 3, 1);
        s.items = head(-90, -180) + std::vector<Item>{factor(3)} +
                  std::vector<Item>{v(7004, 163820, "pressure", 0), v(12101, 655.34, "temperature", 0),
                                    v(11003, -409.6, "uComponent", 0), v(11004, 409.4, "vComponent", 0),
                                    v(13001, 0.16382, "specHum", 0),
                                    v(7004, 0, "pressure", 1), v(12101, 0, "temperature", 1),
                                    v(11003, 409.4, "uComponent", 1), v(11004, -409.6, "vComponent", 1),
                                    v(13001, 0, "specHum", 1),
                                    v(7004, MISSING, "pressure", 2), v(12101, MISSING, "temperature", 2),
                                    v(11003, MISSING, "uComponent", 2), v(11004, MISSING, "vComponent", 2),
                                    v(13001, MISSING, "specHum", 2), factor(1),
                                    v(13226, 1.022, "soilMoisture", 0), v(12198, 409.4, "soilTemp", 0)};
        s.items[3] = v(10051, MISSING, "seaLevelPress");
        f.push_back({"limits", {{2024, 6, 1, 12, 2, false, DELAYED, {s}}}, nullptr});
    }
    // A sounding the store cannot hold among good ones (a forecast past the
    // template's 84 hours): refused alone, its bulletin set aside naming it.
    f.push_back({"unheld",
                 {{2024, 6, 1, 12, 2, false, DELAYED,
                   {delayed("KBOS", 60, 2, 1), delayed("KDEN", 1000, 2, 1),
                    delayed("KATL", 6, 2, 1)}}},
                 "Sounding 2 (KDEN): its forecast time, 3600000 s after its reference time, "
                 "lies outside the 0 to 302400 s its data file holds."});
    f.back().messages[0].soundings[1].stored = false;
    // More levels than the template holds.
    f.push_back({"deep",
                 {{2024, 6, 1, 12, 2, false, DELAYED,
                   {delayed("KBOS", 24, 70, 4), delayed("KJFK", 24, 10, 1)}}},
                 "Sounding KBOS gives 70 levels, the store holds 64."});
    // A bulletin holding messages of other kinds: an aircraft report, and
    // soundings in a message of the aircraft reports' category.
    f.push_back({"otherKinds",
                 {{2024, 6, 1, 12, 2, false, DELAYED, {delayed("KBOS", 27, 2, 1)}},
                  {2024, 6, 1, 12, 4, false, DELAYED, {delayed("KJFK", 27, 2, 1)}}},
                 "Not a model sounding (data category 4): its category is none of vertical "
                 "soundings (2), forecasts (13) and local use (240 to 255). (2 of 3 messages)",
                 {aircraftReport()}});
    f.back().messages[1].soundings[0].stored = false;
    return f;
}

// A record of the ETA store: its file, index and station.
struct Record {
    std::string file;
    int index;
};

// The records of every data file by (station, reference time, valid time).
std::map<std::tuple<std::string, double, double>, Record> records(const DecoderInstallation& p)
{
    std::map<std::tuple<std::string, double, double>, Record> out;
    for (const std::string& file : p.dataFiles("model/ETA/netcdf")) {
        int ncid = -1;
        if (nc_open(file.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) {
            ADD_FAILURE() << file << " does not open";
            continue;
        }
        const int n = static_cast<int>(recordCount(ncid));
        const std::vector<std::string> ids = texts(ncid, "stationId", n, 9);
        for (int r = 0; r < n; ++r) {
            const auto key = std::make_tuple(ids[static_cast<size_t>(r)],
                                             row<double>(ncid, "refTime", r, 1)[0],
                                             row<double>(ncid, "validTime", r, 1)[0]);
            EXPECT_EQ(out.count(key), 0u) << file << ": " << ids[static_cast<size_t>(r)]
                                          << " held twice";
            out[key] = {file, r};
        }
        nc_close(ncid);
    }
    return out;
}

// Half a unit of the last digit the element is coded with, under the
// scale changes in force (2 02, 2 07), and what a float keeps.
double tolerance(const Item& i, int scaleChange)
{
    return 0.5 * std::pow(10.0, -(tableScale(i.descriptor) + scaleChange)) +
           std::fabs(i.value) * 1e-6 + 1e-9;
}

} // namespace

// Every form through one decoder process; each sounding's values where its
// record keeps them, the levels past its count empty, and each value not
// stored named in a PROBLEM line of a bulletin set aside.
TEST(ModelSoundingForms, EveryValueIsStoredWhereItsQuantityGoesOrNamed)
{
    QEV_REQUIRE_NCGEN();
    DecoderInstallation p("Model", "bufr/modelSoundings/NAM", "badModelBufr");
    const std::vector<Form> all = forms();
    for (const Form& form : all) {
        BufrWriter::Bytes bytes;
        for (const Message& m : form.messages) {
            const BufrWriter::Bytes b = m.build();
            bytes.insert(bytes.end(), b.begin(), b.end());
        }
        for (const BufrWriter::Bytes& b : form.others)
            bytes.insert(bytes.end(), b.begin(), b.end());
        p.drop({std::string("JUSA41_KWBC_") + form.name, bytes});
    }
    p.start();
    ASSERT_TRUE(p.announce()) << p.child->log();
    ASSERT_TRUE(p.child->waitAsleep(20000));
    p.child->signal(SIGTERM);
    ASSERT_EQ(p.child->waitExit(20000), 0) << p.child->log();
    const std::string log = p.child->log();
    EXPECT_TRUE(TempTree::listFiles(p.in).empty()) << log;

    const auto stored = records(p);
    const std::vector<std::string> aside = TempTree::listFiles(p.bad);
    // Every sounding stored is notified once, at its run and forecast time.
    std::multiset<std::pair<int32_t, int32_t>> wanted, notified;
    for (const Form& form : all)
        for (const Message& m : form.messages)
            for (const Sounding& s : m.soundings)
                if (s.stored)
                    wanted.insert({m.run(), s.hour * 3600});
    p.peer.waitForCount(2, 10, wanted.size(), 5000);
    for (const WirePeer::Message& n : p.notifications())
        notified.insert({n.dataTime.refTime, n.dataTime.fcstPeriod});
    EXPECT_TRUE(notified == wanted) << notified.size() << " notifications for " << wanted.size()
                                    << " soundings stored";

    for (const Form& form : all) {
        SCOPED_TRACE(form.name);
        const std::string name = std::string("JUSA41_KWBC_") + form.name;
        const bool setAside = std::find(aside.begin(), aside.end(), name) != aside.end();
        EXPECT_EQ(setAside, form.aside != nullptr) << log;
        if (form.aside) {
            EXPECT_NE(log.find(std::string(form.aside) + " " + p.in + "/" + name), std::string::npos)
                << log;
        }
        for (const Message& m : form.messages)
            for (const Sounding& s : m.soundings) {
                SCOPED_TRACE(s.station + " +" + std::to_string(s.hour) + " h");
                const auto at = stored.find(
                    std::make_tuple(s.station, double(m.run()), m.run() + 3600.0 * s.hour));
                if (!s.stored) {
                    EXPECT_TRUE(at == stored.end()) << "stored as a model sounding";
                    continue;
                }
                int ncid = -1;
                if (at == stored.end() ||
                    nc_open(at->second.file.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) {
                    ADD_FAILURE() << "not stored";
                    continue;
                }
                const int r = at->second.index;
                EXPECT_EQ(row<int>(ncid, "numProfLvls", r, 1)[0], std::min(s.levels, 64));
                EXPECT_EQ(row<int>(ncid, "numSoilLvls", r, 1)[0], s.soilLayers);
                // A value not where it belongs is excused only by a PROBLEM
                // line naming it (or its levels) for a bulletin set aside.
                const std::string named = "PROBLEM: Sounding " + s.station + " gives ";
                const auto excused = [&](const Item& i) {
                    return setAside &&
                           (log.find(named + BulletinLog::descriptorText(i.descriptor).c_str()) !=
                                std::string::npos ||
                            (i.level >= 0 &&
                             log.find(named + std::to_string(s.levels) + " levels") !=
                                 std::string::npos));
                };
                int scaleChange = 0, increase = 0;
                for (const Item& i : s.items) {
                    if (i.kind == Item::OPERATOR) {
                        const int y = i.descriptor % 1000;
                        if (i.descriptor / 1000 == 202)
                            scaleChange = y ? y - 128 : 0;
                        if (i.descriptor / 1000 == 207)
                            increase = y;
                    }
                    if (i.kind != Item::ELEMENT || i.use == Item::PLAIN)
                        continue;
                    const std::string what =
                        std::string(BulletinLog::descriptorText(i.descriptor).c_str()) + " " +
                        std::to_string(i.value);
                    if (i.use == Item::UNHELD) {
                        EXPECT_TRUE(excused(i)) << what << " dropped without a line\n" << log;
                        continue;
                    }
                    const int level = i.level < 0 ? 0 : i.level;
                    int var = -1;
                    nc_type type = NC_FLOAT;
                    nc_inq_varid(ncid, i.variable, &var);
                    nc_inq_vartype(ncid, var, &type);
                    const float held =
                        level >= 64         ? 1e37f
                        : type == NC_INT    ? static_cast<float>(
                                               row<int>(ncid, i.variable, r, level + 1)[level])
                                            : row<float>(ncid, i.variable, r, level + 1)[level];
                    const double want = std::isnan(i.held) ? i.value : i.held;
                    const bool right =
                        std::fabs(held - want) <= tolerance(i, scaleChange + increase);
                    EXPECT_TRUE(right || excused(i))
                        << what << " in " << i.variable << "[" << i.level << "] holds " << held;
                }
                // Nothing past the sounding's levels.
                for (const char* profile : {"pressure", "temperature"}) {
                    const std::vector<float> levelsHeld = row<float>(ncid, profile, r, 64);
                    for (int k = s.levels; k < 64; ++k)
                        EXPECT_EQ(levelsHeld[static_cast<size_t>(k)], 1e37f) << profile << k;
                }
                nc_close(ncid);
            }
    }
}

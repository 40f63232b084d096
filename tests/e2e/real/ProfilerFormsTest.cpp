// Wind profilers in the forms WMO allows, through the decoder process: each
// form a bulletin of the profiler's main quantities built by the tests'
// encoder, stored by the decoder, and every stored value compared with what
// the encoder wrote.  A record that lacks or misplaces a value, or one that
// is stored where none is expected, fails the test; levels beyond the store
// are expected only where the bulletin is set aside with a line naming them.
#include "../DecoderInstallation.h"
#include "BufrWriter.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const double MISSING = -99999.0;
const int STORE_LEVELS = 100;

// How a group of a report is written: in a delayed replication (0 31 001 or
// 0 31 002), a fixed replication, or written out one after another.
enum Form { DELAYED, EXTENDED, FIXED, SEQUENTIAL };
// Where a period's qualifiers (0 08 021 and 0 04 025) stand: none, before
// its time groups, after them, or between its start and its end.
enum Qualifiers { NONE, BEFORE, AFTER, BETWEEN };
// Operators on the main quantities: 2 01/2 02 on u and v, 2 07 on the
// heights and w, 2 04 associated fields on u and v, 2 08 on a station name.
enum Operators { NO_OPERATOR, WIDTH_AND_SCALE, INCREASE, ASSOCIATED, TEXT_WIDTH };

struct Case {
    const char* name;
    int height = 7007;               // the levels' height element
    int elevation = 7030;            // the station's elevation element
    double elevationValue = 1524;
    bool directionSpeed = false;     // 0 11 001/0 11 002 in place of u and v
    int speedElement = 11002;        // or 0 11 084 in knots, 0 11 083 in km/h
    Form levelForm = DELAYED;
    int levels = 3;
    Form periodForm = SEQUENTIAL;
    int periods = 1;
    Qualifiers qualifiers = NONE;
    bool startEnd = false;           // two time groups a period, start and end
    bool countsTwice = false;        // 0 08 022 before u, v and again before w
    bool stationMode = false;        // 0 25 032 once at the station, before its levels
    Operators operators = NO_OPERATOR;
    bool quality = false;            // a 2 22 000 block of confidences on u and v
    bool compressed = false;
    int stations = 1;
    double latitude = 40.5, longitude = -105.25;
    int end[5] = {2024, 6, 1, 12, 0};    // the last period's end
    bool limits = false;             // levels at the limits of the elements' widths
    int category = 2;
    bool otherMessage = false;       // a second message of data category 4
    bool aside = false;              // set aside (with line), what it stores expected
    const char* line = nullptr;
};

// One stored record as the test expects or reads it.
struct Record {
    double time = 0, latitude = 0, longitude = 0, elevation = 0, period = MISSING;
    int levels = 0;
    std::vector<double> heights, u, v, w, uvCount, wCount, mode;
};

// The values the encoder writes, per subset, in data order.
struct Item {
    enum Kind { ELEMENT, FACTOR, OPERATOR, TEXT } kind;
    int descriptor;
    std::vector<double> values;
    std::string text;
};

time_t utc(int y, int mo, int d, int h, int mi)
{
    struct tm t = {};
    t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi;
    return timegm(&t);
}

class Builder {
public:
    explicit Builder(const Case& c) : _c(c), _n(static_cast<size_t>(c.stations)) {}

    // The message and the records its stations make, keyed by id and time.
    BufrWriter::Bytes build(int number, std::map<std::string, Record>& expected)
    {
        const Case& c = _c;
        for (int s = 0; s < c.stations; ++s) {
            _stations.push_back(number + s);
            const double sign = s % 2 ? -1 : 1;
            _lat.push_back(sign * (c.latitude - 0.25 * (s / 2)));
            _lon.push_back(sign * (c.longitude - 0.25 * (s / 2)));
        }
        each(1001, [](int) { return 72.0; });
        each(1002, [this](int s) { return double(_stations[size_t(s)]); });
        if (c.operators == TEXT_WIDTH) {
            op(208010);
            _items.push_back({Item::TEXT, 1018, {}, "PROFILER10"});
            _descriptors.push_back(1018);
            op(208000);
        }
        each(5001, [this](int s) { return _lat[size_t(s)]; });
        each(6001, [this](int s) { return _lon[size_t(s)]; });
        each(c.elevation, [&c](int) { return c.elevationValue; });
        if (c.stationMode)
            each(25032, [](int) { return 1.0; });
        const time_t end = utc(c.end[0], c.end[1], c.end[2], c.end[3], c.end[4]);
        const size_t periodStart = _descriptors.size();
        for (int p = 0; p < c.periods; ++p) {
            const size_t before = _descriptors.size();
            period(p, end - 3600 * (c.periods - 1 - p));
            if (c.periodForm != SEQUENTIAL && p == 0)
                _periodLength = _descriptors.size() - before;
            if (c.periodForm != SEQUENTIAL && p > 0)
                _descriptors.resize(before);
        }
        if (c.periodForm == DELAYED) {
            _descriptors.insert(_descriptors.begin() + long(periodStart),
                                {100000 + int(_periodLength) * 1000, 31001});
            _items.insert(_items.begin() + long(_periodFactor),
                          {Item::FACTOR, 31001, {double(c.periods)}, ""});
        } else if (c.periodForm == FIXED) {
            _descriptors.insert(_descriptors.begin() + long(periodStart),
                                100000 + int(_periodLength) * 1000 + c.periods);
        }
        if (c.quality)
            qualityBlock();

        BufrWriter w(4);
        const std::tm t = *gmtime(&end);
        w.category(c.category).dateTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                                         t.tm_min);
        w.subsets(c.stations).compressed(c.compressed).descriptors(_descriptors);
        if (c.compressed) {
            for (const Item& i : _items)
                write(w, i, -1);
        } else {
            for (size_t s = 0; s < _n; ++s)
                for (const Item& i : _items)
                    write(w, i, int(s));
        }
        EXPECT_TRUE(w.ok()) << c.name << ": " << w.error();
        for (auto& r : _records)
            expected[r.first] = r.second;
        return w.build();
    }

private:
    template <class F>
    void each(int descriptor, F value)
    {
        Item i{Item::ELEMENT, descriptor, {}, ""};
        for (size_t s = 0; s < _n; ++s)
            i.values.push_back(value(int(s)));
        _items.push_back(i);
        _descriptors.push_back(descriptor);
    }
    void op(int descriptor)
    {
        _items.push_back({Item::OPERATOR, descriptor, {}, ""});
        _descriptors.push_back(descriptor);
    }
    void timeGroup(time_t at)
    {
        const std::tm t = *gmtime(&at);
        const int fields[5] = {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min};
        for (int f = 0; f < 5; ++f)
            each(4001 + f, [&](int) { return double(fields[f]); });
    }
    void qualifiers(double minutes)
    {
        each(8021, [](int) { return 2.0; });
        each(4025, [minutes](int) { return minutes; });
    }

    // A period: its qualifiers and time groups, then its levels.
    void period(int p, time_t end)
    {
        const Case& c = _c;
        const double minutes = -60 + 20 * p;
        if (p == 0)
            _periodFactor = _items.size();
        if (c.qualifiers == BEFORE)
            qualifiers(minutes);
        if (c.startEnd)
            timeGroup(end - 3600);
        if (c.qualifiers == BETWEEN)
            qualifiers(minutes);
        timeGroup(end);
        if (c.qualifiers == AFTER)
            qualifiers(minutes);
        for (size_t s = 0; s < _n; ++s) {
            Record r;
            r.time = double(end);
            r.latitude = _lat[s], r.longitude = _lon[s], r.elevation = c.elevationValue;
            r.period = c.qualifiers != NONE ? minutes : c.startEnd ? -60 : MISSING;
            r.levels = std::min(c.levels, STORE_LEVELS);
            _records[std::to_string(72000 + _stations[s]) + " " + std::to_string(long(end))] = r;
        }
        // The levels, their factor first where they are a delayed replication.
        const size_t first = _descriptors.size();
        if (c.levelForm == DELAYED || c.levelForm == EXTENDED)
            _items.push_back({Item::FACTOR, c.levelForm == DELAYED ? 31001 : 31002,
                              {double(c.levels)}, ""});
        size_t perLevel = 0;
        for (int k = 0; k < c.levels; ++k) {
            const size_t before = _descriptors.size();
            level(p, k, end);
            perLevel = _descriptors.size() - before;
            if (c.levelForm != SEQUENTIAL && k > 0)
                _descriptors.resize(before);
        }
        if (c.levelForm == DELAYED || c.levelForm == EXTENDED)
            _descriptors.insert(_descriptors.begin() + long(first),
                                {100000 + int(perLevel) * 1000,
                                 c.levelForm == DELAYED ? 31001 : 31002});
        else if (c.levelForm == FIXED)
            _descriptors.insert(_descriptors.begin() + long(first),
                                100000 + int(perLevel) * 1000 + c.levels);
    }

    void level(int p, int k, time_t end)
    {
        const Case& c = _c;
        // Values exact at their elements' scales; at the limits of their
        // widths for the first two levels where asked.
        const bool low = c.limits && k == 0, high = c.limits && k == 1;
        const double height = low ? -1000 : high ? 130070 : (c.height == 7006 ? 100 : 500) + 250 * k;
        auto u = [&](int s) { return low ? -409.6 : high ? 409.4 : 5.0 + k + 0.5 * p + 0.1 * s; };
        auto v = [&](int) { return low ? 409.4 : high ? -409.6 : -2.5 - 0.5 * k; };
        auto w = [&](int) { return low ? -40.96 : high ? 40.94 : 0.05 * (k % 3) - 0.03 + 0.01 * p; };
        auto direction = [&](int s) { return 10.0 + (37 * k + 20 * p + 5 * s) % 350; };
        auto speed = [&](int s) {
            return c.speedElement == 11002 ? 5.0 + 0.5 * k + 0.1 * s : 10.0 + k + s;
        };
        // The speed in m/s, as the store's components hold it.
        auto metres = [&](int s) {
            return speed(s) * (c.speedElement == 11084   ? 1852.0 / 3600.0
                               : c.speedElement == 11083 ? 1 / 3.6
                                                         : 1.0);
        };

        if (c.operators == INCREASE)
            op(207001);
        each(c.height, [height](int) { return height; });
        if (c.operators == INCREASE)
            op(207000);
        if (c.countsTwice)
            each(8022, [k](int) { return 20.0 + k; });
        if (c.operators == WIDTH_AND_SCALE) {
            op(201130);
            op(202129);
        } else if (c.operators == ASSOCIATED) {
            op(204001);
            each(31021, [](int) { return 1.0; });
        }
        if (c.directionSpeed) {
            each(11001, direction);
            each(c.speedElement, speed);
        } else {
            each(11003, u);
            each(11004, v);
        }
        if (c.operators == WIDTH_AND_SCALE) {
            op(202000);
            op(201000);
        } else if (c.operators == ASSOCIATED) {
            op(204000);
        }
        if (c.countsTwice)
            each(8022, [k](int) { return 8.0 + k; });
        if (c.operators == INCREASE)
            op(207001);
        each(11006, w);
        if (c.operators == INCREASE)
            op(207000);
        if (k >= STORE_LEVELS)
            return;
        for (size_t s = 0; s < _n; ++s) {
            Record& r = _records[std::to_string(72000 + _stations[s]) + " " +
                                 std::to_string(long(end))];
            const int i = int(s);
            r.heights.push_back(height + (c.height == 7006 ? c.elevationValue : 0));
            if (c.directionSpeed) {
                const double radians = direction(i) * M_PI / 180;
                r.u.push_back(-metres(i) * std::sin(radians));
                r.v.push_back(-metres(i) * std::cos(radians));
            } else {
                r.u.push_back(u(i));
                r.v.push_back(v(i));
            }
            r.w.push_back(w(i));
            if (c.countsTwice) {
                r.uvCount.push_back(20 + k);
                r.wCount.push_back(8 + k);
            }
            if (c.stationMode)
                r.mode.push_back(1);
        }
    }

    // Confidences (0 33 007) of every u and v after a data present bit map
    // of all the data before it.
    void qualityBlock()
    {
        std::vector<int> present;
        for (const Item& i : _items)
            if (i.kind == Item::ELEMENT || i.kind == Item::FACTOR || i.kind == Item::TEXT)
                present.push_back(i.descriptor == 11003 || i.descriptor == 11004 ? 0 : 1);
        op(222000);
        _descriptors.push_back(101000 + int(present.size()));
        _descriptors.push_back(31031);
        for (int bit : present)
            _items.push_back({Item::ELEMENT, 31031,
                              std::vector<double>(_n, bit ? BufrWriter::missingValue() : 0.0),
                              ""});
        each(1031, [](int) { return 7.0; });
        each(1032, [](int) { return 14.0; });
        int confidences = 0;
        for (int bit : present)
            confidences += bit == 0;
        _descriptors.push_back(101000 + confidences);
        _descriptors.push_back(33007);
        for (int k = 0; k < confidences; ++k)
            _items.push_back({Item::ELEMENT, 33007, std::vector<double>(_n, 60.0 + k % 40), ""});
    }

    void write(BufrWriter& w, const Item& i, int subset) const
    {
        switch (i.kind) {
        case Item::OPERATOR:
            w.op(i.descriptor);
            break;
        case Item::FACTOR:
            if (subset < 0)
                w.factorColumn(i.descriptor, unsigned(i.values[0]));
            else
                w.factor(i.descriptor, unsigned(i.values[0]));
            break;
        case Item::TEXT:
            if (subset < 0)
                w.charsColumn(i.descriptor, std::vector<std::string>(_n, i.text));
            else
                w.chars(i.descriptor, i.text);
            break;
        case Item::ELEMENT:
            if (subset < 0)
                w.column(i.descriptor, i.values);
            else
                w.element(i.descriptor, i.values[size_t(subset)]);
            break;
        }
    }

    const Case& _c;
    const size_t _n;
    std::vector<int> _stations;
    std::vector<double> _lat, _lon;
    std::vector<int> _descriptors;
    std::vector<Item> _items;
    size_t _periodFactor = 0, _periodLength = 0;
    std::map<std::string, Record> _records;
};

// Every record of the NPN store's data files, keyed by id and time.
std::map<std::string, Record> storedRecords(const DecoderInstallation& p)
{
    std::map<std::string, Record> out;
    for (const std::string& path : p.dataFiles("prof/netcdf")) {
        int ncid = -1;
        if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) {
            ADD_FAILURE() << "cannot open " << path;
            continue;
        }
        const int n = int(recordCount(ncid));
        const std::vector<std::string> ids = texts(ncid, "stationId", n, 6);
        for (int k = 0; k < n; ++k) {
            Record r;
            r.time = row<double>(ncid, "timeObs", k, 1)[0];
            r.latitude = row<float>(ncid, "latitude", k, 1)[0];
            r.longitude = row<float>(ncid, "longitude", k, 1)[0];
            r.elevation = row<float>(ncid, "elevation", k, 1)[0];
            r.period = row<int>(ncid, "averagingPeriod", k, 1)[0];
            r.levels = row<int>(ncid, "numLevels", k, 1)[0];
            const struct {
                const char* name;
                std::vector<double>* into;
            } profiles[] = {{"heights", &r.heights},       {"uComponent", &r.u},
                            {"vComponent", &r.v},          {"wComponent", &r.w},
                            {"uvConsensusNum", &r.uvCount}, {"wConsensusNum", &r.wCount},
                            {"levelMode", &r.mode}};
            for (const auto& profile : profiles)
                for (float value : row<float>(ncid, profile.name, k, STORE_LEVELS))
                    profile.into->push_back(value);
            const std::string key = ids[size_t(k)] + " " + std::to_string(long(r.time));
            EXPECT_EQ(out.count(key), 0u) << "two records of " << key;
            out[key] = r;
        }
        nc_close(ncid);
    }
    return out;
}

// A stored profile: the expected values on its levels (or the fill where
// none is expected), the fill above them.
void compareProfile(const char* name, const std::vector<double>& stored,
                    const std::vector<double>& expected, int levels)
{
    for (int k = 0; k < STORE_LEVELS; ++k) {
        const size_t at = size_t(k);
        if (k < levels && at < expected.size())
            EXPECT_NEAR(stored[at], expected[at], 2e-3 * std::max(1.0, std::fabs(expected[at])))
                << name << "[" << k << "]";
        else
            EXPECT_EQ(stored[at], 1e37f) << name << "[" << k << "]";
    }
}

} // namespace

TEST(ProfilerForms, EachFormIsStoredAsWrittenOrSetAsideWithItsReason)
{
    QEV_REQUIRE_NCGEN();
    auto with = [](Case c, std::function<void(Case&)> set) {
        set(c);
        return c;
    };
    const Case cases[] = {
        with({}, [](Case& c) { c.name = "components"; }),
        with({}, [](Case& c) { c.name = "directionAndSpeed", c.directionSpeed = true; }),
        // Speeds in the units the aircraft decoder reads them in.
        with({}, [](Case& c) {
            c.name = "speedInKnots", c.directionSpeed = true, c.speedElement = 11084;
        }),
        with({}, [](Case& c) {
            c.name = "speedInKmPerHour", c.directionSpeed = true, c.speedElement = 11083;
        }),
        with({}, [](Case& c) { c.name = "heightOrAltitude", c.height = 7002; }),
        with({}, [](Case& c) { c.name = "height10007", c.height = 10007; }),
        with({}, [](Case& c) { c.name = "aboveStation", c.height = 7006, c.elevation = 7001; }),
        // Every level's wind counts twice, levels written out in a fixed
        // replication after the station's mode.
        with({}, [](Case& c) {
            c.name = "countsTwiceFixed", c.height = 7006, c.countsTwice = true;
            c.levelForm = FIXED, c.levels = 43, c.stationMode = true;
        }),
        with({}, [](Case& c) {
            c.name = "countsTwiceSequential", c.countsTwice = true, c.levelForm = SEQUENTIAL;
            c.stationMode = true, c.directionSpeed = true;
        }),
        with({}, [](Case& c) { c.name = "countsTwiceDelayed", c.countsTwice = true; }),
        with({}, [](Case& c) { c.name = "extendedLevels", c.levelForm = EXTENDED; }),
        with({}, [](Case& c) { c.name = "fixedLevels", c.levelForm = FIXED, c.levels = 5; }),
        with({}, [](Case& c) { c.name = "sequentialLevels", c.levelForm = SEQUENTIAL; }),
        with({}, [](Case& c) {
            c.name = "delayedPeriods", c.periodForm = DELAYED, c.periods = 3;
            c.qualifiers = AFTER;
        }),
        with({}, [](Case& c) {
            c.name = "fixedPeriodsQualifiedBefore", c.periodForm = FIXED, c.periods = 2;
            c.qualifiers = BEFORE;
        }),
        with({}, [](Case& c) { c.name = "periodsQualifiedBefore", c.periods = 3, c.qualifiers = BEFORE; }),
        with({}, [](Case& c) { c.name = "periodsQualifiedAfter", c.periods = 2, c.qualifiers = AFTER; }),
        with({}, [](Case& c) {
            c.name = "sequentialPeriodsOfSequentialLevels", c.periods = 2, c.qualifiers = BEFORE;
            c.levelForm = SEQUENTIAL;
        }),
        with({}, [](Case& c) { c.name = "startAndEnd", c.startEnd = true; }),
        with({}, [](Case& c) {
            c.name = "startAndEndPeriods", c.startEnd = true, c.periods = 2, c.qualifiers = BETWEEN;
        }),
        with({}, [](Case& c) {
            c.name = "startAndEndDelayedPeriods", c.startEnd = true, c.periods = 2;
            c.periodForm = DELAYED;
        }),
        // Periods across the turn of a year and into a leap day.
        with({}, [](Case& c) {
            c.name = "newYear", c.startEnd = true, c.periods = 2;
            const int end[5] = {2025, 1, 1, 0, 30};
            std::copy(end, end + 5, c.end);
        }),
        with({}, [](Case& c) {
            c.name = "leapDay", c.startEnd = true;
            const int end[5] = {2024, 2, 29, 0, 0};
            std::copy(end, end + 5, c.end);
        }),
        with({}, [](Case& c) { c.name = "widthAndScale", c.operators = WIDTH_AND_SCALE; }),
        with({}, [](Case& c) { c.name = "increase", c.operators = INCREASE, c.height = 7006; }),
        with({}, [](Case& c) { c.name = "associatedFields", c.operators = ASSOCIATED; }),
        with({}, [](Case& c) { c.name = "textWidth", c.operators = TEXT_WIDTH; }),
        with({}, [](Case& c) { c.name = "qualityBlock", c.quality = true, c.levelForm = FIXED; }),
        with({}, [](Case& c) {
            c.name = "compressedQualityBlock", c.quality = true, c.levelForm = SEQUENTIAL;
            c.compressed = true, c.stations = 2;
        }),
        with({}, [](Case& c) { c.name = "compressed", c.compressed = true, c.stations = 3; }),
        with({}, [](Case& c) {
            c.name = "compressedAboveStation", c.compressed = true, c.stations = 2;
            c.height = 7006, c.directionSpeed = true, c.countsTwice = true, c.periods = 2;
            c.qualifiers = BEFORE;
        }),
        with({}, [](Case& c) {
            c.name = "poles", c.stations = 2, c.latitude = 90, c.longitude = 180;
        }),
        with({}, [](Case& c) {
            c.name = "dateLine", c.stations = 2, c.latitude = 0, c.longitude = 180;
            c.compressed = true;
        }),
        with({}, [](Case& c) { c.name = "limits", c.limits = true, c.elevationValue = 12707; }),
        with({}, [](Case& c) {
            c.name = "moreLevels", c.levels = 101, c.aside = true;
            c.line = " gives 101 levels, the NPN store holds 100; the levels above 100 are not "
                     "stored.";
        }),
        with({}, [](Case& c) {
            c.name = "sequentialMoreLevels", c.levels = 102, c.levelForm = SEQUENTIAL;
            c.aside = true;
            c.line = " gives 102 levels, the NPN store holds 100; the levels above 100 are not "
                     "stored.";
        }),
        with({}, [](Case& c) {
            c.name = "otherCategory", c.category = 4, c.aside = true;
            c.line = "PROBLEM: Not a wind profiler message: data category 4 (single level "
                     "upper-air data, other than satellite)";
        }),
        with({}, [](Case& c) {
            c.name = "otherMessage", c.otherMessage = true, c.aside = true;
            c.line = "data category 4 (single level upper-air data, other than satellite), "
                     "where profilers come in data categories 2 (vertical soundings, other than "
                     "satellite) and 6 (radar data). (1 of 2 messages)";
        }),
    };

    // The bulletins stored without a word go into one file of a message
    // each; each bulletin set aside into a file of its own.
    DecoderInstallation p("Profiler", "bufr/prof", "badProfiler");
    std::map<std::string, Record> expected;
    std::string clean;
    int number = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::map<std::string, Record> none;
        const BufrWriter::Bytes m = Builder(c).build(number, c.category == 2 ? expected : none);
        number += 10;
        std::string bytes(m.begin(), m.end());
        if (c.otherMessage) {
            Case other = c;
            other.category = 4;
            const BufrWriter::Bytes o = Builder(other).build(number, none);
            number += 10;
            bytes += std::string(o.begin(), o.end());
        }
        if (c.aside)
            p.tree.write(std::string("qev_data/ispan/bufr/prof/IUPT43_KBOU_") + c.name, bytes);
        else
            clean += bytes;
    }
    p.tree.write("qev_data/ispan/bufr/prof/IUPT43_KBOU_forms", clean);
    p.start();
    ASSERT_TRUE(p.announceFile("IUPT43_KBOU_forms")) << p.child->log();
    ASSERT_TRUE(p.child->waitAsleep(10000));
    p.child->signal(SIGTERM);
    ASSERT_EQ(p.child->waitExit(20000), 0) << p.child->log();
    const std::string log = p.child->log();

    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    EXPECT_FALSE(TempTree::exists(p.bad + "/IUPT43_KBOU_forms")) << log;
    for (const Case& c : cases) {
        if (!c.aside)
            continue;
        EXPECT_TRUE(TempTree::exists(p.bad + "/IUPT43_KBOU_" + std::string(c.name))) << c.name;
        EXPECT_NE(log.find(c.line), std::string::npos) << c.name << "\n" << log;
    }

    const std::map<std::string, Record> stored = storedRecords(p);
    for (const auto& s : stored)
        EXPECT_TRUE(expected.count(s.first)) << "a record no bulletin gives: " << s.first;
    for (const auto& x : expected) {
        SCOPED_TRACE(x.first);
        const auto found = stored.find(x.first);
        if (found == stored.end()) {
            ADD_FAILURE() << "not stored";
            continue;
        }
        const Record& e = x.second;
        const Record& r = found->second;
        EXPECT_NEAR(r.latitude, e.latitude, 1e-4);
        EXPECT_NEAR(r.longitude, e.longitude, 1e-4);
        EXPECT_NEAR(r.elevation, e.elevation, 0.05);
        EXPECT_EQ(r.period, e.period);
        EXPECT_EQ(r.levels, e.levels);
        compareProfile("heights", r.heights, e.heights, e.levels);
        compareProfile("uComponent", r.u, e.u, e.levels);
        compareProfile("vComponent", r.v, e.v, e.levels);
        compareProfile("wComponent", r.w, e.w, e.levels);
        compareProfile("uvConsensusNum", r.uvCount, e.uvCount, e.levels);
        compareProfile("wConsensusNum", r.wCount, e.wCount, e.levels);
        compareProfile("levelMode", r.mode, e.mode, e.levels);
    }
}

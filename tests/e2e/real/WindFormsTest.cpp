// The main quantities of the aircraft, satellite wind and scatterometer
// decoders in the forms WMO's tables let a bulletin give them, each bulletin
// built by the tests' encoder and stored by the decoder process: elements
// and their alternatives, qualifiers around time groups, levels and
// observations in delayed, fixed and sequential form, operators on the main
// quantities, quality information after 2 22 000, compressed and not,
// positions on the date line and the poles, times at a year's end and a
// leap day, values at their widths' limits.  Each stored record holds every
// value its bulletin gives as the encoder wrote it (in the store's form and
// unit); a bulletin or value the store cannot take is set aside or left
// out with the PROBLEM line its case names.
#include "../DecoderInstallation.h"
#include "BufrWriter.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <signal.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

typedef BufrWriter::Bytes Bytes;
const double MISSING = BufrWriter::missingValue();
const double FILL = -99999;

double epoch(int year, int month, int day, int hour, int minute, double second = 0)
{
    struct tm t = {};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = minute;
    return static_cast<double>(timegm(&t)) + second;
}

// ---- Bulletins ----

// The messages of a bulletin of several.
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One item of a message's data, in data order, for each subset a value of
// its report (R): a number, a text, a delayed replication factor, an
// operator (changing how the elements after it are coded).
template <class R>
struct Item {
    enum Kind { NUMBER, TEXT, FACTOR, OPERATOR } kind;
    int descriptor;
    std::function<double(const R&)> number;
    std::function<std::string(const R&)> text;
    unsigned count;
};

template <class R>
Item<R> N(int descriptor, std::function<double(const R&)> f)
{
    return {Item<R>::NUMBER, descriptor, f, nullptr, 0};
}
// An element of the same value in every report.
template <class R>
Item<R> K(int descriptor, double value)
{
    return N<R>(descriptor, [value](const R&) { return value; });
}
template <class R>
Item<R> T(int descriptor, std::function<std::string(const R&)> f)
{
    return {Item<R>::TEXT, descriptor, nullptr, f, 0};
}
template <class R>
Item<R> F(int descriptor, unsigned count)
{
    return {Item<R>::FACTOR, descriptor, nullptr, nullptr, count};
}
template <class R>
Item<R> O(int descriptor)
{
    return {Item<R>::OPERATOR, descriptor, nullptr, nullptr, 0};
}
// The items of a time group of the report's time t (seconds since 1970),
// the second where withSecond.
template <class R>
std::vector<Item<R>> timeGroup(std::function<double(const R&)> t, bool withSecond = true)
{
    auto field = [t](int k) {
        return [t, k](const R& r) {
            const time_t s = static_cast<time_t>(std::floor(t(r)));
            struct tm u;
            gmtime_r(&s, &u);
            const int f[6] = {u.tm_year + 1900, u.tm_mon + 1, u.tm_mday,
                              u.tm_hour,        u.tm_min,     u.tm_sec};
            return static_cast<double>(f[k]);
        };
    };
    std::vector<Item<R>> items;
    for (int k = 0; k < (withSecond ? 6 : 5); ++k)
        items.push_back(N<R>(4001 + k, field(k)));
    return items;
}
template <class R>
std::vector<Item<R>>& operator+=(std::vector<Item<R>>& a, const std::vector<Item<R>>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A message of the reports, one subset each, compressed or not; its
// section 3 the descriptors given, or where none are, its items' written
// out.
template <class R>
Bytes message(int category, std::vector<int> descriptors, const std::vector<Item<R>>& items,
              const std::vector<R>& reports, bool compressed)
{
    if (descriptors.empty())
        for (const Item<R>& item : items)
            descriptors.push_back(item.descriptor);
    BufrWriter w(4);
    w.category(category).dateTime(2024, 6, 1, 12, 0).compressed(compressed);
    w.subsets(static_cast<int>(reports.size())).descriptors(descriptors);
    auto write = [&w, compressed, &reports](const Item<R>& item, const R* r) {
        std::vector<double> numbers;
        std::vector<std::string> texts;
        for (const R& x : reports) {
            if (item.number)
                numbers.push_back(item.number(x));
            if (item.text)
                texts.push_back(item.text(x));
        }
        switch (item.kind) {
        case Item<R>::NUMBER:
            compressed ? w.column(item.descriptor, numbers)
                       : w.element(item.descriptor, item.number(*r));
            break;
        case Item<R>::TEXT:
            compressed ? w.charsColumn(item.descriptor, texts)
                       : w.chars(item.descriptor, item.text(*r));
            break;
        case Item<R>::FACTOR:
            compressed ? w.factorColumn(item.descriptor, item.count)
                       : w.factor(item.descriptor, item.count);
            break;
        case Item<R>::OPERATOR:
            w.op(item.descriptor);
            break;
        }
    };
    if (compressed) {
        for (const Item<R>& item : items)
            write(item, nullptr);
    } else {
        for (const R& r : reports)
            for (const Item<R>& item : items)
                write(item, &r);
    }
    const Bytes bytes = w.build();
    EXPECT_TRUE(w.ok()) << w.error();
    return bytes;
}

// ---- What the store holds ----

// A record as a test expects it: its texts and numbers by variable name
// (FILL for a missing value).  Its texts and first `keys` numbers tell its
// stored record.
struct Want {
    std::vector<std::pair<std::string, std::string>> texts;
    std::vector<std::pair<std::string, double>> numbers;
    size_t keys = 0;
};

// One bulletin of a sweep: its name (of the decoder's pattern), its
// octets, the records it makes and how it ends.
struct Case {
    std::string name;
    Bytes bytes;
    std::vector<Want> records;
    bool setAside = false;
    // A text the PROBLEM lines of the bulletin hold, or empty.
    std::string line;
};

// Every record of the data files of a store directory: its texts and
// numbers by variable (the record variables of one value per record, and
// the texts of char variables of a row per record).
struct Stored {
    std::map<std::string, std::string> texts;
    std::map<std::string, double> numbers;
};

std::vector<Stored> recordsOf(const DecoderInstallation& p, const std::string& pointDir)
{
    std::vector<Stored> all;
    for (const std::string& path : p.dataFiles(pointDir)) {
        int ncid = -1, vars = 0, recordDim = -1;
        if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) {
            ADD_FAILURE() << "cannot open " << path;
            continue;
        }
        nc_inq_nvars(ncid, &vars);
        nc_inq_unlimdim(ncid, &recordDim);
        const size_t n = recordCount(ncid);
        const size_t first = all.size();
        all.resize(first + n);
        for (int var = 0; var < vars; ++var) {
            char name[NC_MAX_NAME + 1];
            nc_type type;
            int rank = 0, dims[NC_MAX_VAR_DIMS];
            nc_inq_var(ncid, var, name, &type, &rank, dims, nullptr);
            if (rank == 0 || dims[0] != recordDim || (rank > 1 && type != NC_CHAR) || rank > 2)
                continue;
            size_t width = 1;
            if (rank == 2)
                nc_inq_dimlen(ncid, dims[1], &width);
            for (size_t r = 0; r < n; ++r) {
                const size_t start[2] = {r, 0}, count[2] = {1, width};
                if (type == NC_CHAR) {
                    std::string text(width, '\0');
                    nc_get_vara_text(ncid, var, start, count, &text[0]);
                    all[first + r].texts[name] = text.c_str();
                } else {
                    double v = 0;
                    nc_get_var1_double(ncid, var, start, &v);
                    all[first + r].numbers[name] = v;
                }
            }
        }
        nc_close(ncid);
    }
    return all;
}

// The differences of a stored record from a wanted one, as text, of its
// key alone or of all its values.
std::string differences(const Stored& s, const Want& w, bool key = false)
{
    std::ostringstream out;
    for (const auto& t : w.texts) {
        const auto it = s.texts.find(t.first);
        if (it == s.texts.end() || it->second != t.second)
            out << " " << t.first << "=\"" << (it == s.texts.end() ? "?" : it->second)
                << "\" wanted \"" << t.second << "\"";
    }
    for (size_t k = 0; k < (key ? w.keys : w.numbers.size()); ++k) {
        const auto& n = w.numbers[k];
        const auto it = s.numbers.find(n.first);
        const double tolerance = 1e-4 * std::max(1.0, std::fabs(n.second));
        if (it == s.numbers.end() || !(std::fabs(it->second - n.second) <= tolerance))
            out << " " << n.first << "="
                << (it == s.numbers.end() ? std::string("?") : std::to_string(it->second))
                << " wanted " << std::to_string(n.second);
    }
    return out.str();
}

std::string describe(const Want& w)
{
    std::ostringstream out;
    for (const auto& t : w.texts)
        out << t.first << "=" << t.second << " ";
    for (const auto& n : w.numbers)
        out << n.first << "=" << n.second << " ";
    return out.str();
}

// The PROBLEM lines of each bulletin in the log of a pass: those between
// its "MXR_ENTRY" line and the next bulletin's.
std::map<std::string, std::string> problemsByBulletin(const std::string& log)
{
    std::map<std::string, std::string> lines;
    std::istringstream in(log);
    std::string line, current;
    while (std::getline(in, line)) {
        const size_t entry = line.find("MXR_ENTRY [");
        if (entry != std::string::npos) {
            const size_t from = line.find("] = ", entry);
            const size_t to = line.find(':', from);
            if (from != std::string::npos && to != std::string::npos)
                current = line.substr(from + 4, to - from - 4);
        } else if (line.find("PROBLEM") != std::string::npos) {
            lines[current] += line + "\n";
        }
    }
    return lines;
}

// The decoder of the data type key stores the cases, all in one pass of one
// process: each ends as its case says, and every stored record is one of
// the records wanted (each value in its place), none left out, none twice.
void sweep(const std::string& key, const std::string& ingest, const std::string& bad,
           const std::string& pointDir, const std::vector<Case>& cases)
{
    DecoderInstallation p(key, ingest, bad);
    for (const Case& c : cases)
        p.tree.write("qev_data/ispan/" + ingest + "/" + c.name,
                     std::string(c.bytes.begin(), c.bytes.end()));
    p.start();    // its first pass over what waits is done before it is ready
    p.child->signal(SIGTERM);
    ASSERT_EQ(p.child->waitExit(20000), 0) << p.child->log();
    EXPECT_TRUE(TempTree::listFiles(p.in).empty()) << p.child->log();

    const std::map<std::string, std::string> problems = problemsByBulletin(p.child->log());
    std::vector<Stored> stored = recordsOf(p, pointDir);
    std::vector<bool> taken(stored.size(), false);
    size_t wanted = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = problems.find(c.name);
        const std::string lines = found == problems.end() ? "" : found->second;
        EXPECT_EQ(TempTree::exists(p.bad + "/" + c.name), c.setAside) << lines;
        if (!c.line.empty()) {
            EXPECT_NE(lines.find(c.line), std::string::npos) << lines;
        }
        for (const Want& w : c.records) {
            ++wanted;
            // The stored record that differs least from the one wanted.
            size_t best = stored.size();
            std::string bestDifferences;
            for (size_t r = 0; r < stored.size(); ++r) {
                if (taken[r] || !differences(stored[r], w, true).empty())
                    continue;
                const std::string d = differences(stored[r], w);
                if (best == stored.size() || d.size() < bestDifferences.size())
                    best = r, bestDifferences = d;
                if (d.empty())
                    break;
            }
            if (best == stored.size()) {
                ADD_FAILURE() << "no record for " << describe(w) << "\n" << lines;
                continue;
            }
            taken[best] = true;
            EXPECT_EQ(bestDifferences, "") << describe(w) << "\n" << lines;
        }
    }
    EXPECT_EQ(stored.size(), wanted) << "records stored beyond those wanted";
}

// ---- Aircraft reports ----

// One observation of an aircraft: its report's tail number and what the
// store holds of it, in the store's units (missing as MISSING).
struct Flight {
    std::string tail;
    double time;
    double lat, lon;
    double height, pressure;
    double temperature, dewpoint, humidity, mixing;
    double direction, speed;    // degrees, m/s
    double phase, relay;
};

// The record of an observation, every variable the store takes of its
// forms: absent values FILL, a relative humidity of 0 FILL too.
Want aircraftRecord(const Flight& f)
{
    auto v = [](double x) { return std::isnan(x) ? FILL : x; };
    Want w;
    w.texts = {{"tailNumber", f.tail}};
    w.keys = 1;
    w.numbers = {{"timeObs", f.time},
                 {"latitude", f.lat},
                 {"longitude", f.lon},
                 {"flightLevel", v(f.height)},
                 {"temperature", v(f.temperature)},
                 {"dewpoint", v(f.dewpoint)},
                 {"relHumidity", f.humidity == 0 ? FILL : v(f.humidity)},
                 {"mixingRatio", v(f.mixing)},
                 {"windDir", v(f.direction)},
                 {"windSpeed", v(f.speed)},
                 {"flightPhase", v(f.phase)},
                 {"pressure", v(f.pressure)},
                 {"dataRelay", v(f.relay)},
                 {"navSystem", FILL},
                 {"turbulence", FILL}};
    return w;
}

const double NOON = epoch(2024, 6, 1, 12, 0);

Flight flight(const std::string& tail, double minutes, double lat, double lon, double height)
{
    Flight f;
    f.tail = tail;
    f.time = NOON + 60 * minutes;
    f.lat = lat, f.lon = lon, f.height = height;
    f.pressure = MISSING;
    f.temperature = 230.15 + lat / 10, f.dewpoint = MISSING, f.humidity = MISSING;
    f.mixing = MISSING;
    f.direction = 270, f.speed = 25.5;
    f.phase = 3, f.relay = MISSING;
    return f;
}

typedef std::vector<Item<Flight>> FlightItems;

// The head of a report: tail number, time group, position.
FlightItems reportHead(bool coarse = false)
{
    FlightItems items = {T<Flight>(1008, [](const Flight& f) { return f.tail; })};
    items += timeGroup<Flight>([](const Flight& f) { return f.time; });
    items.push_back(N<Flight>(coarse ? 5002 : 5001, [](const Flight& f) { return f.lat; }));
    items.push_back(N<Flight>(coarse ? 6002 : 6001, [](const Flight& f) { return f.lon; }));
    return items;
}

Item<Flight> flightValue(int descriptor, double Flight::*field)
{
    return N<Flight>(descriptor, [field](const Flight& f) { return f.*field; });
}

// A bulletin of one report per flight, and the records it makes.
Case aircraftCase(const std::string& name, const std::vector<int>& descriptors,
                  const FlightItems& items, const std::vector<Flight>& flights, bool compressed)
{
    Case c;
    c.name = name;
    c.bytes = message(4, descriptors, items, flights, compressed);
    for (const Flight& f : flights)
        c.records.push_back(aircraftRecord(f));
    return c;
}

} // namespace

TEST(WindForms, AircraftReportsInEachFormAreStoredAsGiven)
{
    QEV_REQUIRE_NCGEN();
    std::vector<Case> cases;

    // The samples' elements, standard and compressed.
    {
        FlightItems items = reportHead();
        items += {flightValue(8004, &Flight::phase), flightValue(7010, &Flight::height),
                  flightValue(12101, &Flight::temperature), flightValue(11001, &Flight::direction),
                  flightValue(11002, &Flight::speed), flightValue(13003, &Flight::humidity)};
        const std::vector<int> d = {1008, 301011, 301013, 301021, 8004, 7010,
                                    12101, 11001, 11002, 13003};
        for (bool compressed : {false, true}) {
            const std::string tag = compressed ? "C" : "S";
            std::vector<Flight> f = {flight("N1" + tag, 1, 40.5, -105.25, 9000),
                                     flight("N2" + tag, 2, 41.0, -104.5, 10500)};
            f[0].humidity = 45, f[1].humidity = 0;
            cases.push_back(aircraftCase("IUAX01_KWBC_plain" + tag, d, items, f, compressed));
        }
    }
    // Other elements of the same quantities: 0 07 002, 0 12 001, 0 12 103,
    // the wind as components; 0 07 007, 0 12 003, 0 13 002, the speed in
    // knots and in km/h.
    {
        std::vector<Flight> f = {flight("N3", 3, 35.5, -80.5, 3500),
                                 flight("N4", 4, -12.25, 130.75, 4200)};
        f[0].dewpoint = 260.55, f[1].dewpoint = 250.15;
        f[0].temperature = 270.5, f[1].temperature = 265.3;
        f[0].direction = std::atan2(6.1, -2.2) * 180 / M_PI, f[0].speed = std::hypot(6.1, 2.2);
        f[1].direction = 0, f[1].speed = 0;
        FlightItems items = reportHead();
        items += {flightValue(7002, &Flight::height), flightValue(12001, &Flight::temperature),
                  flightValue(12103, &Flight::dewpoint),
                  N<Flight>(11003, [](const Flight& x) { return x.tail == "N3" ? -6.1 : 0.0; }),
                  N<Flight>(11004, [](const Flight& x) { return x.tail == "N3" ? 2.2 : 0.0; })};
        f[0].phase = f[1].phase = MISSING;
        cases.push_back(aircraftCase("IUAX01_KWBC_components", {},
                                     items, f, false));
        std::vector<Flight> g = {flight("N5", 5, 50.5, 8.5, 11000), flight("N6", 6, 51, 9, 9500)};
        g[0].dewpoint = 215.3, g[1].dewpoint = MISSING, g[0].mixing = 0.00012;
        g[1].mixing = 0.00345, g[0].phase = g[1].phase = MISSING;
        g[0].speed = 50 * 1852.0 / 3600, g[1].speed = 90 / 3.6;
        FlightItems knots = reportHead();
        knots += {flightValue(7007, &Flight::height), flightValue(12101, &Flight::temperature),
                  flightValue(12003, &Flight::dewpoint), flightValue(13002, &Flight::mixing),
                  flightValue(11001, &Flight::direction),
                  N<Flight>(11084, [](const Flight& x) { return x.tail == "N5" ? 50 : MISSING; }),
                  N<Flight>(11083, [](const Flight& x) { return x.tail == "N6" ? 90 : MISSING; })};
        cases.push_back(aircraftCase("IUAX01_KWBC_knots", {},
                                     knots, g, true));
    }
    // The WMO sequence of 3 11 002: a coarse position, the pressure, the
    // indicated altitude (0 10 070), 0 12 001 and the mixing ratio.
    {
        std::vector<Flight> f = {flight("N7", 7, 33.25, -97.5, 7620),
                                 flight("N8", 8, 33.5, -97.75, 8230)};
        f[0].pressure = 38000, f[1].pressure = 35000;
        f[0].mixing = 0.00021, f[1].mixing = 0.00018;
        f[0].temperature = 240.3, f[1].temperature = 236.5;
        f[0].relay = f[1].relay = 1;
        FlightItems items = {T<Flight>(1006, [](const Flight&) { return "AAL1"; }),
                             T<Flight>(1008, [](const Flight& x) { return x.tail; }),
                             K<Flight>(2001, 0), K<Flight>(2002, 0), K<Flight>(2005, 0.5),
                             K<Flight>(2062, 1), K<Flight>(2070, 0),
                             T<Flight>(2065, [](const Flight&) { return "DFW"; })};
        items += timeGroup<Flight>([](const Flight& x) { return x.time; });
        items += {flightValue(5002, &Flight::lat), flightValue(6002, &Flight::lon),
                  flightValue(7004, &Flight::pressure), K<Flight>(2064, 0),
                  flightValue(8004, &Flight::phase), flightValue(10070, &Flight::height),
                  flightValue(11001, &Flight::direction), flightValue(11002, &Flight::speed),
                  flightValue(12001, &Flight::temperature), flightValue(13002, &Flight::mixing)};
        Case c = aircraftCase("IUAX02_KWBC_311002", {301065, 301066, 311003}, items, f, false);
        for (Want& w : c.records)
            w.texts.insert(w.texts.end(), {{"flightNumber", "AAL1"}, {"groundStation", "DFW"}});
        cases.push_back(c);
    }
    // Further observations of a report (3 11 010's form, in short): each at
    // its own time, position and height above sea level (0 07 007).
    {
        Flight report = flight("N9", 10, 42.255, -2.04167, 11280);
        report.phase = MISSING;
        Flight further[2] = {flight("N9", 2, 41.58667, -2.48667, 9878),
                             flight("N9", 6, 41.83683, -2.26333, 10578)};
        FlightItems items = reportHead();
        items += {flightValue(7010, &Flight::height), flightValue(11001, &Flight::direction),
                  flightValue(11002, &Flight::speed), flightValue(12101, &Flight::temperature),
                  F<Flight>(31001, 2)};
        for (const Flight& o : further) {
            items += timeGroup<Flight>([o](const Flight&) { return o.time; });
            items += {K<Flight>(5001, o.lat),
                      K<Flight>(6001, o.lon),
                      K<Flight>(7007, o.height),
                      K<Flight>(11001, o.direction),
                      K<Flight>(12101, o.temperature)};
        }
        Case c = aircraftCase("IUAX02_KWBC_further",
                              {1008, 301011, 301013, 301021, 7010, 11001, 11002, 12101, 106000,
                               31001, 301011, 301013, 301021, 7007, 11001, 12101},
                              items, {report}, false);
        for (Flight o : further) {
            o.speed = MISSING, o.phase = MISSING;
            c.records.push_back(aircraftRecord(o));
        }
        cases.push_back(c);
    }
    // Levels of a report: delayed (3 11 008), fixed, each with its own
    // position (3 11 009), each with its own time and position and its
    // mixing ratio of more precision (3 11 012).
    {
        const Flight report = flight("N10", 20, 40.64123, -73.77861, MISSING);
        std::vector<Flight> levels;
        for (int k = 0; k < 3; ++k) {
            Flight l = report;
            l.height = 430 + 1000 * k, l.temperature = 285.45 - 6.5 * k;
            l.dewpoint = 280.15 - 7 * k, l.direction = 250 + 5 * k, l.speed = 8.5 + 2 * k;
            l.phase = 5;
            levels.push_back(l);
        }
        auto level = [&](int k, bool position) {
            const Flight l = levels[k];
            FlightItems items = {K<Flight>(7010, l.height)};
            if (position)
                items += {K<Flight>(5001, l.lat),
                          K<Flight>(6001, l.lon)};
            items += {K<Flight>(11001, l.direction),
                      K<Flight>(11002, l.speed),
                      K<Flight>(2064, 0),
                      K<Flight>(12101, l.temperature),
                      K<Flight>(12103, l.dewpoint)};
            return items;
        };
        const char* forms[3] = {"311008", "fixed", "311009"};
        for (int form = 0; form < 3; ++form) {
            Flight r = report;
            r.tail = std::string("N1") + std::to_string(form + 1);
            r.phase = 5;
            FlightItems items = reportHead();
            items.push_back(flightValue(8004, &Flight::phase));
            if (form != 1)
                items.push_back(F<Flight>(31001, 3));
            for (int k = 0; k < 3; ++k) {
                levels[k].tail = r.tail;
                levels[k].lat = form == 2 ? 40.64123 + 0.01 * k : report.lat;
                levels[k].lon = form == 2 ? -73.77861 + 0.02 * k : report.lon;
                items += level(k, form == 2);
            }
            std::vector<int> d = {1008, 301011, 301013, 301021, 8004};
            if (form == 1)
                d.insert(d.end(), {101003, 311006});
            else
                d.insert(d.end(), {101000, 31001, form == 0 ? 311006 : 311007});
            Case c = aircraftCase(std::string("IUAX01_KWBC_") + forms[form], d, items, {r}, false);
            c.records.clear();
            for (const Flight& l : levels)
                c.records.push_back(aircraftRecord(l));
            cases.push_back(c);
        }
        // 3 11 012: its WIGOS identifier, then levels of their own time.
        Flight r = report;
        r.tail = "N14", r.phase = 6;
        FlightItems items = {K<Flight>(1125, 0), K<Flight>(1126, 20000), K<Flight>(1127, 0),
                             T<Flight>(1128, [](const Flight&) { return "N14"; }),
                             T<Flight>(1008, [](const Flight& x) { return x.tail; }),
                             T<Flight>(1111, [](const Flight&) { return "KAT"; }),
                             T<Flight>(1112, [](const Flight&) { return "KBO"; })};
        items += timeGroup<Flight>([](const Flight& x) { return x.time; });
        items += {flightValue(5001, &Flight::lat), flightValue(6001, &Flight::lon),
                  flightValue(8004, &Flight::phase), F<Flight>(31002, 2)};
        std::vector<Flight> timed;
        for (int k = 0; k < 2; ++k) {
            Flight l = levels[k];
            l.tail = "N14", l.phase = 6, l.time = r.time + 10 + 75 * k;
            l.lat = 33.6367 + 0.01 * k, l.lon = -84.4281 + 0.03 * k;
            l.mixing = 0.0031234 - 0.0005 * k, l.humidity = 55 + 7 * k;
            timed.push_back(l);
            items += timeGroup<Flight>([l](const Flight&) { return l.time; });
            items += {K<Flight>(7010, l.height),      K<Flight>(5001, l.lat),
                      K<Flight>(6001, l.lon),         K<Flight>(11001, l.direction),
                      K<Flight>(11002, l.speed),      K<Flight>(2064, 0),
                      K<Flight>(12101, l.temperature), K<Flight>(12103, l.dewpoint),
                      O<Flight>(201144),              O<Flight>(202133),
                      K<Flight>(13002, l.mixing),     O<Flight>(202000),
                      O<Flight>(201000),              K<Flight>(13003, l.humidity),
                      K<Flight>(33026, 0)};
        }
        Case c = aircraftCase("IUAX01_KWBC_311012", {311012}, items, {r}, false);
        c.records.clear();
        for (const Flight& l : timed)
            c.records.push_back(aircraftRecord(l));
        cases.push_back(c);
    }
    // Operators on the main quantities: a temperature of more width and
    // precision (2 01, 2 02), a wind speed of more precision (2 07), a
    // flight number longer than its element (2 08), an associated field on
    // the flight level (2 04).
    for (bool compressed : {false, true}) {
        const std::string tag = compressed ? "C" : "S";
        std::vector<Flight> f = {flight("N15" + tag, 30, 60.5, 25.5, 10000),
                                 flight("N16" + tag, 31, 61.0, 26.0, 10600)};
        f[0].temperature = 225.123, f[1].temperature = 221.987;
        f[0].speed = 25.57, f[1].speed = 31.04;
        f[0].phase = f[1].phase = MISSING;
        FlightItems items = reportHead();
        items += {O<Flight>(208012),
                  T<Flight>(1006, [](const Flight& x) { return "FLT" + x.tail; }),
                  O<Flight>(208000), O<Flight>(204002), K<Flight>(31021, 1),
                  flightValue(7010, &Flight::height), O<Flight>(204000), O<Flight>(201130),
                  O<Flight>(202129), flightValue(12101, &Flight::temperature), O<Flight>(202000),
                  O<Flight>(201000), flightValue(11001, &Flight::direction), O<Flight>(207001),
                  flightValue(11002, &Flight::speed), O<Flight>(207000)};
        Case c = aircraftCase("IUAX01_KWBC_operators" + tag, {}, items, f, compressed);
        for (size_t k = 0; k < c.records.size(); ++k)
            c.records[k].texts.push_back({"flightNumber", "FLT" + f[k].tail});
        cases.push_back(c);
    }
    // Quality information after 2 22 000: a bit map over the 13 elements
    // before it, the confidences of the temperature and the wind speed.
    for (bool compressed : {false, true}) {
        const std::string tag = compressed ? "C" : "S";
        std::vector<Flight> f = {flight("N20" + tag, 40, 20.5, 100.5, 9000),
                                 flight("N21" + tag, 41, 21.0, 101.0, 9100)};
        f[0].phase = f[1].phase = MISSING;
        FlightItems items = reportHead();
        items += {flightValue(7010, &Flight::height), flightValue(12101, &Flight::temperature),
                  flightValue(11001, &Flight::direction), flightValue(11002, &Flight::speed),
                  O<Flight>(222000), O<Flight>(236000)};
        for (int k = 0; k < 13; ++k)
            items.push_back(
                N<Flight>(31031, [k](const Flight&) { return k == 10 || k == 12 ? 0 : MISSING; }));
        items += {K<Flight>(1031, 7), K<Flight>(1032, 1), K<Flight>(33007, 70),
                  K<Flight>(33007, 80)};
        cases.push_back(aircraftCase("IUAX01_KWBC_quality" + tag, {}, items, f, compressed));
    }
    // Positions on the date line and the poles, times at a year's end and
    // on a leap day, values at the limits of their widths.
    {
        std::vector<Flight> f = {flight("N17", 0, 90, 180, -1024),
                                 flight("N18", 0, -90, -180, 64510),
                                 flight("N19", 0, 0.00001, -179.99999, 0)};
        f[0].time = epoch(2023, 12, 31, 23, 59, 59), f[1].time = epoch(2024, 1, 1, 0, 0, 0);
        f[2].time = epoch(2024, 2, 29, 23, 59, 59);
        f[0].temperature = 0, f[1].temperature = 655.34, f[2].temperature = 273.15;
        f[0].direction = 0, f[1].direction = 360, f[2].direction = 510;
        f[0].speed = 0, f[1].speed = 409.4, f[2].speed = MISSING;
        f[0].humidity = 126, f[1].humidity = 1, f[2].humidity = MISSING;
        FlightItems items = reportHead();
        items += {flightValue(8004, &Flight::phase), flightValue(7010, &Flight::height),
                  flightValue(12101, &Flight::temperature), flightValue(11001, &Flight::direction),
                  flightValue(11002, &Flight::speed), flightValue(13003, &Flight::humidity)};
        cases.push_back(aircraftCase("IUAX02_KWBC_limits",
                                     {1008, 301011, 301013, 301021, 8004, 7010, 12101, 11001,
                                      11002, 13003},
                                     items, f, true));
    }
    // A bulletin of an aircraft message, then a satellite wind message: the
    // aircraft report is stored, the bulletin set aside naming the other
    // kind.
    {
        std::vector<Flight> f = {flight("N22", 50, 45.5, -73.5, 9000)};
        f[0].phase = MISSING;
        FlightItems items = reportHead();
        items += {flightValue(7010, &Flight::height), flightValue(11001, &Flight::direction),
                  flightValue(11002, &Flight::speed), flightValue(12101, &Flight::temperature)};
        Case c = aircraftCase("IUAX01_KWBC_mixed", {}, items, f, false);
        FlightItems wind = {K<Flight>(1007, 257)};
        wind += timeGroup<Flight>([](const Flight& x) { return x.time; });
        wind += {flightValue(5001, &Flight::lat), flightValue(6001, &Flight::lon),
                 K<Flight>(7004, 25000), flightValue(11001, &Flight::direction),
                 flightValue(11002, &Flight::speed)};
        c.bytes = c.bytes + message(5, {}, wind, f, false);
        c.setAside = true;
        c.line = "Not aircraft reports: the message is of data category 5 (single level upper-air "
                 "data, satellite: satellite winds), aircraft reports are of data category 4.";
        cases.push_back(c);
    }
    // Observations one after another whose heights are 0 10 007, a height
    // above sea level as the soundings and profilers read it: one record
    // each, told apart by the height given again.
    {
        std::vector<Flight> f;
        for (int k = 0; k < 3; ++k) {
            Flight l = flight("N24", 60, 41.5, -72.5, 600 + 900 * k);
            l.temperature = 281.15 - 6 * k;
            l.direction = l.speed = l.phase = MISSING;
            f.push_back(l);
        }
        FlightItems items = reportHead();
        for (const Flight& l : f)
            items += {K<Flight>(10007, l.height), K<Flight>(12101, l.temperature)};
        Case c = aircraftCase("IUAX01_KWBC_height10007", {}, items, {f[0]}, false);
        c.records.clear();
        for (const Flight& l : f)
            c.records.push_back(aircraftRecord(l));
        cases.push_back(c);
    }
    // A height in a form the store does not hold (a geopotential height):
    // the report is stored without it, the bulletin set aside naming it.
    {
        std::vector<Flight> f = {flight("N23", 55, 40.5, -74.5, 9000)};
        f[0].phase = MISSING;
        FlightItems items = reportHead();
        items += {flightValue(7009, &Flight::height), flightValue(12101, &Flight::temperature),
                  flightValue(11001, &Flight::direction), flightValue(11002, &Flight::speed)};
        Case c = aircraftCase("IUAX01_KWBC_geopotential", {}, items, f, false);
        f[0].height = MISSING;
        c.records = {aircraftRecord(f[0])};
        c.setAside = true;
        c.line = "Report 1 gives its height only as 0 07 009, which the store does not hold";
        cases.push_back(c);
    }
    sweep("acars", "bufr/acars", "badAcarsBufr", "acars/netcdf", cases);
}

namespace {

// ---- Satellite winds and scatterometer cells ----

// A wind or wind vector cell: what its bulletin gives of it (MISSING where
// it gives nothing), in the store's units.
struct Wind {
    double satellite, orbit;
    double time;
    double lat, lon;
    double pressure, direction, speed;
    double cloudTemperature, method, confidence, frequency;
    double quality, ambiguities, rainProbability, rainIndex, likelihood;
    bool qualityGiven;    // whether the bulletin gives the cell quality at all
};

Wind wind(double minutes, double lat, double lon)
{
    Wind w;
    w.satellite = 257, w.orbit = 5000;
    w.time = NOON + 60 * minutes;
    w.lat = lat, w.lon = lon;
    w.pressure = 25000 + 100 * std::round(lat), w.direction = 250;
    w.speed = 12.5 + std::round(lat) / 10;
    w.cloudTemperature = 220.5, w.method = 2, w.confidence = 87, w.frequency = 2.7e13;
    w.quality = 0, w.ambiguities = 2, w.rainProbability = 0.02, w.rainIndex = 5;
    w.likelihood = -1.25;
    w.qualityGiven = true;
    return w;
}

double value(double x)
{
    return std::isnan(x) ? FILL : x;
}

// The time a wind is stored at: its own, to the nearest minute.
double minute(double t)
{
    return std::floor((t + 30) / 60) * 60;
}

Want windRecord(const Wind& w)
{
    Want x;
    x.keys = 2;
    x.numbers = {{"latitude", w.lat},
                 {"longitude", w.lon},
                 {"validTime", minute(w.time)},
                 {"pressure", value(w.pressure)},
                 {"windDir", value(w.direction)},
                 {"windSpd", value(w.speed)},
                 {"cloudTemp", value(w.cloudTemperature)},
                 {"heightMethod", value(w.method)},
                 {"confidence", value(w.confidence)},
                 {"channelFreq", value(w.frequency)}};
    return x;
}

// rainIndex: 1 for a cell quality that is given, 0 for a missing one,
// nothing where the bulletin has none.
Want cellRecord(const Wind& w)
{
    Want x;
    x.keys = 2;
    x.numbers = {{"latitude", w.lat},
                 {"longitude", w.lon},
                 {"validTime", minute(w.time)},
                 {"satelliteId", value(w.satellite)},
                 {"orbitNumber", value(w.orbit)},
                 {"rainIndex", !w.qualityGiven ? FILL : std::isnan(w.quality) ? 0.0 : 1.0},
                 {"numAmbiguities", value(w.ambiguities)},
                 {"rainProbability", value(w.rainProbability)},
                 {"nofRainIndex", value(w.rainIndex)},
                 {"windSpd", value(w.speed)},
                 {"windDir", value(w.direction)},
                 {"likelihood", value(w.likelihood)}};
    return x;
}

typedef std::vector<Item<Wind>> WindItems;

Item<Wind> windValue(int descriptor, double Wind::*field)
{
    return N<Wind>(descriptor, [field](const Wind& w) { return w.*field; });
}

WindItems windTime()
{
    return timeGroup<Wind>([](const Wind& w) { return w.time; });
}

// A bulletin of one report per wind, and the records it makes.
Case windCase(const std::string& name, int category, const std::vector<int>& descriptors,
              const WindItems& items, const std::vector<Wind>& winds, bool compressed,
              Want (*record)(const Wind&))
{
    Case c;
    c.name = name;
    c.bytes = message(category, descriptors, items, winds, compressed);
    for (const Wind& w : winds)
        c.records.push_back(record(w));
    return c;
}

// An aircraft message, one report, for the bulletins of two kinds.
Bytes aircraftMessage()
{
    const Flight f = flight("N99", 5, 45.5, -73.5, 9000);
    FlightItems items = reportHead();
    items += {flightValue(7010, &Flight::height), flightValue(11001, &Flight::direction),
              flightValue(11002, &Flight::speed)};
    return message(4, {}, items, {f}, false);
}

} // namespace

TEST(WindForms, SatelliteWindsInEachFormAreStoredAsGiven)
{
    QEV_REQUIRE_NCGEN();
    std::vector<Case> cases;
    const std::vector<int> plain = {1007, 301011, 301013, 301021, 7004, 11001,
                                    11002, 2163, 12071, 33007, 2153};
    WindItems plainItems = {windValue(1007, &Wind::satellite)};
    plainItems += windTime();
    plainItems += {windValue(5001, &Wind::lat), windValue(6001, &Wind::lon),
                   windValue(7004, &Wind::pressure), windValue(11001, &Wind::direction),
                   windValue(11002, &Wind::speed), windValue(2163, &Wind::method),
                   windValue(12071, &Wind::cloudTemperature), windValue(33007, &Wind::confidence),
                   windValue(2153, &Wind::frequency)};
    for (bool compressed : {false, true}) {
        const double at = compressed ? 10 : 0;
        std::vector<Wind> w = {wind(1, 45.5 + at, -120.25), wind(2.4, -33.75 + at, 151.5)};
        w[1].time += 29;
        cases.push_back(windCase(std::string("IUCN01_KNES_plain") + (compressed ? "C" : "S"), 5,
                                 plain, plainItems, w, compressed, windRecord));
    }
    // Other elements of the same quantities: a coarse position, the
    // pressure as 0 10 004, the wind as components; what it does not give
    // is missing.
    {
        std::vector<Wind> w = {wind(3, 12.25, 100.5), wind(3, 12.5, 101)};
        const double u[2] = {-6.1, 0}, v[2] = {2.2, 0};
        for (int k = 0; k < 2; ++k) {
            w[k].speed = std::hypot(u[k], v[k]);
            w[k].direction = k == 0 ? std::atan2(6.1, -2.2) * 180 / M_PI : 0;
            w[k].cloudTemperature = w[k].method = w[k].confidence = w[k].frequency = MISSING;
        }
        WindItems items = {windValue(1007, &Wind::satellite)};
        items += windTime();
        items += {windValue(5002, &Wind::lat), windValue(6002, &Wind::lon),
                  windValue(10004, &Wind::pressure),
                  N<Wind>(11003, [](const Wind& x) { return x.lat == 12.25 ? -6.1 : 0.0; }),
                  N<Wind>(11004, [](const Wind& x) { return x.lat == 12.25 ? 2.2 : 0.0; })};
        cases.push_back(windCase("IUCN01_KNES_components", 5, {}, items, w, false, windRecord));
    }
    // The sequences of 3 10 014's head: 3 01 072 and 3 03 041, compressed.
    {
        std::vector<Wind> w = {wind(4, 20.5, 30.5), wind(4.5, 21, 31)};
        for (Wind& x : w)
            x.method = x.confidence = MISSING;
        WindItems items = {windValue(1007, &Wind::satellite), K<Wind>(1031, 160),
                           K<Wind>(2020, 61), K<Wind>(2028, 4000), K<Wind>(2029, 4000)};
        items += windTime();
        items += {windValue(5001, &Wind::lat), windValue(6001, &Wind::lon), K<Wind>(2152, 1024),
                  K<Wind>(2023, 1), windValue(7004, &Wind::pressure),
                  windValue(11001, &Wind::direction), windValue(11002, &Wind::speed),
                  windValue(2153, &Wind::frequency), K<Wind>(2154, 1e12),
                  windValue(12071, &Wind::cloudTemperature)};
        cases.push_back(windCase("IUCN01_KNES_sequences", 5, {301072, 303041}, items, w, true,
                                 windRecord));
    }
    // Operators on the main quantities: a pressure of more width and
    // precision (2 01, 2 02), a speed of more precision (2 07), an
    // associated field on the direction (2 04).
    for (bool compressed : {false, true}) {
        const double at = compressed ? 10 : 0;
        std::vector<Wind> w = {wind(5, 50.5 + at, 8.5), wind(5, 51 + at, 9)};
        w[0].pressure = 25012, w[1].pressure = 30007;
        w[0].speed = 20.57, w[1].speed = 3.01;
        for (Wind& x : w)
            x.method = x.cloudTemperature = x.confidence = x.frequency = MISSING;
        WindItems items = {windValue(1007, &Wind::satellite)};
        items += windTime();
        items += {windValue(5001, &Wind::lat), windValue(6001, &Wind::lon), O<Wind>(201131),
                  O<Wind>(202129), windValue(7004, &Wind::pressure), O<Wind>(202000),
                  O<Wind>(201000), O<Wind>(204002), K<Wind>(31021, 1),
                  windValue(11001, &Wind::direction), O<Wind>(204000), O<Wind>(207001),
                  windValue(11002, &Wind::speed), O<Wind>(207000)};
        cases.push_back(windCase(std::string("IUCN01_KNES_operators") + (compressed ? "C" : "S"),
                                 5, {}, items, w, compressed, windRecord));
    }
    // Quality information after 2 22 000: the confidence of the wind speed
    // through the bit map over the 12 elements before it.
    for (bool compressed : {false, true}) {
        const double at = compressed ? 10 : 0;
        std::vector<Wind> w = {wind(6, -50.5 - at, 8.5), wind(6, -51 - at, 9)};
        w[0].confidence = 77, w[1].confidence = 64;
        for (Wind& x : w)
            x.method = x.cloudTemperature = x.frequency = MISSING;
        WindItems items = {windValue(1007, &Wind::satellite)};
        items += windTime();
        items += {windValue(5001, &Wind::lat), windValue(6001, &Wind::lon),
                  windValue(7004, &Wind::pressure), windValue(11001, &Wind::direction),
                  windValue(11002, &Wind::speed), O<Wind>(222000), O<Wind>(236000)};
        for (int k = 0; k < 12; ++k)
            items.push_back(N<Wind>(31031, [k](const Wind&) { return k == 11 ? 0 : MISSING; }));
        items += {K<Wind>(1031, 160), K<Wind>(1032, 1), windValue(33007, &Wind::confidence)};
        cases.push_back(windCase(std::string("IUCN01_KNES_quality") + (compressed ? "C" : "S"), 5,
                                 {}, items, w, compressed, windRecord));
    }
    // Qualifiers around the time group and the wind's values: a time
    // significance (nominal reporting time) before the group, cancelled
    // after it; a forecast's pressure and wind after the wind's own, which
    // are no values of the wind.
    {
        std::vector<Wind> w = {wind(7, 5.5, -60.5), wind(7, 6, -61)};
        for (Wind& x : w)
            x.method = x.cloudTemperature = x.confidence = x.frequency = MISSING;
        WindItems items = {windValue(1007, &Wind::satellite), K<Wind>(8021, 25)};
        items += windTime();
        items += {K<Wind>(8021, MISSING),     windValue(5001, &Wind::lat),
                  windValue(6001, &Wind::lon), windValue(7004, &Wind::pressure),
                  windValue(11001, &Wind::direction), windValue(11002, &Wind::speed),
                  K<Wind>(8021, 4),            K<Wind>(7004, 50000),
                  K<Wind>(11001, 90),          K<Wind>(11002, 3.5),
                  K<Wind>(8021, MISSING)};
        cases.push_back(windCase("IUCN01_KNES_qualifiers", 5, {}, items, w, false, windRecord));
    }
    // Winds in a delayed replication of a report that gives their satellite
    // and time once; in a fixed replication, which the decoding writes out,
    // nothing tells the winds' latitudes apart from one given three times:
    // the bulletin is set aside naming it.
    for (bool delayed : {true, false}) {
        std::vector<Wind> w = {wind(8, 30.5, delayed ? 40.5 : 50.5),
                               wind(8, 31, delayed ? 41 : 51), wind(8, 31.5, delayed ? 42 : 52)};
        for (Wind& x : w)
            x.method = x.cloudTemperature = x.confidence = x.frequency = MISSING;
        WindItems items = {windValue(1007, &Wind::satellite)};
        items += windTime();
        if (delayed)
            items.push_back(F<Wind>(31001, 3));
        for (int k = 0; k < 3; ++k) {
            const Wind x = w[k];
            items += {K<Wind>(5001, x.lat), K<Wind>(6001, x.lon), K<Wind>(7004, x.pressure),
                      K<Wind>(11001, x.direction), K<Wind>(11002, x.speed)};
        }
        std::vector<int> d = {1007, 301011, 301013};
        if (delayed)
            d.insert(d.end(), {105000, 31001});
        else
            d.push_back(105003);
        d.insert(d.end(), {5001, 6001, 7004, 11001, 11002});
        Case c = windCase(std::string("IUCN01_KNES_") + (delayed ? "delayed" : "fixed"), 5, d,
                          items, {w[0]}, false, windRecord);
        c.records.clear();
        for (const Wind& x : w)
            if (delayed)
                c.records.push_back(windRecord(x));
        if (!delayed) {
            c.setAside = true;
            c.line = "0 05 001 given 3 times in the report of subset 1 with no qualifier or "
                     "replication to tell which is the wind's own.";
        }
        cases.push_back(c);
    }
    // Positions on the date line and the poles, times rounded over a year's
    // end and a leap day, values at the limits of their widths.
    {
        std::vector<Wind> w = {wind(0, 90, 180), wind(0, -90, -180), wind(0, 0.00001, -179.99999)};
        w[0].time = epoch(2023, 12, 31, 23, 59, 45), w[1].time = epoch(2024, 2, 29, 23, 59, 31);
        w[2].time = epoch(2024, 2, 29, 12, 0, 29);
        w[0].pressure = 163820, w[1].pressure = 0, w[2].pressure = MISSING;
        w[0].speed = 409.4, w[1].speed = 0, w[2].speed = 0.1;
        w[0].direction = 360, w[1].direction = 0, w[2].direction = MISSING;
        w[0].confidence = 100, w[1].confidence = 0, w[2].confidence = MISSING;
        w[0].cloudTemperature = 409.4, w[1].cloudTemperature = 0;
        w[0].method = 14, w[1].method = 0, w[2].method = MISSING;
        cases.push_back(windCase("IUCN01_KNES_limits", 5, plain, plainItems, w, true, windRecord));
    }
    // A bulletin of a satellite wind message, then an aircraft message: the
    // winds are stored, the aircraft report is not stored as a wind, and
    // the bulletin is set aside naming what it is.
    {
        const std::vector<Wind> w = {wind(9, -20.5, -40.5)};
        Case c = windCase("IUCN01_KNES_mixed", 5, plain, plainItems, w, false, windRecord);
        c.bytes = c.bytes + aircraftMessage();
        c.setAside = true;
        c.line = "Not satellite winds: the message is of data category 4 (single level upper-air "
                 "data other than satellite: aircraft), satellite winds are of data category 5.";
        cases.push_back(c);
    }
    // A wind whose pressure is missing gives its level as a height, which
    // the store does not hold: stored without it, the bulletin set aside
    // naming it; the other wind's pressure is stored.
    {
        std::vector<Wind> w = {wind(10, 10.5, 20.5), wind(10, 11, 21)};
        w[0].pressure = MISSING;
        for (Wind& x : w)
            x.method = x.cloudTemperature = x.confidence = x.frequency = MISSING;
        WindItems items = {windValue(1007, &Wind::satellite)};
        items += windTime();
        items += {windValue(5001, &Wind::lat), windValue(6001, &Wind::lon),
                  windValue(7004, &Wind::pressure), K<Wind>(7002, 10500),
                  windValue(11001, &Wind::direction), windValue(11002, &Wind::speed)};
        Case c = windCase("IUCN01_KNES_height", 5, {}, items, w, false, windRecord);
        c.setAside = true;
        c.line = "gives its level only as 0 07 002 (a height), which the store does not hold";
        cases.push_back(c);
        // The same as a satellite navigation altitude, a height the
        // aircraft decoder knows.
        std::vector<Wind> altitude = {wind(11, 12.5, 22.5)};
        altitude[0].pressure = altitude[0].method = altitude[0].cloudTemperature = MISSING;
        altitude[0].confidence = altitude[0].frequency = MISSING;
        items[items.size() - 3] = K<Wind>(10053, 10500);
        Case a = windCase("IUCN01_KNES_altitude", 5, {}, items, altitude, false, windRecord);
        a.setAside = true;
        a.line = "gives its level only as 0 10 053 (a height), which the store does not hold";
        cases.push_back(a);
    }
    // A wind of year 0 among good ones: 0 04 001 is the year given, a time
    // the store cannot hold; the wind is refused with its line, the others
    // stored, the bulletin set aside naming it.
    {
        std::vector<Wind> w = {wind(12, 32.5, -117.5), wind(12, 33.75, -118.0),
                               wind(12, 34.5, -118.5)};
        for (Wind& x : w)
            x.method = x.cloudTemperature = x.confidence = x.frequency = MISSING;
        WindItems items = {windValue(1007, &Wind::satellite)};
        items += windTime();
        items[1] = N<Wind>(4001, [](const Wind& x) { return x.lat == 33.75 ? 0 : 2024; });
        items += {windValue(5001, &Wind::lat), windValue(6001, &Wind::lon),
                  windValue(7004, &Wind::pressure), windValue(11001, &Wind::direction),
                  windValue(11002, &Wind::speed)};
        Case c = windCase("IUCN01_KNES_year0", 5, {}, items, w, false, windRecord);
        c.records.erase(c.records.begin() + 1);
        c.setAside = true;
        c.line = "lies before 1970-01-01 00:00:00, the first second a time holds.  Skipping to "
                 "next observation.";
        cases.push_back(c);
    }
    sweep("csw", "bufr/CSW", "badCSWBufr", "CSW/netcdf", cases);
}

TEST(WindForms, ScatterometerCellsInEachFormAreStoredAsGiven)
{
    QEV_REQUIRE_NCGEN();
    std::vector<Case> cases;
    // The samples' elements, standard and compressed.
    WindItems head = {windValue(1007, &Wind::satellite), windValue(5040, &Wind::orbit)};
    head += windTime();
    head += {windValue(5002, &Wind::lat), windValue(6002, &Wind::lon)};
    WindItems samples = head;
    samples += {windValue(21109, &Wind::quality), windValue(21101, &Wind::ambiguities),
                windValue(21120, &Wind::rainProbability), windValue(21121, &Wind::rainIndex),
                windValue(11012, &Wind::speed), windValue(11011, &Wind::direction),
                windValue(21104, &Wind::likelihood)};
    const std::vector<int> sampleDescriptors = {1007,  5040,  301011, 301013, 301023, 21109, 21101,
                                                21120, 21121, 11012, 11011,  21104};
    for (bool compressed : {false, true}) {
        const double at = compressed ? 10 : 0;
        std::vector<Wind> w = {wind(1, 10.5 + at, -30.25), wind(1.5, 10.75 + at, -30.5)};
        w[1].quality = 8192, w[1].orbit = 5001;
        cases.push_back(windCase(std::string("ISXX01_KNES_plain") + (compressed ? "C" : "S"), 12,
                                 sampleDescriptors, samples, w, compressed, cellRecord));
    }
    // Ambiguities: of the older layout (0 11 002, 0 11 001) in a delayed
    // replication, and written out as a fixed replication of the 10 m
    // wind; the index of the selected one (0 21 102) names which is the
    // cell's.
    for (bool delayed : {true, false}) {
        const double at = delayed ? 0 : 5;
        std::vector<Wind> w = {wind(2, 20.5 + at, -30.25), wind(2, 20.75 + at, -30.5)};
        const int speed = delayed ? 11002 : 11012, direction = delayed ? 11001 : 11011;
        WindItems items = head;
        items += {windValue(21101, &Wind::ambiguities),
                  N<Wind>(21102, [at](const Wind& x) { return x.lat == 20.5 + at ? 3 : 1; })};
        if (delayed)
            items.push_back(F<Wind>(31001, 3));
        for (int k = 0; k < 3; ++k)
            items += {N<Wind>(speed, [k](const Wind& x) { return x.speed + 10 * k; }),
                      N<Wind>(direction, [k](const Wind& x) { return x.direction - 20 * k; }),
                      N<Wind>(21104, [k](const Wind& x) { return x.likelihood - k; })};
        std::vector<int> d = {1007, 5040, 301011, 301013, 301023, 21101, 21102};
        if (delayed)
            d.insert(d.end(), {103000, 31001});
        else
            d.push_back(103003);
        d.insert(d.end(), {speed, direction, 21104});
        Case c = windCase(std::string("ISXX01_KNES_") + (delayed ? "delayed" : "fixed"), 12, d,
                          items, w, false, cellRecord);
        for (size_t k = 0; k < w.size(); ++k) {
            Wind x = w[k];
            const int chosen = k == 0 ? 2 : 0;
            x.speed += 10 * chosen, x.direction -= 20 * chosen, x.likelihood -= chosen;
            x.qualityGiven = false, x.rainProbability = x.rainIndex = MISSING;
            c.records[k] = cellRecord(x);
        }
        cases.push_back(c);
    }
    // Operators on the 10 m wind (2 01, 2 02 as 3 12 030 has them); quality
    // information after 2 22 000 over the 13 elements before it.
    for (bool compressed : {false, true}) {
        const double at = compressed ? 10 : 0;
        std::vector<Wind> w = {wind(3, 30.5 + at, -30.25), wind(3, 30.75 + at, -30.5)};
        w[0].speed = 7.52, w[1].speed = 11.07;
        for (Wind& x : w) {
            x.ambiguities = x.rainProbability = x.rainIndex = MISSING;
            x.qualityGiven = false;
        }
        WindItems items = head;
        items += {O<Wind>(201130), O<Wind>(202129), windValue(11012, &Wind::speed),
                  O<Wind>(202000), O<Wind>(201000), windValue(11011, &Wind::direction),
                  windValue(21104, &Wind::likelihood), O<Wind>(222000), O<Wind>(236000)};
        for (int k = 0; k < 13; ++k)
            items.push_back(N<Wind>(31031, [k](const Wind&) { return k == 10 ? 0 : MISSING; }));
        items += {K<Wind>(1031, 160), K<Wind>(1032, 1), K<Wind>(33007, 91)};
        cases.push_back(windCase(std::string("ISXX01_KNES_operators") + (compressed ? "C" : "S"),
                                 12, {}, items, w, compressed, cellRecord));
    }
    // Positions on the date line and the poles, times rounded over a year's
    // end and a leap day, values at the limits of their widths.
    {
        std::vector<Wind> w = {wind(0, 90, 180), wind(0, -90, -180), wind(0, 0.01, -179.99)};
        w[0].time = epoch(2023, 12, 31, 23, 59, 45), w[1].time = epoch(2024, 2, 29, 23, 59, 31);
        w[2].time = epoch(2024, 2, 29, 12, 0, 29);
        w[0].quality = 131070, w[1].quality = MISSING, w[2].quality = 8192;
        w[0].speed = 409.4, w[1].speed = 0, w[2].speed = MISSING;
        w[0].direction = 360, w[1].direction = 0;
        w[0].likelihood = 2.766, w[1].likelihood = -30, w[2].likelihood = MISSING;
        w[0].satellite = 1022, w[1].orbit = 16777214, w[0].ambiguities = 6;
        cases.push_back(windCase("ISXX01_KNES_limits", 12, sampleDescriptors, samples, w, true,
                                 cellRecord));
    }
    // A bulletin of a scatterometer message, then a satellite wind message:
    // the cells are stored, the bulletin set aside naming the other kind.
    {
        Case c = windCase("ISXX01_KNES_mixed", 12, sampleDescriptors, samples,
                          {wind(9, -20.5, -40.5)}, false, cellRecord);
        Wind other = wind(9, -21.5, -41.5);
        WindItems items = {windValue(1007, &Wind::satellite)};
        items += windTime();
        items += {windValue(5002, &Wind::lat), windValue(6002, &Wind::lon),
                  windValue(7004, &Wind::pressure), windValue(11012, &Wind::speed)};
        c.bytes = c.bytes + message(5, {}, items, {other}, false);
        c.setAside = true;
        c.line = "Not scatterometer winds: the message is of data category 5 (single level "
                 "upper-air data, satellite: satellite winds), scatterometer winds are of data "
                 "category 12 or 24.";
        cases.push_back(c);
    }
    // A cell of year 99 among good ones, compressed: refused with its line,
    // the others stored, the bulletin set aside naming it.
    {
        WindItems items = samples;
        items[2] = N<Wind>(4001, [](const Wind& x) { return x.lat == 21.11 ? 99 : 2024; });
        Case c = windCase("ISXX01_KNES_year99", 12, sampleDescriptors, items,
                          {wind(4, 21.0, 76.0), wind(4, 21.11, 76.23), wind(4, 21.25, 76.5)},
                          true, cellRecord);
        c.records.erase(c.records.begin() + 1);
        c.setAside = true;
        c.line = "lies before 1970-01-01 00:00:00, the first second a time holds.  Skipping to "
                 "next observation.";
        cases.push_back(c);
    }
    sweep("quikscat", "bufr/QuikScat", "badQuikScatBufr", "QuikScat/netcdf", cases);
}

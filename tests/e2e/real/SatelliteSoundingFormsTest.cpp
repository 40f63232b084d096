// Satellite soundings in the forms WMO's tables allow them, through the
// decoder process: for each data type, bulletins built by the test encoder
// with the main quantities in each of their elements, the levels in
// delayed, fixed and sequential replication, data description operators
// on the levels, quality blocks, compressed and not, positions on the date
// line and the poles, times at year and leap-day boundaries, values at the
// limits of their widths, more levels than the store holds, and a message
// of another data category.  Every value stored must be the one the
// encoder wrote, in its place; a value a record lacks must be named by the
// reason its bulletin was set aside with (the store does not hold that
// element, or that many levels), and nothing of it may stand in the record.
#include "../DecoderInstallation.h"
#include "BufrWriter.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {

const double NONE = std::nan("");
const float FILL = 1e37f;
const int CAPACITY = 50;    // the levels of the templates' profiles

enum Kind { POES, GOES };
enum Replication { DELAYED, DELAYED16, FIXED, SEQUENTIAL };
enum Operator { NO_OP, WIDTH, SCALE, INCREASE, TEXT_WIDTH, ASSOCIATED };
enum Place { GRID, NORTH_POLE, SOUTH_POLE, DATE_LINE_EAST, DATE_LINE_WEST };
// The levels' values: plain; the first two at the lowest and the highest
// value of their widths, the third's temperature missing; plain, without
// the surface values (between 0 08 003 marks) before the levels.
enum Values { PLAIN, LIMITS, BARE };

// One bulletin: the elements of its levels (pressure, temperature,
// humidity, height; 0 none), how they are written, where and when its
// soundings are, and how it ends: stored whole (reason null), or set aside
// with a reason containing `reason`, the records lacking the values of the
// element `named` (CAPACITY: the levels past the store's).  A data category
// other than 3 makes the bulletin two messages, a sounding of category 3
// and the same of that category.  POES soundings give their elevation in
// each element of `elevation` (the record holds the first), and both
// types their cloud cover in `cloud` (0 20 011 in oktas: the record holds
// none).
struct Form {
    const char* name;
    int p, t, h, z;
    Replication replication;
    Operator op;
    bool quality;
    int subsets;    // more than one: compressed
    int levels;
    Place place;
    std::vector<int> time;    // year, month, day, hour, minute, second; empty: minute c of an hour
    Values values;
    int category;
    const char* reason;
    int named;
    std::vector<int> elevation = {10001};
    int cloud = 20010;
    int second = 4006;    // 0 04 007 gives it to the microsecond (+0.5 s)
};

// A sounding as the encoder wrote it.
struct Sounding {
    int site = 0;
    double latitude = 0, longitude = 0;
    time_t time = 0;
    std::vector<std::pair<const char*, double> > scalars;
    std::vector<std::vector<double> > levels;    // per level: p, t, h, z
    bool stored = true;
};

// ---- Table B, for the limits of the elements' widths ----

struct Coding {
    int scale = 0;
    long reference = 0;
    int width = 0;
};

Coding coding(int descriptor)
{
    static std::map<int, Coding> table;
    if (table.empty()) {
        std::ifstream in(std::string(QEV_SOURCE_DIR) + "/data/bufrTableB");
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string s; std::getline(fields, s, '|');)
                f.push_back(s);
            if (f.size() >= 6)
                table[std::stoi(f[0])] = {std::stoi(f[3]), std::stol(f[4]), std::stoi(f[5])};
        }
    }
    return table[descriptor];
}

// The smallest and the largest value the element's width holds (all ones
// is the missing value).
double lowest(int descriptor)
{
    const Coding c = coding(descriptor);
    return static_cast<double>(c.reference) / std::pow(10.0, c.scale);
}

double highest(int descriptor)
{
    const Coding c = coding(descriptor);
    return static_cast<double>((1L << c.width) - 2 + c.reference) / std::pow(10.0, c.scale);
}

// ---- The bulletins ----

// The site of subset s of case c (ids and positions of the site list).
int siteId(Place place, int c, int s)
{
    return place == GRID ? 1000 + 10 * c + s : 900 + static_cast<int>(place);
}

void sitePosition(Place place, int c, int s, double& lat, double& lon)
{
    switch (place) {
    case GRID: lat = -60.0 + 4.0 * c, lon = -150.0 + 30.0 * s; break;
    case NORTH_POLE: lat = 90, lon = 0; break;
    case SOUTH_POLE: lat = -90, lon = 0; break;
    case DATE_LINE_EAST: lat = 10, lon = 180; break;
    case DATE_LINE_WEST: lat = -10, lon = -180; break;
    }
}

std::string siteList(int cases)
{
    std::ostringstream list;
    list << "// The sites of the forms' soundings.\n";
    for (Place place : {NORTH_POLE, SOUTH_POLE, DATE_LINE_EAST, DATE_LINE_WEST}) {
        double lat = 0, lon = 0;
        sitePosition(place, 0, 0, lat, lon);
        list << siteId(place, 0, 0) << " S" << siteId(place, 0, 0) << " " << lat << " " << lon
             << "\n";
    }
    for (int c = 0; c < cases; ++c)
        for (int s = 0; s < 4; ++s) {
            double lat, lon;
            sitePosition(GRID, c, s, lat, lon);
            list << siteId(GRID, c, s) << " S" << siteId(GRID, c, s) << " " << lat << " " << lon
                 << "\n";
        }
    return list.str();
}

// The soundings of case c as the encoder writes them.
std::vector<Sounding> soundings(Kind kind, const Form& f, int c, int subsets)
{
    std::vector<Sounding> list;
    for (int s = 0; s < subsets; ++s) {
        Sounding x;
        x.site = siteId(f.place, c, s);
        sitePosition(f.place, c, s, x.latitude, x.longitude);
        if (f.place == GRID)
            x.latitude += 0.02;
        else if (f.place == NORTH_POLE || f.place == SOUTH_POLE)
            x.longitude = -135.25;
        struct tm t = {};
        if (f.time.empty()) {
            // One data file for them all (the store takes a second for each).
            t.tm_year = 121, t.tm_mon = 5, t.tm_mday = 1, t.tm_min = c;
        } else {
            t.tm_year = f.time[0] - 1900, t.tm_mon = f.time[1] - 1, t.tm_mday = f.time[2];
            t.tm_hour = f.time[3], t.tm_min = f.time[4], t.tm_sec = f.time[5];
        }
        x.time = timegm(&t);
        const double cloud = f.cloud == 20011 ? NONE : 30 + s;
        if (kind == POES)
            x.scalars = {{"elevation", 200 + 10 * s}, {"precipWater", 20 + c}, {"cloudCover", cloud}};
        else
            x.scalars = {{"cloudCover", cloud}, {"precipWater", 20 + c}, {"skinTemp", 290.5 + s}};
        for (int k = 0; k < f.levels; ++k) {
            const double p = 100000 - 1500 * k - 100 * s;
            const double t = 290.0 - 1.5 * k + 0.3 * s;
            double h = f.h == 13002 ? 0.01 - 0.00015 * k + 0.00001 * s : t - 5.0 - 0.5 * k;
            const bool geopotential = f.z == 10008 || f.z == 7008 || f.z == 7003;
            double z = geopotential ? 1000 + 1500 * k + 10 * s : 100 + 150 * k + 10 * s;
            std::vector<double> level = {p, t, h, z};
            if (f.values == LIMITS && k < 2) {
                const int elements[] = {f.p, f.t, f.h, f.z};
                for (int e = 0; e < 4; ++e)
                    level[static_cast<size_t>(e)] =
                        elements[e] == 0 ? 0 : k == 0 ? lowest(elements[e]) : highest(elements[e]);
            } else if (f.values == LIMITS && k == 2) {
                level[1] = NONE;
            }
            x.levels.push_back(level);
        }
        list.push_back(x);
    }
    return list;
}

// Writes one item of data order: standard data subset by subset, compressed
// data a column over the subsets.
class Data {
public:
    Data(BufrWriter& w, bool compressed) : _w(w), _compressed(compressed) {}
    void element(int descriptor, const std::vector<double>& values)
    {
        if (_compressed)
            _w.column(descriptor, values);
        else
            _items.push_back([this, descriptor, values](size_t s) {
                _w.element(descriptor, values[s]);
            });
    }
    void factor(int descriptor, unsigned count)
    {
        if (_compressed)
            _w.factorColumn(descriptor, count);
        else
            _items.push_back([this, descriptor, count](size_t) { _w.factor(descriptor, count); });
    }
    void chars(int descriptor, const std::string& text, size_t subsets)
    {
        if (_compressed)
            _w.charsColumn(descriptor, std::vector<std::string>(subsets, text));
        else
            _items.push_back([this, descriptor, text](size_t) { _w.chars(descriptor, text); });
    }
    void op(int descriptor)
    {
        if (_compressed)
            _w.op(descriptor);
        else
            _items.push_back([this, descriptor](size_t) { _w.op(descriptor); });
    }
    // Standard data: the items, subset after subset.
    void write(size_t subsets)
    {
        for (size_t s = 0; s < subsets; ++s)
            for (const auto& item : _items)
                item(s);
    }

private:
    BufrWriter& _w;
    bool _compressed;
    std::vector<std::function<void(size_t)> > _items;
};

std::vector<double> column(const std::vector<Sounding>& list,
                           const std::function<double(const Sounding&)>& value)
{
    std::vector<double> values;
    for (const Sounding& x : list)
        values.push_back(value(x));
    return values;
}

// One message of the soundings.
BufrWriter::Bytes message(Kind kind, const Form& f, const std::vector<Sounding>& list,
                          int category)
{
    BufrWriter w;
    const bool compressed = list.size() > 1;
    w.centre(160, 0).category(category).dateTime(2021, 6, 1, 0, 0).compressed(compressed);
    w.subsets(static_cast<int>(list.size()));
    std::vector<int> level = {f.p, f.t, f.h};
    if (f.z)
        level.push_back(f.z);
    const int e = static_cast<int>(level.size());
    const int n = f.levels;

    const bool surface = f.values != BARE;
    std::vector<int> d;
    if (kind == POES) {
        d = {4001, 4002, 4003, 4004, 4005, f.second, 1007, 2019, 2022, 8012, 5002, 6002};
        d.insert(d.end(), f.elevation.begin(), f.elevation.end());
        if (surface)
            d.insert(d.end(), {8003, f.p, f.t, 8003});
        d.insert(d.end(), {13016, f.cloud});
    } else {
        d = {1007, 4001, 4043, 5001, 6001, 4004, 4005, f.second, f.cloud, 13016, 12061};
        if (surface)
            d.insert(d.end(), {8003, f.t, 2054, 12103});
    }
    const std::vector<int> opens[] = {{},       {201132},         {201132, 202129},
                                      {207002}, {208010, 1019, 208000}, {204007, 31021}};
    const std::vector<int> closes[] = {{}, {201000}, {202000, 201000}, {207000}, {}, {204000}};
    d.insert(d.end(), opens[f.op].begin(), opens[f.op].end());
    switch (f.replication) {
    case DELAYED: d.insert(d.end(), {100000 + 1000 * e, 31001}); break;
    case DELAYED16: d.insert(d.end(), {100000 + 1000 * e, 31002}); break;
    case FIXED: d.push_back(100000 + 1000 * e + n); break;
    case SEQUENTIAL: break;
    }
    for (int k = 0; k < (f.replication == SEQUENTIAL ? n : 1); ++k)
        d.insert(d.end(), level.begin(), level.end());
    d.insert(d.end(), closes[f.op].begin(), closes[f.op].end());
    if (f.quality)
        d.insert(d.end(), {222000, 101000, 31002, 31031, 1031, 1032, 101000, 31002, 33007});
    w.descriptors(d);

    w.associatedValue(50);
    Data data(w, compressed);
    auto put = [&](int descriptor, const std::function<double(const Sounding&)>& value) {
        data.element(descriptor, column(list, value));
    };
    auto field = [](const Sounding& x, int i) {
        const time_t t = x.time;
        struct tm parts;
        gmtime_r(&t, &parts);
        const int fields[] = {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                              parts.tm_hour,        parts.tm_min,     parts.tm_sec,
                              parts.tm_yday + 1};
        return static_cast<double>(fields[i]);
    };
    auto scalar = [](const Sounding& x, size_t i) { return x.scalars[i].second; };
    auto cloud = [&f](const Sounding& x) { return f.cloud == 20011 ? 3.0 : x.scalars[0].second; };
    if (kind == POES) {
        for (int i = 0; i < 5; ++i)
            put(4001 + i, [&](const Sounding& x) { return field(x, i); });
        put(f.second, [&](const Sounding& x) { return field(x, 5) + (f.second == 4007) * 0.5; });
        put(1007, [](const Sounding&) { return 209; });
        put(2019, [](const Sounding&) { return 570; });
        put(2022, [](const Sounding&) { return 0; });
        put(8012, [](const Sounding&) { return 0; });
        put(5002, [](const Sounding& x) { return x.latitude; });
        put(6002, [](const Sounding& x) { return x.longitude; });
        for (size_t j = 0; j < f.elevation.size(); ++j)
            put(f.elevation[j], [&, j](const Sounding& x) { return scalar(x, 0) + 50.0 * j; });
        if (surface) {
            put(8003, [](const Sounding&) { return 0; });
            put(f.p, [](const Sounding& x) { return x.levels.at(0)[0] + 1000; });
            put(f.t, [](const Sounding&) { return 295.5; });
            put(8003, [](const Sounding&) { return NONE; });
        }
        put(13016, [&](const Sounding& x) { return scalar(x, 1); });
        put(f.cloud, [&](const Sounding& x) {
            return f.cloud == 20011 ? 3.0 : scalar(x, 2);
        });
    } else {
        put(1007, [](const Sounding&) { return 270; });
        put(4001, [&](const Sounding& x) { return field(x, 0); });
        put(4043, [&](const Sounding& x) { return field(x, 6); });
        put(5001, [](const Sounding& x) { return x.latitude; });
        put(6001, [](const Sounding& x) { return x.longitude; });
        for (int i = 3; i < 5; ++i)
            put(4001 + i, [&](const Sounding& x) { return field(x, i); });
        put(f.second, [&](const Sounding& x) { return field(x, 5) + (f.second == 4007) * 0.5; });
        put(f.cloud, cloud);
        put(13016, [&](const Sounding& x) { return scalar(x, 1); });
        put(12061, [&](const Sounding& x) { return scalar(x, 2); });
        if (surface) {
            put(8003, [](const Sounding&) { return 0; });
            put(f.t, [](const Sounding&) { return 295.5; });
            put(2054, [](const Sounding&) { return 1; });
            put(12103, [](const Sounding&) { return 290.5; });
        }
    }
    for (int descriptor : opens[f.op]) {
        if (descriptor == 1019)
            data.chars(1019, "FORMS", list.size());
        else if (descriptor == 31021)
            data.element(31021, std::vector<double>(list.size(), 7));
        else
            data.op(descriptor);
    }
    if (f.replication == DELAYED || f.replication == DELAYED16)
        data.factor(f.replication == DELAYED ? 31001 : 31002, static_cast<unsigned>(n));
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < e; ++i)
            put(level[static_cast<size_t>(i)], [=](const Sounding& x) {
                return x.levels[static_cast<size_t>(k)][static_cast<size_t>(i)];
            });
    for (int descriptor : closes[f.op])
        data.op(descriptor);
    if (f.quality) {
        data.factor(31002, static_cast<unsigned>(n));
        for (int k = 0; k < n; ++k)
            data.element(31031, std::vector<double>(list.size(), 0));
        data.element(1031, std::vector<double>(list.size(), 160));
        data.element(1032, std::vector<double>(list.size(), 1));
        data.factor(31002, static_cast<unsigned>(n));
        for (int k = 0; k < n; ++k)
            data.element(33007, std::vector<double>(list.size(), 90));
    }
    data.write(list.size());
    const BufrWriter::Bytes bytes = w.build();
    EXPECT_TRUE(w.ok()) << f.name << ": " << w.error();
    return bytes;
}

// ---- The records ----

// Where a stored value must equal the written one: within the float's
// precision, a missing value as -99999.
void expectValue(double stored, double written, const std::string& what)
{
    const double expected = std::isnan(written) ? -99999.0 : written;
    EXPECT_NEAR(stored, expected, 4e-7 * std::max(std::fabs(expected), 1.0)) << what;
}

// A level value of the element as the store's profile holds it: a GOES
// height as a geopotential height, from a geometric height by the standard
// atmosphere's relation, from a geopotential by g0.
double held(int element, double value)
{
    const double r0 = 6356766.0, g0 = 9.80665;
    if (std::isnan(value))
        return value;
    if (element == 7002 || element == 7007 || element == 10007)
        return r0 * value / (r0 + value);
    if (element == 7003 || element == 7008 || element == 10008)
        return value / g0;
    return value;
}

// Checks the record of a sounding against what the encoder wrote: equal
// values in their places; the levels of the element the bulletin's reason
// names hold nothing.
void checkRecord(Kind kind, const DecoderInstallation& p, const Form& f, const Sounding& x)
{
    const time_t when = (x.time + 30) / 60 * 60;
    const time_t hour = when / 3600 * 3600;
    char name[16];
    struct tm parts;
    gmtime_r(&hour, &parts);
    std::strftime(name, sizeof name, "%Y%m%d_%H%M", &parts);
    const std::string path = p.tree.path(std::string("qev_data/point/") +
                                         (kind == POES ? "POES" : "GOES") + "/netcdf/" + name);
    int ncid = -1;
    int r = -1;
    if (TempTree::exists(path) && nc_open(path.c_str(), NC_NOWRITE, &ncid) == NC_NOERR) {
        const int records = static_cast<int>(recordCount(ncid));
        const std::vector<std::string> ids = texts(ncid, "siteId", records, 6);
        for (int k = 0; k < records && r < 0; ++k)
            if (ids[static_cast<size_t>(k)] == std::to_string(x.site) &&
                row<double>(ncid, "timeObs", k, 1)[0] == static_cast<double>(when))
                r = k;
    }
    SCOPED_TRACE("site " + std::to_string(x.site) + " at " + name);
    if (!x.stored) {
        EXPECT_LT(r, 0) << "a record of a message that is no sounding";
    } else if (r < 0) {
        ADD_FAILURE() << "no record";
    } else {
        expectValue(row<float>(ncid, "latitude", r, 1)[0], x.latitude, "latitude");
        expectValue(row<float>(ncid, "longitude", r, 1)[0], x.longitude, "longitude");
        for (const auto& scalar : x.scalars)
            expectValue(row<float>(ncid, scalar.first, r, 1)[0], scalar.second, scalar.first);
        const int n = std::min(f.levels, CAPACITY);
        EXPECT_EQ(row<int>(ncid, "numLevels", r, 1)[0], n);
        // POES levels by descending pressure (as far as the record has
        // pressures), a missing one last; GOES in the bulletin's order.
        std::vector<size_t> order(x.levels.size());
        std::iota(order.begin(), order.end(), 0);
        if (kind == POES && f.named != f.p) {
            auto key = [&](size_t k) {
                const double v = x.levels[k][0];
                return std::isnan(v) ? -99999.0 : v;
            };
            std::stable_sort(order.begin(), order.end(),
                             [&](size_t a, size_t b) { return key(a) > key(b); });
        }
        const char* const variables[] = {"pressure", "temperature",
                                         kind == POES ? "mixingRatio" : "dewpoint", "height"};
        const int elements[] = {f.p, f.t, f.h, f.z};
        for (int q = 0; q < (kind == POES ? 3 : 4); ++q) {
            const int shown = std::min(n + 1, CAPACITY);
            const std::vector<float> stored = row<float>(ncid, variables[q], r, shown);
            for (int k = 0; k < shown; ++k) {
                const std::string what = std::string(variables[q]) + "[" + std::to_string(k) + "]";
                if (k == n || elements[q] == f.named || elements[q] == 0)
                    EXPECT_EQ(stored[static_cast<size_t>(k)], FILL) << what;
                else
                    expectValue(stored[static_cast<size_t>(k)],
                                held(elements[q], x.levels[order[static_cast<size_t>(k)]]
                                                          [static_cast<size_t>(q)]),
                                what);
            }
        }
    }
    if (ncid >= 0)
        nc_close(ncid);
}

// Runs the decoder of the data type over a bulletin of each form, then
// checks each bulletin's outcome and every record.
void sweep(Kind kind, const std::vector<Form>& forms)
{
    QEV_REQUIRE_NCGEN();
    const char* type = kind == POES ? "POES" : "GOES";
    DecoderInstallation p(kind == POES ? "poes" : "goes",
                          std::string("bufr/") + type + "Soundings",
                          kind == POES ? "badPOESBufr" : "badGOESBufr");
    const std::string sites = p.tree.qevHome() + "/data/" + (kind == POES ? "poes" : "goes") +
                              "Bufr.spi";
    std::remove(sites.c_str());
    p.tree.write("qev_home/data/" + std::string(kind == POES ? "poes" : "goes") + "Bufr.spi",
                 siteList(static_cast<int>(forms.size())));

    std::vector<std::vector<Sounding> > expected;
    std::vector<std::string> names;
    for (size_t c = 0; c < forms.size(); ++c) {
        const Form& f = forms[c];
        std::vector<Sounding> list = soundings(kind, f, static_cast<int>(c), f.subsets);
        BufrWriter::Bytes bytes = message(kind, f, list, 3);
        if (f.category != 3) {
            // The second message at the next site: not stored.
            std::vector<Sounding> other = soundings(kind, f, static_cast<int>(c), 2);
            other.erase(other.begin());
            const BufrWriter::Bytes more = message(kind, f, other, f.category);
            bytes.insert(bytes.end(), more.begin(), more.end());
            other[0].stored = false;
            list.push_back(other[0]);
        }
        expected.push_back(list);
        const std::string name = std::string(kind == POES ? "IUTX01" : "IUSN41") + "_KNES_form" +
                                 std::to_string(c);
        names.push_back(name);
        p.drop(SampleBulletin{name, bytes});
    }
    p.start();
    ASSERT_TRUE(p.child->waitAsleep(60000));
    p.child->signal(SIGTERM);
    ASSERT_EQ(p.child->waitExit(20000), 0) << p.child->log();
    const std::string log = p.child->log();
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());

    for (size_t c = 0; c < forms.size(); ++c) {
        const Form& f = forms[c];
        SCOPED_TRACE(std::string(f.name) + " (" + names[c] + ")");
        const bool aside = TempTree::exists(p.bad + "/" + names[c]);
        if (f.reason) {
            EXPECT_TRUE(aside);
            const size_t line = log.find(p.in + "/" + names[c] + ", renamed to ");
            const size_t start = log.rfind('\n', line) + 1;
            EXPECT_NE(line, std::string::npos);
            if (line != std::string::npos) {
                EXPECT_NE(log.substr(start, line - start).find(f.reason), std::string::npos)
                    << log.substr(start, line - start);
            }
        } else {
            EXPECT_FALSE(aside) << log;
        }
        for (const Sounding& x : expected[c])
            checkRecord(kind, p, f, x);
    }
}

} // namespace

// Pressures 0 07 004 or 0 10 004, temperatures 0 12 101 or 0 12 001, mixing
// ratios 0 13 002; the elevation as the height of the land surface, of the
// station or a height or altitude; another humidity element, a second
// elevation and a cloud amount in oktas are named.
TEST(SatelliteSoundingForms, POES)
{
    const int P = 7004, T = 12101, W = 13002;
    const std::vector<Form> forms = {
        {"delayed", P, T, W, 0, DELAYED, NO_OP, false, 1, 6, GRID, {}, PLAIN, 3, nullptr, 0},
        {"fixed, 0 12 001", P, 12001, W, 0, FIXED, NO_OP, false, 1, 5, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"sequential", P, T, W, 0, SEQUENTIAL, NO_OP, false, 1, 4, GRID, {}, PLAIN, 3, nullptr, 0},
        {"no surface values", P, T, W, 0, DELAYED, NO_OP, false, 1, 5, GRID, {}, BARE, 3, nullptr,
         0},
        {"delayed 0 31 002, quality block", P, T, W, 0, DELAYED16, NO_OP, true, 1, 7, GRID, {},
         PLAIN, 3, nullptr, 0},
        {"compressed, quality block", P, T, W, 0, DELAYED, NO_OP, true, 3, 6, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"2 01", P, T, W, 0, DELAYED, WIDTH, false, 1, 5, GRID, {}, PLAIN, 3, nullptr, 0},
        {"2 02 with 2 01, compressed", P, T, W, 0, FIXED, SCALE, false, 2, 5, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"2 07", P, T, W, 0, DELAYED, INCREASE, false, 1, 5, GRID, {}, PLAIN, 3, nullptr, 0},
        {"2 08", P, T, W, 0, SEQUENTIAL, TEXT_WIDTH, false, 1, 3, GRID, {}, PLAIN, 3, nullptr, 0},
        {"2 04, compressed", P, T, W, 0, DELAYED, ASSOCIATED, false, 3, 5, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"limits of the widths", P, T, W, 0, DELAYED, NO_OP, false, 1, 5, GRID, {}, LIMITS, 3,
         nullptr, 0},
        {"north pole, new year", P, T, W, 0, DELAYED, NO_OP, false, 1, 4, NORTH_POLE,
         {2020, 12, 31, 23, 59, 45}, PLAIN, 3, nullptr, 0},
        {"south pole, leap day", P, T, W, 0, DELAYED, NO_OP, false, 1, 4, SOUTH_POLE,
         {2020, 2, 29, 23, 59, 30}, PLAIN, 3, nullptr, 0},
        {"date line east", P, T, W, 0, DELAYED, NO_OP, false, 1, 4, DATE_LINE_EAST,
         {2020, 2, 29, 12, 0, 0}, PLAIN, 3, nullptr, 0},
        {"date line west", P, T, W, 0, FIXED, NO_OP, false, 1, 4, DATE_LINE_WEST,
         {2019, 12, 31, 23, 59, 29}, PLAIN, 3, nullptr, 0},
        {"pressures 0 10 004", 10004, T, W, 0, DELAYED, NO_OP, false, 1, 5, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"pressures 0 10 004, fixed, compressed", 10004, T, W, 0, FIXED, NO_OP, false, 2, 4,
         GRID, {}, PLAIN, 3, nullptr, 0},
        {"dewpoints 0 12 103", P, T, 12103, 0, DELAYED, NO_OP, false, 1, 5, GRID, {}, PLAIN, 3,
         "gives its humidity only as 0 12 103", 12103},
        {"dewpoints 0 12 003", P, T, 12003, 0, FIXED, NO_OP, false, 1, 5, GRID, {}, PLAIN, 3,
         "gives its humidity only as 0 12 003", 12003},
        {"60 levels", P, T, W, 0, DELAYED, NO_OP, false, 1, 60, GRID, {}, PLAIN, 3,
         "gives 60 levels, the store holds 50.", CAPACITY},
        {"a message of data category 4", P, T, W, 0, DELAYED, NO_OP, false, 1, 4, GRID, {},
         PLAIN, 4, "Not POES soundings: the message is of data category 4", 0},
        {"elevation 0 07 002", P, T, W, 0, DELAYED, NO_OP, false, 1, 4, GRID, {}, BARE, 3,
         nullptr, 0, {7002}},
        {"elevation 0 07 001, compressed", P, T, W, 0, DELAYED, NO_OP, false, 2, 4, GRID, {},
         PLAIN, 3, nullptr, 0, {7001}},
        {"two elevations", P, T, W, 0, DELAYED, NO_OP, false, 1, 4, GRID, {}, PLAIN, 3,
         "gives elevation twice: 200 as 0 10 001, then 250 as 0 07 002", 0, {10001, 7002}},
        {"cloud amount in oktas", P, T, W, 0, DELAYED, NO_OP, false, 1, 4, GRID, {}, PLAIN, 3,
         "gives its cloud cover only as 0 20 011", 0, {10001}, 20011},
        {"seconds to the microsecond", P, T, W, 0, DELAYED, NO_OP, false, 1, 4, GRID,
         {2021, 12, 31, 23, 59, 45}, PLAIN, 3, nullptr, 0, {10001}, 20010, 4007},
        // Forms the model soundings read: an elevation as a height, levels'
        // temperatures only at 2 m.
        {"elevation 0 10 007", P, T, W, 0, DELAYED, NO_OP, false, 1, 4, GRID, {}, BARE, 3,
         nullptr, 0, {10007}},
        {"elevation 0 07 007, compressed", P, T, W, 0, DELAYED, NO_OP, false, 2, 4, GRID, {},
         PLAIN, 3, nullptr, 0, {7007}},
        {"temperatures at 2 m", P, 12104, W, 0, DELAYED, NO_OP, false, 1, 4, GRID, {}, PLAIN, 3,
         "gives its temperature only as 0 12 104", 12104},
    };
    sweep(POES, forms);
}

// Pressures 0 10 004 or 0 07 004, temperatures 0 12 101 or 0 12 001,
// dewpoints 0 12 103 or 0 12 003, geopotential heights 0 10 009 or 0 07 009,
// or heights and geopotentials converted into them; another humidity or
// height element is named, and so is a cloud amount in oktas.
TEST(SatelliteSoundingForms, GOES)
{
    const int P = 10004, T = 12101, D = 12103, Z = 10009;
    const std::vector<Form> forms = {
        {"delayed", P, T, D, Z, DELAYED, NO_OP, false, 1, 6, GRID, {}, PLAIN, 3, nullptr, 0},
        {"fixed, 0 12 001, 0 12 003", P, 12001, 12003, Z, FIXED, NO_OP, false, 1, 5, GRID, {},
         PLAIN, 3, nullptr, 0},
        {"sequential, 0 07 009", P, T, D, 7009, SEQUENTIAL, NO_OP, false, 1, 4, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"no surface values, compressed", P, T, D, Z, DELAYED, NO_OP, false, 2, 5, GRID, {}, BARE,
         3, nullptr, 0},
        {"delayed 0 31 002, quality block", P, T, D, Z, DELAYED16, NO_OP, true, 1, 7, GRID, {},
         PLAIN, 3, nullptr, 0},
        {"compressed, quality block, 0 07 009", P, T, D, 7009, DELAYED, NO_OP, true, 3, 6, GRID,
         {}, PLAIN, 3, nullptr, 0},
        {"2 01", P, T, D, Z, DELAYED, WIDTH, false, 1, 5, GRID, {}, PLAIN, 3, nullptr, 0},
        {"2 02 with 2 01, compressed", P, T, D, Z, FIXED, SCALE, false, 2, 5, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"2 07", P, T, D, Z, DELAYED, INCREASE, false, 1, 5, GRID, {}, PLAIN, 3, nullptr, 0},
        {"2 08", P, T, D, Z, SEQUENTIAL, TEXT_WIDTH, false, 1, 3, GRID, {}, PLAIN, 3, nullptr, 0},
        {"2 04, compressed", P, T, D, Z, DELAYED, ASSOCIATED, false, 3, 5, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"limits of the widths", P, T, D, Z, DELAYED, NO_OP, false, 1, 5, GRID, {}, LIMITS, 3,
         nullptr, 0},
        {"limits, 0 07 009", P, 12001, 12003, 7009, DELAYED, NO_OP, false, 1, 4, GRID, {}, LIMITS,
         3, nullptr, 0},
        {"north pole, new year", P, T, D, Z, DELAYED, NO_OP, false, 1, 4, NORTH_POLE,
         {2020, 12, 31, 23, 59, 45}, PLAIN, 3, nullptr, 0},
        {"south pole, leap day", P, T, D, Z, DELAYED, NO_OP, false, 1, 4, SOUTH_POLE,
         {2020, 2, 29, 23, 59, 30}, PLAIN, 3, nullptr, 0},
        {"date line east", P, T, D, Z, DELAYED, NO_OP, false, 1, 4, DATE_LINE_EAST,
         {2020, 2, 29, 12, 0, 0}, PLAIN, 3, nullptr, 0},
        {"date line west, day 366", P, T, D, Z, FIXED, NO_OP, false, 1, 4, DATE_LINE_WEST,
         {2020, 12, 31, 12, 0, 0}, PLAIN, 3, nullptr, 0},
        {"pressures 0 07 004", 7004, T, D, Z, DELAYED, NO_OP, false, 1, 5, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"pressures 0 07 004, sequential", 7004, T, D, Z, SEQUENTIAL, NO_OP, false, 1, 4, GRID,
         {}, PLAIN, 3, nullptr, 0},
        {"mixing ratios, a surface dewpoint", P, T, 13002, Z, DELAYED, NO_OP, false, 1, 5, GRID,
         {}, PLAIN, 3, "gives its humidity only as 0 13 002", 13002},
        {"heights 0 10 007", P, T, D, 10007, DELAYED, NO_OP, false, 1, 5, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"heights 0 07 007, compressed", P, T, D, 7007, DELAYED, NO_OP, false, 3, 5, GRID, {},
         PLAIN, 3, nullptr, 0},
        {"heights 0 07 002", P, T, D, 7002, SEQUENTIAL, NO_OP, false, 1, 4, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"geopotentials 0 10 008", P, T, D, 10008, FIXED, NO_OP, false, 1, 5, GRID, {}, PLAIN, 3,
         nullptr, 0},
        {"geopotentials 0 07 008, compressed", P, T, D, 7008, DELAYED, NO_OP, false, 2, 5, GRID,
         {}, PLAIN, 3, nullptr, 0},
        {"heights above the station", P, T, D, 7006, DELAYED, NO_OP, false, 1, 5, GRID, {}, PLAIN,
         3, "gives its height only as 0 07 006", 7006},
        {"cloud amount in oktas", P, T, D, Z, DELAYED, NO_OP, false, 1, 4, GRID, {}, PLAIN, 3,
         "gives its cloud cover only as 0 20 011", 0, {}, 20011},
        {"seconds to the microsecond", P, T, D, Z, DELAYED, NO_OP, false, 1, 4, GRID,
         {2021, 12, 31, 23, 59, 45}, PLAIN, 3, nullptr, 0, {}, 20010, 4007},
        {"60 levels", P, T, D, Z, DELAYED, NO_OP, false, 1, 60, GRID, {}, PLAIN, 3,
         "gives 60 levels, the store holds 50.", CAPACITY},
        {"a message of data category 4", P, T, D, Z, DELAYED, NO_OP, false, 1, 4, GRID, {},
         PLAIN, 4, "Not GOES soundings: the message is of data category 4", 0},
        // Forms the aircraft and wind decoders know as heights, and the
        // model soundings' temperatures at 2 m.
        {"flight levels", P, T, D, 7010, DELAYED, NO_OP, false, 1, 4, GRID, {}, PLAIN, 3,
         "gives its height only as 0 07 010", 7010},
        {"satellite navigation altitudes", P, T, D, 10053, FIXED, NO_OP, false, 1, 4, GRID, {},
         PLAIN, 3, "gives its height only as 0 10 053", 10053},
        {"temperatures at 2 m", P, 12004, D, Z, DELAYED, NO_OP, false, 1, 4, GRID, {}, PLAIN, 3,
         "gives its temperature only as 0 12 004", 12004},
    };
    sweep(GOES, forms);
}

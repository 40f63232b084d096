// Real bulletins of the corpus beside the project (../shared/corpus/bufr)
// through the decoder process: each bulletin of a kind one decoder stores is
// dropped into that decoder's ingest directory under a name of its pattern
// and announced by a data message, as a data controller does.  Each ends in
// one of three ways:
// - stored: records in the data type's store, whose times, ids, positions
//   and a sample of values equal ecCodes' decoding of the same messages
//   (every message of the file);
// - set aside: in the bad-file directory, with a PROBLEM line saying why;
// - dropped on purpose (soundings outside the localization): one EVENT line
//   naming the file and the counts.
// None leaves the ingest directory with nothing stored and nothing said.
// Each bulletin's outcome is the one listed for it; where the decoding
// engine cannot read a message today but may tomorrow, either of the first
// two is.  Its values are compared whenever it is stored.  No PROBLEM line
// of one kind is written more than BulletinLog::LIMIT times for a bulletin.
#include "../DecoderInstallation.h"
#include "BufrWriter.h"
#include "BulletinLog.h"
#include "CorpusReference.h"
#include "EcCodesDump.h"
#include "EcCodesTools.h"
#include "findBufrMessages.h"

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

const std::string corpus = std::string(QEV_SHARED_DIR) + "/corpus/bufr";

typedef EcCodesDump::Value Value;
typedef std::vector<Value> Elements;

// What tells a data type's bulletins apart: the decoder's key, its ingest
// and bad-file directories below $QEV_DATA/ispan, its store below
// $QEV_DATA/point, and the check of its stored records.
enum Kind { ACARS, WINDS, SCATTEROMETER, PROFILER, POES, GOES };
const struct {
    const char* key;
    const char* ingest;
    const char* bad;
    const char* store;
} kinds[] = {
    {"acars", "bufr/acars", "badAcarsBufr", "acars/netcdf"},
    {"csw", "bufr/CSW", "badCSWBufr", "CSW/netcdf"},
    {"quikscat", "bufr/QuikScat", "badQuikScatBufr", "QuikScat/netcdf"},
    {"prof", "bufr/prof", "badProfiler", "prof/netcdf"},
    {"poes", "bufr/POESSoundings", "badPOESBufr", "POES/netcdf"},
    {"goes", "bufr/GOESSoundings", "badGOESBufr", "GOES/netcdf"},
};

// How a bulletin ends; a set of them is what a bulletin may do.
enum Outcome {
    STORED = 1,          // records stored, the file unlinked
    STORED_ASIDE = 2,    // records stored, the file set aside for a message
    ASIDE = 4,           // nothing stored, set aside with a PROBLEM line
    DROPPED = 8          // nothing stored on purpose, with an EVENT line
};

// Every bulletin of the corpus of a stored kind, with its decoder, the
// name it arrives under (one of that decoder's patterns) and its outcome.
const struct {
    const char* file;
    Kind kind;
    const char* name;
    int outcomes;
} bulletins[] = {
    {"iuaa01_cwoa_1.bufr", ACARS, "IUAX01_CWAO_iuaa01", STORED},
    {"cdfin_acars_us", ACARS, "IUAX01_KWBC_cdfin", STORED},
    // A 2 22 000 quality bitmap the engine does not read today.
    {"b004_145.bufr", ACARS, "IUAX01_ECMF_b004", STORED | ASIDE},
    {"AMDAR+2xUS-v15.bufr", ACARS, "IUAX02_AMDAR", STORED},
    {"MODE_12.bufr", ACARS, "IUAX02_EGRR_mode12", STORED},
    {"goes16_nm.bufr", WINDS, "IUCN01_KNES_goes16", STORED},
    // Bitmaps and local elements the engine does not read today.
    {"goes_87.bufr", WINDS, "IUCN01_KNES_goes87", STORED | ASIDE},
    {"ncep.352.bufr", WINDS, "IUCN01_KWBC_ncep352", STORED},
    // Backscatter without winds.
    {"aseh_139.bufr", SCATTEROMETER, "ISXX01_EUMS_aseh139", ASIDE},
    {"enc5.bufr", SCATTEROMETER, "ISXX01_KWBC_enc5", ASIDE},
    {"b002_96.bufr", PROFILER, "IUPT03_ECMF_b002", STORED},
    // Its one station reports no level: no profile.
    {"b006_96.bufr", PROFILER, "IUPT03_ECMF_b006", ASIDE},
    {"cdfin_wprof", PROFILER, "IUPT03_EDZW_cdfin", STORED},
    // Radiosondes, whose levels give geopotential heights: no profiles.
    {"iusd40_okli.bufr", PROFILER, "IUPT03_OKLI_iusd40", ASIDE},
    {"IUSK73_AMMC_182300.bufr", PROFILER, "IUPT03_AMMC_iusk73", ASIDE},
    // Soundings, all outside the test's localization.
    {"atov_55.bufr", POES, "IUTX01_ECMF_atov55", DROPPED},
    {"b003_56.bufr", POES, "IUTX01_ECMF_b003", DROPPED},
    {"atov_55.bufr", GOES, "IUSN41_ECMF_atov55", DROPPED},
    {"b003_56.bufr", GOES, "IUSN41_ECMF_b003", DROPPED},
};

// ---- ecCodes' values ----

// The elements of a subset, without operators, associated fields and texts.
Elements elements(const Elements& all)
{
    Elements e;
    for (const Value& v : all)
        if (v.role == EcCodesDump::Element && v.descriptor >= 0)
            e.push_back(v);
    return e;
}

bool present(const Value& v)
{
    return v.kind != EcCodesDump::Missing;
}

// A number as the decoders store it: -99999 for a missing value.
double stored(const Value& v)
{
    return present(v) ? v.number : -99999.0;
}

bool is(const Elements& e, size_t i, int descriptor)
{
    return i < e.size() && e[i].descriptor == descriptor;
}

// The time of the group of year to minute (and second where it has one)
// that begins at i; -1 when the elements there are no such group.
long timeGroup(const Elements& e, size_t i)
{
    struct tm t = {};
    int f[6] = {0, 0, 0, 0, 0, 0};
    for (int k = 0; k < 6; ++k) {
        if (k == 5 && !is(e, i + 5, 4006))
            break;
        if (!is(e, i + k, 4001 + k) || (k < 5 && !present(e[i + k])))
            return -1;
        f[k] = present(e[i + k]) ? static_cast<int>(e[i + k].number) : 0;
    }
    t.tm_year = f[0] - 1900, t.tm_mon = f[1] - 1, t.tm_mday = f[2];
    t.tm_hour = f[3], t.tm_min = f[4], t.tm_sec = f[5];
    return static_cast<long>(timegm(&t));
}

// The last element of one of the descriptors in [from, to), or null.
const Value* last(const Elements& e, size_t from, size_t to, std::initializer_list<int> ds)
{
    const Value* found = nullptr;
    for (size_t i = from; i < to && i < e.size(); ++i)
        for (int d : ds)
            if (e[i].descriptor == d)
                found = &e[i];
    return found;
}

// The position of a report: the first latitude and longitude of high
// accuracy that hold values, or where the report has none, of coarse; among
// the elements [from, to) when given.
bool position(const Elements& e, double& lat, double& lon, size_t from = 0,
              size_t to = static_cast<size_t>(-1))
{
    const int pairs[2][2] = {{5001, 6001}, {5002, 6002}};
    for (const auto& pair : pairs) {
        const Value* la = nullptr;
        const Value* lo = nullptr;
        for (size_t i = from; i < to && i < e.size(); ++i) {
            const Value& v = e[i];
            if (!la && v.descriptor == pair[0] && present(v))
                la = &v;
            if (!lo && v.descriptor == pair[1] && present(v))
                lo = &v;
        }
        if (la && lo) {
            lat = la->number, lon = lo->number;
            return true;
        }
    }
    return false;
}

// ---- The stored records ----

// One variable per record of every data file of a store, numbers or texts.
class StoredRecords {
public:
    explicit StoredRecords(const std::vector<std::string>& files) : _files(files) {}
    size_t count() const
    {
        size_t n = 0;
        for (const std::string& f : _files) {
            const long records = readWhole(f);
            n += records > 0 ? static_cast<size_t>(records) : 0;
        }
        return n;
    }
    // The texts of a char variable of the width given at each record, all
    // files in order.
    std::vector<std::string> texts(const char* name, int width) const
    {
        std::vector<std::string> out;
        for (const std::string& f : _files) {
            int ncid = -1;
            EXPECT_EQ(nc_open(f.c_str(), NC_NOWRITE, &ncid), NC_NOERR) << f;
            for (const std::string& t :
                 ::texts(ncid, name, static_cast<int>(recordCount(ncid)), width))
                out.push_back(t);
            nc_close(ncid);
        }
        return out;
    }
    // The first n values of a variable at each record, all files in order.
    std::vector<std::vector<double>> numbers(const char* name, int n = 1) const
    {
        std::vector<std::vector<double>> out;
        for (const std::string& f : _files) {
            int ncid = -1;
            EXPECT_EQ(nc_open(f.c_str(), NC_NOWRITE, &ncid), NC_NOERR) << f;
            const size_t records = recordCount(ncid);
            int var = -1;
            EXPECT_EQ(nc_inq_varid(ncid, name, &var), NC_NOERR) << name;
            for (size_t r = 0; r < records; ++r) {
                std::vector<double> v(static_cast<size_t>(n));
                const size_t start[] = {r, 0}, count[] = {1, static_cast<size_t>(n)};
                EXPECT_EQ(nc_get_vara_double(ncid, var, start, count, v.data()), NC_NOERR)
                    << name;
                out.push_back(v);
            }
            nc_close(ncid);
        }
        return out;
    }

private:
    std::vector<std::string> _files;
};

// A value stored as ecCodes decodes it: within half a unit of its scale
// (floats of the store), -99999 for a missing one.
void expectValue(double storedValue, const Value& v, const std::string& what)
{
    const double want = stored(v);
    EXPECT_NEAR(storedValue, want, EcCodesDump::tolerance(v) + 1e-6 * std::fabs(want)) << what;
}

// ---- The checks of each kind: ecCodes' expectation of every record ----

// A record as ecCodes' decoding has it: numbers that must be stored as
// they are (times, positions, counts), elements stored within their scale,
// and profiles of elements, level by level.
struct Expected {
    std::vector<std::pair<std::string, double>> numbers;
    std::vector<std::pair<std::string, Value>> values;
    std::vector<std::pair<std::string, std::vector<Value>>> profiles;
    void value(const char* variable, const Value* v)
    {
        if (v)
            values.push_back({variable, *v});
    }
};

// The keys records are matched by: an id (tail number, station) and a time,
// or a position and a time.
std::string idTimeKey(const std::string& id, double time)
{
    return id + "@" + std::to_string(static_cast<long>(time));
}

std::string positionKey(double lat, double lon, double time)
{
    // To the fifth decimal, the finest a position element has: a float of
    // the store and ecCodes' double then round alike.
    return std::to_string(std::lround(lat * 1e5)) + "," + std::to_string(std::lround(lon * 1e5)) +
           "@" + std::to_string(static_cast<long>(time));
}

// An observation of an aircraft report: its elements [first, end), and
// for a level of a report of levels the report's elements before its first
// level [0, shared), which go with each level under the level's own.
struct AircraftObservation {
    size_t first, end, shared;
    bool own;
};

bool isTime(int d)
{
    return d >= 4001 && d <= 4006;
}

// The heights of an aircraft, in the order a record takes the first that
// holds a value.
const int aircraftHeights[] = {7010, 10070, 7002, 7007};

bool isHeight(int d)
{
    return std::find(std::begin(aircraftHeights), std::end(aircraftHeights), d) !=
           std::end(aircraftHeights);
}

bool isKey(int d)
{
    return d == 5001 || d == 5002 || isHeight(d);
}

// Where the observation whose latitude or height is at i begins: at the
// times and heights right before it (none given twice), after floor.
size_t openingOf(const Elements& e, size_t i, size_t floor)
{
    size_t b = i;
    for (; b - 1 > floor && (isTime(e[b - 1].descriptor) || isHeight(e[b - 1].descriptor)); --b)
        for (size_t k = b; k <= i; ++k)
            if (e[k].descriptor == e[b - 1].descriptor)
                return b;
    return b;
}

// The observations of an aircraft report: each runs up to a latitude of its
// accuracy or a height it gives again, the next beginning with the times and
// heights right before it.  The part before the first level (where a
// height given again was given first, else the second observation) of a
// report that gives none of that level's elements there but times and
// positions goes with each level.
std::vector<AircraftObservation> observations(const Elements& e)
{
    std::vector<size_t> starts{0};
    std::map<int, size_t> seen;
    long earlier = -1;
    for (size_t i = 0; i < e.size(); ++i) {
        if (!isKey(e[i].descriptor))
            continue;
        if (seen.count(e[i].descriptor)) {
            const size_t b = openingOf(e, i, starts.back());
            if (starts.size() == 1 && isHeight(e[i].descriptor))
                earlier = static_cast<long>(seen[e[i].descriptor]);
            starts.push_back(b);
            seen.clear();
            for (size_t j = b; j < i; ++j)
                if (isKey(e[j].descriptor))
                    seen[e[j].descriptor] = j;
        }
        seen[e[i].descriptor] = i;
    }
    starts.push_back(e.size());
    const size_t level = earlier >= 0 ? openingOf(e, size_t(earlier), 0) : starts[1];
    const size_t levelEnd =
        earlier >= 0 ? starts[1] : starts[std::min<size_t>(2, starts.size() - 1)];
    bool levels = starts.size() > 2;
    for (size_t i = 0; i < level; ++i) {
        const int d = e[i].descriptor;
        if (!isTime(d) && d != 5001 && d != 6001 && d != 5002 && d != 6002 &&
            last(e, level, levelEnd, {d}))
            levels = false;
    }
    if (levels && earlier >= 0)
        starts.insert(starts.begin() + 1, level);
    std::vector<AircraftObservation> out;
    for (size_t k = levels ? 1 : 0; k + 1 < starts.size(); ++k)
        out.push_back({starts[k], starts[k + 1], levels ? starts[1] : 0, k == (levels ? 1u : 0u)});
    return out;
}

// The time of a further observation in [from, to): its time group, or its
// time of day on the date nearest the report's time.
long furtherTime(const Elements& e, size_t from, size_t to, long report)
{
    for (size_t i = from; i < to; ++i) {
        if (e[i].descriptor == 4001)
            return timeGroup(e, i);
        if (e[i].descriptor != 4004 || !is(e, i + 1, 4005) || !present(e[i]) ||
            !present(e[i + 1]))
            continue;
        const long second = is(e, i + 2, 4006) && present(e[i + 2]) ? long(e[i + 2].number) : 0;
        long t = report - report % 86400 + long(e[i].number) * 3600 + long(e[i + 1].number) * 60 +
                 second;
        for (long shift : {-86400L, 86400L})
            if (std::labs(t + shift - report) < std::labs(t - report))
                t += shift;
        return t;
    }
    return -1;
}

// A wind speed in m/s, from whichever unit it has.
const Value* windSpeed(const Value* v, Value& converted)
{
    if (!v || v->descriptor == 11002 || !present(*v))
        return v;
    converted = *v;
    converted.number *= v->descriptor == 11083 ? 1 / 3.6 : 1852.0 / 3600;
    return &converted;
}

// A wind as its store holds it, direction and speed, from the forms a
// report gives in the store's order, each a direction and a speed, the
// components (u, v) last: the first form given whole, else the first given
// in part, the components turned into direction and speed (into
// converted).  False when no form gives a value.
bool windOf(const std::vector<std::pair<const Value*, const Value*>>& forms,
            const Value*& direction, const Value*& speed, Value converted[2])
{
    auto given = [](const Value* v) { return v && present(*v); };
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t f = 0; f < forms.size(); ++f) {
            const Value* d = forms[f].first;
            const Value* s = forms[f].second;
            if (pass == 0 ? !(given(d) && given(s)) : !(given(d) || given(s)))
                continue;
            direction = d, speed = s;
            if (f + 1 < forms.size())
                return true;
            converted[0] = converted[1] = given(d) ? *d : *s;
            const bool both = given(d) && given(s);
            for (int k = 0; k < 2; ++k)
                converted[k].kind = both ? EcCodesDump::Number : EcCodesDump::Missing;
            if (both) {
                const double u = d->number, v = s->number, calm = std::hypot(u, v) == 0;
                converted[1].number = std::hypot(u, v);
                converted[0].number = calm ? 0 : std::atan2(-u, -v) * 180 / M_PI;
                if (!calm && converted[0].number <= 0)
                    converted[0].number += 360;
            }
            direction = &converted[0], speed = &converted[1];
            return true;
        }
    }
    return false;
}

// The key of an aircraft record: its tail number, time, position and
// flight level (an aircraft reports more than once within one time).
std::string aircraftKey(const std::string& tail, double time, double lat, double lon,
                        double height)
{
    return idTimeKey(tail, time) + "," + positionKey(lat, lon, time) + "," +
           std::to_string(std::lround(height));
}

// Aircraft reports: one record per observation with a tail number, a time
// and a position, keyed by tail number, time, position and flight level; a
// level of a report of levels takes the report's time and position where it
// gives none of its own.
std::map<std::string, Expected> aircraft(const EcCodesDump& dump)
{
    std::map<std::string, Expected> out;
    for (const Elements& all : dump.subsets()) {
        const Elements e = elements(all);
        const Value* tail = last(e, 0, e.size(), {1008});
        long report = -1;
        for (size_t i = 0; i < e.size() && report < 0; ++i)
            if (e[i].descriptor == 4001)
                report = timeGroup(e, i);
        if (!tail || report < 0)
            continue;
        for (const AircraftObservation& o : observations(e)) {
            // Of each element the observation's last, else the last its
            // levels share.
            auto of = [&](std::initializer_list<int> ds) {
                const Value* v = last(e, o.first, o.end, ds);
                return v ? v : last(e, 0, o.shared, ds);
            };
            long time = o.own && !o.shared ? report : furtherTime(e, o.first, o.end, report);
            if (time < 0 && o.shared)
                time = report;
            double lat = 0, lon = 0;
            if (time < 0 || !(position(e, lat, lon, o.first, o.end) ||
                              (o.shared && position(e, lat, lon, 0, o.shared))))
                continue;
            // Its height: the first height element, in their order, that
            // holds a value, its own before those its levels share.
            const Value* height = nullptr;
            const std::pair<size_t, size_t> ranges[] = {{o.first, o.end}, {0, o.shared}};
            for (const auto& range : ranges)
                for (int d : aircraftHeights)
                    for (size_t i = range.first; i < range.second && !height; ++i)
                        if (e[i].descriptor == d && present(e[i]))
                            height = &e[i];
            const std::string key = aircraftKey(EcCodesDump::trimmed(tail->text), time, lat, lon,
                                                height ? stored(*height) : -99999);
            if (!o.own && out.count(key))
                continue;
            Expected x;
            x.numbers = {{"timeObs", time}, {"latitude", lat}, {"longitude", lon}};
            x.value("flightLevel", height);
            x.value("flightPhase", of({8004}));
            x.value("pressure", of({7004}));
            x.value("temperature", of({12001, 12101}));
            x.value("dewpoint", of({12003, 12103}));
            x.value("mixingRatio", of({13002}));
            // A relative humidity of 0 is stored as missing.
            Value humidity;
            if (const Value* h = of({13003})) {
                humidity = *h;
                if (present(humidity) && humidity.number == 0)
                    humidity.kind = EcCodesDump::Missing;
                x.value("relHumidity", &humidity);
            }
            Value converted, components[2];
            const Value *direction = nullptr, *speed = nullptr;
            if (windOf({{of({11001}), windSpeed(of({11002, 11083, 11084}), converted)},
                        {of({11003}), of({11004})}},
                       direction, speed, components)) {
                x.value("windSpeed", speed);
                x.value("windDir", direction);
            }
            out[key] = x;
        }
    }
    return out;
}

// The first element of a descriptor, or null.
const Value* first(const Elements& e, int descriptor)
{
    for (const Value& v : e)
        if (v.descriptor == descriptor)
            return &v;
    return nullptr;
}

// The percent confidence of a wind: the first given among its report's own
// (before any quality information), then those the bit map links to its
// wind speed, then to its wind direction; the first (missing) when none is
// given.
const Value* confidence(const Elements& all, const Value* speed, const Value* direction)
{
    std::vector<const Value*> given;
    bool quality = false;
    for (const Value& v : all) {
        quality = quality || (v.role == EcCodesDump::Operator && v.descriptor == 222000);
        if (v.descriptor == 33007 && v.role == EcCodesDump::Element && !quality && v.owner < 0)
            given.push_back(&v);
    }
    for (const Value* wind : {speed, direction})
        for (const Value& v : all)
            if (wind && v.descriptor == 33007 && v.owner == wind->index)
                given.push_back(&v);
    for (const Value* v : given)
        if (present(*v))
            return v;
    return given.empty() ? nullptr : given.front();
}

// The n-th element of a descriptor (from 0), or null.
const Value* nth(const Elements& e, int descriptor, long n)
{
    for (const Value& v : e)
        if (v.descriptor == descriptor && n-- == 0)
            return &v;
    return nullptr;
}

// Winds and scatterometer cells: one record per position with its time
// group right before it (or where none ends there, right after it), keyed
// by position and the time rounded to the minute; each value the first of
// its element in the report (one wind a report), a cell's wind and
// likelihood those of the ambiguity its index names (from 1; a missing
// index: the one ambiguity that gives a wind), the first without an index;
// no record for a cell whose index names none, nor for a report without a
// wind in any form.
std::map<std::string, Expected> winds(const EcCodesDump& dump, bool cells)
{
    std::map<std::string, Expected> out;
    for (const Elements& all : dump.subsets()) {
        const Elements e = elements(all);
        const bool precise = !cells && last(e, 0, e.size(), {5001}) != nullptr;
        const int lat = cells || precise ? (cells ? 5002 : 5001) : 5002;
        for (size_t i = 5; i + 1 < e.size(); ++i) {
            if (e[i].descriptor != lat || !is(e, i + 1, lat + 1000) || !present(e[i]) ||
                !present(e[i + 1]) || std::fabs(e[i].number) > 90 ||
                std::fabs(e[i + 1].number) > 180)
                continue;
            // The time group right before the position, else right after.
            long time = timeGroup(e, i >= 6 && is(e, i - 1, 4006) ? i - 6 : i - 5);
            if (time < 0)
                time = timeGroup(e, i + 2);
            if (time < 0)
                continue;
            Expected x;
            const long minute = (time + 30) / 60 * 60;
            x.numbers = {{"validTime", minute}, {"latitude", e[i].number},
                         {"longitude", e[i + 1].number}};
            const int forms[3][2] = {{11011, 11012}, {11001, 11002}, {11003, 11004}};
            auto wind = [&](int f, long k) {
                return std::make_pair(nth(e, forms[f][0], k), nth(e, forms[f][1], k));
            };
            long k = 0;
            if (const Value* index = cells ? first(e, 21102) : nullptr) {
                // The ambiguities, and those that give a wind.
                long n = 0;
                std::vector<long> winds;
                for (long a = 0; a == n; ++a)
                    for (int f = 0; f < 3; ++f)
                        for (const Value* v : {wind(f, a).first, wind(f, a).second}) {
                            n = v ? a + 1 : n;
                            if (v && present(*v) && (winds.empty() || winds.back() != a))
                                winds.push_back(a);
                        }
                k = present(*index) ? std::lround(index->number) - 1 : winds.empty() ? 0 : winds[0];
                if ((!present(*index) && winds.size() > 1) || k < 0 || k >= n)
                    continue;
            }
            Value converted[2];
            const Value *direction = nullptr, *speed = nullptr;
            if (!windOf(cells ? std::vector<std::pair<const Value*, const Value*>>{
                                    wind(0, k), wind(1, k), wind(2, k)}
                              : std::vector<std::pair<const Value*, const Value*>>{
                                    wind(1, 0), wind(2, 0)},
                        direction, speed, converted))
                continue;
            x.value("windSpd", speed);
            x.value("windDir", direction);
            if (cells) {
                x.value("likelihood", nth(e, 21104, k));
            } else {
                x.value("pressure", first(e, 7004));
                x.value("confidence", confidence(all, first(e, 11002), first(e, 11001)));
            }
            out[positionKey(e[i].number, e[i + 1].number, minute)] = x;
        }
    }
    return out;
}

// Profilers: one record per station (its WMO block and station number) and
// period (each time group of year to minute), its heights as its levels:
// above sea level as given, or above the station with the station's
// elevation added (no record without it).  A level runs from its height to
// the next; its horizontal wind is its components where it gives both, else
// those of its direction and speed.  A period is no record when none of its
// levels gives a height and a wind, unless it gives neither levels nor winds.
std::map<std::string, Expected> profilers(const EcCodesDump& dump)
{
    std::map<std::string, Expected> out;
    for (const Elements& all : dump.subsets()) {
        const Elements e = elements(all);
        size_t b = 0;
        while (b + 1 < e.size() && !(e[b].descriptor == 1001 && is(e, b + 1, 1002)))
            ++b;
        double lat = 0, lon = 0;
        if (b + 1 >= e.size() || !position(e, lat, lon))
            continue;
        const Value* elevation = last(e, 0, e.size(), {7001});
        if (const Value* ground = last(e, 0, e.size(), {7030}))
            elevation = ground;
        const long id = static_cast<long>(e[b].number) * 1000 + static_cast<long>(e[b + 1].number);
        for (size_t p = b; p < e.size(); ++p) {
            const long time = e[p].descriptor == 4001 ? timeGroup(e, p) : -1;
            if (time < 0)
                continue;
            size_t end = p + 1;
            while (end < e.size() && e[end].descriptor != 4001)
                ++end;
            Expected x;
            std::vector<Value> heights, w;
            std::vector<size_t> levels;
            bool aboveStation = false;
            for (size_t i = p; i < end; ++i) {
                const Value& v = e[i];
                if (v.descriptor == 7007 || v.descriptor == 7002 || v.descriptor == 10007 ||
                    v.descriptor == 7006) {
                    levels.push_back(i);
                    heights.push_back(v);
                    if (v.descriptor == 7006 && present(v)) {
                        aboveStation = true;
                        if (elevation && present(*elevation))
                            heights.back().number += elevation->number;
                    }
                }
                if (v.descriptor == 11006)
                    w.push_back(v);
            }
            if (aboveStation && !(elevation && present(*elevation)))
                continue;
            std::vector<Value> u, v;
            bool profile = false;
            for (size_t l = 0; l < levels.size(); ++l) {
                const size_t to = l + 1 < levels.size() ? levels[l + 1] : end;
                const Value* given[4];
                for (int c = 0; c < 4; ++c)
                    given[c] = last(e, levels[l], to, {11001 + c});
                Value uc = EcCodesDump::element(11003, 0, 1), vc = uc;
                vc.descriptor = 11004;
                if (given[2] && given[3] && present(*given[2]) && present(*given[3])) {
                    uc = *given[2], vc = *given[3];
                } else if (given[0] && given[1] && present(*given[0]) && present(*given[1])) {
                    const double direction = given[0]->number * M_PI / 180;
                    uc.number = -given[1]->number * std::sin(direction);
                    vc.number = -given[1]->number * std::cos(direction);
                } else {
                    uc.kind = vc.kind = EcCodesDump::Missing;
                }
                const Value* wl = last(e, levels[l], to, {11006});
                profile = profile || (present(heights[l]) &&
                                      (present(uc) || (wl && present(*wl))));
                u.push_back(uc);
                v.push_back(vc);
            }
            if (!profile && (!levels.empty() || last(e, p, end, {11001, 11002, 11003, 11004,
                                                                 11006})))
                continue;
            x.numbers = {{"timeObs", time},
                         {"latitude", lat},
                         {"longitude", lon},
                         {"numLevels", static_cast<double>(heights.size())}};
            // The averaging period in minutes, from whichever unit it has.
            const struct {
                int descriptor;
                double minutes;
            } periods[] = {{4024, 60.0}, {4025, 1.0}, {4026, 1 / 60.0}};
            for (const auto& unit : periods)
                if (const Value* t = last(e, b, end, {unit.descriptor}))
                    x.numbers.push_back({"averagingPeriod",
                                         present(*t) ? std::trunc(t->number * unit.minutes)
                                                     : -99999});
            x.profiles = {{"heights", heights}, {"wComponent", w}, {"uComponent", u},
                          {"vComponent", v}};
            out[idTimeKey(std::to_string(id), time)] = x;
        }
    }
    return out;
}

// Each stored record has the values ecCodes' decoding of its message
// expects for its key; every expected record is stored.
void compare(Kind kind, const std::vector<EcCodesDump>& dumps, const StoredRecords& records)
{
    std::map<std::string, Expected> expected;
    auto expect = [&](std::map<std::string, Expected> (*of)(const EcCodesDump&)) {
        for (const EcCodesDump& dump : dumps)
            for (const auto& x : of(dump))
                expected.insert(x);
    };
    std::vector<std::string> keys;
    // Aircraft and profilers: a record's key is its id and time.
    auto idKeys = [&](const char* id, int width) {
        const std::vector<std::string> ids = records.texts(id, width);
        const auto times = records.numbers("timeObs");
        for (size_t r = 0; r < ids.size(); ++r)
            keys.push_back(idTimeKey(ids[r], times[r][0]));
    };
    if (kind == ACARS) {
        expect(aircraft);
        const std::vector<std::string> ids = records.texts("tailNumber", 9);
        const auto times = records.numbers("timeObs");
        const auto lat = records.numbers("latitude"), lon = records.numbers("longitude");
        const auto height = records.numbers("flightLevel");
        for (size_t r = 0; r < ids.size(); ++r)
            keys.push_back(aircraftKey(ids[r], times[r][0], lat[r][0], lon[r][0], height[r][0]));
    } else if (kind == PROFILER) {
        expect(profilers);
        idKeys("stationId", 6);
    } else if (kind == WINDS || kind == SCATTEROMETER) {
        for (const EcCodesDump& dump : dumps)
            for (const auto& x : winds(dump, kind == SCATTEROMETER))
                expected.insert(x);
        const auto lat = records.numbers("latitude"), lon = records.numbers("longitude");
        const auto times = records.numbers("validTime");
        for (size_t r = 0; r < times.size(); ++r)
            keys.push_back(positionKey(lat[r][0], lon[r][0], times[r][0]));
    } else {
        ADD_FAILURE() << "a sounding of the corpus lies in this localization";
        return;
    }
    EXPECT_EQ(keys.size(), expected.size());
    for (size_t r = 0; r < keys.size(); ++r) {
        SCOPED_TRACE("record " + std::to_string(r) + " " + keys[r]);
        const auto found = expected.find(keys[r]);
        if (found == expected.end()) {
            ADD_FAILURE() << "ecCodes' decoding holds no such report";
            continue;
        }
        const Expected& x = found->second;
        for (const auto& n : x.numbers)
            EXPECT_NEAR(records.numbers(n.first.c_str())[r][0], n.second,
                        1e-5 * std::max(1.0, std::fabs(n.second)))
                << n.first;
        for (const auto& v : x.values)
            expectValue(records.numbers(v.first.c_str())[r][0], v.second, v.first);
        for (const auto& p : x.profiles) {
            const int n = static_cast<int>(p.second.size());
            if (n == 0)
                continue;
            const std::vector<double> levels = records.numbers(p.first.c_str(), n)[r];
            for (int k = 0; k < n; ++k)
                expectValue(levels[static_cast<size_t>(k)], p.second[static_cast<size_t>(k)],
                            p.first + "[" + std::to_string(k) + "]");
        }
    }
}

// The PROBLEM lines of a log by kind: the text with its digits left out.
std::map<std::string, int> problemKinds(const std::string& log)
{
    std::map<std::string, int> kinds;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 9, "PROBLEM: ") != 0)
            continue;
        std::string kind;
        for (char c : line)
            if (c < '0' || c > '9')
                kind += c;
        ++kinds[kind];
    }
    return kinds;
}

// How one bulletin ended in the decoder process, read while its
// installation stands.
struct BulletinRun {
    DecoderInstallation& p;
    std::string log;
    // The last PROBLEM line after the bulletin was read, other than the
    // event loop's own: why it was set aside.
    std::string why;
    bool aside;
    StoredRecords records;
    size_t count;
};

// One bulletin through the decoder process: dropped into its decoder's
// ingest directory under the name given and announced as a data controller
// does.  It must leave the ingest directory with one of the outcomes given,
// never unlinked with nothing stored and nothing said, and no PROBLEM line
// of one kind more than BulletinLog::LIMIT times; then check looks at it.
void runBulletin(Kind kind, const std::string& name, const std::string& bytes, int outcomes,
                 const std::function<void(const BulletinRun&)>& check)
{
    const auto& k = kinds[kind];
    DecoderInstallation p(k.key, k.ingest, k.bad);
    p.start();
    p.tree.write(std::string("qev_data/ispan/") + k.ingest + "/" + name, bytes);
    ASSERT_TRUE(p.announceFile(name)) << p.child->log();
    ASSERT_TRUE(p.child->waitAsleep(10000));
    p.child->signal(SIGTERM);
    ASSERT_EQ(p.child->waitExit(20000), 0) << p.child->log();
    const std::string log = p.child->log();

    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    const bool aside = TempTree::exists(p.bad + "/" + name);
    const StoredRecords records(p.dataFiles(k.store));
    const size_t count = records.count();
    const bool dropped = log.find("EVENT: " + p.in + "/" + name + ": ") != std::string::npos &&
                         log.find("nothing to store.") != std::string::npos;
    std::string why;
    const size_t read = log.find("] = " + name + ":");
    for (size_t at = log.find("PROBLEM: ", read); read != std::string::npos &&
                                                  at != std::string::npos;
         at = log.find("PROBLEM: ", at + 1)) {
        const std::string line = log.substr(at, log.find('\n', at) - at);
        if (line.find("No messages in time period") == std::string::npos)
            why = line;
    }
    EXPECT_TRUE(count > 0 || (aside && !why.empty()) || dropped)
        << "unlinked with nothing stored and nothing said:\n" << log;
    const int outcome = count > 0 ? (aside ? STORED_ASIDE : STORED)
                        : aside   ? ASIDE
                                  : DROPPED;
    EXPECT_TRUE(outcome & outcomes) << "outcome " << outcome << ":\n" << log;
    for (const auto& problem : problemKinds(log))
        EXPECT_LE(problem.second, BulletinLog::LIMIT) << problem.first;
    check(BulletinRun{p, log, why, aside, records, count});
}

} // namespace

TEST(RealBulletins, EachIsStoredAsEcCodesReadsItOrKeptWithItsReason)
{
    QEV_REQUIRE_NCGEN();
    if (!TempTree::exists(corpus + "/MANIFEST.md"))
        GTEST_SKIP() << "BUFR corpus not found at " << corpus;
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();

    std::ostringstream table;
    for (const auto& b : bulletins) {
        const auto& k = kinds[b.kind];
        SCOPED_TRACE(std::string(b.file) + " as " + k.key);
        const std::string bytes = TempTree::readFile(corpus + "/" + b.file);
        runBulletin(b.kind, b.name, bytes, b.outcomes, [&](const BulletinRun& run) {
            table << "  " << b.file << " | " << k.key << " | ";
            if (run.count > 0)
                table << run.count << " records stored" << (run.aside ? ", then set aside" : "");
            else if (run.aside)
                table << "set aside: " << run.why.substr(9);
            else
                table << "dropped on purpose";
            table << "\n";

            if (run.count == 0)
                return;
            // ecCodes' reading of each message of the file, alone in a file
            // of its own.  ecCodes cannot read every message (a local element
            // it lacks after a 2 06 operator): then there is nothing to
            // compare with.
            const auto spans = findBufrMessages(
                reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
            std::vector<EcCodesDump> dumps;
            std::string error;
            for (size_t m = 0; m < spans.size(); ++m) {
                const std::string one = std::string(b.file) + "." + std::to_string(m + 1);
                const std::string dir =
                    spans.size() == 1 ? corpus : run.p.tree.mkdirs("messages");
                if (spans.size() > 1)
                    run.p.tree.write("messages/" + one,
                                     bytes.substr(spans[m].offset, spans[m].length));
                CorpusReference reference(tools, dir, run.p.tree.mkdirs("reference"));
                if (reference.load(spans.size() == 1 ? b.file : one.c_str()))
                    dumps.push_back(reference.reference());
                else
                    error = reference.error();
            }
            if (dumps.size() < spans.size()) {
                table << "    (values not compared: " << error << ")\n";
                return;
            }
            compare(b.kind, dumps, run.records);
        });
    }
    std::cout << "bulletin | decoder | outcome\n" << table.str();
}

namespace {

// A profiler bulletin of one subset per station (WMO block 74): its time
// group, position and elevation (missing for a NaN), the averaging period
// and its levels in a delayed replication, each a height of the element
// given, then u, v and w.  With periods, each period of a station is its
// own time group, averaging period and levels, the periods in a delayed
// replication.
struct ProfilerStation {
    int number;
    double elevation;
    std::vector<std::vector<double>> periods;    // each period's heights
};

std::string profilerBulletin(int heightElement, const std::vector<ProfilerStation>& stations,
                             bool periods)
{
    BufrWriter w(4);
    w.category(2).dateTime(2024, 6, 1, 12, 0).subsets(static_cast<int>(stations.size()));
    const std::vector<int> period = {8021, 4025, 104000, 31001, heightElement, 11003, 11004, 11006};
    std::vector<int> descriptors = {1001, 1002};
    if (periods) {
        descriptors.insert(descriptors.end(), {301021, 7030, 110000, 31001, 301011, 301012});
    } else {
        descriptors.insert(descriptors.end(), {301011, 301012, 301021, 7030});
    }
    descriptors.insert(descriptors.end(), period.begin(), period.end());
    w.descriptors(descriptors);
    for (const ProfilerStation& s : stations) {
        const int count = static_cast<int>(s.periods.size());
        w.element(1001, 74).element(1002, s.number);
        auto time = [&w, count](int p) {
            w.element(4001, 2024).element(4002, 6).element(4003, 1);
            // Ten-minute periods, the last ending at 12 UTC.
            const int minutes = 12 * 60 - 10 * (count - 1 - p);
            w.element(4004, minutes / 60).element(4005, minutes % 60);
        };
        if (!periods)
            time(0);
        w.element(5001, 40.0 + s.number / 1000.0).element(6001, -105.25);
        w.element(7030, std::isnan(s.elevation) ? BufrWriter::missingValue() : s.elevation);
        if (periods)
            w.factor(31001, static_cast<unsigned>(count));
        for (int p = 0; p < count; ++p) {
            if (periods)
                time(p);
            w.element(8021, 2).element(4025, periods ? -10 : -60);
            const std::vector<double>& heights = s.periods[static_cast<size_t>(p)];
            w.factor(31001, static_cast<unsigned>(heights.size()));
            for (size_t k = 0; k < heights.size(); ++k)
                w.element(heightElement, heights[k]).element(11003, 5.0 + k + p)
                    .element(11004, -2.5 - p).element(11006, 0.05 * (k % 3));
        }
    }
    const BufrWriter::Bytes m = w.build();
    EXPECT_TRUE(w.ok()) << w.error();
    return std::string(m.begin(), m.end());
}

// Profiler layouts of other networks, a station of WMO block 47 each:
// - DIRECTION_SPEED: 3 01 032, then 12 levels (291 m to 6,986 m) of height,
//   wind direction and speed (224 degrees, 10.1 m/s first; a calm at the
//   fifth, no direction at the eighth) and w;
// - BOTH_FORMS: the same levels giving components too, at every other level
//   (where they differ from the direction and speed);
// - PILOT: levels of pressure, 0 08 001, geopotential height, direction and
//   speed;
// - SEQUENCE: two periods one after the other in the subset, each a time
//   group and its levels, the first of direction and speed, the second of
//   components;
// - FIXED: two periods in a fixed replication, each a time group and its
//   levels of direction and speed.
enum ProfilerLayout { DIRECTION_SPEED, BOTH_FORMS, PILOT, SEQUENCE, FIXED };

std::string profilerOfForms(ProfilerLayout layout)
{
    BufrWriter w(4);
    w.category(2).dateTime(2024, 6, 1, 12, 0).subsets(1);
    const double none = BufrWriter::missingValue();
    auto time = [&w](int minute) {
        w.element(4001, 2024).element(4002, 6).element(4003, 1).element(4004, minute / 60)
            .element(4005, minute % 60);
    };
    // Level k of the direction and speed layouts; components where asked.
    auto level = [&w, none](int k, bool components) {
        const bool calm = k == 4;
        w.element(7007, std::lround(291 + 6695.0 * k / 11))
            .element(11001, k == 7 ? none : calm ? 0 : (224 + 17 * k) % 360)
            .element(11002, calm ? 0 : 10.1 + 0.7 * k);
        if (components)
            w.element(11003, k % 2 ? -3.0 - 0.1 * k : none).element(11004, k % 2 ? 4.5 : none);
        w.element(11006, 0.01 * (k % 5) - 0.02);
    };
    if (layout == DIRECTION_SPEED || layout == BOTH_FORMS || layout == PILOT) {
        const bool both = layout == BOTH_FORMS;
        if (layout == PILOT)
            w.descriptors({301032, 105000, 31001, 7004, 8001, 10009, 11001, 11002});
        else if (both)
            w.descriptors({301032, 8021, 4025, 106000, 31001, 7007, 11001, 11002, 11003, 11004,
                           11006});
        else
            w.descriptors({301032, 8021, 4025, 104000, 31001, 7007, 11001, 11002, 11006});
        w.element(1001, 47).element(1002, layout == PILOT ? 646 : both ? 756 : 755);
        w.element(2001, 0);
        time(12 * 60);
        w.element(5002, 36.06).element(6002, 140.13).element(7001, 25);
        if (layout == PILOT) {
            w.factor(31001, 5);
            for (int k = 0; k < 5; ++k)
                w.element(7004, 92500 - 10000 * k).element(8001, 32).element(10009, 760 + 700 * k)
                    .element(11001, 250 + 5 * k).element(11002, 8 + k);
        } else {
            w.element(8021, 2).element(4025, -30).factor(31001, 12);
            for (int k = 0; k < 12; ++k)
                level(k, both);
        }
    } else {
        const std::vector<int> period = {301011, 301012, 8021, 4025};
        std::vector<int> d = {301001, 301021, 7030};
        if (layout == FIXED) {
            d.push_back(110002);
            d.insert(d.end(), period.begin(), period.end());
            d.insert(d.end(), {104000, 31001, 7007, 11001, 11002, 11006});
        } else {
            for (int form : {11001, 11003}) {
                d.insert(d.end(), period.begin(), period.end());
                d.insert(d.end(), {103000, 31001, 7007, form, form + 1});
            }
        }
        w.descriptors(d);
        w.element(1001, 47).element(1002, layout == FIXED ? 758 : 757);
        w.element(5001, 35.5).element(6001, 139.25).element(7030, 40);
        for (int p = 0; p < 2; ++p) {
            const int levels = 3 + p;
            time(11 * 60 + 50 + 10 * p);
            w.element(8021, 2).element(4025, -10).factor(31001, static_cast<unsigned>(levels));
            for (int k = 0; k < levels; ++k) {
                if (layout == FIXED) {
                    level(k + p, false);
                } else {
                    w.element(7007, 200 + 250 * k);
                    if (p == 0)
                        w.element(11001, 90 + 30 * k).element(11002, 5 + k);
                    else
                        w.element(11003, 1.5 + k).element(11004, -2.5);
                }
            }
        }
    }
    const BufrWriter::Bytes m = w.build();
    EXPECT_TRUE(w.ok()) << w.error();
    return std::string(m.begin(), m.end());
}

// ecCodes' encoder over its edition 4 sample: compressed satellite winds.
std::string encoded(const EcCodesTools& tools, const TempTree& tree, const std::string& name,
                    const std::string& rules)
{
    std::string error;
    const std::string path = tree.path(name);
    EXPECT_TRUE(tools.encode(rules, 4, path, error)) << error;
    return TempTree::readFile(path);
}

} // namespace

// Bulletins of the layouts in which a value of another quantity, of another
// report or no value at all was once stored, made here (ecCodes' encoder,
// the tests' BufrWriter): each record holds what ecCodes reads of its
// report's own values.
// - Satellite winds 3 10 077: the uncertainty of the pressure after
//   0 08 092, pressures of the first guess and forecast after 0 08 021, four
//   confidences of which the first given is the wind's, and trajectory
//   positions, missing or not, that are no winds and give no line.
// - Satellite winds 3 10 014 with their confidences as quality information
//   after 2 22 000, linked to the wind speed by the bit map.
// - Profilers with heights of 0 10 007, and above the station (0 07 006)
//   with its elevation added: a station without its elevation is left out,
//   and the bulletin is set aside with a reason naming 0 07 006.
// - A profiler station of three periods, each a record of its own time and
//   levels.
// - Profilers whose levels give the wind as direction and speed (stored as
//   components), or both forms (the components stored); periods one after
//   the other and in a fixed replication, each a record; levels of
//   geopotential height and pressure only (set aside, the reason naming
//   them).
// - Aircraft reports of levels: 3 11 008 (four levels at the report's
//   position, and two of one flight level, the second of which is no record
//   of its own and says so), 3 11 009 (each level its own position) and
//   3 11 012 (each its own time and position), each level a record with
//   the phase of flight its report gives once; turbulence observations of
//   3 11 010, each at its own time group before its position.
TEST(RealBulletins, EachReportsOwnValuesAreStoredAsEcCodesReadsThem)
{
    QEV_REQUIRE_NCGEN();
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    TempTree tree;
    const std::string winds077 = encoded(tools, tree, "310077.bufr", R"(
set masterTablesVersionNumber=39;
set dataCategory=5;
set numberOfSubsets=3;
set compressedData=1;
set inputDelayedDescriptorReplicationFactor={1,1,2,1,1,1,1,1};
set unexpandedDescriptors={310077};
set #1#latitude={45.5,-12.25,30};
set #1#longitude={-120.25,100.5,10};
set #2#latitude={46,-12,31};
set #2#longitude={-121,101,11};
set year=2024; set month=6; set day=1; set hour=12;
set minute={10,20,30}; set second={20,40,0};
set #1#pressure={56330,40000,25000};
set #2#pressure={50000,41000,26000};
set #4#pressure={55000,39000,24000};
set #7#pressure={7700,5000,3000};
set #1#timeSignificance=27;
set #2#timeSignificance=4;
set #1#verticalSignificanceForNwp=4;
set #1#measurementUncertaintyExpression=0;
set #1#windDirection={250,90,180};
set #1#windSpeed={25.5,10,5};
set #1#standardGeneratingApplication=1;
set #2#standardGeneratingApplication=2;
set #3#standardGeneratingApplication=3;
set #4#standardGeneratingApplication=4;
set #1#percentConfidence={85,-1e100,-1e100};
set #2#percentConfidence={80,60,-1e100};
set #4#percentConfidence={70,50,-1e100};
set pack=1;
write;
)");
    std::string bits;
    for (int b = 1; b <= 103; ++b)
        bits += std::string(b > 1 ? "," : "") + (b >= 16 && b <= 18 ? "0" : "1");
    const std::string winds014 = encoded(tools, tree, "310014.bufr", R"(
set masterTablesVersionNumber=39;
set dataCategory=5;
set numberOfSubsets=2;
set compressedData=1;
set inputDataPresentIndicator={)" + bits + R"(};
set unexpandedDescriptors={310014,222000,236000,101103,31031,1031,1032,101003,33007};
set #1#year=2024; set #1#month=6; set #1#day=1; set #1#hour=12;
set #1#minute={10,11}; set #1#second={5,50};
set #1#latitude={45.5,46.25};
set #1#longitude={-120.25,-121};
set #1#pressure={25000,31000};
set #1#windDirection={270,280};
set #1#windSpeed={12.5,20};
set pack=1;
set #1#pressure->percentConfidence={70,71};
set #1#windDirection->percentConfidence={60,61};
set #1#windSpeed->percentConfidence={80,81};
set pack=1;
write;
)");
    // An edition 4 aircraft bulletin of uncompressed subsets.
    auto aircraftBulletin = [&](const char* name, int subsets, const std::string& rules) {
        return encoded(tools, tree, name,
                       "set masterTablesVersionNumber=39;\nset dataCategory=4;\n"
                       "set numberOfSubsets=" +
                           std::to_string(subsets) + ";\nset compressedData=0;\n" + rules +
                           "set pack=1;\nwrite;\n");
    };
    const std::string levels008 = aircraftBulletin("311008.bufr", 2, R"(
set inputDelayedDescriptorReplicationFactor={4,2};
set unexpandedDescriptors={311008};
set #1#aircraftRegistrationNumberOrOtherIdentification="N901DL";
set #2#aircraftRegistrationNumberOrOtherIdentification="N904DL";
set year={2024,2024}; set month={6,6}; set day={1,1}; set hour={12,12}; set minute={20,25};
set second={30,0}; set latitude={40.64123,40.7}; set longitude={-73.77861,-73.5};
set phaseOfAircraftFlight={5,6}; set flightLevel={430,1250,2540,3860,3000,3000};
set windDirection={250,255,262,270,300,301}; set windSpeed={8.5,10.5,14,17.5,20,21};
set airTemperature={285.4,280.15,272.35,263.55,268.15,267.15};
set dewpointTemperature={280.1,275.05,265.5,250.25,255.15,254.15};
)");
    const std::string levels009 = aircraftBulletin("311009.bufr", 1, R"(
set inputDelayedDescriptorReplicationFactor={3};
set unexpandedDescriptors={311009};
set aircraftRegistrationNumberOrOtherIdentification="N902DL";
set year=2024; set month=6; set day=1; set hour=12; set minute=30; set second=0;
set latitude={33.6367,33.6502,33.6711,33.7003}; set longitude={-84.4281,-84.4012,-84.3655,-84.3207};
set phaseOfAircraftFlight=5; set flightLevel={300,900,1500};
set windDirection={180,190,205}; set windSpeed={4.5,6,9.5};
set airTemperature={300.15,296.35,292.55}; set dewpointTemperature={290.05,288.15,285.25};
)");
    const std::string levels012 = aircraftBulletin("311012.bufr", 1, R"(
set inputExtendedDelayedDescriptorReplicationFactor={2};
set unexpandedDescriptors={311012};
set aircraftRegistrationNumberOrOtherIdentification="N903DL";
set year={2024,2024,2024}; set month={6,6,6}; set day={1,1,1}; set hour={12,12,12};
set minute={40,40,41}; set second={0,10,25};
set latitude={33.6367,33.6502,33.6711}; set longitude={-84.4281,-84.4012,-84.3655};
set phaseOfAircraftFlight=6; set flightLevel={300,900}; set windDirection={180,190};
set windSpeed={4.5,6}; set airTemperature={300.15,296.35}; set dewpointTemperature={290.05,288.15};
set relativeHumidity={55,62};
)");
    const std::string turbulence010 = aircraftBulletin("311010.bufr", 1, R"(
set inputShortDelayedDescriptorReplicationFactor={1,0,0,0,0,0};
set inputDelayedDescriptorReplicationFactor={0,2};
set unexpandedDescriptors={311010};
set aircraftRegistrationNumberOrOtherIdentification="EU3042";
set year={2024,2024,2024}; set month={6,6,6}; set day={1,1,1}; set hour={10,10,10};
set minute={10,2,6}; set second={5,35,55};
set latitude={42.255,41.58667,41.83683}; set longitude={-2.04167,-2.48667,-2.26333};
set flightLevel=11280; set height={9878,10578};
set windDirection={233,234,236}; set #1#windSpeed=31.9;
set airTemperature={221.25,242.55,241.55}; set dewpointTemperature=197.75;
)");
    const double none = std::nan("");
    const struct {
        Kind kind;
        const char* name;
        std::string bytes;
        int outcomes;
        const char* line;    // a line the log must hold, or null
    } made[] = {
        {ACARS, "IUAX01_KWBC_311008", levels008, STORED,
         "PROBLEM: Observation 2 of report 2 repeats the time, position and height of one stored "
         "before."},
        {ACARS, "IUAX01_KWBC_311009", levels009, STORED, nullptr},
        {ACARS, "IUAX01_KWBC_311012", levels012, STORED, nullptr},
        {ACARS, "IUAX02_EGRR_311010", turbulence010, STORED, nullptr},
        {WINDS, "IUCN01_EUMS_310077", winds077, STORED, nullptr},
        {WINDS, "IUCN01_KWBC_310014", winds014, STORED, nullptr},
        {PROFILER, "IUPT43_KBOU_heights",
         profilerBulletin(10007, {{101, 1600, {{600, 850, 1100, 15975}}},
                                  {102, 300, {{400, 650}}}},
                          false),
         STORED, nullptr},
        {PROFILER, "IUPT43_RJTD_47755", profilerOfForms(DIRECTION_SPEED), STORED, nullptr},
        {PROFILER, "IUPT43_RJTD_47756", profilerOfForms(BOTH_FORMS), STORED, nullptr},
        {PROFILER, "IUPT43_RJTD_pilot", profilerOfForms(PILOT), ASIDE,
         "PROBLEM: No level of station 47646 gives a height the profiler store takes (0 07 007, "
         "0 07 002, 0 10 007, 0 07 006): levels give 0 07 004 and 0 10 009. "},
        {PROFILER, "IUPT43_RJTD_sequence", profilerOfForms(SEQUENCE), STORED, nullptr},
        {PROFILER, "IUPT43_RJTD_fixed", profilerOfForms(FIXED), STORED, nullptr},
        {PROFILER, "IUPT43_KBOU_above",
         profilerBulletin(7006, {{201, 1600, {{100, 350, 600}}}, {202, none, {{100, 350}}}},
                          false),
         STORED_ASIDE,
         "PROBLEM: Station 74202 gives the heights of its levels above the station (0 07 006) and "
         "no elevation of its own (0 07 030 or 0 07 001). "},
        {PROFILER, "IUPT43_KBOU_periods",
         profilerBulletin(7007, {{301, 1600, {{500, 750, 1000}, {500, 750, 1000, 1250}, {500}}}},
                          true),
         STORED, nullptr},
    };
    for (const auto& m : made) {
        SCOPED_TRACE(m.name);
        EcCodesDump dump;
        std::string error;
        ASSERT_TRUE(tools.dump(tree.write(m.name, m.bytes), dump, error)) << error;
        runBulletin(m.kind, m.name, m.bytes, m.outcomes, [&](const BulletinRun& run) {
            compare(m.kind, {dump}, run.records);
            // Trajectory positions are no winds: no line of theirs.
            EXPECT_EQ(run.log.find("Missing lat/lon coordinates"), std::string::npos) << run.log;
            if (m.line) {
                EXPECT_NE(run.log.find(m.line), std::string::npos) << run.log;
            }
        });
    }
}

// Winds in the forms a store does not hold as they are, made here with
// ecCodes' encoder: each record holds what ecCodes reads of its report.
// - Scatterometer cells of the WMO sequence 3 12 028: four ambiguities
//   written out, the index of the selected one (0 21 102) naming the second
//   and the first; the beams' positions after them are no cells.  A cell
//   whose index names no ambiguity, or is missing where two give a wind, is
//   not stored and sets the bulletin aside with that reason.
// - Scatterometer cells of the older layout: ambiguities of wind speed and
//   direction (0 11 002, 0 11 001) in a delayed replication, the third and
//   the first selected.
// - Satellite winds and aircraft reports giving their wind as components
//   (0 11 003, 0 11 004), one of them a calm; the aircraft's dewpoint.
TEST(RealBulletins, EachWindIsStoredInTheFormItsStoreHolds)
{
    QEV_REQUIRE_NCGEN();
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    TempTree tree;
    // The times of two reports of a bulletin of uncompressed subsets.
    const std::string twoTimes = R"(
set #1#year=2024; set #1#month=6; set #1#day=1; set #1#hour=12; set #1#minute=20; set #1#second=0;
set #2#year=2024; set #2#month=6; set #2#day=1; set #2#hour=12; set #2#minute=21; set #2#second=30;
)";
    const struct {
        Kind kind;
        const char* name;
        std::string rules;
        int outcomes;
        const char* line;    // a line the log must hold, or null
    } made[] = {
        {SCATTEROMETER, "ISXX01_KNES_312028", R"(
set masterTablesVersionNumber=28;
set dataCategory=12;
set numberOfSubsets=4;
set compressedData=1;
set unexpandedDescriptors={312028};
set satelliteIdentifier=281; set orbitNumber=5000;
set year=2024; set month=6; set day=1; set hour=12; set minute={20,20,21,21}; set #1#second={0,30,0,30};
set #1#latitude={10.5,10.75,11,11.25}; set #1#longitude={-30.25,-30.5,-30.75,-31};
set #2#latitude={10.4,10.6,11.1,11.2}; set #2#longitude={-30.2,-30.6,-30.7,-31.1};
set seawindsWindVectorCellQuality={0,8192,0,0};
set numberOfVectorAmbiguities={4,2,4,2};
set indexOfSelectedWindVector={2,1,5,-1e100};
set #1#windSpeedAt10M={6.1,7.5,8,9}; set #1#windDirectionAt10M={250,100,10,20};
set #1#likelihoodComputedForSolution={-1.5,-1.2,-1.1,-1};
set #2#windSpeedAt10M={6.5,7.6,8.1,9.1}; set #2#windDirectionAt10M={70,280,190,200};
set #2#likelihoodComputedForSolution={-1.7,-2.2,-2.1,-2};
set #3#windSpeedAt10M={6.3,-1e100,8.2,-1e100}; set #3#windDirectionAt10M={160,-1e100,100,-1e100};
set #4#windSpeedAt10M={6.2,-1e100,8.3,-1e100}; set #4#windDirectionAt10M={340,-1e100,280,-1e100};
set pack=1;
write;
)",
         STORED_ASIDE, "is 5, which names none of its 4 wind ambiguities. "},
        {SCATTEROMETER, "ISXX01_KNES_older", R"(
set masterTablesVersionNumber=39;
set dataCategory=12;
set numberOfSubsets=2;
set compressedData=0;
set inputDelayedDescriptorReplicationFactor={3,2};
set unexpandedDescriptors={1007,5040,301011,301013,301023,21101,21102,103000,31001,11002,11001,21104};
set #1#satelliteIdentifier=281; set #2#satelliteIdentifier=281;
set #1#orbitNumber=5000; set #2#orbitNumber=5001;
)" + twoTimes + R"(
set #1#latitude=10.5; set #1#longitude=-30.25; set #2#latitude=10.75; set #2#longitude=-30.5;
set #1#numberOfVectorAmbiguities=3; set #2#numberOfVectorAmbiguities=2;
set #1#indexOfSelectedWindVector=3; set #2#indexOfSelectedWindVector=1;
set #1#windSpeed=6.1; set #1#windDirection=250; set #1#likelihoodComputedForSolution=-1.5;
set #2#windSpeed=6.3; set #2#windDirection=160; set #2#likelihoodComputedForSolution=-1.6;
set #3#windSpeed=6.5; set #3#windDirection=70; set #3#likelihoodComputedForSolution=-1.7;
set #4#windSpeed=9.5; set #4#windDirection=300; set #4#likelihoodComputedForSolution=-1.2;
set #5#windSpeed=9.1; set #5#windDirection=120; set #5#likelihoodComputedForSolution=-1.9;
set pack=1;
write;
)",
         STORED, nullptr},
        {WINDS, "IUCN01_KNES_components", R"(
set masterTablesVersionNumber=39;
set dataCategory=5;
set numberOfSubsets=3;
set compressedData=1;
set unexpandedDescriptors={1007,301011,301013,5001,6001,7004,11003,11004};
set satelliteIdentifier=257;
set year=2024; set month=6; set day=1; set hour=12; set minute={20,20,21}; set second={0,30,0};
set latitude={45.5,-12.25,30}; set longitude={-120.25,100.5,10};
set pressure={25000,40000,56000};
set u={-6.1,0,12.5}; set v={2.2,0,-3.4};
set pack=1;
write;
)",
         STORED, nullptr},
        {ACARS, "IUAX01_KWBC_components", R"(
set masterTablesVersionNumber=39;
set dataCategory=4;
set numberOfSubsets=2;
set compressedData=0;
set unexpandedDescriptors={1008,301011,301013,5001,6001,7010,12101,12103,11003,11004};
set #1#aircraftRegistrationNumberOrOtherIdentification="N123AB";
set #2#aircraftRegistrationNumberOrOtherIdentification="N456CD";
)" + twoTimes + R"(
set #1#latitude=40.5; set #1#longitude=-105.25; set #2#latitude=41; set #2#longitude=-104.5;
set #1#flightLevel=9000; set #2#flightLevel=10500;
set #1#airTemperature=240.15; set #2#airTemperature=230.55;
set #1#dewpointTemperature=230.05; set #2#dewpointTemperature=215.35;
set #1#u=-6.1; set #1#v=2.2; set #2#u=0; set #2#v=0;
set pack=1;
write;
)",
         STORED, nullptr},
    };
    for (const auto& m : made) {
        SCOPED_TRACE(m.name);
        const std::string bytes = encoded(tools, tree, m.name, m.rules);
        EcCodesDump dump;
        std::string error;
        ASSERT_TRUE(tools.dump(tree.path(m.name), dump, error)) << error;
        runBulletin(m.kind, m.name, bytes, m.outcomes, [&](const BulletinRun& run) {
            compare(m.kind, {dump}, run.records);
            if (m.line) {
                EXPECT_NE(run.log.find(m.line), std::string::npos) << run.log;
            }
        });
    }
}

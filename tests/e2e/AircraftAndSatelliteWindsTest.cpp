// ACARS aircraft reports, high-density cloud-drift winds and scatterometer
// winds end to end: the sample generator's bulletins, read by ecCodes as an
// independent decoder, and one decoder process of the three data types
// storing them into their point-data files from the project's own run-time
// data and templates.
#include "AcarsSamples.h"
#include "BufrWriter.h"
#include "DecoderInstallation.h"
#include "EcCodesDump.h"
#include "EcCodesTools.h"
#include "HighDensityWindSamples.h"
#include "QuikScatSamples.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace {

const int32_t NOON = 1717243200;    // 2024-06-01 12:00 UTC, the samples' hour

SampleOptions options()
{
    SampleOptions o;
    o.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
    return o;
}

SampleBulletin sample(bool (*make)(const SampleOptions&, std::vector<SampleBulletin>&,
                                   std::string&),
                      size_t which = 0)
{
    std::vector<SampleBulletin> all;
    std::string error;
    EXPECT_TRUE(make(options(), all, error)) << error;
    return which < all.size() ? all[which] : SampleBulletin();
}

// A field of the generated values, one per report, wind or cell.
template <class T>
std::vector<double> field(const std::vector<T>& list, double T::*member)
{
    std::vector<double> v;
    for (const T& x : list)
        v.push_back(x.*member);
    return v;
}

// A wind's time rounded to the whole minute, as the decoders store it.
double roundedTime(double minute, double second)
{
    return NOON + std::floor((minute * 60 + second + 30) / 60) * 60;
}

// A whole record variable as doubles.
std::vector<double> variable(int ncid, const char* name, size_t records)
{
    int var = -1;
    std::vector<double> v(records);
    EXPECT_EQ(nc_inq_varid(ncid, name, &var), NC_NOERR) << name;
    EXPECT_EQ(nc_get_var_double(ncid, var, v.data()), NC_NOERR) << name;
    return v;
}

// Each value equals the generated one within the coding step; a generated
// NaN (missing) reads as -99999.
void expectStored(const std::vector<double>& stored, const std::vector<double>& generated,
                  double step, const char* what)
{
    ASSERT_EQ(stored.size(), generated.size()) << what;
    int wrong = 0;
    for (size_t i = 0; i < stored.size() && wrong < 5; ++i) {
        const double want = std::isnan(generated[i]) ? -99999.0 : generated[i];
        if (std::fabs(stored[i] - want) > step * (1 + 1e-6) + std::fabs(want) * 1e-7) {
            ADD_FAILURE() << what << "[" << i << "] = " << stored[i] << ", generated " << want;
            ++wrong;
        }
    }
}

struct OpenFile {
    explicit OpenFile(const std::string& path)
    {
        EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &ncid), NC_NOERR) << path;
        int dim = -1;
        nc_inq_unlimdim(ncid, &dim);
        nc_inq_dimlen(ncid, dim, &records);
    }
    ~OpenFile() { nc_close(ncid); }
    int ncid = -1;
    size_t records = 0;
};

} // namespace

// The bulletins are FM 94 messages that ecCodes decodes to the values the
// generator meant.
TEST(WindAndAircraftSamples, EcCodesDecodesTheBulletinsToTheGeneratedValues)
{
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    TempTree tree;
    const struct {
        SampleBulletin bulletin;
        int descriptor;
        std::vector<double> values;
    } cases[] = {
        {sample(AcarsSamples::make, 1), 13003,
         field(AcarsSamples::reports(1), &AcarsSamples::Report::humidity)},
        {sample(HighDensityWindSamples::make), 11002,
         field(HighDensityWindSamples::winds(), &HighDensityWindSamples::Wind::speed)},
        {sample(HighDensityWindSamples::make), 33007,
         field(HighDensityWindSamples::winds(), &HighDensityWindSamples::Wind::confidence)},
        {sample(QuikScatSamples::make), 21109,
         field(QuikScatSamples::cells(), &QuikScatSamples::Cell::quality)},
        {sample(QuikScatSamples::make), 5040,
         field(QuikScatSamples::cells(), &QuikScatSamples::Cell::orbit)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bulletin.name + " " + std::to_string(c.descriptor));
        const std::string path = tree.write(c.bulletin.name, std::string(c.bulletin.bytes.begin(),
                                                                         c.bulletin.bytes.end()));
        EcCodesDump dump;
        std::string error;
        ASSERT_TRUE(tools.dump(path, dump, error)) << error;
        std::vector<double> decoded;
        for (const std::vector<EcCodesDump::Value>& subset : dump.subsets())
            for (const EcCodesDump::Value& v : subset)
                if (v.descriptor == c.descriptor)
                    decoded.push_back(v.kind == EcCodesDump::Missing ? NAN : v.number);
        ASSERT_EQ(decoded.size(), c.values.size());
        for (size_t i = 0; i < decoded.size(); ++i) {
            if (std::isnan(c.values[i]))
                EXPECT_TRUE(std::isnan(decoded[i])) << i;
            else
                EXPECT_NEAR(decoded[i], c.values[i], 0.051) << i;
        }
    }
    AcarsSamples::Report first = AcarsSamples::reports(0)[0];
    EXPECT_EQ(first.tail, "N512UA");
}

// One process of the three data types: the wind bulletin waiting at start is
// stored by its decoder's first pass, the aircraft and scatterometer
// bulletins when data messages name them (one aircraft bulletin ending its
// data in a blank of padding, as one centre's do).  Every report, wind and
// cell is read back as generated, and each is notified with its data type's
// key: every aircraft report, each minute of the winds and cells once.
TEST(WindsAndAircraft, OneProcessStoresEachDataTypeAsItsBulletinsCarryIt)
{
    QEV_REQUIRE_NCGEN();
    DecoderInstallation p("acars_csw_quikscat", "bufr/CSW", "badCSWBufr");
    const SampleBulletin winds = sample(HighDensityWindSamples::make);
    p.dropInto("ispan/bufr/CSW", winds);
    for (const char* dir : {"ispan/bufr/acars", "ispan/bufr/QuikScat", "ispan/badAcarsBufr",
                            "ispan/badCSWBufr", "ispan/badQuikScatBufr"})
        p.tree.mkdirs(std::string("qev_data/") + dir);
    p.start();
    std::vector<AcarsSamples::Report> reports;
    for (int b = 0; b < AcarsSamples::BULLETINS; ++b) {
        SampleBulletin bulletin = sample(AcarsSamples::make, static_cast<size_t>(b));
        if (b == 1)
            bulletin.bytes = BufrWriter::withPadding(bulletin.bytes, {0x20});
        p.dropInto("ispan/bufr/acars", bulletin);
        ASSERT_TRUE(p.announce("KWBC.0000" + bulletin.name + " " + std::string(30, ' ')))
            << p.child->log();
        for (const AcarsSamples::Report& r : AcarsSamples::reports(b))
            reports.push_back(r);
    }
    const SampleBulletin cells = sample(QuikScatSamples::make);
    p.dropInto("ispan/bufr/QuikScat", cells);
    ASSERT_TRUE(p.announce("KWBC.0000" + cells.name + " " + std::string(30, ' ')));
    for (const char* dir : {"ispan/bufr/acars", "ispan/bufr/CSW", "ispan/bufr/QuikScat",
                            "ispan/badAcarsBufr", "ispan/badCSWBufr", "ispan/badQuikScatBufr"})
        EXPECT_TRUE(TempTree::listFiles(p.tree.path(std::string("qev_data/") + dir)).empty())
            << dir;

    const std::vector<HighDensityWindSamples::Wind> w = HighDensityWindSamples::winds();
    const std::vector<QuikScatSamples::Cell> c = QuikScatSamples::cells();
    std::set<double> windMinutes, cellMinutes;
    for (const auto& x : w)
        windMinutes.insert(roundedTime(x.minute, x.second));
    for (const auto& x : c)
        cellMinutes.insert(roundedTime(x.minute, x.second));
    const size_t expected = reports.size() + windMinutes.size() + cellMinutes.size();
    ASSERT_TRUE(p.peer.waitForCount(2, 10, expected, 20000)) << p.child->log();
    std::map<uint32_t, std::multiset<int32_t>> notified;
    for (const WirePeer::Message& m : p.notifications())
        notified[m.key].insert(m.dataTime.refTime);
    std::multiset<int32_t> reportTimes;
    for (const auto& r : reports)
        reportTimes.insert(NOON + r.minute * 60 + r.second);
    EXPECT_EQ(notified[79], reportTimes);
    EXPECT_EQ(notified[10007], std::multiset<int32_t>(windMinutes.begin(), windMinutes.end()));
    EXPECT_EQ(notified[10008], std::multiset<int32_t>(cellMinutes.begin(), cellMinutes.end()));

    ASSERT_TRUE(p.child->waitAsleep(10000));
    p.child->signal(SIGTERM);
    ASSERT_EQ(p.child->waitExit(20000), 0) << p.child->log();

    {
        SCOPED_TRACE("acars");
        OpenFile f(p.tree.path("qev_data/point/acars/netcdf/20240601_1200"));
        ASSERT_EQ(f.records, reports.size());
        std::vector<char> tails(f.records * 9);
        int var = -1;
        nc_inq_varid(f.ncid, "tailNumber", &var);
        nc_get_var_text(f.ncid, var, tails.data());
        for (size_t r = 0; r < f.records; ++r)
            EXPECT_EQ(std::string(&tails[r * 9]), reports[r].tail) << r;
        std::vector<double> times, humidity;
        for (const auto& x : reports) {
            times.push_back(NOON + x.minute * 60 + x.second);
            humidity.push_back(x.humidity == 0 ? NAN : x.humidity);
        }
        expectStored(variable(f.ncid, "timeObs", f.records), times, 0, "timeObs");
        expectStored(variable(f.ncid, "relHumidity", f.records), humidity, 0.5, "relHumidity");
        expectStored(variable(f.ncid, "latitude", f.records),
                     field(reports, &AcarsSamples::Report::latitude), 1e-5, "latitude");
        expectStored(variable(f.ncid, "temperature", f.records),
                     field(reports, &AcarsSamples::Report::temperature), 0.005, "temperature");
        expectStored(variable(f.ncid, "windSpeed", f.records),
                     field(reports, &AcarsSamples::Report::windSpeed), 0.05, "windSpeed");
    }
    {
        SCOPED_TRACE("csw");
        OpenFile f(p.tree.path("qev_data/point/CSW/netcdf/20240601_1200"));
        ASSERT_EQ(f.records, w.size());
        std::vector<double> times;
        for (const auto& x : w)
            times.push_back(roundedTime(x.minute, x.second));
        using W = HighDensityWindSamples::Wind;
        expectStored(variable(f.ncid, "validTime", f.records), times, 0, "validTime");
        const struct {
            const char* name;
            double W::*member;
            double step;
        } checks[] = {{"latitude", &W::latitude, 1e-5},  {"longitude", &W::longitude, 1e-5},
                      {"pressure", &W::pressure, 5},     {"windSpd", &W::speed, 0.05},
                      {"windDir", &W::direction, 0.5},   {"confidence", &W::confidence, 0.5}};
        for (const auto& k : checks)
            expectStored(variable(f.ncid, k.name, f.records), field(w, k.member), k.step, k.name);
    }
    {
        SCOPED_TRACE("quikscat");
        OpenFile f(p.tree.path("qev_data/point/QuikScat/netcdf/20240601_1200"));
        ASSERT_EQ(f.records, c.size());
        std::vector<double> times, rain;
        for (const auto& x : c) {
            times.push_back(roundedTime(x.minute, x.second));
            rain.push_back(QuikScatSamples::rainIndex(x));
        }
        using C = QuikScatSamples::Cell;
        expectStored(variable(f.ncid, "validTime", f.records), times, 0, "validTime");
        expectStored(variable(f.ncid, "rainIndex", f.records), rain, 0, "rainIndex");
        const struct {
            const char* name;
            double C::*member;
            double step;
        } checks[] = {{"satelliteId", &C::satellite, 0}, {"orbitNumber", &C::orbit, 0},
                      {"latitude", &C::latitude, 0.005}, {"windSpd", &C::speed, 0.05},
                      {"likelihood", &C::likelihood, 0.0005}};
        for (const auto& k : checks)
            expectStored(variable(f.ncid, k.name, f.records), field(c, k.member), k.step, k.name);
    }
}

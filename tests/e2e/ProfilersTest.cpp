// Wind profilers end to end: the sample generator's bulletins, read by ecCodes
// as an independent decoder, and the decoder program as a child of the test
// peer storing the NPN and CAP bulletins into their networks' point-data
// files from the project's own run-time data and template.
#include "BufrWriter.h"
#include "DecoderInstallation.h"
#include "EcCodesDump.h"
#include "EcCodesTools.h"
#include "ProfilerSamples.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <set>
#include <utility>
#include <string>
#include <vector>

namespace {

const std::string source = QEV_SOURCE_DIR;

// The template variable and decimal scale of each quantity of a level.
const struct {
    const char* variable;
    int scale;
} quantities[ProfilerSamples::NUM_QUANTITIES] = {
    {"heights", 0},        {"levelMode", 0},  {"qcCode", 0},    {"uvConsensusNum", 0},
    {"uComponent", 1},     {"vComponent", 1}, {"wComponent", 2}, {"horizWindSpdSD", 1},
    {"peakPower", 0},      {"wConsensusNum", 0}, {"vertWindSpdSD", 1}};

std::vector<SampleBulletin> samples()
{
    SampleOptions o;
    o.dataDir = source + "/data";
    std::vector<SampleBulletin> all;
    std::string error;
    EXPECT_TRUE(ProfilerSamples::make(o, all, error)) << error;
    return all;
}

// The generated value, or the missing value as the decoder stores it.
double stored(double generated)
{
    return std::isnan(generated) ? -99999.0 : generated;
}

} // namespace

// The bulletins are FM 94 edition 4 messages that ecCodes decodes to the
// values the generator meant, the lost upper winds as missing.
TEST(ProfilerSamplesTest, EcCodesDecodesTheBulletinsToTheGeneratedValues)
{
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    const std::vector<SampleBulletin> all = samples();
    ASSERT_EQ(all.size(), 5u);
    const SampleBulletin& b = all[2];
    EXPECT_EQ(b.name, "IUPT43_KBOU_202406011200");
    EXPECT_EQ(std::string(b.bytes.begin(), b.bytes.begin() + 19), "IUPT43 KBOU 011200\r");
    TempTree tree;
    const std::string path = tree.write(b.name, std::string(b.bytes.begin(), b.bytes.end()));
    EcCodesDump dump;
    std::string error;
    ASSERT_TRUE(tools.dump(path, dump, error)) << error;
    ASSERT_EQ(dump.subsetCount(), 6);
    const ProfilerSamples::Profile p = ProfilerSamples::profile(ProfilerSamples::stations()[1], 12);
    std::vector<double> heights, u;
    for (const EcCodesDump::Value& v : dump.subsets()[1]) {
        if (v.descriptor == 7007)
            heights.push_back(v.number);
        else if (v.descriptor == 11003)
            u.push_back(v.kind == EcCodesDump::Missing ? NAN : v.number);
    }
    ASSERT_EQ(heights.size(), 72u);
    ASSERT_EQ(u.size(), 72u);
    int lost = 0;
    for (size_t k = 0; k < 72; ++k) {
        EXPECT_EQ(heights[k], p.levels[0][k]);
        lost += std::isnan(p.levels[4][k]);
        EXPECT_EQ(std::isnan(u[k]), std::isnan(p.levels[4][k])) << k;
        if (!std::isnan(u[k])) {
            EXPECT_NEAR(u[k], p.levels[4][k], 0.051);
        }
    }
    EXPECT_GT(lost, 0);
}

// Three NPN bulletins (three hours) and two CAP bulletins announced by a data
// message (one of each ending its data in a blank of padding, as one
// centre's do): one record per station and hour in the store of its
// network, every level of every quantity as generated and the fill above
// the station's levels, one notification per bulletin (its hour) with its
// network's key; SIGTERM closes every data file.
TEST(Profilers, NpnAndCapBulletinsAreStoredInTheirNetworksStores)
{
    QEV_REQUIRE_NCGEN();
    DecoderInstallation p("Profiler", "bufr/prof", "badProfiler");
    p.start();
    std::vector<SampleBulletin> bulletins = samples();
    for (size_t b : {size_t(0), bulletins.size() - 1})
        bulletins[b].bytes = BufrWriter::withPadding(bulletins[b].bytes, {0x20});
    for (const SampleBulletin& b : bulletins)
        p.drop(b);
    ASSERT_TRUE(p.announce()) << p.child->log();
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    EXPECT_TRUE(TempTree::listFiles(p.bad).empty());

    // The listing is unsorted: the bulletins may come in any order.
    ASSERT_TRUE(p.peer.waitForCount(2, 10, 5, 10000)) << p.child->log();
    std::multiset<std::pair<uint32_t, int32_t>> notices;
    for (const WirePeer::Message& m : p.notifications()) {
        EXPECT_EQ(m.dataTime.flags, 0x300u);
        notices.insert({m.key, m.dataTime.refTime});
    }
    const int32_t noon = 1717243200;    // 2024-06-01 12:00 UTC
    EXPECT_EQ(notices, (std::multiset<std::pair<uint32_t, int32_t>>{
                           {10001, noon - 7200}, {10001, noon - 3600}, {10001, noon},
                           {10002, noon}, {10002, noon}}));
    ASSERT_TRUE(p.child->waitAsleep(10000));
    p.child->signal(SIGTERM);
    EXPECT_EQ(p.child->waitExit(20000), 0) << p.child->log();

    // The NPN stations every hour, the CAP stations at noon.
    const struct {
        const char* file;
        int hour;
        size_t count;
    } files[] = {{"prof/netcdf/20240601_1000", 10, 6},
                 {"prof/netcdf/20240601_1100", 11, 6},
                 {"prof/netcdf/20240601_1200", 12, 6},
                 {"CAP/netcdf/20240601_1200", 12, 4}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        int ncid = -1;
        ASSERT_EQ(nc_open(p.tree.path(std::string("qev_data/point/") + f.file).c_str(), NC_NOWRITE,
                          &ncid),
                  NC_NOERR);
        ASSERT_EQ(recordCount(ncid), f.count);
        const std::vector<std::string> ids = texts(ncid, "stationId", int(f.count), 6);
        for (size_t r = 0; r < f.count; ++r) {
            const ProfilerSamples::Station* station = nullptr;
            for (const ProfilerSamples::Station& s : ProfilerSamples::stations())
                if (ids[r] == std::to_string(s.id()))
                    station = &s;
            ASSERT_NE(station, nullptr) << ids[r];
            EXPECT_EQ(station->network == ProfilerSamples::CAP, f.file[0] == 'C');
            const ProfilerSamples::Profile expected = ProfilerSamples::profile(*station, f.hour);
            const int record = static_cast<int>(r);
            const int n = expected.levelCount();
            EXPECT_EQ(row<double>(ncid, "timeObs", record, 1)[0], noon + 3600.0 * (f.hour - 12));
            EXPECT_EQ(row<int>(ncid, "numLevels", record, 1)[0], n);
            EXPECT_NEAR(row<float>(ncid, "latitude", record, 1)[0], station->latitude, 1e-4);
            for (int q = 0; q < ProfilerSamples::NUM_QUANTITIES; ++q) {
                const char* name = quantities[q].variable;
                const std::vector<float> levels = row<float>(ncid, name, record, 100);
                for (int k = 0; k < n; ++k)
                    EXPECT_NEAR(levels[k], stored(expected.levels[q][k]),
                                0.5 * std::pow(10.0, -quantities[q].scale) + 1e-6)
                        << name << " level " << k;
                EXPECT_EQ(levels[n], 1e37f) << name;
            }
        }
        EXPECT_EQ(nc_close(ncid), NC_NOERR);
    }
}

// POES and GOES soundings end to end: the sample generator's bulletins, read
// by ecCodes as an independent decoder, and the decoder program (both data
// types, the product-id handler) storing them at their nearest sites.
#include "DecoderInstallation.h"
#include "EcCodesDump.h"
#include "EcCodesTools.h"
#include "SatelliteSoundingSamples.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace {

typedef SatelliteSoundingSamples Samples;

const std::string source = QEV_SOURCE_DIR;

const struct Type {
    Samples::Kind kind;
    const char* name;
    const char* sites;
    uint32_t key;
    int pressure, moisture;    // descriptors
} types[] = {{Samples::POES, "POES", "/data/poesBufr.spi", 10006, 7004, 13002},
             {Samples::GOES, "GOES", "/data/goesBufr.spi", 10005, 10004, 12103}};

SampleOptions options()
{
    SampleOptions o;
    o.dataDir = source + "/data";
    return o;
}

std::vector<Samples::Sounding> soundings(const Type& t, int b)
{
    std::vector<Samples::Site> sites;
    std::string error;
    EXPECT_TRUE(Samples::readSites(source + t.sites, sites, error)) << error;
    return Samples::soundings(t.kind, sites, options(), b);
}

int32_t toMinute(int32_t t)
{
    return (t + 30) / 60 * 60;
}

} // namespace

// Each bulletin is one FM 94 message that ecCodes decodes to the levels the
// generator meant.
TEST(SatelliteSamples, EcCodesDecodesTheBulletinsToTheGeneratedValues)
{
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    TempTree tree;
    for (const Type& t : types) {
        SCOPED_TRACE(t.name);
        const std::vector<Samples::Sounding> list = soundings(t, 1);
        SampleBulletin b;
        std::string error;
        ASSERT_TRUE(Samples::encode(t.kind, list, options(), 1, b, error)) << error;
        EcCodesDump dump;
        ASSERT_TRUE(tools.dump(tree.write(b.name, std::string(b.bytes.begin(), b.bytes.end())),
                               dump, error))
            << error;
        ASSERT_EQ(dump.subsets().size(), list.size());
        for (size_t s = 0; s < list.size(); ++s) {
            std::vector<double> pressure, moisture;
            for (const EcCodesDump::Value& v : dump.subsets()[s]) {
                if (v.descriptor == t.pressure)
                    pressure.push_back(v.number);
                else if (v.descriptor == t.moisture)
                    moisture.push_back(v.number);
            }
            // POES: the surface pressure first; GOES: the surface dewpoint.
            ASSERT_EQ(pressure.size(), list[s].pressure.size() + (t.kind == Samples::POES));
            ASSERT_EQ(moisture.size(), list[s].moisture.size() + (t.kind == Samples::GOES));
            for (size_t k = 0; k < list[s].pressure.size(); ++k) {
                EXPECT_NEAR(pressure[k + (t.kind == Samples::POES)], list[s].pressure[k], 5.1);
                EXPECT_NEAR(moisture[k + (t.kind == Samples::GOES)], list[s].moisture[k],
                            t.kind == Samples::POES ? 6e-6 : 0.006);
            }
        }
    }
}

// Both data types in one process: each data message wakes the decoder of its
// product id, which stores every bulletin of its ingest directory, one
// record per sounding at its nearest site and minute, the profiles with
// their level counts (POES by descending pressure, GOES in message order),
// and notifies each distinct time once under its key.
TEST(SatelliteSoundings, StoredAtTheirSitesAndNotifiedOncePerTime)
{
    QEV_REQUIRE_NCGEN();
    DecoderInstallation p("poes_goes", "bufr/POESSoundings", "badPOESBufr");
    const std::string goesIn = p.tree.mkdirs("qev_data/ispan/bufr/GOESSoundings");
    p.start();
    size_t expected = 0;
    for (const Type& t : types) {
        std::vector<SampleBulletin> bulletins;
        std::string error;
        ASSERT_TRUE(Samples::make(t.kind, options(), bulletins, error)) << error;
        for (const SampleBulletin& b : bulletins) {
            if (t.kind == Samples::POES)
                p.drop(b);
            else
                p.tree.write("qev_data/ispan/bufr/GOESSoundings/" + b.name,
                             std::string(b.bytes.begin(), b.bytes.end()));
        }
        ASSERT_TRUE(p.announce("KWBC.00001" + bulletins[0].name + " " + std::string(40, ' ')))
            << p.child->log();
        std::set<int32_t> times;
        for (int b = 0; b < Samples::BULLETINS; ++b)
            for (const Samples::Sounding& s : soundings(t, b))
                if (s.site)
                    times.insert(toMinute(s.time));
        expected += times.size();
    }
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    EXPECT_TRUE(TempTree::listFiles(p.bad).empty());
    EXPECT_TRUE(TempTree::listFiles(goesIn).empty());
    ASSERT_TRUE(p.peer.waitForCount(2, 10, expected, 10000)) << p.child->log();
    ASSERT_TRUE(p.child->waitAsleep(10000));
    p.child->signal(SIGTERM);
    ASSERT_EQ(p.child->waitExit(20000), 0) << p.child->log();

    const std::vector<WirePeer::Message> notices = p.notifications();
    EXPECT_EQ(notices.size(), expected);
    for (const Type& t : types) {
        SCOPED_TRACE(t.name);
        std::set<int32_t> notified;
        for (const WirePeer::Message& m : notices)
            if (m.key == t.key && m.dataTime.flags == 0x300u)
                notified.insert(m.dataTime.refTime);
        std::set<int32_t> stored;
        for (int b = 0; b < Samples::BULLETINS; ++b) {
            for (const Samples::Sounding& s : soundings(t, b)) {
                if (!s.site)
                    continue;
                const int32_t when = toMinute(s.time);
                stored.insert(when);
                char file[16];
                const time_t hour = when / 3600 * 3600;
                std::strftime(file, sizeof file, "%Y%m%d_%H%M", gmtime(&hour));
                int ncid = -1;
                ASSERT_EQ(nc_open(p.tree.path(std::string("qev_data/point/") + t.name +
                                              "/netcdf/" + file)
                                      .c_str(),
                                  NC_NOWRITE, &ncid),
                          NC_NOERR);
                const size_t records = recordCount(ncid);
                const std::vector<std::string> ids = texts(ncid, "siteId", int(records), 6);
                int r = 0;
                while (r < int(records) && !(ids[r] == std::to_string(s.site) &&
                                             row<double>(ncid, "timeObs", r, 1)[0] == when))
                    ++r;
                ASSERT_LT(r, int(records)) << s.site << " at " << when;
                const int n = static_cast<int>(s.pressure.size());
                EXPECT_EQ(row<int>(ncid, "numLevels", r, 1)[0], n);
                const std::vector<float> pressure = row<float>(ncid, "pressure", r, n + 1);
                for (int k = 0; k < n; ++k)
                    EXPECT_NEAR(pressure[k], s.pressure[t.kind == Samples::POES ? n - 1 - k : k],
                                5.1);
                EXPECT_EQ(pressure[n], 1e37f);
                EXPECT_NEAR(row<float>(ncid, "latitude", r, 1)[0], s.latitude, 0.006);
                EXPECT_EQ(nc_close(ncid), NC_NOERR);
            }
        }
        EXPECT_EQ(notified, stored);
    }
}

// Every decoder in one process: the decoder program started with all seven
// data type keys, each data type's sample bulletins waiting in its ingest
// directory, and one data message per bulletin whose product id picks the
// decoder that stores it.
#include "AcarsSamples.h"
#include "DecoderInstallation.h"
#include "HighDensityWindSamples.h"
#include "ModelSoundingSamples.h"
#include "ProfilerSamples.h"
#include "QuikScatSamples.h"
#include "SatelliteSoundingSamples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

typedef bool (*Maker)(const SampleOptions&, std::vector<SampleBulletin>&, std::string&);

// A data type: its ingest and bad-file directories (below $QEV_DATA/ispan),
// the sample bulletins fed to it, the records each of its point-data
// directories gets from them and the notifications each key gets.
const struct Type {
    const char* key;
    const char* ingest;
    const char* bad;
    Maker make;
    std::vector<std::string> bulletins;
    std::map<std::string, long> records;
    std::map<uint32_t, size_t> notified;
} types[] = {
    // Six stations for each model's analysis hour, a notification each.
    {"model", "bufr/modelSoundings/NAM", "badModelBufr", ModelSoundingSamples::make,
     {"JUSA41_KWBC_2024060112_f000", "JUSA51_KWBC_2024060112_f000",
      "JUSA61_KWBC_2024060112_f000", "JUSA71_KWBC_2024060112_f000"},
     {{"model/ETA/netcdf", 6}, {"model/RUC/netcdf", 6}, {"model/AVN/netcdf", 6},
      {"model/NGM/netcdf", 6}},
     {{10001, 6}, {10002, 6}, {0, 12}}},
    // Six soundings near sites, one outside; a notification per minute.
    {"poes", "bufr/POESSoundings", "badPOESBufr", SatelliteSoundingSamples::makePOES,
     {"IUTX01_KNES_202406011205"}, {{"POES/netcdf", 6}}, {{10006, 2}}},
    {"goes", "bufr/GOESSoundings", "badGOESBufr", SatelliteSoundingSamples::makeGOES,
     {"IUSN41_KNES_202406011200"}, {{"GOES/netcdf", 6}}, {{10005, 3}}},
    // Eight aircraft, each report notified.
    {"acars", "bufr/acars", "badAcarsBufr", AcarsSamples::make,
     {"IUAX01_KWBC_202406011200"}, {{"acars/netcdf", 8}}, {{79, 8}}},
    // Winds and cells notified once per minute.
    {"csw", "bufr/CSW", "badCSWBufr", HighDensityWindSamples::make,
     {"IUCN01_KNES_202406011200"}, {{"CSW/netcdf", 3000}}, {{10007, 20}}},
    // NPN (designator 3) and CAP (0): one notification per network and hour.
    {"prof", "bufr/prof", "badProfiler", ProfilerSamples::make,
     {"IUPT43_KBOU_202406011200", "IUPT40_KBOU_202406011200"},
     {{"prof/netcdf", 6}, {"CAP/netcdf", 2}},
     {{10001, 1}, {10002, 1}}},
    {"quikscat", "bufr/QuikScat", "badQuikScatBufr", QuikScatSamples::make,
     {"ISXX01_KNES_202406011200"}, {{"QuikScat/netcdf", 1200}}, {{10008, 26}}},
};

std::vector<SampleBulletin> chosen(const Type& t)
{
    SampleOptions o;
    o.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
    std::vector<SampleBulletin> all, out;
    std::string error;
    EXPECT_TRUE(t.make(o, all, error)) << error;
    for (const SampleBulletin& b : all)
        if (std::find(t.bulletins.begin(), t.bulletins.end(), b.name) != t.bulletins.end())
            out.push_back(b);
    EXPECT_EQ(out.size(), t.bulletins.size()) << t.key;
    return out;
}

size_t filesIn(const DecoderInstallation& p, const std::string& dir)
{
    return TempTree::listFiles(p.tree.path("qev_data/ispan/" + dir)).size();
}

} // namespace

// The bulletins of every data type wait in their ingest directories; the
// data types are announced in turn.  Each message empties its own data
// type's ingest directory only, nothing goes to a bad-file directory, and
// the notifications that follow are that data type's (the model and the
// profilers share keys 10001 and 10002); after SIGTERM (exit 0) every
// point-data directory holds exactly the records of its data type's
// bulletins, in files that read whole, and no data file lies elsewhere.
TEST(AllDecoders, OneProcessRoutesEachDataMessageToItsDecoder)
{
    QEV_REQUIRE_NCGEN();
    DecoderInstallation p("model_poes_goes_acars_csw_prof_quikscat", types[0].ingest,
                          types[0].bad);
    for (const Type& t : types) {
        p.tree.mkdirs(std::string("qev_data/ispan/") + t.ingest);
        p.tree.mkdirs(std::string("qev_data/ispan/") + t.bad);
    }
    p.start();
    for (const Type& t : types)
        for (const SampleBulletin& b : chosen(t))
            p.dropInto(std::string("ispan/") + t.ingest, b);

    size_t notices = 0;
    for (size_t i = 0; i < sizeof types / sizeof types[0]; ++i) {
        const Type& t = types[i];
        SCOPED_TRACE(t.key);
        for (const std::string& name : t.bulletins)
            ASSERT_TRUE(p.announceFile(name)) << p.child->log();
        for (size_t j = 0; j < sizeof types / sizeof types[0]; ++j) {
            EXPECT_EQ(filesIn(p, types[j].ingest), j <= i ? 0 : types[j].bulletins.size())
                << types[j].ingest;
            EXPECT_EQ(filesIn(p, types[j].bad), 0u) << types[j].bad;
        }

        size_t expected = 0;
        for (const auto& k : t.notified)
            expected += k.second;
        ASSERT_TRUE(p.peer.waitForCount(2, 10, notices + expected, 20000)) << p.child->log();
        const std::vector<WirePeer::Message> all = p.notifications();
        std::map<uint32_t, size_t> notified;
        for (size_t n = notices; n < all.size(); ++n)
            ++notified[all[n].key];
        EXPECT_EQ(notified, t.notified);
        notices = all.size();
    }

    ASSERT_TRUE(p.child->waitAsleep(10000));
    p.child->signal(SIGTERM);
    ASSERT_EQ(p.child->waitExit(20000), 0) << p.child->log();
    EXPECT_EQ(p.notifications().size(), notices);
    size_t files = 0;
    for (const Type& t : types) {
        for (const auto& store : t.records) {
            SCOPED_TRACE(store.first);
            long records = 0;
            for (const std::string& file : p.dataFiles(store.first)) {
                records += readWhole(file);
                ++files;
            }
            EXPECT_EQ(records, store.second);
        }
    }
    // No data file anywhere else: every file below point/ is a template, a
    // store's pass journal or one of those read.
    const std::vector<std::string> all = TempTree::listFiles(p.tree.path("qev_data/point"));
    size_t kept = 0;
    for (const std::string& name : all) {
        const std::string base = name.substr(name.rfind('/') + 1);
        kept += base == "template" || base == "passJournal";
    }
    EXPECT_EQ(all.size(), kept + files) << ::testing::PrintToString(all);
}

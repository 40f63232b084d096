// The POES sounding decoder without the process: level counts, times,
// levels, and the soundings stored into a real store made from the
// template of the source tree, read back with the netCDF library.
#include "SoundingTestSupport.h"

#include "AbsTime.h"
#include "LogCapture.h"
#include "NetcdfPointData.h"
#include "POESBufrDecoder.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <sstream>

using namespace soundings;

namespace {

testing::Environment* const tables = testing::AddGlobalTestEnvironment(new ProcessTables);

const double NONE = std::nan("");
const float FILL = 1e37f;

struct Level {
    double p, t, w;
};

// A POES sounding as the samples have it: its time ten values before the
// latitude, a surface pressure and temperature between two vertical
// significances, then the levels.  Its latitude is value 10 of subset 0.
Elements poes(double lat, double lon, const std::vector<double>& time,
              const std::vector<Level>& levels, double precipWater = 20)
{
    Elements e;
    for (int i = 0; i < 6; ++i)
        e.push_back({4001 + i, time.at(i)});
    append(e, {{1007, 209}, {2019, 570}, {2022, 0}, {8012, 1}, {5002, lat}, {6002, lon},
               {10001, 400}, {8003, 0}, {7004, 95000}, {12101, 290}, {8003, NONE},
               {13016, precipWater}, {20010, 30}});
    for (const Level& l : levels)
        append(e, {{7004, l.p}, {12101, l.t}, {13002, l.w}});
    return e;
}

const std::vector<double> noon = {2024, 6, 1, 12, 34, 29};
const std::vector<Level> three = {{50000, 250, 0.001}, {85000, 280, 0.008}, {70000, 270, 0.005}};

class POES : public SoundingTree {
protected:
    void decode(POESBufrDecoder& d, const std::vector<Elements>& subsets)
    {
        const BufrWriter::Bytes m = message(subsets);
        ASSERT_TRUE(d.decode(m.data(), static_cast<unsigned>(m.size())));
    }
    std::vector<float> saved(const SeqOf<SeqOf<float> >& profiles) const
    {
        return std::vector<float>(profiles[0].elements(), profiles[0].elements() + 4);
    }
};

} // namespace

// Every pressure but the first, the surface one between 0 08 003 marks,
// counts; none gives -1, as does a subset that is not there.  A sounding
// without levels is still stored, with 0 levels.
TEST_F(POES, LevelCountsLeaveOutTheFirstPressure)
{
    POESBufrDecoder d;
    ASSERT_TRUE(d.initialized());
    decode(d, {poes(40, -95, noon, std::vector<Level>(11, Level{50000, 250, 0.001}))});
    EXPECT_EQ(d.getProfileCount(10, 0), 11);
    EXPECT_EQ(d.getProfileCount(10, 5), -1);

    // Levels that give their pressures as 0 10 004 count those; the surface
    // 0 07 004 is still none.
    Elements other = poes(40, -95, noon, std::vector<Level>(4, Level{50000, 250, 0.001}));
    for (size_t k = 19; k < other.size(); k += 3)
        other[k].first = 10004;
    decode(d, {other});
    EXPECT_EQ(d.getProfileCount(10, 0), 4);

    Elements bare = poes(40, -95, noon, {});
    bare.erase(bare.begin() + 13, bare.begin() + 17);    // no pressure at all
    decode(d, {bare});
    EXPECT_EQ(d.getProfileCount(10, 0), -1);
    LogCapture log;
    EXPECT_EQ(d.write2NetcdfFile(), 1);
    EXPECT_TRUE(log.contains("PROBLEM: Unable to determine the number of data levels for "
                             "lat/long location [40, -95] not stored, skipping to next ob."))
        << log.text();
    Records r(dataFiles(store("POES")).at(0));
    EXPECT_EQ(r.number("numLevels", 0), 0);
    EXPECT_EQ(r.number("precipWater", 0), 20);
}

// Each sounding keeps its own time, rounded to the nearest minute; one
// without a time is skipped (the file kept), and the next one does not take
// its place.
TEST_F(POES, EachSoundingKeepsItsOwnTimeRoundedToTheMinute)
{
    const struct {
        std::vector<double> fields;
        int32_t expected;    // 0: no time
    } cases[] = {
        {{2024, 6, 1, 12, 34, 29}, AbsTime(2024, 6, 1, 12, 34, 0).seconds()},
        {{2024, 6, 1, 12, 34, 30}, AbsTime(2024, 6, 1, 12, 35, 0).seconds()},
        {{2023, 12, 31, 23, 59, 45}, AbsTime(2024, 1, 1, 0, 0, 0).seconds()},
        {{NONE, 6, 1, 12, 34, 0}, 0},
        {{2024, 2, 30, 12, 34, 0}, 0},
        {{2024, 6, 1, 12, 36, 0}, AbsTime(2024, 6, 1, 12, 36, 0).seconds()},
        {{2038, 1, 19, 3, 14, 7}, AbsTime(2038, 1, 19, 3, 14, 0).seconds()},
        {{2038, 1, 19, 3, 14, 8}, 0},
        {{99, 6, 1, 12, 34, 0}, 0},
    };
    POESBufrDecoder d;
    std::vector<Elements> subsets;
    for (const auto& c : cases)
        subsets.push_back(poes(36 + static_cast<double>(subsets.size()), -95, c.fields, three));
    decode(d, subsets);
    LogCapture log;
    EXPECT_EQ(d.write2NetcdfFile(), -1);
    ASSERT_EQ(d.soundings().length(), 9);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(d.soundings()[i].timed, cases[i].expected != 0) << i;
        EXPECT_EQ(d.soundings()[i].time, cases[i].expected) << i;
    }
    EXPECT_EQ(log.count("No observation time for the sounding at site "), 4) << log.text();
    EXPECT_TRUE(log.contains("PROBLEM: The time values of the sounding at value 122 (2024 2 30 "
                             "12:34:0) are not a time"));
    EXPECT_TRUE(log.contains("(2038 1 19 3:14:8) make a time that lies past 2038-01-19 03:14:07, "
                             "the last second a time holds"));
    const std::vector<std::string> files = dataFiles(store("POES"));
    ASSERT_EQ(files.size(), 3u);
    Records r(files[1]);
    ASSERT_EQ(recordCount(r.id), 3u);
    EXPECT_EQ(r.text("siteId", 2), "70061");
    EXPECT_EQ(r.number("timeObs", 2), cases[5].expected);
}

// Levels are ordered by descending pressure, the slot no pressure reached
// (1e37) first; pressures and temperatures beside a 0 08 003 belong to no
// level, mixing ratios always do.
TEST_F(POES, SortsLevelsAndLeavesOutValuesBesideAVerticalSignificance)
{
    POESBufrDecoder d;
    Elements e = poes(40, -95, noon, three);
    append(e, {{8003, 0}, {7004, 40000}, {12101, 240}, {13002, 0.0003}});
    decode(d, {e});
    ASSERT_EQ(d.storeSounding(), 1);
    EXPECT_EQ(d.soundings()[0].levelCount, 4);
    EXPECT_EQ(saved(d.pressProfiles()), (std::vector<float>{1e37f, 85000, 70000, 50000}));
    EXPECT_EQ(saved(d.tempProfiles()), (std::vector<float>{240, 280, 270, 250}));
    EXPECT_EQ(saved(d.wProfiles()), (std::vector<float>{0.0003f, 0.008f, 0.005f, 0.001f}));

    // Equal pressures keep the bulletin's order, however many levels.
    std::vector<Level> many;
    for (int k = 0; k < 3000; ++k)
        many.push_back({10000.0 + 10 * (k % 1000), 200.0 + k / 1000, 0});
    decode(d, {poes(40, -95, noon, many)});
    ASSERT_EQ(d.storeSounding(), 1);
    const SeqOf<float>& p = d.pressProfiles()[0];
    const SeqOf<float>& t = d.tempProfiles()[0];
    ASSERT_EQ(p.length(), 3000);
    for (int k = 0; k < 3000; ++k) {
        EXPECT_EQ(p[k], 10000.0f + 10 * (999 - k / 3)) << k;
        EXPECT_EQ(t[k], 200.0f + k % 3) << k;
    }
}

// A located sounding among the values of the one before (no year value
// between them) fails the file before anything is stored; the file is set
// aside with that reason.
TEST_F(POES, SoundingsThatShareTheirValuesFailTheFile)
{
    POESBufrDecoder d;
    Elements e = poes(40, -95, noon, three);
    append(e, {{5002, 41}, {6002, -94}, {7004, 60000}, {12101, 260}, {13002, 0.002}});
    tree.mkdirs("qev_data/ispan/badPOESBufr");
    const std::string in = tree.path("qev_data/ispan/bufr/POESSoundings/IUTX01_KNES_011234");
    ASSERT_TRUE(BufrWriter::writeFile(in, message({e})));
    LogCapture log;
    d.processBufrDirectory();
    EXPECT_TRUE(log.contains("PROBLEM: The sounding at value 28 lies inside the sounding at value "
                             "10, no year value between them.  The file is not stored."))
        << log.text();
    EXPECT_TRUE(log.contains("PROBLEM: The sounding at value 28 lies inside the sounding at value "
                             "10: no year (0 04 001) between them. " + in + ", renamed to "));
    EXPECT_EQ(d.soundings().length(), 0);
    EXPECT_TRUE(dataFiles(store("POES")).empty());
}

// Soundings at their nearest sites, one record per site and time, each
// handle given back (the file reads back at once); one notification per
// distinct time stored, also when a sounding's last value has no variable.
TEST_F(POES, StoresOneRecordPerSoundingAndNotifiesEachTimeOnce)
{
    auto sounding = [](double lat, double lon, const std::vector<double>& time, double water) {
        Elements e = poes(lat, lon, time, three, water);
        e.push_back({8003, NONE});
        return e;
    };
    POESBufrDecoder d;
    decode(d, {sounding(40.1, -95.1, noon, 11), sounding(38, -92, {2024, 6, 1, 12, 40, 0}, 12),
               sounding(30, -80, noon, 13), sounding(39.9, -94.9, noon, 14)});
    LogCapture log;
    EXPECT_EQ(d.write2NetcdfFile(), 1);
    EXPECT_TRUE(log.contains("EVENT: Storing data for site location 70050  Jun 01 24 12:34:00 "
                             "GMT ......"));
    // Two times notified, no notification server: one line for the outage.
    EXPECT_EQ(log.count("dmNotify FAILED for key = 10006 and dataTime "), 1) << log.text();
    EXPECT_EQ(log.count("notifications are dropped, and counted"), 1) << log.text();
    Records r(dataFiles(store("POES")).at(0));
    ASSERT_EQ(recordCount(r.id), 2u);
    EXPECT_EQ(r.text("siteId", 0), "70050");
    EXPECT_EQ(r.text("siteId", 1), "70031");
    EXPECT_EQ(r.number("timeObs", 1), AbsTime(2024, 6, 1, 12, 40, 0).seconds());
    EXPECT_EQ(r.number("precipWater", 0), 14);    // the later sounding at the same site
    EXPECT_EQ(r.number("numLevels", 1), 3);
    EXPECT_EQ(row<float>(r.id, "pressure", 1, 4), (std::vector<float>{85000, 70000, 50000, FILL}));
    EXPECT_EQ(row<float>(r.id, "mixingRatio", 1, 1)[0], 0.008f);
}

// A bulletin that stores nothing is dropped on purpose only when each of its
// soundings has a position outside the localization, with one EVENT line
// and the counts; soundings without a position keep it with their reason.
// One sounding inside and the others outside stores the one.
TEST_F(POES, OnlySoundingsOutsideTheLocalizationAreDroppedOnPurpose)
{
    auto at = [](double lat, double lon) { return poes(lat, lon, noon, three); };
    const struct {
        std::vector<Elements> soundings;
        int result;
        const char* line;
    } cases[] = {
        {{at(30, -80), at(40.1, -95.1), at(-10, 120)}, 1,
         "EVENT: Storing data for site location 70050  Jun 01 24 12:34:00 GMT ......"},
        {{at(30, -80), at(-10, 120), at(60, 10)}, 0,
         ": 0 of 3 soundings lie in this localization; nothing to store."},
        {{at(30, -80), at(NONE, -95)}, -1,
         "PROBLEM: 1 of the 2 soundings of the file have no position and the others lie "
         "outside this localization.  Not stored."},
    };
    for (const auto& c : cases) {
        POESBufrDecoder d;
        decode(d, c.soundings);
        LogCapture log;
        EXPECT_EQ(d.write2NetcdfFile(), c.result);
        EXPECT_EQ(log.count(c.line), 1) << log.text();
    }
    Records r(dataFiles(store("POES")).at(0));
    ASSERT_EQ(recordCount(r.id), 1u);
    EXPECT_EQ(r.text("siteId", 0), "70050");
    EXPECT_EQ(row<float>(r.id, "pressure", 0, 3), (std::vector<float>{85000, 70000, 50000}));
}

// A sounding whose values the store could not bring to the disk (its data
// file cut short by another process) is not notified, and the file is kept.
TEST_F(POES, ASoundingTheStoreCouldNotSyncIsNotNotified)
{
    Elements sounding = poes(40.1, -95.1, noon, three);
    sounding.push_back({8003, NONE});
    POESBufrDecoder d;
    LogCapture log;
    decode(d, {sounding});
    ASSERT_EQ(d.write2NetcdfFile(), 1);
    const std::string file = dataFiles(store("POES")).at(0);
    std::filesystem::resize_file(file, 0);
    decode(d, {sounding});
    EXPECT_EQ(d.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("Could not sync " + file + ": it was cut from ")) << log.text();
    EXPECT_EQ(log.count("dmNotify FAILED for key = 10006"), 1);
}

// Fixed-offset reads outside the values are absent, with one line each.
TEST_F(POES, ReadsOutsideTheValuesAreAbsent)
{
    // A temperature as the last value has no neighbour after it: no level.
    Elements lastTemperature = poes(40, -95, noon, three);
    lastTemperature.pop_back();
    const struct {
        Elements subset;
        int result;
        const char* line;
    } cases[] = {
        {{{5002, 40}, {6002, -95}, {13016, 20}}, -1,
         "PROBLEM: The sounding at value 0 has no time: its year, month, day, hour and minute "
         "(0 04 001 to 0 04 005) do not stand ten values before its latitude"},
        // A latitude without its longitude is a sounding without a position:
        // the bulletin is kept.
        {{{13016, 20}, {5002, 40}}, -1,
         "PROBLEM: No longitude (0 06 002) after the latitude at value 1; the sounding has no "
         "position."},
        {lastTemperature, 1,
         "PROBLEM: No value after for the value at 26: value 27 lies outside the 27 values "
         "decoded"},
    };
    for (const auto& c : cases) {
        POESBufrDecoder d;
        decode(d, {c.subset});
        LogCapture log;
        EXPECT_EQ(d.write2NetcdfFile(), c.result);
        EXPECT_EQ(log.count(c.line), 1) << log.text();
    }
}

// A sounding whose report holds only the high-accuracy position takes it as
// its stand-in, into the same variables.
TEST_F(POES, AHighAccuracyPositionStandsInForAnAbsentCoarseOne)
{
    Elements e = poes(40.12345, -95.54321, noon, three);
    for (auto& v : e)
        v.first -= v.first == 5002 || v.first == 6002 ? 1 : 0;
    POESBufrDecoder d;
    decode(d, {e});
    EXPECT_EQ(d.write2NetcdfFile(), 1);
    Records r(dataFiles(store("POES")).at(0));
    EXPECT_FLOAT_EQ(r.number("latitude", 0), 40.12345f);
    EXPECT_FLOAT_EQ(r.number("longitude", 0), -95.54321f);
    EXPECT_EQ(r.number("numLevels", 0), 3);
}

// A store that cannot be set up, a profile longer than the level dimension
// (stored with the levels that fit, the file then set aside saying so) and a
// template without "numLevels".
TEST_F(POES, TemplateFaultsKeepTheFileOrCutTheProfile)
{
    // The template with each line that holds `from` replaced by `to`.
    auto edited = [](const std::string& from, const std::string& to) {
        std::istringstream in(sourceData("templates/poesSounding.cdl"));
        std::string text, line;
        while (std::getline(in, line))
            text += (line.find(from) == std::string::npos ? line : to) + "\n";
        return text;
    };
    const struct {
        std::string cdl;
        int result;
        bool stored;
        const char* line;
    } cases[] = {
        {"", -1, false, "PROBLEM: No point-data store in "},
        {edited("levels = 50", "levels = 2 ;"), -1, true,
         "PROBLEM: The sounding at site 70050 has 3 levels, the profiles of 20240601_1200 hold "
         "2: only the first 2 are stored."},
        {edited("numLevels", ""), -1, false,
         "PROBLEM: getVarId (numLevels) error: NetCDF: Variable not found"},
    };
    for (const auto& c : cases) {
        TempTree local;
        const std::string dir = local.mkdirs("qev_data/point/POES/netcdf");
        if (!c.cdl.empty()) {
            ASSERT_TRUE(Cdl::make(c.cdl, dir + "/template"));
        }
        local.write("qev_home/data/POESProfDescTable.txt", sourceData("POESProfDescTable.txt"));
        POESBufrDecoder d;
        decode(d, {poes(40, -95, noon, three)});
        LogCapture log;
        EXPECT_EQ(d.write2NetcdfFile(), c.result);
        EXPECT_EQ(log.count(c.line), 1) << log.text();
        EXPECT_EQ(log.count("dmNotify FAILED"), c.stored ? 1 : 0);
        if (c.stored) {
            Records r(dataFiles(dir).at(0));
            EXPECT_EQ(r.number("numLevels", 0), 2);
            EXPECT_EQ(row<float>(r.id, "pressure", 0, 2), (std::vector<float>{85000, 70000}));
        }
    }
}

// A store killed between making a sounding's record (its key written and
// synced first) and writing its values leaves the record without values,
// booked or not: the same sounding stored again takes that record over,
// with every value, and the file holds it once.
TEST_F(POES, ARecordAKilledStoreLeftWithoutValuesIsTakenOver)
{
    const double time = AbsTime(2024, 6, 1, 12, 34, 0).seconds();
    for (const bool booked : {false, true}) {
        SCOPED_TRACE(booked ? "booked" : "not booked");
        TempTree local;
        const std::string dir = local.mkdirs("qev_data/point/POES/netcdf");
        ASSERT_TRUE(Cdl::make(sourceData("templates/poesSounding.cdl"), dir + "/template"));
        local.write("qev_home/data/POESProfDescTable.txt", sourceData("POESProfDescTable.txt"));
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
            SeqOf<TextString> ids;
            ids.append("70050");
            SeqOf<double> times;
            times.append(time);
            int record = -1;
            bool newRecord = false;
            int* handle = store ? store->getFileHandleAndRecord(ids, times, record, newRecord)
                                : nullptr;
            // The bookkeeping reaches the disk with the release.
            if (handle && booked)
                store->releaseHandle(handle);
            _exit(handle && record == 0 ? 0 : 1);
        }
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

        LogCapture log;
        POESBufrDecoder d;
        decode(d, {poes(40, -95, noon, three)});
        EXPECT_EQ(d.write2NetcdfFile(), 1);
        // No commit counted it: taken back when the store opens the file.
        EXPECT_EQ(log.count("EVENT: 1 records of " + dir + "/20240601_1200 past the 0 that its "
                            "last commit counted were taken back"),
                  1)
            << log.text();
        Records r(dataFiles(dir).at(0));
        ASSERT_EQ(recordCount(r.id), 1u);
        EXPECT_EQ(r.text("siteId", 0), "70050");
        EXPECT_EQ(r.number("numLevels", 0), 3);
        EXPECT_EQ(r.number("precipWater", 0), 20);
        EXPECT_EQ(row<float>(r.id, "pressure", 0, 4),
                  (std::vector<float>{85000, 70000, 50000, FILL}));
    }
}

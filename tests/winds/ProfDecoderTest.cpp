// The wind profiler decoder without the process: its network designator, its
// array table, the station layout, the profiles and the storing into the
// project's template.  Messages come from the test BUFR writer; the stored
// variables are read back with the netCDF library.
#include "BufrWriter.h"
#include "Cdl.h"
#include "LogCapture.h"
#include "LogStream.h"
#include "NetcdfPointData.h"
#include "ProfBufrDecoder.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <netcdf.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The process's BUFR tables, from the source tree.
class ProfTables : public testing::Environment {
    void SetUp() override
    {
        const std::string saved = std::getenv("QEV_HOME");
        setenv("QEV_HOME", QEV_SOURCE_DIR, 1);
        { ProfBufrDecoder first; }
        setenv("QEV_HOME", saved.c_str(), 1);
        ASSERT_TRUE(BufrDecoder::tablesLoaded());
    }
};
testing::Environment* const tables = testing::AddGlobalTestEnvironment(new ProfTables);

const std::string source = QEV_SOURCE_DIR "/data/";

struct Station {
    int block, number;
    int levels;
    double firstHeight;
    bool winds = true;
};

// One subset per station at 2024-06-01 12:00, its levels in a delayed
// replication; level j of a station: height firstHeight + 250 j, u 5 + j,
// v -2 - j / 2 (without winds u, v and w missing), the other quantities
// small counts.
BufrWriter::Bytes message(const std::vector<Station>& stations)
{
    BufrWriter w(4);
    w.category(2).dateTime(2024, 6, 1, 12, 0).subsets(static_cast<int>(stations.size()));
    w.descriptors({1001, 1002, 301011, 301012, 301021, 7030, 2003, 4025, 2121, 111000, 31001,
                   7007, 25032, 25034, 8022, 11003, 11004, 11006, 11050, 21030, 8049, 11051});
    for (const Station& s : stations) {
        w.element(1001, s.block).element(1002, s.number);
        w.element(4001, 2024).element(4002, 6).element(4003, 1).element(4004, 12).element(4005, 0);
        w.element(5001, 40.0 + s.number / 100.0).element(6001, -105.0).element(7030, 1600.0);
        w.element(2003, 6).element(4025, -60).element(2121, 4.0e8);
        w.factor(31001, static_cast<unsigned>(s.levels));
        const double none = BufrWriter::missingValue();
        for (int j = 0; j < s.levels; ++j)
            w.element(7007, s.firstHeight + 250 * j).element(25032, j % 2).element(25034, 0)
                .element(8022, 20 + j).element(11003, s.winds ? 5.0 + j : none)
                .element(11004, s.winds ? -2.0 - j / 2.0 : none)
                .element(11006, s.winds ? 0.25 : none).element(11050, 1.5)
                .element(21030, 10 + j).element(8049, 8).element(11051, 0.5);
    }
    return w.build();
}

class ProfDecoder : public testing::Test {
protected:
    void SetUp() override
    {
        // The project's pattern, and IUPZ without designators.
        std::string patterns = TempTree::readFile(source + "profBufrPattern.txt");
        patterns.replace(patterns.find(": 1"), 3, ": 2");
        tree.write("qev_home/data/profBufrPattern.txt", patterns + "IUPZ      [\n");
        table(TempTree::readFile(source + "profArrayDescTable.txt"));
        tree.mkdirs("qev_data/ispan/bufr/prof");
    }
    void table(const std::string& text) const
    {
        tree.write("qev_home/data/profArrayDescTable.txt", text);
    }
    // The project's template in both network stores.
    void templates() const
    {
        const std::string cdl = TempTree::readFile(source + "templates/windProfiler.cdl");
        for (const char* dir : {"qev_data/point/prof/netcdf", "qev_data/point/CAP/netcdf"}) {
            std::string error;
            ASSERT_TRUE(Cdl::make(cdl, tree.mkdirs(dir) + "/template", &error)) << error;
        }
    }
    static void decode(ProfBufrDecoder& decoder, const BufrWriter::Bytes& m)
    {
        ASSERT_FALSE(m.empty());
        ASSERT_TRUE(decoder.decode(m.data(), static_cast<unsigned>(m.size())));
    }

    TempTree tree;
};

// Per-record values of a float variable of the only data file of a store.
std::vector<float> readFloats(const std::string& dir, const char* name, int record, int count)
{
    std::vector<std::string> files = TempTree::listFiles(dir);
    files.erase(std::remove(files.begin(), files.end(), "passJournal"), files.end());
    std::vector<float> values(static_cast<size_t>(count), -1.0f);
    if (files.size() != 2 || files[0] != "20240601_1200") {
        ADD_FAILURE() << "files in " << dir << ": " << files.size();
        return values;
    }
    int ncid = -1, var = -1;
    const size_t start[] = {static_cast<size_t>(record), 0};
    const size_t counts[] = {1, static_cast<size_t>(count)};
    EXPECT_EQ(nc_open((dir + "/" + files[0]).c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    EXPECT_EQ(nc_inq_varid(ncid, name, &var), NC_NOERR) << name;
    EXPECT_EQ(nc_get_vara_float(ncid, var, start, counts, values.data()), NC_NOERR) << name;
    nc_close(ncid);
    return values;
}

} // namespace

// The last digit of the designator names the network: 3 NPN, 0 and 6 CAP
// (a letter reads as 0); others are refused.  Each name takes its network
// afresh: a prefix without designators (IUPZ) leaves none, and its file
// reaches no store.  Before any file the notification key is 0.
TEST_F(ProfDecoder, TheDesignatorNamesTheNetworkOfEachFile)
{
    ProfBufrDecoder decoder;
    EXPECT_STREQ(decoder.getDataTypeName().c_str(), "Profiler");
    EXPECT_EQ(decoder.getTimeout(), 36000);
    {
        LogCapture log;
        EXPECT_FALSE(decoder.sendNotification());
        EXPECT_TRUE(log.contains("PROBLEM: dmNotify FAILED for key = 0")) << log.text();
    }
    decoder.getBufrPattern();
    const struct {
        const char* name;
        bool accepted;
        const char* network;
        const char* line;
    } cases[] = {
        {"IUPT43_KBOU", true, "NPN", nullptr},
        {"IUPT40_KBOU", true, "CAP", nullptr},
        {"IUPT46_KBOU", true, "CAP", nullptr},
        {"IUPT41_KBOU", false, "", "PROBLEM: Unknown profiler designator: 1"},
        {"IUPT49_KBOU", false, "", "PROBLEM: Unknown profiler designator: 9"},
        {"IUPT4X_KBOU", false, "CAP", "WMO region designator <4X> not in search tree"},
        {"IUPZ43_KBOU", true, "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        EXPECT_EQ(decoder.checkFileName(c.name), c.accepted);
        EXPECT_STREQ(decoder.networkName().c_str(), c.network);
        if (c.line) {
            EXPECT_TRUE(log.contains(c.line)) << log.text();
        }
    }
    // The IUPZ file after NPN ones: no store, the file is kept.
    decode(decoder, message({{72, 123, 2, 500}}));
    LogCapture log;
    EXPECT_EQ(decoder.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("PROBLEM: No handle for this station info: 72123 and time: Jun 01 "
                             "24 12:00:00 GMT"))
        << log.text();
}

// Comments, separators, blanks and line errors of the array table; a later
// line for a descriptor wins.  Without the table nothing is set up.
TEST_F(ProfDecoder, ArrayTableLinesAndTheirErrors)
{
    table("# 7007|X|\n\n7007|HEIGHTS|\n||  11003  |  UCOMP   |\n11004| VCOMP|\n8022\n"
          "11004|VCOMP|\n7007|HGT\n");
    LogCapture log;
    ProfBufrDecoder decoder;
    const std::string path = tree.qevHome() + "/data/profArrayDescTable.txt";
    EXPECT_EQ(log.count("PROBLEM: Line error in " + path + " []"), 1) << log.text();
    EXPECT_EQ(log.count("PROBLEM: Line error in " + path + " [8022]"), 1);
    const struct {
        int descriptor;
        const char* name;
    } expected[] = {{7007, "HGT"}, {11003, "  UCOMP"}, {11004, "VCOMP"}};
    EXPECT_EQ(decoder.arrayTable().count(), 3);
    for (const auto& e : expected) {
        TextString name;
        EXPECT_TRUE(decoder.arrayTable().find(e.descriptor, nullptr, &name));
        EXPECT_STREQ(name.c_str(), e.name);
    }

    std::remove(path.c_str());
    log.clear();
    ProfBufrDecoder without;
    EXPECT_TRUE(log.contains("PROBLEM: Unable to get profiler descriptor variable list from " +
                             path));
    EXPECT_TRUE(log.contains("PROBLEM: Unable to create descriptor dictionary for profilers."));
    EXPECT_STREQ(without.getDataTypeName().c_str(), "Profiler");
    decode(without, message({{72, 123, 1, 500}}));
    EXPECT_EQ(without.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("The profiler array table is not loaded."));
}

// Ids are block * 1000 + station number, truncated; a block number without a
// station number after it gives none.  Each station's values start two
// after its year, its level count is its replication count, and its
// profiles are its own, each as long as its count.
TEST_F(ProfDecoder, EachStationGetsItsOwnLevelCountAndProfiles)
{
    ProfBufrDecoder decoder;
    SeqOf<BufrValues>& values = decoder.getDecodedValues();
    values = SeqOf<BufrValues>();
    for (float v : {72.9f, 123.6f, 72.0f})
        values.append(BufrValues(0, v == 123.6f ? 1002 : 1001, v, 0, TextString()));
    ASSERT_EQ(decoder.getStationIds().length(), 1);
    EXPECT_EQ(decoder.getStationIds()[0], 72123);
    // A month 13 is no time, and a time past the last second a time holds
    // is told as such: the station is left out; 2038-01-19 03:14 is a time.
    const struct {
        float fields[5];
        const char* line;
    } groups[] = {
        {{2024, 13, 1, 1, 1}, "PROBLEM: No observation time for station 72123; skipping."},
        {{2038, 1, 19, 3, 15},
         "PROBLEM: The observation time of station 72123 lies past 2038-01-19 03:14:07, the last "
         "second a time holds; skipping."},
        {{2038, 1, 19, 3, 14}, nullptr},
        {{99, 6, 1, 12, 0}, "PROBLEM: No observation time for station 72123; skipping."},
    };
    SeqOf<long> placed;
    for (const auto& g : groups) {
        values.setLength(2);
        for (int f = 0; f < 5; ++f)
            values.append(BufrValues(0, 4001 + f, g.fields[f], 0, ""));
        LogCapture log;
        EXPECT_EQ(decoder.locateStations(decoder.getStationIds(), placed), !g.line);
        EXPECT_EQ(placed.length(), g.line ? 0 : 1);
        if (g.line) {
            EXPECT_TRUE(log.contains(g.line)) << log.text();
        }
    }

    decode(decoder, message({{72, 123, 3, 500}, {74, 998, 2, 1000}}));
    ASSERT_TRUE(decoder.locateStations(decoder.getStationIds(), placed));
    ASSERT_EQ(placed.length(), 2);
    EXPECT_EQ(placed[1], 74998);
    EXPECT_EQ(decoder.stationLevelCounts()[0], 3);
    EXPECT_EQ(decoder.stationLevelCounts()[1], 2);
    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(decoder.getDecodedValues()[decoder.stationValueIndex()[k] - 2].getDescriptor(),
                  4001);
    ASSERT_TRUE(decoder.preProcess());
    const SeqOf<SeqOf<float> >& heights = decoder.stationProfiles(ProfBufrDecoder::HEIGHTS);
    const SeqOf<SeqOf<float> >& u = decoder.stationProfiles(ProfBufrDecoder::UCOMP);
    ASSERT_EQ(heights.length(), 2);
    EXPECT_EQ(heights[0].length(), 3);
    EXPECT_EQ(heights[0][2], 1000.0f);
    ASSERT_EQ(heights[1].length(), 2);
    EXPECT_EQ(heights[1][0], 1000.0f);
    EXPECT_EQ(heights[1][1], 1250.0f);
    EXPECT_NEAR(u[1][1], 6.0f, 1e-4);
    const SeqOf<double> times = decoder.getObservationTimes();
    ASSERT_EQ(times.length(), 2);
    EXPECT_EQ(times[1], 1717243200.0);
}

// Two descriptors of one array: each level takes the first that it gives.
// Profile values outside a level replication are levels of their own: the
// station's elevation taken as a height makes a level without a wind.
TEST_F(ProfDecoder, SharedArraysAndValuesBeyondTheLevels)
{
    std::string text = TempTree::readFile(source + "profArrayDescTable.txt");
    table(text.replace(text.find("11004|VCOMP|"), 12, "11004|UCOMP|"));
    ProfBufrDecoder decoder;
    decode(decoder, message({{72, 123, 3, 500}}));
    SeqOf<long> placed;
    ASSERT_TRUE(decoder.locateStations(decoder.getStationIds(), placed));
    LogCapture log;
    ASSERT_TRUE(decoder.preProcess());
    EXPECT_FALSE(log.contains("has more values than its")) << log.text();
    const SeqOf<float>& u = decoder.stationProfiles(ProfBufrDecoder::UCOMP)[0];
    const SeqOf<float>& v = decoder.stationProfiles(ProfBufrDecoder::VCOMP)[0];
    const SeqOf<float>& heights = decoder.stationProfiles(ProfBufrDecoder::HEIGHTS)[0];
    ASSERT_EQ(u.length(), 3);
    for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(u[j], 5.0f + j, 1e-4);
        EXPECT_EQ(v[j], ProfBufrDecoder::LEVEL_FILL);
        EXPECT_EQ(heights[j], 500.0f + 250 * j);
    }

    table("7030|HEIGHTS|\n");
    ProfBufrDecoder elevations;
    decode(elevations, message({{72, 123, 0, 500}}));
    log.clear();
    EXPECT_EQ(elevations.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("PROBLEM: No level of station 72123 with a height gives a wind"))
        << log.text();
}

// A level that carries two wind counts (0 08 022 for the horizontal wind,
// then for the vertical) is one level, each count in its own profile; the
// levels are a fixed replication, so their count is that of the values.  A
// period of seconds (0 04 026) goes into the variable of minutes converted.
TEST_F(ProfDecoder, TwoWindCountsOfALevelAndAPeriodInSeconds)
{
    QEV_REQUIRE_NCGEN();
    templates();
    BufrWriter w(4);
    w.category(2).dateTime(2024, 6, 1, 12, 0).subsets(1);
    w.descriptors({1001, 1002, 301011, 301012, 301021, 4026, 106003, 7007, 8022, 11003, 11004,
                   8022, 11006});
    w.element(1001, 72).element(1002, 123).element(4001, 2024).element(4002, 6)
        .element(4003, 1).element(4004, 12).element(4005, 0).element(5001, 40.5)
        .element(6001, -105.0).element(4026, -1800);
    for (int j = 0; j < 3; ++j)
        w.element(7007, 500 + 250 * j).element(8022, 20 + j).element(11003, 5.0 + j)
            .element(11004, -2.0).element(8022, 8 + j).element(11006, 0.25);
    ProfBufrDecoder decoder;
    decoder.getBufrPattern();
    ASSERT_TRUE(decoder.checkFileName("IUPT43_KBOU"));
    decode(decoder, w.build());
    LogCapture log;
    ASSERT_EQ(decoder.write2NetcdfFile(), 1) << log.text();
    const std::string dir = decoder.storeDirectory(false).c_str();
    EXPECT_EQ(readFloats(dir, "numLevels", 0, 1)[0], 3.0f);
    EXPECT_EQ(readFloats(dir, "uvConsensusNum", 0, 4), (std::vector<float>{20, 21, 22, 1e37f}));
    EXPECT_EQ(readFloats(dir, "wConsensusNum", 0, 4), (std::vector<float>{8, 9, 10, 1e37f}));
    EXPECT_EQ(readFloats(dir, "heights", 0, 4), (std::vector<float>{500, 750, 1000, 1e37f}));
    EXPECT_EQ(readFloats(dir, "averagingPeriod", 0, 1)[0], -30.0f);
}

// NPN files go to the NPN store, CAP files to the CAP store: one record per
// station with its level count, its profiles (the fill above them) and its
// single values; two stations of one time give one notification.
TEST_F(ProfDecoder, StationsAreStoredInTheirNetworksStore)
{
    QEV_REQUIRE_NCGEN();
    templates();
    // Every trace line composed too.
    LogStream::setFilter("all", LogStream::TTY, LogStream::DEBUG | LogStream::VERBOSE, true);
    ProfBufrDecoder decoder;
    decoder.getBufrPattern();
    for (const char* name : {"IUPT43_KBOU", "IUPT46_KBOU"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(decoder.checkFileName(name));
        const bool cap = name[5] == '6';
        decode(decoder, message({{72, cap ? 400 : 123, 3, 500}, {74, 998, 2, 1000}}));
        LogCapture log;
        ASSERT_EQ(decoder.write2NetcdfFile(), 1) << log.text();
        EXPECT_STREQ(decoder.netcdfFileName().c_str(), "20240601_1200");
        // No notification server: the first failure is logged, the later
        // ones of the same outage only counted.
        EXPECT_EQ(log.count("dmNotify FAILED for key = "), cap ? 0 : 1);
        EXPECT_TRUE(cap || log.contains("key = 10001"));
        const std::string dir = decoder.storeDirectory(cap).c_str();
        EXPECT_EQ(readFloats(dir, "numLevels", 0, 1)[0], 3.0f);
        EXPECT_EQ(readFloats(dir, "numLevels", 1, 1)[0], 2.0f);
        const std::vector<float> h0 = readFloats(dir, "heights", 0, 4);
        const std::vector<float> h1 = readFloats(dir, "heights", 1, 4);
        EXPECT_EQ(h0, (std::vector<float>{500, 750, 1000, 1e37f}));
        EXPECT_EQ(h1, (std::vector<float>{1000, 1250, 1e37f, 1e37f}));
        EXPECT_NEAR(readFloats(dir, "vComponent", 1, 2)[1], -2.5f, 1e-4);
        EXPECT_NEAR(readFloats(dir, "latitude", 0, 1)[0], cap ? 44.0f : 41.23f, 1e-4);
        EXPECT_EQ(readFloats(dir, "meanFrequency", 1, 1)[0], 4e8f);
    }
    LogStream::resetFilters();
}

// A station with more levels than its network's template holds is stored
// with the levels that fit, and the file is kept with its reason.  A delayed
// replication of a group that reads no data gives no level, whatever its
// count.
TEST_F(ProfDecoder, StationsBeyondTheTemplateLevelsKeepTheLevelsThatFit)
{
    QEV_REQUIRE_NCGEN();
    templates();
    ProfBufrDecoder decoder;
    decoder.getBufrPattern();
    ASSERT_TRUE(decoder.checkFileName("IUPT43_KBOU"));
    decode(decoder, message({{72, 123, 101, 500}, {74, 998, 2, 1000}}));
    LogCapture log;
    EXPECT_EQ(decoder.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("PROBLEM: Station 72123 gives 101 levels, the NPN store holds 100; "
                             "the levels above 100 are not stored."))
        << log.text();
    const std::string dir = decoder.storeDirectory(false).c_str();
    EXPECT_EQ(readFloats(dir, "numLevels", 0, 1)[0], 100.0f);
    EXPECT_EQ(readFloats(dir, "heights", 0, 100)[99], 500.0f + 250 * 99);
    EXPECT_EQ(readFloats(dir, "numLevels", 1, 1)[0], 2.0f);

    BufrWriter w(4);
    w.category(2).dateTime(2024, 6, 1, 12, 0).subsets(2);
    w.descriptors({1001, 1002, 4001, 4002, 4003, 4004, 4005, 101000, 31012, 201000});
    for (int s = 0; s < 2; ++s)
        w.element(1001, 72).element(1002, 100 + s).element(4001, 2024).element(4002, 6)
            .element(4003, 1).element(4004, 12).element(4005, 0).factor(31012, 65534);
    decode(decoder, w.build());
    log.clear();
    EXPECT_EQ(decoder.write2NetcdfFile(), -1);
    EXPECT_EQ(log.count(" gives no level; skipping."), 2) << log.text();
    EXPECT_EQ(decoder.stationProfiles(ProfBufrDecoder::HEIGHTS).length(), 0);
}

// The counts of a subset's values of an element from a value on: its u
// components as its profile count, its pressures (none in a profiler
// bulletin) as its array count.
TEST_F(ProfDecoder, CountsOfASubsetsValues)
{
    ProfBufrDecoder decoder;
    decode(decoder, message({{72, 123, 3, 500}, {74, 998, 2, 1000}}));
    EXPECT_EQ(decoder.getProfileCount(0, 0), 3);
    EXPECT_EQ(decoder.getProfileCount(0, 1), 2);
    EXPECT_EQ(decoder.getProfileCount(0, 2), 0);
    EXPECT_EQ(decoder.getArrayCount(0, 1), 0);
}

// A station whose levels give heights and no wind is no profile: it is left
// out with its reason and the other station is stored; the file, which
// loses nothing, is not set aside.
TEST_F(ProfDecoder, AStationOfHeightsWithoutWindsIsNotStored)
{
    QEV_REQUIRE_NCGEN();
    templates();
    ProfBufrDecoder decoder;
    decoder.getBufrPattern();
    ASSERT_TRUE(decoder.checkFileName("IUPT43_KBOU"));
    decode(decoder, message({{74, 998, 3, 1000, false}, {72, 123, 2, 500}}));
    LogCapture log;
    EXPECT_EQ(decoder.write2NetcdfFile(), 1);
    EXPECT_TRUE(log.contains("PROBLEM: No level of station 74998 with a height gives a wind: "
                             "0 11 001/0 11 002 or 0 11 003/0 11 004 (horizontal), 0 11 006 "
                             "(vertical); skipping."))
        << log.text();
    const std::string dir = decoder.storeDirectory(false).c_str();
    EXPECT_EQ(readFloats(dir, "numLevels", 0, 1)[0], 2.0f);
    EXPECT_EQ(readFloats(dir, "heights", 0, 2), (std::vector<float>{500, 750}));
    int ncid = -1, recNum = -1;
    size_t records = 0;
    ASSERT_EQ(nc_open((dir + "/20240601_1200").c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    EXPECT_EQ(nc_inq_unlimdim(ncid, &recNum), NC_NOERR);
    EXPECT_EQ(nc_inq_dimlen(ncid, recNum, &records), NC_NOERR);
    EXPECT_EQ(records, 1u);
    nc_close(ncid);
}

// A record that a store killed after writing its key left without values
// (station and time, numLevels and profiles unwritten) is the record the
// same report takes when it is stored again: one record, every value.
TEST_F(ProfDecoder, ARecordLeftWithItsKeyAloneIsTakenOverByItsReport)
{
    QEV_REQUIRE_NCGEN();
    templates();
    const std::string dir = tree.path("qev_data/point/prof/netcdf");
    {
        NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
        ASSERT_NE(store, nullptr);
        SeqOf<TextString> ids;
        ids.append("72123");
        SeqOf<double> times;
        times.append(1717243200.0);
        int record = -1;
        bool created = false;
        int* handle = store->getFileHandleAndRecord(ids, times, record, created);
        ASSERT_NE(handle, nullptr);
        EXPECT_TRUE(created);
        EXPECT_TRUE(store->releaseHandle(handle));
    }
    NetcdfPointData::forgetAllStores();
    ProfBufrDecoder decoder;
    decoder.getBufrPattern();
    ASSERT_TRUE(decoder.checkFileName("IUPT43_KBOU"));
    decode(decoder, message({{72, 123, 3, 500}}));
    ASSERT_EQ(decoder.write2NetcdfFile(), 1);
    int ncid = -1, recNum = -1;
    size_t records = 0;
    ASSERT_EQ(nc_open((dir + "/20240601_1200").c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    EXPECT_EQ(nc_inq_unlimdim(ncid, &recNum), NC_NOERR);
    EXPECT_EQ(nc_inq_dimlen(ncid, recNum, &records), NC_NOERR);
    nc_close(ncid);
    EXPECT_EQ(records, 1u);
    EXPECT_EQ(readFloats(dir, "numLevels", 0, 1)[0], 3.0f);
    EXPECT_EQ(readFloats(dir, "heights", 0, 4), (std::vector<float>{500, 750, 1000, 1e37f}));
    EXPECT_NEAR(readFloats(dir, "latitude", 0, 1)[0], 41.23f, 1e-4);
}

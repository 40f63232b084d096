// The high-density wind and scatterometer wind decoders over real files:
// compressed bulletins from the test BUFR writer dropped into the ingest
// directories, stored by the decoders' constructors (their first directory
// pass) and read back with the netCDF library; notifications arrive at the
// test process's notification server.
#include "HDWBufrDecoder.h"
#include "LogCapture.h"
#include "QuikScatBufrDecoder.h"
#include "ReportsTestSupport.h"
#include "windTimeGroups.h"

#include "BufrWriter.h"

#include <cmath>

namespace {

const double MISSING = BufrWriter::missingValue();

// 2024-06-01 12:00:00 UTC.
const int32_t NOON = 1717243200;

struct Wind {
    double satId, hour, minute, second, lat, lon, speed;
};

// A compressed high-density wind bulletin, one subset per wind.
BufrWriter::Bytes windBulletin(const std::vector<Wind>& winds)
{
    BufrWriter w;
    w.category(5).dateTime(2024, 6, 1, 12, 0).compressed(true);
    w.subsets(static_cast<int>(winds.size()))
        .descriptors({1007, 2023, 4001, 4002, 4003, 4004, 4005, 4006, 5001, 6001, 7004, 11001,
                      11002, 33007});
    auto column = [&](int d, double Wind::*field) {
        std::vector<double> v;
        for (const Wind& x : winds)
            v.push_back(x.*field);
        w.column(d, v);
    };
    auto fixed = [&](int d, double v) { w.column(d, std::vector<double>(winds.size(), v)); };
    column(1007, &Wind::satId);
    fixed(2023, 1);
    fixed(4001, 2024), fixed(4002, 6), fixed(4003, 1);
    column(4004, &Wind::hour), column(4005, &Wind::minute), column(4006, &Wind::second);
    column(5001, &Wind::lat), column(6001, &Wind::lon);
    fixed(7004, 25000), fixed(11001, 270);
    column(11002, &Wind::speed);
    fixed(33007, 87);
    return w.build();
}

class SatelliteWinds : public testing::Test {
protected:
    void SetUp() override
    {
        QEV_REQUIRE_NCGEN();
        t.pattern("CSWBufrPattern.txt");
        t.pattern("quikscatBufrPattern.txt");
        t.directories("ispan/bufr/CSW", "ispan/badCSWBufr");
        t.directories("ispan/bufr/QuikScat", "ispan/badQuikScatBufr");
    }
    void drop(const std::string& ingest, const std::string& name, const BufrWriter::Bytes& m)
    {
        ASSERT_FALSE(m.empty());
        ASSERT_TRUE(BufrWriter::writeFile(t.data(ingest + "/" + name), m));
    }
    ReportsTree t;
};

} // namespace

// Six values before the latitude, in the wind's own report, rounded to the
// nearest minute; a missing second counts as 0, a missing other field or a
// group out of its place gives no time.
TEST(HighDensityWindTimes, GroupsAreReadInTheirWindowAndRoundedToTheMinute)
{
    const struct {
        float fields[6];
        int first, subset;
        TimeGroupStatus status;
        const char* rounded;
    } cases[] = {
        {{2005, 3, 14, 12, 34, 29}, 0, 0, TIME_GROUP_OK, "2005-03-14 12:34"},
        {{2005, 3, 14, 12, 34, 30}, 0, 0, TIME_GROUP_OK, "2005-03-14 12:35"},
        {{2005, 3, 14, 12, 34, 29.9f}, 0, 0, TIME_GROUP_OK, "2005-03-14 12:34"},
        {{2005, 12, 31, 23, 59, 45}, 0, 0, TIME_GROUP_OK, "2006-01-01 00:00"},
        {{2005, 3, 14, 12, 34, -99999}, 0, 0, TIME_GROUP_OK, "2005-03-14 12:34"},
        {{2005, 3, 14, -99999, 34, 0}, 0, 0, TIME_GROUP_INVALID, nullptr},
        {{2005, 2, 30, 12, 34, 0}, 0, 0, TIME_GROUP_INVALID, nullptr},
        {{2005, 3, 14, 12, 34, 0}, 1, 0, TIME_GROUP_OUTSIDE, nullptr},
        {{2005, 3, 14, 12, 34, 0}, -1, 0, TIME_GROUP_OUTSIDE, nullptr},
        {{2005, 3, 14, 12, 34, 0}, 0, 1, TIME_GROUP_OUTSIDE, nullptr},
    };
    for (const auto& c : cases) {
        SeqOf<BufrValues> values;
        for (int k = 0; k < 6; ++k)
            values.append(BufrValues(0, 4001 + k, c.fields[k], 0, TextString()));
        AbsTime t(7);
        EXPECT_EQ(readTimeGroup(values, c.first, c.subset, t), c.status) << c.fields[4];
        if (c.rounded)
            EXPECT_STREQ(roundToMinute(t).toString("%Y-%m-%d %H:%M").c_str(), c.rounded);
        else
            EXPECT_EQ(t.seconds(), 7);
    }
    SeqOf<BufrValues> month;
    month.append(BufrValues(0, 4002, 2005, 0, TextString()));
    for (int k = 0; k < 5; ++k)
        month.append(BufrValues(0, 4002, 1, 0, TextString()));
    AbsTime t;
    EXPECT_EQ(readTimeGroup(month, 0, 0, t), TIME_GROUP_NO_YEAR);
}

// Each wind keeps its own time; its values stop at the end of its report,
// so the satellite identifier of the next report never lands in its record.
// A wind without a position or time is left out; two winds of one minute
// are notified once.
TEST_F(SatelliteWinds, WindsKeepTheirOwnReportAndTimeAndEachMinuteIsNotifiedOnce)
{
    t.templateFile("highDensityWinds.cdl", "point/CSW/netcdf",
                   {{"variables:\n", "variables:\n\tint satId(recNum) ;\n"
                                     "\t\tsatId:tblBname = \"SATELLITE IDENTIFIER\" ;\n"}});
    drop("ispan/bufr/CSW", "IUCN01_KNES_011200",
         windBulletin({{257, 12, 34, 29, 45.5, -120.25, 12.5},
                       {259, 12, 34, 10, 46.0, -121.0, 20.0},
                       {257, 12, 34, 0, MISSING, -122.0, 1.0},
                       {257, MISSING, 34, 0, 47.0, -123.0, 1.0},
                       {259, 12, 35, 40, -10.0, 170.0, MISSING}}));
    NotificationMark mark;
    LogCapture log;
    HDWBufrDecoder decoder;

    EXPECT_TRUE(log.contains("PROBLEM: Missing lat/lon coordinates for this ob.  Skipping to next "
                             "observation."));
    EXPECT_EQ(log.count("has a missing or improper field.  Skipping to next observation."), 1)
        << log.text();
    EXPECT_TRUE(log.contains("MXR_STOREd to netcdf file: 20240601_1200"));
    EXPECT_TRUE(TempTree::listFiles(t.data("ispan/bufr/CSW")).empty());
    const std::vector<std::string> files = t.dataFiles("point/CSW/netcdf");
    ASSERT_EQ(files.size(), 1u);
    StoredFile f(files[0]);
    ASSERT_EQ(f.records(), 3u);
    const double expected[3][4] = {{45.5, -120.25, 12.5, NOON + 34 * 60},
                                   {46.0, -121.0, 20.0, NOON + 34 * 60},
                                   {-10.0, 170.0, -99999, NOON + 36 * 60}};
    for (size_t r = 0; r < 3; ++r) {
        EXPECT_NEAR(f.number("latitude", r), expected[r][0], 1e-4);
        EXPECT_NEAR(f.number("longitude", r), expected[r][1], 1e-4);
        EXPECT_NEAR(f.number("windSpd", r), expected[r][2], 1e-4);
        EXPECT_EQ(f.number("validTime", r), expected[r][3]);
        EXPECT_EQ(f.number("pressure", r), 25000);
        EXPECT_EQ(f.number("confidence", r), 87);
        EXPECT_EQ(f.number("satId", r), NC_FILL_INT);
    }
    const auto notices = mark.since(2);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], std::make_pair(10007u, NOON + 34 * 60));
    EXPECT_EQ(notices[1], std::make_pair(10007u, NOON + 36 * 60));
}

// Without a store (no template) nothing is stored and the bulletin is kept
// in the bad-file directory.
TEST_F(SatelliteWinds, WithoutAStoreTheBulletinGoesToTheBadFileDirectory)
{
    drop("ispan/bufr/CSW", "IUCS01_KNES_011200", windBulletin({{257, 12, 0, 0, 1, 2, 3}}));
    LogCapture log;
    HDWBufrDecoder decoder;
    EXPECT_TRUE(log.contains("PROBLEM: No point-data store for " + t.data("point/CSW/netcdf")))
        << log.text();
    EXPECT_TRUE(log.contains("Unable to MXR_STORE netcdf data. "));
    EXPECT_TRUE(TempTree::exists(t.data("ispan/badCSWBufr/IUCS01_KNES_011200")));
}

TEST(QuikScatRainFlag, UsableWhenPresentRainingWhenBit13AloneIsSet)
{
    const struct {
        int word;
        bool usable, rain;
    } cases[] = {{-99999, false, false}, {0, true, false},     {8191, true, false},
                 {8192, true, true},     {16383, true, true},  {16384, true, false},
                 {24576, true, false}};
    ReportsTree tree;
    QuikScatBufrDecoder decoder;
    for (const auto& c : cases) {
        decoder.splitRainFlag(c.word);
        EXPECT_EQ(decoder.rainFlagUsable(), c.usable) << c.word;
        EXPECT_EQ(decoder.rainFlag(), c.rain) << c.word;
    }
}

// Each cell carries its own satellite identifier and orbit number (even
// when one equals the other's value) and its rain flag's usability; the two
// wind decoders of one process keep to their own directories and stores.
TEST_F(SatelliteWinds, ScatterometerCellsKeepTheirOwnIdentifiersBesideTheCloudDriftWinds)
{
    t.templateFile("highDensityWinds.cdl", "point/CSW/netcdf");
    t.templateFile("quikScat.cdl", "point/QuikScat/netcdf");
    drop("ispan/bufr/CSW", "IUCN01_KNES_011200", windBulletin({{257, 12, 10, 0, 1, 2, 3}}));
    struct Cell {
        double sat, orbit, minute, lat, lon, quality, speed;
        int rainIndex;
    };
    const Cell cells[] = {{281, 281, 20, 10.5, -30.25, 0, 7.5, 1},
                          {282, 5000, 20, 10.75, -30.5, MISSING, 8.0, 0},
                          {281, 5001, 21, 11.0, -30.75, 8192, 8.5, 1}};
    BufrWriter w;
    w.category(12).dateTime(2024, 6, 1, 12, 0).compressed(true).subsets(3);
    w.descriptors({1007, 5040, 4001, 4002, 4003, 4004, 4005, 4006, 5002, 6002, 21109, 11012,
                   11011});
    auto column = [&](int d, double Cell::*field) {
        std::vector<double> v;
        for (const Cell& c : cells)
            v.push_back(c.*field);
        w.column(d, v);
    };
    auto fixed = [&](int d, double value) { w.column(d, std::vector<double>(3, value)); };
    column(1007, &Cell::sat), column(5040, &Cell::orbit);
    fixed(4001, 2024), fixed(4002, 6), fixed(4003, 1), fixed(4004, 12);
    column(4005, &Cell::minute), fixed(4006, 0);
    column(5002, &Cell::lat), column(6002, &Cell::lon), column(21109, &Cell::quality);
    column(11012, &Cell::speed), fixed(11011, 90);
    drop("ispan/bufr/QuikScat", "ISXX01_KNES_011200", w.build());

    NotificationMark mark;
    HDWBufrDecoder winds;
    QuikScatBufrDecoder scatterometer;
    EXPECT_EQ(winds.getDataTypeName(), TextString("High Density Winds"));
    EXPECT_EQ(scatterometer.getDataTypeName(), TextString("Quik Scat Winds"));

    const std::vector<std::string> csw = t.dataFiles("point/CSW/netcdf");
    const std::vector<std::string> qs = t.dataFiles("point/QuikScat/netcdf");
    ASSERT_EQ(csw.size(), 1u);
    ASSERT_EQ(qs.size(), 1u);
    EXPECT_EQ(StoredFile(csw[0]).records(), 1u);
    StoredFile f(qs[0]);
    ASSERT_EQ(f.records(), 3u);
    for (size_t r = 0; r < 3; ++r) {
        EXPECT_EQ(f.number("satelliteId", r), cells[r].sat);
        EXPECT_EQ(f.number("orbitNumber", r), cells[r].orbit);
        EXPECT_EQ(f.number("rainIndex", r), cells[r].rainIndex);
        EXPECT_NEAR(f.number("latitude", r), cells[r].lat, 1e-4);
        EXPECT_NEAR(f.number("windSpd", r), cells[r].speed, 1e-4);
        EXPECT_EQ(f.number("validTime", r), NOON + cells[r].minute * 60);
    }
    const auto notices = mark.since(3);
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0], std::make_pair(10007u, NOON + 600));
    EXPECT_EQ(notices[1], std::make_pair(10008u, NOON + 1200));
    EXPECT_EQ(notices[2], std::make_pair(10008u, NOON + 1260));
}

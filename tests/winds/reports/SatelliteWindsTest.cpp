// The high-density wind and scatterometer wind decoders over real files:
// compressed bulletins from the test BUFR writer dropped into the ingest
// directories, stored by the decoders' constructors (their first directory
// pass) and read back with the netCDF library; notifications arrive at the
// test process's notification server.
#include "BulletinLog.h"
#include "HDWBufrDecoder.h"
#include "HighDensityWindSamples.h"
#include "LogCapture.h"
#include "QuikScatBufrDecoder.h"
#include "QuikScatSamples.h"
#include "ReportsTestSupport.h"
#include "StoreHighDensityWinds.h"
#include "windTimeGroups.h"

#include "BufrWriter.h"

#include <cmath>

namespace {

const double MISSING = BufrWriter::missingValue();

// 2024-06-01 12:00:00 UTC.
const int32_t NOON = 1717243200;

// A compressed bulletin of the sample generator's layout, at 12 UTC unless
// the options say otherwise.
template <class Sample, class Record>
BufrWriter::Bytes bulletin(const std::vector<Record>& records, SampleOptions o = SampleOptions())
{
    o.dataDir = QEV_SOURCE_DIR "/data";
    SampleBulletin b;
    std::string error;
    EXPECT_TRUE(Sample::encode(records, o, b, error)) << error;
    return b.bytes;
}

// A wind of the samples' layout: satellite, minute, second, position, speed.
HighDensityWindSamples::Wind wind(double sat, double minute, double second, double lat,
                                  double lon, double speed)
{
    HighDensityWindSamples::Wind w;
    w.satellite = sat, w.minute = minute, w.second = second;
    w.latitude = lat, w.longitude = lon, w.speed = speed;
    w.pressure = 25000, w.confidence = 87;
    return w;
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
// nearest minute (the second 0 04 006, or 0 04 007 to the microsecond); a
// missing second counts as 0, a missing other field or a
// group out of its place gives no time, and a time past the last second a
// time holds or before 1970 is told apart: the year is the one given, never
// one of a century.
TEST(HighDensityWindTimes, GroupsAreReadInTheirWindowAndRoundedToTheMinute)
{
    const struct {
        float fields[6];
        int first, subset;
        TimeGroupStatus status;
        const char* rounded;
        int second = 4006;
    } cases[] = {
        {{2005, 3, 14, 12, 34, 29}, 0, 0, TIME_GROUP_OK, "2005-03-14 12:34"},
        {{2005, 3, 14, 12, 34, 30}, 0, 0, TIME_GROUP_OK, "2005-03-14 12:35"},
        {{2005, 3, 14, 12, 34, 29.9f}, 0, 0, TIME_GROUP_OK, "2005-03-14 12:34"},
        {{2005, 12, 31, 23, 59, 45}, 0, 0, TIME_GROUP_OK, "2006-01-01 00:00"},
        {{2005, 12, 31, 23, 59, 45.5f}, 0, 0, TIME_GROUP_OK, "2006-01-01 00:00", 4007},
        {{2005, 3, 14, 12, 34, -99999}, 0, 0, TIME_GROUP_OK, "2005-03-14 12:34"},
        {{2005, 3, 14, -99999, 34, 0}, 0, 0, TIME_GROUP_INVALID, nullptr},
        {{2005, 2, 30, 12, 34, 0}, 0, 0, TIME_GROUP_INVALID, nullptr},
        {{2005, 3, 14, 12, 34, 0}, 2, 0, TIME_GROUP_OUTSIDE, nullptr},
        {{2005, 3, 14, 12, 34, 0}, -1, 0, TIME_GROUP_OUTSIDE, nullptr},
        {{2005, 3, 14, 12, 34, 0}, 0, 1, TIME_GROUP_OUTSIDE, nullptr},
        {{2038, 1, 19, 3, 14, 7}, 0, 0, TIME_GROUP_OK, "2038-01-19 03:14"},
        {{2038, 1, 19, 3, 14, 8}, 0, 0, TIME_GROUP_PAST_LIMIT, nullptr},
        {{2038, 2, 30, 0, 0, 0}, 0, 0, TIME_GROUP_INVALID, nullptr},
        {{1969, 12, 31, 23, 59, 59}, 0, 0, TIME_GROUP_BEFORE_FIRST, nullptr},
        {{1970, 1, 1, 0, 0, 0}, 0, 0, TIME_GROUP_OK, "1970-01-01 00:00"},
        {{0, 12, 9, 15, 0, 0}, 0, 0, TIME_GROUP_BEFORE_FIRST, nullptr},
        {{38, 1, 19, 3, 14, 7}, 0, 0, TIME_GROUP_BEFORE_FIRST, nullptr},
        {{99, 12, 9, 15, 0, 0}, 0, 0, TIME_GROUP_BEFORE_FIRST, nullptr},
        {{99, 2, 29, 15, 0, 0}, 0, 0, TIME_GROUP_INVALID, nullptr},
    };
    for (const auto& c : cases) {
        SeqOf<BufrValues> values;
        for (int k = 0; k < 6; ++k)
            values.append(BufrValues(0, k < 5 ? 4001 + k : c.second, c.fields[k], 0, TextString()));
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

// Each wind keeps its own time and its report's own values, its satellite
// identifier before its position included, never the next report's.
// A wind without a position or time is left out; two winds of one minute
// are notified once.
TEST_F(SatelliteWinds, WindsKeepTheirOwnReportAndTimeAndEachMinuteIsNotifiedOnce)
{
    t.templateFile("highDensityWinds.cdl", "point/CSW/netcdf",
                   {{"variables:\n", "variables:\n\tint satId(recNum) ;\n"
                                     "\t\tsatId:tblBname = \"SATELLITE IDENTIFIER\" ;\n"}});
    drop("ispan/bufr/CSW", "IUCN01_KNES_011200",
         bulletin<HighDensityWindSamples>(std::vector<HighDensityWindSamples::Wind>{
             wind(257, 34, 29, 45.5, -120.25, 12.5), wind(259, 34, 10, 46.0, -121.0, 20.0),
             wind(257, 34, 0, MISSING, -122.0, 1.0), wind(257, MISSING, 0, 47.0, -123.0, 1.0),
             wind(259, 35, 40, -10.0, 170.0, MISSING)}));
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
    const double expected[3][5] = {{45.5, -120.25, 12.5, NOON + 34 * 60, 257},
                                   {46.0, -121.0, 20.0, NOON + 34 * 60, 259},
                                   {-10.0, 170.0, -99999, NOON + 36 * 60, 259}};
    for (size_t r = 0; r < 3; ++r) {
        EXPECT_NEAR(f.number("latitude", r), expected[r][0], 1e-4);
        EXPECT_NEAR(f.number("longitude", r), expected[r][1], 1e-4);
        EXPECT_NEAR(f.number("windSpd", r), expected[r][2], 1e-4);
        EXPECT_EQ(f.number("validTime", r), expected[r][3]);
        EXPECT_EQ(f.number("pressure", r), 25000);
        EXPECT_EQ(f.number("confidence", r), 87);
        EXPECT_EQ(f.number("satId", r), expected[r][4]);
    }
    const auto notices = mark.since(2);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], std::make_pair(10007u, NOON + 34 * 60));
    EXPECT_EQ(notices[1], std::make_pair(10007u, NOON + 36 * 60));
}

// Winds whose values the store could not bring to the disk are not
// notified: the data file is cut short by another process once the last
// wind has its record, so the last release, whose sync would bring both
// winds' values in, fails, and the file is kept (-1).
TEST_F(SatelliteWinds, WindsTheStoreCouldNotSyncAreNotNotified)
{
    struct CutAtTheLastWind : StoreHighDensityWinds {
        using StoreHighDensityWinds::StoreHighDensityWinds;
        void siteRecordPlaced(int, int, int) override
        {
            if (++placed == 2)
                cut = tree->cutDataFile("point/CSW/netcdf");
        }
        const ReportsTree* tree = nullptr;
        int placed = 0;
        std::string cut;
    };
    t.templateFile("highDensityWinds.cdl", "point/CSW/netcdf");
    const BufrWriter::Bytes m = bulletin<HighDensityWindSamples>(std::vector<HighDensityWindSamples::Wind>{
        wind(257, 34, 29, 45.5, -120.25, 12.5), wind(259, 34, 10, 46.0, -121.0, 20.0)});
    HDWBufrDecoder decoder;
    ASSERT_TRUE(decoder.decode(m.data(), static_cast<unsigned>(m.size())));
    CutAtTheLastWind store(decoder);
    store.tree = &t;
    NotificationMark mark;
    LogCapture log;
    EXPECT_EQ(store.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("Could not sync " + store.cut + ": it was cut from ")) << log.text();
    EXPECT_TRUE(mark.none());
}

// Winds of coarse positions only (0 05 002, 0 06 002) are stored with them.
TEST_F(SatelliteWinds, CoarsePositionsStandInForAbsentPreciseOnes)
{
    t.templateFile("highDensityWinds.cdl", "point/CSW/netcdf");
    BufrWriter w(4);
    w.category(5).dateTime(2024, 6, 1, 12, 0).subsets(3);
    w.descriptors({1007, 4001, 4002, 4003, 4004, 4005, 4006, 5002, 6002, 7004, 11002});
    const double positions[3][2] = {{45.5, -120.25}, {-33.75, 151.5}, {10, 20}};
    for (int k = 0; k < 3; ++k)
        w.element(1007, 257).element(4001, 2024).element(4002, 6).element(4003, 1)
            .element(4004, 12).element(4005, 34).element(4006, 10)
            .element(5002, positions[k][0]).element(6002, positions[k][1])
            .element(7004, 25000).element(11002, 10 + k);
    drop("ispan/bufr/CSW", "IUCN01_KNES_011200", w.build());
    HDWBufrDecoder decoder;
    StoredFile f(t.dataFiles("point/CSW/netcdf").at(0));
    ASSERT_EQ(f.records(), 3u);
    for (size_t r = 0; r < 3; ++r) {
        EXPECT_NEAR(f.number("latitude", r), positions[r][0], 1e-4);
        EXPECT_NEAR(f.number("longitude", r), positions[r][1], 1e-4);
        EXPECT_NEAR(f.number("windSpd", r), 10.0 + r, 1e-4);
        EXPECT_EQ(f.number("validTime", r), NOON + 34 * 60);
    }
}

// Reports the decoder cannot store as winds: one that gives neither a wind
// direction nor a speed of its own is no wind (the others are stored), and
// a bulletin none of whose reports has one is set aside with that reason;
// one that holds its position twice, with nothing to tell which is its own,
// sets the bulletin aside naming the element.
TEST_F(SatelliteWinds, ReportsWithoutAWindOrWithTwoPositionsAreNotStoredAsWinds)
{
    t.templateFile("highDensityWinds.cdl", "point/CSW/netcdf");
    const struct {
        const char* name;
        std::vector<int> descriptors;
        std::vector<std::vector<double>> subsets;    // values after the time group
        size_t stored;                               // winds stored so far
        const char* reason;
    } cases[] = {
        {"IUCN01_KNES_011201", {5001, 6001, 7004, 11001, 11002},
         {{45.5, -120.25, 25000, 250, 12.5}, {46.0, -121.0, 25000, MISSING, MISSING}}, 1,
         nullptr},
        {"IUCN01_KNES_011202", {5001, 6001, 7004}, {{45.5, -120.25, 25000}}, 1,
         "No wind in any report: none gives 0 11 001 or 0 11 002, or the components 0 11 003 "
         "or 0 11 004, of its own."},
        {"IUCN01_KNES_011203", {5001, 6001, 7004, 11002, 5001, 6001, 11002},
         {{45.5, -120.25, 25000, 12.5, 46.0, -121.0, 20.0}}, 1,
         "0 05 001 given 2 times in the report of subset 1 with no qualifier or replication to "
         "tell which is the wind's own."},
        // Reports that give no satellite and no pressure are no satellite
        // winds.
        {"IUCN01_KNES_011204", {5001, 6001, 11001, 11002}, {{45.5, -120.25, 250, 12.5}}, 1,
         "Not satellite winds: the reports of the message, of data category 5 (single level "
         "upper-air data, satellite: satellite winds), give no satellite identifier "
         "(0 01 007) and no pressure (0 07 004 or 0 10 004)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BufrWriter w;
        w.category(5).dateTime(2024, 6, 1, 12, 0).subsets(static_cast<int>(c.subsets.size()));
        const bool satellite = c.descriptors.size() != 4;
        std::vector<int> descriptors = {301011, 301012};
        if (satellite)
            descriptors.insert(descriptors.begin(), 1007);
        descriptors.insert(descriptors.end(), c.descriptors.begin(), c.descriptors.end());
        w.descriptors(descriptors);
        for (const std::vector<double>& values : c.subsets) {
            if (satellite)
                w.element(1007, 257);
            w.element(4001, 2024).element(4002, 6).element(4003, 1).element(4004, 12);
            w.element(4005, 34);
            for (size_t k = 0; k < values.size(); ++k)
                w.element(c.descriptors[k], values[k]);
        }
        drop("ispan/bufr/CSW", c.name, w.build());
        LogCapture log;
        HDWBufrDecoder decoder;
        size_t stored = 0;
        for (const std::string& f : t.dataFiles("point/CSW/netcdf"))
            stored += StoredFile(f).records();
        EXPECT_EQ(stored, c.stored);
        EXPECT_EQ(TempTree::exists(t.data("ispan/badCSWBufr/") + c.name), c.reason != nullptr);
        if (c.reason) {
            EXPECT_TRUE(log.contains(std::string("PROBLEM: ") + c.reason + " " +
                                     t.data("ispan/bufr/CSW/") + c.name + ", renamed to"))
                << log.text();
        } else {
            EXPECT_TRUE(log.contains("PROBLEM: The ob at value 17 has no wind of its own "
                                     "(0 11 001 or 0 11 002, or the components 0 11 003 or "
                                     "0 11 004).  Skipping to next observation."))
                << log.text();
        }
    }
}

// A bulletin whose winds all lack their time writes the line of each wind
// at most BulletinLog::LIMIT times, then one line with the count of the rest,
// and is kept in the bad-file directory with its reason.
TEST_F(SatelliteWinds, ALineOfEveryWindIsWrittenABoundedNumberOfTimes)
{
    t.templateFile("highDensityWinds.cdl", "point/CSW/netcdf");
    const int winds = BulletinLog::LIMIT + 5;
    drop("ispan/bufr/CSW", "IUCN01_KNES_011200",
         bulletin<HighDensityWindSamples>(std::vector<HighDensityWindSamples::Wind>(
             winds, wind(257, MISSING, 0, 45.5, -120.25, 12.5))));
    LogCapture log;
    HDWBufrDecoder decoder;
    EXPECT_EQ(log.count("has a missing or improper field.  Skipping to next observation."),
              BulletinLog::LIMIT)
        << log.text();
    EXPECT_TRUE(log.contains("PROBLEM: The time group of the ob at value ... and 5 more for " +
                             t.data("ispan/bufr/CSW/IUCN01_KNES_011200") + " (25 in all)"));
    EXPECT_TRUE(log.contains("PROBLEM: No ob of the file has an observation time."));
    EXPECT_TRUE(TempTree::exists(t.data("ispan/badCSWBufr/IUCN01_KNES_011200")));
}

// The last hour a time holds: winds to 2038-01-19 03:14:07 are stored in
// the file of 03 UTC, and one a second later is refused with its line, the
// bulletin set aside naming it; no file is named for a wrapped time.
TEST_F(SatelliteWinds, WindsAreStoredToTheLastSecondATimeHolds)
{
    t.templateFile("highDensityWinds.cdl", "point/CSW/netcdf");
    SampleOptions o;
    o.year = 2038, o.month = 1, o.day = 19, o.hour = 3;
    drop("ispan/bufr/CSW", "IUCN01_KNES_190300",
         bulletin<HighDensityWindSamples>(
             std::vector<HighDensityWindSamples::Wind>{wind(257, 10, 0, 45.5, -120.25, 12.5),
                                                       wind(257, 14, 7, 46.0, -121.0, 20.0),
                                                       wind(259, 14, 8, 47.0, -122.0, 30.0)},
             o));
    NotificationMark mark;
    LogCapture log;
    HDWBufrDecoder decoder;
    const std::string past = "lies past 2038-01-19 03:14:07, the last second a time holds.";
    EXPECT_EQ(log.count(past), 2) << log.text();    // its line and the move
    EXPECT_TRUE(log.contains("The time group of the ob at value 42 " + past +
                             "  Skipping to next observation."));
    EXPECT_TRUE(log.contains(past + " " + t.data("ispan/bufr/CSW/IUCN01_KNES_190300")));
    EXPECT_TRUE(TempTree::exists(t.data("ispan/badCSWBufr/IUCN01_KNES_190300")));
    EXPECT_EQ(t.dataFiles("point/CSW/netcdf"),
              std::vector<std::string>{t.data("point/CSW/netcdf/20380119_0300")});
    StoredFile f(t.data("point/CSW/netcdf/20380119_0300"));
    ASSERT_EQ(f.records(), 2u);
    EXPECT_EQ(f.number("validTime", 0), 2147483647 - 247);
    EXPECT_EQ(f.number("validTime", 1), 2147483647 - 7);
    EXPECT_NEAR(f.number("windSpd", 1), 20.0, 1e-4);
    const auto notices = mark.since(2);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1], std::make_pair(10007u, 2147483647 - 7));
}

// Without a store (no template) nothing is stored and the bulletin is kept
// in the bad-file directory with that reason.
TEST_F(SatelliteWinds, WithoutAStoreTheBulletinGoesToTheBadFileDirectory)
{
    drop("ispan/bufr/CSW", "IUCS01_KNES_011200",
         bulletin<HighDensityWindSamples>(std::vector<HighDensityWindSamples::Wind>{
             wind(257, 0, 0, 1, 2, 3)}));
    LogCapture log;
    HDWBufrDecoder decoder;
    EXPECT_TRUE(log.contains("PROBLEM: No point-data store for " + t.data("point/CSW/netcdf")))
        << log.text();
    EXPECT_TRUE(log.contains("PROBLEM: No point-data store for " + t.data("point/CSW/netcdf") +
                             ". " + t.data("ispan/bufr/CSW/IUCS01_KNES_011200") + ", renamed to"))
        << log.text();
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
    drop("ispan/bufr/CSW", "IUCN01_KNES_011200",
         bulletin<HighDensityWindSamples>(std::vector<HighDensityWindSamples::Wind>{
             wind(257, 10, 0, 1, 2, 3)}));
    // Satellite, orbit, minute, position, quality, speed and the rain index.
    const double cells[3][8] = {{281, 281, 20, 10.5, -30.25, 0, 7.5, 1},
                                {282, 5000, 20, 10.75, -30.5, MISSING, 8.0, 0},
                                {281, 5001, 21, 11.0, -30.75, 8192, 8.5, 1}};
    std::vector<QuikScatSamples::Cell> list;
    for (const auto& c : cells) {
        QuikScatSamples::Cell x;
        x.satellite = c[0], x.orbit = c[1], x.minute = c[2], x.latitude = c[3];
        x.longitude = c[4], x.quality = c[5], x.speed = c[6];
        list.push_back(x);
    }
    drop("ispan/bufr/QuikScat", "ISXX01_KNES_011200", bulletin<QuikScatSamples>(list));

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
        EXPECT_EQ(f.number("satelliteId", r), cells[r][0]);
        EXPECT_EQ(f.number("orbitNumber", r), cells[r][1]);
        EXPECT_EQ(f.number("validTime", r), NOON + cells[r][2] * 60);
        EXPECT_NEAR(f.number("latitude", r), cells[r][3], 1e-4);
        EXPECT_NEAR(f.number("windSpd", r), cells[r][6], 1e-4);
        EXPECT_EQ(f.number("rainIndex", r), cells[r][7]);
    }
    const auto notices = mark.since(3);
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0], std::make_pair(10007u, NOON + 600));
    EXPECT_EQ(notices[1], std::make_pair(10008u, NOON + 1200));
    EXPECT_EQ(notices[2], std::make_pair(10008u, NOON + 1260));
}

// A cell whose report gives no satellite identifier and orbit number has
// none: nothing is borrowed from the report before.
TEST_F(SatelliteWinds, ACellTakesNoIdentifierFromOutsideItsReport)
{
    t.templateFile("quikScat.cdl", "point/QuikScat/netcdf");
    BufrWriter w;
    w.category(12).dateTime(2024, 6, 1, 12, 0).subsets(2);
    w.descriptors({4001, 4002, 4003, 4004, 4005, 4006, 5002, 6002, 11012});
    for (double lon : {-30.5, -31.5}) {
        w.element(4001, 2024).element(4002, 6).element(4003, 1).element(4004, 12);
        w.element(4005, 20).element(4006, 0).element(5002, 10.5).element(6002, lon);
        w.element(11012, 7.5);
    }
    drop("ispan/bufr/QuikScat", "ISXX01_KNES_011200", w.build());
    LogCapture log;
    QuikScatBufrDecoder decoder;
    EXPECT_EQ(log.count("PROBLEM: The satellite identifier (0 01 007) of the ob at value "), 2);
    EXPECT_EQ(log.count("is not in its report."), 4) << log.text();
    const std::vector<std::string> files = t.dataFiles("point/QuikScat/netcdf");
    ASSERT_EQ(files.size(), 1u);
    StoredFile f(files[0]);
    ASSERT_EQ(f.records(), 2u);
    for (size_t r = 0; r < 2; ++r) {
        EXPECT_EQ(f.number("satelliteId", r), -99999);
        EXPECT_EQ(f.number("orbitNumber", r), -99999);
        EXPECT_NEAR(f.number("windSpd", r), 7.5, 1e-4);
    }
}

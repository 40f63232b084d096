// The ACARS decoder over real files: bulletins of several aircraft reports
// from the test BUFR writer in its ingest directory, one directory pass,
// the records read back with the netCDF library and the notifications at
// the test process's notification server.
#include "AcarsBufrDecoder.h"
#include "AcarsSamples.h"
#include "EcCodesDump.h"
#include "EcCodesTools.h"
#include "LogCapture.h"
#include "NetcdfPointData.h"
#include "ReportsTestSupport.h"
#include "TimeRange.h"

#include "BufrWriter.h"

#include <cmath>
#include <map>

namespace {

// 2024-06-01 12:00:00 UTC.
const int32_t NOON = 1717243200;
const double MISSING = BufrWriter::missingValue();

// A bulletin of the sample generator's layout at 12:00 (or the hour of the
// options), one report per (tail number, flight number, minute, relative
// humidity); each report at second 30.
struct Report {
    const char* tail;
    const char* flight;
    double minute, humidity;
};

BufrWriter::Bytes acarsBulletin(const std::vector<Report>& reports,
                                SampleOptions o = SampleOptions())
{
    std::vector<AcarsSamples::Report> list;
    for (const Report& r : reports) {
        AcarsSamples::Report x;
        x.tail = r.tail, x.flight = r.flight, x.station = "DDL";
        x.minute = static_cast<int>(r.minute), x.second = 30;
        x.latitude = 40.5, x.longitude = -75.25, x.temperature = 250.5, x.humidity = r.humidity;
        list.push_back(x);
    }
    o.dataDir = QEV_SOURCE_DIR "/data";
    SampleBulletin b;
    std::string error;
    EXPECT_TRUE(AcarsSamples::encode(list, 0, o, b, error)) << error;
    return b.bytes;
}

class AcarsDecoder : public testing::Test {
protected:
    void SetUp() override
    {
        QEV_REQUIRE_NCGEN();
        t.pattern("acarsBufrPattern.txt");
        t.directories("ispan/bufr/acars", "ispan/badAcarsBufr");
    }
    std::string ingest(const std::string& name) const { return t.data("ispan/bufr/acars/" + name); }
    ReportsTree t;
};

} // namespace

// One record per report with its own tail number and time; a relative
// humidity of 0 goes in as missing; a flight number longer than its row is
// refused while its report is stored; a report without a tail number is
// left out; each stored report is notified, the same time twice.  Only
// names of the listing expression are taken.
TEST_F(AcarsDecoder, StoresEachReportWithItsOwnTailNumberAndTime)
{
    t.templateFile("acars.cdl", "point/acars/netcdf", {{"flightLen = 9", "flightLen = 5"}});
    const BufrWriter::Bytes m = acarsBulletin({{"N123UA", "UA12", 10, 0},
                                               {"N456AA", "AAL1234", 10, 55},
                                               {"", "UA99", 11, 40}});
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX01_KWBC_011200"), m));
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUA01_KWBC_011200"), m));
    NotificationMark mark;
    LogCapture log;
    AcarsBufrDecoder decoder;
    decoder.processBufrDirectory();

    EXPECT_TRUE(log.contains("PROBLEM: Unable to store the value AAL1234")) << log.text();
    EXPECT_TRUE(log.contains("PROBLEM: Report 3 has no tail number of its own."));
    EXPECT_TRUE(log.contains("Writing record to netcdf file: 20240601_1200"));
    EXPECT_EQ(TempTree::listFiles(t.data("ispan/bufr/acars")),
              std::vector<std::string>{"IUA01_KWBC_011200"});
    const std::vector<std::string> files = t.dataFiles("point/acars/netcdf");
    ASSERT_EQ(files.size(), 1u);
    StoredFile f(files[0]);
    ASSERT_EQ(f.records(), 2u);
    EXPECT_EQ(f.row("tailNumber", 0), std::string("N123UA\0\0\0", 9));
    EXPECT_EQ(f.row("flightNumber", 0), std::string("UA12\0", 5));
    EXPECT_EQ(f.row("flightNumber", 1), std::string(5, '\0'));
    EXPECT_EQ(f.row("groundStation", 1), std::string("DDL\0\0\0", 6));
    EXPECT_EQ(f.number("relHumidity", 0), -99999);
    EXPECT_EQ(f.number("relHumidity", 1), 55);
    EXPECT_NEAR(f.number("temperature", 1), 250.5, 1e-4);
    EXPECT_EQ(f.number("timeObs", 1), NOON + 630);
    EXPECT_EQ(f.number("timeMdcrsHdr", 1), NOON);
    const auto notices = mark.since(2);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], std::make_pair(79u, NOON + 630));
    EXPECT_EQ(notices[1], std::make_pair(79u, NOON + 630));
}

// Times and positions come from their own elements.  The WMO aircraft
// sequence (3 11 001) has no second: each report is stored at its minute,
// whatever its latitude (the value after the minute, never taken as the
// second).  Reports of coarse positions (0 05 002, 0 06 002) have them
// stored in the position variables; a report without any position is left
// out with its reason.
TEST_F(AcarsDecoder, TimesAndPositionsComeFromTheirOwnElements)
{
    t.templateFile("acars.cdl", "point/acars/netcdf");
    const double latitudes[] = {-33.95, 61.5, 78.25, 0.5};
    BufrWriter wmo(4);
    wmo.category(4).dateTime(2024, 6, 1, 12, 0).subsets(4).descriptors({311001, 1008});
    for (int k = 0; k < 4; ++k) {
        wmo.chars(1006, "AC" + std::to_string(k)).element(2061, 0).element(4001, 2024)
            .element(4002, 6).element(4003, 1).element(4004, 12).element(4005, 10 + k)
            .element(5001, latitudes[k]).element(6001, -75.5).element(8004, 3)
            .element(7002, 10000).element(12001, 220.5).element(11001, 270)
            .element(11002, 25.5).element(11031, 0).missing(11032).missing(11033)
            .element(20041, 0).chars(1008, "N10" + std::to_string(k) + "AB");
    }
    BufrWriter coarse(4);
    coarse.category(4).dateTime(2024, 6, 1, 12, 0).subsets(3).descriptors(
        {1008, 301011, 301012, 301023, 12001});
    const double positions[3][2] = {{49.39, 10.94}, {-12.5, 130.25}, {MISSING, MISSING}};
    for (int k = 0; k < 3; ++k)
        coarse.chars(1008, "D-AB" + std::to_string(k)).element(4001, 2024).element(4002, 6)
            .element(4003, 1).element(4004, 12).element(4005, 20 + k)
            .element(5002, positions[k][0]).element(6002, positions[k][1]).element(12001, 250);
    LogCapture log;
    AcarsBufrDecoder decoder;
    for (BufrWriter* w : {&wmo, &coarse}) {
        ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX01_CWAO_011200"), w->build())) << w->error();
        decoder.processBufrDirectory();
        EXPECT_TRUE(TempTree::listFiles(t.data("ispan/badAcarsBufr")).empty()) << log.text();
    }
    EXPECT_TRUE(log.contains("PROBLEM: Report 3 has no position of its own.")) << log.text();
    StoredFile f(t.dataFiles("point/acars/netcdf").at(0));
    ASSERT_EQ(f.records(), 6u);
    for (size_t r = 0; r < 4; ++r) {
        EXPECT_EQ(f.number("timeObs", r), NOON + (10 + r) * 60);
        EXPECT_NEAR(f.number("latitude", r), latitudes[r], 1e-5);
        EXPECT_NEAR(f.number("longitude", r), -75.5, 1e-5);
    }
    for (size_t r = 4; r < 6; ++r) {
        EXPECT_EQ(f.number("timeObs", r), NOON + (16 + r) * 60);
        EXPECT_NEAR(f.number("latitude", r), positions[r - 4][0], 1e-5);
        EXPECT_NEAR(f.number("longitude", r), positions[r - 4][1], 1e-5);
    }
}

// An aircraft climbing through three heights within one minute, reported
// in the WMO aircraft sequence (3 11 001, whose time has no second): each
// report keeps a record of its own, the first two at one position told apart
// by their heights, with the values ecCodes reads from the same bulletin.
// The store's reading by tail number finds the three at that minute.  So
// do the levels of a profile (3 11 008) an hour later: each a record at the
// report's time and position with its own flight level and values, and the
// phase of flight its report gives once for all.  The same bulletins
// delivered again add nothing and change nothing.
TEST_F(AcarsDecoder, ReportsOfOneAircraftWithinOneMinuteEachKeepTheirRecord)
{
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    t.templateFile("acars.cdl", "point/acars/netcdf");
    const struct {
        double latitude, longitude, height, temperature, speed;
    } climb[] = {{40.64123, -73.77861, 430, 285.4, 8.5},
                 {40.64123, -73.77861, 550, 284.6, 9.5},
                 {40.65432, -73.75012, 670, 283.9, 11}};
    BufrWriter w(4);
    w.category(4).dateTime(2024, 6, 1, 12, 10).subsets(3).descriptors({311001, 1008});
    for (const auto& c : climb)
        w.chars(1006, "DAL901").element(2061, 0).element(4001, 2024).element(4002, 6)
            .element(4003, 1).element(4004, 12).element(4005, 10).element(5001, c.latitude)
            .element(6001, c.longitude).element(8004, 5).element(7002, c.height)
            .element(12001, c.temperature).element(11001, 250).element(11002, c.speed)
            .element(11031, 0).missing(11032).missing(11033).element(20041, 0)
            .chars(1008, "N901DL");
    const BufrWriter::Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    const double levels[3][3] = {{430, 285.4, 8.5}, {1250, 280.15, 10.5}, {2540, 272.35, 14}};
    BufrWriter profile(4);
    profile.category(4).dateTime(2024, 6, 1, 13, 10).descriptors({311008});
    profile.chars(1008, "N901DL").element(4001, 2024).element(4002, 6).element(4003, 1)
        .element(4004, 13).element(4005, 10).element(4006, 30).element(5001, 40.64123)
        .element(6001, -73.77861).element(8004, 5).factor(31001, 3);
    for (const auto& l : levels)
        profile.element(7010, l[0]).element(11001, 250).element(11002, l[2]).element(2064, 0)
            .element(12101, l[1]).element(12103, l[1] - 5);
    const BufrWriter::Bytes levelled = profile.build();
    ASSERT_TRUE(profile.ok()) << profile.error();
    EcCodesDump dump;
    std::string error;
    ASSERT_TRUE(tools.dump(t.tree.write("climb.bufr", std::string(m.begin(), m.end())), dump,
                           error))
        << error;
    ASSERT_EQ(dump.subsets().size(), 3u);
    const struct {
        int descriptor;
        const char* variable;
    } compared[] = {{5001, "latitude"},     {6001, "longitude"}, {7002, "flightLevel"},
                    {12001, "temperature"}, {11001, "windDir"},  {11002, "windSpeed"}};

    LogCapture log;
    AcarsBufrDecoder decoder;
    for (int delivery = 0; delivery < 2; ++delivery) {
        SCOPED_TRACE(delivery);
        ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX01_KWBC_011210"), m));
        ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX01_KWBC_011310"), levelled));
        decoder.processBufrDirectory();
        EXPECT_TRUE(TempTree::listFiles(t.data("ispan/badAcarsBufr")).empty()) << log.text();
        const std::vector<std::string> files = t.dataFiles("point/acars/netcdf");
        ASSERT_EQ(files.size(), 2u);
        StoredFile p(files[1]);
        ASSERT_EQ(p.records(), 3u);
        for (size_t r = 0; r < 3; ++r) {
            EXPECT_EQ(p.number("timeObs", r), NOON + 4230);
            EXPECT_NEAR(p.number("latitude", r), 40.64123, 1e-5);
            EXPECT_EQ(p.number("flightLevel", r), levels[r][0]);
            EXPECT_NEAR(p.number("temperature", r), levels[r][1], 1e-4);
            EXPECT_NEAR(p.number("windSpeed", r), levels[r][2], 1e-4);
            EXPECT_EQ(p.number("flightPhase", r), 5);
        }
        StoredFile f(files[0]);
        ASSERT_EQ(f.records(), 3u);
        for (size_t r = 0; r < 3; ++r) {
            EXPECT_EQ(f.row("tailNumber", r), std::string("N901DL\0\0\0", 9));
            EXPECT_EQ(f.number("timeObs", r), NOON + 600);
            for (const auto& c : compared) {
                const EcCodesDump::Value* v = nullptr;
                for (const EcCodesDump::Value& x : dump.subsets()[r])
                    if (!v && x.descriptor == c.descriptor)
                        v = &x;
                ASSERT_TRUE(v && v->kind == EcCodesDump::Number) << c.descriptor;
                EXPECT_NEAR(f.number(c.variable, r), v->number,
                            EcCodesDump::tolerance(*v) + 1e-6 * std::fabs(v->number))
                    << c.variable << " " << r;
            }
        }
    }
    NetcdfPointData* reader =
        NetcdfPointData::getNetcdfPointData(t.data("point/acars/netcdf").c_str(), false, false);
    ASSERT_TRUE(reader);
    SeqOfPtr<int*> handles;
    const TimeRange minute(AbsTime(NOON + 600), AbsTime(NOON + 659));
    ASSERT_TRUE(reader->getHandlesForId("N901DL", minute, handles));
    ASSERT_EQ(handles.length(), 1);
    SeqOf<int> records;
    EXPECT_TRUE(reader->getRecordsForId("N901DL", minute, handles[0], records));
    EXPECT_EQ(records.length(), 3);
    reader->releaseHandles(handles);
}

// A report followed by further observations of the same aircraft (as the
// WMO sequence with turbulence data has them): the report's record keeps
// its own values, and each further observation is a record of its own at
// its time of day on the date nearest the report (here the day before).  A
// wind speed in knots goes into "m s-1" converted; a value whose unit its
// variable's cannot take is left out with its reason, which sets the
// bulletin aside once its reports are stored.
TEST_F(AcarsDecoder, FurtherObservationsKeepTheirOwnValuesInTheVariablesUnits)
{
    t.templateFile("acars.cdl", "point/acars/netcdf",
                   {{"relHumidity:units = \"%\"", "relHumidity:units = \"1\""}});
    BufrWriter w(4);
    w.category(4).dateTime(2024, 6, 1, 0, 2).descriptors(
        {1008, 301011, 301013, 5001, 6001, 12101, 11001, 11002, 13003, 109000, 31001, 5001, 6001,
         7007, 4004, 4005, 4006, 12101, 11001, 11084});
    w.chars(1008, "EU3042").element(4001, 2024).element(4002, 6).element(4003, 1)
        .element(4004, 0).element(4005, 2).element(4006, 5).element(5001, 42.255)
        .element(6001, -2.04167).element(12101, 221.25).element(11001, 233).element(11002, 31.9)
        .element(13003, 40).factor(31001, 2);
    const double further[2][5] = {{41.58667, -2.48667, 23, 58, 35}, {41.83683, -2.26333, 0, 6, 55}};
    for (int k = 0; k < 2; ++k)
        w.element(5001, further[k][0]).element(6001, further[k][1]).element(7007, 9878)
            .element(4004, further[k][2]).element(4005, further[k][3])
            .element(4006, further[k][4]).element(12101, 242.55 - k).element(11001, 234)
            .element(11084, 55 + k);
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX02_EGRR_010002"), w.build())) << w.error();
    NotificationMark mark;
    LogCapture log;
    AcarsBufrDecoder decoder;
    decoder.processBufrDirectory();
    EXPECT_TRUE(log.contains("PROBLEM: The value of 0 13 003 (%) is not stored in relHumidity "
                             "(1): no conversion between the units is known."))
        << log.text();
    EXPECT_TRUE(log.contains("(1): no conversion between the units is known. " +
                             ingest("IUAX02_EGRR_010002") + ", renamed to"))
        << log.text();
    const std::vector<std::string> files = t.dataFiles("point/acars/netcdf");
    ASSERT_EQ(files.size(), 2u);
    const int32_t midnight = NOON - 12 * 3600;
    const struct {
        size_t file, record;
        int32_t time;
        double latitude, temperature, windSpeed;
    } records[] = {
        {0, 0, midnight - 85, 41.58667, 242.55, 55 * 1852.0 / 3600},
        {1, 0, midnight + 125, 42.255, 221.25, 31.9},
        {1, 1, midnight + 415, 41.83683, 241.55, 56 * 1852.0 / 3600},
    };
    for (const auto& r : records) {
        SCOPED_TRACE(r.time);
        StoredFile f(files[r.file]);
        EXPECT_EQ(f.number("timeObs", r.record), r.time);
        EXPECT_NEAR(f.number("latitude", r.record), r.latitude, 1e-5);
        EXPECT_NEAR(f.number("temperature", r.record), r.temperature, 1e-4);
        EXPECT_NEAR(f.number("windSpeed", r.record), r.windSpeed, 1e-4);
        EXPECT_EQ(f.number("relHumidity", r.record), -99999);
        EXPECT_EQ(f.row("tailNumber", r.record), std::string("EU3042\0\0\0", 9));
    }
    EXPECT_EQ(mark.since(3).size(), 3u);
}

// A bulletin without a tail number in any report is kept in the bad-file
// directory, and the reason it is set aside with names the element; so does
// the reason of one whose reports all lack a position.
TEST_F(AcarsDecoder, ABulletinWithoutTailNumbersGoesToTheBadFileDirectory)
{
    t.templateFile("acars.cdl", "point/acars/netcdf");
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX02_KWBC_011200"),
                                      acarsBulletin({{"", "UA12", 10, 50}, {"", "UA13", 11, 50}})));
    BufrWriter w(4);
    w.category(4).dateTime(2024, 6, 1, 12, 0).subsets(2).descriptors({1008, 301011, 301012, 5001,
                                                                       6001});
    for (int k = 0; k < 2; ++k)
        w.chars(1008, "N1AB").element(4001, 2024).element(4002, 6).element(4003, 1)
            .element(4004, 12).element(4005, k).missing(5001).element(6001, -75.5);
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX02_KWBC_011201"), w.build())) << w.error();
    LogCapture log;
    AcarsBufrDecoder decoder;
    decoder.processBufrDirectory();
    EXPECT_TRUE(log.contains("PROBLEM: Number of stations = 0...not processing"));
    EXPECT_TRUE(log.contains("PROBLEM: No report has a tail number (0 01 008). " +
                             ingest("IUAX02_KWBC_011200") + ", renamed to "))
        << log.text();
    EXPECT_TRUE(log.contains("PROBLEM: No report can be stored: 2 with no latitude and longitude "
                             "(0 05 001 and 0 06 001, or 0 05 002 and 0 06 002). " +
                             ingest("IUAX02_KWBC_011201") + ", renamed to "))
        << log.text();
    EXPECT_TRUE(TempTree::exists(t.data("ispan/badAcarsBufr/IUAX02_KWBC_011200")));
    EXPECT_TRUE(TempTree::exists(t.data("ispan/badAcarsBufr/IUAX02_KWBC_011201")));
    EXPECT_TRUE(t.dataFiles("point/acars/netcdf").empty());
}

// Without a template the files stay in the ingest directory, and every pass
// says why.
TEST_F(AcarsDecoder, WithoutATemplateFilesStayAndEachPassSaysWhy)
{
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX01_KWBC_011200"),
                                      acarsBulletin({{"N123UA", "UA12", 10, 50}})));
    LogCapture log;
    AcarsBufrDecoder decoder;
    decoder.processBufrDirectory();
    decoder.processBufrDirectory();
    EXPECT_EQ(log.count("PROBLEM: Unable to read template file"), 2);
    EXPECT_TRUE(TempTree::exists(ingest("IUAX01_KWBC_011200")));
}

// A template the store cannot use gives no store: the bulletin is kept in
// the bad-file directory.
TEST_F(AcarsDecoder, WithoutAStoreTheBulletinGoesToTheBadFileDirectory)
{
    std::string error;
    t.tree.mkdirs("qev_data/point/acars/netcdf");
    ASSERT_TRUE(Cdl::make("netcdf t {\ndimensions:\n recNum = UNLIMITED ;\nvariables:\n"
                          " float rh(recNum) ;\n  rh:tblBname = \"RELATIVE HUMIDITY\" ;\n}\n",
                          t.data("point/acars/netcdf/template"), &error))
        << error;
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX01_KWBC_011200"),
                                      acarsBulletin({{"N123UA", "UA12", 10, 50}})));
    LogCapture log;
    AcarsBufrDecoder decoder;
    decoder.processBufrDirectory();
    EXPECT_TRUE(log.contains("PROBLEM: No point-data store for " + t.data("point/acars/netcdf")))
        << log.text();
    EXPECT_TRUE(TempTree::exists(t.data("ispan/badAcarsBufr/IUAX01_KWBC_011200")));
}

// A report whose values the store could not bring to the disk (its data
// file cut short by another process) is not notified, and the bulletin is
// kept in the bad-file directory.
TEST_F(AcarsDecoder, AReportTheStoreCouldNotSyncKeepsTheBulletin)
{
    t.templateFile("acars.cdl", "point/acars/netcdf");
    const BufrWriter::Bytes m = acarsBulletin({{"N123UA", "UA12", 10, 50}});
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX01_KWBC_011200"), m));
    AcarsBufrDecoder decoder;
    // The first pass's notification must have arrived before the mark is
    // taken, or it would be counted as one of the second pass's.
    NotificationMark first;
    decoder.processBufrDirectory();
    ASSERT_EQ(first.since(1).size(), 1u);
    const std::string cut = t.cutDataFile("point/acars/netcdf");
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX01_KWBC_011200"), m));
    NotificationMark mark;
    LogCapture log;
    decoder.processBufrDirectory();
    EXPECT_TRUE(log.contains("Could not sync " + cut + ": it was cut from ")) << log.text();
    EXPECT_TRUE(TempTree::exists(t.data("ispan/badAcarsBufr/IUAX01_KWBC_011200")));
    EXPECT_TRUE(mark.none());
}

// One file is stored by the per-file steps of the flow alone, and unlinked.
TEST_F(AcarsDecoder, OneFileIsProcessedOnItsOwn)
{
    t.templateFile("acars.cdl", "point/acars/netcdf");
    ASSERT_TRUE(BufrWriter::writeFile(ingest("IUAX01_KWBC_011200"),
                                      acarsBulletin({{"N123UA", "UA12", 10, 50}})));
    AcarsBufrDecoder decoder;
    decoder.processFile(t.data("ispan/bufr/acars/").c_str(), "IUAX01_KWBC_011200", 0, 1);
    EXPECT_FALSE(TempTree::exists(ingest("IUAX01_KWBC_011200")));
    ASSERT_EQ(t.dataFiles("point/acars/netcdf").size(), 1u);
    EXPECT_EQ(StoredFile(t.dataFiles("point/acars/netcdf")[0]).records(), 1u);
}

// Reports of the last hour a time holds are stored; one past its last second
// (03:14:30) is refused with its line, and the bulletin, its other reports
// stored, is set aside naming it.
TEST_F(AcarsDecoder, AReportPastTheLastSecondATimeHoldsIsRefusedAlone)
{
    t.templateFile("acars.cdl", "point/acars/netcdf");
    SampleOptions o;
    o.year = 2038, o.month = 1, o.day = 19, o.hour = 3;
    ASSERT_TRUE(BufrWriter::writeFile(
        ingest("IUAX01_KWBC_190300"),
        acarsBulletin({{"N123UA", "UA12", 10, 50}, {"N456AA", "AA1", 13, 50},
                       {"N789DL", "DL1", 14, 50}},
                      o)));
    LogCapture log;
    AcarsBufrDecoder decoder;
    decoder.processBufrDirectory();
    EXPECT_EQ(log.count("Report 3: its time lies past 2038-01-19 03:14:07, the last second a "
                        "time holds."),
              2)
        << log.text();    // its line and the reason
    EXPECT_TRUE(TempTree::exists(t.data("ispan/badAcarsBufr/IUAX01_KWBC_190300")));
    EXPECT_EQ(t.dataFiles("point/acars/netcdf"),
              std::vector<std::string>{t.data("point/acars/netcdf/20380119_0300")});
    StoredFile f(t.data("point/acars/netcdf/20380119_0300"));
    ASSERT_EQ(f.records(), 2u);
    EXPECT_EQ(f.row("tailNumber", 1), std::string("N456AA\0\0\0", 9));
    EXPECT_EQ(f.number("timeObs", 0), 2147483647 - 4 * 60 + 23);
    EXPECT_EQ(f.number("timeObs", 1), 2147483647 - 60 + 23);
}

// One report of a bulletin the store cannot hold, among good ones: a year
// of 0 or 99 (0 04 001 is the year given, never one of a century), a tail
// number of 32 characters (2 08 032) longer than the store's ids.  It is
// refused with its line, the good reports are stored with the values
// ecCodes reads and notified, and the bulletin is set aside naming it.  A
// message whose section 1 gives no time stores its reports with
// "timeMdcrsHdr" missing, never 1970.
TEST_F(AcarsDecoder, AReportTheStoreCannotHoldIsRefusedAloneAndNo1970IsStored)
{
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    t.templateFile("acars.cdl", "point/acars/netcdf");
    const std::string longTail = "N" + std::string(31, '7');
    const struct {
        const char* name;
        int month;                // section 1's
        bool wide;                // tail numbers under 2 08 032
        int bad;                  // the report refused (0-based), -1 none
        int badYear;
        const char* line;
    } cases[] = {
        {"IUAX01_KWBC_year0", 6, false, 1, 0,
         "Report 2: its time lies before 1970-01-01 00:00:00, the first second a time holds."},
        {"IUAX01_KWBC_year99", 6, false, 2, 99,
         "Report 3: its time lies before 1970-01-01 00:00:00, the first second a time holds."},
        {"IUAX01_KWBC_tail", 6, true, 0, 2024, nullptr},
        {"IUAX01_KWBC_month13", 13, false, -1, 2024, nullptr},
    };
    const std::string tailLine = "Report 1 (" + longTail + "): its id \"" + longTail +
                                 "\" is longer than the 8 characters the store's ids hold.";
    LogCapture log;
    AcarsBufrDecoder decoder;
    size_t stored = 0;    // the records of the hour so far
    for (size_t c = 0; c < sizeof cases / sizeof cases[0]; ++c) {
        const auto& k = cases[c];
        SCOPED_TRACE(k.name);
        BufrWriter w(4);
        w.category(4).dateTime(2024, k.month, 1, 12, 0).subsets(3);
        std::vector<int> d = {1008, 301011, 301012, 5001, 6001, 12101};
        if (k.wide)
            d = {208032, 1008, 208000, 301011, 301012, 5001, 6001, 12101};
        w.descriptors(d);
        for (int r = 0; r < 3; ++r) {
            const std::string tail = k.wide && r == k.bad ? longTail
                                                          : "N" + std::to_string(c) + "0" +
                                                                std::to_string(r) + "AB";
            if (k.wide)
                w.op(208032);
            w.chars(1008, tail);
            if (k.wide)
                w.op(208000);
            w.element(4001, r == k.bad ? k.badYear : 2024).element(4002, 6).element(4003, 1)
                .element(4004, 12).element(4005, 10 + r).element(5001, 40.5 + r)
                .element(6001, -75.25 - r).element(12101, 250.5 + r);
        }
        const BufrWriter::Bytes m = w.build();
        ASSERT_TRUE(w.ok()) << w.error();
        EcCodesDump dump;
        std::string error;
        ASSERT_TRUE(tools.dump(t.tree.write(std::string(k.name) + ".bufr",
                                            std::string(m.begin(), m.end())),
                               dump, error))
            << error;
        ASSERT_EQ(dump.subsets().size(), 3u);
        ASSERT_TRUE(BufrWriter::writeFile(ingest(k.name), m));
        NotificationMark mark;
        const size_t before = log.text().size();
        decoder.processBufrDirectory();
        const std::string lines = log.text().substr(before);
        const std::string why = k.line ? k.line : k.bad >= 0 ? tailLine : "";
        EXPECT_EQ(TempTree::exists(t.data("ispan/badAcarsBufr/") + k.name), k.bad >= 0);
        if (k.bad >= 0) {
            EXPECT_NE(lines.find("PROBLEM: " + why + "  Skipping to next report."),
                      std::string::npos)
                << lines;
            EXPECT_NE(lines.find("PROBLEM: " + why + " " + ingest(k.name) + ", renamed to"),
                      std::string::npos)
                << lines;
        } else {
            EXPECT_NE(lines.find("Section 1 time has an impossible month 13"), std::string::npos)
                << lines;
        }
        // The good reports, with the values ecCodes reads.
        const std::vector<std::string> files = t.dataFiles("point/acars/netcdf");
        ASSERT_EQ(files.size(), 1u);
        StoredFile f(files[0]);
        const size_t good = k.bad >= 0 ? 2 : 3;
        size_t record = stored;
        stored += good;
        ASSERT_EQ(f.records(), stored);
        EXPECT_EQ(mark.since(good).size(), good);
        for (int r = 0; r < 3; ++r) {
            if (r == k.bad)
                continue;
            double fields[5] = {0, 0, 0, 0, 0};
            std::map<int, double> numbers;
            for (const EcCodesDump::Value& v : dump.subsets()[static_cast<size_t>(r)]) {
                if (v.kind == EcCodesDump::Number && !numbers.count(v.descriptor))
                    numbers[v.descriptor] = v.number;
                if (v.descriptor == 1008) {
                    EXPECT_EQ(f.row("tailNumber", record).c_str(), v.text);
                }
            }
            for (int q = 0; q < 5; ++q)
                fields[q] = numbers[4001 + q];
            EXPECT_EQ(f.number("timeObs", record),
                      AbsTime(static_cast<int>(fields[0]), static_cast<int>(fields[1]),
                              static_cast<int>(fields[2]), static_cast<int>(fields[3]),
                              static_cast<int>(fields[4]), 0)
                          .seconds());
            EXPECT_NEAR(f.number("latitude", record), numbers[5001], 1e-5);
            EXPECT_NEAR(f.number("longitude", record), numbers[6001], 1e-5);
            EXPECT_NEAR(f.number("temperature", record), numbers[12101], 1e-4);
            EXPECT_EQ(f.number("timeMdcrsHdr", record), k.month == 13 ? -99999 : NOON);
            ++record;
        }
    }
}

// The GOES sounding decoder without the process: what differs from POES
// (times from the day of the year and the clock, the level rules, the
// message order of the levels) and the walk that stops at its subset.
#include "SoundingTestSupport.h"

#include "AbsTime.h"
#include "GOESBufrDecoder.h"
#include "LogCapture.h"

#include <cmath>

using namespace soundings;

namespace {

const double NONE = std::nan("");
const float FILL = 1e37f;

int32_t fixedNow()
{
    return AbsTime(2024, 6, 1, 12, 0, 0).seconds();
}

// A GOES sounding: year and day of the year before the latitude, hour,
// minute and second after the longitude, surface values marked off by a
// 0 08 003 and a 0 02 054, then levels of pressure, temperature, dewpoint
// and height.
Elements goes(double lat, double lon, double year, double day, double hour, double minute,
              double second, const std::vector<double>& pressures)
{
    Elements e = {{1007, 257},  {4001, year},  {4043, day},  {5001, lat},  {6001, lon},
                  {4004, hour}, {4005, minute}, {4006, second}, {20010, 40}, {13016, 25},
                  {12061, 295}, {8003, 0},     {12101, 300}, {2054, 1},    {12103, 290}};
    for (double p : pressures)
        append(e, {{10004, p}, {12101, 250}, {12103, 240}, {10009, 5000}});
    return e;
}

std::vector<float> saved(const SeqOf<SeqOf<float> >& profiles)
{
    return std::vector<float>(profiles[0].elements(), profiles[0].elements() + profiles[0].length());
}

class GOES : public SoundingTree {
protected:
    void SetUp() override
    {
        SoundingTree::SetUp();
        SatelliteSoundingDecoder::setClock(fixedNow);
    }
    void TearDown() override { SatelliteSoundingDecoder::setClock(nullptr); }
    void decode(GOESBufrDecoder& d, const std::vector<Elements>& subsets)
    {
        const BufrWriter::Bytes m = message(subsets);
        ASSERT_TRUE(d.decode(m.data(), static_cast<unsigned>(m.size())));
    }
};

} // namespace

// The date of the day of the year; a time ahead of the clock is the same
// time a day earlier; a day that the year does not have, or a year before
// 1970 (0 04 001 is the year given: 99 is no year of a century), gives no time.
TEST_F(GOES, TimesFromTheDayOfTheYearNeverAheadOfTheClock)
{
    const struct {
        double year, day, hour, minute, second;
        int32_t expected;    // 0: no time
    } cases[] = {
        {2005, 32, 10, 20, 40, AbsTime(2005, 2, 1, 10, 21, 0).seconds()},
        {2024, 153, 12, 5, 0, AbsTime(2024, 5, 31, 12, 5, 0).seconds()},
        {2024, 153, 11, 59, 30, AbsTime(2024, 6, 1, 12, 0, 0).seconds()},
        {2005, 0, 10, 0, 0, 0},
        {2005, 366, 10, 0, 0, 0},
        {2004, 366, 10, 0, 0, AbsTime(2004, 12, 31, 10, 0, 0).seconds()},
        {NONE, 32, 10, 0, 0, 0},
        // The last day a time holds, ahead of the clock; the day after it.
        {2038, 19, 3, 14, 7, AbsTime(2038, 1, 18, 3, 14, 0).seconds()},
        {2038, 20, 0, 0, 0, 0},
        {99, 153, 12, 0, 0, 0},
    };
    GOESBufrDecoder d;
    ASSERT_TRUE(d.initialized());
    std::vector<Elements> subsets;
    for (const auto& c : cases)
        subsets.push_back(goes(36 + 0.5 * static_cast<double>(subsets.size()), -95, c.year, c.day,
                               c.hour, c.minute, c.second, {85000}));
    decode(d, subsets);
    LogCapture log;
    ASSERT_EQ(d.storeSounding(), 1);
    d.getObservationTimes();
    ASSERT_EQ(d.soundings().length(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(d.soundings()[i].time, cases[i].expected) << i;
        EXPECT_EQ(d.soundings()[i].timed, cases[i].expected != 0) << i;
    }
    EXPECT_EQ(log.count("PROBLEM: The day of the year "), 4) << log.text();
    EXPECT_TRUE(log.contains("PROBLEM: The day of the year 153 of 99 of the sounding at value "));
    EXPECT_TRUE(log.contains("PROBLEM: The day of the year 366 of 2005 of the sounding at value "
                             "79 is not a date"));
    EXPECT_TRUE(log.contains("(2038 1 20 0:0:0) make a time that lies past 2038-01-19 03:14:07, "
                             "the last second a time holds"))
        << log.text();
}

// Pressures and heights are placed whatever their neighbours; temperatures
// and dewpoints right after a 0 08 003 or a 0 02 054 are not, right before
// one they are.  The levels keep the message order, unfilled slots last.
TEST_F(GOES, LevelRulesKeepTheMessageOrder)
{
    Elements e = goes(40, -95, 2024, 153, 10, 0, 0, {});
    append(e, {{10004, 50000}, {12101, 250}, {12103, 240}, {8003, NONE},
               {10004, 85000}, {12101, 280}, {10009, 1500},
               {10004, 70000}, {2054, 2}, {12101, 270}, {12103, 260}, {10009, 3000},
               {10009, 5500}});
    GOESBufrDecoder d;
    decode(d, {e});
    ASSERT_EQ(d.storeSounding(), 1);
    EXPECT_EQ(d.getProfileCount(3, 0), 3);
    EXPECT_EQ(d.getProfileCount(3, 1), 0);
    EXPECT_EQ(saved(d.pressProfiles()), (std::vector<float>{50000, 85000, 70000}));
    EXPECT_EQ(saved(d.tempProfiles()), (std::vector<float>{250, 280, FILL}));
    EXPECT_EQ(saved(d.tdProfiles()), (std::vector<float>{240, 260, FILL}));
    EXPECT_EQ(saved(d.zProfiles()), (std::vector<float>{1500, 3000, 5500}));
}

// A sounding's values end with its subset: a value of the next subset that
// stands before that subset's year does not land in this record.  Each
// stored time is notified under key 10005.
TEST_F(GOES, TheWalkEndsWithTheSubset)
{
    auto subset = [](double lat, double precipWater) {
        Elements e = {{13016, precipWater}};
        append(e, goes(lat, -95, 2024, 153, 10, 0, 0, {85000, 50000}));
        return e;
    };
    GOESBufrDecoder d;
    decode(d, {subset(40, 31), subset(41, 32)});
    LogCapture log;
    EXPECT_EQ(d.write2NetcdfFile(), 1);
    EXPECT_TRUE(log.contains("EVENT: MXR_STORE site 80179  Jun 01 24 10:00:00 GMT ......"))
        << log.text();
    EXPECT_EQ(log.count("PROBLEM: dmNotify FAILED for key = 10005 and dataTime Jun 01 24 "
                        "10:00:00 GMT"),
              1);
    Records r(dataFiles(store("GOES")).at(0));
    ASSERT_EQ(recordCount(r.id), 2u);
    EXPECT_EQ(r.text("siteId", 1), "80221");
    for (int record : {0, 1}) {
        EXPECT_EQ(r.number("precipWater", record), 25) << record;
        EXPECT_EQ(r.number("numLevels", record), 2);
        EXPECT_EQ(row<float>(r.id, "pressure", record, 3),
                  (std::vector<float>{85000, 50000, FILL}));
        EXPECT_EQ(row<float>(r.id, "height", record, 2), (std::vector<float>{5000, 5000}));
    }
}

// The one-file constructor stores the file named, wherever it lies, and
// leaves the ingest directory alone; the file is then unlinked.  The
// observation times are those of the soundings that have one.
TEST_F(GOES, TheOneFileConstructorStoresTheNamedFile)
{
    const std::string dir = tree.mkdirs("elsewhere");
    const std::string name = "IUSN41_KNES_202406011200";
    const BufrWriter::Bytes m = message({goes(40, -95, 2024, 153, 10, 0, 0, {85000, 70000}),
                                         goes(36, -95, 2024, 153, 10, 30, 0, {85000, 70000})});
    ASSERT_TRUE(BufrWriter::writeFile(dir + "/" + name, m));
    const std::string waiting = tree.path("qev_data/ispan/bufr/GOESSoundings/" + name);
    ASSERT_TRUE(BufrWriter::writeFile(waiting, m));
    LogCapture log;
    GOESBufrDecoder d(dir.c_str(), name.c_str());
    EXPECT_FALSE(TempTree::exists(dir + "/" + name)) << log.text();
    EXPECT_TRUE(TempTree::exists(waiting));
    ASSERT_EQ(dataFiles(store("GOES")).size(), 1u);
    const Records stored(dataFiles(store("GOES"))[0]);
    EXPECT_EQ(stored.number("numLevels", 1), stored.number("numLevels", 0));
    EXPECT_GT(stored.number("numLevels", 1), 0);
    const SeqOf<double> times = d.getObservationTimes();
    ASSERT_EQ(times.length(), 2);
    EXPECT_EQ(times[1], AbsTime(2024, 6, 1, 10, 30, 0).seconds());
}

// A sounding that gives its humidity only as a mixing ratio, which the GOES
// profiles do not take, is stored with what it gives, and the file is set
// aside with a reason naming the element.
TEST_F(GOES, AHumidityOfAnotherFormSetsTheFileAsideNamingIt)
{
    Elements e = {{1007, 257}, {4001, 2024}, {4043, 153}, {5001, 40},
                  {6001, -95}, {4004, 10},   {4005, 0},   {4006, 0}};
    for (double p : {85000.0, 50000.0})
        append(e, {{10004, p}, {12101, 250}, {13002, 0.002}});
    GOESBufrDecoder d;
    decode(d, {e});
    LogCapture log;
    EXPECT_EQ(d.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("PROBLEM: The sounding at value 3 gives its humidity only as 0 13 002, "
                             "which the GOES store does not hold (it takes 0 12 003 or 0 12 103).  "
                             "Stored without it."))
        << log.text();
    Records r(dataFiles(store("GOES")).at(0));
    EXPECT_EQ(r.number("numLevels", 0), 2);
    EXPECT_EQ(row<float>(r.id, "temperature", 0, 2), (std::vector<float>{250, 250}));
}

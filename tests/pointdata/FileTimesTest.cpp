// Time-stamp file names: making, parsing and listing them.
#include "dmFileTimes.h"

#include "LogCapture.h"
#include "LogStream.h"
#include "TempTree.h"

#include <gtest/gtest.h>

namespace {

AbsTime utc(int y, int mo, int d, int h, int mi, int s) { return AbsTime(y, mo, d, h, mi, s); }

TEST(FileTimes, MakesNamesWithMinutes)
{
    EXPECT_EQ(dmMakeTimeFileName("/d", utc(2007, 3, 14, 18, 0, 30), "", ""), "/d/20070314_1800");
    EXPECT_EQ(dmMakeTimeFileName("/d", utc(2007, 3, 14, 18, 0, 30), "x", ".nc"),
              "/d/x20070314_1800.nc");
    EXPECT_EQ(dmMakeTimeFileName("/d/", AbsTime(1), "", ""), "/d//19700101_0000");
}

TEST(FileTimes, ParsesStamps)
{
    struct Case {
        const char* text;
        bool ok;
        int32_t seconds;
        const char* message;
    };
    const Case cases[] = {
        {"20070314_1800", true, utc(2007, 3, 14, 18, 0, 0).seconds(), nullptr},
        {"20070314_180045", true, utc(2007, 3, 14, 18, 0, 45).seconds(), nullptr},
        {"20070314_1800.rewrites", true, utc(2007, 3, 14, 18, 0, 0).seconds(), nullptr},
        {"20070314_18", false, 0, nullptr},
        {"19700101_000001", true, 1, nullptr},
        {"19700101_0000", false, 0, "Unreasonable time stamp 19700101_0000"},
        {"20380119_0314", true, 2147483640, nullptr},
        {"20380119_031407", true, 2147483647, nullptr},
        {"20380119_031408", false, 0, "Unreasonable time stamp 20380119_031408"},
        {"20380119_0315", false, 0, "Unreasonable time stamp 20380119_0315"},
        {"20390101_0000", false, 0, "Unreasonable time stamp 20390101_0000"},
        {"20381301_0000", false, 0, "For AbsTime 20381301_0000 2038 13 1 0 0"},
        {"20070230_1200", false, 0, "For AbsTime 20070230_1200 2007 2 30 12 0"},
        {"20071301_120059", false, 0, "For AbsTime 20071301_120059 2007 13 1 12 0 59"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        LogCapture log;
        AbsTime t(99);
        EXPECT_EQ(dmParseTimeStamp(c.text, t), c.ok);
        EXPECT_EQ(t.seconds(), c.seconds);
        if (c.message)
            EXPECT_TRUE(log.contains(c.message)) << log.text();
        else
            EXPECT_EQ(log.text(), "");
    }
    // Every year of the accepted span (2038 to its first days), and none
    // beside it.
    for (int year = 1970; year <= 2039; ++year) {
        LogCapture log;
        AbsTime t;
        std::string stamp = std::to_string(year) + "0104_0600";
        EXPECT_EQ(dmParseTimeStamp(stamp.c_str(), t), year >= 1971 && year <= 2038) << stamp;
        if (year >= 1971 && year <= 2038) {
            EXPECT_EQ(t.seconds(), utc(year, 1, 4, 6, 0, 0).seconds()) << stamp;
        }
    }
    dmFileNameSeconds = true;
    AbsTime t;
    EXPECT_FALSE(dmParseTimeStamp("20070314_1800", t));
    EXPECT_TRUE(dmParseTimeStamp("20070314_180001", t));
    dmFileNameSeconds = false;
}

TEST(FileTimes, ReadsTheTimeOfAPath)
{
    AbsTime t;
    EXPECT_TRUE(dmFileNameTime("/a/b/20070314_1800", t));
    EXPECT_EQ(t, utc(2007, 3, 14, 18, 0, 0));
    EXPECT_TRUE(dmFileNameTime("/a/b/pre20070314_1900.nc", t));
    EXPECT_EQ(t, utc(2007, 3, 14, 19, 0, 0));
    LogCapture log;
    t = AbsTime(5);
    EXPECT_FALSE(dmFileNameTime("/a/b/template", t));
    EXPECT_FALSE(dmFileNameTime("", t));
    EXPECT_EQ(t.seconds(), 5);
    EXPECT_FALSE(dmFileNameTime("/a/b/x_20070399_1800", t));
    EXPECT_EQ(log.count("Invalid QEV data file time string"), 3);
}

TEST(FileTimes, ListsTheTimesOfADirectoryNewestFirst)
{
    TempTree tree;
    for (const char* name : {"template", "template.override", "20070314_1800", "20070314_1900",
                             "20070314_1900.rewrites", "20070314_190000", ".20070314_2000",
                             "20070314_180000.123", "20070314_17000x.123"})
        tree.write(std::string("d/") + name, "");
    SeqOf<AbsTime>* times = dmFileTimes(tree.path("d").c_str(), "", "");
    ASSERT_EQ(times->length(), 4);
    EXPECT_EQ((*times)[0], utc(2007, 3, 14, 19, 0, 0));
    EXPECT_EQ((*times)[1], utc(2007, 3, 14, 19, 0, 0));
    EXPECT_EQ((*times)[2], utc(2007, 3, 14, 18, 0, 0));
    EXPECT_EQ((*times)[3], utc(2007, 3, 14, 18, 0, 0));
    delete times;

    for (const char* name : {"x20070101_0000.nc", "x20070102_000000.nc", "x20061231_2300.nc",
                             "x20070103_0000.spi"})
        tree.write(std::string("p/") + name, "");
    times = dmFileTimes(tree.path("p").c_str(), "x", ".nc");
    ASSERT_EQ(times->length(), 3);
    EXPECT_EQ((*times)[0], utc(2007, 1, 2, 0, 0, 0));
    EXPECT_EQ((*times)[2], utc(2006, 12, 31, 23, 0, 0));
    delete times;

    LogStream::setFilter("dmDataAccessFns", LogStream::TTY, LogStream::DEBUG, true);
    LogCapture log;
    times = dmFileTimes(tree.path("missing").c_str(), "", "");
    EXPECT_EQ(times->length(), 0);
    EXPECT_TRUE(log.contains("directory length = 0"));
    delete times;
    LogStream::setFilter("dmDataAccessFns", LogStream::TTY, LogStream::DEBUG, false);
}

} // namespace

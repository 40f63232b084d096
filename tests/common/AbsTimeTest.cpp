#include "AbsTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "LogCapture.h"
#include "TextString.h"

namespace {

const char* const improper = "Improper time values for AbsTime::AbsTime()";

// TZ set for the life of the object (the tests run without TZ).
struct ZoneSetting {
    explicit ZoneSetting(const char* zone) { setenv("TZ", zone, 1), tzset(); }
    ~ZoneSetting() { unsetenv("TZ"), tzset(); }
};

} // namespace

TEST(AbsTimeFields, WidensTwoDigitYearsChecksEveryFieldAndRefusesTimesPast2038)
{
    EXPECT_EQ(AbsTime(99, 12, 31, 23, 59, 59).seconds(), 946684799);
    EXPECT_EQ(AbsTime(0, 1, 1, 0, 0, 0).seconds(), 946684800);
    EXPECT_EQ(AbsTime(100, 1, 1, 0, 0, 0).seconds(), 946684800);
    EXPECT_EQ(AbsTime(2000, 2, 29, 0, 0, 0).seconds(), 951782400);
    EXPECT_EQ(AbsTime(2038, 1, 19, 3, 14, 7), AbsTime::maxFutureTime());
    const struct {
        int year, month, day, hour, minute, second;
    } refused[] = {{50, 1, 1, 0, 0, 0},  // neither widened nor in range
                   {1970, 1, 1, 0, 0, 60},     {1970, 1, 1, 24, 0, 0},
                   {1970, 13, 1, 0, 0, 0},     {-99999, 1, 1, 0, 0, 0},  // the BUFR missing value
                   {2001, 2, 29, 0, 0, 0},     {2038, 1, 19, 3, 14, 8},
                   {2038, 12, 31, 23, 59, 59}};
    for (const auto& f : refused) {
        LogCapture log;
        EXPECT_EQ(AbsTime(f.year, f.month, f.day, f.hour, f.minute, f.second).seconds(), 0);
        EXPECT_EQ(log.count(improper), 1) << f.year << "-" << f.month << "-" << f.day;
        // The check of fields from outside tells a time past the last one
        // held from fields that make no time, and logs nothing.
        const std::string logged = log.text();
        const int64_t s =
            AbsTime::calendarSeconds(f.year, f.month, f.day, f.hour, f.minute, f.second);
        EXPECT_EQ(s > INT32_MAX, f.year == 2038) << f.year << "-" << f.month << "-" << f.day;
        EXPECT_EQ(s == -1, f.year != 2038);
        EXPECT_EQ(log.text(), logged);
    }
    EXPECT_EQ(AbsTime::calendarSeconds(2038, 1, 19, 3, 14, 7), INT32_MAX);
    EXPECT_EQ(AbsTime::calendarSeconds(2038, 1, 19, 3, 14, 8), int64_t(INT32_MAX) + 1);
    EXPECT_EQ(AbsTime::secondsSince1970(2106, 2, 7, 6, 28, 16), int64_t(1) << 32);

    EXPECT_EQ(AbsTime::daysInMonth(2, 1900), 28);
    EXPECT_EQ(AbsTime::daysInMonth(2, 2100), 28);  // Gregorian beyond 2038 too
    LogCapture log;
    EXPECT_EQ(AbsTime::daysInMonth(13, 2000), 0);
    EXPECT_EQ(log.count("daysInMonth supplied with bad month number"), 1);
}

TEST(AbsTimeText, ParsesAsUtcInEveryZoneIgnoresTrailingTextAndRefusesWhatDoesNotFit)
{
    for (const char* zone : {"UTC", "NZST-12NZDT"}) {
        ZoneSetting setting(zone);
        EXPECT_EQ(AbsTime("20060305_1230", "%Y%m%d_%H%M").seconds(), 1141561800) << zone;
        EXPECT_EQ(AbsTime("2006-07-01 00:00:05", "%Y-%m-%d %H:%M:%S").seconds(), 1151712005)
            << zone;
        EXPECT_STREQ(AbsTime(1141561800).toString("%h %d %y %T GMT").c_str(),
                     "Mar 05 06 12:30:00 GMT")
            << zone;
    }

    LogCapture log;
    EXPECT_EQ(AbsTime("20060305_1230.nc", "%Y%m%d_%H%M").seconds(), 1141561800);
    EXPECT_EQ(AbsTime("20380119_0314", "%Y%m%d_%H%M").seconds(), 2147483640);
    EXPECT_EQ(AbsTime("19691231_2359", "%Y%m%d_%H%M").seconds(), -60);
    EXPECT_EQ(log.text(), "");

    EXPECT_EQ(AbsTime("2006x0305", "%Y%m%d").seconds(), 0);
    EXPECT_TRUE(log.contains("AbsTime::AbsTime(): strptime failed. str:2006x0305, fmt:%Y%m%d"));
    EXPECT_EQ(AbsTime("20380119_0315", "%Y%m%d_%H%M").seconds(), 0);
    EXPECT_EQ(AbsTime("12:30", "%H:%M").seconds(), 0);  // the year 1900
    EXPECT_EQ(log.count("PROBLEM: " + std::string(improper)), 2);
}

TEST(AbsTimeCalendar, FieldsFormattingAndSaturatingArithmetic)
{
    EXPECT_EQ(AbsTime().dayOfWeek(), 4);
    const AbsTime t(2008, 12, 31, 23, 58, 57);
    EXPECT_EQ(t.dayOfYear(), 366);
    EXPECT_EQ(t.dayOfWeek(), 3);
    LogCapture log;
    EXPECT_EQ(t.toString("").length(), 0);
    EXPECT_EQ(t.toString(std::string(200, 'x').c_str()).length(), 0);  // no room for the NUL
    EXPECT_EQ(log.count("AbsTime string formatting problem, empty string returned"), 2);
    EXPECT_EQ(t.toString(std::string(199, 'x').c_str()).length(), 199);

    EXPECT_EQ(AbsTime(1030) - AbsTime(1000), 30);
    EXPECT_EQ((AbsTime(1000) - 2000).seconds(), -1000);
    EXPECT_EQ(AbsTime::maxFutureTime() + 1, AbsTime::maxFutureTime());
    EXPECT_EQ(AbsTime::maxFutureTime() - AbsTime(-10), INT32_MAX);
    EXPECT_EQ(AbsTime::fromTimeT(time_t(INT32_MAX) + 100), AbsTime::maxFutureTime());
}

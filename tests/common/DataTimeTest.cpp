#include "DataTime.h"

#include <gtest/gtest.h>

#include <string>

#include "Set.h"
#include "TextString.h"

namespace {

// 2006-03-05 12:30:00 UTC, a Sunday.
const int32_t march5 = 1141561800;

// A data time with only reference time and forecast period set.
DataTime timeAt(int32_t ref, long fcst)
{
    DataTime t{AbsTime(ref)};
    if (fcst != 0)
        t.setFcstPeriod(fcst);
    return t;
}

// Restores the process-wide compare modes after a test.
struct CompareModes {
    CompareModes(int primary, int secondary) { DataTime::setCompareMode(primary, secondary); }
    ~CompareModes() { DataTime::setCompareMode(2, 0); }
};

std::string text(const DataTime& t) { return t.text().c_str(); }

}  // namespace

TEST(DataTime, SettersMoveTheValidTimeThatFollowsATimeAndTheOffsetAppliesOnce)
{
    const AbsTime t(march5);
    DataTime fcst(t);
    fcst.setFcstPeriod(21600);
    EXPECT_EQ(fcst.flags(), 0x700u);
    EXPECT_EQ(fcst.validPeriod(), TimeRange(t + 21600, t + 21600));

    // With only the second time followed, the period counts from it.
    DataTime second(t);
    second.setRefTime(t + 60);
    EXPECT_EQ(second.flags(), 0x2200u);
    second.setFcstPeriod(600);
    EXPECT_EQ(second.validPeriod().start(), t + 600);
    // Neither followed any more: setting the second time marks the valid
    // period as given, and a period leaves it alone.
    second.setSecondTime(t);
    second.setFcstPeriod(1200);
    EXPECT_EQ(second.flags(), 0x2c00u);
    EXPECT_EQ(second.validPeriod().start(), t + 600);
    DataTime given(t);
    given.setValidPeriod(t, t + 3600, true);
    given.setKey(7);
    EXPECT_EQ(given.flags(), 0x1800u);

    DataTime offset(t);
    offset.applyOffset(60, 9);
    offset.applyOffset(60, 10);
    EXPECT_EQ(offset.refTime(), t + 60);
    EXPECT_EQ(offset.key(), 9u);
    EXPECT_EQ(offset.flags(), 0x3208u);
    DataTime plain(t);
    plain.applyOffset(0, 0);
    EXPECT_EQ(plain.flags(), 0x308u);
    EXPECT_NE(plain, DataTime(t));  // the 0x8 bit counts
}

TEST(DataTime, EqualityIgnoresKeySecondTimeAndOtherFlags)
{
    const AbsTime t(march5);
    EXPECT_EQ(DataTime(t), DataTime(t, 0, TimeRange(t, t), t + 5, 5, 0x1300));
    EXPECT_EQ(DataTime(AbsTime(0), 5, TimeRange(), AbsTime(9), 1, 0x700), DataTime());
    EXPECT_EQ(DataTime(AbsTime(1), 60, TimeRange(), AbsTime(), 0, 0x700), DataTime(AbsTime(1)));
    EXPECT_NE(timeAt(march5, 60), timeAt(march5, 120));
    // Valid periods: both invalid, or both valid with the same ends.
    DataTime a(t), b(t);
    a.setValidPeriod(t, t + 60, true);
    EXPECT_NE(a, b);
    b.setValidPeriod(t, t + 60, true);
    EXPECT_EQ(a, b);
}

TEST(DataTime, OrdersByTheProcessWideCompareModes)
{
    // Initial modes: valid time, then reference time.
    EXPECT_TRUE(timeAt(120, 0) < timeAt(100, 50));
    EXPECT_TRUE(timeAt(100, 20) < timeAt(110, 10));
    EXPECT_TRUE(timeAt(110, 10) > timeAt(100, 20));
    // The valid time is not cut to 32 bits.
    EXPECT_TRUE(timeAt(0x7fffff00, 0) < timeAt(0x7fffff00, 0x1000));
    {
        CompareModes modes(0, 1);
        // A set sorted under these modes lists reference time, then period.
        Set<DataTime> times;
        for (const DataTime& t : {timeAt(200, 0), timeAt(100, 60), timeAt(100, 30),
                                  timeAt(200, 0), timeAt(-100, 0)})
            times.insert(t);
        times.sort();
        ASSERT_EQ(times.count(), 4);
        EXPECT_TRUE(times[0].refTime().seconds() == -100 && times[1].fcstPeriod() == 30 &&
                    times[2].fcstPeriod() == 60 && times[3].refTime().seconds() == 200);
    }
    CompareModes modes(7, 9);  // modes that order by nothing
    EXPECT_FALSE(timeAt(100, 0) < timeAt(200, 0) || timeAt(100, 0) > timeAt(200, 0));
}

TEST(DataTime, TextAndDisplayForms)
{
    const AbsTime t(march5);
    EXPECT_EQ(text(DataTime(t)), "3/5-12:30");
    EXPECT_EQ(text(DataTime(t, 0, TimeRange(t, t), t, 7, 0x1300)), "3/5-12:30 k7 u1300");
    EXPECT_EQ(text(DataTime()), "DataTime::Null");
    EXPECT_EQ(text(DataTime(AbsTime(1))), "DataTime::Static");
    DataTime f = timeAt(march5 + 5, 0);
    f.setFcstPeriod(5400);
    EXPECT_EQ(text(f), "3/5-12:30:05 f1:30 u700");
    f.setValidPeriod(t, t + 3600, true);
    f.setSecondTime(t + 65);
    EXPECT_EQ(text(f), "3/5-12:30:05 f1:30 v(-5:3595) a12:31:05 u2c00");
    DataTime follows(t);
    follows.setRefTime(t);
    EXPECT_EQ(text(follows), "3/5-12:30 v> a12:30 u2200");

    // flag 0x4 clear: the valid period's end, less the period, is shown.
    DataTime six(t);
    six.setFcstPeriod(21600);
    EXPECT_STREQ(six.longLabel().c_str(), "12:30Z Sun 05-Mar-06");
    EXPECT_STREQ(six.dayHourFcstText().c_str(), "05.1230 6HR");
    EXPECT_STREQ(six.hourWeekdayText().c_str(), "18:30Z Sun");
    EXPECT_STREQ(six.forecastLabel().c_str(), "05.1230   6HR Sun 18:30Z 05-Mar-06 ");
    six.setValidPeriod(t, t + 21600, true);
    EXPECT_STREQ(six.forecastLabel().c_str(), "05.1230   6HR 6hrs Endg Sun 18:30Z 05-Mar-06 ");
    EXPECT_STREQ(DataTime().longLabel().c_str(), "");
    const TimeRange day(AbsTime(march5), AbsTime(march5 + 5400));
    EXPECT_STREQ(DataTime::periodText(5405).c_str(), "  1:30:05");
    EXPECT_STREQ(DataTime::periodText(5400, &day).c_str(),
                 "  1:30(Mar 05 06 12:30:00 GMT, Mar 05 06 14:00:00 GMT)");

    // The plain form loses its seconds and gains its flags.
    const AbsTime late(march5 + 59);
    const DataTime d = DataTime::fromPlainForm(late, 3600, TimeRange(late, late + 60), late - 1);
    EXPECT_TRUE(d.refTime() == t && d.secondTime() == t && d.validPeriod().end() == t + 60);
    EXPECT_EQ(d.flags(), 0x2c00u);
    EXPECT_EQ(DataTime::fromPlainForm(AbsTime(1), 60, TimeRange(), late).flags(), 0x300u);
}

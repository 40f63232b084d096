#include "TimeRange.h"

#include <gtest/gtest.h>

#include "TextString.h"

namespace {

TimeRange range(int32_t a, int32_t b)
{
    return TimeRange(AbsTime(a), AbsTime(b));
}

}  // namespace

TEST(TimeRange, OrdersItsEndsAndIsValidOnlyWhenTheyDiffer)
{
    EXPECT_EQ(range(10, 20), range(20, 10));
    EXPECT_EQ(range(20, 10).start().seconds(), 10);
    EXPECT_TRUE(range(10, 20).valid());
    EXPECT_FALSE(range(10, 10).valid());
    // A negative duration ends at the start time.
    EXPECT_EQ(TimeRange(AbsTime(100), int32_t(-30)), range(70, 100));
    EXPECT_EQ(TimeRange(AbsTime(100), int32_t(30)), range(100, 130));
    EXPECT_EQ(TimeRange::allTime(), range(0, 0x7fffffff));

    EXPECT_TRUE(range(10, 20).contains(AbsTime(10)));
    EXPECT_FALSE(range(10, 20).contains(AbsTime(20)));
    EXPECT_TRUE(range(10, 10).contains(AbsTime(10)));

    const struct {
        int32_t seconds;
        const char* text;
    } cases[] = {{90061, "1d 1h 1m 1s"}, {86400, "1d"}, {86430, "1d 0h 0m 30s"},
                 {60, "0h 1m"},          {0, ""}};
    for (const auto& c : cases)
        EXPECT_STREQ(TimeRange(AbsTime(1000), c.seconds).toString().c_str(), c.text)
            << c.seconds;
}

TEST(TimeRange, CombineNeedsOverlappingOrTouchingValidRangesGapDisjointOnes)
{
    EXPECT_EQ(range(10, 20).combine(range(0, 10)), range(0, 20));
    EXPECT_EQ(range(0, 15).combine(range(5, 20)), range(0, 20));
    EXPECT_EQ(range(5, 20).combine(range(0, 30)), range(0, 30));
    EXPECT_EQ(range(0, 10).combine(range(11, 20)), TimeRange());
    EXPECT_EQ(range(0, 10).combine(range(5, 5)), TimeRange());

    EXPECT_EQ(range(0, 10).gap(range(20, 30)), range(10, 20));
    EXPECT_EQ(range(20, 30).gap(range(0, 10)), range(10, 20));
    EXPECT_EQ(range(0, 10).gap(range(10, 20)), TimeRange());
    EXPECT_EQ(range(0, 15).gap(range(10, 20)), TimeRange());
    EXPECT_EQ(range(0, 10).gap(TimeRange()), TimeRange());
}

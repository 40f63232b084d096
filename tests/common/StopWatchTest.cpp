#include "StopWatch.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "LogCapture.h"

TEST(StopWatch, KeepsTheLastIntervalAndTheTotalsAndRefusesASecondStop)
{
    StopWatch watch;
    watch.start();
    usleep(20000);
    EXPECT_GE(watch.elapsedWallTime(), 0.019);  // read afresh while running
    watch.stop();
    const double first = watch.elapsedWallTime();
    usleep(5000);
    EXPECT_EQ(watch.elapsedWallTime(), first);
    watch.start();
    watch.stop();
    const double total = watch.totalWallTime();
    EXPECT_DOUBLE_EQ(total, first + watch.elapsedWallTime());

    LogCapture log;
    watch.stop();
    EXPECT_TRUE(log.contains("The timing must be started or restarted \n"));
    EXPECT_EQ(log.count("by the start method before the timing can be stopped."), 1);
    EXPECT_EQ(watch.elapsedWallTime() + watch.elapsedUserTime(), 0.0);
    EXPECT_EQ(watch.count(), 2);
    EXPECT_EQ(watch.totalWallTime(), total);
}

// Measures an interval in wall-clock time and in the process's user and
// system processor time.  Each start/stop pair is one interval; the watch
// keeps the last interval's times, the number of intervals and their total
// wall-clock time.
#ifndef STOPWATCH_H
#define STOPWATCH_H

#include <sys/times.h>

class StopWatch {
public:
    StopWatch();

    // Records the process times and the wall clock; the watch runs.
    void start();
    // Ends the interval and stores its times.  A watch that is not running
    // is logged and its last interval set to zero.
    void stop();

    // While running, the wall-clock seconds since the start (read afresh);
    // otherwise those of the last interval.
    double elapsedWallTime() const;
    double elapsedUserTime() const { return elapsedUser; }
    double elapsedSystemTime() const { return elapsedSystem; }
    double totalWallTime() const { return totalWall; }
    int count() const { return stopCount; }
    bool isRunning() const { return running; }

private:
    // Seconds since 1970 with microseconds as the fraction (gettimeofday).
    static double wallClock();
    // Clock ticks per second, read once for the process.
    static double tickRate();

    double startWall;
    struct tms startTimes;
    double totalWall;
    int stopCount;
    double elapsedWall;
    double elapsedUser;
    double elapsedSystem;
    bool running;
};

#endif

#include "StopWatch.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <ostream>

#include "LogStream.h"

StopWatch::StopWatch()
    : startWall(0.0),
      totalWall(0.0),
      stopCount(0),
      elapsedWall(0.0),
      elapsedUser(0.0),
      elapsedSystem(0.0),
      running(false)
{
    std::memset(&startTimes, 0, sizeof startTimes);
}

double StopWatch::wallClock()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    return double(now.tv_sec) + double(now.tv_usec) / 1e6;
}

double StopWatch::tickRate()
{
    static const double rate = double(sysconf(_SC_CLK_TCK));
    return rate;
}

void StopWatch::start()
{
    times(&startTimes);
    startWall = wallClock();
    running = true;
}

void StopWatch::stop()
{
    if (!running) {
        elapsedWall = elapsedUser = elapsedSystem = 0.0;
        QEV_LOG(LogStream::BUG, "StopWatch")
            << "The timing must be started or restarted \n"
            << "by the start method before the timing can be stopped." << std::endl;
        return;
    }
    running = false;
    struct tms nowTimes;
    times(&nowTimes);
    const double nowWall = wallClock();
    const double rate = tickRate();

    elapsedWall = nowWall - startWall;
    elapsedUser = double(nowTimes.tms_utime - startTimes.tms_utime) / rate;
    elapsedSystem = double(nowTimes.tms_stime - startTimes.tms_stime) / rate;

    ++stopCount;
    totalWall += elapsedWall;
    startWall = 0.0;
}

double StopWatch::elapsedWallTime() const
{
    return running ? wallClock() - startWall : elapsedWall;
}

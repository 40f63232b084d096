// The clock and the pause of the point-data store: the current time in whole
// seconds and a wait of whole seconds.  The store waits on two occasions (one
// second before it reads an unreadable layout stamp again, and one second
// between copying a new data file and giving it its name) and times its
// directory checks by the clock; tests replace both so that they never wait.
// A signal the signal catcher writes into its pipe ends the pause (and is
// handled by the event wait, as always).
#ifndef STORECLOCK_H
#define STORECLOCK_H

#include <cstdint>

class StoreClock {
public:
    typedef int32_t (*NowFunction)();
    typedef void (*PauseFunction)(int seconds);

    // Seconds since 1970 (AbsTime::now unless replaced).
    static int32_t now();
    // Waits the seconds given, or until a signal comes (unless replaced); 0 or
    // less returns at once.
    static void pause(int seconds);
    // Replaces the clock and the pause; null restores the system's.
    static void set(NowFunction now, PauseFunction pause);
};

#endif

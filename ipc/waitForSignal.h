// Pauses that a signal ends: the main thread waits for the time given (or
// for a descriptor) until the signal catcher has written a caught signal
// into its pipe.  The
// signal stays in the pipe for the event wait, which handles it once the
// work at hand is done; meanwhile every later pause ends at once too, so
// that no pause keeps a shutdown waiting.  Main thread only.
#ifndef WAITFORSIGNAL_H
#define WAITFORSIGNAL_H

#include <cstdint>

// Waits up to microseconds; true when a signal ended the wait.  Without a
// signal catcher, the whole time is slept.
bool waitForSignal(int64_t microseconds);

// Waits up to microseconds for poll's events on fd (none for -1), or until
// a signal is in the pipe: 1 when fd is ready (also when a signal came as
// well), 0 when the time passed, -1 when a signal ended the wait first.
// Without a signal catcher only fd is watched.
int waitForDescriptor(int fd, short events, int64_t microseconds);

#endif

// A pause that a signal ends: the main thread waits for the time given or
// until the signal catcher has written a caught signal into its pipe.  The
// signal stays in the pipe for the event wait, which handles it once the
// work at hand is done; meanwhile every later pause ends at once too, so
// that no pause keeps a shutdown waiting.  Main thread only.
#ifndef WAITFORSIGNAL_H
#define WAITFORSIGNAL_H

#include <cstdint>

// Waits up to microseconds; true when a signal ended the wait.  Without a
// signal catcher, the whole time is slept.
bool waitForSignal(int64_t microseconds);

#endif

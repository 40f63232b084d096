// The descriptor wait: one poll over a set of descriptor clients, then the
// handlers of the ready ones, high-priority clients first.
//
// poll, not select: a descriptor of any number can be watched (an fd_set
// holds only descriptors below FD_SETSIZE).  A client whose descriptor is -1
// is skipped, and so is one that is paused (pausedUntil in the future): the
// poll then ends when the first pause does, which counts as handled, so that
// a caller's loop waits again with the client watched.  A descriptor that poll reports invalid fails the wait as a
// bad descriptor fails select.
//
// Handlers run on a snapshot of the set; a client that an earlier handler
// removed from the live set (or deleted), or whose descriptor changed, is
// not handled.  Main thread only.
#ifndef SELECTWRAPPER_H
#define SELECTWRAPPER_H

#include "Set.h"

class DescriptorEventClient;

enum SelectResult {
    SELECT_FAILED = 0,      // logged: PROBLEM "select() fail: " + reason
    SELECT_INTERRUPTED = 1, // a signal arrived
    SELECT_TIMED_OUT = 2,
    SELECT_HANDLED = 3      // descriptors were ready and handled, or a pause ended
};

// timeoutMillis < 0: no limit; 0: one look.
int selectWrapper(Set<DescriptorEventClient*>& clients, int timeoutMillis);

// Whether the client's descriptor is readable now, or becomes readable
// within timeoutMillis (0: a look without waiting); false for descriptor -1,
// or when a signal ends the wait first.
bool waitReadable(DescriptorEventClient* client, int timeoutMillis = 0);

#endif

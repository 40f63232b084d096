// DescriptorEventClient: an object woken when a file descriptor is ready
// (sockets, the listening socket, the signal pipe).
//
// A client enters the EventDispatcher's descriptor sets itself when it is
// ready to be watched (EventDispatcher::addClient) and may leave and
// re-enter them at any time (removeClient / addClient); the base destructor
// takes it out of both sets in any case, so a destroyed client is never
// watched or handled.  Main thread only.
//
// The wait (selectWrapper) asks descriptor(), eventMask() and pausedUntil()
// on every pass, so a client may change its descriptor between passes, or
// stay out of the wait for a while.  High-priority
// clients (isHighPriority() == 1) are handled before the others of the
// same pass.
#ifndef DESCRIPTOREVENTCLIENT_H
#define DESCRIPTOREVENTCLIENT_H

#include <cstdint>

class DescriptorEventClient {
public:
    // Bits of eventMask.
    enum { READABLE = 1, WRITABLE = 2, EXCEPTION = 4 };

    DescriptorEventClient() {}
    DescriptorEventClient(const DescriptorEventClient&) = delete;
    DescriptorEventClient& operator=(const DescriptorEventClient&) = delete;
    virtual ~DescriptorEventClient();

    // The descriptor is ready (for what eventMask asked, or has hung up or
    // failed, which a read then reports).
    virtual void handleEvent() = 0;
    // The descriptor to watch; -1: none, the client is skipped.
    virtual int descriptor() = 0;
    // READABLE, WRITABLE, EXCEPTION or a combination.
    virtual int eventMask() = 0;
    // 1: handled in the first pass; 0: in the second; any other value: never.
    virtual int isHighPriority();
    // A time of monotonicMillis before which the client is not watched; the
    // wait then ends no later than that time.  0 (or a time passed): watched.
    virtual int64_t pausedUntil();
};

#endif

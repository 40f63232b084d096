// The record a socket connection keeps per peer of the messages that were
// handed to a sending thread: what is still queued and what the threads
// have written or failed to write.  The sending threads update it under the
// connection's thread-statistics lock; the statistics report reads it under
// the same lock.
#ifndef THREADSTATREC_H
#define THREADSTATREC_H

#include <cstdint>
#include <ctime>

struct ThreadStatRec {
    uint32_t bytesPending = 0;   // bytes of queued messages not yet finished
    uint32_t bytesFailed = 0;    // bytes left unwritten when a queued message finished
    uint32_t bytesCompleted = 0; // bytes written by sending threads
    int32_t numPending = 0;      // queued messages not yet finished
    time_t lastThreadActivity = 0;
};

#endif

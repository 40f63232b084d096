// ThreadDataSocket: the data socket of this system.  It keeps the main
// thread from waiting for a slow peer: when a direct write in delivery mode
// 0 leaves part of a message unsent, the message goes into the socket's
// queue and a sending thread finishes it and every message queued behind
// it, then ends.  A synchronous send (mode 1) waits for the send lock and
// writes in the calling thread, between two queued messages.
//
// Locks: the queue lock guards the queue, the thread state and the broken
// state; the send lock is held while one message is written (by the
// sending thread or a synchronous send).  The sending thread never holds
// both, so the two threads never wait for each other's lock; the main
// thread takes the queue lock under the send lock when a synchronous write
// re-establishes the connection or a signal handled inside it reaches the
// socket.  The per-peer thread statistics belong to the connection, under
// its own lock.
//
// The sending thread waits for the send lock in short tries, looking at the
// stop flag in between: a synchronous send may never let go of the lock
// when the process ends inside it (a shutdown signal handled during its
// wait deletes the connections, and with them this socket, whose
// destructor joins the thread).
//
// The sending thread writes and nothing else: it never logs, reconnects or
// changes the descriptor.  A peer that takes nothing within the connection
// time-out, or a connection that is lost, ends the message with status 3
// and leaves the socket broken; the messages queued behind it stay unsent.
// The main thread then deals with it on its next send: a lost connection is
// re-established, a silent peer makes the send fail and the socket go.
//
// The queue is bounded: a peer that reads nothing holds at most
// MAX_QUEUED_MESSAGES messages of the process's memory, and MAX_QUEUED_BYTES
// bytes behind the one being written (a longer message still goes when the
// queue is empty).  Beyond that messages are dropped (status DROPPED) and
// counted, with one line as that begins, until the queue has drained to half
// of both bounds or the socket goes: then one line gives the count.
//
// The thread is joinable.  The destructor asks it to stop, wakes a write in
// progress by shutting the sending side down and joins it; messages still
// queued are counted ("N messages were never sent.") and freed.
#ifndef THREADDATASOCKET_H
#define THREADDATASOCKET_H

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "DataSocket.h"
#include "QueueImpl.h"

class ThreadDataSocket : public DataSocket {
public:
    static const int MAX_QUEUED_MESSAGES = 1000;
    static const uint32_t MAX_QUEUED_BYTES = 4u << 20;

    ThreadDataSocket(const IPC_Target& peer, Connection* connection);
    ThreadDataSocket(int fd, Connection* connection, bool orphan);
    ~ThreadDataSocket() override;

    ThreadDataSocket* threadDataSocket() override { return this; }
    bool isBroken() override;
    // Refused (status 3) on a broken socket and when no thread can be made,
    // and dropped (status DROPPED) beyond the bound.
    bool queueMessage(PendingMsg* msg) override;
    void doSyncSend(PendingMsg* msg) override;
    bool isThreadRunning() override { return _threadRunning.load(); }

    // Messages in the queue, the one being written included.
    int queuedCount();

protected:
    bool brokenByLostConnection() override;
    void connectionRenewed() override;
    void messageWritten() override;

private:
    enum BrokenState { NOT_BROKEN, PEER_SILENT, CONNECTION_LOST };

    static void* threadMain(void* socket);
    // The thread body: writes the messages from the head of the queue on.
    void doThreadSend(PendingMsg* first);
    // Takes the finished message off the queue; the next one to write, or
    // null when the thread ends.
    PendingMsg* threadCompleted(PendingMsg* finished);
    void updateThreadStats(PendingMsg* msg, bool queued);
    // Takes every queued message off, counted as finished, and frees it;
    // the number dropped.  The caller holds the queue lock.
    int dropQueue();
    void reportNeverSent(int count);
    // Whether a message of that many bytes finds no room.  The caller holds
    // the queue lock.
    bool queueFull(uint32_t bytes);
    // Ends a time of dropped messages with its count.  The caller holds the
    // queue lock.
    void endOverflow(const char* how);

    int _broken = NOT_BROKEN;
    std::mutex _queueLock;
    std::timed_mutex _sendLock;
    QueueImpl<PendingMsg*> _queue;
    uint64_t _queuedBytes = 0;
    // Messages are being dropped, and how many so far.
    bool _overflowing = false;
    unsigned long _dropped = 0;
    pthread_t _thread{};
    bool _threadJoinable = false;  // a thread was started and not yet joined (main thread only)
    std::atomic<bool> _threadRunning{false};
    std::atomic<bool> _stopping{false};
};

#endif

// DataSocket: one TCP connection to a peer process that carries whole
// messages.
//
// Reading: every message starts with its total length as a 4-byte XDR
// unsigned; the socket collects the length word and then the rest over as
// many readiness events as it takes (never waiting for bytes that have not
// arrived) and hands the complete message to Dispatcher::doDispatch.  A
// length below the shortest header (44 bytes) or above MAX_MESSAGE, a
// message that cannot be allocated, a failed read or an end of file in the
// middle of a message closes the connection; so does the peer closing it.
// An accepted socket learns its peer from the sender of its first message.
//
// The buffer of a message being read grows with what arrives (FIRST_CHUNK
// bytes first, then twice as many at each step, up to the announced
// length), so that an announcement alone reserves little.  The buffers of
// all sockets together stay within bufferTotal(); a socket whose message
// would pass it is closed with a PROBLEM line.
//
// Connecting (to a new peer, or again after the connection was lost) never
// blocks: the main thread waits at most CONNECT_WAIT_SECONDS for the peer
// to take the connection, and less when a signal arrives meanwhile (the
// signal pipe ends the wait, and the signal is handled at the next event
// wait), so that a peer that listens but never accepts holds no decoder
// and no shutdown.
//
// Writing: sendMessage writes a message directly when it can; when bytes
// remain, delivery mode 0 hands it to the sending thread of the concrete
// socket (ThreadDataSocket), mode 1 finishes it in the calling thread,
// bounded by the connection time-out ("SocketConnectionTimeout.numMins").
//
// The descriptor is blocking: setNonBlocking(false) makes it so where the
// socket is made, whatever flags accept() handed on from the non-blocking
// listening socket; the sending thread's writes rely on it.
// The reads, the direct write and the peek of isThereDataToRead are
// non-blocking per call (MSG_DONTWAIT) instead of by toggling the
// descriptor's flag, which the file description shares with a sending
// thread writing at the same time.
//
// The class is abstract: ThreadDataSocket supplies the queue, the locks and
// the broken state.  Main thread only, except where a member says that the
// sending thread uses it.
#ifndef DATASOCKET_H
#define DATASOCKET_H

#include <cstdint>
#include <ctime>
#include <iosfwd>

#include "DescriptorEventClient.h"
#include "IPC_Target.h"

class Connection;
class PendingMsg;
class SocketConnection;
class ThreadDataSocket;

class DataSocket : public DescriptorEventClient {
public:
    // The largest message a peer may announce.
    static const uint32_t MAX_MESSAGE = 256u << 20;
    // The first buffer of a message being read (the whole message when it
    // is shorter).
    static constexpr uint32_t FIRST_CHUNK = 64u << 10;
    // The bound of bufferTotal when the configuration sets none.
    static constexpr uint64_t DEFAULT_BUFFER_TOTAL = 512ull << 20;

    // The longest wait for a peer to take a connection.
    static const int CONNECT_WAIT_SECONDS = 5;

    // Connects to the peer; the descriptor is -1 when socket() or connect()
    // fails, or the peer takes no connection within CONNECT_WAIT_SECONDS.
    DataSocket(const IPC_Target& peer, Connection* connection);
    // A descriptor that is already connected: an accepted one (orphan
    // false) or one left over after a reconnect (orphan true), whose peer
    // is not known.
    DataSocket(int fd, Connection* connection, bool orphan);
    ~DataSocket() override;

    // The descriptor is readable: reads what has arrived of the message.
    void handleEvent() override;
    int descriptor() override { return _fd; }
    int eventMask() override { return READABLE; }
    // The priority of the owning connection.
    int isHighPriority() override;

    virtual ThreadDataSocket* threadDataSocket() { return nullptr; }
    // The concrete socket's queue and locks.
    virtual bool isBroken() = 0;
    // True when the message is queued (the sending thread owns it now).
    virtual bool queueMessage(PendingMsg* msg) = 0;
    // Writes the message in the calling thread, bounded by the time-out.
    virtual void doSyncSend(PendingMsg* msg) = 0;
    // Safe in any thread without a lock.
    virtual bool isThreadRunning() = 0;

    // Sends one message and deletes it unless the sending thread took it.
    // Results: 0 queued, 1 complete, 2 error, 3 broken, 4 dropped (the queue
    // is full; not counted as sent).  A socket whose
    // sending thread lost the connection is reconnected first; one whose
    // peer stopped taking data stays broken (3).
    int sendMessage(int deliveryMode, PendingMsg* msg);
    // A new connection to the peer in place of the current one; the old
    // descriptor goes to an orphan socket when it still has data to read.
    // Refused while a sending thread runs: the descriptor never changes
    // under it.
    bool reconnect(bool quiet);
    // Whether a message is partly read or a byte waits on the descriptor.
    bool isThereDataToRead();
    // Neither a sending thread nor data to read.
    bool canClose();
    // The connection is established and the peer has not closed it.
    bool isAlive();
    // Sets or clears O_NONBLOCK on the descriptor; false (logged, BUG) when
    // fcntl fails.
    bool setNonBlocking(bool nonBlocking);
    // Polls for writability and writes until the message is done, failed
    // or the time-out passed without progress.  fromThread: the sending
    // thread's call (quiet; no signal handling, no reconnect).
    void syncWrite(PendingMsg* msg, bool fromThread = false);

    const IPC_Target& peer() const { return _peer; }
    Connection* connection() const { return _connection; }
    SocketConnection* socketConnection() const;
    int64_t lastUseTicks() const { return _lastUseTicks; }
    // Message counts and byte totals 0, smallest sizes at their maximum.
    void resetStatistics();

    // The connects of this process that no peer took within
    // CONNECT_WAIT_SECONDS, so far.  Main thread.
    static unsigned long timedOutConnects();

    // The shortest acceptable message: a header with the null target.
    static uint32_t shortestMessage();
    // The most bytes the buffers of messages being read take over all
    // sockets: "SocketBufferTotal.numBytes" when at least 1, else
    // DEFAULT_BUFFER_TOTAL.
    static uint64_t bufferTotal();
    // The bytes those buffers take now.
    static uint64_t bufferedBytes();
    // The connection time-out in seconds: "SocketConnectionTimeout.numMins"
    // × 60 when at least 1, else 180; read once per process.
    static int connectionTimeout();
    // Replaces the configured time-out (seconds above 0) for the rest of
    // the process: for tools and tests that cannot wait minutes.
    static void setConnectionTimeout(int seconds);

    friend std::ostream& operator<<(std::ostream& out, const DataSocket& socket);

protected:
    // Whether the socket broke because the sending thread lost the
    // connection (which a reconnect repairs).
    virtual bool brokenByLostConnection() = 0;
    // A reconnect succeeded: the concrete socket forgets its broken state.
    virtual void connectionRenewed() = 0;
    // A message was written whole without the queue (which is empty).
    virtual void messageWritten() = 0;

private:
    enum ReadResult { READ_AGAIN = -1, READ_FAILED = -2 };

    void initialize();
    void setBufferSizes();
    void touch();
    // Counts a message of that many bytes in the sent statistics.
    void countSent(uint32_t bytes);
    // One non-blocking read; a count, 0 at end of file, READ_AGAIN or
    // READ_FAILED (logged).
    long readSocket(char* buffer, uint32_t n);
    // Reads the length word or the body; false when the socket is gone.
    bool readLength();
    // Gives the message being read a buffer of capacity bytes, keeping what
    // it holds; false when that would pass bufferTotal or no memory is left:
    // then the socket is closed and deleted (logged).
    bool growBuffer(uint32_t capacity);
    // Frees the read buffer and its share of the total.
    void freeReadBuffer();
    void readBody();
    void messageComplete();
    void learnPeer();
    // Logs the header problem and closes; the socket is deleted.
    void closeForBadHeader();
    void closeAndRemove();
    // Hands the descriptor, with the message partly read on it, to a new
    // orphan socket.
    void adoptOrphan(int fd);
    void takeReadState(DataSocket& from);

    IPC_Target _peer;
    int _fd;
    Connection* _connection;
    int64_t _lastUseTicks;
    time_t _lastUsed;
    time_t _created;
    char* _readBuffer;
    // The bytes _readBuffer holds room for.
    uint32_t _capacity;
    unsigned char _lengthWord[4];
    uint32_t _expectedLength;
    uint32_t _bytesRead;
    uint32_t _messagesSent;
    uint32_t _messagesReceived;
    uint32_t _bytesSent;
    uint32_t _bytesReceived;
    uint32_t _smallestSent;
    uint32_t _largestSent;
    uint32_t _smallestReceived;
    uint32_t _largestReceived;
    bool _accepted;
    bool _orphan;
    bool _closed;
    // Points to a flag of handleEvent while it dispatches: set when the
    // socket is deleted meanwhile.
    bool* _deletedFlag;
};

#endif

// Connection: the abstract transport of the message layer.
//
// Offers:
// - the connection table: every connection enters one process-wide set when
//   it is made and leaves it when destroyed (connections()); a message goes
//   through the connection of its priority (connectionFor: 0 normal, 1 high);
// - the concrete kind's hooks: the transport installs a maker
//   (setMaker), with which connectionFor creates the connection of a
//   priority that does not exist yet, and its part of the statistics report
//   (setStatReporter); the socket layer installs both;
// - the process's own target (myTarget, storeMyTarget, setMyTarget): the
//   sender written into every message header;
// - the event wait (waitForEvent) over the EventDispatcher's wait set, with
//   the wait state the data sockets read and set: the message-arrived flag
//   and the filter target;
// - the statistics report (statReport, on SIGURG) and closeAll, the exit
//   handler that deletes every connection.
//
// Everything here belongs to the main thread; sending threads never touch
// the table, the own target or the wait state.
#ifndef CONNECTION_H
#define CONNECTION_H

#include <ctime>
#include <iosfwd>

#include "Set.h"

class IPC_Target;
class SocketConnection;
class TextString;

class Connection {
public:
    enum Priority { NORMAL_PRIORITY = 0, HIGH_PRIORITY = 1 };

    // Results of waitForEvent.
    enum WaitResult {
        WAIT_MESSAGE = 0,  // a message was dispatched (from the filter target, when given)
        WAIT_TIMEOUT = -1, // the time ran out, or a signal interrupted the wait
        WAIT_HOPELESS = -2 // the wait failed
    };

    // The result of send (and of ParameterizedMsg::send) for a message
    // dropped because the peer has not read the messages queued for it (the
    // socket layer logs when that begins and ends); the others are 0 sent or
    // queued, -1 target not available, -2 error.
    enum { QUEUE_FULL = -3 };

    typedef Connection* (*Maker)(int priority);
    typedef void (*StatReporter)(std::ostream& out, const Set<Connection*>& connections);

    // Stores the priority and enters the table (made on first need); the
    // first construction in the process registers closeAll with atexit.
    explicit Connection(int priority);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    // Leaves the table; the last one out deletes it.
    virtual ~Connection();

    int priority() const { return _priority; }

    virtual bool claimTarget(const IPC_Target& target) = 0;
    virtual bool isConnected(const IPC_Target& target) = 0;
    // 0 sent or queued, -1 target not available, -2 error, QUEUE_FULL.  Owns
    // the buffer (delete[]) from the call on.
    virtual int send(const IPC_Target& to, int deliveryMode, int priority, char* buffer) = 0;
    // Downcast hook: the object itself in SocketConnection, null here.
    virtual SocketConnection* socketConnection();

    // The table, or an empty set while no connection exists.
    static const Set<Connection*>& connections();
    // The first connection of that priority in table order; when none
    // exists, one made by the installed maker.  Null only when no maker is
    // installed (logged, BUG).
    static Connection* connectionFor(int priority);
    static void setMaker(Maker maker);
    static void setStatReporter(StatReporter reporter);

    // The stored own target; before one is stored, a line on standard error
    // and the null target.
    static const IPC_Target& myTarget();
    // Whether an own target is stored.
    static bool hasMyTarget();
    static void storeMyTarget(const IPC_Target& target);
    // Refuses an address target; warns about a named target of another
    // host; stores the target when every connection claims it.
    static void setMyTarget(const IPC_Target& target);
    static bool isConnectedAnywhere(const IPC_Target& target);

    // Waits for a message.  timeoutTenths: -1 one look, 0 no limit, n > 0 at
    // most n tenths of a second in total (other negatives count as -1).
    // from: only messages from that target end the wait, and sockets of
    // other known peers are not read meanwhile; null for any message.
    static int waitForEvent(int timeoutTenths, const IPC_Target* from);

    // The wait state, for the data sockets.  A socket that dispatched a
    // message calls noteMessage with its peer: it sets the message-arrived
    // flag, unless a filter target is set and differs from the peer, which
    // clears it.
    static void noteMessage(const IPC_Target& peer);
    static bool messageArrived();
    // The filter target of the wait in progress, or null.
    static const IPC_Target* filterTarget();
    // Whether a socket of this peer should be left unread now: a filter is
    // set, the peer is known (not null) and differs from it.
    static bool filteredOut(const IPC_Target& peer);
    // A socket of the filter target that goes away cancels the filter.
    static void clearFilter();

    // Logs (DIAG) "IPC STATISTICS for <own target> from <last> to <now>"
    // with the transport's part of the report.
    static void statReport();
    // A time as the statistics report writes it: "%h %d %y %T GMT".
    static TextString reportTime(time_t t);
    // Deletes every connection (a copy of the table is walked).
    static void closeAll();

private:
    int _priority;
};

#endif

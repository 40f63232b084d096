// SocketConnection: the Connection that carries messages over TCP.
//
// It keeps one data socket per peer process (the table by target), opens a
// socket on the first send to a new peer, checks an existing socket before
// each send and re-establishes it when the peer has gone, and closes the
// least recently used idle socket when descriptors run short (makeRoom).
// Sockets whose peer is not known yet (accepted ones before their first
// message, orphaned descriptors) and second sockets of a known peer live
// among the other sockets.  The normal-priority connection also owns the
// listening socket, which fixes the process's own target.  Over all
// connections the process keeps at most connectionLimit() data sockets and
// a third of its descriptors as watched clients (roomForConnection).
//
// It keeps the records of the statistics report: the terminated
// connections since the last report (at most 100, oldest first) and, per
// peer, the messages handed to sending threads.  The thread statistics are
// the only state the sending threads touch; one lock guards them, taken by
// the threads and by the report.  Everything else is main thread only.
#ifndef SOCKETCONNECTION_H
#define SOCKETCONNECTION_H

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <vector>

#include "AbsTime.h"
#include "Connection.h"
#include "Dict.h"
#include "IPC_Target.h"
#include "Set.h"
#include "ThreadStatRec.h"

class AcceptSocket;
class DataSocket;

class SocketConnection : public Connection {
public:
    enum { MAX_TERMINATED = 100 };

    // Priority 0 also makes the listening socket on a port the system
    // picks, which stores the process's own target; the field stays null
    // when the socket cannot be made.
    explicit SocketConnection(int priority);
    ~SocketConnection() override;

    // Installs this transport in Connection (its maker and its part of the
    // statistics report) and makes the normal-priority connection when
    // there is none.  Part of the message layer's start-up; a second call
    // changes nothing.
    static void initialise();

    // A high-priority connection claims anything.  Otherwise refuses a
    // target where another process listens; else listens on its port.
    bool claimTarget(const IPC_Target& target) override;
    bool isConnected(const IPC_Target& target) override;
    // 0 sent or queued, -1 target not available, -2 error, QUEUE_FULL
    // (dropped); owns the buffer.
    // deliveryMode 0: a sending thread finishes a blocked write; 1: the
    // write is finished here.  The priority is not used.
    int send(const IPC_Target& to, int deliveryMode, int priority, char* buffer) override;
    SocketConnection* socketConnection() override { return this; }

    // A socket of a known peer that has no socket yet goes into the table
    // by target, any other into the other sockets.
    void addSocket(DataSocket* socket);
    // Takes the socket out of the tables (the table-by-target entry only
    // when it is this socket).  recordTermination: lists its peer as
    // terminated and deletes the socket; otherwise the caller keeps it.
    void removeSocket(DataSocket* socket, bool recordTermination);
    // Closes least recently used idle sockets while there is no room for
    // one more connection (roomForConnection).  When no socket can be
    // closed it says so, at most once a second.  anonymousOnly: only sockets
    // whose peer has not named itself are closed, so that a newcomer never
    // displaces a peer the process knows (the listening socket's call).
    static void makeRoom(bool anonymousOnly = false);
    // Whether one more connection keeps the descriptor clients within
    // descriptorLimit and the data sockets within connectionLimit.
    static bool roomForConnection();
    // A third of the descriptors a process may open, read once.
    static long descriptorLimit();
    // The most data sockets the process keeps over all connections:
    // "SocketConnectionLimit.numConnections" when at least 1, else
    // DEFAULT_CONNECTION_LIMIT.
    static int connectionLimit();
    enum { DEFAULT_CONNECTION_LIMIT = 256 };
    // The socket part of Connection::statReport for every socket
    // connection: terminated, active and thread-using connections.  Empties
    // the terminated lists and resets the sockets' counters.
    static void statReport(std::ostream& out, const Set<Connection*>& connections);

    // For the sending threads: one queued (queued) or finished message of
    // length bytes with remaining bytes unwritten, to that peer.
    void changeThreadStats(const IPC_Target& peer, uint32_t length, uint32_t remaining,
                           bool queued);

    // Whether a socket of the peer, in any socket connection, holds
    // messages that its sending thread has not finished.
    static bool isQueueing(const IPC_Target& peer);
    // The socket of the table by target for the peer, or null.
    DataSocket* socketFor(const IPC_Target& peer) const;
    // Whether the socket is in one of the tables.
    bool holds(const DataSocket* socket) const;
    bool isDestroying() const { return _destroying; }
    AcceptSocket* acceptSocket() const { return _acceptSocket; }
    // A copy of the thread statistics, taken under their lock.
    Dict<IPC_Target, ThreadStatRec> threadStats();

private:
    static Connection* make(int priority);
    // Replaces the listening socket by one on the target; none when it
    // cannot be made.
    void listenOn(const IPC_Target& target);
    // A socket that is alive, or re-established (quiet: without log
    // lines), stays; any other is removed (recorded, deleted): false.
    bool revive(DataSocket* socket, bool quiet);
    // The sockets of both tables, by target first.
    void collectSockets(std::vector<DataSocket*>& sockets, bool byTargetOnly) const;

    Dict<IPC_Target, ThreadStatRec> _threadStats;
    std::mutex _threadStatsLock;
    Dict<IPC_Target, DataSocket*> _socketsByTarget;
    Set<DataSocket*> _otherSockets;
    AcceptSocket* _acceptSocket;
    Dict<AbsTime, IPC_Target> _terminated;
    bool _destroying;
};

#endif

// AcceptSocket: the listening socket of the normal-priority connection.  It
// accepts the connections of peers (each becomes a ThreadDataSocket among
// the connection's sockets of unknown peer) and, bound to the null target,
// fixes the process's own IPC_Target: this host, the port the system chose
// and the process id.  Its set-up failures go to standard error.
//
// The listening descriptor is non-blocking: a peer that gives up between
// the wake-up and the accept leaves nothing to wait for.  An accept that
// fails for another reason (descriptors or memory exhausted) leaves the
// peer's connection waiting and the socket readable; the socket then stays
// out of the wait for ACCEPT_PAUSE_MILLIS, with one PROBLEM line, while the
// open connections are served, and accepting resumes afterwards.  A peer
// accepted while the process holds as many connections as it keeps
// (SocketConnection::roomForConnection, after makeRoom has closed what idle
// sockets of unnamed peers it could) is closed at once; such closings are
// logged at most once per ACCEPT_PAUSE_MILLIS, with their count.
#ifndef ACCEPTSOCKET_H
#define ACCEPTSOCKET_H

#include <cstdint>

#include "DescriptorEventClient.h"

class Connection;
class IPC_Target;

class AcceptSocket : public DescriptorEventClient {
public:
    static constexpr int ACCEPT_PAUSE_MILLIS = 1000;

    // Listens (SO_REUSEADDR, backlog 128) on the target's address and port;
    // the null target listens on every address and a port the system picks,
    // and stores the own target.  The descriptor is -1 when socket() or
    // bind() fails.
    AcceptSocket(Connection* connection, const IPC_Target& target);
    ~AcceptSocket() override;

    // A peer connects: makes room among the descriptors, then accepts.
    // Peers the process knows are never closed to make that room.
    void handleEvent() override;
    int descriptor() override { return _fd; }
    int eventMask() override { return READABLE; }
    int64_t pausedUntil() override { return _pausedUntil; }

private:
    // Closes an accepted peer for which there is no room.
    void refuse(int fd);

    Connection* _connection;
    int _fd;
    int64_t _pausedUntil;
    // Peers closed since the last line that said so, and its time.
    int _refused;
    int64_t _refusalLogged;
};

#endif

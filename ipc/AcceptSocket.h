// AcceptSocket: the listening socket of the normal-priority connection.  It
// accepts the connections of peers (each becomes a ThreadDataSocket among
// the connection's sockets of unknown peer) and, bound to the null target,
// fixes the process's own IPC_Target: this host, the port the system chose
// and the process id.  Its set-up failures go to standard error.
#ifndef ACCEPTSOCKET_H
#define ACCEPTSOCKET_H

#include "DescriptorEventClient.h"

class Connection;
class IPC_Target;

class AcceptSocket : public DescriptorEventClient {
public:
    // Listens (SO_REUSEADDR, backlog 128) on the target's address and port;
    // the null target listens on every address and a port the system picks,
    // and stores the own target.  The descriptor is -1 when socket() or
    // bind() fails.
    AcceptSocket(Connection* connection, const IPC_Target& target);
    ~AcceptSocket() override;

    // A peer connects: makes room among the descriptors, then accepts.
    void handleEvent() override;
    int descriptor() override { return _fd; }
    int eventMask() override { return READABLE; }

private:
    Connection* _connection;
    int _fd;
};

#endif

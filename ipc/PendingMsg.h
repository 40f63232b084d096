// One outgoing message on its way through a data socket: the whole buffer
// (header and body, owned), the next byte to write and the bytes still to
// write.  The main thread writes it directly; when that leaves bytes
// unsent, the socket's sending thread or a synchronous wait finishes it.
#ifndef PENDINGMSG_H
#define PENDINGMSG_H

#include <cstdint>

class DataSocket;

class PendingMsg {
public:
    enum Status {
        IN_PROGRESS = 0,
        COMPLETE = 1,
        WRITE_ERROR = 2,
        BROKEN = 3,  // the connection broke and could not be re-established
        DROPPED = 4  // not sent: the queue to the peer holds all it may
    };

    // Takes the buffer (delete[]); the bytes to write are the total length
    // in its first 4 bytes (an XDR unsigned long).
    PendingMsg(DataSocket* socket, char* buffer);
    PendingMsg(const PendingMsg&) = delete;
    PendingMsg& operator=(const PendingMsg&) = delete;
    virtual ~PendingMsg();

    // Writes as much of the rest as the socket takes now, without waiting.
    // quiet: the call comes from a sending thread, which logs nothing and
    // never reconnects: a connection the peer closed or reset ends the
    // message with BROKEN.  From the main thread such a connection is
    // re-established once and the whole message written again from its
    // first byte, so the peer never sees the tail of a message without its
    // head.
    void send(bool quiet);

    int status() const { return _status; }
    void setStatus(int status) { _status = status; }
    // The whole message's length and the bytes not yet written.
    uint32_t length() const { return _length; }
    uint32_t remaining() const { return _remaining; }
    // Whether a BROKEN status came from a connection that was lost (closed
    // or reset by the peer), not from a peer that stopped taking data.
    bool lostConnection() const { return _lostConnection; }
    DataSocket* socket() const { return _socket; }

private:
    DataSocket* _socket;
    int _status;
    char* _buffer;
    char* _cursor;
    uint32_t _remaining;
    uint32_t _length;
    bool _lostConnection;
};

#endif

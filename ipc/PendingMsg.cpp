#include "PendingMsg.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "DataSocket.h"
#include "LogStream.h"
#include "serializeQuantize.h"

PendingMsg::PendingMsg(DataSocket* socket, char* buffer)
    : _socket(socket), _status(IN_PROGRESS), _buffer(buffer), _cursor(buffer), _remaining(0),
      _length(0), _lostConnection(false)
{
    unsigned long length = 0;
    if (buffer && xdrQuantize(length, buffer, buffer + 4))
        _length = static_cast<uint32_t>(length);
    _remaining = _length;
}

PendingMsg::~PendingMsg()
{
    delete[] _buffer;
}

void PendingMsg::send(bool quiet)
{
    bool reconnected = false;
    for (;;) {
        if (_remaining == 0) {
            _status = COMPLETE;
            return;
        }
        // Per call: never blocking, and a closed peer gives EPIPE, not
        // SIGPIPE.  The descriptor's own flags stay as the reader wants them.
        ssize_t n = ::send(_socket->descriptor(), _cursor, _remaining, MSG_NOSIGNAL | MSG_DONTWAIT);
        const int error = n < 0 ? errno : 0;
        if (n < 0 && error == EINTR)
            continue;
        if (n >= 0 || error == EAGAIN || error == EWOULDBLOCK) {
            const uint32_t written = n > 0 ? static_cast<uint32_t>(n) : 0;
            _cursor += written;
            _remaining -= written;
            if (_remaining == 0) {
                _status = COMPLETE;
            } else if (!quiet) {
                QEV_LOG(LogStream::VERBOSE, "PendingMsg")
                    << "PARTIAL SOCKET WRITE to : " << _socket->peer() << "\n"
                    << "Wrote " << written << " bytes but still have " << _remaining
                    << " bytes to write" << std::endl;
            }
            return;
        }
        if (error == EPIPE || error == ECONNRESET) {
            if (quiet || reconnected || !_socket->reconnect(false)) {
                if (!quiet) {
                    QEV_LOG(LogStream::PROBLEM, "PendingMsg")
                        << "Can not reconnect to " << _socket->peer() << "\n"
                        << "Aborting the send of this message." << std::endl;
                }
                _lostConnection = true;
                _status = BROKEN;
                return;
            }
            QEV_LOG(LogStream::DEBUG, "PendingMsg")
                << "Detected a broken connection during a write() "
                << "but was able to re-establish the connection. "
                << "Will reattempt the write() ..." << std::endl;
            reconnected = true;
            _cursor = _buffer;
            _remaining = _length;
            continue;
        }
        _status = WRITE_ERROR;
        if (!quiet) {
            QEV_LOG(LogStream::PROBLEM, "PendingMsg")
                << "write() failed in PendingMsg::send(). \n"
                << "Reason: " << std::strerror(error) << "\n"
                << "Target: " << _socket->peer() << "\n"
                << "SD: " << _socket->descriptor() << "\n"
                << "Num Bytes for write: " << _remaining << std::endl;
        }
        return;
    }
}

#include "AcceptSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Connection.h"
#include "EventDispatcher.h"
#include "IPC_Target.h"
#include "IpAddress.h"
#include "LogStream.h"
#include "LogText.h"
#include "SocketConnection.h"
#include "ThreadDataSocket.h"
#include "monotonicClock.h"

namespace {

void reportFailure(const char* what, int error)
{
    std::fprintf(stderr, "%s\nReason: %s\n", what, std::strerror(error));
}

}  // namespace

AcceptSocket::AcceptSocket(Connection* connection, const IPC_Target& target)
    : _connection(connection), _fd(-1), _pausedUntil(0), _refused(0), _refusalLogged(0)
{
    _fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (_fd < 0) {
        reportFailure("socket() failed in AcceptSocket::AcceptSocket()", errno);
        _fd = -1;
        return;
    }
    const int on = 1;
    if (setsockopt(_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        reportFailure("setsockopt() failed in AcceptSocket::AcceptSocket()", errno);

    struct sockaddr_in address;
    if (target.isNull()) {
        std::memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = 0;
    } else {
        address = target.socketAddress();
    }
    if (::bind(_fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        std::fprintf(stderr, "bind() failed in AcceptSocket::AcceptSocket()\nReason: %s\n"
                             "Can not bind target: %s\n",
                     std::strerror(error), LogText(target.address()).escaped().c_str());
        ::shutdown(_fd, SHUT_RDWR);
        ::close(_fd);
        _fd = -1;
        return;
    }
    if (ntohs(address.sin_port) == 0) {
        socklen_t size = sizeof address;
        if (getsockname(_fd, reinterpret_cast<struct sockaddr*>(&address), &size) != 0)
            reportFailure("getSockName() failed in AcceptSocket::AcceptSocket()", errno);
        else
            Connection::storeMyTarget(IPC_Target(IpAddress(), ntohs(address.sin_port), getpid()));
    }
    if (::listen(_fd, 128) != 0)
        reportFailure("listen() failed in AcceptSocket::AcceptSocket()", errno);
    EventDispatcher::instance()->addClient(this);
}

AcceptSocket::~AcceptSocket()
{
    if (_fd == -1)
        return;
    ::shutdown(_fd, SHUT_RDWR);
    if (::close(_fd) != 0) {
        QEV_LOG(LogStream::BUG, "AcceptSocket")
            << "close() failed in AcceptSocket::~AcceptSocket()\n"
            << "Reason: " << std::strerror(errno) << std::endl;
    }
}

void AcceptSocket::handleEvent()
{
    SocketConnection::makeRoom(true);
    // The data socket made from the descriptor clears the O_NONBLOCK that
    // some systems hand on from the listening socket.
    const int fd = accept4(_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        // The peer gave up, or a signal came first: nothing is left waiting.
        if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED)
            return;
        _pausedUntil = monotonicMillis() + ACCEPT_PAUSE_MILLIS;
        QEV_LOG(LogStream::PROBLEM, "AcceptSocket")
            << "accept() failed in AcceptSocket::handleEvent()\n"
            << "Reason: " << std::strerror(error) << "\n"
            << "No connection is accepted for the next " << ACCEPT_PAUSE_MILLIS << " ms"
            << std::endl;
        return;
    }
    if (!SocketConnection::roomForConnection()) {
        refuse(fd);
        return;
    }
    DataSocket* socket = new ThreadDataSocket(fd, _connection, false);
    if (SocketConnection* owner = _connection->socketConnection())
        owner->addSocket(socket);
}

void AcceptSocket::refuse(int fd)
{
    ::close(fd);
    ++_refused;
    const int64_t now = monotonicMillis();
    if (_refusalLogged != 0 && now - _refusalLogged < ACCEPT_PAUSE_MILLIS)
        return;
    QEV_LOG(LogStream::PROBLEM, "AcceptSocket")
        << "Closed " << _refused << " new connection(s): the process keeps at most "
        << SocketConnection::connectionLimit() << " connections and "
        << SocketConnection::descriptorLimit() << " watched descriptors" << std::endl;
    _refused = 0;
    _refusalLogged = now;
}

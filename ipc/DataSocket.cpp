#include "DataSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <ostream>

#include "Config.h"
#include "Connection.h"
#include "Dispatcher.h"
#include "EventDispatcher.h"
#include "IpcHeader.h"
#include "LogStream.h"
#include "LogText.h"
#include "PendingMsg.h"
#include "SignalCatcher.h"
#include "SocketConnection.h"
#include "ThreadDataSocket.h"
#include "monotonicClock.h"
#include "selectWrapper.h"
#include "waitForSignal.h"

namespace {

const char* const sourceFile = "DataSocket";

// Seconds; 0 until read from the configuration or set.
std::atomic<int> timeoutSeconds(0);

// The bytes the read buffers of all sockets take (main thread only).
uint64_t readBufferBytes = 0;

// Connects that the peer did not take within the wait.
unsigned long timedOutConnectCount = 0;

// A new socket connected to the peer, blocking: its descriptor, or -1 when
// socket() fails (errno says why), -2 when the connection is refused, not
// made within CONNECT_WAIT_SECONDS (ETIMEDOUT) or a signal came first
// (EINTR).  The connect itself never blocks: a peer that listens but does
// not accept (its backlog full, the process stopped) costs the wait, not
// the minutes of the system's own retries.
int connectTo(const IPC_Target& peer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int error = 0;
    if (::connect(fd, reinterpret_cast<const struct sockaddr*>(&peer.socketAddress()),
                  sizeof(struct sockaddr_in)) != 0) {
        error = errno;
        if (error == EINPROGRESS || error == EINTR) {
            const int ready =
                waitForDescriptor(fd, POLLOUT, int64_t(DataSocket::CONNECT_WAIT_SECONDS) * 1000000);
            socklen_t size = sizeof error;
            if (ready > 0) {
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                    error = errno;
            } else {
                error = ready == 0 ? ETIMEDOUT : EINTR;
                timedOutConnectCount += ready == 0;
            }
        }
    }
    const int flags = error == 0 ? fcntl(fd, F_GETFL) : -1;
    if (error == 0 && (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1))
        error = errno;
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -2;
    }
    return fd;
}

// One message of that many bytes in a direction's statistics.
void tally(uint32_t bytes, uint32_t& messages, uint32_t& total, uint32_t& smallest,
           uint32_t& largest)
{
    ++messages;
    total += bytes;
    if (bytes < smallest)
        smallest = bytes;
    if (bytes > largest)
        largest = bytes;
}

}  // namespace

DataSocket::DataSocket(const IPC_Target& peer, Connection* connection)
    : _peer(peer), _fd(connectTo(peer)), _connection(connection), _accepted(false),
      _orphan(false)
{
    if (_fd == -1) {
        QEV_LOG(LogStream::BUG, sourceFile) << "socket() failed in DataSocket::DataSocket()\n"
                                            << "Reason: " << std::strerror(errno) << std::endl;
    } else if (_fd < 0) {
        _fd = -1;
    } else {
        QEV_LOG(LogStream::DEBUG, sourceFile) << "Connected to " << _peer << " SD: " << _fd
                                              << std::endl;
    }
    initialize();
}

DataSocket::DataSocket(int fd, Connection* connection, bool orphan)
    : _fd(fd), _connection(connection), _accepted(true), _orphan(orphan)
{
    initialize();
}

void DataSocket::initialize()
{
    _readBuffer = nullptr;
    _capacity = 0;
    std::memset(_lengthWord, 0, sizeof _lengthWord);
    _expectedLength = 0;
    _bytesRead = 0;
    _closed = false;
    _deletedFlag = nullptr;
    resetStatistics();
    touch();
    _created = _lastUsed;
    if (_fd == -1)
        return;
    EventDispatcher::instance()->addClient(this);
    setNonBlocking(false);
    if (!_orphan)
        setBufferSizes();
    connectionTimeout();
}

bool DataSocket::setNonBlocking(bool nonBlocking)
{
    const int flags = fcntl(_fd, F_GETFL);
    if (flags == -1) {
        QEV_LOG(LogStream::BUG, sourceFile) << "fcntl(get) failed in DataSocket::DataSocket()\n"
                                            << "Reason: " << std::strerror(errno) << std::endl;
        return false;
    }
    const int wanted = nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    if (wanted != flags && fcntl(_fd, F_SETFL, wanted) == -1) {
        QEV_LOG(LogStream::BUG, sourceFile) << "fcntl(set) failed in DataSocket::DataSocket()\n"
                                            << "Reason: " << std::strerror(errno) << std::endl;
        return false;
    }
    return true;
}

DataSocket::~DataSocket()
{
    if (_deletedFlag)
        *_deletedFlag = true;
    if (_fd != -1) {
        SocketConnection* owner = socketConnection();
        if (!owner || !owner->isDestroying()) {
            QEV_LOG(LogStream::DEBUG, sourceFile) << "Closing the socket to " << _peer
                                                  << " SD: " << _fd << std::endl;
            const IPC_Target* filter = Connection::filterTarget();
            if (filter && !_peer.isNull() && *filter == _peer) {
                Connection::clearFilter();
                QEV_LOG(LogStream::DEBUG, sourceFile) << "Canceling the filter registration"
                                                      << std::endl;
            }
            if (isThereDataToRead()) {
                const int fd = _fd;
                _fd = -1;
                adoptOrphan(fd);
            }
        }
        if (_fd != -1) {
            ::shutdown(_fd, SHUT_RDWR);
            if (::close(_fd) != 0) {
                QEV_LOG(LogStream::BUG, sourceFile)
                    << "close() failed in DataSocket::~DataSocket()\n"
                    << "Reason: " << std::strerror(errno) << std::endl;
            }
        }
    }
    freeReadBuffer();
}

int DataSocket::isHighPriority()
{
    return _connection && _connection->priority() == Connection::HIGH_PRIORITY ? 1 : 0;
}

SocketConnection* DataSocket::socketConnection() const
{
    return _connection ? _connection->socketConnection() : nullptr;
}

void DataSocket::touch()
{
    _lastUseTicks = monotonicMillis();
    _lastUsed = std::time(nullptr);
}

void DataSocket::resetStatistics()
{
    _messagesSent = _messagesReceived = 0;
    _bytesSent = _bytesReceived = 0;
    _smallestSent = _smallestReceived = UINT32_MAX;
    _largestSent = _largestReceived = 0;
}

unsigned long DataSocket::timedOutConnects()
{
    return timedOutConnectCount;
}

uint32_t DataSocket::shortestMessage()
{
    static const uint32_t shortest = static_cast<uint32_t>(IpcHeader().length());
    return shortest;
}

uint64_t DataSocket::bufferTotal()
{
    int bytes = 0;
    Config* config = Config::instance();
    if (config && config->getValue("SocketBufferTotal.numBytes", bytes) && bytes >= 1)
        return static_cast<uint64_t>(bytes);
    return DEFAULT_BUFFER_TOTAL;
}

uint64_t DataSocket::bufferedBytes()
{
    return readBufferBytes;
}

int DataSocket::connectionTimeout()
{
    int seconds = timeoutSeconds.load();
    if (seconds > 0)
        return seconds;
    int minutes = 0;
    Config* config = Config::instance();
    if (config && config->getValue("SocketConnectionTimeout.numMins", minutes) && minutes >= 1)
        seconds = minutes > INT_MAX / 60 ? INT_MAX / 60 * 60 : minutes * 60;
    else
        seconds = 180;
    int unset = 0;
    timeoutSeconds.compare_exchange_strong(unset, seconds);
    return timeoutSeconds.load();
}

void DataSocket::setConnectionTimeout(int seconds)
{
    if (seconds > 0)
        timeoutSeconds.store(seconds);
}

void DataSocket::setBufferSizes()
{
    static const int size = [] {
        int bytes = 0;
        Config* config = Config::instance();
        if (config && config->getValue("SocketBufferSize.numBytes", bytes) && bytes >= 1 &&
            bytes < 262144)
            return bytes;
        return 0;
    }();
    if (size == 0)
        return;
    if (setsockopt(_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0) {
        QEV_LOG(LogStream::BUG, sourceFile)
            << "setsockopt() failed setting the receive buffer size.  \n"
            << "Reason: " << std::strerror(errno) << std::endl;
    }
    if (setsockopt(_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) != 0) {
        QEV_LOG(LogStream::BUG, sourceFile)
            << "setsockopt() failed setting the send buffer size.  \n"
            << "Reason: " << std::strerror(errno) << std::endl;
    }
}

// ---- Reading ----

void DataSocket::handleEvent()
{
    touch();
    if (Connection::filteredOut(_peer))
        return;
    if (_bytesRead < sizeof _lengthWord && !readLength())
        return;
    readBody();
}

long DataSocket::readSocket(char* buffer, uint32_t n)
{
    const ssize_t got = ::recv(_fd, buffer, n, MSG_DONTWAIT);
    if (got >= 0)
        return static_cast<long>(got);
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK)
        return READ_AGAIN;
    if (error == EINTR) {
        QEV_LOG(LogStream::EVENT, sourceFile) << "Signal arrived while reading a socket."
                                              << "Will just try to reread the socket."
                                              << std::endl;
        return READ_AGAIN;
    }
    if (error == ECONNRESET)
        return 0;
    QEV_LOG(LogStream::PROBLEM, sourceFile)
        << "read() failed in DataSocket::readSocket(). \n"
        << "Reason: " << std::strerror(error) << "\n"
        << "Target: " << _peer << "\n"
        << "SD: " << _fd << "\n"
        << "Num Bytes to read: " << n << std::endl;
    return READ_FAILED;
}

bool DataSocket::readLength()
{
    const long got = readSocket(reinterpret_cast<char*>(_lengthWord) + _bytesRead,
                                static_cast<uint32_t>(sizeof _lengthWord - _bytesRead));
    if (got == READ_AGAIN)
        return false;
    if (got == 0 && _bytesRead == 0) {
        QEV_LOG(LogStream::DEBUG, sourceFile) << "Connection to " << _peer << " " << _fd
                                              << " has been closed by the peer." << std::endl;
        closeAndRemove();
        return false;
    }
    if (got <= 0) {
        closeForBadHeader();
        return false;
    }
    _bytesRead += static_cast<uint32_t>(got);
    if (_bytesRead < sizeof _lengthWord)
        return false;  // the rest of the length word comes with a later event

    uint32_t length = 0;
    std::memcpy(&length, _lengthWord, sizeof length);
    length = ntohl(length);
    if (length < shortestMessage()) {
        closeForBadHeader();
        return false;
    }
    if (length > MAX_MESSAGE) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "Trying to read an IPC message of " << length << " bytes from " << _peer
            << ", more than the largest allowed (" << MAX_MESSAGE
            << "). Closing the connection." << std::endl;
        closeAndRemove();
        return false;
    }
    _expectedLength = length;
    if (!growBuffer(std::min(length, FIRST_CHUNK)))
        return false;
    std::memcpy(_readBuffer, _lengthWord, sizeof _lengthWord);
    return true;
}

bool DataSocket::growBuffer(uint32_t capacity)
{
    const uint64_t others = readBufferBytes - _capacity;
    if (others + capacity > bufferTotal()) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "Closing the connection to " << _peer << ": its IPC message of "
            << _expectedLength << " bytes would take the buffers of messages being read past "
            << bufferTotal() << " bytes (SocketBufferTotal.numBytes)" << std::endl;
        closeAndRemove();
        return false;
    }
    char* buffer = new (std::nothrow) char[capacity];
    if (!buffer) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "No memory to read an IPC message of " << _expectedLength << " bytes from "
            << _peer << ". Closing the connection." << std::endl;
        closeAndRemove();
        return false;
    }
    if (_readBuffer)
        std::memcpy(buffer, _readBuffer, std::min(_bytesRead, _capacity));
    freeReadBuffer();
    _readBuffer = buffer;
    _capacity = capacity;
    readBufferBytes += capacity;
    return true;
}

void DataSocket::freeReadBuffer()
{
    delete[] _readBuffer;
    _readBuffer = nullptr;
    readBufferBytes -= _capacity;
    _capacity = 0;
}

void DataSocket::readBody()
{
    if (_bytesRead == _capacity &&
        !growBuffer(static_cast<uint32_t>(
            std::min<uint64_t>(2ull * _capacity, _expectedLength))))
        return;
    const long got = readSocket(_readBuffer + _bytesRead, _capacity - _bytesRead);
    if (got == READ_AGAIN)
        return;
    if (got <= 0) {
        closeForBadHeader();
        return;
    }
    _bytesRead += static_cast<uint32_t>(got);
    if (_bytesRead == _expectedLength)
        messageComplete();
}

void DataSocket::messageComplete()
{
    if (_accepted && _peer.isNull() && !_orphan)
        learnPeer();

    tally(_expectedLength, _messagesReceived, _bytesReceived, _smallestReceived,
          _largestReceived);

    // The dispatcher owns the buffer from here on.
    char* buffer = _readBuffer;
    const uint32_t length = _expectedLength;
    _readBuffer = nullptr;
    readBufferBytes -= _capacity;
    _capacity = 0;
    _expectedLength = 0;
    _bytesRead = 0;

    // Out of the wait sets while the receiver runs, so that a wait inside
    // it never reads this socket again; the receiver may also delete it (a
    // reply that finds the connection dead).
    const IPC_Target peer = _peer;
    EventDispatcher::instance()->removeClient(this);
    bool deleted = false;
    _deletedFlag = &deleted;
    Dispatcher::doDispatch(buffer, length);
    if (!deleted) {
        _deletedFlag = nullptr;
        EventDispatcher::instance()->addClient(this);
    }
    Connection::noteMessage(peer);
}

void DataSocket::learnPeer()
{
    IpcHeader header;
    if (!header.quantize(_readBuffer, _readBuffer + _expectedLength))
        return;  // the dispatcher drops the message
    if (SocketConnection* owner = socketConnection())
        owner->removeSocket(this, false);
    _peer = header.sender();
    QEV_LOG(LogStream::DEBUG, sourceFile) << "It's official, SD: " << _fd << " connected to "
                                          << _peer << std::endl;
    // Only 0 and 1 are priorities; anything else a peer writes counts as 0.
    const int priority =
        header.priority() == Connection::HIGH_PRIORITY ? Connection::HIGH_PRIORITY
                                                       : Connection::NORMAL_PRIORITY;
    Connection* serving = Connection::connectionFor(priority);
    if (serving && serving->socketConnection())
        _connection = serving;
    if (SocketConnection* owner = socketConnection())
        owner->addSocket(this);
}

void DataSocket::closeForBadHeader()
{
    QEV_LOG(LogStream::PROBLEM, sourceFile)
        << "Trying to read an IPC message that does not \n"
        << "have the proper header. Closing the connection." << std::endl;
    closeAndRemove();
}

void DataSocket::closeAndRemove()
{
    _closed = true;
    if (SocketConnection* owner = socketConnection())
        owner->removeSocket(this, true);
    else
        delete this;
}

void DataSocket::adoptOrphan(int fd)
{
    DataSocket* orphan = new ThreadDataSocket(fd, _connection, true);
    orphan->takeReadState(*this);
    if (SocketConnection* owner = socketConnection())
        owner->addSocket(orphan);
    QEV_LOG(LogStream::DEBUG, sourceFile) << "Creating a new object to read an orphaned socket."
                                          << " SD: " << fd << std::endl;
}

void DataSocket::takeReadState(DataSocket& from)
{
    freeReadBuffer();
    _readBuffer = from._readBuffer;
    _capacity = from._capacity;
    std::memcpy(_lengthWord, from._lengthWord, sizeof _lengthWord);
    _expectedLength = from._expectedLength;
    _bytesRead = from._bytesRead;
    from._readBuffer = nullptr;
    from._capacity = 0;
    from._expectedLength = 0;
    from._bytesRead = 0;
}

bool DataSocket::isThereDataToRead()
{
    QEV_LOG(LogStream::DEBUG, sourceFile) << "isThereDataToRead(), SD: " << _fd << std::endl;
    if (_closed) {
        QEV_LOG(LogStream::DEBUG, sourceFile) << "encountered EOF, NO" << std::endl;
        return false;
    }
    if (_bytesRead > 0) {
        QEV_LOG(LogStream::DEBUG, sourceFile) << "have read buffer, YES" << std::endl;
        return true;
    }
    char byte;
    const ssize_t got = ::recv(_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    QEV_LOG(LogStream::DEBUG, sourceFile) << "recv byte check " << got << std::endl;
    return got > 0;
}

bool DataSocket::canClose()
{
    return !isThreadRunning() && !isThereDataToRead();
}

bool DataSocket::isAlive()
{
    struct sockaddr_in address;
    socklen_t size = sizeof address;
    if (_fd == -1 || _closed ||
        getpeername(_fd, reinterpret_cast<struct sockaddr*>(&address), &size) != 0)
        return false;
    // End of file waiting means the peer has closed its end: what is written
    // now would be lost.
    char byte;
    const ssize_t got = ::recv(_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
}

// ---- Writing ----

int DataSocket::sendMessage(int deliveryMode, PendingMsg* msg)
{
    if (isBroken() && !(brokenByLostConnection() && reconnect(false))) {
        delete msg;
        return PendingMsg::BROKEN;
    }
    touch();
    const uint32_t bytes = msg->remaining();
    if (!isThreadRunning()) {
        msg->send(false);
        if (msg->status() != PendingMsg::IN_PROGRESS) {
            const int status = msg->status();
            if (status == PendingMsg::COMPLETE)
                messageWritten();
            countSent(bytes);
            delete msg;
            return status;
        }
    }
    if (deliveryMode == 0 && queueMessage(msg)) {
        countSent(bytes);
        return PendingMsg::IN_PROGRESS;
    }
    // A message the queue refused has its final status already; a dropped
    // one never went.
    if (msg->status() == PendingMsg::IN_PROGRESS)
        doSyncSend(msg);
    const int status = msg->status();
    if (status != PendingMsg::DROPPED)
        countSent(bytes);
    delete msg;
    return status;
}

void DataSocket::countSent(uint32_t bytes)
{
    tally(bytes, _messagesSent, _bytesSent, _smallestSent, _largestSent);
}

void DataSocket::syncWrite(PendingMsg* msg, bool fromThread)
{
    const int timeout = connectionTimeout();
    const int timeoutMillis = timeout > INT_MAX / 1000 ? INT_MAX : timeout * 1000;
    while (msg->status() == PendingMsg::IN_PROGRESS) {
        struct pollfd p = {_fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, timeoutMillis);
        const int error = errno;
        if (ready > 0) {
            msg->send(fromThread);
        } else if (ready == 0) {
            if (!fromThread) {
                QEV_LOG(LogStream::PROBLEM, sourceFile)
                    << "Closing the connection to " << _peer << "\n"
                    << "Waited " << timeout << " seconds for the other end to respond."
                    << std::endl;
            }
            msg->setStatus(PendingMsg::BROKEN);
        } else if (error == EINTR || error == EAGAIN) {
            if (fromThread)
                continue;
            // Signals that arrived meanwhile are handled now, not after the
            // write; a shutdown among them ends the write.
            SignalCatcher* catcher = SignalCatcher::existing();
            if (catcher && waitReadable(&catcher->signalPipe()))
                catcher->signalPipe().handleEvent();
            EventDispatcher* events = EventDispatcher::instance();
            if (events->wasStarted() && !events->isRunning())
                msg->setStatus(PendingMsg::WRITE_ERROR);
        } else {
            if (fromThread) {
                std::perror("Error: poll() failed");
            } else {
                QEV_LOG(LogStream::PROBLEM, sourceFile)
                    << "select() failed in DataSocket::syncWrite()\n"
                    << "Reason: " << std::strerror(error) << "\n"
                    << "Target: " << _peer << "\n"
                    << "SD: " << _fd << "\n"
                    << "Num Bytes for write: " << msg->remaining() << std::endl;
            }
            msg->setStatus(PendingMsg::WRITE_ERROR);
        }
    }
}

bool DataSocket::reconnect(bool quiet)
{
    if (isThreadRunning()) {
        if (!quiet) {
            QEV_LOG(LogStream::DEBUG, sourceFile)
                << "Reconnect attempt to " << _peer
                << " put off: a sending thread is writing on the connection." << std::endl;
        }
        return false;
    }
    const int fd = connectTo(_peer);
    if (fd == -1) {
        if (!quiet) {
            QEV_LOG(LogStream::BUG, sourceFile) << "socket() failed in DataSocket::reconnect()\n"
                                                << "Reason: " << std::strerror(errno)
                                                << std::endl;
        }
        return false;
    }
    if (fd < 0) {
        if (!quiet) {
            QEV_LOG(LogStream::PROBLEM, sourceFile) << "Reconnect attempt to " << _peer
                                                    << " failed." << std::endl;
        }
        return false;
    }
    if (!quiet) {
        QEV_LOG(LogStream::DEBUG, sourceFile) << "Reconnect attempt to " << _peer
                                              << " succeeded." << std::endl;
    }
    if (_fd != -1) {
        if (isThereDataToRead()) {
            if (!quiet) {
                QEV_LOG(LogStream::DEBUG, sourceFile)
                    << "Reconnect attempt to " << _peer << " succeeded \n"
                    << "but we still have some left over data to read." << std::endl;
            }
            adoptOrphan(_fd);
        } else {
            if (!quiet) {
                QEV_LOG(LogStream::DEBUG, sourceFile)
                    << "Reconnect attempt to " << _peer << " succeeded. \n"
                    << "We can now close the old socket." << std::endl;
            }
            ::shutdown(_fd, SHUT_RDWR);
            ::close(_fd);
        }
    } else {
        EventDispatcher::instance()->addClient(this);
    }
    _fd = fd;
    _closed = false;
    setBufferSizes();
    touch();
    _created = _lastUsed;
    connectionRenewed();
    return true;
}

// ---- Statistics ----

std::ostream& operator<<(std::ostream& out, const DataSocket& socket)
{
    const IPC_Target& peer = socket._peer;
    if (peer.kind() == IPC_Target::NAMED)
        out << "Target name: " << LogText(peer.name()) << "\n";
    else
        out << "Process ID of anonymous target: " << peer.pid() << "\n";
    out << "Host: " << LogText(peer.hostAddress().hostName()) << "\n"
        << "Port number: " << peer.port() << "\n"
        << (socket._connection && socket._connection->priority() == Connection::HIGH_PRIORITY
                ? "HIGH PRIORITY CONNECTION"
                : "NORMAL PRIORITY CONNECTION")
        << "\n"
        << "Connection created: " << Connection::reportTime(socket._created)
        << ". Initiated by " << (socket._accepted ? "connecting" : "this") << " process.\n"
        << "Last time this connection was used: " << Connection::reportTime(socket._lastUsed)
        << "\n";
    if (socket._messagesSent > 0) {
        out << "Sent messages since last stat: " << socket._messagesSent << "\n"
            << "Bytes per message (Avg/Min/Max): " << socket._bytesSent / socket._messagesSent
            << "/" << socket._smallestSent << "/" << socket._largestSent << "\n";
    } else {
        out << "No messages have been sent since last stat report.\n";
    }
    if (socket._messagesReceived > 0) {
        out << "Received messages since last stat: " << socket._messagesReceived << "\n"
            << "Bytes per message (Avg/Min/Max): "
            << socket._bytesReceived / socket._messagesReceived << "/"
            << socket._smallestReceived << "/" << socket._largestReceived << "\n";
    } else {
        out << "No messages have been received since last stat report.\n";
    }
    return out;
}

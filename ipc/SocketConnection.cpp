#include "SocketConnection.h"

#include <unistd.h>

#include <cstdint>
#include <iomanip>
#include <ostream>
#include <string>
#include <vector>

#include "AcceptSocket.h"
#include "Config.h"
#include "DataSocket.h"
#include "EventDispatcher.h"
#include "LogStream.h"
#include "PendingMsg.h"
#include "ThreadDataSocket.h"
#include "monotonicClock.h"

namespace {

const char* const sourceFile = "SocketConnection";

}  // namespace

SocketConnection::SocketConnection(int priority)
    : Connection(priority), _acceptSocket(nullptr), _destroying(false)
{
    _terminated.sort();
    if (priority == NORMAL_PRIORITY)
        listenOn(IPC_Target());
}

SocketConnection::~SocketConnection()
{
    _destroying = true;
    delete _acceptSocket;
    _acceptSocket = nullptr;
    std::vector<DataSocket*> sockets;
    collectSockets(sockets, false);
    _socketsByTarget = Dict<IPC_Target, DataSocket*>();
    _otherSockets = Set<DataSocket*>();
    for (DataSocket* socket : sockets)
        delete socket;
}

Connection* SocketConnection::make(int priority)
{
    return new SocketConnection(priority);
}

void SocketConnection::initialise()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    Connection::setMaker(make);
    Connection::setStatReporter(statReport);
    const Set<Connection*>& all = connections();
    for (int i = 0; i < all.count(); ++i) {
        if (all[i]->priority() == NORMAL_PRIORITY)
            return;
    }
    new SocketConnection(NORMAL_PRIORITY);  // owned by the connection table
}

void SocketConnection::collectSockets(std::vector<DataSocket*>& sockets, bool byTargetOnly) const
{
    for (int i = 0; i < _socketsByTarget.count(); ++i)
        sockets.push_back(_socketsByTarget.value(i));
    if (byTargetOnly)
        return;
    for (int i = 0; i < _otherSockets.count(); ++i)
        sockets.push_back(_otherSockets[i]);
}

DataSocket* SocketConnection::socketFor(const IPC_Target& peer) const
{
    DataSocket* socket = nullptr;
    return _socketsByTarget.find(peer, nullptr, &socket) ? socket : nullptr;
}

bool SocketConnection::isQueueing(const IPC_Target& peer)
{
    const Set<Connection*>& all = connections();
    for (int c = 0; c < all.count(); ++c) {
        const SocketConnection* connection = all[c]->socketConnection();
        DataSocket* socket = connection ? connection->socketFor(peer) : nullptr;
        if (socket && socket->isThreadRunning())
            return true;
    }
    return false;
}

bool SocketConnection::holds(const DataSocket* socket) const
{
    DataSocket* byTarget = socketFor(socket->peer());
    return byTarget == socket || _otherSockets.find(const_cast<DataSocket*>(socket));
}

int SocketConnection::send(const IPC_Target& to, int deliveryMode, int, char* buffer)
{
    if (to.isNull()) {
        QEV_LOG(LogStream::BUG, sourceFile) << "Can not send a message to a null IPC target.\n"
                                            << std::endl;
        delete[] buffer;
        return -2;
    }
    if (static_cast<unsigned>(deliveryMode) >= 2) {
        QEV_LOG(LogStream::BUG, sourceFile) << "Cannot send to " << to << ": "
                                            << "invalid delivery mode " << deliveryMode
                                            << std::endl;
        delete[] buffer;
        return -2;
    }
    DataSocket* socket = socketFor(to);
    if (socket) {
        if (!revive(socket, false)) {
            delete[] buffer;
            return -1;
        }
    } else {
        socket = new ThreadDataSocket(to, this);
        if (socket->descriptor() == -1) {
            delete socket;
            delete[] buffer;
            return -1;
        }
        makeRoom();
        addSocket(socket);
    }
    switch (socket->sendMessage(deliveryMode, new PendingMsg(socket, buffer))) {
    case PendingMsg::BROKEN:
        removeSocket(socket, true);
        return -1;
    case PendingMsg::WRITE_ERROR:
        return -2;
    case PendingMsg::DROPPED:
        return QUEUE_FULL;
    default:
        return 0;
    }
}

bool SocketConnection::isConnected(const IPC_Target& target)
{
    DataSocket* socket = socketFor(target);
    return socket && revive(socket, true);
}

bool SocketConnection::revive(DataSocket* socket, bool quiet)
{
    if (socket->isAlive() || socket->reconnect(quiet))
        return true;
    removeSocket(socket, true);
    return false;
}

bool SocketConnection::claimTarget(const IPC_Target& target)
{
    if (priority() == HIGH_PRIORITY)
        return true;
    if (!target.isNull()) {
        int fd = -1;
        {
            ThreadDataSocket probe(target, this);
            fd = probe.descriptor();
        }
        if (fd != -1) {
            QEV_LOG(LogStream::PROBLEM, sourceFile)
                << "Can't set this process' target to " << target << "\n"
                << target << " is currently running in another process." << std::endl;
            return false;
        }
    }
    listenOn(target);
    return true;
}

void SocketConnection::listenOn(const IPC_Target& target)
{
    delete _acceptSocket;
    _acceptSocket = new AcceptSocket(this, target);
    if (_acceptSocket->descriptor() == -1) {
        delete _acceptSocket;
        _acceptSocket = nullptr;
    }
}

void SocketConnection::addSocket(DataSocket* socket)
{
    const IPC_Target& peer = socket->peer();
    if (!peer.isNull() && !_socketsByTarget.find(peer))
        _socketsByTarget.insert(peer, socket);
    else
        _otherSockets.insert(socket);
}

void SocketConnection::removeSocket(DataSocket* socket, bool recordTermination)
{
    // The entry of the peer may belong to another socket of the same peer;
    // that one keeps it.
    if (socketFor(socket->peer()) == socket)
        _socketsByTarget.remove(socket->peer());
    _otherSockets.remove(socket);
    if (!recordTermination)
        return;
    if (_terminated.count() >= MAX_TERMINATED)
        _terminated.remove(_terminated.key(0));
    _terminated.insert(AbsTime::now(), socket->peer());
    delete socket;
}

long SocketConnection::descriptorLimit()
{
    static const long limit = sysconf(_SC_OPEN_MAX) / 3;
    return limit;
}

int SocketConnection::connectionLimit()
{
    int n = 0;
    Config* config = Config::instance();
    if (config && config->getValue("SocketConnectionLimit.numConnections", n) && n >= 1)
        return n;
    return DEFAULT_CONNECTION_LIMIT;
}

bool SocketConnection::roomForConnection()
{
    if (EventDispatcher::instance()->waitSet().count() + 1 > descriptorLimit())
        return false;
    long sockets = 0;
    const Set<Connection*>& all = connections();
    for (int c = 0; c < all.count(); ++c) {
        if (const SocketConnection* connection = all[c]->socketConnection())
            sockets += connection->_socketsByTarget.count() + connection->_otherSockets.count();
    }
    return sockets + 1 <= connectionLimit();
}

void SocketConnection::makeRoom(bool anonymousOnly)
{
    while (!roomForConnection()) {
        SocketConnection* owner = nullptr;
        DataSocket* candidate = nullptr;
        int64_t oldest = INT64_MAX;
        const Set<Connection*>& all = connections();
        for (int c = 0; c < all.count(); ++c) {
            SocketConnection* connection = all[c]->socketConnection();
            if (!connection)
                continue;
            std::vector<DataSocket*> sockets;
            connection->collectSockets(sockets, false);
            for (DataSocket* socket : sockets) {
                if (anonymousOnly && !socket->peer().isNull())
                    continue;
                if (socket->canClose() && socket->lastUseTicks() <= oldest) {
                    oldest = socket->lastUseTicks();
                    candidate = socket;
                    owner = connection;
                }
            }
        }
        if (!candidate) {
            // Peers that keep connections busy can ask for room again and
            // again: the line is not repeated within a second.
            static int64_t logged = 0;
            const int64_t now = monotonicMillis();
            if (logged == 0 || now - logged >= 1000) {
                logged = now;
                QEV_LOG(LogStream::PROBLEM, sourceFile)
                    << "Tried to close a socket in order to make room for a\n"
                    << "new connection, but couldn't find a good candidate." << std::endl;
            }
            return;
        }
        QEV_LOG(LogStream::DEBUG, sourceFile)
            << "Closing a socket to make room for a new connection" << std::endl;
        owner->removeSocket(candidate, true);
    }
}

void SocketConnection::changeThreadStats(const IPC_Target& peer, uint32_t length,
                                         uint32_t remaining, bool queued)
{
    std::lock_guard<std::mutex> lock(_threadStatsLock);
    Dict<IPC_Target, ThreadStatRec>::Cursor cursor;
    if (!_threadStats.find(peer, &cursor)) {
        // Entries are made when a message is queued, in the main thread, so
        // that a sending thread never copies the peer's shared texts.
        if (!queued)
            return;
        _threadStats.insert(peer, ThreadStatRec());
        _threadStats.find(peer, &cursor);
    }
    ThreadStatRec& record = cursor.node->value;
    record.lastThreadActivity = std::time(nullptr);
    if (queued) {
        ++record.numPending;
        record.bytesPending += length;
    } else {
        --record.numPending;
        record.bytesPending -= length;
        record.bytesFailed += remaining;
        record.bytesCompleted += length - remaining;
    }
}

Dict<IPC_Target, ThreadStatRec> SocketConnection::threadStats()
{
    std::lock_guard<std::mutex> lock(_threadStatsLock);
    return _threadStats;
}

void SocketConnection::statReport(std::ostream& out, const Set<Connection*>& connections)
{
    std::vector<DataSocket*> active;
    std::vector<std::pair<AbsTime, IPC_Target> > terminated;
    std::vector<Dict<IPC_Target, ThreadStatRec> > threadStats;
    for (int c = 0; c < connections.count(); ++c) {
        SocketConnection* connection = connections[c]->socketConnection();
        if (!connection)
            continue;
        connection->collectSockets(active, true);
        for (int i = 0; i < connection->_terminated.count(); ++i)
            terminated.emplace_back(connection->_terminated.key(i),
                                    connection->_terminated.value(i));
        connection->_terminated = Dict<AbsTime, IPC_Target>();
        connection->_terminated.sort();
        Dict<IPC_Target, ThreadStatRec> stats = connection->threadStats();
        if (stats.count() > 0)
            threadStats.push_back(stats);
    }

    if (!terminated.empty()) {
        out << terminated.size() << " TCP/IP socket connections have been terminated "
            << "since the last stat report. \n"
            << "Time of disconnect\t" << "Host/Port/PID \n\n";
        for (const auto& entry : terminated)
            out << Connection::reportTime(entry.first.seconds()) << "\t" << entry.second << "\n";
    } else {
        out << "No TCP/IP socket connections have been terminated "
            << "since the last stat report. \n";
    }

    if (!active.empty()) {
        out << "\n" << active.size() << " TCP/IP socket connections are currently active. \n\n";
        const std::string rule(108, '-');
        for (DataSocket* socket : active) {
            out << *socket << rule << "\n\n";
            socket->resetStatistics();
        }
    } else {
        out << "There are no active TCP/IP socket connections at this time.\n";
    }

    if (threadStats.empty()) {
        out << "No connections have used any threads thus far. \n";
        return;
    }
    const std::ios::fmtflags flags = out.flags();
    out << std::left << "Threads have been used to send "
        << "messages to the following connections: \n"
        << std::setw(40) << "Target" << std::setw(17) << "Bytes Completed" << std::setw(17)
        << "Bytes Pending" << std::setw(17) << "Num Pending" << std::setw(17) << "Bytes Failed"
        << "Last Thread Activity" << "\n\n";
    for (const Dict<IPC_Target, ThreadStatRec>& stats : threadStats) {
        for (int i = 0; i < stats.count(); ++i) {
            const ThreadStatRec& record = stats.value(i);
            out << std::setw(40) << stats.key(i).address().c_str() << std::setw(17)
                << record.bytesCompleted << std::setw(17) << record.bytesPending
                << std::setw(17) << record.numPending << std::setw(17) << record.bytesFailed
                << Connection::reportTime(record.lastThreadActivity) << "\n";
        }
    }
    out.flags(flags);
}

#include "ThreadDataSocket.h"

#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <cstring>

#include "LogStream.h"
#include "PendingMsg.h"
#include "SignalCatcher.h"
#include "SocketConnection.h"

namespace {

const char* const sourceFile = "ThreadDataSocket";

// How long the sending thread waits for the send lock before it looks at
// the stop flag again.
const std::chrono::milliseconds sendLockTry(100);

}  // namespace

ThreadDataSocket::ThreadDataSocket(const IPC_Target& peer, Connection* connection)
    : DataSocket(peer, connection)
{
}

ThreadDataSocket::ThreadDataSocket(int fd, Connection* connection, bool orphan)
    : DataSocket(fd, connection, orphan)
{
}

ThreadDataSocket::~ThreadDataSocket()
{
    if (_threadJoinable) {
        _stopping = true;
        // A write in progress wakes at once: the sending side is shut.
        if (_threadRunning && descriptor() != -1)
            ::shutdown(descriptor(), SHUT_WR);
        pthread_join(_thread, nullptr);
        _threadJoinable = false;
    }
    int dropped = 0;
    {
        std::lock_guard<std::mutex> lock(_queueLock);
        dropped = dropQueue();
        // Even as the process ends: the count is of messages lost.
        endOverflow("the connection to it is closed");
    }
    SocketConnection* owner = socketConnection();
    if (!owner || !owner->isDestroying())
        reportNeverSent(dropped);
}

bool ThreadDataSocket::isBroken()
{
    std::lock_guard<std::mutex> lock(_queueLock);
    return _broken != NOT_BROKEN;
}

bool ThreadDataSocket::brokenByLostConnection()
{
    std::lock_guard<std::mutex> lock(_queueLock);
    return _broken == CONNECTION_LOST;
}

void ThreadDataSocket::connectionRenewed()
{
    int dropped = 0;
    {
        std::lock_guard<std::mutex> lock(_queueLock);
        dropped = dropQueue();
        _broken = NOT_BROKEN;
        endOverflow("its connection was made again");
    }
    reportNeverSent(dropped);
}

void ThreadDataSocket::messageWritten()
{
    std::lock_guard<std::mutex> lock(_queueLock);
    endOverflow("it reads again");
}

bool ThreadDataSocket::queueFull(uint32_t bytes)
{
    if (_queue.isEmpty())
        return false;
    // Once full, the queue takes messages again when it has drained to half,
    // so that a slow reader does not make a line per message.  The bytes
    // counted are those waiting behind the message being written.
    const int most = _overflowing ? MAX_QUEUED_MESSAGES / 2 : MAX_QUEUED_MESSAGES;
    const uint64_t mostBytes = _overflowing ? MAX_QUEUED_BYTES / 2 : MAX_QUEUED_BYTES;
    const uint64_t waiting = _queuedBytes - _queue.front()->length();
    return _queue.count() >= most || waiting + bytes > mostBytes;
}

void ThreadDataSocket::endOverflow(const char* how)
{
    if (!_overflowing)
        return;
    QEV_LOG(LogStream::PROBLEM, sourceFile)
        << _dropped << (_dropped == 1 ? " message to " : " messages to ") << peer()
        << (_dropped == 1 ? " was" : " were") << " dropped while its queue was full; " << how
        << std::endl;
    _overflowing = false;
    _dropped = 0;
}

int ThreadDataSocket::queuedCount()
{
    std::lock_guard<std::mutex> lock(_queueLock);
    return _queue.count();
}

bool ThreadDataSocket::queueMessage(PendingMsg* msg)
{
    std::lock_guard<std::mutex> lock(_queueLock);
    if (_broken != NOT_BROKEN) {
        // The sending thread broke the socket after the caller looked: no
        // thread starts on it; the caller finishes the message.
        msg->setStatus(PendingMsg::BROKEN);
        return false;
    }
    if (queueFull(msg->length())) {
        if (!_overflowing) {
            _overflowing = true;
            QEV_LOG(LogStream::PROBLEM, sourceFile)
                << "The queue of messages to " << peer() << " is full (" << _queue.count()
                << " messages, " << _queuedBytes << " bytes it has not read); messages to it "
                << "are dropped, and counted, until it reads again" << std::endl;
        }
        ++_dropped;
        msg->setStatus(PendingMsg::DROPPED);
        return false;
    }
    endOverflow("it reads again");
    _queue.enqueue(msg);
    _queuedBytes += msg->length();
    updateThreadStats(msg, true);
    if (_threadRunning) {
        QEV_LOG(LogStream::DEBUG, sourceFile)
            << "Socket buffer to " << peer() << " is full!\n"
            << "and sending thread is already running.  Adding this"
            << " message to the queue. \n"
            << "There is now " << _queue.count() << " messages on the Q" << std::endl;
        return true;
    }
    QEV_LOG(LogStream::DEBUG, sourceFile) << "Socket buffer to " << peer() << " is full!\n"
                                          << "STARTING the SENDING THREAD!!!" << std::endl;
    if (_threadJoinable) {
        // The last thread has finished its work; collect it.
        pthread_join(_thread, nullptr);
        _threadJoinable = false;
    }
    // The thread blocks the caught signals, so that they interrupt the main
    // thread's wait.
    const sigset_t blocked = SignalCatcher::caughtSignalSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    _threadRunning = true;
    // The thread takes the queue lock first, so it starts work only after
    // this call has let go of it.
    const int result = pthread_create(&_thread, nullptr, threadMain, this);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (result == 0) {
        _threadJoinable = true;
        return true;
    }
    _threadRunning = false;
    QEV_LOG(LogStream::PROBLEM, sourceFile) << "Cannot create thread for message send: "
                                            << std::strerror(result) << std::endl;
    // The caller finishes and frees the message: it leaves the queue here
    // without being freed.
    msg->setStatus(PendingMsg::BROKEN);
    updateThreadStats(msg, false);
    _queuedBytes -= msg->length();
    QueueImpl<PendingMsg*> kept;
    while (!_queue.isEmpty()) {
        PendingMsg* queued = _queue.dequeue();
        if (queued != msg)
            kept.enqueue(queued);
    }
    while (!kept.isEmpty())
        _queue.enqueue(kept.dequeue());
    return false;
}

void* ThreadDataSocket::threadMain(void* socket)
{
    ThreadDataSocket* self = static_cast<ThreadDataSocket*>(socket);
    PendingMsg* first = nullptr;
    {
        std::lock_guard<std::mutex> lock(self->_queueLock);
        first = self->_queue.front();
    }
    self->doThreadSend(first);
    return nullptr;
}

void ThreadDataSocket::doThreadSend(PendingMsg* first)
{
    PendingMsg* msg = first;
    while (msg) {
        {
            std::unique_lock<std::timed_mutex> send(_sendLock, std::defer_lock);
            // Tries against the wall clock: its timed lock is the one that
            // thread checkers follow, and a jump of the clock only changes
            // how soon the stop flag is looked at again.
            while (!_stopping &&
                   !send.try_lock_until(std::chrono::system_clock::now() + sendLockTry)) {
            }
            if (_stopping)
                msg->setStatus(PendingMsg::BROKEN);
            else
                syncWrite(msg, true);
        }
        msg = threadCompleted(msg);
    }
}

PendingMsg* ThreadDataSocket::threadCompleted(PendingMsg* finished)
{
    std::lock_guard<std::mutex> lock(_queueLock);
    updateThreadStats(finished, false);
    if (finished->status() == PendingMsg::BROKEN)
        _broken = finished->lostConnection() ? CONNECTION_LOST : PEER_SILENT;
    _queue.dequeue();  // the head is the finished message
    _queuedBytes -= finished->length();
    delete finished;
    PendingMsg* next = nullptr;
    if (_broken == NOT_BROKEN && !_stopping && !_queue.isEmpty())
        next = _queue.front();
    if (!next)
        _threadRunning = false;
    return next;
}

void ThreadDataSocket::doSyncSend(PendingMsg* msg)
{
    QEV_LOG(LogStream::EVENT, sourceFile) << "Synchronous send to " << peer()
                                          << " has been started." << std::endl;
    {
        std::lock_guard<std::timed_mutex> send(_sendLock);
        syncWrite(msg);
    }
    QEV_LOG(LogStream::EVENT, sourceFile) << "Synchronous send to " << peer()
                                          << " has completed." << std::endl;
}

void ThreadDataSocket::updateThreadStats(PendingMsg* msg, bool queued)
{
    if (SocketConnection* owner = socketConnection())
        owner->changeThreadStats(peer(), msg->length(), msg->remaining(), queued);
}

int ThreadDataSocket::dropQueue()
{
    int dropped = 0;
    while (!_queue.isEmpty()) {
        PendingMsg* msg = _queue.dequeue();
        updateThreadStats(msg, false);
        _queuedBytes -= msg->length();
        delete msg;
        ++dropped;
    }
    return dropped;
}

void ThreadDataSocket::reportNeverSent(int count)
{
    if (count > 0) {
        QEV_LOG(LogStream::PROBLEM, sourceFile) << count << " messages were never sent."
                                                << std::endl;
    }
}

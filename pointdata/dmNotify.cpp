#include "dmNotify.h"

#include "Connection.h"
#include "DataMgmtMsg.h"
#include "DataSocket.h"
#include "IPC_Target.h"
#include "LogStream.h"
#include "SocketConnection.h"
#include "monotonicClock.h"

#include <cstdint>

namespace {

// Seconds a notification server that took no connection within the
// connect wait is left alone.
const int HUNG_SERVER_PAUSE_SECONDS = 30;

// A time of notifications that fail, from the first failure to the next
// notification sent (or the end of the process).
struct Outage {
    bool on = false;
    unsigned long dropped = 0;
    // While the server is left alone: the monotonic time of the next try.
    int64_t nextTry = 0;

    ~Outage() { end("the process ends"); }
    void end(const char* how)
    {
        if (on) {
            QEV_LOG(LogStream::PROBLEM, "dmNotify")
                << dropped << " notification" << (dropped == 1 ? " was" : "s were")
                << " dropped while NOTIFICATION_SERVER did not take them; " << how << std::endl;
        }
        on = false;
        dropped = 0;
        nextTry = 0;
    }
};

Outage& theOutage()
{
    static Outage outage;
    return outage;
}

// The last notification was dropped at the server's full queue.
bool droppedAtQueue = false;

} // namespace

bool dmNotifyFailureLogged()
{
    const Outage& outage = theOutage();
    return (outage.on && outage.dropped > 1) || droppedAtQueue;
}

bool dmNotify(DataAccessKey key, DataTime time)
{
    Outage& outage = theOutage();
    if (outage.on && monotonicMillis() < outage.nextTry) {
        ++outage.dropped;
        return false;
    }
    const unsigned long timedOut = DataSocket::timedOutConnects();
    const IPC_Target server(TextString("NOTIFICATION_SERVER"));
    const DataMgmtMsg message(key, time);
    const int result = message.send(server);
    droppedAtQueue = result == Connection::QUEUE_FULL;
    if (result == 0) {
        // One queued behind notifications the server has not read is not
        // taken yet.
        if (!SocketConnection::isQueueing(server))
            outage.end("it takes them again");
        return true;
    }
    if (droppedAtQueue)
        return false;
    const bool hung = DataSocket::timedOutConnects() != timedOut;
    if (!outage.on) {
        QEV_LOG(LogStream::PROBLEM, "dmNotify")
            << "A notification to NOTIFICATION_SERVER failed"
            << (hung ? " (it took no connection within the wait)" : "")
            << "; notifications are dropped, and counted, until it takes them again" << std::endl;
        outage.on = true;
    }
    ++outage.dropped;
    outage.nextTry =
        hung ? monotonicMillis() + int64_t(HUNG_SERVER_PAUSE_SECONDS) * 1000 : 0;
    return false;
}

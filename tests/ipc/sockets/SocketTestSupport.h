// Shared pieces of the socket tests: this process's own target and a
// WirePeer's as the two sides see them, bounded waits with and without the
// event wait, and the connection time-out of one test.
#ifndef SOCKETTESTSUPPORT_H
#define SOCKETTESTSUPPORT_H

#include <unistd.h>

#include <chrono>
#include <functional>

#include "../RecordingReceiver.h"
#include "Connection.h"
#include "DataSocket.h"
#include "IPC_Target.h"
#include "IpAddress.h"
#include "SocketConnection.h"
#include "WirePeer.h"

namespace sockettest {

// A module no receiver of the system uses.
const int TEST_MODULE = 9;

// The process's own listening port, as a peer addresses it.
inline WirePeer::Target ownTarget()
{
    return WirePeer::Target::address(WirePeer::LOOPBACK, Connection::myTarget().port(), getpid());
}

inline IPC_Target targetOf(const WirePeer& peer)
{
    return IPC_Target(IpAddress(TextString("127.0.0.1")), peer.port(), peer.target().pid);
}

inline SocketConnection* normalConnection()
{
    return Connection::connectionFor(Connection::NORMAL_PRIORITY)->socketConnection();
}

// Checks the condition until it holds or the time is up (its last answer),
// running the event wait in short passes between checks (pump) or sleeping.
inline bool until(const std::function<bool()>& done, int timeoutMs, bool pump)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        if (pump)
            Connection::waitForEvent(1, nullptr);
        else
            usleep(5000);
    }
    return true;
}

inline bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    return until(done, timeoutMs, true);
}

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    return until(done, timeoutMs, false);
}

// Sets the connection time-out for one test and restores it afterwards.
class TimeoutGuard {
public:
    explicit TimeoutGuard(int seconds) : _saved(DataSocket::connectionTimeout())
    {
        DataSocket::setConnectionTimeout(seconds);
    }
    ~TimeoutGuard() { DataSocket::setConnectionTimeout(_saved); }

private:
    int _saved;
};

}  // namespace sockettest

#endif

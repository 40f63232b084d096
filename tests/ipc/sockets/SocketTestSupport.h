// Shared pieces of the socket tests: this process's own target and a
// WirePeer's as the two sides see them, a receiver that records what the
// dispatcher hands it, and a bounded pump of the event wait.
#ifndef SOCKETTESTSUPPORT_H
#define SOCKETTESTSUPPORT_H

#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "Connection.h"
#include "DataSocket.h"
#include "IPC_Target.h"
#include "IpAddress.h"
#include "Receiver.h"
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

// Runs the event wait in short passes until the condition holds or the
// time is up; the condition's last answer.
inline bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        Connection::waitForEvent(1, nullptr);
    }
    return true;
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

// Waits, without running the event wait, until the condition holds or the
// time is up.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        usleep(5000);
    }
    return true;
}

struct Received {
    short type;
    std::string sender;
    std::string body;
};

class RecordingReceiver : public Receiver {
public:
    void receive(const short* type, const IPC_Target& sender, unsigned long bodyLength,
                 char* body) override
    {
        received.push_back({*type, sender.address().c_str(), std::string(body, bodyLength)});
    }
    std::vector<Received> received;
};

}  // namespace sockettest

#endif

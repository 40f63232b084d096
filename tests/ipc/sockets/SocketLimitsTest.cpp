// What keeps peers from taking the process's descriptors, time and memory:
// a failed accept pauses the listening socket, the buffers of messages
// being read stay within their total, and the connections within their
// number.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <vector>

#include "AcceptSocket.h"
#include "Config.h"
#include "Dispatcher.h"
#include "EventDispatcher.h"
#include "LogCapture.h"
#include "SocketTestSupport.h"
#include "monotonicClock.h"

using namespace sockettest;

namespace {

double cpuSeconds()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Sets an integer of the configuration for one test.
class ConfigGuard {
public:
    ConfigGuard(const char* name, int value, int restored) : _name(name), _restored(restored)
    {
        Config::instance()->setValue(_name, value);
    }
    ~ConfigGuard() { Config::instance()->setValue(_name, _restored); }

private:
    TextString _name;
    int _restored;
};

class SocketLimits : public ::testing::Test {
protected:
    void SetUp() override { Dispatcher::addReceiver(TEST_MODULE, &recorder); }
    void TearDown() override { Dispatcher::addReceiver(TEST_MODULE, nullptr); }

    WirePeer::Bytes message(std::size_t length) const
    {
        return WirePeer::encode(peer.target(), TEST_MODULE, 4,
                                WirePeer::Bytes(length - WirePeer::HEADER_SIZE, 'm'));
    }

    WirePeer peer;
    RecordingReceiver recorder;
};

}  // namespace

// A listening socket whose accept() fails (here because it was shut down;
// descriptors or memory run out the same way) leaves the wait for a second
// after each failure, with one line, instead of waking every wait at once:
// over 2.5 s the waits use almost no time and it is tried about three times.
TEST_F(SocketLimits, AFailedAcceptPausesTheListeningSocket)
{
    // A port of its own, so that the process's own target stays as it is.
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<struct sockaddr*>(&address), size), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<struct sockaddr*>(&address), &size), 0);
    close(probe);
    AcceptSocket listener(normalConnection(),
                          IPC_Target(IpAddress(TextString("127.0.0.1")), ntohs(address.sin_port),
                                     getpid()));
    ASSERT_NE(listener.descriptor(), -1);
    ASSERT_EQ(shutdown(listener.descriptor(), SHUT_RD), 0);

    LogCapture log;
    const double cpu = cpuSeconds();
    const int64_t start = monotonicMillis();
    pumpUntil([] { return false; }, 2500);
    EXPECT_LT(cpuSeconds() - cpu, 0.3);
    EXPECT_GT(listener.pausedUntil(), start + AcceptSocket::ACCEPT_PAUSE_MILLIS);
    const int tries = log.count("accept() failed in AcceptSocket::handleEvent()");
    EXPECT_TRUE(tries == 2 || tries == 3) << log.text();
    EXPECT_EQ(log.count("No connection is accepted for the next 1000 ms"), tries);
}

// The buffer of a message grows with what arrives, within the total of
// all connections: an announcement alone takes the first chunk; a second
// message that would pass the total closes its connection, and the first
// is still read whole.
TEST_F(SocketLimits, BufferedBytesStayWithinTheirTotal)
{
    ConfigGuard total("SocketBufferTotal.numBytes", 200000, DataSocket::DEFAULT_BUFFER_TOTAL);
    LogCapture log;
    const WirePeer::Bytes raw = message(150000);
    auto part = [&](std::size_t from, std::size_t to) {
        return WirePeer::Bytes(raw.begin() + from, raw.begin() + to);
    };
    auto buffered = [](uint64_t n) {
        return pumpUntil([n] { return DataSocket::bufferedBytes() == n; });
    };
    ASSERT_TRUE(buffered(0));

    const int announcing = peer.connectTo(ownTarget());
    ASSERT_TRUE(peer.send(announcing, part(0, 4)));
    EXPECT_TRUE(buffered(DataSocket::FIRST_CHUNK));
    peer.close(announcing);
    EXPECT_TRUE(buffered(0));

    const int first = peer.connectTo(ownTarget()), second = peer.connectTo(ownTarget());
    ASSERT_TRUE(peer.send(first, part(0, 100000)));
    EXPECT_TRUE(buffered(2 * DataSocket::FIRST_CHUNK));
    ASSERT_TRUE(peer.send(second, part(0, 70000)));
    EXPECT_TRUE(pumpUntil([&] { return !peer.isOpen(second); }));
    EXPECT_TRUE(log.contains("IPC message of 150000 bytes would take the buffers of messages "
                             "being read past 200000 bytes"))
        << log.text();
    EXPECT_EQ(DataSocket::bufferedBytes(), 2 * DataSocket::FIRST_CHUNK);

    ASSERT_TRUE(peer.send(first, part(100000, raw.size())));
    ASSERT_TRUE(pumpUntil([&] { return recorder.received.size() == 1; }));
    EXPECT_EQ(recorder.received[0].body.size(), raw.size() - WirePeer::HEADER_SIZE);
    EXPECT_EQ(DataSocket::bufferedBytes(), 0u);
}

// Connections beyond the limit that cannot make room (each holds part of a
// message) are closed as they come, with one line for those of a second;
// once one of the kept connections closes, a new peer is served.
TEST_F(SocketLimits, ConnectionsBeyondTheLimitAreClosed)
{
    ConfigGuard limit("SocketConnectionLimit.numConnections", 2,
                      SocketConnection::DEFAULT_CONNECTION_LIMIT);
    LogCapture log;
    std::vector<int> connections;
    for (int i = 0; i < 4; ++i) {
        connections.push_back(peer.connectTo(ownTarget()));
        ASSERT_TRUE(peer.send(connections.back(), {0, 0}));
    }
    EXPECT_TRUE(pumpUntil(
        [&] { return !peer.isOpen(connections[2]) && !peer.isOpen(connections[3]); }));
    pumpUntil([] { return false; }, 200);
    EXPECT_TRUE(peer.isOpen(connections[0]) && peer.isOpen(connections[1]));
    EXPECT_EQ(log.count("Closed 1 new connection(s): the process keeps at most 2 connections"),
              1)
        << log.text();
    EXPECT_EQ(log.count("couldn't find a good candidate."), 1);

    peer.close(connections[0]);
    EXPECT_TRUE(pumpUntil([&] { return log.contains("have the proper header."); }));
    const int next = peer.connectTo(ownTarget());
    ASSERT_TRUE(peer.send(next, message(100)));
    EXPECT_TRUE(pumpUntil([&] { return recorder.received.size() == 1; }));
}

// Sending to a WirePeer: the connect path, the sending thread behind a slow
// reader, broken and closed connections, and the statistics report.
#include <gtest/gtest.h>

#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>

#include <atomic>
#include <csignal>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "DataMsg.h"
#include "LogCapture.h"
#include "PendingMsg.h"
#include "ReadyMsg.h"
#include "SignalCatcher.h"
#include "SignalClient.h"
#include "SocketTestSupport.h"
#include "ThreadDataSocket.h"

using namespace sockettest;

namespace {

const int BIG = 8 << 20;

int sendData(const IPC_Target& to, long productId, int size, int deliveryMode = 0)
{
    DataMsg msg(productId, SeqOf<char>(std::string(size, char('a' + productId)).c_str(), size));
    msg.setDeliveryMode(deliveryMode);
    return msg.send(to);
}

PendingMsg* readyMsgFor(DataSocket* socket)
{
    unsigned length = 0;
    return new PendingMsg(socket, ReadyMsg().buildBuffer(Connection::myTarget(), length));
}

void expectData(const WirePeer::Message& m, int32_t productId, std::size_t size)
{
    EXPECT_TRUE(m.ok) << m.error;
    EXPECT_EQ(m.productId, productId);
    EXPECT_EQ(m.bytes.size(), size);
    EXPECT_TRUE(m.bytesText() == std::string(size, char('a' + productId)));
}

// A peer with a small receive buffer, and this process's sockets with
// small buffers too (the configuration): a big message does not fit.
class SlowReader : public ::testing::Test {
protected:
    SlowReader() : peer(WirePeer::Options{0, 32768}), to(targetOf(peer)) {}

    // With the connection time-out given, pauses the peer and sends it a
    // big message: the socket, whose sending thread now writes it.
    ThreadDataSocket* startSendingThread(int timeoutSeconds)
    {
        timeout.emplace(timeoutSeconds);
        peer.pauseReading(true);
        EXPECT_EQ(sendData(to, 1, BIG), 0);
        DataSocket* socket = normalConnection()->socketFor(to);
        ThreadDataSocket* sending = socket ? socket->threadDataSocket() : nullptr;
        EXPECT_TRUE(sending && sending->isThreadRunning());
        return sending;
    }

    std::optional<TimeoutGuard> timeout;
    WirePeer peer;
    const IPC_Target to;
};

}  // namespace

TEST(SocketSend, RefusesNullTargetsAndUnknownDeliveryModes)
{
    WirePeer peer;
    const IPC_Target to = targetOf(peer);
    LogCapture log;
    ReadyMsg msg;
    EXPECT_EQ(msg.send(IPC_Target()), -2);
    EXPECT_EQ(log.count("Can not send message.  Target is null"), 1);
    for (int mode : {2, -1}) {
        msg.setDeliveryMode(mode);
        EXPECT_EQ(msg.send(to), -2) << mode;
    }
    EXPECT_EQ(log.count("invalid delivery mode "), 2);
    EXPECT_EQ(log.count("Send of IPC message failed because of a system error! "), 2);
    EXPECT_EQ(normalConnection()->socketFor(to), nullptr);
    EXPECT_EQ(peer.messages().size(), 0u);
}

TEST_F(SlowReader, GetsEverythingInOrderThroughTheSendingThread)
{
    ThreadDataSocket* socket = startSendingThread(60);
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(sendData(to, 2, 100), 0);
    EXPECT_EQ(sendData(to, 3, 100000), 0);
    EXPECT_EQ(socket->queuedCount(), 3);

    peer.pauseReading(false);
    WirePeer::Message m[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(peer.waitFor(1, 2, 20000, &m[i]));
    expectData(m[0], 1, BIG);
    expectData(m[1], 2, 100);
    expectData(m[2], 3, 100000);
    ASSERT_TRUE(waitUntil([&] { return !socket->isThreadRunning(); }));
    EXPECT_EQ(socket->queuedCount(), 0);

    // The report lists the peer with what its threads wrote.
    std::ostringstream report;
    SocketConnection::statReport(report, Connection::connections());
    const std::string text = report.str();
    EXPECT_NE(text.find("Threads have been used to send messages to the following connections: "),
              std::string::npos);
    const std::string row = std::string("\n") + to.address().c_str();
    ASSERT_NE(text.find(row), std::string::npos) << text;
    std::istringstream fields(text.substr(text.find(row) + row.size()));
    unsigned completed = 0, pending = 1, numPending = 1, failed = 1;
    fields >> completed >> pending >> numPending >> failed;
    EXPECT_EQ(completed, m[0].totalLength + m[1].totalLength + m[2].totalLength);
    EXPECT_EQ(pending + numPending + failed, 0u);
}

TEST_F(SlowReader, ThatStopsReadingBreaksTheSocket)
{
    ThreadDataSocket* socket = startSendingThread(1);
    ASSERT_NE(socket, nullptr);
    ASSERT_TRUE(waitUntil([&] { return socket->isBroken() && !socket->isThreadRunning(); }));

    // No thread starts on the broken socket.
    PendingMsg* late = readyMsgFor(socket);
    const bool queued = socket->queueMessage(late);
    EXPECT_FALSE(queued);
    EXPECT_FALSE(socket->isThreadRunning());
    if (!queued) {
        EXPECT_EQ(late->status(), PendingMsg::BROKEN);
        delete late;
    }

    LogCapture log;
    EXPECT_EQ(sendData(to, 2, 10), -1);
    EXPECT_EQ(log.count("Send of IPC message failed; Target not available."), 1);
    EXPECT_EQ(normalConnection()->socketFor(to), nullptr);

    // The next send opens a new connection.
    peer.pauseReading(false);
    EXPECT_EQ(sendData(to, 3, 10), 0);
    WirePeer::Message m;
    ASSERT_TRUE(peer.waitFor(1, 2, 5000, &m));
    expectData(m, 3, 10);
}

TEST_F(SlowReader, ALostConnectionIsReconnectedByTheMainThread)
{
    TimeoutGuard timeout(60);
    WirePeer::Message m;

    // The peer closes between two sends: the second goes on a new
    // connection of the same socket.
    ASSERT_EQ(sendData(to, 1, 10), 0);
    ASSERT_TRUE(peer.waitFor(1, 2, 5000, &m));
    DataSocket* socket = normalConnection()->socketFor(to);
    const int first = m.connection;
    peer.close(first);
    struct pollfd seen = {socket->descriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&seen, 1, 5000), 1);  // the end of file has arrived
    ASSERT_EQ(sendData(to, 2, 10), 0);
    ASSERT_TRUE(peer.waitFor(1, 2, 5000, &m));
    expectData(m, 2, 10);
    EXPECT_NE(m.connection, first);
    EXPECT_EQ(normalConnection()->socketFor(to), socket);

    // The peer closes while the sending thread writes: the thread only
    // marks the socket broken; the next send reconnects.
    peer.pauseReading(true);
    ASSERT_EQ(sendData(to, 3, BIG), 0);
    ThreadDataSocket* sending = socket->threadDataSocket();
    ASSERT_TRUE(sending->isThreadRunning());
    peer.close(m.connection);
    ASSERT_TRUE(waitUntil([&] { return sending->isBroken() && !sending->isThreadRunning(); }));
    peer.pauseReading(false);
    EXPECT_EQ(sendData(to, 4, 10), 0);
    ASSERT_TRUE(peer.waitFor(1, 2, 5000, &m));
    expectData(m, 4, 10);
    EXPECT_FALSE(sending->isBroken());
}

TEST_F(SlowReader, DeletingTheSocketStopsItsSendingThread)
{
    ThreadDataSocket* socket = startSendingThread(60);
    ASSERT_NE(socket, nullptr);
    ASSERT_EQ(sendData(to, 2, 10), 0);
    ASSERT_EQ(sendData(to, 3, 10), 0);

    LogCapture log;
    normalConnection()->removeSocket(socket, true);  // wakes and joins the thread
    EXPECT_EQ(log.count("2 messages were never sent."), 1);
    ThreadStatRec record;
    ASSERT_TRUE(normalConnection()->threadStats().find(to, nullptr, &record));
    EXPECT_EQ(record.numPending, 0);
    EXPECT_EQ(record.bytesPending, 0u);
    EXPECT_GT(record.bytesFailed, 0u);
}

TEST_F(SlowReader, ASynchronousSendOutlastsSignals)
{
    TimeoutGuard timeout(60);
    peer.pauseReading(true);
    const pthread_t self = pthread_self();
    std::thread interrupter([&] {
        for (int i = 0; i < 5; ++i) {
            usleep(40000);
            pthread_kill(self, SIGHUP);
        }
        peer.pauseReading(false);
    });
    LogCapture log;
    EXPECT_EQ(sendData(to, 1, BIG, 1), 0);
    interrupter.join();
    WirePeer::Message m;
    ASSERT_TRUE(peer.waitFor(1, 2, 10000, &m));
    expectData(m, 1, BIG);
    EXPECT_EQ(log.count("Synchronous send to "), 2);  // started and completed
}

namespace {

// The reactions of a child process in the middle of a synchronous send:
// SIGHUP queues one more message on the socket, whose sending thread then
// waits for the send lock the send holds; SIGTERM deletes the socket, as
// the exit handlers of a shutdown do, and ends the process.
class ShutDownInsideASend : public SignalClient {
public:
    explicit ShutDownInsideASend(const IPC_Target& to) : _to(to) {}

    void reset() override
    {
        if (queued.exchange(true))
            return;
        DataSocket* socket = normalConnection()->socketFor(_to);
        if (!socket || !socket->queueMessage(readyMsgFor(socket)))
            _exit(4);
    }
    void terminate(bool, int) override
    {
        normalConnection()->removeSocket(normalConnection()->socketFor(_to), true);
        _exit(0);
    }

    std::atomic<bool> queued{false};

private:
    const IPC_Target _to;
};

}  // namespace

TEST(SocketSend, AShutdownInsideASynchronousSendStopsTheWaitingThread)
{
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        WirePeer peer(WirePeer::Options{0, 32768});
        const IPC_Target to = targetOf(peer);
        DataSocket::setConnectionTimeout(60);
        peer.pauseReading(true);
        ShutDownInsideASend client(to);
        SignalCatcher::instance()->setClient(&client);
        // The signals repeat until they are handled: the first ones may
        // come before the send waits.
        const pthread_t self = pthread_self();
        std::thread([self, &client] {
            while (!client.queued) {
                pthread_kill(self, SIGHUP);
                usleep(100000);
            }
            for (;;) {
                pthread_kill(self, SIGTERM);
                usleep(100000);
            }
        }).detach();
        sendData(to, 1, BIG, 1);
        _exit(3);  // the send ended before the shutdown
    }
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 300 && (ended = waitpid(child, &status, WNOHANG)) == 0; ++i)
        usleep(50000);
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    EXPECT_EQ(ended, child) << "the socket's destructor never joined its sending thread";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Reading messages off the sockets a peer opens to this process: the
// length word and the body over as many events as they take, and the
// lengths that close the connection.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "Dispatcher.h"
#include "EventDispatcher.h"
#include "LogCapture.h"
#include "SocketTestSupport.h"

using namespace sockettest;

namespace {

class SocketRead : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dispatcher::addReceiver(TEST_MODULE, &recorder);
        connection = peer.connectTo(ownTarget());
        ASSERT_NE(connection, -1);
    }
    void TearDown() override { Dispatcher::addReceiver(TEST_MODULE, nullptr); }

    WirePeer::Bytes message(const std::string& body, int32_t priority = 0) const
    {
        return WirePeer::encode(peer.target(), TEST_MODULE, 4,
                                WirePeer::Bytes(body.begin(), body.end()), priority);
    }

    // Sends from another thread while this one runs the wait, until the
    // receiver has n messages.
    void sendPiecesUntil(std::size_t n, const WirePeer::Bytes& raw,
                         const std::vector<std::size_t>& sizes)
    {
        std::thread writer([&] { EXPECT_TRUE(peer.sendPieces(connection, raw, sizes, 50)); });
        EXPECT_TRUE(pumpUntil([&] { return recorder.received.size() == n; }));
        writer.join();
    }

    WirePeer peer;
    int connection = -1;
    RecordingReceiver recorder;
};

}  // namespace

TEST_F(SocketRead, AMessageInPiecesIsDispatchedOnceWhole)
{
    const std::string body(1000, 'b');
    sendPiecesUntil(1, message(body), {4, 10});
    // Even the length word may come in pieces.
    sendPiecesUntil(2, message("second"), {2, 1, 1, 40});
    pumpUntil([] { return false; }, 200);

    ASSERT_EQ(recorder.received.size(), 2u);
    EXPECT_EQ(recorder.received[0].type, 4);
    EXPECT_EQ(recorder.received[0].body, body);
    EXPECT_EQ(recorder.received[1].body, "second");
    EXPECT_EQ(recorder.received[0].sender, targetOf(peer).address().c_str());
    EXPECT_TRUE(peer.isOpen(connection));
    // The accepted socket has learnt its peer.
    EXPECT_NE(normalConnection()->socketFor(targetOf(peer)), nullptr);
}

TEST_F(SocketRead, ImpossibleLengthsCloseTheConnection)
{
    const char* const shortHeader = "have the proper header. Closing the connection.";
    const char* const tooLong = "more than the largest allowed (268435456)";
    const struct {
        WirePeer::Bytes raw;
        const char* logged;
    } cases[] = {{{0, 0, 0, 43}, shortHeader},
                 {{0x10, 0, 0, 1}, tooLong},
                 {{0xff, 0xff, 0xff, 0xff}, tooLong}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        LogCapture log;
        ASSERT_TRUE(peer.send(connection, c.raw));
        EXPECT_TRUE(pumpUntil([&] { return !peer.isOpen(connection); }));
        EXPECT_TRUE(log.contains(c.logged));
        connection = peer.connectTo(ownTarget());
    }
    // End of file inside the length word is a bad header, too.
    LogCapture log;
    ASSERT_TRUE(peer.send(connection, {0, 0}));
    pumpUntil([] { return false; }, 200);
    peer.close(connection);
    EXPECT_TRUE(pumpUntil([&] { return log.contains("have the proper header."); }));
    EXPECT_TRUE(recorder.received.empty());
}

TEST_F(SocketRead, APriorityOtherThanZeroOrOneIsNormal)
{
    const int connections = Connection::connections().count();
    ASSERT_TRUE(peer.send(connection, message("odd", 7)));
    ASSERT_TRUE(pumpUntil([&] { return !recorder.received.empty(); }));
    EXPECT_EQ(Connection::connections().count(), connections);
    EXPECT_NE(normalConnection()->socketFor(targetOf(peer)), nullptr);
}

TEST_F(SocketRead, ASecondSocketOfAPeerLeavesTheFirstOneItsEntry)
{
    // The first socket: the peer's first message names it.
    ASSERT_TRUE(peer.send(connection, message("one")));
    ASSERT_TRUE(pumpUntil([&] { return recorder.received.size() == 1; }));
    DataSocket* first = normalConnection()->socketFor(targetOf(peer));
    ASSERT_NE(first, nullptr);

    // A second connection of the same peer lives among the other sockets;
    // when it closes, the first keeps its entry.
    const int second = peer.connectTo(ownTarget());
    ASSERT_TRUE(peer.send(second, message("two")));
    ASSERT_TRUE(pumpUntil([&] { return recorder.received.size() == 2; }));
    Set<DescriptorEventClient*>& watched = EventDispatcher::instance()->waitSet();
    const int before = watched.count();
    peer.close(second);
    ASSERT_TRUE(pumpUntil([&] { return watched.count() == before - 1; }));
    EXPECT_EQ(normalConnection()->socketFor(targetOf(peer)), first);
}

TEST_F(SocketRead, ASenderOfUnknownKindIsNotLearnt)
{
    // Such a target equals nothing, not even itself: entered as the
    // socket's peer it could not be taken out again when the socket closed,
    // and the table would keep a deleted socket.
    WirePeer::Target odd = peer.target();
    odd.kind = 3;
    LogCapture log;
    ASSERT_TRUE(peer.send(connection, WirePeer::encode(odd, TEST_MODULE, 4, {1, 2, 3, 4})));
    ASSERT_TRUE(pumpUntil([&] { return log.contains("IPC_Target quantize fail: bad type 3"); }));
    // The accepted socket is watched now; closing the peer's end removes it.
    Set<DescriptorEventClient*>& watched = EventDispatcher::instance()->waitSet();
    const int before = watched.count();
    peer.close(connection);
    ASSERT_TRUE(pumpUntil([&] { return watched.count() == before - 1; }));

    EXPECT_TRUE(recorder.received.empty());
    EXPECT_TRUE(log.contains("IPC_Target quantize fail: bad type 3"));
    // The report walks every socket the connections still hold.
    std::ostringstream report;
    SocketConnection::statReport(report, Connection::connections());
}

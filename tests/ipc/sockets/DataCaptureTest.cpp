// The data-capture client against a data controller played by a WirePeer:
// registration, data messages and their ReadyMsg answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DataCaptReceiver.h"
#include "LogCapture.h"
#include "LogStream.h"
#include "SocketTestSupport.h"
#include "dataCaptClient.h"

using namespace sockettest;

namespace {

// "id:bytes" of each data message the callback was given.
std::vector<std::string> deliveries;

void recordData(long productId, int count, char* bytes)
{
    deliveries.push_back(std::to_string(productId) + ":" + std::string(bytes, count));
}

}  // namespace

TEST(DataCapture, RegistersThenAnswersEachDataMessageWithOneReadyMsg)
{
    WirePeer controller;
    ASSERT_TRUE(controller.listening());
    LogStream::setFilter("DataCaptReceiver", LogStream::TTY, LogStream::VERBOSE, true);
    LogCapture log;

    EXPECT_EQ(registerDataRequest(targetOf(controller), TextString("KWBC.*"), recordData), 0);
    WirePeer::Message request, ready;
    ASSERT_TRUE(controller.waitFor(1, 1, 5000, &request));
    ASSERT_TRUE(controller.waitFor(1, 0, 5000, &ready));
    EXPECT_LT(request.seq, ready.seq);
    EXPECT_EQ(request.pattern, "KWBC.*");
    EXPECT_EQ(request.sender.port, Connection::myTarget().port());
    EXPECT_EQ(ready.totalLength, WirePeer::HEADER_SIZE);

    // The controller connects to the process's own port (the accept path)
    // and sends three data messages; a fourth comes from another target.
    const int c = controller.connectTo(ownTarget());
    ASSERT_NE(c, -1);
    ASSERT_TRUE(controller.sendData(c, 7, std::string("0123456789")));
    ASSERT_TRUE(controller.sendData(c, 8, WirePeer::Bytes()));
    ASSERT_TRUE(controller.sendData(c, 9, std::string("x")));
    ASSERT_TRUE(pumpUntil([] { return deliveries.size() == 3; }));
    ASSERT_TRUE(controller.waitForCount(1, 0, 4, 5000));
    EXPECT_EQ(deliveries, (std::vector<std::string>{"7:0123456789", "8:", "9:x"}));
    EXPECT_EQ(log.count("ProdLen 10"), 1);
    EXPECT_EQ(log.count("ProdLen 0"), 1);
    EXPECT_EQ(controller.count(1, 0), 4u);  // one at registration, one per data message
    EXPECT_EQ(controller.count(1, 1), 1u);

    // The ReadyMsg goes to the header's sender, not to the controller.
    WirePeer other;
    ASSERT_TRUE(other.sendData(other.connectTo(ownTarget()), 10, std::string("y")));
    ASSERT_TRUE(pumpUntil([] { return deliveries.size() == 4; }));
    EXPECT_TRUE(other.waitFor(1, 0, 5000));
    EXPECT_EQ(controller.count(1, 0), 4u);
    LogStream::setFilter("DataCaptReceiver", LogStream::TTY, LogStream::VERBOSE, false);
}

TEST(DataCapture, MessagesThisClientCannotUseAreLoggedAndIgnored)
{
    WirePeer controller;
    const int c = controller.connectTo(ownTarget());
    ASSERT_NE(c, -1);
    LogCapture log;

    // No callback: the data reaches nobody, and the controller is still
    // told that the process is ready.
    DataCaptReceiver::setDataCallback(nullptr);
    ASSERT_TRUE(controller.sendData(c, 3, std::string("abc")));
    ASSERT_TRUE(pumpUntil([&] { return controller.count(1, 0) == 1; }));
    EXPECT_EQ(log.count("no data callback registered; data message 3"), 1);

    // ReadyMsg and DataReqMsg are for a data routing manager, which this
    // process has not; an unknown type is a bug of the sender.
    ASSERT_TRUE(controller.send(c, WirePeer::readyMsg(controller.target())));
    ASSERT_TRUE(controller.send(c, WirePeer::dataReqMsg(controller.target(), "abc")));
    ASSERT_TRUE(controller.send(c, WirePeer::encode(controller.target(), 1, 5, {})));
    ASSERT_TRUE(pumpUntil([&] { return log.contains("unrecognized message type"); }));
    EXPECT_EQ(log.count("ReadyMsg from "), 1);
    EXPECT_EQ(log.count("DataReqMsg: pattern = abc"), 1);
    EXPECT_EQ(log.count("DataReqMsg from "), 1);
    EXPECT_EQ(controller.count(1, 0), 1u);
}

TEST(DataCapture, AReadyMsgToADeadTargetIsTriedThreeTimes)
{
    WirePeer gone;
    gone.stopListening();
    EXPECT_FALSE(gone.listening());
    LogCapture log;
    sendReadyMsg(targetOf(gone));
    EXPECT_EQ(log.count("Send of IPC message failed; Target not available."), 3);
    EXPECT_EQ(log.count("Module: 1"), 3);
}

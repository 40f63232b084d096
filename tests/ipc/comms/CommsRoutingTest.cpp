// The comms routing layer over loopback: the routing table and its clients
// file, the module-0 receiver on the router's and on a client's side, and
// the data request with its retry timer.  One process: the message layer,
// the named targets and the product-key patterns are set up once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "CommsReceiver.h"
#include "CommsReqTimer.h"
#include "CommsRoutingEntry.h"
#include "CommsRoutingTable.h"
#include "CommsTestSupport.h"
#include "EventDispatcher.h"
#include "LogCapture.h"
#include "TempTree.h"
#include "commsClient.h"
#include "ipcInitialise.h"
#include "productKeyPatterns.h"

using namespace commstest;

namespace {

WirePeer* peerBehindName = nullptr;

class CommsLayer : public ::testing::Environment {
public:
    void SetUp() override
    {
        const std::string home = std::getenv("QEV_HOME");
        std::system(("mkdir -p " + home + "/data " + std::getenv("QEV_DATA") + "/workFiles")
                        .c_str());
        peerBehindName = new WirePeer;
        std::ofstream(home + "/data/qev.config")
            << WirePeer::namedTargetsConfig({peerBehindName->namedTargetEntry("NAMED_CLIENT")});
        std::ofstream(home + "/data/patterns.txt") << "AB CD\nK\n";
        // The configuration and the patterns are read once for the process.
        IPC_Target(TextString("NAMED_CLIENT"));
        findProductKey("", 0);
        ipcInitialise();
        CommsRoutingTable::instance()->load(TextString("TestRouter"));
    }
    void TearDown() override { delete peerBehindName; }
};

::testing::Environment* const commsLayer = ::testing::AddGlobalTestEnvironment(new CommsLayer);

std::string addressOf(const WirePeer& peer)
{
    return targetOf(peer).address().c_str();
}

// "key/id/length/bytes" of each CDMsg the callback was given.
std::vector<std::string> deliveries;

void recordCommsData(TextString* key, long productId, long length, unsigned char* bytes)
{
    deliveries.push_back(std::string(key->c_str()) + "/" + std::to_string(productId) + "/" +
                         std::to_string(length) + "/" +
                         std::string(reinterpret_cast<char*>(bytes), length));
}

}  // namespace

WirePeer& commstest::namedPeer()
{
    return *peerBehindName;
}

TEST(CommsRoutingTable, KeepsItsClientsFileAcrossARestart)
{
    TempTree tree;
    tree.mkdirs("qev_data/workFiles");
    const std::string file = tree.qevData() + "/workFiles/R1_clients.txt";
    WirePeer client, gone;
    gone.stopListening();
    const IPC_Target named(TextString("NAMED_CLIENT"));
    {
        CommsRoutingTable table;
        LogCapture log;
        EXPECT_EQ(table.load(TextString("R1")), 0);
        EXPECT_EQ(log.count("No clients are currently registered with the R1."), 1);
        EXPECT_EQ(table.addClient(targetOf(client), TextString("^AB")), 1);
        EXPECT_EQ(table.addClient(named, TextString("CD")), 1);
        EXPECT_EQ(table.addClient(targetOf(gone), TextString("K")), 1);
        // Registering again moves the client last, with its new pattern.
        EXPECT_EQ(table.addClient(targetOf(client), TextString("AB")), 1);
        EXPECT_EQ(TempTree::readFile(file), "NAMED_CLIENT CD\n" + addressOf(gone) + " K\n" +
                                                addressOf(client) + " AB\n");
        // The file could not hold a pattern with a blank.
        EXPECT_EQ(table.addClient(named, TextString("C D")), 0);
        EXPECT_EQ(table.count(), 3);
        EXPECT_STREQ(table.entry(0)->pattern().c_str(), "CD");
    }
    std::ofstream(file, std::ios::app) << "one-word\n";

    // The restarted router tells each client and keeps those that answer.
    CommsRoutingTable restarted;
    LogCapture log;
    EXPECT_EQ(restarted.load(TextString("R1")), 1);
    EXPECT_EQ(log.count("Reconnecting to registered clients."), 1);
    EXPECT_EQ(log.count("R1_clients.txt line 4: not a target and a pattern; line skipped"), 1);
    WirePeer::Message notice;
    ASSERT_TRUE(client.waitFor(0, 9, 5000, &notice));
    EXPECT_EQ(notice.body.size(), 4u);  // the restart time
    EXPECT_TRUE(namedPeer().waitFor(0, 9, 5000));
    EXPECT_EQ(restarted.count(), 2);
    EXPECT_EQ(TempTree::readFile(file), "NAMED_CLIENT CD\n" + addressOf(client) + " AB\n");
    EXPECT_FALSE(TempTree::exists(file + ".new"));

    restarted.removeClient(named);
    EXPECT_TRUE(TempTree::exists(file));
    restarted.removeClient(targetOf(client));
    EXPECT_FALSE(TempTree::exists(file));
}

TEST(CommsReceiver, RoutesProductsToMatchingClientsTheLaterRegisteredFirst)
{
    CommsRoutingTable* table = CommsRoutingTable::instance();
    WirePeer client, dead1, dead2;
    dead1.stopListening();
    dead2.stopListening();
    const int c = client.connectTo(ownTarget());
    ASSERT_NE(c, -1);
    // Data requests from the client and, by their headers, from two
    // clients that have gone.
    ASSERT_TRUE(client.send(c, WirePeer::encode(client.target(), 0, 6, text("CD"))));
    ASSERT_TRUE(client.send(c, WirePeer::encode(dead1.target(), 0, 6, text("^CD1"))));
    ASSERT_TRUE(client.send(c, WirePeer::encode(dead2.target(), 0, 6, text("CD12"))));
    ASSERT_TRUE(pumpUntil([&] { return table->count() == 3; }));

    LogCapture log;
    ASSERT_TRUE(client.send(c, WirePeer::encode(client.target(), 0, 4, rawProduct(5, "xx CD12 yy"))));
    ASSERT_TRUE(pumpUntil([&] { return client.count(0, 7) == 1; }));
    WirePeer::Message data;
    ASSERT_TRUE(client.waitFor(0, 7, 5000, &data));
    EXPECT_EQ(data.body, commsData("CD12", 5, "xx CD12 yy"));
    EXPECT_EQ(log.count("MXR_ENTRY RawProductMsg: CD12 5 10"), 1);
    const std::string sends = log.text();
    const size_t second = sends.find("Error sending data message to " + addressOf(dead2));
    const size_t first = sends.find("Error sending data message to " + addressOf(dead1));
    ASSERT_NE(second, std::string::npos);
    ASSERT_NE(first, std::string::npos);
    EXPECT_LT(second, first);
    EXPECT_EQ(table->count(), 1);

    // A key of one character counts as none; a data stream's raw bytes are
    // routed as they stand; the restart notice and unknown types only log.
    ASSERT_TRUE(client.send(c, WirePeer::encode(client.target(), 0, 4, rawProduct(6, "a K b"))));
    ASSERT_TRUE(client.send(c, WirePeer::encode(client.target(), 0, 5, dataStream("CD9", 7, "raw"))));
    ASSERT_TRUE(client.send(c, WirePeer::encode(client.target(), 0, 9, {0, 0, 0, 1})));
    ASSERT_TRUE(client.send(c, WirePeer::encode(client.target(), 0, 3, {})));
    ASSERT_TRUE(pumpUntil([&] { return log.contains("MXR_FAIL Unrecognized message type: 3"); }));
    EXPECT_EQ(log.count("MXR_FAIL Couldn't find key in raw product msg:"), 1);
    EXPECT_TRUE(log.contains("[a,  , K,  , b, \n ]"));
    EXPECT_EQ(log.count("CommsRouter has restarted."), 1);
    ASSERT_TRUE(pumpUntil([&] { return client.count(0, 7) == 2; }));
    ASSERT_TRUE(client.waitFor(0, 7, 5000, &data));
    EXPECT_EQ(data.body, commsData("CD9", 7, "raw"));
    EXPECT_EQ(client.count(0, 7), 2u);
    table->removeClient(targetOf(client));
}

TEST(CommsClient, OneCallbackPerDataMessageAndOneRequestPending)
{
    WirePeer router;
    EXPECT_EQ(getCommsData(TextString("AB.*"), TextString(router.targetText().c_str()),
                           recordCommsData), 0);
    EXPECT_EQ(getCommsData(TextString("CD"), TextString(router.targetText().c_str()),
                           recordCommsData), 0);
    ASSERT_TRUE(router.waitForCount(0, 6, 2, 5000));
    EXPECT_EQ(CommsReceiver::dataCallbackCount(), 1);

    LogCapture log;
    const int c = router.connectTo(ownTarget());
    ASSERT_TRUE(router.send(c, WirePeer::encode(router.target(), 0, 7, commsData("AB1", 3, "xyz"))));
    // A length beyond the bytes carried is held to them.
    ASSERT_TRUE(router.send(c, WirePeer::encode(router.target(), 0, 7, commsData("AB2", 4, "pq", 10))));
    ASSERT_TRUE(pumpUntil([] { return deliveries.size() == 2; }));
    EXPECT_EQ(deliveries, (std::vector<std::string>{"AB1/3/3/xyz", "AB2/4/2/pq"}));
    EXPECT_EQ(log.count("CDMsg length 10 does not match the 2 bytes it carries; 2 taken"), 1);

    EXPECT_EQ(getCommsData(TextString("X"), TextString("NO_SUCH_ROUTER"), recordCommsData), -1);
    EXPECT_EQ(log.count("Can't send Data Request message to NO_SUCH_ROUTER: Not a recognized IPC "
                        "Target."), 1);
    EXPECT_EQ(pendingCommsRequest(), nullptr);

    // A router that does not answer: the request waits in a timer, which a
    // new request replaces.
    WirePeer gone;
    gone.stopListening();
    EXPECT_EQ(getCommsData(TextString("X"), TextString(gone.targetText().c_str()),
                           recordCommsData), 0);
    EXPECT_EQ(log.count("Send of Data Request message to " + gone.targetText() + " failed."), 1);
    CommsReqTimer* pending = const_cast<CommsReqTimer*>(pendingCommsRequest());
    ASSERT_NE(pending, nullptr);
    EXPECT_TRUE(pending->isActive());
    EXPECT_EQ(pending->interval(), 15000);
    EXPECT_TRUE(EventDispatcher::instance()->timers().find(pending));
    pending->expire();  // fails again: armed again
    EXPECT_TRUE(pending->isActive());
    EXPECT_EQ(getCommsData(TextString("Y"), TextString(router.targetText().c_str()),
                           recordCommsData), 0);
    EXPECT_EQ(pendingCommsRequest(), nullptr);
    EXPECT_EQ(EventDispatcher::instance()->timers().count(), 0);
    EXPECT_TRUE(router.waitForCount(0, 6, 3, 5000));
}

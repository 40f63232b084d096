// The decoder process against peers that flood or stall it: a notification
// server that accepts and never reads, and a local client that registers
// again and again.  Its memory stays bounded and its log readable, and what
// it drops is counted.
#include "AcarsSamples.h"
#include "DecoderInstallation.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

// Counts the occurrences of a text in a log.
size_t occurrences(const std::string& log, const std::string& text)
{
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++n;
    return n;
}

// A bulletin of that many aircraft reports, each of its own aircraft.
SampleBulletin aircraftReports(int count, int bulletin)
{
    SampleOptions o;
    o.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
    std::vector<AcarsSamples::Report> reports;
    const std::vector<AcarsSamples::Report> base = AcarsSamples::reports(0);
    for (int i = 0; i < count; ++i) {
        AcarsSamples::Report r = base[static_cast<size_t>(i) % base.size()];
        r.tail = "N" + std::to_string(10000 + i + 5000 * bulletin);
        r.minute = i % 60;
        r.second = (i / 60) % 60;
        reports.push_back(r);
    }
    SampleBulletin b;
    std::string error;
    EXPECT_TRUE(AcarsSamples::encode(reports, bulletin, o, b, error)) << error;
    return b;
}

// Waits until the peer's count of notifications stays the same for a while.
size_t settledNotifications(const WirePeer& server)
{
    size_t seen = server.count(2, 10);
    for (int still = 0; still < 10;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const size_t now = server.count(2, 10);
        still = now == seen ? still + 1 : 0;
        seen = now;
    }
    return seen;
}

}  // namespace

// A notification server that takes the connection and reads nothing: the
// notifications beyond the queue's bound are dropped and counted (one line
// as that begins, one with the count when the server reads again), none is
// lost without being counted, and the bulletin is stored.
TEST(FloodingPeers, ANotificationServerThatNeverReadsHoldsABoundedQueue)
{
    QEV_REQUIRE_NCGEN();
    DecoderInstallation p("acars", "bufr/acars", "badAcarsBufr");
    WirePeer server(WirePeer::Options{0, 4096});
    server.pauseReading(true);
    p.tree.write("qev_home/data/qev.config",
                 WirePeer::namedTargetsConfig({server.namedTargetEntry("NOTIFICATION_SERVER")}) +
                     "int = numBytes\nSocketBufferSize.numBytes : 4096\n");
    p.start();
    const int reports = 3000;
    const SampleBulletin first = aircraftReports(reports, 0);
    p.drop(first);
    ASSERT_TRUE(p.announce()) << p.child->log();
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    const std::string full = "The queue of messages to NOTIFICATION_SERVER is full (1000 messages";
    EXPECT_EQ(occurrences(p.child->log(), full), 1u) << p.child->log();
    EXPECT_EQ(occurrences(p.child->log(), "dmNotify FAILED"), 0u);

    // The server reads again: what was queued arrives, and the next
    // notification ends the time of drops with its count.
    server.pauseReading(false);
    settledNotifications(server);
    p.drop(aircraftReports(1, 1));
    ASSERT_TRUE(p.announce()) << p.child->log();
    const size_t received = settledNotifications(server);
    const std::string log = p.child->log();
    const std::string ended = " messages to NOTIFICATION_SERVER were dropped while its queue was "
                              "full; it reads again";
    const size_t at = log.find(ended);
    ASSERT_NE(at, std::string::npos) << log;
    const size_t from = log.rfind("PROBLEM: ", at) + 9;
    const size_t dropped = std::stoul(log.substr(from, at - from));
    EXPECT_GE(dropped, 1000u);
    EXPECT_EQ(dropped + received, size_t(reports + 1)) << log;
    EXPECT_EQ(occurrences(log, full), 1u);

    ASSERT_TRUE(p.child->waitAsleep(10000));
    p.child->signal(SIGTERM);
    EXPECT_EQ(p.child->waitExit(20000), 0) << p.child->log();
}

// A local client that sends a registration again and again (20,000 times):
// the lines it makes are a few and then one with the count, written once
// the client has gone quiet.
TEST(FloodingPeers, RepeatedRegistrationsWriteAFewLinesAndTheirCount)
{
    DecoderInstallation p("acars", "bufr/acars", "badAcarsBufr");
    p.start();
    WirePeer client;
    const int c = client.connectTo(p.ready.sender);
    ASSERT_GE(c, 0);
    const int sent = 20000;
    WirePeer::Bytes all;
    for (int i = 0; i < sent; ++i) {
        const WirePeer::Bytes one = WirePeer::dataReqMsg(client.target(), "KWBC.*");
        all.insert(all.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(client.send(c, all, 30000));
    const std::string count = std::to_string(sent - 5) + " more lines like \"no data routing "
                              "manager; DataReqMsg ignored\" about ";
    ASSERT_TRUE(p.child->waitForLog(count, 30000)) << p.child->log().substr(0, 4000);
    const std::string log = p.child->log();
    EXPECT_EQ(occurrences(log, "no data routing manager in this process; DataReqMsg from"), 5u);
    EXPECT_EQ(occurrences(log, "DataReqMsg: pattern = KWBC.*"), 5u);
    ASSERT_TRUE(p.announce());
    p.child->signal(SIGTERM);
    EXPECT_EQ(p.child->waitExit(20000), 0) << p.child->log();
}

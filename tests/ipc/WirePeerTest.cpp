// The test peer itself: what its codec refuses, and its loopback side
// between two peers (its agreement with the system's buffers is in
// MessagesTest).
#include "WirePeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "WireBytes.h"

namespace {

typedef WirePeer::Bytes Bytes;

Bytes bytesOf(const std::string& hex)
{
    const std::string b = fromHex(golden(hex));
    return Bytes(b.begin(), b.end());
}

const WirePeer::Target kSender = WirePeer::Target::address(WirePeer::LOOPBACK, 40000, 4242);

}  // namespace

TEST(WirePeerCodec, DataTimeFormsNamedSendersAndMalformedMessages)
{
    WirePeer::Message m;
    // A model sounding's time: the forecast period travels, the valid time
    // is made from it.
    WirePeer::DataTime model = WirePeer::DataTime::observation(1000);
    model.flags = 0x700;
    model.fcstPeriod = 3600;
    Bytes body;
    WirePeer::putDataTime(body, model);
    EXPECT_EQ(hexGroups(body), "00000700 000003e8 00000e10");
    ASSERT_TRUE(WirePeer::decode(WirePeer::dataMgmtMsg(kSender, 1, model), &m)) << m.error;
    EXPECT_EQ(m.dataTime.validStart, 4600);
    EXPECT_EQ(m.dataTime.validEnd, 4600);

    // The older form without a flags word: the first word is a time.
    ASSERT_TRUE(WirePeer::decode(
        WirePeer::encode(kSender, 2, 10,
                         bytesOf("00002711 4409b2c8 00000000 00000001 4409b2c8 4409c0d8")),
        &m));
    EXPECT_EQ(m.dataTime.flags, 0xC00u);
    EXPECT_EQ(m.dataTime.secondTime, 1141486280);
    EXPECT_TRUE(m.dataTime.validFlag);
    EXPECT_EQ(m.dataTime.validEnd, 1141489880);

    // A named sender lengthens the header; the body is still found behind it.
    WirePeer::Target named;
    named.kind = 1;
    named.name = "NOTIFY";
    ASSERT_TRUE(WirePeer::decode(WirePeer::dataReqMsg(named, "x"), &m));
    EXPECT_EQ(m.sender.text(), "NOTIFY");
    EXPECT_EQ(m.pattern, "x");
    // A message the peer does not know keeps its body raw.
    ASSERT_TRUE(WirePeer::decode(WirePeer::encode(kSender, 3, 1, Bytes{1, 2, 3}), &m));
    EXPECT_EQ(m.body, (Bytes{1, 2, 3}));

    // Faults an encoder can make, each refused with a reason.
    const char* bad[] = {
        "0000002b <sender> 00000001 00000000 00000000",           // length word off by one
        "00000038 <sender> 00000001 00000000 00000001 00000003 00000004 61626300",  // counts differ
        "00000038 <sender> 00000001 00000000 00000001 00000003 00000003 61626301",  // padding
        "00000034 <sender> 00000001 00000000 00000001 00000003 00000003",  // bytes missing
        "00000030 <sender> 00000001 00000000 00000000 00000000",  // ReadyMsg with a body
        "00000030 <sender> 00000005 00000000 00000000 0000002a",  // ChildTargetMsg cut short
        "0000002c 00000002 00000002 7f000001 00019c40 00001092 00000000 00000000 "
        "00000001 00000000 00000000",                              // port above 16 bits
    };
    for (const char* hex : bad) {
        EXPECT_FALSE(WirePeer::decode(bytesOf(hex), &m)) << hex;
        EXPECT_FALSE(m.error.empty()) << hex;
    }
}

// The peer's own target, its configuration lines, its reader's framing and
// faults, and its time-outs (talking to the system, it is used throughout
// tests/ipc/sockets).
TEST(WirePeerLoopback, FramingFaultsAndTimeOuts)
{
    WirePeer a, b(WirePeer::Options{777, 4096});
    ASSERT_TRUE(a.listening() && b.listening());
    EXPECT_EQ(b.targetText(), "127.0.0.1/" + std::to_string(b.port()) + "/777");
    EXPECT_EQ(WirePeer::namedTargetsConfig({a.namedTargetEntry("A"), "B,h,2"}),
              "SeqOfTextString = namedTargets\nSocketConnection.namedTargets : A,127.0.0.1," +
                  std::to_string(a.port()) + ",B,h,2\n");

    // Two messages in one stream, cut inside the length word, inside the
    // header and across the boundary between them.
    int c = a.connectTo(b.target());
    ASSERT_GT(c, 0);
    Bytes two = WirePeer::dataMsg(a.target(), 1, Bytes{'x'});
    const Bytes ready = WirePeer::readyMsg(a.target());
    two.insert(two.end(), ready.begin(), ready.end());
    ASSERT_TRUE(a.sendPieces(c, two, {2, 3, 40, 20}, 30));
    WirePeer::Message m;
    ASSERT_TRUE(b.waitFor(1, 2, 5000, &m));
    EXPECT_EQ(m.bytesText(), "x");
    EXPECT_EQ(m.sender.text(), a.targetText());
    ASSERT_TRUE(b.waitFor(1, 0, 5000, &m));
    EXPECT_EQ(m.seq, 2u);
    EXPECT_FALSE(b.waitFor(1, 0, 50));  // each message is handed out once

    // A length word below its own size: the peer closes that connection.
    ASSERT_TRUE(a.send(c, Bytes{0, 0, 0, 2}));
    EXPECT_TRUE(a.waitClosed(c, 5000));
    EXPECT_FALSE(a.send(c, ready));
    // A message cut short by a close is reported as unfinished.
    int d = a.connectTo(b.target());
    ASSERT_TRUE(a.send(d, Bytes(ready.begin(), ready.begin() + 10)));
    a.close(d);
    for (int i = 0; i < 100 && b.protocolErrors().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::vector<std::string> errors = b.protocolErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("length word 2"), std::string::npos);
    EXPECT_NE(errors[1].find("10 bytes unfinished"), std::string::npos);

    // A write to a reader that has stopped ends at its time-out.
    b.pauseReading(true);
    int e = a.connectTo(b.target());
    ASSERT_GT(e, 0);
    EXPECT_FALSE(a.send(e, WirePeer::dataMsg(a.target(), 1, Bytes(16u << 20, 'x')), 300));
    EXPECT_EQ(b.messages().size(), 2u);
}

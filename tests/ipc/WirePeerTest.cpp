#include "WirePeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

typedef WirePeer::Bytes Bytes;

const char* const kSenderHex = "00000002 00000002 7f000001 00009c40 00001092 00000000 00000000";

WirePeer::Target sender()
{
    return WirePeer::Target::address(WirePeer::LOOPBACK, 40000, 4242);
}

// Hex words separated by blanks; "<sender>" stands for the sender above.
Bytes fromHex(std::string text)
{
    auto at = text.find("<sender>");
    if (at != std::string::npos)
        text.replace(at, 8, kSenderHex);
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

Bytes join(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool decodes(const Bytes& raw, WirePeer::Message* m)
{
    bool ok = WirePeer::decode(raw, m);
    EXPECT_EQ(ok, m->error.empty()) << m->error;
    return ok;
}

}  // namespace

TEST(WirePeerCodec, GoldenMessagesEncodeAndDecode)
{
    struct Case {
        Bytes encoded;
        const char* hex;
        int32_t module, type;
    };
    const Case cases[] = {
        {WirePeer::readyMsg(sender()), "0000002c <sender> 00000001 00000000 00000000", 1, 0},
        {WirePeer::dataReqMsg(sender(), "abc"),
         "00000038 <sender> 00000001 00000000 00000001 00000003 00000003 61626300", 1, 1},
        {WirePeer::dataMsg(sender(), 7, Bytes{'h', 'e', 'l', 'l', 'o'}),
         "00000040 <sender> 00000001 00000000 00000002 00000007 00000005 00000005 68656c6c 6f000000",
         1, 2},
        {WirePeer::childTargetMsg(sender(), 42, 4242),
         "00000034 <sender> 00000005 00000000 00000000 0000002a 00001092", 5, 0},
        {WirePeer::dataMgmtMsg(sender(), 10001, WirePeer::DataTime::observation(1700000000)),
         "00000038 <sender> 00000002 00000000 0000000a 00002711 00000300 6553f100", 2, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        Bytes golden = fromHex(c.hex);
        EXPECT_EQ(c.encoded, golden);
        WirePeer::Message m;
        ASSERT_TRUE(decodes(golden, &m));
        EXPECT_EQ(m.totalLength, golden.size());
        EXPECT_EQ(m.sender.text(), "127.0.0.1/40000/4242");
        EXPECT_EQ(m.sender.family, 2);
        EXPECT_EQ(m.module, c.module);
        EXPECT_EQ(m.type, c.type);
        EXPECT_EQ(m.body.size(), golden.size() - WirePeer::HEADER_SIZE);
    }
    WirePeer::Message m;
    ASSERT_TRUE(decodes(cases[1].encoded, &m));
    EXPECT_EQ(m.pattern, "abc");
    ASSERT_TRUE(decodes(cases[2].encoded, &m));
    EXPECT_EQ(m.productId, 7);
    EXPECT_EQ(m.bytesText(), "hello");
    ASSERT_TRUE(decodes(cases[3].encoded, &m));
    EXPECT_EQ(m.uniqueId, 42u);
    EXPECT_EQ(m.processId, 4242);
    ASSERT_TRUE(decodes(cases[4].encoded, &m));
    EXPECT_EQ(m.key, 10001u);
    EXPECT_EQ(m.dataTime.flags, 0x300u);
    EXPECT_EQ(m.dataTime.refTime, 1700000000);
    EXPECT_EQ(m.dataTime.secondTime, 1700000000);
    EXPECT_FALSE(m.dataTime.validFlag);

    // A named sender lengthens the header; the body is still found behind it.
    WirePeer::Target named;
    named.kind = 1;
    named.name = "NOTIFY";
    ASSERT_TRUE(decodes(WirePeer::dataReqMsg(named, "x"), &m));
    EXPECT_EQ(m.sender.text(), "NOTIFY");
    EXPECT_EQ(m.pattern, "x");
}

TEST(WirePeerCodec, DataTimeFormsAndMalformedMessages)
{
    WirePeer::Message m;
    // A model sounding's time: the forecast period travels, the valid time
    // is made from it.
    WirePeer::DataTime model = WirePeer::DataTime::observation(1000);
    model.flags = 0x700;
    model.fcstPeriod = 3600;
    Bytes body;
    WirePeer::putDataTime(body, model);
    EXPECT_EQ(body, fromHex("00000700 000003e8 00000e10"));
    ASSERT_TRUE(decodes(WirePeer::dataMgmtMsg(sender(), 1, model), &m));
    EXPECT_EQ(m.dataTime.fcstPeriod, 3600);
    EXPECT_EQ(m.dataTime.validStart, 4600);
    EXPECT_EQ(m.dataTime.validEnd, 4600);

    // Every optional part, in wire order.
    WirePeer::DataTime full;
    full.flags = 0x3C00;
    full.refTime = 100;
    full.fcstPeriod = 5;
    full.validFlag = true;
    full.validStart = 90;
    full.validEnd = 110;
    full.secondTime = 95;
    full.key = 9;
    ASSERT_TRUE(decodes(WirePeer::dataMgmtMsg(sender(), 1, full), &m));
    const WirePeer::DataTime& d = m.dataTime;
    EXPECT_EQ(std::vector<int64_t>({d.flags, d.refTime, d.fcstPeriod, d.validFlag, d.validStart,
                                    d.validEnd, d.secondTime, d.key}),
              std::vector<int64_t>({0x3C00, 100, 5, 1, 90, 110, 95, 9}));

    // The older form without a flags word: the first word is a time.
    Bytes older = fromHex("00002711 4409b2c8 00000000 00000001 4409b2c8 4409c0d8");
    ASSERT_TRUE(decodes(WirePeer::encode(sender(), 2, 10, older), &m));
    EXPECT_EQ(m.dataTime.flags, 0xC00u);
    EXPECT_EQ(m.dataTime.refTime, 1141486280);
    EXPECT_EQ(m.dataTime.secondTime, 1141486280);
    EXPECT_TRUE(m.dataTime.validFlag);

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
        SCOPED_TRACE(hex);
        EXPECT_FALSE(decodes(fromHex(hex), &m));
    }
    // A message the peer does not know keeps its body raw.
    ASSERT_TRUE(decodes(WirePeer::encode(sender(), 3, 1, Bytes{1, 2, 3}), &m));
    EXPECT_EQ(m.body, (Bytes{1, 2, 3}));
}

TEST(WirePeerLoopback, MessagesBothWaysInOrder)
{
    WirePeer::Options options;
    options.pid = 777;
    WirePeer a, b(options);
    ASSERT_TRUE(a.listening());
    ASSERT_TRUE(b.listening());
    EXPECT_EQ(b.targetText(), "127.0.0.1/" + std::to_string(b.port()) + "/777");
    EXPECT_EQ(a.namedTargetEntry("NOTIFICATION_SERVER"),
              "NOTIFICATION_SERVER,127.0.0.1," + std::to_string(a.port()));
    EXPECT_EQ(WirePeer::namedTargetsConfig({"A,h,1", "B,h,2"}),
              "SeqOfTextString = namedTargets\nSocketConnection.namedTargets : A,h,1,B,h,2\n");

    int c = a.connectTo(b.target());
    ASSERT_GT(c, 0);
    ASSERT_TRUE(a.sendData(c, 7, "hello"));
    ASSERT_TRUE(a.send(c, WirePeer::readyMsg(a.target())));
    ASSERT_TRUE(a.sendData(c, 8, std::string()));

    WirePeer::Message m1, m2;
    ASSERT_TRUE(b.waitFor(1, 2, 5000, &m1));
    ASSERT_TRUE(b.waitFor(1, 2, 5000, &m2));
    EXPECT_FALSE(b.waitFor(1, 2, 50));
    EXPECT_EQ(m1.productId, 7);
    EXPECT_EQ(m1.bytesText(), "hello");
    EXPECT_EQ(m2.productId, 8);
    EXPECT_TRUE(m2.bytes.empty());
    EXPECT_EQ(m1.sender.text(), a.targetText());
    ASSERT_TRUE(b.waitForCount(1, 0, 1, 5000));
    std::vector<WirePeer::Message> all = b.messages();
    ASSERT_EQ(all.size(), 3u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].seq, i + 1);
        EXPECT_EQ(all[i].type, i == 1 ? 0 : 2);
        EXPECT_EQ(all[i].connection, m1.connection);
    }

    // An answer on the accepted connection, and a message on a connection to
    // the port the sender's header gave.
    ASSERT_TRUE(b.send(m1.connection,
                       WirePeer::dataMgmtMsg(b.target(), 79, WirePeer::DataTime::observation(5))));
    int back = b.connectTo(m1.sender);
    ASSERT_GT(back, 0);
    ASSERT_TRUE(b.send(back, WirePeer::childTargetMsg(b.target(), 42, 777)));
    WirePeer::Message n;
    ASSERT_TRUE(a.waitFor(2, 10, 5000, &n));
    EXPECT_EQ(n.key, 79u);
    EXPECT_EQ(n.connection, c);
    ASSERT_TRUE(a.waitFor(5, 0, 5000, &n));
    EXPECT_EQ(n.uniqueId, 42u);
    EXPECT_NE(n.connection, c);
}

TEST(WirePeerLoopback, SplitFramingAndBadLengths)
{
    WirePeer a, b;
    int c = a.connectTo(b.target());
    ASSERT_GT(c, 0);
    // Two messages in one stream, cut inside the length word, inside the
    // header and across the boundary between them.
    Bytes two = join(WirePeer::dataMsg(a.target(), 1, Bytes{'x'}), WirePeer::readyMsg(a.target()));
    ASSERT_TRUE(a.sendPieces(c, two, {2, 3, 40, 20}, 30));
    ASSERT_TRUE(b.waitForCount(1, 0, 1, 5000));
    std::vector<WirePeer::Message> got = b.messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0].ok);
    EXPECT_EQ(got[0].bytesText(), "x");
    EXPECT_TRUE(got[1].ok);
    EXPECT_EQ(got[1].type, 0);

    // A length word below its own size: the peer closes that connection.
    ASSERT_TRUE(a.send(c, Bytes{0, 0, 0, 2}));
    EXPECT_TRUE(a.waitClosed(c, 5000));
    EXPECT_FALSE(a.isOpen(c));
    ASSERT_EQ(b.protocolErrors().size(), 1u);
    EXPECT_NE(b.protocolErrors()[0].find("length word 2"), std::string::npos);
    EXPECT_FALSE(a.send(c, WirePeer::readyMsg(a.target())));

    // A message cut short by a close is reported as unfinished.
    int d = a.connectTo(b.target());
    Bytes ready = WirePeer::readyMsg(a.target());
    ASSERT_TRUE(a.send(d, Bytes(ready.begin(), ready.begin() + 10)));
    a.close(d);
    for (int i = 0; i < 100 && b.protocolErrors().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(b.protocolErrors().size(), 2u);
    EXPECT_NE(b.protocolErrors()[1].find("10 bytes unfinished"), std::string::npos);
}

TEST(WirePeerLoopback, TimeOutsAreHonoured)
{
    typedef std::chrono::steady_clock Clock;
    WirePeer::Options small;
    small.receiveBuffer = 4096;
    WirePeer a, slow(small);

    auto t0 = Clock::now();
    EXPECT_FALSE(slow.waitFor(1, 0, 200));
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_GE(waited, 200);
    EXPECT_LT(waited, 5000);

    // A reader that has stopped: a large write gives up at its time-out.
    slow.pauseReading(true);
    int c = a.connectTo(slow.target());
    ASSERT_GT(c, 0);
    EXPECT_FALSE(a.send(c, WirePeer::dataMsg(a.target(), 1, Bytes(16u << 20, 'x')), 300));
    EXPECT_EQ(slow.messages().size(), 0u);

    // No listener: connecting is refused at once.
    slow.stopListening();
    EXPECT_FALSE(slow.listening());
    EXPECT_EQ(a.connectTo(slow.target(), 1000), -1);
}

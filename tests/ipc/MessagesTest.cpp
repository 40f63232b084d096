#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CDMsg.h"
#include "ChildTargetMsg.h"
#include "CommsMessage.h"
#include "DSMsg.h"
#include "DataMgmtMsg.h"
#include "DataMsg.h"
#include "DataReqMsg.h"
#include "FilePathMsg.h"
#include "IpcHeader.h"
#include "LogCapture.h"
#include "RawProductMsg.h"
#include "ReadyMsg.h"
#include "WireBytes.h"
#include "WirePeer.h"

namespace {

IPC_Target sender()
{
    return IPC_Target(TextString("127.0.0.1/40000/4242"));
}

// The buffer a message builds for the sender, as bytes.
std::string build(const ParameterizedMsg& msg, const IPC_Target& from = sender())
{
    unsigned total = 0;
    std::unique_ptr<char[]> buffer(msg.buildBuffer(from, total));
    EXPECT_TRUE(buffer);
    return buffer ? std::string(buffer.get(), total) : std::string();
}

// A received buffer: its header and the position and size of its body.
struct Received {
    explicit Received(const std::string& bytes) : copy(bytes)
    {
        body = header.quantize(copy.begin(), copy.end());
    }
    long bodyLength() const { return header.totalLength() - header.length(); }
    ExactCopy copy;
    IpcHeader header;
    char* body = nullptr;
};

// The body of a message decodes into its package, using exactly the body,
// and the package encodes back into the same bytes.
template <class Args>
void expectBodyRoundTrip(const ParameterizedMsg& msg)
{
    const std::string bytes = build(msg);
    Received r(bytes);
    ASSERT_NE(r.body, nullptr);
    ASSERT_EQ(r.bodyLength(), r.copy.end() - r.body);
    Args args;
    ASSERT_EQ(args.quantize(r.body, r.copy.end()), r.copy.end());
    std::string again(args.length(), '\0');
    ASSERT_EQ(args.serialize(&again[0]), &again[0] + again.size());
    EXPECT_EQ(hexGroups(again), hexGroups(bytes.substr(bytes.size() - r.bodyLength())));
}

}  // namespace

// The buffers the system builds equal the golden bytes and the encoding of
// the test peer's own codec, and the peer's strict reader takes them.
TEST(Messages, GoldenBuffersMatchThePeersCodec)
{
    const WirePeer::Target from = WirePeer::Target::address(WirePeer::LOOPBACK, 40000, 4242);
    const std::unique_ptr<DataCaptMessage> data(DataCaptMessage::newDataMsg(7, 5, "hello"));
    const DataTime full = fullDataTime();
    WirePeer::DataTime peerFull{full.flags(), -86400, -3600, true, -90000, -86400, -1, 0xffffffffu};
    const struct {
        std::string built;
        WirePeer::Bytes peer;
        const char* hex;  // empty: the two codecs must only agree
    } cases[] = {
        {build(ReadyMsg()), WirePeer::readyMsg(from),
         "0000002c <sender> 00000001 00000000 00000000"},
        {build(DataReqMsg("abc")), WirePeer::dataReqMsg(from, "abc"),
         "00000038 <sender> 00000001 00000000 00000001 00000003 00000003 61626300"},
        {build(*data), WirePeer::dataMsg(from, 7, {'h', 'e', 'l', 'l', 'o'}),
         "00000040 <sender> 00000001 00000000 00000002 00000007 00000005 00000005 68656c6c "
         "6f000000"},
        {build(ChildTargetMsg(42, 4242)), WirePeer::childTargetMsg(from, 42, 4242),
         "00000034 <sender> 00000005 00000000 00000000 0000002a 00001092"},
        {build(DataMgmtMsg(10001, DataTime(AbsTime(1700000000)))),
         WirePeer::dataMgmtMsg(from, 10001, WirePeer::DataTime::observation(1700000000)),
         "00000038 <sender> 00000002 00000000 0000000a 00002711 00000300 6553f100"},
        {build(DataMgmtMsg(3, full)), WirePeer::dataMgmtMsg(from, 3, peerFull), ""},
    };
    std::vector<WirePeer::Message> m(6);
    for (size_t i = 0; i < m.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(hexGroups(cases[i].built), hexGroups(cases[i].peer));
        if (*cases[i].hex) {
            EXPECT_EQ(hexGroups(cases[i].built), golden(cases[i].hex));
        }
        const std::string& b = cases[i].built;
        ASSERT_TRUE(WirePeer::decode(WirePeer::Bytes(b.begin(), b.end()), &m[i])) << m[i].error;
        EXPECT_EQ(m[i].sender.text(), "127.0.0.1/40000/4242");
    }
    EXPECT_EQ(m[3].uniqueId, 42u);
    EXPECT_EQ(m[3].processId, 4242);
    EXPECT_EQ(m[4].key, 10001u);
    EXPECT_EQ(m[4].dataTime.validEnd, 1700000000);
    const WirePeer::DataTime& d = m[5].dataTime;
    EXPECT_EQ(std::vector<int64_t>({d.flags, d.refTime, d.fcstPeriod, d.validFlag, d.validStart,
                                    d.validEnd, d.secondTime, d.key}),
              std::vector<int64_t>({peerFull.flags, -86400, -3600, 1, -90000, -86400, -1,
                                    0xffffffff}));
}

TEST(Messages, BuffersDecodeBackToTheirArguments)
{
    Received ready(build(ReadyMsg()));
    ASSERT_NE(ready.body, nullptr);
    EXPECT_EQ(ready.header.totalLength(), 44);
    EXPECT_EQ(ready.header.sender(), sender());
    EXPECT_EQ(ready.header.sender().pid(), 4242);
    EXPECT_EQ(ready.header.module(), DATA_CAPT_MODULE);
    EXPECT_EQ(ready.header.type(), ReadyMsg::TYPE);
    EXPECT_EQ(ready.bodyLength(), 0);

    const char bytes[] = {'h', 'e', 0, 'l', 'o'};
    const unsigned char raw[] = {1, 2, 3, 4, 5};
    DataTime fcst{AbsTime(1700000000)};
    fcst.setFcstPeriod(10800);
    const std::unique_ptr<CommsMessage> product(CommsMessage::newRawProductMsg(9, 5, raw));
    const std::unique_ptr<CommsMessage> cd(CommsMessage::newCDMsg("key", -1, 3, raw));
    EXPECT_EQ(product->length(), 32u);  // two longs, a count, 5 x 4
    expectBodyRoundTrip<DataReqMsg::Args>(DataReqMsg("abc"));
    expectBodyRoundTrip<DataMsg::Args>(DataMsg(-7, SeqOf<char>(bytes, 5)));
    expectBodyRoundTrip<ChildTargetMsg::Args>(ChildTargetMsg(0xfffffffful, 4242));
    expectBodyRoundTrip<DataMgmtMsg::NewDataArgs>(DataMgmtMsg(10002, fcst));
    expectBodyRoundTrip<RawProductMsg::Args>(*product);
    expectBodyRoundTrip<CDMsg::Args>(*cd);

    // Module and type of the rest of the catalogue.
    const std::unique_ptr<CommsMessage> restart(CommsMessage::newRestartMsg());
    const std::unique_ptr<CommsMessage> request(CommsMessage::newCommsReqMsg("^SDUS"));
    const FilePathMsg path("/data/x");
    const struct {
        const ParameterizedMsg& msg;
        int module, type;
    } kinds[] = {{*product, 0, 4}, {*cd, 0, 7}, {*request, 0, 6}, {*restart, 0, 9},
                 {path, 17, 0}, {DataMgmtMsg(1, DataTime()), 2, 10}};
    for (const auto& k : kinds) {
        EXPECT_EQ(k.msg.module(), k.module);
        EXPECT_EQ(k.msg.type(), k.type);
    }

    // A message without package, and a data message with a bad byte count.
    EXPECT_EQ(build(ParameterizedMsg(nullptr, 3, 17)).size(), 44u);
    LogCapture log;
    const std::unique_ptr<DataCaptMessage> bad(DataCaptMessage::newDataMsg(1, -4, "abc"));
    EXPECT_EQ(bad->length(), 12u);
    EXPECT_EQ(log.count("newDataMsg: no bytes for a count of -4"), 1);
}

TEST(Messages, HeaderIsMeasuredForEachSender)
{
    ExactCopy named(namedTargetBytes());
    IPC_Target five;
    ASSERT_NE(five.quantize(named.begin(), named.end()), nullptr);
    EXPECT_EQ(build(ReadyMsg(), five).size(), 52u);
    Received r(build(DataReqMsg("abc"), five));
    ASSERT_NE(r.body, nullptr);
    EXPECT_EQ(r.header.totalLength(), 64);
    EXPECT_EQ(r.bodyLength(), 12);
    EXPECT_STREQ(r.header.sender().name().c_str(), "ABCDE");
}

TEST(Messages, TruncatedBuffersAreRefusedCleanly)
{
    const std::unique_ptr<DataCaptMessage> data(DataCaptMessage::newDataMsg(7, 5, "hello"));
    for (const std::string& bytes : {build(*data), build(DataReqMsg("abc")),
                                     build(DataMgmtMsg(1, DataTime(AbsTime(5))))}) {
        for (size_t n = 0; n < bytes.size(); ++n) {
            LogCapture log;
            ExactCopy cut(bytes.substr(0, n));
            IpcHeader header;
            char* body = header.quantize(cut.begin(), cut.end());
            // A header that fits leaves a body that does not.
            DataMsg::Args args;
            EXPECT_TRUE(!body || !args.quantize(body, cut.end())) << n;
            EXPECT_TRUE(log.contains("quantize fail")) << n;
        }
    }
}

TEST(Messages, DataStreamLengthIsHeldToItsBody)
{
    const std::string fields = fromHex("00000001 00000001 6b000000 00000005");
    TextString key;
    long id = 0, length = 0;
    ExactCopy fits(fields + fromHex("00000003") + "xyz");
    char* bytes = DSMsg::quantize(fits.begin(), fits.end(), key, id, length);
    ASSERT_NE(bytes, nullptr);
    EXPECT_STREQ(key.c_str(), "k");
    EXPECT_EQ(id, 5);
    EXPECT_EQ(std::string(bytes, length), "xyz");

    for (const char* lie : {"00000004", "ffffffff"}) {
        LogCapture log;
        ExactCopy longer(fields + fromHex(lie) + "xyz");
        EXPECT_EQ(DSMsg::quantize(longer.begin(), longer.end(), key, id, length), nullptr);
        EXPECT_EQ(log.count("bytes left in its body"), 1) << lie;
    }
}

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "CDMsg.h"
#include "CRMsg.h"
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
#include "RestartMsg.h"
#include "WireBytes.h"

namespace {

const char* const senderHex = "00000002 00000002 7f000001 00009c40 00001092 00000000 00000000";

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

std::string withSender(const std::string& length, const std::string& rest)
{
    return length + " " + senderHex + " " + rest;
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

// Decodes the body of a received buffer into a package; true when the
// package used exactly the body.
template <class Args>
bool decodeBody(const std::string& bytes, Args& args)
{
    Received r(bytes);
    return r.body && r.bodyLength() == r.copy.end() - r.body &&
           args.quantize(r.body, r.copy.end()) == r.copy.end();
}

}  // namespace

TEST(Messages, BuildTheGoldenBuffers)
{
    EXPECT_EQ(hexGroups(build(ReadyMsg()).data(), 44),
              withSender("0000002c", "00000001 00000000 00000000"));

    const std::string req = build(DataReqMsg("abc"));
    EXPECT_EQ(hexGroups(req.data(), req.size()),
              withSender("00000038", "00000001 00000000 00000001 00000003 00000003 61626300"));

    const std::unique_ptr<DataCaptMessage> data(DataCaptMessage::newDataMsg(7, 5, "hello"));
    const std::string dataBytes = build(*data);
    EXPECT_EQ(hexGroups(dataBytes.data(), dataBytes.size()),
              withSender("00000040", "00000001 00000000 00000002 00000007 00000005 00000005 "
                                     "68656c6c 6f000000"));

    const std::string child = build(ChildTargetMsg(42, 4242));
    EXPECT_EQ(hexGroups(child.data(), child.size()),
              withSender("00000034", "00000005 00000000 00000000 0000002a 00001092"));

    const std::string notice = build(DataMgmtMsg(10001, DataTime(AbsTime(1700000000))));
    EXPECT_EQ(hexGroups(notice.data(), notice.size()),
              withSender("00000038", "00000002 00000000 0000000a 00002711 00000300 6553f100"));
}

TEST(Messages, BuffersDecodeBackToTheirArguments)
{
    {
        Received r(build(ReadyMsg()));
        ASSERT_NE(r.body, nullptr);
        EXPECT_EQ(r.header.totalLength(), 44);
        EXPECT_EQ(r.header.sender(), sender());
        EXPECT_EQ(r.header.sender().pid(), 4242);
        EXPECT_EQ(r.header.module(), DATA_CAPT_MODULE);
        EXPECT_EQ(r.header.type(), ReadyMsg::TYPE);
        EXPECT_EQ(r.bodyLength(), 0);
    }
    DataReqMsg::Args pattern;
    ASSERT_TRUE(decodeBody(build(DataReqMsg("abc")), pattern));
    EXPECT_STREQ(pattern.arg1().c_str(), "abc");

    const char bytes[] = {'h', 'e', 0, 'l', 'o'};
    DataMsg::Args data;
    ASSERT_TRUE(decodeBody(build(DataMsg(-7, SeqOf<char>(bytes, 5))), data));
    EXPECT_EQ(data.arg1(), -7);
    ASSERT_EQ(data.arg2().length(), 5);
    EXPECT_EQ(std::memcmp(data.arg2().elements(), bytes, 5), 0);

    ChildTargetMsg::Args child;
    ASSERT_TRUE(decodeBody(build(ChildTargetMsg(0xfffffffful, 4242)), child));
    EXPECT_EQ(child.arg1(), 0xfffffffful);
    EXPECT_EQ(child.arg2(), 4242);

    DataTime fcst{AbsTime(1700000000)};
    fcst.setFcstPeriod(10800);
    DataMgmtMsg::NewDataArgs notice;
    ASSERT_TRUE(decodeBody(build(DataMgmtMsg(10002, fcst)), notice));
    EXPECT_EQ(notice.arg1(), 10002u);
    EXPECT_EQ(notice.arg2(), fcst);
    EXPECT_EQ(notice.arg2().flags(), 0x700u);
}

TEST(Messages, OtherCataloguePackagesKeepTheirOrder)
{
    const unsigned char raw[] = {1, 2, 3, 4, 5};
    const std::unique_ptr<CommsMessage> product(CommsMessage::newRawProductMsg(9, 5, raw));
    EXPECT_EQ(product->length(), 32u);  // two longs, a count, 5 x 4
    RawProductMsg::Args productArgs;
    ASSERT_TRUE(decodeBody(build(*product), productArgs));
    EXPECT_EQ(productArgs.arg2(), 5);
    EXPECT_EQ(productArgs.arg3(), SeqOf<unsigned char>(raw, 5));

    const std::unique_ptr<CommsMessage> cd(CommsMessage::newCDMsg("key", -1, 3, raw));
    CDMsg::Args cdArgs;
    ASSERT_TRUE(decodeBody(build(*cd), cdArgs));
    EXPECT_STREQ(cdArgs.arg1().c_str(), "key");
    EXPECT_EQ(cdArgs.arg2(), -1);
    EXPECT_EQ(cdArgs.arg4(), SeqOf<unsigned char>(raw, 3));

    const std::unique_ptr<CommsMessage> restart(CommsMessage::newRestartMsg());
    const std::unique_ptr<CommsMessage> request(CommsMessage::newCommsReqMsg("^SDUS"));
    const FilePathMsg path("/data/x");
    const struct {
        const ParameterizedMsg& msg;
        int module, type;
    } kinds[] = {{*product, 0, 4}, {*cd, 0, 7}, {*request, 0, 6}, {*restart, 0, 9},
                 {path, 17, 0}, {ReadyMsg(), 1, 0}, {DataMgmtMsg(1, DataTime()), 2, 10}};
    for (const auto& k : kinds) {
        EXPECT_EQ(k.msg.module(), k.module);
        EXPECT_EQ(k.msg.type(), k.type);
        EXPECT_EQ(k.msg.priority() + k.msg.deliveryMode(), 0);
    }

    // A message without package, and a data message with a bad byte count.
    char buffer[8];
    EXPECT_EQ(ArgPkg0().serialize(buffer), buffer);
    EXPECT_EQ(build(ParameterizedMsg(nullptr, 3, 17)).size(), 44u);
    LogCapture log;
    const std::unique_ptr<DataCaptMessage> bad(DataCaptMessage::newDataMsg(1, -4, "abc"));
    EXPECT_EQ(bad->length(), 12u);
    EXPECT_EQ(log.count("newDataMsg: no bytes for a count of -4"), 1);
}

TEST(Messages, HeaderIsMeasuredForEachSender)
{
    // A sender whose name has 5 characters: a 52-byte header.
    ExactCopy named(fromHex("00000001 00000002 7f000001 00001f90 00000000 00000005 00000005") +
                    "ABCDE" + std::string(3, '\0'));
    IPC_Target five;
    ASSERT_NE(five.quantize(named.begin(), named.end()), nullptr);
    const std::string longer = build(ReadyMsg(), five);
    EXPECT_EQ(longer.size(), 52u);
    const std::string shorter = build(ReadyMsg());
    EXPECT_EQ(shorter.size(), 44u);

    const std::string req = build(DataReqMsg("abc"), five);
    Received r(req);
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
            ExactCopy cut(bytes.data(), n);
            IpcHeader header;
            char* body = header.quantize(cut.begin(), cut.end());
            // A header that fits leaves a body that does not.
            if (body) {
                DataMsg::Args args;
                EXPECT_EQ(args.quantize(body, cut.end()), nullptr) << n;
            }
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

#include "IPC_Target.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "WireBytes.h"
#include "hashKey.h"

namespace {

std::string text(const IPC_Target& t)
{
    return t.address().c_str();
}

}  // namespace

TEST(IPC_TargetText, ParsesNullNamesAndAddresses)
{
    LogCapture log;
    EXPECT_TRUE(IPC_Target(TextString("NULL")).isNull());
    const IPC_Target hex(TextString("127.0.0.1/0x1f90/012"));
    EXPECT_EQ(hex.kind(), IPC_Target::ADDRESS);
    EXPECT_EQ(hex.port(), 8080);
    EXPECT_EQ(hex.pid(), 10);  // octal
    EXPECT_EQ(hex.hostAddress().networkWord(), htonl(0x7f000001));
    EXPECT_EQ(IPC_Target(TextString("127.0.0.1/70000/1")).port(), 4464);
    EXPECT_TRUE(log.lines().empty());

    // Lower case "null" and a host with a single slash are names; with no
    // configuration they give the null target.
    for (const char* name : {"null", "127.0.0.1/8080"}) {
        log.clear();
        EXPECT_TRUE(IPC_Target(TextString(name)).isNull()) << name;
        EXPECT_EQ(log.count(std::string("Can't name IPC_Target: ") + name), 1) << name;
        EXPECT_EQ(log.count("Not a known named target defined in ipc.config"), 1);
    }
    // The missing key was reported at most once, on the first look-up.
    log.clear();
    EXPECT_TRUE(IPC_Target(TextString("NOTIFICATION_SERVER")).isNull());
    EXPECT_EQ(log.count("Can't get SocketConnection.namedTargets"), 0);
    log.clear();
    EXPECT_TRUE(IPC_Target(TextString("quiet"), false).isNull());
    EXPECT_TRUE(log.lines().empty());

    EXPECT_TRUE(IPC_Target(TextString("no.such.host.invalid/1/2")).isNull());
    EXPECT_EQ(log.count("Can't create an IPC target with invalid host: no.such.host.invalid"), 1);
    EXPECT_EQ(log.count("Check the host entry in /etc/hosts."), 1);
    EXPECT_EQ(log.count("Making a null target instead."), 1);
}

TEST(IPC_TargetText, AddressTextParsesBackAndIsSafeInManyThreads)
{
    const IPC_Target t(TextString("127.0.0.1/40000/4242"));
    EXPECT_EQ(text(t), "localhost/40000/4242");
    EXPECT_EQ(IPC_Target(t.address()), t);
    EXPECT_EQ(IPC_Target(t.address()).pid(), 4242);
    EXPECT_EQ(text(IPC_Target()), "unknown IPC address");
    std::ostringstream out;
    out << t;
    EXPECT_EQ(out.str(), "localhost/40000/4242");
    // An address without a name prints in dotted form.
    EXPECT_EQ(text(IPC_Target(IpAddress::fromNetworkWord(htonl(0x0a000203)), 7, 9)),
              "10.0.2.3/7/9");

    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([k, &wrong] {
            const IPC_Target mine(IpAddress::fromNetworkWord(htonl(0x7f000001)), 1000 + k, k);
            const std::string expected = "localhost/" + std::to_string(1000 + k) + "/" +
                                         std::to_string(k);
            for (int i = 0; i < 200; ++i)
                wrong[k] += text(mine) != expected;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(IPC_TargetCompare, EqualityIgnoresThePidAndOrderIsStrict)
{
    const IPC_Target a(TextString("127.0.0.1/40000/1"));
    const IPC_Target samePortOtherPid(TextString("127.0.0.1/40000/2"));
    const IPC_Target otherPort(TextString("127.0.0.1/40001/1"));
    const IPC_Target otherHost(TextString("127.0.0.2/39999/1"));
    EXPECT_EQ(a, samePortOtherPid);
    EXPECT_EQ(hashKey(a), hashKey(samePortOtherPid));
    EXPECT_NE(a, otherPort);
    EXPECT_NE(a, IPC_Target());
    EXPECT_EQ(IPC_Target(), IPC_Target());
    EXPECT_EQ(hashKey(IPC_Target()), 47u);
    EXPECT_EQ(hashKey(a), uint32_t(htons(40000)) ^ uint32_t(htonl(0x7f000001)));

    // Null first; addresses by host address, then port.
    const IPC_Target ascending[] = {IPC_Target(), a, otherPort, otherHost};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(ascending[i] < ascending[j], i < j) << i << " < " << j;
    EXPECT_FALSE(a < samePortOtherPid);
    EXPECT_FALSE(samePortOtherPid < a);
}

TEST(IPC_TargetWire, EmptyNameTakes28BytesAndNamesMore)
{
    const IPC_Target t(TextString("127.0.0.1/40000/4242"));
    char buffer[64];
    ASSERT_EQ(t.length(), 28);
    ASSERT_EQ(t.serialize(buffer), buffer + 28);
    const std::string wire(buffer, 28);
    EXPECT_EQ(hexGroups(wire), kSenderHex);

    ExactCopy copy(wire);
    IPC_Target back;
    EXPECT_EQ(back.quantize(copy.begin(), copy.end()), copy.end());
    EXPECT_EQ(back, t);
    EXPECT_EQ(back.pid(), 4242);
    EXPECT_EQ(back.socketAddress().sin_family, AF_INET);

    // A name makes it longer; a truncated form leaves the target unchanged.
    ExactCopy named(namedTargetBytes());
    EXPECT_EQ(back.quantize(named.begin(), named.end()), named.end());
    EXPECT_EQ(back.kind(), IPC_Target::NAMED);
    EXPECT_EQ(text(back), "ABCDE");
    EXPECT_EQ(back.length(), 36);
    EXPECT_EQ(hashKey(back), hashKey(TextString("ABCDE")));
    LogCapture log;
    ExactCopy cut(wire.substr(0, 27));
    EXPECT_EQ(back.quantize(cut.begin(), cut.end()), nullptr);
    EXPECT_EQ(text(back), "ABCDE");
    // So does a kind other than null, named and address.
    ExactCopy odd(fromHex("00000003") + wire.substr(4));
    EXPECT_EQ(back.quantize(odd.begin(), odd.end()), nullptr);
    EXPECT_EQ(text(back), "ABCDE");
    EXPECT_TRUE(log.contains("IPC_Target quantize fail: bad type 3"));
}

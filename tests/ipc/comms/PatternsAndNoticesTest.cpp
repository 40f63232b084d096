// Product keys by the patterns file ("AB CD" and "K", read once for the
// process), the pattern routines, and file-path notices over loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CommsTestSupport.h"
#include "Dispatcher.h"
#include "FAC_Client.h"
#include "FAC_Receiver.h"
#include "IpcModule.h"
#include "LogCapture.h"
#include "TempTree.h"
#include "productKeyPatterns.h"

using namespace commstest;

TEST(ProductKeys, RunFromThePatternToTheFirstBlankWithinTheData)
{
    const struct {
        std::string data;
        int length;
        const char* key;
    } cases[] = {
        {"xxCD12 34", 9, "CD12"},
        {"none here", 9, nullptr},
        {"zzzAB123456", 8, "AB123"},  // the data ends 5 bytes after the match
        {"zzzAB123456", 4, nullptr},  // a pattern cut by the end does not match
        {"AB" + std::string(30, 'x'), 32, "ABxxxxxxxxxxxxxxxxxx"},
        {std::string("xAB\0yz", 6), 6, "AB"},
        {"AB", -1, nullptr},
    };
    for (const auto& c : cases) {
        const char* key = findProductKey(c.data.c_str(), c.length);
        if (!c.key)
            EXPECT_EQ(key, nullptr) << c.data;
        else
            EXPECT_STREQ(key, c.key) << c.data;
    }
}

TEST(ProductKeys, PatternsFileWordsAreBounded)
{
    TempTree tree;
    tree.write("qev_home/data/patterns.txt",
               "AB CD\n" + std::string(PATTERN_WORD_MAX + 1, 'w') + " EF\nGH\n");
    LogCapture log;
    SeqOf<TextString>* patterns = readPatternsFile();
    ASSERT_NE(patterns, nullptr);
    ASSERT_EQ(patterns->length(), 3);
    EXPECT_STREQ((*patterns)[2].c_str(), "GH");
    EXPECT_EQ(log.count("patterns.txt line 2: a word longer than 63 characters; line skipped"), 1);
    delete patterns;

    tree.setEnv("QEV_HOME", nullptr);
    EXPECT_EQ(readPatternsFile(), nullptr);
    EXPECT_EQ(log.count("unable to open /data/patterns.txt"), 1);

    EXPECT_EQ(compileRegExp("a**"), nullptr);
    EXPECT_EQ(log.count("qvRegcomp failure in a**"), 1);
    QvRegexp* any = compileRegExp("");
    EXPECT_TRUE(matchRegExp(any, "x"));
    EXPECT_FALSE(matchRegExp(any, nullptr));
    std::free(any);
}

namespace {

struct PathListener : FAC_Client {
    void pathNotice(const TextString& path) override { heard.push_back(path.c_str()); }
    std::vector<std::string> heard;
};

}  // namespace

TEST(FileNotices, ReachEachClientOfTheExactPathOnce)
{
    FAC_Receiver* notices = FAC_Receiver::instance();
    EXPECT_EQ(Dispatcher::receiverFor(FAC_MODULE), notices);
    PathListener one, two;
    const TextString path("/data/x");
    notices->registerClient(path, &one);
    notices->registerClient(path, &one);
    notices->registerClient(path, &two);

    WirePeer peer;
    const int c = peer.connectTo(ownTarget());
    LogCapture log;
    for (const char* notice : {"/data/x", "/data", "/data/x/"})
        ASSERT_TRUE(peer.send(c, WirePeer::encode(peer.target(), FAC_MODULE, 0, text(notice))));
    ASSERT_TRUE(peer.send(c, WirePeer::encode(peer.target(), FAC_MODULE, 1, text("/data/x"))));
    ASSERT_TRUE(pumpUntil([&] { return log.contains("Bad msg type 1 in FAC_Receiver"); }));
    EXPECT_EQ(one.heard, std::vector<std::string>{"/data/x"});
    EXPECT_EQ(two.heard, std::vector<std::string>{"/data/x"});

    notices->unregisterClient(path, &one);
    notices->unregisterClient(path, &one);
    notices->unregisterClient(TextString("/nowhere"), &one);
    EXPECT_EQ(log.count("No matching client for path /data/x"), 1);
    EXPECT_EQ(log.count("No registration for path /nowhere"), 1);
    notices->notifyClients(path);
    EXPECT_EQ(one.heard.size(), 1u);
    EXPECT_EQ(two.heard.size(), 2u);
    notices->unregisterClient(path, &two);
}

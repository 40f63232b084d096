// Redbook graphic files: product look-up, binning of file times, and the
// moves that free the name of a new file without replacing stored ones.
#include "KeyFiles.h"

#include "LogCapture.h"
#include "TempTree.h"
#include "dmRedbookKeys.h"

#include <gtest/gtest.h>

namespace {

const AbsTime DAY(2007, 3, 14, 0, 0, 0);

AbsTime at(int hour, int minute) { return DAY + (hour * 3600 + minute * 60); }

// What dmRedbookKeys gives for one path.
struct Placement {
    DataAccessKey key = 0;
    DataTime time;
    TextString newPath;
    bool place(const char* path) { return dmRedbookKeys(path, key, time, newPath); }
};

TEST(RedbookKeys, FindsProductsOfTheMasterGroup)
{
    TempTree tree;
    Placement p;
    EXPECT_TRUE(p.place("/in/ABCDEF20070314_1017.gif"));
    EXPECT_EQ(p.key, 8001u);
    // Another group's key name, a name no key carries, no time in the name.
    for (const char* path : {"/in/QRSTUV20070314_1017", "/in/UNKNWN20070314_1017", "ABCDEF"}) {
        Placement none;
        EXPECT_FALSE(none.place(path)) << path;
        EXPECT_EQ(none.key, 0u) << path;
    }
}

TEST(RedbookKeys, BinsFileTimesByIntervalAndOffset)
{
    TempTree tree;
    struct Case {
        const char* path;
        AbsTime bin;
        const char* newPath;
    };
    const Case cases[] = {
        {"/in/ABCDEF20070314_1017", at(10, 0), "/redbook/abc/ABCDEF20070314_1000.rb"},
        {"OFFBIN20070314_1017", at(10, 5), "/redbook/off/OFFBIN20070314_1005.rb"},
        {"/in/NEGBIN20070314_1017.x", at(10, 0), "/redbook/neg/NEGBIN20070314_1000.rb"},
        {"/in/ZERBIN20070314_1300", at(12, 0), "/redbook/zero/ZERBIN20070314_1200.rb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Placement p;
        ASSERT_TRUE(p.place(c.path));
        EXPECT_EQ(p.newPath, (tree.qevData() + c.newPath).c_str());
        const DataTime& time = p.time;
        EXPECT_EQ(time.refTime(), c.bin);
        EXPECT_EQ(time.secondTime(), c.bin);
        EXPECT_EQ(time.fcstPeriod(), 3600);
        EXPECT_EQ(time.validPeriod().start(), c.bin + 3600);
        EXPECT_EQ(time.validPeriod().end(), c.bin + 3600);
        EXPECT_EQ(time.flags(), 0x700u);
        EXPECT_EQ(time.key(), 0u);
    }
    // The last hours a time holds: a valid time past 2038-01-19 03:14:07 is
    // refused, never wrapped to 1901.
    Placement last;
    ASSERT_TRUE(last.place("/in/ABCDEF20380119_0214"));
    EXPECT_EQ(last.time.validPeriod().end(), AbsTime(2038, 1, 19, 3, 0, 0));
    LogCapture log;
    Placement past;
    EXPECT_FALSE(past.place("/in/ABCDEF20380119_0314"));
    EXPECT_TRUE(log.contains("PROBLEM: Redbook file /in/ABCDEF20380119_0314 would be filed at "
                             "2147482800 s with its valid time 3600 s later, outside the times "
                             "from 1970 to 2038-01-19 03:14:07"))
        << log.text();
}

TEST(RedbookKeys, MovesStoredFilesWithinTheWindowOldestFirst)
{
    TempTree tree;
    for (const char* stamp : {"1129", "1131", "1200"})
        tree.write(std::string("qev_data/redbook/abc/ABCDEF20070314_") + stamp + ".rb", stamp);
    Placement p;
    ASSERT_TRUE(p.place("/in/ABCDEF20070314_1217"));
    EXPECT_EQ(p.newPath, (tree.qevData() + "/redbook/abc/ABCDEF20070314_1200.rb").c_str());
    EXPECT_EQ(TempTree::listFiles(tree.qevData() + "/redbook/abc"),
              (std::vector<std::string>{"ABCDEF20070314_1129.rb", "ABCDEF20070314_1130.rb",
                                        "ABCDEF20070314_1159.rb"}));
    EXPECT_EQ(TempTree::readFile(tree.qevData() + "/redbook/abc/ABCDEF20070314_1130.rb"),
              "1131");
    EXPECT_EQ(TempTree::readFile(tree.qevData() + "/redbook/abc/ABCDEF20070314_1159.rb"),
              "1200");
}

TEST(RedbookKeys, NeverMovesOntoAStoredFile)
{
    TempTree tree;
    // An interval of 120 s: a window of 60 s before 12:00; 11:58 lies
    // outside it and blocks the move of 11:59, which blocks that of 12:00.
    for (const char* stamp : {"1158", "1159", "1200"})
        tree.write(std::string("qev_data/redbook/two/TWOMIN20070314_") + stamp + ".rb", stamp);
    LogCapture log;
    Placement p;
    EXPECT_FALSE(p.place("/in/TWOMIN20070314_1201"));
    EXPECT_EQ(p.key, 8006u);
    std::string dir = tree.qevData() + "/redbook/two/TWOMIN20070314_";
    EXPECT_EQ(p.newPath, (dir + "1200.rb").c_str());
    for (const char* stamp : {"1158", "1159", "1200"})
        EXPECT_EQ(TempTree::readFile(dir + stamp + ".rb"), stamp);
    EXPECT_EQ(log.count(" is taken"), 2);
    EXPECT_TRUE(log.contains("Redbook file name " + dir + "1200.rb is still taken"));
}

TEST(RedbookKeys, NeedsTheDataRoot)
{
    TempTree tree;
    tree.setEnv("QEV_DATA", "");
    LogCapture log;
    Placement p;
    EXPECT_FALSE(p.place("/in/ABCDEF20070314_1017"));
    EXPECT_EQ(p.key, 8001u);
    EXPECT_EQ(p.newPath, "");
    EXPECT_TRUE(log.contains("Env var QEV_DATA not defined"));
}

} // namespace

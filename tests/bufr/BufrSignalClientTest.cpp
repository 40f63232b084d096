// The fatal-signal client in forked children: a dirty shutdown moves the
// file being decoded into the bad-file directory once, never over a file
// already there, and nothing else, and exits 1; a clean one leaves it and
// exits 0.
#include "BufrSignalClient.h"

#include "TempTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

struct Dirs {
    TempTree tree;
    std::string in = tree.mkdirs("in");
    std::string bad = tree.mkdirs("bad");
    std::string file = tree.write("in/A.bufr", "BUFR");

    void point(BufrSignalClient& client) const
    {
        client.setDirectories(in.c_str(), bad.c_str());
        client.setFileName("A.bufr");
    }
};

const Dirs* child = nullptr;

void onFatalSignal(int signal)
{
    BufrSignalClient::instance()->terminate(false, signal);
}

// Runs after the first terminate has called exit(): a second file of the
// same name appears, and the second shutdown request kills the process.
void terminateAgain()
{
    if (FILE* f = std::fopen(child->file.c_str(), "w")) {
        std::fputs("again", f);
        std::fclose(f);
    }
    BufrSignalClient::instance()->terminate(false, SIGSEGV);
}

} // namespace

TEST(BufrSignalClientDeathTest, DirtyShutdownMovesTheFileUnderAFreeNameAndCleanOneLeavesIt)
{
    Dirs d, clean;
    BufrSignalClient fresh;
    EXPECT_STREQ(fresh.sourcePath().c_str(), "/");
    EXPECT_STREQ(fresh.badPath().c_str(), "/");
    d.point(fresh);
    EXPECT_EQ(std::string(fresh.sourcePath().c_str()), d.in + "/A.bufr");
    EXPECT_EQ(std::string(fresh.badPath().c_str()), d.bad + "/A.bufr");

    d.tree.write("bad/A.bufr", "set aside before");
    EXPECT_EXIT(
        {
            d.point(*BufrSignalClient::instance());
            BufrSignalClient::instance()->terminate(false, SIGSEGV);
        },
        testing::ExitedWithCode(1),
        "Stack tracing capability not implemented.(.|\n)*"
        "Signal 11 \\(Segmentation violation\\) received for dirty shutdown");
    EXPECT_FALSE(TempTree::exists(d.in + "/A.bufr"));
    EXPECT_EQ(TempTree::readFile(d.bad + "/A.bufr"), "set aside before");
    EXPECT_EQ(TempTree::readFile(d.bad + "/A.bufr.1"), "BUFR");

    EXPECT_EXIT(
        {
            clean.point(*BufrSignalClient::instance());
            BufrSignalClient::instance()->terminate(true, SIGTERM);
        },
        testing::ExitedWithCode(0), "Signal 15 \\(Terminate\\) received for clean shutdown");
    EXPECT_TRUE(TempTree::exists(clean.in + "/A.bufr"));
    EXPECT_FALSE(TempTree::exists(clean.bad + "/A.bufr"));
}

// From a real fatal signal's handler; a second terminate moves nothing more.
TEST(BufrSignalClientDeathTest, FileMovesOnceFromTheSignalHandler)
{
    Dirs d;
    child = &d;
    EXPECT_EXIT(
        {
            d.point(*BufrSignalClient::instance());
            std::signal(SIGBUS, onFatalSignal);
            std::atexit(terminateAgain);
            std::raise(SIGBUS);
        },
        testing::KilledBySignal(SIGKILL), "Signal 7 \\(Bus error\\) received for dirty shutdown");
    EXPECT_EQ(TempTree::readFile(d.bad + "/A.bufr"), "BUFR");
    EXPECT_EQ(TempTree::readFile(d.in + "/A.bufr"), "again");
}

// A dirty shutdown moves only the file being decoded: nothing before any
// file is named (the source directory itself stays), nor a directory at
// the name, nor another file put at the name after the decoder opened its
// own.
TEST(BufrSignalClientDeathTest, OnlyTheFileBeingDecodedIsEverMoved)
{
    struct Case {
        const char* name;
        std::function<void(const Dirs&, BufrSignalClient&)> set;
    } cases[] = {
        {"no file named yet",
         [](const Dirs& d, BufrSignalClient& c) { c.setDirectories(d.in.c_str(), d.bad.c_str()); }},
        {"a directory at the name",
         [](const Dirs& d, BufrSignalClient& c) {
             c.setDirectories(d.in.c_str(), d.bad.c_str());
             c.setFileName("sub");
         }},
        {"another file at the name",
         [](const Dirs& d, BufrSignalClient& c) {
             d.point(c);
             struct stat opened;
             ASSERT_EQ(stat(d.file.c_str(), &opened), 0);
             c.setFileIdentity(opened.st_dev, opened.st_ino);
             std::rename(d.tree.write("in/new", "new").c_str(), d.file.c_str());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dirs d;
        d.tree.mkdirs("in/sub");
        EXPECT_EXIT(
            {
                c.set(d, *BufrSignalClient::instance());
                BufrSignalClient::instance()->terminate(false, SIGALRM);
            },
            testing::ExitedWithCode(1), "Signal 14 \\(Alarm clock\\) received for dirty shutdown");
        EXPECT_TRUE(TempTree::exists(d.in + "/sub"));
        EXPECT_TRUE(TempTree::exists(d.file));
        EXPECT_TRUE(TempTree::listFiles(d.bad).empty());
    }
}

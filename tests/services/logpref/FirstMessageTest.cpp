// The preference file is read at the process's first log message.  Each
// case runs in a fresh child process (re-executed), whose first message it
// is.
#include "LogStream.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

// The child's own tree goes with it: exit runs no destructor of the test's.
void firstMessages(const TempTree& tree)
{
    QEV_LOG(LogStream::DEBUG, "FirstMessage") << "debug shown" << std::endl;
    QEV_LOG(LogStream::PROBLEM, "FirstMessage") << "problem shown" << std::endl;
    std::error_code ignored;
    std::filesystem::remove_all(tree.root(), ignored);
    exit(0);
}

}  // namespace

TEST(FirstMessageTest, CommandsUpToTheFirstErrorApply)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempTree tree;
    tree.setEnv("LOG_PREF", tree.write("prefs", "all all tty debug = on\nbug fatal\n"
                                                "tty processname = on\nuse abort = on\n"
                                                "all all all problem = off\n")
                                .c_str());
    EXPECT_EXIT(firstMessages(tree), testing::ExitedWithCode(0),
                "^LOG-STATUS: Line 4: Unexpected symbol/keyword\n"
                "LOG-STATUS: Can't process log preference file; skipping the rest.\n"
                "[^ ]+ DEBUG: debug shown\n"
                "[^ ]+ PROBLEM: problem shown\n$");
}

TEST(FirstMessageTest, UnreadableFileKeepsTheDefaults)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempTree tree;
    tree.write("home/.logPref", "all all tty debug = on\n");
    tree.setEnv("LOG_PREF", tree.path("absent").c_str());
    EXPECT_EXIT(firstMessages(tree), testing::ExitedWithCode(0),
                "^Can't open log preference file specified by LOG_PREF\n"
                "environment variable \\(LOG_PREF = [^)]*absent\\): No such file or directory.\n"
                "LOG-STATUS: Can't process log preference file; skipping the rest.\n"
                "PROBLEM: problem shown\n$");
}

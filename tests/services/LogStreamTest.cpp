// Messages, categories and filtering of the log stream, through its real
// sinks (standard error and the two files).
#include "AbsTime.h"
#include "Directory.h"
#include "LogTestFixture.h"
#include "LogText.h"
#include "TextString.h"

#include <functional>
#include <iomanip>
#include <vector>

namespace {

// Counts how often it is formatted.
struct Counted {
    static int calls;
};
int Counted::calls = 0;

std::ostream& operator<<(std::ostream& out, const Counted&)
{
    ++Counted::calls;
    return out << "counted";
}

// Its stream operator logs a message of its own.
struct Noisy {
    int category;
};

std::ostream& operator<<(std::ostream& out, const Noisy& n)
{
    QEV_LOG(n.category, "LogNoisy") << "inner " << 10 << std::endl;
    return out << "value";
}

// A global made before the log stream's state, so destroyed after any
// function-local static of the log stream would be.
struct LogsAtExit {
    bool armed = false;
    ~LogsAtExit()
    {
        if (armed)
            QEV_LOG(LogStream::EVENT, "LogAtExit") << "from a static destructor" << std::endl;
    }
} logsAtExit;

} // namespace

using LogStreamTest = LogFixture;

TEST(LogNamesTest, CategoryAndProcessNames)
{
    EXPECT_STREQ(LogStream::categoryName(0).c_str(), "USE");
    EXPECT_STREQ(LogStream::categoryName(LogStream::VERBOSE).c_str(), "VERBOSE");
    EXPECT_STREQ(LogStream::categoryName(LogStream::BUG | LogStream::EVENT).c_str(), "BUG");
    // Past the table: its last name, never a read outside it.
    EXPECT_STREQ(LogStream::categoryName(1 << 20).c_str(), "LOG-STATUS");
    EXPECT_STREQ(LogStream::processName(false).c_str(), "test_services");
}

TEST(LogTextTest, ControlCharactersOfOutsideTextsAreEscaped)
{
    const std::string forged = std::string("IUAX02_KWBC_X\nPROBLEM: x\r\t\x1b[31m\x7f\0end", 36);
    std::ostringstream out;
    out << LogText(forged) << "|" << LogText(TextString("plain/name")) << "|" << LogText(nullptr);
    EXPECT_EQ(out.str(), "IUAX02_KWBC_X\\nPROBLEM: x\\r\\t\\x1b[31m\\x7f\\x00end|plain/name|");
}

// A name from outside the process with a line break in it stays on the line
// that names it, whichever line that is.
TEST(LogTextTest, ANameWithANewlineGivesOneLine)
{
    const std::string forged = "name\nPROBLEM: forged";
    const std::vector<std::function<void()>> cases = {
        [&] {
            Directory listing;
            listing.directory = TextString(forged.c_str());
            listing.scan();
        },
        [&] { AbsTime(TextString(forged.c_str()), TextString("%Y")); },
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        LogCapture log;
        cases[i]();
        const Lines lines = log.lines();
        ASSERT_EQ(lines.size(), 1u) << i << ": " << log.text();
        EXPECT_NE(lines[0].find("name\\nPROBLEM: forged"), std::string::npos) << lines[0];
    }
}

TEST_F(LogStreamTest, DefaultsPassEveryCategoryButDebugAndVerboseToAllSinks)
{
    LogCapture log;
    for (int c : {1, 2, 4, 8, 16, 32, 64, 256})
        QEV_LOG(c, "LogDefaults") << "message " << c << std::endl;
    const Lines expected = {"USE: message 1", "EVENT: message 2", "PROBLEM: message 4",
                            "BUG: message 8", "DIAG: message 64", "LOG-STATUS: message 256"};
    EXPECT_EQ(log.lines(), expected);
    EXPECT_EQ(logMessages(), expected);
    EXPECT_EQ(collectiveMessages(), expected);
}

TEST_F(LogStreamTest, SkippedMessagesAreNeverFormatted)
{
    LogCapture log;
    Counted::calls = 0;
    QEV_LOG(LogStream::DEBUG, "LogCounted") << Counted() << std::endl;
    QEV_LOG(LogStream::VERBOSE, "LogCounted") << Counted() << std::endl;
    EXPECT_EQ(Counted::calls, 0);

    LogStream::setFilter("LogCounted", LogStream::TTY, LogStream::DEBUG, true);
    QEV_LOG(LogStream::DEBUG, "LogCounted") << Counted() << std::endl;
    EXPECT_EQ(Counted::calls, 1);
    EXPECT_EQ(log.lines(), Lines{"DEBUG: counted"});
    EXPECT_EQ(logMessages(), Lines{});  // only the terminal was asked for
}

TEST_F(LogStreamTest, AllCommandReachesEntriesMadeBeforeAndAfterIt)
{
    LogCapture log;
    const TextString me = myName();
    LogStream::updateFilterTable(me, me, "LogBefore", LogStream::TTY, LogStream::EVENT, false);
    LogStream::updateFilterTable(me, "all", "all", LogStream::TTY, LogStream::DEBUG, true);
    LogStream::updateFilterTable(me, me, "LogAfter", LogStream::TTY, LogStream::PROBLEM, false);
    LogStream::setFilter("LogAfter", LogStream::FILE_SINK, LogStream::PROBLEM, false);
    auto logAll = [] {
        for (const char* file : {"LogBefore", "LogAfter", "LogOther"})
            for (int c : {LogStream::DEBUG, LogStream::EVENT, LogStream::PROBLEM})
                QEV_LOG(c, file) << file << std::endl;
    };
    logAll();
    EXPECT_EQ(log.lines(), (Lines{"DEBUG: LogBefore", "PROBLEM: LogBefore", "DEBUG: LogAfter",
                                  "EVENT: LogAfter", "DEBUG: LogOther", "EVENT: LogOther",
                                  "PROBLEM: LogOther"}));
    // One sink of one file: the collective file still has LogAfter's PROBLEM.
    EXPECT_EQ(logMessages(), (Lines{"EVENT: LogBefore", "PROBLEM: LogBefore", "EVENT: LogAfter",
                                    "EVENT: LogOther", "PROBLEM: LogOther"}));
    EXPECT_EQ(collectiveMessages().size(), 6u);

    // Commands for another process, or for no sink, change nothing; a later
    // all-command reaches both entries again.
    LogStream::setFilterForProcess("otherProcess", "all", LogStream::TTY, LogStream::EVENT,
                                   false);
    LogStream::updateFilterTable(me, me, "LogOther", 3, LogStream::EVENT, false);
    LogStream::updateFilterTable(me, "all", "all", LogStream::TTY, LogStream::DEBUG, false);
    log.clear();
    logAll();
    EXPECT_EQ(log.lines(), (Lines{"PROBLEM: LogBefore", "EVENT: LogAfter", "EVENT: LogOther",
                                  "PROBLEM: LogOther"}));
}

TEST_F(LogStreamTest, ToggledFilteringWritesEveryMessageEverywhere)
{
    LogCapture log;
    LogStream::setFilter("LogToggle", LogStream::TTY, LogStream::PROBLEM, false);
    LogStream::toggleFiltering();
    QEV_LOG(LogStream::DEBUG, "LogToggle") << "debug" << std::endl;
    QEV_LOG(LogStream::VERBOSE, "LogToggle") << "verbose" << std::endl;
    QEV_LOG(LogStream::PROBLEM, "LogToggle") << "problem" << std::endl;
    LogStream::toggleFiltering();
    QEV_LOG(LogStream::DEBUG, "LogToggle") << "filtered again" << std::endl;
    QEV_LOG(LogStream::PROBLEM, "LogToggle") << "filtered again" << std::endl;

    EXPECT_EQ(log.lines(), (Lines{"DEBUG: debug", "VERBOSE: verbose", "PROBLEM: problem"}));
    const Lines files = {"DEBUG: debug", "VERBOSE: verbose", "PROBLEM: problem",
                         "PROBLEM: filtered again"};
    EXPECT_EQ(logMessages(), files);
    EXPECT_EQ(collectiveMessages(), files);
}

TEST_F(LogStreamTest, EmptyMessageWritesNothingUnterminatedOneIsWarnedAndEndedOnEverySink)
{
    LogCapture log;
    QEV_LOG(LogStream::PROBLEM, "LogEmpty");
    QEV_LOG(LogStream::PROBLEM, "LogEmpty") << "";
    LogStream::endMessage(LogStream::instance());  // none started: nothing happens
    EXPECT_EQ(log.text(), "");
    EXPECT_FALSE(TempTree::exists(logPath()) || TempTree::exists(collectivePath()));

    const int line = __LINE__ + 1;
    QEV_LOG(LogStream::PROBLEM, "LogEndl") << "no newline";
    EXPECT_EQ(log.lines(), (Lines{"LOG-STATUS: Warning: \"LogEndl\", line " +
                                      std::to_string(line) +
                                      ": message not terminated with \\n or endl",
                                  "PROBLEM: no newline"}));
    EXPECT_EQ(logMessages(), Lines{"PROBLEM: no newline"});
    EXPECT_EQ(collectiveMessages(), Lines{"PROBLEM: no newline"});

    LogStream::setForceEndl(false);
    log.clear();
    QEV_LOG(LogStream::PROBLEM, "LogEndl") << "one";
    QEV_LOG(LogStream::PROBLEM, "LogEndl") << "two\n";
    EXPECT_EQ(log.text(), "PROBLEM: onePROBLEM: two\n");
}

TEST_F(LogStreamTest, MessageLoggedWhileComposingComesOutWholeOnItsOwnLine)
{
    LogCapture log;
    LogPrefixSettings& p = LogStream::prefixSettings();
    LogStream::setPrefixFlag(p.flags, LogPrefixSettings::FILENAME, LogStream::FILE_SINK, true);
    LogStream::setPrefixFlag(p.flags, LogPrefixSettings::LINENO, LogStream::FILE_SINK, true);
    const std::string line = std::to_string(__LINE__ + 1);
    QEV_LOG(LogStream::PROBLEM, "LogOuter")
        << "outer " << std::hex << 255 << ' ' << Noisy{LogStream::EVENT} << ' ' << 255
        << std::endl;
    EXPECT_EQ(log.lines(), (Lines{"EVENT: inner 10", "PROBLEM: outer ff value ff"}));
    const Lines file = logMessages();
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file[0].rfind("LogNoisy ", 0), 0u) << file[0];
    EXPECT_EQ(file[1], "LogOuter " + line + " PROBLEM: outer ff value ff");

    // A filtered-out nested message leaves the outer one alone, and each
    // message starts with default formatting.
    log.clear();
    QEV_LOG(LogStream::PROBLEM, "LogOuter")
        << std::setprecision(2) << 3.14159 << Noisy{LogStream::DEBUG} << std::endl;
    QEV_LOG(LogStream::PROBLEM, "LogOuter") << 255 << ' ' << 3.14159 << std::endl;
    EXPECT_EQ(log.lines(), (Lines{"PROBLEM: 3.1value", "PROBLEM: 255 3.14159"}));
}

TEST_F(LogStreamTest, WarnsWhenAnImportantCategoryIsOffEverywhere)
{
    LogCapture log;
    LogStream::warnImportantCategoriesOff();
    EXPECT_EQ(log.text(), "");
    for (int sink = 0; sink < 3; ++sink)
        LogStream::updateFilterTable(myName(), "all", "all", sink, LogStream::EVENT, false);
    LogStream::updateFilterTable(myName(), "all", "all", 0, LogStream::BUG, false);
    LogStream::warnImportantCategoriesOff();
    EXPECT_EQ(log.lines(),
              Lines{"LOG-STATUS: Warning: the EVENT category may have been turned off."});
}

using LogStreamDeathTest = LogFixture;

TEST_F(LogStreamDeathTest, StaticDestructorsCanLogAtExit)
{
    EXPECT_EXIT(
        {
            QEV_LOG(LogStream::EVENT, "LogAtExit") << "state made" << std::endl;
            logsAtExit.armed = true;
            exit(0);
        },
        ::testing::ExitedWithCode(0), "EVENT: from a static destructor\n");
}

TEST_F(LogStreamDeathTest, AbortCategoryEndsTheProcessAfterItsMessage)
{
    EXPECT_DEATH(
        {
            noCoreDump();
            LogStream::setAbortMask(LogStream::BUG, true);
            QEV_LOG(LogStream::BUG, "LogAbort") << "broken" << std::endl;
        },
        "BUG: broken\n \\(LogStream Aborting Program\\) \n");
    // The message reached the files before the process ended.
    EXPECT_EQ(logMessages(), (Lines{"BUG: broken", " (LogStream Aborting Program) "}));
    EXPECT_EQ(collectiveMessages(), logMessages());
    EXPECT_DEATH({ noCoreDump(); QEV_LOG(LogStream::FATAL, "LogAbort") << "the end"; },
                 "FATAL: the end \\(LogStream Aborting Program\\) \n");

    LogCapture log;
    LogStream::setAbortMask(LogStream::BUG, true);
    LogStream::setAbortMask(LogStream::BUG, false);
    QEV_LOG(LogStream::BUG, "LogAbort") << "survived" << std::endl;
    EXPECT_EQ(log.lines(), Lines{"BUG: survived"});
}

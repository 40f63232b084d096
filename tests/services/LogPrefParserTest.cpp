// The log-preference language, applied to the running log stream.
#include "LogPrefParser.h"
#include "LogTestFixture.h"

#include <unistd.h>

namespace {

class LogPrefTest : public LogFixture {
protected:
    // Applies a preference text through the command loop.
    bool apply(const std::string& text)
    {
        FILE* file = fopen(tree().write("prefs", text).c_str(), "r");
        bool ok = LogPrefParser::parseFile(file);
        fclose(file);
        return ok;
    }

    // Whether a message of the category from the source file reaches the
    // terminal.
    static bool reachesTty(int category, const char* sourceFile)
    {
        LogCapture capture;
        QEV_LOG(category, sourceFile) << "probe" << std::endl;
        return capture.contains("probe");
    }
};

using LogPrefDeathTest = LogPrefTest;

}  // namespace

TEST_F(LogPrefTest, FilterCommandsWithAllAndNames)
{
    EXPECT_TRUE(apply("# only comments\n\n   # and blanks\nall all all debug = on\n"));
    EXPECT_TRUE(reachesTty(LogStream::DEBUG, "AnyFile"));
    EXPECT_EQ(logMessages(), Lines{"DEBUG: probe"});

    // The terminal silenced entirely, LOG-STATUS included; the files not.
    EXPECT_TRUE(apply("ALL All TTY all = OFF#comment right after a word\n"));
    EXPECT_FALSE(reachesTty(LogStream::PROBLEM, "AnyFile"));
    EXPECT_FALSE(reachesTty(LogStream::LOG_STATUS, "AnyFile"));
    EXPECT_EQ(logMessages().back(), "LOG-STATUS: probe");

    // This process by name, one file; another process's command changes
    // nothing.
    EXPECT_TRUE(apply(std::string(myName().c_str()) + " Special tty problem = on\n" +
                      "some_other_process Special tty event = on\n"
                      "some_other_process Special\ttty all=off\n"));
    EXPECT_TRUE(reachesTty(LogStream::PROBLEM, "Special"));
    EXPECT_FALSE(reachesTty(LogStream::EVENT, "Special"));
    EXPECT_FALSE(reachesTty(LogStream::PROBLEM, "Other"));
}

TEST_F(LogPrefTest, ErrorsAreReportedWithTheirLineAndStopTheParse)
{
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"problem abort = on", "Line 1: Unexpected symbol/keyword"},
        {"proc = on", "Line 1: Can't understand rest of filter command"},
        {"all = on", "Line 1: Cannot understand filter/prefix control"},
        {"tty all = on", "Line 1: Can't understand rest of prefix command"},
        {"proc Src\n\nlineno", "Line 3: Sink missing from filter command"},
        {"proc Src tty = on", "Line 1: Message category missing from filter command"},
        {"proc Src tty bug on on", "Line 1: Malformed filter command"},
        {"tty lineno = yes", "Line 1: Malformed prefix command"},
        {"bug abort on", "Line 1: Malformed abort command"},
        {"forceendl = = on", "Line 1: Malformed forceendl command"},
        {"includePrefixForVerbose_", "Line 1: Malformed includePrefixForVerbose_ command"},
        {"suppressPrefixForVerbose_ on", "Line 1: Malformed suppressPrefixForVerbose_ command"},
        // A longer word that begins with a keyword is a name.
        {"includePrefixForVerbose_x = on", "Line 1: Can't understand rest of filter command"},
    };
    for (const auto& c : cases) {
        LogCapture log;
        EXPECT_FALSE(apply(c.text)) << c.text;
        EXPECT_EQ(log.lines(), Lines{std::string("LOG-STATUS: ") + c.message}) << c.text;
    }

    // Commands before the error stay; nothing after it is applied.
    LogCapture log;
    EXPECT_FALSE(apply("all all tty debug = on\n\nproblem abort = on\nall all tty verbose = on\n"));
    EXPECT_TRUE(log.contains("Line 3: Unexpected symbol/keyword"));
    EXPECT_TRUE(reachesTty(LogStream::DEBUG, "AnyFile"));
    EXPECT_FALSE(reachesTty(LogStream::VERBOSE, "AnyFile"));

    // Carriage-return line ends: "on\r" is a word, so the first command is
    // malformed.
    log.clear();
    EXPECT_FALSE(apply("all all tty event = off\r\nall all tty verbose = on\r\n"));
    EXPECT_EQ(log.lines(), Lines{"LOG-STATUS: Line 1: Malformed filter command"});
    EXPECT_TRUE(reachesTty(LogStream::EVENT, "AnyFile"));
}

TEST_F(LogPrefTest, PrefixAndFormattingCommands)
{
    LogPrefixSettings& p = LogStream::prefixSettings();
    EXPECT_TRUE(apply("tty filename = on\ntty lineno = on\nall processid = on\n"
                      "includePrefixForVerbose_ = on\nforceendl = off\n"));
    EXPECT_EQ(p.flags[0], unsigned(LogPrefixSettings::FILENAME | LogPrefixSettings::LINENO |
                                   LogPrefixSettings::PROCESSID));
    EXPECT_EQ(p.flags[2], unsigned(LogPrefixSettings::PROCESSID));
    EXPECT_EQ(p.verbosePrefixMask, unsigned(LogStream::VERBOSE));
    EXPECT_TRUE(apply("SUPPRESSPREFIXFORVERBOSE_ = on\n"));
    EXPECT_EQ(p.verbosePrefixMask, 0u);
    LogCapture log;
    QEV_LOG(LogStream::PROBLEM, "LogPref") << "unterminated";
    EXPECT_FALSE(log.contains("not terminated"));
}

TEST_F(LogPrefDeathTest, AbortCommands)
{
    {
        LogCapture log;
        EXPECT_TRUE(apply("\nfatal abort = off\nfatal abort = on\n"
                          "bug traceback = on\nall all tty debug = on\n"
                          "verbose stray\ndebug abort = on\ndebug abort = off\n"));
        EXPECT_EQ(log.lines(),
                  (Lines{"LOG-STATUS: Line 2: You cannot turn abort off for the fatal category.",
                         "Obsolete traceback command in logPref file ignored"}));
    }
    // The command after the traceback one was read normally, and DEBUG
    // does not abort any more.
    EXPECT_TRUE(reachesTty(LogStream::DEBUG, "AnyFile"));
    EXPECT_DEATH({ noCoreDump(); QEV_LOG(LogStream::FATAL, "LogPref") << "still fatal\n"; },
                 "still fatal");
    EXPECT_TRUE(apply("bug abort = on"));
    EXPECT_DEATH({ noCoreDump(); QEV_LOG(LogStream::BUG, "LogPref") << "now fatal\n"; },
                 "now fatal");
}

TEST_F(LogPrefTest, FileLookUp)
{
    // The log stream's own first reading is done before the files appear.
    EXPECT_TRUE(reachesTty(LogStream::EVENT, "AnyFile"));
    tree().setEnv("LOG_PREF", nullptr);
    tree().write("home/.logPref", "all all tty debug = on\n");
    tree().write("work/.logPref", "all all tty verbose = on\nbad\n");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    LogCapture log;
    bool fromHome = LogPrefParser::parse();
    // ".logPref" in the working directory comes before the home one.
    ASSERT_EQ(chdir(tree().path("work").c_str()), 0);
    bool fromWork = LogPrefParser::parse();
    ASSERT_EQ(chdir(cwd), 0);
    tree().setEnv("HOME", tree().path("nowhere").c_str());
    bool fromNone = LogPrefParser::parse();
    EXPECT_TRUE(fromHome && !fromWork && fromNone);
    EXPECT_EQ(log.lines(), (Lines{"LOG-STATUS: Line 3: Can't understand rest of filter command",
                                  "Can't open .logPref or ~/.logPref; using defaults."}));
    EXPECT_TRUE(reachesTty(LogStream::DEBUG, "AnyFile") &&
                reachesTty(LogStream::VERBOSE, "AnyFile"));
}

// The example an installation starts from applies whole.
TEST_F(LogPrefTest, TheExampleFileAppliesWhole)
{
    LogCapture log;
    EXPECT_TRUE(apply(TempTree::readFile(std::string(QEV_SOURCE_DIR) + "/data/logPref.example")));
    EXPECT_EQ(log.text(), "");
    EXPECT_FALSE(reachesTty(LogStream::EVENT, "AnyFile"));
    EXPECT_TRUE(reachesTty(LogStream::PROBLEM, "AnyFile"));
    const LogPrefixSettings& p = LogStream::prefixSettings();
    EXPECT_EQ(p.flags[0], unsigned(LogPrefixSettings::TIMESTAMP));
    EXPECT_EQ(p.flags[1], unsigned(LogPrefixSettings::TIMESTAMP | LogPrefixSettings::FILENAME |
                                   LogPrefixSettings::LINENO));
}

// Log sinks: file names from templates, directories, opening and breaking
// the files, and the prefix of each sink.
#include "LogTestFixture.h"

#include <ctime>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string utc(time_t t, const char* format)
{
    struct tm parts;
    gmtime_r(&t, &parts);
    char buf[64];
    return std::string(buf, strftime(buf, sizeof buf, format, &parts));
}

std::string host()
{
    struct utsname u;
    uname(&u);
    return u.nodename;
}

const std::string pid = std::to_string(getpid());

// Whether the name matches one made from now or from one second on, so
// that an expansion made between the two matches.
template <class F>
bool madeAroundNow(F name, const std::string& actual)
{
    const time_t now = time(nullptr);
    return actual == name(now) || actual == name(now + 1);
}

// A local time zone far from UTC, which no time in a name or prefix shows.
void farTimeZone(TempTree& tree)
{
    tree.setEnv("TZ", "XYZ+07");
    tzset();
}

// Whether the line is the lead text followed by an asctime date.
bool leadThenAsctime(const std::string& line, const std::string& lead)
{
    struct tm parts = {};
    const char* end = line.compare(0, lead.size(), lead) != 0
                          ? nullptr
                          : strptime(line.c_str() + lead.size(), "%a %b %e %H:%M:%S %Y", &parts);
    return end && *end == '\0';
}

unsigned modeOf(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 1u;
}

} // namespace

using LogFileNameTest = LogFixture;

TEST_F(LogFileNameTest, TemplatesExpandAndDirectoriesAreMadeButNotTheFile)
{
    farTimeZone(tree());
    LogCapture log;
    tree().setEnv("DISPLAY", ":7");
    tree().setEnv("LOG_FILE", "%L/%D/%N-%P-%H-%T-%d-%%.log");
    EXPECT_TRUE(madeAroundNow(
        [&](time_t t) {
            return tree().logDir() + "/" + utc(t, "%Y%m%d") + "/test_services-" + pid + "-" +
                   host() + "-" + utc(t, "%H%M%S") + "-:7-%.log";
        },
        LogStream::openFiles(false).c_str()));
    tree().setEnv("COLLECTIVE_FILE", "%L/c%P%T%N.log");
    EXPECT_EQ(std::string(LogStream::openFiles(true).c_str()),
              tree().logDir() + "/ctest_services.log");
    tree().setEnv("DISPLAY", nullptr);
    tree().setEnv("LOG_FILE", "%d");
    EXPECT_STREQ(LogStream::openFiles(false).c_str(), ":0");
    EXPECT_EQ(log.text(), "");

    tree().setEnv("LOG_FILE", "%L/x%Qy%");
    EXPECT_EQ(std::string(LogStream::openFiles(false).c_str()), tree().logDir() + "/xy%");
    EXPECT_EQ(log.lines(), Lines{"Ignoring bad %-sequence in the file template"});

    tree().setEnv("LOG_FILE", "%L/a/b/./c/f.log");
    const std::string path = LogStream::openFiles(false).c_str();
    EXPECT_EQ(path, tree().logDir() + "/a/b/./c/f.log");
    for (const char* dir : {"/a", "/a/b", "/a/b/c"})
        EXPECT_EQ(modeOf(tree().logDir() + dir), 0777u) << dir;
    EXPECT_FALSE(TempTree::exists(path));

    // Without the environment the files go under the working directory.
    const std::string cwd = tree().mkdirs("cwd");
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    for (const char* name : {"LOG_DIR", "LOG_FILE", "COLLECTIVE_FILE"})
        tree().setEnv(name, nullptr);
    const std::string logFile = LogStream::openFiles(false).c_str();
    const std::string collective = LogStream::openFiles(true).c_str();
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_TRUE(madeAroundNow(
        [](time_t t) {
            return ".//" + utc(t, "%Y%m%d") + "/test_services" + pid + host() + utc(t, "%H%M%S");
        },
        logFile))
        << logFile;
    EXPECT_TRUE(madeAroundNow(
        [](time_t t) { return ".//" + utc(t, "%Y%m%d") + "/test_services"; }, collective))
        << collective;
    EXPECT_TRUE(TempTree::exists(cwd + "/" + collective.substr(3, 8)));
    // Said once, with the directory used.
    EXPECT_EQ(log.count("LOG_DIR is not set"), 1);
    EXPECT_EQ(log.lines().back(), "LOG_DIR is not set: the log files go under the working "
                                  "directory " +
                                      std::filesystem::canonical(cwd).string());
}

TEST_F(LogFileNameTest, FileThatCannotBeMadeOrOpenedLeavesTheOtherSinks)
{
    LogCapture log;
    tree().write("log/plain", "a file, not a folder\n");
    tree().setEnv("LOG_FILE", "%L/plain/sub/f.log");
    LogStream::breakFiles();
    QEV_LOG(LogStream::PROBLEM, "LogNoFile") << "one" << std::endl;
    tree().setEnv("LOG_FILE", tree().logDir().c_str());
    LogStream::breakFiles();
    QEV_LOG(LogStream::PROBLEM, "LogNoFile") << "two" << std::endl;
    QEV_LOG(LogStream::PROBLEM, "LogNoFile") << "three" << std::endl;
    EXPECT_EQ(log.lines(),
              (Lines{"Cannot make or write directory " + tree().logDir() +
                         "/plain/sub: Not a directory",
                     "PROBLEM: one",
                     "Cannot open log file: " + tree().logDir() + ": Is a directory.",
                     "PROBLEM: two", "PROBLEM: three"}));
    EXPECT_EQ(collectiveMessages(), (Lines{"PROBLEM: one", "PROBLEM: two", "PROBLEM: three"}));
}

// The log path is opened a directory at a time: a link another user may
// have laid (in a directory others can write) is refused with one line, and
// the other sinks go on; a link in a directory only this account writes is
// followed.
TEST_F(LogFileNameTest, LinksInThePathAreFollowedOnlyWhereOthersCannotWrite)
{
    LogCapture log;
    ASSERT_EQ(chmod(tree().logDir().c_str(), 0755), 0);
    const std::string elsewhere = tree().mkdirs("elsewhere");
    const std::string shared = tree().mkdirs("log/shared");
    ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), (shared + "/day").c_str()), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), (tree().logDir() + "/own").c_str()), 0);
    tree().setEnv("LOG_FILE", (shared + "/day/f.log").c_str());
    LogStream::breakFiles();
    QEV_LOG(LogStream::PROBLEM, "LogLinks") << "one" << std::endl;
    EXPECT_FALSE(TempTree::exists(elsewhere + "/f.log"));
    tree().setEnv("LOG_FILE", (tree().logDir() + "/own/f.log").c_str());
    LogStream::breakFiles();
    QEV_LOG(LogStream::PROBLEM, "LogLinks") << "two" << std::endl;
    EXPECT_EQ(log.lines(), (Lines{"Cannot make or write directory " + shared +
                                      "/day: a symbolic link in a directory other users can write",
                                  "PROBLEM: one", "PROBLEM: two"}));
    EXPECT_EQ(collectiveMessages(), (Lines{"PROBLEM: one", "PROBLEM: two"}));
    const Lines written = fileLines(elsewhere + "/f.log");
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[1], "PROBLEM: two");
}

// Processes that start at the same moment make the same new dated folder;
// every one of them must get its path.
TEST_F(LogFileNameTest, ProcessesMakingTheSameDirectoryAllSucceed)
{
    for (int round = 0; round < 20; ++round) {
        const std::string tmpl = "%L/r" + std::to_string(round) + "/d1/d2/d3/%N%P.log";
        tree().setEnv("LOG_FILE", tmpl.c_str());
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        std::vector<pid_t> children;
        for (int c = 0; c < 6; ++c) {
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                close(gate[1]);
                char byte;
                while (read(gate[0], &byte, 1) < 0) {
                }
                _exit(LogStream::openFiles(false).length() > 0 ? 0 : 1);
            }
            children.push_back(child);
        }
        close(gate[0]);
        close(gate[1]);  // opens the gate for all children at once
        for (pid_t child : children) {
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
    }
}

using LogFileTest = LogFixture;

TEST_F(LogFileTest, BreakLinesGoOnlyToTheLogFile)
{
    QEV_LOG(LogStream::EVENT, "LogBreak") << "first" << std::endl;
    const std::string firstPath = logPath(), secondPath = tree().logDir() + "/second.log";
    tree().setEnv("LOG_FILE", secondPath.c_str());
    LogStream::breakFiles();
    QEV_LOG(LogStream::EVENT, "LogBreak") << "second" << std::endl;

    const std::string opened = "LOG-STATUS: Log file opened on host " + host() + " at ";
    const Lines first = fileLines(firstPath), second = fileLines(secondPath);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_TRUE(leadThenAsctime(first[0], opened)) << first[0];
    EXPECT_EQ(first[1], "EVENT: first");
    EXPECT_TRUE(leadThenAsctime(first[2], "LOG-STATUS: Breaking current log file at "))
        << first[2];
    ASSERT_EQ(second.size(), 2u);
    EXPECT_TRUE(leadThenAsctime(second[0], opened)) << second[0];
    EXPECT_EQ(second[1], "EVENT: second");

    // The collective file is reopened at the same path and appended to.
    EXPECT_EQ(collectiveMessages(), (Lines{"EVENT: first", "EVENT: second"}));
    EXPECT_EQ(modeOf(firstPath), 0666u);
    EXPECT_EQ(modeOf(collectivePath()), 0666u);
}

TEST(LogPrefixTest, ItemsAreWrittenInTheirOrder)
{
    TempTree tree;
    farTimeZone(tree);
    LogPrefixSettings settings;
    settings.processName = "decoder";
    settings.processId = 4242;
    for (unsigned bit : {8, 4, 1, 32, 16, 2, 8})
        LogStream::setPrefixFlag(settings.flags, bit, LogStream::TTY, true);
    EXPECT_EQ(settings.flags[0], 63u);
    // 1700000000 is 2023-11-14 22:13:20 UTC.
    auto prefix = [&](int category, int sink, long usec, bool noPrefix) {
        return std::string(LogStream::formatPrefix(settings, category, sink, 1700000000L, usec,
                                                   "SeqOf", 17, noPrefix)
                               .c_str());
    };
    EXPECT_EQ(prefix(LogStream::PROBLEM, 0, 5123, false),
              "decoder 4242 1700000000.005123 22:13:20.005 SeqOf 17 PROBLEM: ");
    EXPECT_EQ(prefix(LogStream::PROBLEM, 1, 5123, false), "PROBLEM: ");
    EXPECT_EQ(prefix(LogStream::LOG_STATUS, 0, 5123, false), "LOG-STATUS: ");
    settings.flags[0] = 1 | 2 | 4 | 8;
    EXPECT_EQ(prefix(LogStream::PROBLEM, 0, 999999, false),
              "decoder 22:13:20.999 SeqOf 17 PROBLEM: ");
    // No prefix asked for: none except on the collective file.
    settings.flags[2] = 2;
    EXPECT_EQ(prefix(LogStream::VERBOSE, 0, 0, true), "");
    EXPECT_EQ(prefix(LogStream::VERBOSE, 2, 0, true), "decoder VERBOSE: ");
}

TEST(LogPrefixTest, FlagRules)
{
    LogCapture log;
    unsigned flags[3] = {0, 0, 0};
    LogStream::setPrefixFlag(flags, LogPrefixSettings::LINENO, 1, true);
    EXPECT_EQ(flags[1], 0u);  // a line number needs the file name
    LogStream::setPrefixFlag(flags, LogPrefixSettings::FILENAME, 1, true);
    LogStream::setPrefixFlag(flags, LogPrefixSettings::LINENO, 1, true);
    EXPECT_EQ(flags[1], 12u);
    LogStream::setPrefixFlag(flags, LogPrefixSettings::FILENAME, 1, false);
    EXPECT_EQ(flags[1], 0u);
    LogStream::setPrefixFlag(flags, LogPrefixSettings::TIMESTAMP, 3, true);  // no such sink

    for (int sink : {0, 2}) {
        LogStream::setPrefixFlag(flags, LogPrefixSettings::TIMESTAMP, sink, true);
        LogStream::setPrefixFlag(flags, LogPrefixSettings::PROCESSNAME, sink, true);
    }
    LogStream::setPrefixFlag(flags, LogPrefixSettings::TIMESTAMP, 2, false);
    LogStream::setPrefixFlag(flags, LogPrefixSettings::PROCESSNAME, 2, false);
    LogStream::setPrefixFlag(flags, LogPrefixSettings::TIMESTAMP, 0, false);
    EXPECT_EQ(flags[0], 2u);
    EXPECT_EQ(flags[2], 3u);
    const std::string refusal =
        "LOG-STATUS: Warning: can't turn off timestamp or process name in the collective log.";
    EXPECT_EQ(log.lines(), (Lines{refusal, refusal}));
}

using LogPrefixSinkTest = LogFixture;

TEST_F(LogPrefixSinkTest, EachSinkWritesItsOwnPrefixAndVerboseWithoutPrefixIsPlainButCollective)
{
    LogCapture log;
    LogPrefixSettings& p = LogStream::prefixSettings();
    LogStream::setPrefixFlag(p.flags, LogPrefixSettings::FILENAME, LogStream::TTY, true);
    LogStream::setPrefixFlag(p.flags, LogPrefixSettings::PROCESSID, LogStream::FILE_SINK, true);
    LogStream::setPrefixFlag(p.flags, LogPrefixSettings::PROCESSNAME, LogStream::COLLECTIVE,
                             true);
    QEV_LOG(LogStream::PROBLEM, "LogPrefixed") << "text" << std::endl;
    p.flags[0] = p.flags[1] = p.flags[2] = 0;

    for (int sink = 0; sink < 3; ++sink)
        LogStream::setFilter("LogPlain", sink, LogStream::VERBOSE, true);
    auto plain = [](const char* text) {
        if (!LogStream::startMessage(LogStream::instance(), LogStream::VERBOSE, "LogPlain", 1,
                                     true)) {
            LogStream::instance() << text << std::endl;
            LogStream::endMessage(LogStream::instance());
        }
    };
    plain("one");
    p.verbosePrefixMask |= LogStream::VERBOSE;
    plain("two");
    EXPECT_EQ(log.lines(), (Lines{"LogPrefixed PROBLEM: text", "one", "VERBOSE: two"}));
    EXPECT_EQ(logMessages(), (Lines{pid + " PROBLEM: text", "one", "VERBOSE: two"}));
    EXPECT_EQ(collectiveMessages(),
              (Lines{"test_services PROBLEM: text", "VERBOSE: one", "VERBOSE: two"}));
}

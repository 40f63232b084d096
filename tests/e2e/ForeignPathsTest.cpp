// The decoder process where another local account can write: the day's log
// directory under a log directory open to all, the bad-file directory and a
// store directory under directories open to all, each replaced by that
// account with a link to a directory of root's, or by a directory of its
// own.  Nothing outside the decoder's own directories is made, written or
// changed in mode; the decoder goes on serving, logs to the sinks that
// remain, and keeps the bulletins it cannot set aside.
//
// The other account is uid 65534, taken by a forked child: the tests need
// root, and skip otherwise.
#include "DecoderProcess.h"
#include "ModelInstallation.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <functional>

using namespace e2e;

namespace {

const char* const terminalLog = "all all file all = off\nall all collective all = off\n";

#define REQUIRE_ROOT()                                                                      \
    if (geteuid() != 0)                                                                     \
    GTEST_SKIP() << "acting as another account (uid 65534) needs root"

// Does what another local account would: act runs in a child that has
// taken uid and gid 65534; true when it returned 0.
bool asAnotherAccount(const std::function<int()>& act)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 ? act() : 99);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

unsigned modeOf(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
}

std::string utcDay(time_t t)
{
    struct tm parts;
    gmtime_r(&t, &parts);
    char text[16];
    return std::string(text, strftime(text, sizeof text, "%Y%m%d", &parts));
}

} // namespace

// The day's directory (today's and tomorrow's, for a run over midnight) of
// the 0777 log directory: a link to a directory holding a 0600 file of the
// collective file's name, then, after SIGUSR1, a directory of the other
// account.  Neither is written; the terminal keeps every line.
TEST(ForeignPaths, TheDaysLogDirectoryLaidByAnotherAccountIsNotWritten)
{
    REQUIRE_ROOT();
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst("");
    const std::string logDir = inst.tree.logDir();
    ASSERT_EQ(chmod(inst.tree.root().c_str(), 0755), 0);
    ASSERT_EQ(chmod(logDir.c_str(), 0777), 0);
    const std::string target = inst.tree.mkdirs("target");
    const std::string kept = inst.tree.write("target/decoder", "kept\n");
    ASSERT_EQ(chmod(kept.c_str(), 0600), 0);
    const time_t now = time(nullptr);
    const std::vector<std::string> days = {logDir + "/" + utcDay(now),
                                           logDir + "/" + utcDay(now + 86400)};
    ASSERT_TRUE(asAnotherAccount([&] {
        for (const std::string& day : days)
            if (symlink(target.c_str(), day.c_str()) != 0)
                return 1;
        return 0;
    }));

    DecoderProcess d(inst.notices, "Model", inst.tree.path("decoder.log"));
    ASSERT_TRUE(d.ready()) << d.child.log();
    ASSERT_TRUE(d.announce()) << d.child.log();
    for (const std::string& day : days)
        ASSERT_EQ(unlink(day.c_str()), 0);
    ASSERT_TRUE(asAnotherAccount([&] {
        for (const std::string& day : days)
            if (mkdir(day.c_str(), 0777) != 0 || chmod(day.c_str(), 0777) != 0)
                return 1;
        return 0;
    }));
    ASSERT_EQ(d.child.signal(SIGUSR1), 0);
    // The signal ends the wait it comes in (or the next one); a data message
    // sent before that could be taken first, and the stop then read with it.
    ASSERT_TRUE(d.child.waitForLog("No messages in time period. Re-registering.", 30000))
        << d.child.log();
    ASSERT_TRUE(d.announce()) << d.child.log();
    EXPECT_EQ(d.stop(), 0);

    EXPECT_EQ(TempTree::listFiles(target), std::vector<std::string>{"decoder"});
    EXPECT_EQ(TempTree::readFile(kept), "kept\n");
    EXPECT_EQ(modeOf(kept), 0600u);
    for (const std::string& day : days)
        EXPECT_TRUE(fs::is_empty(day)) << day;
    const std::string log = d.child.log();
    EXPECT_NE(log.find(": a symbolic link in a directory other users can write"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(": a directory of another user in a directory other users can write"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Cannot make or write directory " + logDir + "/"), std::string::npos);
    EXPECT_NE(log.find("EVENT: BufrDecoder process started"), std::string::npos);
    EXPECT_NE(log.find("No messages in time period. Re-registering."), std::string::npos);
}

// The bad-file directory under an ingest tree open to all (0777, or 1777
// with the sticky bit), and the ETA store directory under a model directory
// open so, replaced by links to directories of root's (the store's holding
// a template): an ETA bulletin and one that does not decode stay in the
// ingest directory, the refusals logged, and neither target gets a file.
TEST(ForeignPaths, LinksInPlaceOfTheBadFileAndStoreDirectoriesLeadNowhere)
{
    REQUIRE_ROOT();
    QEV_REQUIRE_NCGEN();
    for (const mode_t openMode : {0777, 01777}) {
        SCOPED_TRACE(openMode);
        ModelInstallation inst(terminalLog);
        ASSERT_EQ(chmod(inst.tree.root().c_str(), 0755), 0);
        ASSERT_EQ(chmod(inst.tree.path("qev_data/ispan").c_str(), openMode), 0);
        ASSERT_EQ(chmod(inst.tree.path("qev_data/point/model/ETA").c_str(), openMode), 0);
        const std::string badTarget = inst.tree.mkdirs("badTarget");
        const std::string storeTarget = inst.tree.mkdirs("storeTarget");
        fs::copy_file(inst.storeDir(0) + "/template", storeTarget + "/template");
        fs::remove(inst.bad);
        fs::remove_all(inst.storeDir(0));
        ASSERT_TRUE(asAnotherAccount([&] {
            return symlink(badTarget.c_str(), inst.bad.c_str()) != 0 ||
                   symlink(storeTarget.c_str(), inst.storeDir(0).c_str()) != 0;
        }));
        const ModelBulletin eta = modelBulletins(1, 3)[0];
        ASSERT_EQ(eta.model, 0);
        inst.drop(eta);
        const std::string corrupt = "JUSA41_KWBC_corrupt";
        inst.tree.write("qev_data/ispan/bufr/modelSoundings/NAM/" + corrupt, "BUFR 1");

        DecoderProcess d(inst.notices, "Model", inst.tree.path("decoder.log"));
        ASSERT_TRUE(d.ready()) << d.child.log();
        ASSERT_TRUE(d.announce()) << d.child.log();
        EXPECT_EQ(d.stop(), 0);

        EXPECT_TRUE(TempTree::listFiles(badTarget).empty());
        EXPECT_EQ(TempTree::listFiles(storeTarget), std::vector<std::string>{"template"});
        std::vector<std::string> waiting = {corrupt, eta.sample.name};
        std::sort(waiting.begin(), waiting.end());
        EXPECT_EQ(TempTree::listFiles(inst.in), waiting);
        const std::string log = d.child.log();
        for (const std::string& name : {corrupt, eta.sample.name})
            EXPECT_NE(log.find(inst.in + "/" + name + " FAILED on rename() command: " + inst.bad +
                               ": a symbolic link in a directory other users can write; it stays "
                               "in the ingest directory until it can be moved"),
                      std::string::npos)
                << name << "\n"
                << log;
        EXPECT_NE(log.find("The point-data directory " + inst.storeDir(0) + " is refused (" +
                           inst.storeDir(0) +
                           ": a symbolic link in a directory other users can write)"),
                  std::string::npos)
            << log;
    }
}

// The ingest directory, under a directory open to all, replaced by another
// account's link to a directory of root's holding an empty file and a
// bulletin: neither is read, unlinked or moved; one line says why.  Then a
// directory of that account's own (its ingest process's) in place of the
// link: its bulletin is taken as any other.
TEST(ForeignPaths, ALinkInPlaceOfTheIngestDirectoryLeadsNowhere)
{
    REQUIRE_ROOT();
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(terminalLog);
    ASSERT_EQ(chmod(inst.tree.root().c_str(), 0755), 0);
    const std::string parent = fs::path(inst.in).parent_path().string();
    ASSERT_EQ(chmod(parent.c_str(), 0777), 0);
    const std::string target = inst.tree.mkdirs("ingestTarget");
    const ModelBulletin eta = modelBulletins(1, 3)[0];
    inst.tree.write("ingestTarget/" + eta.sample.name,
                    std::string(eta.sample.bytes.begin(), eta.sample.bytes.end()));
    inst.tree.write("ingestTarget/JUSA41_KWBC_empty", "");
    fs::remove_all(inst.in);
    ASSERT_TRUE(asAnotherAccount([&] { return symlink(target.c_str(), inst.in.c_str()); }));

    DecoderProcess d(inst.notices, "Model", inst.tree.path("decoder.log"));
    ASSERT_TRUE(d.ready()) << d.child.log();
    ASSERT_TRUE(d.announce()) << d.child.log();
    ASSERT_TRUE(d.announce()) << d.child.log();
    ASSERT_EQ(unlink(inst.in.c_str()), 0);
    const std::string bytes(eta.sample.bytes.begin(), eta.sample.bytes.end());
    ASSERT_TRUE(asAnotherAccount([&] {
        FILE* f = nullptr;
        const bool ok = mkdir(inst.in.c_str(), 0777) == 0 && chmod(inst.in.c_str(), 0777) == 0 &&
                        (f = fopen((inst.in + "/" + eta.sample.name).c_str(), "w")) != nullptr &&
                        fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        return f && fclose(f) == 0 && ok ? 0 : 1;
    }));
    ASSERT_TRUE(d.announce()) << d.child.log();
    EXPECT_EQ(d.stop(), 0);
    EXPECT_TRUE(TempTree::listFiles(inst.in).empty()) << d.child.log();
    EXPECT_TRUE(holdsBulletin(storedByKey(inst.storeDir(0)), eta)) << d.child.log();

    std::vector<std::string> kept = {"JUSA41_KWBC_empty", eta.sample.name};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(TempTree::listFiles(target), kept);
    EXPECT_TRUE(TempTree::listFiles(inst.bad).empty());
    const std::string log = d.child.log();
    const std::string line = "The ingest directory " + inst.in + " is refused (" + inst.in +
                             ": a symbolic link in a directory other users can write); its "
                             "files are left where they are";
    const size_t first = log.find(line);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(line, first + 1), std::string::npos) << log;
}

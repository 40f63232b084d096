// The decoder process against an operator's mistakes and peers that hold
// its connections: a second decoder started on the same data tree, a
// bad-file directory that is not a directory, bulletins set aside twice
// under one name (the longest a directory takes among them), a read-only
// ingest directory, one removed and made again under a running decoder,
// links laid at the log files' names, and more connections held open than
// the process has descriptors for.
#include "../decoder/DecoderChild.h"
#include "ModelInstallation.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

using namespace e2e;

namespace {

const std::string decoderProgram = std::string(QEV_BIN_DIR) + "/decoder";
const char* const terminalLog = "all all file all = off\nall all collective all = off\n";

// A model decoder of the installation; its parent, data controller and
// notification server are the installation's peer.
struct Decoder {
    Decoder(ModelInstallation& i, const std::string& log, const std::string& uniqueId = "3")
        : inst(i), child(decoderProgram, {i.notices.targetText(), uniqueId, "Model"},
                         i.tree.path(log))
    {
    }
    // Its first ReadyMsg, then a connection to it as its data controller.
    bool ready()
    {
        WirePeer::Message m;
        while (inst.notices.waitFor(1, 0, 30000, &m))
            if (m.sender.pid == child.pid()) {
                connection = inst.notices.connectTo(m.sender);
                sender = m.sender;
                return connection >= 0;
            }
        return false;
    }
    // A data message; true once the ReadyMsg after it came (of this process:
    // others may run beside it).
    bool announce(int on = -1)
    {
        if (!inst.notices.sendData(on < 0 ? connection : on, 1, std::string(40, 'x')))
            return false;
        WirePeer::Message m;
        while (inst.notices.waitFor(1, 0, 30000, &m))
            if (m.sender.pid == child.pid())
                return true;
        return false;
    }
    int stop()
    {
        child.signal(SIGTERM);
        return child.waitExit(60000);
    }

    ModelInstallation& inst;
    DecoderChild child;
    WirePeer::Target sender;
    int connection = -1;
};

// A directory no process of this user can add to or remove from, undone
// when the object goes: its mode, and for root, whom no mode stops, the
// immutable attribute (made() false when the file system has none).
struct ReadOnlyDirectory {
    explicit ReadOnlyDirectory(const std::string& dir) : path(dir) { done = set(true); }
    ~ReadOnlyDirectory() { set(false); }
    bool made() const { return done; }
    // The mode can change only while the attribute is off.
    bool set(bool on) const
    {
        bool ok = !on || chmod(path.c_str(), 0555) == 0;
        if (ok && geteuid() == 0) {
            const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            int flags = 0;
            ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
            if (fd >= 0)
                close(fd);
        }
        return ok && (on || chmod(path.c_str(), 0755) == 0);
    }

    std::string path;
    bool done = false;
};

// How often the text occurs in the log.
size_t occurrences(const std::string& log, const std::string& text)
{
    size_t n = 0;
    for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at += text.size())
        ++n;
    return n;
}

// Seconds of processor time the process has used.
double cpuSeconds(pid_t pid)
{
    const std::string stat = TempTree::readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(") ") + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stod(field);   // utime, stime
    return ticks / sysconf(_SC_CLK_TCK);
}

} // namespace

// A second decoder started on the tree while the first works through its
// directory: it touches nothing, says which directory another process holds,
// and exits 1; the first stores exactly what a decoder alone stores.
TEST(OperatorMistakes, ASecondDecoderOnTheSameTreeIsRefused)
{
    QEV_REQUIRE_NCGEN();
    const std::vector<ModelBulletin> all = modelBulletins(3, 24);
    std::vector<StoredByKey> expected;
    {
        // An installation sets the environment: one at a time.
        ModelInstallation alone(terminalLog);
        for (const ModelBulletin& b : all)
            alone.drop(b);
        Decoder d(alone, "alone.log");
        ASSERT_TRUE(d.ready()) << d.child.log();
        EXPECT_EQ(d.stop(), 0);
        for (int m = 0; m < 4; ++m)
            expected.push_back(storedByKey(alone.storeDir(m)));
    }
    ModelInstallation shared(terminalLog);
    for (const ModelBulletin& b : all)
        shared.drop(b);
    Decoder first(shared, "first.log");
    ASSERT_TRUE(first.child.waitForLog("MXR_ENTRY [2/32]", 30000)) << first.child.log();
    {
        DecoderChild second(decoderProgram, {shared.notices.targetText(), "4", "Model"},
                            shared.tree.path("second.log"));
        EXPECT_EQ(second.waitExit(30000), 1);
        EXPECT_TRUE(second.waitForLog("PROBLEM: The ingest directory " + shared.in +
                                          " is held by another decoder process",
                                      0))
            << second.log();
        EXPECT_TRUE(second.waitForLog(
            "PROBLEM: Another decoder process works on the Model data. Exiting.", 0));
        EXPECT_FALSE(second.waitForLog("MXR_ENTRY", 0));
    }
    ASSERT_TRUE(first.ready()) << first.child.log();
    EXPECT_EQ(first.stop(), 0);
    EXPECT_TRUE(TempTree::listFiles(shared.in).empty());
    EXPECT_TRUE(TempTree::listFiles(shared.bad).empty());
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE(modelNames[m]);
        const StoredByKey stored = storedByKey(shared.storeDir(m));
        ASSERT_EQ(stored.size(), expected[m].size());
        for (const auto& e : expected[m]) {
            const auto it = stored.find(e.first);
            ASSERT_NE(it, stored.end()) << e.first.first << " at " << e.first.second;
            EXPECT_EQ(it->second.refTime, e.second.refTime);
            EXPECT_EQ(it->second.levels, e.second.levels);
            EXPECT_EQ(it->second.pressure, e.second.pressure);
        }
    }
}

// A plain file where the bad-file directory should be: a bulletin to be set
// aside waits in the ingest directory, logged once over several passes, and
// is moved once the directory is back.  A second bulletin of that name set
// aside later is kept beside the first.
TEST(OperatorMistakes, BadBulletinsAreKeptWhateverTheBadFileDirectory)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(terminalLog);
    Decoder d(inst, "bad.log");
    ASSERT_TRUE(d.ready()) << d.child.log();
    fs::remove(inst.bad);
    std::ofstream(inst.bad.c_str()) << "not a directory";
    const std::string name = "JUSA41_KWBC_corrupt";
    inst.tree.write("qev_data/ispan/bufr/modelSoundings/NAM/" + name, "BUFR 1");
    for (int pass = 0; pass < 3; ++pass)
        ASSERT_TRUE(d.announce()) << d.child.log();
    EXPECT_EQ(TempTree::listFiles(inst.in), std::vector<std::string>{name});
    const std::string log = d.child.log();
    EXPECT_NE(log.find(inst.in + "/" + name + " FAILED on rename() command: Not a directory; it "
                                             "stays in the ingest directory until it can be moved"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("FAILED on rename()"), log.rfind("FAILED on rename()"));

    fs::remove(inst.bad);
    fs::create_directory(inst.bad);
    ASSERT_TRUE(d.announce()) << d.child.log();
    inst.tree.write("qev_data/ispan/bufr/modelSoundings/NAM/" + name, "BUFR 2");
    ASSERT_TRUE(d.announce()) << d.child.log();
    EXPECT_TRUE(TempTree::listFiles(inst.in).empty());
    EXPECT_EQ(TempTree::listFiles(inst.bad), (std::vector<std::string>{name, name + ".1"}));
    EXPECT_EQ(TempTree::readFile(inst.bad + "/" + name), "BUFR 1");
    EXPECT_EQ(TempTree::readFile(inst.bad + "/" + name + ".1"), "BUFR 2");
    EXPECT_EQ(d.stop(), 0);
}

// A bulletin name of 255 bytes, the longest a directory takes, set aside
// twice: the second cannot take the suffix ".1" whole, so its name gives up
// characters at its start and keeps its end.
TEST(OperatorMistakes, ALongestNameSetAsideTwiceKeepsItsEnd)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(terminalLog);
    Decoder d(inst, "long.log");
    ASSERT_TRUE(d.ready()) << d.child.log();
    std::string name = "JUSA41_KWBC_";
    name += std::string(255 - name.size() - 4, 'x') + "_end";
    for (const char* text : {"BUFR 1", "BUFR 2"}) {
        inst.tree.write("qev_data/ispan/bufr/modelSoundings/NAM/" + name, text);
        ASSERT_TRUE(d.announce()) << d.child.log();
    }
    EXPECT_TRUE(TempTree::listFiles(inst.in).empty()) << d.child.log();
    const std::string shortened = name.substr(2) + ".1";
    EXPECT_EQ(TempTree::listFiles(inst.bad), (std::vector<std::string>{name, shortened}));
    EXPECT_EQ(TempTree::readFile(inst.bad + "/" + name), "BUFR 1");
    EXPECT_EQ(TempTree::readFile(inst.bad + "/" + shortened), "BUFR 2");
    EXPECT_EQ(d.stop(), 0);
}

// An ingest directory the process cannot change: each file is decoded once
// over 20 data messages, its failed unlink (or move) logged once; once the
// directory can be changed again, the files go as they would have.
TEST(OperatorMistakes, AReadOnlyIngestDirectoryHasEachFileDecodedOnce)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(terminalLog);
    const std::vector<ModelBulletin> all = modelBulletins(2, 3);
    inst.drop(all[0]);
    inst.drop(all[1]);
    inst.tree.write("qev_data/ispan/bufr/modelSoundings/NAM/JUSA41_KWBC_corrupt", "BUFR 1");
    std::unique_ptr<ReadOnlyDirectory> readOnly(new ReadOnlyDirectory(inst.in));
    if (!readOnly->made())
        GTEST_SKIP() << "this file system cannot make a directory read-only for root";
    Decoder d(inst, "readonly.log");
    ASSERT_TRUE(d.ready()) << d.child.log();
    const size_t problems = occurrences(d.child.log(), "PROBLEM: ");   // the first pass's
    for (int message = 0; message < 20; ++message)
        ASSERT_TRUE(d.announce()) << d.child.log();
    std::string log = d.child.log();
    EXPECT_EQ(TempTree::listFiles(inst.in).size(), 3u);
    EXPECT_EQ(occurrences(log, "MXR_ENTRY"), 3u) << log;
    EXPECT_EQ(occurrences(log, "PROBLEM: "), problems) << log;
    EXPECT_EQ(occurrences(log, " FAILED on unlink() command: "), 2u) << log;
    EXPECT_EQ(occurrences(log, "; it is left where it is and not handled again until it changes"),
              2u);
    EXPECT_EQ(occurrences(log, " FAILED on rename() command: "), 1u) << log;
    for (int b = 0; b < 2; ++b)
        EXPECT_TRUE(holdsBulletin(storedByKey(inst.storeDir(all[b].model)), all[b]));

    readOnly.reset();
    ASSERT_TRUE(d.announce()) << d.child.log();
    EXPECT_TRUE(TempTree::listFiles(inst.in).empty());
    EXPECT_EQ(TempTree::listFiles(inst.bad), std::vector<std::string>{"JUSA41_KWBC_corrupt"});
    log = d.child.log();
    EXPECT_EQ(occurrences(log, "MXR_ENTRY"), 3u) << log;
    // One more: the corrupt bulletin's move.
    EXPECT_EQ(occurrences(log, "PROBLEM: "), problems + 1) << log;
    EXPECT_EQ(d.stop(), 0);
}

// An ingest directory removed and made again while a decoder runs: a second
// decoder can take the new one until the first's next pass, which then
// leaves the files alone with a line; once the second is gone the first
// takes the new directory at its next pass, and a third is refused.
TEST(OperatorMistakes, AnIngestDirectoryMadeAgainIsLockedAgain)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(terminalLog);
    const std::vector<ModelBulletin> all = modelBulletins(2, 3);
    Decoder first(inst, "first.log");
    ASSERT_TRUE(first.ready()) << first.child.log();
    fs::remove_all(inst.in);
    fs::create_directory(inst.in);

    {
        Decoder second(inst, "second.log", "4");
        ASSERT_TRUE(second.ready()) << second.child.log();
        inst.drop(all[0]);
        ASSERT_TRUE(first.announce()) << first.child.log();
        EXPECT_EQ(TempTree::listFiles(inst.in).size(), 1u);
        const std::string log = first.child.log();
        EXPECT_NE(log.find("PROBLEM: The ingest directory " + inst.in +
                           " was removed or replaced while this decoder process held it\n"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("PROBLEM: The ingest directory " + inst.in +
                           " is held by another decoder process; this one leaves its files alone"),
                  std::string::npos)
            << log;
        EXPECT_FALSE(first.child.waitForLog("MXR_ENTRY", 0));
        EXPECT_EQ(second.stop(), 0);
    }
    ASSERT_TRUE(first.announce()) << first.child.log();
    EXPECT_TRUE(TempTree::listFiles(inst.in).empty()) << first.child.log();
    EXPECT_TRUE(holdsBulletin(storedByKey(inst.storeDir(all[0].model)), all[0]));

    fs::remove_all(inst.in);
    fs::create_directory(inst.in);
    inst.drop(all[1]);
    ASSERT_TRUE(first.announce()) << first.child.log();
    EXPECT_TRUE(first.child.waitForLog(
        "PROBLEM: The ingest directory " + inst.in +
            " was removed or replaced while this decoder process held it; it holds the new one",
        0))
        << first.child.log();
    EXPECT_TRUE(TempTree::listFiles(inst.in).empty());
    DecoderChild third(decoderProgram, {inst.notices.targetText(), "5", "Model"},
                       inst.tree.path("third.log"));
    EXPECT_EQ(third.waitExit(30000), 1) << third.log();
    EXPECT_TRUE(third.waitForLog("is held by another decoder process", 0)) << third.log();
    EXPECT_EQ(first.stop(), 0);
}

// Log files in a directory other users can write: a symbolic link laid at
// the collective file's name and a hard link at the log file's name lead the
// process into neither target (each keeps its text and its mode); it goes on
// logging to the terminal.
TEST(OperatorMistakes, LinksAtTheLogFilesNamesAreNotFollowed)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst("");
    inst.tree.setEnv("LOG_FILE", "%L/%N.log");
    inst.tree.setEnv("COLLECTIVE_FILE", "%L/%N");
    const std::string target = inst.tree.write("target", "kept\n");
    const std::string other = inst.tree.write("other", "kept too\n");
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    ASSERT_EQ(chmod(other.c_str(), 0600), 0);
    const std::string logDir = inst.tree.logDir();
    fs::create_directories(logDir);
    fs::create_symlink(target, logDir + "/decoder");
    fs::create_hard_link(other, logDir + "/decoder.log");

    Decoder d(inst, "links.log");
    ASSERT_TRUE(d.ready()) << d.child.log();
    ASSERT_TRUE(d.announce()) << d.child.log();
    EXPECT_EQ(d.stop(), 0);
    EXPECT_EQ(TempTree::readFile(target), "kept\n");
    EXPECT_EQ(TempTree::readFile(other), "kept too\n");
    struct stat info;
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(stat(other.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    const std::string log = d.child.log();
    EXPECT_NE(log.find("Cannot open log file: " + logDir +
                       "/decoder: Too many levels of symbolic links."),
              std::string::npos)
        << log;
    EXPECT_NE(
        log.find("Cannot open log file: " + logDir + "/decoder.log: the file has other names."),
        std::string::npos)
        << log;
    EXPECT_NE(log.find("EVENT: BufrDecoder process started"), std::string::npos);
}

// A process started with few descriptors, and peers that open connections
// beyond them, each holding a partial message: the process keeps the
// connections it has room for and closes the others as they come, without
// spinning or flooding its log; the connection it serves meanwhile stays
// served, and new peers are served again once the others are gone.
TEST(OperatorMistakes, ConnectionsBeyondTheDescriptorsLeaveTheProcessServing)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(terminalLog);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const struct rlimit low = {96, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);   // the child inherits it
    Decoder d(inst, "held.log");
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_TRUE(d.ready()) << d.child.log();
    ASSERT_TRUE(d.announce()) << d.child.log();   // the process knows this peer now

    std::vector<int> held;
    for (int i = 0; i < 150; ++i) {
        const int c = inst.notices.connectTo(d.sender, 2000);
        if (c >= 0 && inst.notices.send(c, {0, 0}, 2000))
            held.push_back(c);
    }
    const double cpu = cpuSeconds(d.child.pid());
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_LT(cpuSeconds(d.child.pid()) - cpu, 0.5);
    const std::vector<ModelBulletin> all = modelBulletins(3, 3);
    inst.drop(all[0]);
    ASSERT_TRUE(d.announce()) << d.child.log();
    EXPECT_TRUE(TempTree::listFiles(inst.in).empty());
    const std::string log = d.child.log();
    EXPECT_NE(log.find("new connection(s): the process keeps at most 256 connections and 32 "
                       "watched descriptors"),
              std::string::npos)
        << log;
    size_t lines = 0;
    for (size_t at = 0; (at = log.find('\n', at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_LT(lines, 300u) << log;

    // The kept ones close as their peers go; then there is room again.
    int kept = 0;
    for (int c : held) {
        kept += inst.notices.isOpen(c);
        inst.notices.close(c);
    }
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 32);
    const auto closed = [&] {
        const std::string text = d.child.log();
        int n = 0;
        for (size_t at = 0; (at = text.find("have the proper header.", at)) != std::string::npos;
             ++at)
            ++n;
        return n >= kept;
    };
    for (int look = 0; look < 200 && !closed(); ++look)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(closed()) << d.child.log();
    inst.drop(all[1]);
    const int fresh = inst.notices.connectTo(d.sender);
    ASSERT_GE(fresh, 0);
    EXPECT_TRUE(d.announce(fresh)) << d.child.log();
    EXPECT_TRUE(TempTree::listFiles(inst.in).empty());
    EXPECT_EQ(d.stop(), 0) << d.child.log();
}

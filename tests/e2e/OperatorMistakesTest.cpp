// The decoder process against an operator's mistakes and peers that hold
// its connections: a second decoder started on the same data tree, a
// bad-file directory that is not a directory, bulletins set aside twice
// under one name, and more connections held open than the process has
// descriptors for.
#include "../decoder/DecoderChild.h"
#include "ModelInstallation.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
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
    // A data message; true once the ReadyMsg after it came.
    bool announce(int on = -1)
    {
        return inst.notices.sendData(on < 0 ? connection : on, 1, std::string(40, 'x')) &&
               inst.notices.waitFor(1, 0, 30000);
    }
    int stop()
    {
        kill(child.pid(), SIGTERM);
        return child.waitExit(60000);
    }

    ModelInstallation& inst;
    DecoderChild child;
    WirePeer::Target sender;
    int connection = -1;
};

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

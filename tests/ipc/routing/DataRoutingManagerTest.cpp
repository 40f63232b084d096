// The data routing manager: its routing table against clients played by
// peers, its configuration file, and a router in this process that starts
// the helper child routerChild (tests/tools) as its child.  The message
// layer, the comms router (a peer) and the manager with its data-capture
// receiver are set up once for the process.
#include <gtest/gtest.h>

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../comms/CommsTestSupport.h"
#include "ChildProcess.h"
#include "ChildProcessSet.h"
#include "DataCaptReceiver.h"
#include "DataRoutingEntry.h"
#include "DataRoutingManager.h"
#include "Dispatcher.h"
#include "IpcModule.h"
#include "LogCapture.h"
#include "TempTree.h"
#include "ipcInitialise.h"

using namespace commstest;

namespace {

WirePeer* comms = nullptr;
DataRoutingManager* router = nullptr;
std::string configFile;
double fakeNow = 0;

double fakeClock()
{
    return fakeNow;
}

void noPause(unsigned) {}

class Router : public ::testing::Environment {
public:
    void SetUp() override
    {
        const std::string home = std::getenv("QEV_HOME");
        configFile = home + "/router.conf";
        // The helper children read the configuration too.
        std::system(("mkdir -p " + home + "/data").c_str());
        std::ofstream(home + "/data/qev.config") << "# router tests\n";
        ipcInitialise();
        comms = new WirePeer;
        router = new DataRoutingManager(TextString(comms->targetText().c_str()),
                                        TextString(configFile.c_str()));
        Dispatcher::addReceiver(DATA_CAPT_MODULE, new DataCaptReceiver(router));
        DataRoutingManager::setRestartClock(fakeClock);
        DataRoutingManager::setStopPause(noPause);
        // The helper is built beside the test executables.
        char self[PATH_MAX] = {};
        if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
            const std::string dir = std::string(self).substr(0, std::string(self).rfind('/'));
            std::system(("mkdir -p " + home + "/bin").c_str());
            symlink((dir + "/routerChild").c_str(), (home + "/bin/routerChild").c_str());
        }
    }
    void TearDown() override { delete comms; }
};

::testing::Environment* const routerLayer = ::testing::AddGlobalTestEnvironment(new Router);

const DataRoutingEntry* entryOf(const IPC_Target& target)
{
    for (int i = 0; i < DataRoutingManager::entryCount(); ++i) {
        if (DataRoutingManager::entry(i)->isTarget(target))
            return DataRoutingManager::entry(i);
    }
    return nullptr;
}

// The target's entry goes, as when its child exits for good.
void forget(const IPC_Target& target)
{
    ChildProcess child(TextString("x"), 0, nullptr, nullptr, nullptr, ChildProcess::FOREIGN);
    child.setTarget(target);
    router->childExited(&child);
}

void route(const char* key, long id, const std::string& bytes)
{
    TextString k(key);
    std::string copy = bytes;
    DataRoutingManager::routeData(&k, id, static_cast<long>(copy.size()),
                                  reinterpret_cast<unsigned char*>(&copy[0]));
}

std::vector<std::string> dataReceived(const WirePeer& peer)
{
    std::vector<std::string> items;
    for (const WirePeer::Message& m : peer.messages()) {
        if (m.module == 1 && m.type == 2)
            items.push_back(std::to_string(m.productId) + ":" + m.bytesText());
    }
    return items;
}

std::vector<std::string> lines(const std::string& path)
{
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

}  // namespace

TEST(DataRouting, OneItemPerReadyMsgTheRestQueued)
{
    WirePeer client;
    const IPC_Target target = targetOf(client);
    router->registerClient(target, TextString("KW"));
    router->registerClient(target, TextString("XX"));  // the same client: its new pattern
    ASSERT_EQ(DataRoutingManager::entryCount(), 1);
    EXPECT_STREQ(router->compositePattern().c_str(), "KW");
    const DataRoutingEntry* entry = entryOf(target);

    route("XXAB", 1, "one");  // not ready yet
    route("KWBC", 9, "none");
    EXPECT_EQ(entry->queued(), 1);
    router->targetReady(target);
    route("XXAB", 2, "two");
    route("XXAB", 3, "three");
    EXPECT_EQ(entry->queued(), 2);
    router->targetReady(target);
    router->targetReady(target);
    EXPECT_FALSE(entry->isReady());
    router->targetReady(target);  // nothing waits: ready
    EXPECT_TRUE(entry->isReady());
    route("XXAB", 4, "four");
    route("XXAB", 5, "five");
    EXPECT_FALSE(entry->isReady());
    EXPECT_EQ(entry->queued(), 1);
    ASSERT_TRUE(client.waitForCount(1, 2, 4, 5000));
    EXPECT_EQ(dataReceived(client),
              (std::vector<std::string>{"1:one", "2:two", "3:three", "4:four"}));
    forget(target);
    EXPECT_EQ(DataRoutingManager::entryCount(), 0);
}

TEST(DataRouting, ACompositeOfDistinctTextsAndEntriesOfOtherChildrenKept)
{
    WirePeer a, b;
    router->registerClient(targetOf(a), TextString("abc"));
    router->registerClient(targetOf(b), TextString("ab"));
    EXPECT_STREQ(router->compositePattern().c_str(), "abc");

    // a's child is restarted: its entry waits without a target.  A child
    // that never reported then exits: no other child's entry goes.
    ChildProcess childA(TextString("x"), 0, nullptr, nullptr, nullptr, ChildProcess::FOREIGN);
    childA.setTarget(targetOf(a));
    router->childRestarted(&childA);
    EXPECT_TRUE(DataRoutingManager::entry(0)->target().isNull());
    ChildProcess silent(TextString("x"), 0, nullptr, nullptr, nullptr, ChildProcess::FOREIGN);
    router->childExited(&silent);
    EXPECT_EQ(DataRoutingManager::entryCount(), 2);
    router->registerClient(targetOf(a), TextString("abc"));  // the entry is a's again
    EXPECT_EQ(DataRoutingManager::entry(0)->target(), targetOf(a));
    forget(targetOf(a));
    forget(targetOf(b));
}

TEST(DataRouting, ConfigurationLinesAreBounded)
{
    LogCapture log;
    DataRoutingManager missing(TextString("R"), TextString("/nonexistent/router.conf"));
    EXPECT_EQ(missing.startChildren(), 0);
    EXPECT_EQ(log.count("Can't open /nonexistent/router.conf"), 1);

    TempTree tree;
    const std::string conf = tree.write("router.conf", "eof\nnoSuchProgram false\n");
    DataRoutingManager endsAtOnce(TextString("R"), TextString(conf.c_str()));
    EXPECT_EQ(endsAtOnce.startChildren(), 0);

    tree.write("router.conf", std::string(300, 'x') + " true\nnoFlag\n" + "name " +
                                  std::string(16, 't') + "\nnoSuchProgram false\neof\n");
    tree.setEnv("QEV_HOME", nullptr);
    LogStream::setFilter("DataRoutingManager", LogStream::TTY, LogStream::DEBUG, true);
    EXPECT_EQ(endsAtOnce.startChildren(), 1);  // it starts; its exec fails
    LogStream::setFilter("DataRoutingManager", LogStream::TTY, LogStream::DEBUG, false);
    EXPECT_EQ(log.count("router.conf line 1: a word longer than 255 characters; line skipped"), 1);
    EXPECT_EQ(log.count("router.conf line 2: no restart flag; line skipped"), 1);
    EXPECT_EQ(log.count("router.conf line 3: a restart flag longer than 15 characters"), 1);
    EXPECT_EQ(log.count("exeFilePath /bin/noSuchProgram"), 1);
    EXPECT_EQ(log.count("No user args specified"), 1);
    ASSERT_TRUE(pumpUntil([] { return ChildProcessSet::instance()->count() == 0; }));
}

TEST(DataRouting, RoutesToAHelperChildAndRestartsIt)
{
    const std::string record = std::string(std::getenv("QEV_DATA")) + "/routerChild.KWBC.txt";
    std::remove(record.c_str());
    std::ofstream(configFile) << "routerChild true KWBC\neof\nrouterChild true NEVER\n";
    ASSERT_EQ(router->startChildren(), 1);
    ChildProcessSet* set = ChildProcessSet::instance();
    ChildProcess* child = set->child(0);
    ASSERT_NE(child, nullptr);
    const int firstPid = child->pid();

    // The child reports, registers and says it is ready; the router asks
    // the comms router for its pattern.
    ASSERT_TRUE(pumpUntil([] {
        return DataRoutingManager::entryCount() == 1 && DataRoutingManager::entry(0)->isReady();
    }, 20000));
    const DataRoutingEntry* entry = DataRoutingManager::entry(0);
    EXPECT_EQ(entry->target(), child->target());
    EXPECT_EQ(child->target().pid(), firstPid);
    const IPC_Target firstTarget = child->target();
    WirePeer::Message request;
    ASSERT_TRUE(comms->waitFor(0, 6, 5000, &request));
    EXPECT_EQ(request.body, text("KWBC"));

    // Products from the comms router, one at a time to the child.
    const int c = comms->connectTo(ownTarget());
    for (const auto& item : std::vector<std::pair<std::string, std::string>>{
             {"KWBC1", "one"}, {"XXXX", "none"}, {"KWBC2", "two"}, {"KWBC3", "three"}}) {
        static int id = 0;
        ASSERT_TRUE(comms->send(c, WirePeer::encode(comms->target(), 0, 7,
                                                    commsData(item.first, ++id, item.second))));
    }
    ASSERT_TRUE(pumpUntil([&] { return lines(record).size() == 3 && entry->isReady(); }, 20000));
    const std::string first = std::to_string(firstPid) + " ";
    EXPECT_EQ(lines(record), (std::vector<std::string>{first + "1 one", first + "3 two",
                                                       first + "4 three"}));

    // The child exits without answering: restarted, it takes its entry back
    // and gets what waited for it.
    ASSERT_TRUE(comms->send(c, WirePeer::encode(comms->target(), 0, 7, commsData("KWBC5", 5, "exit"))));
    ASSERT_TRUE(comms->send(c, WirePeer::encode(comms->target(), 0, 7, commsData("KWBC6", 6, "after"))));
    ASSERT_TRUE(pumpUntil([&] { return lines(record).size() == 5 && entry->isReady(); }, 20000));
    EXPECT_EQ(child->restartCount(), 1);
    ASSERT_NE(child->pid(), firstPid);
    const std::string second = std::to_string(child->pid()) + " ";
    EXPECT_EQ(lines(record)[3], first + "5 exit");
    EXPECT_EQ(lines(record)[4], second + "6 after");
    EXPECT_EQ(entry->target(), child->target());
    EXPECT_EQ(DataRoutingManager::entryCount(), 1);
    // A registration of the process that exited is taken from nobody.
    router->registerClient(firstTarget, TextString("KWBC"));
    EXPECT_EQ(DataRoutingManager::entryCount(), 1);

    // Stopped, the child shuts down clean and is not restarted; its entry
    // goes at once, and a registration it sends before it exits (as the
    // decoder does when the signal ends its wait) is ignored.
    const IPC_Target last = child->target();
    router->stopChildren();
    EXPECT_EQ(set->count(), 0);
    EXPECT_EQ(DataRoutingManager::entryCount(), 0);
    ASSERT_TRUE(pumpUntil([&] { return lines(record).size() == 6; }, 20000));
    EXPECT_EQ(lines(record)[5], second + "clean shutdown");
    LogCapture log;
    router->registerClient(last, TextString("KWBC"));
    EXPECT_EQ(DataRoutingManager::entryCount(), 0);
    EXPECT_TRUE(log.contains("registerClient: " + std::string(last.address().c_str()) +
                             " is no child of this router any more; its data request is ignored"));
}

TEST(DataRouting, GivesUpAChildRestartedTooOftenWithinAWindow)
{
    fakeNow = 0;
    DataRoutingManager::setRestartClock(fakeClock);
    std::ofstream(configFile) << "routerChild true crash\n";
    ASSERT_EQ(router->startChildren(), 1);
    ChildProcessSet* set = ChildProcessSet::instance();
    // Within the first 10 seconds of the window nothing is judged.
    ASSERT_TRUE(pumpUntil([&] { return set->count() == 1 && set->child(0)->restartCount() >= 9; },
                          30000));
    const TextString executable = set->child(0)->executable();
    LogCapture log;
    fakeNow = 11;
    ASSERT_TRUE(pumpUntil([&] { return set->count() == 0; }, 20000));
    EXPECT_GE(log.count("Child restarted too often: " + std::string(executable.c_str())), 1);
    fakeNow = 0;
    DataRoutingManager::setRestartClock(fakeClock);
}

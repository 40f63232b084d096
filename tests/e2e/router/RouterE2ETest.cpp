// The decoder under the system's own data controller: a data routing
// manager in this process starts the decoder program (model data type) as
// its child from its configuration file, takes the child's report and data
// request, and routes the comms router's data items (a peer here) to it, one
// per ReadyMsg.  The message layer, the comms router and the manager with
// its data-capture receiver are set up once for the process; each test
// makes its installation and writes the manager's configuration.
#include "../../ipc/comms/CommsTestSupport.h"
#include "../ModelInstallation.h"
#include "ChildProcess.h"
#include "ChildProcessSet.h"
#include "DataCaptReceiver.h"
#include "DataRoutingEntry.h"
#include "DataRoutingManager.h"
#include "Dispatcher.h"
#include "IpcModule.h"
#include "ipcInitialise.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

using namespace e2e;
using namespace commstest;

namespace {

WirePeer* comms = nullptr;
DataRoutingManager* router = nullptr;
std::string configFile;

void noPause(unsigned) {}

class Router : public ::testing::Environment {
public:
    void SetUp() override
    {
        configFile = std::string(std::getenv("QEV_HOME")) + "/router.conf";
        ipcInitialise();
        comms = new WirePeer;
        router = new DataRoutingManager(TextString(comms->targetText().c_str()),
                                        TextString(configFile.c_str()));
        Dispatcher::addReceiver(DATA_CAPT_MODULE, new DataCaptReceiver(router));
        DataRoutingManager::setStopPause(noPause);
    }
    void TearDown() override { delete comms; }
};

::testing::Environment* const routerLayer = ::testing::AddGlobalTestEnvironment(new Router);

// The child's report and registration: the one entry, ready, under the
// child's target.
const DataRoutingEntry* registered(const ChildProcess* child)
{
    const bool ready = pumpUntil([&] {
        return DataRoutingManager::entryCount() == 1 && DataRoutingManager::entry(0)->isReady() &&
               DataRoutingManager::entry(0)->target() == child->target();
    }, 30000);
    return ready ? DataRoutingManager::entry(0) : nullptr;
}

// The installation with the decoder program in its bin/, and the
// manager's configuration of one decoder child.
struct RoutedInstallation : ModelInstallation {
    explicit RoutedInstallation(bool restart) : ModelInstallation("all all tty all = off\n")
    {
        fs::create_directories(tree.qevHome() + "/bin");
        fs::create_symlink(std::string(QEV_BIN_DIR) + "/decoder", tree.qevHome() + "/bin/decoder");
        std::ofstream(configFile) << "decoder " << (restart ? "true" : "false") << " model\neof\n";
    }
    // The decoder processes' log files below LOG_DIR, joined.
    std::string decoderLog() const
    {
        std::string text;
        for (const std::string& f : TempTree::listFiles(tree.logDir()))
            if (fs::path(f).filename().string().compare(0, 7, "decoder") == 0)
                text += TempTree::readFile(tree.logDir() + "/" + f);
        return text;
    }
    // A data item of the comms router: one announcing the bulletin by its
    // WMO heading, or any key and bytes.
    bool announce(const ModelBulletin& b)
    {
        return item(std::string(b.sample.bytes.begin(), b.sample.bytes.begin() + 18),
                    in + "/" + b.sample.name);
    }
    bool item(const std::string& key, const std::string& bytes)
    {
        if (connection < 0)
            connection = comms->connectTo(ownTarget());
        return comms->send(connection,
                           WirePeer::encode(comms->target(), 0, 7, commsData(key, ++id, bytes)));
    }
    // Starts the children of the configuration: the decoder once it has
    // reported and registered, or null.
    ChildProcess* startDecoder() const
    {
        if (router->startChildren() != 1)
            return nullptr;
        ChildProcess* child = ChildProcessSet::instance()->child(0);
        return child && registered(child) ? child : nullptr;
    }
    // Stops the children; the exit status of the decoder process.  Its
    // entry goes with it, and stays gone when the registration it sends
    // before it exits (the signal ends its wait) has come.
    int stop(int pid) const
    {
        router->stopChildren();
        EXPECT_EQ(ChildProcessSet::instance()->count(), 0);
        EXPECT_EQ(DataRoutingManager::entryCount(), 0);
        int status = -1;
        EXPECT_TRUE(waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30000));
        pumpUntil([] { return false; }, 300);
        EXPECT_EQ(DataRoutingManager::entryCount(), 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int connection = -1;
    int id = 0;
};

} // namespace

// The bulletins of ETA and AVN, each announced by its heading, and one
// product the decoder did not ask for: one item per ReadyMsg, the rest
// queued; every sounding stored and notified; stopping the children runs
// the decoder down with a clean shutdown.
TEST(RouterEndToEnd, TheRoutingManagerRunsTheDecoderAndTheSoundingsAreStored)
{
    QEV_REQUIRE_NCGEN();
    RoutedInstallation inst(false);
    ChildProcess* child = inst.startDecoder();
    ASSERT_NE(child, nullptr) << inst.decoderLog();
    const int pid = child->pid();
    const DataRoutingEntry* entry = DataRoutingManager::entry(0);
    EXPECT_EQ(child->target().pid(), pid);
    EXPECT_STREQ(entry->pattern().c_str(), "JUSA[4-7]");
    WirePeer::Message request;
    ASSERT_TRUE(comms->waitFor(0, 6, 5000, &request));
    EXPECT_EQ(request.body, text("JUSA[4-7]"));

    std::vector<ModelBulletin> bulletins;
    for (const ModelBulletin& b : modelBulletins(3, 6))
        if (b.model == 0 || b.model == 2) {
            bulletins.push_back(b);
            inst.drop(b);
            ASSERT_TRUE(inst.announce(b));
        }
    ASSERT_TRUE(inst.item("IUSN01 KWBC 011200", "other"));
    int mostQueued = 0;
    ASSERT_TRUE(pumpUntil([&] {
        mostQueued = std::max(mostQueued, entry->queued());
        return TempTree::listFiles(inst.in).empty() && entry->isReady() && entry->queued() == 0 &&
               inst.notices.count(2, 10) == 12;
    }, 60000)) << inst.decoderLog();
    // The first pass stores every bulletin (making a data file takes a
    // second) while the other items wait.
    EXPECT_EQ(mostQueued, 3);
    const StoredByKey eta = storedByKey(inst.storeDir(0)), avn = storedByKey(inst.storeDir(2));
    for (const ModelBulletin& b : bulletins)
        EXPECT_TRUE(holdsBulletin(b.model ? avn : eta, b)) << b.sample.name;
    EXPECT_TRUE(TempTree::listFiles(inst.bad).empty());
    std::vector<uint32_t> keys;
    for (const WirePeer::Message& m : inst.notices.messages())
        if (m.module == 2 && m.type == 10)
            keys.push_back(m.key);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), 10001u), 6);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), 10002u), 6);

    EXPECT_EQ(inst.stop(pid), 0);
    EXPECT_NE(inst.decoderLog().find("Signal 15 (Terminate) received for clean shutdown"),
              std::string::npos)
        << inst.decoderLog();
}

// A decoder killed in the middle of its pass is restarted by the manager:
// the new process's first pass takes up what the old one left, it takes
// the entry back and gets the item that waited for it; each sounding is
// stored once.
TEST(RouterEndToEnd, AKilledDecoderIsRestartedAndFinishesTheWork)
{
    QEV_REQUIRE_NCGEN();
    RoutedInstallation inst(true);
    ChildProcess* child = inst.startDecoder();
    ASSERT_NE(child, nullptr) << inst.decoderLog();
    const int first = child->pid();
    std::vector<ModelBulletin> bulletins;
    for (const ModelBulletin& b : modelBulletins(3, 30))
        if (b.model == 0) {
            bulletins.push_back(b);
            inst.drop(b);
        }
    ASSERT_TRUE(inst.announce(bulletins[0]));
    ASSERT_TRUE(pumpUntil([&] {
        return inst.decoderLog().find("MXR_ENTRY [4/10]") != std::string::npos;
    }, 30000)) << inst.decoderLog();
    kill(first, SIGKILL);
    ASSERT_TRUE(inst.announce(bulletins[1]));
    ASSERT_TRUE(pumpUntil([&] {
        const DataRoutingEntry* e =
            DataRoutingManager::entryCount() == 1 ? DataRoutingManager::entry(0) : nullptr;
        return child->pid() != first && e && e->isReady() && e->target() == child->target() &&
               e->queued() == 0 && TempTree::listFiles(inst.in).empty();
    }, 60000)) << inst.decoderLog();
    EXPECT_EQ(child->restartCount(), 1);
    const StoredByKey eta = storedByKey(inst.storeDir(0));
    for (const ModelBulletin& b : bulletins)
        EXPECT_TRUE(holdsBulletin(eta, b)) << b.sample.name;
    EXPECT_TRUE(TempTree::listFiles(inst.bad).empty());
    EXPECT_EQ(inst.stop(child->pid()), 0);
}

// The decoder process under faults, storing the sample generator's model
// soundings: killed at random points of its passes, terminated during a
// pass, a full disk, and broken directories and files under it.  After each
// fault every bulletin is stored whole, still waiting in the ingest
// directory, or in the bad-file directory with a logged reason; every data
// file opens with the netCDF library, and a store made afresh in this
// process finds each stored record through the file's bookkeeping.
#include "DecoderProcess.h"
#include "ModelInstallation.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <thread>

using namespace e2e;

namespace {

// Terminal lines only, with the driver's trace of closing the data files.
const char* const flowLog = "all all file all = off\nall all collective all = off\n"
                            "all BufrDriver tty debug = on\n";

// A decoder process of the installation, whose notification server is its
// parent and data controller too.
struct DecoderRun : DecoderProcess {
    DecoderRun(ModelInstallation& i, const std::string& log)
        : DecoderProcess(i.notices, "Model", i.tree.path(log))
    {
    }
};

// Every bulletin is stored whole, waiting in the ingest directory or (only
// where refused lists it) in the bad-file directory; no sounding is stored
// twice; the store finds every stored bulletin's records.  finished: none
// waits.
void expectAccounted(const ModelInstallation& inst, const std::vector<ModelBulletin>& all,
                     bool finished, const std::set<std::string>& refused = {})
{
    const std::vector<std::string> inList = TempTree::listFiles(inst.in);
    const std::vector<std::string> badList = TempTree::listFiles(inst.bad);
    const std::set<std::string> waiting(inList.begin(), inList.end());
    const std::set<std::string> bad(badList.begin(), badList.end());
    EXPECT_EQ(bad, refused);
    for (int m = 0; m < 4; ++m) {
        const StoredByKey stored = storedByKey(inst.storeDir(m));
        std::vector<StoredSounding> probe;
        for (const ModelBulletin& b : all) {
            if (b.model != m || bad.count(b.sample.name))
                continue;
            if (waiting.count(b.sample.name)) {
                EXPECT_FALSE(finished) << b.sample.name << " still waits";
                continue;
            }
            EXPECT_TRUE(holdsBulletin(stored, b)) << b.sample.name << " left, not stored whole";
            for (const ModelSoundingSamples::Sounding& s : b.soundings) {
                const auto it = stored.find({s.station.id, 1717243200 + 3600.0 * s.forecastHour});
                if (it != stored.end())
                    probe.push_back(it->second);
            }
        }
        expectStorePlaces(inst.storeDir(m), probe);
    }
}

const ModelBulletin& named(const std::vector<ModelBulletin>& all, int model, int hour)
{
    for (const ModelBulletin& b : all)
        if (b.model == model && b.soundings[0].forecastHour == hour)
            return b;
    return all.front();
}

} // namespace

// SIGKILL at random points of successive passes over 64 bulletins: into
// the pass as far as a random file of those left, then a random moment of
// that file.  Each restart takes up what the last left; a last one finishes
// the work.  The seed is in the failure message.
TEST(DecoderUnderFaults, KilledAtRandomPointsOfItsPassesLosesNothing)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(flowLog);
    const std::vector<ModelBulletin> all = modelBulletins(3, 48);
    for (const ModelBulletin& b : all)
        inst.drop(b);
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 8; ++round) {
        const unsigned left = static_cast<unsigned>(TempTree::listFiles(inst.in).size());
        if (left == 0)
            break;
        const std::string entry = "MXR_ENTRY [" + std::to_string(1 + random() % left) + "/" +
                                  std::to_string(left) + "]";
        SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + entry);
        {
            DecoderRun run(inst, "kill" + std::to_string(round) + ".log");
            ASSERT_TRUE(run.child.waitForLog(entry, 30000)) << run.child.log();
            // Every other round aims at the few milliseconds of storing.
            unsigned range = 40000;
            for (int look = 0; round % 2 && look < 100000; ++look, range = 3000) {
                const std::string log = run.child.log();
                if (log.find("Station Name", log.find(entry)) != std::string::npos)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % range));
            run.child.signal(SIGKILL);
            run.child.waitExit(10000);
        }
        expectAccounted(inst, all, false);
    }
    DecoderRun last(inst, "last.log");
    ASSERT_TRUE(last.ready()) << last.child.log();
    EXPECT_EQ(last.stop(), 0) << last.child.log();
    expectAccounted(inst, all, true);
}

// What a writer killed between committing a record and booking it leaves
// (the window the random kills above hit now and then): a record with the
// sounding's station and times, and a value of its own, past the records
// the station table knows, and no commit counted.  The store takes it back
// when it opens the file, and the sounding stored again makes that record
// afresh instead of a second one.
TEST(DecoderUnderFaults, ARecordCommittedButNeverBookedIsTakenAgain)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(flowLog);
    const std::vector<ModelBulletin> all = modelBulletins(3, 6);
    const ModelBulletin &first = named(all, 0, 0), &second = named(all, 0, 3);
    inst.drop(first);
    {
        DecoderRun run(inst, "first.log");
        ASSERT_TRUE(run.ready()) << run.child.log();
        EXPECT_EQ(run.stop(), 0);
    }
    const std::string file = inst.storeDir(0) + "/20240601_1200";
    const ModelSoundingSamples::Sounding& s = second.soundings[0];
    const double ref = 1717243200, valid = ref + 3600.0 * s.forecastHour;
    const int validSeconds = static_cast<int>(valid), previous = 0, zero = 0;
    const float stale = 1;
    int ncid = -1, var = -1;
    ASSERT_EQ(nc_open(file.c_str(), NC_WRITE, &ncid), NC_NOERR);
    const size_t r[] = {3, 0}, idCount[] = {1, s.station.id.size()}, last[] = {3, 63};
    auto put = [&](const char* name, const size_t* index, const void* value) {
        EXPECT_EQ(nc_inq_varid(ncid, name, &var), NC_NOERR) << name;
        EXPECT_EQ(nc_put_var1(ncid, var, index, value), NC_NOERR) << name;
    };
    ASSERT_EQ(nc_inq_varid(ncid, "stationId", &var), NC_NOERR);
    ASSERT_EQ(nc_put_vara_text(ncid, var, r, idCount, s.station.id.c_str()), NC_NOERR);
    put("refTime", r, &ref);
    put("validTime", r, &valid);
    put("invTime", r, &validSeconds);
    put("prevRecord", r, &previous);
    put("isOverflow", r, &zero);
    put("pressure", last, &stale);
    ASSERT_EQ(nc_close(ncid), NC_NOERR);

    inst.drop(second);
    DecoderRun run(inst, "again.log");
    ASSERT_TRUE(run.ready()) << run.child.log();
    EXPECT_EQ(run.stop(), 0);
    EXPECT_NE(run.child.log().find("1 records of " + file + " past the 3 that its last commit "
                                   "counted were taken back"),
              std::string::npos)
        << run.child.log();
    expectAccounted(inst, {first, second}, true);
    const StoredByKey stored = storedByKey(inst.storeDir(0));
    const auto it = stored.find({s.station.id, valid});
    ASSERT_NE(it, stored.end());
    EXPECT_EQ(it->second.record, 3);
    EXPECT_EQ(it->second.pressure[63], 1e37f);
}

// SIGTERM while the process works through its directory: the pass stops
// before its next file, the bulletins stored so far are unlinked, the data
// files are synced and closed, and the process ends with 0; the files not
// reached wait for the next start, which stores them, every sounding once.
TEST(DecoderUnderFaults, TerminatedDuringAPassStopsAtOnceAndTheRestartStoresTheRest)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(flowLog);
    const std::vector<ModelBulletin> all = modelBulletins(3, 24);
    for (const ModelBulletin& b : all)
        inst.drop(b);
    DecoderRun run(inst, "term.log");
    ASSERT_TRUE(run.child.waitForLog("MXR_ENTRY [6/32]", 30000)) << run.child.log();
    run.child.signal(SIGTERM);
    EXPECT_EQ(run.child.waitExit(60000), 0) << run.child.log();
    const std::string log = run.child.log();
    const size_t closing = log.find("Syncing and closing the point-data files");
    EXPECT_EQ(log.find("MXR_ENTRY [32/32]"), std::string::npos) << log;
    EXPECT_GT(closing, log.find(" stay for the next start")) << log;
    EXPECT_GT(log.find("Signal 15 (Terminate) received for clean shutdown"), closing);
    expectAccounted(inst, all, false);

    DecoderRun again(inst, "again.log");
    ASSERT_TRUE(again.ready()) << again.child.log();
    EXPECT_EQ(again.stop(), 0);
    expectAccounted(inst, all, true);
}

// A file size limit set on the running process (the process ignores SIGXFSZ): a data
// file that cannot be made, a record that cannot be committed, and values
// of stored soundings that cannot be synced each fail the write with a
// logged reason, and the bulletin is moved aside instead of being unlinked
// as stored.  With the limit lifted the same process stores each of them,
// every sounding once.
TEST(DecoderUnderFaults, AFullDiskFailsTheWriteAndTheBulletinIsKept)
{
    QEV_REQUIRE_NCGEN();
    ModelInstallation inst(flowLog);
    const std::vector<ModelBulletin> all = modelBulletins(3, 6);
    std::vector<ModelSoundingSamples::Sounding> amended = named(all, 0, 3).soundings;
    for (ModelSoundingSamples::Sounding& s : amended)
        for (double& p : s.levels[0])
            p += 50;
    DecoderRun run(inst, "full.log");
    ASSERT_TRUE(run.ready()) << run.child.log();
    const std::string file = inst.storeDir(0) + "/20240601_1200";
    long long recordSize = 0;
    struct Step {
        ModelBulletin bulletin;
        std::function<rlim_t()> limit;   // below what the write needs
        std::string reason;
    } steps[] = {
        {named(all, 0, 0), [] { return rlim_t(8192); }, "Template copy command failed."},
        {named(all, 0, 3), [&] { return fs::file_size(file) + 512; },
         "Could not sync " + file + ": File too large"},
        {modelBulletin(0, amended), [&] { return fs::file_size(file) - recordSize / 2; },
         "Unable to release the handle of " + inst.storeDir(0)},
    };
    std::vector<ModelBulletin> dropped;
    for (Step& step : steps) {
        const std::string name = step.bulletin.sample.name;
        SCOPED_TRACE(step.reason);
        run.limitFileSize(step.limit());
        inst.drop(step.bulletin);
        ASSERT_TRUE(run.announce()) << run.child.log();
        EXPECT_NE(run.child.log().find(step.reason), std::string::npos) << run.child.log();
        EXPECT_NE(run.child.log().find("Unable to write netcdf data. " + inst.in + "/" + name),
                  std::string::npos);
        expectAccounted(inst, dropped, true, {name});

        run.limitFileSize(RLIM_INFINITY);
        const long long before = fs::exists(file) ? fs::file_size(file) : 0;
        fs::rename(inst.bad + "/" + name, inst.in + "/" + name);
        ASSERT_TRUE(run.announce()) << run.child.log();
        if (&step != &steps[2])
            dropped.push_back(step.bulletin);
        else
            dropped.back() = step.bulletin;
        expectAccounted(inst, dropped, true);
        if (before > 0 && !recordSize)
            recordSize = (fs::file_size(file) - before) / 3;   // three new soundings
    }
    EXPECT_EQ(run.stop(), 0) << run.child.log();
}

// Directories and files broken under a running process, each before one
// data message: it logs the reason and unlinks no bulletin it could not
// store without one (a bulletin it cannot move aside waits in the ingest
// directory until it can); once the fault is mended it stores what was kept,
// and it ends clean.  (Tests run as root: a directory is made unwritable by a
// file in its place.)
TEST(DecoderUnderFaults, BrokenDirectoriesAndFilesAreLoggedAndNoBulletinIsLostSilently)
{
    QEV_REQUIRE_NCGEN();
    const std::vector<ModelBulletin> all = modelBulletins(3, 6);
    const ModelBulletin corrupt{0, {"JUSA41_KWBC_corrupt", {'B', 'U', 'F', 'R', 0, 0, 9, 3}}, {}};
    const ModelBulletin &eta = named(all, 0, 0), &eta3 = named(all, 0, 3);
    auto replaceByFile = [](const std::string& dir) {
        fs::remove_all(dir);
        std::ofstream(dir.c_str());
    };
    auto remake = [](ModelInstallation& i, const std::string& dir, bool withTemplate) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        if (withTemplate)
            fs::copy_file(i.tree.path("modelSounding"), dir + "/template");
    };
    struct Case {
        const char* name;
        bool beforeStart;
        std::function<void(ModelInstallation&)> breakIt, mend;
        const ModelBulletin& bulletin;
        std::string logged;
        bool kept;          // in the bad-file directory
        bool waits = false; // in the ingest directory until mended, then set aside
    } cases[] = {
        {"bad-file directory is a file", false,
         [&](ModelInstallation& i) { replaceByFile(i.bad); },
         [&](ModelInstallation& i) { remake(i, i.bad, false); }, corrupt,
         "FAILED on rename() command: Not a directory", false, true},
        {"bad-file directory missing", false, [](ModelInstallation& i) { fs::remove(i.bad); },
         [&](ModelInstallation& i) { remake(i, i.bad, false); }, corrupt,
         "FAILED on rename() command: No such file or directory", false, true},
        {"store directory is a file", true,
         [&](ModelInstallation& i) { replaceByFile(i.storeDir(1)); },
         [&](ModelInstallation& i) { remake(i, i.storeDir(1), true); }, named(all, 1, 0),
         "No point-data store for RUC in ", true},
        {"store directory missing", true,
         [](ModelInstallation& i) { fs::remove_all(i.storeDir(2)); },
         [&](ModelInstallation& i) { remake(i, i.storeDir(2), true); }, named(all, 2, 0),
         "No point-data store for AVN in ", true},
        {"template removed", false,
         [](ModelInstallation& i) { fs::remove(i.storeDir(3) + "/template"); },
         [&](ModelInstallation& i) { remake(i, i.storeDir(3), true); }, named(all, 3, 0),
         "Template copy command failed.", true},
        // The other process's fault loses what the file held; the mend
        // removes the file and stores its bulletin again.
        {"data file truncated", false,
         [](ModelInstallation& i) { fs::resize_file(i.storeDir(0) + "/20240601_1200", 100); },
         [&](ModelInstallation& i) {
             fs::remove(i.storeDir(0) + "/20240601_1200");
             i.drop(eta);
         },
         eta3, "it was cut from ", true},
        {"data file removed", false,
         [](ModelInstallation& i) { fs::remove(i.storeDir(0) + "/20240601_1200"); },
         [&](ModelInstallation& i) { i.drop(eta); }, eta3, "it was removed by another process",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelInstallation inst(flowLog);
        if (c.beforeStart)
            c.breakIt(inst);
        std::unique_ptr<DecoderRun> run(new DecoderRun(inst, "broken.log"));
        ASSERT_TRUE(run->ready()) << run->child.log();
        inst.drop(eta);
        ASSERT_TRUE(run->announce()) << run->child.log();
        if (!c.beforeStart)
            c.breakIt(inst);
        inst.drop(c.bulletin);
        ASSERT_TRUE(run->announce()) << run->child.log();
        EXPECT_NE(run->child.log().find(c.logged), std::string::npos) << run->child.log();
        EXPECT_EQ(TempTree::listFiles(inst.in).empty(), !c.waits);

        // A store that could not be set up stays so: it takes a new process.
        c.mend(inst);
        if (c.beforeStart) {
            EXPECT_EQ(run->stop(), 0) << run->child.log();
            run.reset(new DecoderRun(inst, "mended.log"));
            ASSERT_TRUE(run->ready()) << run->child.log();
        }
        std::vector<ModelBulletin> stored{eta};
        if (c.kept) {
            const std::string& name = c.bulletin.sample.name;
            fs::rename(inst.bad + "/" + name, inst.in + "/" + name);
            stored.push_back(c.bulletin);
        }
        ASSERT_TRUE(run->announce()) << run->child.log();
        expectAccounted(inst, stored, true,
                        c.waits ? std::set<std::string>{c.bulletin.sample.name}
                                : std::set<std::string>{});
        EXPECT_EQ(run->stop(), 0) << run->child.log();
    }
}

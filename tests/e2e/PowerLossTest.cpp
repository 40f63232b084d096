// A power loss under a running decoder: $QEV_DATA on an ext4 file system
// over a loop device made in the test's folder, and the disk as a power
// loss leaves it taken by copying the backing image while the decoder is
// frozen in the middle of its pass, and again once it has unlinked every
// bulletin.  Just before each copy another process syncs a file of its own
// on that file system, which commits the file system's journal (the unlinks
// among it), as logs and other writers do all the time.  Two more copies
// are taken with the decoder frozen as soon as the satellite wind store,
// then the scatterometer store, has placed a record: another process syncs
// their data files first, so that the records are on the disk and the
// notes of the pass that placed them are not (the kernel's writeback of a
// long pass does the same).
//
// The first two copies, checked with e2fsck and mounted read-only, hold
// every data file readable and, for each data type, either every record
// the decoder stored (when none of its bulletins is left in the ingest
// directory) or only records it stored; no record twice.  The decoder run
// again on each copy taken in mid-pass stores what was left there, once:
// the copy then holds what the uninterrupted run stored, record for record.
//
// Root only (loop devices, mounts); skipped with a line otherwise.  Every
// mount and loop device the test made goes, also when it fails.
//
// Torn pages: the data files of the station-keyed stores (ACARS, model
// soundings) as a power loss can leave them after a pass placed records
// past the last commit, built page by page from the file as that commit
// left it and as the page cache held it after the pass: the header page
// new and the record pages old, only the header's first 512-byte sector
// new, and the header old with every page after it new.  The satellite
// wind store's pass journal gets a tail of zeros where the pass's notes
// were (its size got ahead of its data).  The pass's bulletins are back in
// their ingest directories, as the commit that unlinks them never came.
// The decoder run on each state stores what the uninterrupted run stored,
// record for record, and sets nothing aside.  No loop device is needed.
#include "DecoderInstallation.h"
#include "SampleMakers.h"
#include "StoredRecords.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The data types of the run: ingest directories below $QEV_DATA,
// point-data directories below $QEV_DATA/point, and their sample bulletins.
struct Kind {
    const char* ingest;
    const char* store;
    SampleMaker::Make make;
};
const Kind kinds[] = {
    {"ispan/bufr/CSW", "CSW/netcdf", HighDensityWindSamples::make},
    {"ispan/bufr/acars", "acars/netcdf", AcarsSamples::make},
    {"ispan/bufr/GOESSoundings", "GOES/netcdf", SatelliteSoundingSamples::makeGOES},
    {"ispan/bufr/QuikScat", "QuikScat/netcdf", QuikScatSamples::make},
};
const char* const TYPES = "csw_acars_goes_quikscat";

// The next ReadyMsg of the process: it has made its first pass.
bool ready(WirePeer& peer, pid_t pid)
{
    WirePeer::Message m;
    while (peer.waitFor(1, 0, 120000, &m))
        if (m.sender.pid == pid)
            return true;
    return false;
}

bool shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A file system image mounted at a folder while the object lives.
struct Mount {
    Mount(const std::string& image, const std::string& at, bool readOnly) : point(at)
    {
        mounted = shell("mount -o loop" + std::string(readOnly ? ",ro" : "") + " " + image +
                        " " + at);
    }
    ~Mount()
    {
        // The loop device mount made goes with the unmount (autoclear).
        if (mounted && umount2(point.c_str(), 0) != 0)
            umount2(point.c_str(), MNT_DETACH);
    }
    std::string point;
    bool mounted;
};

// What a disk holds of each data type, and whether a bulletin of it waits.
struct Held {
    std::vector<std::multiset<std::string>> stored;
    std::vector<bool> waiting;
};

Held held(const DecoderInstallation& inst)
{
    Held h;
    for (const Kind& k : kinds) {
        // Every data file reads whole.
        for (const std::string& path : inst.dataFiles(k.store))
            EXPECT_GE(readWhole(path), 0) << path;
        h.stored.push_back(storedRecords(inst, k.store));
        h.waiting.push_back(!TempTree::listFiles(inst.tree.qevData() + "/" + k.ingest).empty());
    }
    return h;
}

// How two sets of records differ, in counts: "" when they are the same.
std::string difference(const std::multiset<std::string>& disk,
                       const std::multiset<std::string>& run)
{
    size_t extra = 0, missing = 0;
    for (const std::string& r : disk)
        extra += disk.count(r) > run.count(r);
    for (const std::string& r : run)
        missing += run.count(r) > disk.count(r);
    if (extra == 0 && missing == 0)
        return "";
    return std::to_string(disk.size()) + " records on the disk, " + std::to_string(run.size()) +
           " stored by the run: " + std::to_string(extra) + " beyond, " +
           std::to_string(missing) + " missing";
}

// Another writer on the file system syncs a file of its own.
void syncOther(const std::string& data)
{
    const std::string path = data + "/other";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "x", 1), 1);
    ASSERT_EQ(fsync(fd), 0);
    close(fd);
}

// Once the store of a point directory has placed some records (a data file
// holds them), the decoder is frozen in its pass and another process syncs
// every data file of the store.
void syncStoreOnceWritten(DecoderChild& child, const DecoderInstallation& inst,
                          const std::string& store)
{
    const auto written = [&] {
        for (const std::string& path : inst.dataFiles(store)) {
            int ncid = -1;
            if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR)
                continue;
            const size_t records = recordCount(ncid);
            nc_close(ncid);
            if (records >= 100)
                return true;
        }
        return false;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!written() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(written()) << store << "\n" << child.log();
    ASSERT_EQ(child.signal(SIGSTOP), 0);
    // Stopped (state T) before anything is synced.
    for (int look = 0; look < 1000; ++look) {
        const std::string stat = TempTree::readFile("/proc/" + std::to_string(child.pid()) + "/stat");
        const size_t end = stat.rfind(") ");
        if (end != std::string::npos && stat.compare(end + 2, 1, "T") == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (const std::string& path : inst.dataFiles(store)) {
        const int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0) << path;
        EXPECT_EQ(fdatasync(fd), 0) << path;
        close(fd);
    }
}

// What a file's pages hold in a torn state: the first `from` bytes of one
// version and the rest of the other.
std::string spliced(const std::string& head, const std::string& tail, size_t from)
{
    return head.substr(0, std::min(from, head.size())) +
           (tail.size() > from ? tail.substr(from) : std::string());
}

// The bytes of every file of a point directory, by name.
std::map<std::string, std::string> filesOf(const std::string& dir)
{
    std::map<std::string, std::string> files;
    for (const std::string& name : TempTree::listFiles(dir))
        files[name] = TempTree::readFile(dir + "/" + name);
    return files;
}

} // namespace

TEST(PowerLoss, TornPagesLeaveOnlyRecordsThatWereWritten)
{
    QEV_REQUIRE_NCGEN();
    const struct {
        const char* ingest;
        std::vector<const char*> stores;
        SampleMaker::Make make;
    } torn[] = {
        {"ispan/bufr/acars", {"acars/netcdf"}, AcarsSamples::make},
        {"ispan/bufr/modelSoundings/NAM",
         {"model/ETA/netcdf", "model/RUC/netcdf", "model/AVN/netcdf", "model/NGM/netcdf"},
         ModelSoundingSamples::make},
        {"ispan/bufr/CSW", {"CSW/netcdf"}, HighDensityWindSamples::make},
    };
    const std::vector<std::string> types = {"model", "acars", "csw"};
    DecoderInstallation inst("model_acars_csw", "bufr/CSW", "badCSWBufr");
    const std::string data = inst.tree.qevData();
    const std::vector<std::string> bad = {"ispan/badAcarsBufr", "ispan/badModelBufr",
                                          "ispan/badCSWBufr"};
    for (const char* dir : {"ispan/bufr/acars", "ispan/bufr/modelSoundings/NAM"})
        inst.tree.mkdirs(std::string("qev_data/") + dir);
    for (const std::string& dir : bad)
        inst.tree.mkdirs("qev_data/" + dir);
    // Every other bulletin of the first half of each data type's in the
    // first run, the rest in the second: the second adds to files of the
    // first and makes files of its own (the model runs of the second half,
    // the winds an hour later).
    std::vector<std::vector<SampleBulletin>> first(3), second(3);
    for (size_t k = 0; k < 3; ++k) {
        SampleOptions o;
        o.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
        std::vector<SampleBulletin> made;
        std::string error;
        ASSERT_TRUE(torn[k].make(o, made, error)) << error;
        if (made.size() == 1) {
            o.hour = 13;
            ASSERT_TRUE(torn[k].make(o, made, error)) << error;
        }
        ASSERT_GE(made.size(), 2u);
        for (size_t i = 0; i < made.size(); ++i)
            (i < made.size() / 2 && i % 2 == 0 ? first : second)[k].push_back(made[i]);
    }
    const auto drop = [&](const std::vector<std::vector<SampleBulletin>>& batch) {
        for (size_t k = 0; k < 3; ++k)
            for (const SampleBulletin& b : batch[k])
                inst.dropInto(torn[k].ingest, b);
    };
    const auto run = [&](const std::string& log) {
        DecoderChild child(std::string(QEV_BIN_DIR) + "/decoder",
                           {inst.peer.targetText(), "3", "model_acars_csw"}, inst.tree.path(log));
        EXPECT_TRUE(ready(inst.peer, child.pid())) << child.log();
        child.signal(SIGTERM);
        EXPECT_EQ(child.waitExit(60000), 0) << child.log();
        for (size_t k = 0; k < 3; ++k)
            EXPECT_TRUE(TempTree::listFiles(data + "/" + torn[k].ingest).empty()) << child.log();
        for (const std::string& dir : bad)
            EXPECT_TRUE(TempTree::listFiles(data + "/" + dir).empty()) << child.log();
        return child.log();
    };
    drop(first);
    run("first.log");
    std::map<std::string, std::map<std::string, std::string>> committed, cached;
    for (const auto& kind : torn)
        for (const char* store : kind.stores)
            committed[store] = filesOf(data + "/point/" + store);
    drop(second);
    run("second.log");
    std::map<std::string, std::multiset<std::string>> whole;
    for (const auto& kind : torn) {
        for (const char* store : kind.stores) {
            cached[store] = filesOf(data + "/point/" + store);
            whole[store] = storedRecords(inst, store);
        }
    }
    ASSERT_FALSE(whole["acars/netcdf"].empty());
    ASSERT_FALSE(whole["CSW/netcdf"].empty());

    const size_t PAGE = 4096, SECTOR = 512;
    const struct {
        const char* what;
        bool newHead;
        size_t from;
    } states[] = {
        {"the header page new, the record pages old", true, PAGE},
        {"only the header's first sector new", true, SECTOR},
        {"the header page old, the pages after it new", false, PAGE},
    };
    for (const auto& state : states) {
        SCOPED_TRACE(state.what);
        for (const auto& kind : torn) {
            for (const char* store : kind.stores) {
                const std::string dir = data + "/point/" + store;
                for (const std::string& name : TempTree::listFiles(dir))
                    if (name != "template")
                        fs::remove(dir + "/" + name);
                const std::map<std::string, std::string>& before = committed[store];
                const std::map<std::string, std::string>& after = cached[store];
                std::string journal = before.count("passJournal") ? before.at("passJournal") : "";
                for (const auto& file : after) {
                    if (file.first == "template" || file.first == "passJournal")
                        continue;
                    std::string bytes = file.second;
                    if (std::string(store) != "CSW/netcdf") {
                        // A file the second run made was the template's
                        // copy (which no journal line names).
                        const auto old = before.find(file.first);
                        const std::string synced =
                            old != before.end() ? old->second : before.at("template");
                        bytes = state.newHead ? spliced(file.second, synced, state.from)
                                              : spliced(synced, file.second, state.from);
                    }
                    inst.tree.write("qev_data/point/" + std::string(store) + "/" + file.first,
                                    bytes);
                }
                if (std::string(store) == "CSW/netcdf") {
                    // The second run's pass (its notes from its "P" line to
                    // its end line) as zeros, and no count after it.
                    journal = after.at("passJournal");
                    const size_t from = journal.rfind("\nP ") + 1;
                    const size_t end = journal.rfind("\nE\n") + 3;
                    ASSERT_TRUE(from > 0 && end > from) << journal;
                    journal = journal.substr(0, from) + std::string(end - from, '\0');
                }
                if (!journal.empty())
                    inst.tree.write("qev_data/point/" + std::string(store) + "/passJournal",
                                    journal);
            }
        }
        drop(second);
        const std::string log = run(std::string("torn-") + std::to_string(&state - states) + ".log");
        // The state held what the commit did not count: taken back, or
        // bookkeeping past the header mended; the journal's tail cut off.
        const std::string acars = data + "/point/acars/netcdf/";
        EXPECT_NE(log.find(state.newHead ? "records of " + acars : "The bins of " + acars),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("it is cut back to its whole lines"), std::string::npos) << log;
        for (const auto& kind : torn)
            for (const char* store : kind.stores)
                EXPECT_EQ(difference(storedRecords(inst, store), whole[store]), "")
                    << store << "\n" << log;
    }
}

TEST(PowerLoss, NoBulletinIsLostAndNoneIsStoredTwice)
{
    QEV_REQUIRE_NCGEN();
    if (geteuid() != 0)
        GTEST_SKIP() << "not root: no loop device to stand for a disk";
    if (!shell("command -v mkfs.ext4 && command -v e2fsck && command -v mount"))
        GTEST_SKIP() << "mkfs.ext4, e2fsck or mount is missing";
    DecoderInstallation inst(TYPES, "bufr/CSW", "badCSWBufr");
    for (const char* dir : {"ispan/bufr/acars", "ispan/badAcarsBufr", "ispan/bufr/GOESSoundings",
                            "ispan/badGOESBufr", "ispan/bufr/QuikScat", "ispan/badQuikScatBufr"})
        inst.tree.mkdirs(std::string("qev_data/") + dir);
    const std::string data = inst.tree.qevData();
    const std::string image = inst.tree.path("disk.img");
    const std::string installed = inst.tree.path("installed");
    ASSERT_TRUE(shell("truncate -s 256M " + image + " && mkfs.ext4 -q -F " + image));
    fs::rename(data, installed);
    fs::create_directory(data);
    std::vector<std::vector<SampleBulletin>> bulletins;
    {
        Mount disk(image, data, false);
        if (!disk.mounted)
            GTEST_SKIP() << "no loop device can be had to mount " << image;
        ASSERT_TRUE(shell("cp -a " + installed + "/. " + data));
        SampleOptions o;
        o.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
        for (const Kind& k : kinds) {
            std::vector<SampleBulletin> made;
            std::string error;
            ASSERT_TRUE(k.make(o, made, error)) << error;
            for (const SampleBulletin& b : made)
                inst.tree.write("qev_data/" + std::string(k.ingest) + "/" + b.name,
                                std::string(b.bytes.begin(), b.bytes.end()));
            bulletins.push_back(made);
        }
        // The installation and the bulletins are on the disk before the
        // decoder starts, as their writers would have left them.
        ::sync();

        // Frozen in the middle of its first pass, once it has stored a
        // bulletin; then the whole pass.
        DecoderChild child(std::string(QEV_BIN_DIR) + "/decoder",
                           {inst.peer.targetText(), "3", TYPES}, inst.tree.path("child.log"));
        ASSERT_TRUE(child.waitForLog("to netcdf file: ", 60000)) << child.log();
        ASSERT_EQ(child.signal(SIGSTOP), 0);
        syncOther(data);
        ASSERT_TRUE(shell("cp --sparse=always " + image + " " + inst.tree.path("midway.img")));
        ASSERT_EQ(child.signal(SIGCONT), 0);
        // The wind stores store after the sounding store, one after the
        // other.
        for (const std::string store : {"CSW", "QuikScat"}) {
            syncStoreOnceWritten(child, inst, store + "/netcdf");
            ASSERT_TRUE(shell("cp --sparse=always " + image + " " + inst.tree.path(store + ".img")));
            ASSERT_EQ(child.signal(SIGCONT), 0);
        }
        ASSERT_TRUE(ready(inst.peer, child.pid())) << child.log();
        syncOther(data);
        ASSERT_TRUE(shell("cp --sparse=always " + image + " " + inst.tree.path("after.img")));
        child.signal(SIGTERM);
        EXPECT_EQ(child.waitExit(60000), 0) << child.log();

        const Held whole = held(inst);
        for (size_t k = 0; k < whole.stored.size(); ++k) {
            EXPECT_FALSE(whole.waiting[k]) << kinds[k].ingest;
            EXPECT_FALSE(whole.stored[k].empty()) << kinds[k].store;
        }
        // The copies are checked against what the run stored.
        for (const std::string copy : {"after.img", "midway.img", "CSW.img", "QuikScat.img"}) {
            SCOPED_TRACE(copy);
            const std::string copied = inst.tree.path(copy);
            // 0: clean, 1: errors corrected.
            const int fsck = std::system(("e2fsck -fy " + copied + " >/dev/null 2>&1").c_str());
            ASSERT_TRUE(WIFEXITED(fsck) && WEXITSTATUS(fsck) <= 1) << fsck;
            // A copy of synced data files holds the last records placed with
            // only some of their values (the values follow the place): it is
            // checked once the decoder has stored the rest.
            if (copy == "after.img" || copy == "midway.img") {
                Mount lost(copied, data, true);
                ASSERT_TRUE(lost.mounted);
                const Held left = held(inst);
                for (size_t k = 0; k < whole.stored.size(); ++k) {
                    SCOPED_TRACE(kinds[k].store);
                    const std::string differs = difference(left.stored[k], whole.stored[k]);
                    if (!left.waiting[k]) {
                        EXPECT_EQ(differs, "") << "with no bulletin waiting";
                    } else {
                        EXPECT_TRUE(differs.empty() ||
                                    differs.find(" 0 beyond") != std::string::npos)
                            << differs;
                    }
                    if (copy == "after.img") {
                        EXPECT_FALSE(left.waiting[k]);
                    }
                }
            }
            if (copy == "after.img")
                continue;
            // The decoder of the copy stores what was left, once.
            Mount again(copied, data, false);
            ASSERT_TRUE(again.mounted);
            DecoderChild restart(std::string(QEV_BIN_DIR) + "/decoder",
                                 {inst.peer.targetText(), "3", TYPES},
                                 inst.tree.path("restart-" + copy + ".log"));
            ASSERT_TRUE(ready(inst.peer, restart.pid())) << restart.log();
            restart.signal(SIGTERM);
            EXPECT_EQ(restart.waitExit(60000), 0) << restart.log();
            const Held restored = held(inst);
            for (size_t k = 0; k < whole.stored.size(); ++k) {
                EXPECT_FALSE(restored.waiting[k]) << kinds[k].ingest << "\n" << restart.log();
                EXPECT_EQ(difference(restored.stored[k], whole.stored[k]), "") << kinds[k].store;
            }
        }
    }
}

// Point-data stores that meet damage keep working, in the decoder process
// storing a bulletin of 3,000 cloud-drift winds: an hour file a power loss
// left empty, a store directory another process holds locked for a while,
// a pass journal of 10 MB and one of garbage.  Each ends with every wind
// stored once, or its bulletin set aside with its reason, within seconds
// (the time bounds are liveness bounds: these faults took minutes or hours).
#include "DecoderInstallation.h"
#include "DecoderProcess.h"
#include "HighDensityWindSamples.h"
#include "StoredRecords.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

namespace {

const int LIVENESS_MS = 30000;
const size_t WINDS = HighDensityWindSamples::WINDS;

// The wind installation with its sample bulletin and its store directory.
struct Winds : DecoderInstallation {
    Winds()
        : DecoderInstallation("csw", "bufr/CSW", "badCSWBufr"),
          bulletin(sampleBulletins(HighDensityWindSamples::make).at(0)),
          store(tree.path("qev_data/point/CSW/netcdf"))
    {
    }
    std::multiset<std::string> records() const { return storedRecords(*this, "CSW/netcdf"); }
    // One decoder run over the bulletin under its own name: what it stored.
    std::multiset<std::string> storeOnce()
    {
        drop(bulletin);
        DecoderProcess run(peer, "csw", tree.path("once.log"));
        EXPECT_TRUE(run.ready(LIVENESS_MS)) << run.child.log();
        EXPECT_EQ(run.stop(), 0);
        EXPECT_TRUE(TempTree::listFiles(in).empty());
        return records();
    }

    SampleBulletin bulletin;
    std::string store;
};

size_t linesWith(const std::string& log, const std::string& text)
{
    size_t n = 0;
    for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at += text.size())
        ++n;
    return n;
}

} // namespace

// An hour file of 0 bytes when the decoder starts: kept aside with one line,
// the winds stored in a new file of that hour at once, and a SIGTERM after
// them honoured within a second.
TEST(DamagedStores, AnEmptyHourFileIsKeptAsideAndTheWindsStoredAtOnce)
{
    QEV_REQUIRE_NCGEN();
    Winds w;
    const std::string hour = w.store + "/20240601_1200";
    w.tree.write("qev_data/point/CSW/netcdf/20240601_1200", "");
    w.drop(w.bulletin);
    DecoderProcess run(w.peer, "csw", w.tree.path("empty.log"));
    ASSERT_TRUE(run.ready(LIVENESS_MS)) << run.child.log();
    EXPECT_TRUE(TempTree::listFiles(w.in).empty());
    EXPECT_TRUE(TempTree::listFiles(w.bad).empty());
    EXPECT_EQ(readWhole(hour), long(WINDS));
    EXPECT_EQ(TempTree::readFile(hour + ".damaged"), "");
    EXPECT_EQ(linesWith(run.child.log(), "PROBLEM: Format or ownership problems with the file " +
                                             hour + " (NetCDF: Unknown file format): kept as " +
                                             hour + ".damaged"),
              1u)
        << run.child.log();

    const auto asked = std::chrono::steady_clock::now();
    run.child.signal(SIGTERM);
    EXPECT_EQ(run.child.waitExit(LIVENESS_MS), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
}

// The store's directory locked by another process when the decoder starts:
// the bulletin of that time is set aside; once the lock is let go, the same
// process has the store and the next bulletin is stored.
TEST(DamagedStores, AStoreLockedByAnotherProcessIsHadOnceItIsFreed)
{
    QEV_REQUIRE_NCGEN();
    Winds w;
    const int lock = open(w.store.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    DecoderProcess run(w.peer, "csw", w.tree.path("lock.log"));
    ASSERT_TRUE(run.ready()) << run.child.log();
    w.drop(w.bulletin);
    ASSERT_TRUE(run.announce()) << run.child.log();
    EXPECT_EQ(TempTree::listFiles(w.bad), std::vector<std::string>{w.bulletin.name});
    EXPECT_TRUE(w.dataFiles("CSW/netcdf").empty());

    close(lock);
    w.drop(w.bulletin, w.bulletin.name + ".1");
    ASSERT_TRUE(run.announce()) << run.child.log();
    EXPECT_EQ(run.stop(), 0);
    EXPECT_TRUE(TempTree::listFiles(w.in).empty());
    EXPECT_EQ(TempTree::listFiles(w.bad), std::vector<std::string>{w.bulletin.name});
    EXPECT_EQ(w.records().size(), WINDS) << run.child.log();
}

// A well-formed journal of 10 MB (the notes of many other bulletins before
// those of the stored one): read within seconds, and the bulletin delivered
// again adds nothing.
TEST(DamagedStores, ATenMegabyteJournalIsReadAtOnceAndNothingIsStoredTwice)
{
    QEV_REQUIRE_NCGEN();
    Winds w;
    const std::multiset<std::string> once = w.storeOnce();
    ASSERT_EQ(once.size(), WINDS);
    const std::string journal = w.store + "/passJournal";
    // Notes of records of the stored hour (20240601_1200), which the stored
    // bulletin's notes take back, and of an hour no longer there.
    std::string notes;
    for (int k = 0; notes.size() < (10u << 20); ++k)
        notes += "P IUCN01 other " + std::to_string(k) + "\nR 0 1717243200 " +
                 std::to_string(k % WINDS) + "\nR 1 1717200000 " +
                 std::to_string(k) + "\nE\n";
    w.tree.write("qev_data/point/CSW/netcdf/passJournal", notes + TempTree::readFile(journal));

    w.drop(w.bulletin, w.bulletin.name + ".1");
    DecoderProcess run(w.peer, "csw", w.tree.path("large.log"));
    ASSERT_TRUE(run.ready(LIVENESS_MS)) << run.child.log();
    EXPECT_EQ(run.stop(), 0);
    EXPECT_TRUE(TempTree::listFiles(w.in).empty());
    EXPECT_TRUE(TempTree::listFiles(w.bad).empty()) << run.child.log();
    EXPECT_EQ(w.records(), once);
}

// A journal of garbage: kept aside with one line, and the bulletin whose
// notes it held, delivered again, is set aside instead of being stored
// twice, by this process and by the next one.  A copy the operator put
// beside the journal stays.
TEST(DamagedStores, AGarbageJournalIsKeptAsideAndItsBulletinNotStoredTwice)
{
    QEV_REQUIRE_NCGEN();
    Winds w;
    const std::multiset<std::string> once = w.storeOnce();
    ASSERT_EQ(once.size(), WINDS);
    const char raw[] = "P IUCN01\nR 0 1717\0\x93\xff garbage\n\n";
    const std::string garbage(raw, sizeof raw - 1);
    w.tree.write("qev_data/point/CSW/netcdf/passJournal", garbage);
    w.tree.write("qev_data/point/CSW/netcdf/passJournal.old", "an operator's copy");

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const std::string again = w.bulletin.name + "." + std::to_string(round + 1);
        w.drop(w.bulletin, again);
        DecoderProcess run(w.peer, "csw", w.tree.path("garbage" + std::to_string(round) + ".log"));
        ASSERT_TRUE(run.ready(LIVENESS_MS)) << run.child.log();
        EXPECT_EQ(run.stop(), 0);
        const std::string log = run.child.log();
        EXPECT_EQ(linesWith(log, "PROBLEM: The pass journal " + w.store + "/passJournal is damaged"),
                  round == 0 ? 1u : 0u)
            << log;
        EXPECT_TRUE(TempTree::listFiles(w.in).empty());
        EXPECT_TRUE(TempTree::exists(w.bad + "/" + again)) << log;
        // The move names the cause, not a failed write.
        EXPECT_EQ(linesWith(log, "the bulletin may be stored already and is not stored again " +
                                     w.in + "/" + again + ", renamed to"),
                  1u)
            << log;
        EXPECT_EQ(w.records(), once);
    }
    EXPECT_EQ(TempTree::readFile(w.store + "/passJournal.damaged"), garbage);
    EXPECT_EQ(TempTree::readFile(w.store + "/passJournal.old"), "an operator's copy");
}

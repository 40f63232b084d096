// A disk that fails under the store (errors given to the store's own file
// calls and the netCDF library's): a journal that cannot be read or written
// anew, a failed sync of a data file, a committed data file that cannot be
// opened or read.  None costs a committed record, none leaves a record of
// zero bytes counted, and the records stored meanwhile are there once.
#include "PointDataTestSupport.h"

#include "DiskCommit.h"
#include "IoFaults.h"
#include "LogCapture.h"
#include "TempTree.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const int T0 = 1173895200; // 2007-03-14 18:00:00 UTC

// The station layout with records larger than a page (a profile of 1100
// levels), as the model soundings have, and room for 32 stations.
std::string soundingCdl()
{
    std::string lastRecords;
    for (int i = 0; i < 32; ++i)
        lastRecords += i == 0 ? "-1" : ", -1";
    return edited(idStoreCdl(), {{"maxStaticIds = 4", "maxStaticIds = 32"},
                                 {"staNameLen = 6 ;", "staNameLen = 6 ;\n  levels = 1100 ;"},
                                 {"float temperature(recNum) ;",
                                  "float temperature(recNum) ;\n  float profile(recNum, levels) ;"},
                                 {"lastRecord = -1, -1, -1, -1", "lastRecord = " + lastRecords}});
}

std::string station(int k)
{
    return "S" + std::to_string(100 + k).substr(1);
}

// Stations from .. to - 1, the range given.
std::vector<std::string> stations(int from, int to)
{
    std::vector<std::string> ids;
    for (int k = from; k < to; ++k)
        ids.push_back(station(k));
    return ids;
}

class DiskErrors : public StoresUnderFaults {
protected:
    void TearDown() override
    {
        StoresUnderFaults::TearDown();
        std::string why;
        DiskCommit::commit(why);
    }

    // A new store directory of the layout.
    void makeStore(const std::string& name)
    {
        dir = tree.mkdirs(name);
        file = dir + "/20070314_1800";
        std::string error;
        ASSERT_TRUE(Cdl::make(soundingCdl(), dir + "/template", &error)) << error;
    }
    // The store as a new process finds it.
    NetcdfPointData* reopen()
    {
        NetcdfPointData::forgetAllStores();
        return NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    }
    // The records of the stations at a time; the record numbers given.
    std::vector<int> store(NetcdfPointData* s, const std::vector<std::string>& ids,
                           int time = T0 + 60)
    {
        std::vector<int> records;
        for (const std::string& id : ids) {
            const Placed p = place(s, {id}, {double(time)});
            records.push_back(p.handle ? p.record : -1);
        }
        return records;
    }
    static std::vector<int> counting(int from, int to)
    {
        std::vector<int> n;
        for (int k = from; k < to; ++k)
            n.push_back(k);
        return n;
    }
    static void commit(bool expected = true)
    {
        std::string why;
        EXPECT_EQ(DiskCommit::commit(why), expected) << why;
    }
    // Every record of the hour's file holds its station and its time.
    void expectRecords(const std::vector<std::string>& ids)
    {
        EXPECT_EQ(readRows(file, "stationId"), ids);
        EXPECT_EQ(readInts(file, "invTime"), std::vector<int>(ids.size(), T0 + 60));
    }

    TempTree tree;
    FakeStoreClock clock;
    std::string dir, file;
};

// A journal that cannot be read, and one that cannot be written anew, when
// the store is opened: the store places nothing (one line when it stops,
// one when it stores again), and stores once the journal can be used; a
// normal start then finds every record, none twice.
TEST_F(DiskErrors, AStoreWhoseJournalCannotBeUsedStoresNothingUntilItCan)
{
    const std::string aside = "passJournal." + std::to_string(getpid());
    const struct {
        IoFaults::Call call;
        std::string suffix;
        int error;
        std::string why;
    } faults[] = {
        {IoFaults::READ, "/passJournal", EIO, "Could not read @/passJournal: Input/output error"},
        {IoFaults::WRITE, aside, ENOSPC, "Could not write @/" + aside + ": No space left on device"},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.why);
        makeStore(fault.call == IoFaults::READ ? "unread" : "unwritten");
        EXPECT_EQ(store(reopen(), stations(0, 2)), counting(0, 2));
        commit();

        IoFaults::fail(fault.call, fault.suffix, fault.error);
        LogCapture log;
        NetcdfPointData* s = reopen();
        ASSERT_NE(s, nullptr);
        const unsigned refused = NetcdfPointData::journalRefusals();
        EXPECT_EQ(store(s, stations(2, 4)), std::vector<int>(2, -1));
        EXPECT_EQ(NetcdfPointData::journalRefusals(), refused + 2);
        NetcdfPointData::retryJournals();
        std::string why = fault.why;
        why.replace(why.find('@'), 1, dir);
        EXPECT_EQ(log.count(why + "; the store " + dir + " stores nothing until its pass journal "
                            "can be used: its bulletins wait in their ingest directory"),
                  1)
            << log.text();

        IoFaults::clear();
        const unsigned recovered = NetcdfPointData::journalRecoveries();
        NetcdfPointData::retryJournals();
        EXPECT_EQ(NetcdfPointData::journalRecoveries(), recovered + 1);
        EXPECT_TRUE(log.contains("PROBLEM: The pass journal of " + dir +
                                 " can be used again: the store stores again"))
            << log.text();
        EXPECT_EQ(store(s, stations(2, 4)), counting(2, 4));
        commit();
        reopen();
        expectRecords(stations(0, 4));
    }
}

// A failed sync of an hour's file (the commit fails, its bulletins set
// aside), then a commit of other records into the same file: in the state
// a power loss leaves, where the pages dirty at the failure never reached
// the disk, the file holds only records that were written, and the
// bulletins put back store what is missing, once.
TEST_F(DiskErrors, AFailedSyncTrustsNothingTheFileHeldSinceItsLastCommit)
{
    makeStore("store");
    NetcdfPointData* s = reopen();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(store(s, stations(0, 10)), counting(0, 10));
    commit();
    const std::string synced = TempTree::readFile(file);

    EXPECT_EQ(store(s, stations(10, 20)), counting(10, 20));
    IoFaults::fail(IoFaults::SYNC, "/20070314_1800", EIO, 1);
    IoFaults::watch("/20070314_1800");
    commit(false);
    const std::string atFailure = TempTree::readFile(file);

    LogCapture log;
    EXPECT_EQ(store(s, stations(20, 25)), counting(10, 15));
    EXPECT_TRUE(log.contains("10 records of " + file + " past the 10 that its last commit "
                             "counted were taken back (the file could not be synced"))
        << log.text();
    commit();
    NetcdfPointData::forgetAllStores();
    const std::string disk = IoFaults::crashState(synced, atFailure, TempTree::readFile(file),
                                                  IoFaults::pagesWritten());
    IoFaults::clear();
    EXPECT_NE(disk, TempTree::readFile(file));
    tree.write("store/20070314_1800", disk);

    std::vector<std::string> held = stations(0, 10);
    for (const std::string& id : stations(20, 25))
        held.push_back(id);
    s = reopen();
    expectRecords(held);
    EXPECT_EQ(store(s, stations(10, 20)), counting(15, 25));
    commit();
    reopen();
    for (const std::string& id : stations(10, 20))
        held.push_back(id);
    expectRecords(held);
}

// A committed hour's file that cannot be opened, or read, once when the
// store is opened: it is not taken for damage, its time is refused while
// other hours are stored, and it keeps every record its commits counted,
// whether the same store reads it again or the next start does, and takes
// new ones after them.
TEST_F(DiskErrors, AFileThatCannotBeReadStaysWithItsCommittedRecords)
{
    for (const IoFaults::Call call : {IoFaults::OPEN, IoFaults::READ}) {
        SCOPED_TRACE(call == IoFaults::OPEN ? "open" : "read");
        makeStore(call == IoFaults::OPEN ? "unopened" : "unread");
        EXPECT_EQ(store(reopen(), stations(0, 4)), counting(0, 4));
        commit();

        IoFaults::fail(call, "20070314_1800", EIO, 1);
        LogCapture log;
        NetcdfPointData* s = reopen();
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(log.contains("PROBLEM: Format or ownership problems with the file " + file +
                                 " (Input/output error): it stays where it is, and records of "
                                 "its time are refused until it can be read"))
            << log.text();
        EXPECT_FALSE(log.contains("kept as")) << log.text();
        EXPECT_EQ(store(s, {station(4)}), std::vector<int>{-1});
        // The next hours go on meanwhile, each made anew.
        for (int hour = 1; hour <= 3; ++hour)
            EXPECT_EQ(store(s, {station(4)}, T0 + hour * 3600 + 60), std::vector<int>{0});
        commit();

        if (call == IoFaults::READ)
            s = reopen();
        EXPECT_EQ(store(s, {station(4)}), std::vector<int>{4});
        commit();
        reopen();
        expectRecords(stations(0, 5));
        EXPECT_FALSE(TempTree::exists(file + ".damaged"));
    }

    // A file netCDF refuses is set aside as damaged only once its bytes
    // could all be read.
    makeStore("refused");
    tree.write("refused/20070314_1800", std::string(8192, 'x'));
    IoFaults::fail(IoFaults::READ, "refused/20070314_1800", EIO);
    LogCapture log;
    reopen();
    EXPECT_TRUE(log.contains("PROBLEM: Format or ownership problems with the file " + file +
                             " (Input/output error): it stays where it is"))
        << log.text();
    EXPECT_TRUE(TempTree::exists(file));
    IoFaults::clear();
    reopen();
    EXPECT_TRUE(log.contains("(NetCDF: Unknown file format): kept as " + file + ".damaged"))
        << log.text();
}

} // namespace

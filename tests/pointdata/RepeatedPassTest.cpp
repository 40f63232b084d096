// A bulletin stored again, a full disk and a second writer: the pass journal
// of the position-keyed stores, the failure that ends a pass's placements,
// the directory lock, and an overflow record of a table without chains.
#include "PointDataTestSupport.h"

#include "DiskCommit.h"
#include "IoFaults.h"
#include "LogCapture.h"
#include "PassJournal.h"
#include "TempTree.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace {

const int T0 = 1173895200; // 2007-03-14 18:00:00 UTC

// Records keyed by position with no bookkeeping, as the wind stores have.
const char* const WIND_CDL = "netcdf template {\n"
                             "dimensions:\n"
                             "  recNum = UNLIMITED ;\n"
                             "variables:\n"
                             "  double validTime(recNum) ;\n"
                             "  float latitude(recNum) ;\n"
                             "  float longitude(recNum) ;\n"
                             "  float pressure(recNum) ;\n"
                             "// global attributes:\n"
                             "  :cdlDate = \"20070303\" ;\n"
                             "  :timeVariables = \"validTime\" ;\n"
                             "  :filePeriod = 3600 ;\n"
                             "  :fileEndOffset = 3599 ;\n"
                             "}\n";

class RepeatedPass : public StoresUnderFaults {
protected:
    std::string makeDir(const std::string& cdl)
    {
        const std::string dir = tree.mkdirs("store");
        std::string error;
        EXPECT_TRUE(Cdl::make(cdl, dir + "/template", &error)) << error;
        return dir;
    }
    // The store as a new process finds it.
    NetcdfPointData* reopen()
    {
        NetcdfPointData::forgetAllStores();
        return NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    }
    // Winds k = from .. to - 1 of a bulletin: all at one position and time
    // (distinct observations), told apart by their pressure k.
    std::vector<Placed> store(NetcdfPointData* s, int from, int to)
    {
        std::vector<Placed> placed;
        for (int k = from; k < to; ++k) {
            SeqOf<double> times(double(T0 + 60));
            Placed p;
            p.handle = s->getFileHandleAndRecord(LatLonCoord(10.5f, -20.25f), times, p.record,
                                                 p.isNew);
            if (p.handle) {
                float pressure = float(k);
                int var = -1;
                EXPECT_EQ(nc_inq_varid(*p.handle, "pressure", &var), NC_NOERR);
                const size_t at = static_cast<size_t>(p.record);
                EXPECT_EQ(nc_put_var1_float(*p.handle, var, &at, &pressure), NC_NOERR);
                EXPECT_TRUE(s->releaseHandle(p.handle));
            }
            placed.push_back(p);
        }
        return placed;
    }
    std::vector<int> pressures() const
    {
        std::vector<int> p;
        int ncid = -1, var = -1;
        size_t n = 0;
        int dim = -1;
        if (nc_open((dir + "/20070314_1800").c_str(), NC_NOWRITE, &ncid) != NC_NOERR)
            return p;
        nc_inq_unlimdim(ncid, &dim);
        nc_inq_dimlen(ncid, dim, &n);
        std::vector<float> values(n);
        nc_inq_varid(ncid, "pressure", &var);
        if (n > 0)
            nc_get_var_float(ncid, var, values.data());
        nc_close(ncid);
        // An emptied record holds the fill value, beyond any int.
        for (float v : values)
            p.push_back(std::fabs(v) < 1e9f ? static_cast<int>(v) : INT_MIN);
        return p;
    }

    TempTree tree;
    FakeStoreClock clock;
    std::string dir;
};

// A pass that did not end, then other bulletins, then the same bulletin
// again in a new process: it takes its own records in order, never another
// bulletin's, and places what the first pass did not.  A note of a record
// that was never committed (the writer killed between the two) gives no
// record.
TEST_F(RepeatedPass, ABulletinStoredAgainTakesItsOwnRecordsAgain)
{
    dir = makeDir(WIND_CDL);
    NetcdfPointData* s = reopen();
    ASSERT_NE(s, nullptr);
    s->beginPass("IUCN01 3000 a");
    store(s, 0, 3);
    s->endPass(false);
    // Killed after noting call 3's record, before committing it.
    std::ofstream(dir + "/passJournal", std::ios::app) << "R 3 " << T0 << " 3\n";

    s = reopen();
    s->beginPass("IUCN01 3000 b");
    store(s, 100, 101);    // takes record 3
    s->endPass(true);
    s = reopen();
    LogCapture log;
    s->beginPass("IUCN01 3000 a");
    const std::vector<Placed> again = store(s, 0, 5);
    s->endPass(true);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(again[k].record, k < 3 ? k : k + 1) << k;
        EXPECT_EQ(again[k].isNew, k >= 3) << k;
    }
    EXPECT_TRUE(log.contains("3 records of an earlier pass over IUCN01 3000 a taken again"));
    EXPECT_EQ(pressures(), (std::vector<int>{0, 1, 2, 100, 3, 4}));
}

// A pass that ended, its bulletin stored again (the process stopped before
// the bulletin's file was removed, or a second delivery): the same records
// are written again and none is added, in the same process and in a new
// one.  Another identity is another bulletin; with the data file removed
// the bulletin's records are new again; the oldest passes are forgotten.
TEST_F(RepeatedPass, ABulletinStoredAgainAfterItsPassEndedAddsNothing)
{
    dir = makeDir(WIND_CDL);
    NetcdfPointData* s = reopen();
    ASSERT_NE(s, nullptr);
    const auto added = [&](const std::string& identity, int winds) {
        s->beginPass(identity.c_str());
        int n = 0;
        for (const Placed& p : store(s, 0, winds))
            n += p.isNew;
        s->endPass(true);
        return n;
    };
    std::vector<int> once;
    for (int k = 0; k < 50; ++k)
        once.push_back(k);
    EXPECT_EQ(added("IUCN01 3000 a", 50), 50);
    EXPECT_EQ(added("IUCN01 3000 a", 50), 0);
    s = reopen();
    EXPECT_EQ(TempTree::readFile(dir + "/passJournal"), "A\nC " + std::to_string(T0) +
                                                            " 0\nP IUCN01 3000 a\nR 0 " +
                                                            std::to_string(T0) + " 0 50\nE\n");
    EXPECT_EQ(added("IUCN01 3000 a", 50), 0);
    EXPECT_EQ(pressures(), once);
    EXPECT_EQ(added("IUCN01 3000 b", 50), 50);

    std::filesystem::remove(dir + "/20070314_1800");
    s = reopen();
    EXPECT_EQ(added("IUCN01 3000 a", 50), 50);
    EXPECT_EQ(pressures(), once);

    for (int k = 0; k < PassJournal::MAX_PASSES; ++k)
        added("other " + std::to_string(k), 1);
    EXPECT_EQ(added("IUCN01 3000 a", 1), 1);
}

// A power loss after the data file reached the disk and before the notes of
// the pass since the last commit did, all of them or the first few: the
// records no note names past the count the commit noted are taken back when
// the store is opened, and the bulletin stored again places them anew and is
// held once.  Once a commit has counted them, none is taken back.
TEST_F(RepeatedPass, RecordsWhoseNotesMissedThePowerLossArePlacedOver)
{
    dir = makeDir(WIND_CDL);
    const std::string journal = dir + "/passJournal";
    const std::string file = dir + "/20070314_1800";
    std::vector<int> once;
    for (int k = 0; k < 20; ++k)
        once.push_back(k);
    for (int k = 100; k < 130; ++k)
        once.push_back(k);
    for (const int kept : {0, 10}) {
        SCOPED_TRACE(kept);
        std::filesystem::remove(file);
        NetcdfPointData* s = reopen();
        ASSERT_NE(s, nullptr);
        s->beginPass("IUCN01 3000 a");
        store(s, 0, 20);
        s->endPass(true);
        std::string why;
        ASSERT_TRUE(DiskCommit::commit(why)) << why;
        const std::string committed = TempTree::readFile(journal);
        EXPECT_NE(committed.find("C " + std::to_string(T0) + " 20\n"), std::string::npos)
            << committed;
        s->beginPass("IUCN01 3000 b");
        store(s, 100, 130);
        s->endPass(true);
        // On the disk: the journal as the commit left it, and the pass's
        // line and first notes after it.
        const std::string since = TempTree::readFile(journal).substr(committed.size());
        size_t cut = 0;
        for (int line = 0; kept > 0 && line <= kept; ++line)
            cut = since.find('\n', cut) + 1;
        tree.write("store/passJournal", committed + since.substr(0, cut));

        LogCapture log;
        s = reopen();
        // The records after the last one a note names are taken back, those
        // before it emptied.
        EXPECT_TRUE(log.contains(std::to_string(30 - kept) + " records of " + file + " past the " +
                                 std::to_string(20 + kept) + " that its last commit counted" +
                                 (kept > 0 ? " or its notes name" : "") + " were taken back"))
            << log.text();
        s->beginPass("IUCN01 3000 b");
        const std::vector<Placed> again = store(s, 100, 130);
        s->endPass(true);
        for (int k = 0; k < 30; ++k) {
            EXPECT_EQ(again[k].record, 20 + k) << k;
            EXPECT_EQ(again[k].isNew, k >= kept) << k;
        }
        EXPECT_EQ(pressures(), once);
        ASSERT_TRUE(DiskCommit::commit(why)) << why;
        LogCapture quiet;
        s = reopen();
        EXPECT_FALSE(quiet.contains("its last commit counted")) << quiet.text();
    }
}

// The notes as a new process reads them: a pass's run cut where a later pass
// took a record and where its file ends, the notes of a removed file
// dropped, and of a file made anew those before it.  The records past a
// file's committed count that no note names are free; a file no count
// names holds committed records only.  The file is written anew with what
// is left.
TEST(PassJournalNotes, ReadBackAsTheFilesHoldThem)
{
    TempTree tree;
    const std::string dir = tree.mkdirs("store");
    tree.write("store/passJournal", "P a\nR 0 100 0 10\nR 10 400 0\nE\n"
                                    "P b\nX 100 4\nR 0 100 4\nR 1 200 0 5\n"
                                    "P c\nR 0 300 0 8\nR 8 300 8\nC 300 3\nN 400\n"
                                    "P d\nR 0 400 1\n");
    // A sector the power loss kept from the disk: zeros to its end, and a
    // later line that reached it.
    const std::string notes = TempTree::readFile(dir + "/passJournal");
    tree.write("store/passJournal",
               notes + std::string(512 - notes.size() % 512, '\0') + "R 2 400 3\n");
    PassJournal journal(dir);
    std::string error;
    ASSERT_EQ(journal.open({{100, 20}, {300, 5}, {400, 4}}, error), PassJournal::OPENED) << error;
    // The tail a power loss tore (zeros where the size got ahead of the
    // data) is cut off, the lines after it with it.
    EXPECT_EQ(error, "The pass journal " + dir + "/passJournal ends in " +
                         std::to_string(512 - notes.size() % 512 + 10) + " bytes after its 15 "
                     "whole lines that are no whole line (a write cut short by a stop or a power "
                     "loss); it is cut back to its whole lines");
    EXPECT_EQ(TempTree::readFile(dir + "/passJournal"),
              "A\nC 100 20\nC 300 3\nC 400 0\nP a\nR 0 100 0 4\nR 5 100 5 5\nE\nP b\nR 0 100 4\n"
              "P c\nR 0 300 0 5\nP d\nR 0 400 1\n");
    // A file keeps its records up to the last one a note names; those past
    // it are the store's to take back.
    EXPECT_EQ(journal.freeRecords(), (std::map<int, std::set<int>>{{400, {0}}}));
    EXPECT_EQ(journal.freeRecord(400), 0);
    EXPECT_EQ(journal.heldRecords(400), 2);
    EXPECT_EQ(journal.heldRecords(300), 5);
    EXPECT_EQ(journal.heldRecords(500), -1);
    const std::map<std::string, std::vector<int>> records = {
        {"a", {0, 1, 2, 3, -1, 5, 6, 7, 8, 9, -1}},
        {"b", {4, -1}},
        {"c", {0, 1, 2, 3, 4, -1}},
        {"d", {1, -1}},
    };
    for (const auto& pass : records) {
        ASSERT_TRUE(journal.begin(pass.first, error)) << error;
        for (size_t call = 0; call < pass.second.size(); ++call) {
            int fileTime = 0, record = -1;
            journal.earlier(static_cast<int>(call), fileTime, record);
            EXPECT_EQ(record, pass.second[call]) << pass.first << " " << call;
        }
        ASSERT_TRUE(journal.end(false, error)) << error;
    }
}

// A free record that could not be emptied holds what no commit brought to
// the disk: a commit counts the file only up to it, and fails (its group
// set aside as on a full disk) when a record was placed after it; the
// commits that place none after it go through.  Once a note takes the
// record (its store fills it) the commits count past it.
TEST(PassJournalNotes, ARecordNotEmptiedIsCountedByNoCommit)
{
    TempTree tree;
    const std::string dir = tree.mkdirs("store");
    tree.write("store/passJournal", "C 100 2\nP a\nR 0 100 3\n");
    PassJournal journal(dir);
    std::string error;
    ASSERT_EQ(journal.open({{100, 5}}, error), PassJournal::OPENED) << error;
    EXPECT_EQ(journal.freeRecords(), (std::map<int, std::set<int>>{{100, {2}}}));
    journal.emptyFailed(100, 2);
    journal.placed(100, 6);
    EXPECT_FALSE(DiskCommit::commit(error));
    EXPECT_EQ(journal.committedRecords(100), 2);
    journal.placed(300, 1);
    EXPECT_TRUE(DiskCommit::commit(error)) << error;
    EXPECT_EQ(journal.committedRecords(100), 2);
    EXPECT_EQ(journal.committedRecords(300), 1);
    ASSERT_TRUE(journal.begin("b", error)) << error;
    ASSERT_TRUE(journal.note(0, 100, 2, error)) << error;
    ASSERT_TRUE(journal.end(true, error)) << error;
    journal.placed(100, 6);
    EXPECT_TRUE(DiskCommit::commit(error)) << error;
    EXPECT_EQ(journal.committedRecords(100), 6);
}

// A free record the store could not empty when it opened (a write error)
// is emptied before a record is placed in its file: while that fails only
// the record asked for is refused, and once it works the commit counts the
// file whole.
TEST_F(RepeatedPass, ARecordNotEmptiedAtOpenIsEmptiedBeforeTheNextPlacement)
{
    dir = makeDir(WIND_CDL);
    const std::string file = dir + "/20070314_1800";
    NetcdfPointData* s = reopen();
    ASSERT_NE(s, nullptr);
    s->beginPass("a");
    store(s, 0, 26);
    s->endPass(true);
    std::string why;
    ASSERT_TRUE(DiskCommit::commit(why)) << why;
    // Records 20 .. 24 past the committed count are named by no note.
    const std::string t0 = std::to_string(T0);
    tree.write("store/passJournal", "A\nC " + t0 + " 20\nP b\nR 0 " + t0 + " 25\nE\n");

    IoFaults::fail(IoFaults::WRITE, "/20070314_1800", EIO);
    LogCapture log;
    s = reopen();
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(log.contains("Could not sync " + file)) << log.text();
    EXPECT_FALSE(log.contains("were emptied")) << log.text();
    s->beginPass("c");
    EXPECT_EQ(store(s, 100, 101)[0].handle, nullptr);
    s->endPass(false);
    DiskCommit::commit(why);

    IoFaults::clear();
    s->beginPass("c");
    EXPECT_EQ(store(s, 100, 101)[0].record, 20);
    s->endPass(true);
    EXPECT_TRUE(DiskCommit::commit(why)) << why;
    reopen();
    const std::vector<int> held = pressures();
    std::vector<int> placed;
    for (int k = 0; k < 26; ++k)
        placed.push_back(k == 20 ? 100 : k > 20 && k < 25 ? INT_MIN : k);
    EXPECT_EQ(held, placed);
    EXPECT_NE(TempTree::readFile(dir + "/passJournal").find("C " + t0 + " 26\n"),
              std::string::npos);
}

// A data file made again for an hour whose file went while the store ran
// (its count and notes still in the journal) needs an "N" line voiding
// them: while the journal cannot take it, the file is not used (the old
// count would count its records as committed).  It is made again once the
// journal takes the line.  An hour the journal names nowhere needs none.
TEST_F(RepeatedPass, ADataFileWhoseLineTheJournalCannotTakeIsNotUsed)
{
    dir = makeDir(WIND_CDL);
    const std::string file = dir + "/20070314_1800", journal = dir + "/passJournal";
    NetcdfPointData* s = reopen();
    ASSERT_NE(s, nullptr);
    EXPECT_NE(store(s, 0, 1)[0].handle, nullptr);
    EXPECT_EQ(TempTree::readFile(journal), "A\n");
    std::string why;
    ASSERT_TRUE(DiskCommit::commit(why)) << why;
    s = reopen();
    // The hour's file removed, and a directory at the journal's name, which
    // takes no line.
    std::filesystem::remove(file);
    std::filesystem::rename(journal, journal + ".kept");
    tree.mkdirs("store/passJournal");
    clock.seconds() += 3600;
    LogCapture log;
    for (int call = 0; call < 2; ++call)
        EXPECT_EQ(store(s, 0, 1)[0].handle, nullptr);
    EXPECT_TRUE(log.contains("the new data file " + file + " is not used")) << log.text();
    EXPECT_FALSE(TempTree::exists(file));
    std::filesystem::remove(journal);
    std::filesystem::rename(journal + ".kept", journal);
    EXPECT_NE(store(s, 0, 1)[0].handle, nullptr);
    EXPECT_EQ(TempTree::readFile(journal), "A\nC " + std::to_string(T0) + " 1\nN " +
                                               std::to_string(T0) + "\n");
}

// A journal beyond the bound (a sparse file of 4 GB) and one with a line no
// writer writes are kept aside, none of their notes used: every record the
// data files hold then is of an unknown pass, and stays so in the journal
// written anew until its file is gone.
TEST(PassJournalNotes, ADamagedJournalIsKeptAsideAndTheRecordsItCoveredAreUnknown)
{
    TempTree tree;
    const std::string dir = tree.mkdirs("store");
    const std::string path = dir + "/passJournal";
    tree.write("store/passJournal", "P a\nR 0 100 0 10\nE\n");
    ASSERT_EQ(truncate(path.c_str(), 4LL << 30), 0);
    std::string message;
    {
        PassJournal journal(dir);
        EXPECT_EQ(journal.open({{100, 20}, {200, 0}}, message), PassJournal::SET_ASIDE);
        EXPECT_NE(message.find("kept as " + path + ".damaged"), std::string::npos) << message;
        EXPECT_EQ(std::filesystem::file_size(path + ".damaged"), 4ull << 30);
        EXPECT_EQ(journal.unknownRecords(100), 20);
        EXPECT_EQ(journal.unknownRecords(200), 0);
        EXPECT_FALSE(journal.noted(100, 0));
    }
    EXPECT_EQ(TempTree::readFile(path), "A\nC 100 20\nC 200 0\nU 100 20\n");
    {
        PassJournal journal(dir);
        EXPECT_EQ(journal.open({{100, 25}}, message), PassJournal::OPENED) << message;
        EXPECT_EQ(journal.unknownRecords(100), 20);
    }
    tree.write("store/passJournal", "U 100 20\nP a\nR 0 100 20 5\nR 5 100 x\n");
    PassJournal journal(dir);
    EXPECT_EQ(journal.open({{100, 25}}, message), PassJournal::SET_ASIDE);
    EXPECT_NE(message.find("line 4 is not a note"), std::string::npos) << message;
    EXPECT_EQ(TempTree::readFile(path + ".damaged.1"), "U 100 20\nP a\nR 0 100 20 5\nR 5 100 x\n");
    EXPECT_EQ(journal.unknownRecords(100), 25);
    {
        PassJournal gone(dir);
        EXPECT_EQ(gone.open({}, message), PassJournal::OPENED) << message;
    }
    // A journal that holds nothing stays, naming every file.
    EXPECT_EQ(TempTree::readFile(path), "A\n");
    std::filesystem::remove(path);
    // A FIFO laid at its name holds no reader: it is kept aside too.
    ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
    PassJournal fifo(dir);
    EXPECT_EQ(fifo.open({}, message), PassJournal::SET_ASIDE);
    EXPECT_NE(message.find("is damaged (not a regular file); kept as " + path + ".damaged.2"),
              std::string::npos)
        << message;
}

// A file size limit under a pass: the first failed write fails the rest of
// the pass at once, with a bounded number of lines.  With space again the
// bulletin stored again ends as one clean pass would.
TEST_F(RepeatedPass, AFullDiskEndsThePassAndTheBulletinIsStoredOnceWithSpaceAgain)
{
    dir = makeDir(WIND_CDL);
    NetcdfPointData* s = reopen();
    ASSERT_NE(s, nullptr);
    const char* const bulletin = "IUCN01 3000 full";
    s->beginPass(bulletin);
    ASSERT_TRUE(store(s, 0, 1)[0].isNew);
    const std::string file = dir + "/20070314_1800";
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit full = {std::filesystem::file_size(file) + 100, old.rlim_max};
    LogCapture log;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    const std::vector<Placed> failed = store(s, 1, 200);
    s->endPass(false);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    signal(SIGXFSZ, SIG_DFL);
    int placed = 0;
    for (const Placed& p : failed)
        placed += p.handle != nullptr;
    EXPECT_LT(placed, 199);
    EXPECT_LE(log.lines().size(), 14u) << log.text();
    EXPECT_TRUE(log.contains("more records of IUCN01 3000 full not placed in " + dir)) << log.text();

    s = reopen();
    s->beginPass(bulletin);
    store(s, 0, 200);
    s->endPass(true);
    std::vector<int> all;
    for (int k = 0; k < 200; ++k)
        all.push_back(k);
    EXPECT_EQ(pressures(), all);
}

// One writer per directory: a second store from a forked child cannot take
// the lock while the first lives, and can once it is gone.  The scratch
// files a killed writer left are removed by the store that takes the lock.
TEST_F(RepeatedPass, OneWritingStorePerDirectory)
{
    dir = makeDir(WIND_CDL);
    tree.write("store/scrfil.99999", "left by a killed writer");
    NetcdfPointData* s = reopen();
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(TempTree::exists(dir + "/scrfil.99999"));
    auto secondWriter = [&]() {
        const pid_t child = fork();
        if (child == 0) {
            int result = 0;
            {
                // Gone before _exit, which runs no destructor.
                LogCapture log;
                NetcdfPointData second(dir.c_str(), true, false);
                const bool refused = !NetcdfPointDataInspector{&second}.structure();
                const bool said = log.contains("Another process holds the lock of the "
                                               "point-data directory " + dir);
                result = refused ? (said ? 1 : 2) : 0;
            }
            _exit(result);
        }
        int status = -1;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(secondWriter(), 1);
    NetcdfPointData::forgetAllStores();
    EXPECT_EQ(secondWriter(), 0);
}

// A table without chains: once the file's caches are freed, its last
// record, an overflow record, is still known as booked, and a new record
// goes after it.
TEST_F(RepeatedPass, AnOverflowRecordOfATableWithoutChainsIsKept)
{
    dir = makeDir("netcdf template {\n"
                  "dimensions:\n"
                  "  recNum = UNLIMITED ;\n"
                  "  maxStaticIds = 2 ;\n"
                  "  totalIdLen = 8 ;\n"
                  "  staNameLen = 6 ;\n"
                  "  nInventoryBins = 1 ;\n"
                  "variables:\n"
                  "  char stationId(recNum, staNameLen) ;\n"
                  "  float latitude(recNum) ;\n"
                  "  float longitude(recNum) ;\n"
                  "  int nStaticIds ;\n"
                  "  char staticIds(maxStaticIds, totalIdLen) ;\n"
                  "  int lastRecord(maxStaticIds) ;\n"
                  "  int firstOverflow ;\n"
                  "  int isOverflow(recNum) ;\n"
                  "// global attributes:\n"
                  "  :cdlDate = \"20070404\" ;\n"
                  "  :idVariables = \"stationId\" ;\n"
                  "data:\n"
                  "  nStaticIds = 0 ;\n"
                  "  lastRecord = -1, -1 ;\n"
                  "  firstOverflow = -1 ;\n"
                  "}\n");
    NetcdfPointData* s = reopen();
    ASSERT_NE(s, nullptr);
    for (const char* id : {"AAA", "BBB", "CCC"})
        EXPECT_NE(place(s, {id}, {double(T0)}).handle, nullptr) << id;
    NetcdfPointDataInspector inspect{s};
    ASSERT_EQ(inspect.fileTimes().length(), 1);
    inspect.fileInfo(inspect.fileTimes()[0])->freeStructure();
    const Placed d = place(s, {"DDD"}, {double(T0)});
    EXPECT_EQ(d.record, 3);
    std::string file;
    for (const std::string& name : TempTree::listFiles(dir))
        if (name[0] == '2')
            file = dir + "/" + name;
    EXPECT_EQ(readRows(file, "stationId"), (std::vector<std::string>{"AAA", "BBB", "CCC", "DDD"}));
    EXPECT_EQ(readInts(file, "isOverflow"), (std::vector<int>{0, 0, 1, 1}));
}

} // namespace

// Handles and the file list: closing and syncing by max_open, the clientless
// list, files that other processes add or remove, files that are not
// netCDF, resynchronisation, and a writer killed in the middle of its work.
#include "PointDataTestSupport.h"

#include "DiskCommit.h"

#include "LogCapture.h"
#include "LogStream.h"
#include "TempTree.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

const int T0 = 1173895200; // 2007-03-14 18:00:00 UTC

class FileList : public ::testing::Test {
protected:
    void SetUp() override
    {
        QEV_REQUIRE_NCGEN();
        dir = tree.mkdirs("store");
        std::string error;
        ASSERT_TRUE(Cdl::make(idStoreCdl(), dir + "/template", &error)) << error;
    }

    // Gives the directory a modification time of its own, as another
    // process's change would.
    void touchDirectory(long seconds, long nanoseconds = 0)
    {
        struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, dir.c_str(), times, 0), 0);
    }

    // A data file made by "another process": the template's layout with an
    // attribute that tells it apart.
    void otherProcessFile(const std::string& name)
    {
        std::string error;
        ASSERT_TRUE(Cdl::make(edited(idStoreCdl(), {{"// global attributes:\n",
                                                     "// global attributes:\n  :madeBy = \"other\" ;\n"}}),
                              dir + "/" + name, &error))
            << error;
    }

    static bool madeByOther(const std::string& path)
    {
        int ncid = -1;
        size_t length = 0;
        bool found = nc_open(path.c_str(), NC_NOWRITE, &ncid) == NC_NOERR &&
                     nc_inq_attlen(ncid, NC_GLOBAL, "madeBy", &length) == NC_NOERR;
        nc_close(ncid);
        return found;
    }

    TempTree tree;
    FakeStoreClock clock;
    std::string dir;
};

TEST_F(FileList, ClosesFilesBeyondMaxOpenAndSyncsTheNewest)
{
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    ASSERT_NE(store, nullptr);
    NetcdfPointDataInspector in{store};
    const int t10 = T0 - 8 * 3600, t11 = T0 - 7 * 3600, t12 = T0 - 6 * 3600;
    Placed h10 = place(store, {"A"}, {double(t10)}, false);
    Placed h11 = place(store, {"A"}, {double(t11)}, false);
    Placed h12 = place(store, {"A"}, {double(t12)}, false);
    ASSERT_TRUE(h10.handle && h11.handle && h12.handle);
    EXPECT_EQ(in.clients(), 3);

    LogStream::setFilter("NetcdfPointData", LogStream::TTY, LogStream::DEBUG, true);
    LogCapture log;
    EXPECT_TRUE(store->releaseHandle(h12.handle));
    EXPECT_TRUE(store->releaseHandle(h11.handle));
    EXPECT_TRUE(store->releaseHandle(h10.handle));
    LogStream::setFilter("NetcdfPointData", LogStream::TTY, LogStream::DEBUG, false);
    EXPECT_EQ(log.count("In releaseHandle, NC_SYNC_WORKS_FOR_WRITING = 1"), 3);
    EXPECT_EQ(in.fileInfo(AbsTime(t10))->file, nullptr);
    EXPECT_EQ(in.fileInfo(AbsTime(t10))->handle, nullptr);
    EXPECT_NE(in.fileInfo(AbsTime(t11))->file, nullptr);
    EXPECT_NE(in.fileInfo(AbsTime(t12))->file, nullptr);
    EXPECT_EQ(in.clients(), 0);
    // What a release synced is in the file for any reader.
    EXPECT_EQ(readRows(dir + "/20070314_1100", "staticIds")[0], "A");

    EXPECT_TRUE(store->releaseHandle(h11.handle));
    EXPECT_TRUE(log.contains("releasing handle with no clients " + dir + "/20070314_1100"));
    int stray = 0;
    EXPECT_FALSE(store->releaseHandle(nullptr));
    EXPECT_FALSE(store->releaseHandle(&stray));
    EXPECT_EQ(in.clients(), 0);
}

// The last release of a file beyond max_open closes it.  A close that
// cannot write what is left says nothing, so the release syncs first: a
// value that cannot reach the disk (a file size limit, in a child with
// SIGXFSZ ignored) fails the release, with the reason logged.
TEST_F(FileList, AFileClosedAtReleaseWhoseValuesCannotReachTheDiskFailsTheRelease)
{
    const std::string file = dir + "/20070314_1000";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
        Placed held = place(store, {"A"}, {double(T0 - 8 * 3600)}, false);
        place(store, {"A"}, {double(T0 - 7 * 3600)});
        place(store, {"A"}, {double(T0 - 6 * 3600)});
        signal(SIGXFSZ, SIG_IGN);
        // Nothing from the first record on can be written.
        const struct rlimit limit = {std::filesystem::file_size(dir + "/template"), RLIM_INFINITY};
        int result = 0;
        {
            // Gone before _exit, which runs no destructor: nothing is left in
            // the temporary directory.
            LogCapture log;
            int var = -1;
            const size_t at = static_cast<size_t>(held.record);
            const float value = 12.5f;
            if (!held.handle || setrlimit(RLIMIT_FSIZE, &limit) != 0 ||
                nc_inq_varid(*held.handle, "temperature", &var) != NC_NOERR ||
                nc_put_var1_float(*held.handle, var, &at, &value) != NC_NOERR)
                result = 3;
            else if (store->releaseHandle(held.handle))
                result = 1;
            else
                result = log.contains("Could not sync " + file + ": File too large") ? 0 : 2;
        }
        _exit(result);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    int ncid = -1, var = -1;
    const size_t at = 0;
    float value = 0;
    ASSERT_EQ(nc_open(file.c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    EXPECT_EQ(nc_inq_varid(ncid, "temperature", &var), NC_NOERR);
    EXPECT_EQ(nc_get_var1_float(ncid, var, &at, &value), NC_NOERR);
    EXPECT_NE(value, 12.5f);   // it never reached the file
    nc_close(ncid);
}

TEST_F(FileList, KeepsAtMostEightClientlessFilesOpenOverAllStores)
{
    NetcdfPointData::deleteAllStores(); // no other store's record on the list
    std::string error;
    ASSERT_TRUE(Cdl::make(idStoreCdl(), dir + "/20070314_0000", &error)) << error;
    std::string other = tree.mkdirs("other");
    for (const std::string& d : {dir, other}) {
        for (int h = 0; h < 5; ++h) {
            std::string to = d + "/20070314_0" + std::to_string(h) + "00";
            if (!TempTree::exists(to))
                std::filesystem::copy_file(dir + "/20070314_0000", to);
        }
        if (d != dir)
            std::filesystem::copy_file(dir + "/template", d + "/template");
    }
    // Five files of each of two read-only stores lose their last client,
    // the first store's oldest first.
    std::vector<NetcdfPointDataInspector> stores;
    std::vector<PointNetcdfFileInfo*> records;
    for (const std::string& d : {dir, other}) {
        stores.push_back({NetcdfPointData::getNetcdfPointData(d.c_str(), false, false)});
        ASSERT_NE(stores.back().store, nullptr);
        ASSERT_EQ(stores.back().fileTimes().length(), 5);
        for (int i = 4; i >= 0; --i) {
            PointNetcdfFileInfo* info = stores.back().fileInfo(stores.back().fileTimes()[i]);
            ASSERT_TRUE(stores.back().openFileInfo(info));
            info->clientCount = 1;
            records.push_back(info);
            EXPECT_TRUE(stores.back().store->releaseHandle(info->handle));
        }
    }
    EXPECT_EQ(NetcdfPointDataInspector::clientlessOpen(), 8);
    EXPECT_EQ(NetcdfPointDataInspector::clientlessCount(), 8);
    // The two oldest, both of the first store, were closed through its own
    // handle table.
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i]->handle != nullptr, i >= 2) << i;
    EXPECT_EQ(stores[0].handleCount(), 3);
    EXPECT_EQ(stores[1].handleCount(), 5);
}

TEST_F(FileList, FindsFilesOfOtherProcessesAndNeverReplacesThem)
{
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    ASSERT_NE(store, nullptr);
    NetcdfPointDataInspector in{store};
    ASSERT_NE(place(store, {"A"}, {double(T0)}).handle, nullptr);

    // A copy appears and the directory's time moves: found at the next check.
    otherProcessFile("20070314_1900");
    touchDirectory(in.dirModTime() + 10);
    FakeStoreClock::seconds() += 61;
    LogCapture log;
    ASSERT_NE(place(store, {"A"}, {double(T0 + 3605)}).handle, nullptr);
    EXPECT_FALSE(log.contains("exists already"));
    EXPECT_TRUE(madeByOther(dir + "/20070314_1900"));
    EXPECT_EQ(readRows(dir + "/20070314_1900", "staticIds")[0], "A");

    // One the listing missed: the store's own copy does not replace it.
    otherProcessFile("20070314_2000");
    touchDirectory(in.dirModTime(), in.dirModTimeNs());
    ASSERT_NE(place(store, {"B"}, {double(T0 + 7205)}).handle, nullptr);
    EXPECT_TRUE(log.contains("Data file " + dir + "/20070314_2000 exists already; it is kept"));
    EXPECT_TRUE(madeByOther(dir + "/20070314_2000"));
    EXPECT_EQ(readRows(dir + "/20070314_2000", "staticIds")[0], "B");
    for (const std::string& name : TempTree::listFiles(dir))
        EXPECT_NE(name.compare(0, 6, "scrfil"), 0) << name;
}

TEST_F(FileList, DropsVanishedFilesAndDetachesHeldHandles)
{
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    ASSERT_NE(store, nullptr);
    NetcdfPointDataInspector in{store};
    Placed held = place(store, {"A"}, {double(T0)}, false);
    ASSERT_NE(held.handle, nullptr);
    ASSERT_NE(place(store, {"A"}, {double(T0 + 3600)}).handle, nullptr);
    ASSERT_EQ(unlink((dir + "/20070314_1800").c_str()), 0);
    ASSERT_EQ(unlink((dir + "/20070314_1900").c_str()), 0);
    FakeStoreClock::seconds() += 61;

    // The next request sees both gone; the file without clients is made
    // again, the held handle no longer names any file.
    Placed again = place(store, {"A"}, {double(T0 + 3610)});
    ASSERT_NE(again.handle, nullptr);
    EXPECT_EQ(again.record, 0);
    EXPECT_TRUE(again.isNew);
    EXPECT_EQ(*held.handle, -1);
    EXPECT_EQ(in.fileInfo(AbsTime(T0)), nullptr);
    EXPECT_FALSE(store->releaseHandle(held.handle));
    EXPECT_EQ(in.clients(), 0);
}

// A reader leaves a data file that is not netCDF out of its view for three
// updates; a writer keeps it aside under a name no listing takes, with one
// line, and can make the file of its time anew.
TEST_F(FileList, SetsAsideFilesThatAreNotNetcdfForThreeUpdates)
{
    tree.write("store/20070314_1500", "not a netCDF file");
    {
        LogCapture log;
        NetcdfPointData* writer = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
        ASSERT_NE(writer, nullptr);
        EXPECT_EQ(log.count("Format or ownership problems with the file " + dir +
                            "/20070314_1500 (NetCDF: Unknown file format): kept as " + dir +
                            "/20070314_1500.damaged; a new file is made for its time"),
                  1)
            << log.text();
        EXPECT_EQ(NetcdfPointDataInspector{writer}.fileTimes().length(), 0);
        EXPECT_EQ(TempTree::readFile(dir + "/20070314_1500.damaged"), "not a netCDF file");
        EXPECT_NE(place(writer, {"A"}, {double(T0 - 3 * 3600)}).handle, nullptr);
        EXPECT_EQ(readRows(dir + "/20070314_1500", "stationId"), std::vector<std::string>{"A"});
        NetcdfPointData::forgetAllStores();
    }
    tree.write("store/20070314_1500", "not a netCDF file");
    LogCapture log;
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), false, false);
    ASSERT_NE(store, nullptr);
    NetcdfPointDataInspector in{store};
    const std::string message = "Format or ownership problems with the file " + dir + "/20070314_1500";
    EXPECT_EQ(log.count(message), 1);
    const int start = in.dirModTime();
    for (int update = 1; update <= 4; ++update) {
        touchDirectory(start + update);
        EXPECT_TRUE(in.updateFileInfo());
        EXPECT_EQ(log.count(message), update < 4 ? 1 : 2) << update;
        EXPECT_EQ(in.fileTimes().length(), 0);
    }
}

TEST_F(FileList, RebuildsAnInconsistentView)
{
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    ASSERT_NE(store, nullptr);
    NetcdfPointDataInspector in{store};
    Placed held = place(store, {"A"}, {double(T0)}, false);
    ASSERT_NE(held.handle, nullptr);
    ASSERT_NE(place(store, {"A"}, {double(T0 + 3600)}).handle, nullptr);
    // The record of a listed file goes missing.
    in.deleteFileInfo(in.fileInfo(AbsTime(T0 + 3600)));
    touchDirectory(in.dirModTime() + 5);
    LogCapture log;
    EXPECT_TRUE(in.updateFileInfo());
    EXPECT_TRUE(log.contains("Failed to lookup Mar 14 07 19:00:00 GMT in file dictionary while "
                             "checking latest time: " + dir));
    EXPECT_TRUE(log.contains("Resync count is now 1"));
    EXPECT_EQ(in.resyncCount(), 1);
    EXPECT_EQ(in.fileTimes().length(), 2);
    // The handle held across the rebuild no longer names a file.
    EXPECT_EQ(*held.handle, -1);
    EXPECT_FALSE(store->releaseHandle(held.handle));
    Placed p = place(store, {"A"}, {double(T0 + 3600)});
    EXPECT_EQ(p.record, 0);
    EXPECT_FALSE(p.isNew);
}

TEST_F(FileList, MendsBrokenChainsAndHalfWrittenTables)
{
    // Two records of 18:00; the table and the chains as the case gives them.
    struct Case {
        const char* what;
        int stations;         // nStaticIds
        const char* table;    // staticIds, then lastRecord
        const char* chains;   // prevRecord
        int record;           // what 72558 at 18:00 gets, -1 none
        std::string message;
    };
    const std::string file = dir + "/20070314_1800";
    const Case cases[] = {
        // A chain that turns on itself is mended as the table is.
        {"a chain pointing forward", 1, "\"72558\" ;\n  lastRecord = 1, -1, -1, -1", "-1, 1", 1,
         "The station table of " + file + " was left half written (a cycle in the chain of "
         "station 72558 at record 1); it is made again from its 2 records"},
        {"a table naming another station's record", 2,
         "\"10000\", \"72558\" ;\n  lastRecord = 1, 0, -1, -1", "-1, -1", 1,
         "Station 72558 of " + file + " named record 0, its newest record is 1"},
        // A new station's row written, its count not: the station's record
        // is found, not placed again beside it.
        {"a station beyond the table's count", 1,
         "\"10000\", \"72558\" ;\n  lastRecord = 0, 1, -1, -1", "-1, -1", 1,
         "The station table of " + file + " was left half written (a station beyond its count "
         "of 1); it is made again from its 2 records"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        ASSERT_TRUE(Cdl::make(
            edited(idStoreCdl(),
                   {{"  nStaticIds = 0 ;\n", "  nStaticIds = " + std::to_string(c.stations) + " ;\n"},
                    {"  lastRecord = -1, -1, -1, -1 ;\n",
                     std::string("  staticIds = ") + c.table + " ;\n  stationId = \"10000\", \"72558\" ;\n"
                         "  timeObs = 1173895200, 1173895200 ;\n  invTime = 1173895200, 1173895200 ;\n"
                         "  prevRecord = " + c.chains + " ;\n"}}),
            file, &error))
            << error;
        LogCapture log;
        NetcdfPointData store(dir.c_str(), true, false);
        Placed p = place(&store, {"72558"}, {double(T0)});
        EXPECT_EQ(p.record, c.record);
        EXPECT_FALSE(p.isNew);
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_EQ(NetcdfPointDataInspector{&store}.clients(), 0);
    }
}

TEST_F(FileList, AWriterKilledMidRunLeavesFilesThatReadAgain)
{
    // Enough room for every station of the run.
    std::string cdl = edited(idStoreCdl(), {{"maxStaticIds = 4", "maxStaticIds = 300"},
                                            {"  lastRecord = -1, -1, -1, -1 ;\n", ""}});
    std::string error;
    ASSERT_TRUE(Cdl::make(cdl, dir + "/template", &error)) << error;
    const std::string file = dir + "/20070314_1800";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
        std::string why;
        for (int i = 0; store && i < 1000000; ++i) {
            char id[8];
            snprintf(id, sizeof id, "S%04d", i % 250);
            place(store, {id}, {double(T0 + i / 250)});
            if (i % 500 == 499)
                DiskCommit::commit(why);
        }
        _exit(0);
    }
    // Kill it once it has written for a while.
    struct stat st;
    for (int wait = 0; wait < 400 && (stat(file.c_str(), &st) != 0 || st.st_size < 200000); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    int ncid = -1;
    ASSERT_EQ(nc_open(file.c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    nc_close(ncid);
    LogCapture log;
    NetcdfPointData* store = new NetcdfPointData(dir.c_str(), true, false);
    Placed p = place(store, {"S0000"}, {double(T0)});
    EXPECT_EQ(p.record, 0) << log.text();
    EXPECT_FALSE(p.isNew);
    p = place(store, {"S0001"}, {double(T0 + 3500)});
    EXPECT_NE(p.handle, nullptr);
    EXPECT_TRUE(p.isNew);
    EXPECT_FALSE(log.contains("Format or ownership problems")) << log.text();
    EXPECT_FALSE(log.contains("unable to")) << log.text();
    delete store;
}

} // namespace

// A link planted at the name of the store's scratch copy (a directory others
// can write) is not followed: its target keeps its text.
TEST_F(FileList, ALinkAtTheScratchNameIsNotFollowed)
{
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    ASSERT_NE(store, nullptr);
    const std::string target = tree.write("elsewhere", "not the store's");
    ASSERT_EQ(symlink(target.c_str(), (dir + "/scrfil." + std::to_string(getpid())).c_str()), 0);
    LogCapture log;
    place(store, {"A"}, {double(T0)});
    EXPECT_EQ(TempTree::readFile(target), "not the store's");
}

// A FIFO laid at a data file's name holds no store: it is left out of the
// view, with its line, and the other times are placed.
TEST_F(FileList, AFifoAtADataFileNameHoldsNoStore)
{
    ASSERT_EQ(mkfifo((dir + "/20070314_1500").c_str(), 0666), 0);
    LogCapture log;
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(log.count("Format or ownership problems with the file " + dir + "/20070314_1500"),
              1)
        << log.text();
    EXPECT_NE(place(store, {"A"}, {double(T0)}).handle, nullptr);
    EXPECT_EQ(readRows(dir + "/20070314_1800", "stationId"), std::vector<std::string>{"A"});
}

// Handles and the file list: closing and syncing by max_open, the clientless
// list, files that other processes add or remove, files that are not
// netCDF, resynchronisation, and a writer killed in the middle of its work.
#include "PointDataTestSupport.h"

#include "LogCapture.h"
#include "LogStream.h"
#include "TempTree.h"

#include <fcntl.h>
#include <signal.h>
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

TEST_F(FileList, KeepsAtMostEightClientlessFilesOpen)
{
    NetcdfPointData::deleteAllStores(); // no other store's record on the list
    std::string error;
    ASSERT_TRUE(Cdl::make(idStoreCdl(), dir + "/20070314_0000", &error)) << error;
    for (int h = 1; h < 10; ++h)
        std::filesystem::copy_file(dir + "/20070314_0000",
                                   dir + "/20070314_0" + std::to_string(h) + "00");
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), false, false);
    ASSERT_NE(store, nullptr);
    NetcdfPointDataInspector in{store};
    ASSERT_EQ(in.fileTimes().length(), 10);
    for (int i = 9; i >= 0; --i) {
        PointNetcdfFileInfo* info = in.fileInfo(in.fileTimes()[i]);
        ASSERT_TRUE(in.openFileInfo(info));
        info->clientCount = 1;
        EXPECT_TRUE(store->releaseHandle(info->handle));
    }
    EXPECT_EQ(NetcdfPointDataInspector::clientlessOpen(), 8);
    EXPECT_EQ(NetcdfPointDataInspector::clientlessCount(), 8);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(in.fileInfo(in.fileTimes()[i])->file != nullptr, i < 8) << i;
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
    EXPECT_FALSE(TempTree::exists(dir + "/scrfil"));
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

TEST_F(FileList, SetsAsideFilesThatAreNotNetcdfForThreeUpdates)
{
    tree.write("store/20070314_1500", "not a netCDF file");
    LogCapture log;
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
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
    ASSERT_NE(place(store, {"A"}, {double(T0)}).handle, nullptr);
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
    Placed p = place(store, {"A"}, {double(T0 + 3600)});
    EXPECT_EQ(p.record, 0);
    EXPECT_FALSE(p.isNew);
}

TEST_F(FileList, RefusesAFileWhoseChainPointsForward)
{
    // Record 1 names itself as its station's previous record: a chain that
    // would never end.
    std::string error;
    ASSERT_TRUE(Cdl::make(edited(idStoreCdl(),
                                 {{"  nStaticIds = 0 ;\n", "  nStaticIds = 1 ;\n"},
                                  {"  lastRecord = -1, -1, -1, -1 ;\n",
                                   "  staticIds = \"72558\" ;\n  lastRecord = 1, -1, -1, -1 ;\n"
                                   "  stationId = \"72558\", \"72558\" ;\n"
                                   "  timeObs = 1173895200, 1173895300 ;\n  prevRecord = -1, 1 ;\n"}}),
                          dir + "/20070314_1800", &error))
        << error;
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    ASSERT_NE(store, nullptr);
    LogCapture log;
    EXPECT_EQ(place(store, {"72558"}, {double(T0)}).handle, nullptr);
    EXPECT_TRUE(log.contains("Format or ownership problems with the file " + dir +
                             "/20070314_1800: prevRecord out of range"))
        << log.text();
    EXPECT_EQ(NetcdfPointDataInspector{store}.clients(), 0);
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
        for (int i = 0; store && i < 1000000; ++i) {
            char id[8];
            snprintf(id, sizeof id, "S%04d", i % 250);
            place(store, {id}, {double(T0 + i / 250)});
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

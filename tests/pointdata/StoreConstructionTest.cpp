// Store construction: the factories and their caches, ".override" files,
// the read-only fall-back on a data file, and the file records' look-ups.
#include "PointDataTestSupport.h"

#include "InfoFileServer.h"
#include "LogCapture.h"
#include "TempTree.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

class StoreConstruction : public ::testing::Test {
protected:
    void SetUp() override { QEV_REQUIRE_NCGEN(); }

    std::string makeTemplate(const std::string& rel, const std::string& cdl = idStoreCdl())
    {
        std::string dir = tree.mkdirs(rel);
        std::string error;
        EXPECT_TRUE(Cdl::make(cdl, dir + "/template", &error)) << error;
        return dir;
    }

    TempTree tree;
    FakeStoreClock clock;
};

TEST_F(StoreConstruction, CachesOneStorePerPathAndMode)
{
    // Stores earlier tests of the process left keep files open; the counts
    // below are this test's own.
    NetcdfPointData::forgetAllStores();
    const int openAtStart = NetcdfPointDataInspector::fileOpenCount();
    std::string dir = makeTemplate("a");
    NetcdfPointData* writable = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    ASSERT_NE(writable, nullptr);
    EXPECT_EQ(NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false), writable);
    NetcdfPointData* readOnly = NetcdfPointData::getNetcdfPointData(dir.c_str(), false, false);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_NE(readOnly, writable);

    // A failed path is tried again at its next fetch: once its template is
    // mended, its store is had.
    std::string bad = makeTemplate("b", edited(idStoreCdl(), {{"recNum = UNLIMITED", "recNum = 3"}}));
    EXPECT_EQ(NetcdfPointData::getNetcdfPointData(bad.c_str(), true, false), nullptr);
    EXPECT_EQ(NetcdfPointData::getNetcdfPointData(bad.c_str(), true, false), nullptr);
    makeTemplate("b");
    NetcdfPointData* mended = NetcdfPointData::getNetcdfPointData(bad.c_str(), true, false);
    EXPECT_NE(mended, nullptr);
    EXPECT_EQ(NetcdfPointData::getNetcdfPointData(bad.c_str(), true, false), mended);

    // No template: a writable store fails, a read-only one takes its newest
    // data file's layout.
    std::string dataOnly = tree.mkdirs("c");
    std::string error;
    ASSERT_TRUE(Cdl::make(idStoreCdl(), dataOnly + "/20070314_1800", &error)) << error;
    ASSERT_TRUE(Cdl::make("netcdf x { dimensions: d = 1 ; variables: int v(d) ; }",
                          dataOnly + "/20070314_1700", &error))
        << error;
    EXPECT_EQ(NetcdfPointData::getNetcdfPointData(dataOnly.c_str(), true, false), nullptr);
    NetcdfPointData* fromData = NetcdfPointData::getNetcdfPointData(dataOnly.c_str(), false, false);
    ASSERT_NE(fromData, nullptr);
    EXPECT_EQ(NetcdfPointDataInspector{fromData}.structure()->maxStaticIds, 4);
    EXPECT_EQ(NetcdfPointDataInspector::fileOpenCount(), openAtStart);

    NetcdfPointData::deleteAllStores();
    EXPECT_EQ(NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false), nullptr);

    // Forgotten stores are made anew from the files on disk; none keeps a
    // file open.
    NetcdfPointData::forgetAllStores();
    EXPECT_NE(NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false), nullptr);
    EXPECT_NE(NetcdfPointData::getNetcdfPointData(bad.c_str(), true, false), nullptr);
    NetcdfPointData::forgetAllStores();
    EXPECT_EQ(NetcdfPointDataInspector::fileOpenCount(), openAtStart);
}

// A store path made from an unset QEV_DATA ("/point/...") fails with a line
// that says so; one of a set QEV_DATA does not.
TEST_F(StoreConstruction, AMissingTemplateLineNamesAnUnsetDataRoot)
{
    const std::string missing = tree.path("qev_data/point/none/netcdf");
    for (const char* data : {static_cast<const char*>(nullptr), "", "set"}) {
        tree.setEnv("QEV_DATA", data && *data ? tree.qevData().c_str() : data);
        LogCapture log;
        EXPECT_EQ(NetcdfPointData::getNetcdfPointData(missing.c_str(), true, false), nullptr);
        const std::string line = "PROBLEM: Could not open " + missing +
                                 "/template in openNetCdfFile" +
                                 (data && *data ? "" : " (QEV_DATA is not set)");
        const std::vector<std::string> lines = log.lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << log.text();
    }
}

TEST_F(StoreConstruction, OverridesReplaceDimensionsAndAttributes)
{
    std::string dir = makeTemplate("qev_data/point/acars/netcdf");
    tree.write("qev_data/point/acars/netcdf/template.override",
               "maxStaticIds 0\n"
               "totalIdLen 9 ignored\n"
               "filePeriod 7200\n"
               "fileEndOffset 7199 // a comment\n"
               "max_open 5\n");
    NetcdfPointData* writable = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    ASSERT_NE(writable, nullptr);
    const PointFileStructure& s = *NetcdfPointDataInspector{writable}.structure();
    EXPECT_EQ(s.maxStaticIds, 0);
    EXPECT_EQ(s.staticIds, -1);
    EXPECT_EQ(s.totalIdLen, 8);
    EXPECT_EQ(s.filePeriod, 7200);
    EXPECT_EQ(s.binWidth, 600);
    EXPECT_EQ(s.maxOpen, 5);

    // A read-only store below QEV_DATA first looks for the override named
    // after its path along the search path; an empty one is passed over.
    std::string searchDir;
    for (int i = 0; i < InfoFileServer::searchList().length(); ++i) {
        std::string entry = InfoFileServer::searchList()[i].c_str();
        if (entry.find("qev_home/data/") != std::string::npos)
            searchDir = entry;
    }
    ASSERT_FALSE(searchDir.empty());
    // The search list is built once per process: its folder may belong to a
    // tree that is gone.  What is made here goes again at the end.
    std::filesystem::path made = searchDir;
    while (made.has_parent_path() && !std::filesystem::exists(made.parent_path()))
        made = made.parent_path();
    if (std::filesystem::exists(made))
        made.clear();
    std::filesystem::create_directories(searchDir);
    tree.write("qev_data/point/other/netcdf/template.override", "max_open 5\n");
    std::string other = makeTemplate("qev_data/point/other/netcdf");
    std::vector<std::string> named = {searchDir + "point-acars-netcdf.override",
                                      searchDir + "point-other-netcdf.override"};
    for (size_t i = 0; i < named.size(); ++i) {
        FILE* f = fopen(named[i].c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(i == 0 ? "max_open 7\n" : "", f);
        fclose(f);
    }
    NetcdfPointData* readOnly = NetcdfPointData::getNetcdfPointData(dir.c_str(), false, false);
    NetcdfPointData* fallBack = NetcdfPointData::getNetcdfPointData(other.c_str(), false, false);
    for (const std::string& n : named)
        remove(n.c_str());
    if (!made.empty())
        std::filesystem::remove_all(made);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(NetcdfPointDataInspector{readOnly}.structure()->maxOpen, 7);
    EXPECT_EQ(NetcdfPointDataInspector{readOnly}.structure()->maxStaticIds, 4);
    ASSERT_NE(fallBack, nullptr);
    EXPECT_EQ(NetcdfPointDataInspector{fallBack}.structure()->maxOpen, 5);
}

// A file record of the id store (rows of 8 characters) holding the static
// ids and records (id, time) given; records from firstOverflow on are
// overflow records.
struct Records {
    NetcdfPointDataInspector in;
    PointNetcdfFileInfo* info;

    Records(NetcdfPointData* store, const std::vector<std::string>& staticIds,
            const std::vector<std::pair<std::string, int>>& records, int firstOverflow)
        : in{store}, info(in.newFileInfo(AbsTime(1173895200)))
    {
        info->structure = in.structure();
        ++info->structure->useCount;
        const size_t n = records.size();
        info->staticIds.reset(new char[4 * 8]());
        info->recordIds.reset(new char[n * 8]());
        info->recordTimes.reset(new int[n]());
        info->isOverflow.reset(new int[n]());
        for (size_t i = 0; i < staticIds.size(); ++i)
            strncpy(info->staticIds.get() + i * 8, staticIds[i].c_str(), 7);
        for (size_t r = 0; r < n; ++r) {
            strncpy(info->recordIds.get() + r * 8, records[r].first.c_str(), 7);
            info->recordTimes[r] = records[r].second;
            info->isOverflow[r] = firstOverflow >= 0 && static_cast<int>(r) >= firstOverflow;
        }
        info->nStaticIds = static_cast<int>(staticIds.size());
        info->recordCount = info->recordCapacity = static_cast<int>(n);
        info->firstOverflow = firstOverflow;
        in.enter(info);
    }
    ~Records() { in.deleteFileInfo(info); }
};

TEST_F(StoreConstruction, FindsStationsAmongStaticIdsAndOverflowRecords)
{
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(makeTemplate("d").c_str(), true, false);
    ASSERT_NE(store, nullptr);
    {
        Records one(store, {"72558"}, {}, -1);
        EXPECT_EQ(one.in.findStaticIdIndex("72558", one.info), 0);
        EXPECT_EQ(one.in.findStaticIdIndex("72469", one.info), -1);
        EXPECT_EQ(one.in.findStaticIdIndex("99999", one.info), -1);
    }
    {
        Records two(store, {"72469", "72558"}, {}, -1);
        EXPECT_EQ(two.in.findStaticIdIndex("72469", two.info), 0);
        EXPECT_EQ(two.in.findStaticIdIndex("72558", two.info), 1);
        EXPECT_EQ(two.in.findStaticIdIndex("72500", two.info), -1);
    }
    {
        Records full(store, {"A", "B", "C", "D"},
                     {{"A", 10}, {"B", 10}, {"C", 10}, {"D", 10}, {"E", 20}, {"F", 20}, {"E", 30}}, 4);
        EXPECT_EQ(full.in.findStaticIdIndex("C", full.info), 2);
        EXPECT_EQ(full.in.findNewestOverflowRecord("E", full.info), 6);
        EXPECT_EQ(full.in.findNewestOverflowRecord("A", full.info), -1);
        EXPECT_EQ(full.in.findOverflowRecord("E", 15, 25, full.info), 4);
        EXPECT_EQ(full.in.findOverflowRecord("E", 21, 29, full.info), -1);
        full.info->firstOverflow = -1;
        EXPECT_EQ(full.in.findNewestOverflowRecord("E", full.info), -1);
    }
    EXPECT_EQ(NetcdfPointDataInspector{store}.fileInfoCount(), 0);
    EXPECT_EQ(NetcdfPointDataInspector{store}.structure()->useCount, 1);
}

} // namespace

// Record placement into stores made from CDL, read back with the netCDF
// library: station tables, chains, inventory bins, overflow, rewrites, new
// files per period, location keys and forecast records.
#include "PointDataTestSupport.h"

#include "DiskCommit.h"

#include "LogCapture.h"
#include "TempTree.h"

#include <cmath>

namespace {

const int T0 = 1173895200; // 2007-03-14 18:00:00 UTC

class RecordPlacement : public ::testing::Test {
protected:
    void SetUp() override { QEV_REQUIRE_NCGEN(); }

    NetcdfPointData* makeStore(const std::string& cdl, const std::string& overrides = "")
    {
        dir = tree.mkdirs("store" + std::to_string(++_stores));
        std::string error;
        EXPECT_TRUE(Cdl::make(cdl, dir + "/template", &error)) << error;
        if (!overrides.empty())
            tree.write("store" + std::to_string(_stores) + "/template.override", overrides);
        return NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    }

    Placed putAt(NetcdfPointData* store, float lat, float lon, double t)
    {
        SeqOf<double> times(t);
        Placed p;
        p.handle = store->getFileHandleAndRecord(LatLonCoord(lat, lon), times, p.record, p.isNew);
        if (p.handle) {
            EXPECT_TRUE(store->releaseHandle(p.handle));
        }
        return p;
    }

    TempTree tree;
    FakeStoreClock clock;
    std::string dir;
    int _stores = 0;
};

TEST_F(RecordPlacement, KeepsTheStationTablesChainsAndBins)
{
    std::string cdl = edited(idStoreCdl(), {{"// global attributes:\n",
                                             "// global attributes:\n  :log_rewrites = \"true\" ;\n"}});
    NetcdfPointData* store = makeStore(cdl);
    ASSERT_NE(store, nullptr);
    LogCapture log;
    struct Step {
        const char* id;
        int offset;
        int record;
        bool isNew;
    };
    const Step steps[] = {
        {"72558", 10, 0, true},   {"72469", 20, 1, true},   {"72558", 610, 2, true},
        {"10000", 620, 3, true},  {"99999", 3000, 4, true}, {"55555", 3100, 5, true},
        {"55555", 3200, 6, true}, {"72558", 10, 0, false},  {"55555", 3100, 5, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.id) + " " + std::to_string(s.offset));
        Placed p = place(store, {s.id}, {double(T0 + s.offset)});
        ASSERT_NE(p.handle, nullptr) << log.text();
        EXPECT_EQ(p.record, s.record);
        EXPECT_EQ(p.isNew, s.isNew);
        EXPECT_EQ(NetcdfPointData::lastFileTimeStamp(), "20070314_1800");
    }
    EXPECT_EQ(log.count("Static information area overflow in the file "), 2);

    const std::string file = dir + "/20070314_1800";
    EXPECT_EQ(readRows(file, "staticIds"),
              (std::vector<std::string>{"10000", "72469", "72558", "99999"}));
    EXPECT_EQ(readInts(file, "nStaticIds"), std::vector<int>{4});
    EXPECT_EQ(readInts(file, "lastRecord"), (std::vector<int>{3, 1, 2, 4}));
    EXPECT_EQ(readInts(file, "prevRecord"), (std::vector<int>{-1, -1, 0, -1, -1, -1, 5}));
    EXPECT_EQ(readInts(file, "isOverflow"), (std::vector<int>{0, 0, 0, 0, 0, 1, 1}));
    EXPECT_EQ(readInts(file, "firstOverflow"), std::vector<int>{5});
    // Bins of 300 s: 10 and 20 s in bin 0, 610 and 620 in bin 2, the rest in bin 10.
    EXPECT_EQ(readInts(file, "inventory"), (std::vector<int>{4, 1, 5, 1 << 10}));
    EXPECT_EQ(readInts(file, "globalInventory"), std::vector<int>{1 | 4 | 1 << 10});
    EXPECT_EQ(readInts(file, "firstInBin"), (std::vector<int>{0, -1, 2, -1, -1, -1, -1, -1, -1, -1, 4, -1}));
    EXPECT_EQ(readInts(file, "lastInBin"), (std::vector<int>{1, -1, 3, -1, -1, -1, -1, -1, -1, -1, 6, -1}));
    EXPECT_EQ(readInts(file, "invTime"),
              (std::vector<int>{T0 + 10, T0 + 20, T0 + 610, T0 + 620, T0 + 3000, T0 + 3100, T0 + 3200}));
    EXPECT_EQ(readRows(file, "stationId"),
              (std::vector<std::string>{"72558", "72469", "72558", "10000", "99999", "55555", "55555"}));
    EXPECT_EQ(TempTree::readFile(file + ".rewrites"), "0\n5\n");
    EXPECT_EQ(NetcdfPointDataInspector{store}.clients(), 0);

    // A store made afresh reads the same bookkeeping back from the file,
    // once a commit has brought it to the disk.
    std::string why;
    ASSERT_TRUE(DiskCommit::commit(why)) << why;
    NetcdfPointData::deleteAllStores();
    NetcdfPointData* again = new NetcdfPointData(dir.c_str(), true, false);
    Placed p = place(again, {"72469"}, {double(T0 + 20)});
    EXPECT_EQ(p.record, 1);
    EXPECT_FALSE(p.isNew);
    p = place(again, {"55555"}, {double(T0 + 3200)});
    EXPECT_EQ(p.record, 6);
    EXPECT_FALSE(p.isNew);
    p = place(again, {"72469"}, {double(T0 + 1000)});
    EXPECT_EQ(p.record, 7);
    EXPECT_TRUE(p.isNew);
    EXPECT_EQ(readInts(file, "prevRecord")[7], 1);
    EXPECT_EQ(readInts(file, "lastRecord")[1], 7);
    delete again;
}

TEST_F(RecordPlacement, MakesAFilePerPeriodNamedByItsStart)
{
    NetcdfPointData* store = makeStore(idStoreCdl());
    ASSERT_NE(store, nullptr);
    const struct {
        int offset;
        const char* name;
    } cases[] = {{3599, "20070314_1800"}, {3600, "20070314_1900"}, {-1, "20070314_1700"},
                 {7205, "20070314_2000"}, {INT32_MAX - T0, "20380119_0300"}};
    for (const auto& c : cases) {
        Placed p = place(store, {"72558"}, {double(T0 + c.offset)});
        ASSERT_NE(p.handle, nullptr) << c.name;
        EXPECT_EQ(p.record, 0);
        EXPECT_EQ(NetcdfPointData::lastFileTimeStamp(), c.name);
        EXPECT_TRUE(TempTree::exists(dir + "/" + c.name));
    }
    for (const std::string& name : TempTree::listFiles(dir))
        EXPECT_NE(name.compare(0, 6, "scrfil"), 0) << name;
    EXPECT_EQ(NetcdfPointDataInspector{store}.fileTimes().length(), 5);
    EXPECT_EQ(FakeStoreClock::paused(), 5);

    // The last file of a time: one whose period would reach past the last
    // second a time holds, or begin before the first a file name holds, is
    // never made.
    NetcdfPointData* late = makeStore(idStoreCdl(), "fileEndOffset 600\n");
    ASSERT_NE(late, nullptr);
    for (double t : {double(INT32_MAX), 10.0}) {
        LogCapture log;
        EXPECT_EQ(place(late, {"72558"}, {t}).handle, nullptr);
        EXPECT_TRUE(log.contains("PROBLEM: No data file can hold the time ")) << log.text();
    }
    for (const std::string& name : TempTree::listFiles(dir))
        EXPECT_TRUE(name.compare(0, 8, "template") == 0 || name == "passJournal") << name;
}

TEST_F(RecordPlacement, RefusesWhatItCannotPlaceBeforeWritingAnything)
{
    NetcdfPointData* store = makeStore(idStoreCdl(), "");
    NetcdfPointData* located = makeStore(latLonStoreCdl());
    ASSERT_NE(store, nullptr);
    ASSERT_NE(located, nullptr);
    NetcdfPointData* readOnly = NetcdfPointData::getNetcdfPointData(dir.c_str(), false, false);
    ASSERT_NE(readOnly, nullptr);
    struct Case {
        NetcdfPointData* store;
        std::vector<std::string> ids;
        std::vector<double> times;
        const char* message;
    };
    const double t = T0 + 5;
    const Case cases[] = {
        {readOnly, {}, {t}, "Not set up for writing in getFileHandleAndRecord"},
        {store, {"72558"}, {}, "No time data in getFileHandleAndRecord"},
        {store, {"72558"}, {-5.0}, "Undefined time getFileHandleAndRecord"},
        {store, {"72558"}, {NAN}, "Undefined time getFileHandleAndRecord"},
        {store, {"72", "558"}, {t}, "Wrong number of ids in getFileHandleAndRecord"},
        {store, {"72558"}, {t, t}, "Wrong number of times in getFileHandleAndRecord"},
        {store, {"7255812"}, {t}, "Id 7255812 too long for its variable in getFileHandleAndRecord"},
        {located, {}, {t}, "File is lat/lon indexed in getFileHandleAndRecord"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        LogCapture log;
        EXPECT_EQ(place(c.store, c.ids, c.times).handle, nullptr);
        EXPECT_TRUE(log.contains(c.message)) << log.text();
    }
    LogCapture log;
    int record = -1;
    bool isNew = false;
    SeqOf<double> times(t);
    EXPECT_EQ(store->getFileHandleAndRecord(LatLonCoord(1, 2), times, record, isNew), nullptr);
    EXPECT_TRUE(log.contains("File not lat/lon indexed in getFileHandleAndRecord"));
    for (LatLonCoord bad : {LatLonCoord(90.0001f, 0), LatLonCoord(0, -180.5f), LatLonCoord(NAN, 0),
                            LatLonCoord(0, NAN)})
        EXPECT_EQ(located->getFileHandleAndRecord(bad, times, record, isNew), nullptr);
    EXPECT_EQ(log.count("lat/lon values out of range in getFileHandleAndRecord"), 4);
    // The refused calls left the file as the template made it.
    EXPECT_EQ(readInts(tree.path("store1/20070314_1800"), "nStaticIds"), std::vector<int>{0});
    EXPECT_EQ(readInts(tree.path("store1/20070314_1800"), "globalInventory"), std::vector<int>{0});

    // A time past the last bin goes into the last bin (7 bins of 514 s).
    NetcdfPointData* sevenBins = makeStore(idStoreCdl(), "nInventoryBins 7\n");
    ASSERT_NE(sevenBins, nullptr);
    ASSERT_NE(place(sevenBins, {"72558"}, {double(T0 + 3599)}).handle, nullptr);
    EXPECT_EQ(readInts(dir + "/20070314_1800", "globalInventory"), std::vector<int>{1 << 6});
}

// The records placed after the last commit, with the file as a power loss
// can leave it: as the page cache held it (a kill), only the first sector of
// its header new (the record count ahead of records that never reached the
// disk) and its header old with the pages after it new (bins and table
// naming records past the count).  The store opens it with the committed
// records only, its bookkeeping made again from them with a line, and the
// records placed again make the file of the uninterrupted run.
TEST_F(RecordPlacement, RecordsNoCommitCountedAreTakenBackWhateverPagesReachedTheDisk)
{
    NetcdfPointData* store = makeStore(idStoreCdl());
    ASSERT_NE(store, nullptr);
    const std::string file = dir + "/20070314_1800";
    const std::string journal = dir.substr(tree.path("").size()) + "/passJournal";
    typedef std::vector<std::pair<const char*, int>> Steps;
    // Four stations fill the table; the fifth is an overflow station.
    const Steps committed = {{"72558", 10}, {"72469", 20}, {"72558", 610}};
    const Steps after = {{"10000", 620}, {"72558", 3000}, {"99999", 3100}, {"55555", 3200},
                         {"55555", 3300}};
    const auto placeAll = [](NetcdfPointData* s, const Steps& steps) {
        for (const auto& step : steps)
            EXPECT_NE(place(s, {step.first}, {double(T0 + step.second)}).handle, nullptr);
    };
    const auto bookkeeping = [&file] {
        std::vector<std::vector<int>> values;
        for (const char* var : {"nStaticIds", "lastRecord", "prevRecord", "inventory",
                                "globalInventory", "firstOverflow", "isOverflow", "firstInBin",
                                "lastInBin", "invTime"})
            values.push_back(readInts(file, var));
        return std::make_pair(values, readRows(file, "stationId"));
    };
    placeAll(store, committed);
    std::string why;
    ASSERT_TRUE(DiskCommit::commit(why)) << why;
    const std::string synced = TempTree::readFile(file);
    const std::string notes = TempTree::readFile(tree.path(journal));
    placeAll(store, after);
    const std::string cached = TempTree::readFile(file);
    const auto whole = bookkeeping();
    ASSERT_EQ(whole.second.size(), 8u);

    const std::string takenBack = "5 records of " + file + " past the 3 that its last commit "
                                  "counted were taken back";
    const struct {
        const char* what;
        std::string bytes;
        std::string line;
    } states[] = {
        {"as the page cache held it", cached, takenBack},
        {"the header's first sector new", cached.substr(0, 512) + synced.substr(512), takenBack},
        {"the header old, the pages after it new", synced.substr(0, 512) + cached.substr(512),
         "The counters of " + file + " name records past its 3 (nStaticIds of 4, "
         "firstOverflow of 6: its header is older than the pages after it); its bookkeeping is "
         "made again from its records"},
    };
    for (const auto& state : states) {
        SCOPED_TRACE(state.what);
        NetcdfPointData::forgetAllStores();
        ASSERT_TRUE(DiskCommit::commit(why)) << why;
        tree.write(file.substr(tree.path("").size()), state.bytes);
        tree.write(journal, notes);
        LogCapture log;
        store = NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
        ASSERT_NE(store, nullptr);
        // The committed records are found again; nothing past them is.
        const Placed first = place(store, {"72558"}, {double(T0 + 610)});
        EXPECT_EQ(first.record, 2);
        EXPECT_FALSE(first.isNew);
        EXPECT_EQ(readInts(file, "invTime").size(), 3u);
        EXPECT_TRUE(log.contains(state.line)) << log.text();
        EXPECT_FALSE(log.contains("cannot be used")) << log.text();
        placeAll(store, after);
        EXPECT_EQ(bookkeeping(), whole);
    }
}

TEST_F(RecordPlacement, KeepsAStaticTableWithoutChainsSorted)
{
    // No time variables: one file per minute, a record per call, stations
    // still kept in order (the table is read before it is shifted).
    std::string cdl = edited(idStoreCdl(), {{"nInventoryBins = 12", "nInventoryBins = 1"},
                                            {"  double timeObs(recNum) ;\n", ""},
                                            {"    timeObs:units = \"seconds since 1970-1-1 00:00:00.0\" ;\n", ""},
                                            {"  int invTime(recNum) ;\n", ""},
                                            {"  int prevRecord(recNum) ;\n", ""},
                                            {"  :timeVariables = \"timeObs\" ;\n", ""},
                                            {"  :filePeriod = 3600 ;\n", ""},
                                            {"  :fileEndOffset = 3599 ;\n", ""},
                                            {"  firstInBin = -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 ;\n", ""},
                                            {"  lastInBin = -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 ;\n", ""}});
    NetcdfPointData* store = makeStore(cdl);
    ASSERT_NE(store, nullptr);
    for (const char* id : {"72558", "72469", "72558", "10000"})
        ASSERT_NE(place(store, {id}, {double(T0 + 5)}).handle, nullptr);
    EXPECT_EQ(place(store, {"72558"}, {double(T0 + 5)}).record, 4);
    const std::string file = dir + "/20070314_1800";
    EXPECT_EQ(readRows(file, "staticIds"), (std::vector<std::string>{"10000", "72469", "72558", ""}));
    EXPECT_EQ(readInts(file, "lastRecord"), (std::vector<int>{3, 1, 4, -1}));
}

TEST_F(RecordPlacement, KeysLocationsLikeThe32BitOriginal)
{
    NetcdfPointDataInspector in{makeStore(latLonStoreCdl())};
    ASSERT_NE(in.store, nullptr);
    const LatLonCoord origin(0, 0);
    struct Case {
        int totalIdLen;
        LatLonCoord at;
        const char* key;
    };
    const Case cases[] = {
        {13, origin, "0dbba01b7740"},
        {7, origin, "384708"},
        {11, LatLonCoord(-90, 180), "0000057e40"},
        {9, LatLonCoord(39.74f, -104.99f), "32ae1d4d"},
    };
    for (const Case& c : cases) {
        TextString key;
        EXPECT_TRUE(in.makeKey(c.totalIdLen, SeqOf<TextString>(), &c.at, key));
        EXPECT_EQ(key, c.key) << c.totalIdLen;
    }
    SeqOf<TextString> ids("72");
    ids.append("558");
    TextString key;
    EXPECT_TRUE(in.makeKey(6, ids, nullptr, key));
    EXPECT_EQ(key, "72558");
    LogCapture log;
    EXPECT_FALSE(in.makeKey(5, ids, nullptr, key));
    EXPECT_TRUE(log.contains("Length of static id too long in getFileHandleAndRecord"));
    EXPECT_FALSE(in.makeKey(6, SeqOf<TextString>(), &origin, key));
    EXPECT_TRUE(log.contains("totalIdLen dimension too small for lat/lon encoding in getFileHandleAndRecord"));

    // Records by position: the same place and time is the same record.
    EXPECT_EQ(putAt(in.store, 0, 0, T0).record, 0);
    EXPECT_EQ(putAt(in.store, 90, -180, T0 + 1).record, 1);
    Placed same = putAt(in.store, 0, 0, T0);
    EXPECT_EQ(same.record, 0);
    EXPECT_FALSE(same.isNew);
    EXPECT_EQ(putAt(in.store, 0, 0, T0 + 60).record, 2);
    const std::string file = dir + "/20070314_1800";
    EXPECT_EQ(readInts(file, "prevRecord"), (std::vector<int>{-1, -1, 0}));
    PointNetcdfFileInfo* info = in.fileInfo(AbsTime(T0));
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(info->recordIds);
    EXPECT_STREQ(info->recordIds.get(), "0dbba01b7740");
}

TEST_F(RecordPlacement, PlacesForecastRecordsByValidTime)
{
    std::string cdl =
        edited(idStoreCdl(), {{"  float latitude", "  double refTime(recNum) ;\n  float latitude"},
                              {"\"timeObs\"", "\"refTime,timeObs\""},
                              {"nInventoryBins = 12", "nInventoryBins = 24"},
                              {"  firstInBin = -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 ;\n", ""},
                              {"  lastInBin = -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 ;\n", ""},
                              {":filePeriod = 3600", ":filePeriod = 86400"},
                              {":fileEndOffset = 3599", ":fileEndOffset = 86400"},
                              {"// global attributes:\n",
                               "// global attributes:\n  :have_forecasts = \"true\" ;\n"}});
    NetcdfPointData* store = makeStore(cdl);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(place(store, {"KDEN"}, {double(T0), double(T0 + 3600)}).record, 0);
    EXPECT_EQ(place(store, {"KDEN"}, {double(T0), double(T0 + 7200)}).record, 1);
    Placed same = place(store, {"KDEN"}, {double(T0), double(T0 + 3600)});
    EXPECT_EQ(same.record, 0);
    EXPECT_FALSE(same.isNew);
    // Another reference time is another file, named by that time.
    EXPECT_EQ(place(store, {"KDEN"}, {double(T0 + 60), double(T0 + 3600)}).record, 0);
    EXPECT_EQ(NetcdfPointData::lastFileTimeStamp(), "20070314_1801");
    // The first time above 0 is the reference time.
    EXPECT_EQ(place(store, {"KDEN"}, {0.0, double(T0 + 3600)}).record, 0);
    EXPECT_EQ(NetcdfPointData::lastFileTimeStamp(), "20070314_1900");
    LogCapture log;
    EXPECT_EQ(place(store, {"KDEN"}, {double(T0), double(T0 + 90000)}).handle, nullptr);
    EXPECT_TRUE(log.contains("Forecast time out of range: 90000 for " + dir)) << log.text();
    const std::string file = dir + "/20070314_1800";
    EXPECT_EQ(readInts(file, "prevRecord"), (std::vector<int>{-1, 0}));
    EXPECT_EQ(readInts(file, "invTime"), (std::vector<int>{T0 + 3600, T0 + 7200}));
    // 3600 s and 7200 s after the start fall into bins 0 and 1 of 3756 s.
    EXPECT_EQ(readInts(file, "globalInventory"), std::vector<int>{3});
}

} // namespace

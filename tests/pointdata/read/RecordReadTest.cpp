// Records read through handles, and record sets filled by time range and by
// id, from stores written with the store's own write path.
#include "ReadFixture.h"

#include "PointRecordSet.h"

#include <filesystem>

namespace {

std::vector<std::string> texts(const SeqOf<TextString>& ids)
{
    std::vector<std::string> out;
    for (int i = 0; i < ids.length(); ++i)
        out.push_back(ids[i].c_str());
    return out;
}

std::vector<int> ints(const SeqOf<int>& s)
{
    return std::vector<int>(s.elements(), s.elements() + s.length());
}

using Strings = std::vector<std::string>;
using Ints = std::vector<int>;

TEST_F(ReadSide, RecordsOfOneFileByRangeIdAndNumber)
{
    NetcdfPointData* store = stationStore();
    ASSERT_NE(store, nullptr);
    NetcdfPointDataInspector in{store};
    SeqOfPtr<int*> handles;
    ASSERT_TRUE(store->getHandlesForTimeRange(range(0, 3599), handles));
    ASSERT_EQ(handles.length(), 1);
    int* h = handles[0];

    int first = -1, count = -1;
    SeqOf<TextString> ids;
    EXPECT_TRUE(store->getRecordRange(range(-100, 4000), h, first, count));
    EXPECT_EQ(Ints({first, count}), Ints({0, 9}));
    EXPECT_TRUE(store->getIdsInTimeRange(range(0, 3599), h, ids, first, count));
    EXPECT_EQ(texts(ids), Strings({"A", "B", "C", "D", "E"})); // E has three records
    EXPECT_EQ(Ints({first, count}), Ints({0, 9}));
    // Bins 5 and 6 hold only the overflow station's three records.
    EXPECT_TRUE(store->getIdsInTimeRange(range(1790, 1810), h, ids, first, count));
    EXPECT_EQ(texts(ids), Strings({"E"}));
    EXPECT_EQ(Ints({first, count}), Ints({4, 5}));
    // Bin 7 holds nothing.
    EXPECT_FALSE(store->getRecordRange(range(2110, 2200), h, first, count));
    EXPECT_FALSE(store->getIdsInTimeRange(range(2110, 2200), h, ids, first, count));

    SeqOf<int> records;
    struct Case {
        const char* id;
        int from, to;
        Ints want;
    };
    for (const Case& c : {Case{"A", 0, 3599, {0, 5, 6}}, Case{"A", 2400, 2400, {5}},
                          Case{"E", 1800, 3599, {7, 8}}, Case{"D", 0, 3599, {3}}}) {
        EXPECT_TRUE(store->getRecordsForId(c.id, range(c.from, c.to), h, records)) << c.id;
        EXPECT_EQ(ints(records), c.want) << c.id;
    }
    EXPECT_TRUE(store->getRecordsInTimeRange(range(1799, 1801), h, records));
    EXPECT_EQ(ints(records), Ints({4, 7, 8}));
    EXPECT_TRUE(store->getRecordsInTimeRange(range(0, 3599), h, records));
    EXPECT_EQ(records.length(), 9);

    ids = SeqOf<TextString>();
    SeqOf<long> times;
    EXPECT_TRUE(store->getRecordIds(h, 4, 3, ids));
    EXPECT_EQ(texts(ids), Strings({"E", "A", "A"}));
    EXPECT_TRUE(store->getRecordTimes(h, 0, 2, times));
    ASSERT_EQ(times.length(), 2);
    EXPECT_EQ(times[1], T0 + 600);
    LogCapture log;
    EXPECT_FALSE(store->getRecordIds(h, 8, 2, ids));
    EXPECT_FALSE(store->getRecordsForId("Z", range(0, 3599), h, records));
    int stray = 0;
    EXPECT_FALSE(store->getRecordTimes(&stray, 0, 1, times));
    EXPECT_TRUE(log.contains("Range of records does not exist in file."));
    EXPECT_TRUE(log.contains("Id Z not present "));
    EXPECT_TRUE(log.contains("Could not find file that handle refers to"));

    float lats[2] = {1, 1}, lons[2] = {1, 1};
    SeqOf<int> firsts(7), counts(2);
    EXPECT_TRUE(store->getLatLons(handles, firsts, counts, lats, lons));
    EXPECT_EQ(lats[0], NC_FILL_FLOAT); // the writer of ids leaves positions to the decoder
    EXPECT_EQ(in.clients(), 1);
    EXPECT_TRUE(store->releaseHandles(handles));
    EXPECT_EQ(in.clients(), 0);
}

TEST_F(ReadSide, AStaticStoreAnswersWithItsFileTime)
{
    std::string path = tree.path("static.nc");
    std::string error;
    ASSERT_TRUE(Cdl::make(idStoreCdl(), path, &error)) << error;
    NetcdfPointData* w = NetcdfPointData::getNetcdfPointData(path.c_str(), true, true);
    ASSERT_NE(w, nullptr);
    EXPECT_NE(place(w, {"A"}, {}).handle, nullptr);
    EXPECT_NE(place(w, {"B"}, {}).handle, nullptr);
    NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(path.c_str(), false, true);
    ASSERT_NE(store, nullptr);

    SeqOfPtr<int*> handles;
    ASSERT_TRUE(store->getHandlesForTimeRange(range(0, 10), handles));
    SeqOf<long> times;
    EXPECT_TRUE(store->getRecordTimes(handles[0], 0, 2, times));
    EXPECT_EQ(std::vector<long>(times.elements(), times.elements() + 2), std::vector<long>({1, 1}));
    SeqOf<TextString> ids;
    int first = -1, count = -1;
    EXPECT_TRUE(store->getIdsInTimeRange(range(0, 10), handles[0], ids, first, count));
    EXPECT_EQ(texts(ids), Strings({"A", "B"}));

    SeqOf<DataTime> dataTimes;
    SeqOf<AbsTime> plain;
    EXPECT_TRUE(store->getStoreDataTimes(dataTimes, 0));
    ASSERT_EQ(dataTimes.length(), 1);
    EXPECT_TRUE(dataTimes[0].isStatic());
    EXPECT_TRUE(store->getIdAbsTimes("B", plain, 0));
    EXPECT_EQ(plain.length(), 1);
    EXPECT_TRUE(store->getIdAbsTimes("Q", plain, 0));
    EXPECT_EQ(plain.length(), 0);
    EXPECT_TRUE(store->getStoreTimes(plain, 0));
    ASSERT_EQ(plain.length(), 1);
    EXPECT_EQ(plain[0].seconds(), 1);
    EXPECT_TRUE(store->releaseHandles(handles));
}

TEST_F(ReadSide, RecordSetsByTimeRangeAndById)
{
    NetcdfPointData* store = stationStore();
    ASSERT_NE(store, nullptr);
    NetcdfPointDataInspector in{store};
    SeqOfPtr<int*> handles;
    ASSERT_TRUE(store->getHandlesForTimeRange(range(-7200, 10000), handles));
    ASSERT_EQ(handles.length(), 3);
    EXPECT_EQ(store->getFileTimeStamp(handles[0]), "20070314_1800");
    EXPECT_EQ(store->getFileTimeStamp(handles[2]), "20070314_2000");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(in.fileInfo(AbsTime(T0 + 3600 * i))->clientCount, 1);
    int* h = handles[0];

    PointRecordSet* all = store->selectTimeRange(range(0, 3599), h, nullptr);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(ints(all->firsts), Ints({0}));
    EXPECT_EQ(ints(all->counts), Ints({9}));
    ASSERT_EQ(all->times.length(), 9);
    for (int i = 0; i < 9; ++i)
        EXPECT_NE(all->times[i], 0) << i;
    EXPECT_EQ(texts(all->ids)[8], "E");

    // Part of bins 5 and 6: the records of those bins, each time tested.
    PointRecordSet* part = store->selectTimeRange(range(1800, 1850), h, nullptr);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(ints(part->firsts), Ints({7}));
    EXPECT_EQ(ints(part->counts), Ints({2}));

    LogCapture log;
    EXPECT_EQ(store->selectTimeRange(range(2110, 2200), h, nullptr), nullptr);
    EXPECT_EQ(store->selectTimeRange(range(2110, 2200), h, all), all);
    EXPECT_EQ(log.count("No records with times in valid range"), 2);
    EXPECT_EQ(all->recordCount(), 9);

    PointRecordSet* a = store->selectIdRecords("A", range(0, 3599), h, nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(ints(a->firsts), Ints({0, 5})); // records 5 and 6 in one slice
    EXPECT_EQ(ints(a->counts), Ints({1, 2}));
    EXPECT_EQ(texts(a->ids), Strings({"A", "A", "A"}));
    EXPECT_EQ(std::vector<long>(a->times.elements(), a->times.elements() + 3),
              std::vector<long>({T0 + 300, T0 + 2400, T0 + 2460}));
    // The same id from the next file goes in front, as its own slice.
    EXPECT_EQ(store->selectIdRecords("A", range(3600, 7199), handles[1], a), a);
    EXPECT_EQ(ints(a->firsts), Ints({0, 0, 5}));
    EXPECT_EQ(store->selectIdRecords("Q", range(0, 3599), h, a), a);
    EXPECT_EQ(a->recordCount(), 4);

    delete all;
    delete part;
    delete a;
    EXPECT_TRUE(store->releaseHandles(handles));
    EXPECT_EQ(in.clients(), 0);

    // The files that hold a station: by its bins, or among the overflow
    // records by their times.
    struct Case {
        const char* id;
        int from, to;
        Strings stamps;
    };
    for (const Case& c : {Case{"A", -7200, 10000, {"20070314_1800", "20070314_1900"}},
                          Case{"A", 2700, 4000, {"20070314_1900"}},
                          Case{"B", 0, 10000, {"20070314_1800", "20070314_2000"}},
                          Case{"E", 0, 1700, {}}, Case{"E", 0, 1799, {"20070314_1800"}},
                          Case{"Q", 0, 10000, {}}}) {
        EXPECT_TRUE(store->getHandlesForId(c.id, range(c.from, c.to), handles)) << c.id;
        Strings stamps;
        for (int i = 0; i < handles.length(); ++i)
            stamps.push_back(store->getFileTimeStamp(handles[i]).c_str());
        EXPECT_EQ(stamps, c.stamps) << c.id << " " << c.from;
        EXPECT_EQ(in.clients(), handles.length());
        EXPECT_TRUE(store->releaseHandles(handles));
    }
    EXPECT_EQ(in.clients(), 0);
}

TEST_F(ReadSide, ARecordSetKeepsItsListsInStepOverFilesWithoutIds)
{
    NetcdfPointData* stations = stationStore();
    // Positions without a key long enough to be one: no record ids.
    NetcdfPointData* w = writer("positions", edited(latLonStoreCdl(), {{"  totalIdLen = 13 ;\n", ""}}));
    ASSERT_TRUE(stations && w);
    EXPECT_NE(placeAt(w, 10.0f, 20.0f, T0 + 60).handle, nullptr);
    EXPECT_NE(placeAt(w, 11.0f, 21.0f, T0 + 120).handle, nullptr);
    NetcdfPointData* positions = reader("positions");
    ASSERT_NE(positions, nullptr);

    SeqOfPtr<int*> h1, h2;
    ASSERT_TRUE(stations->getHandlesForTimeRange(range(0, 3599), h1));
    ASSERT_TRUE(positions->getHandlesForTimeRange(range(0, 3599), h2));
    // Its record times read first: the bookkeeping of such a layout then
    // caches no positions.
    SeqOf<long> recordTimes;
    EXPECT_TRUE(positions->getRecordTimes(h2[0], 0, 2, recordTimes));
    PointRecordSet* set = stations->selectTimeRange(range(0, 3599), h1[0], nullptr);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(positions->selectTimeRange(range(0, 3599), h2[0], set), set);
    EXPECT_EQ(set->recordCount(), 11);
    EXPECT_EQ(set->ids.length(), 11);
    EXPECT_EQ(set->ids[10], "");
    EXPECT_EQ(set->lats.length(), 11);
    EXPECT_EQ(set->lats[10], 11.0f);
    EXPECT_EQ(set->times.length(), 11);
    EXPECT_EQ(set->times[9], T0 + 60);

    float lats[2], lons[2];
    SeqOf<int> firsts(0), counts(2);
    EXPECT_TRUE(positions->getLatLons(h2, firsts, counts, lats, lons));
    EXPECT_EQ(lons[1], 21.0f);
    delete set;
    EXPECT_TRUE(stations->releaseHandles(h1));
    EXPECT_TRUE(positions->releaseHandles(h2));
}

TEST_F(ReadSide, BinsPastTheLastOneAndFilesRemovedUnderAHandle)
{
    // 7 bins of 514 s: the last seconds of the hour lie past bin 6.
    std::string cdl = edited(idStoreCdl(), {{"nInventoryBins = 12", "nInventoryBins = 7"},
                                            {"-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 ;\n"
                                             "  lastInBin = -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1",
                                             "-1, -1, -1, -1, -1, -1, -1 ;\n"
                                             "  lastInBin = -1, -1, -1, -1, -1, -1, -1"}});
    NetcdfPointData* w = writer("sevenBins", cdl);
    ASSERT_NE(w, nullptr);
    EXPECT_NE(place(w, {"A"}, {double(T0 + 3599)}).handle, nullptr);
    EXPECT_NE(place(w, {"A"}, {double(T0 + 3600)}).handle, nullptr);
    NetcdfPointData* store = reader("sevenBins");
    ASSERT_NE(store, nullptr);
    SeqOfPtr<int*> handles;
    ASSERT_TRUE(store->getHandlesForTimeRange(range(0, 7199), handles));
    ASSERT_EQ(handles.length(), 2);
    int first = -1, count = -1;
    EXPECT_TRUE(store->getRecordRange(range(3598, 3599), handles[0], first, count));
    EXPECT_EQ(Ints({first, count}), Ints({0, 1}));
    PointRecordSet* set = store->selectTimeRange(range(3598, 3599), handles[0], nullptr);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->recordCount(), 1);
    delete set;

    // The older file goes while the reader holds its handle: its reads fail
    // cleanly and the handle still comes back once.
    std::filesystem::remove(dirs[0] + "/20070314_1800");
    FakeStoreClock::seconds() += 120;
    SeqOf<int> records;
    EXPECT_FALSE(store->getRecordsInTimeRange(range(0, 3599), handles[0], records));
    EXPECT_FALSE(store->isValidHandle(handles[0]));
    EXPECT_EQ(store->getNcFile(handles[0]), nullptr);
    EXPECT_TRUE(store->isValidHandle(handles[1]));
    EXPECT_FALSE(store->releaseHandle(handles[0]));
    EXPECT_TRUE(store->releaseHandle(handles[1]));
}

} // namespace

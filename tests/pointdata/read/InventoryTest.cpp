// The data times of a station and of a whole store, as DataTime values and
// as plain times, over the files of a store written with its write path.
#include "ReadFixture.h"

#include <filesystem>

namespace {

using Ints = std::vector<int>;

TEST_F(ReadSide, StationTimesFromBinsAndRecords)
{
    NetcdfPointData* store = stationStore();
    ASSERT_NE(store, nullptr);
    SeqOf<DataTime> times;
    SeqOf<AbsTime> plain;
    struct Case {
        const char* id;
        int resolution;
        Ints want;
    };
    for (const Case& c : {
             Case{"A", 300, {300, 2400, 3900}},        // its bins (18:41 shares 18:40's)
             Case{"A", -1, {300, 2400, 2460, 3900}},   // its records
             Case{"B", 0, {600, 7800}},                // two files, the older first
             Case{"E", 3600, {0, 3600}},               // 18:29:59 and 18:30:00 -> 18:00
             Case{"E", -1, {1799, 1800, 1801}},
             Case{"Q", 300, {}}}) {
        EXPECT_TRUE(store->getIdTimes(c.id, times, c.resolution)) << c.id << c.resolution;
        EXPECT_EQ(refTimes(times), c.want) << c.id << " " << c.resolution;
        EXPECT_TRUE(store->getIdAbsTimes(c.id, plain, c.resolution == 0 ? 1 : c.resolution));
        EXPECT_EQ(seconds(plain), c.want) << c.id << " " << c.resolution;
    }
    EXPECT_EQ(times.length(), 0);
    EXPECT_TRUE(store->getIdTimes("A", range(2000, 4000), times, 300));
    EXPECT_EQ(refTimes(times), Ints({2400, 3900}));
    EXPECT_TRUE(store->getIdAbsTimes("A", plain, 0)); // the file period
    EXPECT_EQ(seconds(plain), Ints({0, 3600}));
    EXPECT_FALSE(store->getIdTimes("A", TimeRange(AbsTime(T0), AbsTime(T0)), times, 300));
    EXPECT_TRUE(store->getIdTimes("A", range(90000, 99000), times, 300));
    EXPECT_EQ(times.length(), 0);

    // Known times come back as they are, and new data joins them.
    SeqOf<DataTime> known, again;
    ASSERT_TRUE(store->getIdTimes("B", known, 300));
    EXPECT_TRUE(store->updateIdTimes(&known, "B", again, 300));
    EXPECT_TRUE(again == known);
    EXPECT_NE(place(NetcdfPointData::getNetcdfPointData(dirs[0].c_str(), true, false), {"B"},
                    {double(T0 + 9000)})
                  .handle,
              nullptr);
    FakeStoreClock::seconds() += 120;
    EXPECT_TRUE(store->updateIdTimes(&known, "B", again, 300));
    EXPECT_EQ(refTimes(again), Ints({600, 7800, 9000}));

    // A late report (an older time in a newer record) hides nothing of the
    // window behind it.
    EXPECT_NE(place(NetcdfPointData::getNetcdfPointData(dirs[0].c_str(), true, false), {"E"},
                    {double(T0 + 100)})
                  .handle,
              nullptr);
    FakeStoreClock::seconds() += 120;
    EXPECT_TRUE(store->getIdTimes("E", range(1700, 1900), times, -1));
    EXPECT_EQ(refTimes(times), Ints({1799, 1800, 1801}));
}

TEST_F(ReadSide, AStationScanRestartsOnceAfterAPurge)
{
    NetcdfPointData* store = stationStore();
    ASSERT_NE(store, nullptr);
    std::filesystem::remove(dirs[0] + "/20070314_1800");
    const int paused = FakeStoreClock::paused();
    LogCapture log;
    SeqOf<DataTime> times;
    EXPECT_TRUE(store->getIdTimes("A", times, 300));
    EXPECT_EQ(refTimes(times), Ints({3900}));
    EXPECT_EQ(log.count("File open failed because of normal purge operation"), 1);
    EXPECT_TRUE(log.contains("File access error noted for " + dirs[0] + "/20070314_1800"));
    EXPECT_EQ(FakeStoreClock::paused(), paused); // not the newest file: no pause
}

TEST_F(ReadSide, StoreTimesAtFileBinAndRecordResolution)
{
    NetcdfPointData* store = stationStore();
    ASSERT_NE(store, nullptr);
    SeqOf<DataTime> times;
    SeqOf<AbsTime> plain, plainAgain;
    struct Case {
        int resolution;
        Ints data, plain;
    };
    const Ints records = {300, 600, 900, 1200, 1799, 1800, 1801, 2400, 2460, 3900, 7800};
    for (const Case& c : {
             Case{86400, {21600}, {21600}},  // one day: every file rounds to its midnight
             Case{300, {300, 600, 900, 1200, 1500, 1800, 2400, 3900, 7800},
                  {300, 600, 900, 1200, 1500, 1800, 2400, 3900, 7800}},
             Case{-1, records, records}}) {
        EXPECT_TRUE(store->getStoreDataTimes(times, c.resolution));
        EXPECT_EQ(refTimes(times), c.data) << c.resolution;
        EXPECT_TRUE(store->getStoreTimes(plain, c.resolution));
        EXPECT_EQ(seconds(plain), c.plain) << c.resolution;
    }
    EXPECT_TRUE(store->getStoreTimes(plain, 0));
    EXPECT_TRUE(store->getStoreTimes(plainAgain, 3600));
    EXPECT_EQ(seconds(plain), Ints({0, 3600, 7200}));
    EXPECT_TRUE(plain == plainAgain);
    EXPECT_TRUE(store->getStoreDataTimes(range(1000, 2000), times, 300));
    EXPECT_EQ(refTimes(times), Ints({1200, 1500, 1800}));
    // Records 5 and 6 (18:40) come before records 7 and 8 (18:30).
    EXPECT_TRUE(store->getStoreDataTimes(range(1700, 1900), times, -1));
    EXPECT_EQ(refTimes(times), Ints({1799, 1800, 1801}));
    EXPECT_TRUE(store->getStoreDataTimes(range(90000, 99000), times, 300));
    EXPECT_EQ(times.length(), 0);

    SeqOf<DataTime> known, again;
    ASSERT_TRUE(store->getStoreDataTimes(known, 300));
    EXPECT_TRUE(store->updateStoreDataTimes(&known, again, 300));
    EXPECT_TRUE(again == known);
}

TEST_F(ReadSide, AStoreScanPausesWhenTheNewestFileGoes)
{
    NetcdfPointData* store = stationStore();
    ASSERT_NE(store, nullptr);
    std::filesystem::remove(dirs[0] + "/20070314_2000");
    const int paused = FakeStoreClock::paused();
    LogCapture log;
    SeqOf<DataTime> times;
    EXPECT_TRUE(store->getStoreDataTimes(times, -1));
    EXPECT_EQ(times.length(), 10);
    EXPECT_EQ(FakeStoreClock::paused(), paused + 1);
    EXPECT_TRUE(log.contains("File open failed because of normal purge operation" + dirs[0]));
    EXPECT_TRUE(log.contains("File access error noted for newest file, "));
}

} // namespace

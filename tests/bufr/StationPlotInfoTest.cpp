// Plot-info station tables and the nearest station within a radius.
#include "StationPlotInfo.h"

#include "LogCapture.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

namespace {

void put(PlotInfoTable& t, int id, float lat, float lon, float field6 = 40000.0f)
{
    PlotInfoStation& s = t.stations[t.count++];
    s.id = id;
    s.latitude = lat;
    s.longitude = lon;
    s.field6 = field6;
}

} // namespace

TEST(StationPlotInfo, ReadsLinesAndCachesByName)
{
    TempTree tree;
    std::string path = tree.write("plot/stations.spi",
                                  "72201 KMIA 25.8 -80.3 4 1.0 MIAMI\n"
                                  "72202 KXYZ 26.0 -80.0\n"
                                  "not a station line\n"
                                  "72203 KLONGSHORTN 25.3 -80.3 1 5.0\n"
                                  "72205 KTOOLONGNAME 25.3 -80.3 1 5.0\n"
                                  "72204 KAB\n");
    const PlotInfoTable* table = readStaticPlotInfoPV(path.c_str());
    ASSERT_EQ(table->count, 3);    // the lines that do not scan are left out
    const PlotInfoStation& miami = table->stations[0];
    EXPECT_EQ(miami.id, 72201);
    EXPECT_STREQ(miami.shortName, "KMIA");
    EXPECT_STREQ(miami.longName, "MIAMI");
    EXPECT_FLOAT_EQ(miami.latitude, 25.8f);
    EXPECT_FLOAT_EQ(miami.longitude, -80.3f);
    EXPECT_EQ(miami.field5, 4);
    EXPECT_FLOAT_EQ(miami.field6, 1.0f);

    const PlotInfoStation& four = table->stations[1];
    EXPECT_STREQ(four.longName, "KXYZ");
    EXPECT_EQ(four.field6, 40000.0f);
    EXPECT_EQ(four.field5, 0);

    const PlotInfoStation& six = table->stations[2];
    EXPECT_STREQ(six.shortName, "KLONGSHORTN");
    EXPECT_STREQ(six.longName, "KLONGSHORTN");
    EXPECT_EQ(table->maxShortNameLength, 11);

    EXPECT_EQ(table->names.count(), 2);
    void* record = nullptr;
    EXPECT_TRUE(table->names.find("MIAMI", nullptr, &record));
    EXPECT_EQ(record, &miami);
    EXPECT_TRUE(table->names.find("KLONGSHORTN"));
    EXPECT_FALSE(table->names.find("KXYZ"));

    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(readStaticPlotInfoPV(path.c_str()), table);
}

TEST(StationPlotInfo, UnreadableFileGivesTheEmptyTable)
{
    TempTree tree;
    std::string path = tree.path("plot/later.spi");
    const PlotInfoTable* empty = nullptr;
    {
        LogCapture err;
        empty = readStaticPlotInfoPV(path.c_str());
        EXPECT_TRUE(err.contains("could not open " + path + "\nfor reading in "
                                 "::readStaticPlotInfoPV\n"));
    }
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count, 0);
    const float point[2] = {25.8f, -80.3f};
    EXPECT_EQ(findStationInRadius(*empty, point, 500.0f, 0.0f), nullptr);

    tree.write("plot/later.spi", "72201 KMIA 25.8 -80.3\n");
    const PlotInfoTable* table = readStaticPlotInfoPV(path.c_str());
    EXPECT_NE(table, empty);
    EXPECT_EQ(table->count, 1);
}

TEST(StationPlotInfo, NearestStationWithinRadius)
{
    PlotInfoTable t(8);
    put(t, 1, 10.5f, 20.0f);           // 0.5 degree north
    put(t, 2, 11.01f, 20.0f);          // beyond one degree
    const float point[2] = {10.0f, 20.0f};
    const PlotInfoStation* s = findStationInRadius(t, point, 111.1f, 0.0f);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->id, 1);
    t.stations[0].latitude = 11.02f;
    EXPECT_EQ(findStationInRadius(t, point, 111.1f, 0.0f), nullptr);

    // Equal distance: the later record wins; field6 below the minimum never.
    PlotInfoTable tie(4);
    put(tie, 1, 10.25f, 20.0f);
    put(tie, 2, 9.75f, 20.0f);
    put(tie, 3, 10.0f, 20.1f, 5.0f);
    s = findStationInRadius(tie, point, 111.1f, 10.0f);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->id, 2);
    EXPECT_EQ(findStationInRadius(tie, point, 111.1f, 0.0f)->id, 3);

    // Longitude differences shrink with the cosine of the latitude.
    PlotInfoTable north(2);
    put(north, 7, 60.0f, 21.8f);       // 1.8 degrees east, 0.9 scaled
    const float at60[2] = {60.0f, 20.0f};
    EXPECT_NE(findStationInRadius(north, at60, 111.1f, 0.0f), nullptr);
    const float at10[2] = {10.0f, 20.0f};
    north.stations[0].latitude = 10.0f;
    EXPECT_EQ(findStationInRadius(north, at10, 111.1f, 0.0f), nullptr);
}

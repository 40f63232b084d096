// The small queries of a store, the bin times of an inventory, and the
// nearest record and id position of the selected file.
#include "ReadFixture.h"

#include <filesystem>

namespace {

// The station layout with forecasts 0, 1 and 2 hours and its positions in
// variables of other names.
std::string forecastCdl()
{
    return edited(idStoreCdl(), {{"  staNameLen = 6 ;\n", "  staNameLen = 6 ;\n  nFcst = 3 ;\n"},
                                 {"float latitude(recNum)", "float staLat(recNum)"},
                                 {"float longitude(recNum)", "float staLon(recNum)"},
                                 {"  :cdlDate", "  :latLonVars = \"staLat,staLon\" ;\n"
                                                "  :have_forecasts = \"nFcst\" ;\n"
                                                "  :forecast_list = \"0,3600,7200\" ;\n  :cdlDate"}});
}

TEST_F(ReadSide, HandleForecastAndVariableQueries)
{
    NetcdfPointData* w = writer("forecasts", forecastCdl());
    ASSERT_NE(w, nullptr);
    // A store with forecasts names each file by its first time.
    EXPECT_NE(place(w, {"A"}, {double(T0)}).handle, nullptr);
    EXPECT_NE(place(w, {"A"}, {double(T0 + 3600)}).handle, nullptr);
    NetcdfPointData* store = reader("forecasts");
    ASSERT_NE(store, nullptr);
    SeqOfPtr<int*> handles;
    ASSERT_TRUE(store->getHandlesForTimeRange(range(0, 7199), handles));
    ASSERT_EQ(handles.length(), 2);
    int* h = handles[0];
    EXPECT_TRUE(store->isValidHandle(h));
    EXPECT_NE(store->getNcFile(h), nullptr);
    int stray = 3;
    EXPECT_FALSE(store->isValidHandle(&stray));
    EXPECT_EQ(store->getFileTimeStamp(&stray), "");

    bool has = false;
    AbsTime fileTime;
    struct Case {
        int offset, index;
    };
    for (Case c : {Case{-1, -1}, Case{0, 0}, Case{1800, 0}, Case{3600, 1}, Case{7200, 2},
                   Case{7201, -1}}) {
        EXPECT_EQ(store->getForecastIndex(h, AbsTime(T0 + c.offset), has, fileTime), c.index)
            << c.offset;
        EXPECT_TRUE(has);
    }
    EXPECT_EQ(fileTime.seconds(), T0);
    EXPECT_EQ(store->getForecastIndex(&stray, AbsTime(T0), has, fileTime), 0);
    EXPECT_FALSE(has);

    SeqOf<TextString> names = store->getTimeVariableNames();
    ASSERT_EQ(names.length(), 1);
    EXPECT_EQ(names[0], "timeObs");
    names = store->getIdVariableNames();
    ASSERT_EQ(names.length(), 1);
    EXPECT_EQ(names[0], "stationId");

    SeqOf<int> ids, dims;
    int type = 0;
    EXPECT_TRUE(store->getVariableInfo("latitude", handles, ids, type, dims));
    ASSERT_EQ(ids.length(), 1); // one layout: one id
    EXPECT_EQ(type, NC_FLOAT);
    EXPECT_EQ(dims.length(), 0);
    int ncid = *h, staLat = -1;
    ASSERT_EQ(nc_inq_varid(ncid, "staLat", &staLat), NC_NOERR);
    EXPECT_EQ(ids[0], staLat);
    EXPECT_TRUE(store->getVariableInfo("stationId", handles, ids, type, dims));
    EXPECT_EQ(type, NC_CHAR);
    EXPECT_EQ(dims.length(), 1);
    EXPECT_EQ(dims[0], 6);
    EXPECT_FALSE(store->getVariableInfo("nothing", handles, ids, type, dims));
    EXPECT_FALSE(store->getVariableInfo("inventory", handles, ids, type, dims));

    // Bin times of the first file: each hour of data expanded over the
    // forecasts.
    NetcdfPointDataInspector in{store};
    SeqOf<DataTime> times;
    store->appendBinDataTimes(in.fileInfo(AbsTime(T0)), 3600, 1, nullptr, times);
    ASSERT_EQ(times.length(), 3);
    EXPECT_EQ(times[2].fcstPeriod(), 7200);
    EXPECT_EQ(times[2].flags(), 0x700u);
    EXPECT_TRUE(store->releaseHandles(handles));
}

TEST_F(ReadSide, BinTimesOfOneBinAndOfBinRows)
{
    NetcdfPointData* w = writer("positions", latLonStoreCdl());
    ASSERT_NE(w, nullptr);
    EXPECT_NE(placeAt(w, 1.0f, 2.0f, T0 + 2000).handle, nullptr);
    NetcdfPointData* store = reader("positions");
    ASSERT_NE(store, nullptr);
    NetcdfPointDataInspector in{store};
    PointNetcdfFileInfo* file = in.fileInfo(AbsTime(T0));
    ASSERT_NE(file, nullptr);
    // Fewer than two bins: the file time, whatever the bits say.
    SeqOf<DataTime> dataTimes;
    store->appendBinDataTimes(file, 3600, 0, nullptr, dataTimes);
    EXPECT_EQ(refTimes(dataTimes), std::vector<int>({0}));
    SeqOf<AbsTime> times;
    store->appendBinTimes(file, 3600, 1, nullptr, times);
    EXPECT_EQ(seconds(times), std::vector<int>({0}));

    // Twelve bins of 300 s, rounded to an hour they repeat; a row of zeros
    // lists nothing.
    NetcdfPointData* stations = stationStore();
    ASSERT_NE(stations, nullptr);
    PointNetcdfFileInfo* hourly = NetcdfPointDataInspector{stations}.fileInfo(AbsTime(T0));
    const char row[12] = {0, '1', '1', 0, 0, 0, 0, 0, 0, 0, 0, '1'};
    const char none[12] = {};
    SeqOf<DataTime> rowTimes;
    stations->appendCharBinDataTimes(hourly, 300, row, nullptr, rowTimes);
    EXPECT_EQ(refTimes(rowTimes), std::vector<int>({300, 600, 3300}));
    rowTimes = SeqOf<DataTime>();
    stations->appendCharBinDataTimes(hourly, 3600, row, nullptr, rowTimes);
    EXPECT_EQ(refTimes(rowTimes), std::vector<int>({0, 3600}));
    stations->appendCharBinDataTimes(hourly, 300, none, nullptr, rowTimes);
    EXPECT_EQ(rowTimes.length(), 2);
    times = SeqOf<AbsTime>();
    TimeRange window = range(500, 4000);
    stations->appendBinTimes(hourly, 300, 0x806, &window, times);
    EXPECT_EQ(seconds(times), std::vector<int>({600, 3300}));
}

TEST_F(ReadSide, NearestRecordAndIdPosition)
{
    NetcdfPointData* w = writer("positions", latLonStoreCdl());
    ASSERT_NE(w, nullptr);
    for (float lat : {10.0f, 11.0f, 9.0f})
        EXPECT_NE(placeAt(w, lat, 20.0f, T0 + 100).handle, nullptr);
    EXPECT_NE(placeAt(w, 50.0f, 50.0f, T0 + 3700).handle, nullptr);
    NetcdfPointData* store = reader("positions");
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(store->selectFile(1)); // the 18:00 file

    float km = 0;
    LatLonCoord at(10.0f, 20.0f);
    TextString exact = store->nearestPoint(at, 0.0f, &km);
    EXPECT_EQ(exact.length(), 12);
    EXPECT_EQ(km, 0.0f);
    // Half-way between records 0 and 1: the later one.
    at = LatLonCoord(10.5f, 20.0f);
    TextString tie = store->nearestPoint(at, 100.0f, &km);
    EXPECT_NE(tie, exact);
    EXPECT_EQ(at.lat, 11.0f);
    EXPECT_NEAR(km, 55.55f, 0.01f);
    at = LatLonCoord(50.0f, 50.0f);
    EXPECT_EQ(store->nearestPoint(at, 10.0f, &km), "");
    EXPECT_EQ(km, 1e37f);
    EXPECT_EQ(at.lat, 50.0f);

    EXPECT_EQ(store->getIdLocation(tie, false).lat, 11.0f);
    TextString upper = exact;
    upper.toUpper(); // the keys are lower-case hexadecimal
    EXPECT_EQ(store->getIdLocation(upper, false).lat, 1e12f);
    EXPECT_EQ(store->getIdLocation(upper, true).lat, 10.0f);
    EXPECT_EQ(upper, exact);

    // The newest file goes: the index past the files is set back to 0, and
    // only that call finds nothing.
    std::filesystem::remove(dirs[0] + "/20070314_1900");
    FakeStoreClock::seconds() += 120;
    at = LatLonCoord(10.0f, 20.0f);
    EXPECT_EQ(store->nearestPoint(at, 1.0f, nullptr), "");
    EXPECT_EQ(store->nearestPoint(at, 1.0f, nullptr), exact);
}

} // namespace

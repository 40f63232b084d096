// What the read-side tests share: stores written with the store's own write
// path into real files, then read back through a read-only store of the same
// directory, as the system's other programs read them.
#ifndef READFIXTURE_H
#define READFIXTURE_H

#include "../PointDataTestSupport.h"

#include "LogCapture.h"
#include "TempTree.h"

#include <string>
#include <vector>

const int T0 = 1173895200; // 2007-03-14 18:00:00 UTC, the first file's time

// One record of a test: station, seconds after T0.
struct Obs {
    const char* id;
    int offset;
};

// The station store's records: A..D fill the static table, E overflows it.
// The 18:00 file holds records 0..8 (bins 1-6 and 8), 19:00 and 20:00 one
// each.
inline const std::vector<Obs>& stationRecords()
{
    static const std::vector<Obs> records = {
        {"A", 300},  {"B", 600},  {"C", 900},  {"D", 1200}, {"E", 1799},
        {"A", 2400}, {"A", 2460}, {"E", 1800}, {"E", 1801}, {"A", 3900}, {"B", 7800}};
    return records;
}

class ReadSide : public ::testing::Test {
protected:
    void SetUp() override { QEV_REQUIRE_NCGEN(); }

    // A directory with a template made from the CDL, and its writing store.
    NetcdfPointData* writer(const std::string& name, const std::string& cdl)
    {
        std::string dir = tree.mkdirs(name);
        std::string error;
        EXPECT_TRUE(Cdl::make(cdl, dir + "/template", &error)) << error;
        dirs.push_back(dir);
        return NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false);
    }

    NetcdfPointData* reader(const std::string& name)
    {
        return NetcdfPointData::getNetcdfPointData(tree.path(name).c_str(), false, false);
    }

    // The station store written and a reader of it.
    NetcdfPointData* stationStore(const std::string& name = "stations",
                                  const std::string& cdl = idStoreCdl())
    {
        NetcdfPointData* w = writer(name, cdl);
        EXPECT_NE(w, nullptr);
        LogCapture overflowMessages;
        for (const Obs& o : stationRecords())
            EXPECT_NE(place(w, {o.id}, {double(T0 + o.offset)}).handle, nullptr);
        return reader(name);
    }

    // A record of a store keyed by position.
    static Placed placeAt(NetcdfPointData* store, float lat, float lon, double t)
    {
        Placed p;
        SeqOf<double> times(t);
        p.handle = store->getFileHandleAndRecord(LatLonCoord(lat, lon), times, p.record, p.isNew);
        if (p.handle) {
            EXPECT_TRUE(store->releaseHandle(p.handle));
        }
        return p;
    }

    static TimeRange range(int from, int to)
    {
        return TimeRange(AbsTime(T0 + from), AbsTime(T0 + to), true);
    }

    static std::vector<int> seconds(const SeqOf<AbsTime>& times)
    {
        std::vector<int> out;
        for (int i = 0; i < times.length(); ++i)
            out.push_back(times[i].seconds() - T0);
        return out;
    }

    // Reference times (after T0) of a DataTime list.
    static std::vector<int> refTimes(const SeqOf<DataTime>& times)
    {
        std::vector<int> out;
        for (int i = 0; i < times.length(); ++i)
            out.push_back(times[i].refTime().seconds() - T0);
        return out;
    }

    TempTree tree;
    FakeStoreClock clock;
    std::vector<std::string> dirs;
};

#endif

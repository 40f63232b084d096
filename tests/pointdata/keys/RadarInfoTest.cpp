// The radar information dictionary: records by message code, by product
// code with its preference order, and by position.
#include "KeyFiles.h"

#include "DM_RadarInfo.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

namespace {

TEST(RadarInfo, SkipsShortLinesAndKeepsTheLastOfAKey)
{
    LogCapture log;
    DM_RadarInfo::loadDictionary();
    EXPECT_EQ(log.count("Too few fields at line 8 in file " + keyFilesDirectory() +
                        "/radarInfo.txt"),
              1);
    // The short line's key is absent, the lines after it are read; the
    // second line of key 90 replaced the first.
    EXPECT_EQ(DM_RadarInfo::count(), 8);
    EXPECT_EQ(DM_RadarInfo(70).key(), -1);
    EXPECT_EQ(DM_RadarInfo(90).text5(), "new");
}

TEST(RadarInfo, ReadsFieldsAndFlags)
{
    DM_RadarInfo r(94);
    EXPECT_EQ(r.int2(), 230);
    EXPECT_FLOAT_EQ(r.float3(), 0.5f);
    EXPECT_EQ(r.text12(), "note");
    EXPECT_EQ(r.keltuid(), 19);
    // Only the exact text y is true: y, Y, yes, n; then n, n, n, y.
    const bool flags8[] = {true, false, false, false};
    const bool flags13[] = {false, false, false, true};
    for (int i = 0; i < DM_RadarInfo::FLAG_COUNT; ++i) {
        EXPECT_EQ(r.flag8(i), flags8[i]) << i;
        EXPECT_EQ(r.flag13(i), flags13[i]) << i;
    }
}

TEST(RadarInfo, PrefersRecordsOfAProductCode)
{
    // Equal _int1 and _int4: the greater _int2 wins.
    EXPECT_EQ(DM_RadarInfo::byKeltuid(27).key(), 51);
    // A full tie: the first in positional order.
    int first = -1;
    for (int i = 0; i < DM_RadarInfo::count() && first < 0; ++i) {
        int key = DM_RadarInfo::at(i).key();
        if (key == 60 || key == 61)
            first = key;
    }
    EXPECT_EQ(DM_RadarInfo::byKeltuid(28).key(), first);
}

TEST(RadarInfo, GivesTheNotFoundRecord)
{
    LogCapture log;
    DM_RadarInfo missing(4242);
    EXPECT_EQ(missing.key(), -1);
    EXPECT_EQ(missing.float3(), -1.0f);
    EXPECT_EQ(missing.keltuid(), -1);
    EXPECT_TRUE(log.contains("Unable to read MessageCode 4242 from dictionary"));
    EXPECT_EQ(DM_RadarInfo::byKeltuid(4343).int1(), -1);
    EXPECT_TRUE(log.contains("Unable to read keltuid 4343 from dictionary"));
    EXPECT_EQ(DM_RadarInfo::at(DM_RadarInfo::count()).key(), 0);
    EXPECT_TRUE(log.contains("invalid index in Dict<K,V>::validIndex()"));
}

} // namespace

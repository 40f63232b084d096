// The data-access dictionary: its own process, since the dictionary is
// loaded once per process.  Every test sees the same dictionary file, put
// along the search path before the first use, behind an override name that
// does not exist.
#include "DM_DataAccessInfo.h"

#include "LogCapture.h"
#include "NetcdfPointData.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

const char* const DICTIONARY =
    "1001|dir|1|-1|4|5,2.5|-6,3|point/acars/netcdf|||acars\n"
    "1002|file|0x1c|240|7|0|3600|data|pre|.txt|fileKey\n"
    "1003|octal|010|241|0|0|0|a,b|||dirs\n"
    "1004|hex|0x1F|0|0|0|0||||hexF\n"
    "1005|letters|DV|0|0|0|0|1001|||dv\n"
    "7|single|3|1|0|0|0|dir|||seven\n"
    "2001|spi|3|0|0|0|0|d|a|.spi|s\n"
    "2002|lpi|3|0|0|0|0|d|a|.lpi|l\n"
    "2003|bcd|3|0|0|0|0|d|a|.bcd|b\n"
    "2004|bcx|3|0|0|0|0|d|a|.bcx|x\n"
    "5000|pairs|V|0|0|0|0|p500,1001,p700,1002|||pairs\n"
    "5001|keys|D|0|0|0|0|1001, 1002|||keys\n"
    "5002|value first|F|0|0|0|0|850.,1001|||valueFirst\n"
    "5003|relative|V|0|0|0|0|+2,+a,-1|||relative\n"
    "5004|trailing p|V|0|0|0|0|1001,p9|||trailingP\n"
    "5005|two p|V|0|0|0|0|p500,p700|||twoP\n"
    "6000|cycleA|V|0|0|0|0|6001,7|||cycleA\n"
    "6001|cycleB|V|0|0|0|0|6000|||cycleB\n"
    "9|short|1|2|3\n";

class DataAccessInfo : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string dir = std::string(getenv("QEV_HOME")) + "/data";
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/dataInfo.txt") << DICTIONARY;
        DM_DataAccessInfo::setDictionaryOverride("noSuchDataInfo.txt");
    }
};

std::vector<unsigned long> keys(const SeqOf<unsigned long>& s)
{
    return std::vector<unsigned long>(s.elements(), s.elements() + s.length());
}

std::vector<float> values(const SeqOf<float>& s)
{
    return std::vector<float>(s.elements(), s.elements() + s.length());
}

TEST_F(DataAccessInfo, LoadsTheDefaultBehindAMissingOverride)
{
    LogCapture log;
    EXPECT_EQ(DM_DataAccessInfo::keyCount(), 19);
    EXPECT_TRUE(log.contains("Overriding default data access info with noSuchDataInfo.txt"));
    EXPECT_EQ(DM_DataAccessInfo::keyAt(0), 1001u);
    EXPECT_NE(DM_DataAccessInfo::dictionary(), nullptr);
}

TEST_F(DataAccessInfo, ReadsKindsNumbersAndViews)
{
    struct Case {
        unsigned long key;
        int kind;
        int filePeriodSeconds;
        int interval;
        int offset;
        int fileClass;
    };
    const Case cases[] = {
        {1001, 1, 86400, -6, 3, 5}, {1002, 28, 864000, 3600, 0, 3}, {1003, 8, 241, 0, 0, 6},
        {1004, 2, 0, 0, 0, 4},      {1005, 0, 0, 0, 0, 4},          {2001, 3, 0, 0, 0, 0},
        {2002, 3, 0, 0, 0, 1},      {2003, 3, 0, 0, 0, 2},          {2004, 3, 0, 0, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        DM_DataAccessInfo info(c.key);
        EXPECT_EQ(info.key(), c.key);
        EXPECT_EQ(info.kind(), c.kind);
        EXPECT_EQ(info.filePeriodSeconds(), c.filePeriodSeconds);
        EXPECT_EQ(info.interval(), c.interval);
        EXPECT_EQ(info.offset(), c.offset);
        EXPECT_EQ(info.fileClass(), c.fileClass);
    }
    DM_DataAccessInfo acars(1001);
    EXPECT_EQ(acars.directory(), "point/acars/netcdf");
    EXPECT_EQ(acars.param4Bit2() * 10 + acars.param4Bit0(), 10);
    EXPECT_EQ(acars.param5SecondAsInt(), 2);
    DM_DataAccessInfo file(1002);
    EXPECT_EQ(file.staticPath(), "pre.txt");
    EXPECT_EQ(file.param5ValueOrMissing(), 1e37f);
}

TEST_F(DataAccessInfo, ReadsMemberLists)
{
    struct Case {
        unsigned long key;
        std::vector<unsigned long> keys;
        std::vector<float> values;
    };
    const Case cases[] = {
        {5000, {1001, 1002}, {500, 700}},
        {5001, {1001, 1002}, {}},
        {5002, {0, 1001}, {850}},
        {5003, {5005, 5013, 5002}, {}},
        {5004, {1001, 1001}, {1e37f, 9}},
        {5005, {1}, {500}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        DM_DataAccessInfo info(c.key);
        EXPECT_TRUE(info.hasKeyList());
        EXPECT_EQ(keys(info.keyList()), c.keys);
        EXPECT_EQ(values(info.valueList()), c.values);
        EXPECT_EQ(info.directory(), "");
    }
}

TEST_F(DataAccessInfo, ExpandsKeysAndStopsAtCycles)
{
    LogCapture log;
    std::unique_ptr<SeqOf<unsigned long>> single(DM_DataAccessInfo(7).expandKeys());
    EXPECT_EQ(keys(*single), std::vector<unsigned long>{7});
    std::unique_ptr<SeqOf<unsigned long>> members(DM_DataAccessInfo(5001).expandKeys());
    EXPECT_EQ(keys(*members), (std::vector<unsigned long>{1001, 1002}));
    std::unique_ptr<SeqOf<unsigned long>> cycle(DM_DataAccessInfo(6000).expandKeys());
    EXPECT_EQ(keys(*cycle), std::vector<unsigned long>{7});
    EXPECT_EQ(log.count("leads back to"), 1);

    DM_DataAccessInfo missing(424242);
    EXPECT_EQ(missing.key(), 0u);
    EXPECT_TRUE(log.contains("Unable to read DataAccessKey 424242 from dictionary"));
    std::unique_ptr<SeqOf<unsigned long>> none(missing.expandKeys());
    EXPECT_EQ(none->length(), 0);

    EXPECT_EQ(DM_DataAccessInfo(9).key(), 0u);
    EXPECT_TRUE(log.contains("Too few fields for key: 9 Num fields: 5"));
}

TEST_F(DataAccessInfo, FetchesStoresByKey)
{
    LogCapture log;
    EXPECT_EQ(NetcdfPointData::getNetcdfPointDataForKey(424242, true), nullptr);
    EXPECT_TRUE(log.contains("Error in DM_DataAccessInfo constructor"));
    EXPECT_EQ(NetcdfPointData::getNetcdfPointDataForKey(1002, false), nullptr);
    EXPECT_TRUE(log.contains("Could not find static file pre.txt"));
    // The directory of the entry below QEV_DATA: no template there.
    EXPECT_EQ(NetcdfPointData::getNetcdfPointDataForKey(1001, true), nullptr);
    EXPECT_TRUE(log.contains("/point/acars/netcdf/template in openNetCdfFile"));
}

} // namespace

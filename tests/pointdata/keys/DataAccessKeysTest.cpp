// Keys by source name and by key name, and the paths and file times of keys.
#include "KeyFiles.h"

#include "LogCapture.h"
#include "TempTree.h"
#include "dmDataAccessKeys.h"
#include "dmDataPaths.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const AbsTime T1800(2007, 3, 14, 18, 0, 0);

TEST(DataAccessKeys, ChoosesKeysBySourceName)
{
    struct Case {
        DataAccessKey (*fn)(const TextString&);
        const char* source;
        DataAccessKey key;
    };
    const Case cases[] = {
        {dmModelSourceKey, "ETA", 10001}, {dmModelSourceKey, "AVN", 10002},
        {dmModelSourceKey, "eta", 0},     {dmModelSourceKey, "NGM", 0},
        {dmSourceKey450, "LOCAL", 451},   {dmSourceKey450, "PZT", 0},
        {dmSourceKey420, "PZT", 421},     {dmSourceKey350, "VXD", 350},
        {dmSourceKey301, "PZT", 302},     {dmSourceKey401, "", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.fn(c.source), c.key) << c.source;
}

TEST(DataAccessKeys, FindsKeysByNameWithinTheirGroup)
{
    EXPECT_EQ(dmKeyByName9000("QRSTUV"), 9001u);
    EXPECT_EQ(dmKeyByName9000("base9000"), 9000u);
    EXPECT_EQ(dmKeyByName9000("dupName"), 9501u);
    // Held by 8999 and 10000: other groups.
    EXPECT_EQ(dmKeyByName9000("groupName"), 0u);
    EXPECT_EQ(dmKeyByName11000("elevenName"), 11005u);
    EXPECT_EQ(dmKeyByName11000("QRSTUV"), 0u);
}

TEST(DataAccessKeys, MakesTemplateNames)
{
    struct Case {
        int number;
        const char* name;
    };
    const Case cases[] = {{0, "/d/ptemplate00.nc"},
                          {100, "/d/ptemplate00.nc"},
                          {-1, "/d/ptemplate.nc"},
                          {7, "/d/ptemplate07.nc"},
                          {104, "/d/ptemplate04.nc"}};
    for (const Case& c : cases)
        EXPECT_EQ(dmMakeTemplateFileName("/d", "p", ".nc", c.number), c.name) << c.number;
}

TEST(DataAccessKeys, BuildsPathsBelowTheDataRoot)
{
    TempTree tree;
    TextString data = tree.qevData().c_str();
    EXPECT_EQ(dmDataDirectory(100), data + "/point/x/netcdf");
    EXPECT_EQ(dmTemplateFileName(100, -1), data + "/point/x/netcdf/template");
    EXPECT_EQ(dmTemplateFileName(100, 3), data + "/point/x/netcdf/template03");
    EXPECT_EQ(dmDataFileName(100, T1800), data + "/point/x/netcdf/20070314_1800");
    // The static form: the file along the search path, or the data file.
    EXPECT_EQ(dmDataFileName(101, T1800, true), TextString((keyFilesDirectory() + "/x.spi").c_str()));
    EXPECT_EQ(dmDataFileName(101, T1800, false), data + "/grid/s/x20070314_1800.spi");
    EXPECT_EQ(dmDataFileName(102, T1800, true), data + "/grid/n/20070314_1800.spi");

    LogCapture log;
    EXPECT_EQ(dmDataFileName(103, T1800, true), "");
    EXPECT_TRUE(log.contains("Could not find static file y.spi"));
    EXPECT_EQ(dmDataDirectory(424242), "");
    EXPECT_TRUE(log.contains("Error in DM_DataAccessInfo constructor"));
    EXPECT_EQ(dmKeyFileTimes(424242), nullptr);
}

TEST(DataAccessKeys, RefusesAnUnsetOrEmptyDataRoot)
{
    TempTree tree;
    for (const char* value : {"", static_cast<const char*>(nullptr)}) {
        tree.setEnv("QEV_DATA", value);
        LogCapture log;
        EXPECT_EQ(dmDataDirectory(100), "");
        EXPECT_EQ(dmTemplateFileName(100, 0), "");
        EXPECT_EQ(dmDataFileName(100, T1800), "");
        EXPECT_EQ(dmKeyFileTimes(100), nullptr);
        Set<AbsTime> times;
        dmKeyFileTimes(100, false, times);
        EXPECT_EQ(times.count(), 0);
        EXPECT_EQ(log.count("Env var QEV_DATA not defined"), 5);
        // A static file needs no data root.
        std::unique_ptr<SeqOf<AbsTime>> fixed(dmKeyFileTimes(101, true));
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->length(), 1);
    }
}

TEST(DataAccessKeys, ListsFileTimes)
{
    TempTree tree;
    tree.write("qev_data/grid/s/x20070314_1800.spi", "");
    tree.write("qev_data/grid/s/x20070314_1900.spi", "");
    tree.write("qev_data/grid/n/20070314_1700.spi", "");

    // A static key: the one time 1 without looking at its (missing)
    // directory; listed without the static form.
    std::unique_ptr<SeqOf<AbsTime>> fixed(dmKeyFileTimes(101, true));
    ASSERT_EQ(fixed->length(), 1);
    EXPECT_EQ((*fixed)[0], AbsTime(1));
    std::unique_ptr<SeqOf<AbsTime>> listed(dmKeyFileTimes(101));
    ASSERT_EQ(listed->length(), 2);
    EXPECT_EQ((*listed)[0], T1800 + 3600);
    EXPECT_EQ((*listed)[1], T1800);
    // Without a prefix the directory is listed even in the static form.
    std::unique_ptr<SeqOf<AbsTime>> noPrefix(dmKeyFileTimes(102, true));
    ASSERT_EQ(noPrefix->length(), 1);
    EXPECT_EQ((*noPrefix)[0], T1800 - 3600);

    Set<AbsTime> times;
    dmKeyFileTimes(101, false, times);
    dmKeyFileTimes(101, true, times);
    EXPECT_EQ(times.count(), 3);
    EXPECT_TRUE(times.find(AbsTime(1)));
}

} // namespace

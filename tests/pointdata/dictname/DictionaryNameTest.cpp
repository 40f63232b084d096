// The data-access dictionary under a configured name: its own process, since
// the configuration and the dictionary are read once per process.  The file
// and the override files of keys missing from it are found under the name
// "DataAccessInfo.dictName" gives.
#include "Config.h"
#include "DM_DataAccessInfo.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

TEST(DataAccessDictionaryName, FileAndOverrideFilesFollowTheConfiguredName)
{
    TempTree tree;
    tree.setEnv("FILE_SERVER_DEFAULT_PATHS", nullptr);
    tree.setEnv("QEV_LOCALIZATION_ROOT", tree.path("nowhere").c_str());
    tree.setEnv("QEV_NATL_CONFIG_DATA", tree.path("nowhere").c_str());
    tree.write("qev_home/data/qev.config", "TextString = dictName\n"
                                           "DataAccessInfo.dictName : siteAccess\n");
    tree.write("qev_home/data/siteAccess.txt", "1001|dir|1|-1|4|5|3600|point/a/netcdf|||a\n");
    // The default name's file is there too, and must not be the one read.
    tree.write("qev_home/data/dataInfo.txt", "1002|dir|1|-1|4|5|3600|point/b/netcdf|||b\n");
    ASSERT_NE(Config::instance(), nullptr);

    // A key the file lacks, from its override file (unique to this run).
    const unsigned long missing = 3000000000ul + static_cast<unsigned long>(getpid()) % 1000000;
    const std::string overrideOf = "/tmp/" + std::to_string(missing) + ".";
    std::ofstream(overrideOf + "siteAccess")
        << missing << "|tmp|1|-1|4|5|3600|point/tmp/netcdf|||tmp\n";
    std::ofstream(overrideOf + "dataInfo") << missing << "|wrong|1|-1|4|5|3600|wrong|||wrong\n";

    EXPECT_EQ(DM_DataAccessInfo::keyCount(), 1);
    EXPECT_EQ(DM_DataAccessInfo::keyAt(0), 1001u);
    DM_DataAccessInfo fromOverride(missing);
    EXPECT_EQ(fromOverride.key(), missing);
    EXPECT_EQ(fromOverride.directory(), "point/tmp/netcdf");
    EXPECT_TRUE(fromOverride.isTemporary());
    std::remove((overrideOf + "siteAccess").c_str());
    std::remove((overrideOf + "dataInfo").c_str());
}

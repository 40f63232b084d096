// The process's configuration: "qev.config" found along the information-file
// search path ($QEV_HOME/data/) on the first Config::instance() call, with
// the keys the messaging layer and the point-data store read.  Config is
// read once per process, so the file is in place before any test runs.
#include "../ConfigValueText.h"
#include "Config.h"
#include "LogCapture.h"
#include "TempTree.h"

#include <gtest/gtest.h>

namespace {

class ConfigEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        tree = new TempTree();
        tree->setEnv("FILE_SERVER_DEFAULT_PATHS", nullptr);
        tree->setEnv("QEV_LOCALIZATION_ROOT", tree->path("nowhere").c_str());
        tree->setEnv("QEV_NATL_CONFIG_DATA", tree->path("nowhere").c_str());
        tree->write("qev_home/data/qev.config",
                    "// the keys other layers read\n"
                    "int = numBytes, numMins\n"
                    "SeqOfTextString = namedTargets\n"
                    "TextString = dictName\n"
                    "SocketBufferSize.numBytes : 65536\n"
                    "SocketConnectionTimeout.numMins : 3\n"
                    "SocketConnection.namedTargets : NOTIFICATION_SERVER, \\\n"
                    "    DATA_CONTROLLER\n"
                    "#include \"dicts.config\"\n");
        tree->write("qev_home/data/dicts.config", "DataAccessInfo.dictName : dataInfo\n"
                                                  "radarStationInfo.dictName : radarInfo\n");
        LogCapture log;
        config = Config::instance();
        messages = log.text();
    }

    void TearDown() override { delete tree; }

    static TempTree* tree;
    static Config* config;
    static std::string messages;
};

TempTree* ConfigEnvironment::tree = nullptr;
Config* ConfigEnvironment::config = nullptr;
std::string ConfigEnvironment::messages;

::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ConfigEnvironment);

} // namespace

TEST(ConfigInstanceTest, KeysOfOtherLayersAreFoundAlongTheSearchPath)
{
    Config* c = Config::instance();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c, ConfigEnvironment::config);
    EXPECT_EQ(ConfigEnvironment::messages, "");

    using namespace ConfigValueText;
    EXPECT_EQ(values<TextString>(*c, "SocketConnection.namedTargets"),
              "NOTIFICATION_SERVER DATA_CONTROLLER");
    EXPECT_EQ(value<int>(*c, "SocketBufferSize.numBytes"), "65536");
    EXPECT_EQ(value<int>(*c, "SocketConnectionTimeout.numMins"), "3");
    EXPECT_EQ(value<TextString>(*c, "DataAccessInfo.dictName"), "dataInfo");
    EXPECT_EQ(value<TextString>(*c, "radarStationInfo.dictName"), "radarInfo");
}

TEST(ConfigInstanceTest, LaterCallsNeitherReadAgainNorTouchTheName)
{
    TextString name("other.config");
    EXPECT_EQ(Config::instance(name), ConfigEnvironment::config);
    EXPECT_STREQ(name.c_str(), "other.config");
}

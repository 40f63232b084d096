#include "KeyFiles.h"

#include "DM_DataAccessInfo.h"
#include "InfoFileServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

const char* const DATA_INFO =
    // Paths and key groups.
    "100|netcdf|1|1|0|0|3600|point/x/netcdf|||pointX\n"
    "101|static|1|1|0|0|3600|grid/s|x|.spi|staticX\n"
    "102|no prefix|1|1|0|0|3600|grid/n||.spi|noPrefix\n"
    "103|no static file|1|1|0|0|3600|grid/m|y|.spi|missingStatic\n"
    "8999|below|1|1|0|0|0|d|||groupName\n"
    "9000|base|1|1|0|0|0|d|||base9000\n"
    "9001|qrst|1|1|0|0|0|d|||QRSTUV\n"
    "9500|first|1|1|0|0|0|d|||dupName\n"
    "9501|second|1|1|0|0|0|d|||dupName\n"
    "10000|above|1|1|0|0|0|d|||groupName\n"
    "11005|eleven|1|1|0|0|0|d|||elevenName\n"
    // Redbook products: one listed before the master key.
    "8001|rb|1|1|0|0|3600|redbook/abc|ABCDEF|.rb|ABCDEFGH\n"
    "8000|master|1|1|0|0|0|redbook|||Redbook graphic master key\n"
    "8002|rb|1|1|0|0|3600|redbook/xyz|XYZ|.rb|XYZ\n"
    "8003|rb|1|1|0|0|3600,300|redbook/off|OFFBIN|.rb|OFFBIN\n"
    "8004|rb|1|1|0|0|-3600,1800|redbook/neg|NEGBIN|.rb|NEGBIN\n"
    "8005|rb|1|1|0|0|0|redbook/zero|ZERBIN|.rb|ZERBIN\n"
    "8006|rb|1|1|0|0|120|redbook/two|TWOMIN|.rb|TWOMIN\n"
    // Radar keys: kzzz (30) only in a z-line, kabc (18, 88D), tdwa (19,
    // TDWR), kxyz (5), KUPR (20), then the main site knat (100).
    "0x401e0001|kzzz|77|0.0|0|0|0|radar|||z1\n"
    "0x40120001|kabc|19|0.0|0|0|0|radar|||a1\n"
    "0x40120002|kabc|19|1.5|0|0|0|radar|||a2\n"
    "0x40120003|kabc|19|1.3|0|0|0|radar|||a3\n"
    "0x40120007|kabc|19|95|0|0|0|radar|||a7\n"
    "0x40120008|kabc|19|2.4|2.5|4|0|radar|||a8\n"
    "0x40130001|tdwa|30|0.0|0|0|0|radar|||t1\n"
    "0x40050001|kxyz|19|0.0|0|0|0|radar|||x1\n"
    "0x40050002|kxyz|19|1.5|0|0|0|radar|||x2\n"
    "0x40050003|kxyz|19|1.3|0|0|0|radar|||x3\n"
    "0x40050007|kxyz|19|95|0|0|0|radar|||x7\n"
    "0x40050008|kxyz|19|2.4|2.5|4|0|radar|||x8\n"
    "0x40140002|kupr|19|1.5|0|0|0|radar|||u2\n"
    "0x40640001|knat|19|0.0|0|1|0|radar|||n1\n";

const char* const RADAR_INFO =
    "94|16|230|0.5|0|Reflectivity|R|dBZ|y|Y|yes|n|note|n|n|n|y|19\n"
    "80|16|0|1.0|0|TDWR|T|x|n|n|n|n|t|n|n|n|n|30\n"
    "77|1|0|0|0|z|z|z|n|n|n|n|z|n|n|n|n|77\n"
    "50|16|230|0|0|a|b|c|n|n|n|n|d|n|n|n|n|27\n"
    "51|16|460|0|0|a|b|c|n|n|n|n|d|n|n|n|n|27\n"
    "60|5|1|0|2|a|b|c|n|n|n|n|d|n|n|n|n|28\n"
    "61|5|1|0|2|a|b|c|n|n|n|n|d|n|n|n|n|28\n"
    "70|1|2|3.5|4|five|six|seven|n|n|n|n|twelve|n|n|n|n\n"
    "90|1|0|0|0|old|b|c|n|n|n|n|d|n|n|n|n|40\n"
    "90|1|0|0|0|new|b|c|n|n|n|n|d|n|n|n|n|40\n";

const char* const RADAR_MASTER =
    "knat 30.0 -97.0 100\n"
    "kabc 31.0 -98.0 18\n"
    "tdwa 32.0 -99.0 19\n"
    "kxyz 33.0 -99.5 5\n"
    "KUPR 34.0 -99.0 20\n"
    "kzzz 35.0 -99.0 30\n"
    "kbad 1.0 2.0\n"
    "averyveryveryveryveryveryveryveryveryveryveryveryveryverylongname 1.0 2.0 21\n";

const char* const TILT_GROUPS =
    "0.5 0.0 0.9\n1.5 1.0 1.9\n2.4 2.0 2.9\n3.4 3.0 3.9\n4.3 4.0 4.9\n5.3 5.0 5.9\n"
    "6.2 6.0 6.9\n7.5 7.0 7.9\n8.7 8.0 8.9\n10.0 9.0 10.9\n12.0 11.0 12.9\n";

const char* const RADARS_IN_USE =
    "kzzz 1 1 z\n"
    "knat 1 1\n"
    "kabc 1 1\n"
    "kxyz 1 1\n"
    "tdwa 1 2\n";

const char* const TDWR_RADARS = "#TDWRs tdwa\n";

class KeyFiles : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string dir = keyFilesDirectory();
        std::filesystem::create_directories(dir);
        const std::pair<const char*, const char*> files[] = {
            {"dataInfo.txt", DATA_INFO},
            {"x.spi", "static\n"},
            {"radarInfo.txt", RADAR_INFO},
            {"radarInfoMaster.txt", RADAR_MASTER},
            {"tiltAngleGroups.txt", TILT_GROUPS},
            {"radarsInUse.txt", RADARS_IN_USE},
            {"tdwrRadars.txt", TDWR_RADARS},
        };
        for (const auto& f : files)
            std::ofstream(dir + "/" + f.first) << f.second;
        // The search path and the dictionary now, while QEV_HOME is the
        // process's own: tests set QEV_DATA (and QEV_HOME) of their own later.
        InfoFileServer::searchList();
        ASSERT_GT(DM_DataAccessInfo::keyCount(), 0);
    }
};

::testing::Environment* const keyFiles = ::testing::AddGlobalTestEnvironment(new KeyFiles);

} // namespace

std::string keyFilesDirectory()
{
    // The process's own QEV_HOME, which the search path was built with.
    static const std::string dir = std::string(getenv("QEV_HOME")) + "/data";
    return dir;
}

// The configuration of the POES decoder: its own process, since a site list
// once read is kept for the process.  The chain of init failures, the grid
// resolution's last line, and the profile table's lines.
#include "../SoundingTestSupport.h"

#include "LogCapture.h"
#include "POESBufrDecoder.h"

using namespace soundings;

namespace {

testing::Environment* const tables = testing::AddGlobalTestEnvironment(new ProcessTables);

} // namespace

// Each missing file ends init with its lines; a decoder without its
// configuration makes no pass at construction and keeps what it is given.
TEST(SoundingConfig, InitStopsAtTheFirstMissingFile)
{
    QEV_REQUIRE_NCGEN();
    const std::string info = infoDir();
    TempTree tree;
    const std::string waiting = tree.write("qev_data/ispan/bufr/POESSoundings/IUTX01_KNES",
                                           "not a bulletin");
    tree.write("qev_home/data/POESBufrPattern.txt", sourceData("POESBufrPattern.txt"));
    const std::string table = tree.path("qev_home/data/POESProfDescTable.txt");
    const struct {
        const char* file;    // written before the next step
        std::string text;
        std::vector<std::string> lines;
    } steps[] = {
        {"", "", {"PROBLEM: Unable to read list of site locations for matching"}},
        {"poesBufr.spi", sourceData("poesBufr.spi"),
         {"PROBLEM: Unable to get grid resolution from poesBufrInfo.txt.  Can't open file.",
          "PROBLEM: Unable to get grid resolution for POES soundings."}},
        {"poesBufrInfo.txt", "100\n",
         {"PROBLEM: Unable to open sounding profile descriptor variable list, " + table +
              ": No such file or directory",
          "PROBLEM: Unable to create descriptor dictionary for POES soundings."}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.file);
        if (*s.file)
            std::ofstream(info + s.file) << s.text;
        LogCapture log;
        POESBufrDecoder d;
        EXPECT_FALSE(d.initialized());
        EXPECT_EQ(d.getTimeout(), 72000);
        for (const std::string& line : s.lines)
            EXPECT_TRUE(log.contains(line)) << log.text();
        EXPECT_TRUE(TempTree::exists(waiting));
        const BufrWriter::Bytes m = message({{{5002, 40}, {6002, -95}}});
        ASSERT_TRUE(d.decode(m.data(), static_cast<unsigned>(m.size())));
        EXPECT_EQ(d.write2NetcdfFile(), -1);
        EXPECT_TRUE(log.contains("PROBLEM: The POES sounding configuration is not loaded.  Not "
                                 "stored, keeping the file."));
    }
    tree.write("qev_home/data/POESProfDescTable.txt", sourceData("POESProfDescTable.txt"));
    ASSERT_TRUE(Cdl::make(sourceData("templates/poesSounding.cdl"),
                          tree.mkdirs("qev_data/point/POES/netcdf") + "/template"));
    tree.mkdirs("qev_data/ispan/badPOESBufr");
    POESBufrDecoder d;
    EXPECT_TRUE(d.initialized());
    EXPECT_FALSE(TempTree::exists(waiting));
    EXPECT_TRUE(TempTree::exists(tree.path("qev_data/ispan/badPOESBufr/IUTX01_KNES")));
}

// The last line that is not a comment sets the grid resolution, a blank
// one 0; profile table lines name their profile without the line end, and
// a line without a second field is an error that the reading passes.
TEST(SoundingConfig, GridResolutionAndProfileTableLines)
{
    const std::string info = infoDir();
    TempTree tree;
    std::ofstream(info + "poesBufr.spi") << sourceData("poesBufr.spi");
    tree.write("qev_home/data/POESProfDescTable.txt", "7004|PRESSURE|Pa\n");
    std::ofstream(info + "poesBufrInfo.txt") << "1\n";
    POESBufrDecoder d;
    ASSERT_TRUE(d.initialized());
    const struct {
        const char* text;
        float resolution;
    } cases[] = {
        {"# kilometres\n0.5\n", 0.5f}, {"0.5\n1.0\n", 1.0f}, {"0.5\n\n", 0}, {" #\n", 0}};
    for (const auto& c : cases) {
        std::ofstream(info + "poesBufrInfo.txt", std::ios::trunc) << c.text;
        EXPECT_TRUE(d.getGridResolution());
        EXPECT_EQ(d.gridResolution(), c.resolution) << c.text;
    }

    const std::string path =
        tree.write("qev_home/data/POESProfDescTable.txt",
                   "# profiles\n7004|PRESSURE|Pa\n7004\n12101|TEMPERATURE\r\n13002|MIXINGRATIO  \n");
    LogCapture log;
    EXPECT_TRUE(d.readProfileDescTable());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"PROBLEM: Line error in " + path + " [7004",
                                                     "]"}));
    for (const auto& e : {std::make_pair(7004, "PRESSURE"), std::make_pair(12101, "TEMPERATURE"),
                          std::make_pair(13002, "MIXINGRATIO")}) {
        TextString name;
        ASSERT_TRUE(d.profileDescTable().find(e.first, nullptr, &name));
        EXPECT_STREQ(name.c_str(), e.second);
    }
}

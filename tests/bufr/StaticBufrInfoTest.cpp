// Table B, table D, the replicated-descriptor list, the master table
// versions and the local centres as the loader reads them, corrupted lines,
// the definitions a message of a centre and master table version reads, and
// the run-time tables of data/.
#include "StaticBufrInfo.h"

#include "LogCapture.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

const char* B_012001 = "012001|TEMPERATURE/DRY-BULB TEMPERATURE|K|1|0|12\n";
const char* D_301011 = "301011|004001|004002|004003|\n";
const char* VERSIONS = "// versions\nversions|6|39|39\n";

struct Tables {
    TempTree tree;
    StaticBufrInfo info;
    bool loaded = false;

    Tables(const std::string& b, const std::string& d, const std::string& r = "31001\n",
           const std::string& versions = VERSIONS, const std::string& centres = "7\n")
    {
        tree.write("qev_home/data/bufrTableB", b);
        tree.write("qev_home/data/bufrTableD", d);
        tree.write("qev_home/data/replDescTbl", r);
        tree.write("qev_home/data/bufrTableVersions", versions);
        tree.write("qev_home/data/bufrLocalCentres", centres);
        loaded = info.loadTables();
    }
    std::vector<int> coding(int d) const
    {
        SeqOf<int> s;
        if (!info.getTableBInfo(d, s))
            return {};
        return std::vector<int>(s.elements(), s.elements() + s.length());
    }
    std::vector<int> sequence(int d) const
    {
        SeqOf<int> s;
        if (!info.getTableD(d, s))
            return {-1};
        return std::vector<int>(s.elements(), s.elements() + s.length());
    }
};

int openDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

} // namespace

TEST(StaticBufrInfo, TableBLines)
{
    Tables t(std::string(B_012001) +
                 "001015|STATION OR SITE NAME  |CCITT IA5  |0|0|160\n"
                 "007004|OLD|Pa|0|0|8|007004|PRESSURE|Pa|-1|0|14\n"
                 "010009|GEOPOTENTIAL HEIGHT|gpm|0|-1000|17\n"
                 "010009|GEOPOTENTIAL HEIGHT|gpm|0|-1000|18\n",
             D_301011);
    ASSERT_TRUE(t.loaded);
    EXPECT_EQ(t.coding(12001), (std::vector<int>{1, 0, 12}));
    TableBEntry e;
    ASSERT_TRUE(t.info.getTableBEntry(12001, e));
    EXPECT_STREQ(e.getDescription().c_str(), "TEMPERATURE/DRY-BULB TEMPERATURE");
    long width = 0;
    EXPECT_FALSE(t.info.isCharacterElement(12001, width));

    // Trailing blanks are not part of the texts; CCITT IA5 marks characters.
    ASSERT_TRUE(t.info.getTableBEntry(1015, e));
    EXPECT_STREQ(e.getDescription().c_str(), "STATION OR SITE NAME");
    EXPECT_STREQ(e.getUnits().c_str(), "CCITT IA5");
    EXPECT_TRUE(t.info.isCharacterElement(1015, width));
    EXPECT_EQ(width, 160);

    // Two groups on one line: the last one counts; a repeated line replaces.
    EXPECT_EQ(t.coding(7004), (std::vector<int>{-1, 0, 14}));
    ASSERT_TRUE(t.info.getTableBEntry(7004, e));
    EXPECT_STREQ(e.getDescription().c_str(), "PRESSURE");
    EXPECT_EQ(t.coding(10009), (std::vector<int>{0, -1000, 18}));
    EXPECT_EQ(t.info.tableB().count(), 4);
}

// A line whose width, scale or reference the decoding arithmetic cannot
// hold is left out, named in a PROBLEM line; the lines around it load.  At
// the bounds it loads.
TEST(StaticBufrInfo, TableBLinesOutOfRangeAreLeftOut)
{
    const struct {
        const char* line;
        const char* fault;
    } bad[] = {
        {"012101|T|K|2|0|2147483600", "width 2147483600 is outside 0 to 65535 bits"},
        {"012102|T|K|2|0|-1", "width -1 is outside 0 to 65535 bits"},
        {"012103|T|K|128|0|16", "scale 128 is outside -127 to 127"},
        {"012104|T|K|-128|0|16", "scale -128 is outside -127 to 127"},
        {"012105|T|K|2|2147483648|16", "reference value 2147483648 does not fit 32 bits"},
        {"012106|T|K|2|-99999999999999999999|16",
         "reference value -9223372036854775808 does not fit 32 bits"},
    };
    std::string table = B_012001;
    for (const auto& b : bad)
        table += std::string(b.line) + "\n";
    table += "001015|NAME|CCITT IA5|0|0|65535\n012107|T|K|-127|-2147483648|0\n";
    LogCapture log;
    Tables t(table, D_301011);
    EXPECT_TRUE(t.loaded);
    for (const auto& b : bad) {
        EXPECT_EQ(log.count("Table B line [" + std::string(b.line) + "] of " +
                            t.tree.qevHome() + "/data/bufrTableB: " + b.fault +
                            "; the element is not loaded"),
                  1)
            << log.text();
    }
    for (int d = 12101; d <= 12106; ++d)
        EXPECT_TRUE(t.coding(d).empty()) << d;
    EXPECT_EQ(t.coding(1015), (std::vector<int>{0, 0, 65535}));
    EXPECT_EQ(t.coding(12107), (std::vector<int>{-127, INT32_MIN, 0}));
    EXPECT_EQ(t.info.tableD().count(), 1);
}

TEST(StaticBufrInfo, CorruptedTableBLineStopsTheLoad)
{
    const char* bad[] = {
        "012002|FIVE FIELDS|K|1|0\n",
        "012002|ENDS WITH A BAR|K|1|0|12|\n",
        "012002||K|1|0|12\n",    // "||" is one separator: a field goes missing
        "\n",
    };
    for (const char* line : bad) {
        LogCapture log;
        Tables t(std::string(B_012001) + line + "012003|AFTER|K|1|0|12\n", D_301011);
        EXPECT_FALSE(t.loaded) << line;
        std::string text(line);
        text.erase(text.find('\n'));
        EXPECT_EQ(log.count("Line corrupted in " + t.tree.qevHome() + "/data/bufrTableB[" +
                            text + "]"),
                  1)
            << log.text();
        EXPECT_EQ(t.coding(12001), (std::vector<int>{1, 0, 12}));   // stays
        EXPECT_TRUE(t.coding(12003).empty());
        EXPECT_EQ(t.info.tableD().count(), 0);                     // not read
    }
}

TEST(StaticBufrInfo, TableDLines)
{
    // A sequence of 250 elements makes a line of more than 1700 characters.
    std::string longLine = "309052|";
    std::vector<int> longList;
    for (int i = 0; i < 250; ++i) {
        longLine += "012001|";
        longList.push_back(12001);
    }
    Tables t(B_012001,
             std::string(D_301011) + "301012|0|\n" + "301015|\n" + longLine + "\n" +
                 "301013|004004|004005|004006|\r\n"
                 "301014|004004|");    // last line without its newline
    ASSERT_TRUE(t.loaded);
    EXPECT_EQ(t.sequence(301011), (std::vector<int>{4001, 4002, 4003}));
    EXPECT_EQ(t.sequence(301012), std::vector<int>{});
    EXPECT_EQ(t.sequence(301015), std::vector<int>{});
    EXPECT_EQ(t.sequence(309052), longList);
    EXPECT_EQ(t.sequence(301013), (std::vector<int>{4004, 4005, 4006}));
    EXPECT_EQ(t.sequence(301014), (std::vector<int>{4004}));

    for (const char* line : {"301011|004001|004002|004003\n", "301011\n"}) {
        LogCapture log;
        Tables bad(B_012001, std::string("301001|001001|\n") + line);
        EXPECT_FALSE(bad.loaded) << line;
        EXPECT_EQ(log.count("Line corrupted in " + bad.tree.qevHome() +
                            "/data/bufrTableD[301011]"),
                  1)
            << log.text();
        EXPECT_EQ(bad.sequence(301001), std::vector<int>{1001});
        EXPECT_EQ(bad.info.replicatedDescriptors().count(), 0);
    }
}

TEST(StaticBufrInfo, ReplicatedDescriptorsAreReadInFiveCharacterPieces)
{
    Tables t(B_012001, D_301011, "31001\n031001\n");
    ASSERT_TRUE(t.loaded);
    // 31001, its newline (0), then "03100" and "1\n".
    EXPECT_EQ(t.info.replicatedDescriptors().count(), 4);
    for (int d : {31001, 0, 3100, 1})
        EXPECT_TRUE(t.info.isReplicatedDescriptor(d)) << d;
    EXPECT_FALSE(t.info.isReplicatedDescriptor(31002));
}

TEST(StaticBufrInfo, MissingFilesAndClosedHandles)
{
    {
        LogCapture log;
        TempTree tree;
        tree.write("qev_home/data/bufrTableB", B_012001);
        StaticBufrInfo info;
        EXPECT_FALSE(info.loadTables());
        EXPECT_EQ(log.count("Unable to open table D file " + tree.qevHome() + "/data/bufrTableD"),
                  1);
        TableBEntry e;
        EXPECT_TRUE(info.getTableBEntry(12001, e));    // table B stays
    }
    int before = openDescriptors();    // the log files are open by now
    {
        Tables corruptB(std::string(B_012001) + "x\n", D_301011);
        Tables corruptD(B_012001, "301011|1\n");
        Tables fine(B_012001, D_301011);
        EXPECT_FALSE(corruptB.loaded);
        EXPECT_FALSE(corruptD.loaded);
        EXPECT_TRUE(fine.loaded);
        EXPECT_EQ(openDescriptors(), before);
    }
}

// The tables of data/ load whole, and every descriptor a sequence names is
// an element, a sequence, a replication or an operator.
TEST(StaticBufrInfo, RunTimeTablesAreComplete)
{
    TempTree tree;
    tree.setEnv("QEV_HOME", QEV_SOURCE_DIR);
    LogCapture log;
    StaticBufrInfo info;
    ASSERT_TRUE(info.loadTables());
    EXPECT_FALSE(log.contains("Line corrupted")) << log.text();
    EXPECT_GT(info.tableB().count(), 1000);
    EXPECT_GT(info.tableD().count(), 500);
    EXPECT_EQ(info.replicatedDescriptors().count(), 6);    // and the newlines' 0
    for (int d : {31000, 31001, 31002, 31011, 31012})
        EXPECT_TRUE(info.isReplicatedDescriptor(d)) << d;

    const Dict<int, SeqOf<int> >& tableD = info.tableD();
    int longest = 0;
    for (int i = 0; i < tableD.count(); ++i) {
        const SeqOf<int>& elements = tableD.value(i);
        longest = std::max(longest, elements.length());
        for (int k = 0; k < elements.length(); ++k) {
            int d = elements[k];
            int f = d / 100000;
            bool known = f == 1 || f == 2 || (f == 0 && info.tableB().find(d)) ||
                         (f == 3 && tableD.find(d));
            EXPECT_TRUE(known) << tableD.key(i) << " names " << d;
        }
    }
    EXPECT_GT(longest, 150);    // lines beyond the old 220-byte reads
}

TEST(StaticBufrInfo, MakeDataPaths)
{
    TempTree tree;
    TextString in, bad;
    tree.setEnv("QEV_DATA", "/x");
    StaticBufrInfo::makeDataPaths("/ispan/bufr/acars", "/ispan/badAcarsBufr", in, bad);
    EXPECT_STREQ((in + " " + bad).c_str(), "/x/ispan/bufr/acars /x/ispan/badAcarsBufr");
}

// What a message of an originating centre and master table version reads:
// its own version's definition where the file gives one, the base one where
// none does, nothing where its version lacks the descriptor; for a version
// the file does not cover, the newest covered version's definition for a
// newer one, and for an older one the oldest covered version's definition
// only when every covered version defines the descriptor alike (units
// compared by kind).  Local descriptors belong to the listed centres, whatever the
// version.
TEST(StaticBufrInfo, DefinitionsByCentreAndVersion)
{
    Tables t("012001|T|K|1|0|12\n"
             "014001|LONG-WAVE|J m-2|-3|-65536|17\n"
             "021062|BACKSCATTER|dB|2|-5000|13\n"
             "001033|CENTRE|Common CODE TABLE C-1|0|0|8\n"
             "010197|LOCAL HEIGHT|m|0|0|13\n",
             "312060|021062|\n363192|012001|\n", "31001\n",
             std::string(VERSIONS) + "B|6|13|014001|LONG-WAVE|J m-2|-3|-2048|12\n"
                                     "B|6|13|014002|SHORT-WAVE|J m-2|0|0|8\n"
                                     "B|6|20|021062|-\n"
                                     "B|7|8|001033|CENTRE|CODE TABLE|0|0|8\n"
                                     "D|7|13|312060|021088\n"
                                     "D|20|20|312060|-\n",
             "// local\n 7 \n\n80\n");
    ASSERT_TRUE(t.loaded);
    struct Case {
        int descriptor;
        int centre;
        int version;
        StaticBufrInfo::Lookup lookup;
        const char* coding;    // element: scale/reference/width, sequence: its list
        const char* why;
    } cases[] = {
        {14001, 7, 39, StaticBufrInfo::DEFINED, "-3/-65536/17", ""},
        {14001, 98, 13, StaticBufrInfo::DEFINED, "-3/-2048/12", ""},
        {14001, 98, 14, StaticBufrInfo::DEFINED, "-3/-65536/17", ""},
        {14001, 98, 5, StaticBufrInfo::NOT_KNOWN, "",
         "Descriptor 14001 is not known in master table version 5, which is not loaded: "
         "versions 13 and 14 define it differently."},
        {14001, 98, 40, StaticBufrInfo::DEFINED, "-3/-65536/17", ""},
        {14002, 98, 13, StaticBufrInfo::DEFINED, "0/0/8", ""},
        {14002, 98, 40, StaticBufrInfo::NOT_DEFINED, "",
         "Descriptor 14002 is not in master table version 39, the newest loaded, with which "
         "version 40 is read."},
        {12001, 98, 2, StaticBufrInfo::DEFINED, "1/0/12", ""},
        {12001, 98, 255, StaticBufrInfo::DEFINED, "1/0/12", ""},
        {1033, 98, 0, StaticBufrInfo::DEFINED, "0/0/8 code", ""},
        {21062, 98, 13, StaticBufrInfo::NOT_DEFINED, "",
         "Descriptor 21062 is not in master table version 13."},
        {21062, 98, 5, StaticBufrInfo::NOT_DEFINED, "",
         "Descriptor 21062 is not in master table version 6, the loaded version nearest to "
         "the message's version 5."},
        {21062, 98, 40, StaticBufrInfo::DEFINED, "2/-5000/13", ""},
        {12002, 98, 13, StaticBufrInfo::NOT_DEFINED, "", ""},
        {312060, 98, 13, StaticBufrInfo::DEFINED, "21088", ""},
        {312060, 98, 39, StaticBufrInfo::DEFINED, "21062", ""},
        {312060, 98, 20, StaticBufrInfo::NOT_DEFINED, "",
         "Descriptor 312060 is not in master table version 20."},
        {312060, 98, 3, StaticBufrInfo::NOT_KNOWN, "",
         "Descriptor 312060 is not known in master table version 3, which is not loaded: "
         "versions 6 and 7 define it differently."},
        {10197, 7, 13, StaticBufrInfo::DEFINED, "0/0/13", ""},
        {10197, 80, 39, StaticBufrInfo::DEFINED, "0/0/13", ""},
        {10197, -1, -1, StaticBufrInfo::DEFINED, "0/0/13", ""},
        {10197, 98, 39, StaticBufrInfo::NOT_DEFINED, "",
         "Descriptor 10197 is local to its originating centre 98, whose local table is not "
         "loaded."},
        {363192, 98, 39, StaticBufrInfo::NOT_DEFINED, "",
         "Descriptor 363192 is local to its originating centre 98, whose local table is not "
         "loaded."},
        {363192, 7, 20, StaticBufrInfo::DEFINED, "12001", ""},
    };
    for (const Case& c : cases) {
        const StaticBufrInfo::Origin origin{c.centre, c.version};
        std::string coding, why;
        StaticBufrInfo::Lookup lookup;
        if (c.descriptor / 100000 == 3) {
            SeqOf<int> list;
            lookup = t.info.sequenceFor(c.descriptor, origin, list, why);
            for (int i = 0; lookup == StaticBufrInfo::DEFINED && i < list.length(); ++i)
                coding += (i ? " " : "") + std::to_string(list[i]);
        } else {
            StaticBufrInfo::ElementCoding e{0, 0, 0, false, false};
            lookup = t.info.elementFor(c.descriptor, origin, e, why);
            if (lookup == StaticBufrInfo::DEFINED)
                coding = std::to_string(e.scale) + "/" + std::to_string(e.reference) + "/" +
                         std::to_string(e.width) + (e.codeOrFlag ? " code" : "");
        }
        const std::string name = std::to_string(c.descriptor) + " centre " +
                                 std::to_string(c.centre) + " version " +
                                 std::to_string(c.version);
        EXPECT_EQ(lookup, c.lookup) << name;
        EXPECT_EQ(coding, c.coding) << name;
        EXPECT_EQ(why, c.why) << name;
    }
    // Two origins share trees only when they read every descriptor alike.
    EXPECT_EQ(t.info.tablesKey({7, 39}), t.info.tablesKey(StaticBufrInfo::loadedTables()));
    EXPECT_EQ(t.info.tablesKey({7, 39}), t.info.tablesKey({80, 39}));
    EXPECT_NE(t.info.tablesKey({7, 39}), t.info.tablesKey({98, 39}));
    EXPECT_NE(t.info.tablesKey({7, 39}), t.info.tablesKey({7, 13}));
}

// A corrupted or missing versions file loads nothing of it: no version,
// the base one included, can be told from another, so every message that
// names one fails; a corrupted centres list leaves the list as it was.
TEST(StaticBufrInfo, CorruptedVersionsAndCentres)
{
    const char* bad[] = {
        "versions|6|39\n",
        "versions|6|39|40\n",
        "versions|6|39|39\nB|13|6|014001|-\n",
        "versions|6|39|39\nB|6|39|014001|-\n",
        "versions|6|39|39\nB|6|13|314001|-\n",
        "versions|6|39|39\nB|6|13|014001|X|K|1|0\n",
        "versions|6|39|39\nB|6|13|014001|X|K|1|0|65536\n",
        "versions|6|39|39\nB|6|13|014001|X|K|200|0|12\n",
        "versions|6|39|39\nB|6|13|014001|-\nB|13|14|014001|X|K|1|0|7\n",
        "versions|6|39|39\nD|6|13|312060|21088\n",
        "// only a comment\n",
    };
    for (const char* versions : bad) {
        LogCapture log;
        Tables t(B_012001, D_301011, "31001\n", versions);
        EXPECT_FALSE(t.loaded) << versions;
        std::string text(versions);
        text = text.substr(0, text.size() - 1);
        text = text.substr(text.rfind('\n') + 1);
        if (text.compare(0, 2, "//") == 0)
            text = "no versions line";
        EXPECT_EQ(log.count("Line corrupted in " + t.tree.qevHome() + "/data/bufrTableVersions[" +
                            text + "]"),
                  1)
            << log.text();
        StaticBufrInfo::ElementCoding e{0, 0, 0, false, false};
        std::string why;
        EXPECT_EQ(t.info.elementFor(12001, {7, 39}, e, why), StaticBufrInfo::NOT_KNOWN);
        EXPECT_EQ(why, "Descriptor 12001 is not known in master table version 39: no table "
                       "versions are loaded");
        EXPECT_EQ(t.info.elementFor(12001, StaticBufrInfo::loadedTables(), e, why),
                  StaticBufrInfo::DEFINED);
    }

    LogCapture log;
    Tables t(B_012001, D_301011, "31001\n", VERSIONS, "98\n98x\n");
    EXPECT_FALSE(t.loaded);
    EXPECT_EQ(log.count("Line corrupted in " + t.tree.qevHome() + "/data/bufrLocalCentres[98x]"),
              1)
        << log.text();
    EXPECT_TRUE(t.info.usesLocalEntries(7));
    EXPECT_FALSE(t.info.usesLocalEntries(98));
}

// The run-time BUFR tables of data/ read strictly, and the test-side BUFR
// writer: its frame, its refusals, and a message of each kind as ecCodes'
// bufr_dump decodes it.
#include "BufrWriter.h"
#include "EcCodesDump.h"
#include "EcCodesTools.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

typedef BufrWriter::Bytes Bytes;
const double MISSING = BufrWriter::missingValue();

std::string dataPath(const std::string& name)
{
    return std::string(QEV_SOURCE_DIR) + "/data/" + name;
}

// Each line of a table file: the line, then its '|' fields.
std::vector<std::vector<std::string>> tableLines(const char* name)
{
    std::ifstream in(dataPath(name));
    std::vector<std::vector<std::string>> out;
    for (std::string line; std::getline(in, line);) {
        out.push_back({line});
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '|');)
            out.back().push_back(f);
    }
    return out;
}

bool isDescriptor(const std::string& s)
{
    return s.size() == 6 && s.find_first_not_of("0123456789") == std::string::npos;
}

bool isInteger(const std::string& s)
{
    char* end = nullptr;
    std::strtol(s.c_str(), &end, 10);
    return !s.empty() && *end == '\0';
}

} // namespace

// ---- the tables ------------------------------------------------------------

// Table B: six non-empty fields, no trailing blanks, whole numbers and no
// final '|' (the loader would read a seventh field); each descriptor once.
// Table D: six-digit non-zero descriptors, each line ending in '|'; lines far
// beyond the old 220-octet reads.  (StaticBufrInfoTest checks, through the
// loader, that every descriptor a sequence names is known.)
TEST(BufrWriterTables, DataFilesAreStrictlyFormed)
{
    std::map<std::string, std::vector<std::string>> b, d;
    std::vector<std::string> bad;
    for (const std::vector<std::string>& f : tableLines("bufrTableB")) {
        bool good = f.size() == 7 && f[0].back() != '|' && isDescriptor(f[1]) && isInteger(f[4])
                    && isInteger(f[5]) && isInteger(f[6]);
        for (const std::string& field : f)
            good = good && !field.empty() && field.back() != ' ';
        if (!good || !b.emplace(f[1], f).second)
            bad.push_back(f[0]);
    }
    size_t longest = 0;
    for (const std::vector<std::string>& f : tableLines("bufrTableD")) {
        bool good = f.size() >= 3 && f[0].back() == '|';
        for (size_t i = 1; i < f.size(); ++i)
            good = good && isDescriptor(f[i]) && (i == 1 || f[i] != "000000");
        if (!good || !d.emplace(f[1], f).second)
            bad.push_back(f[0]);
        longest = std::max(longest, f[0].size());
    }
    EXPECT_TRUE(bad.empty()) << bad.size() << " bad lines, first: " << bad.front();
    EXPECT_EQ(b["012101"], (std::vector<std::string>{"012101|TEMPERATURE/AIR TEMPERATURE|K|2|0|16",
                                                     "012101", "TEMPERATURE/AIR TEMPERATURE",
                                                     "K", "2", "0", "16"}));
    EXPECT_EQ(b["001015"][3] + " " + b["001015"][6], "CCITT IA5 160");
    EXPECT_EQ(b["031001"][6], "8");
    EXPECT_EQ(d["301011"][0], "301011|004001|004002|004003|");
    EXPECT_GT(longest, 219u);
}

TEST(BufrWriterTables, GeneratorReproducesTheCommittedFiles)
{
    const std::string wmo = "/usr/share/eccodes/definitions/bufr/tables/0/wmo/39";
    if (!TempTree::exists(wmo + "/element.table"))
        GTEST_SKIP() << "ecCodes' WMO master tables 39 are not installed (libeccodes-data)";
    // The committed tables hold the local entries of centre 7, which live
    // beside the project, not in it.
    const std::string local = std::string(QEV_SOURCE_DIR) + "/../shared/tables/centre7-local";
    if (!TempTree::exists(local))
        GTEST_SKIP() << "the local tables of centre 7 are absent (" << local << ")";
    TempTree tree;
    std::string out = tree.mkdirs("data");
    std::string command = "python3 " + std::string(QEV_SOURCE_DIR) + "/scripts/make-bufr-tables"
                          + " --wmo " + wmo + " --out " + out + " > " + tree.path("gen.log")
                          + " 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << TempTree::readFile(tree.path("gen.log"));
    for (const char* name : {"bufrTableB", "bufrTableD", "replDescTbl", "bufrTableVersions"})
        EXPECT_TRUE(TempTree::readFile(out + "/" + name) == TempTree::readFile(dataPath(name)))
            << name << " differs from a fresh generation";
}

// ---- the writer on its own -------------------------------------------------

// Section offsets and lengths chain to "7777", with even lengths in edition 3
// (what the sections hold is checked through ecCodes below).
TEST(BufrWriterFrame, SectionsChainByEdition)
{
    for (int edition : {3, 4}) {
        BufrWriter w(edition);
        if (edition == 3)
            w.section2({0xAA, 0xBB, 0xCC});
        Bytes m = w.descriptors({12101}).element(12101, 273.15).build();
        ASSERT_GE(m.size(), 12u) << edition;
        EXPECT_EQ(m.size(), size_t(m[4]) << 16 | m[5] << 8 | m[6]);
        EXPECT_EQ(edition, m[7]);
        size_t at = 8;
        for (int s = 1; s <= 4; ++s) {
            if (s == 2 && edition == 4) {
                EXPECT_EQ(BufrWriter::npos, BufrWriter::sectionOffset(m, 2));
                continue;
            }
            ASSERT_EQ(at, BufrWriter::sectionOffset(m, s)) << edition << " section " << s;
            size_t len = size_t(m[at]) << 16 | m[at + 1] << 8 | m[at + 2];
            EXPECT_TRUE(edition == 4 || len % 2 == 0) << "section " << s;
            at += len;
            ASSERT_LE(at + 4, m.size());
        }
        EXPECT_EQ(at, BufrWriter::sectionOffset(m, 5));
        EXPECT_EQ("7777", std::string(m.begin() + at, m.end()));
    }
}

TEST(BufrWriterFrame, MisuseFailsAndBuildsNothing)
{
    BufrWriter w[13];
    w[0].element(63255, 1);                          // unknown descriptor
    w[1].element(12001, 1e6);                        // too large
    w[2].element(12001, -300);                       // below the reference
    w[3].chars(1015, std::string(21, 'x'));          // text too long
    w[4].element(1015, 1);                           // number for a text
    w[5].column(12001, {1});                         // column in standard data
    w[6].compressed(true).subsets(2).column(12001, {1});    // column too short
    w[7].compressed(true).factor(31001, 1);          // factor in compressed data
    w[8].newReference(12001, 1);                     // without 2 03
    w[9].factor(31000, 1);                           // all ones in 1 bit
    w[10] = BufrWriter(5);
    w[11] = BufrWriter(4, "/nonexistent/bufrTableB");
    w[12].descriptors({364000});                     // X beyond 63
    for (int i = 0; i < 13; ++i) {
        EXPECT_FALSE(w[i].ok()) << i;
        EXPECT_TRUE(w[i].build().empty()) << i;
    }
}

// ---- the writer against ecCodes --------------------------------------------

class BufrWriterEcCodes : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!_tools.missing().empty())
            GTEST_SKIP() << _tools.missingReason();
    }

    EcCodesDump dump(const BufrWriter& w)
    {
        EcCodesDump d;
        std::string path = _tree.path("m.bufr"), error;
        EXPECT_TRUE(w.ok()) << w.error();
        EXPECT_TRUE(BufrWriter::writeFile(path, w.build()));
        EXPECT_TRUE(_tools.dump(path, d, error)) << error;
        return d;
    }

    static std::string keys(const EcCodesDump& d, const std::vector<std::string>& names)
    {
        std::string out;
        for (const std::string& k : names)
            out += (out.empty() ? "" : " ") + k + "=" + std::to_string(d.header(k));
        return out;
    }

    EcCodesTools _tools;
    TempTree _tree;
};

TEST_F(BufrWriterEcCodes, StandardSubsetsWithTextAndNestedReplication)
{
    for (int edition : {3, 4}) {
        SCOPED_TRACE("edition " + std::to_string(edition));
        BufrWriter w(edition);
        w.centre(7, edition == 3 ? 4 : 300).category(2, 1, 7).dateTime(1999, 12, 31, 23, 59, 5).section2({1, 2, 3, 4, 5})
            .subsets(2).descriptors({301011, 1015, 104000, 31001, 7004, 101000, 31002, 12101});
        w.element(4001, 1999).element(4002, 12).element(4003, 31).chars(1015, "STATION A")
            .factor(31001, 2).element(7004, 85000).factor(31002, 3).element(12101, 270)
            .element(12101, 271.5).missing(12101).missing(7004).factor(31002, 0);
        w.element(4001, 1999).element(4002, 12).element(4003, 30).chars(1015, "B").factor(31001, 0);
        EcCodesDump d = dump(w);
        EXPECT_EQ(keys(d, {"edition", "bufrHeaderCentre", "dataCategory", "dataSubCategory",
                           "masterTablesVersionNumber", "typicalMonth", "typicalDay",
                           "typicalHour", "typicalMinute", "numberOfSubsets", "observedData",
                           "compressedData"}),
                  "edition=" + std::to_string(edition) + " bufrHeaderCentre=7 dataCategory=2"
                  " dataSubCategory=7 masterTablesVersionNumber=39 typicalMonth=12 typicalDay=31"
                  " typicalHour=23 typicalMinute=59 numberOfSubsets=2 observedData=1"
                  " compressedData=0");
        EXPECT_EQ(edition == 3 ? keys(d, {"bufrHeaderSubCentre", "typicalYearOfCentury"})
                               : keys(d, {"bufrHeaderSubCentre", "typicalYear", "typicalSecond",
                                          "internationalDataSubCategory"}),
                  edition == 3 ? "bufrHeaderSubCentre=4 typicalYearOfCentury=99"
                               : "bufrHeaderSubCentre=300 typicalYear=1999 typicalSecond=5"
                                 " internationalDataSubCategory=1");
        EXPECT_EQ(d.listing(),
                  "004001=1999 004002=12 004003=31 001015='STATION A' 031001=2 007004=85000 "
                  "031002=3 012101=270 012101=271.5 012101=missing 007004=missing 031002=0 | "
                  "004001=1999 004002=12 004003=30 001015='B' 031001=0");
    }
}

TEST_F(BufrWriterEcCodes, CompressedNumbersTextsAndReplication)
{
    for (int edition : {3, 4}) {
        SCOPED_TRACE("edition " + std::to_string(edition));
        BufrWriter w(edition);
        w.compressed(true).subsets(3)
            .descriptors({1015, 1015, 5001, 12101, 7004, 101000, 31002, 7004});
        w.charsColumn(1015, {"SAME", "SAME", "SAME"})
            .charsColumn(1015, {"ALPHA", "B", "GAMMA RAY"})
            .column(5001, {45.5, -12.25, 0})
            .column(12101, {MISSING, 273.15, 250})
            .column(7004, {50000, 50070, MISSING})    // 7 and missing: 4 bits
            .factorColumn(31002, 2)
            .column(7004, {50000, 50000, 50000})
            .column(7004, {MISSING, MISSING, MISSING});
        EcCodesDump d = dump(w);
        EXPECT_EQ(keys(d, {"numberOfSubsets", "observedData", "compressedData"}),
                  "numberOfSubsets=3 observedData=1 compressedData=1");
        EXPECT_EQ(d.listing(),
                  "001015='SAME' 001015='ALPHA' 005001=45.5 012101=missing 007004=50000 "
                  "031002=2 007004=50000 007004=missing | 001015='SAME' 001015='B' "
                  "005001=-12.25 012101=273.15 007004=50070 031002=2 007004=50000 "
                  "007004=missing | 001015='SAME' 001015='GAMMA RAY' 005001=0 012101=250 "
                  "007004=missing 031002=2 007004=50000 007004=missing");
    }
}

// 2 01 to 2 08 in standard data, with the coding ecCodes read each element with.
TEST_F(BufrWriterEcCodes, OperatorsInStandardData)
{
    BufrWriter w(4);
    w.descriptors({201132, 202129, 12101, 202000, 201000, 12101, 203012, 12101, 203255, 12101,
                   203000, 12101, 204007, 31021, 12101, 204000, 12101, 205010, 207002, 12101,
                   207000, 208004, 1015, 208000, 1015});
    w.op(201132).op(202129).element(12101, 273.156).op(202000).op(201000).element(12101, 250.5)
        .op(203012).newReference(12101, -1000).op(203255).element(12101, 5.25)
        .op(203000).element(12101, 250.75)
        .op(204007).element(31021, 7).associatedValue(55).element(12101, 280.0).op(204000)
        .element(12101, 281.0).op(205010).text("HELLO", 10)
        .op(207002).element(12101, 12.3456).op(207000)
        .op(208004).chars(1015, "ABCD").op(208000).chars(1015, "LONGERNAME");
    EXPECT_EQ(dump(w).listing(true),
              "012101[3,0,20]=273.156 012101[2,0,16]=250.5 012101[2,-1000,16]=5.25 "
              "012101[2,0,16]=250.75 S:031021[0,0,6]=7 A:999999[0,0,7]=55 012101[2,0,16]=280 "
              "012101[2,0,16]=281 T:[0,0,0]'HELLO' 012101[4,0,23]=12.3456 001015[0,0,32]='ABCD' "
              "001015[0,0,160]='LONGERNAME'");
}

TEST_F(BufrWriterEcCodes, OperatorsInCompressedData)
{
    BufrWriter w(4);
    w.compressed(true).subsets(2)
        .descriptors({201132, 202129, 12101, 202000, 201000, 204007, 31021, 12101, 204000,
                      205010, 207002, 12101, 207000, 208004, 1015, 208000});
    w.op(201132).op(202129).column(12101, {273.156, 1}).op(202000).op(201000)
        .op(204007).column(31021, {7, 7}).associatedValue(55).column(12101, {280, 281}).op(204000)
        .op(205010).textColumn(10, {"HELLO", "WORLD"})
        .op(207002).column(12101, {12.3456, 1}).op(207000)
        .op(208004).charsColumn(1015, {"AB", "CD"}).op(208000);
    EXPECT_EQ(dump(w).listing(),
              "012101=273.156 S:031021=7 A:999999=55 012101=280 T:'HELLO' 012101=12.3456 "
              "001015='AB' | 012101=1 S:031021=7 A:999999=55 012101=281 T:'WORLD' 012101=1 "
              "001015='CD'");
}

TEST_F(BufrWriterEcCodes, LocalDescriptorFromATestTable)
{
    // ecCodes finds a centre's local table by local table version, centre and
    // sub-centre; the test table goes in front of its own definitions.
    _tree.write("defs/bufr/tables/0/local/1/7/0/sequence.def", "");
    _tree.write("defs/bufr/tables/0/local/1/7/0/element.table",
                "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|"
                "crex_width\n"
                "048001|testLocalCount|long|TEST LOCAL COUNT|Numeric|1|-100|11|Numeric|0|4\n");
    _tools.setDefinitionOverlay(_tree.path("defs"));
    BufrWriter w(4);
    w.centre(7, 0).masterTableVersion(39, 1).subsets(2).descriptors({48001, 12101});
    w.localElement(48001, 1, -100, 11);
    w.element(48001, -3.5).element(12101, 270).missing(48001).element(12101, 271);
    EXPECT_EQ(dump(w).listing(), "048001=-3.5 012101=270 | 048001=missing 012101=271");
}

// The decoder base: pattern files with their designators and cache, the
// netCDF template dictionary and element-name look-up.
#include "BufrTestSupport.h"

#include "BufrWriter.h"
#include "LogCapture.h"
#include "LogPrefParser.h"
#include "LogStream.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string patternText(const TextString& pattern)
{
    return pattern.c_str();
}

} // namespace

TEST(BufrDecoder, PatternFileWithDesignators)
{
    TempTree tree;
    // Column 11 starts the designator expression; CR-LF line ends.
    tree.write("qev_home/data/designatorPattern.txt",
               "Bufr pattern count 3\r\n"
               "IUSN4     4[0-9]\r\n"
               "JUTX5      [A-Z]X\n"
               "          no word on this line\n"
               "IUCN8\n");
    TestDecoder dec("designatorPattern.txt");
    EXPECT_EQ(patternText(dec.getBufrPattern()), "IUSN4|JUTX5");
    EXPECT_EQ(dec.prefixes().count(), 2);
    EXPECT_TRUE(dec.prefixes().find("IUSN"));
    EXPECT_TRUE(dec.prefixes().find("JUTX"));
    EXPECT_FALSE(dec.prefixes().find("IUCN"));    // beyond the count
    const regex_t* iusn = dec.designatorPattern("IUSN");
    ASSERT_NE(iusn, nullptr);
    EXPECT_TRUE(BufrDecoder::matchPattern("45", iusn));
    EXPECT_FALSE(BufrDecoder::matchPattern("55", iusn));
    // One blank more: the expression begins with a blank.
    const regex_t* jutx = dec.designatorPattern("JUTX");
    ASSERT_NE(jutx, nullptr);
    EXPECT_FALSE(BufrDecoder::matchPattern("AX", jutx));
    EXPECT_TRUE(BufrDecoder::matchPattern(" AX", jutx));
    EXPECT_FALSE(BufrDecoder::matchPattern("45", nullptr));
}

TEST(BufrDecoder, PatternFileFailures)
{
    TempTree tree;
    LogCapture log;
    TestDecoder missing("absentPattern.txt");
    EXPECT_EQ(patternText(missing.getBufrPattern()), "");
    EXPECT_TRUE(log.contains("Unable to get bufr pattern from " + tree.qevHome() +
                             "/data/absentPattern.txt"));
    // Not cached: once the file is there it is read.
    tree.write("qev_home/data/absentPattern.txt", "a b c 1\nA1\n");
    EXPECT_EQ(patternText(missing.getBufrPattern()), "A1");

    tree.write("qev_home/data/noCount.txt", "patterns: many\nIUSN4     4[0-9]\n");
    TestDecoder noCount("noCount.txt");
    EXPECT_EQ(patternText(noCount.getBufrPattern()), "");
    EXPECT_EQ(noCount.prefixes().count(), 0);

    // A count beyond the lines stops at the end of the file; a bad
    // expression leaves its prefix without designators.
    tree.write("qev_home/data/short.txt", "Bufr pattern count 9\nIUSN4     4[0-9\nJUTX5");
    TestDecoder shortFile("short.txt");
    EXPECT_EQ(patternText(shortFile.getBufrPattern()), "IUSN4|JUTX5");
    EXPECT_TRUE(log.contains("Error in regional designator pattern: 4[0-9 for WMO code IUSN "
                             "not stored in dictionary."));
    EXPECT_TRUE(shortFile.prefixes().find("IUSN"));
    EXPECT_EQ(shortFile.designatorPattern("IUSN"), nullptr);

    // Expressions that the system's regcomp would write out into gigabytes
    // (47 '+' in a row took 2.4 GB) are refused before they are compiled:
    // stacked repetitions and too many elements, line by line, and words
    // that group across the "|" that joins them.
    tree.write("qev_home/data/large.txt",
               "Bufr pattern count 4\n"
               "IUSN4     4" + std::string(47, '+') + "\n"
               "JUTX5     ((([0-9]{20}){20}){20})\n"
               "IU[0-9]{2}+\n"
               "ISXX      ^0[1-9]$\n");
    tree.write("qev_home/data/grouped.txt", "Bufr pattern count 2\n((IUA\nIUB){40}){40}\n");
    // An omitted minimum, {,m}, repeats up to m times too.
    tree.write("qev_home/data/omitted.txt",
               "Bufr pattern count 4\n"
               "IUSN4     ((((4{,7}){,7}){,7}){,7}){,7}\n"
               "((((I{,7}){,7}){,7}){,7}){,7}     4[0-9]\n"
               "ISXX      [0-9]{,2}\n"
               "IUTX      (((4{,7}){,7}){,7}){,}7){,7}\n");
    log.clear();
    TestDecoder large("large.txt");
    EXPECT_EQ(patternText(large.getBufrPattern()), "IUSN4|JUTX5|ISXX");
    EXPECT_EQ(large.designatorPattern("IUSN"), nullptr);
    EXPECT_EQ(large.designatorPattern("JUTX"), nullptr);
    EXPECT_NE(large.designatorPattern("ISXX"), nullptr);
    TestDecoder grouped("grouped.txt");
    EXPECT_EQ(patternText(grouped.getBufrPattern()), "");
    EXPECT_EQ(grouped.prefixes().count(), 0);   // as when read again
    TestDecoder omitted("omitted.txt");
    EXPECT_EQ(patternText(omitted.getBufrPattern()), "IUSN4|ISXX|IUTX");
    EXPECT_EQ(omitted.designatorPattern("IUSN"), nullptr);
    EXPECT_EQ(omitted.designatorPattern("IUTX"), nullptr);
    EXPECT_TRUE(BufrDecoder::matchPattern("4", omitted.designatorPattern("ISXX")));
    const std::string data = tree.qevHome() + "/data/";
    for (const std::string& line :
         {std::string("for WMO code IUSN repeats a repetition; not stored in dictionary."),
          std::string("for WMO code JUTX compiles to more than 1000 elements; not stored in "
                      "dictionary."),
          "Pattern IU[0-9]{2}+ of " + data + "large.txt repeats a repetition; line not used",
          "The bufr pattern of " + data + "grouped.txt compiles to more than 1000 elements; "
                                          "not used",
          "Pattern ((((I{,7}){,7}){,7}){,7}){,7} of " + data +
              "omitted.txt compiles to more than 1000 elements; line not used",
          std::string("for WMO code IUTX repeats a repetition of what may match nothing; not "
                      "stored in dictionary.")})
        EXPECT_TRUE(log.contains(line)) << line;
}

// The fuzzers' pattern-file findings (../shared/corpus/fuzz/): product
// words and designators of stacked '+' or nested {,m} repetitions are
// refused before anything compiles them; what is left compiles.
TEST(BufrDecoder, FuzzedPatternFileIsRefused)
{
    const std::string dir = std::string(QEV_SHARED_DIR) + "/corpus/fuzz/";
    if (!TempTree::exists(dir + "pattern-regcomp-oom.txt"))
        GTEST_SKIP() << "no fuzzer findings at " << dir;
    const struct {
        const char* file;
        const char* pattern;
    } findings[] = {
        {"pattern-regcomp-oom.txt", ""},
        {"pattern-regcomp-omitted-minimum.txt", "IUSN4"},
        {"pattern-regcomp-omitted-minimum-word.txt", ""},
        {"pattern-regcomp-omitted-minimum-short.txt", "IUSN4"},
        {"pattern-fuzz-oom-fea9ac76.txt", ""},
    };
    TempTree tree;
    for (const auto& f : findings) {
        SCOPED_TRACE(f.file);
        const std::string name = std::string("fuzzed-") + f.file;
        tree.write("qev_home/data/" + name, TempTree::readFile(dir + f.file));
        LogCapture log;
        TestDecoder dec(name.c_str());
        const TextString pattern = dec.getBufrPattern();
        EXPECT_EQ(patternText(pattern), f.pattern);
        EXPECT_TRUE(log.contains("repeats a repetition;") ||
                    log.contains("compiles to more than 1000 elements;"))
            << log.text();
        EXPECT_EQ(dec.designatorPattern("IUSN"), nullptr);
        regex_t compiled;
        if (pattern.length() > 0) {
            ASSERT_EQ(regcomp(&compiled, pattern.c_str(), REG_EXTENDED), 0);
            regfree(&compiled);
        }
    }
}

TEST(BufrDecoder, PatternCacheFillsEveryDecoder)
{
    TempTree tree;
    std::string path = tree.write("qev_home/data/cachedPattern.txt",
                                  "Bufr pattern count 2\nA1\nIUSN4     4[0-9]\n");
    TestDecoder first("cachedPattern.txt");
    EXPECT_EQ(patternText(first.getBufrPattern()), "A1|IUSN4");
    ASSERT_EQ(unlink(path.c_str()), 0);

    TestDecoder second("cachedPattern.txt");
    EXPECT_EQ(patternText(second.getBufrPattern()), "A1|IUSN4");
    EXPECT_TRUE(second.prefixes().find("A"));
    EXPECT_TRUE(second.prefixes().find("IUSN"));
    ASSERT_NE(second.designatorPattern("IUSN"), nullptr);
    EXPECT_TRUE(BufrDecoder::matchPattern("42", second.designatorPattern("IUSN")));
    EXPECT_NE(second.designatorPattern("IUSN"), first.designatorPattern("IUSN"));
}

TEST(BufrDecoder, TemplateDictionary)
{
    std::string ncgen = QEV_NCGEN;
    if (ncgen.empty() || access(ncgen.c_str(), X_OK) != 0)
        GTEST_SKIP() << "ncgen not found; install netcdf-bin to run this test";
    TempTree tree;
    std::string cdl = tree.write("template.cdl",
                                 "netcdf template {\n"
                                 "dimensions:\n"
                                 "  recNum = UNLIMITED ;\n"
                                 "variables:\n"
                                 "  float pressure(recNum) ;\n"
                                 "    pressure:tblBname = \"PRESSURE|HEIGHT \" ;\n"
                                 "  float temperature(recNum) ;\n"
                                 "    temperature:long_name = \"air temperature\" ;\n"
                                 "    temperature:tblBname = \"TEMPERATURE/AIR TEMPERATURE\" ;\n"
                                 "  int other(recNum) ;\n"
                                 "    other:units = \"1\" ;\n"
                                 "  float height(recNum) ;\n"
                                 "    height:tblBname = \"||GEOPOTENTIAL HEIGHT|HEIGHT\" ;\n"
                                 "}\n");
    std::string nc = tree.path("template");
    std::string command = ncgen + " -o " + nc + " " + cdl;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    Dict<TextString, TextString> dict = BufrDecoder::readTemplateDict(nc.c_str(), "tblBname");
    EXPECT_EQ(dict.count(), 4);
    TextString name;
    EXPECT_TRUE(dict.find("PRESSURE", nullptr, &name));
    EXPECT_STREQ(name.c_str(), "pressure");
    EXPECT_TRUE(dict.find("HEIGHT", nullptr, &name));
    EXPECT_STREQ(name.c_str(), "height");    // the last variable naming it
    EXPECT_TRUE(dict.find("GEOPOTENTIAL HEIGHT", nullptr, &name));
    EXPECT_STREQ(name.c_str(), "height");

    TextString variable = "untouched";
    EXPECT_TRUE(BufrDecoder::lookupElementName(12001, variable, dict));
    EXPECT_STREQ(variable.c_str(), "temperature");
    EXPECT_TRUE(BufrDecoder::lookupElementName(10009, variable, dict));
    EXPECT_STREQ(variable.c_str(), "height");
    variable = "untouched";
    EXPECT_FALSE(BufrDecoder::lookupElementName(63999, variable, dict));    // not in table B
    EXPECT_FALSE(BufrDecoder::lookupElementName(1015, variable, dict));     // not in template
    EXPECT_STREQ(variable.c_str(), "untouched");

    // A template that cannot be opened says why: the system's reason, or
    // netCDF's for a file that is no netCDF file.
    LogCapture log;
    EXPECT_EQ(BufrDecoder::readTemplateDict(tree.path("none").c_str(), "tblBname").count(), 0);
    EXPECT_TRUE(log.contains("Unable to open " + tree.path("none") + ", No such file or directory"))
        << log.text();
    const std::string text = tree.write("text", "not a netCDF file\n");
    EXPECT_EQ(BufrDecoder::readTemplateDict(text.c_str(), "tblBname").count(), 0);
    EXPECT_TRUE(log.contains("Unable to open " + text + ", NetCDF: Unknown file format"))
        << log.text();
}

TEST(BufrDecoder, UndecodedMessagesGiveNoValues)
{
    TestDecoder dec;
    LogCapture log;
    const unsigned char message[] = {'B', 'U', 'F', 'R'};
    EXPECT_FALSE(dec.decode(message, sizeof message));
    EXPECT_EQ(dec.getDecodedValues().length(), 0);
    EXPECT_TRUE(log.contains("BUFR data not decoded."));
    EXPECT_STREQ(BufrDecoder::upperCaseLetters("aBc-De9F").c_str(), "BDF");
}

// A decoder keeps its log-filter answers from message to message, and every
// change of the filters reaches the next message: a filter command, the
// preference file read again, filtering toggled (SIGUSR2) and back.
TEST(BufrDecoder, LogAnswersFollowEveryChangeOfTheFilters)
{
    TempTree tree;
    BufrWriter w;
    w.subsets(1).descriptors({12101});
    w.element(12101, 273.15);
    const BufrWriter::Bytes message = w.build();
    TestDecoder dec;
    LogCapture log;
    auto valueLines = [&] {
        log.clear();
        EXPECT_TRUE(dec.decodeBytes(message));
        return log.count("DEBUG: std value[0]= 273.15");
    };
    EXPECT_EQ(valueLines(), 0);
    EXPECT_EQ(valueLines(), 0);
    LogStream::setFilter("DescriptorWalker", LogStream::TTY, LogStream::DEBUG, true);
    EXPECT_EQ(valueLines(), 1);
    LogStream::setFilter("DescriptorWalker", LogStream::TTY, LogStream::DEBUG, false);
    EXPECT_EQ(valueLines(), 0);

    tree.setEnv("LOG_PREF", tree.write("prefs", "all DescriptorWalker tty debug = on\n").c_str());
    ASSERT_TRUE(LogPrefParser::parse());
    EXPECT_EQ(valueLines(), 1);
    LogStream::setFilter("DescriptorWalker", LogStream::TTY, LogStream::DEBUG, false);
    EXPECT_EQ(valueLines(), 0);

    LogStream::toggleFiltering();
    EXPECT_EQ(valueLines(), 1);
    EXPECT_TRUE(log.contains("VERBOSE: Message length = "));
    LogStream::toggleFiltering();
    EXPECT_EQ(valueLines(), 0);
    EXPECT_FALSE(log.contains("VERBOSE: Message length = "));
}

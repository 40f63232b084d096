// Every file of the shared BUFR corpus through the project's decoder, value
// by value against ecCodes (see CorpusCheck.h for the summary lines).  Each
// file is its own test, so a crash names its file; the sequence test decodes
// them all with one decoder, as a decoder process does, and prints the table.
#include "ConformanceDecoder.h"
#include "CorpusCheck.h"
#include "EcCodesTools.h"

#include <gtest/gtest.h>

#include <cctype>
#include <iostream>

namespace {

std::vector<std::string> corpusFiles()
{
    std::string dir = ConformanceDecoder::corpusDir();
    return dir.empty() ? std::vector<std::string>() : CorpusCheck::files(dir);
}

#define SKIP_WITHOUT_CORPUS_OR_TABLES()                                                  \
    if (ConformanceDecoder::corpusDir().empty())                                         \
        GTEST_SKIP() << "BUFR corpus not found at " QEV_SHARED_DIR "/corpus/bufr";       \
    if (!EcCodesTools().missing().empty())                                               \
        GTEST_SKIP() << EcCodesTools().missingReason();                                  \
    ASSERT_TRUE(ConformanceDecoder::instance().tablesLoaded())                           \
        << "the project's tables did not load";                                          \
    CorpusCheck check(EcCodesTools(), ConformanceDecoder::corpusDir(),                   \
                      ConformanceDecoder::instance().tree().root())

// Checks one file, prints its lines and returns its result.
CorpusCheck::Result report(CorpusCheck& check, const std::string& name)
{
    CorpusCheck::Result r = check.check(name);
    std::cout << check.summary() << "\n";
    for (const std::string& d : check.details())
        std::cout << d << "\n";
    std::cout.flush();
    EXPECT_TRUE(CorpusCheck::acceptable(r)) << name << ": " << CorpusCheck::resultName(r);
    if (CorpusCheck::versionDependent(name))
        EXPECT_EQ(r, CorpusCheck::Match) << name << ": " << CorpusCheck::resultName(r);
    return r;
}

class CorpusConformance : public testing::TestWithParam<std::string> {};

TEST_P(CorpusConformance, SameValuesOrCleanFailure)
{
    SKIP_WITHOUT_CORPUS_OR_TABLES();
    report(check, GetParam());
}

std::string testName(const testing::TestParamInfo<std::string>& info)
{
    std::string name;
    for (char c : info.param)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusConformance, testing::ValuesIn(corpusFiles()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusConformance);

TEST(CorpusConformanceSequence, AllFilesWithOneDecoder)
{
    SKIP_WITHOUT_CORPUS_OR_TABLES();
    int counts[6] = {0, 0, 0, 0, 0, 0};
    std::string versionDependent;
    for (const std::string& name : corpusFiles()) {
        ++counts[report(check, name)];
        if (check.tableVersionMatters())
            versionDependent += " " + name;
    }
    std::cout << "[conformance] totals:";
    for (int r = CorpusCheck::Match; r <= CorpusCheck::Unverified; ++r)
        std::cout << " " << CorpusCheck::resultName(CorpusCheck::Result(r)) << " " << counts[r]
                  << (r < CorpusCheck::Unverified ? "," : "");
    std::cout << "\n[conformance] values that depend on the table version:"
              << (versionDependent.empty() ? " none" : versionDependent) << "\n";
}

} // namespace

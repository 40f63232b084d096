// Every file of the shared BUFR corpus through the project's decoder, value
// by value against ecCodes (see CorpusCheck.h for the summary lines).  Each
// file is its own test, so a crash names its file; the sequence test decodes
// them all with one decoder, as a decoder process does, and prints the table.
#include "ConformanceDecoder.h"
#include "CorpusCheck.h"
#include "EcCodesTools.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
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
    if (CorpusCheck::versionDependent(name)) {
        EXPECT_EQ(r, CorpusCheck::Match) << name << ": " << CorpusCheck::resultName(r);
    }
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

// Master table versions after the newest loaded (39) only add entries: each
// corpus file rewritten by ecCodes' bufr_set to say version 40 decodes as
// it does rewritten to say 39, value for value (or fails as it does there).
TEST(CorpusConformanceSequence, NewerTableVersionReadsAsNewestLoaded)
{
    if (ConformanceDecoder::corpusDir().empty())
        GTEST_SKIP() << "BUFR corpus not found at " QEV_SHARED_DIR "/corpus/bufr";
    const EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    ConformanceDecoder& decoder = ConformanceDecoder::instance();
    ASSERT_TRUE(decoder.tablesLoaded());
    TempTree scratch;
    int compared = 0;
    int decoded = 0;
    for (const std::string& name : corpusFiles()) {
        SCOPED_TRACE(name);
        const std::string in = ConformanceDecoder::corpusDir() + "/" + name;
        const std::string at39 = scratch.path(name + ".v39");
        const std::string at40 = scratch.path(name + ".v40");
        std::string error;
        if (!tools.setMasterTablesVersion(in, at39, 39, error) ||
            !tools.setMasterTablesVersion(in, at40, 40, error))
            continue;    // not a message bufr_set can read
        const ConformanceDecoder::Decoding v39 = decoder.decode(TempTree::readFile(at39));
        const ConformanceDecoder::Decoding v40 = decoder.decode(TempTree::readFile(at40));
        ++compared;
        decoded += v39.ok ? 1 : 0;
        ASSERT_EQ(v40.ok, v39.ok) << (v40.ok ? v39.reason() : v40.reason());
        ASSERT_EQ(v40.values.length(), v39.values.length());
        for (int i = 0; i < v39.values.length(); ++i) {
            const BufrValues& a = v39.values[i];
            const BufrValues& b = v40.values[i];
            const float x = a.getValue();
            const float y = b.getValue();
            ASSERT_TRUE(a.getDescriptor() == b.getDescriptor() &&
                        a.getSubset() == b.getSubset() && a.getIndex() == b.getIndex() &&
                        std::memcmp(&x, &y, sizeof x) == 0 && a.getCharValue() == b.getCharValue())
                << "value " << i;
        }
    }
    std::cout << "[conformance] version 40 read as version 39: " << compared
              << " files compared, " << decoded << " decoded" << std::endl;
    EXPECT_GT(decoded, 10);
}

} // namespace

// The conformance harness's own pieces, held against hand-made dumps and
// against what ecCodes prints for messages the tests wrote: the JSON reader,
// the reading of ecCodes' dumps, the tolerance rule, the alignment of the
// decoder's values with ecCodes' positions, and the table-version alignment.
#include "BufrDecoder.h"
#include "BufrWriter.h"
#include "CorpusReference.h"
#include "EcCodesDump.h"
#include "EcCodesTools.h"
#include "JsonValue.h"
#include "TempTree.h"
#include "ValueComparison.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

typedef EcCodesDump::Value Value;
const std::string firstSubset = ",{\"key\":\"subsetNumber\",\"value\":1},";

std::string header(int subsets, bool compressed)
{
    return "{\"key\":\"edition\",\"value\":4},{\"key\":\"masterTablesVersionNumber\",\"value\":13},"
           "{\"key\":\"numberOfSubsets\",\"value\":" + std::to_string(subsets) +
           "},{\"key\":\"compressedData\",\"value\":" + (compressed ? "1" : "0") + "}";
}

std::string entry(int index, const char* code, const std::string& value, int scale = 0,
                  const std::string& attributes = "")
{
    return "{\"key\":\"k" + std::to_string(index) + "\",\"value\":" + value +
           ",\"index\":" + std::to_string(index) + ",\"code\":\"" + code +
           "\",\"units\":\"" + (std::string(code) == "001015" ? "CCITT IA5" : "K") +
           "\",\"scale\":" + std::to_string(scale) + ",\"reference\":0,\"width\":16" +
           attributes + "}";
}

// The dump of a message's JSON, or the reason it was refused.
std::string parsed(const std::string& json, EcCodesDump& d)
{
    std::string error;
    return d.parseJson("{\"messages\":[" + json + "]}", error) ? d.listing() : error;
}

SeqOf<BufrValues> decoded(const std::vector<BufrValues>& list)
{
    SeqOf<BufrValues> s;
    for (const BufrValues& v : list)
        s.append(v);
    return s;
}

BufrValues number(int subset, int descriptor, float value, int index = 0)
{
    return BufrValues(subset, descriptor, value, index, TextString());
}

BufrValues text(int subset, int descriptor, const char* t)
{
    return BufrValues(subset, descriptor, BufrDecoder::CHARACTER_VALUE, 0, TextString(t));
}

Value ref(int descriptor, double n, int scale = 0, EcCodesDump::Role role = EcCodesDump::Element)
{
    Value v = EcCodesDump::element(descriptor, n, scale);
    v.role = role;
    return v;
}

std::string firstDetail(const ValueComparison& c)
{
    return c.details().empty() ? "" : c.details().front();
}

TEST(JsonValue, ReadsToolOutputAndKeepsLiterals)
{
    JsonValue v;
    std::string error;
    std::string text = " {\"a\" : [1, -2.5e+06, null],\n \"b\":\"x\\\"\\?\", \"a\": {} } ";
    ASSERT_TRUE(JsonValue::parse(text, v, error)) << error;
    ASSERT_EQ(v.type(), JsonValue::Object);
    ASSERT_EQ(v.members().size(), 3u);
    const JsonValue* a = v.find("a");    // the first of two members named a
    ASSERT_TRUE(a && a->type() == JsonValue::Array && a->items().size() == 3u);
    EXPECT_EQ(a->items()[1].text(), "-2.5e+06");
    EXPECT_EQ(a->items()[1].number(), -2.5e6);
    EXPECT_TRUE(a->items()[2].isNull());
    EXPECT_EQ(v.find("b")->text(), "x\"?");    // an escape: the character itself
    EXPECT_EQ(v.find("c"), nullptr);

    for (const std::string& bad : {std::string("{\"a\":1"), std::string("[1,]"),
                                   std::string("{\"a\":1} x"), std::string("[1.2.3]"),
                                   std::string(600, '[') + std::string(600, ']')}) {
        EXPECT_FALSE(JsonValue::parse(bad, v, error)) << bad;
        EXPECT_NE(error.find("offset"), std::string::npos) << error;
    }
}

TEST(EcCodesDumpJson, StandardDataByPosition)
{
    // Two subsets; numbering runs on across subsets.  Subset 0: an element
    // carrying an associated field (with its significance, printed under
    // every field that shares it), an operator, a position printed nowhere
    // (#5) and a 2 05 text.  Subset 1 goes on from #8 and ends with a
    // 0 31 021 that belongs to no associated field.
    std::string assoc = ",\"associatedField\":" +
                        entry(2, "999999", "1", 0,
                              ",\"associatedFieldSignificance\":" + entry(1, "031021", "2"));
    EcCodesDump d;
    EXPECT_EQ(parsed(header(2, false) + firstSubset + entry(3, "012101", "273.15", 2, assoc) +
                         "," + entry(4, "222000", "0") + "," + entry(1, "031021", "2") +
                         ",{\"key\":\"text\",\"value\":\"HELLO\",\"index\":6}," +
                         entry(7, "001015", "\"AB \"") +
                         ",{\"key\":\"subsetNumber\",\"value\":2}," + entry(8, "012101", "1234567") +
                         "," + entry(9, "012101", "null") + "," + entry(10, "031021", "5"),
                     d),
              "S:031021=2 A:999999=1 012101=273.15 O:222000=0 U:------=missing T:'HELLO' "
              "001015='AB' | 012101=1234567 012101=missing 031021=5");
    EXPECT_EQ(d.edition(), 4);
    EXPECT_EQ(d.masterTablesVersion(), 13);
    EXPECT_DOUBLE_EQ(d.subsets()[0][2].printError, 0.0005);    // six digits printed
    EXPECT_EQ(d.subsets()[1][0].index, 8);
    EXPECT_EQ(d.subsets()[1][0].printError, 0.0);    // a whole integer literal

    EcCodesDump bad;
    EXPECT_EQ(parsed(header(1, false) + "," + header(1, false), bad),
              "the dump holds more than one message");
    EXPECT_EQ(parsed(header(2, false) + firstSubset + entry(1, "012101", "1"), bad),
              "1 subsets printed, 2 announced");
}

TEST(EcCodesDumpJson, CompressedValuesPerSubset)
{
    std::string json =
        header(3, true) + "," + entry(1, "012101", "[273.15, null, 1]", 2) + "," +
        entry(2, "001015", "\"AB\"");
    EcCodesDump d;
    EXPECT_EQ(parsed(json, d), "012101=273.15 001015='AB' | 012101=missing 001015='AB' | "
                               "012101=1 001015='AB'");    // one text for all subsets

    // The full numbers: compressed data lists subset after subset.
    std::string error;
    EXPECT_TRUE(d.applyNumericValues({273.150001, 0, -1e100, 0, 1, 0}, error)) << error;
    EXPECT_EQ(d.subsets()[0][0].number, 273.150001);
    EXPECT_EQ(d.subsets()[0][0].printError, 0.0);

    EcCodesDump e;
    parsed(json, e);
    EXPECT_FALSE(e.applyNumericValues({273.16, 0, -1e100, 0, 1, 0}, error));
    EXPECT_NE(error.find("subset 0 #1 012101"), std::string::npos) << error;
    EXPECT_EQ(e.subsets()[0][0].number, 273.15);    // unchanged
    EXPECT_FALSE(e.applyNumericValues({273.15, -1e100, 1}, error));
    EXPECT_NE(error.find("3 numbers for 6"), std::string::npos) << error;
    EXPECT_FALSE(e.applyNumericValues({273.15, 0, 5, 0, 1, 0}, error));    // not missing

    EXPECT_EQ(parsed(header(3, true) + "," + entry(1, "012101", "[1, 2]"), e),
              "#1 k1 has 2 values for 3 subsets");
}

// Half a unit of the scale, widened by the printed precision and by the
// float the decoder stores; missing values, texts and repetition numbers.
TEST(ValueComparisonRules, ToleranceMissingAndTexts)
{
    Value t = ref(12101, 273.15, 2), printed = t, gone = t, repeated = t;
    Value big = ref(7031, 6675219.53, 2), name = ref(1015, 0);
    printed.printError = 0.005;
    gone.kind = EcCodesDump::Missing;
    repeated.repetition = 1;
    name.kind = EcCodesDump::Text;
    name.units = "CCITT IA5";
    name.text = "SAN FRANCISCO   ";
    Value noName = name;
    noName.kind = EcCodesDump::Missing;
    const struct {
        BufrValues decoded;
        Value reference;
        std::string why;    // empty: they agree
    } cases[] = {
        {number(0, 12101, 273.154f), t, ""},
        {number(0, 12101, 273.157f), t, "off by"},
        {number(0, 12101, 273.157f), printed, ""},
        {number(0, 7031, 6675219.53f), big, ""},    // beyond the float's precision
        {number(0, 7031, 6675222.0f), big, "off by"},
        {number(0, 12101, BufrDecoder::MISSING_VALUE), gone, ""},
        {number(0, 12101, 0.0f), gone, "the reference is missing"},
        {number(0, 12101, BufrDecoder::MISSING_VALUE), t, "decoded as missing"},
        {number(0, 12101, BufrDecoder::NOT_IN_TABLE_B), t,
         "descriptor not in the project's table B"},
        {text(0, 1015, " SAN FRANCISCO"), name, ""},
        {text(0, 1015, "SAN"), name, "text cut at a blank"},
        {text(0, 1015, "SAN JOSE"), name, "text differs"},
        {number(0, 1015, 0.0f), name, "not decoded as a character element"},
        {text(0, 1015, ""), noName, ""},
        {number(0, 12101, 273.15f, 1), repeated, ""},
        {number(0, 12101, 273.15f, 0), repeated, "index 0, expected 1"},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(ValueComparison::sameValue(c.decoded, c.reference, why), c.why.empty()) << i;
        EXPECT_EQ(why.substr(0, c.why.size()), c.why) << i++;
    }
}

TEST(ValueComparisonAlignment, SkipsWhatTheDecoderDoesNotList)
{
    ValueComparison::Reference reference = {
        {ref(31001, 2), ref(31021, 2, 0, EcCodesDump::AssociatedSignificance),
         ref(999999, 1, 0, EcCodesDump::AssociatedField), ref(12101, 273.15, 2),
         ref(222000, 0, 0, EcCodesDump::Operator), ref(-1, 7, 0, EcCodesDump::Unprinted)},
        {ref(31001, 0), ref(11001, 90)}};
    // The factors are passed over: they are no values.
    BufrValues temperature = number(0, 12101, 273.15f), other = number(0, 33007, 7);
    ValueComparison ok(decoded({temperature, other, number(1, 11001, 90)}), reference);
    EXPECT_TRUE(ok.agrees()) << firstDetail(ok);
    EXPECT_EQ(ok.compared(), 3);
    EXPECT_EQ(ok.unchecked(), 1);

    ValueComparison a(decoded({number(0, 12102, 273.15f), other, number(1, 11001, 91)}), reference);
    EXPECT_EQ(a.mismatches(), 2);    // the step is lost once; subset 1 still compared
    EXPECT_NE(firstDetail(a).find("out of step at value 0"), std::string::npos) << firstDetail(a);

    ValueComparison b(decoded({temperature, number(1, 11001, 90), number(1, 12101, 1)}), reference);
    ASSERT_EQ(b.mismatches(), 2);
    EXPECT_NE(b.details()[0].find("subset 0 ends after 1 values"), std::string::npos);
    EXPECT_NE(b.details()[1].find("1 values more than the reference"), std::string::npos);

    ValueComparison c(decoded({number(1, 11001, 90), temperature}), reference);
    EXPECT_FALSE(c.agrees());
    EXPECT_NE(firstDetail(c).find("has subset 0 after subset 1"), std::string::npos);

    ValueComparison d(decoded({temperature}), {{ref(12101, 273.15, 2)}, {}, {}});
    EXPECT_NE(firstDetail(d).find("1 subsets decoded, the reference has 3"), std::string::npos);
}

// ecCodes decodes with the message's table version, as the project does:
// that decoding is the reference, and a copy at version 39 counts the
// values that change between the two.  0 14 018 has scale -3 in version 13
// and 0 in 39.
TEST(CorpusReferenceVersions, AlignsTheTableVersion)
{
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    TempTree tree;
    std::string corpus = tree.mkdirs("corpus");
    std::string scratch = tree.mkdirs("scratch");

    BufrWriter old;
    old.masterTableVersion(13).descriptors({14018, 12101});
    old.element(14018, 2000).element(12101, 250.5);
    BufrWriter current;
    current.descriptors({12101});
    current.element(12101, 260.25);
    ASSERT_TRUE(old.ok() && current.ok());
    BufrWriter::Bytes two = BufrWriter::withHeader("IUSD40 OKLI 121200\r\r\n", current.build());
    BufrWriter::Bytes second = old.build();
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_TRUE(BufrWriter::writeFile(corpus + "/old.bufr", old.build()));
    ASSERT_TRUE(BufrWriter::writeFile(corpus + "/two.bufr", two));
    ASSERT_TRUE(BufrWriter::writeFile(corpus + "/broken.bufr", BufrWriter::truncated(second, 30)));

    CorpusReference a(tools, corpus, scratch);
    ASSERT_TRUE(a.load("old.bufr")) << a.error();
    EXPECT_EQ(a.messageTablesVersion(), 13);
    EXPECT_EQ(a.tableVersionDifferences(), 1);
    ASSERT_EQ(a.tableVersionDetails().size(), 1u);
    EXPECT_NE(a.tableVersionDetails()[0].find("014018"), std::string::npos);
    EXPECT_EQ(a.reference().subsets()[0][0].number, 2e6);    // version 13's reading

    CorpusReference b(tools, corpus, scratch);
    ASSERT_TRUE(b.load("two.bufr")) << b.error();
    EXPECT_EQ(b.messages(), 2);
    EXPECT_EQ(b.messageTablesVersion(), 39);
    EXPECT_EQ(b.tableVersionDifferences(), 0);
    EXPECT_EQ(b.reference().subsets()[0][0].number, 260.25);    // the first message

    CorpusReference c(tools, corpus, scratch);
    EXPECT_FALSE(c.load("broken.bufr"));
    EXPECT_EQ(c.messages(), 0);
    EXPECT_EQ(c.error(), "no complete BUFR message in the file");
}

} // namespace

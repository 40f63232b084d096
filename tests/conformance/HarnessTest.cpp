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

#include <cmath>
#include <string>
#include <vector>

namespace {

typedef EcCodesDump::Value Value;
const double NaN = BufrWriter::missingValue();
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

EcCodesDump parsed(const std::string& json)
{
    EcCodesDump d;
    std::string error;
    EXPECT_TRUE(d.parseJson(json, error)) << error;
    return d;
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

Value ref(int descriptor, double n, int scale = 0)
{
    return EcCodesDump::element(descriptor, n, scale);
}

bool agrees(const BufrValues& d, const Value& v)
{
    std::string why;
    return ValueComparison::sameValue(d, v, why);
}

TEST(JsonValue, ReadsToolOutputAndKeepsLiterals)
{
    JsonValue v;
    std::string error;
    ASSERT_TRUE(JsonValue::parse(" {\"a\" : [1, -2.5e+06, null, true],\n \"b\":\"x\\\"\\q\\u00e9\","
                                 " \"a\": {} } ",
                                 v, error))
        << error;
    ASSERT_EQ(v.type(), JsonValue::Object);
    ASSERT_EQ(v.members().size(), 3u);
    const JsonValue* a = v.find("a");    // the first of two members named a
    ASSERT_TRUE(a && a->type() == JsonValue::Array);
    ASSERT_EQ(a->items().size(), 4u);
    EXPECT_EQ(a->items()[1].text(), "-2.5e+06");
    EXPECT_EQ(a->items()[1].number(), -2.5e6);
    EXPECT_TRUE(a->items()[2].isNull());
    EXPECT_TRUE(a->items()[3].boolean());
    EXPECT_EQ(v.find("b")->text(), "x\"q\xc3\xa9");    // unknown escape: the character itself
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
    // every field that shares it), an operator, a 2 05 text and a position
    // printed nowhere (#5).  Subset 1 goes on from #8 and ends with a
    // 0 31 021 that belongs to no associated field.
    std::string assoc = ",\"associatedField\":" +
                        entry(2, "999999", "1", 0,
                              ",\"associatedFieldSignificance\":" + entry(1, "031021", "2"));
    std::string json = "{\"messages\":[" + header(2, false) + firstSubset +
                       entry(3, "012101", "273.15", 2, assoc) + "," + entry(4, "222000", "0") +
                       "," + entry(1, "031021", "2") +
                       ",{\"key\":\"text\",\"value\":\"HELLO\",\"index\":6}," +
                       entry(7, "001015", "\"AB \"") +
                       ",{\"key\":\"subsetNumber\",\"value\":2}," + entry(8, "012101", "1234567") +
                       "," + entry(9, "012101", "null") + "," + entry(10, "031021", "5") + "]}";
    EcCodesDump d = parsed(json);
    EXPECT_EQ(d.edition(), 4);
    EXPECT_EQ(d.masterTablesVersion(), 13);
    ASSERT_EQ(d.subsets().size(), 2u);
    const std::vector<Value>& s0 = d.subsets()[0];
    ASSERT_EQ(s0.size(), 7u);
    EXPECT_EQ(s0[0].role, EcCodesDump::AssociatedSignificance);
    EXPECT_EQ(s0[1].role, EcCodesDump::AssociatedField);
    EXPECT_EQ(s0[2].role, EcCodesDump::Element);
    EXPECT_DOUBLE_EQ(s0[2].printError, 0.0005);    // six digits printed
    EXPECT_EQ(s0[3].role, EcCodesDump::Operator);
    EXPECT_EQ(s0[4].role, EcCodesDump::Unprinted);
    EXPECT_EQ(s0[5].role, EcCodesDump::OperatorText);
    EXPECT_EQ(s0[6].kind, EcCodesDump::Text);
    ASSERT_EQ(d.subsets()[1].size(), 3u);
    EXPECT_EQ(d.subsets()[1][0].index, 8);
    EXPECT_EQ(d.subsets()[1][0].printError, 0.0);    // a whole integer literal
    EXPECT_EQ(d.subsets()[1][1].kind, EcCodesDump::Missing);
    EXPECT_EQ(d.subsets()[1][2].role, EcCodesDump::Element);    // 0 31 021 of no field

    EcCodesDump bad;
    std::string error;
    std::string twice = "{\"messages\":[" + header(1, false) + "," + header(1, false) + "]}";
    EXPECT_FALSE(bad.parseJson(twice, error));
    EXPECT_EQ(error, "the dump holds more than one message");
    std::string tooFew =
        "{\"messages\":[" + header(2, false) + firstSubset + entry(1, "012101", "1") + "]}";
    EXPECT_FALSE(bad.parseJson(tooFew, error));
    EXPECT_EQ(error, "1 subsets printed, 2 announced");
}

TEST(EcCodesDumpJson, CompressedValuesPerSubset)
{
    std::string json = "{\"messages\":[" + header(3, true) + "," +
                       entry(1, "012101", "[273.15, null, 1]", 2) + "," +
                       entry(2, "001015", "\"AB\"") + "]}";
    EcCodesDump d = parsed(json);
    ASSERT_EQ(d.subsets().size(), 3u);
    EXPECT_EQ(d.subsets()[0][0].number, 273.15);
    EXPECT_EQ(d.subsets()[1][0].kind, EcCodesDump::Missing);
    EXPECT_EQ(d.subsets()[2][0].number, 1.0);
    for (int s = 0; s < 3; ++s)
        EXPECT_EQ(d.subsets()[s][1].text, "AB");    // one value for all subsets

    // The full numbers: compressed data lists subset after subset.
    std::string error;
    EXPECT_TRUE(d.applyNumericValues({273.150001, 0, -1e100, 0, 1, 0}, error)) << error;
    EXPECT_EQ(d.subsets()[0][0].number, 273.150001);
    EXPECT_EQ(d.subsets()[0][0].printError, 0.0);

    EcCodesDump e = parsed(json);
    EXPECT_FALSE(e.applyNumericValues({273.16, 0, -1e100, 0, 1, 0}, error));
    EXPECT_NE(error.find("subset 0 #1 012101"), std::string::npos) << error;
    EXPECT_EQ(e.subsets()[0][0].number, 273.15);    // unchanged
    EXPECT_FALSE(e.applyNumericValues({273.15, -1e100, 1}, error));
    EXPECT_NE(error.find("3 numbers for 6"), std::string::npos) << error;
    EXPECT_FALSE(e.applyNumericValues({273.15, 0, 5, 0, 1, 0}, error));    // not missing

    EcCodesDump shortArray;
    std::string broken =
        "{\"messages\":[" + header(3, true) + "," + entry(1, "012101", "[1, 2]") + "]}";
    EXPECT_FALSE(shortArray.parseJson(broken, error));
    EXPECT_NE(error.find("has 2 values for 3 subsets"), std::string::npos) << error;
}

TEST(ValueComparisonRules, ToleranceMissingAndTexts)
{
    // Half a unit of the scale, widened by the printed precision and by
    // the float the decoder stores.
    Value t = ref(12101, 273.15, 2);
    EXPECT_TRUE(agrees(number(0, 12101, 273.154f), t));
    EXPECT_FALSE(agrees(number(0, 12101, 273.157f), t));
    t.printError = 0.005;
    EXPECT_TRUE(agrees(number(0, 12101, 273.157f), t));
    Value big = ref(7031, 6675219.53, 2);     // beyond the float's precision
    EXPECT_TRUE(agrees(number(0, 7031, 6675219.53f), big));
    EXPECT_FALSE(agrees(number(0, 7031, 6675222.0f), big));

    Value missing = ref(12101, 0, 2);
    missing.kind = EcCodesDump::Missing;
    EXPECT_TRUE(agrees(number(0, 12101, BufrDecoder::MISSING_VALUE), missing));
    EXPECT_FALSE(agrees(number(0, 12101, 0.0f), missing));
    EXPECT_FALSE(agrees(number(0, 12101, BufrDecoder::MISSING_VALUE), t));

    std::string why;
    EXPECT_FALSE(ValueComparison::sameValue(number(0, 12101, BufrDecoder::NOT_IN_TABLE_B), t, why));
    EXPECT_EQ(why, "descriptor not in the project's table B");

    Value name = ref(1015, 0);
    name.kind = EcCodesDump::Text;
    name.units = "CCITT IA5";
    name.text = "SAN FRANCISCO   ";
    EXPECT_TRUE(agrees(text(0, 1015, " SAN FRANCISCO"), name));
    EXPECT_FALSE(ValueComparison::sameValue(text(0, 1015, "SAN"), name, why));
    EXPECT_EQ(why, "text cut at a blank");
    EXPECT_FALSE(ValueComparison::sameValue(text(0, 1015, "SAN JOSE"), name, why));
    EXPECT_EQ(why, "text differs");
    EXPECT_FALSE(agrees(number(0, 1015, 0.0f), name));
    name.kind = EcCodesDump::Missing;
    EXPECT_TRUE(agrees(text(0, 1015, ""), name));

    Value repeated = ref(12101, 273.15, 2);
    repeated.repetition = 1;
    EXPECT_TRUE(agrees(number(0, 12101, 273.15f, 1), repeated));
    EXPECT_FALSE(ValueComparison::sameValue(number(0, 12101, 273.15f, 0), repeated, why));
    EXPECT_EQ(why, "index 0, expected 1");
}

TEST(ValueComparisonAlignment, SkipsWhatTheDecoderDoesNotList)
{
    Value field = ref(999999, 1);
    field.role = EcCodesDump::AssociatedField;
    Value significance = ref(31021, 2);
    significance.role = EcCodesDump::AssociatedSignificance;
    Value op = ref(222000, 0);
    op.role = EcCodesDump::Operator;
    Value unprinted = ref(-1, 7);
    unprinted.role = EcCodesDump::Unprinted;
    ValueComparison::Reference reference = {
        {ref(31001, 2), significance, field, ref(12101, 273.15, 2), op, unprinted},
        {ref(31001, 0), ref(11001, 90)}};
    // The factors are passed over: they are no values.
    std::vector<BufrValues> good = {number(0, 12101, 273.15f), number(0, 33007, 7),
                                    number(1, 11001, 90)};
    ValueComparison ok(decoded(good), reference);
    EXPECT_TRUE(ok.agrees()) << (ok.details().empty() ? "" : ok.details().front());
    EXPECT_EQ(ok.compared(), 3);
    EXPECT_EQ(ok.unchecked(), 1);

    std::vector<BufrValues> outOfStep = {number(0, 12102, 273.15f), number(0, 33007, 7),
                                         number(1, 11001, 91)};
    ValueComparison a(decoded(outOfStep), reference);
    EXPECT_EQ(a.mismatches(), 2);    // the step is lost once; subset 1 still compared
    EXPECT_NE(a.details()[0].find("out of step at value 0"), std::string::npos) << a.details()[0];

    std::vector<BufrValues> shortOne = {number(0, 12101, 273.15f), number(1, 11001, 90),
                                        number(1, 12101, 1)};
    ValueComparison b(decoded(shortOne), reference);
    ASSERT_EQ(b.mismatches(), 2);
    EXPECT_NE(b.details()[0].find("subset 0 ends after 1 values"), std::string::npos);
    EXPECT_NE(b.details()[1].find("1 values more than the reference"), std::string::npos);

    std::vector<BufrValues> backwards = {number(1, 11001, 90), number(0, 12101, 273.15f)};
    ValueComparison c(decoded(backwards), reference);
    EXPECT_FALSE(c.agrees());
    EXPECT_NE(c.details()[0].find("has subset 0 after subset 1"), std::string::npos);

    ValueComparison d(decoded({number(0, 12101, 273.15f)}), {{ref(12101, 273.15, 2)}, {}, {}});
    EXPECT_NE(d.details()[0].find("1 subsets decoded, the reference has 3"), std::string::npos);
}

// What ecCodes prints for messages of known content is read back as that
// content: the dump, the full numbers and the alignment together.
TEST(EcCodesDumpTools, ReadsBackWhatATestWrote)
{
    std::string skip = EcCodesTools().missingReason();
    if (!skip.empty())
        GTEST_SKIP() << skip;
    TempTree tree;
    EcCodesTools tools;

    BufrWriter standard;
    standard.subsets(2).descriptors({1015, 101000, 31001, 12101, 204002, 31021, 11001, 204000});
    for (int s = 0; s < 2; ++s) {
        standard.chars(1015, s ? "AB" : "SAN FRANCISCO").factor(31001, s ? 0 : 2);
        if (!s)
            standard.element(12101, 273.15).missing(12101);
        standard.op(204002).element(31021, 1).associatedValue(3).element(11001, 90 + s).op(204000);
    }
    std::vector<BufrValues> standardValues = {
        text(0, 1015, "SAN FRANCISCO"), number(0, 12101, 273.15f, 0),
        number(0, 12101, BufrDecoder::MISSING_VALUE, 1), number(0, 11001, 90),
        text(1, 1015, "AB"), number(1, 11001, 91)};

    BufrWriter packed;
    packed.compressed(true).subsets(3).descriptors({1015, 12101, 1002});
    packed.charsColumn(1015, {"AB CD", "EF", "GH"})
        .column(12101, {273.15, 274.2, NaN})
        .column(1002, {5, 5, 5});
    std::vector<BufrValues> packedValues;
    const char* names[] = {"AB CD", "EF", "GH"};
    const float temperatures[] = {273.15f, 274.2f, BufrDecoder::MISSING_VALUE};
    for (int s = 0; s < 3; ++s) {
        packedValues.push_back(text(s, 1015, names[s]));
        packedValues.push_back(number(s, 12101, temperatures[s]));
        packedValues.push_back(number(s, 1002, 5));
    }

    struct Case {
        const char* name;
        BufrWriter& writer;
        std::vector<BufrValues>& values;
    } cases[] = {{"standard", standard, standardValues}, {"compressed", packed, packedValues}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.writer.ok()) << c.writer.error();
        std::string file = tree.path(std::string(c.name) + ".bufr");
        ASSERT_TRUE(BufrWriter::writeFile(file, c.writer.build()));
        EcCodesDump dump;
        std::string error;
        ASSERT_TRUE(tools.dump(file, dump, error)) << error;
        ValueComparison cmp(decoded(c.values), dump.subsets());
        EXPECT_TRUE(cmp.agrees()) << (cmp.details().empty() ? "" : cmp.details().front());
        EXPECT_EQ(cmp.compared(), static_cast<int>(c.values.size()));
    }
}

// ecCodes decodes with the message's table version, the project with 39:
// a copy at version 39 is the reference, and values that change between
// the two are counted.  0 14 018 has scale -3 in version 13 and 0 in 39.
TEST(CorpusReferenceVersions, AlignsTheTableVersion)
{
    std::string skip = EcCodesTools().missingReason();
    if (!skip.empty())
        GTEST_SKIP() << skip;
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

    EcCodesTools tools;
    CorpusReference a(tools, corpus, scratch);
    ASSERT_TRUE(a.load("old.bufr")) << a.error();
    EXPECT_EQ(a.messageTablesVersion(), 13);
    EXPECT_EQ(a.tableVersionDifferences(), 1);
    ASSERT_EQ(a.tableVersionDetails().size(), 1u);
    EXPECT_NE(a.tableVersionDetails()[0].find("014018"), std::string::npos);
    EXPECT_EQ(a.reference().subsets()[0][0].number, 2000.0);    // version 39's reading

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

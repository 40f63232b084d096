// Messages the tests encode, through the project's decoder: with ecCodes'
// bufr_filter (replication, operators, compressed texts, editions 3 and 4;
// ecCodes' own decoding is the reference), and with the project's
// BufrWriter for what ecCodes cannot encode (2 03 in compressed data, 2 06
// before a local descriptor, the 0 31 011 / 0 31 012 repetition factors;
// the reference is what the test wrote).
//
// Each message must decode to the reference values; a failure is reported
// with its logged reason.
//
// Every message ends with two 0 01 019 texts (64 octets; missing in the
// ecCodes messages, blank in the others) so that no data section is short
// enough to be read as a short section 4.
#include "BufrDecoder.h"
#include "BufrWriter.h"
#include "ConformanceDecoder.h"
#include "EcCodesDump.h"
#include "EcCodesTools.h"
#include "ValueComparison.h"

#include <gtest/gtest.h>

#include <iostream>

namespace {

typedef EcCodesDump::Value Value;
typedef ValueComparison::Reference Reference;

struct FilterCase {
    const char* name;
    int edition;
    int subsets;
    bool compressed;
    const char* before;         // rules needed before the descriptors are set
    const char* descriptors;
    const char* values;
    // Per subset, the repetition number of each listed value (padding
    // excluded); empty when not checked.
    std::vector<std::vector<int> > repetitions = {};
};

std::string rules(const FilterCase& c)
{
    return std::string("set masterTablesVersionNumber=39;\nset numberOfSubsets=") +
           std::to_string(c.subsets) + ";\nset compressedData=" + (c.compressed ? "1" : "0") +
           ";\n" + c.before + "set unexpandedDescriptors={" + c.descriptors +
           ",001019,001019};\n" + c.values + "set pack=1;\nwrite;\n";
}

Value number(int descriptor, double n, int scale)
{
    return EcCodesDump::element(descriptor, n, scale);
}

// The padding texts the writer cases end with (blanks).
Value expectPadding()
{
    Value v = number(1019, 0, 0);
    v.kind = EcCodesDump::Text;
    v.units = "CCITT IA5";
    return v;
}

Value repetition(Value v, int r)
{
    v.repetition = r;
    return v;
}

// Decodes a message and holds it to the reference; prints the summary line.
void check(const char* name, const BufrWriter::Bytes& message, const Reference& reference)
{
    ConformanceDecoder::Decoding d =
        ConformanceDecoder::instance().decode(std::string(message.begin(), message.end()));
    std::cout << "[conformance] encoded " << name << ": ";
    if (!d.ok) {
        std::cout << "FAILED CLEANLY: " << d.reason() << std::endl;
        ADD_FAILURE() << name << " must decode: " << d.reason();
        return;
    }
    ValueComparison cmp(d.values, reference);
    if (cmp.agrees()) {
        std::cout << "MATCH (" << cmp.compared() << " values)" << std::endl;
        return;
    }
    std::cout << "MISMATCH" << std::endl;
    for (const std::string& w : cmp.details())
        std::cout << "    " << w << std::endl;
    ADD_FAILURE() << name << ": decoded values differ: " << cmp.details().front();
}

TEST(EncodedConformance, Baseline)
{
    ASSERT_TRUE(ConformanceDecoder::instance().tablesLoaded());
    BufrWriter w;
    w.descriptors({1002, 12101, 1019, 1019});
    w.element(1002, 123).element(12101, 273.15).chars(1019, "").chars(1019, "");
    check("baseline", w.build(),
          {{number(1002, 123, 0), number(12101, 273.15, 2), expectPadding(), expectPadding()}});
}

TEST(EncodedConformance, MessagesEncodedByEcCodes)
{
    std::string skip = EcCodesTools().missingReason();
    if (!skip.empty())
        GTEST_SKIP() << skip;
    ASSERT_TRUE(ConformanceDecoder::instance().tablesLoaded());
    const FilterCase cases[] = {
        {"delayed and fixed replication", 4, 2, false,
         "set inputDelayedDescriptorReplicationFactor={2,3};\n"
         "set inputExtendedDelayedDescriptorReplicationFactor={1,2};\n",
         "001002,101000,031001,012101,102000,031002,007004,011001,102002,005001,006001",
         "set stationNumber={11,22};\nset airTemperature={273.15,274.2,250,251.5,252};\n"
         "set pressure={85000,70000,50000};\nset windDirection={10,20,30};\n"
         "set latitude={1.5,2.5,-3.25,4};\nset longitude={-120.5,0,179.99999,-180};\n",
         {{0, 0, 1, 0, 0, 0, 0, 0, 0},
          {0, 0, 1, 2, 0, 0, 1, 1, 0, 0, 0, 0}}},
        {"nested delayed replication", 4, 1, false,
         "set inputDelayedDescriptorReplicationFactor={2,1,3};\n",
         "001002,104000,031001,007004,101000,031001,012101,011001",
         "set stationNumber=123;\nset pressure={85000,70000};\n"
         "set airTemperature={280,270,260,250};\nset windDirection=45;\n"},
        {"operators 2 01 and 2 02", 4, 1, false, "",
         "201132,012101,201000,201131,202129,012101,202000,201000,012101",
         "set #1#airTemperature=273.15;\nset #2#airTemperature=250.5;\n"
         "set #3#airTemperature=270.4;\n"},
        {"operators 2 07 and 2 08", 4, 1, false, "",
         "207002,012101,207000,208010,001015,208000,012101",
         "set #1#airTemperature=260.123;\nset stationOrSiteName=\"TEN CHARS!\";\n"
         "set #2#airTemperature=270.4;\n"},
        {"associated field 2 04", 4, 1, false, "",
         "204002,031021,012101,011001,204000,012101",
         "set #1#airTemperature=273.15;\nset #2#airTemperature=250.5;\nset windDirection=90;\n"
         "set #1#airTemperature->associatedField=1;\nset windDirection->associatedField=3;\n"},
        {"character data 2 05", 4, 1, false, "", "012101,205005,012101",
         "set #1#airTemperature=273.15;\nset #2#airTemperature=250.5;\nset text=\"HELLO\";\n"},
        {"changed reference 2 03", 4, 1, false, "set inputOverriddenReferenceValues={-8000};\n",
         "203014,012101,203255,012101,203000,012101",
         "set #1#airTemperature=-50.5;\nset #2#airTemperature=250;\n"},
        {"compressed texts", 4, 3, true, "", "001015,012101,001002",
         "set stationOrSiteName={\"AB CD\",\"EF\",\"GH\"};\n"
         "set airTemperature={273.15,274.2,-1e100};\nset stationNumber=7;\n"},
        {"compressed delayed replication", 4, 2, true,
         "set inputDelayedDescriptorReplicationFactor={2};\n", "001002,101000,031001,012101",
         "set stationNumber={1,2};\nset #1#airTemperature={273.15,274.2};\n"
         "set #2#airTemperature={250,-1e100};\n",
         {{0, 0, 1}, {0, 0, 1}}},
        {"edition 3", 3, 1, false, "set inputDelayedDescriptorReplicationFactor={3};\n",
         "001001,001002,101000,031001,007004,012101",
         "set blockNumber=72;\nset stationNumber=493;\nset pressure={100000,85000,70000};\n"
         "set airTemperature=288.15;\n",
         {{0, 0, 0, 1, 2, 0}}},
    };
    EcCodesTools tools;
    const TempTree& tree = ConformanceDecoder::instance().tree();
    int n = 0;
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = tree.path("encoded" + std::to_string(n++) + ".bufr");
        std::string error;
        ASSERT_TRUE(tools.encode(rules(c), c.edition, file, error)) << error;
        EcCodesDump dump;
        ASSERT_TRUE(tools.dump(file, dump, error)) << error;
        Reference r = dump.subsets();
        for (std::size_t s = 0; s < c.repetitions.size() && s < r.size(); ++s) {
            std::size_t k = 0;
            for (Value& v : r[s])
                if (ValueComparison::listed(v))
                    v.repetition = k < c.repetitions[s].size() ? c.repetitions[s][k++] : 0;
        }
        std::string bytes = TempTree::readFile(file);
        check(c.name, BufrWriter::Bytes(bytes.begin(), bytes.end()), r);
    }
}

// A sequence that changed between master table versions: 3 06 024 lists
// eight elements of a tide report in version 13; in version 39 it is 3 06 020
// (the same report, its two time periods as 8-bit elements) and six pairs of
// tidal elevations.  Each message is read with its own version's list, as
// ecCodes reads it.
TEST(EncodedConformance, SequencesAsTheMessagesVersionDefinesThem)
{
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    ASSERT_TRUE(ConformanceDecoder::instance().tablesLoaded());
    auto report = [](BufrWriter& w) {
        w.chars(1075, "TIDE1").element(4001, 2004).element(4002, 3).element(4003, 15);
        w.element(4004, 12).element(4005, 30).element(22042, 285.5).element(22120, 1);
        w.element(22121, 2);
    };
    BufrWriter v13;
    v13.masterTableVersion(13).descriptors({306024});
    report(v13);
    v13.element(4025, -60).element(4015, 10);
    BufrWriter v39;
    v39.descriptors({306024});
    report(v39);
    v39.element(4075, -60).element(4065, 10);
    for (int i = 0; i < 6; ++i)
        v39.element(22038, 1.5 + i).element(22039, -0.25 * i);
    ASSERT_TRUE(v13.ok() && v39.ok()) << v13.error() << v39.error();

    const TempTree& tree = ConformanceDecoder::instance().tree();
    for (const BufrWriter* w : {&v13, &v39}) {
        const char* name = w == &v13 ? "3 06 024 of version 13" : "3 06 024 of version 39";
        std::string file = tree.path(w == &v13 ? "tide13.bufr" : "tide39.bufr");
        ASSERT_TRUE(BufrWriter::writeFile(file, w->build()));
        EcCodesDump dump;
        std::string error;
        ASSERT_TRUE(tools.dump(file, dump, error)) << name << ": " << error;
        check(name, w->build(), dump.subsets());
    }
}

TEST(EncodedConformance, MessagesEcCodesCannotEncode)
{
    ASSERT_TRUE(ConformanceDecoder::instance().tablesLoaded());

    // 2 03 YYY in compressed data: the new reference is written once, with
    // an increment width of 0.
    BufrWriter changed;
    changed.compressed(true).subsets(2).descriptors({203014, 12101, 203255, 12101, 203000, 12101,
                                                     1019, 1019});
    changed.op(203014).newReference(12101, -8000).op(203255);
    changed.column(12101, {-50.5, -40.25}).op(203000).column(12101, {250, 260});
    changed.charsColumn(1019, {"", ""}).charsColumn(1019, {"", ""});
    Reference changedValues(2);
    const double first[] = {-50.5, -40.25}, second[] = {250, 260};
    for (int s = 0; s < 2; ++s)
        changedValues[s] = {number(12101, first[s], 2), number(12101, second[s], 2),
                            expectPadding(), expectPadding()};
    ASSERT_TRUE(changed.ok()) << changed.error();
    check("compressed 2 03", changed.build(), changedValues);

    // 2 06 012 before a local descriptor the tables lack: its 12 bits are
    // passed over; the element is listed as not in table B.
    BufrWriter signify;
    signify.descriptors({206012, 12230, 12101, 1019, 1019});
    signify.op(206012).bits(1234, 12).element(12101, 273.15).chars(1019, "").chars(1019, "");
    ASSERT_TRUE(signify.ok()) << signify.error();
    Reference signified = {{number(12230, BufrDecoder::NOT_IN_TABLE_B, 0),
                            number(12101, 273.15, 2), expectPadding(), expectPadding()}};
    check("2 06 local descriptor", signify.build(), signified);

    // Delayed descriptor and data repetition: the data of the group is
    // written once and repeated with its repetition numbers.
    BufrWriter repeated;
    repeated.descriptors({101000, 31011, 12101, 101000, 31012, 11001, 1019, 1019});
    repeated.factor(31011, 3).element(12101, 273.15).factor(31012, 2).element(11001, 90);
    repeated.chars(1019, "").chars(1019, "");
    ASSERT_TRUE(repeated.ok()) << repeated.error();
    Value t = number(12101, 273.15, 2), wind = number(11001, 90, 0);
    check("repetition 0 31 011 / 0 31 012", repeated.build(),
          {{number(31011, 3, 0), repetition(t, 0), repetition(t, 1), repetition(t, 2),
            number(31012, 2, 0), repetition(wind, 0), repetition(wind, 1), expectPadding(),
            expectPadding()}});
}

} // namespace

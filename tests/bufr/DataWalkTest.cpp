// Section 4 through the descriptor tree: nested replication as written,
// operators within replicated groups, compressed texts, replication and
// associated fields.
#include "BufrTestSupport.h"
#include "BufrWriter.h"
#include "fuzzFindings.h"
#include "LogCapture.h"
#include "DescriptorWalker.h"
#include "TableBEntry.h"
#include "heapInUse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const double NaN = std::nan("");

} // namespace

// An outer delayed replication counts the inner replication descriptor, its
// factor and its group; a sequence counts once; groups nest within a subset.
TEST(DataWalk, NestedReplicationCountsDescriptorsAsWritten)
{
    BufrWriter w;
    w.subsets(2).descriptors({105000, 31001, 7004, 102000, 31002, 12101, 11001, 101002, 13003,
                              301062, 103002, 101000, 31001, 12101, 101000, 31011, 11001});
    w.factor(31001, 2).element(7004, 85000).factor(31002, 1).element(12101, 273.15);
    w.element(11001, 90).element(7004, 70000).factor(31002, 2).element(12101, 260);
    w.element(11001, 180).element(12101, 250).element(11001, 270);
    w.element(13003, 50).element(13003, 60).factor(31001, 1).element(1001, 72).element(1002, 493);
    w.factor(31001, 1).element(12101, 250).factor(31001, 2).element(12101, 251);
    w.element(12101, 252).factor(31011, 3).element(11001, 90);
    // Subset 1: empty groups, and the sequence's group twice.
    w.factor(31001, 0).element(13003, 1).element(13003, 2).factor(31001, 2);
    w.element(1001, 1).element(1002, 2).element(1001, 3).element(1002, 4);
    w.factor(31001, 0).factor(31001, 0).factor(31011, 0);
    ASSERT_TRUE(w.ok()) << w.error();

    TestDecoder dec;
    ASSERT_TRUE(dec.decodeBytes(w.build()));
    EXPECT_EQ(dec.values(),
              "0/7004=85000 0/12101=273.15 0/11001=90 0/7004=70000#1 0/12101=260 0/11001=180 "
              "0/12101=250#1 0/11001=270#1 0/13003=50 0/13003=60 0/1001=72 0/1002=493 "
              "0/12101=250 0/12101=251 0/12101=252#1 0/11001=90 0/11001=90#1 0/11001=90#2 "
              "1/13003=1 1/13003=2 1/1001=1 1/1002=2 1/1001=3#1 1/1002=4#1");
    EXPECT_EQ(dec.counts(), "2 1 2 1 1 2 3 0 2 0 0 0");
    EXPECT_EQ(TestDecoder::list(dec.descriptors()),
              "31001 13003 13003 31001 31001 31001 31011");
    ASSERT_EQ(dec.groups().length(), 5);
    EXPECT_EQ(TestDecoder::list(dec.groups()[0]), "7004 31002");
    EXPECT_EQ(TestDecoder::list(dec.groups()[1]), "1001 1002");
    ASSERT_EQ(dec.nestedGroups().length(), 1);
    EXPECT_EQ(TestDecoder::list(dec.nestedGroups()[0]), "12101 11001");
}

TEST(DataWalk, OperatorsApplyToTheElementsReadInTheirScope)
{
    // 2 01 and 2 02 reach the elements of replicated groups, but not texts,
    // code and flag tables or the factors; 2 03 references and 2 04 fields
    // hold until cancelled.
    BufrWriter w;
    w.descriptors({201132, 101000, 31001, 12101, 1015, 2001, 2002, 201000, 12101, 202129, 102002,
                   11002, 7004, 202000, 7004, 203014, 12101, 203255, 101000, 31001, 12101,
                   203000, 12101, 204007, 31021, 12101, 101000, 31001, 11001, 204000, 12101,
                   222000, 206020, 12101, 12101});
    w.op(201132).factor(31001, 2).element(12101, 300.5).element(12101, 301.25);
    w.chars(1015, "SAN FRANCISCO").element(2001, 1).element(2002, 5).op(201000);
    w.element(12101, 273.15).op(202129).element(11002, 12.34).element(7004, 12345);
    w.element(11002, 5.67).element(7004, 6789).op(202000).element(7004, 50000);
    w.op(203014).newReference(12101, -8000).op(203255).factor(31001, 2);
    w.element(12101, -50.5).element(12101, -40.25).op(203000).element(12101, 250);
    w.op(204007).element(31021, 1).associatedValue(5).element(12101, 260).factor(31001, 1);
    w.element(11001, 90).op(204000).element(12101, 270);
    w.op(222000).op(206020).bits(27315, 20).element(12101, 280);
    ASSERT_TRUE(w.ok()) << w.error();

    TestDecoder dec;
    ASSERT_TRUE(dec.decodeBytes(w.build()));
    EXPECT_EQ(dec.values(),
              "0/12101=300.5 0/12101=301.25#1 0/1015='SAN FRANCISCO' 0/2001=1 0/2002=5 "
              "0/12101=273.15 0/11002=12.34 0/7004=12345 0/11002=5.67 0/7004=6789 "
              "0/7004=50000 0/12101=-50.5 0/12101=-40.25#1 0/12101=250 0/12101=260 "
              "0/11001=90 0/12101=270 0/12101=273.15 0/12101=280");
    EXPECT_EQ(dec.counts(), "2 2 1");

    // A message that ends inside a change leaves nothing for the next one.
    BufrWriter open;
    open.descriptors({201132, 202129, 12101});
    open.op(201132).op(202129).element(12101, 300.5);
    BufrWriter plain;
    plain.descriptors({12101}).element(12101, 273.15);
    ASSERT_TRUE(dec.decodeBytes(open.build()));
    EXPECT_EQ(dec.values(), "0/12101=300.5");
    ASSERT_TRUE(dec.decodeBytes(plain.build()));
    EXPECT_EQ(dec.values(), "0/12101=273.15");
}

TEST(DataWalk, OperatorsThatChangeTheLayoutFailTheMessage)
{
    for (bool compressed : {false, true}) {
        BufrWriter w;
        w.compressed(compressed).descriptors({221002, 12101, 11001});
        w.op(221002);
        if (compressed)
            w.column(12101, {273.15}).column(11001, {90});
        else
            w.element(12101, 273.15).element(11001, 90);
        TestDecoder dec;
        LogCapture log;
        EXPECT_FALSE(dec.decodeBytes(w.build()));
        EXPECT_TRUE(log.contains("PROBLEM: Data description operator 221002 is not supported"));
        EXPECT_TRUE(log.contains(compressed ? "Unable to process section 2 descriptors"
                                            : "Unable to decode section 2 descriptors"));
        EXPECT_TRUE(log.contains("Failed to decode Section 4"));
        EXPECT_EQ(dec.getDecodedValues().length(), 0);
    }
}

// Elements at the bounds the tables accept (TableBEntry::codingFault), read
// under every operator that changes a coding, alone and in pairs: each
// message decodes or fails with a PROBLEM line, and no arithmetic leaves
// its type (the sanitizers of the test build would stop it).  Those read to
// their end count, whether they decode or the bits left after them (of
// the 160 octets of bits given) refuse them.
TEST(DataWalk, OperatorsOnTheWidestAcceptedCodings)
{
    const int widest = 63240;    // scale 127, reference 2^31 - 1, 65535 bits
    const int narrowest = 63241;    // scale -127, reference -2^31, 0 bits
    const int widestRead = 63242;   // 64 bits
    const int oneBit = 63243;
    setCoding(widest, TableBEntry::maxScale, INT32_MAX, TableBEntry::maxWidth);
    setCoding(narrowest, -TableBEntry::maxScale, INT32_MIN, 0);
    setCoding(widestRead, TableBEntry::maxScale, INT32_MAX, 64);
    setCoding(oneBit, -TableBEntry::maxScale, INT32_MIN, 1);
    const int operators[] = {201255, 201001, 202255, 202001, 207255, 207001,
                             208255, 206255, 206000, 203032, 204255};
    int decoded = 0;
    for (bool compressed : {false, true}) {
        for (int element : {widest, narrowest, widestRead, oneBit}) {
            for (int first : operators) {
                for (int second : {0, 201255, 202001, 207255}) {
                    std::vector<int> descriptors = {first, element, 203255, element};
                    if (second)
                        descriptors.insert(descriptors.begin(), second);
                    BufrWriter w;
                    w.compressed(compressed).subsets(compressed ? 3 : 1);
                    w.descriptors(descriptors);
                    for (int i = 0; i < 40; ++i)
                        w.bits(0x5A5A5A5Au, 32);
                    TestDecoder dec;
                    LogCapture log;
                    if (dec.decodeBytes(w.build()) || log.contains("are left unread"))
                        ++decoded;
                    else
                        EXPECT_TRUE(log.contains("PROBLEM: ")) << first << " " << element;
                }
            }
        }
    }
    EXPECT_GT(decoded, 0);
}

// A message of many values, or of many texts, takes memory for them while
// it is decoded and while its values are read; the next message gives it
// back: the walker's lists beyond what it keeps between messages, the
// value extras of the texts, the values themselves.  One whose values would
// pass the memory a message may take is refused part-way, and gives back
// what it took as well.
TEST(DataWalk, LargeMessagesGiveTheirMemoryBack)
{
    struct Case {
        const char* name;
        BufrWriter::Bytes message;
        long values;    // 0: refused
    };
    std::vector<Case> cases;
    {
        // 100 columns of 65535 subsets, each value of its own: 6.5 million.
        BufrWriter columns;
        columns.compressed(true).subsets(65535).descriptors({101100, 12101});
        std::vector<uint64_t> increments(65535);
        for (std::size_t i = 0; i < increments.size(); ++i)
            increments[i] = i % 200;
        for (int c = 0; c < 100; ++c)
            columns.rawColumn(16, 1000 + c, 8, increments);
        // Texts of 8 characters in one subset: 300,000, and 1,400,000, more
        // than the memory of a message holds.
        BufrWriter texts;
        texts.descriptors({103030, 102100, 101100, 1008});
        BufrWriter tooMany;
        tooMany.descriptors({103140, 102100, 101100, 1008});
        for (int i = 0; i < 1400000; ++i) {
            const std::string text = "N" + std::to_string(i);
            if (i < 300000)
                texts.chars(1008, text);
            tooMany.chars(1008, text);
        }
        ASSERT_TRUE(columns.ok() && texts.ok() && tooMany.ok());
        cases.push_back(Case{"columns", columns.build(), 6553500});
        cases.push_back(Case{"texts", texts.build(), 300000});
        cases.push_back(Case{"too many texts", tooMany.build(), 0});
    }
    BufrWriter small;
    small.descriptors({12101}).element(12101, 273.15);
    const BufrWriter::Bytes smallMessage = small.build();

    TestDecoder dec;
    ASSERT_TRUE(dec.decodeBytes(smallMessage));
    const std::size_t before = heapInUse();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            LogCapture log;
            EXPECT_EQ(dec.decodeBytes(c.message), c.values > 0);
            EXPECT_EQ(dec.getDecodedValues().length(), c.values);
            EXPECT_EQ(log.contains("would take more than 192 MB of memory"), c.values == 0);
        }
        if (c.values > 0) {
            EXPECT_GT(heapInUse(), before + 32 * 1000000L);
        }
        ASSERT_TRUE(dec.decodeBytes(smallMessage));
        EXPECT_LT(heapInUse(), before + 4 * 1000000L) << heapInUse() - before;
    }
}

TEST(DataWalk, CompressedTextsReplicationAndAssociatedFields)
{
    BufrWriter w;
    w.compressed(true).subsets(3).descriptors(
        {1015, 1015, 204003, 31021, 12101, 204000, 101000, 31001, 11001, 205004, 7004});
    w.charsColumn(1015, {"SAME NAME", "SAME NAME", "SAME NAME"});
    w.charsColumn(1015, {"AB CD", "EF", "GH"});
    w.op(204003).column(31021, {1, 1, 1}).associatedValue(2);
    w.column(12101, {273.15, 274.2, NaN}).op(204000);
    w.factorColumn(31001, 2).column(11001, {10, 20, 30}).column(11001, {40, 40, 40});
    w.op(205004).textColumn(4, {"ABCD", "EFGH", "IJKL"}).column(7004, {85000, 85000, 70000});
    ASSERT_TRUE(w.ok()) << w.error();

    TestDecoder dec;
    ASSERT_TRUE(dec.decodeBytes(w.build()));
    EXPECT_TRUE(dec.compressed());
    EXPECT_EQ(dec.values(),
              "0/1015='SAME NAME' 0/1015='AB CD' 0/12101=273.15 0/11001=10 0/11001=40#1 "
              "0/7004=85000 "
              "1/1015='SAME NAME' 1/1015='EF' 1/12101=274.2 1/11001=20 1/11001=40#1 "
              "1/7004=85000 "
              "2/1015='SAME NAME' 2/1015='GH' 2/12101=-99999 2/11001=30 2/11001=40#1 "
              "2/7004=70000");
    EXPECT_EQ(dec.counts(), "2 2 2");

    // The standard makes every subset carry the same factor.
    BufrWriter differing;
    differing.compressed(true).subsets(3).descriptors({101000, 31001, 11001});
    differing.rawColumn(8, 1, 1, {0, 1, 0}).column(11001, {10, 20, 30});
    LogCapture log;
    EXPECT_FALSE(dec.decodeBytes(differing.build()));
    EXPECT_TRUE(log.contains("Delayed replication factor 31001 differs between the subsets"));
    EXPECT_TRUE(log.contains("Unable to decode compressed data."));
}

// One decoder, message after message: a message with the descriptors of an
// earlier one decodes under the tables as they are now, the values' storage
// serves the next message only when no copy of it is held, a value written
// where a text was has none, and a failure leaves no values and no factors.
TEST(DataWalk, MessagesInARowKeepNothingStale)
{
    const int local = 63010;
    BufrWriter w;
    w.localElement(local, 1, 0, 12).compressed(true).subsets(2);
    w.descriptors({1015, local, 101000, 31001, 12101});
    w.charsColumn(1015, {"AB", "CD"}).column(local, {1.5, 2.5});
    w.factorColumn(31001, 1).column(12101, {250, 260});
    const BufrWriter::Bytes message = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    setCoding(local, 1, 0, 12);

    TestDecoder dec;
    ASSERT_TRUE(dec.decodeBytes(message));
    const SeqOf<BufrValues> kept = dec.getDecodedValues();
    setCoding(local, 0, 0, 12);
    ASSERT_TRUE(dec.decodeBytes(message));
    EXPECT_EQ(dec.values(),
              "0/1015='AB' 0/63010=15 0/12101=250 1/1015='CD' 1/63010=25 1/12101=260");
    EXPECT_EQ(dec.counts(), "1 1");
    ASSERT_EQ(kept.length(), 6);
    EXPECT_EQ(kept[1].getValue(), 1.5f);

    BufrWriter small;
    small.descriptors({12101}).element(12101, 273.15);
    ASSERT_TRUE(dec.decodeBytes(small.build()));
    EXPECT_EQ(dec.values(), "0/12101=273.15");
    EXPECT_EQ(dec.getDecodedValues()[0].getCharValue().length(), 0);
    EXPECT_STREQ(kept[0].getCharValue().c_str(), "AB");

    LogCapture log;
    EXPECT_FALSE(dec.decodeBytes(BufrWriter::truncated(message, message.size() - 8)));
    EXPECT_EQ(dec.values(), "");
    EXPECT_EQ(dec.counts(), "");

    // After a good message, one of no subsets has no values to give, and one
    // that fails in section 1 shows nothing of the last: as a new decoder.
    ASSERT_TRUE(dec.decodeBytes(small.build()));
    EXPECT_FALSE(dec.decodeBytes(fuzzFindings::noSubsets()));
    EXPECT_EQ(dec.getDecodedValues().length(), 0);
    ASSERT_TRUE(dec.decodeBytes(message));
    EXPECT_FALSE(dec.decodeBytes(BufrWriter::truncated(message, 20)));
    EXPECT_EQ(dec.obTime(), AbsTime(0));
    EXPECT_EQ(dec.subsets(), 0);
    EXPECT_FALSE(dec.compressed());
    EXPECT_EQ(dec.groups().length(), 0);
}

namespace {

// A compressed message of `subsets` subsets whose columns vary, repeat,
// go missing, carry texts and are replicated; with `texts` false it has no
// text columns.  expected() gives the value the decoder must list at i.
struct RegroupCase {
    int subsets;
    bool texts;

    static std::string name(int s) { return "T" + std::to_string(s % 977); }
    static double temperature(int s) { return s % 97 == 5 ? NaN : 200 + s % 400; }

    BufrWriter::Bytes message() const
    {
        std::vector<int> d;
        if (texts)
            d = {1015, 1015};
        for (int x : {12101, 7004, 102000, 31001, 11001, 11002, 10004, 12103})
            d.push_back(x);
        BufrWriter w;
        w.compressed(true).subsets(subsets).descriptors(d);
        std::vector<std::string> same(subsets, "SAME"), names;
        std::vector<double> t, p(subsets, 85000), dir0, speed0, dir1, speed1(subsets, 5), z, dew;
        for (int s = 0; s < subsets; ++s) {
            names.push_back(name(s));
            t.push_back(temperature(s));
            dir0.push_back(s % 360);
            speed0.push_back(s % 50);
            dir1.push_back((s + 1) % 360);
            z.push_back(100000 - 10 * (s % 1000));
            dew.push_back(250 + s % 7);
        }
        if (texts)
            w.charsColumn(1015, same).charsColumn(1015, names);
        w.column(12101, t).column(7004, p).factorColumn(31001, 2);
        w.column(11001, dir0).column(11002, speed0).column(11001, dir1).column(11002, speed1);
        w.column(10004, z).column(12103, dew);
        EXPECT_TRUE(w.ok()) << w.error();
        return w.build();
    }
    int width() const { return texts ? 10 : 8; }
    // Descriptor, value, text and index of value i.
    void expected(int i, int& descriptor, float& value, std::string& text, int& index) const
    {
        const int s = i / width();
        int k = i % width() - (texts ? 2 : 0);
        text.clear();
        index = k == 4 || k == 5 ? 1 : 0;
        value = BufrDecoder::CHARACTER_VALUE;
        switch (k) {
        case -2: descriptor = 1015, text = "SAME"; return;
        case -1: descriptor = 1015, text = name(s); return;
        case 0:
            descriptor = 12101;
            value = std::isnan(temperature(s)) ? BufrDecoder::MISSING_VALUE : temperature(s);
            return;
        case 1: descriptor = 7004, value = 85000; return;
        case 2: descriptor = 11001, value = s % 360; return;
        case 3: descriptor = 11002, value = s % 50; return;
        case 4: descriptor = 11001, value = (s + 1) % 360; return;
        case 5: descriptor = 11002, value = 5; return;
        case 6: descriptor = 10004, value = 100000 - 10 * (s % 1000); return;
        default: descriptor = 12103, value = 250 + s % 7; return;
        }
    }
    // The first value the decoder lists otherwise, or "".
    std::string mismatch(const SeqOf<BufrValues>& values) const
    {
        if (values.length() != subsets * width())
            return std::to_string(values.length()) + " values";
        for (int i = 0; i < values.length(); ++i) {
            const BufrValues& v = values[i];
            int descriptor = 0, index = 0;
            float value = 0;
            std::string text;
            expected(i, descriptor, value, text, index);
            if (v.getSubset() != i / width() || v.getDescriptor() != descriptor ||
                v.getValue() != value || v.getCharValue().c_str() != text ||
                v.getIndex() != index)
                return "value " + std::to_string(i) + ": " + std::to_string(v.getSubset()) + "/" +
                       std::to_string(v.getDescriptor()) + "=" + std::to_string(v.getValue()) +
                       " '" + v.getCharValue().c_str() + "' #" + std::to_string(v.getIndex());
        }
        return "";
    }
};

} // namespace

// Compressed columns become values subset by subset alike in a small
// message and in one of many subsets (regrouped another way), and a message
// after a large one, in the same storage, keeps none of its texts.
TEST(DataWalk, CompressedColumnsRegroupAlikeInSmallAndLargeMessages)
{
    TestDecoder dec;
    for (const RegroupCase c : {RegroupCase{7, true}, RegroupCase{60000, true},
                                RegroupCase{65000, false}, RegroupCase{3, true}}) {
        SCOPED_TRACE(std::to_string(c.subsets) + " subsets");
        ASSERT_TRUE(dec.decodeBytes(c.message()));
        EXPECT_EQ(c.mismatch(dec.getDecodedValues()), "");
        std::string factors = "2";
        for (int s = 1; s < c.subsets; ++s)
            factors += " 2";
        EXPECT_EQ(dec.counts(), factors);
    }
}

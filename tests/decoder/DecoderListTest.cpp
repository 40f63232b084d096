// The decoder list over fake decoders entered in its key table, and the
// product-id handler over the process's own list.
#include "BufrDecoderList.h"
#include "BufrDriver.h"
#include "FakeDecoder.h"
#include "LogCapture.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

BufrDecoder* makeA() { return new FakeDecoder(FakeDecoder::fakeRecord(), "fakeA.txt", 72000); }
BufrDecoder* makeB() { return new FakeDecoder(FakeDecoder::fakeRecord(), "fakeB.txt", 36000); }
BufrDecoder* makeEmpty() { return new FakeDecoder(FakeDecoder::fakeRecord(), "fakeNone.txt"); }
BufrDecoder* makeBad() { return new FakeDecoder(FakeDecoder::fakeRecord(), "fakeBad.txt"); }

class DecoderList : public testing::Test {
protected:
    void SetUp() override
    {
        tree.write("qev_home/data/fakeA.txt", "fake patterns A 1\nJUSA\n");
        tree.write("qev_home/data/fakeB.txt", "fake patterns B 1\nJUS[AB]\n");
        tree.write("qev_home/data/fakeBad.txt", "fake patterns bad 1\nJUS(\n");
        BufrDecoderList::setFactory("model", makeA);
        BufrDecoderList::setFactory("goes", makeB);
        BufrDecoderList::setFactory("poes", makeEmpty);
        BufrDecoderList::setFactory("acars", makeBad);
        BufrDecoderList::setFactory("csw", nullptr);
    }
    TempTree tree;
    LogCapture log;
};

} // namespace

// Keys are found case-blind anywhere in the name and make decoders in table
// order; only the patterns that compile join the request and match ids.
TEST_F(DecoderList, CreatesDecodersByKeyAndMatchesOnlyCompiledPatterns)
{
    EXPECT_FALSE(BufrDecoderList::setFactory("radar", makeA));
    BufrDecoderList list;
    TextString name("ACARS_poes_GOES_xmodelx_csw");
    ASSERT_TRUE(list.createDecoders(name));
    EXPECT_STREQ(name.c_str(), "acars_poes_goes_xmodelx_csw");
    ASSERT_EQ(list.length(), 4);
    EXPECT_STREQ(list.entry(3)->decoder->getPatternFileName().c_str(), "fakeBad.txt");
    size_t at = 0;
    for (const char* kind : {"Model Sounding", "GOES Sounding", "POES Sounding", "ACARS"})
        EXPECT_NE(at = log.text().find(std::string("Object for decoding ") + kind, at),
                  std::string::npos);
    EXPECT_TRUE(log.contains("PROBLEM: This program has no decoder for the data type key csw"));
    EXPECT_TRUE(log.contains("PROBLEM: The poes decoder has no product pattern; no data message "
                             "selects it"));
    EXPECT_TRUE(log.contains("PROBLEM: The product pattern [JUS(] of the acars decoder does not "
                             "compile ("));
    EXPECT_STREQ(list.dataRequestPattern().c_str(), "JUSA|JUS[AB]");
    EXPECT_EQ(list.findDecoder("JUSA41"), list.entry(0));
    EXPECT_EQ(list.findDecoder("xJUSB41"), list.entry(1));
    EXPECT_EQ(list.findDecoder("JUS("), nullptr);
    EXPECT_EQ(list.entry(-1), nullptr);
    EXPECT_EQ(list.entry(4), nullptr);
    EXPECT_EQ(list.minTimeout(), 36000);

    BufrDecoderList none;
    TextString mod("mod");
    EXPECT_FALSE(none.createDecoders(mod));
    EXPECT_STREQ(none.dataRequestPattern().c_str(), "");
}

// The id is at most 6 characters from 5 after the first "." of a message of
// at least 40 bytes; the first decoder that matches it wins.
TEST_F(DecoderList, ProductIdPicksTheDecoder)
{
    TextString name("goes_model");
    ASSERT_TRUE(BufrDriver::decoderList().createDecoders(name));
    FakeDecoder* a = static_cast<FakeDecoder*>(BufrDriver::decoderList().entry(0)->decoder);
    FakeDecoder* b = static_cast<FakeDecoder*>(BufrDriver::decoderList().entry(1)->decoder);
    struct Case {
        int length, dot, zeroAt, idAt;   // idAt: where "JUSA41" or "JUSB41" is written
        const char* id;
        int aPasses, bPasses;
        std::string line;
    };
    const Case cases[] = {
        {40, 10, -1, 15, "JUSB41", 0, 1, "DEBUG: Product id = JUSB41"},
        {40, 10, -1, 15, "JUSA41", 1, 0, "DEBUG: processMsg_Multiple: data length = 40"},
        {39, 10, -1, 15, "JUSA41", 0, 0, "PROBLEM: Product id information not contained in ipc "
                                         "message"},
        {40, 35, -1, 0, "JUSA41", 0, 0, "stringSize=40 user-index=40\nDEBUG: Product id = \n"
                                        "PROBLEM: The following data was not decoded: JUSA41z"},
        {40, 10, -1, 22, "JUSA41", 0, 0, "PROBLEM: zzzzzz is not a valid Product ID for this "
                                         "decoder."},
        {40, 10, 5, 15, "JUSA41", 0, 0, "PROBLEM: Product ID not found in notification message."},
    };
    LogStream::setFilter("all", LogStream::TTY, LogStream::DEBUG, true);
    for (const Case& c : cases) {
        std::string bytes(c.length, 'z');
        bytes.replace(c.idAt, 6, c.id);
        bytes[c.dot] = '.';
        if (c.zeroAt >= 0)
            bytes[c.zeroAt] = '\0';
        const int aBefore = a->passes, bBefore = b->passes;
        log.clear();
        BufrDriver::processMsg_Multiple(7, c.length, &bytes[0]);
        EXPECT_EQ(a->passes - aBefore, c.aPasses) << c.line;
        EXPECT_EQ(b->passes - bBefore, c.bPasses) << c.line;
        EXPECT_TRUE(log.contains(c.line)) << c.line << "\n" << log.text();
    }
    LogStream::resetFilters();
}

// Each message read with the tables its section 1 names: the local entries
// only for the originating centres they are loaded for, WMO's elements as
// its master table version defines them.  One decoder reads the messages in
// a row, so a tree built for one message's tables serving another would
// show.
#include "BufrTestSupport.h"
#include "BufrWriter.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

// Centre 7's 0 10 197 is 13 bits wide (the planetary boundary layer); a
// ship report of centre 98 carries that centre's own 0 10 197 of 9 bits.
// Read with centre 7's entry, its bits would shift every later value.
TEST(MessageTables, LocalEntriesBelongToTheirCentres)
{
    for (int edition : {3, 4}) {
        BufrWriter centre7(edition);
        centre7.descriptors({10197, 12101}).element(10197, 1234).element(12101, 250.5);
        BufrWriter centre98(edition);
        centre98.centre(98).localElement(10197, 0, 0, 9).descriptors({10197, 12101});
        centre98.element(10197, 300).element(12101, 250.5);
        // With 2 06 009 the sender says how wide its element is.
        BufrWriter signified(edition);
        signified.centre(98).descriptors({206009, 10197, 12101});
        signified.op(206009).bits(300, 9).element(12101, 250.5);
        ASSERT_TRUE(centre7.ok() && centre98.ok() && signified.ok());

        TestDecoder dec;
        ASSERT_TRUE(dec.decodeBytes(centre7.build())) << edition;
        EXPECT_EQ(dec.values(), "0/10197=1234 0/12101=250.5");
        {
            LogCapture log;
            EXPECT_FALSE(dec.decodeBytes(centre98.build())) << edition;
            EXPECT_EQ(log.count("Code 10197 does not exist in table B."), 1) << log.text();
            EXPECT_EQ(log.count("Descriptor 10197 is local to its originating centre 98, whose "
                                "local table is not loaded."),
                      1)
                << log.text();
            EXPECT_EQ(dec.values(), "");
        }
        {
            // The same descriptors from centre 99: its own centre is named.
            BufrWriter centre99 = centre98;
            centre99.centre(99);
            LogCapture log;
            EXPECT_FALSE(dec.decodeBytes(centre99.build())) << edition;
            EXPECT_EQ(log.count("Descriptor 10197 is local to its originating centre 99, whose "
                                "local table is not loaded."),
                      1)
                << log.text();
            EXPECT_FALSE(log.contains("centre 98")) << log.text();
        }
        ASSERT_TRUE(dec.decodeBytes(signified.build())) << edition;
        EXPECT_EQ(dec.values(), "0/10197=99999 0/12101=250.5");
        ASSERT_TRUE(dec.decodeBytes(centre7.build())) << edition;
        EXPECT_EQ(dec.values(), "0/10197=1234 0/12101=250.5");
    }
}

// 0 14 001 is 12 bits wide with reference -2048 up to version 13, 17 bits
// with reference -65536 from version 14.  A version-13 message is read with
// its own definition, operators included; a message of a version after the
// newest loaded (39) with version 39's, since later versions only add
// entries, up to version 80; one of a version past any WMO can publish
// while the system's times hold (a damaged octet) is not read at all; a
// message of a version older than any loaded fails on it, naming the
// versions that differ, and reads an element every loaded version defines
// alike.
TEST(MessageTables, ElementsAsTheMessagesVersionDefinesThem)
{
    BufrWriter v13;
    v13.masterTableVersion(13).localElement(14001, -3, -2048, 12, "J m-2");
    v13.descriptors({14001, 201131, 14001, 201000, 12101});
    v13.element(14001, 1000000).op(201131).element(14001, 5000000).op(201000);
    v13.element(12101, 250.5);
    BufrWriter v39;
    v39.descriptors({14001, 12101}).element(14001, 1000000).element(12101, 250.5);
    BufrWriter v40;
    v40.masterTableVersion(40).descriptors({14001, 12101});
    v40.element(14001, 1000000).element(12101, 250.5);
    BufrWriter v5;
    v5.masterTableVersion(5).descriptors({14001, 12101});
    v5.element(14001, 1000000).element(12101, 250.5);
    BufrWriter v5stable;
    v5stable.masterTableVersion(5).descriptors({12001}).element(12001, 250.5);
    ASSERT_TRUE(v13.ok() && v39.ok() && v40.ok() && v5.ok() && v5stable.ok());

    TestDecoder dec;
    ASSERT_TRUE(dec.decodeBytes(v13.build()));
    EXPECT_EQ(dec.values(), "0/14001=1000000 0/14001=5000000 0/12101=250.5");
    ASSERT_TRUE(dec.decodeBytes(v39.build()));
    EXPECT_EQ(dec.values(), "0/14001=1000000 0/12101=250.5");
    for (int version : {40, 80, 81}) {
        v40.masterTableVersion(version);
        LogCapture log;
        EXPECT_EQ(dec.decodeBytes(v40.build()), version <= 80) << version;
        EXPECT_EQ(dec.values(), version <= 80 ? "0/14001=1000000 0/12101=250.5" : "");
        EXPECT_EQ(log.count("BUFR master table version 81 is no version WMO has published; "
                            "versions up to 80 are read"),
                  version > 80 ? 1 : 0)
            << log.text();
    }
    {
        LogCapture log;
        EXPECT_FALSE(dec.decodeBytes(v5.build()));
        EXPECT_EQ(log.count("Descriptor 14001 is not known in master table version 5, which is "
                            "not loaded: versions 13 and 14 define it differently."),
                  1)
            << log.text();
    }
    ASSERT_TRUE(dec.decodeBytes(v5stable.build()));
    EXPECT_EQ(dec.values(), "0/12001=250.5");
}

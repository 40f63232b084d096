// The message frame: section 1 by edition, short data sections, files of
// several messages, messages cut short, and the failures with their reasons.
#include "BufrTestSupport.h"
#include "BufrWriter.h"
#include "SampleMakers.h"
#include "findBufrMessages.h"
#include "fuzzFindings.h"
#include "groupedDigits.h"
#include "LogCapture.h"
#include "StaticBufrInfo.h"
#include "TempTree.h"
#include "heapInUse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

typedef BufrWriter::Bytes Bytes;

Bytes temperature(int edition = 4)
{
    BufrWriter w(edition);
    w.descriptors({12101}).element(12101, 273.15);
    return w.build();
}

} // namespace

TEST(MessageDecoding, SectionOneByEdition)
{
    TestDecoder dec;
    BufrWriter four(4);
    four.category(2).dateTime(2004, 3, 15, 12, 30, 45).section2({1, 2, 3, 4});
    four.descriptors({12101}).element(12101, 273.15);
    ASSERT_TRUE(dec.decodeBytes(four.build()));
    EXPECT_EQ(dec.obTime(), AbsTime(2004, 3, 15, 12, 30, 45));
    EXPECT_EQ(dec.dataCategory(), 2);
    EXPECT_EQ(dec.values(), "0/12101=273.15");

    BufrWriter three(3);
    three.category(5).dateTime(1999, 12, 31, 23, 59).descriptors({12101}).element(12101, 250);
    Bytes m = three.build();
    ASSERT_TRUE(dec.decodeBytes(m));
    EXPECT_EQ(dec.obTime(), AbsTime(1999, 12, 31, 23, 59, 0));
    EXPECT_EQ(dec.dataCategory(), 5);

    // Edition 2 has the same layout; a year of 100 and more counts from 1900.
    m[7] = 2;
    m[BufrWriter::sectionOffset(m, 1) + 12] = 104;
    ASSERT_TRUE(dec.decodeBytes(m));
    EXPECT_EQ(dec.obTime(), AbsTime(2004, 12, 31, 23, 59, 0));

    LogCapture log;
    m[7] = 1;
    EXPECT_FALSE(dec.decodeBytes(m));
    EXPECT_TRUE(log.contains("PROBLEM: BUFR edition 1 is not supported"));
    EXPECT_TRUE(log.contains("Failed to decode Section 0"));
    // The message after it is found all the same.
    Bytes two = m;
    const Bytes after = temperature();
    two.insert(two.end(), after.begin(), after.end());
    EXPECT_FALSE(dec.decodeBytes(two));
    EXPECT_EQ(dec.nextMessage(), static_cast<long>(m.size()));

    // A time that no time is, or one the system's times cannot hold, is the
    // message's problem: named, and the message read without a time.
    const struct {
        std::vector<int> time;
        const char* line;
    } impossible[] = {
        {{2004, 3, 15, 12, 30, 60}, "Section 1 time has an impossible second 60"},
        {{2004, 2, 30, 12, 30, 0}, "Section 1 time has an impossible day 30"},
        {{2004, 13, 1, 0, 0, 0}, "Section 1 time has an impossible month 13"},
        {{1000, 3, 15, 12, 30, 0}, "Section 1 time of year 1000 lies outside 1970 to 2038-01-19"},
        {{2038, 1, 19, 3, 14, 8}, "Section 1 time of year 2038 lies outside 1970 to 2038-01-19"},
    };
    for (const auto& t : impossible) {
        BufrWriter w(4);
        w.dateTime(t.time[0], t.time[1], t.time[2], t.time[3], t.time[4], t.time[5]);
        w.descriptors({12101}).element(12101, 273.15);
        log.clear();
        ASSERT_TRUE(dec.decodeBytes(w.build())) << t.line;
        EXPECT_EQ(log.count(std::string("PROBLEM: ") + t.line +
                            "; the message has no observation time"),
                  1)
            << log.text();
        EXPECT_FALSE(log.contains("BUG")) << log.text();
        EXPECT_EQ(dec.obTime(), AbsTime(0));
        EXPECT_EQ(dec.values(), "0/12101=273.15");
    }
}

TEST(MessageDecoding, ShortSectionsAndSeveralMessages)
{
    TestDecoder dec;
    // A data section of a few octets with a subset is decoded.
    ASSERT_TRUE(dec.decodeBytes(temperature()));
    EXPECT_EQ(dec.values(), "0/12101=273.15");

    // Without subsets the time of section 1 stands in, and decoding fails.
    BufrWriter none;
    none.subsets(0).dateTime(2004, 3, 15, 12, 30, 45).descriptors({12101});
    LogCapture log;
    EXPECT_FALSE(dec.decodeBytes(none.build()));
    EXPECT_EQ(dec.values(),
              "0/4001=2004 0/4002=3 0/4003=15 0/4004=12 0/4005=30 0/4006=45");
    EXPECT_TRUE(log.contains("Failed to decode Section 4"));

    // The first message of a file is decoded; the others are announced.
    log.clear();
    BufrWriter second;
    second.descriptors({11001}).element(11001, 90);
    Bytes two = temperature(3), next = BufrWriter::withHeader("\r\r\nNNNN\r\r\n", second.build());
    two.insert(two.end(), next.begin(), next.end());
    ASSERT_TRUE(dec.decodeBytes(two));
    EXPECT_EQ(dec.values(), "0/12101=273.15");
    EXPECT_TRUE(log.contains("More BUFR messages follow the first one"));

    // Header octets before "BUFR", and a wrong end sentinel: a message
    // that does not end where it says is refused.
    log.clear();
    EXPECT_TRUE(dec.decodeBytes(BufrWriter::withHeader(std::string(119, 'x'), temperature())));
    EXPECT_FALSE(log.contains("More BUFR messages"));
    EXPECT_TRUE(log.contains("EVENT: Section 5 consists of the end-of-message sentinel \"7777\" "
                             "as expected."));
    EXPECT_FALSE(dec.decodeBytes(BufrWriter::withHeader(std::string(120, 'x'), temperature())));
    EXPECT_TRUE(log.contains("Failed to decode Section 0"));
    log.clear();
    const Bytes unended = BufrWriter::withoutEndMarker(temperature());
    EXPECT_FALSE(dec.decodeBytes(unended));
    EXPECT_EQ(log.count("PROBLEM: Message of " + std::to_string(unended.size()) +
                        " octets declared does not end in \"7777\""),
              1)
        << log.text();
    EXPECT_TRUE(log.contains("Failed to decode Section 0"));
    EXPECT_FALSE(log.contains("Section 5"));
    EXPECT_EQ(dec.getDecodedValues().length(), 0);
}

// What a data section holds after its last subset is padding, whatever its
// octets (encoders pad with zeros, blanks, all ones or what their buffer
// held), unless it holds one more subset: the subset count is then short of
// the subsets given, and the message is refused with a line naming the
// octets.  Aircraft bulletins of one and of six reports and a compressed
// message of three subsets, padded, are read value for value as without,
// with no line; declaring one subset fewer (the one-report bulletin none,
// a bulletin of eight reports none) each is refused.
TEST(MessageDecoding, OctetsAfterTheLastSubsetArePaddingUnlessTheyHoldOneMore)
{
    SampleOptions options;
    options.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
    auto aircraft = [&options](std::size_t reports) {
        std::vector<AcarsSamples::Report> r = AcarsSamples::reports(0);
        r.resize(reports);
        SampleBulletin b;
        std::string error;
        EXPECT_TRUE(AcarsSamples::encode(r, 0, options, b, error)) << error;
        return b.bytes;
    };
    BufrWriter columns;
    columns.compressed(true).subsets(3).descriptors({5001, 6001, 12101});
    columns.column(5001, {45.5, 46.25, 47}).column(6001, {-100, -101.5, -103});
    columns.column(12101, {250, 260, 273.15});
    const Bytes messages[] = {aircraft(1), aircraft(6), columns.build()};
    // As a centre's radiosondes end: all ones among a few other octets.
    Bytes mostlyOnes = {0x16, 0x4F};
    mostlyOnes.insert(mostlyOnes.end(), 44, 0xFF);
    mostlyOnes.insert(mostlyOnes.end(), {0x00, 0x62, 0x0A, 0x00, 0x00});
    const Bytes paddings[] = {Bytes(1, 0x20), Bytes(87, 0xFF), Bytes(4, 0x00), mostlyOnes};
    TestDecoder dec;
    for (const Bytes& message : messages) {
        ASSERT_TRUE(dec.decodeBytes(message));
        const std::string values = dec.values();
        EXPECT_EQ(dec.octetsAfterSubsets(), 0);
        for (const Bytes& padding : paddings) {
            SCOPED_TRACE(std::to_string(dec.subsets()) + " subsets, " +
                         std::to_string(padding.size()) + " octets of padding");
            LogCapture log;
            ASSERT_TRUE(dec.decodeBytes(BufrWriter::withPadding(message, padding)));
            EXPECT_EQ(dec.values(), values);
            EXPECT_EQ(dec.octetsAfterSubsets(), static_cast<long>(padding.size()));
            EXPECT_FALSE(dec.moreSubsetsLeft());
            EXPECT_FALSE(log.contains("PROBLEM")) << log.text();
        }
    }

    // One subset fewer declared: the octets of the last subset are left.
    const struct {
        Bytes message;
        int declared;
    } fewer[] = {{messages[0], 0}, {messages[1], 5}, {messages[2], 2},
                 {BufrWriter::withPadding(messages[1], Bytes(1, 0x20)), 5},
                 {aircraft(AcarsSamples::REPORTS), 0}};
    for (const auto& f : fewer) {
        Bytes m = f.message;
        const std::size_t at = findBufrMessages(m.data(), m.size()).at(0).offset;
        const Bytes own(m.begin() + static_cast<long>(at), m.end());
        const std::size_t section3 = at + BufrWriter::sectionOffset(own, 3);
        const std::size_t section4 = at + BufrWriter::sectionOffset(own, 4);
        const std::size_t section5 = at + BufrWriter::sectionOffset(own, 5);
        BufrWriter::putUnsigned(m, section3 + 4, static_cast<uint64_t>(f.declared), 2);
        SCOPED_TRACE(std::to_string(f.declared) + " subsets declared");
        LogCapture log;
        EXPECT_FALSE(dec.decodeBytes(m));
        EXPECT_TRUE(dec.moreSubsetsLeft());
        const long left = dec.octetsAfterSubsets();
        EXPECT_GT(left, 0);
        EXPECT_EQ(log.count("PROBLEM: Section 4 holds more than its " + std::to_string(f.declared) +
                            (f.declared == 1 ? " subset" : " subsets") + ": octets " +
                            groupedDigits(static_cast<long>(section5) - left) + " to " +
                            groupedDigits(static_cast<long>(section5) - 1) + " (" +
                            groupedDigits(left) + ") are left unread, and they are not padding"),
                  1)
            << log.text();
        EXPECT_TRUE(log.contains("Failed to decode Section 4"));
        EXPECT_EQ(dec.getDecodedValues().length(), 0);
        if (f.declared == 0) {
            // All of the data is left.
            EXPECT_EQ(left, static_cast<long>(section5 - section4 - 4));
        }
    }
}

// A "BUFR" in a message's data is its data's unless a whole frame begins
// there.  A station name ending in "BUFR", followed by octets that read as
// the sections 0 and 1 of a message of 32,390 octets, is read as the
// message it is, alone and with another after it.  A message whose data
// holds the start of a whole message that runs past its end (its own
// "7777" being that message's text) is refused, and the message inside it
// read.
TEST(MessageDecoding, ABufrInTheDataIsAMessageOnlyWhereAWholeFrameBegins)
{
    // Three temperatures and a satellite identifier whose octets follow
    // "BUFR": 00 7E 86 04 00 31 97.
    BufrWriter w;
    w.descriptors({1015, 12101, 12101, 12101, 1007}).chars(1015, "STATIONS ON THE BUFR");
    w.element(12101, 1.26).element(12101, 343.08).element(12101, 0.49).element(1007, 0x97 << 2);
    const Bytes named = w.build();
    const Bytes follows = {'B', 'U', 'F', 'R', 0x00, 0x7E, 0x86, 0x04, 0x00, 0x31, 0x97};
    ASSERT_NE(std::search(named.begin(), named.end(), follows.begin(), follows.end()),
              named.end());
    const std::string values = "0/1015='STATIONS ON THE BUFR' 0/12101=1.26 0/12101=343.08 "
                               "0/12101=0.49 0/1007=604";
    TestDecoder dec;
    {
        LogCapture log;
        ASSERT_TRUE(dec.decodeBytes(named)) << log.text();
        EXPECT_EQ(dec.values(), values);
        EXPECT_FALSE(log.contains("PROBLEM")) << log.text();
        Bytes file = BufrWriter::withHeader("\r\r\nNNNN\r\r\n", temperature());
        file.insert(file.begin(), named.begin(), named.end());
        ASSERT_TRUE(dec.decodeBytes(file));
        EXPECT_EQ(dec.values(), values);
        ASSERT_EQ(dec.nextMessage(), static_cast<long>(named.size() + 10));
        ASSERT_TRUE(dec.decode(file.data(), static_cast<unsigned>(file.size()),
                               static_cast<unsigned>(dec.nextMessage())));
        EXPECT_EQ(dec.values(), "0/12101=273.15");
    }

    BufrWriter inner;
    inner.descriptors({1015, 12101}).chars(1015, "SEVEN 7777 SEVEN").element(12101, 250);
    const Bytes message = inner.build();
    const char mark[] = "7777";
    const std::size_t through =
        static_cast<std::size_t>(std::search(message.begin(), message.end(), mark, mark + 4) -
                                 message.begin()) + 4;
    ASSERT_LT(through, message.size() - 4);
    Bytes outer = temperature();
    const std::size_t section4 = BufrWriter::sectionOffset(outer, 4);
    outer.resize(outer.size() - 4);
    outer.insert(outer.end(), message.begin(), message.begin() + static_cast<long>(through));
    BufrWriter::putUnsigned(outer, 4, outer.size(), 3);
    BufrWriter::putUnsigned(outer, section4, outer.size() - 4 - section4, 3);
    Bytes file = outer;
    file.insert(file.end(), message.begin() + static_cast<long>(through), message.end());
    const std::size_t inside = outer.size() - through;
    LogCapture log;
    EXPECT_FALSE(dec.decodeBytes(file));
    EXPECT_EQ(log.count("PROBLEM: Message of " + groupedDigits(outer.size()) +
                        " octets declared is cut short: another message begins at octet " +
                        groupedDigits(inside)),
              1)
        << log.text();
    ASSERT_EQ(dec.nextMessage(), static_cast<long>(inside));
    ASSERT_TRUE(dec.decode(file.data(), static_cast<unsigned>(file.size()),
                           static_cast<unsigned>(inside)));
    EXPECT_EQ(dec.values(), "0/1015='SEVEN 7777 SEVEN' 0/12101=250");
}

// Every whole message of the corpus beside the project and of the sample
// bulletins, made unreadable as senders and damage make messages, and
// followed by another message (right after it or behind a trailer and
// heading): each is refused with its one line and nothing of it decoded,
// and the next one is found where it begins and decodes as it does alone.
// The kinds: cut short (its "7777" lost; the last octet of section 4 as
// well; half of section 4; all of it); cut short where the next message's
// "7777" lands on its declared end; a declared length past its sections by
// 4 octets (and "7777") and by the whole next message; its subset count
// one short (standard and compressed data, a message of one subset
// declaring none); a master table version of 255.
TEST(MessageDecoding, ACutMessageIsRefusedAndTheNextOneIsFound)
{
    std::vector<Bytes> whole;
    auto addMessages = [&whole](const unsigned char* data, size_t size) {
        for (const BufrMessageSpan& m : findBufrMessages(data, size))
            whole.emplace_back(data + m.offset, data + m.offset + m.length);
    };
    const std::string corpus = std::string(QEV_SHARED_DIR) + "/corpus/bufr/";
    const bool haveCorpus = TempTree::exists(corpus + "MANIFEST.md");
    for (const std::string& name : haveCorpus ? TempTree::listFiles(corpus)
                                              : std::vector<std::string>()) {
        const std::string bytes = TempTree::readFile(corpus + name);
        addMessages(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    const size_t fromCorpus = whole.size();
    SampleOptions options;
    options.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
    for (const SampleMaker& maker : sampleMakers()) {
        std::vector<SampleBulletin> bulletins;
        std::string error;
        ASSERT_TRUE(maker.make(options, bulletins, error)) << maker.type << ": " << error;
        for (const SampleBulletin& b : bulletins)
            addMessages(b.bytes.data(), b.bytes.size());
    }
    ASSERT_GT(whole.size(), fromCorpus + 20);
    if (haveCorpus) {
        EXPECT_GT(fromCorpus, 40u);
    }
    const Bytes* smallest = &whole[0];
    for (const Bytes& m : whole)
        smallest = m.size() < smallest->size() ? &m : smallest;

    const std::string heading = std::string("\x01\r\r\n123\r\r\nIUSN01 KWBC 011200\r\r\n");
    const std::string joins[] = {"", "\r\r\nNNNN" + heading, "\r\r\n\x03" + heading};
    TestDecoder dec, alone;
    std::map<std::string, int> refused;
    // The file of the damaged message, the join and the next message: the
    // damaged one refused with its one `line`, the next one found at its
    // octet and decoded as alone.  Counted by kind.
    auto check = [&](const char* kind, Bytes file, const std::string& join, const Bytes& next,
                     const std::string& line) {
        SCOPED_TRACE(std::string(kind) + ", " + std::to_string(join.size()) +
                     " octets before the next");
        file.insert(file.end(), join.begin(), join.end());
        const std::size_t nextAt = file.size();
        file.insert(file.end(), next.begin(), next.end());
        SeqOf<BufrValues> nextValues;
        bool nextDecodes = false;
        {
            LogCapture quiet;
            nextDecodes = alone.decodeBytes(next);
            if (nextDecodes)
                nextValues = alone.getDecodedValues();
        }
        LogCapture log;
        EXPECT_FALSE(dec.decodeBytes(file));
        EXPECT_EQ(log.count("PROBLEM: " + line), 1) << log.text();
        EXPECT_EQ(dec.getDecodedValues().length(), 0);
        ASSERT_EQ(dec.nextMessage(), static_cast<long>(nextAt));
        ASSERT_EQ(dec.decode(file.data(), static_cast<unsigned>(file.size()),
                             static_cast<unsigned>(nextAt)),
                  nextDecodes);
        const SeqOf<BufrValues> values = nextDecodes ? dec.getDecodedValues()
                                                     : SeqOf<BufrValues>();
        ASSERT_EQ(values.length(), nextValues.length());
        for (int v = 0; v < values.length(); ++v) {
            const BufrValues& a = values[v];
            const BufrValues& b = nextValues[v];
            const float x = a.getValue(), y = b.getValue();
            ASSERT_TRUE(a.getDescriptor() == b.getDescriptor() && a.getSubset() == b.getSubset() &&
                        a.getIndex() == b.getIndex() && std::memcmp(&x, &y, sizeof x) == 0 &&
                        a.getCharValue() == b.getCharValue())
                << "value " << v;
        }
        ++refused[kind];
    };
    for (size_t i = 0; i < whole.size(); ++i) {
        const Bytes& message = whole[i];
        const Bytes& next = whole[(i + 1) % whole.size()];
        SCOPED_TRACE("message " + std::to_string(i) + " of " + std::to_string(message.size()) +
                     " octets");
        const std::string declared = "Message of " + groupedDigits(message.size()) +
                                     " octets declared ";
        const std::size_t section4 = BufrWriter::sectionOffset(message, 4);
        ASSERT_NE(section4, BufrWriter::npos);
        const std::size_t section4Octets = message.size() - 4 - section4;
        for (const std::string& join : joins) {
            for (std::size_t lost : {std::size_t(4), std::size_t(5), 4 + section4Octets / 2,
                                     4 + section4Octets}) {
                const Bytes file(message.begin(), message.end() - static_cast<long>(lost));
                const std::size_t nextAt = file.size() + join.size();
                check("cut short", file, join, next,
                      declared + (nextAt < message.size()
                                      ? "is cut short: another message begins at octet " +
                                            groupedDigits(nextAt)
                                      : std::string("does not end in \"7777\"")));
            }
            // Cut where the rest of its length is the next message's, or
            // the smallest one's: its "7777" stands where the cut one's
            // should.
            for (const Bytes* inner : {&next, smallest}) {
                const std::size_t lost = join.size() + inner->size();
                if (lost >= section4Octets)
                    continue;
                const Bytes file(message.begin(), message.end() - static_cast<long>(lost));
                check("cut short around a whole one", file, join, *inner,
                      declared + "is cut short: a whole message lies inside it from octet " +
                          groupedDigits(file.size() + join.size()));
                break;
            }
            // Its declared length past its sections: by 4 octets (and
            // "7777" at the declared end), by the whole next message.
            Bytes longer = message;
            BufrWriter::putUnsigned(longer, 4, message.size() + 4, 3);
            longer.insert(longer.end(), {'7', '7', '7', '7'});
            check("longer than its sections", longer, join, next,
                  "Message of " + groupedDigits(message.size() + 4) +
                      " octets declared: its sections end at octet " +
                      groupedDigits(message.size() - 4) + ", 8 octets before its declared end");
        }
        Bytes hiding = message;
        BufrWriter::putUnsigned(hiding, 4, message.size() + next.size(), 3);
        check("longer than its sections", hiding, "", next,
              "Message of " + groupedDigits(message.size() + next.size()) +
                  " octets declared: its sections end at octet " +
                  groupedDigits(message.size() - 4) + ", " + groupedDigits(next.size() + 4) +
                  " octets before its declared end");

        // What its content says wrong: only of a message that decodes.
        {
            LogCapture quiet;
            if (!alone.decodeBytes(message))
                continue;
        }
        const std::size_t section1 = BufrWriter::sectionOffset(message, 1);
        const std::size_t section3 = BufrWriter::sectionOffset(message, 3);
        const int subsets = (message[section3 + 4] << 8) | message[section3 + 5];
        if (subsets >= 1) {
            Bytes fewer = message;
            BufrWriter::putUnsigned(fewer, section3 + 4, static_cast<uint64_t>(subsets - 1), 2);
            // Compressed data read with one increment fewer in each column
            // may fail before its end; standard data leaves its last subset.
            const bool compressed = (message[section3 + 6] & 0x40) != 0;
            LogCapture log;
            EXPECT_FALSE(dec.decodeBytes(fewer));
            if (compressed && !log.contains("are left unread")) {
                EXPECT_TRUE(log.contains("Failed to decode Section 4")) << log.text();
                ++refused["a compressed subset short, failing before its end"];
            } else {
                check(compressed ? "a compressed subset short" : "a subset short", fewer, "", next,
                      "Section 4 holds more than its " + std::to_string(subsets - 1) +
                          " subset" + (subsets == 2 ? ": " : "s: "));
            }
        }
        Bytes missing = message;
        missing[section1 + (message[7] >= 4 ? 13 : 10)] = 255;
        check("version 255", missing, "", next,
              "BUFR master table version 255 (missing) is no version WMO has published; "
              "versions up to 80 are read");
    }
    std::cout << "[cut messages] " << whole.size() << " messages (" << fromCorpus
              << " of the corpus) refused, by kind:";
    for (const auto& k : refused)
        std::cout << " " << k.second << " " << k.first << ";";
    std::cout << std::endl;
    EXPECT_GT(refused["cut short around a whole one"], 10);
    EXPECT_GT(refused["a subset short"], 10);
}

TEST(MessageDecoding, FailuresGiveTheirReasons)
{
    struct Case {
        const char* name;
        Bytes message;
        std::string reason;
        int section;
    };
    const char* const memory =
        "The values of the message would take more than 192 MB of memory; the message is not "
        "decoded";
    BufrWriter local;
    local.localElement(63254, 0, 0, 8).descriptors({63254}).element(63254, 1);
    BufrWriter sequence;
    sequence.descriptors({363255}).bits(0, 8);
    BufrWriter past;
    past.descriptors({103000, 31001, 12101}).factor(31001, 1).element(12101, 250);
    BufrWriter noFactor;
    noFactor.descriptors({101000, 12101}).element(12101, 250);
    BufrWriter ends;
    ends.descriptors({12101, 1019}).element(12101, 250);
    // 65534 repetitions of 255 operators: no data, endless work.
    BufrWriter endless;
    endless.descriptors({102000, 31002, 101255, 201129}).factor(31002, 65534);
    Bytes shortOne = temperature();
    BufrWriter::putUnsigned(shortOne, BufrWriter::sectionOffset(shortOne, 1), 10, 3);
    Bytes longOne = temperature();
    BufrWriter::putUnsigned(longOne, BufrWriter::sectionOffset(longOne, 4), 65535, 3);
    // A message that says it is longer than it is, the next one 1,200
    // octets after its "BUFR".
    Bytes cutShort = temperature();
    BufrWriter::putUnsigned(cutShort, 4, 2410, 3);
    cutShort.resize(1200, 0);
    const Bytes after = temperature();
    cutShort.insert(cutShort.end(), after.begin(), after.end());
    // Values that do not fit the arithmetic: an increment far wider than its
    // element (R0 + increment would pass 2^63), a 64-bit value (2 01 167
    // widens 0 05 001 to 64 bits) past the signed range, in standard and in
    // compressed data, a reference scaled by 2 07 past 64 bits, and an
    // increment wider than a new reference value.
    BufrWriter wide;
    wide.compressed(true).subsets(3).descriptors({5001});
    wide.rawColumn(25, 2, 63, {uint64_t(1) << 62, 3, 4});
    BufrWriter past64;
    past64.descriptors({201167, 5001}).bits(uint64_t(1) << 63, 64);
    BufrWriter sum64;
    sum64.compressed(true).subsets(2).descriptors({201167, 5001});
    sum64.rawColumn(64, (uint64_t(1) << 63) - 8, 5, {1, 16});
    BufrWriter scaled;
    scaled.descriptors({207013, 5001}).bits(0, 64);
    BufrWriter reference;
    reference.compressed(true).subsets(2).descriptors({203014, 12101, 203255, 12101});
    reference.bits(5, 14).bits(20, 6).bits(0, 40).rawColumn(16, 0, 0, {});
    // Values of no width, more than the data can account for; associated
    // fields wider than the data.
    setCoding(63244, 0, 0, 0);
    BufrWriter noWidth;
    noWidth.descriptors({102000, 31002, 101255, 63244});
    noWidth.factor(31002, 65534);
    BufrWriter associated;
    associated.descriptors({204100, 204100, 12101}).bits(0, 50).bits(0, 50).element(12101, 250);
    // Compressed data of three subsets whose section 3 says two: the third
    // increment is left after the others.
    BufrWriter three;
    three.compressed(true).subsets(3).descriptors({12101}).column(12101, {250, 260, 273.15});
    Bytes twoOfThree = three.build();
    BufrWriter::putUnsigned(twoOfThree, BufrWriter::sectionOffset(twoOfThree, 3) + 4, 2, 2);
    Case cases[] = {
        {"element not in table B", local.build(), "Code 63254 does not exist in table B.", 4},
        {"sequence not in table D", sequence.build(),
         "Descriptor 363255 does not exist in table D.", 3},
        {"replication past its list", past.build(),
         "Replication 103000 needs 3 descriptors, only 1 follow it", 3},
        {"delayed replication without factor", noFactor.build(),
         "Delayed replication 101000 is not followed by a replication factor", 3},
        {"data section too short", ends.build(), "The data section ends before its descriptors do",
         4},
        {"work without data", endless.build(), "The descriptors call for more steps than", 4},
        {"section 1 too short", shortOne, "Section 1 length of 10 bytes is too short", 1},
        {"section 4 too long", longOne, "Section 4 length of 65535 bytes > remaining msg length",
         4},
        {"truncated", BufrWriter::truncated(temperature(), 30),
         "Message of " + std::to_string(temperature().size()) +
             " octets declared is cut short: the data ends at octet 30",
         0},
        {"cut short", cutShort,
         "Message of 2,410 octets declared is cut short: another message begins at octet 1,200", 0},
        {"increment wider than its element", wide.build(),
         "Increment width 63 of descriptor 5001 is wider than its data width of 25 bits", 4},
        {"value past 64 bits", past64.build(),
         "Coded value 9223372036854775808 of descriptor 5001 with reference -9000000 does not "
         "fit 64 bits",
         4},
        {"R0 + increment past 64 bits", sum64.build(),
         "Coded value 9223372036854775816 of descriptor 5001", 4},
        {"reference past 64 bits", scaled.build(),
         "The reference value of descriptor 5001 does not fit 64 bits", 4},
        {"increment wider than a new reference", reference.build(),
         "Increment width 20 of a new reference value is wider than its 14 bits", 4},
        {"values without data", noWidth.build(),
         "The descriptors call for more values than the data section's", 4},
        {"associated fields past the data", associated.build(),
         "Associated fields of 200 bits in all are wider than the 120 bits left", 4},
        {"a compressed subset short", twoOfThree,
         "Section 4 holds more than its 2 subsets: octets ", 4},
        // Work and memory that a few bits of data asked for (fuzzFindings.h).
        {"unknown elements in every subset", fuzzFindings::unknownColumns(), memory, 4},
        {"associated fields without end", fuzzFindings::associatedFields(),
         "Associated fields nested more than 255 deep", 4},
        {"factors past an int", fuzzFindings::factorsPerSubset({65534, 3}), memory, 4},
        {"factors past a negative int", fuzzFindings::factorsPerSubset({32800}), memory, 4},
        {"factors by the billion", fuzzFindings::factorsPerSubset({8000}), memory, 4},
    };
    TestDecoder dec;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.message.empty());
        LogCapture log;
        EXPECT_FALSE(dec.decodeBytes(c.message));
        EXPECT_TRUE(log.contains(std::string("PROBLEM: ") + c.reason)) << log.text();
        EXPECT_TRUE(log.contains("Failed to decode Section " + std::to_string(c.section)));
        EXPECT_EQ(dec.getDecodedValues().length(), 0);
        // A refused frame's reason is the failure the file's line names.
        if (c.section == 0) {
            EXPECT_EQ(std::string(dec.decodeFailure().c_str()), c.reason);
        }
    }
}

// Fixed replications of nothing, nested, stand for nothing.
TEST(MessageDecoding, EmptyReplicationsCostNothing)
{
    TestDecoder dec;
    ASSERT_TRUE(dec.decodeBytes(fuzzFindings::emptyReplications()));
    EXPECT_EQ(dec.values(), "0/1001=72");
    EXPECT_EQ(TestDecoder::list(dec.descriptors()), "1001");
}

// The trees of the descriptors met are kept for the messages that follow,
// bounded in memory as well as in number: forty messages of 50,000
// descriptors each, each list of its own, leave no more than the cache's
// bound behind; a tree larger than the bound serves its own message only.
TEST(MessageDecoding, DescriptorTreesKeptAreBoundedInMemory)
{
    std::vector<Bytes> messages;
    for (int m = 0; m < 41; ++m) {
        const int count = m < 40 ? 50000 : 1000000;
        std::vector<int> descriptors(static_cast<std::size_t>(count), 12101);
        descriptors[0] = 4001 + m % 6;
        descriptors[1] = 4001 + m / 6;
        BufrWriter w;
        w.descriptors(descriptors).element(descriptors[0], 1).element(descriptors[1], 1);
        for (int i = 2; i < count; ++i)
            w.element(12101, 250);
        messages.push_back(w.build());
        ASSERT_TRUE(w.ok()) << w.error();
    }
    TestDecoder dec;
    ASSERT_TRUE(dec.decodeBytes(temperature()));
    const std::size_t before = heapInUse();
    for (const Bytes& m : messages) {
        ASSERT_TRUE(dec.decodeBytes(m));
        EXPECT_EQ(dec.descriptors().length(), m.size() > 1000000 ? 1000000 : 50000);
    }
    ASSERT_TRUE(dec.decodeBytes(temperature()));
    // The cache holds up to 8 MiB; the trees met would hold 21 MB.
    EXPECT_LT(heapInUse(), before + 12 * 1000000)
        << heapInUse() - before;
}

// A table D sequence that holds itself, directly or through another one.
TEST(MessageDecoding, SelfReferencingSequencesFail)
{
    TempTree tree;
    std::string data = tree.mkdirs("qev_home/data");
    for (const char* table : StaticBufrInfo::tableFiles) {
        if (std::string(table) == "bufrTableD")
            continue;
        ASSERT_EQ(symlink((std::string(QEV_SOURCE_DIR) + "/data/" + table).c_str(),
                          (data + "/" + table).c_str()),
                  0);
    }
    tree.write("qev_home/data/bufrTableD",
               TempTree::readFile(std::string(QEV_SOURCE_DIR) + "/data/bufrTableD") +
                   "363250|012101|363250|\n363251|363252|\n363252|012101|363251|\n");
    ASSERT_TRUE(StaticBufrInfo::instance()->loadTables());

    TestDecoder dec;
    for (int sequence : {363250, 363251}) {
        BufrWriter w;
        w.descriptors({sequence}).element(12101, 250).element(12101, 250);
        LogCapture log;
        EXPECT_FALSE(dec.decodeBytes(w.build()));
        EXPECT_TRUE(log.contains("contains itself in table D")) << sequence;
        EXPECT_TRUE(log.contains("Unable to expand descriptors."));
    }
}

// The fuzzers' findings (../shared/corpus/fuzz/): each fails with its reason,
// or decodes, in a decoder that decoded the one before it, exactly as in a
// decoder of its own.  (The large ones are replayed in processes of their
// own, FuzzFindingsReplay.)
TEST(MessageDecoding, FuzzFindingsFailWithTheirReason)
{
    const std::string dir = std::string(QEV_SHARED_DIR) + "/corpus/fuzz/";
    if (!TempTree::exists(dir + "MANIFEST.md"))
        GTEST_SKIP() << "no fuzzer findings at " << dir;
    const char* const wider = "is wider than its data width";
    const char* const memory = "would take more than 192 MB of memory";
    const struct {
        const char* name;
        const char* reason;    // null: decodes
        const char* absent;    // a text no line may hold, or null
    } findings[] = {
        // Cut short by the fuzzer: refused before its data is read.
        {"compressed-increment-overflow-84.bufr",
         "Message of 778 octets declared is cut short: the data ends at octet 84", nullptr},
        {"compressed-increment-overflow-1823.bufr", wider, nullptr},
        {"factors-heap-overflow.bufr", memory, nullptr},
        {"factors-count-negative.bufr", memory, nullptr},
        {"factors-oom.bufr", memory, nullptr},
        {"assoc-width-overflow.bufr", "Associated fields nested more than 255 deep", nullptr},
        {"nested-empty-replication-hang.bufr", nullptr, nullptr},
        {"sequence-1-good.bufr", nullptr, nullptr},
        {"sequence-2-zero-subsets.bufr", "Failed to decode Section 4", nullptr},
        {"local-centre-98.bufr", "local to its originating centre 98,", nullptr},
        {"local-centre-99.bufr", "local to its originating centre 99,", "centre 98"},
        {"version39-same-bytes.bufr", nullptr, nullptr},
        {"version40-refused.bufr", nullptr, nullptr},
    };
    TestDecoder dec;
    std::string version39;
    for (const auto& f : findings) {
        SCOPED_TRACE(f.name);
        const std::string bytes = TempTree::readFile(dir + f.name);
        ASSERT_FALSE(bytes.empty());
        LogCapture log;
        TestDecoder own;
        const bool alone = own.decode(bytes.data(), static_cast<unsigned>(bytes.size()));
        const std::string values = own.values();
        EXPECT_EQ(dec.decode(bytes.data(), static_cast<unsigned>(bytes.size())), alone);
        EXPECT_EQ(alone, f.reason == nullptr);
        EXPECT_EQ(dec.values(), values);
        EXPECT_EQ(dec.getDecodedValues().length(), own.getDecodedValues().length());
        if (f.reason) {
            EXPECT_TRUE(log.contains(f.reason)) << log.text();
        }
        if (f.absent) {
            EXPECT_FALSE(log.contains(f.absent)) << log.text();
        }
        // Versions after the newest loaded (39) only add entries.
        if (std::string(f.name) == "version39-same-bytes.bufr")
            version39 = values;
        if (std::string(f.name) == "version40-refused.bufr") {
            EXPECT_EQ(values, version39);
            EXPECT_GT(own.getDecodedValues().length(), 100);
        }
    }
}

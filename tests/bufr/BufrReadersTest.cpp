// The bit and element readers over a bounded data section.
#include "BufrTestSupport.h"

#include "BufrWriter.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

// Bit fields (value, width) packed most significant bit first.
Bytes pack(const std::vector<std::pair<uint64_t, int> >& fields)
{
    BufrWriter w;
    for (const auto& f : fields)
        w.bits(f.first, f.second);
    return dataSection(w.build());
}

uint64_t bitsOf(const Bytes& d, long start, int n)
{
    uint64_t v = 0;
    for (long b = start; b < start + n; ++b)
        v = (v << 1) | ((d[b / 8] >> (7 - b % 8)) & 1);
    return v;
}

// Characters after `skip` leading zero bits.
Bytes shiftedText(const char* text, int skip)
{
    std::vector<std::pair<uint64_t, int> > fields{{0, skip}};
    for (const char* p = text; *p; ++p)
        fields.push_back({static_cast<unsigned char>(*p), 8});
    fields.push_back({0, 8 - skip});
    return pack(fields);
}

} // namespace

TEST(BufrReaders, BitReadsAtEveryOffsetAndWidth)
{
    Bytes data(12);
    uint32_t seed = 12345;
    for (unsigned char& c : data) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<unsigned char>(seed >> 16);
    }
    TestDecoder dec;
    for (int start = 0; start < 16; ++start) {
        for (int n = 1; n <= 32; ++n) {
            dec.setReadRegion(data.data(), static_cast<unsigned>(data.size()));
            ASSERT_TRUE(dec.advanceBits(start));
            uint64_t want = bitsOf(data, start, n);
            int64_t signedWant = ((want >> (n - 1)) & 1) ? int64_t(want) - (int64_t(1) << n)
                                                         : int64_t(want);
            EXPECT_EQ(static_cast<uint32_t>(dec.getBits(n)), want) << start << "+" << n;
            EXPECT_EQ(dec.getSignedBits(n), static_cast<int>(signedWant)) << start << "+" << n;
            EXPECT_EQ(dec.readSignedBits(n), static_cast<int>(signedWant));
            EXPECT_EQ(dec.bitsLeft(), long(data.size()) * 8 - start - n);
            EXPECT_EQ(dec.bitOffset(), (start + n) % 8);
            EXPECT_FALSE(dec.readFailed());
        }
    }

    const unsigned char two[] = {0xB5, 0x3C};
    dec.setReadRegion(two, 2);
    EXPECT_EQ(dec.getBits(4), 11);
    dec.advanceBits(4);
    EXPECT_EQ(dec.getBits(8), 0x53);
    dec.advanceBits(8);
    EXPECT_EQ(dec.position(), two + 1);
    EXPECT_EQ(dec.bitOffset(), 4);
}

TEST(BufrReaders, ReadsStopAtTheEndOfTheSection)
{
    TestDecoder dec;
    LogCapture log;
    const unsigned char two[] = {0xFF, 0x00, 0xEE};    // the region is the first two
    dec.setReadRegion(two, 2);
    EXPECT_EQ(dec.getBits(16), 0xFF00);
    dec.advanceBits(4);
    EXPECT_EQ(dec.getBits(13), 0);
    EXPECT_TRUE(dec.readFailed());
    EXPECT_EQ(dec.position(), two);
    EXPECT_EQ(dec.bitOffset(), 4);
    EXPECT_EQ(dec.getBits(12), 0xF00);    // inside: still read; the error stays
    EXPECT_TRUE(dec.readFailed());
    EXPECT_FALSE(dec.advanceBits(13));
    EXPECT_FALSE(dec.advanceOctets(2));
    TextString text;
    EXPECT_EQ(dec.getValue(12101, text), BufrDecoder::MISSING_VALUE);    // 16 bits
    float value = 0;
    EXPECT_STREQ(dec.getCharacters(16, value).c_str(), "");
    EXPECT_EQ(dec.bitsLeft(), 12);
    EXPECT_EQ(log.count("bits left in the data section"), 1) << log.text();

    dec.setReadRegion(two, 2);
    EXPECT_FALSE(dec.readFailed());
    EXPECT_EQ(dec.getBits(33), 0);
    EXPECT_TRUE(log.contains("Bit field width 33 cannot be read"));

    dec.setReadRegion(nullptr, 0);
    EXPECT_EQ(dec.getBits(1), 0);
    EXPECT_TRUE(dec.readFailed());
}

// Values coded by the test-side writer, read back element by element.
TEST(BufrReaders, ElementValues)
{
    BufrWriter w;
    w.localElement(63001, 1, -5, 7).localElement(63002, 0, 0, 32).localElement(63003, 0, 0, 40);
    setCoding(63001, 1, -5, 7);
    setCoding(63002, 0, 0, 32);
    setCoding(63003, 0, 0, 40);
    w.descriptors({12001, 12001, 63001, 63001, 31001, 31031, 1015, 63002, 63003, 12001});
    w.element(12001, 293.1).missing(12001).element(63001, 2.0).missing(63001);
    w.bits(255, 8).bits(1, 1).chars(1015, "AB C");
    w.element(63002, 3000000000.0).element(63003, 8589934592.0).element(12001, 250.0);
    Bytes msg = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    Bytes data = dataSection(msg);

    TestDecoder dec;
    LogCapture log;
    dec.setReadRegion(data.data(), static_cast<unsigned>(data.size()));
    TextString text;
    EXPECT_FLOAT_EQ(dec.getValue(12001, text), 293.1f);
    EXPECT_EQ(dec.getValue(12001, text), BufrDecoder::MISSING_VALUE);
    EXPECT_FLOAT_EQ(dec.getValue(63001, text), 2.0f);
    EXPECT_EQ(dec.getValue(63001, text), BufrDecoder::MISSING_VALUE);    // raw 127
    // Class 31 is a count, all ones included.
    EXPECT_EQ(dec.getValue(31001, text), 255.0f);
    EXPECT_EQ(dec.getValue(31031, text), 1.0f);

    const unsigned char* at = dec.position();
    int offset = dec.bitOffset();
    EXPECT_EQ(dec.getValue(63999, text), BufrDecoder::NOT_IN_TABLE_B);
    EXPECT_TRUE(log.contains("Code 63999 does not exist in table B."));
    EXPECT_EQ(dec.position(), at);
    EXPECT_EQ(dec.bitOffset(), offset);

    // The whole text, its padding blanks removed: what decode() gives it.
    EXPECT_EQ(dec.getValue(1015, text), BufrDecoder::CHARACTER_VALUE);
    EXPECT_STREQ(text.c_str(), "AB C");
    EXPECT_EQ(dec.position(), at + 20);
    EXPECT_EQ(dec.bitOffset(), offset);
    // 32-bit values above 2^31 stay positive; widths beyond 32 are read too.
    EXPECT_EQ(dec.getValue(63002, text), 3000000000.0f);
    EXPECT_STREQ(text.c_str(), "");
    EXPECT_EQ(dec.getValue(63003, text), 8589934592.0f);
    EXPECT_FLOAT_EQ(dec.getValue(12001, text), 250.0f);
    EXPECT_FALSE(dec.readFailed());

    TestDecoder whole;
    ASSERT_TRUE(whole.decodeBytes(msg));
    EXPECT_NE(whole.values().find(" 0/1015='AB C' "), std::string::npos) << whole.values();
}

TEST(BufrReaders, CharacterData)
{
    TestDecoder dec;
    float value = 0;
    const unsigned char ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
    dec.setReadRegion(ones, 4);
    EXPECT_STREQ(dec.getCharacters(32, value).c_str(), "");
    EXPECT_EQ(value, BufrDecoder::CHARACTER_VALUE);
    // All ones up to the first NUL is missing too; other octets are text.
    const unsigned char padded[] = {0xFF, 0, 0, 0};
    dec.setReadRegion(padded, 4);
    EXPECT_STREQ(dec.getCharacters(32, value).c_str(), "");
    const unsigned char mixed[] = {0xFF, 'A', 0, 0xFF};
    dec.setReadRegion(mixed, 4);
    EXPECT_STREQ(dec.getCharacters(32, value).c_str(), "\xff" "A");

    const unsigned char nul[] = {'A', 'B', 0, 'C', 'D', 'E'};
    dec.setReadRegion(nul, 6);
    EXPECT_STREQ(dec.getCharacters(48, value).c_str(), "AB");
    EXPECT_EQ(dec.position(), nul);    // not advanced
    const unsigned char blanks[] = {' ', 'A', ' ', 'B', ' ', ' '};
    dec.setReadRegion(blanks, 6);
    EXPECT_STREQ(dec.getCharacters(48, value).c_str(), " A B");

    Bytes shifted = shiftedText("XY ZW", 3);
    EXPECT_EQ(BufrDecoder::extractCharacters(shifted.data(), 3, 5).length(), 5);
    EXPECT_STREQ(BufrDecoder::extractCharacters(shifted.data(), 3, 5).c_str(), "XY ZW");
    dec.setReadRegion(shifted.data(), static_cast<unsigned>(shifted.size()));
    dec.advanceBits(3);
    EXPECT_STREQ(dec.getCharacters(40, value).c_str(), "XY ZW");
    // The operator's character string keeps blanks but not missing data.
    int count = 5;
    TextString text;
    dec.getCharacterString(count, text);
    EXPECT_STREQ(text.c_str(), "XY ZW");
    dec.setReadRegion(ones, 4);
    dec.getCharacterString(count = 3, text);
    EXPECT_STREQ(text.c_str(), "");
    EXPECT_FALSE(dec.readFailed());
}

// 2 03 YYY reference values: sign bit and magnitude, in compressed data with
// the increment width and the increments of every subset after them.
TEST(BufrReaders, ReferenceValues)
{
    TestDecoder dec;
    Bytes plain = pack({{0x200 | 5, 10}, {300, 10}, {0, 4}});
    dec.setReadRegion(plain.data(), static_cast<unsigned>(plain.size()));
    EXPECT_EQ(dec.getRefValue(10), -5);
    EXPECT_EQ(dec.getRefValue(10), 300);
    EXPECT_EQ(dec.bitsLeft(), 4);

    Bytes compressed = pack({{0x200 | 5, 10}, {3, 6}, {2, 3}, {2, 3}, {2, 3}, {0x1F, 5},
                             {7, 10}, {0, 6}, {0, 10}});
    dec.setCompressed(true, 3);
    dec.setReadRegion(compressed.data(), static_cast<unsigned>(compressed.size()));
    EXPECT_EQ(dec.getRefValue(10), -3);
    EXPECT_EQ(dec.getBits(5), 0x1F);    // the three increments were passed over
    dec.advanceBits(5);
    EXPECT_EQ(dec.getRefValue(10), 7);
    EXPECT_EQ(dec.bitsLeft(), 10);
    EXPECT_FALSE(dec.readFailed());
}

TEST(BufrReaders, Octets)
{
    const unsigned char p[] = {0xFF, 0x01, 0x80, 0x04, 0x05, 0x06};
    EXPECT_EQ(BufrDecoder::getOctet(p, 0), 255);
    EXPECT_EQ(BufrDecoder::readBigEndian3(p), 0xFF0180);
    EXPECT_EQ(BufrDecoder::readSignedBigEndian2(p), -255);
    EXPECT_EQ(BufrDecoder::readBigEndian6(p), int(0x80040506));
    const unsigned char one[] = {0x40, 0x00}, minusHalf[] = {0xBC, 0x00}, tiny[] = {0x00, 0x02};
    EXPECT_EQ(BufrDecoder::readHalfFloat(one), 1.0f);
    EXPECT_EQ(BufrDecoder::readHalfFloat(minusHalf), -0.5f);
    EXPECT_EQ(BufrDecoder::readHalfFloat(tiny), 2.0f / 512);
}

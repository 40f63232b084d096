#include "serializeQuantize.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "AbsTime.h"
#include "DataTime.h"
#include "LogCapture.h"
#include "TextString.h"
#include "TimeRange.h"
#include "WireBytes.h"

namespace {

// The encoding of a value; fails the test unless xdrLength promised exactly
// the bytes written.
template <class T>
std::string encode(const T& value)
{
    std::vector<char> buffer(256 + 8 * static_cast<size_t>(xdrLength(value)));
    char* end = xdrSerialize(value, buffer.data());
    const std::string bytes(buffer.data(), end);
    EXPECT_EQ(static_cast<int>(bytes.size()), xdrLength(value));
    return bytes;
}

// Decodes bytes from an exact-size copy; the decode must use all of them.
template <class T>
T decode(const std::string& bytes, T value = T())
{
    ExactCopy copy(bytes);
    char* next = xdrQuantize(value, copy.begin(), copy.end());
    EXPECT_EQ(next, copy.end());
    return value;
}

template <class T>
T roundTrip(const T& value)
{
    return decode<T>(encode(value));
}

// Every shorter prefix of the encoding of value is refused.
template <class T>
void expectPrefixesRefused(const T& value)
{
    const std::string bytes = encode(value);
    for (size_t n = 0; n < bytes.size(); ++n) {
        ExactCopy copy(bytes.data(), n);
        T target;
        LogCapture log;
        EXPECT_EQ(xdrQuantize(target, copy.begin(), copy.end()), nullptr) << n << " bytes";
        EXPECT_TRUE(log.contains("quantize fail")) << n << " bytes";
    }
}

std::string hexOf(const std::string& bytes)
{
    return hexGroups(bytes.data(), bytes.size());
}

DataTime fullDataTime()
{
    DataTime t{AbsTime(-86400)};
    t.setFcstPeriod(-3600);
    t.setValidPeriod(AbsTime(-90000), AbsTime(-86400), true);
    t.setSecondTime(AbsTime(-1));
    t.setKey(0xfffffffful);
    return t;
}

}  // namespace

TEST(XdrScalars, RoundTripInFourByteWordsWithLongsSignExtended)
{
    EXPECT_EQ(roundTrip(-5), -5);
    EXPECT_EQ(roundTrip(INT_MIN), INT_MIN);
    EXPECT_EQ(roundTrip(0xffffffffu), 0xffffffffu);
    EXPECT_EQ(roundTrip(-5L), -5L);
    EXPECT_EQ(roundTrip(long(INT32_MIN)), long(INT32_MIN));
    EXPECT_EQ(roundTrip(0xfffffffful), 0xfffffffful);
    EXPECT_EQ(roundTrip(static_cast<unsigned char>(255)), 255);
    EXPECT_EQ(roundTrip(static_cast<char>(-3)), -3);
    EXPECT_EQ(roundTrip(static_cast<unsigned short>(65535)), 65535);
    EXPECT_EQ(roundTrip(static_cast<short>(-2)), -2);
    EXPECT_EQ(roundTrip(1.5e300), 1.5e300);
    EXPECT_EQ(roundTrip(-2.25f), -2.25f);
    EXPECT_TRUE(roundTrip(true));

    EXPECT_EQ(hexOf(encode(-5L)), "fffffffb");
    EXPECT_EQ(hexOf(encode(true)), "00000001");
    EXPECT_EQ(hexOf(encode(static_cast<unsigned char>(0xab))), "000000ab");
    EXPECT_EQ(encode(1.0).size(), 8u);
    // A short is read as an int cut to 16 bits; a bool is any non-zero int.
    EXPECT_EQ(decode<short>(fromHex("00012345")), 0x2345);
    EXPECT_TRUE(decode<bool>(fromHex("00000007")));
}

TEST(XdrScalars, LongsBeyond32BitsAreRefusedNotTruncated)
{
    char buffer[8] = {};
    LogCapture log;
    const long big = 1L << 32;
    EXPECT_EQ(xdrSerialize(big, buffer), buffer);
    EXPECT_EQ(xdrLength(big), 0);
    const unsigned long bigUnsigned = 1UL << 32;
    EXPECT_EQ(xdrSerialize(bigUnsigned, buffer), buffer);
    EXPECT_EQ(log.count("xdr_long() serialize fail"), 1);
    EXPECT_EQ(log.count("xdr_long() length fail"), 1);
    EXPECT_EQ(log.count("xdr_u_long() serialize fail"), 1);
}

TEST(XdrTexts, StringsAndByteArraysCarryTheirLengthTwice)
{
    EXPECT_EQ(hexOf(encode(TextString("hello"))), "00000005 00000005 68656c6c 6f000000");
    EXPECT_EQ(hexOf(encode(TextString())), "00000000 00000000");
    const TextString empty = decode<TextString>(fromHex("00000000 00000000"), "was here");
    EXPECT_EQ(empty.rep(), TextString::emptyString().rep());
    EXPECT_STREQ(roundTrip(TextString("a b\tc")).c_str(), "a b\tc");

    const char one = 'x';
    EXPECT_EQ(hexOf(encode(SeqOf<char>(&one, 1))), "00000001 00000001 78000000");
    const char five[] = {'h', 0, 'l', 'l', 'o'};
    const SeqOf<char> bytes = roundTrip(SeqOf<char>(five, 5));
    ASSERT_EQ(bytes.length(), 5);
    EXPECT_EQ(std::memcmp(bytes.elements(), five, 5), 0);
    EXPECT_EQ(roundTrip(SeqOf<char>()).length(), 0);

    const unsigned char abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(hexOf(encode(SeqOf<unsigned char>(abc, 3))),
              "00000003 00000061 00000062 00000063");
    EXPECT_EQ(roundTrip(SeqOf<unsigned char>(abc, 3)), SeqOf<unsigned char>(abc, 3));
    EXPECT_EQ(encode(SeqOf<unsigned char>()).size(), 4u);
}

TEST(XdrTimes, TimesAndRangesRoundTripIncludingBefore1970)
{
    EXPECT_EQ(roundTrip(AbsTime(-86400)), AbsTime(-86400));
    EXPECT_EQ(hexOf(encode(AbsTime(1700000000))), "6553f100");
    const TimeRange range(AbsTime(-100), AbsTime(50));
    EXPECT_EQ(hexOf(encode(range)), "00000001 ffffff9c 00000032");
    EXPECT_EQ(roundTrip(range), range);
    // A clear flag gives the empty range whatever the ends say.
    EXPECT_EQ(decode<TimeRange>(fromHex("00000000 00000005 00000009")), TimeRange());
}

TEST(XdrDataTime, SizesFollowTheFlags)
{
    const AbsTime t(1700000000);
    DataTime obs(t);
    EXPECT_EQ(hexOf(encode(obs)), "00000300 6553f100");
    const DataTime back = roundTrip(obs);
    EXPECT_EQ(back.flags(), 0x300u);
    EXPECT_EQ(back.validPeriod(), TimeRange(t, t));
    EXPECT_EQ(back.secondTime(), t);

    DataTime fcst(t);
    fcst.setFcstPeriod(3600);
    EXPECT_EQ(hexOf(encode(fcst)), "00000700 6553f100 00000e10");
    EXPECT_EQ(roundTrip(fcst).validPeriod(), TimeRange(t + 3600, t + 3600));

    // Every part, with negative times, periods and a 32-bit key.
    const DataTime full = fullDataTime();
    EXPECT_EQ(encode(full).size(), 4u + 4 + 4 + 12 + 4 + 4);
    const DataTime got = roundTrip(full);
    EXPECT_EQ(got.flags(), full.flags());
    EXPECT_EQ(got.refTime(), full.refTime());
    EXPECT_EQ(got.fcstPeriod(), -3600);
    EXPECT_EQ(got.validPeriod(), full.validPeriod());
    EXPECT_EQ(got.secondTime(), AbsTime(-1));
    EXPECT_EQ(got.key(), 0xfffffffful);
}

TEST(XdrDataTime, ReaderKnowsTheOlderFormAndFillsWhatWasNotSent)
{
    // A first word above 0x3FFF is a reference time: period and range follow.
    const DataTime old = decode<DataTime>(
        fromHex("440ad9c8 00000e10 00000001 440ad9c8 440ae7d8"));
    EXPECT_EQ(old.refTime().seconds(), 1141561800);
    EXPECT_EQ(old.fcstPeriod(), 3600);
    EXPECT_EQ(old.validPeriod(), TimeRange(AbsTime(1141561800), AbsTime(1141565400)));
    EXPECT_EQ(old.secondTime(), old.refTime());
    EXPECT_EQ(old.flags(), 0xc00u);

    // Without a valid period the instant follows refTime or secondTime.
    const DataTime fromRef = decode<DataTime>(fromHex("00002400 00000064 0000000a 000003e8"));
    EXPECT_EQ(fromRef.validPeriod(), TimeRange(AbsTime(110), AbsTime(110)));
    const DataTime fromSecond = decode<DataTime>(fromHex("00002600 00000064 0000000a 000003e8"));
    EXPECT_EQ(fromSecond.validPeriod(), TimeRange(AbsTime(1010), AbsTime(1010)));
    EXPECT_EQ(fromSecond.key(), 0u);
}

TEST(XdrBounds, EveryTruncatedValueIsRefusedWithoutReadingPastItsBuffer)
{
    expectPrefixesRefused(-7);
    expectPrefixesRefused(-7L);
    expectPrefixesRefused(2.5);
    expectPrefixesRefused(TextString("hello"));
    const char five[] = "12345";
    expectPrefixesRefused(SeqOf<char>(five, 5));
    const unsigned char three[] = {1, 2, 3};
    expectPrefixesRefused(SeqOf<unsigned char>(three, 3));
    expectPrefixesRefused(TimeRange(AbsTime(1), AbsTime(2)));
    expectPrefixesRefused(fullDataTime());

    // A null position passes through silently.
    LogCapture log;
    int v = 3;
    EXPECT_EQ(xdrQuantize(v, nullptr, nullptr), nullptr);
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(log.lines().empty());
}

TEST(XdrBounds, LyingCountsAreRefusedAndStringsKeepRoomForTheTerminator)
{
    {
        LogCapture log;
        TextString s("old");
        ExactCopy lie(fromHex("7fffffff 7fffffff 61626364"));
        EXPECT_EQ(xdrQuantize(s, lie.begin(), lie.end()), nullptr);
        EXPECT_EQ(s.length(), 0);
        EXPECT_EQ(log.count("xdr_string() quantize failed with maxlen = "), 1);
    }
    {
        // The inner length exceeds what is left.
        LogCapture log;
        TextString s;
        ExactCopy lie(fromHex("00000003 00001000 61626364"));
        EXPECT_EQ(xdrQuantize(s, lie.begin(), lie.end()), nullptr);
        EXPECT_EQ(log.count("xdr_string() quantize failed with maxlen = "), 1);
    }
    {
        LogCapture log;
        SeqOf<char> bytes;
        ExactCopy lie(fromHex("ffffffff ffffffff 61626364"));
        EXPECT_EQ(xdrQuantize(bytes, lie.begin(), lie.end()), nullptr);
        EXPECT_EQ(log.count("xdr_bytes() quantize failed with maxlen = "), 1);
    }
    {
        LogCapture log;
        SeqOf<unsigned char> bytes;
        ExactCopy lie(fromHex("7fffffff 00000061"));
        EXPECT_EQ(xdrQuantize(bytes, lie.begin(), lie.end()), nullptr);
        EXPECT_EQ(log.count("xdr_u_char() quantize fail"), 1);
    }
    {
        // A negative count gives an empty sequence, as the sequence has it.
        LogCapture log;
        const unsigned char one = 1;
        SeqOf<unsigned char> bytes(&one, 1);
        ExactCopy negative(fromHex("ffffffff"));
        EXPECT_EQ(xdrQuantize(bytes, negative.begin(), negative.end()), negative.end());
        EXPECT_EQ(bytes.length(), 0);
        EXPECT_EQ(log.count("negative argument to SeqOf.setLength"), 1);
    }
    // A leading count of 0 allows 32 characters: a string of exactly 32
    // fills the decode buffer, and its terminator still fits.
    const std::string text32(32, 'q');
    ExactCopy full(fromHex("00000000 00000020") + text32);
    TextString s;
    EXPECT_EQ(xdrQuantize(s, full.begin(), full.end()), full.end());
    EXPECT_EQ(std::string(s.c_str()), text32);
}

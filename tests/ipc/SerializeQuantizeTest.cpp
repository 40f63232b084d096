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
    EXPECT_EQ(xdrQuantize(value, copy.begin(), copy.end()), copy.end()) << hexGroups(bytes);
    return value;
}

template <class T>
T roundTrip(const T& value)
{
    return decode<T>(encode(value));
}

template <class... T>
void expectRoundTrips(const T&... values)
{
    auto check = [](const auto& value) { EXPECT_EQ(roundTrip(value), value); };
    (check(values), ...);
}

// Every shorter prefix of the encoding of each value is refused.
template <class... T>
void expectPrefixesRefused(const T&... values)
{
    auto refused = [](const auto& value) {
        const std::string bytes = encode(value);
        for (size_t n = 0; n < bytes.size(); ++n) {
            ExactCopy copy(bytes.substr(0, n));
            std::decay_t<decltype(value)> target;
            LogCapture log;
            EXPECT_EQ(xdrQuantize(target, copy.begin(), copy.end()), nullptr) << n << " bytes";
            EXPECT_TRUE(log.contains("quantize fail")) << n << " bytes";
        }
    };
    (refused(values), ...);
}

// A lying count is refused with the line given, once; the value decoded into.
template <class T>
T expectLieRefused(const std::string& hex, const char* logged, T value = T())
{
    LogCapture log;
    ExactCopy lie(fromHex(hex));
    EXPECT_EQ(xdrQuantize(value, lie.begin(), lie.end()), nullptr) << hex;
    EXPECT_EQ(log.count(logged), 1) << hex;
    return value;
}

}  // namespace

TEST(XdrScalars, RoundTripInFourByteWordsWithLongsSignExtended)
{
    expectRoundTrips(-5, INT_MIN, 0xffffffffu, -5L, long(INT32_MIN), 0xfffffffful,
                     static_cast<unsigned char>(255), static_cast<char>(-3),
                     static_cast<unsigned short>(65535), static_cast<short>(-2), 1.5e300, -2.25f,
                     true);
    EXPECT_EQ(hexGroups(encode(-5L)), "fffffffb");
    EXPECT_EQ(hexGroups(encode(static_cast<unsigned char>(0xab))), "000000ab");
    EXPECT_EQ(encode(1.0).size(), 8u);
    // A short is read as an int cut to 16 bits; a bool is any non-zero int.
    EXPECT_EQ(decode<short>(fromHex("00012345")), 0x2345);
    EXPECT_TRUE(decode<bool>(fromHex("00000007")));

    // Longs beyond 32 bits are refused, not truncated.
    char buffer[8] = {};
    LogCapture log;
    EXPECT_EQ(xdrSerialize(1L << 32, buffer), buffer);
    EXPECT_EQ(xdrLength(1L << 32), 0);
    EXPECT_EQ(xdrSerialize(1UL << 32, buffer), buffer);
    EXPECT_EQ(log.count("xdr_long() serialize fail"), 1);
    EXPECT_EQ(log.count("xdr_long() length fail"), 1);
    EXPECT_EQ(log.count("xdr_u_long() serialize fail"), 1);
}

TEST(XdrTexts, StringsAndByteArraysCarryTheirLengthTwice)
{
    EXPECT_EQ(hexGroups(encode(TextString("hello"))), "00000005 00000005 68656c6c 6f000000");
    EXPECT_EQ(hexGroups(encode(TextString())), "00000000 00000000");
    const TextString empty = decode<TextString>(fromHex("00000000 00000000"), "was here");
    EXPECT_EQ(empty.rep(), TextString::emptyString().rep());

    const char one = 'x';
    EXPECT_EQ(hexGroups(encode(SeqOf<char>(&one, 1))), "00000001 00000001 78000000");
    const char five[] = {'h', 0, 'l', 'l', 'o'};
    const SeqOf<char> bytes = roundTrip(SeqOf<char>(five, 5));
    ASSERT_EQ(bytes.length(), 5);
    EXPECT_EQ(std::memcmp(bytes.elements(), five, 5), 0);
    EXPECT_EQ(roundTrip(SeqOf<char>()).length(), 0);

    const unsigned char abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(hexGroups(encode(SeqOf<unsigned char>(abc, 3))),
              "00000003 00000061 00000062 00000063");
    expectRoundTrips(SeqOf<unsigned char>(abc, 3));
    EXPECT_EQ(encode(SeqOf<unsigned char>()).size(), 4u);
}

TEST(XdrTimes, TimesRangesAndDataTimesFollowTheirFlags)
{
    expectRoundTrips(AbsTime(-86400), TimeRange(AbsTime(-100), AbsTime(50)));
    EXPECT_EQ(hexGroups(encode(AbsTime(1700000000))), "6553f100");
    EXPECT_EQ(hexGroups(encode(TimeRange(AbsTime(-100), AbsTime(50)))),
              "00000001 ffffff9c 00000032");
    // A clear flag gives the empty range whatever the ends say.
    EXPECT_EQ(decode<TimeRange>(fromHex("00000000 00000005 00000009")), TimeRange());

    const AbsTime t(1700000000);
    const DataTime obs(t);
    EXPECT_EQ(hexGroups(encode(obs)), "00000300 6553f100");
    const DataTime back = roundTrip(obs);
    EXPECT_EQ(back.flags(), 0x300u);
    EXPECT_EQ(back.validPeriod(), TimeRange(t, t));
    EXPECT_EQ(back.secondTime(), t);

    DataTime fcst(t);
    fcst.setFcstPeriod(3600);
    EXPECT_EQ(hexGroups(encode(fcst)), "00000700 6553f100 00000e10");
    EXPECT_EQ(roundTrip(fcst).validPeriod(), TimeRange(t + 3600, t + 3600));

    const DataTime full = fullDataTime();
    EXPECT_EQ(encode(full).size(), 4u + 4 + 4 + 12 + 4 + 4);
    const DataTime got = roundTrip(full);
    EXPECT_EQ(got.flags(), full.flags());
    EXPECT_EQ(got, full);
    EXPECT_EQ(got.secondTime(), AbsTime(-1));
    EXPECT_EQ(got.key(), 0xfffffffful);
}

TEST(XdrTimes, ReaderKnowsTheOlderFormAndFillsWhatWasNotSent)
{
    // A first word above 0x3FFF is a reference time: period and range follow.
    const DataTime old = decode<DataTime>(fromHex("440ad9c8 00000e10 00000001 440ad9c8 440ae7d8"));
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

TEST(XdrBounds, TruncatedAndLyingBuffersAreRefusedWithoutReadingPastThem)
{
    const char five[] = "12345";
    const unsigned char three[] = {1, 2, 3};
    expectPrefixesRefused(-7, -7L, 2.5, TextString("hello"), SeqOf<char>(five, 5),
                          SeqOf<unsigned char>(three, 3), TimeRange(AbsTime(1), AbsTime(2)),
                          fullDataTime());
    // A null position passes through silently.
    {
        LogCapture log;
        int v = 3;
        EXPECT_EQ(xdrQuantize(v, nullptr, nullptr), nullptr);
        EXPECT_EQ(v, 3);
        EXPECT_TRUE(log.lines().empty());
    }

    // Counts beyond the bytes left; the inner string length is checked too.
    EXPECT_EQ(expectLieRefused<TextString>("7fffffff 7fffffff 61626364",
                                           "xdr_string() quantize failed with maxlen = ", "old")
                  .length(),
              0);
    expectLieRefused<TextString>("00000003 00001000 61626364",
                                 "xdr_string() quantize failed with maxlen = ");
    expectLieRefused<SeqOf<char>>("ffffffff ffffffff 61626364",
                                  "xdr_bytes() quantize failed with maxlen = ");
    expectLieRefused<SeqOf<unsigned char>>("7fffffff 00000061", "xdr_u_char() quantize fail");
    {
        // A negative count gives an empty sequence, as the sequence has it.
        LogCapture log;
        const unsigned char one = 1;
        EXPECT_EQ(decode(fromHex("ffffffff"), SeqOf<unsigned char>(&one, 1)).length(), 0);
        EXPECT_EQ(log.count("negative argument to SeqOf.setLength"), 1);
    }
    // A leading count of 0 allows 32 characters: a string of exactly 32
    // fills the decode buffer, and its terminator still fits.
    const std::string text32(32, 'q');
    EXPECT_EQ(decode<TextString>(fromHex("00000000 00000020") + text32).c_str(), text32);
}

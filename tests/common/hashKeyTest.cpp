#include "hashKey.h"

#include "TextString.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

TEST(TextHash, TableComesFromOurOwnCopyOfTheDefaultRandomSequence)
{
    std::vector<int> ours(1000);
    defaultRandomSequence(ours.data(), 1000);
    srand(1);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(ours[i], rand()) << "number " << i;

    unsigned char expected[256];
    for (int i = 0; i < 256; ++i)
        expected[i] = static_cast<unsigned char>(i);
    srand(1);
    for (int i = 0; i < 256; ++i)
        std::swap(expected[i], expected[rand() & 255]);
    srand(12345); // whoever else uses rand() changes nothing
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(pearsonTable()[i], expected[i]) << "entry " << i;
}

TEST(TextHash, PinnedValuesAndTheTwoChains)
{
    EXPECT_EQ(hashKey(TextString("")), 0u);
    EXPECT_EQ(hashKey(TextString("a")), 768u);
    EXPECT_EQ(hashKey(TextString("abc")), 27134u);
    EXPECT_EQ(hashKey(TextString("SocketConnection.namedTargets")), 22493u);
    EXPECT_EQ(hashKey(TextString("\xff")), pearsonTable()[255] * 256u);

    // Characters at even positions feed the high byte, odd ones the low.
    unsigned two = hashKey(TextString("kx"));
    unsigned three = hashKey(TextString("kxy"));
    EXPECT_EQ(hashKey(TextString("k")) >> 8, two >> 8);
    EXPECT_EQ(two & 255u, three & 255u);
    // The text counts up to its first NUL, whatever its stored length.
    EXPECT_EQ(hashKey(TextString("ab\0cd", 5)), hashKey(TextString("ab")));
}

TEST(IntegerHashAndBuckets, KeysHashToTheirLow32BitsAndBucketsArePrimes)
{
    EXPECT_EQ(hashKey(-1) % 53u, 41u);
    EXPECT_EQ(hashKey(-2L), 4294967294u);
    EXPECT_EQ(hashKey(static_cast<long>(0x100000005LL)), 5u);
    EXPECT_EQ(hashKey(static_cast<unsigned long>(0xFFFFFFFFFULL)), 0xFFFFFFFFu);

    EXPECT_FALSE(isPrime(9));
    EXPECT_FALSE(isPrime(221));
    EXPECT_TRUE(isPrime(1));
    EXPECT_TRUE(isPrime(2147483647));
    EXPECT_EQ(primeBucketCount(51), 53);
    EXPECT_EQ(primeBucketCount(0), 3);
    std::vector<int> counts{primeBucketCount(50)};
    for (int i = 0; i < 4; ++i)
        counts.push_back(primeBucketCount(2 * counts.back()));
    EXPECT_EQ(counts, (std::vector<int>{53, 109, 223, 449, 907}));
}

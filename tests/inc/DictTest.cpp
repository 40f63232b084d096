#include "Dict.h"

#include "LogCapture.h"
#include "SeqOf.h"
#include "TextString.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

template <class K, class V>
std::vector<K> keysInOrder(const Dict<K, V>& d)
{
    std::vector<K> keys;
    for (int i = 0; i < d.count(); ++i)
        keys.push_back(d.key(i));
    return keys;
}

} // namespace

TEST(DictTest, GrowsAtFourEntriesPerBucketAndNeverShrinks)
{
    Dict<int, int> d;
    std::vector<std::pair<int, int>> growth;  // (entries held, new bucket count)
    for (int k = 0; k < 436; ++k) {
        const int before = d.bucketCount();
        d.insert(k, -k);
        if (d.bucketCount() != before)
            growth.push_back({k + 1, d.bucketCount()});
    }
    EXPECT_EQ(growth, (std::vector<std::pair<int, int>>{{212, 109}, {436, 223}}));
    for (int k = 0; k < 436; ++k) {
        int value = 1;
        ASSERT_TRUE(d.find(k, nullptr, &value) && value == -k) << k;
    }
    for (int k = 0; k < 430; ++k)
        d.remove(k);
    EXPECT_EQ(d.count(), 6);
    EXPECT_EQ(d.bucketCount(), 223);
}

TEST(DictTest, UnsortedOrderRunsFromTheHighestBucketAndTheNewestEntry)
{
    Dict<int, int> d;
    for (int k : {0, 53, 1, -1})
        d.insert(k, 0);
    // -1 lands in bucket (2^32 - 1) mod 53 = 41.
    EXPECT_EQ(keysInOrder(d), (std::vector<int>{-1, 1, 53, 0}));
    d.sort();
    EXPECT_EQ(keysInOrder(d), (std::vector<int>{-1, 0, 1, 53}));

    // Growth relinks the old chains from the last bucket down, each node to
    // the head of its new chain: of 102 and 211 (bucket 102 of 109), 102
    // came from the lower old bucket and so leads.
    Dict<int, int> grown;
    for (int k = 0; k < 212; ++k)
        grown.insert(k, k);
    std::vector<int> keys = keysInOrder(grown);
    keys.resize(8);
    EXPECT_EQ(keys, (std::vector<int>{108, 107, 106, 105, 104, 103, 102, 211}));
}

TEST(DictTest, SortedKeysAscendByTheKeyOrder)
{
    Dict<TextString, int> d;
    for (const char* w : {"apple", "Zebra", "\xC3\xA9t\xC3\xA9", "mango", "Apple", "ap", ""})
        d.insert(w, 1);
    d.sort();
    EXPECT_EQ(keysInOrder(d), (std::vector<TextString>{"\xC3\xA9t\xC3\xA9", "", "Apple", "Zebra",
                                                       "ap", "apple", "mango"}));
    Dict<TextString, int> copy(d);
    EXPECT_TRUE(copy.isSorted());
    EXPECT_EQ(keysInOrder(copy), keysInOrder(d));
    Dict<TextString, int>& alias = d;
    d = alias;
    EXPECT_EQ(d.count(), 7);

    std::mt19937 random(7);
    Dict<int, int> numbers;
    std::set<int> expected;
    for (int i = 0; i < 3000; ++i) {
        int k = static_cast<int>(random() % 20001) - 10000;
        numbers.insert(k, i);
        expected.insert(k);
    }
    numbers.sort();
    EXPECT_EQ(keysInOrder(numbers), std::vector<int>(expected.begin(), expected.end()));
}

TEST(DictTest, PositionsAndTheIndexAcrossChanges)
{
    LogCapture log;
    Dict<TextString, SeqOf<int>> d;
    EXPECT_FALSE(d.validIndex(0));
    EXPECT_STREQ(d.key(0).c_str(), "");
    EXPECT_EQ(d.value(-1).length(), 0);
    const std::string invalid = "BUG: invalid index in Dict<K,V>::validIndex()";
    EXPECT_EQ(log.lines(), (std::vector<std::string>{invalid, invalid, invalid}));
    log.clear();

    SeqOf<int> list(3);
    d.insert("a", list);
    d.insert("b", list);
    EXPECT_EQ(d.value(0).rep(), list.rep());
    std::vector<TextString> before = keysInOrder(d);
    d.insert("b", SeqOf<int>(4));
    d.remove("absent");
    EXPECT_TRUE(d.hasIndex());
    EXPECT_EQ(keysInOrder(d), before);
    d.remove("a");
    EXPECT_FALSE(d.hasIndex());
    EXPECT_EQ(d.value(0)[0], 4);
    EXPECT_EQ(log.text(), "");
}

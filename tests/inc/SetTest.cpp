#include "Set.h"

#include "LogTail.h"
#include "TempTree.h"
#include "TextString.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

template <class K>
std::vector<K> keysInOrder(const Set<K>& s)
{
    std::vector<K> keys;
    for (int i = 0; i < s.count(); ++i)
        keys.push_back(s[i]);
    return keys;
}

class SetTest : public ::testing::Test {
protected:
    TempTree tree;
    LogCapture log;
};

TEST_F(SetTest, GrowsAtOneKeyPerBucket)
{
    Set<int> s;
    for (int k = 0; k < 52; ++k)
        s.insert(k);
    EXPECT_EQ(s.bucketCount(), 53);
    s.insert(52);
    EXPECT_EQ(s.bucketCount(), 109);
    for (int k = 53; k < 109; ++k)
        s.insert(k);
    EXPECT_EQ(s.bucketCount(), 223);
    for (int k = 0; k < 109; ++k)
        ASSERT_TRUE(s.find(k));
    EXPECT_FALSE(s.find(109));
}

TEST_F(SetTest, SortedPositionZeroNeedsNoFullSort)
{
    Set<long> times;
    for (long t : {30, 10, 20})
        times.insert(t);
    times.sort();
    EXPECT_EQ(times[0], 10);
    EXPECT_FALSE(times.isIndexSorted());
    EXPECT_EQ(times[1], 20);
    EXPECT_TRUE(times.isIndexSorted());
    EXPECT_EQ(times[2], 30);

    times.insert(5);
    times.remove(20);
    EXPECT_EQ(keysInOrder(times), (std::vector<long>{5, 10, 30}));
    Set<long> copy(times);
    EXPECT_TRUE(copy.isSorted());
    EXPECT_EQ(keysInOrder(copy), keysInOrder(times));
}

TEST_F(SetTest, KeysAreStoredOnceAndBadPositionsYieldTheDefault)
{
    Set<TextString> s;
    TextString first("id");
    s.insert(first);
    s.insert(TextString("id"));
    EXPECT_EQ(s.count(), 1);
    EXPECT_EQ(s[0].rep(), first.rep());
    EXPECT_STREQ(s[1].c_str(), "");
    EXPECT_STREQ(s[-1].c_str(), "");
    EXPECT_TRUE(loggedExactly(log, {"invalid index in Dict<K,V>::validIndex()",
                                    "invalid index in Dict<K,V>::validIndex()"}));
    EXPECT_TRUE(s.remove("id"));
    EXPECT_FALSE(s.remove("id"));
    EXPECT_EQ(first.refCount(), 1);
}

} // namespace

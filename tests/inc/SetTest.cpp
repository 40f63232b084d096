#include "Set.h"

#include "LogCapture.h"
#include "TextString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(SetTest, GrowsAtOneKeyPerBucketAndSortsOnRequest)
{
    Set<long> s;
    for (long k = 108; k >= 57; --k)
        s.insert(k);
    EXPECT_EQ(s.bucketCount(), 53);
    s.insert(56);
    EXPECT_EQ(s.bucketCount(), 109);
    for (long k = 55; k >= 0; --k)
        s.insert(k);
    EXPECT_EQ(s.bucketCount(), 223);
    EXPECT_FALSE(s.find(109));

    s.sort();
    s.remove(0);
    const Set<long> copy(s);  // a copy keeps the order
    for (int i = 0; i < 108; ++i)
        ASSERT_TRUE(s[i] == i + 1 && copy[i] == i + 1) << i;
}

TEST(SetTest, KeysAreStoredOnceAndBadPositionsYieldTheDefault)
{
    LogCapture log;
    Set<TextString> s;
    TextString first("id");
    s.insert(first);
    s.insert(TextString("id"));
    EXPECT_EQ(s.count(), 1);
    EXPECT_EQ(s[0].rep(), first.rep());
    EXPECT_STREQ(s[1].c_str(), "");
    EXPECT_STREQ(s[-1].c_str(), "");
    const std::string invalid = "BUG: invalid index in Dict<K,V>::validIndex()";
    EXPECT_EQ(log.lines(), (std::vector<std::string>{invalid, invalid}));
    EXPECT_TRUE(s.remove("id"));
    EXPECT_FALSE(s.remove("id"));
    EXPECT_EQ(first.refCount(), 1);
}

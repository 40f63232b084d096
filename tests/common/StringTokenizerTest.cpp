#include "StringTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Tokens = std::vector<std::string>;

// Every token nextToken gives until it answers with the empty text.
Tokens drain(StringTokenizer& tokenizer)
{
    Tokens tokens;
    for (TextString t = tokenizer.nextToken(); t.length() > 0; t = tokenizer.nextToken())
        tokens.push_back(t.c_str());
    return tokens;
}

} // namespace

TEST(StringTokenizer, SkipsOrReturnsDelimiterRunsAndConsumesTheText)
{
    StringTokenizer blanks("  a b\tc ");
    EXPECT_EQ(blanks.countTokens(), 3);
    EXPECT_EQ(drain(blanks), (Tokens{"a", "b", "c"}));
    EXPECT_STREQ(blanks.remainingText().c_str(), " ");  // left as it was

    StringTokenizer fields("||12001|TEMPERATURE", "|", false);
    EXPECT_STREQ(fields.nextToken().c_str(), "12001");
    EXPECT_STREQ(fields.remainingText().c_str(), "|TEMPERATURE");

    StringTokenizer returned("a,,b", ",", true);
    EXPECT_EQ(returned.countTokens(), 3);
    EXPECT_EQ(drain(returned), (Tokens{"a", ",,", "b"}));
    StringTokenizer skipped(" \t ");
    EXPECT_EQ(skipped.countTokens(), 0);
    EXPECT_EQ(skipped.nextToken().length(), 0);
    StringTokenizer onlyDelimiters(";;;", ";", true);
    EXPECT_EQ(onlyDelimiters.countTokens(), 1);
    EXPECT_STREQ(onlyDelimiters.nextToken().c_str(), ";;;");
    EXPECT_EQ(onlyDelimiters.remainingText().length(), 0);
}

TEST(StringTokenizer, BoundsStayInsideTheText)
{
    StringTokenizer tokenizer("ab  cd");
    int start = -1, end = -1;
    EXPECT_TRUE(tokenizer.tokenBounds(2, start, end));
    EXPECT_EQ(start * 10 + end, 45);
    EXPECT_FALSE(tokenizer.tokenBounds(6, start, end));
    EXPECT_FALSE(tokenizer.tokenBounds(-1, start, end));
    EXPECT_EQ(tokenizer.runEnd(2), 4);
    EXPECT_EQ(tokenizer.runEnd(-3), -1);
    EXPECT_TRUE(tokenizer.isDelimiter('\0'));
}

#include "TextString.h"

#include "../inc/LogTail.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

namespace {

std::string indexError(int size, int index)
{
    return "index out of range in TextString::checkIndex()  stringSize=" + std::to_string(size) +
           " user-index=" + std::to_string(index);
}

class TextStringTest : public ::testing::Test {
protected:
    TempTree tree;
    LogCapture log;
};

TEST_F(TextStringTest, ConstructionSharesTheEmptyValueAndRefusesNegativeLengths)
{
    const void* empty = TextString::emptyString().rep();
    EXPECT_EQ(TextString().rep(), empty);
    EXPECT_EQ(TextString("").rep(), empty);
    EXPECT_EQ(TextString(nullptr, 3).rep(), empty);
    EXPECT_NE(TextString("x", 0).rep(), empty);

    TextString padded("ab", 4);
    EXPECT_EQ(padded.length(), 4);
    EXPECT_STREQ(padded.c_str(), "ab");

    TextString negative("abc", -2);
    EXPECT_STREQ(negative.c_str(), "");
    EXPECT_TRUE(loggedExactly(log, {indexError(0, -2)}));
}

TEST_F(TextStringTest, AppendingReservesATenthAndAtLeastTenMore)
{
    TextString five;
    five += "abcde";
    EXPECT_EQ(five.capacity(), 15u);
    const void* rep = five.rep();
    five += "fghij";
    five += 'k';
    EXPECT_EQ(five.rep(), rep);
    EXPECT_STREQ(five.c_str(), "abcdefghijk");

    TextString longer;
    longer += std::string(200, 'x').c_str();
    EXPECT_EQ(longer.capacity(), 220u);

    // A shared text is never appended to in place.
    TextString shared(five);
    five += "!";
    EXPECT_STREQ(shared.c_str(), "abcdefghijk");
    TextString twice("xy");
    twice += twice;
    EXPECT_STREQ((twice + TextString("z")).c_str(), "xyxyz");
}

TEST_F(TextStringTest, WritableAccessMakesEveryLaterCopyDeep)
{
    TextString s("abc");
    TextString t(s);
    s[0] = 'x';
    EXPECT_STREQ(t.c_str(), "abc");
    TextString u(s);
    EXPECT_NE(u.rep(), s.rep());
    s[1] = 'y';
    EXPECT_STREQ(u.c_str(), "xbc");
    u = s;
    EXPECT_NE(u.rep(), s.rep());

    // Reading a constant string, and a bad position, mark nothing.
    EXPECT_EQ(std::as_const(t)[1], 'b');
    EXPECT_EQ(t[7], '\0');
    EXPECT_EQ(TextString(t).rep(), t.rep());
    EXPECT_TRUE(loggedExactly(log, {indexError(3, 7)}));

    t = '\0';
    EXPECT_EQ(t.rep(), TextString::emptyString().rep());
}

TEST_F(TextStringTest, PartsOfTheText)
{
    TextString abc("abc");
    EXPECT_STREQ(abc.subString(7, 3).c_str(), "");
    EXPECT_STREQ(abc.subString(1, -1).c_str(), "bc");
    EXPECT_EQ(abc.right(10).rep(), abc.rep());
    EXPECT_STREQ(abc.right(2).c_str(), "bc");
    EXPECT_TRUE(loggedExactly(log, {indexError(3, 7)}));
}

TEST_F(TextStringTest, SearchesForwardAndBackward)
{
    TextString s("abcabc");
    int pos = -1;
    EXPECT_TRUE(s.indexOfString("abc", pos, 5, TextString::Backward));
    EXPECT_EQ(pos, 3);
    EXPECT_TRUE(s.indexOfString("abc", pos, 2, TextString::Backward));
    EXPECT_EQ(pos, 0);
    EXPECT_TRUE(s.indexOfChar('a', pos, 5, TextString::Backward));
    EXPECT_EQ(pos, 3);
    EXPECT_TRUE(s.indexOfChar('a', pos, 1, TextString::Forward));
    EXPECT_EQ(pos, 3);
    EXPECT_TRUE(TextString("abcd").indexOfString("ab", pos, 3, TextString::Backward));
    EXPECT_EQ(pos, 0);
    // A backward match must end at or before the start position.
    EXPECT_FALSE(s.indexOfString("abc", pos, 1, TextString::Backward));
    EXPECT_FALSE(TextString("abc").indexOfString("x", pos, 2, TextString::Backward));
    EXPECT_EQ(pos, 0);
    EXPECT_EQ(strrstr("abcabc", "abcabcd"), nullptr);
    EXPECT_TRUE(loggedExactly(log, {}));

    EXPECT_FALSE(TextString().indexOfChar('a', pos, 0));
    EXPECT_TRUE(TextString("abc").indexOfChar('c', pos, 9, TextString::Backward));
    EXPECT_EQ(pos, 2);
    EXPECT_FALSE(s.indexOfChar('a', pos, 0, static_cast<TextString::SearchDir>(2)));
    EXPECT_TRUE(loggedExactly(log, {indexError(3, 9), "Unknown SearchDir specified"}));
}

TEST_F(TextStringTest, ChangesInPlaceCopyASharedText)
{
    TextString abc("abc");
    abc.insert(3, 'd');
    EXPECT_STREQ(abc.c_str(), "abcd");
    const void* rep = abc.rep();
    abc.insert(1, TextString("XY"));
    EXPECT_STREQ(abc.c_str(), "aXYbcd");
    EXPECT_EQ(abc.rep(), rep);
    TextString self("abc");
    self.insert(1, self);
    EXPECT_STREQ(self.c_str(), "aabcbc");

    TextString s("abcdef");
    TextString t(s);
    s.remove(1, 2);
    s.toUpper();
    EXPECT_STREQ(s.c_str(), "ADEF");
    s.remove(2, -1);
    EXPECT_STREQ(s.c_str(), "AD");
    EXPECT_STREQ(t.c_str(), "abcdef");

    TextString tab("\tx");
    tab.stripLeadingBlanks();
    EXPECT_STREQ(tab.c_str(), "\tx");
    TextString blanks("   ");
    blanks.stripTrailingBlanks();
    EXPECT_EQ(blanks.length(), 0);
    TextString padded("  ab  ");
    padded.stripLeadingBlanks();
    padded.stripTrailingBlanks();
    EXPECT_STREQ(padded.c_str(), "ab");
    EXPECT_EQ(padded.length(), 2);
    EXPECT_TRUE(loggedExactly(log, {indexError(3, 3)}));
}

TEST_F(TextStringTest, OrderDecidesOnTheFirstByteAsSignedChar)
{
    EXPECT_TRUE(TextString("Zebra") < TextString("apple"));
    EXPECT_TRUE(TextString("\xC3\xA9t\xC3\xA9") < TextString("Zebra"));
    // Equal first bytes leave it to strcmp, which compares unsigned bytes.
    EXPECT_TRUE(TextString("a\xC3") > TextString("ab"));
    EXPECT_TRUE(TextString("abc") <= TextString("abc"));
    EXPECT_FALSE(TextString("abc") < TextString("abc"));
    EXPECT_TRUE(TextString("abc") != TextString("abd"));
    EXPECT_TRUE("abc" == TextString("abc"));
}

TEST_F(TextStringTest, StreamsWriteAndReadWords)
{
    std::ostringstream out;
    out << TextString("one") << '|';
    EXPECT_EQ(out.str(), "one|");

    std::istringstream words("   one two");
    EXPECT_STREQ(readWord(words).c_str(), "one");
    EXPECT_STREQ(readWord(words).c_str(), "two");
    EXPECT_STREQ(readWord(words).c_str(), "");

    std::string huge(600, 'w');
    huge[599] = 'z';
    std::istringstream longWord(huge + " tail");
    EXPECT_EQ(std::string(readWord(longWord).c_str()), huge);
}

} // namespace

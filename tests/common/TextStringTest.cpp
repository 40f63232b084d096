#include "TextString.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string indexError(int size, int index)
{
    return "BUG: index out of range in TextString::checkIndex()  stringSize=" +
           std::to_string(size) + " user-index=" + std::to_string(index);
}

} // namespace

TEST(TextStringTest, ConstructionSharesTheEmptyValueAndRefusesNegativeLengths)
{
    LogCapture log;
    const void* empty = TextString::emptyString().rep();
    EXPECT_EQ(TextString("").rep(), empty);
    EXPECT_EQ(TextString(nullptr, 3).rep(), empty);
    EXPECT_NE(TextString("x", 0).rep(), empty);
    TextString padded("ab", 4);
    EXPECT_EQ(padded.length(), 4);
    EXPECT_STREQ(padded.c_str(), "ab");
    EXPECT_STREQ(TextString("abc", -2).c_str(), "");

    const TextString abc("abc");
    EXPECT_STREQ(abc.subString(7, 3).c_str(), "");
    EXPECT_STREQ(abc.subString(1, -1).c_str(), "bc");
    EXPECT_EQ(abc.right(10).rep(), abc.rep());
    EXPECT_STREQ(abc.right(2).c_str(), "bc");
    EXPECT_EQ(log.lines(), (Lines{indexError(0, -2), indexError(3, 7)}));
}

TEST(TextStringTest, AppendingReservesATenthAndAtLeastTenMore)
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

TEST(TextStringTest, WritableAccessMakesEveryLaterCopyDeep)
{
    LogCapture log;
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
    t = '\0';
    EXPECT_EQ(t.rep(), TextString::emptyString().rep());
    EXPECT_EQ(log.lines(), Lines{indexError(3, 7)});
}

TEST(TextStringTest, SearchesForwardAndBackward)
{
    LogCapture log;
    TextString s("abcabc");
    int pos = -1;
    EXPECT_TRUE(s.indexOfString("abc", pos, 5, TextString::Backward) && pos == 3);
    EXPECT_TRUE(s.indexOfString("abc", pos, 2, TextString::Backward) && pos == 0);
    EXPECT_TRUE(TextString("abcd").indexOfString("ab", pos, 3, TextString::Backward) && pos == 0);
    EXPECT_TRUE(s.indexOfChar('a', pos, 1, TextString::Forward) && pos == 3);
    // A backward match must end at or before the start position.
    EXPECT_FALSE(s.indexOfString("abc", pos, 1, TextString::Backward));
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(strrstr("abcabc", "abcabcd"), nullptr);
    EXPECT_EQ(log.text(), "");

    EXPECT_FALSE(TextString().indexOfChar('a', pos, 0));
    EXPECT_TRUE(TextString("abc").indexOfChar('c', pos, 9, TextString::Backward) && pos == 2);
    EXPECT_FALSE(s.indexOfChar('a', pos, 0, static_cast<TextString::SearchDir>(2)));
    EXPECT_EQ(log.lines(), (Lines{indexError(3, 9), "BUG: Unknown SearchDir specified"}));
}

TEST(TextStringTest, ChangesInPlaceCopyASharedText)
{
    LogCapture log;
    TextString abc("abc");
    abc.insert(3, 'd');
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
    TextString padded("  ab  ");
    padded.stripLeadingBlanks();
    padded.stripTrailingBlanks();
    EXPECT_TRUE(padded == "ab" && padded.length() == 2);
    EXPECT_EQ(log.lines(), Lines{indexError(3, 3)});
}

TEST(TextStringTest, OrderAndWords)
{
    EXPECT_TRUE(TextString("Zebra") < TextString("apple"));
    // The first byte compares as a signed char; equal first bytes leave it
    // to strcmp, which compares unsigned bytes.
    EXPECT_TRUE(TextString("\xC3\xA9t\xC3\xA9") < TextString("Zebra"));
    EXPECT_TRUE(TextString("a\xC3") > TextString("ab"));
    EXPECT_FALSE(TextString("abc") < TextString("abc"));

    std::string huge(600, 'w');
    huge[599] = 'z';
    std::istringstream words("   one " + huge + " tail");
    EXPECT_STREQ(readWord(words).c_str(), "one");
    EXPECT_EQ(std::string(readWord(words).c_str()), huge);
    EXPECT_STREQ(readWord(words).c_str(), "tail");
    EXPECT_STREQ(readWord(words).c_str(), "");
}

// The socket layer's sending threads make and drop empty texts (in log
// messages) while the main thread does: the shared empty value is never
// counted, so no thread writes it and none can free it under another.
TEST(TextStringThreads, TheSharedEmptyTextSurvivesManyThreads)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200000; ++i) {
                TextString a;
                TextString b(a);
                TextString c("");
                b = c;
            }
        });
    for (std::thread& t : threads)
        t.join();
    TextString after;
    EXPECT_EQ(after.rep(), TextString::emptyString().rep());
    EXPECT_STREQ(after.c_str(), "");
    after += "x";
    EXPECT_STREQ(TextString::emptyString().c_str(), "");
}

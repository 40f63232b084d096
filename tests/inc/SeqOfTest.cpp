#include "SeqOf.h"

#include "LogCapture.h"
#include "SeqOfPtr.h"
#include "TextString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string badIndex(int i, int size)
{
    return "BUG: index [" + std::to_string(i) + "] out of range in SeqOf.checkIndex, size=" +
           std::to_string(size);
}

std::string badIndices(const char* operation, int from, int to, int size)
{
    return "BUG: bad indices [" + std::to_string(from) + "," + std::to_string(to) +
           "] in SeqOf." + operation + ", size=" + std::to_string(size);
}

SeqOf<char> chars(const char* text)
{
    return SeqOf<char>(text, static_cast<int>(strlen(text)));
}

std::string text(const SeqOf<char>& s)
{
    return std::string(s.elements() ? s.elements() : "", static_cast<size_t>(s.length()));
}

} // namespace

TEST(SeqOfTest, CopiesShareUntilAWriteAndWritableAccessMakesLaterCopiesDeep)
{
    SeqOf<char> s = chars("abc");
    SeqOf<char> t(s);
    EXPECT_EQ(t.rep(), s.rep());
    s[0] = 'x';
    EXPECT_EQ(text(t), "abc");
    SeqOf<char> u(s);
    EXPECT_NE(u.rep(), s.rep());
    s[1] = 'y';
    EXPECT_EQ(text(u), "xbc");

    SeqOf<char> raw(t);
    raw.elements()[0] = 'r';
    EXPECT_EQ(text(t), "abc");
    EXPECT_FALSE(raw.isShareable());

    // setLength to the same length copies nothing.
    SeqOf<char> same(t);
    same.setLength(3);
    EXPECT_EQ(same.rep(), t.rep());
}

TEST(SeqOfTest, AppendGrowsByATenthAndKeepsItsOwnElementAcrossTheGrowth)
{
    SeqOf<int> s;
    std::vector<int> capacities;
    for (int i = 0; i < 133; ++i) {
        s.append(i);
        if (capacities.empty() || capacities.back() != s.capacity())
            capacities.push_back(s.capacity());
    }
    EXPECT_EQ(capacities,
              (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 121, 133}));
    EXPECT_EQ(std::as_const(s)[132], 132);

    SeqOf<TextString> texts;
    for (int i = 0; i < 10; ++i)
        texts.append(TextString(std::to_string(i).c_str()));
    texts.append(std::as_const(texts)[0]);
    EXPECT_STREQ(std::as_const(texts)[10].c_str(), "0");
}

TEST(SeqOfTest, BadPositionsAreLoggedAndAnEmptySequenceAnswersADefault)
{
    LogCapture log;
    SeqOf<char> s = chars("abc");
    EXPECT_EQ(std::as_const(s)[5], 'a');
    SeqOf<char> shared(s);
    s[-1] = 'z';
    EXPECT_EQ(text(shared), "abc");
    EXPECT_FALSE(s.isShareable());

    SeqOf<TextString> none;
    EXPECT_STREQ(std::as_const(none)[0].c_str(), "");
    none[0] = "scribble";
    EXPECT_STREQ(none[1].c_str(), "");
    SeqOf<int> shortened(5);
    shortened.setLength(0);
    EXPECT_EQ(std::as_const(shortened)[0], 0);
    EXPECT_EQ(log.lines(), (Lines{badIndex(5, 3), badIndex(-1, 3), badIndex(0, 0), badIndex(0, 0),
                                  badIndex(1, 0), badIndex(0, 0)}));
}

TEST(SeqOfTest, ReplaceSpansBetweenTwoPositions)
{
    LogCapture log;
    struct Case {
        int a, b;
        const char *source, *expected;
    };
    for (const Case& c : {Case{1, 3, "xyz", "abxyzd"}, Case{-1, 0, "x", "xabcd"},
                          Case{3, 4, "x", "abcdx"}, Case{0, 3, "", "ad"}}) {
        SeqOf<char> s = chars("abcd");
        SeqOf<char> before(s);
        s.replace(c.a, c.b, chars(c.source));
        EXPECT_EQ(text(s), c.expected) << c.a << "," << c.b;
        EXPECT_EQ(text(before), "abcd");
    }

    SeqOf<char> s = chars("ab");
    s.replace(-1, 0, s);
    EXPECT_EQ(text(s), "abab");
    SeqOf<TextString> marked(TextString("one"));
    marked[0] = TextString("uno");
    marked.replace(0, 1, marked);
    EXPECT_EQ(marked.length(), 2);
    EXPECT_STREQ(std::as_const(marked)[1].c_str(), "uno");
    EXPECT_EQ(log.text(), "");

    // Bounds reaching outside the elements are refused.
    s.replace(5, 6, chars("x"));
    s.replace(1, 1, chars("x"));
    EXPECT_EQ(text(s), "abab");
    EXPECT_EQ(log.lines(), (Lines{badIndices("replace", 5, 6, 4), badIndices("replace", 1, 1, 4)}));
}

TEST(SeqOfTest, RemoveAndExtract)
{
    LogCapture log;
    SeqOf<char> s = chars("abcd");
    s.remove(1, 2);
    EXPECT_EQ(text(s), "ad");
    EXPECT_EQ(text(chars("abcd").extract(1, 2)), "bc");
    EXPECT_EQ(log.text(), "");

    // Reversed bounds: logged, and the one element at the first bound.
    s = chars("abcd");
    s.remove(2, 1);
    EXPECT_EQ(text(s), "abd");
    EXPECT_EQ(text(chars("abcd").extract(2, 1)), "c");
    // Bounds still reversed once the bad one is replaced by 0: nothing.
    SeqOf<char> six = chars("abcdef");
    six.remove(5, 9);
    EXPECT_EQ(text(six), "abcdef");
    EXPECT_EQ(six.extract(5, 9).length(), 0);
    SeqOf<int> empty;
    EXPECT_EQ(empty.extract(0, 0).length(), 0);
    empty.remove(0, empty.length() - 1);
    EXPECT_EQ(empty.length(), 0);
    EXPECT_EQ(log.lines(), (Lines{badIndices("replace", 2, 1, 4), badIndices("extract", 2, 1, 4),
                                  badIndex(9, 6), badIndex(9, 6), badIndex(0, 0), badIndex(0, 0),
                                  badIndices("replace", 0, -1, 0), badIndex(0, 0), badIndex(0, 0),
                                  "BUG: negative argument to SeqOf.setLength"}));
}

TEST(SeqOfTest, FindConcatenationStreamingAndPointers)
{
    SeqOf<char> s = chars("aba");
    EXPECT_EQ(s.find('a', 1), 2);
    EXPECT_EQ(s.find('a', 3), -1);
    EXPECT_EQ(s.find('a', -1), -1);
    EXPECT_FALSE(chars("ab") == chars("ac"));
    EXPECT_EQ(text(chars("ab") + chars("cde")), "abcde");
    EXPECT_EQ(text(chars("ab") + SeqOf<char>()), "ab");

    const unsigned char bytes[] = {'a', 'b', 'c'};
    std::ostringstream out;
    out << SeqOf<unsigned char>(bytes, 3) << '|' << SeqOf<unsigned char>();
    EXPECT_EQ(out.str(), "[a, b, c ]|[ ]");

    // Pointer sequences never own (or delete) their pointees.
    int a = 1, b = 2;
    SeqOfPtr<int*> ptrs;
    ptrs.append(&a);
    ptrs.append(&b);
    EXPECT_EQ(ptrs.find(&b), 1);
    ptrs.remove(0, 0);
    ptrs.setLength(3);
    EXPECT_TRUE(ptrs[0] == &b && ptrs[2] == nullptr);
}
